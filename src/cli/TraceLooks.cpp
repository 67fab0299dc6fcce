#include "cli/TraceLooks.h"

namespace cli {

using protocol::TrafficKind;
using protocol::TrafficRow;
using protocol::TrafficTime;

RepeatedLooks::RepeatedLooks(Sink sink) : sink_(std::move(sink)) {}

RepeatedLooks::Mark RepeatedLooks::MarkOf(const TrafficRow& row) {
  Mark mark{row.kind, row.reason, 0, 0, false, row.message, row.detail};
  if (const std::optional<protocol::Frame> frame = protocol::RowFrame(row)) {
    mark.code = protocol::FrameCode(*frame);
    if (row.kind == TrafficKind::Received) mark.status = protocol::FrameStatus(*frame);
    mark.crcOk = protocol::FrameCrcMatches(*frame);
  }
  return mark;
}

void RepeatedLooks::Row(const TrafficRow& row) {
  if (!open_) {
    sink_(row);
    return;
  }
  // A run of noise is alike however the decoder cut it into rows.
  Mark mark = MarkOf(row);
  const bool moreOfTheSame =
      row.kind == TrafficKind::Noise && !marks_.empty() && marks_.back() == mark;
  if (!moreOfTheSame) marks_.push_back(std::move(mark));
  if (held_.size() < kMaxHeld)
    held_.push_back(row);
  else
    ++leftOut_;
}

void RepeatedLooks::Begin(TrafficTime time) {
  Close(time);
  open_ = true;
  begun_ = time;
}

void RepeatedLooks::End(TrafficTime time) {
  Close(time);
  TellRepeats(time);
  previous_.clear();
}

void RepeatedLooks::Close(TrafficTime time) {
  if (!open_) return;
  open_ = false;
  std::vector<TrafficRow> held = std::move(held_);
  std::vector<Mark> marks = std::move(marks_);
  const std::size_t leftOut = leftOut_;
  held_.clear();
  marks_.clear();
  leftOut_ = 0;
  if (marks.empty()) {
    TellRepeats(time);
    previous_.clear();
    return;
  }
  if (marks == previous_) {
    ++repeats_;
    if (time - lastTold_ >= kTellEvery) TellRepeats(time);
    return;
  }
  TellRepeats(begun_);
  for (const TrafficRow& row : held) sink_(row);
  if (leftOut > 0)
    TellText(held.back().time, std::to_string(leftOut) + " more rows of this look left out");
  previous_ = std::move(marks);
  lastTold_ = time;
}

void RepeatedLooks::TellRepeats(TrafficTime time) {
  if (repeats_ == 0) return;
  TellText(time, repeats_ == 1 ? std::string("1 more look like the one above, its rows left out")
                               : std::to_string(repeats_) +
                                     " more looks like the one above, their rows left out");
  repeats_ = 0;
  lastTold_ = time;
}

void RepeatedLooks::TellText(TrafficTime time, const std::string& text) {
  TrafficRow row;
  row.time = time;
  row.kind = TrafficKind::Message;
  row.detail = text;
  sink_(row);
}

}  // namespace cli
