// The device list and the hot-plug monitor from libudev.
#include <dirent.h>
#include <libudev.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "platform/SerialDevices.h"

namespace platform {

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";

// Names of serial ports: built-in UARTs, USB adapters (FTDI, CP210x, CH34x,
// PL2303: ttyUSB; CDC-ACM: ttyACM), ARM and SoC UARTs, Bluetooth serial.
constexpr const char* kSerialFamilies[] = {
    "ttyS[0-9]*",   "ttyUSB[0-9]*", "ttyACM[0-9]*", "ttyAMA[0-9]*", "ttyXRUSB[0-9]*",
    "ttymxc[0-9]*", "ttyO[0-9]*",   "ttySAC[0-9]*", "ttyHS[0-9]*",  "ttyTHS[0-9]*",
    "ttyMFD[0-9]*", "ttyPS[0-9]*",  "ttySC[0-9]*",  "ttyLP[0-9]*",  "ttyMI[0-9]*",
    "rfcomm[0-9]*", "ttyGS[0-9]*",  "ttyUL[0-9]*",  "ttyMSM[0-9]*", "ttySTM[0-9]*",
};

std::string Text(const char* value) {
  return value ? std::string(value) : std::string();
}

std::string SysAttr(udev_device* device, const char* name) {
  return device ? Text(udev_device_get_sysattr_value(device, name)) : std::string();
}

// The by-id names, by the node they lead to. udev's database gives them as
// device links; where udevd does not run (a container) the folder itself is
// the only record.
std::map<std::string, std::string> ByIdFolderLinks() {
  std::map<std::string, std::string> links;
  DIR* dir = opendir(kByIdFolder);
  if (!dir) return links;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = std::string(kByIdFolder) + "/" + entry->d_name;
    char real[PATH_MAX];
    if (realpath(link.c_str(), real)) links.emplace(real, link);
  }
  closedir(dir);
  return links;
}

std::string ByIdLink(udev_device* device) {
  const std::string prefix = std::string(kByIdFolder) + "/";
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device)) {
    const std::string link = Text(udev_list_entry_get_name(entry));
    if (link.rfind(prefix, 0) == 0) return link;
  }
  return {};
}

SerialDevice DeviceFrom(udev_device* device, const std::map<std::string, std::string>& byId) {
  SerialDevice result;
  result.path = Text(udev_device_get_devnode(device));
  if (Text(udev_device_get_sysname(device)).rfind("ttyS", 0) == 0)
    result.uartType = SysAttr(device, "type");
  // The USB strings live on the USB device, above the interface and the tty.
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  result.vendorId = SysAttr(usb, "idVendor");
  result.productId = SysAttr(usb, "idProduct");
  result.manufacturer = SysAttr(usb, "manufacturer");
  result.product = SysAttr(usb, "product");
  result.serial = SysAttr(usb, "serial");
  result.byId = ByIdLink(device);
  if (result.byId.empty()) {
    const auto found = byId.find(result.path);
    if (found != byId.end()) result.byId = found->second;
  }
  return result;
}

// Virtual consoles, ptmx and the like live under /sys/devices/virtual:
// no hardware, never a serial port.
bool HasHardware(udev_device* device) {
  return Text(udev_device_get_syspath(device)).find("/devices/virtual/") == std::string::npos &&
         udev_device_get_devnode(device) != nullptr;
}

class UdevDeviceSource final : public SerialDeviceSource {
 public:
  UdevDeviceSource() : udev_(udev_new()) {
    if (!udev_) return;
    // Without udevd the kernel's own events are the only ones there are.
    const char* events = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, events);
    if (monitor_ &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_) < 0)) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }

  ~UdevDeviceSource() override {
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
  }

  UdevDeviceSource(const UdevDeviceSource&) = delete;
  UdevDeviceSource& operator=(const UdevDeviceSource&) = delete;

  std::vector<SerialDevice> Enumerate() override {
    std::vector<SerialDevice> devices;
    if (!udev_) return devices;
    udev_enumerate* enumerate = udev_enumerate_new(udev_);
    if (!enumerate) return devices;
    const std::map<std::string, std::string> byId = ByIdFolderLinks();
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    // Only the serial families: the scan then skips the dozens of virtual
    // consoles without reading them.
    for (const char* family : kSerialFamilies) udev_enumerate_add_match_sysname(enumerate, family);
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
      udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
      if (!device) continue;
      if (HasHardware(device)) devices.push_back(DeviceFrom(device, byId));
      udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    return devices;
  }

  int MonitorFd() const override { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

  bool TakeEvents() override {
    if (!monitor_) return false;
    bool any = false;
    // The monitor's socket is non-blocking: this ends when the queue is empty.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
      any = true;
      udev_device_unref(device);
    }
    return any;
  }

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace

SerialDevice DescribeNode(const std::string& path) {
  SerialDevice described;
  described.path = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return described;
  udev* context = udev_new();
  if (!context) return described;
  if (udev_device* device = udev_device_new_from_devnum(context, 'c', st.st_rdev)) {
    if (HasHardware(device)) described = DeviceFrom(device, ByIdFolderLinks());
    udev_device_unref(device);
  }
  udev_unref(context);
  return described;
}

std::unique_ptr<SerialDeviceSource> MakeUdevDeviceSource() {
  return std::make_unique<UdevDeviceSource>();
}

}  // namespace platform
