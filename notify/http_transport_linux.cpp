// One HTTP attempt over libcurl: HTTP/1.1, no "Expect:", its own redirects
// and cookies off, the proxy only from the environment.
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>

#include "notify/http_transport.h"
#include "platform/exception.h"
#include "platform/unique_handle.h"

namespace vantrel {

namespace {

using CurlHandle = UniqueHandle<CURL*, curl_easy_cleanup>;
using HeaderList = UniqueHandle<curl_slist*, curl_slist_free_all>;

// Adds one header line to list; the first line starts it. Out of memory the
// line is left out and the list stays as it was.
void AppendHeader(HeaderList& list, const std::string& line) {
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (!list) list.reset(head);
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

struct Receiver {
  HttpAnswer* answer;
  bool got_status = false;
};

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* r = static_cast<Receiver*>(user);
  const size_t len = size * n;
  std::string line(data, len);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after a 1xx answer, say): start again.
    r->answer->headers.clear();
    r->got_status = true;
    const std::size_t sp1 = line.find(' ');
    if (sp1 != std::string::npos) {
      const std::size_t sp2 = line.find(' ', sp1 + 1);
      r->answer->status = std::atoi(line.substr(sp1 + 1, sp2 - sp1 - 1).c_str());
      r->answer->reason = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
    }
  } else {
    AddHeaderLine(r->answer->headers, line);
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
  curl_easy_getinfo(watch->curl, CURLINFO_CONNECT_TIME_T, &connected);
  curl_easy_getinfo(watch->curl, CURLINFO_APPCONNECT_TIME_T, &handshaken);
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
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// The program has no client certificate: when the server asks for one, the
// handshake stops here, before the request is sent, and the flag says why.
int OnClientCertificateRequest(SSL* ssl, X509**, EVP_PKEY**) {
  auto* asked = static_cast<bool*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ClientCertificateFlagIndex()));
  if (asked) *asked = true;
  return -1;
}

CURLcode OnTlsContext(CURL*, void* ssl_ctx, void* asked) {
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  SSL_CTX_set_ex_data(ctx, ClientCertificateFlagIndex(), asked);
  SSL_CTX_set_client_cert_cb(ctx, OnClientCertificateRequest);
  return CURLE_OK;
}

class CurlTransport : public HttpTransport {
 public:
  CurlTransport() {
    static CurlGlobal global;
    curl_.reset(curl_easy_init());
    if (!curl_) throw Exception(u"Error obtaining session handle");
  }

  bool Perform(const HttpAttempt& a, HttpAnswer& answer, HttpFailure& failure) override {
    CURL* c = curl_.get();
    curl_easy_reset(c);
    const std::string url = AttemptUrl(a);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(a.timeout_ms));
    SilenceWatch silence{c, std::chrono::milliseconds(a.timeout_ms)};
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &silence);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, a.verify_certificate ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, a.verify_certificate ? 2L : 0L);
    bool client_certificate_asked = false;
    if (a.secure) {
      curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, OnTlsContext);
      curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &client_certificate_asked);
    }
    if (a.method == "POST") {
      curl_easy_setopt(c, CURLOPT_POST, 1L);
      curl_easy_setopt(c, CURLOPT_POSTFIELDS, a.body.data());
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(a.body.size()));
    } else {
      curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    }
    HeaderList headers;
    AppendHeader(headers, "Expect:");
    for (const auto& [name, value] : a.headers) AppendHeader(headers, name + ": " + value);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    Receiver receiver{&answer};
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &receiver);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &receiver);
    CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_ABORTED_BY_CALLBACK && silence.expired) rc = CURLE_OPERATION_TIMEDOUT;
    if (rc == CURLE_WRITE_ERROR && answer.body_cut) rc = CURLE_OK;  // the answer stands, its body cut
    if (rc == CURLE_OK) return true;

    const String detail = FormatCodeText(rc, curl_easy_strerror(rc));
    long connect_code = 0;
    curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &connect_code);
    double connect_time = 0;
    curl_easy_getinfo(c, CURLINFO_CONNECT_TIME, &connect_time);
    if (client_certificate_asked) {
      failure.kind = HttpFailure::kClientCertificate;
      failure.message = u"Unspecified certificate from client";
    } else if (rc == CURLE_PEER_FAILED_VERIFICATION) {
      failure.kind = HttpFailure::kSecureChannel;
      failure.message = u"Error sending data: " + detail;
    } else if (receiver.got_status) {
      failure.message = u"Error reading data: " + detail;
    } else if (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT || rc == CURLE_SEND_ERROR ||
               rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_COULDNT_RESOLVE_PROXY || connect_time <= 0) {
      failure.message = u"Error sending data: " + detail;
    } else {
      failure.message = u"Error receiving data: " + detail;
    }
    answer = HttpAnswer();
    return false;
  }

 private:
  CurlHandle curl_;  // this transport's own session: moved, never copied
};

}  // namespace

std::unique_ptr<HttpTransport> NewHttpTransport() { return std::make_unique<CurlTransport>(); }

}  // namespace vantrel
