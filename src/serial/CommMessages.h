#pragma once

#include <QEvent>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>

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

// A block of bytes handed from one thread to another: n data bytes and one
// trailing 0, zero-filled. Whoever holds the pointer owns the block, so a
// block is freed on every path, delivered or not.
using TCommBlock = std::unique_ptr<uint8_t[]>;

// A zero-filled block of count + 1 bytes with a copy of `data`; null when
// memory runs out.
TCommBlock MakeCommBlock(const uint8_t* data, uint32_t count);

// One notification in flight to the notification object. It owns its block;
// an event Qt discards undelivered (the object went away first) frees it.
class TCommMessageEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  TCommMessageEvent(uint32_t msg, uintptr_t wParam, uintptr_t lParam, TCommBlock block);

  uint32_t Msg;
  uintptr_t WParam;
  uintptr_t LParam;
  TCommBlock Block;
};

// The hidden notification object: it lives on the thread that created the
// component, the worker threads post to it, and it raises the component's
// events there, in the order the notifications were posted.
class TCommNotifier : public QObject {
 public:
  explicit TCommNotifier(TComm* owner);

  // Notifications posted to this object so far (any thread).
  uint64_t Posted() const { return posted_; }
  void NotePosted() { ++posted_; }

 protected:
  bool event(QEvent* e) override;

 private:
  TComm* owner_;
  std::atomic<uint64_t> posted_{0};
};

// Posts a notification; false when there is nothing to post to. The block
// is freed when the post fails.
bool PostCommMessage(TCommNotifier* window, uint32_t msg, uintptr_t wParam = 0,
                     uintptr_t lParam = 0, TCommBlock block = nullptr);
