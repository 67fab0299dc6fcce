#pragma once

#include <string>

namespace platform {

// The comm layer's error values, with the meanings of the Windows errors the
// serial component was designed against.
enum class CommError {
  None,
  IoPending,         // the operation was started and completes later
  InvalidHandle,     // the port has been closed
  OperationAborted,  // cancelled by a purge
  HangUp,            // the far side has gone (read 0, EIO, POLLHUP/POLLERR)
  NoSuchDevice,      // the name leads to nothing
  InUse,             // another descriptor holds the port
  AccessDenied,      // the device's permissions refuse us
  NotACommHandle,    // the name opened something that is not a terminal
  InvalidParameter,  // a setting the driver cannot take
  Timeout,           // a total time-out ran out
  NoMemory,
  Failed,  // anything else
};

// An error value with the reason in words, kept for the trace.
struct CommErrorInfo {
  CommError code = CommError::None;
  int sysErrno = 0;
  std::string reason;
};

// The one place where errno becomes a CommError. `device` is the path the
// call was about (may be empty); for EACCES the reason names the group that
// owns the device.
CommErrorInfo MapErrno(int errnum, const std::string& device = {});

// The name of the group that owns `device` ("dialout"), its number when it
// has no name, empty when the device cannot be examined.
std::string GroupOwning(const std::string& device);

// "no such device", "in use", ... for a code.
const char* CommErrorName(CommError code);

}  // namespace platform
