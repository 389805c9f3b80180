// The process environment.
#pragma once

#include <optional>

#include "platform/text.h"

namespace vantrel {

// The value of an environment variable, its name compared without regard to
// letter case; nothing when it is not set.
std::optional<String> GetEnvironmentValue(const String& name);

// The computer's name as the notice shows it: the variable "computername"
// (on Linux the host name when that variable is not set).
String ComputerName();

}  // namespace vantrel
