#include "support/CommPseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::unique_ptr<CommPseudoTerminal> CommPseudoTerminal::Create() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0) return nullptr;
  char name[128];
  termios t{};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0 ||
      tcgetattr(master, &t) != 0) {
    close(master);
    return nullptr;
  }
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);
  return std::unique_ptr<CommPseudoTerminal>(new CommPseudoTerminal(master, name));
}

CommPseudoTerminal::CommPseudoTerminal(int master, std::string slavePath)
    : master_(master), slavePath_(std::move(slavePath)) {}

CommPseudoTerminal::~CommPseudoTerminal() {
  CloseMaster();
}

void CommPseudoTerminal::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool CommPseudoTerminal::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = write(master_, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd p{master_, POLLOUT, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
  }
  return true;
}

long CommPseudoTerminal::Read(void* data, size_t size, int timeoutMs) {
  pollfd p{master_, POLLIN, 0};
  const int ready = poll(&p, 1, timeoutMs);
  if (ready == 0) return 0;
  if (ready < 0) return -1;
  const ssize_t n = read(master_, data, size);
  if (n < 0 && errno == EAGAIN) return 0;
  return n > 0 ? n : -1;
}

size_t CommPseudoTerminal::ReadExactly(void* data, size_t size, int timeoutMs) {
  auto* bytes = static_cast<unsigned char*>(data);
  size_t got = 0;
  while (got < size) {
    const long n = Read(bytes + got, size - got, timeoutMs);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace platform
