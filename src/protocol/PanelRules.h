#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "messages/Messages.h"
#include "protocol/Records.h"

// The parameter panel's rules as plain functions on records: the lists and
// ranges its controls hold, how a control's choice maps to a record field and
// back, what the controls make of a record put into them, and the checks
// before a write. The window's panel asks these for every mapping and check;
// quillon-cli applies them without the window. The window's design holds the
// same lists (a test compares them item by item).
namespace protocol {

// An inclusive range of a one-byte field, as a spin edit holds it.
struct ByteRange {
  std::uint8_t min;
  std::uint8_t max;
  constexpr bool Holds(std::int64_t value) const { return value >= min && value <= max; }
  constexpr std::uint8_t Clamp(std::uint8_t value) const {
    return value < min ? min : value > max ? max : value;
  }
};

// ---- the lists, in their order ----

// Serial-line baud rates; the record carries the number the item shows.
inline constexpr std::uint32_t kBaudRates[] = {300,  600,   1200,  2400,  4800,
                                               9600, 19200, 38400, 57600, 115200};
// The one data-bits item; the record carries the number it shows.
inline constexpr std::uint8_t kDataBits = 8;
// Parity items; item i is parityCode i + 1 (kParityEven .. kParityNone).
inline constexpr const char* kParityItems[] = {"EVEN", "ODD", "SPACE", "MARK", "NONE"};
// Stop-bits items; item i is stopBitsCode kStopBitsCodes[i].
inline constexpr const char* kStopBitsItems[] = {"1", "2"};
inline constexpr std::uint8_t kStopBitsCodes[] = {ComParams::kStopBitsOne, ComParams::kStopBitsTwo};
// CAN bit rates; the record carries the item index.
inline constexpr const char* kCanBitRateItems[] = {"1Mbps",   "500Kbps", "250Kbps", "125Kbps",
                                                   "100Kbps", "50Kbps",  "25Kbps",  "20Kbps",
                                                   "10Kbps",  "5Kbps",   "2.5Kbps"};
inline constexpr std::uint8_t kCanBitRateCount = std::size(kCanBitRateItems);
// Lists whose texts may be translated: only their lengths are rules. The
// conversion mode and direction travel as item indexes; the frame-type lists
// (send frames, filter frames) and the filter-ID list choose one bit each.
inline constexpr int kModeCount = 4;
inline constexpr int kDirectionCount = 3;
inline constexpr std::uint8_t kDirectionBoth = 2;  // shown for a direction beyond the list
inline constexpr int kFrameTypeCount = 2;          // standard, extended
inline constexpr int kFilterIdCount = 2;           // not distinguished, distinguished

// ---- the ranges ----

inline constexpr ByteRange kIdOffsetRange{0, 7};
inline constexpr ByteRange kIdLengthRange{1, 4};
inline constexpr std::uint8_t kStandardIdLengthMax = 2;
inline constexpr ByteRange kFrameGapRange{2, 10};
inline constexpr std::uint32_t kStandardIdMax = 0x7FF;
inline constexpr std::uint32_t kExtendedIdMax = 0x1FFFFFFF;

// True when `id` is within the range of its frame type.
bool IdInRange(std::uint32_t id, bool extendedFrames);

// ---- a choice to its field and back (item -1: nothing selected) ----

// Item 0 gives one stop bit (1), item 1 two (3), anything else 0.
std::uint8_t StopBitsCodeOfItem(int item);
// The item of a stop-bits code, or -1.
int StopBitsItemOfCode(std::uint8_t code);
// The item index plus 1, in one byte (nothing selected gives 0).
std::uint8_t ParityCodeOfItem(int item);
// The item of a parity code, or -1.
int ParityItemOfCode(std::uint8_t code);
// Item 1 is extended (0x80); anything else standard (0x00).
std::uint8_t FrameTypeOfItem(int item);
int FrameTypeItem(std::uint8_t frameType);

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
