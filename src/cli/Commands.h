#pragma once

#include "cli/Options.h"

namespace cli {

// Runs the command of `options` and prints its results; returns the exit
// status (CliError's statuses; with several ports the most serious among
// them, MostSerious). Every failure is reported: on stderr, and as
// {"ok":false,"error":...} with --json.
int Run(const Options& options);

}  // namespace cli
