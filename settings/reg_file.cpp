#include "settings/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "platform/ascii.h"
#include "platform/whole_number.h"
#include "settings/reg_value_bytes.h"

namespace vantrel {

namespace {

// Upper case of the letters of the Latin, Greek and Cyrillic alphabets, the
// letters that key paths and value names are written in.
char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
    return c - 0x20;
  }
  if (c == 0xFF) return 0x178;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  // Latin Extended-A: upper and lower case letters alternate.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  return c;
}

// A line's end may keep the CR of a last line that has no LF after it.
constexpr std::string_view kBlanksTabsAndCr = " \t\r";

std::string_view TrimLineRight(std::string_view s) { return TrimRight(s, kBlanksTabsAndCr); }

std::string_view TrimLine(std::string_view s) { return TrimLineRight(TrimLeft(s)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits as a number; nothing for anything else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
  return s.size() > 8 ? std::nullopt : WholeNumber<std::uint32_t>(s, 16);
}

// What is left after a value's data: only blanks or a ; comment may follow.
bool OnlyCommentLeft(std::string_view rest) {
  rest = TrimLine(rest);
  return rest.empty() || rest.front() == ';';
}

// Reads a quoted string whose opening quote s[pos] is; pos ends after the
// closing quote. Escapes: \\ \" \n \r \0.
String ParseQuoted(std::string_view s, std::size_t& pos, int line) {
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (c == '"') {
      ++pos;
      return FromUtf8(out);
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos == s.size()) break;
    switch (s[pos]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case '0': out += '\0'; break;
      default: throw RegFileError(line, u"unknown escape \\" + FromUtf8(s.substr(pos, 1)) + u" in a quoted string");
    }
  }
  throw RegFileError(line, u"a quoted string has no closing quote");
}

std::string Escape(std::u16string_view text, bool control_characters) {
  std::string out;
  for (char c : ToUtf8(text)) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (control_characters && c == '\n') {
      out += "\\n";
    } else if (control_characters && c == '\r') {
      out += "\\r";
    } else if (control_characters && c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out;
}

// True when a line ends, before any ; comment, in the backslash that carries
// hex data on to the next line.
bool ContinuesOnNextLine(std::string_view text) {
  text = TrimLineRight(text.substr(0, text.find(';')));
  return !text.empty() && text.back() == '\\';
}

// Adds the comma-separated hex bytes of one piece of hex data to data. An
// empty last item (a trailing comma) is allowed.
void ParseHexBytes(std::string_view piece, std::vector<std::uint8_t>& data, int line) {
  piece = TrimLine(piece);
  if (piece.empty()) return;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = piece.find(',', start);
    const std::string_view item =
        TrimLine(piece.substr(start, comma == std::string_view::npos ? piece.npos : comma - start));
    const bool last = comma == std::string_view::npos;
    if (item.empty() && last && start > 0) return;
    if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 || (item.size() == 2 && HexDigit(item[1]) < 0)) {
      throw RegFileError(line, u"hex data must be hex bytes separated by commas");
    }
    data.push_back(static_cast<std::uint8_t>(*ParseHexNumber(item)));
    if (last) return;
    start = comma + 1;
  }
}

// The text of REG_SZ data that a quoted string can carry: whole characters,
// one NUL at the end and none before it, no line breaks, no lone surrogates.
std::optional<String> PlainText(const std::vector<std::uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  String text = Utf16LeText(data);
  if (text.back() != u'\0') return std::nullopt;
  text.pop_back();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\0' || c == u'\r' || c == u'\n') return std::nullopt;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return text;
}

// "text": a REG_SZ, with nothing but a comment after its closing quote.
RegValue ReadTextData(std::string_view rest, int line) {
  std::size_t end = 0;
  const String text = ParseQuoted(rest, end, line);
  if (!OnlyCommentLeft(rest.substr(end))) throw RegFileError(line, u"characters after the closing quote");
  return RegValue{kRegSz, SzBytes(text)};
}

// The digits after dword:, up to a comment.
RegValue ReadDwordData(std::string_view digits, int line) {
  digits = TrimLine(digits.substr(0, digits.find(';')));
  const auto number = ParseHexNumber(digits);
  if (!number) throw RegFileError(line, u"dword: needs 1 to 8 hex digits");
  return RegValue{kRegDword, DwordBytes(*number)};
}

}  // namespace

RegFileError::RegFileError(int line, const String& problem)
    : Exception(u"line " + IntToStr(line) + u": " + problem), line_(line) {}

bool SameRegistryName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

namespace {

// Splits UTF-16LE bytes (after the mark, an even count) into lines at each
// LF unit; each line keeps its bytes as they were, line end included.
void SplitUtf16Lines(std::string_view bytes, const std::function<void(std::string_view raw)>& take) {
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (bytes[i] == '\n' && bytes[i + 1] == '\0') {
      take(bytes.substr(start, i + 2 - start));
      start = i + 2;
    }
  }
  if (start < bytes.size()) take(bytes.substr(start));
}

}  // namespace

RegFile RegFile::Parse(std::string_view bytes) {
  RegFile file;
  const auto add_line = [&file](std::string_view text, std::optional<std::string> raw) {
    Line line;
    if (!text.empty() && text.back() == '\n') {
      text.remove_suffix(1);
      line.eol = "\n";
      if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
        line.eol = "\r\n";
      }
    }
    line.text = text;
    line.raw = std::move(raw);
    file.lines_.push_back(std::move(line));
  };

  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    file.encoding_ = Encoding::kUtf16Le;
    std::string_view units = bytes.substr(2);
    if (units.size() % 2 != 0) {
      file.odd_byte_ = units.substr(units.size() - 1);
      units.remove_suffix(1);
    }
    SplitUtf16Lines(units, [&](std::string_view raw) {
      const String text = Utf16LeText({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
      add_line(ToUtf8(text), std::string(raw));
    });
  } else {
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
      file.encoding_ = Encoding::kUtf8WithMark;
      text.remove_prefix(3);
    }
    while (!text.empty()) {
      const std::size_t lf = text.find('\n');
      const std::size_t size = lf == std::string_view::npos ? text.size() : lf + 1;
      add_line(text.substr(0, size), std::nullopt);
      text.remove_prefix(size);
    }
  }
  if (!file.lines_.empty() && !file.lines_[0].eol.empty()) file.eol_ = file.lines_[0].eol;
  file.Index();
  return file;
}

void RegFile::Index() {
  sections_.clear();
  entries_.clear();
  if (lines_.empty()) return;
  if (TrimLineRight(lines_[0].text) != kRegFileHeader) {
    throw RegFileError(1, u"the first line is not \"" + FromUtf8(kRegFileHeader) + u"\"");
  }
  for (std::size_t i = 1; i < lines_.size();) {
    const int line = static_cast<int>(i + 1);
    const std::string_view t = TrimLeft(TrimLineRight(lines_[i].text));
    if (t.empty() || t.front() == ';') {
      ++i;
      continue;
    }
    if (t.front() == '[') {
      if (t.back() != ']' || t.size() < 3) throw RegFileError(line, u"a [key] line without its key or closing ]");
      sections_.push_back({FromUtf8(t.substr(1, t.size() - 2)), i + 1});
      ++i;
      continue;
    }
    if (t.front() != '"' && t.front() != '@') {
      throw RegFileError(line, u"neither a [key], a value nor a ; comment");
    }
    if (sections_.empty()) throw RegFileError(line, u"a value before the first [key]");
    Entry entry = ReadEntry(t, i);
    sections_.back().end = entry.first + entry.count;
    i = entry.first + entry.count;
    entries_.push_back(std::move(entry));
  }
}

RegFile::Entry RegFile::ReadEntry(std::string_view t, std::size_t first) const {
  const int line = static_cast<int>(first + 1);
  Entry entry{sections_.back().key, String(), std::nullopt, first, 1};
  std::size_t pos = 0;
  if (t.front() == '@') {
    pos = 1;
  } else {
    entry.name = ParseQuoted(t, pos, line);
  }
  std::string_view rest = TrimLeft(t.substr(pos));
  if (rest.empty() || rest.front() != '=') throw RegFileError(line, u"no = after the value name");
  rest = TrimLeft(rest.substr(1));

  if (!rest.empty() && rest.front() == '"') {
    entry.value = ReadTextData(rest, line);
  } else if (!rest.empty() && rest.front() == '-') {
    if (!OnlyCommentLeft(rest.substr(1))) throw RegFileError(line, u"characters after =-");
  } else if (StartsWithIgnoringAsciiCase(rest, "dword:")) {
    entry.value = ReadDwordData(rest.substr(6), line);
  } else if (StartsWithIgnoringAsciiCase(rest, "hex")) {
    entry.value = ReadHexData(rest, entry);
  } else {
    throw RegFileError(line, u"the data is neither \"text\", -, dword:, hex: nor hex(N):");
  }
  return entry;
}

RegValue RegFile::ReadHexData(std::string_view rest, Entry& entry) const {
  const int line = static_cast<int>(entry.first + 1);
  RegValue value{kRegBinary, {}};
  std::size_t colon = 3;
  if (rest.size() > 3 && rest[3] == '(') {
    const std::size_t close = rest.find(')', 4);
    const auto type = close == std::string_view::npos ? std::nullopt : ParseHexNumber(rest.substr(4, close - 4));
    if (!type) throw RegFileError(line, u"hex(N): needs a type of 1 to 8 hex digits");
    value.type = *type;
    colon = close + 1;
  }
  if (colon >= rest.size() || rest[colon] != ':') throw RegFileError(line, u"no : after hex");
  std::string_view piece = rest.substr(colon + 1);
  int piece_line = line;
  while (true) {
    piece = TrimLineRight(piece.substr(0, piece.find(';')));
    const bool continued = !piece.empty() && piece.back() == '\\';
    if (continued) piece.remove_suffix(1);
    ParseHexBytes(piece, value.data, piece_line);
    if (!continued) break;
    // The data goes on past comment lines; a blank line or the end of the
    // file ends it.
    std::size_t next = entry.first + entry.count;
    while (next < lines_.size() && TrimLeft(lines_[next].text).starts_with(';')) ++next;
    if (next == lines_.size() || TrimLine(lines_[next].text).empty()) break;
    entry.count = next - entry.first + 1;
    piece = lines_[next].text;
    piece_line = static_cast<int>(next + 1);
  }
  return value;
}

std::string RegFile::Encoded(const Line& line) const {
  if (encoding_ != Encoding::kUtf16Le) return line.text + line.eol;
  if (line.raw) return *line.raw;
  const std::vector<std::uint8_t> bytes = Utf16LeBytes(FromUtf8(line.text + line.eol));
  return std::string(bytes.begin(), bytes.end());
}

std::string RegFile::Text() const {
  std::string out;
  if (encoding_ == Encoding::kUtf16Le) out = "\xFF\xFE";
  if (encoding_ == Encoding::kUtf8WithMark) out = "\xEF\xBB\xBF";
  for (const Line& line : lines_) out += Encoded(line);
  // An odd last byte stays the last, after any line added below it, so
  // every unit before it keeps its place.
  return out + odd_byte_;
}

void RegFile::EndLastLine() {
  Line& last = lines_.back();
  if (!last.eol.empty()) return;
  last.eol = eol_;
  if (last.raw) *last.raw += Encoded(Line{"", eol_, std::nullopt});
}

bool RegFile::HasKey(std::u16string_view key) const {
  return std::any_of(sections_.begin(), sections_.end(),
                     [&](const Section& s) { return SameRegistryName(s.key, key); });
}

void RegFile::AppendSection(std::u16string_view key) {
  if (lines_.empty()) {
    lines_.push_back(MakeLine(std::string(kRegFileHeader)));
    lines_.push_back(MakeLine(""));
  }
  EndLastLine();
  if (!TrimLine(lines_.back().text).empty()) lines_.push_back(MakeLine(""));
  lines_.push_back(MakeLine("[" + ToUtf8(key) + "]"));
  lines_.push_back(MakeLine(""));
}

void RegFile::AddKey(std::u16string_view key) {
  if (HasKey(key)) return;
  AppendSection(key);
  Index();
}

std::optional<RegValue> RegFile::Find(std::u16string_view key, std::u16string_view name) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (SameRegistryName(it->key, key) && SameRegistryName(it->name, name)) return it->value;
  }
  return std::nullopt;
}

void RegFile::Set(std::u16string_view key, std::u16string_view name, const RegValue& value) {
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (SameRegistryName(entries_[i].key, key) && SameRegistryName(entries_[i].name, name)) matches.push_back(i);
  }

  if (!matches.empty()) {
    // The last line that sets the value becomes the new one; earlier lines
    // that set it too are dropped, so the file says one thing.
    const std::vector<std::string> texts = FormatRegValue(entries_[matches.front()].name, value);
    for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
      const Entry& entry = entries_[*it];
      const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(entry.first);
      const auto end = first + static_cast<std::ptrdiff_t>(entry.count);
      if (it != matches.rbegin()) {
        lines_.erase(first, end);
        continue;
      }
      const std::string inner_eol = first->eol.empty() ? eol_ : first->eol;
      const std::string last_eol = (end - 1)->eol;
      std::vector<Line> replacement;
      for (const std::string& text : texts) replacement.push_back({text, inner_eol, std::nullopt});
      replacement.back().eol = last_eol;
      const auto at = lines_.erase(first, end);
      lines_.insert(at, replacement.begin(), replacement.end());
    }
    Index();
    return;
  }

  AddKey(key);
  const Section& section = *std::find_if(sections_.rbegin(), sections_.rend(),
                                         [&](const Section& s) { return SameRegistryName(s.key, key); });
  const std::size_t at = section.end;
  if (at == lines_.size()) EndLastLine();
  std::vector<Line> added;
  // Hex data left hanging on a backslash would take the new line as its
  // continuation; a blank line ends it first.
  if (at > 0 && ContinuesOnNextLine(lines_[at - 1].text)) added.push_back(MakeLine(""));
  for (std::string& text : FormatRegValue(name, value)) added.push_back(MakeLine(std::move(text)));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  Index();
}

std::vector<std::string> FormatRegValue(std::u16string_view name, const RegValue& value) {
  std::string head = name.empty() ? "@=" : "\"" + Escape(name, true) + "\"=";

  if (value.type == kRegSz) {
    if (auto text = PlainText(value.data)) return {head + "\"" + Escape(*text, false) + "\""};
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", DwordFromBytes(value.data.data()));
    return {head + "dword:" + digits};
  }

  char kind[16];
  if (value.type == kRegBinary) {
    std::snprintf(kind, sizeof kind, "hex:");
  } else {
    std::snprintf(kind, sizeof kind, "hex(%x):", value.type);
  }
  // Lines of at most 80 characters, continued with a trailing backslash and
  // indented by two blanks, as regedit writes them.
  constexpr std::size_t kWidth = 80;
  std::vector<std::string> lines;
  std::string current = head + kind;
  bool has_byte = false;
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    char item[4];
    std::snprintf(item, sizeof item, i + 1 < value.data.size() ? "%02x," : "%02x", value.data[i]);
    if (has_byte && current.size() + std::char_traits<char>::length(item) + 1 > kWidth) {
      lines.push_back(current + "\\");
      current = "  ";
    }
    current += item;
    has_byte = true;
  }
  lines.push_back(current);
  return lines;
}

}  // namespace vantrel
