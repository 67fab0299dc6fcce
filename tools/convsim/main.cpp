// convsim: a simulated converter on a pseudo-terminal. It answers the tool's
// command set from its three records, with switchable faults, and logs every
// frame it receives.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "Control.h"
#include "Converter.h"
#include "LineSplitter.h"
#include "Options.h"
#include "PtyPort.h"
#include "RequestAssembler.h"
#include "platform/ProgramFolder.h"

namespace convsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kControlFilePoll{100};
// Output the tool does not read is dropped beyond this, so a stalled reader
// cannot make the simulator grow without bound.
constexpr std::size_t kMaxQueuedBytes = 64 * 1024;

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const unsigned char byte = static_cast<unsigned char>(signal);
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignals(std::string& error) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  // A background job reading its terminal gets EIO instead of being stopped.
  signal(SIGTTIN, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1000000);
  return text;
}

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  char hex[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
    text += hex;
  }
  return text;
}

class Simulator {
 public:
  Simulator(const Options& options, PtyPort& port, std::FILE* log)
      : options_(options), port_(port), log_(log) {}

  bool ApplyStartupOptions(std::string& error);
  bool OpenControlFile(std::string& error);
  int Run();
  // One line of the frame log, with its time stamp.
  void Log(const std::string& line);

 private:
  struct Queued {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
  };

  void Say(const std::string& text);
  void ReadFromTool();
  void HandleEvents(const std::vector<AssemblerEvent>& events);
  void Schedule(const Outcome& outcome);
  bool WriteDue();
  void ReadStdin();
  void PollControlFile();
  void RunControl(const std::string& line);
  int PollTimeoutMs() const;

  const Options& options_;
  PtyPort& port_;
  std::FILE* log_;
  Converter converter_;
  RequestAssembler assembler_;
  std::deque<Queued> queue_;
  std::size_t queuedBytes_ = 0;
  LineSplitter stdinLines_;
  LineSplitter controlLines_;
  bool stdinOpen_ = true;
  off_t controlOffset_ = 0;
  Clock::time_point masterQuietUntil_{};
  bool quit_ = false;
};

void Simulator::Log(const std::string& line) {
  std::fprintf(log_, "%s %s\n", Timestamp().c_str(), line.c_str());
  std::fflush(log_);
}

void Simulator::Say(const std::string& text) {
  if (text.empty()) return;
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

bool Simulator::ApplyStartupOptions(std::string& error) {
  converter_.SetStrict(options_.strict);
  if (options_.version) converter_.SetVersion(*options_.version);
  for (const auto& line : options_.faultLines) {
    const ControlResult result = RunControlLine(converter_, line);
    if (!result.ok) {
      error = "--fault: " + result.text;
      return false;
    }
  }
  return true;
}

bool Simulator::OpenControlFile(std::string& error) {
  if (options_.controlFile.empty()) return true;
  const int fd = open(options_.controlFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) {
    error = "cannot open the control file " + options_.controlFile + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  fstat(fd, &st);
  controlOffset_ = st.st_size;  // only lines appended from now on count
  close(fd);
  return true;
}

void Simulator::RunControl(const std::string& line) {
  const ControlResult result = RunControlLine(converter_, line);
  Say(result.text);
  if (!result.text.empty() && result.text.find('\n') == std::string::npos)
    Log("control: " + result.text);
  if (result.quit) quit_ = true;
}

void Simulator::ReadStdin() {
  char buffer[1024];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n > 0) {
    stdinLines_.Feed(buffer, static_cast<std::size_t>(n),
                     [this](const std::string& line) { RunControl(line); });
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    stdinOpen_ = false;  // keep serving without a console
  }
}

void Simulator::PollControlFile() {
  if (options_.controlFile.empty()) return;
  const int fd = open(options_.controlFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    if (st.st_size < controlOffset_) controlOffset_ = 0;  // truncated: start over
    char buffer[4096];
    ssize_t n;
    while (controlOffset_ < st.st_size &&
           (n = pread(fd, buffer, sizeof buffer, controlOffset_)) > 0) {
      controlOffset_ += n;
      controlLines_.Feed(buffer, static_cast<std::size_t>(n),
                         [this](const std::string& line) { RunControl(line); });
    }
  }
  close(fd);
}

void Simulator::ReadFromTool() {
  std::uint8_t buffer[4096];
  const ssize_t n = read(port_.MasterFd(), buffer, sizeof buffer);
  if (n > 0) {
    std::vector<AssemblerEvent> events;
    assembler_.Feed({buffer, static_cast<std::size_t>(n)}, events);
    HandleEvents(events);
  } else if (n < 0 && errno == EIO) {
    // No terminal side open: wait a moment instead of spinning on the hang-up.
    masterQuietUntil_ = Clock::now() + kControlFilePoll;
  }
}

void Simulator::HandleEvents(const std::vector<AssemblerEvent>& events) {
  for (const auto& event : events) {
    switch (event.kind) {
      case AssemblerEvent::Kind::kDiscarded:
        Log("skipped " + std::to_string(event.bytes.size()) +
            " byte(s): " + Hex(event.bytes.data(), event.bytes.size()));
        break;
      case AssemblerEvent::Kind::kBadCrc:
        Log("bad checksum " + Hex(event.frame.data(), event.frame.size()));
        break;
      case AssemblerEvent::Kind::kFrame: {
        const std::uint16_t code = protocol::FrameCode(event.frame);
        Log("rx " + Hex(event.frame.data(), event.frame.size()) + "  " + CommandLabel(code));
        const Outcome outcome = converter_.Handle(event.frame);
        Log("   " + CommandLabel(code) + ": " + outcome.note);
        Schedule(outcome);
        break;
      }
    }
  }
}

void Simulator::Schedule(const Outcome& outcome) {
  // Replies leave in request order; a delayed reply holds back later ones.
  Clock::time_point due = Clock::now();
  if (!queue_.empty() && queue_.back().due > due) due = queue_.back().due;
  for (const auto& emission : outcome.emissions) {
    due += emission.wait;
    if (queuedBytes_ + emission.bytes.size() > kMaxQueuedBytes) {
      Log("output dropped: the tool is not reading");
      return;
    }
    queuedBytes_ += emission.bytes.size();
    queue_.push_back({due, emission.bytes, 0});
  }
}

// Writes what is due; false when the terminal cannot take more now.
bool Simulator::WriteDue() {
  while (!queue_.empty() && queue_.front().due <= Clock::now()) {
    Queued& item = queue_.front();
    const ssize_t n =
        write(port_.MasterFd(), item.bytes.data() + item.sent, item.bytes.size() - item.sent);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return false;
      Log(std::string("write failed: ") + std::strerror(errno));
      queuedBytes_ -= item.bytes.size();
      queue_.pop_front();
      continue;
    }
    item.sent += static_cast<std::size_t>(n);
    if (item.sent < item.bytes.size()) return false;
    Log("tx " + Hex(item.bytes.data(), item.bytes.size()));
    queuedBytes_ -= item.bytes.size();
    queue_.pop_front();
  }
  return true;
}

int Simulator::PollTimeoutMs() const {
  milliseconds timeout = options_.controlFile.empty() ? milliseconds(-1) : kControlFilePoll;
  const auto now = Clock::now();
  auto consider = [&](Clock::time_point when) {
    const auto wait = std::chrono::ceil<milliseconds>(when - now);
    const milliseconds bounded = wait.count() < 0 ? milliseconds(0) : wait;
    if (timeout.count() < 0 || bounded < timeout) timeout = bounded;
  };
  if (!queue_.empty()) consider(queue_.front().due);
  if (masterQuietUntil_ > now) consider(masterQuietUntil_);
  return static_cast<int>(timeout.count());
}

int Simulator::Run() {
  while (!quit_) {
    const bool writable = WriteDue();
    const bool masterQuiet = masterQuietUntil_ > Clock::now();
    pollfd fds[3] = {
        {signalPipe[0], POLLIN, 0},
        {masterQuiet ? -1 : port_.MasterFd(), static_cast<short>(POLLIN | (writable ? 0 : POLLOUT)),
         0},
        {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0},
    };
    const int ready = poll(fds, 3, PollTimeoutMs());
    if (ready < 0 && errno != EINTR) {
      Log(std::string("poll failed: ") + std::strerror(errno));
      return 1;
    }
    if (fds[0].revents & POLLIN) {
      unsigned char sig = 0;
      [[maybe_unused]] const ssize_t n = read(signalPipe[0], &sig, 1);
      Log("signal " + std::to_string(sig) + ": stopping");
      return 0;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadFromTool();
    if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) ReadStdin();
    PollControlFile();
  }
  return 0;
}

std::FILE* OpenLog(const std::string& path, std::string& error) {
  if (path.empty()) return stderr;
  std::FILE* file = std::fopen(path.c_str(), "ae");
  if (!file) error = "cannot open the log file " + path + ": " + std::strerror(errno);
  return file;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

int Fail(const std::string& error) {
  std::fprintf(stderr, "convsim: %s\n", error.c_str());
  return 1;
}

}  // namespace
}  // namespace convsim

int main(int argc, char** argv) {
  using namespace convsim;
  Options options;
  std::string error;
  if (!ParseOptions(Arguments(argc, argv), options, error)) {
    std::fprintf(stderr, "convsim: %s\n\n%s", error.c_str(), Usage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", Usage().c_str());
    return 0;
  }
  if (options.programDir.empty()) {
    if (const QString problem = platform::ProgramFolderProblem(); !problem.isEmpty())
      return Fail(problem.toStdString());
    options.programDir = platform::ProgramFolder().toStdString();
  }
  std::FILE* log = OpenLog(options.logFile, error);
  if (!log) return Fail(error);

  PtyPort port;
  Simulator simulator(options, port, log);
  if (!simulator.ApplyStartupOptions(error) || !simulator.OpenControlFile(error) ||
      !InstallSignals(error) || !port.Open(error))
    return Fail(error);
  for (const std::string& name : port.RemoveLinksToTerminal(options.programDir))
    simulator.Log("removed sys/ports/" + name + ": a link to " + port.TerminalPath() +
                  " left by a simulator that ended without removing it");
  const int com = port.Link(options.programDir, options.com, options.replace, error);
  if (com == 0) return Fail(error);

  std::printf("convsim: serving COM%d (%s)\n", com, port.TerminalPath().c_str());
  std::fflush(stdout);
  const int status = simulator.Run();
  port.Unlink();
  if (log != stderr) std::fclose(log);
  return status;
}
