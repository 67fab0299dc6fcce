// The main window's device operations against a converter played by the test
// on the far end of a pseudo-terminal. The test decides when bytes arrive and
// calls the timer handlers itself, so the logic is checked without waiting
// for the design windows.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/MyElemLst.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "params/ParamPanel.h"
#include "platform/ProfileFile.h"
#include "protocol/Frame.h"
#include "protocol/Records.h"
#include "serial/Comm.h"
#include "support/Accessibility.h"
#include "support/ComLink.h"
#include "support/CommPseudoTerminal.h"
#include "support/FrameBytes.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"
#include "ui/Dialogs.h"

namespace {

using namespace protocol;
using testing_support::LinkCom;
using testing_support::PressByAccessibility;
using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

constexpr int kComNumber = 7;
constexpr int kWaitMs = 5000;

const QString kLostEnu =
    QStringLiteral("The serial port was lost. Reconnect when the adapter is back.");
const QString kLostChn = QStringLiteral("串口已断开，请在适配器重新接入后重新连接。");

// Message boxes that run the event loop while they are open, as modal boxes
// do: the first message runs `whileOpen` before it returns. Installed over
// the fixture's scripted dialogs for its lifetime.
class ModalDialogs final : public ui::DialogSeam {
 public:
  ModalDialogs(QStringList& messages, std::function<void()> whileOpen)
      : previous_(&ui::Dialogs()), messages_(messages), whileOpen_(std::move(whileOpen)) {
    ui::InstallDialogs(this);
  }
  ~ModalDialogs() override { ui::InstallDialogs(previous_); }
  ModalDialogs(const ModalDialogs&) = delete;
  ModalDialogs& operator=(const ModalDialogs&) = delete;

  void ShowMessage(const QString& text) override {
    messages_.append(text);
    if (auto run = std::exchange(whileOpen_, nullptr)) run();
  }
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }

 private:
  ui::DialogSeam* previous_;
  QStringList& messages_;
  std::function<void()> whileOpen_;
};

using testing_support::Bytes;
using testing_support::ToBytes;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "7F 01 40 20" as bytes.
Bytes Hex(const char* text) {
  Bytes bytes;
  for (const QString& byte : QString::fromLatin1(text).split(' ', Qt::SkipEmptyParts))
    bytes.push_back(static_cast<std::uint8_t>(byte.toUInt(nullptr, 16)));
  return bytes;
}

Frame VersionReply(std::array<std::uint8_t, 8> bytes) {
  return BuildReplyFrame(CMD_GET_VERSION, FRAME_ACK, bytes);
}

ConvtParams SampleConvt() {
  ConvtParams p;
  p.mode = 2;
  p.direction = 1;
  p.transparentFlags = ConvtParams::kCanInfo;
  p.idOffset = 3;
  p.idLength = 2;
  p.frameGapChars = 5;
  p.transparentSendId = 0x123;
  p.dataFlags = ConvtParams::kCanId;
  p.dataSendId = 0x456;
  return p;
}

ComParams SampleCom() {
  ComParams p;
  p.baudRate = 19200;
  p.dataBits = 8;
  p.parityCode = ComParams::kParityOdd;
  p.stopBitsCode = ComParams::kStopBitsTwo;
  return p;
}

CanParams SampleCan() {
  CanParams p;
  p.bitRateIndex = 3;
  p.frameType = CanParams::kFrameExtended;
  p.filterFlags =
      CanParams::kFilterOn | CanParams::kFilterExtendedOnly | CanParams::kFilterDistinguishId;
  p.acceptanceCode = 0x1ABCDEF;
  p.acceptanceMask = 0x7FF;
  return p;
}

Bytes ConvtReply(const ConvtParams& p = SampleConvt()) {
  return ToBytes(BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, p.Encode()));
}
Bytes ComReply(const ComParams& p = SampleCom()) {
  return ToBytes(BuildReplyFrame(CMD_COM_GET, FRAME_ACK, p.Encode()));
}
Bytes CanReply(const CanParams& p = SampleCan()) {
  return ToBytes(BuildReplyFrame(CMD_CAN_GET, FRAME_ACK, p.Encode()));
}
Bytes Ack(std::uint16_t code, std::uint8_t status = FRAME_ACK) {
  return ToBytes(BuildReplyFrame(code, status));
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pty_ = platform::CommPseudoTerminal::Create();
    ASSERT_TRUE(pty_);
    ASSERT_FALSE(LinkCom(folder_.path().toStdString(), kComNumber, pty_->SlavePath()).empty());
    window_ = std::make_unique<TfrmMain>();
    frmDM->LangCode = QStringLiteral("enu");  // the window's creation chose a language
    // The test runs the timer handlers itself; the timers only tell whether
    // they would be due, however long a loaded machine takes between steps.
    w().timBath->blockSignals(true);
    w().timOut->blockSignals(true);
    ui().cbxPort->setCurrentText(QStringLiteral("COM%1").arg(kComNumber));
    dialogs_.messages.clear();
  }

  void TearDown() override { window_.reset(); }

  Ui::TfrmMain& ui() { return *window_->ui; }
  TfrmMain& w() { return *window_; }
  QStringList& messages() { return dialogs_.messages; }

  // The requests the window sent, read from the converter's end.
  std::vector<Frame> ReadRequests(std::size_t count) {
    std::vector<Frame> frames(count);
    for (Frame& frame : frames) {
      if (pty_->ReadExactly(frame.data(), frame.size(), kWaitMs) != frame.size()) {
        ADD_FAILURE() << "a request did not arrive";
        return {};
      }
    }
    return frames;
  }

  std::vector<std::uint16_t> ReadRequestCodes(std::size_t count) {
    std::vector<std::uint16_t> codes;
    for (const Frame& frame : ReadRequests(count)) codes.push_back(FrameCode(frame));
    return codes;
  }

  // True when the window sent nothing within a short while.
  bool NothingSent() {
    std::uint8_t byte = 0;
    return pty_->Read(&byte, 1, 300) == 0;
  }

  // The converter answers; returns once the window holds `count` bytes.
  void Answer(const Bytes& bytes) {
    const std::uint16_t before = w().RxBuffer.RxCount();
    ASSERT_TRUE(pty_->Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w().RxBuffer.RxCount() >= before + bytes.size(); }, kWaitMs));
  }

  // Connect click, version reply and the read of all three groups, to the
  // Connected state with the success message taken off the record.
  void Connect(std::array<std::uint8_t, 8> version = {1, 2, 20, 17, 9, 5, 1, 0}) {
    QTest::mouseClick(ui().btnConn, Qt::LeftButton);
    ASSERT_EQ(ReadRequestCodes(1), std::vector<std::uint16_t>{CMD_GET_VERSION});
    Answer(ToBytes(VersionReply(version)));
    w().timBathTimer();
    ASSERT_EQ(ReadRequestCodes(3),
              (std::vector<std::uint16_t>{CMD_COM_GET, CMD_CONVT_GET, CMD_CAN_GET}));
    Answer(ComReply() + ConvtReply() + CanReply());
    w().timBathTimer();
    ASSERT_EQ(messages(), QStringList{LangText("获取配置成功!", "acquire configuration succeed!")});
    messages().clear();
  }

  QStringList TraceLines() { return ui().Memo1->toPlainText().split('\n'); }

  // The converter's end goes away, as when the adapter is unplugged; returns
  // once the window has handled the report.
  void LoseThePort() {
    pty_->CloseMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w().Comm1->PortOpen(); }, kWaitMs));
    // A second report (the other worker thread) is already queued; it must
    // show nothing.
    QCoreApplication::sendPostedEvents();
  }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  TfrmDM dataModule_;  // created before the window, as the program does
  std::unique_ptr<platform::CommPseudoTerminal> pty_;
  std::unique_ptr<TfrmMain> window_;
};

// ---- connecting ----

TEST_F(DeviceTest, ConnectOpensTheSelectedPortAt115200And8N1AndAsksForTheVersion) {
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  EXPECT_EQ(w().Comm1->CommName(), QStringLiteral("\\\\.\\COM7"));
  EXPECT_TRUE(w().Comm1->PortOpen());
  EXPECT_EQ(w().Comm1->BaudRate(), 115200u);
  EXPECT_EQ(w().Comm1->ByteSize(), TByteSize::_8);
  EXPECT_EQ(w().Comm1->Parity(), TParity::None);
  EXPECT_EQ(w().Comm1->StopBits(), TStopBits::_1);
  EXPECT_EQ(ReadRequests(1).at(0), BuildQueryFrame(CMD_GET_VERSION));
  EXPECT_EQ(w().CurOpCode, CMD_GET_VERSION);
  EXPECT_TRUE(w().timBath->isActive());
  EXPECT_EQ(w().timBath->interval(), 1000);
  EXPECT_FALSE(ui().btnConn->isEnabled());
}

TEST_F(DeviceTest, VersionReplyFillsLabelsEnablesControlsAndReadsAllGroups) {
  Connect();
  EXPECT_EQ(ui().LbSMainVer->text(), "1.2");
  EXPECT_EQ(ui().LbSwtimer->text(), "build20170905");
  EXPECT_EQ(ui().LbHwmainVer->text(), "1.0");
  for (QWidget* control :
       {static_cast<QWidget*>(ui().btnReadCfg), static_cast<QWidget*>(ui().btnWriteCfg),
        static_cast<QWidget*>(ui().btnDefCfg), static_cast<QWidget*>(ui().cbbParity),
        static_cast<QWidget*>(ui().edtFilterMaskCode), static_cast<QWidget*>(ui().btnConn)})
    EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
  EXPECT_FALSE(ui().cbbByteSize->isEnabled());
  EXPECT_TRUE(ui().N1->isEnabled());
  EXPECT_TRUE(ui().N2->isEnabled());
  EXPECT_FALSE(ui().cbxPort->isEnabled());
  EXPECT_EQ(ui().btnConn->text(), "Disconnect");
  EXPECT_EQ(w().CurOpCode, 0);
  EXPECT_FALSE(w().timOut->isActive());
  // The three tabs show what the converter holds.
  EXPECT_EQ(w().Panel->BuildConvtParams(), SampleConvt());
  EXPECT_EQ(w().Panel->BuildComParams(), SampleCom());
  EXPECT_EQ(w().Panel->BuildCanParams(), SampleCan());
}

TEST_F(DeviceTest, VersionReplyBehindNoiseIsFoundButAWrongOneIsNot) {
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ReadRequests(1);
  Frame shortReply = VersionReply({1, 2, 20, 17, 9, 5, 1, 0});
  shortReply[5] = 8;  // data length must be 9
  SealFrame(shortReply);
  Answer(ToBytes(shortReply));
  w().timBathTimer();
  EXPECT_EQ(w().CurOpCode, CMD_GET_VERSION);
  EXPECT_TRUE(ui().LbSMainVer->text().isEmpty());
  w().timOutTimer();
  messages().clear();

  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ReadRequests(1);
  Answer(Bytes{0x00, 0x13, 0x55} + ToBytes(VersionReply({2, 7, 20, 18, 1, 2, 3, 4})));
  w().timBathTimer();
  EXPECT_EQ(ui().LbSMainVer->text(), "2.7");
  EXPECT_EQ(w().CurOpCode, TfrmMain::OP_READ_CFG);
}

TEST_F(DeviceTest, PortThatCannotOpenShowsTheFailureAndTheTimeOutReturnsToDisconnected) {
  ui().cbxPort->setCurrentText(QStringLiteral("COM255"));  // no link, no such device
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ASSERT_EQ(messages().size(), 1);
  EXPECT_EQ(w().Comm1->CommName(), QStringLiteral("\\\\.\\COM255"));
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_FALSE(ui().btnConn->isEnabled());
  w().timBathTimer();
  w().timOutTimer();
  EXPECT_EQ(messages().last(), "operating timeout.");
  EXPECT_TRUE(ui().btnConn->isEnabled());
  EXPECT_EQ(ui().btnConn->text(), "Connect");
}

// ---- reading ----

// Noise, a stray start byte, a frame from another address, a conversion reply
// of the wrong length and a refused reply are all passed over; the good
// replies behind them are handled in the order received, in one pass.
TEST_F(DeviceTest, StreamFindsEveryGoodReplyAmongRejectedBytesInOneChunk) {
  Connect();
  ComParams com = SampleCom();
  com.baudRate = 57600;
  Frame otherAddress = BuildReplyFrame(CMD_COM_GET, FRAME_ACK, SampleCom().Encode());
  otherAddress[1] = 0x02;
  Frame wrongLength = BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, SampleConvt().Encode());
  wrongLength[5] = 15;
  const Bytes chunk = Bytes{0x11, 0x7F, 0x22, 0x33} + ToBytes(otherAddress) + ToBytes(wrongLength) +
                      Ack(CMD_CAN_GET, 0x21) + CanReply() + ComReply(com) + ConvtReply();
  ASSERT_LE(chunk.size(), 255u);

  QTest::mouseClick(ui().btnReadCfg, Qt::LeftButton);  // conversion tab: only CONVT awaited
  ReadRequests(1);
  Answer(chunk);
  w().timBathTimer();
  EXPECT_EQ(messages(), QStringList{"acquire configuration succeed!"});
  const QStringList trace = TraceLines();
  ASSERT_GE(trace.size(), 3);
  EXPECT_EQ(trace.mid(trace.size() - 3),
            (QStringList{"CMD_CAN_GET ok", "CMD_COM_GET ok", "CMD_CONVT_GET ok"}));
  // A reply not asked for is still applied.
  EXPECT_EQ(ui().cbbBaudRate->currentText(), "57600");
}

// ---- receiving and tracing ----

TEST_F(DeviceTest, EachReceivedChunkIsTracedInHexWithATrailingSpace) {
  ui().Memo1->clear();
  const std::uint8_t chunk[] = {0x7F, 0x01};
  w().Comm1ReceiveData(w().Comm1, chunk, 2);
  const std::uint8_t second[] = {0x00, 0xAB, 0xff};
  w().Comm1ReceiveData(w().Comm1, second, 3);
  w().Comm1ReceiveData(w().Comm1, second, 0);
  EXPECT_EQ(ui().Memo1->toPlainText(), "7F 01 \n00 AB FF ");
  EXPECT_EQ(w().RxBuffer.RxCount(), 5);
}

TEST_F(DeviceTest, OversizedChunkKeepsItsFirst256BytesAndTracesThem) {
  ui().Memo1->clear();
  std::vector<std::uint8_t> chunk(300, 0xEE);
  w().Comm1ReceiveData(w().Comm1, chunk.data(), static_cast<std::uint16_t>(chunk.size()));
  EXPECT_EQ(w().RxBuffer.RxCount(), 256);
  EXPECT_EQ(ui().Memo1->toPlainText().size(), 256 * 3);
}

// ---- writing ----

TEST_F(DeviceTest, WriteSendsTheThreeRecordsInOrderAndCompletesOnTheirAcks) {
  Connect();
  ui().cbbBaudRate->setCurrentText("115200");
  ui().pgcFunc->setCurrentIndex(1);
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  EXPECT_EQ(ui().pgcFunc->currentIndex(), 1);  // the shown tab is shown again
  const std::vector<Frame> sets = ReadRequests(3);
  ASSERT_EQ(sets.size(), 3u);
  // The sample records as the converter must receive them, worked out by
  // hand; the checksums by a separate CRC-16/UMTS (its check value 0xFEE8).
  EXPECT_EQ(ToBytes(sets[0]), Hex("7F 01 40 20 00 0F 02 01 01 03 02 05 00 00 01 23 02 00 00 04"
                                  " 56 00 00 00 00 00 73 09 0D"));
  EXPECT_EQ(ToBytes(sets[1]), Hex("7F 01 20 20 00 07 00 01 C2 00 08 02 03 00 00 00 00 00 00 00"
                                  " 00 00 00 00 00 00 1A 0B 0D"));
  EXPECT_EQ(ToBytes(sets[2]), Hex("7F 01 30 20 00 0B 03 80 13 01 AB CD EF 00 00 07 FF 00 00 00"
                                  " 00 00 00 00 00 00 83 BA 0D"));
  EXPECT_EQ(w().CurOpCode, TfrmMain::OP_WRITE_CFG);
  EXPECT_EQ(w().FCmdList->Count(), 3);

  Answer(Ack(CMD_CAN_SET) + Ack(CMD_CONVT_SET) + Ack(CMD_COM_SET));
  w().timBathTimer();
  EXPECT_EQ(messages(), QStringList{"write configuration succeed!"});
  EXPECT_FALSE(w().timOut->isActive());
  EXPECT_EQ(w().CurOpCode, 0);
}

TEST_F(DeviceTest, WriteThatFailsValidationSendsNothing) {
  Connect();
  ui().cbxUsrFrameTp->setCurrentIndex(0);
  ui().EdtUsrCANID->setText("00 00 08 00");
  ui().pgcFunc->setCurrentIndex(2);
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  ASSERT_EQ(messages().size(), 1);
  EXPECT_TRUE(messages().first().endsWith("[0,7FF]"));
  EXPECT_EQ(ui().pgcFunc->currentIndex(), 0);
  EXPECT_TRUE(NothingSent());
  EXPECT_FALSE(w().timBath->isActive());
}

// A record that cannot be built stops the write before anything is sent, so
// the converter never holds a new conversion record beside old serial ones.
TEST_F(DeviceTest, WriteWithAnUnbuildableRecordShowsTheFailureAndSendsNothing) {
  Connect();
  ui().cbbBaudRate->setCurrentIndex(-1);
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  ASSERT_EQ(messages().size(), 1);
  EXPECT_FALSE(messages().first().isEmpty());
  EXPECT_TRUE(NothingSent());
  EXPECT_FALSE(w().timBath->isActive());
  EXPECT_EQ(w().FCmdList->Count(), 0);
  EXPECT_EQ(w().CurOpCode, 0);
}

// ---- the operation buttons while an operation runs ----

enum class Op { Connect, Read, Write, Restore };

const char* NameOf(Op op) {
  static const char* const names[] = {"Connect", "Read", "Write", "Restore"};
  return names[static_cast<int>(op)];
}

void PrintTo(Op op, std::ostream* os) {
  *os << NameOf(op);
}

// One operation from its click to its end, and what the converter answers.
struct RunningCase {
  const char* name;
  Op op;
  Bytes (*answer)();    // to the requests of the click; null: silence
  Bytes (*readBack)();  // to the read that an accepted reply chains; null: none
  QStringList messages;
  int timeOutMs;  // 0: the operation completes in its collection window
};

void PrintTo(const RunningCase& c, std::ostream* os) {
  *os << c.name;
}

Bytes AllGroups() {
  return ComReply() + ConvtReply() + CanReply();
}

class RunningOperationTest : public DeviceTest, public ::testing::WithParamInterface<RunningCase> {
 protected:
  // Clicks the operation's button and takes its requests off the line.
  void Start(Op op) {
    QPushButton* const buttons[] = {ui().btnConn, ui().btnReadCfg, ui().btnWriteCfg,
                                    ui().btnDefCfg};
    QTest::mouseClick(buttons[static_cast<int>(op)], Qt::LeftButton);
    ReadRequests(op == Op::Write ? 3 : 1);
  }

  // Every way of pressing read, write or restore, and of picking another
  // port, while the operation runs: none starts anything or changes it.
  void ExpectNothingElseStarts() {
    const std::uint16_t op = w().CurOpCode;
    const bool collecting = w().timBath->isActive();
    const bool timingOut = w().timOut->isActive();
    const qsizetype shown = messages().size();
    for (QPushButton* button : {ui().btnReadCfg, ui().btnWriteCfg, ui().btnDefCfg}) {
      SCOPED_TRACE(button->objectName().toStdString());
      EXPECT_FALSE(button->isEnabled());
      QTest::mouseClick(button, Qt::LeftButton);
      QTest::keyClick(button, Qt::Key_Space);
      QTest::keyClick(button, Qt::Key_Return);
      PressByAccessibility(button);
    }
    w().btnReadCfgClick();
    w().btnWriteCfgClick();
    w().btnDefCfgClick();
    EXPECT_FALSE(ui().cbxPort->isEnabled());
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(w().CurOpCode, op);
    EXPECT_EQ(w().timBath->isActive(), collecting);
    EXPECT_EQ(w().timOut->isActive(), timingOut);
    EXPECT_EQ(messages().size(), shown);
  }
};

// A second click used to start a new operation over the running one, which
// then ended without its message. Now the buttons wait for the end:
// completion, time-out or refusal (here), a disconnect or a lost port
// (OperationInFlightTest).
TEST_P(RunningOperationTest, OperationButtonsAndPortListWaitForItsEnd) {
  const RunningCase& c = GetParam();
  if (c.op != Op::Connect) Connect();
  Start(c.op);
  ExpectNothingElseStarts();
  if (c.answer) Answer(c.answer());
  w().timBathTimer();
  if (c.readBack) {
    ReadRequests(3);
    ExpectNothingElseStarts();
    Answer(c.readBack());
    w().timBathTimer();
  }
  if (c.timeOutMs != 0) {
    EXPECT_EQ(w().timOut->interval(), c.timeOutMs);
    ExpectNothingElseStarts();  // the operation's last moments too
    w().timOutTimer();
  }
  EXPECT_EQ(messages(), c.messages);
  EXPECT_EQ(w().CurOpCode, 0);
  EXPECT_FALSE(w().timOut->isActive());

  const bool connected = w().Comm1->PortOpen();
  for (QPushButton* button : {ui().btnReadCfg, ui().btnWriteCfg, ui().btnDefCfg})
    EXPECT_EQ(button->isEnabled(), connected) << button->objectName().toStdString();
  EXPECT_EQ(ui().cbxPort->isEnabled(), !connected);
  messages().clear();
  if (connected)
    Start(Op::Read);  // a click starts the next operation again
  else
    Connect();
}

const QString kReadOk = QStringLiteral("acquire configuration succeed!");
const QString kTimeOut = QStringLiteral("operating timeout.");

INSTANTIATE_TEST_SUITE_P(
    Endings, RunningOperationTest,
    ::testing::Values(
        RunningCase{"ConnectTimesOut", Op::Connect, nullptr, nullptr, {kTimeOut}, 500},
        RunningCase{"ConnectReadsAllGroups",
                    Op::Connect,
                    [] {
                      return ToBytes(VersionReply({1, 2, 20, 17, 9, 5, 1, 0}));
                    },
                    AllGroups,
                    {kReadOk},
                    0},
        RunningCase{"ReadCompletes", Op::Read, [] { return ConvtReply(); }, nullptr, {kReadOk}, 0},
        RunningCase{"ReadTimesOut", Op::Read, nullptr, nullptr, {kTimeOut}, 1000},
        RunningCase{"WriteCompletes",
                    Op::Write,
                    [] { return Ack(CMD_CAN_SET) + Ack(CMD_CONVT_SET) + Ack(CMD_COM_SET); },
                    nullptr,
                    {QStringLiteral("write configuration succeed!")},
                    0},
        RunningCase{"WriteMissingAnAckTimesOut",
                    Op::Write,
                    [] { return Ack(CMD_CONVT_SET) + Ack(CMD_COM_SET); },
                    nullptr,
                    {kTimeOut},
                    500},
        RunningCase{"RestoreRefusedThenTimesOut",
                    Op::Restore,
                    [] { return Ack(CMD_RESTORE_DEFAULT, 0x21); },
                    nullptr,
                    {QStringLiteral("Gets the default parameter settings fail!"), kTimeOut},
                    500},
        RunningCase{"RestoreReadsBack",
                    Op::Restore,
                    [] { return Ack(CMD_RESTORE_DEFAULT); },
                    AllGroups,
                    {kReadOk},
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the port held ----

// The list shows the port the window holds while it connects and while it
// is connected, whatever path picks another, and the port opened is the one
// remembered for the next start.
TEST_F(DeviceTest, PortListStaysOnThePortOpenedAndThatPortIsRemembered) {
  QComboBox* ports = ui().cbxPort;
  const struct {
    const char* path;
    std::function<void()> pick;
  } paths[] = {
      {"the program, by index", [&] { ports->setCurrentIndex(kComNumber); }},
      {"the program, by text", [&] { ports->setCurrentText(QStringLiteral("COM8")); }},
      {"a screen reader opens the list, a key picks",
       [&] {
         PressByAccessibility(ports);
         QTest::keyClick(ports->view(), Qt::Key_Down);
         QTest::keyClick(ports->view(), Qt::Key_Return);
       }},
  };
  const auto tryEveryPath = [&] {
    for (const auto& path : paths) {
      SCOPED_TRACE(path.path);
      path.pick();
      EXPECT_EQ(ports->currentText(), QStringLiteral("COM7"));
      EXPECT_TRUE(ports->toolTip().startsWith(QStringLiteral("COM7 ")))
          << ports->toolTip().toStdString();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !ports->view()->isVisible(); }, kWaitMs));
  };

  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ReadRequests(1);
  {
    SCOPED_TRACE("connecting");
    tryEveryPath();
  }
  Answer(ToBytes(VersionReply({1, 2, 20, 17, 9, 5, 1, 0})));
  w().timBathTimer();
  ReadRequests(3);
  {
    SCOPED_TRACE("connected");
    tryEveryPath();
  }
  const platform::ProfileFile settings(folder_.file(QStringLiteral("sys/System.dt")));
  EXPECT_EQ(settings.ReadString(QStringLiteral("Port"), QStringLiteral("LastCom"), QString()),
            QStringLiteral("COM7"));

  QTest::mouseClick(ui().btnConn, Qt::LeftButton);  // disconnect: the choice is free again
  ports->setCurrentIndex(kComNumber);
  EXPECT_EQ(ports->currentText(), QStringLiteral("COM8"));
}

// ---- disconnecting and a lost port ----

enum class InFlight { Read, ReadTimingOut, Restore, RestoreReadBack };

const char* NameOf(InFlight op) {
  static const char* const names[] = {"Read", "ReadTimingOut", "Restore", "RestoreReadBack"};
  return names[static_cast<int>(op)];
}

void PrintTo(InFlight op, std::ostream* os) {
  *os << NameOf(op);
}

class OperationInFlightTest : public DeviceTest, public ::testing::WithParamInterface<InFlight> {
 protected:
  void StartOperation() {
    switch (GetParam()) {
      case InFlight::Read:
        QTest::mouseClick(ui().btnReadCfg, Qt::LeftButton);
        ReadRequests(1);
        break;
      case InFlight::ReadTimingOut:
        QTest::mouseClick(ui().btnReadCfg, Qt::LeftButton);
        ReadRequests(1);
        w().timBathTimer();
        break;
      case InFlight::Restore:
        QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
        ReadRequests(1);
        break;
      case InFlight::RestoreReadBack:
        QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
        ReadRequests(1);
        Answer(Ack(CMD_RESTORE_DEFAULT));
        w().timBathTimer();
        ReadRequests(3);
        break;
    }
    ASSERT_NE(w().CurOpCode, 0);
  }

  void ExpectDisconnectedWithNothingPending() {
    EXPECT_FALSE(w().Comm1->PortOpen());
    EXPECT_FALSE(w().timBath->isActive());
    EXPECT_FALSE(w().timOut->isActive());
    EXPECT_EQ(w().CurOpCode, 0);
    EXPECT_EQ(w().FCmdList->Count(), 0);
    EXPECT_TRUE(ui().btnConn->isEnabled());
    EXPECT_EQ(ui().btnConn->text(), LangText("连接", "Connect"));
    EXPECT_TRUE(ui().cbxPort->isEnabled());
    EXPECT_FALSE(ui().btnReadCfg->isEnabled());
    EXPECT_FALSE(ui().N2->isEnabled());
  }
};

// A deliberate disconnect ends the operation: neither timer fires later, so
// nothing reopens the port and no time-out is reported; a hang-up report of
// the closed port that arrives afterwards shows nothing either.
TEST_P(OperationInFlightTest, DisconnectEndsTheOperation) {
  Connect();
  StartOperation();
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ExpectDisconnectedWithNothingPending();
  w().Comm1RequestHangup(w().Comm1);
  EXPECT_TRUE(messages().isEmpty());
  Connect();
}

// The adapter is unplugged (the far end of the line goes away): the window
// returns to Disconnected, keeps the values and tells the operator once.
TEST_P(OperationInFlightTest, LostPortEndsTheOperationAndIsReportedOnce) {
  frmDM->LangCode = QStringLiteral("chn");
  Connect();
  ui().cbbParity->setCurrentText("MARK");
  StartOperation();
  LoseThePort();
  ExpectDisconnectedWithNothingPending();
  EXPECT_EQ(messages(), QStringList{kLostChn});
  EXPECT_EQ(ui().cbbParity->currentText(), "MARK");
}

INSTANTIATE_TEST_SUITE_P(Operations, OperationInFlightTest,
                         ::testing::Values(InFlight::Read, InFlight::ReadTimingOut,
                                           InFlight::Restore, InFlight::RestoreReadBack),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

TEST_F(DeviceTest, LostPortWhileConnectingReturnsToDisconnected) {
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ReadRequests(1);
  ASSERT_FALSE(ui().btnConn->isEnabled());
  LoseThePort();
  EXPECT_EQ(messages(), QStringList{kLostEnu});
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_TRUE(ui().btnConn->isEnabled());
  EXPECT_EQ(ui().btnConn->text(), "Connect");
  EXPECT_FALSE(w().timBath->isActive());
  EXPECT_EQ(w().CurOpCode, 0);
}

// The loss is delivered while the message of a refused send is open; when the
// operator closes the messages, the write does not go on with its next record.
TEST_F(DeviceTest, LostPortInsideAMessageBoxStopsTheWriteThere) {
  Connect();
  int attempts = 0;
  w().Panel->SetSendTarget([&](const std::uint8_t*, std::uint16_t) {
    ++attempts;
    return false;
  });
  ModalDialogs modal(messages(), [&] { LoseThePort(); });
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  EXPECT_EQ(messages(), (QStringList{"Send \"Setting Command\" error !", kLostEnu}));
  EXPECT_EQ(attempts, 1);
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_FALSE(w().timBath->isActive());
  EXPECT_EQ(w().CurOpCode, 0);
  EXPECT_EQ(ui().btnConn->text(), "Connect");
}

class RefusedByALostPortTest : public DeviceTest, public ::testing::WithParamInterface<Op> {};

// The far end is gone and the window's write thread has ended on it, its
// report still queued: the port refuses the click's first request. That
// refusal is the loss, told once, not a send error as well.
TEST_P(RefusedByALostPortTest, TheLossIsTheOnlyMessage) {
  Connect();
  pty_->CloseMaster();
  // The write thread ends on its first failed write; until then it takes blocks.
  const std::uint8_t probe = 0;
  QElapsedTimer waited;
  waited.start();
  while (w().Comm1->SendData(&probe, 1)) {
    ASSERT_LT(waited.elapsed(), kWaitMs) << "the write thread never met the loss";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(w().Comm1->PortOpen());  // the loss has not been handled yet
  switch (GetParam()) {
    case Op::Read:
      w().btnReadCfgClick();
      break;
    case Op::Write:
      w().btnWriteCfgClick();
      break;
    default:
      w().btnDefCfgClick();
      break;
  }
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(messages(), QStringList{kLostEnu});
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_EQ(w().CurOpCode, 0);
  EXPECT_FALSE(w().timBath->isActive());
  EXPECT_TRUE(ui().btnConn->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Operations, RefusedByALostPortTest,
                         ::testing::Values(Op::Read, Op::Write, Op::Restore),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

// A language change while connecting shows "Disconnect" (the port is open);
// when the attempt times out the caption follows the closed port.
TEST_F(DeviceTest, CaptionFollowsThePortAfterALanguageChangeWhileConnecting) {
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  frmDM->LangCode = QStringLiteral("chn");
  w().RefreshLanguage();
  w().timBathTimer();
  w().timOutTimer();
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_EQ(ui().btnConn->text(), "连接");
}

// ---- restoring defaults ----

// The port refuses the block (here: it is closed); the operation still goes
// on and will end by its time-out.
TEST_F(DeviceTest, RestoreQueryRefusedByThePortIsReportedAndTheOperationGoesOn) {
  w().btnDefCfgClick();
  EXPECT_EQ(messages(), QStringList{"Send \"Restore Default Configuration Command\" error."});
  EXPECT_EQ(w().CurOpCode, CMD_RESTORE_DEFAULT);
  EXPECT_TRUE(w().timBath->isActive());
  EXPECT_EQ(w().timBath->interval(), 3000);
}

// The restore reply is taken from the head of the buffer as it stands.
TEST_F(DeviceTest, RestoreReplyBehindNoiseIsNotRecognised) {
  Connect();
  QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
  ReadRequests(1);
  Answer(Bytes{0x00} + Ack(CMD_RESTORE_DEFAULT));
  w().timBathTimer();
  EXPECT_TRUE(messages().isEmpty());
  EXPECT_EQ(w().CurOpCode, CMD_RESTORE_DEFAULT);
  EXPECT_TRUE(NothingSent());
}

// ---- languages ----

TEST_F(DeviceTest, ChineseTextsWhenTheLanguageCodeIsChn) {
  frmDM->LangCode = QStringLiteral("chn");
  Connect();
  EXPECT_EQ(ui().btnConn->text(), "断开");
  QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
  ReadRequests(1);
  Answer(Ack(CMD_RESTORE_DEFAULT, 0x21));
  w().timBathTimer();
  w().timOutTimer();
  EXPECT_EQ(messages(), (QStringList{"获取默认设置参数失败！", "操作超时!"}));
  messages().clear();
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  ReadRequests(3);
  Answer(Ack(CMD_CAN_SET) + Ack(CMD_CONVT_SET) + Ack(CMD_COM_SET));
  w().timBathTimer();
  EXPECT_EQ(messages(), QStringList{"写配置成功!"});
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  EXPECT_EQ(ui().btnConn->text(), "连接");
}

}  // namespace
