#include "platform/CommTermios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <algorithm>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace platform {

bool SetTermiosWithCustomRate(int fd, const TermiosFields& fields, uint32_t baud) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_iflag = fields.iflag;
  settings.c_oflag = fields.oflag;
  settings.c_cflag = fields.cflag & ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_lflag = fields.lflag;
  // The control characters sit at the same indexes in both records.
  std::memcpy(settings.c_cc, fields.cc, std::min<size_t>(fields.ccCount, sizeof settings.c_cc));
  settings.c_ispeed = baud;
  settings.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

uint32_t GetDriverBaudRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace platform
