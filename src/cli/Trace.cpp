#include "cli/Trace.h"

namespace cli {

PortTrace::PortTrace(const Output& out, protocol::CrcCheck crc)
    : on_(out.Tracing()),
      out_(out),
      looks_([this](const protocol::TrafficRow& row) { out_.TraceRow(row); }),
      decoder_([this](const protocol::TrafficRow& row) { looks_.Row(row); }, crc) {}

PortTrace::~PortTrace() {
  Closed();
  EndLooks();
}

void PortTrace::Request(std::span<const std::uint8_t> frame, bool delivered) {
  if (!on_) return;
  const protocol::TrafficTime now = TraceNow();
  decoder_.OnCleared(now);
  decoder_.OnSent(now, frame, delivered);
}

void PortTrace::Received(std::span<const std::uint8_t> chunk) {
  if (on_) decoder_.OnReceived(TraceNow(), chunk);
}

void PortTrace::Outcome(std::string_view text) {
  if (on_) decoder_.OnMessage(TraceNow(), std::nullopt, text);
}

void PortTrace::Closed() {
  if (on_) decoder_.Flush(TraceNow());
}

void PortTrace::BeginLook() {
  if (on_) looks_.Begin(TraceNow());
}

void PortTrace::EndLooks() {
  if (on_) looks_.End(TraceNow());
}

}  // namespace cli
