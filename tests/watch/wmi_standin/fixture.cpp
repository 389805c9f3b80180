#include "tests/watch/wmi_standin/fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>

#include <oleauto.h>

namespace wmi_standin {

namespace {

struct KnownProperty {
  const wchar_t* spelling;
  Kind kind;
};

// The properties of Win32_NTLogEvent with their CIM types (uint8, uint16,
// uint32, string or datetime, arrays).
constexpr KnownProperty kProperties[] = {
    {L"Category", Kind::kUint16},    {L"CategoryString", Kind::kText},    {L"ComputerName", Kind::kText},
    {L"Data", Kind::kArray},         {L"EventCode", Kind::kUint16},       {L"EventIdentifier", Kind::kUint32},
    {L"EventType", Kind::kUint8},    {L"InsertionStrings", Kind::kArray}, {L"Logfile", Kind::kText},
    {L"Message", Kind::kText},       {L"RecordNumber", Kind::kUint32},    {L"SourceName", Kind::kText},
    {L"TimeGenerated", Kind::kText}, {L"TimeWritten", Kind::kText},       {L"Type", Kind::kText},
    {L"User", Kind::kText},
};

bool SameWithoutCase(const std::wstring& a, const wchar_t* b) {
  const std::size_t n = std::wcslen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// A decimal number from 0 to max.
std::optional<std::uint32_t> ParseUnsigned(const std::wstring& text, std::uint32_t max) {
  if (text.empty() || !std::iswdigit(text[0])) return std::nullopt;
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || value > max) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> ParseNumber(Kind kind, const std::wstring& text) {
  switch (kind) {
    case Kind::kUint8: return ParseUnsigned(text, UINT8_MAX);
    case Kind::kUint16: return ParseUnsigned(text, UINT16_MAX);
    case Kind::kUint32: return ParseUnsigned(text, UINT32_MAX);
    default: return std::nullopt;
  }
}

std::optional<std::size_t> ParseCount(const std::wstring& text) {
  std::optional<std::uint32_t> n = ParseUnsigned(text, INT32_MAX);
  if (!n) return std::nullopt;
  return static_cast<std::size_t>(*n);
}

// "entry<TAB>Name=value<TAB>..." after the word entry.
bool ParseEntry(const std::wstring& rest, Entry& entry) {
  std::size_t pos = 0;
  while (pos < rest.size()) {
    if (rest[pos] != L'\t') return false;
    const std::size_t end = std::min(rest.find(L'\t', pos + 1), rest.size());
    const std::wstring field = rest.substr(pos + 1, end - pos - 1);
    pos = end;
    const std::size_t eq = field.find(L'=');
    if (eq == std::wstring::npos) return false;
    std::wstring spelling;
    const Kind kind = PropertyKind(field.substr(0, eq), &spelling);
    const std::wstring value = Unescape(field.substr(eq + 1));
    if (kind == Kind::kUnknown || kind == Kind::kArray) return false;
    if (kind == Kind::kText) {
      entry.properties[spelling] = value;
    } else {
      std::optional<std::uint32_t> number = ParseNumber(kind, value);
      if (!number) return false;
      entry.properties[spelling] = *number;
    }
  }
  return true;
}

bool ParseLine(const std::wstring& line, Fixture& fixture) {
  if (line.rfind(L"entry", 0) == 0) {
    Entry entry;
    if (!ParseEntry(line.substr(5), entry)) return false;
    fixture.entries.push_back(std::move(entry));
    return true;
  }
  const std::size_t eq = line.find(L'=');
  if (eq == std::wstring::npos) return false;
  const std::wstring name = line.substr(0, eq);
  const std::wstring value = line.substr(eq + 1);
  if (name == L"connect_error") {
    const std::wstring code = value.substr(0, value.find(L' '));
    wchar_t* end = nullptr;
    const unsigned long hr = std::wcstoul(code.c_str(), &end, 16);
    if (code.size() != 8 || *end != L'\0') return false;
    Failure failure;
    failure.code = static_cast<HRESULT>(hr);
    if (value.size() > 9) failure.description = Unescape(value.substr(9));
    fixture.connect_error = failure;
    return true;
  }
  std::optional<std::size_t> count = ParseCount(value);
  if (!count) return false;
  if (name == L"next_fails_after") {
    fixture.next_fails_after = count;
  } else if (name == L"read_fails_after") {
    fixture.read_fails_after = count;
  } else if (name == L"query_never_answers") {
    fixture.query_never_answers = *count != 0;
  } else {
    return false;
  }
  return true;
}

}  // namespace

Kind PropertyKind(const std::wstring& name, std::wstring* spelling) {
  for (const KnownProperty& p : kProperties) {
    if (SameWithoutCase(name, p.spelling)) {
      if (spelling != nullptr) *spelling = p.spelling;
      return p.kind;
    }
  }
  return Kind::kUnknown;
}

const std::vector<std::wstring>& ClassProperties() {
  static const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> all;
    for (const KnownProperty& p : kProperties) all.push_back(p.spelling);
    return all;
  }();
  return names;
}

VARIANT ScriptingValue(Kind kind, const Value& value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_NULL;
  if (const auto* number = std::get_if<std::uint32_t>(&value)) {
    if (kind == Kind::kUint8) {
      v.vt = VT_UI1;
      v.bVal = static_cast<BYTE>(*number);
    } else {
      // Automation has no unsigned 32-bit type that scripts read: uint16 and
      // uint32 go out as VT_I4, a uint32 past 2^31 with its bits as they are.
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(*number);
    }
  } else if (const auto* text = std::get_if<std::wstring>(&value)) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
  }
  return v;
}

Value Entry::Get(const std::wstring& spelling) const {
  auto it = properties.find(spelling);
  return it == properties.end() ? Value() : it->second;
}

std::optional<Fixture> ReadFixture(const std::wstring& path, std::wstring& problem) {
  Fixture fixture;
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) return fixture;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!ParseLine(FromUtf8(line), fixture)) {
      problem = L"fixture line " + std::to_wstring(number) + L" not understood: " + Escape(FromUtf8(line));
      return std::nullopt;
    }
  }
  return fixture;
}

std::wstring Unescape(const std::wstring& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case L't': out += L'\t'; break;
      case L'n': out += L'\n'; break;
      case L'r': out += L'\r'; break;
      default: out += text[i];
    }
  }
  return out;
}

std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\t') {
      out += L"\\t";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if (c == L'\r') {
      out += L"\\r";
    } else if (c < 0x20 || c == 0x7F) {
      wchar_t hex[8];
      std::swprintf(hex, 8, L"\\x%02X", static_cast<unsigned>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace wmi_standin
