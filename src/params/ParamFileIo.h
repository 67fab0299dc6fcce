#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "platform/RegularFile.h"

// The parameter file on disk for the window: one read of the whole file, and
// an atomic write, by the program's file layer (platform/RegularFile.h), the
// one quillon-cli uses too. Names are the window's QStrings. Qt Core only.
namespace params {

// A parameter file as read: its bytes and its size. When the file is larger
// than protocol::kParamFileReadLimit, `bytes` holds only its head and `size`
// the size on disk, so that the header checks still speak and the file is
// refused as unreadable (protocol::CheckParamFile).
using ParamFileContent = platform::FileContent;

// Opens `file` (named, not open) for reading when a regular file is at its
// name; anything else there (a named pipe, a device, a folder) is refused
// without being opened. False with the reason otherwise.
bool OpenForReading(QFile& file, QString* reason = nullptr);

// Reads the named file once, at most the read limit and one byte more
// (platform::ReadRegularFile). Throws platform::EFileError ("Cannot open file
// NAME" or "Cannot read NAME", with the reason).
ParamFileContent ReadParamFile(const QString& fileName);

// Replaces the named file, or creates it, atomically; only a regular file or
// a new name is written, a symbolic link writes the file it points to
// (platform::ReplaceFileAtomically). Throws platform::EFileError ("Cannot
// write file NAME" or "Cannot create file NAME", with the reason).
void WriteFileAtomically(const QString& fileName, const QByteArray& contents);

// Throws what WriteFileAtomically throws for a name that holds something
// other than a regular file, so that a caller can refuse it before asking
// the operator anything.
void RefuseWhatIsNoFile(const QString& fileName);

}  // namespace params
