#include "notify/answer_body.h"

#include <zlib.h>

#include "notify/answer_reading.h"
#include "notify/charset.h"
#include "platform/ascii.h"

namespace vantrel {

namespace {

// A gzip body that inflates past the body limit (a few kilobytes can hold
// gigabytes of zeros) is refused rather than allowed to take the machine's
// memory.
constexpr std::size_t kMaxInflatedAnswer = kMaxAnswerBody;

enum class GunzipResult { kDone, kBroken, kTooLarge };

GunzipResult Gunzip(const std::string& in, std::string& out) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) return GunzipResult::kBroken;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  char buf[16384];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    if (out.size() + (sizeof buf - zs.avail_out) > kMaxInflatedAnswer) {
      inflateEnd(&zs);
      return GunzipResult::kTooLarge;
    }
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc != Z_STREAM_END && (zs.avail_in > 0 || zs.avail_out == 0));
  inflateEnd(&zs);
  return rc == Z_STREAM_END ? GunzipResult::kDone : GunzipResult::kBroken;
}

struct UnicodeName {
  const char* name;
  std::size_t unit_size;
  bool big_endian;  // without a byte-order mark
};

// "utf-16" and "utf-32" without a mark are read little-endian, as Windows
// writes them.
constexpr UnicodeName kUnicodeNames[] = {
    {"utf-16", 2, false}, {"utf-16le", 2, false}, {"utf-16be", 2, true},
    {"utf-32", 4, false}, {"utf-32le", 4, false}, {"utf-32be", 4, true},
};

}  // namespace

ContentTypeParts SplitContentType(const std::string& value) {
  ContentTypeParts type;
  std::size_t pos = 0;
  bool first = true;
  while (pos <= value.size()) {
    std::size_t semi = value.find(';', pos);
    if (semi == std::string::npos) semi = value.size();
    const std::string part(Trim(std::string_view(value).substr(pos, semi - pos)));
    if (!first && StartsWithIgnoringAsciiCase(part, "charset=")) {
      type.charset = part.substr(8);
      if (type.charset.size() >= 2 && type.charset.front() == '"' && type.charset.back() == '"')
        type.charset = type.charset.substr(1, type.charset.size() - 2);
    } else if (first || !part.empty()) {
      if (!first) type.media += "; ";
      type.media += part;
    }
    first = false;
    pos = semi + 1;
  }
  return type;
}

bool AnswerBodyIsText(int status, const ContentTypeParts& type) {
  return status >= 300 || !type.charset.empty() || StartsWithIgnoringAsciiCase(type.media, "text") ||
         StartsWithIgnoringAsciiCase(type.media, "application/json");
}

bool DecodeUnicodeUnits(const std::string& bytes, std::size_t unit_size, bool big_endian, String& text) {
  text.clear();
  if (bytes.size() % unit_size != 0) return false;
  std::size_t start = 0;
  const std::string le_mark = unit_size == 2 ? std::string("\xFF\xFE") : std::string("\xFF\xFE\0\0", 4);
  const std::string be_mark = unit_size == 2 ? std::string("\xFE\xFF") : std::string("\0\0\xFE\xFF", 4);
  if (bytes.compare(0, unit_size, le_mark) == 0 || bytes.compare(0, unit_size, be_mark) == 0) {
    big_endian = bytes.compare(0, unit_size, be_mark) == 0;
    start = unit_size;
  }
  for (std::size_t i = start; i < bytes.size(); i += unit_size) {
    char32_t unit = 0;
    for (std::size_t k = 0; k < unit_size; ++k)
      unit = unit << 8 | static_cast<unsigned char>(bytes[i + (big_endian ? k : unit_size - 1 - k)]);
    if (unit_size == 2) {
      text += static_cast<char16_t>(unit);
    } else if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) {
      text.clear();
      return false;
    } else if (unit >= 0x10000) {
      text += static_cast<char16_t>(0xD800 + ((unit - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((unit - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(unit);
    }
  }
  return true;
}

bool DecodeBody(const std::string& raw, const std::string& content_encoding, const std::string& charset, String& text,
                String& message) {
  text.clear();
  std::string inflated;
  const std::string* bytes = &raw;
  if (content_encoding == "gzip" && !raw.empty()) {
    switch (Gunzip(raw, inflated)) {
      case GunzipResult::kDone: break;
      case GunzipResult::kBroken: message = u"Error decompressing the answer: the gzip data is broken"; return false;
      case GunzipResult::kTooLarge:
        message = u"Error decompressing the answer: it inflates to more than 16 MiB";
        return false;
    }
    bytes = &inflated;
  }
  const std::string name(Trim(charset));
  const std::string lower = AsciiLowered(name);
  bool decoded = false;
  if (lower.empty() || lower == "utf-8" || lower == "utf8") {
    decoded = TryFromUtf8(*bytes, text);
  } else {
    const UnicodeName* unicode = nullptr;
    for (const UnicodeName& u : kUnicodeNames)
      if (lower == u.name) unicode = &u;
    if (!unicode) return DecodeCharset(*bytes, name, text, message);
    decoded = DecodeUnicodeUnits(*bytes, unicode->unit_size, unicode->big_endian, text);
  }
  if (!decoded) message = kNoMappingMessage;
  return decoded;
}

}  // namespace vantrel
