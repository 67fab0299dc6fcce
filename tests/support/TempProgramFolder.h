#pragma once

#include <QDir>
#include <QTemporaryDir>

#include "platform/ProgramFolder.h"

namespace testing_support {

// A fresh program folder (with its sys/ folder) for one test, set as the
// program folder for the test's lifetime.
class TempProgramFolder {
 public:
  explicit TempProgramFolder(bool withSys = true) {
    if (withSys) QDir(dir_.path()).mkpath(QStringLiteral("sys"));
    platform::SetProgramFolder(dir_.path());
  }
  ~TempProgramFolder() { platform::SetProgramFolder(QString()); }
  TempProgramFolder(const TempProgramFolder&) = delete;
  TempProgramFolder& operator=(const TempProgramFolder&) = delete;

  QString path() const { return dir_.path(); }
  QString file(const QString& relative) const { return dir_.path() + '/' + relative; }

 private:
  QTemporaryDir dir_;
};

}  // namespace testing_support
