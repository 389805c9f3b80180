// The answer's body as text: which answers are read as text, and what each
// declared charset and encoding gives.
#include <gtest/gtest.h>

#include "gzip_data.h"
#include "notify/answer_body.h"

namespace vantrel {
namespace {

// The charset parameter comes out of the media type, in any letter case and
// in quotes or not; the other parameters stay in it.
TEST(ContentType, SplitTable) {
  struct Case {
    std::string value, media, charset;
  };
  const Case cases[] = {
      {"application/json", "application/json", ""},
      {"text/html; charset=ISO-8859-1", "text/html", "ISO-8859-1"},
      {"text/plain;CHARSET=\"utf-8\"", "text/plain", "utf-8"},
      {" text/plain ; format=flowed ; charset=koi8-r ; delsp=yes", "text/plain; format=flowed; delsp=yes", "koi8-r"},
      {"charset=utf-8", "charset=utf-8", ""},  // the first part is the media type, never the charset
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const ContentTypeParts parts = SplitContentType(c.value);
    EXPECT_EQ(parts.media, c.media) << c.value;
    EXPECT_EQ(parts.charset, c.charset) << c.value;
  }
}

TEST(ContentType, WhichBodiesAreReadAsText) {
  struct Case {
    int status;
    std::string content_type;
    bool text;
  };
  const Case cases[] = {
      {200, "application/json", true},
      {200, "Application/JSON; x=1", true},
      {200, "text/html", true},
      {200, "TEXT/plain", true},
      {200, "image/png", false},
      {200, "", false},
      {201, "image/png; charset=latin1", true},  // a declared charset is read whatever the type
      {299, "application/octet-stream", false},
      {300, "image/png", true},
      {404, "", true},
      {500, "image/png", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnswerBodyIsText(c.status, SplitContentType(c.content_type)), c.text)
        << c.status << " " << c.content_type;
  }
}

// What each declared charset gives; names the platform's converter (iconv,
// or the code page of the Windows charset table) knows decode, and the
// answer's own rules (strict UTF-8, gzip first) hold on both platforms.
TEST(Decode, CharsetTable) {
  const std::string kNoMapping = "No mapping for the Unicode character exists in the target multi-byte code page";
  struct Case {
    const char* name;
    std::string bytes, encoding, charset;
    bool ok;
    String text;          // when ok
    std::string message;  // when not
  };
  const Case cases[] = {
      {"no charset: UTF-8", "h\xC3\xA4", "", "", true, u"h\u00e4", ""},
      {"UTF-8 in any case", "h\xC3\xA4", "", " UTF-8 ", true, u"h\u00e4", ""},
      {"invalid UTF-8", "h\xE4", "", "", false, u"", kNoMapping},
      {"empty body", "", "", "", true, u"", ""},
      {"gzip then UTF-8", Gzip("h\xC3\xA4"), "gzip", "utf-8", true, u"h\u00e4", ""},
      {"broken gzip", "not gzip", "gzip", "", false, u"", "Error decompressing the answer: the gzip data is broken"},
      {"Latin-1", "h\xE4", "", "ISO-8859-1", true, u"h\u00e4", ""},
      {"windows-1252", "\x80 \xE4", "", "windows-1252", true, u"\u20ac \u00e4", ""},
      {"Latin-2", "\xB1", "", "iso-8859-2", true, u"\u0105", ""},
      {"KOI8-R", "\xF0\xD2\xC9", "", "koi8-r", true, u"\u041f\u0440\u0438", ""},
      {"Shift_JIS", "\x93\xFA\x96\x7B", "", "Shift_JIS", true, u"\u65e5\u672c", ""},
      {"Shift_JIS cut in a character", "\x93\xFA\x96", "", "shift_jis", false, u"", kNoMapping},
      {"UTF-16LE", std::string("h\0\xE4\0", 4), "", "utf-16le", true, u"h\u00e4", ""},
      {"UTF-16BE", std::string("\0h\0\xE4", 4), "", "UTF-16BE", true, u"h\u00e4", ""},
      {"UTF-16 without a mark", std::string("h\0\xE4\0", 4), "", "utf-16", true, u"h\u00e4", ""},
      {"UTF-16, big-endian mark", std::string("\xFE\xFF\0h\0\xE4", 6), "", "UTF-16", true, u"h\u00e4", ""},
      {"UTF-16 cut in a unit", std::string("\xFF\xFEh\0\xE4", 5), "", "utf-16", false, u"", kNoMapping},
      {"UTF-32BE outside the BMP", std::string("\0\x01\xF6\x00", 4), "", "utf-32be", true, u"\U0001F600", ""},
      {"UTF-32 past U+10FFFF", std::string("\0\0\x11\0", 4), "", "utf-32le", false, u"", kNoMapping},
      {"gzip then Latin-1", Gzip("h\xE4"), "gzip", "iso-8859-1", true, u"h\u00e4", ""},
      {"unknown name", "x", "", "no-such-charset", false, u"", "Unknown charset: no-such-charset"},
      {"iconv option syntax is no name", "x", "", "latin1//IGNORE", false, u"", "Unknown charset: latin1//IGNORE"},
  };
  for (const Case& c : cases) {
    String text = u"left over", message;
    EXPECT_EQ(DecodeBody(c.bytes, c.encoding, c.charset, text, message), c.ok) << c.name;
    EXPECT_EQ(text, c.ok ? c.text : u"") << c.name;
    if (!c.ok) {
      EXPECT_EQ(ToUtf8(message), c.message) << c.name;
    }
  }
}

// A few kilobytes of gzip can inflate to gigabytes; past 16 MiB the answer
// is refused instead of taking the machine's memory.
TEST(Decode, GzipInflatingPast16MiBIsRefused) {
  constexpr std::size_t kLimit = std::size_t{16} << 20;
  String text, message;
  EXPECT_TRUE(DecodeBody(Gzip(std::string(kLimit, 'a')), "gzip", "", text, message));
  EXPECT_EQ(text.size(), kLimit);
  const std::string bomb = Gzip(std::string(kLimit + 1, 'a'));
  EXPECT_LT(bomb.size(), std::size_t{64} << 10);
  EXPECT_FALSE(DecodeBody(bomb, "gzip", "", text, message));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(message, u"Error decompressing the answer: it inflates to more than 16 MiB");
}

}  // namespace
}  // namespace vantrel
