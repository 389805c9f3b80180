// Writes error entries to the platform's event log under one source name:
// the Application event log on Windows, the journal on Linux.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"

namespace vantrel {

class EventLogger {
 public:
  explicit EventLogger(String source_name);
  ~EventLogger();
  EventLogger(const EventLogger&) = delete;
  EventLogger& operator=(const EventLogger&) = delete;

  const String& SourceName() const { return source_name_; }

  // Writes one entry whose one string is message. The source is opened on
  // the first entry; when it cannot be opened the entry is lost (Linux falls
  // back to standard error).
  void LogMessage(const String& message, std::uint16_t event_type = 1, std::uint16_t category = 0,
                  std::uint32_t id = 0);

  struct Source;  // the platform's open event source

 private:
  String source_name_;
  std::unique_ptr<Source> source_;
};

}  // namespace vantrel
