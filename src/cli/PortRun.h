#pragma once

#include <QByteArray>

#include "cli/Jobs.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/Report.h"
#include "cli/Tally.h"

namespace cli {

// What every port of a run shares.
struct PortRunSetup {
  const Options& options;
  const PreparedJob& job;
  const ReportFile* report;  // null without --report
};

// One port's whole session, on the calling thread with its own event loop
// and its own TComm: the command once; with --wait after a converter
// answers; with --repeat converter after converter until a signal. Prints
// through `out` and appends a report line per converter handled. Never
// throws: a failure is printed and counted.
Tally RunPort(const QByteArray& port, const PortRunSetup& setup, const Output& out);

}  // namespace cli
