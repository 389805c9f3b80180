// The data of registry values as the registry holds it: numbers in
// little-endian order, text as UTF-16LE. The settings key reads and writes
// values so on both platforms, and the settings file keeps the same bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace vantrel {

// Value types as the registry stores them.
enum RegType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// The four bytes of a REG_DWORD, the eight of a REG_QWORD.
std::vector<std::uint8_t> DwordBytes(std::uint32_t value);
std::vector<std::uint8_t> QwordBytes(std::uint64_t value);

// The number in the first four (eight) bytes of data, which must have them.
std::uint32_t DwordFromBytes(const std::uint8_t* data);
std::uint64_t QwordFromBytes(const std::uint8_t* data);

// text in UTF-16LE, unit by unit; SzBytes adds the terminating NUL that
// REG_SZ data ends with.
std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text);
std::vector<std::uint8_t> SzBytes(std::u16string_view text);

// The UTF-16 units of UTF-16LE bytes, unit by unit; an odd last byte is left
// out. No NUL ends the text early.
String Utf16LeText(std::span<const std::uint8_t> bytes);

}  // namespace vantrel
