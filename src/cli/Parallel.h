#pragma once

#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

// Runs the device command of `options` on every port it names, each on a
// thread of its own with its own event loop and TComm, all at once: one
// port's silence, refusal or loss never holds up or ends another. This
// thread keeps the signals and the port watch. With several ports (or
// --repeat) a summary follows the ports' own output. Returns the exit
// status: the most serious among the ports. Throws CliError for input
// refused before any port is opened.
int RunDeviceCommand(const Options& options, const Output& out);

}  // namespace cli
