#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// Files named as the file system names them: the bytes of the local 8-bit
// encoding, as a program's arguments hold them. Such a name need not be
// UTF-8, and Qt's file classes, which take a QString and encode it as UTF-8,
// cannot reach every one of them; these calls take the bytes and hand them
// to the system unchanged.
namespace platform {

// The name for people: the bytes decoded, what is not UTF-8 replaced.
QString DisplayFileName(const QByteArray& name);

// A file's content as read, and its size.
struct FileContent {
  QByteArray bytes;
  std::uint64_t size = 0;  // the size on disk, also when `bytes` holds only the head
};

// `name` with its symbolic links, "." and ".." resolved: a name that Qt can
// carry where `name` may not. Throws EFileError ("NAME: REASON") when it
// leads nowhere.
QByteArray CanonicalFileName(const QByteArray& name);

// Reads the regular file `name` once, at most `limit` bytes and one more, so
// that the caller can tell a larger file (its `size` is then the size on
// disk). A FIFO or a device is refused before it is opened: it could block
// the reader or never end. Throws EFileError: "Cannot open file NAME:
// REASON", "Cannot read NAME: REASON".
FileContent ReadRegularFile(const QByteArray& name, std::size_t limit);

// Replaces the file `name` with `contents`: written to a new file beside it
// and put in its place by a rename once it is complete and on disk, so that
// a failure leaves what was there untouched and no temporary file behind.
// Only a regular file or a new name is written: a FIFO, a device, a socket
// or a directory is refused, and so is a read-only file (for root too). A
// symbolic link writes the file it points to and stays a link. An existing
// file keeps its permissions; a new one gets 0666 less the umask. Throws
// EFileError: "Cannot write file NAME: REASON".
void ReplaceFileAtomically(const QByteArray& name, const QByteArray& contents);

// A file that lines are appended to, by several threads or processes at
// once: opened with O_APPEND, each line handed to the system in one write,
// so that lines never mix. Only a regular file or a new name is opened, by
// the rules of ReplaceFileAtomically: a FIFO, a device, a socket or a
// directory is refused before it is opened, and so is a read-only file (for
// root too); a symbolic link appends to the file it points to. A new file
// gets 0666 less the umask. Any thread.
class AppendOnlyFile {
 public:
  // Throws EFileError: "Cannot write file NAME: REASON".
  explicit AppendOnlyFile(const QByteArray& name);
  ~AppendOnlyFile();
  AppendOnlyFile(const AppendOnlyFile&) = delete;
  AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

  // Appends `line` and a newline. Throws EFileError when the system takes
  // less than the whole line (a full disk).
  void AppendLine(const QByteArray& line) const;

 private:
  QByteArray name_;
  int fd_ = -1;
};

}  // namespace platform
