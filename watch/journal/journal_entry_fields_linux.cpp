#include "watch/journal/journal_entry_fields_linux.h"

#include <utility>

namespace vantrel {

namespace {

enum class EntryField { kOther, kPriority, kHost, kMessage };

// Which of the three a "NAME=value" field is, and its value.
std::pair<EntryField, std::string_view> SortField(std::string_view field) {
  for (const auto& [name, which] : {std::pair<std::string_view, EntryField>{"PRIORITY=", EntryField::kPriority},
                                    {"_HOSTNAME=", EntryField::kHost},
                                    {"MESSAGE=", EntryField::kMessage}}) {
    if (field.starts_with(name)) return {which, field.substr(name.size())};
  }
  return {EntryField::kOther, field};
}

// The digit of a PRIORITY value; -1 when it is no single digit.
int PriorityOf(std::string_view value) {
  return value.size() == 1 && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : -1;
}

// The EventType of a syslog priority; 0 for one never selected.
int EventTypeOfPriority(int priority) {
  if (priority < 0) return 0;
  if (priority <= 3) return 1;
  if (priority == 4) return 2;
  if (priority <= 6) return 3;
  return 0;
}

std::string Cut(std::string_view value) { return std::string(value.substr(0, kMaxFieldBytes)); }

}  // namespace

void JournalFieldViews::Take(std::string_view field) {
  const auto [which, value] = SortField(field);
  switch (which) {
    case EntryField::kPriority: priority = PriorityOf(value); break;
    case EntryField::kHost: host = value; break;
    case EntryField::kMessage: message = value; break;
    case EntryField::kOther: break;
  }
}

void JournalEntryFields::Take(std::string_view field) {
  const auto [which, value] = SortField(field);
  switch (which) {
    case EntryField::kPriority: event_type = EventTypeOfPriority(PriorityOf(value)); break;
    case EntryField::kHost: host = Cut(value); break;
    case EntryField::kMessage: message = Cut(value); break;
    case EntryField::kOther: break;
  }
}

JournalEntryFields JournalEntryFields::Of(const JournalFieldViews& views) {
  JournalEntryFields fields{EventTypeOfPriority(views.priority), std::nullopt, std::nullopt};
  if (views.host) fields.host = Cut(*views.host);
  if (views.message) fields.message = Cut(*views.message);
  return fields;
}

}  // namespace vantrel
