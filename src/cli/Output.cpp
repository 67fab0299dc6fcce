#include "cli/Output.h"

#include <QJsonDocument>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <variant>

#include "cli/CliError.h"
#include "cli/FieldChanges.h"
#include "protocol/PanelRules.h"
#include "protocol/TrafficFormat.h"

namespace cli {
namespace {

std::mutex gWriteMutex;

void Write(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::lock_guard<std::mutex> lock(gWriteMutex);
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

// The time of each port's first traffic row, from which its rows count:
// also across the find of --port all and the port's own session.
std::mutex gOriginsMutex;
std::map<QString, protocol::TrafficTime> gOrigins;

protocol::TrafficTime OriginOf(const QString& port, protocol::TrafficTime time) {
  std::lock_guard<std::mutex> lock(gOriginsMutex);
  return gOrigins.try_emplace(port, time).first->second;
}

QJsonValue JsonValue(bool value) {
  return value;
}
QJsonValue JsonValue(std::int64_t value) {
  return static_cast<qint64>(value);
}
QJsonValue JsonValue(double value) {
  return value;
}
QJsonValue JsonValue(const std::string& value) {
  return QString::fromStdString(value);
}

QJsonObject RowJson(const protocol::TrafficRow& row, protocol::TrafficTime origin) {
  QJsonObject object;
  for (const protocol::TrafficField& field : protocol::RowFields(row, origin, "enu"))
    object.insert(QLatin1String(field.key),
                  std::visit([](const auto& value) { return JsonValue(value); }, field.value));
  return object;
}

}  // namespace

protocol::TrafficTime TraceNow() {
  return std::chrono::duration_cast<protocol::TrafficTime>(
      std::chrono::steady_clock::now().time_since_epoch());
}

Output Output::ForPort(const QString& port) const {
  Output out = *this;
  out.port_ = port;
  return out;
}

QString Output::Prefixed(const QString& text) const {
  if (port_.isEmpty()) return text + QLatin1Char('\n');
  // A failure that names its port already (the open's) is not named twice.
  const QString prefix = port_ + QStringLiteral(": ");
  QString prefixed;
  for (const QString& line : text.split(QLatin1Char('\n')))
    prefixed += (line.startsWith(prefix) ? QString() : prefix) + line + QLatin1Char('\n');
  return prefixed;
}

bool Output::AsMessageRow(const QString& text) const {
  if (!json_ || !trace_) return false;
  protocol::TrafficRow row;
  row.time = TraceNow();
  row.kind = protocol::TrafficKind::Message;
  row.detail = text.toStdString();
  TraceRow(row);
  return true;
}

void Output::Say(const QString& text) const {
  if (!quiet_ && !AsMessageRow(text)) Write(stderr, Prefixed(text));
}

void Output::Complain(const QString& text) const {
  if (!AsMessageRow(text)) Write(stderr, QStringLiteral("quillon-cli: ") + Prefixed(text));
}

void Output::Line(const QString& text) const {
  if (!json_) Write(stdout, Prefixed(text));
}

void Output::PrintJson(QJsonObject object) const {
  if (!port_.isEmpty()) object.insert("port", port_);
  Write(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                    QLatin1Char('\n'));
}

void Output::TraceRow(const protocol::TrafficRow& row) const {
  if (!trace_) return;
  const protocol::TrafficTime origin = OriginOf(port_, row.time);
  if (!json_) {
    Write(stderr, Prefixed(QString::fromStdString(protocol::RowTraceLine(row, origin, "enu"))));
    return;
  }
  QJsonObject object = RowJson(row, origin);
  if (!port_.isEmpty()) object.insert("port", port_);
  Write(stderr, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                    QLatin1Char('\n'));
}

int Output::Fail(const CliError& failure) const {
  Complain(QString::fromUtf8(failure.what()));
  if (json_) {
    QJsonObject object = failure.Details();
    object.insert("ok", false);
    object.insert("error", QString::fromUtf8(failure.what()));
    object.insert("exit", failure.Status());
    PrintJson(object);
  }
  return failure.Status();
}

QJsonObject MergedJson(QJsonObject into, const QJsonObject& from) {
  for (auto it = from.begin(); it != from.end(); ++it) into.insert(it.key(), it.value());
  return into;
}

QJsonObject VersionJson(const protocol::VersionRecord& version) {
  return {{"software", QString::fromStdString(version.SoftwareText())},
          {"build", QString::fromStdString(version.BuildDateText())},
          {"hardware", QString::fromStdString(version.HardwareText())}};
}

QString VersionText(const protocol::VersionRecord& version) {
  return QStringLiteral("software=%1\nbuild=%2\nhardware=%3")
      .arg(QString::fromStdString(version.SoftwareText()),
           QString::fromStdString(version.BuildDateText()),
           QString::fromStdString(version.HardwareText()));
}

QJsonObject RecordsJson(const protocol::ParameterRecords& records) {
  QJsonObject byRecord;
  for (const protocol::ParamField& field : protocol::ParamFields()) {
    const QString record = QString::fromUtf8(protocol::FieldRecord(field));
    QJsonObject fields = byRecord.value(record).toObject();
    fields.insert(QString::fromUtf8(protocol::FieldName(field)),
                  static_cast<qint64>(field.get(records)));
    byRecord.insert(record, fields);
  }
  return byRecord;
}

QString RecordsText(const protocol::ParameterRecords& records) {
  QStringList lines;
  for (const protocol::ParamField& field : protocol::ParamFields())
    lines << QStringLiteral("%1=%2").arg(QLatin1String(field.key),
                                         FieldValueText(field, field.get(records)));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace cli
