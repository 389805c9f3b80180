// The settings key that one test works on, through the build's real store,
// cleaned up when the test ends.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace vantrel::testing {

class ScratchKey {
 public:
  // Linux: a new temporary folder, with VANTREL_REGISTRY naming the file
  // settings.reg in it (not made yet). Windows: the real key; the values
  // named are deleted now and again when the test ends.
  explicit ScratchKey(std::vector<String> value_names);
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  // Linux: the temporary folder, and the settings file that
  // VANTREL_REGISTRY names (settings.reg in the folder until UseFile).
  std::string Folder() const { return folder_; }
  std::string File() const { return file_; }
  // Linux: lets VANTREL_REGISTRY name path instead.
  void UseFile(const std::string& path);

 private:
  std::vector<String> value_names_;
  std::string folder_;
  std::string file_;
};

}  // namespace vantrel::testing
