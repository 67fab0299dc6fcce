#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PtyPort.h"

namespace convsim {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/convsim-pty-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A simulator killed with SIGKILL leaves its link; the terminal it pointed at
// is then given to the next simulator. That one removes such links at start,
// and nothing else.
TEST(PtyPort, RemovesOnlyTheLinksToItsOwnTerminal) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  PtyPort port;
  PtyPort other;
  std::string error;
  ASSERT_TRUE(port.Open(error)) << error;
  ASSERT_TRUE(other.Open(error)) << error;
  const fs::path ports = folder.path() / "sys" / "ports";
  fs::create_directories(ports);
  const std::string mine = port.TerminalPath();
  const std::string samePtyOtherPath = "/dev/pts/../pts/" + fs::path(mine).filename().string();

  struct Entry {
    const char* name;
    std::string target;  // empty: a regular file, not a link
    bool removed;
  };
  const Entry entries[] = {
      {"com32", mine, true},
      {"com33", samePtyOtherPath, true},
      {"com4", other.TerminalPath(), false},
      {"com5", "/dev/null", false},
      {"com6", "/dev/pts/987654", false},  // dangling: Link reclaims it, not this
      {"com7", "", false},
  };
  for (const Entry& entry : entries) {
    if (entry.target.empty())
      std::ofstream(ports / entry.name) << mine;
    else
      fs::create_symlink(entry.target, ports / entry.name);
  }

  std::vector<std::string> removed = port.RemoveLinksToTerminal(folder.path().string());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{"com32", "com33"}));
  for (const Entry& entry : entries)
    EXPECT_EQ(fs::exists(fs::symlink_status(ports / entry.name)), !entry.removed) << entry.name;

  // The next link takes the first free number.
  EXPECT_EQ(port.Link(folder.path().string(), 0, false, error), 1) << error;
  EXPECT_EQ(fs::read_symlink(ports / "com1"), mine);
}

}  // namespace
}  // namespace convsim
