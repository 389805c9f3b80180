// An attempt as it goes to the process that makes it, and its result as that
// process hands it back: written and read back whole, a 200's head alone
// when the process ended before its result, and anything else refused.
#include "notify/attempt_pipe.h"

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
  r.answer.body_failure = u"Error reading data: (18) cut \u00e4";
  r.answer.certificate.seen = true;
  r.answer.certificate.bad_dates = true;
  r.answer.certificate.key_sha256 = std::string(64, 'a');
  return r;
}

AttemptResult Failed() {
  AttemptResult r;
  r.failure.kind = HttpFailure::kSecureChannel;
  r.failure.message = u"Error sending data: (60) SSL peer certificate \u00e4 \U0001F600";
  r.failure.certificate.seen = true;
  r.failure.certificate.unknown_authority = true;
  r.failure.certificate.wrong_name = true;
  r.failure.certificate.other_problem = true;
  r.failure.certificate.key_sha256 = std::string(64, 'b');
  return r;
}

AttemptResult NoSession() {
  AttemptResult r;
  r.failure.kind = HttpFailure::kNoSession;
  r.failure.message = u"Error obtaining session handle: libcurl.so.4: cannot open shared object file";
  return r;
}

void ExpectSame(const AttemptResult& a, const AttemptResult& b) {
  EXPECT_EQ(a.answered, b.answered);
  EXPECT_EQ(a.answer.status, b.answer.status);
  EXPECT_EQ(a.answer.reason, b.answer.reason);
  EXPECT_EQ(a.answer.headers, b.answer.headers);
  EXPECT_EQ(a.answer.body, b.answer.body);
  EXPECT_EQ(a.answer.body_cut, b.answer.body_cut);
  EXPECT_TRUE(a.answer.body_failure == b.answer.body_failure);
  EXPECT_EQ(a.failure.kind, b.failure.kind);
  EXPECT_TRUE(a.failure.message == b.failure.message);
  for (const auto& [x, y] : {std::pair{a.answer.certificate, b.answer.certificate},
                             std::pair{a.failure.certificate, b.failure.certificate}}) {
    EXPECT_EQ(x.seen, y.seen);
    EXPECT_TRUE(x.Problems() == y.Problems());
    EXPECT_EQ(x.key_sha256, y.key_sha256);
  }
}

TEST(AttemptPipeTest, ReadsBackWhatWasWrittenAndNothingLess) {
  for (const AttemptResult& original : {Answered(), Failed(), NoSession(), AttemptResult()}) {
    const std::string bytes = EncodeAttemptResult(original);
    AttemptResult read;
    ASSERT_EQ(DecodeAttemptResult(bytes, read), AttemptOutput::kWhole);
    ExpectSame(read, original);
    // A process that ended part way through its writing.
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      EXPECT_EQ(DecodeAttemptResult(bytes.substr(0, size), read), AttemptOutput::kNothing)
          << size << " of " << bytes.size();
    }
    EXPECT_EQ(DecodeAttemptResult(bytes + "x", read), AttemptOutput::kNothing) << "more than one result";
  }
  AttemptResult read;
  EXPECT_EQ(DecodeAttemptResult("Z", read), AttemptOutput::kNothing) << "an unknown kind of result";
}

// The head of a 200 goes ahead of the result: alone, or with a result cut
// short, it is what is known; the whole result that follows it wins.
TEST(AttemptPipeTest, AHeadAloneTellsTheStatusAndHeaders) {
  HttpAnswer head;
  head.status = 200;
  head.reason = "OK";
  head.headers = {{"Content-Type", "application/json"}};
  const std::string head_bytes = EncodeAnswerHead(head);
  const std::string result_bytes = EncodeAttemptResult(Answered());

  AttemptResult read;
  ASSERT_EQ(DecodeAttemptResult(head_bytes, read), AttemptOutput::kHead);
  EXPECT_TRUE(read.answered);
  EXPECT_EQ(read.answer.status, 200);
  EXPECT_EQ(read.answer.reason, "OK");
  EXPECT_EQ(read.answer.headers, head.headers);
  EXPECT_TRUE(read.answer.body.empty());
  for (std::size_t size : {std::size_t{1}, result_bytes.size() / 2, result_bytes.size() - 1}) {
    EXPECT_EQ(DecodeAttemptResult(head_bytes + result_bytes.substr(0, size), read), AttemptOutput::kHead) << size;
    EXPECT_EQ(read.answer.status, 200);
  }
  ASSERT_EQ(DecodeAttemptResult(head_bytes + result_bytes, read), AttemptOutput::kWhole);
  ExpectSame(read, Answered());
  EXPECT_EQ(DecodeAttemptResult(head_bytes.substr(0, head_bytes.size() - 1), read), AttemptOutput::kNothing);
  EXPECT_EQ(DecodeAttemptResult(head_bytes + "Z", read), AttemptOutput::kNothing);
}

TEST(AttemptPipeTest, TheRequestReadsBackWhole) {
  AttemptRequest request;
  request.attempt.method = "POST";
  request.attempt.secure = true;
  request.attempt.host = "[::1]";
  request.attempt.port = 8443;
  request.attempt.target = "/hooks/a%20b?x=1";
  request.attempt.headers = {{"Accept", "application/json"}, {"Content-type", "application/json"}};
  request.attempt.body = std::string("{\"text\":\"h\xC3\xA4\"}\0", 15);
  request.attempt.certificate.checks_on = false;
  request.attempt.certificate.accepted_key = std::string(64, 'c');
  request.attempt.timeout_ms = 1500;
  request.library = "libvantrel-missing.so.0";
  request.trusted_authorities = "/tmp/authority.pem";
  const std::string bytes = EncodeAttemptRequest(request);
  AttemptRequest read;
  ASSERT_TRUE(DecodeAttemptRequest(bytes, read));
  EXPECT_EQ(read.attempt.method, request.attempt.method);
  EXPECT_EQ(read.attempt.secure, true);
  EXPECT_EQ(read.attempt.host, request.attempt.host);
  EXPECT_EQ(read.attempt.port, 8443);
  EXPECT_EQ(read.attempt.target, request.attempt.target);
  EXPECT_EQ(read.attempt.headers, request.attempt.headers);
  EXPECT_EQ(read.attempt.body, request.attempt.body);
  EXPECT_EQ(read.attempt.certificate.checks_on, false);
  EXPECT_EQ(read.attempt.certificate.accepted_key, request.attempt.certificate.accepted_key);
  EXPECT_EQ(read.attempt.timeout_ms, 1500);
  EXPECT_EQ(read.library, request.library);
  EXPECT_EQ(read.trusted_authorities, request.trusted_authorities);
  for (std::size_t size = 0; size < bytes.size(); ++size)
    EXPECT_FALSE(DecodeAttemptRequest(bytes.substr(0, size), read));
  EXPECT_FALSE(DecodeAttemptRequest(bytes + "x", read));
}

// What the service makes of an attempt process's output by how it ended: a
// whole result stands as it is; a 200's head alone stands with its body's
// failure saying why the rest is missing; anything else fails and says why.
TEST(AttemptPipeTest, SettledByHowTheAttemptEnded) {
  HttpAnswer ok;
  ok.status = 200;
  ok.reason = "OK";
  HttpAnswer error = ok;
  error.status = 500;
  AttemptResult whole;
  whole.answered = true;
  whole.answer = ok;
  whole.answer.body = "done";
  const std::string head = EncodeAnswerHead(ok);
  struct Row {
    const char* name;
    std::string bytes;
    AttemptEnd end;
    bool answered;
    std::string text;  // the body's failure when answered, else the failure
  } rows[] = {
      {"whole, ended", head + EncodeAttemptResult(whole), AttemptEnd::kEnded, true, ""},
      {"whole, then stopped", EncodeAttemptResult(whole), AttemptEnd::kStopped, true, ""},
      {"a 200's head, stopped", head, AttemptEnd::kStopped, true,
       "Error reading data: the service stopped before the body had come"},
      {"a 200's head, out of time", head, AttemptEnd::kOverdue, true,
       "Error reading data: the HTTP attempt ran out of time before the body had come"},
      {"a 200's head, ended", head, AttemptEnd::kEnded, true,
       "Error reading data: the HTTP attempt ended before the body had come (exit code 9)"},
      {"a 500's head, stopped", EncodeAnswerHead(error), AttemptEnd::kStopped, false,
       "Error receiving data: the service stopped before the answer came"},
      {"nothing, out of time", "", AttemptEnd::kOverdue, false,
       "Error receiving data: the HTTP attempt ran out of time before the answer came"},
      {"nothing, ended", "", AttemptEnd::kEnded, false,
       "Error receiving data: the HTTP attempt ended without a result (exit code 9)"},
      {"too much", head, AttemptEnd::kTooLarge, false,
       "Error receiving data: the HTTP attempt's result is larger than it can be"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpAnswer answer;
    HttpFailure failure;
    EXPECT_EQ(SettleAttempt(row.bytes, row.end, u"exit code 9", answer, failure), row.answered);
    EXPECT_EQ(ToUtf8(row.answered ? answer.body_failure : failure.message), row.text);
    EXPECT_EQ(answer.status, row.answered ? 200 : 0);
  }
}

}  // namespace
}  // namespace vantrel
