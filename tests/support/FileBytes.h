#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testing_support {

// The whole content of a file; empty when it cannot be read.
inline QByteArray ReadFileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace testing_support
