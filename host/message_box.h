// The modal boxes of a run with a person at the screen: the installer's
// results and a failure that ends the program.
#pragma once

#include "platform/text.h"

namespace vantrel {

enum class BoxKind { kError, kInformation, kApplicationError };

// Error: title "Error", error icon; information: title "Information";
// application error: title "Application Error", error icon. One OK button;
// returns when closed (Linux: the title then the text on standard error).
// Windows, where nobody sees the desktop (an installer's action run by
// msiexec): an entry of the Application log under the executable's name.
void ShowMessageBox(BoxKind kind, const String& text);

}  // namespace vantrel
