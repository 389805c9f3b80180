#include "notify/curl_attempt_linux.h"

#include <chrono>
#include <functional>
#include <string_view>

#include "notify/answer_reading.h"
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
  HttpAnswer tunnel;              // the proxy's answer to CONNECT, for an https attempt through one
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

// What the handshake of an https attempt showed: the server's certificate,
// and whether the server asked for a client certificate.
struct TlsWatch {
  std::string host;  // as the URL names it, for the name check
  CertificateFacts certificate;
  bool client_certificate_asked = false;
};

// Where an attempt's TLS context keeps its watch.
int TlsWatchIndex() {
  static const int index =
      g_curl->crypto_get_ex_new_index(CRYPTO_EX_INDEX_SSL_CTX, 0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// The program has no client certificate: when the server asks for one, the
// handshake stops here, before the request is sent, and the watch says why.
int OnClientCertificateRequest(SSL* ssl, X509**, EVP_PKEY**) {
  auto* watch = static_cast<TlsWatch*>(g_curl->ssl_ctx_get_ex_data(g_curl->ssl_get_ssl_ctx(ssl), TlsWatchIndex()));
  if (watch) watch->client_certificate_asked = true;
  return -1;
}

// SHA-256 of the certificate's SubjectPublicKeyInfo (its DER form), in
// lower-case hex; empty when it cannot be had.
std::string KeySha256(X509* cert) {
  X509_PUBKEY* key = g_curl->x509_get_x509_pubkey(cert);
  const int size = key ? g_curl->i2d_x509_pubkey(key, nullptr) : 0;
  if (size <= 0) return std::string();
  std::string der(static_cast<std::size_t>(size), '\0');
  auto* out = reinterpret_cast<unsigned char*>(der.data());
  if (g_curl->i2d_x509_pubkey(key, &out) != size) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (!g_curl->evp_digest(der.data(), der.size(), digest, &digest_size, g_curl->evp_sha256(), nullptr) ||
      digest_size != 32)
    return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < digest_size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// Whether the certificate is for the host the URL names (an address in
// brackets or digits and dots is matched as an address).
bool IsForHost(X509* cert, std::string host) {
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const bool address =
      host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
  if (address) return g_curl->x509_check_ip_asc(cert, host.c_str(), 0) == 1;
  return g_curl->x509_check_host(cert, host.c_str(), host.size(), 0, nullptr) == 1;
}

// The facts of the chain under verification, while X509_verify_cert runs
// on this thread, and its first error.
thread_local CertificateFacts* t_chain_facts = nullptr;
thread_local int t_first_error = X509_V_OK;

// Notes each problem of the chain and lets the verification go on, so that
// every one is named; OnServerCertificate gives the outcome.
int OnChainProblem(int ok, X509_STORE_CTX* ctx) {
  if (ok || t_chain_facts == nullptr) return 1;
  const int error = g_curl->x509_store_ctx_get_error(ctx);
  if (t_first_error == X509_V_OK) t_first_error = error;
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED: t_chain_facts->unknown_authority = true; break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: t_chain_facts->bad_dates = true; break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: t_chain_facts->wrong_name = true; break;
    default: t_chain_facts->other_problem = true;
  }
  return 1;
}

// OpenSSL's verification of the server's chain, watched: the facts are
// kept, and the outcome and its error code are what the verification alone
// would give (its first error), so libcurl decides as it always has.
int OnServerCertificate(X509_STORE_CTX* ctx, void* arg) {
  auto* watch = static_cast<TlsWatch*>(arg);
  CertificateFacts& facts = watch->certificate;
  facts = CertificateFacts();
  if (X509* leaf = g_curl->x509_store_ctx_get0_cert(ctx)) {
    facts.seen = true;
    facts.key_sha256 = KeySha256(leaf);
    facts.wrong_name = !IsForHost(leaf, watch->host);
  }
  t_chain_facts = &facts;
  t_first_error = X509_V_OK;
  g_curl->x509_store_ctx_set_verify_cb(ctx, OnChainProblem);
  int ok = g_curl->x509_verify_cert(ctx);
  t_chain_facts = nullptr;
  if (t_first_error != X509_V_OK) {
    g_curl->x509_store_ctx_set_error(ctx, t_first_error);
    ok = 0;
  } else if (ok <= 0) {
    facts.other_problem = true;
  }
  return ok;
}

CURLcode OnTlsContext(CURL*, void* ssl_ctx, void* watch) {
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  g_curl->ssl_ctx_set_ex_data(ctx, TlsWatchIndex(), watch);
  g_curl->ssl_ctx_set_client_cert_cb(ctx, OnClientCertificateRequest);
  g_curl->ssl_ctx_set_cert_verify_callback(ctx, OnServerCertificate, watch);
  return CURLE_OK;
}

// Everything the handle points at while a transfer runs: made before the
// options are set, and kept in place until the transfer has ended.
struct Transfer {
  Transfer(CURL* c, const HttpAttempt& a, HttpAnswer& answer, const std::function<void(const HttpAnswer&)>& on_head)
      : url(AttemptUrl(a)), gate(a.certificate), silence{c, std::chrono::milliseconds(a.timeout_ms)} {
    tls.host = a.host;
    receiver.curl = c;
    receiver.secure = a.secure;
    receiver.answer = &answer;
    receiver.on_head = &on_head;
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  const std::string url;
  const CertificateGate gate;
  SilenceWatch silence;
  TlsWatch tls;
  bool refused_by_gate = false;  // the certificate was refused before the request
  bool gate_unheld = false;      // this libcurl (before 7.80) cannot be stopped before the request
  HeaderList headers;
  Receiver receiver;
};

// Called once the connection and its handshake are up, before the request
// goes out: with the checks off, only a certificate the gate admits is sent
// to. (With them on, libcurl has refused one that does not verify.)
int OnBeforeRequest(void* transfer, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(transfer);
  if (t->gate.checks_on || CertificateAdmitted(t->gate, t->tls.certificate)) return CURL_PREREQFUNC_OK;
  t->refused_by_gate = true;
  return CURL_PREREQFUNC_ABORT;
}

// The connection: the URL over HTTP/1.1, no redirects and no reuse, the
// limits on connecting and on silence, the certificate checks (against
// trusted_authorities in place of the system's when it names a file).
void SetConnection(CURL* c, const HttpAttempt& a, Transfer& t, const std::string& trusted_authorities) {
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
  setopt(c, CURLOPT_SSL_VERIFYPEER, a.certificate.checks_on ? 1L : 0L);
  setopt(c, CURLOPT_SSL_VERIFYHOST, a.certificate.checks_on ? 2L : 0L);
  if (a.secure) {
    setopt(c, CURLOPT_SSL_CTX_FUNCTION, OnTlsContext);
    setopt(c, CURLOPT_SSL_CTX_DATA, &t.tls);
    t.gate_unheld = setopt(c, CURLOPT_PREREQFUNCTION, OnBeforeRequest) != CURLE_OK;
    setopt(c, CURLOPT_PREREQDATA, &t);
    if (!trusted_authorities.empty()) setopt(c, CURLOPT_CAINFO, trusted_authorities.c_str());
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
    answer.certificate = t.tls.certificate;
    result.answered = true;
    return;
  }

  const String detail = FormatCodeText(rc, g_curl->easy_strerror(rc));
  if (t.receiver.head_complete) {
    // The answer stands; its body broke off.
    answer.body_failure = u"Error reading data: " + detail;
    answer.certificate = t.tls.certificate;
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
  } else if (t.tls.client_certificate_asked) {
    failure.kind = HttpFailure::kClientCertificate;
    failure.message = u"Unspecified certificate from client";
  } else if (t.refused_by_gate) {
    failure.kind = HttpFailure::kSecureChannel;
    failure.message = u"Error sending data: the server's certificate was refused before the request was sent";
    failure.certificate = t.tls.certificate;
  } else if (rc == CURLE_PEER_FAILED_VERIFICATION) {
    failure.kind = HttpFailure::kSecureChannel;
    failure.message = u"Error sending data: " + detail;
    failure.certificate = t.tls.certificate;
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
                              const std::function<void(const HttpAnswer&)>& on_head,
                              const std::string& trusted_authorities) {
  std::string error;
  g_curl = LoadCurlLibrary(library_file, error);
  if (g_curl == nullptr) return NoSession(u"Error obtaining session handle: " + FromUtf8(error));
  const CurlHandle curl(g_curl->easy_init());
  if (!curl) return NoSession(u"Error obtaining session handle");
  AttemptResult result;
  Transfer transfer(curl.get(), a, result.answer, on_head);
  SetConnection(curl.get(), a, transfer, trusted_authorities);
  SetRequest(curl.get(), a, transfer);
  SetReceiver(curl.get(), transfer);
  if (transfer.gate_unheld && !a.certificate.checks_on && !a.certificate.accepted_key.empty()) {
    // Only one key may be sent to, and nothing could stop the request.
    result.failure.kind = HttpFailure::kSecureChannel;
    result.failure.message =
        u"Error sending data: this libcurl cannot check the key before the request (7.80 or "
        u"later is needed for 'tls' = 'pin')";
    return result;
  }
  TakeOutcome(g_curl->easy_perform(curl.get()), curl.get(), transfer, result);
  return result;
}

}  // namespace vantrel
