#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "protocol/Frame.h"

// The converter's three parameter records and the version record. Integers
// are unsigned and big-endian; flag bytes are sums of their bit weights, and
// bits that are not listed are ignored on reading.
namespace protocol {

// The record of `N` bytes that starts at `offset` within a frame.
template <std::size_t N>
std::span<const std::uint8_t, N> RecordAt(const Frame& frame, std::size_t offset) {
  static_assert(N <= FRAME_DATA_SIZE);
  return std::span<const std::uint8_t, N>(frame.data() + offset, N);
}

// Parameter-file records carry no command code.
inline constexpr std::uint16_t FILE_RECORD_CODE = 0;

// The frames a parameter record travels in. `Record` has kSize, Encode() and
// Decode(); it is carried from frame offset 7 in the reply to its get command
// and from offset 6 in its set command and in the parameter file.
template <typename Record, std::uint16_t SetCode>
struct FramedRecord {
  // From a reply to the get command.
  static Record FromReply(const Frame& frame) {
    return Record::Decode(RecordAt<Record::kSize>(frame, FRAME_OFS_REPLY_RECORD));
  }
  // From a set request.
  static Record FromSetFrame(const Frame& frame) {
    return Record::Decode(RecordAt<Record::kSize>(frame, FRAME_OFS_DATA));
  }
  // From a parameter-file record frame.
  static Record FromFileFrame(const Frame& frame) { return FromSetFrame(frame); }

  // The set command, data length kSize.
  Frame ToSetFrame() const { return BuildSetFrame(SetCode, Record::kSize, Self().Encode()); }
  // The parameter-file record: no command code, data length kSize.
  Frame ToFileFrame() const {
    return BuildSetFrame(FILE_RECORD_CODE, Record::kSize, Self().Encode());
  }

  bool operator==(const FramedRecord&) const = default;

 private:
  const Record& Self() const { return static_cast<const Record&>(*this); }
};

// Conversion parameters, 15 bytes (10 in a parameter file, which leaves out
// the two data-conversion fields).
struct ConvtParams : FramedRecord<ConvtParams, CMD_CONVT_SET> {
  static constexpr std::size_t kSize = 15;
  static constexpr std::size_t kFileSize = 10;
  // Bits of transparentFlags and of dataFlags.
  static constexpr std::uint8_t kCanInfo = 0x01;
  static constexpr std::uint8_t kCanId = 0x02;

  std::uint8_t mode = 0;              // 0..3
  std::uint8_t direction = 0;         // 0 CAN==>COM, 1 COM==>CAN, 2 both ways
  std::uint8_t transparentFlags = 0;  // kCanInfo | kCanId
  std::uint8_t idOffset = 0;          // 0..7
  std::uint8_t idLength = 0;          // 1..4 (1..2 with standard frames)
  std::uint8_t frameGapChars = 0;     // 2..10
  std::uint32_t transparentSendId = 0;
  std::uint8_t dataFlags = 0;  // kCanInfo | kCanId
  std::uint32_t dataSendId = 0;

  std::array<std::uint8_t, kSize> Encode() const;
  std::array<std::uint8_t, kFileSize> EncodeFileRecord() const;
  static ConvtParams Decode(std::span<const std::uint8_t, kSize> record);
  // The data-conversion fields come back as 0.
  static ConvtParams DecodeFileRecord(std::span<const std::uint8_t, kFileSize> record);

  // The parameter-file record is the shorter one: these two stand for the
  // general ones. 10 bytes at frame offset 6; no command code, data length 10.
  static ConvtParams FromFileFrame(const Frame& frame);
  Frame ToFileFrame() const;

  bool operator==(const ConvtParams&) const = default;
};

// Serial-line parameters of the converter, 7 bytes.
struct ComParams : FramedRecord<ComParams, CMD_COM_SET> {
  static constexpr std::size_t kSize = 7;
  // parityCode: item index + 1.
  static constexpr std::uint8_t kParityEven = 1;
  static constexpr std::uint8_t kParityOdd = 2;
  static constexpr std::uint8_t kParitySpace = 3;
  static constexpr std::uint8_t kParityMark = 4;
  static constexpr std::uint8_t kParityNone = 5;
  // stopBitsCode: two stop bits travel as 3, not 2.
  static constexpr std::uint8_t kStopBitsUnset = 0;
  static constexpr std::uint8_t kStopBitsOne = 1;
  static constexpr std::uint8_t kStopBitsTwo = 3;

  std::uint32_t baudRate = 0;  // bit/s as a number
  std::uint8_t dataBits = 0;   // as a number: 8
  std::uint8_t parityCode = 0;
  std::uint8_t stopBitsCode = 0;

  std::array<std::uint8_t, kSize> Encode() const;
  static ComParams Decode(std::span<const std::uint8_t, kSize> record);

  bool operator==(const ComParams&) const = default;
};

// CAN parameters, 11 bytes.
struct CanParams : FramedRecord<CanParams, CMD_CAN_SET> {
  static constexpr std::size_t kSize = 11;
  static constexpr std::uint8_t kFrameStandard = 0x00;
  static constexpr std::uint8_t kFrameExtended = 0x80;
  // Bits of filterFlags.
  static constexpr std::uint8_t kFilterOn = 0x01;
  static constexpr std::uint8_t kFilterExtendedOnly = 0x02;
  static constexpr std::uint8_t kFilterDistinguishId = 0x10;

  std::uint8_t bitRateIndex = 0;  // 0 "1Mbps" .. 10 "2.5Kbps"
  std::uint8_t frameType = 0;     // kFrameStandard or kFrameExtended
  std::uint8_t filterFlags = 0;
  std::uint32_t acceptanceCode = 0;
  std::uint32_t acceptanceMask = 0;

  // Only 0x80 means extended; any other value reads as standard.
  bool IsExtendedFrame() const { return frameType == kFrameExtended; }

  std::array<std::uint8_t, kSize> Encode() const;
  static CanParams Decode(std::span<const std::uint8_t, kSize> record);

  bool operator==(const CanParams&) const = default;
};

// The version record of the CMD_GET_VERSION reply, frame offsets 7..14.
struct VersionRecord {
  static constexpr std::size_t kSize = 8;

  std::array<std::uint8_t, 2> software{};
  std::array<std::uint8_t, 4> buildDate{};
  std::array<std::uint8_t, 2> hardware{};

  std::array<std::uint8_t, kSize> Encode() const;
  static VersionRecord Decode(std::span<const std::uint8_t, kSize> record);
  static VersionRecord FromReply(const Frame& frame);

  // "1.2": the two numbers in decimal.
  std::string SoftwareText() const;
  std::string HardwareText() const;
  // "build" and the four numbers in decimal, the third and the fourth with at
  // least two digits: 20 17 9 5 gives "build20170905", 20 17 10 26 gives
  // "build20171026".
  std::string BuildDateText() const;

  bool operator==(const VersionRecord&) const = default;
};

// The converter's whole configuration: its three parameter records.
struct ParameterRecords {
  ConvtParams convt;
  ComParams com;
  CanParams can;

  bool operator==(const ParameterRecords&) const = default;
};

}  // namespace protocol
