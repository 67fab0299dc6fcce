#include "cli/Waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace cli {
namespace {

QEventLoop* gLoop = nullptr;
bool gInterrupted = false;

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
  gLoop = &loop;
  const std::function<bool()> finished = [&] { return gInterrupted || done(); };
  while (!finished() && deadline.isActive()) loop.exec();
  gLoop = nullptr;
  return !gInterrupted && done();
}

void Wake() {
  if (gLoop) gLoop->quit();
}

void Interrupt() {
  gInterrupted = true;
  Wake();
}

bool Interrupted() {
  return gInterrupted;
}

bool InterruptArrived() {
  if (!gInterrupted) QCoreApplication::processEvents();
  return gInterrupted;
}

}  // namespace cli
