#include "cli/FieldChanges.h"

#include <QJsonObject>
#include <string_view>

#include "protocol/ParamFileFormat.h"

namespace cli {
namespace {

// What a list shows for a value it has no item for.
QString ShownValueText(const protocol::ParamField& field, std::uint32_t value) {
  const std::string_view key = field.key;
  const bool noItem = (key == "can.bitRateIndex" && value >= protocol::kCanBitRateCount) ||
                      (key == "com.stopBitsCode" && value == protocol::ComParams::kStopBitsUnset);
  return noItem ? QStringLiteral("no selection") : FieldValueText(field, value);
}

QString Key(const FieldDifference& difference) {
  return QString::fromUtf8(difference.field->key);
}

QJsonArray ToJson(const std::vector<FieldDifference>& differences, const char* fromName,
                  const char* toName) {
  QJsonArray array;
  for (const FieldDifference& difference : differences)
    array.append(QJsonObject{{"key", Key(difference)},
                             {fromName, static_cast<qint64>(difference.from)},
                             {toName, static_cast<qint64>(difference.to)}});
  return array;
}

// One line per difference: in PATTERN, %1 is the key, %2 the value before
// and %3 the value after.
QStringList DifferenceLines(const std::vector<FieldDifference>& differences,
                            const QString& pattern) {
  QStringList lines;
  for (const FieldDifference& difference : differences)
    lines << pattern.arg(Key(difference), FieldValueText(*difference.field, difference.from),
                         FieldValueText(*difference.field, difference.to));
  return lines;
}

}  // namespace

QString FieldValueText(const protocol::ParamField& field, std::uint32_t value) {
  const std::string_view name = protocol::FieldName(field);
  const bool flags = name.ends_with("Flags") || name == "frameType";
  const bool id = name.ends_with("Id") || name.starts_with("acceptance");
  if (!flags && !id) return QString::number(value);
  return QStringLiteral("0x") +
         QString::number(value, 16).toUpper().rightJustified(flags ? 2 : 8, QLatin1Char('0'));
}

bool StoredInParamFile(const protocol::ParamField& field) {
  // Asked of the file format itself: a field the file holds comes back from
  // a file built with it.
  protocol::ParameterRecords probe;
  field.set(probe, 1);
  const protocol::ParamFileBytes file = protocol::BuildParamFile(probe);
  return field.get(protocol::ReadParamFileRecords(file)) == 1;
}

std::vector<FieldDifference> Differences(const protocol::ParameterRecords& from,
                                         const protocol::ParameterRecords& to,
                                         const FieldFilter& which) {
  std::vector<FieldDifference> differences;
  for (const protocol::ParamField& field : protocol::ParamFields()) {
    if (which && !which(field)) continue;
    if (field.get(from) != field.get(to))
      differences.push_back({&field, field.get(from), field.get(to)});
  }
  return differences;
}

QStringList ChangeLines(const std::vector<FieldDifference>& changes) {
  return DifferenceLines(changes, QStringLiteral("%1: %2 -> %3"));
}

QJsonArray ChangesJson(const std::vector<FieldDifference>& changes) {
  return ToJson(changes, "old", "new");
}

QStringList VerifyLines(const std::vector<FieldDifference>& differences) {
  return DifferenceLines(differences, QStringLiteral("%1: converter %2, file %3"));
}

QJsonArray VerifyJson(const std::vector<FieldDifference>& differences) {
  return ToJson(differences, "converter", "file");
}

QStringList ShownOtherwiseLines(const std::vector<FieldDifference>& differences,
                                const QString& holder) {
  QStringList lines;
  for (const FieldDifference& difference : differences)
    lines << QStringLiteral("%1: %2 holds %3, the window would show %4")
                 .arg(Key(difference), holder, FieldValueText(*difference.field, difference.from),
                      ShownValueText(*difference.field, difference.to));
  return lines;
}

QJsonArray ShownOtherwiseJson(const std::vector<FieldDifference>& differences) {
  return ToJson(differences, "value", "window");
}

}  // namespace cli
