#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The 29-byte command frame exchanged with the converter in both directions:
//   0 start 0x7F | 1 address | 2-3 command code | 4-5 data length |
//   6-25 data area | 26-27 CRC-16 of bytes 1..25 | 28 end 0x0D
// Every multi-byte field is big-endian.
namespace protocol {

inline constexpr std::uint8_t FRAME_START = 0x7F;
inline constexpr std::uint8_t FRAME_ADDR = 0x01;
inline constexpr std::uint8_t FRAME_END = 0x0D;
inline constexpr std::uint8_t QUERY_MARK = 0xFF;
inline constexpr std::uint8_t FRAME_ACK = 0x20;
// The status a converter answers with when it refuses a request; any status
// other than FRAME_ACK is a refusal, this is the one our simulator sends.
inline constexpr std::uint8_t FRAME_REFUSED = 0x21;

inline constexpr std::uint16_t CMD_RESTORE_DEFAULT = 0x1010;
inline constexpr std::uint16_t CMD_GET_VERSION = 0x1020;
inline constexpr std::uint16_t CMD_COM_GET = 0x2010;
inline constexpr std::uint16_t CMD_COM_SET = 0x2020;
inline constexpr std::uint16_t CMD_CAN_GET = 0x3010;
inline constexpr std::uint16_t CMD_CAN_SET = 0x3020;
inline constexpr std::uint16_t CMD_CONVT_GET = 0x4010;
inline constexpr std::uint16_t CMD_CONVT_SET = 0x4020;

inline constexpr std::size_t FRAME_LENGTH = 29;
inline constexpr std::size_t FRAME_OFS_ADDR = 1;
inline constexpr std::size_t FRAME_OFS_CODE = 2;
inline constexpr std::size_t FRAME_OFS_LENGTH = 4;
inline constexpr std::size_t FRAME_OFS_DATA = 6;
inline constexpr std::size_t FRAME_DATA_SIZE = 20;
inline constexpr std::size_t FRAME_OFS_CRC = 26;
inline constexpr std::size_t FRAME_OFS_END = 28;
// The CRC covers the address byte through the end of the data area.
inline constexpr std::size_t FRAME_CRC_FIRST = 1;
inline constexpr std::size_t FRAME_CRC_COUNT = 25;
// In a reply, the status byte comes first and a record follows it.
inline constexpr std::size_t FRAME_OFS_STATUS = 6;
inline constexpr std::size_t FRAME_OFS_REPLY_RECORD = 7;

using Frame = std::array<std::uint8_t, FRAME_LENGTH>;

// The 256-entry table of CRC-16/UMTS (polynomial 0x8005, not reflected).
const std::array<std::uint16_t, 256>& CrcTable();

// CRC-16/UMTS of the first `count` bytes: initial value 0, no final XOR.
// "123456789" gives 0xFEE8.
std::uint16_t CalcCrc16(const std::uint8_t* bytes, std::size_t count);

// Field access on a frame.
std::uint16_t FrameCode(const Frame& frame);
std::uint16_t FrameDataLength(const Frame& frame);
std::uint8_t FrameStatus(const Frame& frame);
std::uint16_t FrameCrcField(const Frame& frame);
// True when the checksum field matches the frame's bytes 1..25.
bool FrameCrcMatches(const Frame& frame);

// Writes the checksum of bytes 1..25 and the end byte.
void SealFrame(Frame& frame);

// A frame with start, address, code, data length and `data` from offset 6,
// the rest of the data area zero, sealed. Throws std::length_error when
// `data` does not fit the 20-byte data area.
Frame BuildFrame(std::uint16_t code, std::uint16_t dataLength, std::span<const std::uint8_t> data,
                 std::uint8_t address = FRAME_ADDR);

// A request without parameters: data length 1, QUERY_MARK at offset 6.
Frame BuildQueryFrame(std::uint16_t code);

// A request carrying a record from offset 6 with the given data length.
Frame BuildSetFrame(std::uint16_t code, std::uint16_t dataLength,
                    std::span<const std::uint8_t> record);

// A reply: the status at offset 6, the record (if any) from offset 7, data
// length = 1 + record size.
Frame BuildReplyFrame(std::uint16_t code, std::uint8_t status,
                      std::span<const std::uint8_t> record = {});

// The name of a command code ("CMD_COM_GET"), or nullptr for an unknown code.
const char* CommandName(std::uint16_t code);

}  // namespace protocol
