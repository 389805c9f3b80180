#include "notify/post_report.h"

#include "notify/exchange_failure.h"

namespace vantrel {

String PostReport::Describe() const {
  if (status_code != 0) {
    return u"HTTP " + IntToStr(status_code) + (status_text.empty() ? String() : u" " + status_text);
  }
  if (failure.starts_with(kExchangeFailurePrefix)) return failure.substr(std::size(kExchangeFailurePrefix) - 1);
  return failure;
}

}  // namespace vantrel
