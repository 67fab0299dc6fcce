#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

// What a device command found: the data of its JSON object and its exit
// status. A verify that finds differences completes, yet exits 1; `failure`
// is then what the production line's line says of it.
struct JobResult {
  explicit JobResult(QJsonObject jsonData = {}) : data(std::move(jsonData)) {}

  QJsonObject data;
  int status = kExitDone;
  QString failure;
};

// A device command run on an open link, printing through `out`. Throws
// CliError when it cannot complete; a write or set that fails says which
// records the converter acknowledged before (the text's end, and
// "written" in its details).
using Job = std::function<JobResult(ConverterLink& link, const Output& out)>;

// A device command with its input checked, ready for any number of ports.
struct PreparedJob {
  Job run;
  QString command;  // "write", "verify", ...
  bool dryRun = false;
  QByteArray file;                       // write and verify: the parameter file
  std::optional<std::uint32_t> fileCrc;  // its CRC
};

// Checks the input of the device command of `options` (its file, its
// assignments; with several ports, a read's FILE must hold {port}) before
// any port is opened. Throws CliError (usage).
PreparedJob PrepareJob(const Options& options);

// The name a port goes by in file names: a COM name as COMn, a path by its
// last part ("ttyUSB0").
QByteArray PortLabel(const QByteArray& port);

// `pattern` with each {port} replaced by PortLabel(port).
QByteArray FileForPort(const QByteArray& pattern, const QByteArray& port);

}  // namespace cli
