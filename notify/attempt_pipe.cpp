#include "notify/attempt_pipe.h"

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

void PutHeaders(std::string& out, const HttpHeaders& headers) {
  PutNumber(out, headers.size());
  for (const auto& [name, value] : headers) {
    PutText(out, name);
    PutText(out, value);
  }
}

void PutFacts(std::string& out, const CertificateFacts& f) {
  PutNumber(out, (f.seen ? 1u : 0u) | (f.unknown_authority ? 2u : 0u) | (f.wrong_name ? 4u : 0u) |
                     (f.bad_dates ? 8u : 0u) | (f.other_problem ? 16u : 0u));
  PutText(out, f.key_sha256);
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
  bool Facts(CertificateFacts& f) {
    std::uint64_t bits = 0;
    if (!Number(bits) || bits > 31 || !Text(f.key_sha256)) return false;
    f.seen = bits & 1;
    f.unknown_authority = bits & 2;
    f.wrong_name = bits & 4;
    f.bad_dates = bits & 8;
    f.other_problem = bits & 16;
    return true;
  }
  bool Headers(HttpHeaders& headers) {
    std::uint64_t count = 0;
    if (!Number(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::string name, value;
      if (!Text(name) || !Text(value)) return false;
      headers.emplace_back(std::move(name), std::move(value));
    }
    return true;
  }
  // The next byte, taken; 0 at the end.
  char Tag() {
    if (rest_.empty()) return 0;
    const char tag = rest_[0];
    rest_.remove_prefix(1);
    return tag;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

constexpr char kRequest = 'R';
constexpr char kHead = 'H';
constexpr char kAnswered = 'A';
constexpr char kFailed = 'F';

bool ReadHead(Reader& in, HttpAnswer& a) {
  std::uint64_t status = 0;
  if (!in.Number(status) || status > 999 || !in.Text(a.reason) || !in.Headers(a.headers)) return false;
  a.status = static_cast<int>(status);
  return true;
}

}  // namespace

std::string EncodeAttemptRequest(const AttemptRequest& request) {
  const HttpAttempt& a = request.attempt;
  std::string out(1, kRequest);
  PutText(out, a.method);
  PutNumber(out, a.secure ? 1 : 0);
  PutText(out, a.host);
  PutNumber(out, static_cast<std::uint64_t>(a.port));
  PutText(out, a.target);
  PutHeaders(out, a.headers);
  PutText(out, a.body);
  PutNumber(out, a.certificate.checks_on ? 1 : 0);
  PutText(out, a.certificate.accepted_key);
  PutNumber(out, static_cast<std::uint64_t>(a.timeout_ms));
  PutText(out, request.library);
  PutText(out, request.trusted_authorities);
  return out;
}

bool DecodeAttemptRequest(std::string_view bytes, AttemptRequest& request) {
  request = AttemptRequest();
  HttpAttempt& a = request.attempt;
  Reader in(bytes);
  std::uint64_t secure = 0, port = 0, verify = 0, timeout = 0;
  if (in.Tag() != kRequest || !in.Text(a.method) || !in.Number(secure) || !in.Text(a.host) || !in.Number(port) ||
      !in.Text(a.target) || !in.Headers(a.headers) || !in.Text(a.body) || !in.Number(verify) ||
      !in.Text(a.certificate.accepted_key) || !in.Number(timeout) || !in.Text(request.library) ||
      !in.Text(request.trusted_authorities) || port > 65535 || timeout > 0x7fffffff) {
    return false;
  }
  a.secure = secure != 0;
  a.port = static_cast<int>(port);
  a.certificate.checks_on = verify != 0;
  a.timeout_ms = static_cast<int>(timeout);
  return in.AtEnd();
}

std::string EncodeAnswerHead(const HttpAnswer& a) {
  std::string out(1, kHead);
  PutNumber(out, static_cast<std::uint64_t>(a.status));
  PutText(out, a.reason);
  PutHeaders(out, a.headers);
  return out;
}

std::string EncodeAttemptResult(const AttemptResult& result) {
  std::string out;
  if (result.answered) {
    const HttpAnswer& a = result.answer;
    out += kAnswered;
    PutNumber(out, static_cast<std::uint64_t>(a.status));
    PutText(out, a.reason);
    PutHeaders(out, a.headers);
    PutText(out, a.body);
    PutNumber(out, a.body_cut ? 1 : 0);
    PutText(out, ToUtf8(a.body_failure));
    PutFacts(out, a.certificate);
  } else {
    out += kFailed;
    PutNumber(out, static_cast<std::uint64_t>(result.failure.kind));
    PutText(out, ToUtf8(result.failure.message));
    PutFacts(out, result.failure.certificate);
  }
  return out;
}

AttemptOutput DecodeAttemptResult(std::string_view bytes, AttemptResult& result) {
  result = AttemptResult();
  Reader in(bytes);
  char tag = in.Tag();
  AttemptOutput got = AttemptOutput::kNothing;
  if (tag == kHead) {
    if (!ReadHead(in, result.answer)) return AttemptOutput::kNothing;
    result.answered = true;
    if (in.AtEnd()) return AttemptOutput::kHead;
    got = AttemptOutput::kHead;
    tag = in.Tag();
  }
  // A result cut short leaves what the head said.
  AttemptResult whole;
  std::uint64_t number = 0;
  if (tag == kAnswered) {
    HttpAnswer& a = whole.answer;
    std::string body_failure;
    if (!ReadHead(in, a) || !in.Text(a.body) || !in.Number(number) || !in.Text(body_failure) ||
        !in.Facts(a.certificate))
      return got;
    a.body_cut = number != 0;
    a.body_failure = FromUtf8(body_failure);
    whole.answered = true;
  } else if (tag == kFailed) {
    std::string message;
    if (!in.Number(number) || number > HttpFailure::kNoSession || !in.Text(message) ||
        !in.Facts(whole.failure.certificate))
      return got;
    whole.failure.kind = static_cast<HttpFailure::Kind>(number);
    whole.failure.message = FromUtf8(message);
  } else {
    return tag == 0 ? got : AttemptOutput::kNothing;
  }
  if (!in.AtEnd()) return AttemptOutput::kNothing;
  result = std::move(whole);
  return AttemptOutput::kWhole;
}

bool SettleAttempt(std::string_view bytes, AttemptEnd end, const String& end_text, HttpAnswer& answer,
                   HttpFailure& failure) {
  answer = HttpAnswer();
  failure = HttpFailure();
  AttemptResult result;
  const AttemptOutput got = end == AttemptEnd::kTooLarge ? AttemptOutput::kNothing : DecodeAttemptResult(bytes, result);
  if (got == AttemptOutput::kWhole) {
    answer = std::move(result.answer);
    failure = std::move(result.failure);
    return result.answered;
  }
  if (got == AttemptOutput::kHead && result.answer.status == 200) {
    // The server has answered 200: the answer stands without its body.
    answer = std::move(result.answer);
    switch (end) {
      case AttemptEnd::kStopped:
        answer.body_failure = u"Error reading data: the service stopped before the body had come";
        break;
      case AttemptEnd::kOverdue:
        answer.body_failure = u"Error reading data: the HTTP attempt ran out of time before the body had come";
        break;
      default:
        answer.body_failure =
            u"Error reading data: the HTTP attempt ended before the body had come (" + end_text + u")";
        break;
    }
    return true;
  }
  switch (end) {
    case AttemptEnd::kTooLarge:
      failure.message = u"Error receiving data: the HTTP attempt's result is larger than it can be";
      break;
    case AttemptEnd::kStopped:
      failure.message = u"Error receiving data: the service stopped before the answer came";
      break;
    case AttemptEnd::kOverdue:
      failure.message = u"Error receiving data: the HTTP attempt ran out of time before the answer came";
      break;
    case AttemptEnd::kEnded:
      failure.message = u"Error receiving data: the HTTP attempt ended without a result (" + end_text + u")";
      break;
  }
  return false;
}

}  // namespace vantrel
