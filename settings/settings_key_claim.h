// The claim of one service process on this machine's settings key: while one
// process holds it, no other runs its checks on the same key, so two never
// post the same entries.
#pragma once

#include <memory>

namespace vantrel {

class SettingsKeyClaim {
 public:
  virtual ~SettingsKeyClaim() = default;
};

// Claims the settings key without waiting and holds it until the claim is
// destroyed or the process ends. Raises an Exception naming the key when
// another process holds it. Gives nothing to hold where no claim can be made
// at all (Linux: where the key cannot be written either, as in a folder this
// user may not write, or at a path that leads to no regular file).
// Linux: an exclusive flock on ".NAME.lock" beside the settings file that
// the configured path leads to; a settings file with hard links (more than
// one name) raises, as a claim under one name would not hold under another.
// Windows: the named mutex "Global\VantrelSrv.settings", seen from every
// session.
std::unique_ptr<SettingsKeyClaim> ClaimSettingsKey();

}  // namespace vantrel
