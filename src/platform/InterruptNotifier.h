#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop of the thread that
// creates it, through a self-pipe: the signal handler only writes one byte,
// which is async-signal-safe; `onInterrupt` runs later, as an ordinary event.
// One instance at a time; the destructor restores the previous handlers.
class InterruptNotifier : public QObject {
 public:
  explicit InterruptNotifier(std::function<void()> onInterrupt, QObject* parent = nullptr);
  ~InterruptNotifier() override;
  InterruptNotifier(const InterruptNotifier&) = delete;
  InterruptNotifier& operator=(const InterruptNotifier&) = delete;

  // True once a signal arrived (and was handled on the event loop).
  bool Interrupted() const { return interrupted_; }

 private:
  void Drain();

  std::function<void()> onInterrupt_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool interrupted_ = false;
};

}  // namespace platform
