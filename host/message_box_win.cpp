#include <windows.h>

#include "host/message_box.h"
#include "platform/wide_text.h"

namespace vantrel {

void ShowMessageBox(BoxKind kind, const String& text) {
  const bool error = kind == BoxKind::kError;
  MessageBoxW(nullptr, Wide(text), error ? L"Error" : L"Information",
              MB_OK | MB_TASKMODAL | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace vantrel
