#include "platform/PortReason.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

#include "platform/CommNames.h"
#include "platform/PortHolders.h"
#include "platform/ProgramFolder.h"
#include "platform/SerialDevices.h"

namespace platform {

namespace {

// One text in both languages.
struct Texts {
  bool chinese;
  std::string operator()(const std::string& chn, const std::string& enu) const {
    return chinese ? chn : enu;
  }
};

std::string LinkTarget(const std::string& link) {
  char buffer[4096];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// What the message talks about: "COM3 (/dev/ttyUSB0)",
// "COM7 (sys/ports/com7 → /dev/pts/5)" or a path.
std::string Subject(const std::string& port, std::optional<int> number, const std::string& device,
                    const std::string& programFolder) {
  if (!number) return port;
  const std::string com = "COM" + std::to_string(*number);
  const std::string link = "sys/ports/com" + std::to_string(*number);
  if (device == programFolder + "/" + link)
    return com + " (" + link + " \u2192 " + LinkTarget(device) + ")";
  return com + " (" + device + ")";
}

std::string ComList(const std::vector<int>& numbers) {
  std::string list;
  for (int number : numbers) {
    if (!list.empty()) list += ", ";
    list += "COM" + std::to_string(number);
  }
  return list;
}

std::string NoDeviceReason(int number, const PortEnvironment& env, const Texts& t) {
  std::unique_ptr<SerialDeviceSource> own;
  SerialDeviceSource* source = env.source;
  if (!source) {
    own = MakeUdevDeviceSource();
    source = own.get();
  }
  SerialPortCatalog catalog(*source, env.programFolder, env.devFolder);
  catalog.Refresh();
  const std::vector<int> present = catalog.PresentNumbers();
  const std::string com = "COM" + std::to_string(number);
  if (present.empty())
    return t("没有设备对应 " + com + "，本机也没有可用的串口。",
             "No device takes " + com + ", and no serial port is present.");
  return t("没有设备对应 " + com + "。现有的端口：" + ComList(present) + "。",
           "No device takes " + com + ". Present: " + ComList(present) + ".");
}

std::string InUseReason(const std::string& subject, const std::string& device,
                        const PortEnvironment& env, const Texts& t) {
  std::string programs;
  for (const PortHolder& holder : FindPortHolders(device, env.procRoot)) {
    if (!programs.empty()) programs += ", ";
    programs +=
        holder.name + t("（进程 ", " (process ") + std::to_string(holder.pid) + t("）", ")");
  }
  if (programs.empty())
    return t(subject + " 正被另一个程序占用。", subject + " is in use by another program.");
  return t(subject + " 正被 " + programs + " 占用。", subject + " is in use by " + programs + ".");
}

std::string PermissionReason(const std::string& subject, const std::string& device,
                             const Texts& t) {
  const std::string group = GroupOwning(device);
  if (group.empty())
    return t("没有打开 " + subject + " 的权限。", "You may not open " + subject + ".");
  const std::string command = "sudo usermod -aG " + group + " $USER";
  return t("没有打开 " + subject + " 的权限：该设备属于 " + group + " 组。请执行\n    " + command +
               "\n然后注销并重新登录。",
           "You may not open " + subject + ": the device belongs to the group " + group +
               ". Join the group with\n    " + command + "\nthen log out and log in again.");
}

}  // namespace

std::string OpenFailureReason(const std::string& port, CommError kind, int sysErrno,
                              std::string_view langCode, const PortEnvironment& given) {
  PortEnvironment env = given;
  if (env.programFolder.empty()) env.programFolder = ProgramFolder().toStdString();
  const Texts t{langCode == "chn"};
  const std::optional<int> number = ParseCommName(port);
  const std::string device = ResolveCommName(port, env.programFolder, env.devFolder);
  if (number && device.empty()) return NoDeviceReason(*number, env, t);
  const std::string subject = Subject(port, number, device, env.programFolder);
  switch (kind) {
    case CommError::NoSuchDevice:
    case CommError::HangUp:  // EIO at open: a node with no hardware answering
      return t(subject + " 处没有设备。", subject + ": nothing is there.");
    case CommError::InUse:
      return InUseReason(subject, device, env, t);
    case CommError::AccessDenied:
      return PermissionReason(subject, device, t);
    case CommError::NotACommHandle:
      return t(subject + " 不是串口设备。", subject + " is not a serial device.");
    default:
      break;
  }
  const std::string cause = sysErrno != 0 ? std::strerror(sysErrno) : CommErrorName(kind);
  return subject + ": " + cause;
}

std::string OpenFailureReason(const std::string& port, CommError kind, int sysErrno,
                              std::string_view langCode) {
  return OpenFailureReason(port, kind, sysErrno, langCode, PortEnvironment{});
}

}  // namespace platform
