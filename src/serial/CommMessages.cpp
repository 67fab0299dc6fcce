#include "serial/CommMessages.h"

#include <QCoreApplication>
#include <QPointer>
#include <cstring>
#include <new>

#include "serial/Comm.h"

TCommBlock MakeCommBlock(const uint8_t* data, uint32_t count) {
  // Every byte is written below: the copy, then the trailing 0.
  TCommBlock block(new (std::nothrow) uint8_t[size_t{count} + 1]);
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

TCommNotifier::TCommNotifier(TComm* owner) : owner_(owner) {}

bool TCommNotifier::Accepts(const TCommMessage& message) const {
  if (queue_.size() < kCommQueueLimit) return true;
  return message.Msg == COMM_MSG_REQUEST_HANGUP && queue_.size() == kCommQueueLimit;
}

bool TCommNotifier::Post(TCommMessage message) {
  QEvent* wake = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Accepts(message)) return false;
    queue_.push_back(std::move(message));
    ++posted_;
    if (!wakePending_) {
      wakePending_ = true;
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
void TCommNotifier::WakeAgainIfQueued() {
  QEvent* wake = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty())
      wakePending_ = false;
    else
      wake = new QEvent(WakeEventType());
  }
  if (wake) QCoreApplication::postEvent(this, wake);
}

bool TCommNotifier::TakeNext(TCommMessage& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) {
    wakePending_ = false;
    return false;
  }
  message = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

bool TCommNotifier::event(QEvent* e) {
  { std::lock_guard<std::mutex> lock(mutex_); }
  if (e->type() != WakeEventType()) return QObject::event(e);
  // One at a time, so that a handler that runs a nested event loop cannot
  // get later notifications ahead of earlier ones.
  // A handler may destroy the component (and this object) on its way.
  QPointer<TCommNotifier> alive(this);
  TCommMessage message;
  try {
    while (alive && TakeNext(message)) {
      owner_->HandleNotification(message);
      message = {};
    }
  } catch (...) {
    if (alive) WakeAgainIfQueued();
    throw;
  }
  return true;
}

bool PostCommMessage(TCommNotifier* window, uint32_t msg, uintptr_t wParam, uintptr_t lParam,
                     TCommBlock block) {
  if (window == nullptr) return false;
  return window->Post({msg, wParam, lParam, std::move(block)});
}
