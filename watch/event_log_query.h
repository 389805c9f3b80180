// The event log query: new error and warning entries of the watched source.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace vantrel {

class EventSource;

// Ordered lines, two per entry found.
using EventLines = std::vector<String>;

// Appends two lines per entry of the watched source whose record number is
// above record_number (errors and warnings; information too on a first run)
// and raises record_number to the highest one read. Never raises: a failure
// is traced and keeps what was gathered until then.
void QueryEventLog(std::int32_t& record_number, EventLines& lines, bool first_run);

// The same query against the source that open_source connects to; tests and
// QueryEventLog (with the platform's source) go through it.
void QueryEventLogFrom(const std::function<std::unique_ptr<EventSource>()>& open_source, std::int32_t& record_number,
                       EventLines& lines, bool first_run);

// The WQL text that asks for the entries above record_number.
String EventLogQueryText(std::int32_t record_number, bool first_run);

}  // namespace vantrel
