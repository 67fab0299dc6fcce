#include "platform/InterruptNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <stdexcept>

namespace platform {
namespace {

int gPipe[2] = {-1, -1};
// The signals that end a command: Ctrl-C, a polite kill, and the terminal
// or the session going away.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kSignals)]{};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up: losing this byte loses nothing.
  [[maybe_unused]] const ssize_t written = write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

InterruptNotifier::InterruptNotifier(std::function<void()> onInterrupt, QObject* parent)
    : QObject(parent), onInterrupt_(std::move(onInterrupt)) {
  if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("cannot create the interrupt pipe");
  notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], &action, &gPrevious[i]);
}

InterruptNotifier::~InterruptNotifier() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], &gPrevious[i], nullptr);
  notifier_.reset();
  close(gPipe[0]);
  close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
}

void InterruptNotifier::Drain() {
  char bytes[16];
  while (read(gPipe[0], bytes, sizeof bytes) > 0) {
  }
  interrupted_ = true;
  if (onInterrupt_) onInterrupt_();
}

}  // namespace platform
