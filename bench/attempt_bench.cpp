// What one HTTP attempt costs on Linux, made as the service makes it (a
// freshly started process of the program, posix_spawn) against the way it
// was made before (a fork of the calling process that loads libcurl), kept
// here as the reference. Each is timed from the call to the decoded result,
// against a local server, many times; the medians and their ratio are
// printed. Nothing passes or fails on time.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "notify/attempt_pipe.h"
#include "notify/attempt_process.h"
#include "notify/curl_attempt_linux.h"
#include "notify/curl_library_linux.h"
#include "notify/http_attempt.h"
#include "notify/http_transport.h"
#include "platform/fd_io_linux.h"
#include "tests/notify/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 41;

vantrel::HttpAttempt AttemptTo(int port) {
  vantrel::HttpAttempt attempt;
  attempt.method = "POST";
  attempt.host = "127.0.0.1";
  attempt.port = port;
  attempt.target = "/hook";
  attempt.headers = {{"Content-type", "application/json"}};
  attempt.body = "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Bench, koneen nimi bench\"}";
  return attempt;
}

// The attempt as it was made before: a fork that loads libcurl, makes the
// attempt and writes the result into a pipe.
bool ForkedAttempt(const vantrel::HttpAttempt& attempt) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(ends[0]);
    const vantrel::AttemptResult result = vantrel::PerformWithCurl(attempt, vantrel::CurlLibraryFile());
    _exit(vantrel::WriteAll(ends[1], vantrel::EncodeAttemptResult(result)) == 0 ? 0 : 1);
  }
  close(ends[1]);
  std::string bytes;
  vantrel::ReadAll(ends[0], bytes);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  vantrel::AttemptResult result;
  return vantrel::DecodeAttemptResult(bytes, result) == vantrel::AttemptOutput::kWhole && result.answered &&
         result.answer.status == 200;
}

bool SpawnedAttempt(const vantrel::HttpAttempt& attempt) {
  vantrel::HttpAnswer answer;
  vantrel::HttpFailure failure;
  return vantrel::NewHttpTransport()->Perform(attempt, answer, failure) && answer.status == 200;
}

// The median of kRuns timed calls in milliseconds, after one untimed; a
// negative value when a call failed.
template <typename Call>
double MedianMs(Call call) {
  if (!call()) return -1;
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    if (!call()) return -1;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
  return times[kRuns / 2];
}

}  // namespace

int main() {
  // The spawned attempts start this program again.
  if (const std::optional<int> code = vantrel::RunHttpAttemptProcess()) return *code;
  const vantrel::testing::TestServer server({vantrel::testing::Answer("HTTP/1.1 200 OK", "", "ok")});
  const vantrel::HttpAttempt attempt = AttemptTo(server.Port());
  const double spawned = MedianMs([&] { return SpawnedAttempt(attempt); });
  const double forked = MedianMs([&] { return ForkedAttempt(attempt); });
  if (spawned < 0 || forked < 0) {
    std::fprintf(stderr, "an attempt failed\n");
    return 1;
  }
  std::printf("one HTTP attempt, median of %d: spawned process %.2f ms, forked process (before) %.2f ms, ratio %.2f\n",
              kRuns, spawned, forked, spawned / forked);
  return 0;
}
