#pragma once

#include <cstdint>

namespace platform {

// Rates that the classic termios speeds cannot express go through the
// termios2 interface (BOTHER). It lives in a file of its own because the
// kernel's termios2 header cannot be included beside <termios.h>.
bool SetCustomBaudRate(int fd, uint32_t baud);
// The output rate the driver runs at, custom or not; 0 on failure.
uint32_t GetDriverBaudRate(int fd);

}  // namespace platform
