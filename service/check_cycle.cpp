#include <exception>

#include "notify/url.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "service/notice_details.h"
#include "service/vantrel_srv.h"

namespace vantrel {

void TVantrelSrv::TarkastaLogit() {
  report_ = CheckReport();
  query_failure_.reset();
  const CheckSettings settings = ReadCheckSettings();
  const EventRecords records = QueryNewRecords(settings);
  // A first run whose query left entries unread is not over: its start
  // notice would go out without them, and its mark would end the first run,
  // so that the information entries only a first run reports were never
  // told. Nothing is posted or stored; the check fails and is tried again.
  if (settings.first_run && !report_.entries_unread.empty()) throw Exception(report_.entries_unread);
  const MessageDocument notice = NoticeOf(settings, records);
  if (!records.empty()) {
    if (PostNotice(notice)) ledger_.Delivered();
    StoreDeliveredMark();  // what this or an earlier notice delivered
  } else if (settings.first_run) {
    // Watching starts here: 0 is stored before the start notice goes out,
    // whatever becomes of it. A store that fails keeps the mark waiting, so
    // the next check is no first run and tries the store again; the notice
    // still goes out, and the check fails after it.
    std::exception_ptr unstored;
    try {
      TalletaUusiAvain(ledger_.FirstRunMark());
    } catch (...) {
      ledger_.HoldUnstored(ledger_.FirstRunMark());
      unstored = std::current_exception();
    }
    PostNotice(notice);
    if (unstored) std::rethrow_exception(unstored);
  } else {
    StoreDeliveredMark();  // a store that failed after the chat accepted its notice
  }
  StorePinnedKey();  // after the mark: a failed pin must not cost a stored mark
  // Entries left unread (a journal file that cannot be read): what was found
  // went out, and the check fails so that it is tried again.
  if (!report_.entries_unread.empty()) throw Exception(report_.entries_unread);
}

TVantrelSrv::CheckSettings TVantrelSrv::ReadCheckSettings() {
  CheckSettings settings;
  std::unique_ptr<SettingsKey> reg;
  if (OpenSettingsForCheck(reg)) {
    settings.instance_name = ReadNoticeSettings(*reg);
    report_.settings_problem = tls_.problem;
    settings.first_run = !ledger_.Load(*reg);
    // The entries under the notice, when the administrator asked for them:
    // a REG_DWORD other than 0. Any other type fails the check as any
    // setting of the wrong type does.
    if (reg->ValueExists(u"details")) settings.details = reg->ReadInteger(u"details") != 0;
    // The event source watched, when it is another than Pervasive SQL.
    if (reg->ValueExists(u"source")) settings.source_name = reg->ReadString(u"source");
    reg->CloseKey();
  }
  reg.reset();
  UseBuiltInWebhookWhenUnset();
  if (settings.source_name.empty()) settings.source_name = kDefaultSourceName;
  return settings;
}

EventRecords TVantrelSrv::QueryNewRecords(const CheckSettings& settings) {
  EventRecords records;
  RecordMark mark = ledger_.Mark();
  QueryOutcome outcome = ports_.query_event_log(mark, records, settings.first_run, settings.source_name, said_);
  query_failure_ = std::move(outcome.not_asked);
  ledger_.Reached(std::move(mark), !records.empty());
  report_.entries_unread = std::move(outcome.failure);
  report_.passed_over = std::move(outcome.passed_over);
  report_.entries = records.Taken();
  report_.first_run = settings.first_run;
  return records;
}

MessageDocument TVantrelSrv::NoticeOf(const CheckSettings& settings, const EventRecords& records) {
  MessageDocument doc;
  doc.InitFast();
  const String notice =
      NoticeText(settings.first_run ? u"PSQL lisenssivalvonta käynnistetty " : u"Mahdollisia PSQL lisenssiongelmia ",
                 settings.instance_name);
  if (!records.empty()) {
    doc.SetMember(u"text", settings.details ? NoticeWithDetails(notice, records, ports_.utc_offset_minutes) : notice);
  } else if (settings.first_run) {
    doc.SetMember(u"text", notice);
  }
  return doc;
}

String TVantrelSrv::ReadNoticeSettings(SettingsKey& reg) {
  if (reg.ValueExists(u"chaturl")) fchatavain = reg.ReadString(u"chaturl");
  String instance_name = reg.ValueExists(u"instancename") ? reg.ReadString(u"instancename") : String();
  std::optional<String> tls, tlspin;
  if (reg.ValueExists(u"tls")) tls = reg.ReadString(u"tls");
  if (reg.ValueExists(u"tlspin")) tlspin = reg.ReadString(u"tlspin");
  tls_ = ReadTlsChoice(tls, tlspin);
  if (!tls_.problem.empty()) TraceValue(u"tls", tls_.problem);
  return instance_name;
}

void TVantrelSrv::UseBuiltInWebhookWhenUnset() {
  if (fchatavain.empty()) fchatavain = kDefaultChatUrl;
}

String TVantrelSrv::NoticeText(std::u16string_view opening, const String& instance_name) {
  return String(opening) + instance_name + u", koneen nimi " + ports_.computer_name();
}

// One POST of the document to fchatavain; true exactly on 200. A failure
// while the request is prepared is not caught here.
bool TVantrelSrv::postaa(MessageDocument data) {
  last_post_ = ports_.post_to_webhook(fchatavain, data, tls_);
  return last_post_.Delivered();
}

bool TVantrelSrv::PostNotice(const MessageDocument& doc) {
  const bool delivered = postaa(doc);
  report_.notice = delivered ? CheckReport::Notice::kDelivered : CheckReport::Notice::kNotDelivered;
  if (!delivered) report_.post_failure = last_post_.Describe();
  report_.certificate = last_post_.certificate.Text();
  NoteCertificate();
  return delivered;
}

void TVantrelSrv::NoteCertificate() {
  if (last_post_.status_code == 0) return;  // no answer: nothing learnt
  const CertificateReport& certificate = last_post_.certificate;
  if (!certificate.checks_off) {
    told_key_.clear();
    return;
  }
  if (certificate.shown.key_sha256 == told_key_) return;
  told_key_ = certificate.shown.key_sha256;
  ports_.certificate_log(u"Notices go to " + BaseUrl(fchatavain).Site() + u": " + certificate.Text() +
                         u". The setting 'tls' = 'verify' refuses such a server; 'pin' accepts this key alone.");
}

void TVantrelSrv::StorePinnedKey() {
  const std::string pin = last_post_.certificate.new_pin;
  if (pin.empty() || tls_.mode != TlsMode::kPin || !tls_.pin.empty()) return;
  std::unique_ptr<SettingsKey> reg;
  if (!avaaRekisteri(reg)) return;
  reg->WriteString(u"tlspin", FromUtf8(pin));
  reg->CloseKey();
  tls_.pin = pin;
}

void TVantrelSrv::StoreDeliveredMark() {
  if (const std::optional<RecordMark> delivered = ledger_.DeliveredMark()) TalletaUusiAvain(*delivered);
}

}  // namespace vantrel
