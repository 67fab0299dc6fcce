#pragma once

class TComm;

namespace serial {

// Gives `comm` the converter's line: 115200 bit/s, 8 data bits, no parity,
// 1 stop bit, with parity checking on and no CTS or DSR output flow control
// (the window's values where they differ from the component's defaults).
// The window and quillon-cli both call it before opening the port; the port
// name is the caller's.
void UseConverterLine(TComm& comm);

}  // namespace serial
