#include "platform/trace.h"

#include <mutex>

namespace vantrel {

namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

TraceSink& Sink() {
  static TraceSink sink;
  return sink;
}

}  // namespace

void SetTraceSink(TraceSink sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

void TraceLine(const String& text) {
  std::lock_guard lock(SinkMutex());
  if (Sink()) {
    Sink()(text);
  } else {
    WriteDebugOutput(text);
  }
}

void TraceValue(const String& name, const String& value) { TraceLine(name + u"=" + value); }

}  // namespace vantrel
