#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

int NiceFor(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::Highest:
      return -10;
    case ThreadPriority::AboveNormal:
      return -5;
    case ThreadPriority::Normal:
      break;
  }
  return 0;
}

}  // namespace

bool SetCurrentThreadPriority(ThreadPriority priority) {
  // On Linux a nice value set for a thread id applies to that thread alone.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, tid, NiceFor(priority)) == 0;
}

}  // namespace platform
