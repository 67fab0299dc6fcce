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

std::uint8_t Clamp(std::uint8_t value, std::uint8_t low, std::uint8_t high) {
  return std::clamp(value, low, high);
}

bool IsListedBaudRate(std::uint32_t value) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), value) != std::end(kBaudRates);
}

std::string UpperHex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

bool IdWithin(std::uint32_t id, bool extended) {
  return id <= (extended ? kExtendedIdMax : kStandardIdMax);
}

// ---- the field table ----

std::optional<std::string> Within(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  if (value >= low && value <= high) return std::nullopt;
  return "outside " + std::to_string(low) + ".." + std::to_string(high);
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
    QUILLON_FIELD(convt, mode, Within(v, 0, 3)),
    QUILLON_FIELD(convt, direction, Within(v, 0, 2)),
    QUILLON_FIELD(convt, transparentFlags, OnlyBits(v, kTwoOptionBits)),
    QUILLON_FIELD(convt, idOffset, Within(v, 0, 7)),
    QUILLON_FIELD(convt, idLength, Within(v, 1, 4)),
    QUILLON_FIELD(convt, frameGapChars, Within(v, 2, 10)),
    QUILLON_FIELD(convt, transparentSendId, AnyId(v)),
    QUILLON_FIELD(convt, dataFlags, OnlyBits(v, kTwoOptionBits)),
    QUILLON_FIELD(convt, dataSendId, AnyId(v)),
    QUILLON_FIELD(com, baudRate,
                  IsListedBaudRate(v)
                      ? std::nullopt
                      : std::optional<std::string>("not one of 300, 600, 1200, 2400, 4800, 9600, "
                                                   "19200, 38400, 57600, 115200")),
    QUILLON_FIELD(com, dataBits, Within(v, kDataBits, kDataBits)),
    QUILLON_FIELD(com, parityCode, Within(v, ComParams::kParityEven, ComParams::kParityNone)),
    QUILLON_FIELD(com, stopBitsCode,
                  v == ComParams::kStopBitsOne || v == ComParams::kStopBitsTwo
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

ConvtParams AsPanelShows(const ConvtParams& record) {
  ConvtParams shown = record;
  if (record.mode > 3) shown.mode = 0;
  if (record.direction > 2) shown.direction = 2;
  shown.transparentFlags = record.transparentFlags & kTwoOptionBits;
  shown.idOffset = Clamp(record.idOffset, 0, 7);
  shown.idLength = Clamp(record.idLength, 1, 4);
  shown.frameGapChars = Clamp(record.frameGapChars, 2, 10);
  shown.dataFlags = record.dataFlags & kTwoOptionBits;
  return shown;
}

ComParams AsPanelShows(const ComParams& record, StopBitsShown rule) {
  ComParams shown = record;
  if (!IsListedBaudRate(record.baudRate)) shown.baudRate = kBaudRates[0];
  shown.dataBits = kDataBits;
  if (record.parityCode < ComParams::kParityEven || record.parityCode > ComParams::kParityNone)
    shown.parityCode = ComParams::kParityNone;
  if (record.stopBitsCode != ComParams::kStopBitsOne &&
      record.stopBitsCode != ComParams::kStopBitsTwo)
    shown.stopBitsCode =
        rule == StopBitsShown::OneForFile ? ComParams::kStopBitsOne : ComParams::kStopBitsUnset;
  return shown;
}

CanParams AsPanelShows(const CanParams& record) {
  CanParams shown = record;
  if (record.bitRateIndex >= kCanBitRateCount) shown.bitRateIndex = kNoItem;
  if (!record.IsExtendedFrame()) shown.frameType = CanParams::kFrameStandard;
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
  if (!IdWithin(records.convt.transparentSendId, extendedFrames))
    return RuleFailure{"convt.transparentSendId", IdRangeMessage(extendedFrames)};
  if (!extendedFrames && records.convt.idLength > 2)
    return RuleFailure{"convt.idLength", IdLengthMessage()};
  if (records.can.filterFlags & CanParams::kFilterOn) {
    const bool filterExtended = records.can.filterFlags & CanParams::kFilterExtendedOnly;
    if (!IdWithin(records.can.acceptanceCode, filterExtended))
      return RuleFailure{"can.acceptanceCode", IdRangeMessage(filterExtended)};
    if (!IdWithin(records.can.acceptanceMask, filterExtended))
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
