#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "cli/Output.h"
#include "cli/TraceLooks.h"
#include "protocol/ReplyWait.h"
#include "protocol/TrafficDecoder.h"

namespace cli {

// --trace for one port: every request, every chunk received and every
// outcome the operator is told, decoded into traffic rows that go to the
// port's output as soon as they are decided (protocol/TrafficDecoder.h). The
// CLI examines the bytes as they come, one request at a time, so it never
// reports an examination: a request's operation is complete once its reply
// is accepted. A station's repeated looks for a converter are folded
// (cli/TraceLooks.h). Does nothing when the output does not trace. Use on
// the port's thread.
class PortTrace {
 public:
  // `crc`: whether the port's replies must carry a checksum that holds.
  PortTrace(const Output& out, protocol::CrcCheck crc);
  ~PortTrace();
  PortTrace(const PortTrace&) = delete;
  PortTrace& operator=(const PortTrace&) = delete;

  // One request: the receive buffer emptied, then `frame` handed to the
  // port; `delivered` is what SendData said.
  void Request(std::span<const std::uint8_t> frame, bool delivered);
  void Received(std::span<const std::uint8_t> chunk);
  // What the operator is told of the line: a time-out, a refusal, the port
  // lost or not opened.
  void Outcome(std::string_view text);
  // The port closed: bytes held as the start of a frame become a row.
  void Closed();

  // A station's next look for a converter, and the end of its looks.
  void BeginLook();
  void EndLooks();

 private:
  const bool on_;
  const Output out_;
  RepeatedLooks looks_;
  protocol::TrafficDecoder decoder_;
};

}  // namespace cli
