#include "service/vantrel_srv.h"

namespace vantrel {

void TVantrelSrv::TarkastaLogit() {
  bool first_run = false;
  String instance_name;

  std::unique_ptr<TRegistry> reg;
  if (avaaRekisteri(reg)) {
    if (reg->ValueExists(u"chaturl")) fchatavain = reg->ReadString(u"chaturl");
    if (reg->ValueExists(u"instancename")) instance_name = reg->ReadString(u"instancename");
    if (reg->ValueExists(u"lastrecnum")) {
      flastrecnum = reg->ReadInteger64(u"lastrecnum");
      flastrecpos = reg->ValueExists(u"lastrecpos") ? reg->ReadString(u"lastrecpos") : String();
    } else {
      first_run = true;
    }
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

  TDocVariantData doc;
  doc.InitFast();

  const String where = instance_name + u", koneen nimi " + ports_.computer_name();
  if (!lines.empty()) {
    doc.SetMember(u"text", (first_run ? u"PSQL lisenssivalvonta käynnistetty " : u"Mahdollisia PSQL lisenssiongelmia ") +
                               where);
    if (postaa(doc)) {
      fdelivered = mark;
      StoreDeliveredMark();
    } else if (fdelivered) {
      StoreDeliveredMark();  // what an earlier notice delivered is kept, at least
    }
  } else if (first_run) {
    TalletaUusiAvain(0);
    doc.SetMember(u"text", u"PSQL lisenssivalvonta käynnistetty " + where);
    postaa(doc);
  } else if (fdelivered) {
    StoreDeliveredMark();  // a store that failed after the chat accepted its notice
  }
}

void TVantrelSrv::StoreDeliveredMark() {
  TalletaUusiAvain(fdelivered->number, fdelivered->position);
  fdelivered.reset();
}

}  // namespace vantrel
