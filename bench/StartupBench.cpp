// Start-up to the window shown: quillon-config against a bare Qt Widgets
// window (bench_bare_window), started alternately, several rounds, on an X
// server of our own (Xvfb) through Qt's xcb platform.
//
// A start is timed from the spawn of the process to the moment the X server
// maps its first top-level window: this benchmark watches the root window for
// MapNotify, so neither program carries any hook for it. The program maps its
// window in show(), after the whole of its creation (data module, language
// database, settings file, language pass), just before its event loop runs.
// Once mapped, the process is ended with SIGTERM.
//
// The program runs from a copy of its folder (executable, language files,
// language database and its key file) in a temporary folder under the current one, so that it
// reads and writes files on a real disk and the build tree stays untouched.
// "first start" removes the settings file before each start.
//
//   bench_startup [ROUNDS]     (default 9)
//
// Prints min / median / max in ms and the ratio of the medians to the bare
// window's; exits 1 when a program failed to show its window.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kDeadlineMs = 30000;
constexpr double kTargetRatio = 1.5;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int PidFd(pid_t pid) {
  return int(::syscall(SYS_pidfd_open, pid, 0));
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            bool quiet) {
  std::vector<std::string> env(extraEnv);
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    bool overridden = std::any_of(extraEnv.begin(), extraEnv.end(), [&](const std::string& x) {
      return x.compare(0, name.size() + 1, name + '=') == 0;
    });
    if (!overridden) env.push_back(entry);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void EndProcess(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// An X server of our own: Xvfb on the first free display, which it reports
// through -displayfd.
class VirtualDisplay {
 public:
  bool Start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                  "1024x768x24", "-nolisten", "tcp"},
                 {}, true);
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (pid_ < 0 || number.empty()) return false;
    name_ = ":" + number;
    return true;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) EndProcess(pid_);
  }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Watches the root window for top-level windows being mapped.
class MapWatcher {
 public:
  bool Connect(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return false;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_generic_error_t* error = xcb_request_check(
        connection_,
        xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask));
    free(error);
    return error == nullptr;
  }
  ~MapWatcher() {
    if (connection_) xcb_disconnect(connection_);
  }

  // Events that arrived before the process started belong to nobody.
  void Drain() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) free(event);
  }

  // Waits until a top-level window is mapped (true) or the process ends or
  // the deadline passes (false).
  bool WaitForMap(int pidFd, Clock::time_point start) {
    for (;;) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                      reinterpret_cast<xcb_map_notify_event_t*>(event)->event == root_;
        free(event);
        if (mapped) return true;
      }
      if (xcb_connection_has_error(connection_)) return false;
      int left = kDeadlineMs - int(MsSince(start));
      if (left <= 0) return false;
      pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {pidFd, POLLIN, 0}};
      if (::poll(fds, 2, left) < 0 && errno != EINTR) return false;
      if (fds[1].revents) return false;  // the process ended first
    }
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
};

struct Program {
  const char* label;
  std::string executable;
  fs::path settingsToRemove;  // empty: keep
  std::vector<double> times;
};

std::optional<double> TimedStart(MapWatcher& watcher, const std::string& display,
                                 const Program& program) {
  if (!program.settingsToRemove.empty()) fs::remove(program.settingsToRemove);
  watcher.Drain();
  Clock::time_point start = Clock::now();
  pid_t pid = Spawn({program.executable}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display}, true);
  if (pid < 0) return std::nullopt;
  int pidFd = PidFd(pid);
  bool shown = pidFd >= 0 && watcher.WaitForMap(pidFd, start);
  double ms = MsSince(start);
  if (pidFd >= 0) ::close(pidFd);
  EndProcess(pid);
  return shown ? std::optional<double>(ms) : std::nullopt;
}

// A copy of the program folder: executable, language files, language database.
fs::path CopyProgramFolder(const fs::path& programFolder) {
  char pattern[] = "startup-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return {};
  fs::path copy = fs::absolute(pattern);
  fs::create_directory(copy / "sys");
  fs::copy_file(programFolder / "quillon-config", copy / "quillon-config");
  for (const char* name : {"LangCHN.MUL", "LangENU.MUL", "sys/QNdata.adt", "sys/QNdata.adt.key"})
    fs::copy_file(programFolder / name, copy / name);
  return copy;
}

struct Figures {
  double min, median, max;
};

Figures Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
  VirtualDisplay display;
  if (!display.Start()) {
    std::fprintf(stderr, "bench_startup: cannot start Xvfb\n");
    return 1;
  }
  MapWatcher watcher;
  if (!watcher.Connect(display.Name())) {
    std::fprintf(stderr, "bench_startup: cannot watch display %s\n", display.Name().c_str());
    return 1;
  }
  fs::path folder;
  try {
    folder = CopyProgramFolder(fs::path(QUILLON_EXE).parent_path());
  } catch (const fs::filesystem_error& e) {
    std::fprintf(stderr, "bench_startup: %s\n", e.what());
  }
  if (folder.empty()) return 1;

  std::vector<Program> programs = {
      {"bare Qt Widgets window", BARE_WINDOW_EXE, {}, {}},
      {"quillon-config", (folder / "quillon-config").string(), {}, {}},
      {"quillon-config, first start",
       (folder / "quillon-config").string(),
       folder / "sys/System.dt",
       {}},
  };
  // One unmeasured start of each: the settings file exists afterwards, and
  // the libraries are in the page cache for every program alike.
  bool failed = false;
  for (const Program& program : programs) failed |= !TimedStart(watcher, display.Name(), program);
  for (int round = 0; round < rounds && !failed; ++round) {
    for (size_t i = 0; i < programs.size(); ++i) {
      Program& program = programs[(i + size_t(round)) % programs.size()];
      std::optional<double> ms = TimedStart(watcher, display.Name(), program);
      if (!ms) {
        std::fprintf(stderr, "bench_startup: %s showed no window\n", program.label);
        failed = true;
        break;
      }
      program.times.push_back(*ms);
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (failed) return 1;

  std::printf("Start-up to the window mapped (Xvfb %s, xcb), %d rounds, ms\n",
              display.Name().c_str(), rounds);
  std::printf("%-30s %8s %8s %8s  %s\n", "program", "min", "median", "max", "median / bare");
  const double bare = Summarise(programs[0].times).median;
  for (const Program& program : programs) {
    Figures f = Summarise(program.times);
    double ratio = f.median / bare;
    std::printf("%-30s %8.1f %8.1f %8.1f  %.2fx%s\n", program.label, f.min, f.median, f.max, ratio,
                &program == &programs[0] ? ""
                : ratio <= kTargetRatio  ? "  ok (<= 1.5x)"
                                         : "  OVER (<= 1.5x)");
  }
  return 0;
}
