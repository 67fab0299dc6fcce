#include "protocol/RecordText.h"

#include <cstdio>
#include <iterator>
#include <span>

#include "messages/Messages.h"
#include "messages/TrafficWords.h"

namespace protocol {
namespace {

using messages::TrafficWord;

// The CAN bit-rate items, by index; the panel never translates them.
constexpr const char* kCanBitRates[] = {"1Mbps",   "500Kbps", "250Kbps", "125Kbps",
                                        "100Kbps", "50Kbps",  "25Kbps",  "20Kbps",
                                        "10Kbps",  "5Kbps",   "2.5Kbps"};

std::string Word(TrafficWord word, std::string_view langCode) {
  return messages::TrafficWordText(word, langCode);
}

std::string Number(unsigned value) {
  return std::to_string(value);
}

std::string Identifier(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

// The word of item `index` among `items`, or `codeWord` with `code`.
std::string ItemOrCode(std::span<const TrafficWord> items, unsigned index, unsigned code,
                       TrafficWord codeWord, std::string_view langCode) {
  if (index < items.size()) return Word(items[index], langCode);
  return FillPlaceholders(Word(codeWord, langCode), {Number(code)});
}

constexpr TrafficWord kParities[] = {TrafficWord::ParityEven, TrafficWord::ParityOdd,
                                     TrafficWord::ParitySpace, TrafficWord::ParityMark,
                                     TrafficWord::ParityNone};
constexpr TrafficWord kModes[] = {TrafficWord::ModeTransparent, TrafficWord::ModeTransparentWithId,
                                  TrafficWord::ModeModbusRtu, TrafficWord::ModeData};
constexpr TrafficWord kDirections[] = {TrafficWord::DirectionCanToCom,
                                       TrafficWord::DirectionComToCan, TrafficWord::DirectionBoth};

// Two option bits of a flag byte: the options set, joined, or "none".
std::string Options(std::uint8_t flags, TrafficWord bit0, TrafficWord bit1,
                    std::string_view langCode) {
  std::string text;
  for (const auto& [mask, word] :
       {std::pair{ConvtParams::kCanInfo, bit0}, {ConvtParams::kCanId, bit1}}) {
    if (!(flags & mask)) continue;
    if (!text.empty()) text += Word(TrafficWord::FlagsJoin, langCode);
    text += Word(word, langCode);
  }
  return text.empty() ? Word(TrafficWord::FlagsNone, langCode) : text;
}

// parityCode is the item index plus 1.
std::string Parity(std::uint8_t code, std::string_view langCode) {
  const unsigned index = code == 0 ? std::size(kParities) : code - 1u;
  return ItemOrCode(kParities, index, code, TrafficWord::ParityCode, langCode);
}

std::string StopBits(std::uint8_t code, std::string_view langCode) {
  if (code == ComParams::kStopBitsOne) return Word(TrafficWord::StopBitsOne, langCode);
  if (code == ComParams::kStopBitsTwo) return Word(TrafficWord::StopBitsTwo, langCode);
  return FillPlaceholders(Word(TrafficWord::StopBitsCode, langCode), {Number(code)});
}

std::string CanBitRate(std::uint8_t index, std::string_view langCode) {
  if (index < std::size(kCanBitRates)) return kCanBitRates[index];
  return FillPlaceholders(Word(TrafficWord::CanBitRateCode, langCode), {Number(index)});
}

// Only 0x80 means extended frames; another value than 0 is shown beside.
std::string FrameType(std::uint8_t frameType, std::string_view langCode) {
  const bool extended = frameType == CanParams::kFrameExtended;
  std::string text =
      Word(extended ? TrafficWord::FrameExtended : TrafficWord::FrameStandard, langCode);
  if (!extended && frameType != CanParams::kFrameStandard) {
    char raw[8];
    std::snprintf(raw, sizeof raw, " (0x%02X)", static_cast<unsigned>(frameType));
    text += raw;
  }
  return text;
}

}  // namespace

std::string FillPlaceholders(std::string_view pattern,
                             std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  std::size_t from = 0;
  for (std::size_t at = pattern.find("{}"); at != std::string_view::npos && value != values.end();
       at = pattern.find("{}", from)) {
    text.append(pattern.substr(from, at - from));
    text.append(*value++);
    from = at + 2;
  }
  text.append(pattern.substr(from));
  return text;
}

std::string DescribeRecord(const ComParams& record, std::string_view langCode) {
  return FillPlaceholders(
      Word(TrafficWord::ComRecord, langCode),
      {Number(record.baudRate), Number(record.dataBits), Parity(record.parityCode, langCode),
       StopBits(record.stopBitsCode, langCode)});
}

std::string DescribeRecord(const ConvtParams& record, std::string_view langCode) {
  const std::string mode =
      ItemOrCode(kModes, record.mode, record.mode, TrafficWord::ModeCode, langCode);
  const std::string direction = ItemOrCode(kDirections, record.direction, record.direction,
                                           TrafficWord::DirectionCode, langCode);
  return FillPlaceholders(
      Word(TrafficWord::ConvtRecord, langCode),
      {mode, direction,
       Options(record.transparentFlags, TrafficWord::TransparentInfo, TrafficWord::TransparentId,
               langCode),
       Identifier(record.transparentSendId), Number(record.idOffset), Number(record.idLength),
       Number(record.frameGapChars),
       Options(record.dataFlags, TrafficWord::DataInfo, TrafficWord::DataId, langCode),
       Identifier(record.dataSendId)});
}

std::string DescribeRecord(const CanParams& record, std::string_view langCode) {
  const std::uint8_t flags = record.filterFlags;
  const messages::Msg filter =
      (flags & CanParams::kFilterOn) ? messages::Msg::FilterOn : messages::Msg::FilterOff;
  return FillPlaceholders(
      Word(TrafficWord::CanRecord, langCode),
      {CanBitRate(record.bitRateIndex, langCode), FrameType(record.frameType, langCode),
       messages::MessageText(filter, langCode),
       Word((flags & CanParams::kFilterExtendedOnly) ? TrafficWord::FilterExtendedOnly
                                                     : TrafficWord::FilterStandardOnly,
            langCode),
       Word((flags & CanParams::kFilterDistinguishId) ? TrafficWord::FilterIdDistinguished
                                                      : TrafficWord::FilterIdIgnored,
            langCode),
       Identifier(record.acceptanceCode), Identifier(record.acceptanceMask)});
}

std::string DescribeRecord(const VersionRecord& record, std::string_view langCode) {
  return FillPlaceholders(Word(TrafficWord::VersionRecord, langCode),
                          {record.SoftwareText(), record.BuildDateText(), record.HardwareText()});
}

std::string DescribeFrameRecord(const Frame& frame, bool sent, std::string_view langCode) {
  const std::uint16_t code = FrameCode(frame);
  if (sent) {
    switch (code) {
      case CMD_CONVT_SET:
        return DescribeRecord(ConvtParams::FromSetFrame(frame), langCode);
      case CMD_COM_SET:
        return DescribeRecord(ComParams::FromSetFrame(frame), langCode);
      case CMD_CAN_SET:
        return DescribeRecord(CanParams::FromSetFrame(frame), langCode);
      default:
        return {};
    }
  }
  if (FrameStatus(frame) != FRAME_ACK) return {};
  switch (code) {
    case CMD_CONVT_GET:
      return DescribeRecord(ConvtParams::FromReply(frame), langCode);
    case CMD_COM_GET:
      return DescribeRecord(ComParams::FromReply(frame), langCode);
    case CMD_CAN_GET:
      return DescribeRecord(CanParams::FromReply(frame), langCode);
    case CMD_GET_VERSION:
      return DescribeRecord(VersionRecord::FromReply(frame), langCode);
    default:
      return {};
  }
}

}  // namespace protocol
