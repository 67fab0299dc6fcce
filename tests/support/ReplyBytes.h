#pragma once

#include <cstdint>
#include <span>

#include "protocol/Frame.h"
#include "protocol/Records.h"
#include "support/FrameBytes.h"

namespace testing_support {

// The frames of an exchange as bytes on the line.

inline Bytes QueryBytes(std::uint16_t code) {
  return ToBytes(protocol::BuildQueryFrame(code));
}

inline Bytes ReplyBytes(std::uint16_t code, std::uint8_t status = protocol::FRAME_ACK,
                        std::span<const std::uint8_t> record = {}) {
  return ToBytes(protocol::BuildReplyFrame(code, status, record));
}

// An accepted reply carrying a record of zero bytes of the size its command
// answers with; none for the other commands.
inline Bytes RecordReplyBytes(std::uint16_t code) {
  using namespace protocol;
  const std::size_t size = code == CMD_GET_VERSION ? VersionRecord::kSize
                           : code == CMD_COM_GET   ? ComParams::kSize
                           : code == CMD_CONVT_GET ? ConvtParams::kSize
                           : code == CMD_CAN_GET   ? CanParams::kSize
                                                   : 0;
  return ReplyBytes(code, FRAME_ACK, Bytes(size, 0));
}

// A serial line of 8 data bits, no parity and one stop bit.
inline protocol::ComParams Com8N1(std::uint32_t baudRate) {
  protocol::ComParams com;
  com.baudRate = baudRate;
  com.dataBits = 8;
  com.parityCode = protocol::ComParams::kParityNone;
  com.stopBitsCode = protocol::ComParams::kStopBitsOne;
  return com;
}

}  // namespace testing_support
