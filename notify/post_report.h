// What one post of a notice gave, as the check cycle reads it.
#pragma once

#include "notify/certificate_rule.h"
#include "platform/text.h"

namespace vantrel {

// What one post gave: the chat's answer, or the failure that ended the
// exchange before an answer came.
struct PostReport {
  int status_code = 0;  // 0 while no answer came
  String status_text;
  String failure;  // the exchange's failure message when no answer came
  // For an answer: whether it came from a server whose certificate did not
  // verify, and the key to pin.
  CertificateReport certificate;

  // True exactly when the chat answered 200; no other status counts.
  bool Delivered() const { return status_code == 200; }

  // "HTTP 500 Internal Server Error", or the failure without the prefix
  // "REST request failed: "; empty when nothing is known.
  String Describe() const;
};

}  // namespace vantrel
