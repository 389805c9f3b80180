// What the attempt-process transport of either platform must do, written
// once: the attempt's settings, its outcome, and the stop that ends a
// running attempt. Each platform's test file gives the platform's stop and
// its count of the attempt processes still running.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "notify/http_attempt.h"
#include "notify/http_transport.h"
#include "tests/notify/test_server.h"

namespace vantrel::testing {

inline HttpAttempt AttemptTo(const TestServer& server) {
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

inline Outcome Attempt(const HttpAttempt& attempt) {
  Outcome o;
  o.answered = NewHttpTransport()->Perform(attempt, o.answer, o.failure);
  return o;
}

// An answer comes back whole from the attempt's process, which is gone
// afterwards; gives the outcome for what a platform checks besides.
inline Outcome ExpectTheAnswerComesBack(const std::function<int()>& live_children) {
  TestServer server({Answer("HTTP/1.1 201 Created", "Content-Type: text/plain\r\nX-Kept: yes\r\n", "body")});
  const Outcome o = Attempt(AttemptTo(server));
  EXPECT_TRUE(o.answered) << ToUtf8(o.failure.message);
  EXPECT_EQ(o.answer.status, 201);
  EXPECT_EQ(o.answer.reason, "Created");
  EXPECT_EQ(o.answer.body, "body");
  EXPECT_TRUE(o.answer.body_failure.empty());
  EXPECT_EQ(server.Requests().size(), 1u);
  if (!server.Requests().empty()) {
    EXPECT_EQ(server.Requests()[0].body, "{\"text\":\"x\"}");
  }
  EXPECT_EQ(live_children(), 0) << "the attempt's process outlived its answer";
  return o;
}

// A stop announced before the attempt starts: nothing is started or sent.
inline void ExpectAnAttemptAfterTheStopEndsAtOnce(const std::function<void()>& announce_stop,
                                                  const std::function<void()>& forget_stop,
                                                  const std::function<int()>& live_children) {
  TestServer server({Answer("HTTP/1.1 200 OK")});
  announce_stop();
  const Outcome o = Attempt(AttemptTo(server));
  forget_stop();
  EXPECT_FALSE(o.answered);
  EXPECT_EQ(ToUtf8(o.failure.message), "Error receiving data: the service stopped before the answer came");
  EXPECT_EQ(live_children(), 0);
  EXPECT_TRUE(server.Requests().empty());
}

// The service's stop ends a running attempt within 2 s and leaves no
// process behind. It counts as answered only when the head of a 200 had
// come: the chat server has the notice then, body or not.
inline void ExpectTheStopEndsTheAttempt(const std::function<void()>& announce_stop,
                                        const std::function<void()>& forget_stop,
                                        const std::function<int()>& live_children) {
  using Clock = std::chrono::steady_clock;
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
      forget_stop();
      Clock::time_point stopped;
      std::thread stopper([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (server.Requests().empty() && Clock::now() < deadline) std::this_thread::yield();
        std::this_thread::sleep_for(delay);
        stopped = Clock::now();
        announce_stop();
      });
      const Outcome o = Attempt(attempt);
      const auto took = Clock::now() - stopped;
      stopper.join();
      forget_stop();
      EXPECT_LT(took, std::chrono::seconds(2));
      EXPECT_EQ(live_children(), 0) << "an attempt's process outlived the stop";
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

}  // namespace vantrel::testing
