#include "settings/reg_value_bytes.h"

namespace vantrel {

namespace {

std::vector<std::uint8_t> LittleEndian(std::uint64_t value, std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::uint8_t& byte : data) {
    byte = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
  return data;
}

std::uint64_t FromLittleEndian(const std::uint8_t* data, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i > 0; --i) value = value << 8 | data[i - 1];
  return value;
}

}  // namespace

std::vector<std::uint8_t> DwordBytes(std::uint32_t value) { return LittleEndian(value, 4); }

std::vector<std::uint8_t> QwordBytes(std::uint64_t value) { return LittleEndian(value, 8); }

std::uint32_t DwordFromBytes(const std::uint8_t* data) { return static_cast<std::uint32_t>(FromLittleEndian(data, 4)); }

std::uint64_t QwordFromBytes(const std::uint8_t* data) { return FromLittleEndian(data, 8); }

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text) {
  std::vector<std::uint8_t> data;
  data.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return data;
}

std::vector<std::uint8_t> SzBytes(std::u16string_view text) {
  std::vector<std::uint8_t> data = Utf16LeBytes(text);
  data.insert(data.end(), {0, 0});
  return data;
}

String Utf16LeText(std::span<const std::uint8_t> bytes) {
  String text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return text;
}

}  // namespace vantrel
