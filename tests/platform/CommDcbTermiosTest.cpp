// The line settings record in the terminal driver's terms, one row per
// record: DCB fields in; termios flags, the rate (standard or termios2),
// DTR and RTS out; and the record read back from those flags.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "platform/CommDcbTermios.h"
#include "platform/CommTermios2.h"

namespace {

using namespace platform;

// A terminal as a shell leaves it: line editing, echo, CR/NL mapping,
// 7E2 at 9600 with hardware flow control.
termios CookedTerminal() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | BRKINT | IMAXBEL | IGNPAR | ISTRIP | INLCR | IGNCR;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL | B9600;
  t.c_lflag = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  return t;
}

constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kInputBits = INPCK | PARMRK | IXON | IXOFF;
constexpr speed_t kCustom = B0;  // a rate only termios2 can set

struct Row {
  const char* name;
  uint32_t baud;
  uint8_t byteSize, parity, stopBits;
  uint32_t flags;
  tcflag_t cflag;  // framing bits expected
  tcflag_t iflag;  // input bits expected
  speed_t speed;
  int raise, lower;  // TIOCM_ lines
};

constexpr uint32_t kBin = kDcbBinary, kDtr = kDcbDtrControlEnable, kRts = kDcbRtsControlEnable;

const Row kRows[] = {
    {"connect settings: 115200 8N1, parity checking, DTR and RTS on", 115200, 8, kNoParity,
     kOneStopBit, 0x1093, CS8, INPCK | PARMRK, B115200, TIOCM_DTR | TIOCM_RTS, 0},
    {"7E1 without checking", 9600, 7, kEvenParity, kOneStopBit, kBin | kDtr | kRts, CS7 | PARENB, 0,
     B9600, TIOCM_DTR | TIOCM_RTS, 0},
    {"7O2", 19200, 7, kOddParity, kTwoStopBits, kBin | kDtr | kRts, CS7 | PARENB | PARODD | CSTOPB,
     0, B19200, TIOCM_DTR | TIOCM_RTS, 0},
    {"5M1.5 (CSTOPB with CS5)", 300, 5, kMarkParity, kOne5StopBits, kBin,
     CS5 | PARENB | PARODD | CMSPAR | CSTOPB, 0, B300, 0, TIOCM_DTR | TIOCM_RTS},
    {"6S1 with checking", 4800, 6, kSpaceParity, kOneStopBit, kBin | kDcbParity | kDtr | kRts,
     CS6 | PARENB | CMSPAR, INPCK | PARMRK, B4800, TIOCM_DTR | TIOCM_RTS, 0},
    {"CTS output flow, DTR and RTS off", 57600, 8, kNoParity, kOneStopBit, kBin | kDcbOutxCtsFlow,
     CS8 | CRTSCTS, 0, B57600, 0, TIOCM_DTR | TIOCM_RTS},
    {"RTS and DTR handshake", 38400, 8, kNoParity, kOneStopBit,
     kBin | kDcbRtsControlHandshake | kDcbDtrControlHandshake, CS8 | CRTSCTS, 0, B38400,
     TIOCM_DTR | TIOCM_RTS, 0},
    {"RTS toggle lowers RTS, no hardware flow", 9600, 8, kNoParity, kOneStopBit,
     kBin | kDtr | kDcbRtsControlToggle, CS8, 0, B9600, TIOCM_DTR, TIOCM_RTS},
    {"XON/XOFF both ways", 9600, 8, kNoParity, kOneStopBit, kBin | kDtr | kRts | kDcbOutX | kDcbInX,
     CS8, IXON | IXOFF, B9600, TIOCM_DTR | TIOCM_RTS, 0},
    {"flags the driver has no flag for", 9600, 8, kNoParity, kOneStopBit,
     kBin | kDtr | kRts | kDcbOutxDsrFlow | kDcbDsrSensitivity | kDcbTxContinueOnXoff |
         kDcbErrorChar | kDcbNull | kDcbAbortOnError,
     CS8, 0, B9600, TIOCM_DTR | TIOCM_RTS, 0},
    {"custom rate 250000 8E1", 250000, 8, kEvenParity, kOneStopBit, kBin | kDtr | kRts,
     CS8 | PARENB, 0, kCustom, TIOCM_DTR | TIOCM_RTS, 0},
    {"custom rate 31250 8N2 with checking", 31250, 8, kNoParity, kTwoStopBits,
     kBin | kDcbParity | kDtr | kRts, CS8 | CSTOPB, INPCK | PARMRK, kCustom, TIOCM_DTR | TIOCM_RTS,
     0},
};

CommDcb DcbOf(const Row& row) {
  CommDcb dcb;
  dcb.BaudRate = row.baud;
  dcb.ByteSize = row.byteSize;
  dcb.Parity = row.parity;
  dcb.StopBits = row.stopBits;
  dcb.Flags = row.flags;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  return dcb;
}

TEST(CommDcbTermios, EachRecordBecomesTheDriverSettingsOfItsRow) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const CommDcb dcb = DcbOf(row);
    ASSERT_TRUE(ValidDcb(dcb));
    termios t = CookedTerminal();
    ApplyDcbToTermios(dcb, t);

    EXPECT_EQ(t.c_cflag & kFramingBits, row.cflag);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL) << "receiver on, modem control off";
    EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t{B9600}) << "the rate is set apart";
    EXPECT_EQ(t.c_iflag & kInputBits, row.iflag);
    EXPECT_EQ(t.c_iflag & ~kInputBits, 0u) << "no mapping, stripping or ignoring of input";
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x01);
    EXPECT_EQ(t.c_cc[VSTOP], 0x02);

    speed_t speed = B0;
    EXPECT_EQ(StandardSpeed(row.baud, &speed), row.speed != kCustom);
    if (row.speed != kCustom) {
      EXPECT_EQ(speed, row.speed);
    } else {
      const Termios2Flags custom = CustomRateFlags(
          {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_cc, sizeof t.c_cc}, row.baud);
      EXPECT_TRUE(TakesRatesFromSpeedFields(custom.cflag));
      EXPECT_EQ(custom.ispeed, row.baud);
      EXPECT_EQ(custom.ospeed, row.baud);
      EXPECT_EQ(custom.cflag & kFramingBits, row.cflag) << "termios2 keeps the framing";
      EXPECT_EQ(custom.iflag, t.c_iflag);
      EXPECT_EQ(custom.lflag, t.c_lflag);
    }

    const ModemLineChange lines = ModemLinesFor(dcb);
    EXPECT_EQ(lines.raise, row.raise);
    EXPECT_EQ(lines.lower, row.lower);

    // Read back, the driver's flags describe the same framing and flow.
    const CommDcb back = DcbFromTermios(t, row.baud);
    EXPECT_EQ(back.BaudRate, row.baud);
    EXPECT_EQ(back.ByteSize, row.byteSize);
    EXPECT_EQ(back.Parity, row.parity);
    EXPECT_EQ(back.StopBits, row.stopBits);
    EXPECT_EQ(back.Flags & (kDcbParity | kDcbOutX | kDcbInX),
              row.flags & (kDcbParity | kDcbOutX | kDcbInX));
    EXPECT_EQ((back.Flags & kDcbOutxCtsFlow) != 0, (row.cflag & CRTSCTS) != 0);
    EXPECT_EQ(back.XonChar, 0x01);
    EXPECT_EQ(back.XoffChar, 0x02);
  }
}

TEST(CommDcbTermios, RecordsTheDriverCannotTakeAreRefused) {
  struct Bad {
    const char* name;
    void (*spoil)(CommDcb&);
  } rows[] = {
      {"rate 0", [](CommDcb& d) { d.BaudRate = 0; }},
      {"4 data bits", [](CommDcb& d) { d.ByteSize = 4; }},
      {"9 data bits", [](CommDcb& d) { d.ByteSize = 9; }},
      {"parity 5", [](CommDcb& d) { d.Parity = 5; }},
      {"stop bits 3", [](CommDcb& d) { d.StopBits = 3; }},
      {"1.5 stop bits with 8 data bits", [](CommDcb& d) { d.StopBits = kOne5StopBits; }},
      {"2 stop bits with 5 data bits",
       [](CommDcb& d) {
         d.ByteSize = 5;
         d.StopBits = kTwoStopBits;
       }},
  };
  for (const Bad& row : rows) {
    CommDcb dcb;
    row.spoil(dcb);
    EXPECT_FALSE(ValidDcb(dcb)) << row.name;
  }
}

}  // namespace
