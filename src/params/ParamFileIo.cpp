#include "params/ParamFileIo.h"

#include <QFile>
#include <algorithm>

#include "platform/Exception.h"
#include "platform/RegularFile.h"
#include "protocol/ParamFileFormat.h"

namespace params {
namespace {

[[noreturn]] void FailOpen(const QString& fileName, const QString& reason) {
  throw platform::EFileError(QStringLiteral("Cannot open file %1").arg(fileName), reason);
}

}  // namespace

bool OpenForReading(QFile& file, QString* reason) {
  const platform::ReadOpen opened = platform::OpenRegularFileForReading(file.fileName());
  if (opened.fd < 0) {
    if (reason) *reason = opened.reason;
    return false;
  }
  if (file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
  if (reason) *reason = file.errorString();
  return false;
}

ParamFileContent ReadParamFile(const QString& fileName) {
  QFile file(fileName);
  QString reason;
  if (!OpenForReading(file, &reason)) FailOpen(fileName, reason);

  // One read of at most the limit and one byte: what is checked is what is
  // applied, even when the file is replaced meanwhile.
  ParamFileContent content;
  content.bytes.resize(static_cast<qsizetype>(protocol::kParamFileReadLimit + 1));
  qint64 got = 0;
  while (got < content.bytes.size()) {
    const qint64 n = file.read(content.bytes.data() + got, content.bytes.size() - got);
    if (n < 0)
      throw platform::EFileError(QStringLiteral("Cannot read %1").arg(fileName),
                                 file.errorString());
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

namespace {

platform::ReplaceTarget WritableTarget(const QString& fileName) {
  platform::ReplaceTarget target = platform::FindReplaceTarget(fileName);
  if (!target.refusal.isEmpty())
    throw platform::EFileError(QStringLiteral("Cannot write file %1").arg(fileName),
                               target.refusal);
  return target;
}

}  // namespace

void RefuseWhatIsNoFile(const QString& fileName) {
  WritableTarget(fileName);
}

void WriteFileAtomically(const QString& fileName, const QByteArray& contents) {
  const platform::ReplaceTarget target = WritableTarget(fileName);
  if (const auto failure =
          platform::ReplaceFileContents(target, contents, platform::Flush::ToDisk)) {
    const QString text = failure->creating ? QStringLiteral("Cannot create file %1")
                                           : QStringLiteral("Cannot write file %1");
    throw platform::EFileError(text.arg(fileName), failure->reason);
  }
}

}  // namespace params
