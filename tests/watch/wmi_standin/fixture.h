// The event log entries and the failures the stand-in is told to give, as
// the test writes them to the fixture file.
//
// The file is UTF-8, one item a line; blank lines and lines starting with
// "#" are skipped:
//   entry<TAB>Name=value<TAB>Name=value...   one entry; a property it does
//                                            not name is null
//   connect_error=XXXXXXXX description       ConnectServer raises the HRESULT
//                                            (hex) with the description (may
//                                            be empty: then none is given)
//   next_fails_after=N                       the enumerator delivers N
//                                            entries, then its Next fails
//   read_fails_after=N                       reading any property of an entry
//                                            delivered after the Nth fails
// In values, \t \n \r and \\ stand for a tab, line feed, carriage return
// and backslash. RecordNumber, EventType, Category and EventCode are
// numbers (VT_I4); the other properties are text (VT_BSTR).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace wmi_standin {

// A property value: null, a number or text.
using Value = std::variant<std::monostate, std::int32_t, std::wstring>;

enum class Kind { kUnknown, kNumber, kText };

// The property of Win32_NTLogEvent the stand-in knows by this name (compared
// without case, as WMI does), with its proper spelling; kUnknown otherwise.
Kind PropertyKind(const std::wstring& name, std::wstring* spelling = nullptr);

struct Entry {
  std::map<std::wstring, Value> properties;  // by proper spelling; missing = null
  Value Get(const std::wstring& spelling) const;
};

struct Failure {
  HRESULT code = S_OK;
  std::wstring description;  // empty: the failure gives none
};

struct Fixture {
  std::vector<Entry> entries;
  std::optional<Failure> connect_error;
  std::optional<std::size_t> next_fails_after;
  std::optional<std::size_t> read_fails_after;
};

// Reads the fixture file; a missing file is an empty fixture. A line it does
// not understand gives nothing and its text and number in problem.
std::optional<Fixture> ReadFixture(const std::wstring& path, std::wstring& problem);

// Undoes the escapes of a fixture value.
std::wstring Unescape(const std::wstring& text);
// Writes control characters as \t, \n, \r or \xHH, so that a value stays on
// one line of the call log (a backslash stays as it is).
std::wstring Escape(const std::wstring& text);

std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);

}  // namespace wmi_standin
