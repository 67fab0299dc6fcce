#pragma once

#include <cstdint>
#include <span>

#include "protocol/Frame.h"

// Waiting for the reply to one request at a time: the received bytes are
// examined as they grow, with the frame search and acceptance test the
// window applies to that command's reply (head of buffer for
// CMD_RESTORE_DEFAULT, single frame for CMD_GET_VERSION, the frame stream of
// a read or a write for the parameter groups).
namespace protocol {

struct ReplyVerdict {
  enum class State {
    Pending,   // no reply yet: more bytes may complete one
    Accepted,  // `frame` is the reply the window would accept
    Refused,   // a well-formed reply to the request with a status other than FRAME_ACK
  };
  State state = State::Pending;
  Frame frame{};
};

// The verdict on the bytes received since the request with command `code`
// was sent. An accepted frame of another code of the same operation is not
// the reply. A frame the window would drop for its data length stays
// Pending: the wait then ends by its time-out, as the window's operation does.
ReplyVerdict ExamineReplies(std::span<const std::uint8_t> held, std::uint16_t code);

// How strictly a reply is taken.
enum class CrcCheck {
  Ignored,   // as the window: the checksum field is not examined
  Required,  // a frame whose checksum does not hold is taken as never received
};

// ExamineReplies, with a frame whose checksum does not hold, under
// CrcCheck::Required, dropped together with the bytes before it; the search
// goes on behind it.
ReplyVerdict ExamineReplies(std::span<const std::uint8_t> held, std::uint16_t code, CrcCheck check);

}  // namespace protocol
