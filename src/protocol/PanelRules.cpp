#include "protocol/PanelRules.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace protocol {
namespace {

constexpr std::uint8_t kTwoOptionBits = ConvtParams::kCanInfo | ConvtParams::kCanId;
constexpr std::uint8_t kFilterBits =
    CanParams::kFilterOn | CanParams::kFilterExtendedOnly | CanParams::kFilterDistinguishId;
constexpr std::uint8_t kNoItem = 0xFF;  // an empty selection goes out as index -1

bool IsListedBaudRate(std::uint32_t value) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), value) != std::end(kBaudRates);
}

std::string UpperHex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

// "300, 600, ..., 115200"
std::string BaudRateList() {
  std::string list;
  for (const std::uint32_t rate : kBaudRates)
    list += (list.empty() ? "" : ", ") + std::to_string(rate);
  return list;
}

// ---- the field table ----

std::optional<std::string> Within(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  if (value >= low && value <= high) return std::nullopt;
  return "outside " + std::to_string(low) + ".." + std::to_string(high);
}

std::optional<std::string> Within(std::uint32_t value, ByteRange range) {
  return Within(value, range.min, range.max);
}

std::optional<std::string> AnyId(std::uint32_t) {
  return std::nullopt;
}

std::optional<std::string> OnlyBits(std::uint32_t value, std::uint32_t bits) {
  if ((value & ~bits) == 0) return std::nullopt;
  return "only the bits 0x" + UpperHex(bits) + " may be set";
}

#define QUILLON_FIELD(record, field, refusal)                                      \
  ParamField {                                                                     \
#record "." #field, [](const ParameterRecords& r) -> std::uint32_t {             \
      return r.record.field;                                                          \
    },                                                                                \
        [](ParameterRecords& r, std::uint32_t v) {                                    \
          r.record.field = static_cast<decltype(r.record.field)>(v);                  \
        },                                                                            \
        [](std::uint32_t v) -> std::optional<std::string> { return refusal; } \
  }

const ParamField kFields[] = {
    QUILLON_FIELD(convt, mode, Within(v, 0, kModeCount - 1)),
    QUILLON_FIELD(convt, direction, Within(v, 0, kDirectionCount - 1)),
    QUILLON_FIELD(convt, transparentFlags, OnlyBits(v, kTwoOptionBits)),
    QUILLON_FIELD(convt, idOffset, Within(v, kIdOffsetRange)),
    QUILLON_FIELD(convt, idLength, Within(v, kIdLengthRange)),
    QUILLON_FIELD(convt, frameGapChars, Within(v, kFrameGapRange)),
    QUILLON_FIELD(convt, transparentSendId, AnyId(v)),
    QUILLON_FIELD(convt, dataFlags, OnlyBits(v, kTwoOptionBits)),
    QUILLON_FIELD(convt, dataSendId, AnyId(v)),
    QUILLON_FIELD(com, baudRate,
                  IsListedBaudRate(v) ? std::nullopt
                                      : std::optional<std::string>("not one of " + BaudRateList())),
    QUILLON_FIELD(com, dataBits, Within(v, kDataBits, kDataBits)),
    QUILLON_FIELD(com, parityCode, Within(v, ComParams::kParityEven, ComParams::kParityNone)),
    QUILLON_FIELD(com, stopBitsCode,
                  v <= 0xFF && StopBitsItemOfCode(static_cast<std::uint8_t>(v)) >= 0
                      ? std::nullopt
                      : std::optional<std::string>("not 1 (one stop bit) or 3 (two stop bits)")),
    QUILLON_FIELD(can, bitRateIndex, Within(v, 0, kCanBitRateCount - 1)),
    QUILLON_FIELD(can, frameType,
                  v == CanParams::kFrameStandard || v == CanParams::kFrameExtended
                      ? std::nullopt
                      : std::optional<std::string>("not 0x00 (standard) or 0x80 (extended)")),
    QUILLON_FIELD(can, filterFlags, OnlyBits(v, kFilterBits)),
    QUILLON_FIELD(can, acceptanceCode, AnyId(v)),
    QUILLON_FIELD(can, acceptanceMask, AnyId(v)),
};

#undef QUILLON_FIELD

}  // namespace

bool IdInRange(std::uint32_t id, bool extendedFrames) {
  return id <= (extendedFrames ? kExtendedIdMax : kStandardIdMax);
}

std::uint8_t StopBitsCodeOfItem(int item) {
  if (item < 0 || item >= static_cast<int>(std::size(kStopBitsCodes)))
    return ComParams::kStopBitsUnset;
  return kStopBitsCodes[item];
}

int StopBitsItemOfCode(std::uint8_t code) {
  const auto* found = std::find(std::begin(kStopBitsCodes), std::end(kStopBitsCodes), code);
  return found == std::end(kStopBitsCodes) ? -1 : static_cast<int>(found - kStopBitsCodes);
}

std::uint8_t ParityCodeOfItem(int item) {
  return static_cast<std::uint8_t>((item + 1) & 0xFF);
}

int ParityItemOfCode(std::uint8_t code) {
  const int item = code - 1;
  return item >= 0 && item < static_cast<int>(std::size(kParityItems)) ? item : -1;
}

std::uint8_t FrameTypeOfItem(int item) {
  return item == 1 ? CanParams::kFrameExtended : CanParams::kFrameStandard;
}

int FrameTypeItem(std::uint8_t frameType) {
  return frameType == CanParams::kFrameExtended ? 1 : 0;
}

ConvtParams AsPanelShows(const ConvtParams& record) {
  ConvtParams shown = record;
  if (record.mode >= kModeCount) shown.mode = 0;
  if (record.direction >= kDirectionCount) shown.direction = kDirectionBoth;
  shown.transparentFlags = record.transparentFlags & kTwoOptionBits;
  shown.idOffset = kIdOffsetRange.Clamp(record.idOffset);
  shown.idLength = kIdLengthRange.Clamp(record.idLength);
  shown.frameGapChars = kFrameGapRange.Clamp(record.frameGapChars);
  shown.dataFlags = record.dataFlags & kTwoOptionBits;
  return shown;
}

ComParams AsPanelShows(const ComParams& record, StopBitsShown rule) {
  ComParams shown = record;
  if (!IsListedBaudRate(record.baudRate)) shown.baudRate = kBaudRates[0];
  shown.dataBits = kDataBits;
  if (ParityItemOfCode(record.parityCode) < 0) shown.parityCode = ComParams::kParityNone;
  if (StopBitsItemOfCode(record.stopBitsCode) < 0)
    shown.stopBitsCode =
        rule == StopBitsShown::OneForFile ? ComParams::kStopBitsOne : ComParams::kStopBitsUnset;
  return shown;
}

CanParams AsPanelShows(const CanParams& record) {
  CanParams shown = record;
  if (record.bitRateIndex >= kCanBitRateCount) shown.bitRateIndex = kNoItem;
  shown.frameType = FrameTypeOfItem(FrameTypeItem(record.frameType));
  shown.filterFlags = record.filterFlags & kFilterBits;
  return shown;
}

messages::Msg IdRangeMessage(bool extendedFrames) {
  return extendedFrames ? messages::Msg::ExtIdRange : messages::Msg::StdIdRange;
}

messages::Msg IdLengthMessage() {
  return messages::Msg::StdIdLength;
}

std::optional<RuleFailure> CheckBeforeWrite(const ParameterRecords& records) {
  const bool extendedFrames = records.can.IsExtendedFrame();
  if (!IdInRange(records.convt.transparentSendId, extendedFrames))
    return RuleFailure{"convt.transparentSendId", IdRangeMessage(extendedFrames)};
  if (!extendedFrames && records.convt.idLength > kStandardIdLengthMax)
    return RuleFailure{"convt.idLength", IdLengthMessage()};
  if (records.can.filterFlags & CanParams::kFilterOn) {
    const bool filterExtended = records.can.filterFlags & CanParams::kFilterExtendedOnly;
    if (!IdInRange(records.can.acceptanceCode, filterExtended))
      return RuleFailure{"can.acceptanceCode", IdRangeMessage(filterExtended)};
    if (!IdInRange(records.can.acceptanceMask, filterExtended))
      return RuleFailure{"can.acceptanceMask", IdRangeMessage(filterExtended)};
  }
  return std::nullopt;
}

std::span<const ParamField> ParamFields() {
  return kFields;
}

const ParamField* FindParamField(std::string_view key) {
  for (const ParamField& field : kFields)
    if (key == field.key) return &field;
  return nullptr;
}

std::string_view FieldRecord(const ParamField& field) {
  const std::string_view key = field.key;
  return key.substr(0, key.find('.'));
}

std::string_view FieldName(const ParamField& field) {
  const std::string_view key = field.key;
  return key.substr(key.find('.') + 1);
}

}  // namespace protocol
