// The status machine and the action on control codes, through a recording
// sink and a scripted queue of control codes.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "host/service_thread.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

using S = ServiceState;

struct Report {
  S state;
  std::uint32_t controls;
  std::uint32_t check_point;
};

// Keeps every report; throws when asked to report fail_on.
class RecordingSink : public StatusSink {
 public:
  std::optional<String> Send(const ServiceStatusRecord& record) override {
    EXPECT_EQ(record.service_type, 0x10u);
    EXPECT_EQ(record.win32_exit_code, 0u);
    EXPECT_EQ(record.service_specific_exit_code, 0u);
    EXPECT_EQ(record.wait_hint, 5000u);
    reports.push_back({record.current_state, record.controls_accepted, record.check_point});
    if (fail_on && *fail_on == record.current_state) throw Exception(u"boom");
    return std::nullopt;
  }
  std::vector<Report> reports;
  std::optional<S> fail_on;
};

class ScriptedSource : public ControlSource {
 public:
  explicit ScriptedSource(std::vector<std::uint32_t> codes) : codes_(codes.begin(), codes.end()) {}
  std::optional<std::uint32_t> Next(bool) override {
    if (codes_.empty()) return std::nullopt;
    const std::uint32_t code = codes_.front();
    codes_.pop_front();
    return code;
  }

 private:
  std::deque<std::uint32_t> codes_;
};

struct Row {
  const char* name;
  std::vector<std::uint32_t> codes;
  std::vector<Report> expected;
  int suspends;
};

// The three reports of every start.
const Report kStart1{S::kStartPending, 0, 1};
const Report kStart2{S::kStartPending, 0, 2};
const Report kRunning{S::kRunning, 7, 0};
const Report kStopPending{S::kStopPending, 7, 0};
const Report kStopped{S::kStopped, 7, 0};

const std::vector<Row> kRows = {
    {"start then stop", {1}, {kStart1, kStart2, kRunning, kStopPending, kStopped}, 0},
    {"pause and continue",
     {2, 3, 1},
     {kStart1,
      kStart2,
      kRunning,
      {S::kPausePending, 7, 0},
      {S::kPaused, 7, 0},
      {S::kContinuePending, 7, 0},
      kRunning,
      kStopPending,
      kStopped},
     1},
    {"shutdown as stop", {5}, {kStart1, kStart2, kRunning, kStopPending, kStopped}, 0},
    {"interrogate repeats running", {4, 1}, {kStart1, kStart2, kRunning, kRunning, kStopPending, kStopped}, 0},
    {"custom code sends nothing", {128, 255, 1}, {kStart1, kStart2, kRunning, kStopPending, kStopped}, 0},
    {"stop while paused",
     {2, 1},
     {kStart1, kStart2, kRunning, {S::kPausePending, 7, 0}, {S::kPaused, 7, 0}, kStopPending, kStopped},
     1},
    {"queued codes after stop repeat the pending state",
     {1, 4, 4},
     {kStart1, kStart2, kRunning, kStopPending, {S::kStopPending, 7, 1}, {S::kStopPending, 7, 2}, kStopped},
     0},
    {"no stop: the queue runs dry", {}, {kStart1, kStart2, kRunning, kStopped}, 0},
};

void ExpectReports(const std::vector<Report>& got, const std::vector<Report>& want, const char* row) {
  ASSERT_EQ(got.size(), want.size()) << "row: " << row;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].state, want[i].state) << "row: " << row << ", report " << i;
    EXPECT_EQ(got[i].controls, want[i].controls) << "row: " << row << ", report " << i;
    EXPECT_EQ(got[i].check_point, want[i].check_point) << "row: " << row << ", report " << i;
  }
}

TEST(ServiceStatus, ControlSequences) {
  for (const Row& row : kRows) {
    ServiceModule service(u"VantrelSrv", u"Vantrel");
    RecordingSink sink;
    std::vector<String> log;
    int suspends = 0;
    service.SetStatusSink(&sink);
    service.SetLogSinkForTesting([&log](const String& line) { log.push_back(line); });
    service.OnPausedSuspend = [&suspends] { ++suspends; };
    ScriptedSource source(row.codes);
    RunStartSequence(service, [&] { RunServiceThread(service, source); });
    ExpectReports(sink.reports, row.expected, row.name);
    EXPECT_EQ(suspends, row.suspends) << "row: " << row.name;
    EXPECT_TRUE(log.empty()) << "row: " << row.name;
  }
}

// After a stop, STOPPED waits for the checks to end: STOP_PENDING is
// repeated with its checkpoint advancing while they run, and STOPPED comes
// once they have ended, or once the limit has passed when they never do.
TEST(ServiceStatus, StoppedWaitsForTheChecksToEnd) {
  struct WaitRow {
    const char* name;
    int ends_at_wait;  // the wait at which the checks end; 0: never
    bool ended;
    std::vector<Report> expected;
  } rows[] = {
      {"ended already", 1, true, {kStart1, kStart2, kRunning, kStopPending, {S::kStopPending, 7, 1}, kStopped}},
      {"ended at the third wait",
       3,
       true,
       {kStart1,
        kStart2,
        kRunning,
        kStopPending,
        {S::kStopPending, 7, 1},
        {S::kStopPending, 7, 2},
        {S::kStopPending, 7, 3},
        kStopped}},
      {"never ended: the limit",
       0,
       false,
       {kStart1,
        kStart2,
        kRunning,
        kStopPending,
        {S::kStopPending, 7, 1},
        {S::kStopPending, 7, 2},
        {S::kStopPending, 7, 3},
        {S::kStopPending, 7, 4},
        kStopped}},
  };
  for (const WaitRow& row : rows) {
    ServiceModule service(u"VantrelSrv", u"Vantrel");
    RecordingSink sink;
    service.SetStatusSink(&sink);
    ScriptedSource source({1});
    int waits = 0;
    std::size_t reports_when_ended = 0;
    std::optional<bool> ended;
    RunStartSequence(service, [&] {
      RunServiceThread(service, source);
      ended = WaitForChecksAtStop(
          service,
          [&](unsigned ms) {
            EXPECT_EQ(ms, 500u);
            const bool now = ++waits == row.ends_at_wait;
            if (now) reports_when_ended = sink.reports.size();
            return now;
          },
          500, 2000);
    });
    ExpectReports(sink.reports, row.expected, row.name);
    EXPECT_EQ(ended, std::optional<bool>(row.ended)) << "row: " << row.name;
    if (row.ended) {
      EXPECT_EQ(reports_when_ended, sink.reports.size() - 1) << "row: " << row.name;  // STOPPED came after
    }
  }
}

TEST(ServiceStatus, FailureWhileActingRestoresStatusAndLogs) {
  struct FailRow {
    const char* name;
    std::uint32_t code;
    S fail_on;
    std::vector<Report> after_running;
    S final_status;
    const char16_t* message;
  };
  const std::vector<FailRow> rows = {
      {"pause",
       2,
       S::kPaused,
       {{S::kPausePending, 7, 0}, {S::kPaused, 7, 0}, kRunning},
       S::kRunning,
       u"Service failed on pause: boom"},
      {"continue",
       3,
       S::kContinuePending,
       {{S::kContinuePending, 7, 0}, kRunning},
       S::kRunning,
       u"Service failed on continue: boom"},
      {"interrogate", 4, S::kRunning, {kRunning, kRunning}, S::kRunning, u"Service failed on interrogate: boom"},
      {"stop", 1, S::kStopPending, {kStopPending, kRunning}, S::kRunning, u"Service failed on stop: boom"},
      {"shutdown keeps stop pending",
       5,
       S::kStopPending,
       {kStopPending},
       S::kStopPending,
       u"Service failed on shutdown: boom"},
  };
  for (const FailRow& row : rows) {
    ServiceModule service(u"VantrelSrv", u"Vantrel");
    RecordingSink sink;
    std::vector<String> log;
    service.SetStatusSink(&sink);
    service.SetLogSinkForTesting([&log](const String& line) { log.push_back(line); });
    service.SetStatus(S::kRunning);
    sink.reports.clear();
    sink.fail_on = row.fail_on;
    service.DoControl(row.code);
    ExpectReports(sink.reports, row.after_running, row.name);
    EXPECT_EQ(service.Status(), row.final_status) << "row: " << row.name;
    ASSERT_EQ(log.size(), 1u) << "row: " << row.name;
    EXPECT_EQ(log[0], row.message) << "row: " << row.name;
  }
}

TEST(ServiceStatus, FailureTexts) {
  EXPECT_EQ(ControlFailureText(1, u"x"), u"Service failed on stop: x");
  EXPECT_EQ(ControlFailureText(5, u"x"), u"Service failed on shutdown: x");
  EXPECT_EQ(ControlFailureText(200, u"x"), u"Service failed in custom message(200): x");
  EXPECT_EQ(StepFailureText(u"execute", u"y"), u"Service failed on execute: y");
}

TEST(ServiceStatus, FailedStartReportsStoppedThenLogsExecute) {
  ServiceModule service(u"VantrelSrv", u"Vantrel");
  RecordingSink sink;
  std::vector<String> log;
  service.SetStatusSink(&sink);
  service.SetLogSinkForTesting([&log](const String& line) { log.push_back(line); });
  RunStartSequence(service, [] { throw Exception(u"no thread"); });
  ExpectReports(sink.reports, {kStart1, kStopped}, "failed start");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], u"Service failed on execute: no thread");
}

TEST(ServiceStatus, RefusedReportIsLoggedAndStatusKept) {
  class RefusingSink : public StatusSink {
   public:
    std::optional<String> Send(const ServiceStatusRecord&) override { return String(u"The handle is invalid"); }
  } sink;
  ServiceModule service(u"VantrelSrv", u"Vantrel");
  std::vector<String> log;
  service.SetStatusSink(&sink);
  service.SetLogSinkForTesting([&log](const String& line) { log.push_back(line); });
  service.SetStatus(S::kRunning);
  EXPECT_EQ(service.Status(), S::kRunning);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], u"The handle is invalid");
}

TEST(ServiceStatus, ControlCodeWithoutServiceThreadIsDropped) {
  ServiceModule service(u"VantrelSrv", u"Vantrel");
  service.QueueControlCode(1);  // must neither fail nor block
  EXPECT_FALSE(service.Terminated());
}

}  // namespace
}  // namespace vantrel
