#include "platform/ProfileFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QHash>
#include <cerrno>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ProfileDocument.h"
#include "platform/RegularFile.h"

namespace platform {

namespace {

// What identifies one version of a file without reading it.
struct FileSignature {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  struct timespec modified {};
  struct timespec changed {};

  static FileSignature Of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  }
  bool operator==(const FileSignature& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// The parsed form of each file, reused while the file stays the same: for
// ordinary files while its bytes are equal; only for files too large to
// compare at every call, while its signature is equal.
struct CachedFile {
  QByteArray bytes;
  FileSignature signature;
  ProfileDocument document;
};

constexpr qsizetype kMaxCachedFiles = 16;
constexpr off_t kCompareBytesUpTo = 1 << 20;
// Larger files are not profiles: reading them at every call would stall the
// program, so they read as missing and are never rewritten.
constexpr off_t kMaxFileSize = 16 << 20;

std::mutex cacheMutex;
QHash<QString, CachedFile>& Cache() {
  static QHash<QString, CachedFile> cache;
  return cache;
}

bool ReadAll(int fd, QByteArray& bytes) {
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
      bytes.append(buffer, n);
    else if (n == 0)
      return true;
    else if (errno != EINTR)
      return false;
  }
}

enum class Load { Loaded, Missing, Unreadable, TooLarge };

// The document of the file as it is now, in the cache under key. A missing
// file loads as an empty document. The caller holds cacheMutex.
Load LoadDocument(const QByteArray& path, const QString& key, ProfileDocument** document) {
  QHash<QString, CachedFile>& cache = Cache();
  // A named pipe or a device in the file's place is never opened.
  const OpenedFile opened = OpenRegularFileForReading(path);
  if (opened.fd < 0 && !opened.missing) return Load::Unreadable;
  const int fd = opened.fd;
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) != 0) {
    ::close(fd);
    return Load::Unreadable;
  }
  if (fd >= 0 && info.st_size > kMaxFileSize) {
    ::close(fd);
    return Load::TooLarge;
  }
  FileSignature signature = fd >= 0 ? FileSignature::Of(info) : FileSignature{};
  auto found = cache.find(key);
  if (found != cache.end() && signature.size > kCompareBytesUpTo && found->signature == signature) {
    ::close(fd);
    *document = &found->document;
    return Load::Loaded;
  }
  QByteArray bytes;
  if (fd >= 0) {
    bytes.reserve(qsizetype(info.st_size));
    bool read = ReadAll(fd, bytes);
    ::close(fd);
    if (!read) return Load::Unreadable;
  }
  if (found == cache.end() || found->bytes != bytes) {
    if (found == cache.end() && cache.size() >= kMaxCachedFiles) cache.clear();
    found = cache.insert(key, CachedFile{bytes, signature, ProfileDocument::Parse(bytes)});
  }
  found->signature = signature;
  *document = &found->document;
  return fd >= 0 ? Load::Loaded : Load::Missing;
}

void CheckWritable(const QString& fileName, const QString& section, const QString& key,
                   const QString& value) {
  if (!ProfileDocument::IsWritableSection(section))
    throw EProfileWriteError(fileName, QStringLiteral("Invalid section name"));
  if (!ProfileDocument::IsWritableKey(key))
    throw EProfileWriteError(fileName, QStringLiteral("Invalid key name"));
  if (!ProfileDocument::IsWritableValue(value))
    throw EProfileWriteError(fileName, QStringLiteral("Line break in the value"));
}

// Applies the writes, in order, to the file as it is now and replaces it once
// if they changed a byte; a file they leave as it was is not touched.
void CommitWrites(const QString& fileName, ProfileFile::Sync sync,
                  const std::vector<ProfileWrite>& writes) {
  // One writer at a time in this process, from reading the file to replacing it.
  std::lock_guard lock(cacheMutex);
  const ReplaceTarget target = FindReplaceTarget(QFile::encodeName(fileName));
  if (!target.refusal.isEmpty()) throw EProfileWriteError(fileName, target.refusal);
  QString cacheKey = QFile::decodeName(target.path);
  ProfileDocument* document = nullptr;
  switch (LoadDocument(target.path, cacheKey, &document)) {
    case Load::Unreadable:  // replacing it would lose what it holds
      throw EProfileWriteError(fileName, QStringLiteral("The file cannot be read"));
    case Load::TooLarge:
      throw EProfileWriteError(fileName, QStringLiteral("The file is too large for a profile"));
    default:
      break;
  }
  bool changed = false;
  for (const ProfileWrite& write : writes)
    changed |= document->SetValue(write.section, write.key, write.value);
  if (!changed) return;
  QByteArray updated = document->Serialize();
  const auto failure = ReplaceFileContents(
      target, updated, sync == ProfileFile::Sync::Durable ? Flush::ToDisk : Flush::Later);
  if (failure) {
    Cache().remove(cacheKey);
    throw EProfileWriteError(fileName, failure->reason);
  }
  CachedFile& entry = Cache()[cacheKey];
  entry.bytes = updated;
  struct stat info {};
  entry.signature =
      ::stat(target.path.constData(), &info) == 0 ? FileSignature::Of(info) : FileSignature{};
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

int ProfileIntValue(const QString& value, int def) {
  QString text = TrimBlanks(value);
  if (text.isEmpty()) return def;
  qsizetype i = 0;
  bool negative = false;
  if (text.at(0) == u'-' || text.at(0) == u'+') {
    negative = text.at(0) == u'-';
    ++i;
  }
  unsigned base = 10;
  if (i + 1 < text.size() && text.at(i) == u'0' &&
      (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')) {
    base = 16;
    i += 2;
  }
  quint32 result = 0;  // wraps modulo 2^32, as the Windows call does
  for (; i < text.size(); ++i) {
    int digit = HexDigitValue(text.at(i).unicode());
    if (digit < 0 || unsigned(digit) >= base) break;
    result = result * base + quint32(digit);
  }
  if (negative) result = 0u - result;
  return int(result);
}

ProfileFile::ProfileFile(QString fileName, Sync sync)
    : fileName_(std::move(fileName)), sync_(sync) {}

QString ProfileFile::ReadString(const QString& section, const QString& key,
                                const QString& def) const {
  std::lock_guard lock(cacheMutex);
  ProfileDocument* document = nullptr;
  if (LoadDocument(QFile::encodeName(fileName_), fileName_, &document) != Load::Loaded) return def;
  return document->Value(section, key).value_or(def);
}

int ProfileFile::ReadInt(const QString& section, const QString& key, int def) const {
  return ProfileIntValue(ReadString(section, key, QString()), def);
}

void ProfileFile::WriteString(const QString& section, const QString& key,
                              const QString& value) const {
  CheckWritable(fileName_, section, key, value);
  CommitWrites(fileName_, sync_, {{section, key, value}});
}

void ProfileFile::WriteInt(const QString& section, const QString& key, int value) const {
  WriteString(section, key, QString::number(value));
}

std::optional<int> ProfileNumber(const QString& value) {
  QString text = TrimBlanks(value);
  qsizetype digits = 0;
  if (digits < text.size() && (text.at(0) == u'-' || text.at(0) == u'+')) ++digits;
  unsigned base = 10;
  if (text.mid(digits, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0) {
    base = 16;
    digits += 2;
  }
  if (digits == text.size()) return std::nullopt;
  for (qsizetype i = digits; i < text.size(); ++i) {
    int digit = HexDigitValue(text.at(i).unicode());
    if (digit < 0 || unsigned(digit) >= base) return std::nullopt;
  }
  return ProfileIntValue(text, 0);
}

ProfileBatch::ProfileBatch(QString fileName, ProfileFile::Sync sync)
    : fileName_(std::move(fileName)), sync_(sync) {
  std::lock_guard lock(cacheMutex);
  ProfileDocument* document = nullptr;
  if (LoadDocument(QFile::encodeName(fileName_), fileName_, &document) == Load::Loaded)
    document_ = *document;
}

ProfileBatch::~ProfileBatch() = default;

QString ProfileBatch::ReadString(const QString& section, const QString& key,
                                 const QString& def) const {
  return document_.Value(section, key).value_or(def);
}

void ProfileBatch::WriteString(const QString& section, const QString& key, const QString& value) {
  CheckWritable(fileName_, section, key, value);
  if (document_.SetValue(section, key, value)) writes_.push_back({section, key, value});
}

void ProfileBatch::WriteInt(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

void ProfileBatch::Commit() {
  if (writes_.empty()) return;
  std::vector<ProfileWrite> writes;
  writes.swap(writes_);
  CommitWrites(fileName_, sync_, writes);
}

}  // namespace platform
