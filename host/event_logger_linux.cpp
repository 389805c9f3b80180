#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host/event_logger.h"

namespace vantrel {

// The journal needs no open source; the name travels with every entry.
struct EventLogger::Source {};

EventLogger::EventLogger(String source_name) : source_name_(std::move(source_name)) {}

EventLogger::~EventLogger() = default;

void EventLogger::LogMessage(const String& message, std::uint16_t event_type, std::uint16_t, std::uint32_t) {
  // Event types: 1 error, 2 warning, 4 information; syslog priorities 3, 4, 6.
  const int priority = event_type == 1 ? 3 : event_type == 2 ? 4 : 6;
  const std::string text = ToUtf8(message);
  const std::string source = ToUtf8(source_name_);
  // sd_journal_send drops an entry without a word when no journal runs (its
  // socket is missing), so that case goes to standard error as well.
  const bool journal_runs = access("/run/systemd/journal/socket", W_OK) == 0;
  const int r = journal_runs ? sd_journal_send("MESSAGE=%s", text.c_str(), "SYSLOG_IDENTIFIER=%s", source.c_str(),
                                               "PRIORITY=%d", priority, nullptr)
                             : -ENOENT;
  if (r < 0) std::fprintf(stderr, "%s: %s\n", source.c_str(), text.c_str());
}

}  // namespace vantrel
