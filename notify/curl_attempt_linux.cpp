#include "notify/curl_attempt_linux.h"

#include <chrono>
#include <functional>
#include <string_view>

#include "notify/curl_library_linux.h"
#include "platform/unique_handle.h"

namespace vantrel {

namespace {

// The library this process loaded; set before any attempt is made.
const CurlLibrary* g_curl = nullptr;

void CleanupEasy(CURL* curl) { g_curl->easy_cleanup(curl); }
void FreeList(curl_slist* list) { g_curl->slist_free_all(list); }

using CurlHandle = UniqueHandle<CURL*, CleanupEasy>;
using HeaderList = UniqueHandle<curl_slist*, FreeList>;

// Adds one header line to list; the first line starts it. Out of memory the
// line is left out and the list stays as it was.
void AppendHeader(HeaderList& list, const std::string& line) {
  curl_slist* head = g_curl->slist_append(list.get(), line.c_str());
  if (!list) list.reset(head);
}

struct Receiver {
  CURL* curl = nullptr;
  bool secure = false;
  HttpAnswer* answer = nullptr;
  const std::function<void(const HttpAnswer&)>* on_head = nullptr;
  HttpAnswer tunnel;             // the proxy's answer to CONNECT, for an https attempt through one
  bool in_tunnel_answer = false;  // the lines now coming are that answer's
  bool got_status = false;        // a status line of the server's answer came
  bool head_complete = false;     // ... and all the headers of its final answer
  std::size_t header_bytes = 0;
  bool headers_cut = false;  // more than kMaxAnswerHeaders came
};

// Fills status and reason from a status line "HTTP/1.1 200 OK".
void ReadStatusLine(const std::string& line, HttpAnswer& answer) {
  answer.headers.clear();
  answer.status = 0;
  answer.reason.clear();
  const std::size_t sp1 = line.find(' ');
  if (sp1 == std::string::npos) return;
  const std::size_t sp2 = line.find(' ', sp1 + 1);
  answer.status = ParseStatusCode(std::string_view(line).substr(sp1 + 1, sp2 - sp1 - 1));
  answer.reason = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
}

// Each line of every answer's head, the blank line that ends it included. A
// short count (0) past the header limit makes libcurl stop the transfer.
size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* r = static_cast<Receiver*>(user);
  const size_t len = size * n;
  r->header_bytes += len;
  if (r->header_bytes > kMaxAnswerHeaders) {
    r->headers_cut = true;
    return 0;
  }
  std::string line(data, len);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    // Before the TLS handshake with the server, an https attempt's status
    // line can only be a proxy's answer to CONNECT.
    curl_off_t handshaken = 0;
    if (r->secure) g_curl->easy_getinfo(r->curl, CURLINFO_APPCONNECT_TIME_T, &handshaken);
    r->in_tunnel_answer = r->secure && handshaken == 0;
    if (r->in_tunnel_answer) {
      ReadStatusLine(line, r->tunnel);
    } else {
      // A new status line (after a 1xx answer, say): start again.
      ReadStatusLine(line, *r->answer);
      r->got_status = true;
    }
  } else if (line.empty()) {
    // The end of a head; a final answer's (not 1xx, not the proxy's) makes
    // the answer known before its body comes.
    if (!r->in_tunnel_answer && r->got_status && r->answer->status >= 200 && !r->head_complete) {
      r->head_complete = true;
      if (*r->on_head) (*r->on_head)(*r->answer);
    }
  } else {
    AddHeaderLine(r->in_tunnel_answer ? r->tunnel.headers : r->answer->headers, line);
  }
  return len;
}

// A short count (0) past the body limit makes libcurl stop the transfer
// with CURLE_WRITE_ERROR and close the connection.
size_t OnBody(char* data, size_t size, size_t n, void* user) {
  return AppendAnswerBody(*static_cast<Receiver*>(user)->answer, data, size * n) ? size * n : 0;
}

// The limit on a silent connection once it is up: no byte sent or received
// for the attempt's timeout ends the attempt. (libcurl's own low-speed limit
// averages over its window and ends a stall several seconds late.)
// Connecting has its own limit; the watch starts again when the connection
// (and its TLS handshake) is up.
struct SilenceWatch {
  using Clock = std::chrono::steady_clock;
  CURL* curl;
  std::chrono::milliseconds limit;
  Clock::time_point last_activity = Clock::now();
  curl_off_t last_progress = 0;
  bool expired = false;
};

int OnProgress(void* user, curl_off_t down_total, curl_off_t down_now, curl_off_t up_total, curl_off_t up_now) {
  auto* watch = static_cast<SilenceWatch*>(user);
  curl_off_t connected = 0;
  curl_off_t handshaken = 0;
  g_curl->easy_getinfo(watch->curl, CURLINFO_CONNECT_TIME_T, &connected);
  g_curl->easy_getinfo(watch->curl, CURLINFO_APPCONNECT_TIME_T, &handshaken);
  if (connected == 0) return 0;  // still connecting
  const curl_off_t progress = down_total + down_now + up_total + up_now + connected + handshaken;
  const auto now = SilenceWatch::Clock::now();
  if (progress != watch->last_progress) {
    watch->last_progress = progress;
    watch->last_activity = now;
    return 0;
  }
  if (now - watch->last_activity < watch->limit) return 0;
  watch->expired = true;
  return 1;  // ends the transfer
}

// Where an attempt's TLS context keeps the flag that the server asked for a
// client certificate.
int ClientCertificateFlagIndex() {
  static const int index = g_curl->crypto_get_ex_new_index(CRYPTO_EX_INDEX_SSL_CTX, 0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// The program has no client certificate: when the server asks for one, the
// handshake stops here, before the request is sent, and the flag says why.
int OnClientCertificateRequest(SSL* ssl, X509**, EVP_PKEY**) {
  auto* asked =
      static_cast<bool*>(g_curl->ssl_ctx_get_ex_data(g_curl->ssl_get_ssl_ctx(ssl), ClientCertificateFlagIndex()));
  if (asked) *asked = true;
  return -1;
}

CURLcode OnTlsContext(CURL*, void* ssl_ctx, void* asked) {
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  g_curl->ssl_ctx_set_ex_data(ctx, ClientCertificateFlagIndex(), asked);
  g_curl->ssl_ctx_set_client_cert_cb(ctx, OnClientCertificateRequest);
  return CURLE_OK;
}

// Everything the handle points at while a transfer runs: made before the
// options are set, and kept in place until the transfer has ended.
struct Transfer {
  Transfer(CURL* c, const HttpAttempt& a, HttpAnswer& answer, const std::function<void(const HttpAnswer&)>& on_head)
      : url(AttemptUrl(a)), silence{c, std::chrono::milliseconds(a.timeout_ms)} {
    receiver.curl = c;
    receiver.secure = a.secure;
    receiver.answer = &answer;
    receiver.on_head = &on_head;
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  const std::string url;
  SilenceWatch silence;
  bool client_certificate_asked = false;
  HeaderList headers;
  Receiver receiver;
};

// The connection: the URL over HTTP/1.1, no redirects and no reuse, the
// limits on connecting and on silence, the certificate checks.
void SetConnection(CURL* c, const HttpAttempt& a, Transfer& t) {
  const auto setopt = g_curl->easy_setopt;
  setopt(c, CURLOPT_URL, t.url.c_str());
  setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  setopt(c, CURLOPT_NOSIGNAL, 1L);
  setopt(c, CURLOPT_FORBID_REUSE, 1L);
  setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(a.timeout_ms));
  setopt(c, CURLOPT_NOPROGRESS, 0L);
  setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  setopt(c, CURLOPT_XFERINFODATA, &t.silence);
  setopt(c, CURLOPT_SSL_VERIFYPEER, a.verify_certificate ? 1L : 0L);
  setopt(c, CURLOPT_SSL_VERIFYHOST, a.verify_certificate ? 2L : 0L);
  if (a.secure) {
    setopt(c, CURLOPT_SSL_CTX_FUNCTION, OnTlsContext);
    setopt(c, CURLOPT_SSL_CTX_DATA, &t.client_certificate_asked);
  }
}

// The request: its method and body, and its header lines without libcurl's
// "Expect:".
void SetRequest(CURL* c, const HttpAttempt& a, Transfer& t) {
  const auto setopt = g_curl->easy_setopt;
  if (a.method == "POST") {
    setopt(c, CURLOPT_POST, 1L);
    setopt(c, CURLOPT_POSTFIELDS, a.body.data());
    setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(a.body.size()));
  } else {
    setopt(c, CURLOPT_HTTPGET, 1L);
  }
  AppendHeader(t.headers, "Expect:");
  for (const auto& [name, value] : a.headers) AppendHeader(t.headers, name + ": " + value);
  setopt(c, CURLOPT_HTTPHEADER, t.headers.get());
}

// Where the answer's head and body go.
void SetReceiver(CURL* c, Transfer& t) {
  const auto setopt = g_curl->easy_setopt;
  setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  setopt(c, CURLOPT_HEADERDATA, &t.receiver);
  setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  setopt(c, CURLOPT_WRITEDATA, &t.receiver);
}

// The result of a transfer that libcurl ended with rc: an answer (whole, its
// body broken off, or the proxy's refusal of the tunnel), or the failure
// named by how far the attempt got.
void TakeOutcome(CURLcode rc, CURL* c, Transfer& t, AttemptResult& result) {
  HttpAnswer& answer = result.answer;
  HttpFailure& failure = result.failure;
  if (rc == CURLE_ABORTED_BY_CALLBACK && t.silence.expired) rc = CURLE_OPERATION_TIMEDOUT;
  if (rc == CURLE_WRITE_ERROR && answer.body_cut) rc = CURLE_OK;  // the answer stands, its body cut
  if (rc == CURLE_OK) {
    result.answered = true;
    return;
  }

  const String detail = FormatCodeText(rc, g_curl->easy_strerror(rc));
  if (t.receiver.head_complete) {
    // The answer stands; its body broke off.
    answer.body_failure = u"Error reading data: " + detail;
    result.answered = true;
    return;
  }
  const int tunnel = t.receiver.tunnel.status;
  if (tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
    // The proxy refused the tunnel: its answer is the attempt's.
    answer = std::move(t.receiver.tunnel);
    result.answered = true;
    return;
  }
  double connect_time = 0;
  g_curl->easy_getinfo(c, CURLINFO_CONNECT_TIME, &connect_time);
  if (t.receiver.headers_cut) {
    failure.message = u"Error receiving data: the answer's headers are longer than 256 KiB";
  } else if (t.client_certificate_asked) {
    failure.kind = HttpFailure::kClientCertificate;
    failure.message = u"Unspecified certificate from client";
  } else if (rc == CURLE_PEER_FAILED_VERIFICATION) {
    failure.kind = HttpFailure::kSecureChannel;
    failure.message = u"Error sending data: " + detail;
  } else if (t.receiver.got_status) {
    failure.message = u"Error reading data: " + detail;
  } else if (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT || rc == CURLE_SEND_ERROR ||
             rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_COULDNT_RESOLVE_PROXY || connect_time <= 0) {
    failure.message = u"Error sending data: " + detail;
  } else {
    failure.message = u"Error receiving data: " + detail;
  }
  answer = HttpAnswer();
}

AttemptResult NoSession(const String& message) {
  AttemptResult result;
  result.failure.kind = HttpFailure::kNoSession;
  result.failure.message = message;
  return result;
}

}  // namespace

AttemptResult PerformWithCurl(const HttpAttempt& a, const std::string& library_file,
                              const std::function<void(const HttpAnswer&)>& on_head) {
  std::string error;
  g_curl = LoadCurlLibrary(library_file, error);
  if (g_curl == nullptr) return NoSession(u"Error obtaining session handle: " + FromUtf8(error));
  const CurlHandle curl(g_curl->easy_init());
  if (!curl) return NoSession(u"Error obtaining session handle");
  AttemptResult result;
  Transfer transfer(curl.get(), a, result.answer, on_head);
  SetConnection(curl.get(), a, transfer);
  SetRequest(curl.get(), a, transfer);
  SetReceiver(curl.get(), transfer);
  TakeOutcome(g_curl->easy_perform(curl.get()), curl.get(), transfer, result);
  return result;
}

}  // namespace vantrel
