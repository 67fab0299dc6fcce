#include "params/ParamFileIo.h"

#include "platform/RegularFile.h"
#include "protocol/ParamFileFormat.h"

namespace params {

bool OpenForReading(QFile& file, QString* reason) {
  const platform::OpenedFile opened =
      platform::OpenRegularFileForReading(QFile::encodeName(file.fileName()));
  if (opened.fd < 0) {
    if (reason) *reason = opened.reason;
    return false;
  }
  if (file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
  if (reason) *reason = file.errorString();
  return false;
}

ParamFileContent ReadParamFile(const QString& fileName) {
  return platform::ReadRegularFile(QFile::encodeName(fileName), protocol::kParamFileReadLimit);
}

void RefuseWhatIsNoFile(const QString& fileName) {
  platform::RefuseWhatIsNoFile(QFile::encodeName(fileName));
}

void WriteFileAtomically(const QString& fileName, const QByteArray& contents) {
  platform::ReplaceFileAtomically(QFile::encodeName(fileName), contents);
}

}  // namespace params
