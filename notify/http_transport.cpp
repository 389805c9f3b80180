#include "notify/http_transport.h"

#include <algorithm>
#include <atomic>

#include "notify/http_transport_test_seam.h"
#include "platform/ascii.h"
#include "platform/whole_number.h"

namespace vantrel {

namespace {
std::atomic<int> g_timeout_override{0};
}

namespace testing_seam {
void SetHttpPhaseTimeoutMs(int ms) { g_timeout_override = ms; }
}  // namespace testing_seam

int HttpPhaseTimeoutMs() {
  const int v = g_timeout_override.load();
  return v > 0 ? v : 120000;
}

std::string AttemptUrl(const HttpAttempt& a) {
  return std::string(a.secure ? "https://" : "http://") + a.host + ":" + std::to_string(a.port) + a.target;
}

bool AppendAnswerBody(HttpAnswer& answer, const char* data, std::size_t size) {
  std::string& body = answer.body;
  const bool fits = size <= kMaxAnswerBody - body.size();
  const std::size_t take = fits ? size : kMaxAnswerBody - body.size();
  // Grows by doubling as usual, but never past the limit, so that a body cut
  // there holds no more memory than the limit.
  if (body.size() + take > body.capacity())
    body.reserve(std::min(std::max(body.capacity() * 2, body.size() + take), kMaxAnswerBody));
  body.append(data, take);
  if (!fits) answer.body_cut = true;
  return fits;
}

int ParseStatusCode(std::string_view digits) {
  if (digits.size() != 3) return 0;
  return static_cast<int>(WholeNumber<unsigned>(digits).value_or(0));
}

void AddHeaderLine(HttpHeaders& headers, const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  headers.emplace_back(line.substr(0, colon), TrimLeft(std::string_view(line).substr(colon + 1)));
}

String FormatCodeText(long code, const std::string& text_utf8) {
  return u"(" + IntToStr(code) + u") " + FromUtf8(TrimRight(text_utf8, "\r\n "));
}

}  // namespace vantrel
