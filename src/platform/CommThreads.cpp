#include "platform/CommThreads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

int NiceFor(CommThreadPriority priority) {
  switch (priority) {
    case CommThreadPriority::Highest:
      return -10;
    case CommThreadPriority::AboveNormal:
      return -5;
    case CommThreadPriority::Normal:
      break;
  }
  return 0;
}

}  // namespace

bool SetCurrentThreadPriority(CommThreadPriority priority) {
  // On Linux a nice value set for a thread id applies to that thread alone.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, tid, NiceFor(priority)) == 0;
}

}  // namespace platform
