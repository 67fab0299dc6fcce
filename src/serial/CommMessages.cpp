#include "serial/CommMessages.h"

#include <QCoreApplication>
#include <QPointer>
#include <cstring>
#include <new>

#include "serial/Comm.h"

CommBlock MakeCommBlock(const uint8_t* data, uint32_t count) {
  // Every byte is written below: the copy, then the trailing 0.
  CommBlock block(new (std::nothrow) uint8_t[size_t{count} + 1]);
  if (!block) return block;
  if (count > 0) std::memcpy(block.get(), data, count);
  block[count] = 0;
  return block;
}

namespace {

QEvent::Type WakeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

CommNotifier::CommNotifier(TComm* owner) : FOwner(owner) {}

bool CommNotifier::Accepts(const CommMessage& message) const {
  if (FQueue.size() < kCommQueueLimit) return true;
  return message.Msg == COMM_MSG_REQUEST_HANGUP && FQueue.size() == kCommQueueLimit;
}

bool CommNotifier::Post(CommMessage message) {
  QEvent* wake = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!Accepts(message)) return false;
    FQueue.push_back(std::move(message));
    ++FPosted;
    if (!FWakePending) {
      FWakePending = true;
      // Made under the lock: event() takes the lock before it looks at the
      // event, which orders the hand-over for thread checkers too (they do
      // not see the locking inside Qt).
      wake = new QEvent(WakeEventType());
    }
  }
  if (wake) QCoreApplication::postEvent(this, wake);
  return true;
}

// After a handler failed: the wake-up that is still marked pending is the
// one being handled, so either post a fresh one for what is left or clear
// the mark, or no later notification would ever be delivered.
void CommNotifier::WakeAgainIfQueued() {
  QEvent* wake = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQueue.empty())
      FWakePending = false;
    else
      wake = new QEvent(WakeEventType());
  }
  if (wake) QCoreApplication::postEvent(this, wake);
}

bool CommNotifier::TakeNext(CommMessage& message) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FQueue.empty()) {
    FWakePending = false;
    return false;
  }
  message = std::move(FQueue.front());
  FQueue.pop_front();
  return true;
}

bool CommNotifier::event(QEvent* e) {
  { std::lock_guard<std::mutex> lock(FMutex); }
  if (e->type() != WakeEventType()) return QObject::event(e);
  // One at a time, so that a handler that runs a nested event loop cannot
  // get later notifications ahead of earlier ones.
  // A handler may destroy the component (and this object) on its way.
  QPointer<CommNotifier> alive(this);
  CommMessage message;
  try {
    while (alive && TakeNext(message)) {
      FOwner->HandleNotification(message);
      message = {};
    }
  } catch (...) {
    if (alive) WakeAgainIfQueued();
    throw;
  }
  return true;
}
