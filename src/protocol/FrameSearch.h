#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/Frame.h"

// Finding reply frames in the received bytes. Three styles exist, one per
// kind of device operation; none of them verifies the checksum field.
namespace protocol {

// Reply codes accepted by a read and by a write of the three parameter groups.
inline constexpr std::uint16_t kReadReplyCodes[] = {CMD_CONVT_GET, CMD_CAN_GET, CMD_COM_GET};
inline constexpr std::uint16_t kWriteReplyCodes[] = {CMD_CONVT_SET, CMD_CAN_SET, CMD_COM_SET};

// Head of buffer: bytes 0..28 as they stand when at least 29 are held,
// without looking for the start byte or examining the end byte.
std::optional<Frame> SearchHeadFrame(std::span<const std::uint8_t> held);

// The restore-defaults reply test for a head-of-buffer candidate: start byte,
// address and code CMD_RESTORE_DEFAULT. Its status then tells success
// (FRAME_ACK) from refusal.
bool IsRestoreDefaultReply(const Frame& frame);

// Single frame: skips everything before the first FRAME_START and returns the
// 29 bytes from there when they end in FRAME_END. Needs at least 29 bytes held
// before and after the skip. At most one candidate is examined per pass.
std::optional<Frame> SearchSingleFrame(std::span<const std::uint8_t> held);

// The version reply test: address, code CMD_GET_VERSION, data length 9,
// status FRAME_ACK.
bool IsVersionReply(const Frame& frame);

// The acceptance test of the frame stream: address, a code among `codes`,
// status FRAME_ACK, and data length 16 when the code is CMD_CONVT_GET. The
// data length of every other reply is not examined.
bool IsAcceptedStreamReply(const Frame& frame, std::span<const std::uint16_t> codes);

// The two single-candidate styles with their acceptance tests applied: the
// restore-defaults reply at the head of the buffer, and the version reply.
std::optional<Frame> FindRestoreDefaultReply(std::span<const std::uint8_t> held);
std::optional<Frame> FindVersionReply(std::span<const std::uint8_t> held);

// Frame stream: walks the held bytes and yields each accepted reply in order
// of arrival. A start byte whose 29th byte is not FRAME_END costs one byte; a
// well-delimited frame that fails the acceptance test costs its 29 bytes. The
// caller stops calling Next() once its operation is complete.
class FrameStream {
 public:
  // `held` and `codes` must outlive the stream.
  FrameStream(std::span<const std::uint8_t> held, std::span<const std::uint16_t> codes)
      : held_(held), codes_(codes) {}

  std::optional<Frame> Next();

  // Bytes consumed so far (skipped, rejected or handed out).
  std::size_t Position() const { return pos_; }

 private:
  std::span<const std::uint8_t> held_;
  std::span<const std::uint16_t> codes_;
  std::size_t pos_ = 0;
};

}  // namespace protocol
