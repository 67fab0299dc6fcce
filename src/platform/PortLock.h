#pragma once

// Lock files in the UUCP convention that serial programs on Linux share
// (minicom, picocom, cu, ModemManager): /run/lock/LCK..<device> holds the
// process id of the program that holds the device, in the HDB form: ten
// characters, right-aligned, and a newline. A lock file whose process has
// ended is stale and is taken over.
//
// quillon-cli holds the lock of a port for a whole --wait loop, also while
// the port is closed between two converters; FindPortHolders (PortHolders.h)
// counts a lock file's live process as a holder, so an open, `find` and the
// reason a port will not open all see it.
//
// Thread safety: the free functions may be called from any thread; a
// PortLock belongs to one thread.

#include <optional>
#include <string>

namespace platform {

inline constexpr const char* kLockFolder = "/run/lock";

// "LCK.." and the device's path below /dev with each '/' made '_':
// /dev/ttyUSB0 gives LCK..ttyUSB0, /dev/pts/3 gives LCK..pts_3. A device
// outside /dev is named by its whole path the same way.
std::string LockFileName(const std::string& device);

// The live process, other than this one, whose lock file names `device` (a
// real path); nothing when there is no lock file, when it holds this
// process's id or no number, or when its process has ended.
std::optional<int> LockHolderPid(const std::string& device,
                                 const std::string& lockFolder = kLockFolder);

// The lock file of one device, held while the object lives or until
// Release().
class PortLock {
 public:
  enum class State {
    Free,         // nothing held
    Held,         // this process holds the lock of Device()
    HeldByOther,  // OtherPid() holds it (this process's id: another PortLock here); nothing held
    Unavailable,  // no lock file can be made here (Problem() says why); nothing held
  };

  explicit PortLock(std::string lockFolder = kLockFolder) : folder_(std::move(lockFolder)) {}
  ~PortLock() { Release(); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock of `device`, a real path, releasing the one held before
  // when it named another device. A stale lock file is removed first. The
  // file is made whole beside the lock and linked into place, so that
  // another program never reads a half-written one. Another PortLock of
  // this process holding the device counts as another holder.
  State Acquire(const std::string& device);
  // Removes the lock file when it still holds this process's id.
  void Release();

  State Current() const { return state_; }
  const std::string& Device() const { return device_; }
  int OtherPid() const { return otherPid_; }
  const std::string& Problem() const { return problem_; }

 private:
  State Fail(const std::string& what, int error);
  State TakeFile(const std::string& path);

  std::string folder_;
  State state_ = State::Free;
  std::string device_;
  std::string path_;
  int otherPid_ = 0;
  std::string problem_;
};

}  // namespace platform
