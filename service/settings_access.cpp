#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

bool TVantrelSrv::avaaRekisteri(std::unique_ptr<TRegistry>& reg) {
  reg = std::make_unique<TRegistry>(ports_.settings_key());
  try {
    return reg->OpenKey();
  } catch (const std::exception&) {
    TraceValue(u"virhe rekisterin aukaisussa" + CurrentFailureMessage());
  }
  return false;
}

void TVantrelSrv::TalletaUusiAvain(std::int32_t value) {
  std::unique_ptr<TRegistry> reg;
  if (avaaRekisteri(reg)) {
    reg->WriteInteger(u"lastrecnum", value);
    reg->CloseKey();
  }
}

}  // namespace vantrel
