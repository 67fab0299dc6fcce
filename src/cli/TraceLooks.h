#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "messages/Messages.h"
#include "protocol/TrafficRow.h"

namespace cli {

// A --wait station looks for a converter again and again: a version query
// every 1.5 s on a silent or babbling adapter, every 0.5 s while a unit
// stays plugged, for hours. Traced row by row that would bury the rows that
// matter, so the rows of each look are held until the look ends, and a look
// whose rows repeat those of the look before (the same kinds, commands,
// statuses, checksum states, reasons and messages; times, bytes and byte
// counts aside) is counted instead of passed on. The count goes on as one
// message row ("12 more looks like the one above, their rows left out")
// when the looks change, when they end, and at least once a minute while
// they repeat. A look passes on at most kMaxHeld of its rows and says how
// many more it had.
//
// Outside a look, rows pass straight through. A look without rows (the port
// was not there) is news of its own: the look after it is passed on.
class RepeatedLooks {
 public:
  static constexpr std::size_t kMaxHeld = 64;
  static constexpr protocol::TrafficTime kTellEvery = std::chrono::seconds(60);

  using Sink = std::function<void(const protocol::TrafficRow&)>;
  explicit RepeatedLooks(Sink sink);

  void Row(const protocol::TrafficRow& row);
  // Ends the look open, if any, and opens the next.
  void Begin(protocol::TrafficTime time);
  // Ends the look open and the series: an untold count is told, and the
  // next look is passed on whatever it holds.
  void End(protocol::TrafficTime time);

 private:
  // What makes two rows alike.
  struct Mark {
    protocol::TrafficKind kind;
    protocol::TrafficReason reason;
    std::uint16_t code;
    std::uint8_t status;
    bool crcOk;
    std::optional<messages::Msg> message;
    std::string detail;
    bool operator==(const Mark&) const = default;
  };
  static Mark MarkOf(const protocol::TrafficRow& row);

  void Close(protocol::TrafficTime time);
  void TellRepeats(protocol::TrafficTime time);
  void TellText(protocol::TrafficTime time, const std::string& text);

  Sink sink_;
  bool open_ = false;
  protocol::TrafficTime begun_{};
  std::vector<protocol::TrafficRow> held_;
  std::size_t leftOut_ = 0;
  std::vector<Mark> marks_;
  std::vector<Mark> previous_;  // of the last look passed on
  std::size_t repeats_ = 0;     // looks like it since, untold
  protocol::TrafficTime lastTold_{};
};

}  // namespace cli
