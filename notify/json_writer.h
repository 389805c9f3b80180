// The compact JSON writer of the message document.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class JsonWriter {
 public:
  void Add(char c) { text_ += c; }
  void Add(std::string_view s) { text_ += s; }
  // Writes UTF-8 text with JSON escapes; a zero byte ends the text.
  void AddJSONEscape(std::string_view utf8);
  // Takes back a trailing comma, if there is one.
  void CancelLastComma();
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace vantrel
