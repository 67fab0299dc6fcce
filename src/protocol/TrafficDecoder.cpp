#include "protocol/TrafficDecoder.h"

#include <algorithm>

#include "protocol/FrameSearch.h"

namespace protocol {
namespace {

bool Contains(std::span<const std::uint16_t> codes, std::uint16_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

Frame CopyFrame(std::span<const std::uint8_t> bytes) {
  Frame frame;
  std::copy_n(bytes.begin(), FRAME_LENGTH, frame.begin());
  return frame;
}

// A start byte whose 29th byte is wrong that the stream drops with all its
// bytes: no other start byte among them. Shown as a frame when its code is
// one of ours; otherwise it reads better as noise.
bool LooksLikeFrameWithWrongEnd(std::span<const std::uint8_t> candidate) {
  const auto inner = candidate.subspan(1, FRAME_LENGTH - 1);
  if (std::find(inner.begin(), inner.end(), FRAME_START) != inner.end()) return false;
  return CommandName(FrameCode(CopyFrame(candidate))) != nullptr;
}

// The first test of the version search that `frame` fails, in its order.
TrafficReason WhyNotVersionReply(const Frame& frame) {
  if (frame[FRAME_OFS_ADDR] != FRAME_ADDR) return TrafficReason::WrongAddress;
  if (FrameCode(frame) != CMD_GET_VERSION) return TrafficReason::UnexpectedCommand;
  if (FrameStatus(frame) != FRAME_ACK) return TrafficReason::Refused;
  return TrafficReason::WrongLength;
}

// The first test of the frame stream that `frame` fails, in its order.
TrafficReason WhyNotStreamReply(const Frame& frame, std::span<const std::uint16_t> codes) {
  if (frame[FRAME_OFS_ADDR] != FRAME_ADDR) return TrafficReason::WrongAddress;
  if (!Contains(codes, FrameCode(frame))) return TrafficReason::UnexpectedCommand;
  if (FrameStatus(frame) != FRAME_ACK) return TrafficReason::Refused;
  return TrafficReason::WrongLength;
}

}  // namespace

void TrafficDecoder::CodeList::Add(std::uint16_t code) {
  if (count < codes.size()) codes[count++] = code;
}

void TrafficDecoder::CodeList::Remove(std::uint16_t code) {
  const auto end = codes.begin() + static_cast<std::ptrdiff_t>(count);
  const auto it = std::find(codes.begin(), end, code);
  if (it == end) return;
  std::copy(it + 1, end, it);
  --count;
}

TrafficDecoder::TrafficDecoder(RowSink sink, CrcCheck crc) : sink_(std::move(sink)), crc_(crc) {}

// ---- events ----

void TrafficDecoder::OnCleared(TrafficTime time) {
  WriteHeld(time);
  search_ = Search::None;
  streamCodes_ = {};
  sent_ = {};
  pending_ = {};
  candidateTaken_ = false;
  examined_ = false;
  buffered_ = 0;
}

void TrafficDecoder::OnSent(TrafficTime time, std::span<const std::uint8_t> bytes, bool delivered) {
  WriteNoise(time);
  WriteBytes(time, TrafficKind::Sent, delivered ? TrafficReason::None : TrafficReason::NotSent,
             bytes.first(std::min(bytes.size(), TrafficRow::kMaxBytes)), bytes.size());
  if (bytes.size() == FRAME_LENGTH) Expect(FrameCode(CopyFrame(bytes)));
}

void TrafficDecoder::OnReceived(TrafficTime time, std::span<const std::uint8_t> chunk) {
  if (chunk.empty()) return;
  if (buffered_ + chunk.size() > ReceiveBuffer::kClearThreshold) DropHeld(time);
  std::span<const std::uint8_t> beyond;
  if (chunk.size() > ReceiveBuffer::kCapacity) {
    beyond = chunk.subspan(ReceiveBuffer::kCapacity);
    chunk = chunk.first(ReceiveBuffer::kCapacity);
  }
  // The held bytes are the buffer's last ones; the chunk follows them.
  const std::size_t offset = buffered_ - heldCount_;
  buffered_ += chunk.size();
  std::copy_n(held_.begin(), heldCount_, work_.begin());
  std::copy(chunk.begin(), chunk.end(), work_.begin() + static_cast<std::ptrdiff_t>(heldCount_));
  const std::size_t count = heldCount_ + chunk.size();
  heldCount_ = 0;
  Decode(time, std::span(work_).first(count), offset);
  if (!beyond.empty()) {
    WriteNoise(time);
    WriteBytes(time, TrafficKind::Dropped, TrafficReason::ChunkTooLong,
               beyond.first(std::min(beyond.size(), TrafficRow::kMaxBytes)), beyond.size());
  }
  if (heldCount_ == 0) WriteNoise(time);
}

void TrafficDecoder::OnExamined() {
  examined_ = true;
}

void TrafficDecoder::OnMessage(TrafficTime time, std::optional<messages::Msg> message,
                               std::string_view detail) {
  WriteNoise(time);
  row_.time = time;
  row_.kind = TrafficKind::Message;
  row_.reason = TrafficReason::None;
  row_.byteCount = 0;
  row_.keptCount = 0;
  row_.message = message;
  row_.detail.assign(detail);
  sink_(row_);
  row_.message.reset();
  row_.detail.clear();
}

void TrafficDecoder::Flush(TrafficTime time) {
  WriteHeld(time);
}

// ---- the operation's search ----

void TrafficDecoder::Expect(std::uint16_t sentCode) {
  Search search = Search::None;
  std::span<const std::uint16_t> codes;
  if (sentCode == CMD_RESTORE_DEFAULT) {
    search = Search::HeadOfBuffer;
  } else if (sentCode == CMD_GET_VERSION) {
    search = Search::SingleFrame;
  } else if (Contains(kReadReplyCodes, sentCode)) {
    search = Search::Stream;
    codes = kReadReplyCodes;
  } else if (Contains(kWriteReplyCodes, sentCode)) {
    search = Search::Stream;
    codes = kWriteReplyCodes;
  }
  if (search != search_ || codes.data() != streamCodes_.data()) {
    search_ = search;
    streamCodes_ = codes;
    sent_ = {};
    pending_ = {};
    candidateTaken_ = false;
  }
  if (search_ == Search::Stream) {
    sent_.Add(sentCode);
    pending_.Add(sentCode);
  }
}

bool TrafficDecoder::OperationComplete() const {
  return search_ == Search::Stream && sent_.count > 0 && pending_.count == 0;
}

// The receive buffer empties itself before a chunk that would overflow it:
// what it held never reaches the examination, and the search begins again.
void TrafficDecoder::DropHeld(TrafficTime time) {
  WriteNoise(time);
  if (buffered_ > 0)
    WriteBytes(time, TrafficKind::Dropped, TrafficReason::BufferFull,
               std::span(held_).first(heldCount_), buffered_);
  heldCount_ = 0;
  buffered_ = 0;
  pending_ = sent_;
  candidateTaken_ = false;
}

// `bytes` begin at `bufferOffset` in the front end's receive buffer.
void TrafficDecoder::Decode(TrafficTime time, std::span<const std::uint8_t> bytes,
                            std::size_t bufferOffset) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto rest = bytes.subspan(pos);
    if (search_ == Search::HeadOfBuffer && !candidateTaken_ && bufferOffset + pos == 0) {
      if (rest[0] != FRAME_START) {
        candidateTaken_ = true;  // the head is no acknowledgement
        continue;
      }
      const std::optional<Frame> head = SearchHeadFrame(rest);
      if (!head) break;
      candidateTaken_ = true;
      WriteBytes(time, TrafficKind::Received, JudgeHead(*head), *head, FRAME_LENGTH);
      pos += FRAME_LENGTH;
      continue;
    }
    const auto start =
        static_cast<std::size_t>(std::find(rest.begin(), rest.end(), FRAME_START) - rest.begin());
    AddNoise(time, rest.first(start));
    pos += start;
    const auto candidate = bytes.subspan(pos);
    if (candidate.size() < FRAME_LENGTH) break;
    if (const std::optional<Frame> frame = SearchSingleFrame(candidate)) {
      WriteBytes(time, TrafficKind::Received, Judge(*frame, true), *frame, FRAME_LENGTH);
      pos += FRAME_LENGTH;
    } else if (LooksLikeFrameWithWrongEnd(candidate)) {
      const Frame frame = CopyFrame(candidate);
      WriteBytes(time, TrafficKind::Received, Judge(frame, false), frame, FRAME_LENGTH);
      pos += FRAME_LENGTH;
    } else {
      // The search moves one byte on; the version search ends its pass.
      if (search_ == Search::SingleFrame && !examined_) candidateTaken_ = true;
      AddNoise(time, candidate.first(1));
      ++pos;
    }
  }
  const auto undecided = bytes.subspan(pos);
  std::copy(undecided.begin(), undecided.end(), held_.begin());
  heldCount_ = undecided.size();
}

TrafficReason TrafficDecoder::Judge(const Frame& frame, bool endByteHolds) {
  const bool candidateWasTaken = candidateTaken_;
  const TrafficReason reason = JudgeBySearch(frame, endByteHolds);
  const bool dropsForCrc = crc_ == CrcCheck::Required && !FrameCrcMatches(frame) &&
                           (reason == TrafficReason::None || reason == TrafficReason::Refused);
  if (!dropsForCrc) return reason;
  // As never received: the search is where it was before this frame.
  candidateTaken_ = candidateWasTaken;
  if (reason == TrafficReason::None && search_ == Search::Stream) pending_.Add(FrameCode(frame));
  return TrafficReason::BadCrc;
}

TrafficReason TrafficDecoder::JudgeBySearch(const Frame& frame, bool endByteHolds) {
  if (examined_) return TrafficReason::Late;
  switch (search_) {
    case Search::None:
      return TrafficReason::NoRequest;
    case Search::HeadOfBuffer:
      return TrafficReason::NotExamined;
    case Search::SingleFrame:
      if (candidateTaken_) return TrafficReason::NotExamined;
      candidateTaken_ = true;
      if (!endByteHolds) return TrafficReason::WrongEnd;
      return IsVersionReply(frame) ? TrafficReason::None : WhyNotVersionReply(frame);
    case Search::Stream:
      if (OperationComplete()) return TrafficReason::NoRequest;
      if (!endByteHolds) return TrafficReason::WrongEnd;
      if (!IsAcceptedStreamReply(frame, streamCodes_))
        return WhyNotStreamReply(frame, streamCodes_);
      pending_.Remove(FrameCode(frame));
      return TrafficReason::None;
  }
  return TrafficReason::NoRequest;
}

TrafficReason TrafficDecoder::JudgeHead(const Frame& frame) const {
  if (examined_) return TrafficReason::Late;
  if (IsRestoreDefaultReply(frame))
    return crc_ == CrcCheck::Required && !FrameCrcMatches(frame) ? TrafficReason::BadCrc
                                                                 : TrafficReason::None;
  if (frame[FRAME_OFS_ADDR] != FRAME_ADDR) return TrafficReason::WrongAddress;
  return TrafficReason::UnexpectedCommand;
}

// ---- writing rows ----

void TrafficDecoder::AddNoise(TrafficTime time, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t byte : bytes) {
    if (noiseCount_ == noise_.size()) WriteNoise(time);
    noise_[noiseCount_++] = byte;
  }
}

void TrafficDecoder::WriteNoise(TrafficTime time) {
  if (noiseCount_ == 0) return;
  const std::size_t count = noiseCount_;
  noiseCount_ = 0;
  WriteBytes(time, TrafficKind::Noise, TrafficReason::None, std::span(noise_).first(count), count);
}

void TrafficDecoder::WriteHeld(TrafficTime time) {
  WriteNoise(time);
  if (heldCount_ == 0) return;
  const std::size_t count = heldCount_;
  heldCount_ = 0;
  WriteBytes(time, TrafficKind::Noise, TrafficReason::Incomplete, std::span(held_).first(count),
             count);
}

void TrafficDecoder::WriteBytes(TrafficTime time, TrafficKind kind, TrafficReason reason,
                                std::span<const std::uint8_t> kept, std::size_t byteCount) {
  if (kind != TrafficKind::Noise) WriteNoise(time);
  row_.time = time;
  row_.kind = kind;
  row_.reason = reason;
  row_.byteCount = static_cast<std::uint32_t>(std::min<std::size_t>(byteCount, UINT32_MAX));
  row_.keptCount = static_cast<std::uint8_t>(kept.size());
  std::copy(kept.begin(), kept.end(), row_.bytes.begin());
  sink_(row_);
}

}  // namespace protocol
