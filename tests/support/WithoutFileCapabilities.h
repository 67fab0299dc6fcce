#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testing_support {

// Root passes every permission check; a read-only folder means something only
// without the capabilities that override them. They are dropped from the
// calling thread's effective set while the object lives and raised again
// after. Without root it does nothing.
class WithoutFileCapabilities {
 public:
  WithoutFileCapabilities() {
    if (geteuid() != 0) return;
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~WithoutFileCapabilities() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileCapabilities(const WithoutFileCapabilities&) = delete;
  WithoutFileCapabilities& operator=(const WithoutFileCapabilities&) = delete;

  // False when running as root and the capabilities could not be dropped.
  bool effective() const { return geteuid() != 0 || dropped_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
};

}  // namespace testing_support
