// The service module: the check timer, the check cycle and the settings it
// keeps between cycles. Everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "host/install.h"
#include "host/service_module.h"
#include "notify/message_document.h"
#include "notify/post_report.h"
#include "platform/date_time.h"
#include "service/check_report.h"
#include "service/mark_ledger.h"
#include "service/periodic_timer.h"
#include "settings/settings_key.h"
#include "watch/event_log_query.h"

namespace vantrel {

// Where the module meets the platform. The program gives it the real components
// (RealModulePorts, service/real_ports.h); tests give recorders. Every port
// but check_event must be set.
struct ModulePorts {
  // The four registry calls for one use of the settings key.
  std::function<std::unique_ptr<RegistryBackend>()> settings_key;
  // The event log query: the records of the named source's entries after
  // the mark (information too on a first run), the mark moved on; raises
  // when its walk broke off (nothing taken, the mark where it was). Gives
  // what it could not read: the message of a failure that kept it from
  // asking the log at all, entries left unread, parts passed over.
  // The last argument is what the service has said once (EventQuery::said).
  std::function<QueryOutcome(RecordMark&, EventRecords&, bool, const String&, SaidOnce&)> query_event_log;
  // One post of a notice to the webhook URL under the "tls" choice, its
  // debug lines written; raises when the request cannot be prepared.
  std::function<PostReport(const String&, const MessageDocument&, const TlsChoice&)> post_to_webhook;
  // The computer name that the notice carries.
  std::function<String()> computer_name;
  // The local clock read by the tick handler.
  std::function<DateTime()> local_time;
  // The local time zone's offset from UTC (minutes) at a moment given in
  // seconds since 1970 UTC; the entries under a notice show local times.
  std::function<int(std::int64_t)> utc_offset_minutes;
  // Receives the one-line outcome of every check (the service's status text
  // on Linux); never raises.
  std::function<void(const String&)> check_status;
  // Tells, once, that notices go to a server whose certificate did not
  // verify, and again when its key changes (the Application log on
  // Windows); never raises.
  std::function<void(const String&)> certificate_log;
  // Writes one entry where an administrator reads it when the checks turn
  // from succeeding to failing (warning true) and back; never raises.
  // Empty: nowhere (where the status line already tells it).
  std::function<void(const String& text, bool warning)> check_event;
  // Writes one line to standard output (the test switch's answer).
  std::function<void(const String&)> standard_output;
};

// The name the service is registered under, and its event source.
inline constexpr char16_t kServiceName[] = u"VantrelSrv";

// The webhook the notices go to while no "chaturl" has been read.
extern const char16_t kDefaultChatUrl[];

class TVantrelSrv : public ServiceModule {
 public:
  // Creates Timer1 from make_timer and arms it: the first tick comes 1000 ms
  // later.
  TVantrelSrv(const PeriodicTimer::PortFactory& make_timer, ModulePorts ports);
  ~TVantrelSrv() override;

  // The tick handler: runs a check on the first tick and then on the first
  // tick 12 or more whole hours after the last completed check; a check that
  // fails is tried again at the next tick. Never lets an error out.
  void Timer1Timer(void* sender);

  // One check cycle: settings, the new records, notice, post, and the mark
  // stored once the chat has accepted the notice. Errors leave it for the
  // tick handler.
  void TarkastaLogit();

  // Posts the document to fchatavain through the poster port; true exactly
  // on HTTP status 200. A request that cannot be prepared raises.
  bool postaa(MessageDocument data);

  // Makes the registry-access object into reg (in every case) and opens the
  // settings key; false when it cannot be opened. Never raises: a failure
  // raised while opening (a file that cannot be parsed, read or written) is
  // traced and noted in the check's report.
  bool avaaRekisteri(std::unique_ptr<SettingsKey>& reg);

  // As avaaRekisteri, but opens the existing key for reading alone: creates
  // nothing and needs no write access.
  bool OpenSettingsForReading(std::unique_ptr<SettingsKey>& reg);

  // The test switch: switches Timer1 off, posts one test notice to the
  // configured webhook with the debug lines going to standard output, and
  // writes a verdict line there. Reads the settings without writing them and
  // never reads the event log. The exit code: 0 when the chat answered 200,
  // 1 otherwise.
  int SendTestNotice();

  // Stores the mark: its number as "lastrecnum" (a REG_DWORD while it fits
  // in 32 signed bits, a REG_QWORD above), then its position as
  // "lastrecpos". A failed write raises; so does a key that cannot be opened
  // ("Failed to set data for 'lastrecnum'", after the opening's own trace).
  void TalletaUusiAvain(const RecordMark& mark);

  // The install hook: switches Timer1 off, takes the instance name from the
  // command line or the naming dialog and stores it as "instancename";
  // raises the refusal when no name is given.
  void ServiceBeforeInstall(ServiceModule* sender);
  // Does nothing.
  void ServiceAfterInstall(ServiceModule* sender);
  // The two hooks above, for the installer.
  InstallHooks InstallHooksOf();

  // What the last check did so far.
  const CheckReport& LastCheck() const { return report_; }

  // The record number of the last entry taken (the mark's number).
  std::int64_t flastrecnum() const { return ledger_.Mark().number; }
  // The mark, stored and held.
  const MarkLedger& Ledger() const { return ledger_; }

  // Module state, touched only on the main thread.
  String fchatavain;             // webhook URL
  DateTime fedellinenajo = 0.0;  // when the last completed check ended

 private:
  // What a check reads from the settings besides the mark.
  struct CheckSettings {
    bool first_run = false;
    bool details = false;
    String instance_name;
    String source_name;
  };

  // Reads the settings in their order (fchatavain, the instance name, the
  // mark, "details", "source"); a key that cannot be opened reads as none.
  CheckSettings ReadCheckSettings();
  // Opens the key for the check's reads: as avaaRekisteri does, or, when it
  // cannot be written but can be read, for reading alone, so that the check
  // goes on with the values it holds.
  bool OpenSettingsForCheck(std::unique_ptr<SettingsKey>& reg);
  // Reads what every notice needs from an open key, the first settings read
  // in their order: "chaturl" into fchatavain, then the instance name, which
  // it gives, then "tls" and "tlspin" into tls_ (an unknown "tls" is traced
  // and read as missing). A value of the wrong type raises.
  String ReadNoticeSettings(SettingsKey& reg);
  // Puts the built-in webhook into fchatavain when none has been read.
  void UseBuiltInWebhookWhenUnset();
  // How every notice names its installation: opening, the instance name,
  // ", koneen nimi " and the computer name.
  String NoticeText(std::u16string_view opening, const String& instance_name);
  // The records of the entries after the mark; the mark moves on in memory.
  EventRecords QueryNewRecords(const CheckSettings& settings);
  // The document with the notice for the records, when there is one to post.
  MessageDocument NoticeOf(const CheckSettings& settings, const EventRecords& records);
  // Stores the delivered mark, when one waits; a failed store raises and
  // keeps it waiting.
  void StoreDeliveredMark();
  // postaa, with its outcome noted in the check's report.
  bool PostNotice(const MessageDocument& doc);
  // Stores the key that a post in pin mode accepted first as "tlspin", when
  // one waits; a failed write raises, and a key that cannot be opened
  // stores nothing (the next post pins again).
  void StorePinnedKey();
  // Passes the last post's certificate to certificate_log when it went with
  // the checks off to a key not told of before.
  void NoteCertificate();
  // Hands a check's status line to check_status, and to check_event when
  // the check failed (raised, could not ask the log, or its notice was not
  // delivered) after checks succeeded (or the first one failed), or
  // succeeded after checks failed: one entry per change, never one per
  // retry.
  void PublishCheckOutcome(const String& status_line, bool failed);

  // Debug lines said once while the service runs, not at every check that
  // comes to the same: a stored position that cannot be used, a part of the
  // log passed over.
  SaidOnce said_;
  MarkLedger ledger_{said_};
  ModulePorts ports_;
  CheckReport report_;           // the check under way, or the last one
  PostReport last_post_;         // what the last postaa gave
  TlsChoice tls_;                // "tls" and "tlspin" as last read
  std::string told_key_;         // the key certificate_log was last told of; empty once the checks were on again
  bool checks_failing_ = false;  // the last check failed
  std::optional<String> query_failure_;  // why the check under way could not ask the log

 public:
  PeriodicTimer Timer1;  // declared last: its ticks use the fields above
};

}  // namespace vantrel
