#include "platform/CommDcbTermios.h"

#include <sys/ioctl.h>

namespace platform {

namespace {

struct SpeedEntry {
  uint32_t baud;
  speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t ByteSizeFlag(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(uint8_t parity) {
  switch (parity) {
    case kOddParity:
      return PARENB | PARODD;
    case kEvenParity:
      return PARENB;
    case kMarkParity:
      return PARENB | CMSPAR | PARODD;
    case kSpaceParity:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

void MakeRaw(termios& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 INPCK | IGNPAR | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

bool StandardSpeed(uint32_t baud, speed_t* speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

bool ValidDcb(const CommDcb& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > kSpaceParity || dcb.StopBits > kTwoStopBits) return false;
  // 1.5 stop bits exist only with 5 data bits, and 2 stop bits only without.
  if (dcb.StopBits == kOne5StopBits && dcb.ByteSize != 5) return false;
  if (dcb.StopBits == kTwoStopBits && dcb.ByteSize == 5) return false;
  return true;
}

void ApplyDcbToTermios(const CommDcb& dcb, termios& t) {
  MakeRaw(t);
  t.c_cflag |= ByteSizeFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
  if (dcb.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;  // CSTOPB with CS5 is 1.5
  const uint32_t rts = dcb.Flags & kDcbRtsControlMask;
  if ((dcb.Flags & kDcbOutxCtsFlow) || rts == kDcbRtsControlHandshake) t.c_cflag |= CRTSCTS;
  if (dcb.Flags & kDcbParity) t.c_iflag |= INPCK | PARMRK;
  if (dcb.Flags & kDcbOutX) t.c_iflag |= IXON;
  if (dcb.Flags & kDcbInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

CommDcb DcbFromTermios(const termios& t, uint32_t baud) {
  CommDcb dcb;
  dcb.BaudRate = baud;
  dcb.Flags = kDcbBinary | kDcbDtrControlEnable | kDcbRtsControlEnable;
  if (t.c_iflag & INPCK) dcb.Flags |= kDcbParity;
  if (t.c_cflag & CRTSCTS) dcb.Flags |= kDcbOutxCtsFlow | kDcbRtsControlHandshake;
  if (t.c_iflag & IXON) dcb.Flags |= kDcbOutX;
  if (t.c_iflag & IXOFF) dcb.Flags |= kDcbInX;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = t.c_cflag & PARODD;
    if (t.c_cflag & CMSPAR)
      dcb.Parity = odd ? kMarkParity : kSpaceParity;
    else
      dcb.Parity = odd ? kOddParity : kEvenParity;
  }
  if (t.c_cflag & CSTOPB) dcb.StopBits = dcb.ByteSize == 5 ? kOne5StopBits : kTwoStopBits;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return dcb;
}

ModemLineChange ModemLinesFor(const CommDcb& dcb) {
  const uint32_t dtr = dcb.Flags & kDcbDtrControlMask;
  const uint32_t rts = dcb.Flags & kDcbRtsControlMask;
  ModemLineChange lines;
  (dtr == kDcbDtrControlEnable || dtr == kDcbDtrControlHandshake ? lines.raise : lines.lower) |=
      TIOCM_DTR;
  (rts == kDcbRtsControlEnable || rts == kDcbRtsControlHandshake ? lines.raise : lines.lower) |=
      TIOCM_RTS;
  return lines;
}

}  // namespace platform
