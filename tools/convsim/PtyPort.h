#pragma once

#include <string>
#include <vector>

// The operating-system side of the simulator: the pseudo-terminal and the
// sys/ports/comN link that names it for the tool. Every Linux call of convsim
// outside its event loop lives here.
namespace convsim {

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Opens a pseudo-terminal in raw mode. The simulator keeps its own handle of
  // the terminal side open, so the line stays usable while no tool has it
  // open. Returns false and sets `error` on failure.
  bool Open(std::string& error);

  // Removes the links in <programDir>/sys/ports that point at this terminal
  // (by any path to it). A simulator that was killed leaves its link behind;
  // once its terminal is given to this simulator, the link names this line
  // under a COM number the operator did not choose. Only symbolic links to
  // this terminal are touched. Returns the names removed.
  std::vector<std::string> RemoveLinksToTerminal(const std::string& programDir);

  // Links <programDir>/sys/ports/comN to the terminal side. With `com` 0 the
  // first number from 1 up without an entry is taken. A link to a
  // pseudo-terminal that no longer exists (left by a killed simulator) counts
  // as free. Returns the number, or 0
  // with `error` set.
  int Link(const std::string& programDir, int com, bool replace, std::string& error);

  // Removes the link if it still points at this terminal. Safe to call twice.
  void Unlink();

  int MasterFd() const { return master_; }
  const std::string& TerminalPath() const { return terminalPath_; }

 private:
  int master_ = -1;
  int terminal_ = -1;
  std::string terminalPath_;
  std::string linkPath_;
};

}  // namespace convsim
