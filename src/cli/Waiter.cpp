#include "cli/Waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <set>

namespace cli {
namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<std::uint64_t> gNudges{0};

// The loops of the waits running on every thread. A loop leaves the set
// under the lock before it is destroyed, so a wake-up posted under the lock
// always finds it alive; one posted to a loop that has ended since is
// dropped with it.
std::mutex gLoopsMutex;
std::set<QEventLoop*> gLoops;

thread_local QEventLoop* tLoop = nullptr;

class RunningWait {
 public:
  explicit RunningWait(QEventLoop* loop) : loop_(loop) {
    std::lock_guard<std::mutex> lock(gLoopsMutex);
    gLoops.insert(loop_);
    tLoop = loop_;
  }
  ~RunningWait() {
    std::lock_guard<std::mutex> lock(gLoopsMutex);
    gLoops.erase(loop_);
    tLoop = nullptr;
  }
  RunningWait(const RunningWait&) = delete;
  RunningWait& operator=(const RunningWait&) = delete;

 private:
  QEventLoop* loop_;
};

void WakeEveryWait() {
  std::lock_guard<std::mutex> lock(gLoopsMutex);
  for (QEventLoop* loop : gLoops)
    QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, int ms) {
  if (done()) return true;
  if (gInterrupted || ms <= 0) return false;
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(ms);
  // Registered before the flag is looked at: an interrupt after the look
  // finds the loop and wakes it.
  const RunningWait running(&loop);
  while (!gInterrupted && !done() && deadline.isActive()) loop.exec();
  return !gInterrupted && done();
}

void Wake() {
  if (tLoop) tLoop->quit();
}

void Interrupt() {
  gInterrupted = true;
  WakeEveryWait();
}

bool Interrupted() {
  return gInterrupted;
}

bool InterruptArrived() {
  if (!gInterrupted) QCoreApplication::processEvents();
  return gInterrupted;
}

void NudgeAll() {
  ++gNudges;
  WakeEveryWait();
}

std::uint64_t Nudges() {
  return gNudges;
}

}  // namespace cli
