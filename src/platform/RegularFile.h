#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The program reads and writes its files (parameter files, profiles, the
// error log) only as regular files. What is at a name is examined before
// anything is opened: opening a named pipe can block, and opening a device
// acts on it (a serial port raises its control lines), so neither is ever
// opened. A write replaces only a regular file or creates a new name.
namespace platform {

// A regular file opened for reading, or why not.
struct ReadOpen {
  int fd = -1;           // owned by the caller; -1 when not opened
  bool missing = false;  // nothing at the name
  QString reason;        // why it was not opened
};

// Opens the regular file at `fileName` (through symbolic links) for reading.
// Anything else at the name is refused without being opened, and a name
// swapped for something else between the look and the open is refused too.
ReadOpen OpenRegularFileForReading(const QString& fileName);

// The file that a replacement of a name writes.
struct ReplaceTarget {
  // The name itself, or the file its symbolic links lead to: the links stay.
  QByteArray path;
  // The file there now; none for a new name.
  struct Existing {
    unsigned mode = 0;  // permission bits, kept by the replacement
    unsigned owner = 0;
    unsigned group = 0;
  };
  std::optional<Existing> existing;
  // Why nothing may be written there: a folder, a named pipe, a device, a
  // socket, a link to nothing. Empty when the name can be replaced.
  QString refusal;
};

// Looks at what is at `fileName`, without opening it.
ReplaceTarget FindReplaceTarget(const QString& fileName);

enum class Flush {
  ToDisk,  // flushed before it replaces the old file: a power loss leaves one of the two
  Later,   // atomic for every reader, the flush left to the system
};

struct ReplaceFailure {
  bool creating = false;  // the new file could not be created (else: written, or refused)
  QString reason;
};

// Writes `bytes` into a new file beside the target and renames it over the
// target: readers see the old file or the new one, never a part. A
// read-only file, or one this process may not write, is refused as a write
// failure and kept. The replacement keeps the old file's permission bits
// (and, where allowed, its owner and group); a new file gets 0666 less the
// umask. On failure the old file is untouched and no temporary file is
// left. The target must come from FindReplaceTarget without a refusal.
std::optional<ReplaceFailure> ReplaceFileContents(const ReplaceTarget& target,
                                                  const QByteArray& bytes, Flush flush);

// Appends bytes to a regular file, creating it when missing (its folder must
// exist). Anything but a regular file in its place is refused without being
// opened. False when nothing or not all was written.
bool AppendToRegularFile(const QString& fileName, const QByteArray& bytes);

}  // namespace platform
