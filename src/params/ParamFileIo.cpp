#include "params/ParamFileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/Exception.h"
#include "protocol/ParamFileFormat.h"

namespace params {
namespace {

[[noreturn]] void FailOpen(const QString& fileName, const QString& reason) {
  throw platform::EFileError(QStringLiteral("Cannot open file %1: %2").arg(fileName, reason));
}

// Continues a short write (a full disk, a file-size limit), so that what
// stops it is reported with its own reason.
bool WriteWhole(QSaveFile& file, const QByteArray& contents) {
  qint64 done = 0;
  while (done < contents.size()) {
    const qint64 written = file.write(contents.constData() + done, contents.size() - done);
    if (written <= 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

ParamFileContent ReadParamFile(const QString& fileName) {
  // A device or a pipe could block the caller or never end.
  if (!QFileInfo(fileName).isFile()) FailOpen(fileName, QStringLiteral("not a regular file"));
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) FailOpen(fileName, file.errorString());

  // One read of at most the limit and one byte: what is checked is what is
  // applied, even when the file is replaced meanwhile.
  ParamFileContent content;
  content.bytes.resize(static_cast<qsizetype>(protocol::kParamFileReadLimit + 1));
  qint64 got = 0;
  while (got < content.bytes.size()) {
    const qint64 n = file.read(content.bytes.data() + got, content.bytes.size() - got);
    if (n < 0)
      throw platform::EFileError(
          QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
    if (n == 0) break;
    got += n;
  }
  content.bytes.truncate(static_cast<qsizetype>(got));
  const bool tooLarge = got > static_cast<qint64>(protocol::kParamFileReadLimit);
  content.size = tooLarge ? std::max<std::uint64_t>(static_cast<std::uint64_t>(file.size()),
                                                    static_cast<std::uint64_t>(got))
                          : static_cast<std::uint64_t>(got);
  return content;
}

// Unbuffered, because QSaveFile::commit does not notice a failure of the
// buffer's last flush and would put a truncated file in the target's place.
void WriteFileAtomically(const QString& fileName, const QByteArray& contents) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    throw platform::EFileError(
        QStringLiteral("Cannot create file %1: %2").arg(fileName, file.errorString()));
  if (!WriteWhole(file, contents)) {
    const QString reason = file.errorString();
    file.cancelWriting();
    throw platform::EFileError(QStringLiteral("Cannot write file %1: %2").arg(fileName, reason));
  }
  if (!file.commit())
    throw platform::EFileError(
        QStringLiteral("Cannot write file %1: %2").arg(fileName, file.errorString()));
}

}  // namespace params
