#include <windows.h>

#include "host/message_box.h"
#include "platform/wide_text.h"

namespace vantrel {

void ShowMessageBox(BoxKind kind, const String& text) {
  switch (kind) {
    case BoxKind::kError:
      MessageBoxW(nullptr, Wide(text), L"Error", MB_OK | MB_TASKMODAL | MB_ICONERROR);
      break;
    case BoxKind::kInformation:
      MessageBoxW(nullptr, Wide(text), L"Information", MB_OK | MB_TASKMODAL | MB_ICONINFORMATION);
      break;
    case BoxKind::kApplicationError:
      MessageBoxW(nullptr, Wide(text), L"Application Error", MB_OK | MB_TASKMODAL | MB_ICONSTOP);
      break;
  }
}

}  // namespace vantrel
