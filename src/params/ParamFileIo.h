#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

// The parameter file on disk, for the window and for quillon-cli alike: one
// read of the whole file, and an atomic write. Qt Core only.
namespace params {

// A parameter file as read: its bytes and its size. When the file is larger
// than protocol::kParamFileReadLimit, `bytes` holds only its head and `size`
// the size on disk, so that the header checks still speak and the file is
// refused as unreadable (protocol::CheckParamFile).
struct ParamFileContent {
  QByteArray bytes;
  std::uint64_t size = 0;
};

// Opens `file` (named, not open) for reading when a regular file is at its
// name; anything else there (a named pipe, a device, a folder) is refused
// without being opened. False with the reason otherwise.
bool OpenForReading(QFile& file, QString* reason = nullptr);

// Opens the named file once and reads it whole (at most the read limit and
// one byte more). Throws platform::EFileError ("Cannot open file NAME", with
// the reason) when it is not a regular file or cannot be opened or read.
ParamFileContent ReadParamFile(const QString& fileName);

// Replaces the named file, or creates it, through a temporary file beside it
// that is renamed over it once complete and on disk: a failure leaves the
// file that was there untouched and no temporary file behind. Only a regular
// file or a new name is written: a folder, a named pipe, a device or a
// socket at the name is refused without being opened, and so is a read-only
// file; a symbolic link to a regular file writes that file and stays. The
// replaced file keeps its permission bits. Throws platform::EFileError
// ("Cannot write file NAME" or "Cannot create file NAME", with the reason).
void WriteFileAtomically(const QString& fileName, const QByteArray& contents);

// Throws what WriteFileAtomically throws for a name that holds something
// other than a regular file, so that a caller can refuse it before asking
// the operator anything.
void RefuseWhatIsNoFile(const QString& fileName);

}  // namespace params
