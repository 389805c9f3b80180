#include <windows.h>

#include "platform/wide_text.h"
#include "scratch_key.h"

namespace vantrel::testing {

namespace {

// Deletes the values from the real settings key; a missing key or value is
// already what is wanted.
void DeleteValues(const std::vector<String>& names) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tresk\\vantrel", 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  for (const String& name : names) RegDeleteValueW(key, Wide(name));
  RegCloseKey(key);
}

}  // namespace

ScratchKey::ScratchKey(std::vector<String> value_names) : value_names_(std::move(value_names)) {
  DeleteValues(value_names_);
}

ScratchKey::~ScratchKey() { DeleteValues(value_names_); }

void ScratchKey::UseFile(const std::string& path) { file_ = path; }

}  // namespace vantrel::testing
