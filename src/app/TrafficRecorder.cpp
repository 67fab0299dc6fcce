#include "app/TrafficRecorder.h"

#include <QDateTime>
#include <chrono>

namespace app {

using protocol::TrafficTime;

TrafficTime TrafficRecorder::LocalClock() {
  const auto sinceEpoch =
      std::chrono::duration_cast<TrafficTime>(std::chrono::system_clock::now().time_since_epoch());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
  // The offset of that moment, summer time included.
  const int offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
  return sinceEpoch + std::chrono::seconds(offset);
}

TrafficRecorder::TrafficRecorder(std::size_t capacity, Clock clock)
    : store_(capacity),
      decoder_([this](const protocol::TrafficRow& row) { store_.Append(row); }),
      clock_(std::move(clock)) {}

template <typename Event>
void TrafficRecorder::Record(Event&& event) {
  const std::uint64_t before = store_.Appended();
  event();
  if (store_.Appended() != before && listener_) listener_();
}

void TrafficRecorder::Cleared() {
  Record([&] { decoder_.OnCleared(clock_()); });
}

void TrafficRecorder::Sent(std::span<const std::uint8_t> bytes, bool delivered) {
  Record([&] { decoder_.OnSent(clock_(), bytes, delivered); });
}

void TrafficRecorder::Received(std::span<const std::uint8_t> chunk) {
  Record([&] { decoder_.OnReceived(clock_(), chunk); });
}

void TrafficRecorder::Examined() {
  decoder_.OnExamined();
}

void TrafficRecorder::Message(std::optional<messages::Msg> message, const QString& detail) {
  Record([&] { decoder_.OnMessage(clock_(), message, detail.toStdString()); });
}

void TrafficRecorder::PortClosed() {
  Record([&] { decoder_.Flush(clock_()); });
}

void TrafficRecorder::Clear() {
  store_.Clear();
}

}  // namespace app
