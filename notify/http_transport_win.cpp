// One HTTP attempt over WinHTTP, synchronous; its own redirects and cookies
// off (the portable exchange does them); the account's proxy configuration,
// else the machine's.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "notify/exchange_failure.h"
#include "notify/http_transport.h"
#include "notify/proxy_choice_win.h"
#include "platform/exception.h"
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

class WinHttpTransport : public HttpTransport {
 public:
  WinHttpTransport()
      : session_(WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)) {
    if (!session_) throw SessionHandleFailure(u"Error obtaining session handle");
  }

  bool Perform(const HttpAttempt& a, HttpAnswer& answer, HttpFailure& failure) override {
    auto fail = [&](const String& message, HttpFailure::Kind kind = HttpFailure::kOther) {
      failure.kind = kind;
      failure.message = message;
      answer = HttpAnswer();
      return false;
    };
    const String host = FromUtf8(a.host);
    WinHttpHandle connection(WinHttpConnect(session_.get(), Wide(host), static_cast<INTERNET_PORT>(a.port), 0));
    if (!connection) return fail(u"Error connecting to server: " + FromUtf8(a.host));
    const String method = FromUtf8(a.method), target = FromUtf8(a.target);
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), Wide(method), Wide(target), L"HTTP/1.1",
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             a.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return fail(u"Error opening request: " + Detail(GetLastError()));
    const HINTERNET req = request.get();
    const int t = a.timeout_ms;
    // WinHttpSetTimeouts leaves the wait for the answer's headers at WinHTTP's
    // own 90 s; the receive limit covers that wait too.
    DWORD response_ms = static_cast<DWORD>(t);
    if (!WinHttpSetTimeouts(req, 0, t, t, t) ||
        !WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_ms, sizeof response_ms))
      return fail(u"Error setting timeout for the request: " + Detail(GetLastError()));
    for (const auto& [name, value] : a.headers) {
      const String line = FromUtf8(name + ": " + value);
      const DWORD flags = name == "Content-type" ? WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
                                                 : (WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
      if (!WinHttpAddRequestHeaders(req, Wide(line), static_cast<DWORD>(-1L), flags))
        return fail(u"Error adding header: " + Detail(GetLastError()));
    }
    ProxyChoice proxy = ChooseProxy(WinHttpProxySources(session_.get(), FromUtf8(AttemptUrl(a))));
    if (proxy.named) UseNamedProxy(req, proxy);
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
    feature = WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
    if (!a.verify_certificate) {
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      WinHttpSetOption(req, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }

    auto secure_or = [&](DWORD err, const String& what) {
      if (err == ERROR_WINHTTP_SECURE_FAILURE) {
        if (a.verify_certificate) {
          WINHTTP_CERTIFICATE_INFO cert{};
          DWORD size = sizeof cert;
          if (!WinHttpQueryOption(req, WINHTTP_OPTION_SECURITY_CERTIFICATE_STRUCT, &cert, &size))
            return fail(u"Error getting Server Certificate");
          for (LPWSTR p : {cert.lpszSubjectInfo, cert.lpszIssuerInfo, cert.lpszProtocolName,
                           cert.lpszSignatureAlgName, cert.lpszEncryptionAlgName})
            if (p) LocalFree(p);
        }
        return fail(what + Detail(err), HttpFailure::kSecureChannel);
      }
      if (err == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED)
        return fail(u"Unspecified certificate from client", HttpFailure::kClientCertificate);
      return fail(what + Detail(err));
    };

    const DWORD total = static_cast<DWORD>(a.body.size());
    if (!WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total, 0))
      return secure_or(GetLastError(), u"Error sending data: ");
    std::size_t sent = 0;
    while (sent < a.body.size()) {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(65536, a.body.size() - sent));
      DWORD written = 0;
      if (!WinHttpWriteData(req, a.body.data() + sent, piece, &written))
        return fail(u"Error sending data: " + Detail(GetLastError()));
      sent += written;
    }
    if (!WinHttpReceiveResponse(req, nullptr)) return secure_or(GetLastError(), u"Error receiving data: ");

    String text;
    if (!QueryString(req, WINHTTP_QUERY_STATUS_CODE, text)) return fail(u"Error receiving data: " + Detail(GetLastError()));
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
    // Past the body limit reading stops; closing the request handle on the
    // way out closes the connection with the rest unread. The status line
    // and the headers have all come: a body that breaks off leaves the
    // answer standing, with the failure beside it.
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
    return true;
  }

 private:
  WinHttpHandle session_;
};

}  // namespace

std::unique_ptr<HttpTransport> NewHttpTransport() { return std::make_unique<WinHttpTransport>(); }

// WinHTTP runs in the process itself: no process is ever started for it.
std::optional<int> RunHttpAttemptProcess() { return std::nullopt; }

}  // namespace vantrel
