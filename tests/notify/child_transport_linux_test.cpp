// The Linux transport: each attempt made by a child process that loads
// libcurl, so the service itself never maps it; a library that cannot be
// loaded fails the attempt, not the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "notify/http_transport_test_seam.h"
#include "notify/http_transport.h"
#include "tests/notify/test_server.h"

namespace vantrel {
namespace {

using testing::Answer;
using testing::TestServer;

// True when this process has the named library mapped.
bool Mapped(const std::string& library) {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find(library) != std::string::npos;
}

HttpAttempt AttemptTo(const TestServer& server) {
  HttpAttempt attempt;
  attempt.method = "POST";
  attempt.host = "127.0.0.1";
  attempt.port = server.Port();
  attempt.target = "/hook";
  attempt.body = "{\"text\":\"x\"}";
  attempt.timeout_ms = 5000;
  return attempt;
}

TEST(ChildTransportTest, TheAnswerComesBackWhileThisProcessNeverMapsLibcurl) {
  TestServer server({Answer("HTTP/1.1 201 Created", "Content-Type: text/plain\r\nX-Kept: yes\r\n", "body")});
  const std::unique_ptr<HttpTransport> transport = NewHttpTransport();
  HttpAnswer answer;
  HttpFailure failure;
  ASSERT_TRUE(transport->Perform(AttemptTo(server), answer, failure)) << ToUtf8(failure.message);
  EXPECT_EQ(answer.status, 201);
  EXPECT_EQ(answer.reason, "Created");
  EXPECT_EQ(answer.body, "body");
  EXPECT_NE(std::find(answer.headers.begin(), answer.headers.end(), std::make_pair(std::string("X-Kept"), std::string("yes"))),
            answer.headers.end());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].body, "{\"text\":\"x\"}");
  for (const char* library : {"libcurl", "libssl", "libcrypto"}) EXPECT_FALSE(Mapped(library)) << library;
}

// A server that never ends its headers: the attempt stops past 256 KiB of
// them instead of taking the memory.
TEST(ChildTransportTest, HeadersPastTheirLimitFailTheAttempt) {
  std::string headers;
  for (int i = 0; headers.size() <= kMaxAnswerHeaders; ++i) {
    headers += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'h') + "\r\n";
  }
  TestServer server({Answer("HTTP/1.1 200 OK", headers)});
  const std::unique_ptr<HttpTransport> transport = NewHttpTransport();
  HttpAnswer answer;
  HttpFailure failure;
  EXPECT_FALSE(transport->Perform(AttemptTo(server), answer, failure));
  EXPECT_EQ(ToUtf8(failure.message), "Error receiving data: the answer's headers are longer than 256 KiB");
}

TEST(ChildTransportTest, ALibraryThatCannotBeLoadedFailsTheAttempt) {
  TestServer server({Answer("HTTP/1.1 200 OK")});
  testing_seam::SetCurlLibraryName("libvantrel-missing.so.0");
  const std::unique_ptr<HttpTransport> transport = NewHttpTransport();
  HttpAnswer answer;
  HttpFailure failure;
  const bool answered = transport->Perform(AttemptTo(server), answer, failure);
  testing_seam::SetCurlLibraryName("");
  EXPECT_FALSE(answered);
  EXPECT_EQ(failure.kind, HttpFailure::kOther);
  EXPECT_EQ(ToUtf8(failure.message),
            "Error obtaining session handle: libvantrel-missing.so.0: cannot open shared object file: No such file "
            "or directory");
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace vantrel
