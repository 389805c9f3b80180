// The Windows transport: each attempt made by a fresh process of the program
// inside a job object; the service's stop ends a running attempt at once and
// leaves no process behind; an attempt after the stop sends nothing.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "notify/http_transport.h"
#include "platform/service_stop_win.h"
#include "platform/unique_handle.h"
#include "tests/notify/test_server.h"

namespace vantrel {
namespace {

using testing::Answer;
using testing::TestServer;
using Clock = std::chrono::steady_clock;

// How many processes this one has started that still run.
int LiveChildren() {
  const UniqueHandle<HANDLE, CloseHandle> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId()) continue;
    const UniqueHandle<HANDLE, CloseHandle> child(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (child && WaitForSingleObject(child.get(), 0) == WAIT_TIMEOUT) ++count;
  }
  return count;
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

struct Outcome {
  bool answered;
  HttpAnswer answer;
  HttpFailure failure;
};

Outcome Attempt(const HttpAttempt& attempt) {
  Outcome o;
  o.answered = NewHttpTransport()->Perform(attempt, o.answer, o.failure);
  return o;
}

TEST(ChildTransportWinTest, TheAnswerComesBackFromTheAttemptsProcess) {
  TestServer server({Answer("HTTP/1.1 201 Created", "Content-Type: text/plain\r\nX-Kept: yes\r\n", "body")});
  const Outcome o = Attempt(AttemptTo(server));
  ASSERT_TRUE(o.answered) << ToUtf8(o.failure.message);
  EXPECT_EQ(o.answer.status, 201);
  EXPECT_EQ(o.answer.reason, "Created");
  EXPECT_EQ(o.answer.body, "body");
  EXPECT_TRUE(o.answer.body_failure.empty());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].body, "{\"text\":\"x\"}");
  EXPECT_EQ(LiveChildren(), 0);
}

// The service's stop ends a running attempt within 2 s and leaves no
// process behind. It counts as answered only when the head of a 200 had
// come: the chat server has the notice then, body or not.
TEST(ChildTransportWinTest, TheServicesStopEndsTheAttempt) {
  struct Row {
    const char* name;
    std::vector<std::string> answers;
    TestServer::Reply reply;
    bool answered;  // once the head had come
  } rows[] = {
      {"no answer", {}, TestServer::Reply::kSilent, false},
      {"a 200's head, then silence",
       {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n12345"},
       TestServer::Reply::kThenSilent,
       true},
      {"a 500's head, then silence",
       {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 100\r\n\r\n12345"},
       TestServer::Reply::kThenSilent,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // How long after the request the stop comes: the answer's head has to
    // reach the attempt's process first, which takes longer on a loaded
    // machine; a stop that came too early is tried again later.
    for (auto delay = std::chrono::milliseconds(50);; delay *= 2) {
      TestServer server(row.answers, row.reply);
      HttpAttempt attempt = AttemptTo(server);
      attempt.timeout_ms = 60000;
      ForgetServiceStop();
      Clock::time_point stopped;
      std::thread stopper([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (server.Requests().empty() && Clock::now() < deadline) std::this_thread::yield();
        std::this_thread::sleep_for(delay);
        stopped = Clock::now();
        AnnounceServiceStop();
      });
      const Outcome o = Attempt(attempt);
      const auto took = Clock::now() - stopped;
      stopper.join();
      ForgetServiceStop();
      EXPECT_LT(took, std::chrono::seconds(2));
      EXPECT_EQ(LiveChildren(), 0);
      if (o.answered) {
        EXPECT_TRUE(row.answered);
        EXPECT_EQ(o.answer.status, 200);
        EXPECT_EQ(ToUtf8(o.answer.body_failure), "Error reading data: the service stopped before the body had come");
        break;
      }
      EXPECT_EQ(ToUtf8(o.failure.message), "Error receiving data: the service stopped before the answer came");
      if (!row.answered) break;
      ASSERT_LT(delay, std::chrono::seconds(5)) << "the head never came before the stop";
    }
  }
}

// A stop announced before the attempt starts: nothing is started or sent.
TEST(ChildTransportWinTest, AnAttemptAfterTheStopEndsAtOnce) {
  TestServer server({Answer("HTTP/1.1 200 OK")});
  AnnounceServiceStop();
  const Outcome o = Attempt(AttemptTo(server));
  ForgetServiceStop();
  EXPECT_FALSE(o.answered);
  EXPECT_EQ(ToUtf8(o.failure.message), "Error receiving data: the service stopped before the answer came");
  EXPECT_TRUE(server.Requests().empty());
}

// Started with the attempt's variable but not by the service (no pipes
// behind its numbers), the program runs as it would without it.
TEST(ChildTransportWinTest, TheVariableAloneIsNoAttempt) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"VANTREL_HTTP_ATTEMPT", L"1:2:3"));
  EXPECT_EQ(RunHttpAttemptProcess(), std::nullopt);
  wchar_t buffer[16];
  EXPECT_EQ(GetEnvironmentVariableW(L"VANTREL_HTTP_ATTEMPT", buffer, 16), 0u);
}

}  // namespace
}  // namespace vantrel
