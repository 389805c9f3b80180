// libFuzzer target for the webhook URL on its way to the wire. For any
// UTF-16 text:
// - normalising either raises "Host field is empty" or gives a URL with a
//   scheme separator, no trailing slash and no leading blank, which a
//   second normalisation leaves as it is (unless it ends in a blank that
//   the trailing-slash removal laid bare, or its authority is of a kind the
//   rules leave open: user information, IPv6 literal, several colons);
// - encoding gives a path and query without a raw blank, control byte,
//   non-ASCII byte or escaped character, with every % starting an
//   upper-case escape, and percent-decoding them gives the text back;
// - splitting either fails with "Invalid URL" or gives parts that survive
//   being written out and split again;
// - resolving any Location against the split URL does not crash.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "notify/url.h"
#include "platform/exception.h"

namespace {

using vantrel::Exception;
using vantrel::String;

[[noreturn]] void Fault() { std::abort(); }

String Utf16(const std::string& raw) {
  String s;
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
    s += static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8);
  return s;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits are not what the encoder writes
}

// Checks the encoded path-and-query and returns it percent-decoded.
std::string CheckedDecode(const std::string& encoded) {
  std::string out;
  bool in_query = false;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const auto b = static_cast<unsigned char>(encoded[i]);
    if (b <= 32 || b >= 0x7F || std::strchr("*<>#{}|\\^[]\"`", encoded[i]) != nullptr) Fault();
    if (b == '?') in_query = true;
    if (b == '+' && !in_query) Fault();
    if (b != '%') {
      out += encoded[i];
      continue;
    }
    if (i + 2 >= encoded.size() || Hex(encoded[i + 1]) < 0 || Hex(encoded[i + 2]) < 0) Fault();
    out += static_cast<char>(Hex(encoded[i + 1]) << 4 | Hex(encoded[i + 2]));
    i += 2;
  }
  return out;
}

// The authority of a URL is one the rules fully cover: a host and at most
// one port, nothing else. A URL without a scheme is read as normalising
// reads it, after "http://".
bool PlainAuthority(const String& input) {
  const String url = input.find(u"://") == String::npos ? u"http://" + input : input;
  const std::size_t sep = url.find(u"://");
  const std::size_t end = url.find_first_of(u"/?#\\", sep + 3);
  const String authority = url.substr(sep + 3, end == String::npos ? String::npos : end - (sep + 3));
  std::size_t colons = 0;
  for (char16_t c : authority) {
    if (c == u'@' || c == u'[' || c == u']') return false;
    colons += c == u':';
  }
  return colons <= 1;
}

void CheckNormalise(const String& input, String& normal) {
  try {
    normal = vantrel::BaseUrl(input).Normalised();
  } catch (const Exception& e) {
    if (e.Message() != u"Host field is empty") Fault();
    normal.clear();
    return;
  }
  if (normal.empty()) return;
  if (normal.find(u"://") == String::npos || normal.back() == u'/' || normal.front() <= 32) Fault();
  if (normal.back() > 32 && PlainAuthority(input) && vantrel::BaseUrl(normal).Normalised() != normal) Fault();
}

void CheckEncode(const String& url, std::string& encoded) {
  try {
    encoded = vantrel::EncodeRequestUrl(url);
  } catch (const Exception& e) {
    if (!url.empty() || e.Message() != u"Protocol field is empty") Fault();
    return;
  }
  if (url.empty()) Fault();
  if (url.find(u'{') != String::npos) return;  // placeholders are dropped first
  const std::string text = vantrel::ToUtf8(url);
  std::size_t origin_end = 0;
  const std::size_t sep = text.find("://");
  if (sep != std::string::npos) origin_end = std::min(text.find_first_of("/?#", sep + 3), text.size());
  if (encoded.compare(0, origin_end, text, 0, origin_end) != 0) Fault();
  if (CheckedDecode(encoded.substr(origin_end)) != text.substr(origin_end)) Fault();
}

void CheckSplit(const std::string& encoded, const std::string& location) {
  vantrel::RequestUrl url;
  try {
    url = vantrel::SplitRequestUrl(encoded);
  } catch (const Exception& e) {
    if (e.Message().rfind(u"REST request failed: Invalid URL: \"", 0) != 0) Fault();
    return;
  }
  if (url.host.empty() || url.target.empty() || url.target[0] != '/' || url.port < 1 || url.port > 65535) Fault();
  if (url.host.find(':') == std::string::npos) {
    const vantrel::RequestUrl again = vantrel::SplitRequestUrl(url.Text());
    if (again.secure != url.secure || again.scheme != url.scheme || again.host != url.host || again.port != url.port ||
        again.target != url.target)
      Fault();
  }
  const std::string next = vantrel::ResolveLocation(url.Text(), location);
  try {
    vantrel::SplitRequestUrl(next);
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  const std::string location = fdp.ConsumeRandomLengthString(256);
  const bool utf16 = fdp.ConsumeBool();
  const std::string rest = fdp.ConsumeRemainingBytesAsString();
  const String input = utf16 ? Utf16(rest) : vantrel::FromUtf8(rest);

  String normal;
  CheckNormalise(input, normal);
  std::string encoded;
  CheckEncode(input, encoded);
  if (!normal.empty()) {
    CheckEncode(normal, encoded);
    CheckSplit(encoded, location);
  }
  return 0;
}
