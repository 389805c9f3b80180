#include <memory>

#include "notify/rest_client.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

// One POST of the document to fchatavain; true exactly on 200.
// The request, the response and the client are released in that order on
// every way out (locals are destroyed in reverse order of declaration).
bool TVantrelSrv::postaa(MessageDocument data) {
  std::unique_ptr<RestClient> RESTClient1;
  std::unique_ptr<RestResponse> RESTResponse1;
  std::unique_ptr<RestRequest> RESTRequest1;

  last_post_ = PostReport();
  // Steps 1 to 4: failures here are not caught.
  CreateRestComponents(RESTClient1, RESTRequest1, RESTResponse1);
  RESTClient1->SetBaseURL(fchatavain);
  RestRequestParameter* body = RESTRequest1->ParamByName(u"body");
  body->Options = 0;
  body->Value = data.ToJson();
  RESTRequest1->Method = RestRequestMethod::kPost;

  try {
    RESTRequest1->Execute();
  } catch (const std::exception&) {
    last_post_.failure = CurrentFailureMessage();
    TraceValue(u"virhe chat postauksesssa ", last_post_.failure);
    return false;
  }
  last_post_.status_code = RESTResponse1->StatusCode;
  last_post_.status_text = RESTResponse1->StatusText;
  TraceValue(u"resposene", RESTResponse1->StatusText);
  TraceValue(u"statuscode", IntToStr(RESTResponse1->StatusCode));
  TraceValue(u"statustxt", RESTResponse1->StatusText);
  return RESTResponse1->StatusCode == 200;
}

}  // namespace vantrel
