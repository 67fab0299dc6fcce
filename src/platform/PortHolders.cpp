#include "platform/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
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

// For each device, whether the process in `processDir` has it open, and
// whether it holds the master of the device's pty. Each descriptor is
// stat'ed through its fd link relative to the open folder: cheaper than
// reading the link's text, and a device is known by its number whatever path
// opened it.
struct Seen {
  bool holds = false;
  bool farEnd = false;
};

void ScanProcess(const std::string& processDir, const std::vector<DeviceId>& ids,
                 std::vector<Seen>& seen) {
  DirHandle dir(opendir((processDir + "/fd").c_str()));
  if (!dir) return;
  const int dirFd = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat st {};
    if (fstatat(dirFd, entry->d_name, &st, 0) != 0) continue;
    const bool ptmx = IsPtmx(st);
    int masterIndex = -2;  // read once per descriptor, when a pty asks for it
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ptmx && ids[i].ptyIndex >= 0) {
        if (masterIndex == -2) masterIndex = MasterIndex(processDir + "/fdinfo/" + entry->d_name);
        if (masterIndex == ids[i].ptyIndex) seen[i].farEnd = true;
        continue;
      }
      if (ids[i].Matches(st)) seen[i].holds = true;
    }
  }
}

bool Listed(const std::vector<PortHolder>& holders, int pid) {
  for (const PortHolder& holder : holders)
    if (holder.pid == pid) return true;
  return false;
}

}  // namespace

std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(const std::vector<std::string>& devices,
                                                           const std::string& procRoot,
                                                           const std::string& lockFolder) {
  std::vector<std::vector<PortHolder>> holders(devices.size());
  std::vector<DeviceId> ids(devices.size());
  std::vector<bool> exists(devices.size());
  bool any = false;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    exists[i] = IdentifyDevice(devices[i], &ids[i]);
    any = any || exists[i];
  }
  if (!any) return holders;
  const int self = static_cast<int>(getpid());
  if (DirHandle dir{opendir(procRoot.c_str())}) {
    while (const dirent* entry = readdir(dir.get())) {
      if (!IsNumber(entry->d_name)) continue;
      const int pid = std::atoi(entry->d_name);
      if (pid == self) continue;
      const std::string processDir = procRoot + "/" + entry->d_name;
      std::vector<Seen> seen(devices.size());
      ScanProcess(processDir, ids, seen);
      for (std::size_t i = 0; i < devices.size(); ++i)
        if (exists[i] && seen[i].holds && !seen[i].farEnd)
          holders[i].push_back({pid, FirstLine(processDir + "/comm")});
    }
  }
  // A lock file names the device by its own node, whatever link led to it.
  for (std::size_t i = 0; i < devices.size(); ++i) {
    char real[PATH_MAX];
    if (!exists[i] || !realpath(devices[i].c_str(), real)) continue;
    const std::optional<int> locker = LockHolderPid(real, lockFolder);
    if (locker && !Listed(holders[i], *locker))
      holders[i].push_back(
          {*locker, FirstLine(procRoot + "/" + std::to_string(*locker) + "/comm")});
  }
  return holders;
}

std::vector<PortHolder> FindPortHolders(const std::string& device, const std::string& procRoot,
                                        const std::string& lockFolder) {
  return FindPortHoldersOfEach({device}, procRoot, lockFolder).front();
}

}  // namespace platform
