// Runs the real convsim on a pseudo-terminal and talks to it through the
// sys/ports link, as the tool does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "protocol/FrameSearch.h"
#include "protocol/Records.h"
#include "support/ChildProcess.h"

namespace {

using namespace protocol;
using testing_support::ChildProcess;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Generous: the machine is shared and the build may be sanitised.
constexpr auto kDeadline = std::chrono::seconds(20);

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// The simulator program with these arguments.
std::unique_ptr<ChildProcess> StartConvsim(const std::vector<std::string>& args) {
  return std::make_unique<ChildProcess>(CONVSIM_PATH, args);
}

// The next line of its standard output, or "" at the deadline.
std::string ReadLine(ChildProcess& convsim) {
  return convsim.ReadLine().value_or(std::string());
}

// Sends a signal and returns the exit status, or -1.
int Stop(ChildProcess& convsim, int signal) {
  convsim.Signal(signal);
  const auto status = convsim.Wait();
  return status && status->exited ? status->code : -1;
}

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

  const auto convsim =
      StartConvsim({"--dir", folder.string(), "--com", "12", "--version", "7,8,20,25,3,14,2,1",
                    "--log", (folder / "convsim.log").string()});
  const std::string banner = ReadLine(*convsim);
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
    ASSERT_TRUE(convsim->Write("fault CMD_COM_GET refuse\n"));
    EXPECT_EQ(ReadLine(*convsim), "ok: fault CMD_COM_GET refuse 0x21");
    port.Send(BuildQueryFrame(CMD_COM_GET));
    const Bytes refused = port.Receive(FRAME_LENGTH);
    ASSERT_EQ(refused.size(), FRAME_LENGTH);
    EXPECT_EQ(refused[FRAME_OFS_STATUS], 0x21);
  }

  EXPECT_EQ(Stop(*convsim, SIGTERM), 0);
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

  const auto convsim =
      StartConvsim({"--dir", folder.string(), "--log", (folder / "convsim.log").string()});
  const std::string banner = ReadLine(*convsim);
  EXPECT_EQ(banner.rfind("convsim: serving COM2 (/dev/pts/", 0), 0u) << banner;
  EXPECT_EQ(fs::read_symlink(ports / "com1"), "/dev/null");

  EXPECT_EQ(Stop(*convsim, SIGINT), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "com2")));
  EXPECT_TRUE(fs::is_symlink(ports / "com1"));
  fs::remove_all(folder);
}

}  // namespace
