// The WMI event source of the Windows build, opened from a named locator.
#pragma once

#include <memory>

#include "watch/event_source.h"

namespace vantrel {

// The ProgID of the WMI scripting locator.
extern const char16_t kWmiLocatorProgId[];

// Creates the locator registered under prog_id and connects it to the local
// "root\CIMV2" namespace; raises Exception on failure. OpenEventSource uses
// kWmiLocatorProgId; tests name an unregistered ProgID to see the failure.
// The calling thread must have COM initialised.
std::unique_ptr<EventSource> OpenWmiEventSource(const String& prog_id);

}  // namespace vantrel
