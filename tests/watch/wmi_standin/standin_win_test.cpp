// The stand-in answers as WMI scripting does, and the program's WMI source
// reads what it answers: each property with the VARIANT type of its CIM type
// (a record number past 2^31 as a negative VT_I4, EventType as VT_UI1), a
// property outside the SELECT list as null, and a mark past 2^31 in the
// query compared as the unsigned number it is; and a query told never to
// answer holds its caller until the test lets it go.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/watch/wmi_standin/standin_setup.h"
#include "watch/event_source_win.h"

namespace vantrel {
namespace {

using testing::PervasiveEntry;
using testing::StandInFixture;
using testing::WmiStandIn;

class StandInAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_TRUE(standin_.Registered());
  }
  void TearDown() override { CoUninitialize(); }

  // Runs the query over fixture and gives the entries' values of property.
  std::vector<EventValue> Values(const StandInFixture& fixture, const String& query_text, const String& property) {
    EXPECT_TRUE(standin_.Answer(fixture));
    std::vector<EventValue> values;
    std::unique_ptr<EventSource> source = OpenWmiEventSource(kWmiLocatorProgId);
    EventQuery query;
    query.text = query_text;
    source->Execute(query);
    while (std::unique_ptr<EventEntry> entry = source->Next()) values.push_back(entry->Property(property));
    return values;
  }

  // The stand-in's lines for reads of entries.
  std::vector<std::string> Reads() const {
    std::vector<std::string> out;
    for (const std::string& line : standin_.Calls()) {
      if (line.rfind("Get entry ", 0) == 0) out.push_back(line);
    }
    return out;
  }

  WmiStandIn standin_{VANTREL_WMI_STANDIN};
};

TEST_F(StandInAnswers, PropertiesComeWithTheirScriptingTypes) {
  StandInFixture log;
  log.entries = {PervasiveEntry(4294967295u, 2)};
  struct Row {
    const char16_t* select;
    const char16_t* property;
    EventValue value;
    std::string read;  // the stand-in's line
  };
  const Row rows[] = {
      {u"RecordNumber", u"RecordNumber", std::int64_t{4294967295}, "Get entry 1 RecordNumber() -> I4"},
      {u"EventType", u"EventType", std::int64_t{2}, "Get entry 1 EventType() -> UI1"},
      {u"*", u"EventType", std::int64_t{2}, "Get entry 1 EventType() -> UI1"},
      {u"*", u"Message", String(u"Record 4294967295: license check\r\nsecond line"), "Get entry 1 Message() -> BSTR"},
      // Outside the SELECT list the property is there, and null.
      {u"Message", u"RecordNumber", std::monostate(), "Get entry 1 RecordNumber() -> NULL"},
      {u"RecordNumber", u"EventType", std::monostate(), "Get entry 1 EventType() -> NULL"},
      // A property the fixture leaves unset is null even when selected.
      {u"*", u"User", std::monostate(), "Get entry 1 User() -> NULL"},
  };
  for (const Row& row : rows) {
    const String query = u"SELECT " + String(row.select) + u" FROM Win32_NTLogEvent";
    EXPECT_EQ(Values(log, query, row.property), std::vector<EventValue>{row.value}) << ToUtf8(query);
    EXPECT_EQ(Reads(), std::vector<std::string>{row.read}) << ToUtf8(query);
  }
}

TEST_F(StandInAnswers, RecordNumbersCompareAsUnsignedPast2To31) {
  StandInFixture log;
  log.entries = {PervasiveEntry(2147483649u, 1), PervasiveEntry(2147483651u, 1), PervasiveEntry(4294967295u, 2),
                 PervasiveEntry(7, 2)};
  EXPECT_EQ(Values(log, u"SELECT RecordNumber FROM Win32_NTLogEvent WHERE RecordNumber > 2147483650", u"RecordNumber"),
            (std::vector<EventValue>{std::int64_t{2147483651}, std::int64_t{4294967295}}));
  EXPECT_EQ(Values(log, u"SELECT RecordNumber FROM Win32_NTLogEvent WHERE RecordNumber <= 2147483649", u"RecordNumber"),
            (std::vector<EventValue>{std::int64_t{2147483649}, std::int64_t{7}}));
}

TEST_F(StandInAnswers, AQueryThatNeverAnswersHoldsItsCallerUntilReleased) {
  StandInFixture log;
  log.entries = {PervasiveEntry(21, 1)};
  log.query_never_answers = true;
  ASSERT_TRUE(standin_.Answer(log));
  std::atomic<bool> answered{false};
  std::vector<EventValue> values;
  std::thread caller([&] {
    if (FAILED(CoInitialize(nullptr))) return;
    {
      std::unique_ptr<EventSource> source = OpenWmiEventSource(kWmiLocatorProgId);
      EventQuery query;
      query.text = u"SELECT RecordNumber FROM Win32_NTLogEvent";
      source->Execute(query);
      answered = true;
      while (std::unique_ptr<EventEntry> entry = source->Next()) values.push_back(entry->Property(u"RecordNumber"));
    }
    CoUninitialize();
  });
  bool waiting = false;
  for (int polls = 0; polls < 2000 && !waiting; ++polls) {
    for (const std::string& line : standin_.Calls()) waiting = waiting || line.rfind("ExecQuery(", 0) == 0;
    if (!waiting) Sleep(10);
  }
  EXPECT_TRUE(waiting) << "the query never reached the stand-in";
  EXPECT_FALSE(answered) << "the query answered before it was let go";
  standin_.Release();
  caller.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(values, std::vector<EventValue>{std::int64_t{21}});
  const std::vector<std::string> calls = standin_.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      "ExecQuery(BSTR:SELECT RecordNumber FROM Win32_NTLogEvent, BSTR:WQL, I4:32) -> waiting"),
            calls.end());
}

}  // namespace
}  // namespace vantrel
