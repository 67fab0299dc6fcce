#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>

extern char** environ;

namespace testing_support {

// A plain program ("sleep") that has a device open on its standard input,
// without any lock, as a terminal program that started first would. The
// device is open once the constructor returns; the process ends with the
// object.
class HolderProcess {
 public:
  explicit HolderProcess(const std::string& device) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, device.c_str(), O_RDWR | O_NOCTTY, 0);
    char program[] = "sleep", seconds[] = "600";
    char* argv[] = {program, seconds, nullptr};
    if (posix_spawnp(&pid_, "sleep", &actions, nullptr, argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~HolderProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  // 0 when the process could not be started.
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

}  // namespace testing_support
