#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// The exit statuses of quillon-cli.
enum ExitStatus {
  kExitDone = 0,
  kExitRefused = 1,  // the converter refused, or the read-back differs
  kExitUsage = 2,    // usage or bad input: unknown key, value out of range, invalid file
  kExitPort = 3,     // the port cannot be opened
  kExitNoReply = 4,  // no reply, or an incomplete one, within the time-out
};

// A command that cannot complete: the status to exit with and the message for
// people (English).
class CliError : public std::runtime_error {
 public:
  CliError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

}  // namespace cli
