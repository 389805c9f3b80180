// The installer's modal result boxes.
#pragma once

#include "host/install.h"

namespace vantrel {

// Error: title "Error", error icon; information: title "Information". One
// OK button; returns when closed (Linux: the title then the text on stderr).
void ShowMessageBox(BoxKind kind, const String& text);

}  // namespace vantrel
