// The HTTP exchange of a notice with the client, request and response
// objects the poster makes for one post.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "notify/http_transport.h"
#include "notify/url.h"
#include "platform/text.h"

namespace vantrel {

enum class RestRequestMethod { kGet, kPost };
enum class RestRequestParameterKind { kRequestBody };

struct RestRequestParameter {
  String Name;
  RestRequestParameterKind Kind = RestRequestParameterKind::kRequestBody;
  String ContentType;
  std::string Value;  // the body's bytes, sent as they are (the poster's UTF-8 JSON)
};

class RestClient {
 public:
  // Makes the platform's transport (see NewHttpTransport).
  RestClient();
  // With another transport (tests).
  explicit RestClient(std::unique_ptr<HttpTransport> transport);
  RestClient(const RestClient&) = delete;
  RestClient& operator=(const RestClient&) = delete;

  void SetBaseURL(const String& url) { base_url_ = BaseUrl(url).Normalised(); }
  const String& BaseURL() const { return base_url_; }

  String Accept = u"application/json, text/plain; q=0.9, text/html;q=0.8,";
  String AcceptCharset = u"UTF-8, *;q=0.8";
  String UserAgent = u"Vantrel RESTClient/1.0";
  bool HandleRedirects = true;
  // What is done with a certificate that does not verify (the setting "tls").
  TlsChoice Tls;

  HttpTransport& Transport() { return *transport_; }

 private:
  String base_url_;
  std::unique_ptr<HttpTransport> transport_;
};

class RestResponse {
 public:
  int StatusCode = 0;
  String StatusText;
  String ContentType;  // without the charset parameter
  String ContentEncoding;
  std::vector<String> Headers;  // name=value, in the order received
  std::string RawBytes;
  String Content;  // empty when not decoded or not decodable
  // Whether the request went to a server whose certificate did not verify.
  CertificateReport Certificate;
};

class RestRequest {
 public:
  RestRequest(RestClient& client, RestResponse& response) : client_(client), response_(response) {}

  RestRequestMethod Method = RestRequestMethod::kGet;
  String Resource;
  int Timeout = 30000;
  std::vector<RestRequestParameter> Params;

  // The parameter of that name (letter case ignored), or null.
  RestRequestParameter* ParamByName(const String& name);

  // Runs the exchange to its final answer, left in the response. Failures
  // are Exceptions with the exchange's own messages.
  void Execute();

 private:
  RestClient& client_;
  RestResponse& response_;
};

// Creates the client, then the response, then the request, with the settings
// of the poster and the body parameter "body" (application/json, no value).
void CreateRestComponents(std::unique_ptr<RestClient>& client, std::unique_ptr<RestRequest>& request,
                          std::unique_ptr<RestResponse>& response);

}  // namespace vantrel
