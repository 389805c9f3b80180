#include "notify/poster.h"

#include <memory>

#include "notify/exchange_failure.h"
#include "notify/rest_client.h"
#include "platform/exception.h"
#include "platform/trace.h"

namespace vantrel {

// The request, the response and the client are released in that order on
// every way out (locals are destroyed in reverse order of declaration).
PostReport PostToWebhook(const String& url, const MessageDocument& notice, const TlsChoice& tls) {
  std::unique_ptr<RestClient> RESTClient1;
  std::unique_ptr<RestResponse> RESTResponse1;
  std::unique_ptr<RestRequest> RESTRequest1;

  // Preparing the request: failures here are not caught.
  CreateRestComponents(RESTClient1, RESTRequest1, RESTResponse1);
  RESTClient1->SetBaseURL(url);
  RESTClient1->Tls = tls;
  RESTRequest1->ParamByName(u"body")->Value = notice.ToUtf8Json();

  PostReport report;
  try {
    RESTRequest1->Execute();
  } catch (const SessionHandleFailure&) {
    throw;  // no HTTP stack at all: the check fails, as when preparing fails
  } catch (const std::exception&) {
    report.failure = CurrentFailureMessage();
    TraceValue(u"virhe chat postauksesssa ", report.failure);
    return report;
  }
  report.status_code = RESTResponse1->StatusCode;
  report.status_text = RESTResponse1->StatusText;
  report.certificate = RESTResponse1->Certificate;
  TraceValue(u"resposene", report.status_text);
  TraceValue(u"statuscode", IntToStr(report.status_code));
  TraceValue(u"statustxt", report.status_text);
  return report;
}

}  // namespace vantrel
