#include "platform/PortWatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

namespace platform {

PortWatch::PortWatch(SerialDeviceSource& source, const QString& programFolder,
                     std::function<void()> onChange, QObject* parent)
    : QObject(parent),
      source_(source),
      onChange_(std::move(onChange)),
      sysFolder_(programFolder + QStringLiteral("/sys")),
      portsFolder_(programFolder + QStringLiteral("/sys/ports")) {
  if (source_.MonitorFd() >= 0) {
    monitor_ = new QSocketNotifier(source_.MonitorFd(), QSocketNotifier::Read, this);
    connect(monitor_, &QSocketNotifier::activated, this, [this] {
      if (source_.TakeEvents()) onChange_();
    });
  }
  WatchFolders();
}

PortWatch::~PortWatch() = default;

void PortWatch::AlsoWatch(const QString& folder) {
  if (QFileInfo(folder).isDir() && !folders_->directories().contains(folder))
    folders_->addPath(folder);
}

void PortWatch::WatchFolders() {
  // sys/ports may be made later (by the simulator, by hand): watch sys until then.
  folders_ = new QFileSystemWatcher(this);
  if (QFileInfo(sysFolder_).isDir()) folders_->addPath(sysFolder_);
  if (QFileInfo(portsFolder_).isDir()) folders_->addPath(portsFolder_);
  connect(folders_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!folders_->directories().contains(portsFolder_) && QFileInfo(portsFolder_).isDir())
      folders_->addPath(portsFolder_);
    onChange_();
  });
}

}  // namespace platform
