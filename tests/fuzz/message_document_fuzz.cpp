// libFuzzer target: any UTF-16 line gives JSON whose "text" decodes to the
// line cut at its first NUL or unpaired surrogate.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "notify/message_document.h"
#include "tests/notify/message_text_cases.h"

namespace {

// Decodes the JSON string that starts after `{"text":"`; aborts on anything
// a JSON parser would refuse.
std::string DecodeTextMember(const std::string& json) {
  const std::string head = "{\"text\":\"";
  if (json.compare(0, head.size(), head) != 0 || json.size() < head.size() + 2 ||
      json.compare(json.size() - 2, 2, "\"}") != 0)
    std::abort();
  std::string out;
  for (std::size_t i = head.size(); i < json.size() - 2; ++i) {
    const auto c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c == '"') std::abort();
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (++i >= json.size() - 2) std::abort();
    switch (json[i]) {
      case 'b': out += '\b'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'f': out += '\f'; break;
      case 'r': out += '\r'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 'u':
        if (i + 4 >= json.size() - 2 || json.compare(i + 1, 2, "00") != 0) std::abort();
        out += static_cast<char>(std::stoi(json.substr(i + 3, 2), nullptr, 16));
        i += 4;
        break;
      default: std::abort();
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel::String line;
  for (std::size_t i = 0; i + 1 < size; i += 2) line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  vantrel::MessageDocument doc;
  doc.InitFast();
  doc.SetMember(u"text", line);
  if (DecodeTextMember(doc.ToUtf8Json()) != vantrel::ToUtf8(vantrel::testing::ExpectedDocText(line))) std::abort();
  return 0;
}
