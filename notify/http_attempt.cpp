#include "notify/http_attempt.h"

#include "platform/ascii.h"

namespace vantrel {

std::string AttemptUrl(const HttpAttempt& a) {
  return std::string(a.secure ? "https://" : "http://") + a.host + ":" + std::to_string(a.port) + a.target;
}

String FormatCodeText(long code, const std::string& text_utf8) {
  return u"(" + IntToStr(code) + u") " + FromUtf8(TrimRight(text_utf8, "\r\n "));
}

}  // namespace vantrel
