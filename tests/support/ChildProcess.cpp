#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testing_support {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The program's path: as given when it names a folder, else the first
// executable of that name on PATH. Looked up before fork(), where the child
// may only make async-signal-safe calls.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate =
        (end > start ? folders.substr(start, end - start) : ".") + '/' + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return program;
}

// Runs in the child between fork() and exec(): async-signal-safe calls only.
// Reports a failure as its errno on `status` and exits.
[[noreturn]] void ExecChild(const char* path, char* const argv[], pid_t parent, int in,
                            const char* stdinFile, int out, int err, int status) {
  int error = 0;
  // Ends with the test even when the test dies before it can end us.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(126);
  if (stdinFile) in = open(stdinFile, O_RDWR | O_NOCTTY);
  sigset_t none;
  sigemptyset(&none);
  if (in < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0 || sigprocmask(SIG_SETMASK, &none, nullptr) != 0) {
    error = errno;
  } else {
    execv(path, argv);
    error = errno;
  }
  [[maybe_unused]] const ssize_t written = write(status, &error, sizeof error);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
  Start(program, args, options);
}

void ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const Options& options) {
  const std::string path = ResolveProgram(program);
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Every end is close-on-exec: a child started by another thread at the
  // same time must not inherit them, or our end-of-output never comes.
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, status[2] = {-1, -1};
  const bool piped = (options.stdinFile.empty() ? pipe2(in, O_CLOEXEC) == 0 : true) &&
                     pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0 &&
                     pipe2(status, O_CLOEXEC) == 0;
  const pid_t parent = getpid();
  pid_t pid = piped ? fork() : -1;
  if (pid == 0)
    ExecChild(path.c_str(), argv.data(), parent, in[0],
              options.stdinFile.empty() ? nullptr : options.stdinFile.c_str(), out[1], err[1],
              status[1]);
  if (pid < 0) startError_ = std::string("cannot start ") + program + ": " + std::strerror(errno);
  for (int* end : {&in[0], &out[1], &err[1], &status[1]}) CloseFd(*end);
  in_ = in[1];
  out_.fd = out[0];
  err_.fd = err[0];

  if (pid > 0) {
    // The status pipe closes at the exec; an errno on it means no program.
    int error = 0;
    ssize_t n;
    while ((n = read(status[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n > 0) {
      startError_ = "cannot start " + path + ": " + std::strerror(error);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
  CloseFd(status[0]);
  if (pid < 0) {
    CloseFd(in_);
    CloseFd(out_.fd);
    CloseFd(err_.fd);
    return;
  }
  pid_ = pid;
  // Readable when the child ends. glibc 2.36's <sys/pidfd.h> lacks C linkage
  // for C++, hence the raw call. -1 on old kernels: Pump() then polls.
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  for (int fd : {out_.fd, err_.fd}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    Terminate();
    if (!Wait(kWait)) {
      Kill();
      Reap(true);
    }
  }
  CloseFd(in_);
  CloseFd(out_.fd);
  CloseFd(err_.fd);
  CloseFd(pidfd_);
}

bool ChildProcess::Write(std::string_view bytes) {
  if (in_ < 0) return false;
  // A child that has gone would end the test with SIGPIPE: held back in this
  // thread for the write, and taken if it came.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  bool ok = true;
  while (!bytes.empty()) {
    const ssize_t n = write(in_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      if (errno == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
      }
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

void ChildProcess::CloseInput() {
  CloseFd(in_);
}

std::optional<std::string> ChildProcess::ReadLine(Duration wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    if (const auto newline = out_.text.find('\n'); newline != std::string::npos) {
      std::string line = out_.text.substr(0, newline);
      out_.text.erase(0, newline + 1);
      return line;
    }
    if (out_.fd < 0 || Clock::now() >= deadline) return std::nullopt;
    Pump(deadline);
  }
}

void ChildProcess::Signal(int signal) {
  if (Running()) kill(pid_, signal);
}

void ChildProcess::Terminate() {
  Signal(SIGTERM);
}

void ChildProcess::Kill() {
  Signal(SIGKILL);
}

std::optional<ExitStatus> ChildProcess::Wait(Duration wait) {
  const auto deadline = Clock::now() + wait;
  while (Running() && Clock::now() < deadline) Pump(deadline);
  if (!status_) return std::nullopt;
  // Output written before the exit is in the pipes now.
  Drain(out_);
  Drain(err_);
  return status_;
}

void ChildProcess::Pump(Clock::time_point deadline) {
  pollfd fds[3];
  nfds_t count = 0;
  for (int fd : {out_.fd, err_.fd, Running() ? pidfd_ : -1})
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  const auto left = std::chrono::duration_cast<Duration>(deadline - Clock::now()).count();
  int timeout = left < 0 ? 0 : static_cast<int>(left);
  if (pidfd_ < 0 && Running()) timeout = std::min(timeout, 20);  // no pidfd: look again soon
  if (count == 0 && !Running()) return;
  if (poll(fds, count, timeout) < 0 && errno != EINTR) return;
  Drain(out_);
  Drain(err_);
  if (Running()) Reap(false);
}

void ChildProcess::Reap(bool block) {
  int raw = 0;
  pid_t done;
  while ((done = waitpid(pid_, &raw, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done != pid_) return;
  ExitStatus status;
  status.exited = WIFEXITED(raw);
  status.code = status.exited ? WEXITSTATUS(raw) : -1;
  status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  status_ = status;
  CloseFd(pidfd_);
}

void ChildProcess::Drain(Stream& stream) {
  char chunk[4096];
  while (stream.fd >= 0) {
    const ssize_t n = read(stream.fd, chunk, sizeof chunk);
    if (n > 0) {
      stream.text.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      CloseFd(stream.fd);
    } else if (errno == EAGAIN) {
      return;
    }
  }
}

}  // namespace testing_support
