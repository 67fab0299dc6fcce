#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/PanelRules.h"
#include "protocol/Records.h"

// Field-by-field comparisons of two sets of records, and how they are
// written: the changes a write makes, the differences verify finds, the
// values the window would show otherwise.
namespace cli {

// A field's value for people: identifiers and flag bytes in 0x-hexadecimal,
// the rest in decimal. Each reads back as a VALUE of 'set'.
QString FieldValueText(const protocol::ParamField& field, std::uint32_t value);

// Whether a parameter file holds the field: the data-conversion fields are
// not in it.
bool StoredInParamFile(const protocol::ParamField& field);

// Whether the field belongs to one of the records named.
using FieldFilter = std::function<bool(const protocol::ParamField&)>;

// One field whose value differs between two sets of records.
struct FieldDifference {
  const protocol::ParamField* field;
  std::uint32_t from;
  std::uint32_t to;
};

// The fields, in the order of the field table, that differ between `from`
// and `to`; only those `which` accepts, when given.
std::vector<FieldDifference> Differences(const protocol::ParameterRecords& from,
                                         const protocol::ParameterRecords& to,
                                         const FieldFilter& which = {});

// The changes of a write: "com.baudRate: 9600 -> 19200";
// [{"key":"com.baudRate","old":9600,"new":19200}].
QStringList ChangeLines(const std::vector<FieldDifference>& changes);
QJsonArray ChangesJson(const std::vector<FieldDifference>& changes);

// verify, `from` the converter, `to` the file: "com.baudRate: converter
// 9600, file 19200"; [{"key":...,"converter":9600,"file":19200}].
QStringList VerifyLines(const std::vector<FieldDifference>& differences);
QJsonArray VerifyJson(const std::vector<FieldDifference>& differences);

// Values the window would show otherwise, `from` as held, `to` as shown:
// "com.baudRate: the file holds 12345, the window would show 300" with
// `holder` "the file"; [{"key":...,"value":12345,"window":300}].
QStringList ShownOtherwiseLines(const std::vector<FieldDifference>& differences,
                                const QString& holder);
QJsonArray ShownOtherwiseJson(const std::vector<FieldDifference>& differences);

}  // namespace cli
