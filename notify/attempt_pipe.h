// One attempt as bytes, for an attempt made in another process: the attempt
// handed to that process, and what it hands back through a pipe (the head of
// a 200 answer as soon as it has come, then the whole result).
#pragma once

#include <string>
#include <string_view>

#include "notify/answer_reading.h"
#include "notify/http_attempt.h"

namespace vantrel {

// What the attempt process is asked to do.
struct AttemptRequest {
  HttpAttempt attempt;
  std::string library;  // the HTTP library to load in place of the usual one; empty for that
  // A file of certificate authorities trusted in place of the system's;
  // empty for those (tests only).
  std::string trusted_authorities;
};

std::string EncodeAttemptRequest(const AttemptRequest& request);
// False when bytes are not one whole request.
bool DecodeAttemptRequest(std::string_view bytes, AttemptRequest& request);

// The outcome of Perform: answered with answer, or not with failure.
struct AttemptResult {
  bool answered = false;
  HttpAnswer answer;
  HttpFailure failure;
};

// The result as bytes that DecodeAttemptResult reads back.
std::string EncodeAttemptResult(const AttemptResult& result);

// The status line and headers of an answer (without its body), sent ahead
// of the result once they have all come.
std::string EncodeAnswerHead(const HttpAnswer& answer);

// How much of an attempt process's output has come.
enum class AttemptOutput {
  kNothing,  // no whole head and no whole result: the attempt ended early
  kHead,     // the head of an answer alone: result.answer has its status, reason and headers
  kWhole,    // the whole result
};

// Reads what EncodeAnswerHead (at most once) and then EncodeAttemptResult
// wrote, or the start of it: a head followed by part of a result is kHead.
// Bytes of another kind, or more after a whole result, are kNothing.
AttemptOutput DecodeAttemptResult(std::string_view bytes, AttemptResult& result);

// What an attempt process sends at the most: the body and the headers up to
// their limits (the head of a 200 twice), and the framing around them.
constexpr std::size_t kMaxAttemptResultBytes = kMaxAnswerBody + 2 * kMaxAnswerHeaders + (std::size_t{1} << 16);
// The most an encoded attempt may be; a notice is a few kilobytes.
constexpr std::size_t kMaxAttemptRequestBytes = std::size_t{1} << 20;

// Why the service stopped reading an attempt process's output.
enum class AttemptEnd {
  kEnded,     // the process ended (or its output did)
  kStopped,   // the service's stop came first; the process was ended
  kOverdue,   // the attempt's whole time ran out; the process was ended
  kTooLarge,  // more came than a result can hold; the process was ended
};

// The attempt's outcome from what its process wrote (bytes) and how it
// ended (end, and end_text: its exit code or signal, for kEnded), as
// Perform gives it: true with answer when a whole answered result came or
// a 200's head did (its body failure then says why the rest is missing),
// else false with failure.
bool SettleAttempt(std::string_view bytes, AttemptEnd end, const String& end_text, HttpAnswer& answer,
                   HttpFailure& failure);

}  // namespace vantrel
