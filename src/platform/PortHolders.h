#pragma once

#include <string>
#include <vector>

namespace platform {

// A process that has a device open.
struct PortHolder {
  int pid = 0;
  std::string name;  // the process name from /proc/<pid>/comm
};

// The other processes that have `device` open, found through the fd links
// under `procRoot` (normally /proc). Left out: the calling process (its own
// descriptors are its own business) and the far end of a pseudo-terminal, a
// process that holds the master of the pty whose slave is `device` (the
// converter simulator keeps its slave open to stay alive). Processes whose
// fd folder we may not read are not seen. Empty when `device` does not exist.
std::vector<PortHolder> FindPortHolders(const std::string& device,
                                        const std::string& procRoot = "/proc");

}  // namespace platform
