#pragma once

#include <QByteArray>

#include "protocol/Records.h"

// Parameter files for quillon-cli. Names are bytes of the local encoding,
// handed to the system unchanged. Every failure is a CliError (usage).
namespace cli {

// The records of the file `name` after every check of the window's import,
// and one more: a file that ends before one of its records (a shortened
// file whose size field and CRC were made to match) is refused rather than
// read as zeros.
protocol::ParameterRecords ImportFile(const QByteArray& name);

// ImportFile for a write: a file holding a value the window's controls
// cannot hold is refused, naming each field, the file's value and what the
// window would show; so is one the window's checks before a write stop.
protocol::ParameterRecords ImportFileToWrite(const QByteArray& name);

// Writes `records` as the window's export writes a file; what it cannot
// write over (a FIFO, a device, a folder, a read-only file) is refused.
void ExportFile(const QByteArray& name, const protocol::ParameterRecords& records);

// Refuses, before any work for the file is done, a name that ExportFile
// would refuse without writing.
void CheckExportTarget(const QByteArray& name);

}  // namespace cli
