// The local wall clock, millisecond resolution.
#pragma once

#include "platform/date_time.h"

namespace vantrel {

// The current local time.
DateTime LocalNow();

}  // namespace vantrel
