#include "protocol/Frame.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "protocol/ByteOrder.h"

namespace protocol {
namespace {

std::array<std::uint16_t, 256> BuildCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t r = 0;
    std::uint16_t c = static_cast<std::uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      if ((r ^ c) & 0x8000)
        r = static_cast<std::uint16_t>((r << 1) ^ 0x8005);
      else
        r = static_cast<std::uint16_t>(r << 1);
      c = static_cast<std::uint16_t>(c << 1);
    }
    table[i] = r;
  }
  return table;
}

}  // namespace

const std::array<std::uint16_t, 256>& CrcTable() {
  static const std::array<std::uint16_t, 256> table = BuildCrcTable();
  return table;
}

std::uint16_t CalcCrc16(const std::uint8_t* bytes, std::size_t count) {
  const auto& table = CrcTable();
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i)
    crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ bytes[i]) & 0xFF]);
  return crc;
}

std::uint16_t FrameCode(const Frame& frame) {
  return GetBe16(&frame[FRAME_OFS_CODE]);
}
std::uint16_t FrameDataLength(const Frame& frame) {
  return GetBe16(&frame[FRAME_OFS_LENGTH]);
}
std::uint8_t FrameStatus(const Frame& frame) {
  return frame[FRAME_OFS_STATUS];
}
std::uint16_t FrameCrcField(const Frame& frame) {
  return GetBe16(&frame[FRAME_OFS_CRC]);
}

bool FrameCrcMatches(const Frame& frame) {
  return FrameCrcField(frame) == CalcCrc16(frame.data() + FRAME_CRC_FIRST, FRAME_CRC_COUNT);
}

void SealFrame(Frame& frame) {
  PutBe16(&frame[FRAME_OFS_CRC], CalcCrc16(frame.data() + FRAME_CRC_FIRST, FRAME_CRC_COUNT));
  frame[FRAME_OFS_END] = FRAME_END;
}

Frame BuildFrame(std::uint16_t code, std::uint16_t dataLength, std::span<const std::uint8_t> data,
                 std::uint8_t address) {
  if (data.size() > FRAME_DATA_SIZE)
    throw std::length_error("frame data of " + std::to_string(data.size()) +
                            " bytes exceeds the 20-byte data area");
  Frame frame{};
  frame[0] = FRAME_START;
  frame[FRAME_OFS_ADDR] = address;
  PutBe16(&frame[FRAME_OFS_CODE], code);
  PutBe16(&frame[FRAME_OFS_LENGTH], dataLength);
  std::copy(data.begin(), data.end(), frame.begin() + FRAME_OFS_DATA);
  SealFrame(frame);
  return frame;
}

Frame BuildQueryFrame(std::uint16_t code) {
  const std::uint8_t mark[] = {QUERY_MARK};
  return BuildFrame(code, 1, mark);
}

Frame BuildSetFrame(std::uint16_t code, std::uint16_t dataLength,
                    std::span<const std::uint8_t> record) {
  return BuildFrame(code, dataLength, record);
}

Frame BuildReplyFrame(std::uint16_t code, std::uint8_t status,
                      std::span<const std::uint8_t> record) {
  if (record.size() + 1 > FRAME_DATA_SIZE)
    throw std::length_error("reply record of " + std::to_string(record.size()) +
                            " bytes exceeds the data area");
  std::array<std::uint8_t, FRAME_DATA_SIZE> data{};
  data[0] = status;
  std::copy(record.begin(), record.end(), data.begin() + 1);
  return BuildFrame(code, static_cast<std::uint16_t>(record.size() + 1),
                    std::span(data).first(record.size() + 1));
}

const char* CommandName(std::uint16_t code) {
  switch (code) {
    case CMD_RESTORE_DEFAULT:
      return "CMD_RESTORE_DEFAULT";
    case CMD_GET_VERSION:
      return "CMD_GET_VERSION";
    case CMD_COM_GET:
      return "CMD_COM_GET";
    case CMD_COM_SET:
      return "CMD_COM_SET";
    case CMD_CAN_GET:
      return "CMD_CAN_GET";
    case CMD_CAN_SET:
      return "CMD_CAN_SET";
    case CMD_CONVT_GET:
      return "CMD_CONVT_GET";
    case CMD_CONVT_SET:
      return "CMD_CONVT_SET";
    default:
      return nullptr;
  }
}

}  // namespace protocol
