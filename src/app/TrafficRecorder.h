#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "messages/Messages.h"
#include "protocol/TrafficDecoder.h"
#include "protocol/TrafficStore.h"

namespace app {

// What the main window sends and receives on the serial line, and the
// messages its operations show, decoded into traffic rows as it happens and
// kept in a bounded store: the last rows, 10,000 by default. Recording does no
// widget work; a traffic window, while one is open, listens for new rows.
// Not thread-safe: the window's thread reports every event.
class TrafficRecorder {
 public:
  // The time of an event: local time since 1970 in microseconds, so that
  // the clock column shows the time of day.
  using Clock = std::function<protocol::TrafficTime()>;
  static protocol::TrafficTime LocalClock();

  explicit TrafficRecorder(std::size_t capacity = protocol::TrafficStore::kDefaultCapacity,
                           Clock clock = LocalClock);
  TrafficRecorder(const TrafficRecorder&) = delete;
  TrafficRecorder& operator=(const TrafficRecorder&) = delete;

  // The events in the order the window meets them (protocol/TrafficDecoder.h).
  // The window emptied its receive buffer: an operation starts.
  void Cleared();
  // `bytes` were handed to the port; `delivered` is SendData's result.
  void Sent(std::span<const std::uint8_t> bytes, bool delivered);
  // A received chunk, before it goes into the receive buffer.
  void Received(std::span<const std::uint8_t> chunk);
  // The collection window expired: the received bytes were examined.
  void Examined();
  // A message the operator is shown, or a failure's own text alone.
  void Message(std::optional<messages::Msg> message, const QString& detail = QString());
  // The port closed: bytes held back as the start of a frame become a row.
  void PortClosed();

  // Empties the store; recording goes on.
  void Clear();
  const protocol::TrafficStore& Store() const { return store_; }

  // Called once after each event that added rows (an empty function: no
  // one listens). The listener must not report events itself.
  void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  // Runs one event of the decoder and tells the listener if rows came.
  template <typename Event>
  void Record(Event&& event);

  protocol::TrafficStore store_;
  protocol::TrafficDecoder decoder_;
  Clock clock_;
  std::function<void()> listener_;
};

}  // namespace app
