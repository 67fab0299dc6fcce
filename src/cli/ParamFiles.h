#pragma once

#include <QByteArray>
#include <cstdint>

#include "protocol/Records.h"

// Parameter files for quillon-cli. Names are bytes of the local encoding,
// handed to the system unchanged. Every failure is a CliError (usage).
namespace cli {

// A parameter file's records and its CRC (the header's CRC-32, which the
// import checked).
struct ImportedFile {
  protocol::ParameterRecords records;
  std::uint32_t crc = 0;
};

// The file `name` after every check of the window's import, and one more: a
// file that ends before one of its records (a shortened file whose size
// field and CRC were made to match) is refused rather than read as zeros.
ImportedFile ImportFile(const QByteArray& name);

// ImportFile for a write: a file holding a value the window's controls
// cannot hold is refused, naming each field, the file's value and what the
// window would show; so is one the window's checks before a write stop.
ImportedFile ImportFileToWrite(const QByteArray& name);

// Writes `records` as the window's export writes a file; what it cannot
// write over (a FIFO, a device, a folder, a read-only file) is refused.
void ExportFile(const QByteArray& name, const protocol::ParameterRecords& records);

// Refuses, before any work for the file is done, a name that ExportFile
// would refuse without writing.
void CheckExportTarget(const QByteArray& name);

}  // namespace cli
