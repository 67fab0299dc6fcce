#include "cli/ParamFiles.h"

#include <QJsonObject>
#include <QStringList>
#include <span>

#include "cli/CliError.h"
#include "cli/FieldChanges.h"
#include "messages/Messages.h"
#include "platform/Exception.h"
#include "platform/RegularFile.h"
#include "protocol/PanelRules.h"
#include "protocol/ParamFileFormat.h"

namespace cli {
namespace {

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

[[noreturn]] void Refuse(const QByteArray& name, const QString& reason,
                         const QJsonObject& details = {}) {
  throw CliError(kExitUsage,
                 (platform::DisplayFileName(name) + QStringLiteral(": ") + reason).toStdString(),
                 details);
}

// The records that do not lie whole within a file of `size` bytes.
QStringList RecordsBeyondTheEnd(std::size_t size) {
  const std::pair<const char*, std::size_t> records[] = {
      {"conversion", protocol::kConvtRecordOffset},
      {"serial-line", protocol::kComRecordOffset},
      {"CAN", protocol::kCanRecordOffset}};
  QStringList beyond;
  for (const auto& [label, offset] : records)
    if (offset + protocol::FRAME_LENGTH > size)
      beyond << QStringLiteral("the %1 record at %2").arg(QLatin1String(label)).arg(offset);
  return beyond;
}

// What the window's import puts into its controls, and so writes.
protocol::ParameterRecords AsWindowImports(const protocol::ParameterRecords& file) {
  return {protocol::AsPanelShows(file.convt),
          protocol::AsPanelShows(file.com, protocol::StopBitsShown::OneForFile),
          protocol::AsPanelShows(file.can)};
}

}  // namespace

ImportedFile ImportFile(const QByteArray& name) {
  platform::FileContent file;
  try {
    file = platform::ReadRegularFile(name, protocol::kParamFileReadLimit);
  } catch (const platform::Exception& failure) {
    throw CliError(kExitUsage, failure.what());
  }
  const auto check = protocol::CheckParamFile(AsBytes(file.bytes), file.size);
  if (check != protocol::ParamFileCheck::Valid)
    Refuse(name, QString::fromUtf8(
                     messages::MessageText(*protocol::ParamFileCheckMessage(check), "enu")));
  if (const QStringList beyond = RecordsBeyondTheEnd(file.size); !beyond.isEmpty())
    Refuse(name, QStringLiteral("the file has %1 bytes: %2 lies beyond its end")
                     .arg(file.size)
                     .arg(beyond.join(QStringLiteral(", "))));
  return {protocol::ReadParamFileRecords(AsBytes(file.bytes)),
          protocol::ParamFileCrc(AsBytes(file.bytes))};
}

ImportedFile ImportFileToWrite(const QByteArray& name) {
  const ImportedFile imported = ImportFile(name);
  const protocol::ParameterRecords& file = imported.records;
  const auto shownOtherwise = Differences(file, AsWindowImports(file), StoredInParamFile);
  if (!shownOtherwise.empty())
    Refuse(name,
           QStringLiteral("the window's controls cannot hold these values; nothing was sent:\n  ") +
               ShownOtherwiseLines(shownOtherwise, QStringLiteral("the file"))
                   .join(QStringLiteral("\n  ")),
           {{"fields", ShownOtherwiseJson(shownOtherwise)}});
  if (const auto failure = protocol::CheckBeforeWrite(file))
    Refuse(name, QString::fromStdString(failure->key) + QStringLiteral(": ") +
                     QString::fromUtf8(messages::MessageText(failure->message, "enu")));
  return imported;
}

void ExportFile(const QByteArray& name, const protocol::ParameterRecords& records) {
  const protocol::ParamFileBytes bytes = protocol::BuildParamFile(records);
  try {
    platform::ReplaceFileAtomically(name, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<qsizetype>(bytes.size())));
  } catch (const platform::Exception& failure) {
    throw CliError(kExitUsage, failure.what());
  }
}

void CheckExportTarget(const QByteArray& name) {
  try {
    platform::RefuseWhatCannotBeReplaced(name);
  } catch (const platform::Exception& failure) {
    throw CliError(kExitUsage, failure.what());
  }
}

}  // namespace cli
