#include <cstdint>

#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

namespace {

// Makes the key object into reg (in every case) and opens the key with
// open; a failure while opening is traced and gives false.
bool OpenTraced(std::unique_ptr<SettingsKey>& reg, std::unique_ptr<RegistryBackend> backend,
                bool (SettingsKey::*open)()) {
  reg = std::make_unique<SettingsKey>(std::move(backend));
  try {
    return (reg.get()->*open)();
  } catch (const std::exception&) {
    TraceValue(u"virhe rekisterin aukaisussa" + CurrentFailureMessage());
  }
  return false;
}

}  // namespace

bool TVantrelSrv::avaaRekisteri(std::unique_ptr<SettingsKey>& reg) {
  return OpenTraced(reg, ports_.settings_key(), &SettingsKey::OpenKey);
}

bool TVantrelSrv::OpenSettingsForReading(std::unique_ptr<SettingsKey>& reg) {
  return OpenTraced(reg, ports_.settings_key(), &SettingsKey::OpenKeyReadOnly);
}

bool TVantrelSrv::TalletaUusiAvain(std::int64_t value, const String& position) {
  std::unique_ptr<SettingsKey> reg;
  if (!avaaRekisteri(reg)) return false;
  {
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
  return true;
}

}  // namespace vantrel
