#include "platform/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

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

// The processes other than this one that have each device of `ids` open,
// in one pass over `procRoot`.
std::vector<std::vector<PortHolder>> ScanProc(const std::string& procRoot,
                                              const std::vector<DeviceId>& ids) {
  std::vector<std::vector<PortHolder>> holders(ids.size());
  const int self = static_cast<int>(getpid());
  DirHandle dir{opendir(procRoot.c_str())};
  if (!dir) return holders;
  while (const dirent* entry = readdir(dir.get())) {
    if (!IsNumber(entry->d_name)) continue;
    const int pid = std::atoi(entry->d_name);
    if (pid == self) continue;
    const std::string processDir = procRoot + "/" + entry->d_name;
    std::vector<Seen> seen(ids.size());
    ScanProcess(processDir, ids, seen);
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (seen[i].holds && !seen[i].farEnd)
        holders[i].push_back({pid, FirstLine(processDir + "/comm")});
  }
  return holders;
}

// A pass over /proc stats every descriptor of every process: tens of
// milliseconds on a busy machine. Threads that ask at once (sixteen ports
// opened together) share passes: a thread that asks while a pass runs waits
// for it to end and joins the next, which serves everyone waiting. Each
// answer comes from a pass that began after its question.
class SharedProcPasses {
 public:
  std::vector<std::vector<PortHolder>> Scan(const std::string& procRoot,
                                            const std::vector<DeviceId>& ids) {
    Request mine{procRoot, ids, {}, false};
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.push_back(&mine);
    while (!mine.done) {
      if (running_) {
        changed_.wait(lock);
        continue;
      }
      running_ = true;
      std::vector<Request*> batch;
      batch.swap(waiting_);
      lock.unlock();
      Serve(batch);
      lock.lock();
      for (Request* request : batch) request->done = true;
      running_ = false;
      changed_.notify_all();
    }
    return std::move(mine.found);
  }

 private:
  struct Request {
    const std::string& procRoot;
    const std::vector<DeviceId>& ids;
    std::vector<std::vector<PortHolder>> found;
    bool done;
  };

  // One pass per /proc folder asked about (tests give their own).
  static void Serve(const std::vector<Request*>& batch) {
    std::vector<bool> served(batch.size());
    for (std::size_t first = 0; first < batch.size(); ++first) {
      if (served[first]) continue;
      std::vector<DeviceId> ids;
      std::vector<Request*> sharing;
      for (std::size_t i = first; i < batch.size(); ++i) {
        if (served[i] || batch[i]->procRoot != batch[first]->procRoot) continue;
        served[i] = true;
        sharing.push_back(batch[i]);
        ids.insert(ids.end(), batch[i]->ids.begin(), batch[i]->ids.end());
      }
      std::vector<std::vector<PortHolder>> found = ScanProc(batch[first]->procRoot, ids);
      auto next = found.begin();
      for (Request* request : sharing) {
        request->found.assign(std::make_move_iterator(next),
                              std::make_move_iterator(next + std::ptrdiff_t(request->ids.size())));
        next += std::ptrdiff_t(request->ids.size());
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  std::vector<Request*> waiting_;
};

}  // namespace

std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(const std::vector<std::string>& devices,
                                                           const std::string& procRoot,
                                                           const std::string& lockFolder) {
  static SharedProcPasses passes;
  std::vector<DeviceId> ids;
  std::vector<std::size_t> existing;  // the index of each id in `devices`
  for (std::size_t i = 0; i < devices.size(); ++i) {
    DeviceId id;
    if (!IdentifyDevice(devices[i], &id)) continue;
    ids.push_back(id);
    existing.push_back(i);
  }
  std::vector<std::vector<PortHolder>> holders(devices.size());
  if (ids.empty()) return holders;
  std::vector<std::vector<PortHolder>> found = passes.Scan(procRoot, ids);
  for (std::size_t k = 0; k < existing.size(); ++k) holders[existing[k]] = std::move(found[k]);
  // A lock file names the device by its own node, whatever link led to it.
  for (const std::size_t i : existing) {
    char real[PATH_MAX];
    if (!realpath(devices[i].c_str(), real)) continue;
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
