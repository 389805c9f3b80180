#include "notify/answer_reading.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/whole_number.h"

namespace vantrel {

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

}  // namespace vantrel
