// The rules both transports share for what a server sends back.
#include "notify/answer_reading.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(HttpTransportRules, AStatusCodeIsThreeDigits) {
  struct Row {
    const char* digits;
    int code;
  } rows[] = {{"200", 200}, {"404", 404}, {"099", 99}, {"", 0}, {"20", 0}, {"2000", 0}, {"99999999999999999999", 0},
              {"-20", 0},   {"2x0", 0},   {" 200", 0}};
  for (const Row& row : rows) EXPECT_EQ(ParseStatusCode(row.digits), row.code) << '"' << row.digits << '"';
}

}  // namespace
}  // namespace vantrel
