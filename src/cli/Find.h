#pragma once

#include <QByteArrayList>

#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

// `find`: asks every COM number that leads to a present device (the
// window's list) at once for the converter's version and lists the ports
// that answer, with their versions, and those another program holds, with
// the holders; with --trace, each port's traffic. Returns the exit status: 0 when a converter
// answered, 4 when none did.
int FindConverters(const Options& options, const Output& out);

// The ports where `find` finds a converter, for --port all. Throws CliError
// (no reply) when there is none.
QByteArrayList PortsWithConverters(const Options& options, const Output& out);

}  // namespace cli
