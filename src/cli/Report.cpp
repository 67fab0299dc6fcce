#include "cli/Report.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "cli/CliError.h"
#include "platform/Exception.h"
#include "platform/RegularFile.h"

namespace cli {

namespace {

QJsonValue OrNull(const QString& text) {
  return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

}  // namespace

QString IsoTimeWithOffset(const QDateTime& time) {
  const int offset = time.offsetFromUtc();
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QJsonObject ReportJson(const ReportEntry& entry) {
  QJsonObject json{{"time", IsoTimeWithOffset(entry.time)},
                   {"port", entry.port},
                   {"device", OrNull(entry.device)},
                   {"usbSerial", OrNull(entry.usbSerial)},
                   {"command", entry.command},
                   {"version", entry.version ? QJsonValue(*entry.version) : QJsonValue()},
                   {"result", entry.result},
                   {"exit", entry.exit},
                   {"seconds", entry.seconds}};
  if (entry.dryRun) json.insert("dryRun", true);
  if (!entry.file.isEmpty()) json.insert("file", entry.file);
  if (entry.fileCrc)
    json.insert("fileCrc", QStringLiteral("0x%1").arg(*entry.fileCrc, 8, 16, QLatin1Char('0')));
  if (entry.written) json.insert("written", QJsonArray::fromStringList(*entry.written));
  return json;
}

ReportFile::ReportFile(const QByteArray& name) : name_(name) {
  try {
    platform::RefuseWhatCannotBeReplaced(name);
  } catch (const platform::Exception& failure) {
    throw CliError(kExitUsage, failure.what());
  }
}

void ReportFile::Append(const ReportEntry& entry) const {
  if (!platform::AppendToRegularFile(
          name_, QJsonDocument(ReportJson(entry)).toJson(QJsonDocument::Compact) + '\n'))
    throw CliError(kExitUsage, (QStringLiteral("Cannot write file %1: a report line was lost")
                                    .arg(platform::DisplayFileName(name_)))
                                   .toStdString());
}

}  // namespace cli
