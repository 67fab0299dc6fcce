#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why something other than a regular file is not read or written as one.
QString KindRefusal(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("It is a folder, not a file");
  if (S_ISFIFO(mode)) return QStringLiteral("It is a named pipe (FIFO), not a regular file");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("It is a device, not a regular file");
  if (S_ISSOCK(mode)) return QStringLiteral("It is a socket, not a regular file");
  return QStringLiteral("It is not a regular file");
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// 0, or the errno of the write that stopped.
int WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    left -= n;
  }
  return 0;
}

// Makes a rename in the folder of `path` durable.
void SyncFolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  const QByteArray folder = slash < 0    ? QByteArray(".")
                            : slash == 0 ? QByteArray("/")
                                         : path.left(slash);
  const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A hidden name beside `target` that no other writer uses.
QByteArray TemporaryName(const QByteArray& target) {
  static std::atomic<unsigned> counter{0};
  const qsizetype slash = target.lastIndexOf('/');
  return target.left(slash + 1) + '.' + target.mid(slash + 1) + ".tmp" +
         QByteArray::number(::getpid()) + '.' + QByteArray::number(counter++);
}

// Gives the new file the old one's owner (root may; others keep their own)
// and permission bits. 0 or the errno.
int TakeOver(int fd, const ReplaceTarget::Existing& existing) {
  if (::geteuid() == 0) (void)::fchown(fd, existing.owner, existing.group);
  return ::fchmod(fd, existing.mode) == 0 ? 0 : errno;
}

}  // namespace

ReadOpen OpenRegularFileForReading(const QString& fileName) {
  const QByteArray path = QFile::encodeName(fileName);
  ReadOpen result;
  struct stat seen {};
  if (::stat(path.constData(), &seen) != 0) {
    result.missing = errno == ENOENT;
    result.reason = ErrnoText(errno);
    return result;
  }
  if (!S_ISREG(seen.st_mode)) {
    result.reason = KindRefusal(seen.st_mode);
    return result;
  }
  // Non-blocking and without a controlling terminal, in case something else
  // took the name after the look; the check below refuses it then.
  const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    result.missing = errno == ENOENT;
    result.reason = ErrnoText(errno);
    return result;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !SameFile(seen, opened)) {
    ::close(fd);
    result.reason = QStringLiteral("The file was replaced while it was being opened");
    return result;
  }
  result.fd = fd;
  return result;
}

ReplaceTarget FindReplaceTarget(const QString& fileName) {
  ReplaceTarget target;
  target.path = QFile::encodeName(fileName);
  struct stat info {};
  if (::lstat(target.path.constData(), &info) != 0) {
    // Nothing there: a new name, whose creation says whether its folder exists.
    if (errno != ENOENT) target.refusal = ErrnoText(errno);
    return target;
  }
  if (S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (!::realpath(target.path.constData(), resolved)) {
      target.refusal = errno == ENOENT ? QStringLiteral("It is a symbolic link to a missing file")
                                       : ErrnoText(errno);
      return target;
    }
    target.path = resolved;
    if (::stat(target.path.constData(), &info) != 0) {
      target.refusal = ErrnoText(errno);
      return target;
    }
  }
  if (!S_ISREG(info.st_mode)) {
    target.refusal = KindRefusal(info.st_mode);
    return target;
  }
  target.existing = ReplaceTarget::Existing{info.st_mode & 07777u, info.st_uid, info.st_gid};
  return target;
}

std::optional<ReplaceFailure> ReplaceFileContents(const ReplaceTarget& target,
                                                  const QByteArray& bytes, Flush flush) {
  if (target.existing) {
    // Root passes every permission check: the mode is honoured for root too.
    if ((target.existing->mode & 0222u) == 0)
      return ReplaceFailure{false, QStringLiteral("The file is read-only")};
    if (::faccessat(AT_FDCWD, target.path.constData(), W_OK, AT_EACCESS) != 0)
      return ReplaceFailure{false, ErrnoText(errno)};
  }
  const QByteArray temporary = TemporaryName(target.path);
  const int fd =
      ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return ReplaceFailure{true, ErrnoText(errno)};
  int error = target.existing ? TakeOver(fd, *target.existing) : 0;
  if (!error) error = WriteAll(fd, bytes);
  if (!error && flush == Flush::ToDisk && ::fdatasync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temporary.constData(), target.path.constData()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.constData());
    return ReplaceFailure{false, ErrnoText(error)};
  }
  if (flush == Flush::ToDisk) SyncFolderOf(target.path);
  return std::nullopt;
}

bool AppendToRegularFile(const QString& fileName, const QByteArray& bytes) {
  const QByteArray path = QFile::encodeName(fileName);
  struct stat info {};
  if (::stat(path.constData(), &info) == 0 && !S_ISREG(info.st_mode)) return false;
  // Non-blocking and without a controlling terminal, in case something else
  // took the name after the look; the check below refuses it then.
  const int fd = ::open(path.constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool written = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && WriteAll(fd, bytes) == 0;
  if (::close(fd) != 0) written = false;
  return written;
}

}  // namespace platform
