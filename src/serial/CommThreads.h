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
class TCommThread {
 public:
  TCommThread() = default;
  virtual ~TCommThread();
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;

  // Throws std::system_error when the system cannot make a thread.
  void Create();
  // Applied by the thread itself when it starts.
  void SetPriority(platform::ThreadPriority priority) { priority_ = priority; }
  void Resume();
  // True when the thread has ended within `milliseconds`.
  bool WaitFor(uint32_t milliseconds);
  bool Finished() const { return finished_; }

  // Given by OpenPort before the thread starts.
  platform::CommPort* ComHandle = nullptr;
  platform::CommEvent* CloseEvent = nullptr;
  TCommNotifier* NotifyWindow = nullptr;

 protected:
  virtual void Execute() = 0;
  // Joins the thread; the most derived destructor calls it so that Execute
  // never runs on a half-destroyed object.
  void EndThread();
  void RequestHangup();
  // A failed port call ends the thread; it asks for a hang-up unless the
  // port was closed under it.
  void HangupUnlessClosed();

 private:
  void Run();

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  std::atomic<bool> finished_{false};
  platform::ThreadPriority priority_ = platform::ThreadPriority::Normal;
};

// The write thread's own message queue. Posts are accepted from creation
// until the thread has ended, up to kCommQueueLimit waiting messages; then
// they are refused and what is left is freed.
class TWriteQueue {
 public:
  struct Message {
    uint32_t Msg = 0;
    uint16_t Count = 0;
    TCommBlock Block;
  };

  bool Post(Message message);
  // The next message, or nothing; finding the queue empty clears the input
  // signal, so a wait on it wakes only for messages posted afterwards.
  std::optional<Message> Peek();
  void Close();
  platform::CommEvent& Input() { return input_; }
  // False when the input signal could not be made: a wait could never wake
  // for a message, so the queue must not be used.
  bool Valid() const { return input_.Valid(); }

 private:
  std::mutex mutex_;
  std::deque<Message> messages_;
  bool closed_ = false;
  platform::CommEvent input_;
};

// Receives bytes and watches the line; posts blocks, errors and modem-line
// changes to the notification object.
class TReadThread final : public TCommThread {
 public:
  // Line events watched: CTS, DSR, RLSD, BREAK, ERR, RING.
  static constexpr uint32_t kWatchedEvents = 0x1F8;
  static constexpr uint32_t kBufferSize = 1024;

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

  uint8_t buffer_[kBufferSize] = {};
  platform::CommOverlapped readOverlapped_;
  platform::CommOverlapped statusOverlapped_;
  uint32_t eventMask_ = 0;
  uint32_t byteCount_ = 0;
};

// Writes queued blocks in queue order, one write per block.
class TWriteThread final : public TCommThread {
 public:
  ~TWriteThread() override;

  // Queues a block (COMM_MSG_WRITE_DATA); false once the thread has ended
  // or when kCommQueueLimit blocks wait.
  bool PostThreadMessage(uint32_t msg, uint16_t count, TCommBlock block);
  // Whether the thread's queue could be made (checked before it runs).
  bool QueueValid() const { return queue_.Valid(); }

 protected:
  void Execute() override;

 private:
  bool WriteBlock(const uint8_t* block, uint16_t count);

  TWriteQueue queue_;
  platform::CommOverlapped writeOverlapped_;
};
