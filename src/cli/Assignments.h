#pragma once

#include <QByteArrayList>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/PanelRules.h"
#include "protocol/Records.h"

namespace cli {

// A number as 'set' takes it: decimal digits, or "0x" / "0X" and
// hexadecimal digits, of at most 32 bits. Nothing else: no sign, no blank,
// no second prefix, no empty text.
std::optional<std::uint32_t> ParseNumber(QStringView text);

// One field named on the command line and the value for it.
struct Assignment {
  const protocol::ParamField* field;
  std::uint32_t value;
};

// The KEY=VALUE arguments of 'set', each value checked by its field's own
// rule (what the field's control can hold). Throws CliError (usage) for an
// unknown key, a key named twice, a value that is not a number or that its
// field refuses.
std::vector<Assignment> ParseAssignments(const QByteArrayList& args);

// `current` with the named fields changed, and nothing else.
protocol::ParameterRecords Applied(protocol::ParameterRecords current,
                                   const std::vector<Assignment>& assignments);

// The window's checks before a write, on the records a set would send, as
// far as the set takes part in them: a check that fails on a named field is
// refused, and so is one that the change makes fail (a frame type that
// leaves an identifier out of range). A failure the converter holds already,
// in fields the set does not name, is left as it is: the set does not make
// it, and the window would show it as it stands. The first refused check, or
// nothing.
std::optional<protocol::RuleFailure> RefusedByTheWindow(const protocol::ParameterRecords& current,
                                                        const std::vector<Assignment>& assignments);

}  // namespace cli
