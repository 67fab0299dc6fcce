#pragma once

#include <sys/types.h>

#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

// A plain program ("sleep") that has a device open on its standard input,
// without any lock, as a terminal program that started first would. The
// device is open once the constructor returns; the process ends with the
// object.
class HolderProcess {
 public:
  explicit HolderProcess(const std::string& device)
      : process_("sleep", {"600"}, ChildProcess::Options{device}) {}

  // 0 when the process could not be started.
  pid_t Pid() const { return process_.Started() ? process_.Pid() : 0; }

 private:
  ChildProcess process_;
};

}  // namespace testing_support
