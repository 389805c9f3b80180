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
      flastrecnum = reg->ReadInteger(u"lastrecnum");
    } else {
      first_run = true;
    }
    reg->CloseKey();
  }
  reg.reset();

  if (fchatavain.empty()) fchatavain = kDefaultChatUrl;

  EventLines lines;
  ports_.query_event_log(flastrecnum, lines, first_run);

  TDocVariantData doc;
  doc.InitFast();

  const String where = instance_name + u", koneen nimi " + ports_.computer_name();
  if (!lines.empty()) {
    doc.SetMember(u"text", (first_run ? u"PSQL lisenssivalvonta käynnistetty " : u"Mahdollisia PSQL lisenssiongelmia ") +
                               where);
    if (postaa(doc)) TalletaUusiAvain(flastrecnum);
  } else if (first_run) {
    TalletaUusiAvain(0);
    doc.SetMember(u"text", u"PSQL lisenssivalvonta käynnistetty " + where);
    postaa(doc);
  }
}

}  // namespace vantrel
