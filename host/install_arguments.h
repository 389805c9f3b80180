// The instance name an install run takes from its command line.
#pragma once

#include <functional>
#include <vector>

#include "platform/text.h"

namespace vantrel {

// The instance name from the counted arguments (CountedArguments): the last
// one not beginning with "/", empty when none. trace receives "paramcount"
// and "paramN" lines for the counted arguments.
String InstanceNameFromArguments(const std::vector<String>& args,
                                 const std::function<void(const String&, const String&)>& trace);

}  // namespace vantrel
