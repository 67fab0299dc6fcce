#include "protocol/Records.h"

#include <algorithm>

#include "protocol/ByteOrder.h"

namespace protocol {
namespace {

// "1.2": a version's two numbers in decimal.
std::string DottedPair(const std::array<std::uint8_t, 2>& numbers) {
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]);
}

// A month or a day: a leading zero below 10 only, so that month 10 and day 26
// read 1026, not 010026.
std::string TwoDigits(std::uint8_t value) {
  std::string text = std::to_string(value);
  if (value < 10) text.insert(text.begin(), '0');
  return text;
}

}  // namespace

// --- ConvtParams -----------------------------------------------------------

std::array<std::uint8_t, ConvtParams::kSize> ConvtParams::Encode() const {
  std::array<std::uint8_t, kSize> out{};
  out[0] = mode;
  out[1] = direction;
  out[2] = transparentFlags;
  out[3] = idOffset;
  out[4] = idLength;
  out[5] = frameGapChars;
  PutBe32(&out[6], transparentSendId);
  out[10] = dataFlags;
  PutBe32(&out[11], dataSendId);
  return out;
}

std::array<std::uint8_t, ConvtParams::kFileSize> ConvtParams::EncodeFileRecord() const {
  std::array<std::uint8_t, kFileSize> out{};
  const auto full = Encode();
  std::copy_n(full.begin(), kFileSize, out.begin());
  return out;
}

ConvtParams ConvtParams::Decode(std::span<const std::uint8_t, kSize> record) {
  ConvtParams p = DecodeFileRecord(record.first<kFileSize>());
  p.dataFlags = record[10];
  p.dataSendId = GetBe32(&record[11]);
  return p;
}

ConvtParams ConvtParams::DecodeFileRecord(std::span<const std::uint8_t, kFileSize> record) {
  ConvtParams p;
  p.mode = record[0];
  p.direction = record[1];
  p.transparentFlags = record[2];
  p.idOffset = record[3];
  p.idLength = record[4];
  p.frameGapChars = record[5];
  p.transparentSendId = GetBe32(&record[6]);
  return p;
}

ConvtParams ConvtParams::FromFileFrame(const Frame& frame) {
  return DecodeFileRecord(RecordAt<kFileSize>(frame, FRAME_OFS_DATA));
}
Frame ConvtParams::ToFileFrame() const {
  return BuildSetFrame(FILE_RECORD_CODE, kFileSize, EncodeFileRecord());
}

// --- ComParams -------------------------------------------------------------

std::array<std::uint8_t, ComParams::kSize> ComParams::Encode() const {
  std::array<std::uint8_t, kSize> out{};
  PutBe32(&out[0], baudRate);
  out[4] = dataBits;
  out[5] = parityCode;
  out[6] = stopBitsCode;
  return out;
}

ComParams ComParams::Decode(std::span<const std::uint8_t, kSize> record) {
  ComParams p;
  p.baudRate = GetBe32(&record[0]);
  p.dataBits = record[4];
  p.parityCode = record[5];
  p.stopBitsCode = record[6];
  return p;
}

// --- CanParams -------------------------------------------------------------

std::array<std::uint8_t, CanParams::kSize> CanParams::Encode() const {
  std::array<std::uint8_t, kSize> out{};
  out[0] = bitRateIndex;
  out[1] = frameType;
  out[2] = filterFlags;
  PutBe32(&out[3], acceptanceCode);
  PutBe32(&out[7], acceptanceMask);
  return out;
}

CanParams CanParams::Decode(std::span<const std::uint8_t, kSize> record) {
  CanParams p;
  p.bitRateIndex = record[0];
  p.frameType = record[1];
  p.filterFlags = record[2];
  p.acceptanceCode = GetBe32(&record[3]);
  p.acceptanceMask = GetBe32(&record[7]);
  return p;
}

// --- VersionRecord ---------------------------------------------------------

std::array<std::uint8_t, VersionRecord::kSize> VersionRecord::Encode() const {
  return {software[0],  software[1],  buildDate[0], buildDate[1],
          buildDate[2], buildDate[3], hardware[0],  hardware[1]};
}

VersionRecord VersionRecord::Decode(std::span<const std::uint8_t, kSize> record) {
  VersionRecord v;
  v.software = {record[0], record[1]};
  v.buildDate = {record[2], record[3], record[4], record[5]};
  v.hardware = {record[6], record[7]};
  return v;
}

VersionRecord VersionRecord::FromReply(const Frame& frame) {
  return Decode(RecordAt<kSize>(frame, FRAME_OFS_REPLY_RECORD));
}

std::string VersionRecord::SoftwareText() const {
  return DottedPair(software);
}

std::string VersionRecord::HardwareText() const {
  return DottedPair(hardware);
}

std::string VersionRecord::BuildDateText() const {
  return "build" + std::to_string(buildDate[0]) + std::to_string(buildDate[1]) +
         TwoDigits(buildDate[2]) + TwoDigits(buildDate[3]);
}

}  // namespace protocol
