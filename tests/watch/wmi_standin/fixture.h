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
//   query_never_answers=1                    ExecQuery does not return until
//                                            the event named by
//                                            kReleaseEventName is set
// In values, \t \n \r and \\ stand for a tab, line feed, carriage return
// and backslash. Numbers are written in decimal and must fit their CIM type
// (RecordNumber up to 4294967295, EventType up to 255).
//
// The properties are those of Win32_NTLogEvent with their CIM types, and a
// value goes out as WMI scripting hands it out: uint32 and uint16 as VT_I4
// (a uint32 past 2^31 as a negative VT_I4 with the same bits), uint8 as
// VT_UI1, strings and datetimes as VT_BSTR, null as VT_NULL. The arrays
// (Data, InsertionStrings) are always null here.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace wmi_standin {

// A property value: null, a number (any unsigned CIM integer) or text.
using Value = std::variant<std::monostate, std::uint32_t, std::wstring>;

enum class Kind { kUnknown, kUint8, kUint16, kUint32, kText, kArray };

// The property of Win32_NTLogEvent the stand-in knows by this name (compared
// without case, as WMI does), with its proper spelling; kUnknown otherwise.
Kind PropertyKind(const std::wstring& name, std::wstring* spelling = nullptr);

// Every property of the class, in the order SELECT * gives them.
const std::vector<std::wstring>& ClassProperties();

// The VARIANT a property of this kind holds for value, as WMI scripting
// gives it (the caller clears it).
VARIANT ScriptingValue(Kind kind, const Value& value);

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
  bool query_never_answers = false;
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
