// The registry export format ("Windows Registry Editor Version 5.00") that
// the Linux settings file is kept in: read into keys and values, and written
// back with one value changed while every other line stays as it was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "platform/text.h"

namespace vantrel {

// The first line of every file in the format.
inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

// One value as the registry holds it: its type and its raw bytes.
struct RegValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;

  bool operator==(const RegValue&) const = default;
};

// A line of the file that cannot be read. Line() counts from 1; the message
// says what is wrong with it.
class RegFileError : public Exception {
 public:
  RegFileError(int line, const String& problem);
  int Line() const { return line_; }

 private:
  int line_;
};

// True when two key paths or value names are the same to the registry, which
// compares them without regard to letter case.
bool SameRegistryName(std::u16string_view a, std::u16string_view b);

class RegFile {
 public:
  // A file of no bytes: no header yet and no keys.
  RegFile() = default;

  // Reads a file's bytes: UTF-16LE after its byte-order mark, UTF-8 otherwise
  // (with or without its byte-order mark); CR LF or LF line ends. A file of
  // no bytes is an empty file. Raises RegFileError naming the first bad line.
  static RegFile Parse(std::string_view bytes);

  // The file's bytes, in the encoding it was read in (a new file: UTF-8
  // without a mark), its byte-order mark included. Every line that no Set or
  // AddKey replaced is byte for byte as it was read, comments, other keys,
  // lone surrogates and a trailing odd byte included.
  std::string Text() const;

  // True when some section names key.
  bool HasKey(std::u16string_view key) const;

  // Adds an empty section for key at the end, unless one exists.
  void AddKey(std::u16string_view key);

  // The value named name under key; nothing when the file has none (or only
  // a "name"=- line that deletes it). When several lines set the value, the
  // last one counts, as an import would leave it.
  std::optional<RegValue> Find(std::u16string_view key, std::u16string_view name) const;

  // Creates or replaces the value. Its line (or lines) are rewritten in place
  // under the value's first spelling; a new value goes at the end of the
  // key's last section; a missing key gets a new section at the end.
  void Set(std::u16string_view key, std::u16string_view name, const RegValue& value);

 private:
  struct Line {
    std::string text;  // UTF-8, without its line end
    std::string eol;   // "\r\n", "\n", or empty for a last line without one
    // A UTF-16LE file's line as read, line end included; written back as it
    // stands, so what the UTF-8 text cannot hold (a lone surrogate) stays.
    std::optional<std::string> raw;
  };
  enum class Encoding { kUtf8, kUtf8WithMark, kUtf16Le };
  struct Entry {
    String key;
    String name;
    std::optional<RegValue> value;  // nothing for "name"=-
    std::size_t first;              // index of its first line
    std::size_t count;              // lines it takes, continuations included
  };
  struct Section {
    String key;
    std::size_t end;  // one past its last value line (or its header line)
  };

  // Reads lines_ into sections_ and entries_; raises RegFileError.
  void Index();
  // The value line t, lines_[first] without its blanks, under the last
  // section: its name and its data of whichever kind.
  Entry ReadEntry(std::string_view t, std::size_t first) const;
  // The data after "hex" (hex: or hex(N):), over the continuation lines
  // that follow entry's first; entry.count grows by them.
  RegValue ReadHexData(std::string_view rest, Entry& entry) const;
  // Appends a section header (and the file header when there is none).
  void AppendSection(std::u16string_view key);
  // Gives the last line the file's line end if it has none.
  void EndLastLine();
  // A line's bytes in the file's encoding.
  std::string Encoded(const Line& line) const;
  Line MakeLine(std::string text) const { return {std::move(text), eol_, std::nullopt}; }

  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::vector<Entry> entries_;
  std::string eol_ = "\n";  // line end of new lines: the first line's, else LF
  Encoding encoding_ = Encoding::kUtf8;
  std::string odd_byte_;  // a UTF-16LE file's last byte that makes no unit
};

// The line or lines that write value under name, as regedit exports them:
// "name"="text" for a plain REG_SZ, dword:0000002a for a 4-byte REG_DWORD,
// hex: for REG_BINARY and hex(N): for everything else, hex data wrapped with
// a trailing backslash. Parse reads every result back to the same bytes.
std::vector<std::string> FormatRegValue(std::u16string_view name, const RegValue& value);

}  // namespace vantrel
