#include "watch/journal/journal_entry_fields_linux.h"

namespace vantrel {

namespace {

// The EventType of a syslog priority; 0 for one never selected.
int EventTypeOfPriority(int priority) {
  if (priority < 0) return 0;
  if (priority <= 3) return 1;
  if (priority == 4) return 2;
  if (priority <= 6) return 3;
  return 0;
}

std::optional<std::string> Cut(const std::optional<std::string_view>& value) {
  if (!value) return std::nullopt;
  return std::string(value->substr(0, kMaxFieldBytes));
}

}  // namespace

void JournalFieldViews::Take(std::string_view field) {
  if (field.starts_with("PRIORITY=")) {
    const char digit = field.size() == sizeof "PRIORITY=0" - 1 ? field.back() : 'x';
    priority = digit >= '0' && digit <= '9' ? digit - '0' : -1;
  } else if (field.starts_with("_HOSTNAME=")) {
    host = field.substr(sizeof "_HOSTNAME=" - 1);
  } else if (field.starts_with("MESSAGE=")) {
    message = field.substr(sizeof "MESSAGE=" - 1);
  }
}

JournalEntryFields JournalEntryFields::Of(const JournalFieldViews& views) {
  return JournalEntryFields{EventTypeOfPriority(views.priority), Cut(views.host), Cut(views.message)};
}

}  // namespace vantrel
