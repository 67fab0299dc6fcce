#include "platform/NativeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Exception.h"

namespace platform {
namespace {

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this type is not read or written as a parameter file; empty
// for a regular file.
QString NotARegularFile(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return QStringLiteral("it is a directory");
  if (S_ISFIFO(mode)) return QStringLiteral("it is a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("it is a socket");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device");
  return QStringLiteral("it is not a regular file");
}

[[noreturn]] void FailWrite(const QByteArray& name, const QString& reason) {
  throw EFileError(QStringLiteral("Cannot write file %1: %2").arg(DisplayFileName(name), reason));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Hands the descriptor over: it is no longer closed here.
  int Release() { return std::exchange(fd_, -1); }
  // Closes now, for the error a close can report (a delayed write).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Returns 0 or the errno of the write that failed; a short write goes on.
int WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, static_cast<std::size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    left -= n;
  }
  return 0;
}

// The file a write of `name` lands in: the name itself, or the file a
// symbolic link points to, so that the link survives.
QByteArray WriteTarget(const QByteArray& name) {
  struct stat info {};
  if (::lstat(name.constData(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
  char resolved[PATH_MAX];
  if (!::realpath(name.constData(), resolved))
    FailWrite(name, QStringLiteral("it is a symbolic link to nothing"));
  return QByteArray(resolved);
}

QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray TemporaryBeside(const QByteArray& target) {
  static std::atomic<unsigned> counter{0};
  const qsizetype slash = target.lastIndexOf('/');
  return target.left(slash + 1) + '.' + target.mid(slash + 1) + ".tmp" +
         QByteArray::number(::getpid()) + '.' + QByteArray::number(counter++);
}

// Fills the temporary file, just created as `fd`, and puts it on disk; 0 or
// the failing errno.
int FillTemporary(Descriptor& fd, const QByteArray& contents, const struct stat* existing) {
  if (existing && ::fchmod(fd.Get(), existing->st_mode & 07777) != 0) return errno;
  if (const int error = WriteAll(fd.Get(), contents)) return error;
  if (::fsync(fd.Get()) != 0) return errno;
  return fd.Close();
}

}  // namespace

QString DisplayFileName(const QByteArray& name) {
  return QFile::decodeName(name);
}

QByteArray CanonicalFileName(const QByteArray& name) {
  char resolved[PATH_MAX];
  if (!::realpath(name.constData(), resolved))
    throw EFileError(DisplayFileName(name) + QStringLiteral(": ") + ErrnoText(errno));
  return QByteArray(resolved);
}

FileContent ReadRegularFile(const QByteArray& name, std::size_t limit) {
  const auto failOpen = [&name](const QString& reason) {
    throw EFileError(QStringLiteral("Cannot open file %1: %2").arg(DisplayFileName(name), reason));
  };
  struct stat info {};
  if (::stat(name.constData(), &info) != 0) failOpen(ErrnoText(errno));
  if (const QString reason = NotARegularFile(info.st_mode); !reason.isEmpty()) failOpen(reason);
  Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.Get() < 0) failOpen(ErrnoText(errno));
  // The name may have been given to something else since the look.
  if (::fstat(fd.Get(), &info) != 0) failOpen(ErrnoText(errno));
  if (const QString reason = NotARegularFile(info.st_mode); !reason.isEmpty()) failOpen(reason);

  FileContent content;
  content.bytes.resize(static_cast<qsizetype>(limit + 1));
  qsizetype got = 0;
  while (got < content.bytes.size()) {
    const ssize_t n = ::read(fd.Get(), content.bytes.data() + got,
                             static_cast<std::size_t>(content.bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw EFileError(
          QStringLiteral("Cannot read %1: %2").arg(DisplayFileName(name), ErrnoText(errno)));
    if (n == 0) break;
    got += n;
  }
  content.bytes.truncate(got);
  // Read to its end, the file is what was read; beyond the limit, its size
  // on disk tells the caller how large it is.
  content.size = static_cast<std::size_t>(got) <= limit
                     ? static_cast<std::uint64_t>(got)
                     : std::max<std::uint64_t>(static_cast<std::uint64_t>(info.st_size),
                                               static_cast<std::uint64_t>(got));
  return content;
}

void ReplaceFileAtomically(const QByteArray& name, const QByteArray& contents) {
  const QByteArray target = WriteTarget(name);
  struct stat existing {};
  const bool exists = ::stat(target.constData(), &existing) == 0;
  if (!exists && errno != ENOENT) FailWrite(name, ErrnoText(errno));
  if (exists) {
    if (const QString reason = NotARegularFile(existing.st_mode); !reason.isEmpty())
      FailWrite(name, reason);
    // Honoured for root as well, who may write anything.
    if ((existing.st_mode & 0222) == 0) FailWrite(name, QStringLiteral("the file is read-only"));
    // A file the user may not write is not replaced either, though the
    // folder would let the rename through.
    if (::access(target.constData(), W_OK) != 0) FailWrite(name, ErrnoText(errno));
  }
  const QByteArray temporary = TemporaryBeside(target);
  Descriptor fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.Get() < 0) FailWrite(name, ErrnoText(errno));
  int error = FillTemporary(fd, contents, exists ? &existing : nullptr);
  if (!error && ::rename(temporary.constData(), target.constData()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.constData());
    FailWrite(name, ErrnoText(error));
  }
  // The new entry of the folder reaches the disk too.
  Descriptor folder(::open(FolderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() >= 0) ::fsync(folder.Get());
}

AppendOnlyFile::AppendOnlyFile(const QByteArray& name) : name_(name) {
  const QByteArray target = WriteTarget(name);
  struct stat info {};
  if (::stat(target.constData(), &info) == 0) {
    if (const QString reason = NotARegularFile(info.st_mode); !reason.isEmpty())
      FailWrite(name, reason);
    if ((info.st_mode & 0222) == 0) FailWrite(name, QStringLiteral("the file is read-only"));
  } else if (errno != ENOENT) {
    FailWrite(name, ErrnoText(errno));
  }
  Descriptor fd(::open(target.constData(),
                       O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (fd.Get() < 0) FailWrite(name, ErrnoText(errno));
  // The name may have been given to something else since the look.
  if (::fstat(fd.Get(), &info) != 0) FailWrite(name, ErrnoText(errno));
  if (const QString reason = NotARegularFile(info.st_mode); !reason.isEmpty())
    FailWrite(name, reason);
  fd_ = fd.Release();
}

AppendOnlyFile::~AppendOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

void AppendOnlyFile::AppendLine(const QByteArray& line) const {
  const QByteArray whole = line + '\n';
  ssize_t n;
  do {
    n = ::write(fd_, whole.constData(), static_cast<std::size_t>(whole.size()));
  } while (n < 0 && errno == EINTR);
  if (n < 0) FailWrite(name_, ErrnoText(errno));
  if (n != whole.size()) FailWrite(name_, QStringLiteral("only part of a line was written"));
}

}  // namespace platform
