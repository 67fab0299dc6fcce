#pragma once

#include <QJsonObject>
#include <stdexcept>
#include <string>

namespace cli {

// The exit statuses of quillon-cli.
enum ExitStatus {
  kExitDone = 0,
  kExitRefused = 1,  // the converter refused, the read-back differs, or verify found differences
  kExitUsage = 2,    // usage or bad input: unknown key, value out of range, invalid file
  kExitPort = 3,     // the port cannot be opened, or there is no usable program folder
  kExitNoReply = 4,  // no reply, or an incomplete one, within the time-out; or a signal
};

// Of two statuses, the one a run of several ports or converters exits with:
// a converter whose state is unknown (4: it stopped answering, perhaps in the
// middle of a write, or the run was cut off) comes before one known not to
// hold what was asked (1), which comes before a port that could not be
// reached (3) and input refused (2), where nothing was sent; 0 last.
int MostSerious(int a, int b);

// A command that cannot complete: the status to exit with, the message for
// people (English), and what a program reading --json learns beyond it.
class CliError : public std::runtime_error {
 public:
  CliError(int status, const std::string& message, QJsonObject details = {})
      : std::runtime_error(message), status_(status), details_(std::move(details)) {}
  int Status() const { return status_; }
  const QJsonObject& Details() const { return details_; }

 private:
  int status_;
  QJsonObject details_;
};

}  // namespace cli
