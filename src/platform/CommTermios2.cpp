#include "platform/CommTermios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <algorithm>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace platform {

Termios2Flags CustomRateFlags(const TermiosFields& fields, uint32_t baud) {
  Termios2Flags flags;
  flags.iflag = fields.iflag;
  flags.oflag = fields.oflag;
  flags.cflag = fields.cflag & ~(CBAUD | (CBAUD << IBSHIFT));
  flags.cflag |= BOTHER | (BOTHER << IBSHIFT);
  flags.lflag = fields.lflag;
  flags.ispeed = baud;
  flags.ospeed = baud;
  return flags;
}

bool TakesRatesFromSpeedFields(uint32_t cflag) {
  return (cflag & CBAUD) == BOTHER && ((cflag >> IBSHIFT) & CBAUD) == BOTHER;
}

bool SetTermiosWithCustomRate(int fd, const TermiosFields& fields, uint32_t baud) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  const Termios2Flags flags = CustomRateFlags(fields, baud);
  settings.c_iflag = flags.iflag;
  settings.c_oflag = flags.oflag;
  settings.c_cflag = flags.cflag;
  settings.c_lflag = flags.lflag;
  // The control characters sit at the same indexes in both records.
  std::memcpy(settings.c_cc, fields.cc, std::min<size_t>(fields.ccCount, sizeof settings.c_cc));
  settings.c_ispeed = flags.ispeed;
  settings.c_ospeed = flags.ospeed;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

uint32_t GetDriverBaudRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace platform
