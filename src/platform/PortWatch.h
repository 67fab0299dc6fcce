#pragma once

// Tells when the serial ports may have changed, as it happens: a tty device
// came or went (the udev monitor's descriptor, watched by the event loop) or
// an entry of the program folder's sys/ports came, went or changed (an
// inotify watch; sys is watched until sys/ports exists). Nothing polls. The
// window's port list and quillon-cli's waiting loops both use it.
//
// It lives on the thread that creates it and calls `onChange` there, from
// that thread's event loop; use the source from that thread only.

#include <QObject>
#include <QString>
#include <functional>

#include "platform/SerialDevices.h"

class QFileSystemWatcher;
class QSocketNotifier;

namespace platform {

class PortWatch : public QObject {
 public:
  // `source` gives the hot-plug events and must outlive the watch.
  PortWatch(SerialDeviceSource& source, const QString& programFolder,
            std::function<void()> onChange, QObject* parent = nullptr);
  ~PortWatch() override;
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  // Watches one more folder's entries (where a port given as a path lives);
  // nothing when it is not a folder.
  void AlsoWatch(const QString& folder);

 private:
  void WatchFolders();

  SerialDeviceSource& source_;
  std::function<void()> onChange_;
  QSocketNotifier* monitor_ = nullptr;
  QFileSystemWatcher* folders_ = nullptr;
  QString sysFolder_, portsFolder_;
};

}  // namespace platform
