#pragma once

// The values and records of the comm calls, shared by the port and by the
// pieces it is made of (line events, PARMRK decoding, line settings): purge
// flags, line events (EV_*), error flags (CE_*), the line settings record
// (DCB) with its flag bits, and the time-outs record (COMMTIMEOUTS). The
// values are the Windows ones, so that the serial component reads as it was
// designed.

#include <cstdint>

namespace platform {

// Purge flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;
inline constexpr uint32_t kPurgeRxAbort = 0x0002;
inline constexpr uint32_t kPurgeTxClear = 0x0004;
inline constexpr uint32_t kPurgeRxClear = 0x0008;

// Line events.
inline constexpr uint32_t kEvRxChar = 0x0001;
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;
inline constexpr uint32_t kEvRing = 0x0100;

// Communication error flags.
inline constexpr uint32_t kCeRxOver = 0x0001;
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;

// Bits of CommDcb::Flags.
inline constexpr uint32_t kDcbBinary = 0x0001;
inline constexpr uint32_t kDcbParity = 0x0002;
inline constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t kDcbDtrControlMask = 0x0030;
inline constexpr uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr uint32_t kDcbOutX = 0x0100;
inline constexpr uint32_t kDcbInX = 0x0200;
inline constexpr uint32_t kDcbErrorChar = 0x0400;
inline constexpr uint32_t kDcbNull = 0x0800;
inline constexpr uint32_t kDcbRtsControlMask = 0x3000;
inline constexpr uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr uint32_t kDcbRtsControlToggle = 0x3000;
inline constexpr uint32_t kDcbAbortOnError = 0x4000;

// Parity values.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                         kSpaceParity = 4;
// Stop-bit values.
inline constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

// The line settings record.
struct CommDcb {
  uint32_t BaudRate = 9600;
  uint32_t Flags = kDcbBinary;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};

inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// The time-outs record, in milliseconds.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

}  // namespace platform
