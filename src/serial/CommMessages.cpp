#include "serial/CommMessages.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <cstring>
#include <new>
#include <utility>

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

// With the lock held. The event is made under the lock: event() takes the
// lock before it looks at the event, which orders the hand-over for thread
// checkers too (they do not see the locking inside Qt).
QEvent* CommNotifier::MarkWakePending() {
  if (FWakePending || FQueue.empty()) return nullptr;
  FWakePending = true;
  return new QEvent(WakeEventType());
}

bool CommNotifier::Post(CommMessage message, bool wake) {
  QEvent* event = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!Accepts(message)) return false;
    FQueue.push_back(std::move(message));
    ++FPosted;
    if (wake) event = MarkWakePending();
  }
  if (event) QCoreApplication::postEvent(this, event);
  return true;
}

bool CommNotifier::PostReceived(const uint8_t* data, uint32_t count, uint64_t connection,
                                bool wake) {
  if (count == 0 || count > kCommBlockBytes) return false;
  CommMessage message{COMM_MSG_RECEIVE_DATA, count, 0, nullptr, connection, true};
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FSpares.empty()) {
      message.Block = std::move(FSpares.back());
      FSpares.pop_back();
    }
  }
  if (!message.Block) message.Block.reset(new (std::nothrow) uint8_t[kCommBlockBytes + 1]);
  if (!message.Block) return false;
  std::memcpy(message.Block.get(), data, count);
  message.Block[count] = 0;
  return Post(std::move(message), wake);
}

void CommNotifier::Wake() {
  QEvent* event = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    event = MarkWakePending();
  }
  if (event) QCoreApplication::postEvent(this, event);
}

// After a handler failed: the wake-up that is still marked pending is the
// one being handled, so either post a fresh one for what is left or clear
// the mark, or no later notification would ever be delivered.
void CommNotifier::WakeAgainIfQueued() {
  QEvent* event = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FQueue.empty())
      FWakePending = false;
    else
      event = new QEvent(WakeEventType());
  }
  if (event) QCoreApplication::postEvent(this, event);
}

// A wake-up whatever the mark says, for a failure to raise from event().
void CommNotifier::WakeForDeferredFailure() {
  QEvent* event = nullptr;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FWakePending = true;
    event = new QEvent(WakeEventType());
  }
  QCoreApplication::postEvent(this, event);
}

// With the lock held.
void CommNotifier::KeepSpare(CommMessage& message) {
  if (message.SpareBlock && message.Block && FSpares.size() < kCommSpareBlocks)
    FSpares.push_back(std::move(message.Block));
}

bool CommNotifier::TakeNext(CommMessage& message) {
  std::lock_guard<std::mutex> lock(FMutex);
  KeepSpare(message);
  if (FQueue.empty()) {
    FWakePending = false;
    return false;
  }
  message = std::move(FQueue.front());
  FQueue.pop_front();
  return true;
}

// One at a time, so that a handler that runs a nested event loop cannot get
// later notifications ahead of earlier ones (a delivery started in there
// does nothing; this one goes on). A handler may destroy the component, and
// this object, on its way.
size_t CommNotifier::Deliver(bool deferFailure) {
  QPointer<CommNotifier> alive(this);
  FDelivering = true;
  size_t delivered = 0;
  CommMessage message;
  try {
    while (TakeNext(message)) {
      ++delivered;
      FOwner->HandleNotification(message);
      if (!alive) return delivered;
    }
  } catch (...) {
    if (!alive) throw;
    FDelivering = false;
    if (!deferFailure) {
      WakeAgainIfQueued();
      throw;
    }
    FDeferredFailure = std::current_exception();
    WakeForDeferredFailure();
    return delivered;
  }
  FDelivering = false;
  return delivered;
}

size_t CommNotifier::DeliverPending() {
  // A failure not yet raised comes first: the next event raises it and then
  // delivers the rest, in order.
  if (QThread::currentThread() != thread() || FDelivering || FDeferredFailure) return 0;
  return Deliver(true);
}

bool CommNotifier::event(QEvent* e) {
  { std::lock_guard<std::mutex> lock(FMutex); }
  if (e->type() != WakeEventType()) return QObject::event(e);
  // A nested event loop inside a handler: the delivery under way takes what
  // this wake-up is for.
  if (FDelivering) return true;
  if (FDeferredFailure) {
    const std::exception_ptr failure = std::exchange(FDeferredFailure, nullptr);
    WakeAgainIfQueued();
    std::rethrow_exception(failure);
  }
  Deliver(false);
  return true;
}
