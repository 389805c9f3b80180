// The settings key holds the webhook's token: a key the store makes is for
// SYSTEM and the administrators alone, read back from Wine's registry.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/unique_handle.h"
#include "settings/settings_key.h"
#include "settings/settings_key_security_win.h"

namespace vantrel {
namespace {

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\tresk\\vantrel";

// The key's access list in the security descriptor language; nothing when
// the key or its security cannot be read.
std::optional<std::wstring> KeyAccessList() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, READ_CONTROL, &opened) != ERROR_SUCCESS) return std::nullopt;
  const UniqueHandle<HKEY, RegCloseKey> key(opened);
  DWORD size = 0;
  RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  std::string buffer(size, '\0');
  if (size == 0 || RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                            &text, nullptr)) {
    return std::nullopt;
  }
  const UniqueHandle<HLOCAL, LocalFree> owned(text);
  return std::wstring(text);
}

// The settings key of the test prefix taken away for the case, and again
// after it: the case makes it anew.
struct NoSettingsKey {
  NoSettingsKey() { Delete(); }
  ~NoSettingsKey() { Delete(); }
  static void Delete() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKeyPath);  // its values and subkeys
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
  }
};

TEST(SettingsKeySecurityTest, AKeyTheStoreMakesIsForSystemAndAdministratorsAlone) {
  const NoSettingsKey none;
  ASSERT_EQ(KeyAccessList(), std::nullopt) << "the key is still there";
  {
    SettingsKey store(NewSettingsKeyBackend());
    ASSERT_TRUE(store.OpenKey()) << store.LastError();
    store.WriteString(u"chaturl", u"https://chat/hooks/ID/TOKEN");
  }
  EXPECT_EQ(KeyAccessList(), std::optional<std::wstring>(L"D:P(A;;KA;;;SY)(A;;KA;;;BA)"));
  EXPECT_EQ(std::wstring(kSettingsKeySecurity), L"D:P(A;;KA;;;SY)(A;;KA;;;BA)");

  // The key stays usable by the store that made it.
  SettingsKey again(NewSettingsKeyBackend());
  ASSERT_TRUE(again.OpenKey()) << again.LastError();
  EXPECT_EQ(again.ReadString(u"chaturl"), u"https://chat/hooks/ID/TOKEN");
}

}  // namespace
}  // namespace vantrel
