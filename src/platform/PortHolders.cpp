#include "platform/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <memory>

namespace platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text)
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  return true;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The pty index a master descriptor serves (fdinfo's "tty-index"), or -1.
int MasterIndex(const std::string& fdinfoPath) {
  std::ifstream in(fdinfoPath);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("tty-index:", 0) == 0) return std::atoi(line.c_str() + 10);
  }
  return -1;
}

// The pty multiplexer, /dev/ptmx or /dev/pts/ptmx: a master side.
bool IsPtmx(const struct stat& st) {
  return S_ISCHR(st.st_mode) && gnu_dev_major(st.st_rdev) == 5 && gnu_dev_minor(st.st_rdev) == 2;
}

// What identifies the device: a character device by its number (any path to
// it counts), anything else by its inode.
struct DeviceId {
  bool isChar = false;
  dev_t rdev = 0, dev = 0;
  ino_t ino = 0;
  int ptyIndex = -1;  // the slave's index when the device is a pty slave

  bool Matches(const struct stat& st) const {
    if (isChar) return S_ISCHR(st.st_mode) && st.st_rdev == rdev;
    return st.st_dev == dev && st.st_ino == ino;
  }
};

bool IdentifyDevice(const std::string& device, DeviceId* id) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return false;
  id->isChar = S_ISCHR(st.st_mode);
  id->rdev = st.st_rdev;
  id->dev = st.st_dev;
  id->ino = st.st_ino;
  // Unix98 pty slaves have majors 136..143.
  const unsigned major = gnu_dev_major(st.st_rdev);
  if (id->isChar && major >= 136 && major <= 143)
    id->ptyIndex = static_cast<int>((major - 136) * 256 + gnu_dev_minor(st.st_rdev));
  return true;
}

// Whether the process in `processDir` has the device open, and whether it
// holds the master of the device's pty. Each descriptor is stat'ed through
// its fd link relative to the open folder: cheaper than reading the link's
// text, and a device is known by its number whatever path opened it.
void ScanProcess(const std::string& processDir, const DeviceId& id, bool* holds, bool* farEnd) {
  DirHandle dir(opendir((processDir + "/fd").c_str()));
  if (!dir) return;
  const int dirFd = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat st {};
    if (fstatat(dirFd, entry->d_name, &st, 0) != 0) continue;
    if (id.ptyIndex >= 0 && IsPtmx(st) &&
        MasterIndex(processDir + "/fdinfo/" + entry->d_name) == id.ptyIndex) {
      *farEnd = true;
      continue;
    }
    if (id.Matches(st)) *holds = true;
  }
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& device, const std::string& procRoot) {
  std::vector<PortHolder> holders;
  DeviceId id;
  if (!IdentifyDevice(device, &id)) return holders;
  DirHandle dir(opendir(procRoot.c_str()));
  if (!dir) return holders;
  const int self = static_cast<int>(getpid());
  while (const dirent* entry = readdir(dir.get())) {
    if (!IsNumber(entry->d_name)) continue;
    const int pid = std::atoi(entry->d_name);
    if (pid == self) continue;
    const std::string processDir = procRoot + "/" + entry->d_name;
    bool holds = false, farEnd = false;
    ScanProcess(processDir, id, &holds, &farEnd);
    if (holds && !farEnd) holders.push_back({pid, FirstLine(processDir + "/comm")});
  }
  return holders;
}

}  // namespace platform
