#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_support {

// How a child ended: its exit code, or the signal that ended it.
struct ExitStatus {
  bool exited = false;  // by exit(), with `code`
  int code = -1;
  int signal = 0;  // the terminating signal when !exited

  bool ExitedWith(int expected) const { return exited && code == expected; }
};

// A program started by tests and benchmarks, with its standard input, output
// and error on pipes. Started with fork() and exec() rather than QProcess:
// Qt starts children with a vfork-style clone inside the uninstrumented
// library, after which ThreadSanitizer loses track of the parent's locks and
// reports every later hand-over between threads. fork() is intercepted and
// followed.
//
// The child gets SIGTERM when the process that started it dies, so a test
// that crashes does not leave its simulator running. Destroying the object
// ends the child: SIGTERM, then SIGKILL after a deadline.
class ChildProcess {
 public:
  using Duration = std::chrono::milliseconds;
  // Generous: the machine is shared and the build may be sanitised.
  static constexpr Duration kWait{20000};

  struct Options {
    // A file opened read-write as the child's standard input instead of a
    // pipe (a device the child should hold open).
    std::string stdinFile;
  };

  // `program` is a path, or a name looked up in PATH.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const Options& options);
  ChildProcess(const std::string& program, const std::vector<std::string>& args)
      : ChildProcess(program, args, Options{}) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True once the program runs: the exec succeeded.
  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The reason the program did not start, or "".
  const std::string& StartError() const { return startError_; }

  // Writes all of `bytes` to the child's standard input.
  bool Write(std::string_view bytes);
  void CloseInput();

  // The next line of standard output without its newline; nothing at the
  // deadline or at the end of the output.
  std::optional<std::string> ReadLine(Duration wait = kWait);

  void Signal(int signal);
  void Terminate();
  void Kill();

  // Waits for the child to end while collecting its output. Nothing at the
  // deadline (the child keeps running). Once it has ended, returns the same
  // status again.
  std::optional<ExitStatus> Wait(Duration wait = kWait);
  bool Running() const { return Started() && !status_; }

  // The output collected and not yet taken by ReadLine().
  std::string TakeOutput() { return std::exchange(out_.text, {}); }
  std::string TakeErrors() { return std::exchange(err_.text, {}); }

 private:
  // One of the child's output pipes and what came from it so far.
  struct Stream {
    int fd = -1;
    std::string text;
  };
  using Clock = std::chrono::steady_clock;

  void Start(const std::string& program, const std::vector<std::string>& args,
             const Options& options);
  // Reads what is ready on the open output pipes, waiting until `deadline`
  // for something to happen (output, end of output, or the child's end).
  void Pump(Clock::time_point deadline);
  void Reap(bool block);
  static void Drain(Stream& stream);

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int in_ = -1;
  Stream out_, err_;
  std::optional<ExitStatus> status_;
  std::string startError_;
};

}  // namespace testing_support
