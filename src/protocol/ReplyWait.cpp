#include "protocol/ReplyWait.h"

#include <algorithm>

#include "protocol/FrameSearch.h"

namespace protocol {
namespace {

ReplyVerdict Accepted(const Frame& frame) {
  return {ReplyVerdict::State::Accepted, frame};
}

ReplyVerdict Refused(const Frame& frame) {
  return {ReplyVerdict::State::Refused, frame};
}

// A frame delimited by its start and end bytes, from our address, answering
// `code` with a refusing status. The window drops it silently; a program
// that waits for one reply can tell the refusal at once.
std::optional<Frame> FindRefusal(std::span<const std::uint8_t> held, std::uint16_t code) {
  for (std::size_t at = 0; at + FRAME_LENGTH <= held.size(); ++at) {
    if (held[at] != FRAME_START || held[at + FRAME_OFS_END] != FRAME_END) continue;
    Frame frame{};
    std::copy_n(held.begin() + static_cast<std::ptrdiff_t>(at), FRAME_LENGTH, frame.begin());
    if (frame[FRAME_OFS_ADDR] == FRAME_ADDR && FrameCode(frame) == code &&
        FrameStatus(frame) != FRAME_ACK)
      return frame;
  }
  return std::nullopt;
}

std::optional<Frame> FindInStream(std::span<const std::uint8_t> held,
                                  std::span<const std::uint16_t> codes, std::uint16_t code) {
  FrameStream stream(held, codes);
  while (const std::optional<Frame> frame = stream.Next())
    if (FrameCode(*frame) == code) return frame;
  return std::nullopt;
}

bool IsReadCode(std::uint16_t code) {
  return code == CMD_CONVT_GET || code == CMD_COM_GET || code == CMD_CAN_GET;
}

}  // namespace

ReplyVerdict ExamineReplies(std::span<const std::uint8_t> held, std::uint16_t code) {
  if (code == CMD_RESTORE_DEFAULT) {
    const std::optional<Frame> frame = FindRestoreDefaultReply(held);
    if (!frame) return {};
    return FrameStatus(*frame) == FRAME_ACK ? Accepted(*frame) : Refused(*frame);
  }
  std::optional<Frame> frame;
  if (code == CMD_GET_VERSION)
    frame = FindVersionReply(held);
  else if (IsReadCode(code))
    frame = FindInStream(held, kReadReplyCodes, code);
  else
    frame = FindInStream(held, kWriteReplyCodes, code);
  if (frame) return Accepted(*frame);
  if (const std::optional<Frame> refusal = FindRefusal(held, code)) return Refused(*refusal);
  return {};
}

ReplyVerdict ExamineReplies(std::span<const std::uint8_t> held, std::uint16_t code,
                            CrcCheck check) {
  for (;;) {
    const ReplyVerdict verdict = ExamineReplies(held, code);
    if (check == CrcCheck::Ignored || verdict.state == ReplyVerdict::State::Pending ||
        FrameCrcMatches(verdict.frame))
      return verdict;
    // Every style hands out 29 bytes as they stand in the buffer.
    const auto at =
        std::search(held.begin(), held.end(), verdict.frame.begin(), verdict.frame.end());
    if (at == held.end()) return {};
    held = held.subspan(static_cast<std::size_t>(at - held.begin()) + FRAME_LENGTH);
  }
}

}  // namespace protocol
