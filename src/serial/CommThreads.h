#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/CommPort.h"
#include "platform/ThreadPriority.h"
#include "serial/CommMessages.h"

// A worker thread of the component. Create() makes the thread held before
// its body (created suspended); Resume() lets it run. Destroying the object
// waits for the thread; one that was never resumed is let go then, finds the
// close event set and ends.
class CommThread {
 public:
  CommThread() = default;
  virtual ~CommThread();
  CommThread(const CommThread&) = delete;
  CommThread& operator=(const CommThread&) = delete;

  // Throws std::system_error when the system cannot make a thread.
  void Create();
  // Applied by the thread itself when it starts.
  void SetPriority(platform::ThreadPriority priority) { FPriority = priority; }
  void Resume();
  // True when the thread has ended within `milliseconds`.
  bool WaitFor(uint32_t milliseconds);
  bool Finished() const { return FFinished; }

  // False when the worker could not make what it needs to run (the write
  // thread's queue); it then counts as not created.
  virtual bool CanRun() const { return true; }

  // Given by OpenPort before the thread starts.
  platform::CommPort* ComHandle = nullptr;
  platform::CommEvent* CloseEvent = nullptr;
  CommNotifier* NotifyWindow = nullptr;
  uint64_t Connection = 0;  // the open the thread serves; tags its notifications

 protected:
  virtual void Execute() = 0;
  // Joins the thread; the most derived destructor calls it so that Execute
  // never runs on a half-destroyed object.
  void EndThread();
  // Posts a notification tagged with the connection; false when there is
  // nothing to post to or the queue is full (the block is freed then).
  bool Post(uint32_t msg, uintptr_t wParam = 0, uintptr_t lParam = 0, CommBlock block = nullptr,
            bool wake = true);
  void RequestHangup();
  // A failed port call ends the thread; it asks for a hang-up unless the
  // port was closed under it.
  void HangupUnlessClosed();

 private:
  void Run();

  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FReleased = false;
  std::atomic<bool> FFinished{false};
  platform::ThreadPriority FPriority = platform::ThreadPriority::Normal;
};

// The write thread's own message queue. Posts are accepted from creation
// until the thread has ended, up to kCommQueueLimit waiting messages; then
// they are refused and what is left is freed.
class WriteQueue {
 public:
  struct Message {
    uint32_t Msg = 0;
    uint16_t Count = 0;
    CommBlock Block;
  };

  bool Post(Message message);
  // The next message, or nothing; finding the queue empty clears the input
  // signal, so a wait on it wakes only for messages posted afterwards.
  std::optional<Message> Peek();
  void Close();
  platform::CommEvent& Input() { return FInput; }
  // False when the input signal could not be made: a wait could never wake
  // for a message, so the queue must not be used.
  bool Valid() const { return FInput.Valid(); }

 private:
  std::mutex FMutex;
  std::deque<Message> FMessages;
  bool FClosed = false;
  platform::CommEvent FInput;
};

// Receives bytes and watches the line; posts blocks, errors and modem-line
// changes to the notification object.
//
// A full block is most likely one of a stream, with the next close behind:
// it is queued without waking the notification object, until kHeldBlocks
// wait or the first of them has waited kHoldMs. Any other notification (a
// block the quiet interval ended, a line event, a hang-up) wakes the object
// at once for everything queued before it, and so does the thread's end.
// A stream thus costs the receiving thread one wake-up per kHeldBlocks
// blocks instead of one per read of the driver, while a reply still
// arrives as soon as the line has been quiet for the read interval.
class TReadThread final : public CommThread {
 public:
  // Line events watched: CTS, DSR, RLSD, BREAK, ERR, RING.
  static constexpr uint32_t kWatchedEvents = 0x1F8;
  static constexpr uint32_t kBufferSize = kCommBlockBytes;
  static constexpr uint32_t kHeldBlocks = 64;
  static constexpr uint32_t kHoldMs = 2;

  ~TReadThread() override { EndThread(); }

  // Modem bits of OnModemStateChange for a line-event mask.
  static uint32_t ModemBits(uint32_t eventMask);

 protected:
  void Execute() override;

 private:
  bool ArmRead();
  bool CompleteRead();
  bool DeliverBlock(uint32_t count);
  bool ArmStatusWait();
  bool HandleStatusEvent(bool collect);
  // Posts a line error or modem-line change, waking the object for it and
  // for the blocks held.
  bool NotifyLineEvent(uint32_t msg, uint32_t lParam);
  void WakeForHeld();
  // How long the next wait may last before the held blocks must go out.
  uint32_t HoldTimeoutMs() const;

  uint8_t FBuffer[kBufferSize] = {};
  uint32_t FHeld = 0;
  int64_t FHeldSinceNs = 0;
  platform::CommOverlapped FReadOverlapped;
  platform::CommOverlapped FStatusOverlapped;
  uint32_t FEventMask = 0;
  uint32_t FByteCount = 0;
};

// Writes queued blocks in queue order, one write per block.
class TWriteThread final : public CommThread {
 public:
  ~TWriteThread() override;

  // Queues a block (COMM_MSG_WRITE_DATA); false once the thread has ended
  // or when kCommQueueLimit blocks wait.
  bool PostThreadMessage(uint32_t msg, uint16_t count, CommBlock block);
  // A queue without its wake-up signal would lose every send.
  bool CanRun() const override { return FQueue.Valid(); }

 protected:
  void Execute() override;

 private:
  bool WriteBlock(const uint8_t* block, uint16_t count);

  WriteQueue FQueue;
  platform::CommOverlapped FWriteOverlapped;
};
