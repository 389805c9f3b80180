// Registry value data byte for byte: little-endian numbers, UTF-16LE text.
#include "settings/reg_value_bytes.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RegValueBytes, NumbersAreLittleEndian) {
  EXPECT_EQ(DwordBytes(0x12345678), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(DwordBytes(0xFFFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(QwordBytes(0x0102030405060708), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  const Bytes dword{0x2a, 0, 0, 0x80};
  EXPECT_EQ(DwordFromBytes(dword.data()), 0x8000002Au);
  const Bytes qword{1, 0, 0, 0, 0, 0, 0, 0x80};
  EXPECT_EQ(QwordFromBytes(qword.data()), 0x8000000000000001u);
  for (const std::uint64_t n :
       {std::uint64_t{0}, std::uint64_t{0x7FFFFFFF}, std::uint64_t{0x100000002}, ~std::uint64_t{0}})
    EXPECT_EQ(QwordFromBytes(QwordBytes(n).data()), n);
}

TEST(RegValueBytes, TextIsUtf16LittleEndian) {
  EXPECT_EQ(Utf16LeBytes(u"A\u00e4\u20ac"), (Bytes{0x41, 0, 0xE4, 0, 0xAC, 0x20}));
  EXPECT_EQ(SzBytes(u"A"), (Bytes{0x41, 0, 0, 0}));
  EXPECT_EQ(SzBytes(u""), (Bytes{0, 0}));
  const Bytes odd{0x41, 0, 0, 0, 0x3D, 0xD8, 0x7F};  // a NUL inside, a lone surrogate, an odd byte
  EXPECT_EQ(Utf16LeText(odd), (String{u'A', u'\0', 0xD83D}));
}

}  // namespace
}  // namespace vantrel
