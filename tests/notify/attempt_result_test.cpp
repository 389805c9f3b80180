// An attempt's result as the child process that made it hands it back:
// written and read back whole, and anything less than a whole result refused.
#include "notify/attempt_result.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

AttemptResult Answered() {
  AttemptResult r;
  r.answered = true;
  r.answer.status = 302;
  r.answer.reason = "Found";
  r.answer.headers = {{"Location", "/next"}, {"Set-Cookie", "a=b; Path=/"}, {"X-Empty", ""}};
  r.answer.body = std::string("bytes \0 and \xFF past ASCII", 24);
  r.answer.body_cut = true;
  return r;
}

AttemptResult Failed() {
  AttemptResult r;
  r.failure.kind = HttpFailure::kSecureChannel;
  r.failure.message = u"Error sending data: (60) SSL peer certificate \u00e4 \U0001F600";
  return r;
}

void ExpectSame(const AttemptResult& a, const AttemptResult& b) {
  EXPECT_EQ(a.answered, b.answered);
  EXPECT_EQ(a.answer.status, b.answer.status);
  EXPECT_EQ(a.answer.reason, b.answer.reason);
  EXPECT_EQ(a.answer.headers, b.answer.headers);
  EXPECT_EQ(a.answer.body, b.answer.body);
  EXPECT_EQ(a.answer.body_cut, b.answer.body_cut);
  EXPECT_EQ(a.failure.kind, b.failure.kind);
  EXPECT_TRUE(a.failure.message == b.failure.message);
}

TEST(AttemptResultTest, ReadsBackWhatWasWrittenAndNothingLess) {
  for (const AttemptResult& original : {Answered(), Failed(), AttemptResult()}) {
    const std::string bytes = EncodeAttemptResult(original);
    AttemptResult read;
    ASSERT_TRUE(DecodeAttemptResult(bytes, read));
    ExpectSame(read, original);
    // A child that ended part way through its writing.
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      EXPECT_FALSE(DecodeAttemptResult(bytes.substr(0, size), read)) << size << " of " << bytes.size();
    }
    EXPECT_FALSE(DecodeAttemptResult(bytes + "x", read)) << "more than one result";
  }
  AttemptResult read;
  EXPECT_FALSE(DecodeAttemptResult("Z", read)) << "an unknown kind of result";
}

}  // namespace
}  // namespace vantrel
