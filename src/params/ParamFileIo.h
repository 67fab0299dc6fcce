#pragma once

#include <QByteArray>
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

// Opens the named file once and reads it whole (at most the read limit and
// one byte more). Throws platform::EFileError ("Cannot open file NAME:
// REASON") when it is not a regular file or cannot be opened or read.
ParamFileContent ReadParamFile(const QString& fileName);

// Writes `contents` to a temporary file beside the target and renames it over
// the target once it is complete and on disk: a failure leaves the file that
// was there untouched and no temporary file behind. Throws
// platform::EFileError ("Cannot create file ..." / "Cannot write file ...").
void WriteFileAtomically(const QString& fileName, const QByteArray& contents);

}  // namespace params
