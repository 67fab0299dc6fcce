#include "platform/ProgramFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/RegularFile.h"

#ifndef QUILLON_DATA_FROM_BIN
#error "QUILLON_DATA_FROM_BIN: the installed data folder, relative to the installed programs"
#endif

namespace platform {
namespace {

const QString kFolderName = QStringLiteral("quillon-config");
const QString kDatabase = QStringLiteral("sys/QNdata.adt");
// The database's key file only saves the key derivation at start-up: the
// program starts without it.
const QString kKeyFile = QStringLiteral("sys/QNdata.adt.key");

QMutex gMutex;
QString gOverride;
std::optional<ProgramFolderChoice> gChoice;

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// --- The operator's messages -------------------------------------------------

QString NotAFolder(const QString& userFolder, const QString& file) {
  return QStringLiteral(
             "Cannot keep the program's files in %1: %2 is a file, not a folder. "
             "Move that file away and start the program again.")
      .arg(userFolder, file);
}

QString CannotCreate(const QString& folder, int error) {
  return QStringLiteral("Cannot create the folder %1 for the program's files: %2.")
      .arg(folder, ErrnoText(error));
}

QString CannotWrite(const QString& folder, int error) {
  return QStringLiteral("Cannot write in the folder %1 for the program's files: %2.")
      .arg(folder, ErrnoText(error));
}

QString MissingShippedFile(const QString& path) {
  return QStringLiteral("The program's shipped file %1 is missing. Reinstall quillon-config.")
      .arg(path);
}

QString MissingDatabase(const QString& path) {
  return QStringLiteral(
             "The program's language database %1 is missing, and no installed data folder "
             "was found. Build or reinstall quillon-config.")
      .arg(path);
}

QString CannotCopy(const QString& source, const QString& target, const QString& reason) {
  return QStringLiteral("Cannot copy %1 to %2: %3.").arg(source, target, reason);
}

QString CannotCopy(const QString& source, const QString& target, int error) {
  return CannotCopy(source, target, ErrnoText(error));
}

const QString kNoHome = QStringLiteral(
    "Cannot tell where to keep the program's files: neither XDG_DATA_HOME nor HOME "
    "names a folder.");

// --- Files --------------------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool IsFile(const QString& path) {
  struct stat st {};
  return stat(Native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && stat(Native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// 0 when the process can create files in `folder`, else the errno. Judged
// with the identity that will write the files (AT_EACCESS).
int WriteError(const QString& folder) {
  return faccessat(AT_FDCWD, Native(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// Creates `folder` and its missing parents with mode 0700 (as the XDG base
// directory rules ask); an existing folder is fine. Returns the problem.
QString MakeFolders(const QString& folder, const QString& userFolder) {
  struct stat st {};
  if (stat(Native(folder).constData(), &st) == 0)
    return S_ISDIR(st.st_mode) ? QString() : NotAFolder(userFolder, folder);
  if (errno != ENOENT && errno != ENOTDIR) return CannotCreate(folder, errno);
  // ENOTDIR: something above is a file; the walk up names it.
  const QString parent = folder.section('/', 0, -2);
  if (!parent.isEmpty()) {
    if (QString problem = MakeFolders(parent, userFolder); !problem.isEmpty()) return problem;
  }
  // EEXIST: a second start made it at the same moment; stat() above judges it next time.
  if (mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST)
    return CannotCreate(folder, errno);
  return {};
}

// Copies everything from `in` to `out`; false with errno set on a failure.
bool CopyAll(int in, int out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t written = write(out, buffer + done, static_cast<size_t>(n - done));
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += written;
    }
  }
}

// The copy being written. An unnamed file (O_TMPFILE) leaves nothing behind
// when the start is interrupted; file systems without it get a hidden named
// file beside the target, removed on every path.
class SeedCopy {
 public:
  explicit SeedCopy(const QByteArray& target) {
    const QByteArray folder = target.left(target.lastIndexOf('/'));
    fd_ = open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd_ >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return;
    const qsizetype slash = target.lastIndexOf('/');
    name_ = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".seed-XXXXXX";
    fd_ = mkostemp(name_.data(), O_CLOEXEC);  // mode 0600: the folder is the user's own
    if (fd_ < 0) name_.clear();
  }
  ~SeedCopy() {
    if (fd_ >= 0) close(fd_);
    if (!name_.isEmpty()) unlink(name_.constData());
  }
  SeedCopy(const SeedCopy&) = delete;
  SeedCopy& operator=(const SeedCopy&) = delete;

  int fd() const { return fd_; }

  // Gives the copy the name `target`, unless something took that name
  // meanwhile (another start seeding at the same moment): that one stays.
  // 0 or the errno.
  int Publish(const QByteArray& target) {
    if (name_.isEmpty()) {
      const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_);
      if (linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) ==
              0 ||
          errno == EEXIST)
        return 0;
      return errno;
    }
    if (link(name_.constData(), target.constData()) == 0 || errno == EEXIST) return 0;
    // File systems without hard links.
    if (renameat2(AT_FDCWD, name_.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
      name_.clear();
      return 0;
    }
    return errno == EEXIST ? 0 : errno;
  }

 private:
  int fd_ = -1;
  QByteArray name_;
};

enum class Shipped { Required, Optional };

// One file to seed: its shipped copy, opened, and where it goes.
struct Seed {
  Fd in;
  QString source, target;
};

// Opens the shipped copy of each file that the per-user folder lacks. A
// required file that was not shipped, or any that cannot be read, stops the
// seeding here, before anything is made or copied. Returns the problem.
QString OpenSeeds(const QString& source, const QString& user,
                  const std::vector<std::pair<QString, Shipped>>& files, std::vector<Seed>& seeds) {
  for (const auto& [file, shipped] : files) {
    const QString from = source + '/' + file;
    const QString to = user + '/' + file;
    struct stat st {};
    if (lstat(Native(to).constData(), &st) == 0) continue;  // the operator's, or seeded before
    // ENOTDIR, ENOENT: the per-user folder, or its sys, is not made yet.
    if (errno != ENOENT && errno != ENOTDIR) return CannotCopy(from, to, errno);
    const OpenedFile in = OpenRegularFileForReading(Native(from));
    if (in.fd < 0) {
      if (!in.missing) return CannotCopy(from, to, in.reason);
      if (shipped == Shipped::Required) return MissingShippedFile(from);
      continue;
    }
    seeds.push_back({Fd(in.fd), from, to});
  }
  return {};
}

// Copies every seed under a temporary name first and gives the copies their
// names only when all of them are complete: a failure on the way leaves no
// seeded file. Returns the problem.
QString CopySeeds(const std::vector<Seed>& seeds) {
  std::vector<std::unique_ptr<SeedCopy>> copies;
  for (const Seed& seed : seeds) {
    auto copy = std::make_unique<SeedCopy>(Native(seed.target));
    if (copy->fd() < 0 || !CopyAll(seed.in.get(), copy->fd()) || fsync(copy->fd()) != 0)
      return CannotCopy(seed.source, seed.target, errno);
    copies.push_back(std::move(copy));
  }
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    if (const int error = copies[i]->Publish(Native(seeds[i].target)); error != 0)
      return CannotCopy(seeds[i].source, seeds[i].target, error);
  }
  return {};
}

// --- The running program ------------------------------------------------------

QString ExecutableFolder() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  // Without an application object (small tools, early start-up) ask the kernel.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section('/', 0, -2);
}

QString HomeFolder() {
  const QString home = qEnvironmentVariable("HOME");
  if (!home.isEmpty()) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
    return QFile::decodeName(found->pw_dir);
  return {};
}

ProgramFolderPlaces RunningPlaces() {
  const QString executable = ExecutableFolder();
  return {executable, QDir::cleanPath(executable + QStringLiteral("/" QUILLON_DATA_FROM_BIN)),
          PerUserFolder(qEnvironmentVariable("XDG_DATA_HOME"), HomeFolder())};
}

// Decided on the first call; the caller holds gMutex.
const ProgramFolderChoice& RunningChoice() {
  if (!gChoice) gChoice = PrepareProgramFolder(RunningPlaces());
  return *gChoice;
}

}  // namespace

const QStringList& ShippedFiles() {
  static const QStringList files{QStringLiteral("LangCHN.MUL"), QStringLiteral("LangENU.MUL"),
                                 kDatabase};
  return files;
}

QString PerUserFolder(const QString& xdgDataHome, const QString& home) {
  // The XDG rules ignore a relative XDG_DATA_HOME.
  if (xdgDataHome.startsWith('/')) return QDir::cleanPath(xdgDataHome + '/' + kFolderName);
  if (home.startsWith('/'))
    return QDir::cleanPath(home + QStringLiteral("/.local/share/") + kFolderName);
  return {};
}

ProgramFolderChoice PrepareProgramFolder(const ProgramFolderPlaces& places) {
  const QString& executable = places.executableFolder;
  // A build tree or a portable folder: its language files may be missing,
  // the language pass writes them again.
  const bool executableHoldsDatabase = IsFile(executable + '/' + kDatabase);
  if (executableHoldsDatabase && WriteError(executable) == 0) return {executable, {}};

  // Installed: seed from the data folder; a read-only portable folder seeds
  // from itself. Whatever is seeded must be there in full.
  QString source;
  if (IsFolder(places.installedDataFolder))
    source = places.installedDataFolder;
  else if (executableHoldsDatabase)
    source = executable;
  else
    return {executable, MissingDatabase(executable + '/' + kDatabase)};
  const QString& user = places.userFolder;
  if (user.isEmpty()) return {executable, kNoHome};

  std::vector<std::pair<QString, Shipped>> files;
  for (const QString& file : ShippedFiles()) files.emplace_back(file, Shipped::Required);
  files.emplace_back(kKeyFile, Shipped::Optional);
  std::vector<Seed> seeds;
  if (QString problem = OpenSeeds(source, user, files, seeds); !problem.isEmpty())
    return {executable, problem};

  if (QString problem = MakeFolders(user + QStringLiteral("/sys"), user); !problem.isEmpty())
    return {executable, problem};
  for (const QString& folder : {user, user + QStringLiteral("/sys")}) {
    if (const int error = WriteError(folder); error != 0)
      return {executable, CannotWrite(folder, error)};
  }
  if (QString problem = CopySeeds(seeds); !problem.isEmpty()) return {executable, problem};
  return {user, {}};
}

QString ProgramFolder() {
  QMutexLocker lock(&gMutex);
  if (!gOverride.isEmpty()) return gOverride;
  return RunningChoice().folder;
}

QString ProgramFolderProblem() {
  QMutexLocker lock(&gMutex);
  if (!gOverride.isEmpty()) return {};
  return RunningChoice().problem;
}

void SetProgramFolder(const QString& path) {
  QMutexLocker lock(&gMutex);
  gOverride = path;
  while (gOverride.size() > 1 && gOverride.endsWith('/')) gOverride.chop(1);
}

QString ProgramPath(const QString& relative) {
  return ProgramFolder() + '/' + relative;
}

}  // namespace platform
