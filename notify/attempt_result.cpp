#include "notify/attempt_result.h"

#include <cstdint>

namespace vantrel {

namespace {

// Numbers as 8 bytes, little-endian; texts as their length, then their bytes.
void PutNumber(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
}

void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out += text;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool Number(std::uint64_t& value) {
    if (rest_.size() < 8) return false;
    value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(rest_[i]);
    rest_.remove_prefix(8);
    return true;
  }
  bool Text(std::string& text) {
    std::uint64_t size = 0;
    if (!Number(size) || size > rest_.size()) return false;
    text.assign(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return true;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

constexpr char kAnswered = 'A';
constexpr char kFailed = 'F';

}  // namespace

std::string EncodeAttemptResult(const AttemptResult& result) {
  std::string out;
  if (result.answered) {
    const HttpAnswer& a = result.answer;
    out += kAnswered;
    PutNumber(out, static_cast<std::uint64_t>(a.status));
    PutText(out, a.reason);
    PutNumber(out, a.headers.size());
    for (const auto& [name, value] : a.headers) {
      PutText(out, name);
      PutText(out, value);
    }
    PutText(out, a.body);
    PutNumber(out, a.body_cut ? 1 : 0);
  } else {
    out += kFailed;
    PutNumber(out, static_cast<std::uint64_t>(result.failure.kind));
    PutText(out, ToUtf8(result.failure.message));
  }
  return out;
}

bool DecodeAttemptResult(std::string_view bytes, AttemptResult& result) {
  result = AttemptResult();
  if (bytes.empty()) return false;
  const char tag = bytes[0];
  Reader in(bytes.substr(1));
  std::uint64_t number = 0;
  if (tag == kAnswered) {
    HttpAnswer& a = result.answer;
    if (!in.Number(number)) return false;
    a.status = static_cast<int>(number);
    std::uint64_t headers = 0;
    if (!in.Text(a.reason) || !in.Number(headers)) return false;
    for (std::uint64_t i = 0; i < headers; ++i) {
      std::string name, value;
      if (!in.Text(name) || !in.Text(value)) return false;
      a.headers.emplace_back(std::move(name), std::move(value));
    }
    if (!in.Text(a.body) || !in.Number(number)) return false;
    a.body_cut = number != 0;
    result.answered = true;
  } else if (tag == kFailed) {
    std::string message;
    if (!in.Number(number) || number > HttpFailure::kClientCertificate || !in.Text(message)) return false;
    result.failure.kind = static_cast<HttpFailure::Kind>(number);
    result.failure.message = FromUtf8(message);
  } else {
    return false;
  }
  return in.AtEnd();
}

}  // namespace vantrel
