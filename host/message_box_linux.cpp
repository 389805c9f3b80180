#include <cstdio>

#include "host/message_box.h"

namespace vantrel {

namespace {

const char* TitleOf(BoxKind kind) {
  switch (kind) {
    case BoxKind::kError: return "Error";
    case BoxKind::kInformation: return "Information";
    case BoxKind::kApplicationError: return "Application Error";
  }
  return "";
}

}  // namespace

void ShowMessageBox(BoxKind kind, const String& text) {
  std::fprintf(stderr, "%s\n%s\n", TitleOf(kind), ToUtf8(text).c_str());
  std::fflush(stderr);
}

}  // namespace vantrel
