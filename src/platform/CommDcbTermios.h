#pragma once

// The line settings record (DCB) in the terminal driver's terms: termios
// flags, the rate (a standard Bnnn speed, or a custom rate that only
// termios2 can set, CommTermios2.h) and the modem lines DTR and RTS. Pure
// functions: CommPort applies what they give, tests check them row by row.

#include <termios.h>

#include "platform/CommTypes.h"

namespace platform {

// A record the driver can take: a rate, 5..8 data bits, a known parity and
// stop-bit value, 1.5 stop bits only with 5 data bits and 2 only with more.
bool ValidDcb(const CommDcb& dcb);

// Puts the record's framing, parity checking and flow control into `t` and
// makes it raw (no echo, no line editing, no signals, no output processing,
// a read returns from the first byte). The rate is left alone.
// Parity checking (fParity) marks errors and breaks in the data (PARMRK).
// CTS output flow and RTS handshake both mean CRTSCTS. DSR flow, DSR
// sensitivity, continue-on-XOFF, the XON/XOFF limits and the error and
// NUL rules have no termios flag; the read side applies the last two.
void ApplyDcbToTermios(const CommDcb& dcb, termios& t);

// The Bnnn constant of a rate; false for a rate only termios2 can set.
bool StandardSpeed(uint32_t baud, speed_t* speed);

// The record that describes settings found on a device running at `baud`:
// DTR and RTS count as enabled, CRTSCTS as CTS flow with RTS handshake.
CommDcb DcbFromTermios(const termios& t, uint32_t baud);

// The modem-line bits (TIOCM_DTR, TIOCM_RTS) a record raises and lowers:
// enabled or handshake raises a line, disabled (and RTS toggle) lowers it.
struct ModemLineChange {
  int raise = 0;
  int lower = 0;
};
ModemLineChange ModemLinesFor(const CommDcb& dcb);

}  // namespace platform
