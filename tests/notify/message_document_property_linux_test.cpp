// For random lines, the document's JSON always parses with a real JSON parser
// (Python's) and its "text" reads back as the line, cut where it must be.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "notify/message_document.h"
#include "tests/notify/message_text_cases.h"

namespace vantrel {
namespace {

TEST(MessageDocumentPropertyTest, RandomLinesGiveJsonThatParsesToTheExpectedText) {
  const std::string path = ::testing::TempDir() + "message_document_cases.txt";
  {
    std::ofstream cases(path, std::ios::binary);
    std::mt19937 rng(20261209);
    for (int i = 0; i < 3000; ++i) {
      const String line = testing::RandomLine(rng);
      MessageDocument doc;
      doc.InitFast();
      doc.SetMember(u"text", line);
      std::string expected_hex;
      for (unsigned char b : ToUtf8(testing::ExpectedDocText(line))) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        expected_hex += hex;
      }
      cases << (expected_hex.empty() ? "-" : expected_hex) << '\t' << doc.ToUtf8Json() << '\n';
    }
  }
  const std::string check = "python3 " CHECK_JSON_SCRIPT " " + path;
  EXPECT_EQ(std::system(check.c_str()), 0) << check;
}

}  // namespace
}  // namespace vantrel
