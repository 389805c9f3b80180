#include "notify/json_writer.h"

namespace vantrel {

void JsonWriter::AddJSONEscape(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : utf8) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case 0: return;
      case '\b': text_ += "\\b"; break;
      case '\t': text_ += "\\t"; break;
      case '\n': text_ += "\\n"; break;
      case '\f': text_ += "\\f"; break;
      case '\r': text_ += "\\r"; break;
      case '"': text_ += "\\\""; break;
      case '\\': text_ += "\\\\"; break;
      default:
        if (byte < 0x20) {
          text_ += "\\u00";
          text_ += kHex[byte >> 4];
          text_ += kHex[byte & 0xF];
        } else {
          text_ += ch;
        }
    }
  }
}

void JsonWriter::CancelLastComma() {
  if (!text_.empty() && text_.back() == ',') text_.pop_back();
}

}  // namespace vantrel
