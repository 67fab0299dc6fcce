#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Rates that the classic termios speeds cannot express go through the
// termios2 interface (BOTHER). It lives in a file of its own because the
// kernel's termios2 header cannot be included beside <termios.h>.

// The fields of <termios.h> settings that the termios2 record shares.
struct TermiosFields {
  uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
  const uint8_t* cc = nullptr;  // control characters, ccCount of them
  size_t ccCount = 0;
};

// The flags and speeds of the termios2 record that the settings and a
// custom rate make: the rate bits of cflag say "other rate" (BOTHER) for
// output and input, and the rate goes in the speed fields.
struct Termios2Flags {
  uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
  uint32_t ispeed = 0, ospeed = 0;
};
Termios2Flags CustomRateFlags(const TermiosFields& fields, uint32_t baud);
// True when a termios2 cflag takes both rates from the speed fields.
bool TakesRatesFromSpeedFields(uint32_t cflag);

// Applies the settings together with a custom rate in one call, so that
// either all of them take effect or none does.
bool SetTermiosWithCustomRate(int fd, const TermiosFields& fields, uint32_t baud);
// The output rate the driver runs at, custom or not; 0 on failure.
uint32_t GetDriverBaudRate(int fd);

}  // namespace platform
