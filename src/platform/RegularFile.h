#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

// The program reads and writes its files (parameter files, profiles, the
// language files, the error log) only as regular files. What is at a name is
// examined before anything is opened: opening a named pipe can block, and
// opening a device acts on it (a serial port raises its control lines), so
// neither is ever opened. A write replaces only a regular file or creates a
// new name.
//
// Names are the file system's own bytes (the local 8-bit encoding, as a
// program's arguments hold them), handed to the system unchanged: a name
// need not be UTF-8. A caller holding a QString converts it once with
// QFile::encodeName.
//
// The reasons given (OpenedFile::reason, ReplaceTarget::refusal, an
// EFileError's Reason()) are sentences for the operator: the window shows
// them as a message's second paragraph, logs and quillon-cli after a colon.
namespace platform {

// The name for people: the bytes decoded, what is not UTF-8 replaced.
QString DisplayFileName(const QByteArray& name);

// `name` with its symbolic links, "." and ".." resolved: a name that Qt can
// carry where `name` may not. Throws EFileError ("NAME: REASON" as its text)
// when it leads nowhere.
QByteArray CanonicalFileName(const QByteArray& name);

// A regular file opened, or why not.
struct OpenedFile {
  int fd = -1;           // owned by the caller; -1 when not opened
  bool missing = false;  // nothing at the name
  QString reason;        // why it was not opened
};

// Opens the regular file at `name` (through symbolic links) for reading.
// Anything else at the name is refused without being opened, and a name
// swapped for something else between the look and the open is refused too.
OpenedFile OpenRegularFileForReading(const QByteArray& name);

// Opens the regular file at `name` for appending, creating it when missing
// (its folder must exist). Refused as a replacement is (FindReplaceTarget,
// and a file that may not be written, read-only for root too) without being
// opened; a symbolic link appends to the file it points to.
OpenedFile OpenRegularFileForAppending(const QByteArray& name);

// A file's content as read, and its size.
struct FileContent {
  QByteArray bytes;
  std::uint64_t size = 0;  // the size on disk, also when `bytes` holds only the head
};

// Reads the regular file `name` once, at most `limit` bytes and one more, so
// that the caller can tell a larger file (its `size` is then the size on
// disk). Throws EFileError: "Cannot open file NAME" or "Cannot read NAME",
// with the reason.
FileContent ReadRegularFile(const QByteArray& name, std::size_t limit);

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

// Looks at what is at `name`, without opening it.
ReplaceTarget FindReplaceTarget(const QByteArray& name);

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
// read-only file (for root too), or one this process may not write, is
// refused as a write failure and kept. The replacement keeps the old file's
// permission bits (and, where allowed, its owner and group); a new file gets
// 0666 less the umask. On failure the old file is untouched and no
// temporary file is left. The target must come from FindReplaceTarget
// without a refusal.
std::optional<ReplaceFailure> ReplaceFileContents(const ReplaceTarget& target,
                                                  const QByteArray& bytes, Flush flush);

// FindReplaceTarget and ReplaceFileContents (flushed to disk) in one call.
// Throws EFileError: "Cannot write file NAME" (refused, or the write
// failed) or "Cannot create file NAME" (no new file beside it, e.g. its
// folder is gone), with the reason.
void ReplaceFileAtomically(const QByteArray& name, const QByteArray& contents);

// Throws what ReplaceFileAtomically throws for something at `name` that is
// not replaced (ReplaceTarget::refusal), so that a caller can refuse it
// before asking the operator anything. A read-only file passes.
void RefuseWhatIsNoFile(const QByteArray& name);

// Throws all that ReplaceFileAtomically would refuse before writing: what
// RefuseWhatIsNoFile refuses, and a file that may not be written. For a
// caller that has work to do before the write (a converter to read).
void RefuseWhatCannotBeReplaced(const QByteArray& name);

// Appends bytes to a regular file, creating it when missing
// (OpenRegularFileForAppending). False when nothing or not all was written.
bool AppendToRegularFile(const QByteArray& name, const QByteArray& bytes);

}  // namespace platform
