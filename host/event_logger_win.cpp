#include <windows.h>

#include "host/event_logger.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

// The open event source; deregistered when the writer goes.
struct EventLogger::Source {
  UniqueHandle<HANDLE, DeregisterEventSource> handle;
};

EventLogger::EventLogger(String source_name) : source_name_(std::move(source_name)) {}

EventLogger::~EventLogger() = default;

void EventLogger::LogMessage(const String& message, std::uint16_t event_type, std::uint16_t category,
                             std::uint32_t id) {
  if (!source_) {
    source_ = std::make_unique<Source>();
    source_->handle.reset(RegisterEventSourceW(nullptr, Wide(source_name_)));
  }
  if (!source_->handle) return;  // not reported: the entry is lost
  const wchar_t* strings[1] = {Wide(message)};
  ReportEventW(source_->handle.get(), event_type, category, id, nullptr, 1, 0, strings, nullptr);
}

}  // namespace vantrel
