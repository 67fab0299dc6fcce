#include "protocol/TrafficRow.h"

#include <algorithm>

namespace protocol {
namespace {

bool IsSuccessMessage(messages::Msg message) {
  using messages::Msg;
  return message == Msg::ReadOk || message == Msg::WriteOk || message == Msg::SaveOk;
}

bool IsFrameRow(const TrafficRow& row) {
  return (row.kind == TrafficKind::Sent || row.kind == TrafficKind::Received) &&
         row.byteCount == FRAME_LENGTH && row.keptCount == FRAME_LENGTH;
}

}  // namespace

std::optional<Frame> RowFrame(const TrafficRow& row) {
  if (!IsFrameRow(row)) return std::nullopt;
  Frame frame;
  std::copy_n(row.bytes.begin(), FRAME_LENGTH, frame.begin());
  return frame;
}

bool IsAcceptedRow(const TrafficRow& row) {
  return row.kind == TrafficKind::Received && row.reason == TrafficReason::None;
}

bool IsProblem(const TrafficRow& row) {
  switch (row.kind) {
    case TrafficKind::Sent:
      return row.reason != TrafficReason::None;
    case TrafficKind::Received: {
      if (row.reason != TrafficReason::None) return true;
      const std::optional<Frame> frame = RowFrame(row);
      return !frame || FrameStatus(*frame) != FRAME_ACK || !FrameCrcMatches(*frame);
    }
    case TrafficKind::Noise:
    case TrafficKind::Dropped:
      return true;
    case TrafficKind::Message:
      return !row.message || !IsSuccessMessage(*row.message);
  }
  return true;
}

}  // namespace protocol
