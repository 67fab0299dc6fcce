#include "platform/CommLine.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <mutex>

#include "platform/CommTypes.h"

namespace platform {

namespace {

class DriverLineBackend : public CommLineBackend {
 public:
  explicit DriverLineBackend(int fd) : fd_(fd) {
    const CommLineSnapshot probe = Snapshot();
    supported_ = probe.hasModemLines || probe.hasCounters;
  }

  CommLineSnapshot Snapshot() override {
    CommLineSnapshot s;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) == 0) {
      s.hasModemLines = true;
      s.cts = bits & TIOCM_CTS;
      s.dsr = bits & TIOCM_DSR;
      s.rlsd = bits & TIOCM_CD;
      s.ring = bits & TIOCM_RI;
    }
    serial_icounter_struct counters{};
    if (ioctl(fd_, TIOCGICOUNT, &counters) == 0) {
      s.hasCounters = true;
      s.ctsChanges = counters.cts;
      s.dsrChanges = counters.dsr;
      s.rlsdChanges = counters.dcd;
      s.rings = counters.rng;
      s.breaks = counters.brk;
      s.frameErrors = counters.frame;
      s.parityErrors = counters.parity;
      s.overruns = counters.overrun;
      s.bufferOverruns = counters.buf_overrun;
    }
    return s;
  }

  // Pseudo-terminals answer ENOTTY to both calls: nothing to watch, no
  // wake-ups. A real driver is looked at no more often than every 20 ms.
  int PollIntervalMs() override { return supported_ ? 20 : 0; }

 private:
  int fd_;
  bool supported_ = false;
};

std::mutex factoryMutex;
CommLineBackendFactory& Factory() {
  static CommLineBackendFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<CommLineBackend> MakeDriverLineBackend(int fd) {
  return std::make_unique<DriverLineBackend>(fd);
}

void SetCommLineBackendFactory(CommLineBackendFactory factory) {
  std::lock_guard<std::mutex> lock(factoryMutex);
  Factory() = std::move(factory);
}

std::unique_ptr<CommLineBackend> MakeLineBackend(int fd) {
  std::lock_guard<std::mutex> lock(factoryMutex);
  if (Factory()) return Factory()(fd);
  return MakeDriverLineBackend(fd);
}

CommLineChange CompareLineSnapshots(const CommLineSnapshot& before, const CommLineSnapshot& after,
                                    bool errorsInBand) {
  CommLineChange change;
  if (before.hasModemLines && after.hasModemLines) {
    if (before.cts != after.cts) change.events |= kEvCts;
    if (before.dsr != after.dsr) change.events |= kEvDsr;
    if (before.rlsd != after.rlsd) change.events |= kEvRlsd;
    if (!before.ring && after.ring) change.events |= kEvRing;
  }
  // The counters also catch a line that changed and changed back between
  // two looks.
  if (before.hasCounters && after.hasCounters) {
    if (before.ctsChanges != after.ctsChanges) change.events |= kEvCts;
    if (before.dsrChanges != after.dsrChanges) change.events |= kEvDsr;
    if (before.rlsdChanges != after.rlsdChanges) change.events |= kEvRlsd;
    if (before.rings != after.rings) change.events |= kEvRing;
    if (!errorsInBand) {
      if (before.breaks != after.breaks) {
        change.events |= kEvBreak;
        change.errors |= kCeBreak;
      }
      if (before.frameErrors != after.frameErrors) change.errors |= kCeFrame;
      if (before.parityErrors != after.parityErrors) change.errors |= kCeRxParity;
    }
    if (before.overruns != after.overruns) change.errors |= kCeOverrun;
    if (before.bufferOverruns != after.bufferOverruns) change.errors |= kCeRxOver;
  }
  if (change.errors & (kCeFrame | kCeRxParity | kCeOverrun)) change.events |= kEvErr;
  return change;
}

}  // namespace platform
