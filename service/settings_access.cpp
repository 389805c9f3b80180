#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

namespace {

// Makes the key object into reg (in every case) and opens the key with
// open; a failure while opening gives false, and its message goes to
// failure (when given) and to the trace (when traced).
bool OpenKeyObject(std::unique_ptr<SettingsKey>& reg, std::unique_ptr<RegistryBackend> backend,
                   bool (SettingsKey::*open)(), bool traced, String* failure = nullptr) {
  reg = std::make_unique<SettingsKey>(std::move(backend));
  try {
    return (reg.get()->*open)();
  } catch (const std::exception&) {
    const String message = CurrentFailureMessage();
    if (traced) TraceValue(u"virhe rekisterin aukaisussa" + message);
    if (failure) *failure = message;
  }
  return false;
}

}  // namespace

bool TVantrelSrv::avaaRekisteri(std::unique_ptr<SettingsKey>& reg) {
  return OpenKeyObject(reg, ports_.settings_key(), &SettingsKey::OpenKey, true, &report_.settings_failure);
}

bool TVantrelSrv::OpenSettingsForReading(std::unique_ptr<SettingsKey>& reg) {
  return OpenKeyObject(reg, ports_.settings_key(), &SettingsKey::OpenKeyReadOnly, true);
}

bool TVantrelSrv::OpenSettingsForCheck(std::unique_ptr<SettingsKey>& reg) {
  if (avaaRekisteri(reg)) return true;
  // Said once already, by the open above.
  return OpenKeyObject(reg, ports_.settings_key(), &SettingsKey::OpenKeyReadOnly, false);
}

void TVantrelSrv::TalletaUusiAvain(const RecordMark& mark) {
  std::unique_ptr<SettingsKey> reg;
  // A key that cannot be opened (its reason traced as it was tried) fails
  // the store as a refused write of the number does.
  if (!avaaRekisteri(reg)) throw MarkLedger::StoreFailure();
  MarkLedger::Write(*reg, mark);
  reg->CloseKey();
  ledger_.Stored(mark);
}

}  // namespace vantrel
