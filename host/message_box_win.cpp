#include <windows.h>

#include "host/message_box.h"

namespace vantrel {

void ShowMessageBox(BoxKind kind, const String& text) {
  const bool error = kind == BoxKind::kError;
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), error ? L"Error" : L"Information",
              MB_OK | MB_TASKMODAL | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace vantrel
