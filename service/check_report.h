// What one check did, and the one line that tells an administrator about it
// (on Linux the service's status text in `systemctl status`).
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "platform/date_time.h"
#include "platform/text.h"

namespace vantrel {

struct CheckReport {
  enum class Notice { kNone, kDelivered, kNotDelivered };

  std::optional<std::size_t> entries;  // entries the query found, once it has run
  bool first_run = false;
  Notice notice = Notice::kNone;
  String post_failure;  // why the notice was not delivered, when known
  // When the notice went to a server whose certificate did not verify: what
  // failed and its key (CertificateReport::Text).
  String certificate;
  // A setting read as missing because its value is not one it may have.
  String settings_problem;
  String entries_unread;  // why the query left entries unread (QueryOutcome::failure): the check fails on it
  // Parts of the log no reader here can open, each with the reason; the
  // line names them.
  std::vector<String> passed_over;
  // Why the settings key could not be opened, when it could not at some
  // point of the check (a settings file names its path and the reason: it
  // cannot be parsed, read or written).
  String settings_failure;
};

// "Last check <yyyy-mm-dd hh:mm:ss>: <what it found and did>; next check
// after <yyyy-mm-dd hh:mm>" for a check that ended at finished; for a check
// that failed ("failure" not empty) what it did before, its message and
// that it is tried again within ten minutes. A notice sent to a server whose
// certificate did not verify says so in brackets after "delivered" or "not
// delivered"; a setting of an unknown value, and why the settings could not
// be opened when they could not, follow what the check did. Always one line,
// and a URL in a failure's message is named by its scheme and host alone.
String CheckStatusText(const CheckReport& report, DateTime finished, const String& failure);

}  // namespace vantrel
