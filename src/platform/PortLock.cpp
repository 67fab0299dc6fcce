#include "platform/PortLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace platform {

namespace {

// A lock file is a few bytes; more is not one.
constexpr std::size_t kLockFileMax = 64;
// A stale lock taken over by another program between our look and our link
// makes the link fail again; a few tries settle it.
constexpr int kAttempts = 3;

// The devices this process's PortLocks hold: one lock file names the
// process, not which of its threads holds the device.
std::mutex gHeldMutex;
std::set<std::string> gHeld;

// The process id a lock file holds, 0 when it holds none (missing, empty,
// not a number).
int ReadLockPid(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  char text[kLockFileMax + 1];
  const ssize_t n = ::read(fd, text, kLockFileMax);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  const char* at = text;
  while (*at == ' ') ++at;
  long pid = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    pid = pid * 10 + (*at - '0');
    if (pid > 0x3FFFFFFF) return 0;
  }
  return (*at == '\n' || *at == '\0') ? static_cast<int>(pid) : 0;
}

bool ProcessLives(int pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string PathOf(const std::string& folder, const std::string& device) {
  return folder + "/" + LockFileName(device);
}

// The lock's content written to a new file beside it; the file's path, or
// empty with errno set.
std::string WriteTemporary(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  const std::string path =
      folder + "/.LTMP." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return {};
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  // Readable by every program that checks the lock, whatever the umask.
  const bool written = ::fchmod(fd, 0644) == 0 && ::write(fd, text, length) == length;
  const int error = errno;
  ::close(fd);
  if (written) return path;
  ::unlink(path.c_str());
  errno = error;
  return {};
}

}  // namespace

std::string LockFileName(const std::string& device) {
  std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  for (char& c : name)
    if (c == '/') c = '_';
  return "LCK.." + name;
}

std::optional<int> LockHolderPid(const std::string& device, const std::string& lockFolder) {
  const int pid = ReadLockPid(PathOf(lockFolder, device));
  if (pid == static_cast<int>(::getpid()) || !ProcessLives(pid)) return std::nullopt;
  return pid;
}

PortLock::State PortLock::Fail(const std::string& what, int error) {
  problem_ = what + ": " + std::strerror(error);
  return state_ = State::Unavailable;
}

PortLock::State PortLock::Acquire(const std::string& device) {
  if (state_ == State::Held && device == device_) return state_;
  Release();
  device_ = device;
  otherPid_ = 0;
  problem_.clear();
  const std::string path = PathOf(folder_, device);
  {
    std::lock_guard<std::mutex> lock(gHeldMutex);
    if (!gHeld.insert(path).second) {
      otherPid_ = static_cast<int>(::getpid());
      return state_ = State::HeldByOther;
    }
  }
  const State state = TakeFile(path);
  if (state != State::Held) {
    std::lock_guard<std::mutex> lock(gHeldMutex);
    gHeld.erase(path);
  }
  return state;
}

PortLock::State PortLock::TakeFile(const std::string& path) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string temporary = WriteTemporary(folder_);
    if (temporary.empty()) return Fail("cannot make a lock file in " + folder_, errno);
    const bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
    const int error = errno;
    ::unlink(temporary.c_str());
    if (linked) {
      path_ = path;
      return state_ = State::Held;
    }
    if (error != EEXIST) return Fail("cannot make " + path, error);
    const int pid = ReadLockPid(path);
    if (pid == static_cast<int>(::getpid())) {
      path_ = path;
      return state_ = State::Held;
    }
    if (ProcessLives(pid)) {
      otherPid_ = pid;
      return state_ = State::HeldByOther;
    }
    // Stale: its process has ended, or it names none.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      return Fail("cannot remove the stale " + path, errno);
  }
  return Fail("cannot take " + path, EAGAIN);
}

void PortLock::Release() {
  if (state_ == State::Held) {
    if (ReadLockPid(path_) == static_cast<int>(::getpid())) ::unlink(path_.c_str());
    std::lock_guard<std::mutex> lock(gHeldMutex);
    gHeld.erase(path_);
  }
  state_ = State::Free;
  path_.clear();
}

}  // namespace platform
