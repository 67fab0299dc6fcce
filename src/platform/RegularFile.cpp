#include "platform/RegularFile.h"

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

#include "platform/Exception.h"

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

QString CannotWrite() {
  return QStringLiteral("Cannot write file %1");
}

QString ReplacedMeanwhile() {
  return QStringLiteral("The file was replaced while it was being opened");
}

// `headline` holds %1 for the name.
[[noreturn]] void Fail(const QString& headline, const QByteArray& name, const QString& reason) {
  throw EFileError(headline.arg(DisplayFileName(name)), reason);
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

 private:
  int fd_;
};

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
  const Descriptor fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() >= 0) ::fsync(fd.Get());
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

// Why the file at a target may not be written; empty when it may, or when
// there is none yet.
QString WriteRefusal(const ReplaceTarget& target) {
  if (!target.existing) return {};
  // Root passes every permission check: the mode is honoured for root too.
  if ((target.existing->mode & 0222u) == 0) return QStringLiteral("The file is read-only");
  // The folder would let a rename through where the file itself is closed.
  if (::faccessat(AT_FDCWD, target.path.constData(), W_OK, AT_EACCESS) != 0)
    return ErrnoText(errno);
  return {};
}

// Everything that stops a write of the target before it starts.
QString AnyRefusal(const ReplaceTarget& target) {
  return target.refusal.isEmpty() ? WriteRefusal(target) : target.refusal;
}

}  // namespace

QString DisplayFileName(const QByteArray& name) {
  return QFile::decodeName(name);
}

QByteArray CanonicalFileName(const QByteArray& name) {
  char resolved[PATH_MAX];
  if (!::realpath(name.constData(), resolved))
    throw EFileError(DisplayFileName(name), ErrnoText(errno));
  return QByteArray(resolved);
}

OpenedFile OpenRegularFileForReading(const QByteArray& name) {
  OpenedFile result;
  struct stat seen {};
  if (::stat(name.constData(), &seen) != 0) {
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
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    result.missing = errno == ENOENT;
    result.reason = ErrnoText(errno);
    return result;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !SameFile(seen, opened)) {
    ::close(fd);
    result.reason = ReplacedMeanwhile();
    return result;
  }
  result.fd = fd;
  return result;
}

OpenedFile OpenRegularFileForAppending(const QByteArray& name) {
  OpenedFile result;
  const ReplaceTarget target = FindReplaceTarget(name);
  result.reason = AnyRefusal(target);
  if (!result.reason.isEmpty()) return result;
  // Not through a link, non-blocking and without a controlling terminal, in
  // case something else took the name after the look; the check below
  // refuses it then.
  const int fd =
      ::open(target.path.constData(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.reason = ErrnoText(errno);
    return result;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    result.reason = ReplacedMeanwhile();
    return result;
  }
  result.fd = fd;
  return result;
}

FileContent ReadRegularFile(const QByteArray& name, std::size_t limit) {
  const OpenedFile opened = OpenRegularFileForReading(name);
  if (opened.fd < 0) Fail(QStringLiteral("Cannot open file %1"), name, opened.reason);
  const Descriptor fd(opened.fd);
  FileContent content;
  content.bytes.resize(qsizetype(limit + 1));
  qsizetype got = 0;
  while (got < content.bytes.size()) {
    const ssize_t n =
        ::read(fd.Get(), content.bytes.data() + got, size_t(content.bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(QStringLiteral("Cannot read %1"), name, ErrnoText(errno));
    if (n == 0) break;
    got += n;
  }
  content.bytes.truncate(got);
  content.size = std::uint64_t(got);
  // Beyond the limit, the size on disk tells the caller how large it is.
  struct stat info {};
  if (std::size_t(got) > limit && ::fstat(fd.Get(), &info) == 0)
    content.size = std::max(content.size, std::uint64_t(info.st_size));
  return content;
}

ReplaceTarget FindReplaceTarget(const QByteArray& name) {
  ReplaceTarget target;
  target.path = name;
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
  if (const QString refusal = WriteRefusal(target); !refusal.isEmpty())
    return ReplaceFailure{false, refusal};
  const QByteArray temporary = TemporaryName(target.path);
  const int fd =
      ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return ReplaceFailure{true, ErrnoText(errno)};
  int error = target.existing ? TakeOver(fd, *target.existing) : 0;
  if (!error) error = WriteAll(fd, bytes);
  // fsync, not fdatasync: the permission bits and owner just set belong to
  // the file that survives a power loss too.
  if (!error && flush == Flush::ToDisk && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temporary.constData(), target.path.constData()) != 0) error = errno;
  if (error) {
    ::unlink(temporary.constData());
    return ReplaceFailure{false, ErrnoText(error)};
  }
  if (flush == Flush::ToDisk) SyncFolderOf(target.path);
  return std::nullopt;
}

void ReplaceFileAtomically(const QByteArray& name, const QByteArray& contents) {
  const ReplaceTarget target = FindReplaceTarget(name);
  if (!target.refusal.isEmpty()) Fail(CannotWrite(), name, target.refusal);
  if (const auto failure = ReplaceFileContents(target, contents, Flush::ToDisk))
    Fail(failure->creating ? QStringLiteral("Cannot create file %1") : CannotWrite(), name,
         failure->reason);
}

void RefuseWhatIsNoFile(const QByteArray& name) {
  if (const ReplaceTarget target = FindReplaceTarget(name); !target.refusal.isEmpty())
    Fail(CannotWrite(), name, target.refusal);
}

void RefuseWhatCannotBeReplaced(const QByteArray& name) {
  if (const QString refusal = AnyRefusal(FindReplaceTarget(name)); !refusal.isEmpty())
    Fail(CannotWrite(), name, refusal);
}

bool AppendToRegularFile(const QByteArray& name, const QByteArray& bytes) {
  const OpenedFile opened = OpenRegularFileForAppending(name);
  if (opened.fd < 0) return false;
  bool written = WriteAll(opened.fd, bytes) == 0;
  if (::close(opened.fd) != 0) written = false;
  return written;
}

}  // namespace platform
