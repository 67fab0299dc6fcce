#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// A pseudo-terminal pair: the slave is a port the program can open by path
// (or through a sys/ports/comN link); the master is the far end of the line,
// used by tests and benchmarks. The master is raw, so bytes pass unchanged in
// both directions.
class CommPseudoTerminal {
 public:
  // Null when no pseudo-terminal is available.
  static std::unique_ptr<CommPseudoTerminal> Create();
  ~CommPseudoTerminal();
  CommPseudoTerminal(const CommPseudoTerminal&) = delete;
  CommPseudoTerminal& operator=(const CommPseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Writes all bytes, waiting for room as needed; false on failure.
  bool Write(const void* data, size_t size);
  // Reads what is there, waiting up to timeoutMs for the first byte. Returns
  // the count, 0 on time-out, -1 when the slave side is closed or on failure.
  long Read(void* data, size_t size, int timeoutMs);
  // Reads exactly `size` bytes unless timeoutMs passes without progress.
  size_t ReadExactly(void* data, size_t size, int timeoutMs);
  // The far side hangs up.
  void CloseMaster();

 private:
  CommPseudoTerminal(int master, std::string slavePath);
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace platform
