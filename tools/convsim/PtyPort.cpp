#include "PtyPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace convsim {
namespace {

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool MakeFolders(const std::string& path, std::string& error) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0775) != 0 && errno != EEXIST) {
      error = ErrnoText("cannot create " + partial);
      return false;
    }
  }
  return true;
}

std::string ReadLink(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n < 0) return {};
  return std::string(target, static_cast<std::size_t>(n));
}

// A link left behind by a simulator that was killed: it points at a
// pseudo-terminal that no longer exists.
bool IsStaleTerminalLink(const std::string& path) {
  const std::string target = ReadLink(path);
  struct stat st {};
  return target.rfind("/dev/pts/", 0) == 0 && stat(target.c_str(), &st) != 0 && errno == ENOENT;
}

// Points `path` at `target`, replacing what is there in one step.
bool ReplaceLink(const std::string& target, const std::string& path) {
  const std::string temporary = path + ".convsim" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) == 0 &&
      rename(temporary.c_str(), path.c_str()) == 0)
    return true;
  const int saved = errno;
  unlink(temporary.c_str());
  errno = saved;
  return false;
}

}  // namespace

PtyPort::~PtyPort() {
  Unlink();
  if (terminal_ >= 0) close(terminal_);
  if (master_ >= 0) close(master_);
}

bool PtyPort::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = ErrnoText("posix_openpt");
    return false;
  }
  char name[256];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    error = ErrnoText("cannot prepare the pseudo-terminal");
    return false;
  }
  terminalPath_ = name;
  terminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal_ < 0) {
    error = ErrnoText("cannot open " + terminalPath_);
    return false;
  }
  termios tio{};
  if (tcgetattr(terminal_, &tio) != 0) {
    error = ErrnoText("tcgetattr");
    return false;
  }
  cfmakeraw(&tio);
  cfsetspeed(&tio, B115200);
  if (tcsetattr(terminal_, TCSANOW, &tio) != 0) {
    error = ErrnoText("tcsetattr");
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = ErrnoText("fcntl");
    return false;
  }
  return true;
}

std::vector<std::string> PtyPort::RemoveLinksToTerminal(const std::string& programDir) {
  std::vector<std::string> removed;
  struct stat terminal {};
  if (terminal_ < 0 || fstat(terminal_, &terminal) != 0) return removed;
  const std::string folder = programDir + "/sys/ports";
  DIR* entries = opendir(folder.c_str());
  if (!entries) return removed;
  while (const dirent* entry = readdir(entries)) {
    const std::string path = folder + "/" + entry->d_name;
    struct stat link {};
    struct stat target {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) continue;
    if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode) ||
        target.st_rdev != terminal.st_rdev)
      continue;
    if (unlink(path.c_str()) == 0) removed.push_back(entry->d_name);
  }
  closedir(entries);
  return removed;
}

int PtyPort::Link(const std::string& programDir, int com, bool replace, std::string& error) {
  const std::string folder = programDir + "/sys/ports";
  if (!MakeFolders(folder, error)) return 0;
  const int first = com == 0 ? 1 : com;
  const int last = com == 0 ? 255 : com;
  for (int n = first; n <= last; ++n) {
    const std::string path = folder + "/com" + std::to_string(n);
    const bool replaceThis = replace || IsStaleTerminalLink(path);
    if (replaceThis ? !ReplaceLink(terminalPath_, path)
                    : symlink(terminalPath_.c_str(), path.c_str()) != 0) {
      if (errno == EEXIST && com == 0) continue;
      error = errno == EEXIST ? path + " already exists (choose another --com, or --replace)"
                              : ErrnoText("cannot link " + path);
      return 0;
    }
    linkPath_ = path;
    return n;
  }
  error = "every sys/ports/com1..com255 entry in " + programDir + " is taken";
  return 0;
}

void PtyPort::Unlink() {
  if (linkPath_.empty()) return;
  if (ReadLink(linkPath_) == terminalPath_) unlink(linkPath_.c_str());
  linkPath_.clear();
}

}  // namespace convsim
