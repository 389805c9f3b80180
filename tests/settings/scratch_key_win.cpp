#include <windows.h>

#include "platform/unique_handle.h"
#include "platform/wide_text.h"
#include "scratch_key.h"

namespace vantrel::testing {

namespace {

// Deletes the values from the real settings key; a missing key or value is
// already what is wanted.
void DeleteValues(const std::vector<String>& names) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) {
    return;
  }
  const UniqueHandle<HKEY, RegCloseKey> key(opened);
  for (const String& name : names) RegDeleteValueW(key.get(), Wide(name));
}

}  // namespace

ScratchKey::ScratchKey(std::vector<String> value_names) : value_names_(std::move(value_names)) {
  DeleteValues(value_names_);
}

ScratchKey::~ScratchKey() { DeleteValues(value_names_); }

void ScratchKey::UseFile(const std::string& path) { file_ = path; }

}  // namespace vantrel::testing
