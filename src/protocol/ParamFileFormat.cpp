#include "protocol/ParamFileFormat.h"

#include <algorithm>

#include "protocol/ByteOrder.h"

namespace protocol {
namespace {

const std::array<std::uint32_t, 256>& JamCrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t value = n;
      for (int bit = 0; bit < 8; ++bit)
        value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
      entries[n] = value;
    }
    return entries;
  }();
  return table;
}

// `N` bytes from `offset`; bytes beyond the end of `bytes` count as zero.
template <std::size_t N>
std::array<std::uint8_t, N> ZeroPaddedAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::array<std::uint8_t, N> out{};
  if (offset < bytes.size())
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                std::min(N, bytes.size() - offset), out.begin());
  return out;
}

void PutFrame(ParamFileBytes& bytes, std::size_t offset, const Frame& frame) {
  std::copy(frame.begin(), frame.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::uint32_t JamCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const auto& table = JamCrcTable();
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t ParamFileCrc(std::span<const std::uint8_t> bytes) {
  // The stored CRC is not part of what it covers.
  const std::size_t fieldStart = std::min(bytes.size(), kParamFileCrcOffset);
  const std::size_t fieldEnd = std::min(bytes.size(), kParamFileHeaderSize);
  static constexpr std::uint8_t kZeros[4] = {};
  std::uint32_t crc = JamCrc(kJamCrcStart, bytes.data(), fieldStart);
  crc = JamCrc(crc, kZeros, fieldEnd - fieldStart);
  return JamCrc(crc, bytes.data() + fieldEnd, bytes.size() - fieldEnd);
}

void SealParamFile(std::span<std::uint8_t> bytes) {
  if (bytes.size() < kParamFileHeaderSize) return;
  PutLe32(&bytes[kParamFileCrcOffset], ParamFileCrc(bytes));
}

ParamFileBytes BuildParamFile(const ParamFileRecords& records) {
  ParamFileBytes bytes{};
  PutLe32(&bytes[kParamFileSizeOffset], kParamFileSize);
  PutLe16(&bytes[kParamRecordLengthOffset], kParamRecordLength);
  PutFrame(bytes, kConvtRecordOffset, records.convt.ToFileFrame());
  PutFrame(bytes, kComRecordOffset, records.com.ToFileFrame());
  PutFrame(bytes, kCanRecordOffset, records.can.ToFileFrame());
  SealParamFile(bytes);
  return bytes;
}

ParamFileCheck CheckParamFile(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
  const auto header = ZeroPaddedAt<kParamFileHeaderSize>(bytes, 0);
  if (GetLe32(&header[kParamFileSizeOffset]) != fileSize) return ParamFileCheck::SizeMismatch;
  if (GetLe16(&header[kParamRecordLengthOffset]) != kParamRecordLength)
    return ParamFileCheck::RecordLengthMismatch;
  if (fileSize > kParamFileReadLimit || bytes.size() != fileSize) return ParamFileCheck::Unreadable;
  if (ParamFileCrc(bytes) != GetLe32(&header[kParamFileCrcOffset]))
    return ParamFileCheck::CrcMismatch;
  return ParamFileCheck::Valid;
}

std::optional<messages::Msg> ParamFileCheckMessage(ParamFileCheck check) {
  switch (check) {
    case ParamFileCheck::Valid:
      break;
    case ParamFileCheck::SizeMismatch:
      return messages::Msg::FileSizeBad;
    case ParamFileCheck::RecordLengthMismatch:
      return messages::Msg::CmdLengthBad;
    case ParamFileCheck::Unreadable:
      return messages::Msg::FileCorrupted;
    case ParamFileCheck::CrcMismatch:
      return messages::Msg::CrcBad;
  }
  return std::nullopt;
}

ParamFileRecords ReadParamFileRecords(std::span<const std::uint8_t> bytes) {
  return {ConvtParams::FromFileFrame(ZeroPaddedAt<FRAME_LENGTH>(bytes, kConvtRecordOffset)),
          ComParams::FromFileFrame(ZeroPaddedAt<FRAME_LENGTH>(bytes, kComRecordOffset)),
          CanParams::FromFileFrame(ZeroPaddedAt<FRAME_LENGTH>(bytes, kCanRecordOffset))};
}

}  // namespace protocol
