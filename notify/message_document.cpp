#include "notify/message_document.h"

#include "notify/json_writer.h"
#include "platform/ascii.h"

namespace vantrel {

std::string DocTextToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    char32_t cp = c;
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      if (i + 1 >= s.size()) break;
      const char16_t next = s[i + 1];
      char16_t high = c, low = next;
      if (IsLowSurrogate(c) && IsHighSurrogate(next)) std::swap(high, low);
      if (!IsHighSurrogate(high) || !IsLowSurrogate(low)) break;
      cp = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void MessageDocument::InitFast() { members_ = std::make_shared<Members>(); }

void MessageDocument::SetMember(const String& name, const String& value) {
  std::string utf8_name = DocTextToUtf8(name);
  std::string utf8_value = DocTextToUtf8(value);
  for (auto& [member_name, member_value] : members_->items) {
    if (EqualsIgnoringAsciiCase(member_name, utf8_name)) {
      member_value = std::move(utf8_value);
      return;
    }
  }
  members_->items.emplace_back(std::move(utf8_name), std::move(utf8_value));
  members_->kind = MessageDocumentKind::kObject;
}

std::string MessageDocument::ToUtf8Json() const {
  if (members_->kind == MessageDocumentKind::kUndefined) return "null";
  JsonWriter writer;
  writer.Add('{');
  for (const auto& [name, value] : members_->items) {
    writer.Add('"');
    writer.AddJSONEscape(name);
    writer.Add("\":\"");
    writer.AddJSONEscape(value);
    writer.Add("\",");
  }
  writer.CancelLastComma();
  writer.Add('}');
  return writer.Text();
}

}  // namespace vantrel
