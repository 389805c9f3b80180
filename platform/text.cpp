#include "platform/text.h"

namespace vantrel {

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

namespace {

void AppendUtf16(String& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

namespace {

// Decodes the UTF-8 sequence at s[i] into cp; its length in bytes, or 0 when
// it is not valid (cut off, a stray continuation byte, overlong, above
// U+10FFFF or a surrogate).
std::size_t DecodeUtf8At(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0) return 0;
  cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= s.size()) return 0;
    const auto cont = static_cast<unsigned char>(s[i + k]);
    if ((cont & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cont & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return static_cast<std::size_t>(extra) + 1;
}

// Decodes s into out; an invalid sequence becomes U+FFFD when `replace`,
// otherwise ends the decoding with false.
bool DecodeUtf8(std::string_view s, String& out, bool replace) {
  out.clear();
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    // Runs of ASCII, the common case, are copied without decoding.
    std::size_t ascii_end = i;
    while (ascii_end < s.size() && static_cast<unsigned char>(s[ascii_end]) < 0x80) ++ascii_end;
    if (ascii_end > i) {
      const std::size_t at = out.size();
      out.resize(at + (ascii_end - i));
      for (std::size_t k = i; k < ascii_end; ++k) out[at + (k - i)] = static_cast<char16_t>(s[k]);
      i = ascii_end;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8At(s, i, cp);
    if (length == 0) {
      if (!replace) return false;
      AppendUtf16(out, 0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += length;
  }
  return true;
}

}  // namespace

String FromUtf8(std::string_view s) {
  String out;
  DecodeUtf8(s, out, /*replace=*/true);
  return out;
}

bool TryFromUtf8(std::string_view s, String& out) {
  if (DecodeUtf8(s, out, /*replace=*/false)) return true;
  out.clear();
  return false;
}

String IntToStr(std::int64_t value) {
  std::string digits = std::to_string(value);
  return String(digits.begin(), digits.end());
}

String CutToUtf8Size(const String& s, std::size_t max_bytes) {
  std::size_t bytes = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    const bool pair = IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1]);
    // An unpaired surrogate is written as U+FFFD, three bytes.
    const std::size_t size = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    if (bytes + size > max_bytes) break;
    bytes += size;
    i += pair ? 2 : 1;
  }
  return s.substr(0, i);
}

}  // namespace vantrel
