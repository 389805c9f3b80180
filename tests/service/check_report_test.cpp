// The one line that tells what a check did, one row per kind of outcome.
#include "service/check_report.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using Notice = CheckReport::Notice;

TEST(CheckReportTest, StatusLineOfEachOutcome) {
  const DateTime finished = EncodeDateTime(2026, 12, 10, 12, 0, 3, 400);
  const std::string at = "Last check 2026-12-10 12:00:03";
  struct Row {
    const char* name;
    CheckReport report;
    String failure;
    std::string expected;
  } rows[] = {
      {"entries found, notice delivered",
       {2, false, Notice::kDelivered, u"", u"", u"", u"", {}, u""},
       u"",
       at + ": 2 new entries, notice delivered; next check after 2026-12-11 00:00"},
      {"one entry",
       {1, false, Notice::kDelivered, u"", u"", u"", u"", {}, u""},
       u"",
       at + ": 1 new entry, notice delivered; next check after 2026-12-11 00:00"},
      {"nothing new",
       {0, false, Notice::kNone, u"", u"", u"", u"", {}, u""},
       u"",
       at + ": no new entries; next check after 2026-12-11 00:00"},
      {"notice not delivered",
       {3, false, Notice::kNotDelivered, u"Error sending data: (7) Couldn't connect to server", u"", u"", u"", {}, u""},
       u"",
       at + ": 3 new entries, notice not delivered: Error sending data: (7) Couldn't connect to server; "
            "retried at the next check, after 2026-12-11 00:00"},
      {"refused without a known reason",
       {3, false, Notice::kNotDelivered, u"", u"", u"", u"", {}, u""},
       u"",
       at + ": 3 new entries, notice not delivered; retried at the next check, after 2026-12-11 00:00"},
      {"first run with entries",
       {4, true, Notice::kDelivered, u"", u"", u"", u"", {}, u""},
       u"",
       at + ": 4 new entries, start notice delivered; next check after 2026-12-11 00:00"},
      {"first run, nothing found: the start notice is not sent again",
       {0, true, Notice::kNotDelivered, u"HTTP 500 Internal Server Error", u"", u"", u"", {}, u""},
       u"",
       at + ": no new entries, start notice not delivered: HTTP 500 Internal Server Error; "
            "next check after 2026-12-11 00:00"},
      {"failed before the query",
       {std::nullopt, false, Notice::kNone, u"", u"", u"", u"", {}, u""},
       u"Invalid data type for 'lastrecnum'",
       at + " failed: Invalid data type for 'lastrecnum'; tried again within ten minutes"},
      {"failed after a delivered notice",
       {2, false, Notice::kDelivered, u"", u"", u"", u"", {}, u""},
       u"Failed to set data for 'lastrecnum'",
       at + ": 2 new entries, notice delivered; then failed: Failed to set data for 'lastrecnum'; "
            "tried again within ten minutes"},
      {"delivered to a certificate that did not verify",
       {1,
        false,
        Notice::kDelivered,
        u"",
        u"certificate not verified: dates, key SHA-256 ab, sent with the checks off",
        u"",
        u"",
        {},
        u""},
       u"",
       at + ": 1 new entry, notice delivered (certificate not verified: dates, key SHA-256 ab, sent with the checks "
            "off); next check after 2026-12-11 00:00"},
      {"a setting of an unknown value",
       {0, false, Notice::kNone, u"", u"", u"Invalid value 'x' for 'tls'", u"", {}, u""},
       u"",
       at + ": no new entries; Invalid value 'x' for 'tls'; next check after 2026-12-11 00:00"},
      {"settings that cannot be written, and the store failed",
       {2,
        false,
        Notice::kDelivered,
        u"",
        u"",
        u"",
        u"",
        {},
        u"Cannot write settings file /etc/v.reg, Read-only file system"},
       u"Failed to set data for 'lastrecnum'",
       at + ": 2 new entries, notice delivered; Cannot write settings file /etc/v.reg, Read-only file system; "
            "then failed: Failed to set data for 'lastrecnum'; tried again within ten minutes"},
      {"settings that cannot be read, nothing new",
       {0, false, Notice::kNone, u"", u"", u"", u"", {}, u"Cannot read settings file /v/s.reg, it is empty (0 bytes)"},
       u"",
       at + ": no new entries; Cannot read settings file /v/s.reg, it is empty (0 bytes); "
            "next check after 2026-12-11 00:00"},
      {"a failure of several lines stays on one line",
       {std::nullopt, false, Notice::kNone, u"", u"", u"", u"", {}, u""},
       u"System Error.  Code: 5.\r\nAccess is denied\nreally",
       at + " failed: System Error.  Code: 5. Access is denied really; tried again within ten minutes"},
      {"a journal file that cannot be read fails the check after its notice",
       {1,
        false,
        Notice::kDelivered,
        u"",
        u"",
        u"",
        u"Cannot read the journal file /j/x.journal: Permission denied",
        {},
        u""},
       u"Cannot read the journal file /j/x.journal: Permission denied",
       at + ": 1 new entry, notice delivered; then failed: Cannot read the journal file /j/x.journal: "
            "Permission denied; tried again within ten minutes"},
      {"a file no reader can open is named",
       {0, false, Notice::kNone, u"", u"", u"", u"", {u"/j/new.journal: Protocol not supported"}, u""},
       u"",
       at + ": no new entries; passed over /j/new.journal: Protocol not supported; next check after 2026-12-11 00:00"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ToUtf8(CheckStatusText(row.report, finished, row.failure)), row.expected) << row.name;
  }
}

TEST(CheckReportTest, ALongFailureIsCutBetweenCharacters) {
  const String failure = String(299, u'x') + u"\U0001F600" + String(50, u'y');
  const String line = CheckStatusText(CheckReport{}, 0.0, failure);
  EXPECT_NE(line.find(String(299, u'x') + u"; tried again"), String::npos) << ToUtf8(line);
}

}  // namespace
}  // namespace vantrel
