#include <windows.h>

#include "host/own_console.h"

namespace vantrel {

void ReleaseOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace vantrel
