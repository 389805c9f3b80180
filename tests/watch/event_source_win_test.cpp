// The event log query through the real WMI scripting objects. Wine's WMI
// answers the event-log query with an empty result.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "tests/platform/trace_recorder.h"
#include "watch/event_log_query.h"
#include "watch/event_source_win.h"

namespace vantrel {
namespace {

using testing::TraceRecorder;

// COM is the caller's to initialise, as the program's main thread does.
class WmiQueryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(WmiQueryTest, RunsTheQueryThroughWmi) {
  for (bool first_run : {true, false}) {
    TraceRecorder trace;
    RecordMark mark{41, String()};
    EventRecords records;
    SaidOnce said;
    QueryEventLog(mark, records, first_run, kDefaultSourceName, said);
    EXPECT_TRUE(records.empty()) << first_run;
    EXPECT_EQ(mark, (RecordMark{41, String()})) << first_run;
    EXPECT_TRUE(trace.lines.empty()) << first_run << ": " << (trace.lines.empty() ? "" : trace.lines[0]);
  }
}

TEST_F(WmiQueryTest, ALocatorThatCannotBeCreatedIsTracedWithItsProgId) {
  TraceRecorder trace;
  RecordMark mark{7, String()};
  EventRecords records;
  QueryEventLogFrom([] { return OpenWmiEventSource(u"Vantrel.NoSuchLocator"); }, mark, records, false,
                    kDefaultSourceName);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(mark.number, 7);
  // CO_E_CLASSSTRING: Windows has a text for it, Wine has none.
  const std::vector<std::string> windows_lines = {
      "Virhe haussa=Invalid class string, ProgID: \"Vantrel.NoSuchLocator\"", "callstack="};
  const std::vector<std::string> wine_lines = {"Virhe haussa=OLE error 800401F3, ProgID: \"Vantrel.NoSuchLocator\"",
                                               "callstack="};
  EXPECT_TRUE(trace.lines == windows_lines || trace.lines == wine_lines) << ::testing::PrintToString(trace.lines);
}

// The same automation calls on a class that Wine's WMI fills: an entry's
// properties by name, as text or number, and the failures' messages.
TEST_F(WmiQueryTest, ReadsEntryPropertiesByName) {
  std::unique_ptr<EventSource> source = OpenWmiEventSource(kWmiLocatorProgId);
  EventQuery query;
  query.text = u"SELECT Caption,OSType FROM Win32_OperatingSystem";
  source->Execute(query);
  std::unique_ptr<EventEntry> entry = source->Next();
  ASSERT_NE(entry, nullptr);
  EventValue caption = entry->Property(u"Caption");
  ASSERT_TRUE(std::holds_alternative<String>(caption));
  EXPECT_FALSE(std::get<String>(caption).empty());
  EventValue os_type = entry->Property(u"OSType");
  ASSERT_TRUE(std::holds_alternative<std::int64_t>(os_type));
  EXPECT_EQ(std::get<std::int64_t>(os_type), 18) << "WINNT";
  try {
    entry->Property(u"NoSuchProperty");
    ADD_FAILURE() << "an unknown name reads";
  } catch (const Exception& e) {
    EXPECT_EQ(ToUtf8(e.Message()), "Method 'NoSuchProperty' not supported by automation object");
  }
  entry.reset();
  EXPECT_EQ(source->Next(), nullptr);
  EXPECT_EQ(source->Next(), nullptr) << "the walk stays ended";
}

TEST_F(WmiQueryTest, AQueryWmiRejectsFailsWithItsDescription) {
  std::unique_ptr<EventSource> source = OpenWmiEventSource(kWmiLocatorProgId);
  EventQuery query;
  query.text = u"SELEC garbage";
  try {
    source->Execute(query);
    ADD_FAILURE() << "the query ran";
  } catch (const Exception& e) {
    // WBEM_E_INVALID_QUERY: Windows describes it, Wine gives only the code.
    const std::string message = ToUtf8(e.Message());
    EXPECT_TRUE(message == "Invalid query" || message == "OLE error 80041017") << message;
  }
}

}  // namespace
}  // namespace vantrel
