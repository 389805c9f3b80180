#include <windows.h>

#include "host/event_logger.h"
#include "host/message_box.h"
#include "host/visible_desktop_win.h"
#include "platform/process.h"
#include "platform/wide_text.h"

namespace vantrel {

void ShowMessageBox(BoxKind kind, const String& text) {
  // Where nobody could close a box, the text goes to the Application log
  // under the executable's name instead, and the run goes on.
  if (!DesktopIsVisible()) {
    EventLogger(ExecutableFileName())
        .LogMessage(text, kind == BoxKind::kInformation ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE);
    return;
  }
  switch (kind) {
    case BoxKind::kError: MessageBoxW(nullptr, Wide(text), L"Error", MB_OK | MB_TASKMODAL | MB_ICONERROR); break;
    case BoxKind::kInformation:
      MessageBoxW(nullptr, Wide(text), L"Information", MB_OK | MB_TASKMODAL | MB_ICONINFORMATION);
      break;
    case BoxKind::kApplicationError:
      MessageBoxW(nullptr, Wide(text), L"Application Error", MB_OK | MB_TASKMODAL | MB_ICONSTOP);
      break;
  }
}

}  // namespace vantrel
