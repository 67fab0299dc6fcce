#include "platform/SerialDevices.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <set>

#include "platform/CommNames.h"

namespace platform {

namespace {

constexpr const char* kSeparator = " \u00b7 ";  // " · "
constexpr const char* kArrow = " \u2192 ";      // " → "
constexpr const char* kNotASerialPort = "not a serial port";

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string LinkTarget(const std::string& link) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// A terminal device: a node of the tty class, or the far end of a
// pseudo-terminal (devpts nodes have no sysfs entry). Looks at the node
// only; nothing is opened.
bool IsTerminalNode(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int deviceMajor = major(info.st_rdev);
  constexpr unsigned int kPtySlaveFirstMajor = 136, kPtySlaveLastMajor = 143;
  if (deviceMajor >= kPtySlaveFirstMajor && deviceMajor <= kPtySlaveLastMajor) return true;
  const std::string subsystem = RealPath("/sys/dev/char/" + std::to_string(deviceMajor) + ":" +
                                         std::to_string(minor(info.st_rdev)) + "/subsystem");
  return BaseName(subsystem) == "tty";
}

std::set<std::string> PortsFolderEntries(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) names.insert(entry->d_name);
    closedir(dir);
  }
  return names;
}

void Append(std::string& text, const std::string& part) {
  if (part.empty()) return;
  if (!text.empty()) text += kSeparator;
  text += part;
}

}  // namespace

std::string PresentDevicePath(const std::string& port) {
  const std::string device = ResolveCommName(port);
  return device.empty() ? std::string() : RealPath(device);
}

bool IsPresent(const SerialDevice& device) {
  if (BaseName(device.path).rfind("ttyS", 0) != 0) return true;
  return !device.uartType.empty() && device.uartType != "0";
}

std::string DescribeDevice(const SerialDevice& device) {
  std::string text = BaseName(device.path);
  if (!IsPresent(device)) {
    Append(text, "no UART");
    return text;
  }
  if (!device.product.empty())
    Append(text, device.product);
  else if (!device.manufacturer.empty())
    Append(text, device.manufacturer);
  else if (!device.vendorId.empty())
    Append(text, device.vendorId + ":" + device.productId);
  Append(text, device.serial);
  return text;
}

SerialPortCatalog::SerialPortCatalog(SerialDeviceSource& source, std::string programFolder,
                                     std::string devFolder)
    : source_(source), programFolder_(std::move(programFolder)), devFolder_(std::move(devFolder)) {}

void SerialPortCatalog::Refresh() {
  devices_ = source_.Enumerate();
}

const SerialDevice* SerialPortCatalog::FindDevice(const std::string& path) const {
  for (const SerialDevice& device : devices_)
    if (device.path == path) return &device;
  return nullptr;
}

void SerialPortCatalog::DescribeTarget(const std::string& path, ComPortInfo* info) const {
  const std::string real = RealPath(path);
  if (real.empty()) {
    info->present = false;
    return;
  }
  if (const SerialDevice* device = FindDevice(real)) {
    info->node = *device;
    info->present = IsPresent(*device);
    info->description = DescribeDevice(*device);
    return;
  }
  // A node the system does not list (a pty, a node made by hand): a
  // terminal is there, and its name is all there is to say; anything else
  // (/dev/null, a FIFO, a file, a folder) cannot be a serial port.
  info->node.path = real;
  info->present = IsTerminalNode(real);
  info->description = BaseName(real);
  if (!info->present) Append(info->description, kNotASerialPort);
}

ComPortInfo SerialPortCatalog::Resolve(int number) const {
  ComPortInfo info;
  info.number = number;
  const std::string name = "COM" + std::to_string(number);
  info.device = ResolveCommName(name, programFolder_, devFolder_);
  if (info.device.empty()) return info;

  const std::string link = "sys/ports/com" + std::to_string(number);
  if (info.device != programFolder_ + "/" + link) {
    DescribeTarget(info.device, &info);
    return info;
  }
  info.link = link;
  info.linkTarget = LinkTarget(info.device);
  DescribeTarget(info.device, &info);
  // A link shows where it points; a pty or a by-hand node adds nothing to
  // its target's own path.
  const bool known = FindDevice(info.node.path) != nullptr;
  std::string text = link + kArrow + (known ? info.description : info.linkTarget);
  if (info.node.path.empty())
    Append(text, "missing");
  else if (!info.present && !known)
    Append(text, kNotASerialPort);
  info.description = std::move(text);
  return info;
}

std::vector<ComPortInfo> SerialPortCatalog::ResolveAll() const {
  // Each number goes through the open's own resolution, but only where it
  // can lead somewhere: a number with an entry in sys/ports, or one within
  // the Wine order's devices. Once a number without a link resolves to
  // nothing, every later one without a link does too (the order ran out), so
  // 255 numbers cost a few dozen probes instead of a thousand.
  const std::set<std::string> links = PortsFolderEntries(programFolder_ + "/sys/ports");
  std::vector<ComPortInfo> all;
  all.reserve(255);
  bool orderRanOut = false;
  for (int number = 1; number <= 255; ++number) {
    const bool linked = links.count("com" + std::to_string(number)) != 0;
    if (orderRanOut && !linked) {
      all.push_back(ComPortInfo{number, {}, {}, {}, false, {}, {}});
      continue;
    }
    all.push_back(Resolve(number));
    if (!linked && all.back().device.empty()) orderRanOut = true;
  }
  return all;
}

std::vector<int> SerialPortCatalog::PresentNumbers() const {
  std::vector<int> numbers;
  for (const ComPortInfo& info : ResolveAll())
    if (info.present) numbers.push_back(info.number);
  return numbers;
}

}  // namespace platform
