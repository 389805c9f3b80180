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

bool TVantrelSrv::TalletaUusiAvain(const RecordMark& mark) {
  std::unique_ptr<SettingsKey> reg;
  if (!avaaRekisteri(reg)) return false;
  MarkLedger::Write(*reg, mark);
  reg->CloseKey();
  ledger_.Stored(mark);
  return true;
}

}  // namespace vantrel
