#pragma once

#include "cli/Options.h"

namespace cli {

// Runs the command of `options` and prints its results; returns the exit
// status (CliError's statuses). Every failure is reported here: on stderr,
// and as {"ok":false,"error":...} with --json.
int Run(const Options& options);

}  // namespace cli
