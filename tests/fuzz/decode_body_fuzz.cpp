// libFuzzer target for reading an answer body: any bytes, plain or declared
// gzip, under any charset, decode or fail with a message and no text.
// What UTF-8 decoding accepts encodes back to the same bytes, and a
// single-byte charset gives one character per byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "notify/answer_body.h"

namespace {

[[noreturn]] void Fault() { std::abort(); }

const char* const kCharsets[] = {"",         "utf-8",    "UTF-8",  " utf8 ", "iso-8859-1", "us-ascii",
                                 "utf-16le", "utf-16be", "utf-16", "koi8-r", "\"utf-8\""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  const std::string encoding = fdp.ConsumeBool() ? "gzip" : (fdp.ConsumeBool() ? "" : "GZIP");
  const std::string charset =
      fdp.ConsumeBool() ? std::string(fdp.PickValueInArray(kCharsets)) : fdp.ConsumeRandomLengthString(16);
  const std::string body = fdp.ConsumeRemainingBytesAsString();

  vantrel::String text, message;
  if (!vantrel::DecodeBody(body, encoding, charset, text, message)) {
    if (message.empty() || !text.empty()) Fault();
    return 0;
  }
  if (encoding == "gzip" && !body.empty()) return 0;  // what was inflated is not known here
  std::string lower;
  for (char c : charset)
    if (c != ' ' && c != '\t') lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if ((lower.empty() || lower == "utf-8" || lower == "utf8") && vantrel::ToUtf8(text) != body) Fault();
  if (lower == "iso-8859-1" && text.size() != body.size()) Fault();
  return 0;
}
