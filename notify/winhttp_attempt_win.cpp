#include "notify/winhttp_attempt_win.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "notify/answer_reading.h"
#include "notify/exchange_failure.h"
#include "notify/proxy_choice_win.h"
#include "platform/module_message_win.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

namespace {

using WinHttpHandle = UniqueHandle<HINTERNET, WinHttpCloseHandle>;

String Detail(DWORD code) {
  return FormatCodeText(static_cast<long>(code), ToUtf8(ModuleMessageText(code, L"winhttp.dll")));
}

bool QueryString(HINTERNET req, DWORD what, String& out) {
  DWORD size = 0;
  WinHttpQueryHeaders(req, what, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    out.clear();
    return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND;
  }
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(req, what, WINHTTP_HEADER_NAME_BY_INDEX, buf.data(), &size, WINHTTP_NO_HEADER_INDEX))
    return false;
  out = FromWide(buf.data(), size / sizeof(wchar_t));
  return true;
}

void UseNamedProxy(HINTERNET req, ProxyChoice& choice) {
  WINHTTP_PROXY_INFO named{};
  named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  named.lpszProxy = choice.proxy.data();
  named.lpszProxyBypass = choice.bypass.empty() ? nullptr : choice.bypass.data();
  WinHttpSetOption(req, WINHTTP_OPTION_PROXY, &named, sizeof named);
}

// Why an attempt failed, before it is reported.
struct Failure {
  Failure(String m, HttpFailure::Kind k = HttpFailure::kOther, CertificateFacts c = CertificateFacts())
      : message(std::move(m)), kind(k), certificate(std::move(c)) {}
  String message;
  HttpFailure::Kind kind;
  CertificateFacts certificate;
};

using CertificateHandle = UniqueHandle<PCCERT_CONTEXT, CertFreeCertificateContext>;
using LocalMemory = UniqueHandle<BYTE*, LocalFree>;

// SHA-256 of the certificate's SubjectPublicKeyInfo (its DER form), in
// lower-case hex; empty when it cannot be had.
std::string KeySha256(PCCERT_CONTEXT cert) {
  BYTE* der = nullptr;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &cert->pCertInfo->SubjectPublicKeyInfo,
                           CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &size))
    return std::string();
  const LocalMemory owned(der);
  BYTE digest[32];
  DWORD digest_size = sizeof digest;
  if (!CryptHashCertificate2(L"SHA256", 0, nullptr, der, size, digest, &digest_size) || digest_size != 32)
    return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (BYTE b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

// What the request's handshake showed: the server's certificate and its
// key, and the problems WinHTTP named when it refused it (flags of its
// secure-failure notice).
CertificateFacts SeenCertificate(HINTERNET req, DWORD failure_flags) {
  CertificateFacts facts;
  PCCERT_CONTEXT cert = nullptr;
  DWORD size = sizeof cert;
  if (!WinHttpQueryOption(req, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size) || cert == nullptr) return facts;
  const CertificateHandle owned(cert);
  facts.seen = true;
  facts.key_sha256 = KeySha256(cert);
  facts.unknown_authority = failure_flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
  facts.wrong_name = failure_flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID;
  facts.bad_dates = failure_flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
  facts.other_problem = failure_flags != 0 && !facts.unknown_authority && !facts.wrong_name && !facts.bad_dates;
  return facts;
}

// What the status callback of an https request keeps and checks: the
// flags of WinHTTP's secure-failure notice, and with the checks off the
// server's key before the request goes out.
struct SecureWatch {
  const CertificateGate* gate = nullptr;
  // Called with the refusal when the key is not the one accepted; it does
  // not return (the attempt's process ends there, with nothing sent).
  const std::function<void(const AttemptResult&)>* refuse = nullptr;
  DWORD failure_flags = 0;
};

// The status callback of an https request, whose context value points at
// its SecureWatch (synchronous: called on the sending thread). With the
// checks off WinHTTP makes the handshake and sends the request in one call:
// the notice that the request is about to be sent is the one moment the
// server's key can be seen before anything is written to it.
void CALLBACK OnSecureStatus(HINTERNET req, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (context == 0) return;
  auto* watch = reinterpret_cast<SecureWatch*>(context);
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && info != nullptr && length >= sizeof(DWORD)) {
    watch->failure_flags |= *static_cast<DWORD*>(info);
    return;
  }
  if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || watch->gate == nullptr || watch->gate->checks_on ||
      watch->refuse == nullptr || !*watch->refuse)
    return;
  // No certificate yet (the request to a proxy for its tunnel): the check
  // after the answer's head still applies.
  const CertificateFacts seen = SeenCertificate(req, 0);
  if (!seen.seen || CertificateAdmitted(*watch->gate, seen)) return;
  AttemptResult refused;
  refused.failure.kind = HttpFailure::kSecureChannel;
  refused.failure.message = u"Error sending data: the server's certificate was not the one accepted";
  refused.failure.certificate = seen;
  (*watch->refuse)(refused);
}

using StepFailure = std::optional<Failure>;  // nothing when the step went through

// One request on a connection of its own; the request is closed first.
struct Request {
  WinHttpHandle connection;
  WinHttpHandle request;
};

// Connects to the attempt's server and opens its request there.
StepFailure Open(HINTERNET session, const HttpAttempt& a, Request& r, SecureWatch* watch) {
  const String host = FromUtf8(a.host);
  r.connection.reset(WinHttpConnect(session, Wide(host), static_cast<INTERNET_PORT>(a.port), 0));
  if (!r.connection) return Failure{u"Error connecting to server: " + host};
  const String method = FromUtf8(a.method), target = FromUtf8(a.target);
  r.request.reset(WinHttpOpenRequest(r.connection.get(), Wide(method), Wide(target), L"HTTP/1.1", WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, a.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!r.request) return Failure{u"Error opening request: " + Detail(GetLastError())};
  if (a.secure) {
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(watch);
    WinHttpSetOption(r.request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(r.request.get(), OnSecureStatus,
                             WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
  }
  return std::nullopt;
}

// The request's limits, header lines and proxy; WinHTTP's own redirects and
// cookies off, and the certificate checks off when the attempt asks.
StepFailure Configure(HINTERNET session, HINTERNET req, const HttpAttempt& a) {
  const int t = a.timeout_ms;
  // Name resolution gets the same limit as each other phase: 0 there would
  // mean none at all. WinHttpSetTimeouts leaves the wait for the answer's
  // headers at WinHTTP's own 90 s; the receive limit covers that wait too.
  DWORD response_ms = static_cast<DWORD>(t);
  if (!WinHttpSetTimeouts(req, t, t, t, t) ||
      !WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_ms, sizeof response_ms))
    return Failure{u"Error setting timeout for the request: " + Detail(GetLastError())};
  for (const auto& [name, value] : a.headers) {
    const String line = FromUtf8(name + ": " + value);
    const DWORD flags = name == "Content-type" ? WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
                                               : (WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    if (!WinHttpAddRequestHeaders(req, Wide(line), static_cast<DWORD>(-1L), flags))
      return Failure{u"Error adding header: " + Detail(GetLastError())};
  }
  ProxyChoice proxy = ChooseProxy(WinHttpProxySources(session, FromUtf8(AttemptUrl(a))));
  if (proxy.named) UseNamedProxy(req, proxy);
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  feature = WINHTTP_DISABLE_COOKIES;
  WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  if (!a.certificate.checks_on) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    WinHttpSetOption(req, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  return std::nullopt;
}

// The failure of a call that may set up the secure channel (sending the
// request, receiving the answer): a refused certificate and a server that
// asks for the client's are told apart from the rest, which `what` and the
// code name. When certificates are checked, a refused one is asked for
// first: a server that sent none fails with "Error getting Server
// Certificate".
Failure ChannelFailure(HINTERNET req, const HttpAttempt& a, DWORD err, const String& what, DWORD failure_flags) {
  if (err == ERROR_WINHTTP_SECURE_FAILURE) {
    if (a.certificate.checks_on) {
      WINHTTP_CERTIFICATE_INFO cert{};
      DWORD size = sizeof cert;
      if (!WinHttpQueryOption(req, WINHTTP_OPTION_SECURITY_CERTIFICATE_STRUCT, &cert, &size))
        return Failure{u"Error getting Server Certificate"};
      for (LPWSTR p : {cert.lpszSubjectInfo, cert.lpszIssuerInfo, cert.lpszProtocolName, cert.lpszSignatureAlgName,
                       cert.lpszEncryptionAlgName})
        if (p) LocalFree(p);
    }
    return Failure{what + Detail(err), HttpFailure::kSecureChannel, SeenCertificate(req, failure_flags)};
  }
  if (err == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED)
    return Failure{u"Unspecified certificate from client", HttpFailure::kClientCertificate};
  return Failure{what + Detail(err)};
}

// Sends the request and its body in pieces, and waits for the answer's head.
StepFailure Send(HINTERNET req, const HttpAttempt& a, SecureWatch& watch) {
  const DWORD total = static_cast<DWORD>(a.body.size());
  if (!WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total,
                          reinterpret_cast<DWORD_PTR>(&watch)))
    return ChannelFailure(req, a, GetLastError(), u"Error sending data: ", watch.failure_flags);
  std::size_t sent = 0;
  while (sent < a.body.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(65536, a.body.size() - sent));
    DWORD written = 0;
    if (!WinHttpWriteData(req, a.body.data() + sent, piece, &written))
      return Failure{u"Error sending data: " + Detail(GetLastError())};
    sent += written;
  }
  if (!WinHttpReceiveResponse(req, nullptr))
    return ChannelFailure(req, a, GetLastError(), u"Error receiving data: ", watch.failure_flags);
  return std::nullopt;
}

// The answer's status code, reason and header lines.
StepFailure ReadHead(HINTERNET req, HttpAnswer& answer) {
  String text;
  if (!QueryString(req, WINHTTP_QUERY_STATUS_CODE, text))
    return Failure{u"Error receiving data: " + Detail(GetLastError())};
  answer.status = ParseStatusCode(ToUtf8(text));
  QueryString(req, WINHTTP_QUERY_STATUS_TEXT, text);
  answer.reason = ToUtf8(text);
  String raw;
  QueryString(req, WINHTTP_QUERY_RAW_HEADERS, raw);  // lines separated by zero characters
  std::size_t pos = 0;
  bool first = true;
  while (pos < raw.size()) {
    std::size_t end = raw.find(u'\0', pos);
    if (end == String::npos) end = raw.size();
    const std::string line = ToUtf8(std::u16string_view(raw).substr(pos, end - pos));
    pos = end + 1;
    if (first) {
      first = false;
      continue;  // the status line
    }
    AddHeaderLine(answer.headers, line);
  }
  return std::nullopt;
}

// The answer's body, up to the body limit. Past the limit reading stops;
// closing the request handle on the way out closes the connection with the
// rest unread. The status line and the headers have all come: a body that
// breaks off leaves the answer standing, with the failure beside it.
void ReadBody(HINTERNET req, HttpAnswer& answer) {
  std::string buf;
  for (;;) {
    DWORD avail = 0;
    if (!WinHttpQueryDataAvailable(req, &avail)) {
      answer.body_failure = u"Error reading data: " + Detail(GetLastError());
      break;
    }
    if (avail == 0) break;
    buf.resize(std::min<std::size_t>(avail, kMaxAnswerBody + 1));
    DWORD got = 0;
    if (!WinHttpReadData(req, buf.data(), static_cast<DWORD>(buf.size()), &got)) {
      answer.body_failure = u"Error reading data: " + Detail(GetLastError());
      break;
    }
    if (got == 0) break;
    if (!AppendAnswerBody(answer, buf.data(), got)) break;
  }
}

// Makes the attempt on the session, step by step.
AttemptResult PerformOnSession(HINTERNET session, const HttpAttempt& a,
                               const std::function<void(const HttpAnswer&)>& on_head,
                               const std::function<void(const AttemptResult&)>& on_refused) {
  AttemptResult result;
  HttpAnswer& answer = result.answer;
  Request r;
  SecureWatch watch;
  watch.gate = &a.certificate;
  watch.refuse = &on_refused;
  StepFailure failed = Open(session, a, r, &watch);
  if (!failed) failed = Configure(session, r.request.get(), a);
  if (!failed) failed = Send(r.request.get(), a, watch);
  if (!failed) failed = ReadHead(r.request.get(), answer);
  if (!failed && a.secure) {
    answer.certificate = SeenCertificate(r.request.get(), 0);
    // A key other than the accepted one is refused before the request
    // goes out when on_refused is given; without it, it is only seen here,
    // and the exchange fails and nothing is pinned.
    if (!a.certificate.checks_on && !CertificateAdmitted(a.certificate, answer.certificate))
      failed = Failure{u"Error sending data: the server's certificate was not the one accepted",
                       HttpFailure::kSecureChannel, answer.certificate};
  }
  if (failed) {
    result.failure.kind = failed->kind;
    result.failure.message = std::move(failed->message);
    result.failure.certificate = std::move(failed->certificate);
    result.answer = HttpAnswer();
    return result;
  }
  result.answered = true;
  if (on_head) on_head(answer);
  ReadBody(r.request.get(), answer);
  return result;
}

}  // namespace

AttemptResult PerformWithWinHttp(const HttpAttempt& attempt, const std::function<void(const HttpAnswer&)>& on_head,
                                 const std::function<void(const AttemptResult&)>& on_refused) {
  const WinHttpHandle session(
      WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    AttemptResult result;
    result.failure.kind = HttpFailure::kNoSession;
    result.failure.message = u"Error obtaining session handle";
    return result;
  }
  return PerformOnSession(session.get(), attempt, on_head, on_refused);
}

}  // namespace vantrel
