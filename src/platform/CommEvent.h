#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>

namespace platform {

// "Wait without limit".
inline constexpr uint32_t kCommInfinite = 0xFFFFFFFFu;
// CommWaitForMultiple results other than an index.
inline constexpr int kCommWaitTimeout = -1;
inline constexpr int kCommWaitFailed = -2;

// Monotonic clock in nanoseconds; the deadlines of waits are on it.
int64_t CommNowNs();

// Something a worker thread can wait on together with other things: a
// manual-reset event or a pending port operation. The waiting thread polls
// what PrepareWait asks for and then lets each object advance its own work.
class CommWaitable {
 public:
  struct PollRequest {
    int fd = -1;              // -1: no descriptor to watch
    short events = 0;         // poll() events for fd
    int64_t deadlineNs = -1;  // CommNowNs() time to wake at, -1: none
  };

  virtual ~CommWaitable() = default;
  virtual PollRequest PrepareWait() = 0;
  // Called after every wake-up with what poll reported for the descriptor.
  virtual void Advance(short revents, int64_t nowNs) = 0;
  virtual bool IsSignalled() = 0;
};

// A manual-reset event on an eventfd: once set it stays set (and readable for
// poll) until Reset, so every later wait that includes it sees it.
class CommEvent : public CommWaitable {
 public:
  explicit CommEvent(bool initialState = false);
  ~CommEvent() override;
  CommEvent(const CommEvent&) = delete;
  CommEvent& operator=(const CommEvent&) = delete;

  // False when the eventfd could not be created.
  bool Valid() const { return fd_ >= 0; }
  void Set();
  void Reset();
  bool IsSet() const;

  PollRequest PrepareWait() override;
  void Advance(short, int64_t) override {}
  bool IsSignalled() override { return IsSet(); }

 private:
  int fd_ = -1;
  mutable std::mutex mutex_;
  bool set_ = false;
};

// Waits until one of `objects` (at most 8) is signalled and returns the lowest index of
// the signalled ones (so the first object wins when several are), or
// kCommWaitTimeout after timeoutMs, or kCommWaitFailed.
int CommWaitForMultiple(std::initializer_list<CommWaitable*> objects,
                        uint32_t timeoutMs = kCommInfinite);

}  // namespace platform
