#include "protocol/FrameSearch.h"

#include <algorithm>

namespace protocol {
namespace {

Frame CopyFrame(std::span<const std::uint8_t> bytes) {
  Frame frame;
  std::copy_n(bytes.begin(), FRAME_LENGTH, frame.begin());
  return frame;
}

// Offset of the first FRAME_START at or after `from`, or held.size().
std::size_t FindStart(std::span<const std::uint8_t> held, std::size_t from) {
  const auto it = std::find(held.begin() + from, held.end(), FRAME_START);
  return static_cast<std::size_t>(it - held.begin());
}

bool HasAddressAndStatus(const Frame& frame) {
  return frame[FRAME_OFS_ADDR] == FRAME_ADDR && FrameStatus(frame) == FRAME_ACK;
}

}  // namespace

std::optional<Frame> SearchHeadFrame(std::span<const std::uint8_t> held) {
  if (held.size() < FRAME_LENGTH) return std::nullopt;
  return CopyFrame(held);
}

bool IsRestoreDefaultReply(const Frame& frame) {
  return frame[0] == FRAME_START && frame[FRAME_OFS_ADDR] == FRAME_ADDR &&
         FrameCode(frame) == CMD_RESTORE_DEFAULT;
}

std::optional<Frame> SearchSingleFrame(std::span<const std::uint8_t> held) {
  if (held.size() < FRAME_LENGTH) return std::nullopt;
  const std::size_t start = FindStart(held, 0);
  if (held.size() - start < FRAME_LENGTH) return std::nullopt;
  const Frame frame = CopyFrame(held.subspan(start));
  if (frame[FRAME_OFS_END] != FRAME_END) return std::nullopt;
  return frame;
}

bool IsVersionReply(const Frame& frame) {
  return HasAddressAndStatus(frame) && FrameCode(frame) == CMD_GET_VERSION &&
         FrameDataLength(frame) == 9;
}

bool IsAcceptedStreamReply(const Frame& frame, std::span<const std::uint16_t> codes) {
  const std::uint16_t code = FrameCode(frame);
  if (!HasAddressAndStatus(frame)) return false;
  if (std::find(codes.begin(), codes.end(), code) == codes.end()) return false;
  return code != CMD_CONVT_GET || FrameDataLength(frame) == 16;
}

std::optional<Frame> FindRestoreDefaultReply(std::span<const std::uint8_t> held) {
  auto frame = SearchHeadFrame(held);
  if (frame && IsRestoreDefaultReply(*frame)) return frame;
  return std::nullopt;
}

std::optional<Frame> FindVersionReply(std::span<const std::uint8_t> held) {
  auto frame = SearchSingleFrame(held);
  if (frame && IsVersionReply(*frame)) return frame;
  return std::nullopt;
}

std::optional<Frame> FrameStream::Next() {
  for (;;) {
    pos_ = FindStart(held_, pos_);
    if (held_.size() - pos_ < FRAME_LENGTH) return std::nullopt;
    if (held_[pos_ + FRAME_OFS_END] != FRAME_END) {
      ++pos_;
      continue;
    }
    const Frame frame = CopyFrame(held_.subspan(pos_));
    pos_ += FRAME_LENGTH;
    if (IsAcceptedStreamReply(frame, codes_)) return frame;
  }
}

}  // namespace protocol
