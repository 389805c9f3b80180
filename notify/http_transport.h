// One HTTP attempt on the platform's stack (WinHTTP on Windows, libcurl on
// Linux). The portable exchange (rest_client) does redirects, cookies,
// certificate acceptance and decoding on top of it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "notify/certificate_rule.h"
#include "platform/text.h"

namespace vantrel {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpAttempt {
  std::string method;   // "POST" or "GET"
  bool secure = false;  // https
  std::string host;
  int port = 80;
  std::string target;  // path and query, already encoded
  HttpHeaders headers;
  std::string body;
  // https: whether the certificate checks are on, and which key alone may
  // be sent to with them off. The transport asks CertificateAdmitted after
  // the handshake and sends nothing to a server it refuses.
  CertificateGate certificate;
  int timeout_ms = 120000;  // connect, send, receive (each phase)
};

// The most of an answer body a transport reads. No webhook answer comes
// near it; a body that goes on past it (an endless one, say) is cut there
// rather than allowed to take the machine's memory.
constexpr std::size_t kMaxAnswerBody = std::size_t{16} << 20;

struct HttpAnswer {
  int status = 0;
  std::string reason;   // as received, empty when none
  HttpHeaders headers;  // in the order received
  std::string body;     // at most kMaxAnswerBody bytes
  // The body went on past kMaxAnswerBody: reading stopped there and the
  // connection was closed, so body holds only its first kMaxAnswerBody bytes.
  bool body_cut = false;
  // Reading the body failed after the status line and the headers had all
  // come (cut off, a broken chunk, a timeout, the service's stop): why, as
  // "Error reading data: ..."; body holds what came before. Empty when the
  // body was read to its end.
  String body_failure;
  // https: the certificate the server showed.
  CertificateFacts certificate;
};

struct HttpFailure {
  // kNoSession: the platform's HTTP stack cannot be had at all ("Error
  // obtaining session handle"), which is no failure of one exchange.
  enum Kind { kOther, kSecureChannel, kClientCertificate, kNoSession };
  Kind kind = kOther;
  String message;  // without "REST request failed: "
  // kSecureChannel: the certificate refused, as far as it was seen.
  CertificateFacts certificate;
};

// The attempt's URL with its port always written:
// "http://host:80/path?query".
std::string AttemptUrl(const HttpAttempt& attempt);

// The most of an answer's header lines a transport reads (their bytes in
// all); past it the attempt fails rather than let a server that never ends
// its headers take the memory.
constexpr std::size_t kMaxAnswerHeaders = std::size_t{256} << 10;

// The status code of a status line's code field: three digits, else 0.
int ParseStatusCode(std::string_view digits);

// Appends a piece of the answer's body. Past kMaxAnswerBody it keeps only
// what fits, sets body_cut and returns false: the transport then stops
// reading and closes the connection.
bool AppendAnswerBody(HttpAnswer& answer, const char* data, std::size_t size);

// Adds one "Name: value" header line (its end of line already removed) to
// headers; blanks and tabs after the colon are dropped, and a line without a
// colon is ignored.
void AddHeaderLine(HttpHeaders& headers, const std::string& line);

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // One attempt; true with answer filled once its status line and headers
  // have all come (also when its body was cut at kMaxAnswerBody or could
  // not be read to its end), or false with failure filled.
  virtual bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) = 0;
};

// The platform's transport: each attempt runs in a fresh process of the
// program, which the service's stop ends at once. Nothing is opened until an
// attempt; a WinHTTP session that cannot be had (Windows) or a libcurl that
// cannot be loaded (Linux) fails each attempt as kNoSession with "Error
// obtaining session handle" (on Linux with the reason).
std::unique_ptr<HttpTransport> NewHttpTransport();

// When this process was started by NewHttpTransport's transport to make
// one HTTP attempt (each attempt runs in a fresh copy of the program),
// makes it, hands the result back and gives the exit code;
// otherwise it does nothing and gives nothing. The first call of main, of
// the program and of every test program.
std::optional<int> RunHttpAttemptProcess();

// The limit of each network phase: 120000 ms unless a test shortened it.
int HttpPhaseTimeoutMs();

// "(%d) %s" of a platform failure.
String FormatCodeText(long code, const std::string& text_utf8);

}  // namespace vantrel
