#pragma once

#include <QElapsedTimer>
#include <QString>
#include <optional>
#include <string>

#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/Output.h"
#include "platform/PortLock.h"

namespace cli {

// Between two looks for a converter on a port that is there, and the
// longest wait for a port that is not (its coming wakes the wait at once).
inline constexpr int kRetryMs = 500;

// One port of a --wait loop: waits for a converter and for it to go. While
// the port leads to a device, its lock file names this process, also while
// the port is closed between converters; a device that goes takes its lock
// with it (its name may come back on another device).
//
// A port that appears wakes the station at once (NudgeAll() from the port
// watch); a port that stays is asked for a converter every kRetryMs. A
// converter is taken to be there when its port appears (an adapter plugged
// with its unit), or when bytes come that hold no reply (after one that
// answered stopped, or on an adapter that stayed); one that does not answer
// within the no-answer time is reported once. An adapter that stays and
// stays silent is an empty adapter.
class Station {
 public:
  Station(ConverterLink& link, int noAnswerMs, const Output& out);

  struct Arrival {
    enum class Kind {
      Answered,  // `version`
      Refused,   // it answered the version query with a refusal: `refusal`
      NoAnswer,  // it was there and did not answer within the no-answer time
    };
    Kind kind = Kind::Answered;
    protocol::VersionRecord version{};
    std::optional<CliError> refusal;
    qint64 silentMs = 0;  // NoAnswer: how long it was there without answering
  };

  // Waits for the next converter. Throws CliError: "interrupted" (no reply)
  // on a signal; the port (3) when another program holds the port's lock
  // file.
  Arrival WaitForConverter();

  // Returns once the converter handled stops answering or its port goes,
  // or on a signal. The port is closed then. Throws CliError (port) when the
  // port now leads to a device whose lock another program holds.
  void WaitUntilGone();

 private:
  // Whether the port leads to a device now; notes an appearance and keeps
  // the lock on the device it leads to.
  bool Present();
  void HoldLock(const std::string& device);
  // Opens the port when closed; false when it will not open (said once per
  // reason).
  bool Opened();
  void NoteThere();
  void Pause(int ms);

  ConverterLink& link_;
  int noAnswerMs_;
  const Output& out_;
  platform::PortLock lock_;
  bool absent_ = false;                      // the port was not there at the last look
  std::optional<QElapsedTimer> thereSince_;  // a converter that has not answered
  bool silenceTold_ = false;                 // its "no answer" was reported
  QString lastOpenProblem_;
  bool lockWarned_ = false;
};

}  // namespace cli
