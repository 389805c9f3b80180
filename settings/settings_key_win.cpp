// The settings key on Windows: HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel in
// the registry's native view, opened with KEY_ALL_ACCESS and never flushed.
#include <windows.h>

#include "platform/unique_handle.h"
#include "platform/wide_text.h"
#include "settings/settings_key.h"

namespace vantrel {

namespace {


// Owns one open registry key. The predefined root keys are never put in
// here, so they are never closed.
using KeyHandle = UniqueHandle<HKEY, RegCloseKey>;

class RegistryKey : public RegistryBackend {
 public:
  // RegCreateKeyExW under HKEY_LOCAL_MACHINE: creates the key and its missing
  // parents, non-volatile, default security; the disposition is not used.
  long CreateKey() override {
    key_.reset();
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) key_.reset(key);
    return result;
  }

  // RegOpenKeyExW with read access alone: a key that is missing stays
  // missing, and RegSetValueExW on the handle is refused.
  long OpenKeyForReading() override {
    key_.reset();
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) key_.reset(key);
    return result;
  }

  long QueryValue(const String& name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override {
    DWORD value_type = REG_NONE;
    DWORD value_size = size ? *size : 0;
    const LONG result =
        RegQueryValueExW(key_.get(), Wide(name), nullptr, &value_type, data, size ? &value_size : nullptr);
    if (type) *type = value_type;
    if (size) *size = value_size;
    return result;
  }

  long SetValue(const String& name, std::uint32_t type, const std::vector<std::uint8_t>& data) override {
    return RegSetValueExW(key_.get(), Wide(name), 0, type, data.empty() ? nullptr : data.data(),
                          static_cast<DWORD>(data.size()));
  }

  // RegCloseKey alone: lazy writing, RegFlushKey is never called.
  void CloseKey() override { key_.reset(); }

 private:
  KeyHandle key_;
};

}  // namespace

std::unique_ptr<RegistryBackend> NewSettingsKeyBackend() { return std::make_unique<RegistryKey>(); }

}  // namespace vantrel
