// One attempt's outcome as bytes, for an attempt made in another process and
// handed back through a pipe: the answer, or the failure, whole.
#pragma once

#include <string>
#include <string_view>

#include "notify/http_transport.h"

namespace vantrel {

// The outcome of Perform: answered with answer, or not with failure.
struct AttemptResult {
  bool answered = false;
  HttpAnswer answer;
  HttpFailure failure;
};

// The result as bytes that DecodeAttemptResult reads back.
std::string EncodeAttemptResult(const AttemptResult& result);

// Reads bytes that EncodeAttemptResult wrote; false when they are not one
// whole result (an attempt that ended before it had written all of it).
bool DecodeAttemptResult(std::string_view bytes, AttemptResult& result);

}  // namespace vantrel
