// Collects the program's debug lines in place of the platform output.
#pragma once

#include <string>
#include <vector>

#include "platform/trace.h"

namespace vantrel::testing {

// Collects the debug lines written while it lives, as UTF-8.
struct TraceRecorder {
  std::vector<std::string> lines;
  TraceRecorder() {
    SetTraceSink([this](const String& line) { lines.push_back(ToUtf8(line)); });
  }
  ~TraceRecorder() { SetTraceSink(nullptr); }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;
};

}  // namespace vantrel::testing
