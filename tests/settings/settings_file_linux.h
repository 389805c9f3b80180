// The settings file's bytes for the tests that make, change and read it
// beside the store (Linux).
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "settings/reg_file.h"
#include "settings/reg_value_bytes.h"

namespace vantrel::testing {

inline constexpr char16_t kSettingsKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";
// The file's first lines up to the key's section, and that section's header
// alone.
inline const std::string kHead =
    "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n";
inline const std::string kKeyLines = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n";
// Another key's section, with a value of the same name.
inline const std::string kOtherKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"lastrecnum\"=dword:00000063\n";

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The value as the file at path holds it under the key.
inline std::optional<RegValue> FileValue(const std::string& path, std::u16string_view name) {
  return RegFile::Parse(ReadBytes(path)).Find(kSettingsKeyPath, name);
}

inline RegValue Sz(std::u16string_view text) { return {kRegSz, SzBytes(text)}; }
inline RegValue Dword(std::uint32_t n) { return {kRegDword, DwordBytes(n)}; }

}  // namespace vantrel::testing
