// Tests run as root, whom file permissions do not stop. While this guard
// lives the process works without the capabilities that pass over them
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), so a file of mode 000 cannot be
// opened, as for the service when a file is not its own; they are taken
// back when it ends.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantrel::testing {

class WithoutFileOverride {
 public:
  WithoutFileOverride() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
    dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    active_ = syscall(SYS_capset, &header_, dropped) == 0;
  }
  ~WithoutFileOverride() {
    if (active_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

}  // namespace vantrel::testing
