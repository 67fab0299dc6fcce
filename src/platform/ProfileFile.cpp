#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QHash>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/ProfileDocument.h"

namespace platform {

namespace {

// The parsed form of each file, reused while the file's bytes stay the same.
struct CachedFile {
  QByteArray bytes;
  ProfileDocument document;
};

constexpr qsizetype kMaxCachedFiles = 16;

std::mutex cacheMutex;
QHash<QString, CachedFile>& Cache() {
  static QHash<QString, CachedFile> cache;
  return cache;
}

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// The whole file, or nothing when it is missing or cannot be read (a missing
// file reads as an empty one).
std::optional<QByteArray> ReadFileBytes(const QByteArray& path) {
  int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  QByteArray bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) bytes.reserve(qsizetype(info.st_size));
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return bytes;
}

// The document of a file's current bytes; the caller holds cacheMutex.
ProfileDocument& DocumentFor(const QString& key, const QByteArray& bytes) {
  QHash<QString, CachedFile>& cache = Cache();
  auto found = cache.find(key);
  if (found != cache.end() && found->bytes == bytes) return found->document;
  if (found == cache.end() && cache.size() >= kMaxCachedFiles) cache.clear();
  CachedFile& entry = cache[key];
  entry.bytes = bytes;
  entry.document = ProfileDocument::Parse(bytes);
  return entry.document;
}

// A write goes to the file a symbolic link points at, so the link survives.
QByteArray WriteTarget(const QByteArray& path) {
  char resolved[PATH_MAX];
  struct stat info {};
  if (::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode) &&
      ::realpath(path.constData(), resolved))
    return QByteArray(resolved);
  return path;
}

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, data, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    left -= n;
  }
  return true;
}

void SyncFolder(const QByteArray& folder) {
  int fd = ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Writes bytes to a new file beside target and renames it over target.
// Returns 0 or the errno of the step that failed.
int ReplaceFile(const QByteArray& target, const QByteArray& bytes, std::optional<mode_t> mode,
                bool durable) {
  static std::atomic<unsigned> counter{0};
  qsizetype slash = target.lastIndexOf('/');
  QByteArray folder = slash < 0 ? QByteArray() : target.left(slash);
  QByteArray base = target.mid(slash + 1);
  QByteArray temporary = (slash < 0 ? QByteArray() : folder + '/') + '.' + base + ".tmp" +
                         QByteArray::number(::getpid()) + '.' + QByteArray::number(counter++);

  int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int error = 0;
  if (mode && ::fchmod(fd, *mode & 07777) != 0) error = errno;
  if (!error && !WriteAll(fd, bytes)) error = errno ? errno : EIO;
  if (!error && durable && ::fdatasync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temporary.constData(), target.constData()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.constData());
    return error;
  }
  if (durable) SyncFolder(folder);
  return 0;
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
  std::optional<QByteArray> bytes = ReadFileBytes(QFile::encodeName(fileName_));
  if (!bytes) return def;
  std::lock_guard lock(cacheMutex);
  return DocumentFor(fileName_, *bytes).Value(section, key).value_or(def);
}

int ProfileFile::ReadInt(const QString& section, const QString& key, int def) const {
  return ProfileIntValue(ReadString(section, key, QString()), def);
}

void ProfileFile::WriteString(const QString& section, const QString& key,
                              const QString& value) const {
  if (!ProfileDocument::IsWritableSection(section))
    throw EProfileWriteError(fileName_, QStringLiteral("invalid section name"));
  if (!ProfileDocument::IsWritableKey(key))
    throw EProfileWriteError(fileName_, QStringLiteral("invalid key name"));
  if (!ProfileDocument::IsWritableValue(value))
    throw EProfileWriteError(fileName_, QStringLiteral("line break in the value"));

  // One writer at a time in this process, from reading the file to replacing it.
  std::lock_guard lock(cacheMutex);
  QByteArray target = WriteTarget(QFile::encodeName(fileName_));
  std::optional<mode_t> mode;
  struct stat info {};
  if (::stat(target.constData(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) throw EProfileWriteError(fileName_, QStringLiteral("not a file"));
    // Honoured for root as well: a read-only file is never replaced.
    if ((info.st_mode & 0222) == 0)
      throw EProfileWriteError(fileName_, QStringLiteral("the file is read-only"));
    mode = info.st_mode;
  }
  QByteArray bytes = ReadFileBytes(target).value_or(QByteArray());

  QString cacheKey = QFile::decodeName(target);
  ProfileDocument& document = DocumentFor(cacheKey, bytes);
  document.SetValue(section, key, value);
  QByteArray updated = document.Serialize();
  int error = ReplaceFile(target, updated, mode, sync_ == Sync::Durable);
  if (error) {
    Cache().remove(cacheKey);
    throw EProfileWriteError(fileName_, ErrnoText(error));
  }
  Cache()[cacheKey].bytes = updated;
}

void ProfileFile::WriteInt(const QString& section, const QString& key, int value) const {
  WriteString(section, key, QString::number(value));
}

}  // namespace platform
