#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// What the driver tells about the modem lines and its error counters at one
// moment. A pseudo-terminal has neither (both flags false).
struct CommLineSnapshot {
  bool hasModemLines = false;
  bool cts = false, dsr = false, rlsd = false, ring = false;

  bool hasCounters = false;
  uint32_t ctsChanges = 0, dsrChanges = 0, rlsdChanges = 0, rings = 0;
  uint32_t breaks = 0, frameErrors = 0, parityErrors = 0, overruns = 0, bufferOverruns = 0;
};

// Where line events come from. The port asks for a snapshot when the wake
// descriptor becomes readable or when the poll interval has passed, and turns
// the differences into line events and error flags. Tests put a fake here.
class CommLineBackend {
 public:
  virtual ~CommLineBackend() = default;
  virtual CommLineSnapshot Snapshot() = 0;
  // A descriptor that becomes readable when a new snapshot is worth taking; -1 for none.
  virtual int WakeFd() { return -1; }
  // Called after WakeFd was readable, before the snapshot.
  virtual void ConsumeWake() {}
  // Milliseconds between snapshots when there is no wake descriptor; 0: never.
  virtual int PollIntervalMs() { return 0; }
};

// The driver's lines through TIOCMGET and TIOCGICOUNT, polled every 20 ms
// when the driver has either; a driver with neither (ENOTTY) is never polled.
std::unique_ptr<CommLineBackend> MakeDriverLineBackend(int fd);

// Chooses the backend of ports opened from now on; an empty factory returns
// to the driver's.
using CommLineBackendFactory = std::function<std::unique_ptr<CommLineBackend>(int fd)>;
void SetCommLineBackendFactory(CommLineBackendFactory factory);
std::unique_ptr<CommLineBackend> MakeLineBackend(int fd);

// Line events (EV_*) and error flags (CE_*) between two snapshots. EV_ERR
// comes with framing, overrun and parity errors only; a receive-queue
// overflow is a flag for the next ClearCommError, not an event.
// With errorsInBand the driver marks parity and framing errors and breaks
// in the data (PARMRK), where the read side finds and reports them; their
// counters are then left out, so that each error is reported once.
struct CommLineChange {
  uint32_t events = 0;
  uint32_t errors = 0;
};
CommLineChange CompareLineSnapshots(const CommLineSnapshot& before, const CommLineSnapshot& after,
                                    bool errorsInBand = false);

}  // namespace platform
