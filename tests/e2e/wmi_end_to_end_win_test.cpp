// The check's central job under Wine, end to end: the real vantrel.exe,
// started by Wine's service manager, finds error and warning entries through
// the WMI scripting objects and tells the webhook in this process. Wine's
// WMI has no event log class, so the ProgID the program creates is mapped to
// the stand-in of tests/watch/wmi_standin for the length of each test; it
// answers from a fixture the test writes and records every call. The
// service's debug lines are read from the debugger output stream.
//
// Each service start runs one check (a second after the start), so each row
// below is one start of the installed service.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/debug_output_win.h"
#include "tests/e2e/service_control_win.h"
#include "tests/watch/wmi_standin/standin_setup.h"

namespace {

using namespace vantrel::testing;

const std::string kQueryUpToType =
    "SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM Win32_NTLogEvent   "
    "Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= ";
const std::string kConnected = "ConnectServer(BSTR:localhost, BSTR:root\\CIMV2, BSTR:, BSTR:) -> Services";

// The stand-in's line for the program's query: the text byte for byte, the
// language and the forward-only flag, and how many entries it selected.
std::string QueryLine(int max_event_type, std::uint64_t above, int selected) {
  return "ExecQuery(BSTR:" + kQueryUpToType + std::to_string(max_event_type) + " and RecordNumber > " +
         std::to_string(above) + ", BSTR:WQL, I4:32) -> ObjectSet of " + std::to_string(selected);
}

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

bool Ends(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What one start of the service did.
struct Check {
  std::vector<std::string> calls;        // the stand-in's record
  std::vector<std::string> failures;     // the first "Virhe haussa=" and "callstack=" debug lines
  std::vector<std::string> notices;      // bodies posted to the webhook
  std::optional<DWORD> stored;           // "lastrecnum" after the stop, a REG_DWORD...
  std::optional<ULONGLONG> stored_wide;  // ...or a REG_QWORD (past 31 bits)
  std::optional<DWORD> exit_code;
};

// "lastrecnum" as the program stores a number past 31 bits.
LSTATUS SetStoredQword(ULONGLONG value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"lastrecnum", REG_QWORD, &value, sizeof value);
}

std::optional<ULONGLONG> StoredQword() {
  ULONGLONG value = 0;
  DWORD type = 0, size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"lastrecnum", RRF_RT_ANY, &type, &value, &size) !=
          ERROR_SUCCESS ||
      type != REG_QWORD) {
    return std::nullopt;
  }
  return value;
}

class WmiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveService();
    DeleteTestValues();
    standin_ = std::make_unique<WmiStandIn>(VANTREL_WMI_STANDIN);
    ASSERT_TRUE(standin_->Registered());
    ASSERT_TRUE(debug_.Listening()) << "another reader holds the debugger output";
    ASSERT_FALSE(computer_.empty());
    ASSERT_EQ(RunProgram(L"/install /silent \"Demo 1\""), 0u);
    ASSERT_EQ(SetChatUrl(chat_.Url("/hook")), ERROR_SUCCESS);
  }
  void TearDown() override {
    RemoveService();
    DeleteTestValues();
    standin_.reset();
  }

  // Starts the service with the stand-in answering from fixture, waits for
  // its check (and for a notice when one is expected), and stops it.
  Check StartAndStop(const StandInFixture& fixture, bool notice_expected) {
    Check check;
    EXPECT_TRUE(standin_->Answer(fixture));
    const std::size_t posted_before = chat_.Requests().size();
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    EXPECT_TRUE(service) << GetLastError();
    if (!service) return check;

    EXPECT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    EXPECT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
    if (!running || running->dwCurrentState != SERVICE_RUNNING) return check;

    // The query has ended when the stand-in's last object is released.
    EXPECT_TRUE(WaitForQueryEnd(20000)) << "the check did not release every WMI object";
    if (notice_expected) {
      EXPECT_TRUE(WaitForRequests(chat_, posted_before + 1, 20000)) << "no notice was posted";
    }

    EXPECT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    const auto stopped = WaitForState(service.get(), SERVICE_STOPPED, 10000);
    EXPECT_TRUE(stopped && stopped->dwCurrentState == SERVICE_STOPPED);
    check.exit_code = WaitForProcessEnd(running->dwProcessId, 10000);

    // The first check's calls and lines: a check that failed is tried again
    // at every tick, a second apart at the start, until the stop.
    check.calls = standin_->Calls();
    for (std::size_t i = 0; i < check.calls.size(); ++i) {
      if (check.calls[i].rfind("Release ", 0) == 0 && Ends(check.calls[i], " alive=0")) {
        check.calls.resize(i + 1);
        break;
      }
    }
    for (const std::string& line : debug_.LinesOf(running->dwProcessId)) {
      if (line.rfind("Virhe haussa=", 0) == 0 || line.rfind("callstack=", 0) == 0) check.failures.push_back(line);
    }
    if (check.failures.size() > 2) check.failures.resize(2);
    const std::vector<Received> requests = chat_.Requests();
    for (std::size_t i = posted_before; i < requests.size(); ++i) check.notices.push_back(requests[i].body);
    check.stored = StoredRecordNumber();
    check.stored_wide = StoredQword();
    return check;
  }

  std::string Notice(const std::string& opening) const {
    return "{\"text\":\"" + opening + " Demo 1, koneen nimi " + Utf8(computer_) + "\"}";
  }

  const std::wstring computer_ = ComputerNameVariable();
  TestServer chat_{{Answer("HTTP/1.1 200 OK")}};
  DebugOutputMonitor debug_;
  std::unique_ptr<WmiStandIn> standin_;

 private:
  bool WaitForQueryEnd(DWORD timeout_ms) {
    for (DWORD waited = 0;; waited += kPollMs) {
      const std::vector<std::string> calls = standin_->Calls();
      if (!calls.empty() && calls.back().rfind("Release ", 0) == 0 && Ends(calls.back(), " alive=0")) return true;
      if (waited >= timeout_ms) return false;
      Sleep(kPollMs);
    }
  }
};

// Whatever the check met, it held one entry at a time and released every
// object of the stand-in before it went on.
void ExpectEveryObjectReleased(const Check& check, const std::string& row) {
  for (const std::string& line : Starting(check.calls, "Next ")) {
    EXPECT_EQ(line.rfind("Next held=0 ", 0), 0u) << row << ": an entry was still held: " << line;
  }
  ASSERT_FALSE(check.calls.empty()) << row;
  EXPECT_TRUE(Ends(check.calls.back(), " alive=0")) << row << ": " << check.calls.back();
  EXPECT_EQ(check.exit_code, std::optional<DWORD>(0)) << row;
}

const std::string kStartText = "PSQL lisenssivalvonta k\xC3\xA4ynnistetty";
const std::string kProblemsText = "Mahdollisia PSQL lisenssiongelmia";

TEST_F(WmiEndToEnd, FreshInstallationThenOneMoreErrorEntry) {
  StandInFixture log;
  log.entries = {PervasiveEntry(5, 3), PervasiveEntry(7, 1), PervasiveEntry(6, 2), PervasiveEntry(8, 1),
                 PervasiveEntry(9, 1)};
  log.entries[3].source_name = "Other source";  // not the watched source
  log.entries[4].logfile = "System";            // not the Application log

  // The first check of the installation asks for information entries too,
  // posts the start notice and stores the highest number it read.
  const Check first = StartAndStop(log, true);
  ExpectEveryObjectReleased(first, "first check");
  EXPECT_EQ(Starting(first.calls, "ConnectServer"), std::vector<std::string>{kConnected});
  EXPECT_EQ(Starting(first.calls, "ExecQuery"), std::vector<std::string>{QueryLine(3, 0, 3)});
  EXPECT_EQ(Starting(first.calls, "Next "),
            (std::vector<std::string>{"Next held=0 -> entry 1", "Next held=0 -> entry 2", "Next held=0 -> entry 3",
                                      "Next held=0 -> end"}));
  EXPECT_EQ(first.notices, std::vector<std::string>{Notice(kStartText)});
  EXPECT_EQ(first.stored, std::optional<DWORD>(7));
  EXPECT_EQ(first.failures, std::vector<std::string>{});

  // One more error entry (and an information entry, which later checks do
  // not ask for): the next start reports problems and stores its number.
  log.entries.push_back(PervasiveEntry(10, 1));
  log.entries.push_back(PervasiveEntry(11, 3));
  const Check later = StartAndStop(log, true);
  ExpectEveryObjectReleased(later, "later check");
  EXPECT_EQ(Starting(later.calls, "ConnectServer"), std::vector<std::string>{kConnected});
  EXPECT_EQ(Starting(later.calls, "ExecQuery"), std::vector<std::string>{QueryLine(2, 7, 1)});
  EXPECT_EQ(Starting(later.calls, "Next "), (std::vector<std::string>{"Next held=0 -> entry 6", "Next held=0 -> end"}));
  EXPECT_EQ(later.notices, std::vector<std::string>{Notice(kProblemsText)});
  EXPECT_EQ(later.stored, std::optional<DWORD>(10));
  EXPECT_EQ(later.failures, std::vector<std::string>{});
}

// A walk that breaks off keeps nothing of it: WMI may give the newest entry
// first, so the highest number read may stand above entries never reached.
// The failure is traced as a failed query is, nothing is posted, the stored
// number stays, and the check is tried again at the next tick. A failure
// before the walk stores nothing either.
TEST_F(WmiEndToEnd, AQueryFailingPartWayKeepsNothingOfIt) {
  constexpr DWORD kStored = 20;  // a later check: "lastrecnum" holds 20
  const std::vector<StandInEntry> three = {PervasiveEntry(23, 1), PervasiveEntry(22, 2), PervasiveEntry(21, 1)};

  struct Row {
    const char* name;
    StandInFixture fixture;
    std::vector<std::string> failures;  // the debug lines of the failure
    bool notice;
    DWORD stored;
    std::vector<std::string> walk;  // the stand-in's Next lines
  };
  std::vector<Row> rows;
  {
    Row row{"the walk's Next fails after the newest entry",
            {},
            {"Virhe haussa=Generic failure", "callstack="},
            false,
            kStored,
            {}};
    row.fixture.entries = three;
    row.fixture.next_fails_after = 1;
    row.walk = {"Next held=0 -> entry 1", "Next held=0 -> error 80041001"};
    rows.push_back(row);
  }
  {
    Row row{"the third entry cannot be read", {}, {"Virhe haussa=Generic failure", "callstack="}, false, kStored, {}};
    row.fixture.entries = three;
    row.fixture.read_fails_after = 2;
    row.walk = {"Next held=0 -> entry 1", "Next held=0 -> entry 2", "Next held=0 -> entry 3"};
    rows.push_back(row);
  }
  {
    Row row{"an entry with a null Message", {}, {}, true, 22, {}};
    row.fixture.entries = {PervasiveEntry(21, 1), PervasiveEntry(22, 2)};
    row.fixture.entries[0].message.reset();
    row.walk = {"Next held=0 -> entry 1", "Next held=0 -> entry 2", "Next held=0 -> end"};
    rows.push_back(row);
  }
  {
    Row row{"an entry with a null TimeGenerated",
            {},
            {"Virhe haussa=Could not convert variant of type (Null) into type (UnicodeString)", "callstack="},
            false,
            kStored,
            {}};
    row.fixture.entries = three;
    row.fixture.entries[1].time_generated.reset();
    row.walk = {"Next held=0 -> entry 1", "Next held=0 -> entry 2"};
    rows.push_back(row);
  }
  {
    Row row{"ConnectServer raises with a description",
            {},
            {"Virhe haussa=Access denied", "callstack="},
            false,
            kStored,
            {}};
    row.fixture.entries = three;
    row.fixture.connect_error = 0x80041003;  // WBEM_E_ACCESS_DENIED
    row.fixture.connect_description = "Access denied ";
    rows.push_back(row);
  }
  {
    // Neither Windows nor Wine has a system text for WMI's own codes.
    Row row{"ConnectServer raises without a description",
            {},
            {"Virhe haussa=OLE error 80041003", "callstack="},
            false,
            kStored,
            {}};
    row.fixture.entries = three;
    row.fixture.connect_error = 0x80041003;
    rows.push_back(row);
  }

  for (const Row& row : rows) {
    ASSERT_EQ(SetStoredRecordNumber(kStored), ERROR_SUCCESS);
    const Check check = StartAndStop(row.fixture, row.notice);
    ExpectEveryObjectReleased(check, row.name);
    EXPECT_EQ(check.failures, row.failures) << row.name;
    EXPECT_EQ(Starting(check.calls, "Next "), row.walk) << row.name;
    if (row.fixture.connect_error) {
      char code[16];
      std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(*row.fixture.connect_error));
      EXPECT_EQ(Starting(check.calls, "ConnectServer"),
                std::vector<std::string>{"ConnectServer(BSTR:localhost, BSTR:root\\CIMV2, BSTR:, BSTR:) -> error " +
                                         std::string(code)})
          << row.name;
      EXPECT_EQ(Starting(check.calls, "ExecQuery"), std::vector<std::string>{}) << row.name;
    } else {
      EXPECT_EQ(Starting(check.calls, "ConnectServer"), std::vector<std::string>{kConnected}) << row.name;
      EXPECT_EQ(Starting(check.calls, "ExecQuery"),
                std::vector<std::string>{QueryLine(2, kStored, static_cast<int>(row.fixture.entries.size()))})
          << row.name;
    }
    EXPECT_EQ(check.notices, row.notice ? std::vector<std::string>{Notice(kProblemsText)} : std::vector<std::string>{})
        << row.name;
    EXPECT_EQ(check.stored, std::optional<DWORD>(row.stored)) << row.name;
  }
}

// The log's record numbers are uint32. Past 2^31 WMI scripting hands them
// out as negative VT_I4 values, and the mark, a REG_QWORD since it passed 31
// bits, goes into the query as the number it is.
TEST_F(WmiEndToEnd, RecordNumbersPast2To31) {
  constexpr ULONGLONG kMark = 2147483650;  // 2^31 + 2
  ASSERT_EQ(SetStoredQword(kMark), ERROR_SUCCESS);
  StandInFixture log;
  log.entries = {PervasiveEntry(2147483649u, 1), PervasiveEntry(2147483651u, 1), PervasiveEntry(4294967295u, 2),
                 PervasiveEntry(2147483652u, 3)};

  const Check check = StartAndStop(log, true);
  ExpectEveryObjectReleased(check, "past 2^31");
  EXPECT_EQ(Starting(check.calls, "ExecQuery"), std::vector<std::string>{QueryLine(2, kMark, 2)});
  EXPECT_EQ(Starting(check.calls, "Get entry 3 RecordNumber"),
            std::vector<std::string>{"Get entry 3 RecordNumber() -> I4"});
  EXPECT_EQ(check.notices, std::vector<std::string>{Notice(kProblemsText)});
  EXPECT_EQ(check.failures, std::vector<std::string>{});
  EXPECT_EQ(check.stored_wide, std::optional<ULONGLONG>(4294967295u));
}

// A stop while the problems notice's post is held by the webhook: the mark
// is stored when the 200's head had come (the chat has the notice, body or
// not), and stays where it was when no answer had come; either way the
// service ends within 2 s of net stop.
TEST_F(WmiEndToEnd, AStopDuringAHeldPostStoresTheMarkOnlyAfterA200) {
  constexpr DWORD kStored = 20;
  StandInFixture log;
  log.entries = {PervasiveEntry(21, 1)};
  struct Row {
    const char* name;
    std::vector<std::string> answers;
    TestServer::Reply reply;
    DWORD stored;
  } rows[] = {
      {"no answer", {}, TestServer::Reply::kSilent, kStored},
      {"a 200's head, then silence",
       {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n12345"},
       TestServer::Reply::kThenSilent,
       21},
  };
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service) << GetLastError();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(SetStoredRecordNumber(kStored), ERROR_SUCCESS);
    ASSERT_TRUE(standin_->Answer(log));
    TestServer held(row.answers, row.reply);
    ASSERT_EQ(SetChatUrl(held.Url("/hook")), ERROR_SUCCESS);
    ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    ASSERT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
    ASSERT_TRUE(WaitForRequests(held, 1, 20000)) << "no notice reached the webhook";
    EXPECT_EQ(held.Requests().front().body, Notice(kProblemsText));

    const auto before_stop = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    EXPECT_EQ(WaitForProcessEnd(running->dwProcessId, 10000), std::optional<DWORD>(0));
    EXPECT_LT(std::chrono::steady_clock::now() - before_stop, std::chrono::seconds(2));
    EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(row.stored));
  }
}

// A stop while the check is stuck in a query that never answers: the
// service does not wait for it for ever. It reports STOPPED within seconds
// and its process ends; the mark stays, nothing is posted, and the service
// starts again at once.
TEST_F(WmiEndToEnd, AStopDuringAQueryThatNeverAnswersEndsTheService) {
  constexpr DWORD kStored = 20;
  ASSERT_EQ(SetStoredRecordNumber(kStored), ERROR_SUCCESS);
  StandInFixture log;
  log.entries = {PervasiveEntry(21, 1)};
  log.query_never_answers = true;
  ASSERT_TRUE(standin_->Answer(log));
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service) << GetLastError();
  ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
  const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
  ASSERT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
  bool waiting = false;
  for (DWORD waited = 0; !waiting && waited < 20000; waited += kPollMs) {
    for (const std::string& line : standin_->Calls()) waiting = waiting || Ends(line, " -> waiting");
    if (!waiting) Sleep(kPollMs);
  }
  ASSERT_TRUE(waiting) << "the query never reached the stand-in";

  const auto before_stop = std::chrono::steady_clock::now();
  RunCommandLine(L"net.exe stop VantrelSrv");  // what it says of a long stop is Wine's
  const auto stopped = WaitForState(service.get(), SERVICE_STOPPED, 20000);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(WaitForProcessEnd(running->dwProcessId, 20000), std::optional<DWORD>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - before_stop, std::chrono::seconds(15));
  EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(kStored));
  EXPECT_TRUE(chat_.Requests().empty());

  log.query_never_answers = false;
  ASSERT_TRUE(standin_->Answer(log));
  ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
  const auto again = WaitForState(service.get(), SERVICE_RUNNING, 10000);
  ASSERT_TRUE(again && again->dwCurrentState == SERVICE_RUNNING);
  ASSERT_TRUE(WaitForRequests(chat_, 1, 20000)) << "no notice after the start";
  EXPECT_EQ(chat_.Requests().front().body, Notice(kProblemsText));
}

}  // namespace
