#pragma once

#include <QObject>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

class TComm;

// Message numbers between the component's threads (WM_USER is 0x400).
// To the write thread's own queue:
inline constexpr uint32_t COMM_MSG_WRITE_DATA = 0x401;
// To the notification object:
inline constexpr uint32_t COMM_MSG_RECEIVE_DATA = 0x401;
inline constexpr uint32_t COMM_MSG_RECEIVE_ERROR = 0x402;
inline constexpr uint32_t COMM_MSG_REQUEST_HANGUP = 0x403;
inline constexpr uint32_t COMM_MSG_MODEM_STATE = 0x404;
inline constexpr uint32_t COMM_MSG_SEND_DATA_EMPTY = 0x405;

// Messages a queue between the component's threads holds at most, as the
// system's message queues refuse a post beyond 10,000 waiting messages. A
// refused post is a failed post: a send returns false, a refused
// notification requests a hang-up.
inline constexpr size_t kCommQueueLimit = 10000;

// A block of bytes handed from one thread to another: n data bytes and one
// trailing 0, zero-filled. Whoever holds the pointer owns the block, so a
// block is freed on every path, delivered or not.
using CommBlock = std::unique_ptr<uint8_t[]>;

// A zero-filled block of count + 1 bytes with a copy of `data`; null when
// memory runs out.
CommBlock MakeCommBlock(const uint8_t* data, uint32_t count);

// Bytes one received block carries at most.
inline constexpr uint32_t kCommBlockBytes = 1024;
// Delivered received blocks the notification object keeps for reuse.
inline constexpr size_t kCommSpareBlocks = 64;

// One notification in flight to the notification object; it owns its block.
struct CommMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  uintptr_t LParam = 0;
  CommBlock Block;
  // The open of the port whose threads posted it, so that what one
  // connection left queued never reaches the next.
  uint64_t Connection = 0;
  // The block is one of the notification object's own (kCommBlockBytes + 1
  // bytes), which goes back to its spares once delivered.
  bool SpareBlock = false;
};

// The hidden notification object: it lives on the thread that created the
// component, the worker threads post to it, and it raises the component's
// events there, one at a time in the order the notifications were posted.
// Notifications wait in the object's own queue; one Qt event wakes it for
// all that arrive while it is busy, so a fast stream costs one wake-up per
// batch rather than per block. A poster may also queue without waking and
// wake later for all it queued (Wake). Whatever is still queued when the
// object goes is freed with it.
//
// At most kCommQueueLimit notifications wait; beyond that a post is refused,
// except for one hang-up request, so that the request a refusal leads to
// still reaches the owner. A handler that throws lets its failure go on to
// the application's handler; the notifications after it are still delivered.
class CommNotifier : public QObject {
 public:
  explicit CommNotifier(TComm* owner);

  // Queues a notification (any thread) and, with `wake`, wakes the object
  // for it and for all queued before it; false when the queue is full (the
  // message and its block are freed then).
  bool Post(CommMessage message, bool wake = true);
  // Queues `count` (1..kCommBlockBytes) received bytes as
  // COMM_MSG_RECEIVE_DATA, copied into a block of the object's own: one
  // delivered earlier when there is one, so that a stream does not allocate
  // a block on one thread and free it on another for every 1024 bytes. False
  // when the queue is full or memory runs out.
  bool PostReceived(const uint8_t* data, uint32_t count, uint64_t connection, bool wake = true);
  // Wakes the object for what was queued without waking it (any thread).
  void Wake();
  // Delivers now, on the calling thread, what is queued so far, with the
  // same guards as a wake-up: in order, each once, the handler free to
  // destroy the component. Does nothing on any other thread than the
  // object's, nor inside a delivery further up the stack (that one goes on
  // with the rest). A handler that throws ends the call quietly: its failure
  // is raised from the object's next event, so that it reaches the
  // application's handler as it would have, and the rest follows from there.
  // Returns the number taken from the queue (a failed one included).
  size_t DeliverPending();
  // Notifications accepted by this object so far.
  uint64_t Posted() const { return FPosted; }

 protected:
  bool event(QEvent* e) override;

 private:
  size_t Deliver(bool deferFailure);
  // Takes the next message into `message`, keeping the block of the one it
  // held (just delivered) as a spare when it is one of the object's own.
  bool TakeNext(CommMessage& message);
  void KeepSpare(CommMessage& message);
  bool Accepts(const CommMessage& message) const;
  QEvent* MarkWakePending();
  void WakeAgainIfQueued();
  void WakeForDeferredFailure();

  TComm* FOwner;
  std::mutex FMutex;
  std::deque<CommMessage> FQueue;
  std::vector<CommBlock> FSpares;
  bool FWakePending = false;
  std::atomic<uint64_t> FPosted{0};
  // The object's own thread only.
  bool FDelivering = false;
  std::exception_ptr FDeferredFailure;
};
