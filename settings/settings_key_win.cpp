// The settings key on Windows: HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel in
// the registry's native view, opened with KEY_ALL_ACCESS and never flushed.
#include <windows.h>

#include <sddl.h>

#include "platform/unique_handle.h"
#include "platform/wide_text.h"
#include "settings/settings_key.h"
#include "settings/settings_key_security_win.h"

namespace vantrel {

namespace {

// Owns one open registry key. The predefined root keys are never put in
// here, so they are never closed.
using KeyHandle = UniqueHandle<HKEY, RegCloseKey>;

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\tresk\\vantrel";

// A security descriptor made by ConvertStringSecurityDescriptorToSecurityDescriptorW.
using SecurityDescriptor = UniqueHandle<PSECURITY_DESCRIPTOR, LocalFree>;

class RegistryKey : public RegistryBackend {
 public:
  // RegCreateKeyExW under HKEY_LOCAL_MACHINE: creates the key and its missing
  // parents, non-volatile. A key made here gets kSettingsKeySecurity, given
  // at its creation and set once more on it (Wine's registry takes it only
  // so); a key that cannot get it is deleted again and the call fails. A key
  // that exists keeps the security it has.
  long CreateKey() override {
    key_.reset();
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSettingsKeySecurity, SDDL_REVISION_1, &made, nullptr)) {
      return static_cast<long>(GetLastError());
    }
    const SecurityDescriptor security(made);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  &attributes, &key, &disposition);
    if (result != ERROR_SUCCESS) return result;
    key_.reset(key);
    if (disposition != REG_CREATED_NEW_KEY) return result;
    result =
        RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, security.get());
    if (result != ERROR_SUCCESS) {
      key_.reset();
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
    }
    return result;
  }

  // RegOpenKeyExW with read access alone: a key that is missing stays
  // missing, and RegSetValueExW on the handle is refused.
  long OpenKeyForReading() override {
    key_.reset();
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key);
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
