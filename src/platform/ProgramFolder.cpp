#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace platform {
namespace {

QMutex gMutex;
QString gOverride;

QString ExecutableFolder() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  // Without an application object (small tools, early start-up) ask the kernel.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section('/', 0, -2);
}

}  // namespace

QString ProgramFolder() {
  {
    QMutexLocker lock(&gMutex);
    if (!gOverride.isEmpty()) return gOverride;
  }
  return ExecutableFolder();
}

void SetProgramFolder(const QString& path) {
  QMutexLocker lock(&gMutex);
  gOverride = path;
  while (gOverride.size() > 1 && gOverride.endsWith('/')) gOverride.chop(1);
}

QString ProgramPath(const QString& relative) {
  return ProgramFolder() + '/' + relative;
}

}  // namespace platform
