#include "platform/CommError.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

CommError CodeFor(int errnum) {
  switch (errnum) {
    case 0:
      return CommError::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return CommError::NoSuchDevice;
    case EBUSY:
    case EAGAIN:
      return CommError::InUse;
    case EACCES:
    case EPERM:
    case EROFS:
      return CommError::AccessDenied;
    case EBADF:
      return CommError::InvalidHandle;
    case EIO:
    case EPIPE:
      return CommError::HangUp;
    case ENOTTY:
      return CommError::NotACommHandle;
    case EINVAL:
      return CommError::InvalidParameter;
    case ETIMEDOUT:
      return CommError::Timeout;
    case ENOMEM:
      return CommError::NoMemory;
    case ECANCELED:
      return CommError::OperationAborted;
    default:
      return CommError::Failed;
  }
}

}  // namespace

const char* CommErrorName(CommError code) {
  switch (code) {
    case CommError::None:
      return "no error";
    case CommError::IoPending:
      return "pending";
    case CommError::InvalidHandle:
      return "port closed";
    case CommError::OperationAborted:
      return "aborted";
    case CommError::HangUp:
      return "hung up";
    case CommError::NoSuchDevice:
      return "no such device";
    case CommError::InUse:
      return "in use";
    case CommError::AccessDenied:
      return "permission denied";
    case CommError::NotACommHandle:
      return "not a serial device";
    case CommError::InvalidParameter:
      return "invalid setting";
    case CommError::Timeout:
      return "timed out";
    case CommError::NoMemory:
      return "out of memory";
    case CommError::Failed:
      break;
  }
  return "failed";
}

std::string GroupOwning(const std::string& device) {
  struct stat st {};
  if (device.empty() || stat(device.c_str(), &st) != 0) return {};
  // getgrgid_r: ports are opened, and their failures worded, on several
  // threads at once.
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
    return found->gr_name;
  return std::to_string(st.st_gid);
}

CommErrorInfo MapErrno(int errnum, const std::string& device) {
  CommErrorInfo info;
  info.code = CodeFor(errnum);
  info.sysErrno = errnum;
  std::string reason = CommErrorName(info.code);
  if (info.code == CommError::AccessDenied) {
    const std::string group = GroupOwning(device);
    if (!group.empty()) reason += " (the device belongs to group " + group + ")";
  } else if (info.code == CommError::InUse) {
    reason += " (another program holds the port)";
  }
  if (errnum != 0) reason += std::string(": ") + std::strerror(errnum);
  info.reason = device.empty() ? reason : device + ": " + reason;
  return info;
}

}  // namespace platform
