#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "messages/Messages.h"
#include "protocol/Records.h"

// The parameter panel's rules as plain functions on records, for programs
// without the window: what the panel's controls make of a record put into
// them, the ranges its controls can hold, and the checks before a write. The
// window's panel implements the same rules on its controls.
namespace protocol {

// The baud rates of the serial-line list, in its order.
inline constexpr std::uint32_t kBaudRates[] = {300,  600,   1200,  2400,  4800,
                                               9600, 19200, 38400, 57600, 115200};
// The one data-bits item.
inline constexpr std::uint8_t kDataBits = 8;
// Number of items of the CAN bit-rate list (0 "1Mbps" .. 10 "2.5Kbps").
inline constexpr std::uint8_t kCanBitRateCount = 11;
inline constexpr std::uint32_t kStandardIdMax = 0x7FF;
inline constexpr std::uint32_t kExtendedIdMax = 0x1FFFFFFF;

// How an unknown stop-bits code is shown: a reply clears the selection (and a
// write then sends 0), a parameter file shows one stop bit.
enum class StopBitsShown { ClearedForReply, OneForFile };

// The record the panel builds back after `record` was put into its controls:
// values beyond a list or a range become what the control then shows.
ConvtParams AsPanelShows(const ConvtParams& record);
ComParams AsPanelShows(const ComParams& record, StopBitsShown rule);
CanParams AsPanelShows(const CanParams& record);

// The range message of an identifier for its frame type: "... valid value
// range: [0,7FF]" or "... valid values range: [0,1FFFFFFF]".
messages::Msg IdRangeMessage(bool extendedFrames);
// Standard frames and an ID length above 2.
messages::Msg IdLengthMessage();

// A failed check before a write: the field (record.field, as FieldKey names
// it) and the message the window shows.
struct RuleFailure {
  std::string key;
  messages::Msg message;
};

// The window's checks before a write, in its order, stopping at the first
// failure: the transparent send identifier within its frame type's range,
// an ID length of at most 2 with standard frames, and, with the receive
// filter on, the acceptance code and mask within the range of the frames the
// filter accepts.
std::optional<RuleFailure> CheckBeforeWrite(const ParameterRecords& records);

// The fields of the three records by name ("convt.mode", "com.baudRate",
// "can.acceptanceCode"), each with the values its control can hold.
struct ParamField {
  const char* key;  // record.field
  std::uint32_t (*get)(const ParameterRecords&);
  void (*set)(ParameterRecords&, std::uint32_t);
  // Why `value` is not one the field's control can hold, or nothing.
  std::optional<std::string> (*refuse)(std::uint32_t value);
};

std::span<const ParamField> ParamFields();
const ParamField* FindParamField(std::string_view key);

// "convt", "com" or "can": the record part of a key.
std::string_view FieldRecord(const ParamField& field);
// The field part of a key ("mode").
std::string_view FieldName(const ParamField& field);

}  // namespace protocol
