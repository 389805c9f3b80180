// The Linux transport: each attempt made by a fresh process of the program
// that loads libcurl, so the service itself never maps it; a library that
// cannot be loaded fails the post's check, not the program; the service's
// stop ends a running attempt at once; a proxy that refuses its tunnel
// answers as a proxy answers a plain request.
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "notify/answer_reading.h"
#include "notify/exchange_failure.h"
#include "notify/http_attempt.h"
#include "notify/http_transport_test_seam.h"
#include "notify/poster.h"
#include "platform/service_stop_linux.h"
#include "platform/trace.h"
#include "tests/notify/attempt_cases.h"
#include "tests/notify/test_server.h"

namespace vantrel {
namespace {

using testing::Answer;
using testing::Attempt;
using testing::AttemptTo;
using testing::Outcome;
using testing::TestServer;

// True when this process has the named library mapped.
bool Mapped(const std::string& library) {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find(library) != std::string::npos;
}

// The processes this one has started and not yet waited for, on any of its
// threads.
std::string Children() {
  std::string all;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* task = readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
      std::string line;
      std::getline(children, line);
      all += line;
    }
    closedir(tasks);
  }
  return all;
}

// How many of those there are.
int LiveChildren() {
  std::istringstream pids(Children());
  int count = 0;
  for (std::string pid; pids >> pid;) ++count;
  return count;
}

TEST(ChildTransportTest, TheAnswerComesBackWhileThisProcessNeverMapsLibcurl) {
  const Outcome o = testing::ExpectTheAnswerComesBack(LiveChildren);
  EXPECT_NE(std::find(o.answer.headers.begin(), o.answer.headers.end(),
                      std::make_pair(std::string("X-Kept"), std::string("yes"))),
            o.answer.headers.end());
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
  const Outcome o = Attempt(AttemptTo(server));
  EXPECT_FALSE(o.answered);
  EXPECT_EQ(ToUtf8(o.failure.message), "Error receiving data: the answer's headers are longer than 256 KiB");
}

// No libcurl: the attempt says why, and the poster lets that through to the
// check (which fails and is tried again), as when WinHTTP refuses its
// session; nothing is sent and no debug line is written. The failure's
// message is the text alone; the reason rides beside it.
TEST(ChildTransportTest, ALibraryThatCannotBeLoadedFailsTheCheckNotThePost) {
  TestServer server({Answer("HTTP/1.1 200 OK")});
  testing_seam::SetCurlLibraryName("libvantrel-missing.so.0");
  const std::string message =
      "Error obtaining session handle: libvantrel-missing.so.0: cannot open shared object file: No such file or "
      "directory";
  const Outcome o = Attempt(AttemptTo(server));
  EXPECT_FALSE(o.answered);
  EXPECT_EQ(o.failure.kind, HttpFailure::kNoSession);
  EXPECT_EQ(ToUtf8(o.failure.message), message);

  std::vector<std::string> lines;
  SetTraceSink([&](const String& line) { lines.push_back(ToUtf8(line)); });
  MessageDocument doc;
  doc.InitFast();
  doc.SetMember(u"text", u"x");
  try {
    PostToWebhook(FromUtf8(server.Url()), doc);
    ADD_FAILURE() << "the post did not raise";
  } catch (const SessionHandleFailure& e) {
    // The message alone, as the debug line gives it; the loader's reason
    // for the status line.
    EXPECT_EQ(ToUtf8(e.Message()), "Error obtaining session handle");
    EXPECT_EQ(ToUtf8(e.Details()), message);
  }
  SetTraceSink(nullptr);
  testing_seam::SetCurlLibraryName("");
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(server.Requests().empty());
}

// The service's stop ends a running attempt at once and leaves no process
// behind, counted among this process's children.
TEST(ChildTransportTest, TheServicesStopEndsTheAttempt) {
  testing::ExpectTheStopEndsTheAttempt(AnnounceServiceStop, ForgetServiceStop, LiveChildren);
}

// A stop announced before the attempt starts: nothing is sent.
TEST(ChildTransportTest, AnAttemptAfterTheStopEndsAtOnce) {
  testing::ExpectAnAttemptAfterTheStopEndsAtOnce(AnnounceServiceStop, ForgetServiceStop, LiveChildren);
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A proxy that wants credentials (the program has none) answers 407: over
// http to the request itself, over https to the CONNECT that asks for a
// tunnel. Either way its status and reason are the attempt's answer.
TEST(ChildTransportTest, AProxyThatRefusesAnswersWithItsStatus) {
  TestServer proxy({Answer("HTTP/1.1 407 Proxy Authentication Required", "Proxy-Authenticate: Basic realm=\"p\"\r\n")});
  const std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy.Port());
  const ScopedVariable http("http_proxy", proxy_url), https("https_proxy", proxy_url), none("no_proxy", "");
  struct Row {
    bool secure;
    int port;
    const char* request_line;
  } rows[] = {{false, 80, "POST http://chat.invalid/hook HTTP/1.1"}, {true, 443, "CONNECT chat.invalid:443 HTTP/1.1"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request_line);
    HttpAttempt attempt = AttemptTo(proxy);
    attempt.host = "chat.invalid";
    attempt.secure = row.secure;
    attempt.port = row.port;
    const std::size_t before = proxy.Requests().size();
    const Outcome o = Attempt(attempt);
    ASSERT_TRUE(o.answered) << ToUtf8(o.failure.message);
    EXPECT_EQ(o.answer.status, 407);
    EXPECT_EQ(o.answer.reason, "Proxy Authentication Required");
    EXPECT_NE(std::find(o.answer.headers.begin(), o.answer.headers.end(),
                        std::make_pair(std::string("Proxy-Authenticate"), std::string("Basic realm=\"p\""))),
              o.answer.headers.end());
    ASSERT_EQ(proxy.Requests().size(), before + 1);
    EXPECT_EQ(proxy.Requests().back().RequestLine(), row.request_line);
  }
}

// Each attempt's process starts clean, whatever the threads of this one
// hold: here a thread that allocates and frees without pause (the
// allocator's locks taken all the time) while attempts are made one after
// another. Under the sanitizers this is where a forked child used to hang.
TEST(ChildTransportTest, AttemptsBesideABusyThreadNeverHang) {
  TestServer server({Answer("HTTP/1.1 200 OK", "Content-Type: text/plain\r\n", "ok")});
  std::atomic<bool> done{false};
  std::thread busy([&] {
    std::vector<std::unique_ptr<std::string>> held(64);
    for (std::size_t i = 0; !done; ++i) held[i % held.size()] = std::make_unique<std::string>(100 + i % 4000, 'x');
  });
  for (int i = 0; i < 40; ++i) {
    const Outcome o = Attempt(AttemptTo(server));
    ASSERT_TRUE(o.answered) << "attempt " << i << ": " << ToUtf8(o.failure.message);
    EXPECT_EQ(o.answer.status, 200);
  }
  done = true;
  busy.join();
  EXPECT_EQ(server.Requests().size(), 40u);
}

}  // namespace
}  // namespace vantrel
