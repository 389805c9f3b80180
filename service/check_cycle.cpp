#include "service/notice_details.h"
#include "service/vantrel_srv.h"

namespace vantrel {

void TVantrelSrv::TarkastaLogit() {
  bool first_run = false;
  bool details = false;
  String instance_name;
  report_ = CheckReport();

  std::unique_ptr<SettingsKey> reg;
  if (avaaRekisteri(reg)) {
    if (reg->ValueExists(u"chaturl")) fchatavain = reg->ReadString(u"chaturl");
    if (reg->ValueExists(u"instancename")) instance_name = reg->ReadString(u"instancename");
    if (reg->ValueExists(u"lastrecnum")) {
      flastrecnum = reg->ReadInteger64(u"lastrecnum");
      flastrecpos = reg->ValueExists(u"lastrecpos") ? reg->ReadString(u"lastrecpos") : String();
    } else {
      first_run = true;
    }
    // The entries under the notice, when the administrator asked for them:
    // a REG_DWORD other than 0. Any other type fails the check as any
    // setting of the wrong type does.
    if (reg->ValueExists(u"details")) details = reg->ReadInteger(u"details") != 0;
    reg->CloseKey();
    // Entries the chat has accepted are never posted again by this process,
    // also when their mark could not be stored: the delivered mark stands in
    // for the stored one, and a start notice has gone out with it.
    if (fdelivered) {
      flastrecnum = fdelivered->number;
      flastrecpos = fdelivered->position;
      first_run = false;
    }
  }
  reg.reset();

  if (fchatavain.empty()) fchatavain = kDefaultChatUrl;

  EventLines lines;
  RecordMark mark{flastrecnum, flastrecpos};
  ports_.query_event_log(mark, lines, first_run);
  flastrecnum = mark.number;
  flastrecpos = mark.position;
  report_.entries = (lines.size() + 1) / 2;  // two lines per entry
  report_.first_run = first_run;

  MessageDocument doc;
  doc.InitFast();

  const String where = instance_name + u", koneen nimi " + ports_.computer_name();
  const String notice =
      (first_run ? u"PSQL lisenssivalvonta käynnistetty " : u"Mahdollisia PSQL lisenssiongelmia ") + where;
  if (!lines.empty()) {
    doc.SetMember(u"text", details ? NoticeWithDetails(notice, lines, ports_.utc_offset_minutes) : notice);
    if (PostNotice(doc)) {
      fdelivered = mark;
      StoreDeliveredMark();
    } else if (fdelivered) {
      StoreDeliveredMark();  // what an earlier notice delivered is kept, at least
    }
  } else if (first_run) {
    TalletaUusiAvain(0);
    doc.SetMember(u"text", notice);
    PostNotice(doc);
  } else if (fdelivered) {
    StoreDeliveredMark();  // a store that failed after the chat accepted its notice
  }
}

// One POST of the document to fchatavain; true exactly on 200. A failure
// while the request is prepared is not caught here.
bool TVantrelSrv::postaa(MessageDocument data) {
  last_post_ = ports_.post_to_webhook(fchatavain, data);
  return last_post_.Delivered();
}

bool TVantrelSrv::PostNotice(const MessageDocument& doc) {
  const bool delivered = postaa(doc);
  report_.notice = delivered ? CheckReport::Notice::kDelivered : CheckReport::Notice::kNotDelivered;
  if (!delivered) report_.post_failure = last_post_.Describe();
  return delivered;
}

void TVantrelSrv::StoreDeliveredMark() {
  if (TalletaUusiAvain(fdelivered->number, fdelivered->position)) fdelivered.reset();
}

}  // namespace vantrel
