#include "RequestAssembler.h"

#include <algorithm>

namespace convsim {

void RequestAssembler::Discard(std::size_t n, std::vector<AssemblerEvent>& out) {
  if (n == 0) return;
  // Adjacent discards are reported as one run.
  if (out.empty() || out.back().kind != AssemblerEvent::Kind::kDiscarded)
    out.push_back({AssemblerEvent::Kind::kDiscarded, {}, {}});
  auto& run = out.back().bytes;
  run.insert(run.end(), pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
}

void RequestAssembler::Feed(std::span<const std::uint8_t> bytes, std::vector<AssemblerEvent>& out) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  for (;;) {
    const auto start = std::find(pending_.begin(), pending_.end(), protocol::FRAME_START);
    Discard(static_cast<std::size_t>(start - pending_.begin()), out);
    if (pending_.size() < protocol::FRAME_LENGTH) return;

    protocol::Frame frame;
    std::copy_n(pending_.begin(), protocol::FRAME_LENGTH, frame.begin());
    if (frame[protocol::FRAME_OFS_END] != protocol::FRAME_END) {
      Discard(1, out);
      continue;
    }
    if (!protocol::FrameCrcMatches(frame)) {
      out.push_back({AssemblerEvent::Kind::kBadCrc, frame, {}});
      pending_.erase(pending_.begin());
      continue;
    }
    out.push_back({AssemblerEvent::Kind::kFrame, frame, {}});
    pending_.erase(pending_.begin(), pending_.begin() + protocol::FRAME_LENGTH);
  }
}

}  // namespace convsim
