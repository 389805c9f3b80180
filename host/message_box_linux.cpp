#include <cstdio>

#include "host/message_box.h"

namespace vantrel {

void ShowMessageBox(BoxKind kind, const String& text) {
  std::fprintf(stderr, "%s\n%s\n", kind == BoxKind::kError ? "Error" : "Information", ToUtf8(text).c_str());
  std::fflush(stderr);
}

}  // namespace vantrel
