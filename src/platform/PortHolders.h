#pragma once

#include <string>
#include <vector>

#include "platform/PortLock.h"

namespace platform {

// A process that has a device open.
struct PortHolder {
  int pid = 0;
  std::string name;  // the process name from /proc/<pid>/comm
};

// The other processes that have `device` open, found through the fd links
// under `procRoot` (normally /proc), and the live process whose lock file in
// `lockFolder` names it (PortLock.h), once each. Left out: the calling
// process (its own descriptors and locks are its own business) and the far
// end of a pseudo-terminal, a process that holds the master of the pty whose
// slave is `device` (the converter simulator keeps its slave open to stay
// alive). Processes whose fd folder we may not read are not seen. Empty when
// `device` does not exist.
std::vector<PortHolder> FindPortHolders(const std::string& device,
                                        const std::string& procRoot = "/proc",
                                        const std::string& lockFolder = kLockFolder);

// FindPortHolders for several devices with one pass over `procRoot`: the
// holders of each, in the order of `devices`.
std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(
    const std::vector<std::string>& devices, const std::string& procRoot = "/proc",
    const std::string& lockFolder = kLockFolder);

}  // namespace platform
