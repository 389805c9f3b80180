#include <cstdint>

#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

bool TVantrelSrv::avaaRekisteri(std::unique_ptr<SettingsKey>& reg) {
  reg = std::make_unique<SettingsKey>(ports_.settings_key());
  try {
    return reg->OpenKey();
  } catch (const std::exception&) {
    TraceValue(u"virhe rekisterin aukaisussa" + CurrentFailureMessage());
  }
  return false;
}

bool TVantrelSrv::OpenSettingsForReading(std::unique_ptr<SettingsKey>& reg) {
  reg = std::make_unique<SettingsKey>(ports_.settings_key());
  try {
    return reg->OpenKeyReadOnly();
  } catch (const std::exception&) {
    TraceValue(u"virhe rekisterin aukaisussa" + CurrentFailureMessage());
  }
  return false;
}

void TVantrelSrv::TalletaUusiAvain(std::int64_t value, const String& position) {
  std::unique_ptr<SettingsKey> reg;
  if (avaaRekisteri(reg)) {
    if (value >= INT32_MIN && value <= INT32_MAX) {
      reg->WriteInteger(u"lastrecnum", static_cast<std::int32_t>(value));
    } else {
      reg->WriteInteger64(u"lastrecnum", value);
    }
    // The number first: an end between the two writes leaves the new number
    // beside a position that names another one, and such a position is not
    // used, so the number alone counts, as before positions were kept.
    if (!position.empty()) reg->WriteString(u"lastrecpos", position);
    reg->CloseKey();
  }
}

}  // namespace vantrel
