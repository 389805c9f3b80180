// Root's power to read and write any file, taken away from the test's thread
// for a while (Linux).
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantrel::testing {

// While it lives, this thread works without CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH in its effective capabilities, so that a test run as
// root cannot read a file of mode 000 or write a file or folder without
// write permission, as the service, which runs as root without any
// capability, cannot. For a user without them it changes nothing.
class WithoutFileOverride {
 public:
  WithoutFileOverride() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutFileOverride() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

}  // namespace vantrel::testing
