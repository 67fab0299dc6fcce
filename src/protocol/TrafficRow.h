#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "messages/Messages.h"
#include "protocol/Frame.h"

// One row of the serial-line traffic: a frame sent, a frame received, a run
// of received bytes that were no frame, bytes the receive buffer dropped, or
// a message the operator was shown. A row holds bytes and verdicts only; its
// texts are made when it is shown (protocol/TrafficFormat.h), in the language
// of that moment.
namespace protocol {

// A point in time on the caller's clock, in microseconds from the caller's
// epoch. Nothing in the traffic model reads a clock. For the clock column
// the caller counts from a local midnight (local time since 1970, say).
using TrafficTime = std::chrono::microseconds;

enum class TrafficKind : std::uint8_t {
  Sent,      // bytes handed to the port: a frame
  Received,  // a frame found in the received bytes
  Noise,     // received bytes that were no frame
  Dropped,   // received bytes the receive buffer discarded unexamined
  Message,   // a message shown to the operator (a time-out, a refusal...)
};

// Why a frame was not accepted, or what became of bytes that were no frame.
// TrafficReason::None on a received frame means the frame search of the
// operation in progress accepts it.
enum class TrafficReason : std::uint8_t {
  None,
  NotSent,            // Sent: the port refused the block
  WrongEnd,           // the 29th byte is not FRAME_END
  WrongAddress,       // the address byte is not FRAME_ADDR
  UnexpectedCommand,  // a code the operation in progress does not accept
  Refused,            // a status other than FRAME_ACK, where the search requires it
  WrongLength,        // the CMD_CONVT_GET reply without 16, the version reply without 9
  BadCrc,             // a reply whose checksum does not hold, where the front end requires it
  NoRequest,          // nothing awaited a reply: no request, or every reply came
  NotExamined,        // behind the one frame the head or single-frame search takes
  Late,               // arrived after the operation examined its bytes
  Incomplete,         // Noise: the start of a frame the buffer was emptied on
  BufferFull,         // Dropped: a chunk overflowed the receive buffer
  ChunkTooLong,       // Dropped: a chunk's bytes beyond the buffer's 256
};

struct TrafficRow {
  // A row keeps this many of its bytes: a frame whole; longer runs of noise
  // come as several rows, dropped bytes as their count and first bytes.
  static constexpr std::size_t kMaxBytes = 64;

  TrafficTime time{};
  TrafficKind kind = TrafficKind::Received;
  TrafficReason reason = TrafficReason::None;
  // The bytes the row stands for, and the first Kept().size() of them.
  std::uint32_t byteCount = 0;
  std::uint8_t keptCount = 0;
  std::array<std::uint8_t, kMaxBytes> bytes{};
  // Message rows: the message, and text that follows it (a failure's own
  // text); a row with detail alone shows the detail.
  std::optional<messages::Msg> message;
  std::string detail;

  std::span<const std::uint8_t> Kept() const { return std::span(bytes).first(keptCount); }
};

// The frame of a Sent or Received row of 29 bytes, else nothing.
std::optional<Frame> RowFrame(const TrafficRow& row);

// A received frame that the frame search of the operation in progress
// accepts (a restore acknowledgement that refuses is accepted too: its status
// says the rest).
bool IsAcceptedRow(const TrafficRow& row);

// The rows the "problems only" view keeps: noise, dropped bytes, a frame not
// sent, a received frame not accepted, refused (status) or with a checksum
// that does not hold, and every message but the success messages.
bool IsProblem(const TrafficRow& row);

}  // namespace protocol
