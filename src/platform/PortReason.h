#pragma once

#include <string>
#include <string_view>

#include "platform/CommError.h"

namespace platform {

class SerialDeviceSource;

// Where the reason looks; the defaults are the real system.
struct PortEnvironment {
  std::string programFolder;  // empty: the program folder
  std::string devFolder = "/dev";
  std::string procRoot = "/proc";
  SerialDeviceSource* source = nullptr;  // null: libudev
};

// Why a port could not be opened, in words an operator can act on, in
// Chinese when langCode is "chn" and in English otherwise. `port` is a COM
// name ("COM3", "\\.\COM3") or a device path; `kind` and `sysErrno` come
// from the failed open (CommErrorInfo). It names
// - no such device: the device the COM number resolved to and that nothing is
//   there, or that no device takes the number, with the numbers present;
// - in use: the programs holding the device (name and process id), else
//   "another program";
// - permission denied: the group that owns the device, read from the node,
//   and the command that puts the user in it;
// - not a serial device: the path.
// The window's message box and the command-line program both show this text.
std::string OpenFailureReason(const std::string& port, CommError kind, int sysErrno,
                              std::string_view langCode);
std::string OpenFailureReason(const std::string& port, CommError kind, int sysErrno,
                              std::string_view langCode, const PortEnvironment& env);

}  // namespace platform
