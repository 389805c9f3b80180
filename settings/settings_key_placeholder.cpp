#include "settings/registry_backend.h"

namespace vantrel {

namespace {

// Stands in until the platform store exists: the key never opens, so nothing
// is read and nothing is stored.
class UnavailableKey : public RegistryBackend {
 public:
  long CreateKey() override { return kRegAccessDenied; }
  long QueryValue(const String&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override { return kRegFileNotFound; }
  long SetValue(const String&, std::uint32_t, const std::vector<std::uint8_t>&) override { return kRegAccessDenied; }
  void CloseKey() override {}
};

}  // namespace

std::unique_ptr<RegistryBackend> NewSettingsKeyBackend() { return std::make_unique<UnavailableKey>(); }

}  // namespace vantrel
