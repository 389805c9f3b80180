// What a debug line has said, so that a line every check would repeat (the
// same reason for the same values) is written once for the values as they
// stand, and again only when they change.
#pragma once

#include <map>

#include "platform/text.h"

namespace vantrel {

class SaidOnce {
 public:
  // True when `what` is not what was last said of `subject`; it is then
  // noted as said.
  bool First(const String& subject, const String& what) {
    const auto [at, added] = said_.try_emplace(subject, what);
    if (added) return true;
    if (at->second == what) return false;
    at->second = what;
    return true;
  }

 private:
  std::map<String, String> said_;
};

}  // namespace vantrel
