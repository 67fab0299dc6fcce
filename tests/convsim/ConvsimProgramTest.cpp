// Runs the real convsim on a pseudo-terminal and talks to it through the
// sys/ports link, as the tool does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/FrameSearch.h"
#include "protocol/Records.h"

namespace {

using namespace protocol;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Generous: the machine is shared and the build may be sanitised.
constexpr auto kDeadline = std::chrono::seconds(20);

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

class ConvsimProcess {
 public:
  explicit ConvsimProcess(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      std::vector<char*> argv;
      static std::string exe = CONVSIM_PATH;
      argv.push_back(exe.data());
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }

  ~ConvsimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) close(stdin_);
    if (stdout_ >= 0) close(stdout_);
  }

  // The next line of its standard output, or "" at the deadline.
  std::string ReadLine() {
    const auto deadline = Clock::now() + kDeadline;
    for (;;) {
      if (const auto nl = buffered_.find('\n'); nl != std::string::npos) {
        std::string line = buffered_.substr(0, nl);
        buffered_.erase(0, nl + 1);
        return line;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, RemainingMs(deadline)) <= 0) return {};
      char chunk[256];
      const ssize_t n = read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffered_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  void WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Sends a signal and returns the exit status, or -1.
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    const pid_t done = waitpid(pid_, &status, 0);
    pid_ = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffered_;
};

class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }

  void Send(const Frame& frame) {
    ASSERT_EQ(write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  }

  // Collects bytes until `count` have arrived or the deadline passes.
  Bytes Receive(std::size_t count) {
    Bytes bytes;
    const auto deadline = Clock::now() + kDeadline;
    while (bytes.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, RemainingMs(deadline)) <= 0) break;
      std::uint8_t chunk[64];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

 private:
  int fd_;
};

TEST(ConvsimProgram, AnswersQueriesOnItsPortAndRemovesTheLinkOnTerm) {
  char folderTemplate[] = "/tmp/convsim-test-XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const fs::path folder = folderTemplate;

  ConvsimProcess convsim({"--dir", folder.string(), "--com", "12", "--version",
                          "7,8,20,25,3,14,2,1", "--log", (folder / "convsim.log").string()});
  const std::string banner = convsim.ReadLine();
  ASSERT_EQ(banner.rfind("convsim: serving COM12 (/dev/pts/", 0), 0u) << banner;
  const fs::path link = folder / "sys" / "ports" / "com12";
  ASSERT_TRUE(fs::is_symlink(link));

  {
    Port port(link.string());
    ASSERT_TRUE(port.IsOpen());
    port.Send(BuildQueryFrame(CMD_GET_VERSION));
    const Bytes reply = port.Receive(FRAME_LENGTH);
    const auto version = FindVersionReply(reply);
    ASSERT_TRUE(version) << "got " << reply.size() << " bytes";
    EXPECT_EQ(VersionRecord::FromReply(*version).BuildDateText(), "build20250314");
    EXPECT_EQ(VersionRecord::FromReply(*version).HardwareText(), "2.1");

    // A fault switched while it runs applies to the next request.
    convsim.WriteLine("fault CMD_COM_GET refuse");
    EXPECT_EQ(convsim.ReadLine(), "ok: fault CMD_COM_GET refuse 0x21");
    port.Send(BuildQueryFrame(CMD_COM_GET));
    const Bytes refused = port.Receive(FRAME_LENGTH);
    ASSERT_EQ(refused.size(), FRAME_LENGTH);
    EXPECT_EQ(refused[FRAME_OFS_STATUS], 0x21);
  }

  EXPECT_EQ(convsim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  fs::remove_all(folder);
}

TEST(ConvsimProgram, TakesTheFirstFreeNumberReclaimingOnlyDeadTerminalLinks) {
  char folderTemplate[] = "/tmp/convsim-test-XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const fs::path folder = folderTemplate;
  const fs::path ports = folder / "sys" / "ports";
  fs::create_directories(ports);
  fs::create_symlink("/dev/null", ports / "com1");        // someone's device: kept
  fs::create_symlink("/dev/pts/987654", ports / "com2");  // left by a killed simulator

  ConvsimProcess convsim({"--dir", folder.string(), "--log", (folder / "convsim.log").string()});
  const std::string banner = convsim.ReadLine();
  EXPECT_EQ(banner.rfind("convsim: serving COM2 (/dev/pts/", 0), 0u) << banner;
  EXPECT_EQ(fs::read_symlink(ports / "com1"), "/dev/null");

  EXPECT_EQ(convsim.Stop(SIGINT), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "com2")));
  EXPECT_TRUE(fs::is_symlink(ports / "com1"));
  fs::remove_all(folder);
}

}  // namespace
