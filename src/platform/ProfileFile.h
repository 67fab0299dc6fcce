#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "platform/Exception.h"
#include "platform/ProfileDocument.h"

namespace platform {

// A write to a profile file that failed. Text() names the file
// ("Unable to write to <file>"); Reason() says why.
class EProfileWriteError : public EFileError {
 public:
  EProfileWriteError(const QString& fileName, const QString& reason)
      : EFileError(QStringLiteral("Unable to write to %1").arg(fileName), reason),
        fileName_(fileName) {}
  const QString& FileName() const { return fileName_; }

 private:
  QString fileName_;
};

// A private-profile (INI) file in code page 936, with the meanings of the
// Windows GetPrivateProfileString/Int and WritePrivateProfileString calls:
// names match without regard to case, values are trimmed and lose one pair of
// surrounding quotes, a missing file reads as empty and is created by the
// first write (its folder must exist). Only a regular file is read or
// replaced (platform/RegularFile.h): a named pipe, a device or a folder at
// the name reads as missing and refuses every write; a symbolic link is
// followed and kept.
//
// Every call goes to the file: a read sees what another program wrote, and a
// write has replaced the file (atomically, through a temporary file in the same
// folder) when it returns; a write that would leave every byte as it is
// replaces nothing. A parsed copy of each file is reused while the file's
// bytes are unchanged.
class ProfileFile {
 public:
  // Durable: each write is flushed to the disk before it replaces the file,
  // so that a power loss leaves the old or the new file. Fast: the replacement
  // is still atomic for every reader, but the flush is left to the system;
  // for files that can be regenerated.
  enum class Sync { Durable, Fast };

  explicit ProfileFile(QString fileName, Sync sync = Sync::Durable);

  const QString& FileName() const { return fileName_; }

  // The value, or def when the key is absent; at most 2047 characters.
  QString ReadString(const QString& section, const QString& key, const QString& def) const;

  // As GetPrivateProfileInt: an absent or empty value gives def; otherwise
  // leading blanks, an optional sign, decimal digits or "0x" and hexadecimal
  // digits, up to the first other character (wrapping modulo 2^32); any other
  // leading text gives 0.
  int ReadInt(const QString& section, const QString& key, int def) const;

  // Sets section/key to value, adding the key or the section when missing.
  // Throws EProfileWriteError when the file cannot be written, and when a
  // name or the value could not be read back as written (line breaks, a
  // section name with ']', a key with '=' or that is empty).
  void WriteString(const QString& section, const QString& key, const QString& value) const;
  void WriteInt(const QString& section, const QString& key, int value) const;

 private:
  QString fileName_;
  Sync sync_;
};

// The integer a profile value stands for, by the rules of ProfileFile::ReadInt.
int ProfileIntValue(const QString& value, int def);

// The integer when the whole value is one (blanks around it aside): an
// optional sign, then decimal digits or "0x" and hexadecimal digits, wrapping
// modulo 2^32. Empty optional for anything else ("12abc", "", "1 2").
std::optional<int> ProfileNumber(const QString& value);

// One write of a key, as a batch keeps it until its commit.
struct ProfileWrite {
  QString section, key, value;
};

// Reads and writes of one profile file that reach the disk together. Reads
// see the file as it was when the batch was made, with the batch's own
// writes. Commit applies the writes to the file as it is then and replaces it
// once, atomically, when they change it; the writes are then no longer
// pending, whether it succeeded or not.
class ProfileBatch {
 public:
  explicit ProfileBatch(QString fileName, ProfileFile::Sync sync = ProfileFile::Sync::Durable);
  ~ProfileBatch();
  ProfileBatch(const ProfileBatch&) = delete;
  ProfileBatch& operator=(const ProfileBatch&) = delete;

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  // Throws EProfileWriteError at once for a name or a value that could not
  // be read back as written; failures of the file itself come from Commit.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInt(const QString& section, const QString& key, int value);
  // Throws EProfileWriteError as ProfileFile::WriteString does.
  void Commit();

 private:
  QString fileName_;
  ProfileFile::Sync sync_;
  ProfileDocument document_;
  std::vector<ProfileWrite> writes_;
};

}  // namespace platform
