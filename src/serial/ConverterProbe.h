#pragma once

// Where do converters answer? One version query to each of several ports at
// once, as the connect sends it, and what came back. A port that another
// program holds (has open, or holds the lock file of) is never opened; a
// port reached under two names is asked once. Nothing but the version query
// is sent.
//
// Threads: the probe runs on the event loop of the thread that starts it and
// calls OnProgress there; each port opened has its TComm (with its read and
// write threads) on that thread until its reply or the window's end.
//
//   serial::ConverterProbe probe;
//   probe.OnProgress = [&] { if (probe.Finished()) Show(probe.Results()); };
//   probe.Start({"COM1", "COM3", "/dev/ttyUSB0"});

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/CommError.h"
#include "platform/PortHolders.h"
#include "protocol/Records.h"
#include "protocol/ReplyWait.h"

namespace serial {

struct ProbeResult {
  enum class Outcome {
    Answered,    // the version reply was accepted: `version`
    Refused,     // a reply to the version query with a refusing `status`
    Silent,      // nothing accepted within the window, or the port went away
    InUse,       // other programs hold it (`holders`); not opened
    OpenFailed,  // it would not open (`openError`); also a name that leads nowhere
  };
  std::string port;    // as given
  std::string device;  // the node it leads to; empty when it leads nowhere
  Outcome outcome = Outcome::Silent;
  protocol::VersionRecord version{};
  std::uint8_t status = 0;
  std::vector<platform::PortHolder> holders;
  platform::CommErrorInfo openError;
};

struct ProbeOptions {
  // The connect's collection window: how long a reply may take.
  int windowMs = 1000;
  protocol::CrcCheck crc = protocol::CrcCheck::Ignored;
};

class ConverterProbe {
 public:
  explicit ConverterProbe(ProbeOptions options = {});
  ~ConverterProbe();
  ConverterProbe(const ConverterProbe&) = delete;
  ConverterProbe& operator=(const ConverterProbe&) = delete;

  // Probes `ports` (COM names or device paths): the holders of all of them
  // are looked up in one pass, the free ones opened with the converter's
  // line settings and sent one query each. Each port is closed as soon as
  // its outcome is known. Once only.
  void Start(const std::vector<std::string>& ports);

  bool Finished() const { return started_ && waiting_ == 0; }
  // One per port given, in their order, leaving out a later name of a node
  // already listed. Complete once Finished().
  const std::vector<ProbeResult>& Results() const { return results_; }

  // After each outcome that came from the line or the window's end.
  std::function<void()> OnProgress;

  // What goes over the line of each port opened, as it happens, for a
  // trace: the query handed to the port, each chunk received, and the
  // port's closing once its outcome (Results()[result]) is set.
  struct Traffic {
    enum class Event { Sent, Received, Closed };
    Event event;
    std::size_t result;                   // index into Results()
    std::span<const std::uint8_t> bytes;  // Sent, Received
    bool delivered = true;                // Sent: whether the port took the query
    bool lost = false;                    // Closed: the port went away
  };
  std::function<void(const Traffic&)> OnTraffic;

 private:
  struct OpenPort;

  void Open(std::size_t index);
  void OnReceived(OpenPort& port);
  void Settle(OpenPort& port, ProbeResult::Outcome outcome, bool lost = false);
  void Tell(const Traffic& traffic) const;
  void EndWindow();

  ProbeOptions options_;
  std::vector<ProbeResult> results_;
  std::vector<std::unique_ptr<OpenPort>> open_;
  QTimer window_;
  int waiting_ = 0;
  bool started_ = false;
};

}  // namespace serial
