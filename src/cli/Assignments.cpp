#include "cli/Assignments.h"

#include <QString>
#include <algorithm>

#include "cli/CliError.h"
#include "messages/Messages.h"

namespace cli {
namespace {

[[noreturn]] void Refuse(const QString& argument, const QString& reason) {
  throw CliError(kExitUsage, (argument + QStringLiteral(": ") + reason).toStdString());
}

bool Named(const std::vector<Assignment>& assignments, const std::string& key) {
  return std::any_of(assignments.begin(), assignments.end(),
                     [&key](const Assignment& a) { return key == a.field->key; });
}

// Every check that fails, not the first alone: the checks stop at their
// first failure, so its field takes the value of an all-zero record, which
// passes every check, and they run again. The field of a failure is never
// one that another check depends on (a frame type, the filter flags).
std::vector<protocol::RuleFailure> EveryFailure(protocol::ParameterRecords records) {
  static const protocol::ParameterRecords kPassing{};
  std::vector<protocol::RuleFailure> failures;
  while (auto failure = protocol::CheckBeforeWrite(records)) {
    const protocol::ParamField* field = protocol::FindParamField(failure->key);
    const bool passable = field && field->get(records) != field->get(kPassing);
    failures.push_back(std::move(*failure));
    if (!passable) break;  // nothing to look past: the checks would stop here again
    field->set(records, field->get(kPassing));
  }
  return failures;
}

}  // namespace

std::optional<std::uint32_t> ParseNumber(QStringView text) {
  const bool hex = text.startsWith(u"0x", Qt::CaseInsensitive);
  const QStringView digits = hex ? text.mid(2) : text;
  const int base = hex ? 16 : 10;
  if (digits.isEmpty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const QChar c : digits) {
    const int digit = c.isDigit() ? c.digitValue()
                      : hex && c.toLower() >= u'a' && c.toLower() <= u'f'
                          ? c.toLower().unicode() - u'a' + 10
                          : -1;
    // digitValue() knows other scripts' digits too: only ASCII ones count.
    if (digit < 0 || c.unicode() > 0x7F) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::vector<Assignment> ParseAssignments(const QByteArrayList& args) {
  std::vector<Assignment> assignments;
  for (const QByteArray& bytes : args) {
    const QString argument = QString::fromLocal8Bit(bytes);
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    const QString key = argument.left(equals);
    const protocol::ParamField* field =
        equals > 0 ? protocol::FindParamField(key.toStdString()) : nullptr;
    if (!field)
      Refuse(argument,
             QStringLiteral("not KEY=VALUE with a known KEY (the keys are those 'read' prints)"));
    if (Named(assignments, field->key)) Refuse(argument, key + QStringLiteral(" is named twice"));
    const auto value = ParseNumber(QStringView(argument).mid(equals + 1));
    if (!value)
      Refuse(argument, QStringLiteral("not a decimal or 0x-hexadecimal number of at most 32 bits"));
    if (const auto reason = field->refuse(*value))
      Refuse(argument, QString::fromStdString(*reason));
    assignments.push_back({field, *value});
  }
  return assignments;
}

protocol::ParameterRecords Applied(protocol::ParameterRecords current,
                                   const std::vector<Assignment>& assignments) {
  for (const Assignment& assignment : assignments) assignment.field->set(current, assignment.value);
  return current;
}

std::optional<protocol::RuleFailure> RefusedByTheWindow(
    const protocol::ParameterRecords& current, const std::vector<Assignment>& assignments) {
  const std::vector<protocol::RuleFailure> held = EveryFailure(current);
  for (const protocol::RuleFailure& failure : EveryFailure(Applied(current, assignments))) {
    const bool heldAlready = std::any_of(held.begin(), held.end(), [&](const auto& h) {
      return h.key == failure.key && h.message == failure.message;
    });
    if (!heldAlready || Named(assignments, failure.key)) return failure;
  }
  return std::nullopt;
}

}  // namespace cli
