#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "scratch_key.h"

namespace vantrel::testing {

ScratchKey::ScratchKey(std::vector<String> value_names) : value_names_(std::move(value_names)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-settings-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  UseFile(folder_ + "/settings.reg");
}

ScratchKey::~ScratchKey() {
  unsetenv("VANTREL_REGISTRY");
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void ScratchKey::UseFile(const std::string& path) {
  file_ = path;
  setenv("VANTREL_REGISTRY", path.c_str(), 1);
}

}  // namespace vantrel::testing
