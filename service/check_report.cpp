#include "service/check_report.h"

#include "notify/url.h"
#include "service/check_schedule.h"

namespace vantrel {

namespace {

// The most of a failure message the line carries.
constexpr std::size_t kMaxFailureChars = 300;
// The days from the end of a completed check to the first tick that may
// run the next.
constexpr DateTime kCheckGapDays = kHoursBetweenChecks / 24.0;

// A failure's message on one line, any URL in it reduced to its scheme and
// host (every local user reads the line, and the webhook's path holds its
// token): line breaks and other control characters become blanks, a CR LF
// pair one blank; cut to kMaxFailureChars.
String OneLine(const String& message) {
  const String text = WithUrlsAsSites(message);
  String out;
  for (std::size_t i = 0; i < text.size() && out.size() < kMaxFailureChars; ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    out += text[i] < 0x20 ? u' ' : text[i];
  }
  if (!out.empty() && IsHighSurrogate(out.back())) out.pop_back();
  return out;
}

String EntriesText(std::size_t count) {
  if (count == 0) return u"no new entries";
  if (count == 1) return u"1 new entry";
  return IntToStr(static_cast<std::int64_t>(count)) + u" new entries";
}

}  // namespace

String CheckStatusText(const CheckReport& report, DateTime finished, const String& failure) {
  String did;
  bool retried = false;
  if (report.entries) {
    did = EntriesText(*report.entries);
    const String what = report.first_run ? u"start notice" : u"notice";
    switch (report.notice) {
      case CheckReport::Notice::kNone: break;
      case CheckReport::Notice::kDelivered:
        did += u", " + what + u" delivered";
        if (!report.certificate.empty()) did += u" (" + report.certificate + u")";
        break;
      case CheckReport::Notice::kNotDelivered:
        did += u", " + what + u" not delivered";
        if (!report.certificate.empty()) did += u" (" + report.certificate + u")";
        if (!report.post_failure.empty()) did += u": " + OneLine(report.post_failure);
        // A start notice of a check that found nothing is not sent again.
        retried = *report.entries > 0;
        break;
    }
    for (const String& part : report.passed_over) did += u"; passed over " + OneLine(part);
    if (!report.settings_problem.empty()) did += u"; " + OneLine(report.settings_problem);
  }

  if (!report.settings_failure.empty()) did += (did.empty() ? u"" : u"; ") + OneLine(report.settings_failure);

  String text = u"Last check " + FormatCivilTime(DecodeDateTime(finished));
  if (!failure.empty()) {
    text += did.empty() ? u" failed: " : u": " + did + u"; then failed: ";
    return text + OneLine(failure) + u"; tried again within ten minutes";
  }
  const String next = FormatCivilTime(DecodeDateTime(finished + kCheckGapDays), false);
  text += u": " + did;
  return text + (retried ? u"; retried at the next check, after " : u"; next check after ") + next;
}

}  // namespace vantrel
