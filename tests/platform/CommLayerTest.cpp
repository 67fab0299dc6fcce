// The comm layer on pseudo-terminals and on its pure parts: port names,
// errno mapping, PARMRK decoding, line-event comparison, overlapped reads
// with the read-interval time-out.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CommNames.h"
#include "platform/CommPort.h"
#include "platform/CommTermios2.h"
#include "support/ComLink.h"
#include "support/CommPseudoTerminal.h"

namespace {

using namespace platform;
using testing_support::LinkCom;

// ------------------------------------------------------------------ names

TEST(CommNames, ParsesComNamesOfEveryAcceptedForm) {
  struct Case {
    const char* name;
    std::optional<int> number;
  } cases[] = {
      {"COM1", 1},     {"com2", 2},        {"\\\\.\\COM3", 3}, {"\\\\.\\cOm255", 255}, {"COM0", {}},
      {"COM256", {}},  {"COM", {}},        {"COM01", {}},      {"COM1x", {}},          {"LPT1", {}},
      {"\\\\.\\", {}}, {"/dev/ttyS0", {}}, {"COM-1", {}},      {"COM1000", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCommName(c.name), c.number) << c.name;
}

class CommNameResolution : public ::testing::Test {
 protected:
  void SetUp() override {
    QDir(program_.path()).mkpath("sys/ports");
    for (const char* device : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0", "ttyACM0", "ttyACM1"})
      Touch(dev_.path() + "/" + device);
  }
  static void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  std::string Resolve(const std::string& name) {
    return ResolveCommName(name, program_.path().toStdString(), dev_.path().toStdString());
  }
  std::string Dev(const char* device) { return dev_.path().toStdString() + "/" + device; }
  QTemporaryDir program_, dev_;
};

TEST_F(CommNameResolution, DefaultTakesEachFamilyUpToItsFirstGap) {
  EXPECT_EQ(Resolve("COM1"), Dev("ttyS0"));
  EXPECT_EQ(Resolve("\\\\.\\COM2"), Dev("ttyS1"));
  EXPECT_EQ(Resolve("COM3"), Dev("ttyUSB0"));  // ttyS3 is behind the gap at ttyS2
  EXPECT_EQ(Resolve("COM4"), Dev("ttyACM0"));
  EXPECT_EQ(Resolve("COM5"), Dev("ttyACM1"));
  EXPECT_EQ(Resolve("COM6"), "");
}

TEST_F(CommNameResolution, LinkInProgramFolderWinsEvenWhenDangling) {
  const std::string link = LinkCom(program_.path().toStdString(), 1, Dev("ttyACM1"));
  ASSERT_FALSE(link.empty());
  EXPECT_EQ(Resolve("COM1"), link);
  const std::string dangling = LinkCom(program_.path().toStdString(), 2, Dev("gone"));
  ASSERT_FALSE(dangling.empty());
  EXPECT_EQ(Resolve("com2"), dangling);
  EXPECT_EQ(Resolve("COM3"), Dev("ttyUSB0"));
}

TEST_F(CommNameResolution, OtherNamesAreTakenAsPaths) {
  EXPECT_EQ(Resolve("/dev/pts/7"), "/dev/pts/7");
}

// ----------------------------------------------------------------- errors

TEST(CommErrors, ErrnoMapsToTheLayerErrorsWithReasons) {
  EXPECT_EQ(MapErrno(ENOENT, "/dev/x").code, CommError::NoSuchDevice);
  EXPECT_EQ(MapErrno(EBUSY).code, CommError::InUse);
  EXPECT_EQ(MapErrno(EWOULDBLOCK).code, CommError::InUse);
  EXPECT_EQ(MapErrno(EIO).code, CommError::HangUp);
  EXPECT_EQ(MapErrno(EBADF).code, CommError::InvalidHandle);
  EXPECT_EQ(MapErrno(EINVAL).code, CommError::InvalidParameter);
  EXPECT_NE(MapErrno(EBUSY, "/dev/ttyUSB0").reason.find("in use"), std::string::npos);

  QTemporaryDir dir;
  const QString path = dir.path() + "/device";
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const CommErrorInfo denied = MapErrno(EACCES, path.toStdString());
  EXPECT_EQ(denied.code, CommError::AccessDenied);
  EXPECT_NE(denied.reason.find("belongs to group"), std::string::npos) << denied.reason;
  EXPECT_EQ(denied.sysErrno, EACCES);
}

// ----------------------------------------------------------------- PARMRK

// Decodes all of `bytes` with room for every byte the call can make.
std::vector<uint8_t> Decode(ParmrkDecoder& decoder, const std::vector<uint8_t>& bytes,
                            const ParmrkDecoder::Options& options, uint32_t* errors = nullptr,
                            uint32_t* events = nullptr) {
  std::vector<uint8_t> out(bytes.size() + 1);
  const ParmrkDecoder::Result r =
      decoder.Decode(bytes.data(), bytes.size(), out.data(), out.size(), options);
  EXPECT_EQ(r.consumed, bytes.size());
  if (errors) *errors |= r.errors;
  if (events) *events |= r.events;
  out.resize(r.length);
  return out;
}

TEST(ParmrkDecoder, UndoesMarksAndReportsErrors) {
  ParmrkDecoder::Options marking;
  marking.marking = true;
  marking.markedErrorFlag = kCeRxParity;
  struct Case {
    std::vector<uint8_t> in, out;
    uint32_t errors, events;
  } cases[] = {
      {{0x01, 0xFF, 0xFF, 0x02}, {0x01, 0xFF, 0x02}, 0, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, 0, 0},
      {{0x7F, 0xFF, 0x00, 0x41, 0x0D}, {0x7F, 0x41, 0x0D}, kCeRxParity, kEvErr},
      {{0x10, 0xFF, 0x00, 0x00, 0x11}, {0x10, 0x11}, kCeBreak, kEvBreak},
      {{0x00, 0x00}, {0x00, 0x00}, 0, 0},
  };
  for (const Case& c : cases) {
    ParmrkDecoder decoder;
    uint32_t errors = 0, events = 0;
    EXPECT_EQ(Decode(decoder, c.in, marking, &errors, &events), c.out);
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(events, c.events);
  }
}

TEST(ParmrkDecoder, FinishesAMarkCutByAReadBoundary) {
  ParmrkDecoder::Options marking;
  marking.marking = true;
  marking.markedErrorFlag = kCeFrame;
  ParmrkDecoder decoder;
  uint32_t errors = 0;
  EXPECT_EQ(Decode(decoder, {0x31, 0xFF}, marking), (std::vector<uint8_t>{0x31}));
  EXPECT_EQ(Decode(decoder, {0xFF, 0x32, 0xFF}, marking), (std::vector<uint8_t>{0xFF, 0x32}));
  EXPECT_EQ(Decode(decoder, {0x00}, marking, &errors), std::vector<uint8_t>{});
  EXPECT_EQ(Decode(decoder, {0x33, 0x34}, marking, &errors), (std::vector<uint8_t>{0x33, 0x34}));
  EXPECT_EQ(errors, kCeFrame);
}

TEST(ParmrkDecoder, AppliesReplaceAndNullRulesAndLeavesUnmarkedStreamsAlone) {
  ParmrkDecoder decoder;
  ParmrkDecoder::Options plain;
  EXPECT_EQ(Decode(decoder, {0xFF, 0x00, 0x41}, plain), (std::vector<uint8_t>{0xFF, 0x00, 0x41}));

  ParmrkDecoder::Options rules;
  rules.marking = true;
  rules.replaceErrors = true;
  rules.errorChar = '?';
  rules.discardNull = true;
  EXPECT_EQ(Decode(decoder, {0x00, 0x41, 0xFF, 0x00, 0x42, 0x00}, rules),
            (std::vector<uint8_t>{0x41, '?'}));
}

// ------------------------------------------------------------ line events

TEST(CommLineChange, TurnsSnapshotDifferencesIntoEventsAndErrors) {
  CommLineSnapshot before;
  before.hasModemLines = before.hasCounters = true;
  CommLineSnapshot after = before;
  after.cts = after.dsr = true;
  EXPECT_EQ(CompareLineSnapshots(before, after).events, kEvCts | kEvDsr);

  after = before;
  after.ring = true;
  EXPECT_EQ(CompareLineSnapshots(before, after).events, kEvRing);
  EXPECT_EQ(CompareLineSnapshots(after, before).events, 0u) << "ring ends: no event";

  after = before;
  after.frameErrors = 1;
  after.overruns = 2;
  CommLineChange change = CompareLineSnapshots(before, after);
  EXPECT_EQ(change.events, kEvErr);
  EXPECT_EQ(change.errors, kCeFrame | kCeOverrun);

  after = before;
  after.breaks = 1;
  after.rlsdChanges = 2;  // carrier went and came back between two looks
  change = CompareLineSnapshots(before, after);
  EXPECT_EQ(change.events, kEvBreak | kEvRlsd);
  EXPECT_EQ(change.errors, kCeBreak);

  after = before;
  after.bufferOverruns = 1;
  change = CompareLineSnapshots(before, after);
  EXPECT_EQ(change.events, 0u) << "a receive-queue overflow is no line-status error";
  EXPECT_EQ(change.errors, kCeRxOver);

  after = before;
  after.frameErrors = after.parityErrors = after.breaks = after.overruns = 1;
  change = CompareLineSnapshots(before, after, /*errorsInBand=*/true);
  EXPECT_EQ(change.events, kEvErr) << "marked errors and breaks come from the data";
  EXPECT_EQ(change.errors, kCeOverrun);

  CommLineSnapshot none;
  EXPECT_EQ(CompareLineSnapshots(none, none).events, 0u);
}

// ------------------------------------------------------------------ waits

TEST(CommWait, LowestSignalledIndexWinsAndTimeOutsReturn) {
  CommEvent a, b(true), c(true);
  EXPECT_EQ(CommWaitForMultiple({&a, &b, &c}, 0), 1);
  a.Set();
  EXPECT_EQ(CommWaitForMultiple({&a, &b, &c}), 0);
  a.Reset();
  b.Reset();
  c.Reset();
  EXPECT_EQ(CommWaitForMultiple({&a, &b, &c}, 20), kCommWaitTimeout);
  a.Set();
  a.Set();
  a.Reset();
  EXPECT_FALSE(a.IsSet()) << "manual reset: one Reset clears any number of Sets";
  EXPECT_EQ(CommWaitForMultiple({&a}, 0), kCommWaitTimeout);
}

// --------------------------------------------------------- ports on a pty

// Waits (up to 10 s) until the driver's input queue of `fd` holds `count` bytes.
bool WaitUntilDriverHolds(int fd, size_t count) {
  const int64_t deadline = CommNowNs() + 10'000'000'000;
  int held = 0;
  while (ioctl(fd, FIONREAD, &held) == 0 && static_cast<size_t>(held) < count) {
    if (CommNowNs() > deadline) return false;
    std::this_thread::yield();
  }
  return static_cast<size_t>(held) >= count;
}

class CommPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    pty_ = CommPseudoTerminal::Create();
    ASSERT_TRUE(pty_);
    CommErrorInfo error;
    port_ = CommPort::Open(pty_->SlavePath(), &error);
    ASSERT_TRUE(port_) << error.reason;
    ASSERT_TRUE(port_->IsCommDevice());
    CommDcb dcb;
    ASSERT_TRUE(port_->GetCommState(&dcb));
    dcb.BaudRate = 115200;
    dcb.Flags = kDcbBinary;
    ASSERT_TRUE(port_->SetCommState(dcb));
    ASSERT_TRUE(port_->SetCommTimeouts({10, 0, 0, 0, 0}));
  }
  std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
  }
  std::unique_ptr<CommPseudoTerminal> pty_;
  std::unique_ptr<CommPort> port_;
};

TEST_F(CommPortOnPty, OpenIsExclusive) {
  CommErrorInfo error;
  EXPECT_FALSE(CommPort::Open(pty_->SlavePath(), &error));
  EXPECT_EQ(error.code, CommError::InUse) << error.reason;
  port_.reset();
  EXPECT_TRUE(CommPort::Open(pty_->SlavePath(), &error)) << error.reason;
}

// 2500 bytes already in the driver: two reads complete at once with 1024
// bytes each; the third takes the last 452 and stays pending until the line
// has been quiet for the interval; the fourth finds nothing and stays
// pending without limit.
TEST_F(CommPortOnPty, WaitingBytesCompleteReadsAtOnceUntilOneStaysPending) {
  const std::vector<uint8_t> sent = Pattern(2500);
  ASSERT_TRUE(pty_->Write(sent.data(), sent.size()));
  ASSERT_TRUE(WaitUntilDriverHolds(port_->Handle(), sent.size()));
  struct Read {
    CommIo started;
    uint32_t count;
  } reads[] = {{CommIo::Completed, 1024}, {CommIo::Completed, 1024}, {CommIo::Pending, 452}};
  std::vector<uint8_t> got;
  uint8_t buffer[1024];
  CommOverlapped ov;
  ASSERT_EQ(CommWaitForMultiple({&ov}, 0), 0) << "a fresh record is signalled";
  for (const Read& read : reads) {
    uint32_t count = 0;
    ASSERT_EQ(port_->ReadFile(buffer, sizeof buffer, &count, &ov), read.started);
    if (read.started == CommIo::Pending) {
      ASSERT_TRUE(port_->GetOverlappedResult(&ov, &count, true));
    }
    EXPECT_EQ(count, read.count);
    got.insert(got.end(), buffer, buffer + count);
  }
  EXPECT_EQ(got, sent);
  uint32_t count = 0;
  ASSERT_EQ(port_->ReadFile(buffer, sizeof buffer, &count, &ov), CommIo::Pending);
  EXPECT_EQ(CommWaitForMultiple({&ov}, 50), kCommWaitTimeout) << "no byte, no time-out";
  EXPECT_FALSE(port_->GetOverlappedResult(&ov, &count, false));
  EXPECT_EQ(CommLastError().code, CommError::IoPending);
}

TEST_F(CommPortOnPty, PendingReadCompletesAfterTheQuietIntervalNotBefore) {
  uint8_t buffer[1024];
  uint32_t count = 0;
  CommOverlapped ov;
  ASSERT_EQ(port_->ReadFile(buffer, sizeof buffer, &count, &ov), CommIo::Pending);
  EXPECT_FALSE(port_->GetOverlappedResult(&ov, &count, false));
  EXPECT_EQ(CommLastError().code, CommError::IoPending);
  // No byte yet: no time-out runs, the read stays pending.
  EXPECT_EQ(CommWaitForMultiple({&ov}, 30), kCommWaitTimeout);
  const uint8_t frame[3] = {0x7F, 0x01, 0x0D};
  ASSERT_TRUE(pty_->Write(frame, sizeof frame));
  const int64_t start = CommNowNs();
  EXPECT_EQ(CommWaitForMultiple({&ov}, 5000), 0);
  EXPECT_GE(CommNowNs() - start, 9'000'000) << "completes only after ~10 ms of quiet";
  ASSERT_TRUE(port_->GetOverlappedResult(&ov, &count, false));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), std::vector<uint8_t>(frame, frame + 3));
}

TEST_F(CommPortOnPty, ParityCheckingDecodesTheDoubledFF) {
  CommDcb dcb;
  ASSERT_TRUE(port_->GetCommState(&dcb));
  dcb.Flags |= kDcbParity;
  ASSERT_TRUE(port_->SetCommState(dcb));
  const uint8_t sent[] = {0x7F, 0xFF, 0xFF, 0x00, 0x0D};
  ASSERT_TRUE(pty_->Write(sent, sizeof sent));
  uint8_t buffer[1024];
  uint32_t count = 0;
  CommOverlapped ov;
  if (port_->ReadFile(buffer, sizeof buffer, &count, &ov) == CommIo::Pending) {
    ASSERT_TRUE(port_->GetOverlappedResult(&ov, &count, true));
  }
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + count),
            std::vector<uint8_t>(std::begin(sent), std::end(sent)));
}

// Bytes that waited in the driver while parity checking was off are decoded
// with it on: the FF at the end of the first read's 1024 bytes is held, and
// the 'B' after it makes two bytes where one was taken. The first read must
// stop at its buffer and the second carry the rest.
TEST_F(CommPortOnPty, AHeldFFNeverOverflowsTheReadBufferAndLosesNothing) {
  std::vector<uint8_t> sent(1023, 'A');
  sent.push_back(0xFF);
  sent.push_back('B');
  ASSERT_TRUE(pty_->Write(sent.data(), sent.size()));
  // The driver takes them unmarked: switch parity checking on only once it holds them all.
  ASSERT_TRUE(WaitUntilDriverHolds(port_->Handle(), sent.size()));
  CommDcb dcb;
  ASSERT_TRUE(port_->GetCommState(&dcb));
  dcb.Flags |= kDcbParity;
  ASSERT_TRUE(port_->SetCommState(dcb));

  std::vector<uint8_t> got;
  std::vector<uint32_t> sizes;
  uint32_t count = 0;
  while (got.size() < sent.size() && sizes.size() < 4) {
    // Heap buffers of exactly the read's size, so a write past one is caught.
    auto buffer = std::make_unique<uint8_t[]>(1024);
    CommOverlapped ov;
    if (port_->ReadFile(buffer.get(), 1024, &count, &ov) == CommIo::Pending) {
      ASSERT_TRUE(port_->GetOverlappedResult(&ov, &count, true));
    }
    sizes.push_back(count);
    got.insert(got.end(), buffer.get(), buffer.get() + std::min<uint32_t>(count, 1024));
  }
  EXPECT_EQ(sizes, (std::vector<uint32_t>{1024, 1}));
  EXPECT_EQ(got, sent);
}

// A stream far larger than one read() of the driver, written while it is
// read: every byte arrives once and in order, each read at most 1024 bytes,
// with marking on too (0xFF doubled by the driver, pairs cut anywhere).
TEST_F(CommPortOnPty, StreamWhileWritingArrivesWholeInBlocksOfAtMost1024) {
  for (const bool marking : {false, true}) {
    SCOPED_TRACE(marking ? "parity marking" : "plain");
    CommDcb dcb;
    ASSERT_TRUE(port_->GetCommState(&dcb));
    dcb.Flags = marking ? (kDcbBinary | kDcbParity) : kDcbBinary;
    ASSERT_TRUE(port_->SetCommState(dcb));
    std::vector<uint8_t> sent = Pattern(300000);
    for (size_t i = 0; i < sent.size(); i += 5) sent[i] = 0xFF;
    std::thread writer([&] { pty_->Write(sent.data(), sent.size()); });
    std::vector<uint8_t> got;
    uint8_t buffer[1024];
    uint32_t count = 0;
    CommOverlapped ov;
    bool oversized = false;
    const int64_t deadline = CommNowNs() + 30'000'000'000;
    while (got.size() < sent.size() && CommNowNs() < deadline) {
      const CommIo io = port_->ReadFile(buffer, sizeof buffer, &count, &ov);
      if (io == CommIo::Pending && !port_->GetOverlappedResult(&ov, &count, true)) break;
      if (io == CommIo::Failed) break;
      oversized = oversized || count > sizeof buffer;
      got.insert(got.end(), buffer, buffer + count);
    }
    writer.join();
    EXPECT_FALSE(oversized);
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
  }
}

TEST_F(CommPortOnPty, WritesReachTheFarSideWhole) {
  const std::vector<uint8_t> sent = Pattern(300000);  // more than the pty buffers hold
  CommOverlapped ov;
  uint32_t written = 0;
  std::vector<uint8_t> got(sent.size());
  CommIo io = port_->WriteFile(sent.data(), sent.size(), &written, &ov);
  EXPECT_EQ(io, CommIo::Pending);
  size_t have = 0;
  while (io == CommIo::Pending && !ov.IsSignalled()) {
    const long n = pty_->Read(got.data() + have, got.size() - have, 5000);
    ASSERT_GT(n, 0);
    have += n;
    CommWaitForMultiple({&ov}, 0);
  }
  if (io == CommIo::Pending) {
    ASSERT_TRUE(port_->GetOverlappedResult(&ov, &written, true));
  }
  EXPECT_EQ(written, sent.size());
  have += pty_->ReadExactly(got.data() + have, got.size() - have, 5000);
  EXPECT_EQ(got, sent);
}

TEST_F(CommPortOnPty, FarSideHangUpFailsTheReadWithoutLosingEarlierBytes) {
  const uint8_t last[] = {1, 2, 3};
  ASSERT_TRUE(pty_->Write(last, sizeof last));
  uint8_t buffer[1024];
  uint32_t count = 0;
  CommOverlapped ov;
  CommIo io = port_->ReadFile(buffer, sizeof buffer, &count, &ov);
  pty_->CloseMaster();
  if (io == CommIo::Pending) {
    ASSERT_TRUE(port_->GetOverlappedResult(&ov, &count, true));
  }
  EXPECT_EQ(count, 3u);
  io = port_->ReadFile(buffer, sizeof buffer, &count, &ov);
  if (io == CommIo::Pending) {
    EXPECT_FALSE(port_->GetOverlappedResult(&ov, &count, true));
  } else {
    EXPECT_EQ(io, CommIo::Failed);
  }
  EXPECT_EQ(CommLastError().code, CommError::HangUp);
}

TEST_F(CommPortOnPty, LineSettingsCheckTheirValuesAndCustomRatesWork) {
  CommDcb dcb;
  ASSERT_TRUE(port_->GetCommState(&dcb));
  CommDcb bad = dcb;
  bad.StopBits = kOne5StopBits;  // 1.5 stop bits need 5 data bits
  EXPECT_FALSE(port_->SetCommState(bad));
  EXPECT_EQ(CommLastError().code, CommError::InvalidParameter);
  bad = dcb;
  bad.ByteSize = 9;
  EXPECT_FALSE(port_->SetCommState(bad));
  bad = dcb;
  bad.Parity = 5;
  EXPECT_FALSE(port_->SetCommState(bad));
  EXPECT_EQ(GetDriverBaudRate(port_->Handle()), 115200u) << "refused settings change nothing";

  CommDcb five = dcb;
  five.ByteSize = 5;
  five.StopBits = kOne5StopBits;
  five.Parity = kMarkParity;
  EXPECT_TRUE(port_->SetCommState(five));

  // A custom rate goes to the driver in one call with the rest of the record.
  struct Step {
    uint32_t baud;
    bool parityCheck;
  } steps[] = {{250000, true}, {57600, false}, {31250, false}, {115200, true}};
  for (const Step& step : steps) {
    dcb.BaudRate = step.baud;
    dcb.Flags = step.parityCheck ? kDcbBinary | kDcbParity : kDcbBinary;
    ASSERT_TRUE(port_->SetCommState(dcb)) << step.baud;
    EXPECT_EQ(GetDriverBaudRate(port_->Handle()), step.baud);
    termios t{};
    ASSERT_EQ(tcgetattr(port_->Handle(), &t), 0);
    EXPECT_EQ((t.c_iflag & PARMRK) != 0, step.parityCheck) << step.baud;
  }
}

TEST_F(CommPortOnPty, ClosingRestoresTheSettingsFoundAtOpen) {
  port_.reset();
  CommErrorInfo error;
  auto first = CommPort::Open(pty_->SlavePath(), &error);
  ASSERT_TRUE(first);
  CommDcb original;
  ASSERT_TRUE(first->GetCommState(&original));
  CommDcb changed = original;
  changed.BaudRate = original.BaudRate == 4800 ? 2400 : 4800;
  changed.ByteSize = 7;
  ASSERT_TRUE(first->SetCommState(changed));
  first.reset();
  auto second = CommPort::Open(pty_->SlavePath(), &error);
  ASSERT_TRUE(second);
  CommDcb after;
  ASSERT_TRUE(second->GetCommState(&after));
  EXPECT_EQ(after.BaudRate, original.BaudRate);
  EXPECT_EQ(after.ByteSize, original.ByteSize);
}

TEST_F(CommPortOnPty, PseudoTerminalsHaveNoLineEventsAndThatIsNoError) {
  ASSERT_TRUE(port_->SetCommMask(0x1F8));
  uint32_t mask = 0;
  CommOverlapped ov;
  ASSERT_EQ(port_->WaitCommEvent(&mask, &ov), CommIo::Pending);
  EXPECT_EQ(CommWaitForMultiple({&ov}, 30), kCommWaitTimeout);
  uint32_t errors = 99;
  EXPECT_TRUE(port_->ClearCommError(&errors));
  EXPECT_EQ(errors, 0u);
  EXPECT_TRUE(port_->PurgeComm(kPurgeRxAbort | kPurgeRxClear | kPurgeTxAbort | kPurgeTxClear));
  EXPECT_FALSE(port_->PurgeComm(0x10));
}

// Line counters of a UART, driven by the test; a wake-up makes the port look.
class FakeCounters : public CommLineBackend {
 public:
  struct Shared {
    std::mutex mutex;
    CommLineSnapshot lines;
    CommEvent wake;
  };
  explicit FakeCounters(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  CommLineSnapshot Snapshot() override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lines;
  }
  int WakeFd() override { return shared_->wake.PrepareWait().fd; }
  void ConsumeWake() override { shared_->wake.Reset(); }

 private:
  std::shared_ptr<Shared> shared_;
};

// A real UART with parity checking both marks an error in the data and
// counts it: each error is reported once, and only framing, overrun and
// parity errors raise EV_ERR.
TEST(CommPortLineErrors, EachErrorIsReportedOnceWithItsFlags) {
  struct Report {
    uint32_t events, errors;
    bool operator==(const Report&) const = default;
  };
  struct Case {
    const char* name;
    bool parityCheck;
    std::vector<uint8_t> stream;  // reaches the driver before checking is on
    std::function<void(CommLineSnapshot&)> count;
    std::vector<Report> reports;
    uint32_t leftOver;  // flags the next ClearCommError still returns
  } cases[] = {
      {"parity error marked and counted",
       true,
       {0x41, 0xFF, 0x00, 0x42},
       [](auto& l) { l.parityErrors++; },
       {{kEvErr, kCeRxParity}},
       0},
      {"break marked and counted",
       true,
       {0xFF, 0x00, 0x00, 0x43},
       [](auto& l) { l.breaks++; },
       {{kEvBreak, 0}},
       kCeBreak},
      {"overrun counted while marking",
       true,
       {0x41},
       [](auto& l) { l.overruns++; },
       {{kEvErr, kCeOverrun}},
       0},
      {"framing error counted, no marking",
       false,
       {0x41},
       [](auto& l) { l.frameErrors++; },
       {{kEvErr, kCeFrame}},
       0},
      {"receive-queue overflow", false, {0x41}, [](auto& l) { l.bufferOverruns++; }, {}, kCeRxOver},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto shared = std::make_shared<FakeCounters::Shared>();
    shared->lines.hasCounters = true;
    SetCommLineBackendFactory([shared](int) { return std::make_unique<FakeCounters>(shared); });
    auto pty = CommPseudoTerminal::Create();
    ASSERT_TRUE(pty);
    CommErrorInfo error;
    auto port = CommPort::Open(pty->SlavePath(), &error);
    SetCommLineBackendFactory(nullptr);
    ASSERT_TRUE(port) << error.reason;
    CommDcb dcb;
    ASSERT_TRUE(port->GetCommState(&dcb));
    dcb.BaudRate = 115200;
    dcb.Flags = kDcbBinary;
    dcb.Parity = kEvenParity;
    ASSERT_TRUE(port->SetCommState(dcb));
    ASSERT_TRUE(port->SetCommTimeouts({10, 0, 0, 0, 0}));
    ASSERT_TRUE(port->SetCommMask(0x1F8));

    ASSERT_TRUE(pty->Write(c.stream.data(), c.stream.size()));
    ASSERT_TRUE(WaitUntilDriverHolds(port->Handle(), c.stream.size()));
    if (c.parityCheck) {
      dcb.Flags |= kDcbParity;
      ASSERT_TRUE(port->SetCommState(dcb)) << CommLastError().reason;
    }
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      c.count(shared->lines);
    }
    shared->wake.Set();
    uint8_t buffer[1024];
    uint32_t count = 0;
    CommOverlapped read;
    if (port->ReadFile(buffer, sizeof buffer, &count, &read) == CommIo::Pending) {
      ASSERT_TRUE(port->GetOverlappedResult(&read, &count, true));
    }

    std::vector<Report> reports;
    for (int i = 0; i < 4; ++i) {
      uint32_t mask = 0;
      CommOverlapped status;
      if (port->WaitCommEvent(&mask, &status) == CommIo::Pending) {
        // The first look at the counters happens inside this wait.
        if (CommWaitForMultiple({&status}, 50) != 0) break;
        ASSERT_TRUE(port->GetOverlappedResult(&status, &count, false));
      }
      uint32_t errors = 0;
      if (mask & kEvErr) {
        ASSERT_TRUE(port->ClearCommError(&errors));
      }
      reports.push_back({mask, errors});
    }
    EXPECT_EQ(reports, c.reports);
    uint32_t leftOver = 0;
    ASSERT_TRUE(port->ClearCommError(&leftOver));
    EXPECT_EQ(leftOver, c.leftOver);
  }
}

TEST(CommPortOpen, NonTerminalsOpenButAreNoCommDevices) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/plain";
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  CommErrorInfo error;
  auto port = CommPort::Open(path.toStdString(), &error);
  ASSERT_TRUE(port);
  EXPECT_FALSE(port->IsCommDevice());
  EXPECT_FALSE(port->SetupComm(2048, 1024));
  EXPECT_EQ(CommLastError().code, CommError::NotACommHandle);

  EXPECT_FALSE(CommPort::Open((dir.path() + "/missing").toStdString(), &error));
  EXPECT_EQ(error.code, CommError::NoSuchDevice);
}

}  // namespace
