#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "messages/Messages.h"
#include "protocol/Frame.h"
#include "protocol/ReplyWait.h"
#include "protocol/RxBuffer.h"
#include "protocol/TrafficRow.h"

// Turns what a front end sends and receives into traffic rows, as it
// happens, judging every received frame as the front end's own frame search
// will (protocol/FrameSearch.h). The front end reports four events, in the
// order they happen on its thread:
//
//   OnCleared   it emptied its receive buffer (ReceiveBuffer::ClearRxBuffer),
//               which starts an operation;
//   OnSent      it handed a frame to the port;
//   OnReceived  a chunk arrived, before it goes into the receive buffer
//               (ReceiveBuffer::AppendReceived);
//   OnExamined  it examined its buffer for replies (the collection window
//               expired); bytes after that are never looked at. A front end
//               that examines the bytes as they come, one request at a time
//               (quillon-cli), does not report it: its operation is complete
//               once the reply to its request is accepted.
//
// The last frame sent picks the search, as the operation it belongs to does:
// CMD_RESTORE_DEFAULT the head of the buffer, CMD_GET_VERSION the single
// frame, a get command the frame stream of a read, a set command the frame
// stream of a write. Every frame sent to a stream since the clear awaits its
// reply; once each has come, the operation is complete and later frames are
// replies to no request.
//
// Row by row:
// - Sent: one row per frame; a frame the port refused says so.
// - Received: one row per frame the search delimits (FRAME_START, 28 bytes,
//   FRAME_END; at the head of the buffer, for the restore acknowledgement,
//   whatever its 29th byte). A start byte whose 29th byte is wrong becomes a
//   frame row with the reason WrongEnd when its command code is known and no
//   other start byte lies among its 28 bytes (the search then drops all 29);
//   otherwise it is one byte of noise, as the search takes it. The reason
//   names the first test the search fails; TrafficReason::None means the
//   search hands the frame to the operation. The checksum is not among the
//   tests (the row only shows whether it holds), unless the front end
//   requires it (CrcCheck::Required, protocol/ReplyWait.h): then a reply or
//   refusal whose checksum does not hold is BadCrc, taken as never received,
//   and the search goes on behind it.
// - Noise: a run of bytes that were no frame, in as many rows of at most
//   TrafficRow::kMaxBytes as it needs. Noise is written when the next frame
//   row is, at the end of a chunk that leaves nothing undecided, and before a
//   frame sent or a message; so a run split by a chunk boundary in front of
//   an undecided start byte stays one row.
// - A frame split over chunks becomes one row when its last byte arrives.
//   Bytes that may still begin a frame (at most 28) are held until they do
//   or cannot; a clear or Flush writes them as an Incomplete noise row.
// - The receive buffer's overflow rule is applied to a count of the bytes
//   the front end holds: when a chunk empties the buffer, a Dropped row
//   (BufferFull) counts the bytes held and keeps those that had not become
//   a row yet (the start of a frame); the frames among them never reach the
//   examination, and the search starts again at the new head with every
//   request awaiting its reply. Bytes of a chunk beyond 256 give a Dropped row
//   (ChunkTooLong).
//
// A row's time is the time of the event that decided it (for a frame, the
// chunk of its last byte), so rows come in the order of their times.
//
// Verdicts assume what both front ends do: an operation clears the buffer,
// sends all its requests, then receives; they are exact for every frame that
// is complete when the buffer is examined, as long as the buffer did not
// overflow (that is then a row of its own).
//
// The decoder holds at most 28 undecided bytes and one row of noise, and
// allocates nothing per frame or chunk. Not thread-safe: one thread reports
// the events.
namespace protocol {

class TrafficDecoder {
 public:
  using RowSink = std::function<void(const TrafficRow&)>;

  // Every row goes to `sink` as soon as it is decided. The sink must not
  // call back into the decoder. `crc`: whether the front end requires a
  // reply's checksum to hold.
  explicit TrafficDecoder(RowSink sink, CrcCheck crc = CrcCheck::Ignored);

  // The front end emptied its receive buffer. Writes held bytes as an
  // Incomplete noise row and forgets the operation: until the next frame
  // sent, received frames are replies to no request.
  void OnCleared(TrafficTime time);

  // `bytes` were handed to the port (29 for a frame); `delivered` is false
  // when the port refused them. A refused frame still picks the search, as
  // the operation then waits for its reply all the same.
  void OnSent(TrafficTime time, std::span<const std::uint8_t> bytes, bool delivered = true);

  // A chunk of received bytes, as delivered to the front end.
  void OnReceived(TrafficTime time, std::span<const std::uint8_t> chunk);

  // The front end examined its buffer: frames completed after this are Late
  // until the next clear.
  void OnExamined();

  // A message shown to the operator: `message` with `detail` after it, or
  // `detail` alone.
  void OnMessage(TrafficTime time, std::optional<messages::Msg> message,
                 std::string_view detail = {});

  // No more bytes will complete what is held (the port closed, the program
  // ends): writes held noise and held bytes (Incomplete).
  void Flush(TrafficTime time);

 private:
  enum class Search : std::uint8_t { None, HeadOfBuffer, SingleFrame, Stream };

  // The command codes sent to a stream, and those still awaiting a reply.
  // Capacity beyond any operation's three requests; more are not tracked.
  struct CodeList {
    std::array<std::uint16_t, 8> codes{};
    std::size_t count = 0;
    void Add(std::uint16_t code);
    void Remove(std::uint16_t code);
  };

  void Expect(std::uint16_t sentCode);
  void DropHeld(TrafficTime time);
  void Decode(TrafficTime time, std::span<const std::uint8_t> bytes, std::size_t bufferOffset);
  TrafficReason Judge(const Frame& frame, bool endByteHolds);
  TrafficReason JudgeBySearch(const Frame& frame, bool endByteHolds);
  TrafficReason JudgeHead(const Frame& frame) const;
  bool OperationComplete() const;

  void AddNoise(TrafficTime time, std::span<const std::uint8_t> bytes);
  void WriteNoise(TrafficTime time);
  void WriteHeld(TrafficTime time);
  void WriteBytes(TrafficTime time, TrafficKind kind, TrafficReason reason,
                  std::span<const std::uint8_t> kept, std::size_t byteCount);

  RowSink sink_;
  CrcCheck crc_;
  TrafficRow row_;  // reused for every row written

  Search search_ = Search::None;
  std::span<const std::uint16_t> streamCodes_;
  CodeList sent_;
  CodeList pending_;
  bool candidateTaken_ = false;  // the head or single-frame search had its one try
  bool examined_ = false;
  std::size_t buffered_ = 0;  // bytes the front end's receive buffer holds

  std::array<std::uint8_t, FRAME_LENGTH - 1> held_{};
  std::size_t heldCount_ = 0;
  std::array<std::uint8_t, TrafficRow::kMaxBytes> noise_{};
  std::size_t noiseCount_ = 0;
  std::array<std::uint8_t, FRAME_LENGTH - 1 + ReceiveBuffer::kCapacity> work_{};
};

}  // namespace protocol
