#pragma once

// The serial devices present on the computer, and what each COM number
// stands for. COM numbers resolve exactly as an open resolves them
// (CommNames.h); the device list only describes what a number leads to.
//
// Thread safety: none; use a catalog from one thread. Nothing here opens a
// port.

#include <memory>
#include <string>
#include <vector>

namespace platform {

// One tty device with hardware behind its node, as the system reports it.
struct SerialDevice {
  std::string path;                           // the node, "/dev/ttyUSB0"
  std::string vendorId;                       // USB ids ("0403", "6001"), empty when not USB
  std::string productId;                      //
  std::string manufacturer, product, serial;  // USB strings, when the device has them
  std::string byId;                           // its stable name under /dev/serial/by-id, or empty
  std::string uartType;  // a built-in port's UART type ("0": none); empty for others
};

// A built-in port (ttyS*) counts only with a UART behind it; the kernel
// makes ttyS0..3 on most PCs whether or not a UART answers.
bool IsPresent(const SerialDevice& device);

// "ttyUSB0 · FT232R USB UART · A50285BI": the node's name, the product (else
// the manufacturer, else the USB ids) and the serial string, as far as known;
// "ttyS1 · no UART" for a built-in port without one.
std::string DescribeDevice(const SerialDevice& device);

// The real path of the node the port name `port` (COMn, \\.\COMn or a path)
// leads to, as an open resolves it; empty when nothing is there. Looks only.
std::string PresentDevicePath(const std::string& port);

// What the system reports of the node at `path` (a real path): its USB ids
// and strings and by-id name; only `path` for a node udev does not know (a
// pseudo-terminal).
SerialDevice DescribeNode(const std::string& path);

// Where the device list comes from: libudev on a real system, a fixed list
// in tests.
class SerialDeviceSource {
 public:
  virtual ~SerialDeviceSource() = default;
  // Every tty device with hardware behind it (ttyS*, ttyUSB*, ttyACM*, ...).
  virtual std::vector<SerialDevice> Enumerate() = 0;
  // A descriptor that becomes readable when a device comes or goes, for the
  // caller's event loop; -1 when there is no monitor.
  virtual int MonitorFd() const = 0;
  // Takes the queued hot-plug events without waiting; true when one of them
  // concerned a tty device.
  virtual bool TakeEvents() = 0;
};

// The tty subsystem through libudev, with a udev monitor (events after udev
// has handled them where udevd runs, the kernel's otherwise). Never null: a
// system where libudev cannot start gives an empty list and no monitor.
std::unique_ptr<SerialDeviceSource> MakeUdevDeviceSource();

// What one COM number stands for.
struct ComPortInfo {
  int number = 0;           // 1..255
  std::string device;       // the path an open would use; empty: no device
  std::string link;         // "sys/ports/com7" when a link decides, else empty
  std::string linkTarget;   // the link's target as written
  bool present = false;     // something that can be a serial port is there
  std::string description;  // the text shown beside the number; empty: nothing
  // The node the number leads to (its real path) with what the system
  // reports of it; the path is empty when nothing is there.
  SerialDevice node;
};

// The device list of a source and the COM numbers resolved against it.
class SerialPortCatalog {
 public:
  // `programFolder` holds sys/ports; `devFolder` is /dev (tests give others).
  SerialPortCatalog(SerialDeviceSource& source, std::string programFolder,
                    std::string devFolder = "/dev");

  // Enumerates the source again.
  void Refresh();
  const std::vector<SerialDevice>& Devices() const { return devices_; }

  ComPortInfo Resolve(int number) const;
  // COM1..COM255, in order.
  std::vector<ComPortInfo> ResolveAll() const;
  // The numbers whose device is present.
  std::vector<int> PresentNumbers() const;

 private:
  const SerialDevice* FindDevice(const std::string& path) const;
  void DescribeTarget(const std::string& path, ComPortInfo* info) const;

  SerialDeviceSource& source_;
  std::string programFolder_, devFolder_;
  std::vector<SerialDevice> devices_;
};

}  // namespace platform
