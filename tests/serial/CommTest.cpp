// TComm on pseudo-terminals linked as COM ports in a temporary program
// folder; line events through a fake line backend.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/CommTermios2.h"
#include "serial/Comm.h"
#include "support/CommPseudoTerminal.h"
#include "support/TempProgramFolder.h"

namespace {

// Runs the event loop until `done` holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000) {
  QDeadlineTimer deadline(milliseconds);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  return bytes;
}

// What the component told, in order.
struct Recorder {
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<std::string> events;
  std::vector<uint32_t> errors, modem;

  void Attach(TComm& comm) {
    comm.OnReceiveData = [this](TComm*, const uint8_t* buffer, uint16_t length) {
      blocks.emplace_back(buffer, buffer + length);
      events.push_back("data");
    };
    comm.OnReceiveError = [this](TComm*, uint32_t mask) {
      errors.push_back(mask);
      events.push_back("error");
    };
    comm.OnModemStateChange = [this](TComm*, uint32_t bits) {
      modem.push_back(bits);
      events.push_back("modem");
    };
    comm.OnRequestHangup = [this](TComm*) { events.push_back("hangup"); };
    comm.OnSendDataEmpty = [this](TComm*) { events.push_back("empty"); };
  }
  std::vector<uint8_t> Received() const {
    std::vector<uint8_t> all;
    for (const auto& block : blocks) all.insert(all.end(), block.begin(), block.end());
    return all;
  }
  int Count(const std::string& name) const {
    return static_cast<int>(std::count(events.begin(), events.end(), name));
  }
};

// Waits, without running the event loop, until `count` notifications have
// been posted to the component.
bool WaitForPosts(const TComm& comm, uint64_t count) {
  const QDeadlineTimer deadline(10000);
  while (comm.NotifyWindow()->Posted() < count) {
    if (deadline.hasExpired()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int OpenDescriptors() {
  return static_cast<int>(QDir("/proc/self/fd").count());
}

class CommOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    pty_ = platform::CommPseudoTerminal::Create();
    ASSERT_TRUE(pty_);
    LinkPort(7, pty_->SlavePath());
    Configure(comm_);
    recorder_.Attach(comm_);
  }

  // The main window's form values and the connect settings, on COM7.
  static void Configure(TComm& comm) {
    comm.SetCommName("\\\\.\\COM7");
    comm.SetBaudRate(115200);
    comm.SetParityCheck(true);
    comm.SetOutx_CtsFlow(false);
    comm.SetOutx_DsrFlow(false);
  }

  void LinkPort(int number, const std::string& target) {
    QDir(folder_.path()).mkpath("sys/ports");
    ASSERT_TRUE(QFile::link(QString::fromStdString(target),
                            folder_.file(QString("sys/ports/com%1").arg(number))));
  }

  // Reads what the component sent until `size` bytes have come.
  std::vector<uint8_t> FarSideReads(size_t size) {
    std::vector<uint8_t> got(size);
    got.resize(pty_->ReadExactly(got.data(), size, 5000));
    return got;
  }

  testing_support::TempProgramFolder folder_;
  std::unique_ptr<platform::CommPseudoTerminal> pty_;
  TComm comm_;
  Recorder recorder_;
};

// ---------------------------------------------------------------- settings

TEST(CommProperties, ConstructorValues) {
  TComm comm;
  EXPECT_EQ(comm.CommName(), "COM2");
  EXPECT_EQ(comm.BaudRate(), 9600u);
  EXPECT_FALSE(comm.ParityCheck());
  EXPECT_TRUE(comm.Outx_CtsFlow());
  EXPECT_TRUE(comm.Outx_DsrFlow());
  EXPECT_EQ(comm.DtrControl(), TDtrControl::DtrEnable);
  EXPECT_FALSE(comm.DsrSensitivity());
  EXPECT_TRUE(comm.TxContinueOnXoff());
  EXPECT_FALSE(comm.Outx_XonXoffFlow());
  EXPECT_FALSE(comm.Inx_XonXoffFlow());
  EXPECT_FALSE(comm.ReplaceWhenParityError());
  EXPECT_FALSE(comm.IgnoreNullChar());
  EXPECT_EQ(comm.RtsControl(), TRtsControl::RtsEnable);
  EXPECT_EQ(comm.XonLimit(), 10);
  EXPECT_EQ(comm.XoffLimit(), 10);
  EXPECT_EQ(comm.ByteSize(), TByteSize::_8);
  EXPECT_EQ(comm.Parity(), TParity::None);
  EXPECT_EQ(comm.StopBits(), TStopBits::_1);
  EXPECT_EQ(comm.XonChar(), 0x11);
  EXPECT_EQ(comm.XoffChar(), 0x13);
  EXPECT_EQ(comm.ReplacedChar(), 0x00);
  EXPECT_EQ(comm.ReadIntervalTimeout(), 10u);
  EXPECT_EQ(comm.ReadTotalTimeoutMultiplier() + comm.ReadTotalTimeoutConstant() +
                comm.WriteTotalTimeoutMultiplier() + comm.WriteTotalTimeoutConstant(),
            0u);
  EXPECT_FALSE(comm.PortOpen());
  EXPECT_EQ(comm.ComHandle(), 0u);
}

TEST(CommProperties, LineSettingsRecordFromTheProperties) {
  TComm comm;
  comm.SetBaudRate(115200);
  comm.SetParityCheck(true);
  comm.SetOutx_CtsFlow(false);
  comm.SetOutx_DsrFlow(false);
  platform::CommDcb base;
  base.EofChar = 0x1A;
  base.EvtChar = 0x7E;
  base.Flags = platform::kDcbAbortOnError;
  platform::CommDcb dcb = comm.MakeLineSettings(base);
  EXPECT_EQ(dcb.Flags, 0x1093u);
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonLim, 10);
  EXPECT_EQ(dcb.XoffLim, 10);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.EofChar, 0x1A) << "fields without a property keep their values";
  EXPECT_EQ(dcb.EvtChar, 0x7E);

  struct Case {
    std::function<void(TComm&)> set;
    uint32_t flags;
  } cases[] = {
      {[](TComm& c) { c.SetDtrControl(TDtrControl::DtrDisable); }, 0x1083},
      {[](TComm& c) { c.SetDtrControl(TDtrControl::DtrHandshake); }, 0x10A3},
      {[](TComm& c) { c.SetRtsControl(TRtsControl::RtsDisable); }, 0x0093},
      {[](TComm& c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, 0x2093},
      {[](TComm& c) { c.SetRtsControl(TRtsControl::RtsTransmissionAvailable); }, 0x3093},
      {[](TComm& c) { c.SetOutx_CtsFlow(true); }, 0x1097},
      {[](TComm& c) { c.SetOutx_DsrFlow(true); }, 0x109B},
      {[](TComm& c) { c.SetDsrSensitivity(true); }, 0x10D3},
      {[](TComm& c) { c.SetTxContinueOnXoff(false); }, 0x1013},
      {[](TComm& c) { c.SetOutx_XonXoffFlow(true); }, 0x1193},
      {[](TComm& c) { c.SetInx_XonXoffFlow(true); }, 0x1293},
      {[](TComm& c) { c.SetReplaceWhenParityError(true); }, 0x1493},
      {[](TComm& c) { c.SetIgnoreNullChar(true); }, 0x1893},
      {[](TComm& c) { c.SetParityCheck(false); }, 0x1091},
  };
  for (const Case& c : cases) {
    TComm other;
    other.SetParityCheck(true);
    other.SetOutx_CtsFlow(false);
    other.SetOutx_DsrFlow(false);
    c.set(other);
    EXPECT_EQ(other.MakeLineSettings({}).Flags, c.flags);
  }
  comm.SetByteSize(TByteSize::_5);
  comm.SetParity(TParity::Space);
  comm.SetStopBits(TStopBits::_1_5);
  comm.SetReplacedChar('?');
  dcb = comm.MakeLineSettings({});
  EXPECT_EQ(dcb.ByteSize, 5);
  EXPECT_EQ(dcb.Parity, 4);
  EXPECT_EQ(dcb.StopBits, 1);
  EXPECT_EQ(dcb.ErrorChar, '?');
}

TEST_F(CommOnPty, BaudRateChangeAppliesAtOnceWhileOpenAndIsStoredWhileClosed) {
  comm_.SetBaudRate(4800);
  comm_.OpenPort();
  const int fd = static_cast<int>(comm_.ComHandle());
  EXPECT_EQ(platform::GetDriverBaudRate(fd), 4800u);
  comm_.SetBaudRate(57600);
  EXPECT_EQ(platform::GetDriverBaudRate(fd), 57600u);
  comm_.SetBaudRate(250000);
  EXPECT_EQ(platform::GetDriverBaudRate(fd), 250000u);
  comm_.ClosePort();
  comm_.SetBaudRate(19200);
  EXPECT_EQ(comm_.BaudRate(), 19200u);
}

// ------------------------------------------------------------ open, close

TEST_F(CommOnPty, OpenCloseAndReopen) {
  for (int round = 0; round < 3; ++round) {
    comm_.OpenPort();
    EXPECT_TRUE(comm_.PortOpen());
    EXPECT_NE(comm_.ComHandle(), 0u);
    ASSERT_TRUE(comm_.ReadThread() && comm_.WriteThread());
    comm_.ClosePort();
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.ComHandle(), 0u);
    EXPECT_FALSE(comm_.ReadThread() || comm_.WriteThread());
  }
  comm_.ClosePort();
  comm_.ClosePort();
  EXPECT_FALSE(comm_.PortOpen());
}

TEST_F(CommOnPty, OpeningAnOpenPortFailsAndLeavesItWorking) {
  comm_.OpenPort();
  const uint32_t handle = comm_.ComHandle();
  try {
    comm_.OpenPort();
    FAIL() << "no exception";
  } catch (const ECommsError& e) {
    EXPECT_EQ(e.Text(), "This serial port already opened");
  }
  EXPECT_TRUE(comm_.PortOpen());
  EXPECT_EQ(comm_.ComHandle(), handle);
  const char frame[] = "still open";
  ASSERT_TRUE(comm_.SendData(reinterpret_cast<const uint8_t*>(frame), 10));
  EXPECT_EQ(FarSideReads(10), std::vector<uint8_t>(frame, frame + 10));
}

// The Exception base keeps the text; catching the base class works too.
std::string OpenFailure(TComm& comm) {
  try {
    comm.OpenPort();
  } catch (const platform::Exception& e) {
    EXPECT_NE(dynamic_cast<const ECommsError*>(&e), nullptr);
    return e.Text().toStdString();
  }
  return "no exception";
}

TEST_F(CommOnPty, OpenFailuresLeaveTheComponentClosedWithNothingOpen) {
  const QString plain = folder_.file("sys/plain.bin");
  {
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  LinkPort(9, plain.toStdString());
  struct Case {
    QString name;
    std::string message;
    QString reason;
  } cases[] = {
      {"COM8", "Error opening serial port", "no such device"},
      {"\\\\.\\COM9", "File handle is not a comm handle ", "not a serial device"},
      {folder_.file("sys/missing"), "Error opening serial port", "no such device"},
  };
  const int before = OpenDescriptors();
  for (const Case& c : cases) {
    comm_.SetCommName(c.name);
    EXPECT_EQ(OpenFailure(comm_), c.message) << c.name.toStdString();
    EXPECT_TRUE(comm_.LastOpenErrorReason().contains(c.reason))
        << comm_.LastOpenErrorReason().toStdString();
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.ComHandle(), 0u);
    EXPECT_EQ(OpenDescriptors(), before);
  }
}

TEST_F(CommOnPty, APortAnotherComponentHoldsCannotBeOpened) {
  TComm holder;
  holder.SetCommName("COM7");
  holder.OpenPort();
  EXPECT_EQ(OpenFailure(comm_), "Error opening serial port");
  EXPECT_TRUE(comm_.LastOpenErrorReason().contains("in use"));
  EXPECT_FALSE(comm_.PortOpen());
  holder.ClosePort();
  comm_.OpenPort();
  EXPECT_TRUE(comm_.PortOpen());
}

// A component whose system refuses the n-th worker thread.
class RefusingComm : public TComm {
 public:
  explicit RefusingComm(int refuse) : refuse_(refuse) {}

 protected:
  void CreateWorkerThread(CommThread& thread) override {
    if (++made_ == refuse_)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    TComm::CreateWorkerThread(thread);
  }

 private:
  int refuse_;
  int made_ = 0;
};

TEST_F(CommOnPty, RefusedWorkerThreadsFailTheOpenQuicklyAndCleanly) {
  const int before = OpenDescriptors();
  for (const auto& [refuse, message] : {std::pair{1, "Unable to create read thread"},
                                        std::pair{2, "Unable to create write thread"}}) {
    RefusingComm comm(refuse);
    comm.SetCommName("COM7");
    const QDeadlineTimer generous(5000);  // the read thread must not be waited for 10 s
    EXPECT_EQ(OpenFailure(comm), message);
    EXPECT_FALSE(generous.hasExpired());
    EXPECT_FALSE(comm.PortOpen());
    EXPECT_EQ(comm.ComHandle(), 0u);
    EXPECT_FALSE(comm.ReadThread() || comm.WriteThread());
    EXPECT_EQ(OpenDescriptors(), before);
  }
  comm_.OpenPort();  // the lock was released
  EXPECT_TRUE(comm_.PortOpen());
}

// Sets the descriptor limit so that exactly `free` more descriptors can be
// made, and restores the old limit when it goes.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int free) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const QStringList open = QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System);
    std::set<int> used;
    for (const QString& fd : open) used.insert(fd.toInt());
    rlim_t limit = 0;
    for (int left = free; left > 0 || used.count(static_cast<int>(limit)); ++limit)
      if (!used.count(static_cast<int>(limit))) --left;
    rlimit low = saved_;
    low.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// Each descriptor the open makes (port, close event, the write queue's
// wake-up) can be the one refused: the open fails with the message of its
// step and leaves nothing behind; with enough, the port works.
TEST_F(CommOnPty, EveryRefusedDescriptorFailsTheOpenAtItsStep) {
  // Every path once first, with descriptors to spare: the undefined-behaviour
  // checker needs a pipe the first time it checks the type of an object (the
  // warning's stream, the exception, the line backend) and caches the answer.
  comm_.SetCommName("COM7");
  comm_.OpenPort();
  comm_.ClosePort();
  RefusingComm refusing(2);
  refusing.SetCommName("COM7");
  EXPECT_EQ(OpenFailure(refusing), "Unable to create write thread");
  const int before = OpenDescriptors();
  std::vector<std::string> failures;
  for (int free = 0; free < 10; ++free) {
    std::string failure;
    {
      DescriptorLimit limit(free);
      failure = OpenFailure(comm_);
    }
    if (failure == "no exception") break;
    failures.push_back(failure);
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_FALSE(comm_.ReadThread() || comm_.WriteThread());
    EXPECT_EQ(OpenDescriptors(), before);
  }
  // Opening the device may take more than one descriptor: one message per step.
  failures.erase(std::unique(failures.begin(), failures.end()), failures.end());
  EXPECT_EQ(failures,
            (std::vector<std::string>{"Error opening serial port", "Unable to create event",
                                      "Unable to create write thread"}));
  ASSERT_TRUE(comm_.PortOpen());
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(comm_.SendData(frame.data(), 29));
  EXPECT_EQ(FarSideReads(29), frame);
}

// ------------------------------------------------------------------ sending

TEST_F(CommOnPty, SendDataRefusesWhenClosedOrEmpty) {
  const uint8_t byte = 0x7F;
  EXPECT_FALSE(comm_.SendData(&byte, 1));
  comm_.OpenPort();
  EXPECT_FALSE(comm_.SendData(&byte, 0));
  comm_.ClosePort();
  EXPECT_FALSE(comm_.SendData(&byte, 1));
}

TEST_F(CommOnPty, BlocksAreWrittenWholeInQueueOrder) {
  comm_.OpenPort();
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("empty") == 1; }))
      << "the write thread reports its first empty queue";
  std::vector<uint8_t> expected;
  std::vector<uint8_t> buffer;
  for (uint16_t size : {29, 1, 1024, 29, 5000, 65535, 3}) {
    buffer = Pattern(size, static_cast<uint8_t>(size));
    ASSERT_TRUE(comm_.SendData(buffer.data(), size));
    buffer.assign(buffer.size(), 0xEE);  // the caller may reuse its buffer at once
    const std::vector<uint8_t> sent = Pattern(size, static_cast<uint8_t>(size));
    expected.insert(expected.end(), sent.begin(), sent.end());
  }
  EXPECT_EQ(FarSideReads(expected.size()), expected);
  // Sending races with writing, so the queue may run dry more than once.
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("empty") >= 2; }))
      << "and again when the queue has run dry";
}

// ---------------------------------------------------------------- receiving

// The far side stops reading: the write thread stalls on a full line, the
// queue fills to its bound, and further sends are refused rather than
// queued without limit. Nothing accepted is lost, and sending works again
// once the far side reads.
TEST_F(CommOnPty, SendsBeyondTheQueueBoundAreRefusedAndNothingAcceptedIsLost) {
  comm_.OpenPort();
  std::vector<uint8_t> accepted;
  size_t refusedAt = 0;
  for (size_t i = 0; i < 2 * kCommQueueLimit && refusedAt == 0; ++i) {
    const std::vector<uint8_t> block = Pattern(256, static_cast<uint8_t>(i));
    if (comm_.SendData(block.data(), 256))
      accepted.insert(accepted.end(), block.begin(), block.end());
    else
      refusedAt = i;
  }
  ASSERT_GT(refusedAt, 0u) << "no send was refused";
  EXPECT_GE(refusedAt, kCommQueueLimit);
  EXPECT_EQ(FarSideReads(accepted.size()), accepted);
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(comm_.SendData(frame.data(), 29));
  EXPECT_EQ(FarSideReads(29), frame);
}

// A user-interface thread that stalls: notifications past the bound are
// refused, one hang-up request still gets through, and what was accepted
// is delivered in order.
TEST(CommNotifications, TheQueueIsBoundedAndKeepsRoomForOneHangUpRequest) {
  TComm comm;
  Recorder recorder;
  recorder.Attach(comm);
  CommNotifier notifier(&comm);
  auto notice = [](uint32_t msg, uintptr_t lParam = 0) {
    CommMessage message;
    message.Msg = msg;
    message.LParam = lParam;
    return message;
  };
  auto block = [&](uint8_t byte) {
    CommMessage message = notice(COMM_MSG_RECEIVE_DATA);
    message.WParam = 1;
    message.Block = MakeCommBlock(&byte, 1);
    return message;
  };
  for (size_t i = 0; i < kCommQueueLimit; ++i)
    ASSERT_TRUE(notifier.Post(block(static_cast<uint8_t>(i))));
  EXPECT_FALSE(notifier.Post(block(0)));
  EXPECT_FALSE(notifier.Post(notice(COMM_MSG_RECEIVE_ERROR, 0x04)));
  EXPECT_TRUE(notifier.Post(notice(COMM_MSG_REQUEST_HANGUP)));
  EXPECT_FALSE(notifier.Post(notice(COMM_MSG_REQUEST_HANGUP)));
  EXPECT_EQ(notifier.Posted(), kCommQueueLimit + 1);
  QCoreApplication::sendPostedEvents(&notifier);
  ASSERT_EQ(recorder.blocks.size(), kCommQueueLimit);
  for (size_t i = 0; i < kCommQueueLimit; ++i)
    ASSERT_EQ(recorder.blocks[i], std::vector<uint8_t>{static_cast<uint8_t>(i)});
  EXPECT_EQ(recorder.events.back(), "hangup");
  EXPECT_EQ(recorder.Count("hangup"), 1);
  // Drained, the queue takes posts again.
  EXPECT_TRUE(notifier.Post(notice(COMM_MSG_RECEIVE_ERROR, 0x04)));
}

// A handler that throws: the failure goes on to the application's handler
// through the event loop, also when the delivery was asked for (the caller
// then goes on), and every later notification is still delivered, those
// already queued behind it and those that come afterwards.
TEST_F(CommOnPty, AHandlerThatThrowsOnceDoesNotSilenceTheComponent) {
  for (const bool onDemand : {false, true}) {
    SCOPED_TRACE(onDemand ? "delivery asked for" : "delivery by the event loop");
    TComm comm;
    Configure(comm);
    std::vector<std::vector<uint8_t>> blocks;
    bool thrown = false;
    comm.OnReceiveData = [&](TComm*, const uint8_t* buffer, uint16_t length) {
      blocks.emplace_back(buffer, buffer + length);
      if (!thrown) {
        thrown = true;
        throw std::runtime_error("handler failed");
      }
    };
    comm.OpenPort();
    const std::vector<uint8_t> first = Pattern(29, 1), second = Pattern(29, 2),
                               third = Pattern(29, 3);
    ASSERT_TRUE(pty_->Write(first.data(), first.size()));
    ASSERT_TRUE(WaitForPosts(comm, 2));  // the empty notice and the first block
    ASSERT_TRUE(pty_->Write(second.data(), second.size()));
    ASSERT_TRUE(WaitForPosts(comm, 3));
    if (onDemand) {
      EXPECT_NO_THROW(comm.DeliverPendingNotifications());
      EXPECT_EQ(blocks.size(), 1u);
      EXPECT_EQ(comm.DeliverPendingNotifications(), 0u) << "the failure is raised first";
    }
    EXPECT_THROW(QCoreApplication::sendPostedEvents(), std::runtime_error);
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return blocks.size() == 2; }));
    ASSERT_TRUE(pty_->Write(third.data(), third.size()));
    ASSERT_TRUE(WaitUntil([&] { return blocks.size() == 3; }));
    EXPECT_EQ(blocks, (std::vector<std::vector<uint8_t>>{first, second, third}));
  }
}

// For a caller about to examine what has come: the notifications posted so
// far are delivered within the call, in order and once; not from another
// thread, and not from inside a handler, where the delivery under way goes
// on with the rest.
TEST_F(CommOnPty, PendingNotificationsAreDeliveredWhenAskedInOrderAndOnce) {
  comm_.OpenPort();
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("empty") == 1; }));
  size_t deliveredInHandler = 99;
  comm_.OnReceiveData = [&](TComm*, const uint8_t* buffer, uint16_t length) {
    recorder_.blocks.emplace_back(buffer, buffer + length);
    if (recorder_.blocks.size() == 1) deliveredInHandler = comm_.DeliverPendingNotifications();
  };
  const std::vector<uint8_t> first = Pattern(29, 1), second = Pattern(29, 2);
  ASSERT_TRUE(pty_->Write(first.data(), first.size()));
  ASSERT_TRUE(WaitForPosts(comm_, 2));
  ASSERT_TRUE(pty_->Write(second.data(), second.size()));
  ASSERT_TRUE(WaitForPosts(comm_, 3));

  size_t deliveredElsewhere = 99;
  std::thread([&] { deliveredElsewhere = comm_.DeliverPendingNotifications(); }).join();
  EXPECT_EQ(deliveredElsewhere, 0u);
  EXPECT_TRUE(recorder_.blocks.empty());

  EXPECT_EQ(comm_.DeliverPendingNotifications(), 2u);
  EXPECT_EQ(deliveredInHandler, 0u);
  EXPECT_EQ(recorder_.blocks, (std::vector<std::vector<uint8_t>>{first, second}));
  EXPECT_EQ(comm_.DeliverPendingNotifications(), 0u);
  WaitUntil([&] { return false; }, 20);  // the wake-up finds nothing left
  EXPECT_EQ(recorder_.blocks.size(), 2u);
}

TEST_F(CommOnPty, ABurstArrivesInOneCall) {
  comm_.OpenPort();
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(pty_->Write(frame.data(), frame.size()));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() >= 29; }));
  ASSERT_EQ(recorder_.blocks.size(), 1u);
  EXPECT_EQ(recorder_.blocks[0], frame);
}

TEST_F(CommOnPty, AQuietGapSplitsTheStreamIntoCallsThatAddUp) {
  comm_.OpenPort();
  const std::vector<uint8_t> frame = Pattern(29, 0xF0);  // has 0xFF bytes
  ASSERT_TRUE(pty_->Write(frame.data(), 10));
  // The first part is delivered on its own once the line is quiet.
  ASSERT_TRUE(WaitUntil([&] { return recorder_.blocks.size() == 1; }));
  ASSERT_TRUE(pty_->Write(frame.data() + 10, 19));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() >= 29; }));
  ASSERT_EQ(recorder_.blocks.size(), 2u);
  EXPECT_EQ(recorder_.blocks[0].size(), 10u);
  EXPECT_EQ(recorder_.Received(), frame);
}

// A stream longer than a block arrives in blocks of 1024 bytes and a final
// shorter one, in order. Full blocks may wait a moment for the next: a
// stream that ends on a block boundary arrives whole all the same, also when
// the port is closed right after it. The long quiet interval keeps a loaded
// machine's pauses inside a stream from ending a block early.
TEST_F(CommOnPty, LongStreamsArriveInFullBlocksAndARemainderInOrder) {
  struct Case {
    size_t size;
    bool closeAfter;
    std::vector<size_t> blocks;
  } cases[] = {
      {2500, false, {1024, 1024, 452}},
      {3072, false, {1024, 1024, 1024}},
      {3072, true, {1024, 1024, 1024}},
  };
  comm_.SetReadIntervalTimeout(500);
  comm_.OpenPort();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << (c.closeAfter ? " and close" : ""));
    recorder_.blocks.clear();
    const uint64_t posted = comm_.NotifyWindow()->Posted();
    const std::vector<uint8_t> stream = Pattern(c.size, static_cast<uint8_t>(c.size));
    ASSERT_TRUE(pty_->Write(stream.data(), stream.size()));
    if (c.closeAfter) {
      ASSERT_TRUE(WaitForPosts(comm_, posted + c.blocks.size()));
      comm_.ClosePort();
    }
    ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() >= stream.size(); }));
    EXPECT_EQ(recorder_.Received(), stream);
    std::vector<size_t> sizes;
    for (const auto& block : recorder_.blocks) sizes.push_back(block.size());
    EXPECT_EQ(sizes, c.blocks);
  }
}

TEST_F(CommOnPty, ManyBurstsKeepTheirOrder) {
  comm_.OpenPort();
  std::vector<uint8_t> expected;
  for (int i = 0; i < 50; ++i) {
    const std::vector<uint8_t> burst = Pattern(1 + (i * 37) % 300, static_cast<uint8_t>(i));
    ASSERT_TRUE(pty_->Write(burst.data(), burst.size()));
    expected.insert(expected.end(), burst.begin(), burst.end());
  }
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() >= expected.size(); }));
  EXPECT_EQ(recorder_.Received(), expected);
}

// What a connection posted and the window had not taken when the port was
// closed (its last bytes, its hang-up request) is delivered after the close
// while the port stays closed. Once the port is open again (a quick
// disconnect and reconnect) it is dropped, and only the new connection's
// own notifications arrive.
TEST_F(CommOnPty, WhatAClosedConnectionLeftIsDeliveredUntilThePortIsOpenedAgain) {
  for (const bool reopen : {false, true}) {
    SCOPED_TRACE(reopen ? "opened again" : "left closed");
    auto first = platform::CommPseudoTerminal::Create(),
         next = platform::CommPseudoTerminal::Create();
    ASSERT_TRUE(first && next);
    const int number = reopen ? 20 : 22;
    LinkPort(number, first->SlavePath());
    LinkPort(number + 1, next->SlavePath());
    TComm comm;
    Configure(comm);
    Recorder recorder;
    recorder.Attach(comm);
    comm.SetCommName(QString("COM%1").arg(number));
    comm.OpenPort();
    const std::vector<uint8_t> old = Pattern(29, 1), fresh = Pattern(29, 2);
    ASSERT_TRUE(first->Write(old.data(), old.size()));
    ASSERT_TRUE(WaitForPosts(comm, 2));  // the empty notice and the block
    first->CloseMaster();
    ASSERT_TRUE(WaitForPosts(comm, 3));  // the hang-up request
    comm.ClosePort();
    EXPECT_TRUE(recorder.events.empty()) << "nothing is delivered inside ClosePort";
    if (!reopen) {
      ASSERT_TRUE(WaitUntil([&] { return recorder.Count("hangup") == 1; }));
      EXPECT_EQ(recorder.Received(), old);
      continue;
    }
    comm.SetCommName(QString("COM%1").arg(number + 1));
    comm.OpenPort();
    ASSERT_TRUE(next->Write(fresh.data(), fresh.size()));
    ASSERT_TRUE(WaitUntil([&] { return !recorder.blocks.empty(); }));
    EXPECT_EQ(recorder.Received(), fresh);
    EXPECT_EQ(recorder.Count("hangup"), 0);
    EXPECT_TRUE(comm.PortOpen());
  }
}

// Asserts nothing of its own: the leak checker of the sanitizer build
// (./test) fails it when a block is left behind.
TEST_F(CommOnPty, UndeliveredAndUnhandledBlocksAreFreedUnderTheLeakChecker) {
  comm_.OnReceiveData = nullptr;
  comm_.OpenPort();
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(pty_->Write(frame.data(), frame.size()));
  ASSERT_TRUE(WaitUntil([&] { return comm_.NotifyWindow()->Posted() >= 2; }));
  WaitUntil([] { return false; }, 20);  // let the event loop hand out what is queued
  // A second component is destroyed with a block still in its queue; the
  // leak checker of the sanitizer build reports any block left behind.
  auto pty = platform::CommPseudoTerminal::Create();
  LinkPort(12, pty->SlavePath());
  {
    TComm other;
    other.SetCommName("COM12");
    other.OpenPort();
    ASSERT_TRUE(pty->Write(frame.data(), frame.size()));
    ASSERT_TRUE(WaitForPosts(other, 2));
  }
}

// ------------------------------------------------------------ line events

class FakeLines : public platform::CommLineBackend {
 public:
  struct Shared {
    std::mutex mutex;
    platform::CommLineSnapshot lines;
    int snapshots = 0;
    platform::CommEvent wake;
  };
  explicit FakeLines(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  platform::CommLineSnapshot Snapshot() override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->snapshots;
    return shared_->lines;
  }
  int WakeFd() override { return shared_->wake.PrepareWait().fd; }
  void ConsumeWake() override { shared_->wake.Reset(); }

 private:
  std::shared_ptr<Shared> shared_;
};

class CommLineEvents : public CommOnPty {
 protected:
  void SetUp() override {
    shared_->lines.hasModemLines = shared_->lines.hasCounters = true;
    platform::SetCommLineBackendFactory(
        [shared = shared_](int) { return std::make_unique<FakeLines>(shared); });
    CommOnPty::SetUp();
  }
  void TearDown() override { platform::SetCommLineBackendFactory(nullptr); }
  void Change(const std::function<void(platform::CommLineSnapshot&)>& change) {
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      change(shared_->lines);
    }
    shared_->wake.Set();
  }
  std::shared_ptr<FakeLines::Shared> shared_ = std::make_shared<FakeLines::Shared>();
};

TEST_F(CommLineEvents, ModemLinesAndErrorsRaiseTheirEventsAndDataGoesOn) {
  // Without parity checking the error counters are where errors come from.
  comm_.SetParityCheck(false);
  comm_.OpenPort();
  // Changes count from the first look at the lines, when the read thread starts.
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->snapshots > 0;
  }));
  Change([](auto& l) { l.cts = l.dsr = true; });
  ASSERT_TRUE(WaitUntil([&] { return recorder_.modem.size() == 1; }));
  EXPECT_EQ(recorder_.modem[0], 0x03u);

  struct Case {
    std::function<void(platform::CommLineSnapshot&)> change;
    uint32_t modem;
    uint32_t errors;
  } cases[] = {
      {[](auto& l) { l.ring = true; }, 0x04, 0},
      {[](auto& l) { l.rlsd = true; }, 0x08, 0},
      {[](auto& l) { l.breaks++; }, 0x10, 0},
      {[](auto& l) { l.frameErrors++; }, 0, 0x08 | 0x10},  // the break is reported with it
      {[](auto& l) { l.parityErrors++, l.overruns++; }, 0, 0x04 | 0x02},
  };
  for (const Case& c : cases) {
    const size_t modemBefore = recorder_.modem.size(), errorsBefore = recorder_.errors.size();
    Change(c.change);
    ASSERT_TRUE(WaitUntil([&] {
      return recorder_.modem.size() > modemBefore || recorder_.errors.size() > errorsBefore;
    }));
    if (c.modem) {
      ASSERT_EQ(recorder_.modem.size(), modemBefore + 1);
      EXPECT_EQ(recorder_.modem.back(), c.modem);
    }
    if (c.errors) {
      ASSERT_EQ(recorder_.errors.size(), errorsBefore + 1);
      EXPECT_EQ(recorder_.errors.back(), c.errors);
    }
  }
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(pty_->Write(frame.data(), frame.size()));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() >= 29; }));
  EXPECT_EQ(recorder_.Received(), frame);
  EXPECT_EQ(recorder_.Count("hangup"), 0);
}

// ---------------------------------------------------------------- hang-up

TEST_F(CommOnPty, FarSideHangUpEndsTheReadThreadWithOneRequestAndNoSpinning) {
  comm_.OpenPort();
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(pty_->Write(frame.data(), frame.size()));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Received().size() == 29; }));
  const std::clock_t cpuBefore = std::clock();
  pty_->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("hangup") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return comm_.ReadThread()->Finished(); }));
  // Keep the loop running a while: no second request, and nothing spins.
  const QDeadlineTimer settle(300);
  WaitUntil([&] { return settle.hasExpired(); });
  EXPECT_EQ(recorder_.Count("hangup"), 1);
  const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_LT(cpuSeconds, 0.2) << "a spinning thread would use the whole 0.3 s";
  EXPECT_TRUE(comm_.PortOpen()) << "the component does not react to its own request";

  // Writing to the gone line ends the write thread; later sends are refused.
  const uint8_t byte = 1;
  ASSERT_TRUE(comm_.SendData(&byte, 1));
  ASSERT_TRUE(WaitUntil([&] { return comm_.WriteThread()->Finished(); }));
  EXPECT_FALSE(comm_.SendData(&byte, 1));
  comm_.ClosePort();
  EXPECT_FALSE(comm_.PortOpen());
}

TEST_F(CommOnPty, DataBeforeAHangUpIsDeliveredFirst) {
  comm_.OpenPort();
  const std::vector<uint8_t> frame = Pattern(29);
  ASSERT_TRUE(pty_->Write(frame.data(), frame.size()));
  // Bytes the driver still holds are dropped by the hang-up itself; once the
  // block has been taken, it comes before the request.
  ASSERT_TRUE(WaitForPosts(comm_, 2));
  pty_->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("hangup") == 1; }));
  std::vector<std::string> order;
  for (const auto& e : recorder_.events)
    if (e != "empty") order.push_back(e);
  EXPECT_EQ(order, (std::vector<std::string>{"data", "hangup"}));
  EXPECT_EQ(recorder_.Received(), frame);
}

TEST_F(CommOnPty, ClosingAnIdlePortRequestsNoHangUp) {
  comm_.OpenPort();
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Count("empty") == 1; }));
  comm_.ClosePort();
  const QDeadlineTimer settle(100);
  WaitUntil([&] { return settle.hasExpired(); });
  EXPECT_EQ(recorder_.Count("hangup"), 0);
}

}  // namespace
