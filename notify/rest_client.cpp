#include "notify/rest_client.h"

#include "notify/answer_body.h"
#include "notify/cookie_jar.h"
#include "notify/exchange_failure.h"
#include "platform/ascii.h"

namespace vantrel {

namespace {

constexpr int kMaxRedirects = 5;

const std::string* FindHeader(const HttpHeaders& headers, std::string_view name) {
  for (const auto& h : headers)
    if (EqualsIgnoringAsciiCase(h.first, name)) return &h.second;
  return nullptr;
}

// Makes attempts from the encoded URL on until an answer is final: a
// redirect goes to its Location (a POST becomes a GET without a body after
// 301 to 303), a certificate the platform refuses is dealt with as the
// client's "tls" choice says (certificate_rule.h), and the exchange's
// cookies go with every attempt. Raises the exchange's failures; report
// tells what became of the certificate.
HttpAnswer FollowRedirects(RestClient& client, std::string current, HttpAttempt attempt,
                           const std::string& content_type, CertificateReport& report) {
  CookieJar cookies;
  int redirects = 0;
  CertificateGate gate;      // the checks on, until a certificate is accepted
  CertificateFacts refused;  // what the first refused certificate showed
  for (;;) {
    const RequestUrl target = SplitRequestUrl(current);
    attempt.secure = target.secure;
    attempt.host = target.host;
    attempt.port = target.port;
    attempt.target = target.target;
    attempt.certificate = gate;
    attempt.headers = {{"Accept", ToUtf8(client.Accept)},
                       {"Accept-Charset", ToUtf8(client.AcceptCharset)},
                       {"User-Agent", ToUtf8(client.UserAgent)}};
    if (!content_type.empty()) attempt.headers.emplace_back("Content-type", content_type);
    const std::string cookie = cookies.HeaderFor(target);
    if (!cookie.empty()) attempt.headers.emplace_back("Cookie", cookie);

    HttpAnswer answer;
    HttpFailure failure;
    if (!client.Transport().Perform(attempt, answer, failure)) {
      if (failure.kind == HttpFailure::kSecureChannel) {
        const CertificateStep step = AfterCertificateRefused(client.Tls, gate, failure.certificate, failure.message);
        if (!step.retry) FailExchange(step.failure);
        // The certificate is accepted: send again without the checks.
        refused = failure.certificate;
        gate.checks_on = false;
        gate.accepted_key = step.accepted_key;
        continue;
      }
      if (failure.kind == HttpFailure::kNoSession) throw SessionHandleFailure(kSessionHandleMessage, failure.message);
      FailExchange(failure.message);
    }
    // A body that broke off fails the exchange, except after a 200: the chat
    // server took the notice when it answered so, and failing here would
    // post it again at the next check.
    if (!answer.body_failure.empty() && answer.status != 200) FailExchange(answer.body_failure);
    cookies.Take(target, answer.headers);

    if (answer.status < 300 || answer.status > 399 || !client.HandleRedirects) {
      report = ReportCertificate(client.Tls, gate, refused, answer.certificate);
      return answer;
    }
    if (++redirects > kMaxRedirects)
      FailExchange(u"Maximum number of redirections (" + IntToStr(kMaxRedirects) + u") exceeded");
    const std::string* location = FindHeader(answer.headers, "Location");
    current = ResolveLocation(target.Text(), location ? *location : std::string());
    // The GET keeps the request's headers, Content-type included: every
    // attempt is made with the same header set, only without the body.
    if (answer.status >= 301 && answer.status <= 303 && attempt.method == "POST") {
      attempt.method = "GET";
      attempt.body.clear();
    }
  }
}

// Fills r from the final answer. A body that is read as text but cannot be
// decoded fails the exchange (r left empty), except after a 200.
void ReadAnswer(HttpAnswer answer, RestResponse& r) {
  r.StatusCode = answer.status;
  r.StatusText = FromUtf8(answer.reason);
  ContentTypeParts type;
  std::string encoding;
  if (const std::string* ct = FindHeader(answer.headers, "Content-Type")) type = SplitContentType(*ct);
  if (const std::string* ce = FindHeader(answer.headers, "Content-Encoding")) encoding = Trim(*ce);
  r.ContentType = FromUtf8(type.media);
  r.ContentEncoding = FromUtf8(encoding);
  for (const auto& [name, value] : answer.headers) r.Headers.push_back(FromUtf8(name + "=" + value));
  r.RawBytes = std::move(answer.body);
  if (!AnswerBodyIsText(answer.status, type)) return;
  String text, message;
  bool decoded = false;
  if (!answer.body_failure.empty()) {
    message = answer.body_failure;
  } else if (answer.body_cut) {
    message = u"Error reading the answer: it is longer than 16 MiB";
  } else {
    decoded = DecodeBody(r.RawBytes, encoding, type.charset, text, message);
  }
  if (decoded) {
    r.Content = std::move(text);
  } else if (answer.status != 200) {
    r = RestResponse();
    FailExchange(message);
  }
  // A 200 whose body cannot be decoded (or was cut, or broke off) does not
  // fail: the chat server has taken the notice, and failing here would post
  // it again at the next check. The status stands and the text stays empty.
}

}  // namespace

RestClient::RestClient() : transport_(NewHttpTransport()) {}

RestClient::RestClient(std::unique_ptr<HttpTransport> transport) : transport_(std::move(transport)) {}

RestRequestParameter* RestRequest::ParamByName(const String& name) {
  for (auto& p : Params)
    if (EqualsIgnoringAsciiCase(p.Name, name)) return &p;
  return nullptr;
}

void RestRequest::Execute() {
  response_ = RestResponse();
  String url16 = client_.BaseURL();
  if (!Resource.empty()) url16 += u"/" + Resource;
  std::string url = EncodeRequestUrl(url16);

  HttpAttempt attempt;
  attempt.method = Method == RestRequestMethod::kPost ? "POST" : "GET";
  std::string content_type;
  for (const auto& p : Params) {
    if (p.Kind != RestRequestParameterKind::kRequestBody) continue;
    attempt.body += p.Value;
    if (content_type.empty()) content_type = ToUtf8(p.ContentType);
  }
  const int phase_ms = HttpPhaseTimeoutMs();
  attempt.timeout_ms = phase_ms < Timeout ? phase_ms : Timeout;

  CertificateReport certificate;
  ReadAnswer(FollowRedirects(client_, std::move(url), std::move(attempt), content_type, certificate), response_);
  response_.Certificate = std::move(certificate);
}

void CreateRestComponents(std::unique_ptr<RestClient>& client, std::unique_ptr<RestRequest>& request,
                          std::unique_ptr<RestResponse>& response) {
  client = std::make_unique<RestClient>();
  response = std::make_unique<RestResponse>();
  request = std::make_unique<RestRequest>(*client, *response);
  request->Method = RestRequestMethod::kPost;
  request->Timeout = 120000;
  RestRequestParameter body;
  body.Name = u"body";
  body.Kind = RestRequestParameterKind::kRequestBody;
  body.ContentType = u"application/json";
  request->Params.push_back(std::move(body));
}

}  // namespace vantrel
