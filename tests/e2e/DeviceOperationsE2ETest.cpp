// The real main window against the converter simulator over a
// pseudo-terminal, in real time: every operation runs through its design
// windows and the messages arrive through the dialog seam. Time bounds are
// generous; the figures themselves are measured by the benchmark.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "Converter.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "params/ParamPanel.h"
#include "protocol/Frame.h"
#include "serial/Comm.h"
#include "support/Accessibility.h"
#include "support/ConvsimProcess.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using namespace protocol;
using convsim::Converter;
using testing_support::ConvsimProcess;
using testing_support::PressByAccessibility;
using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

const QString kReadOk = QStringLiteral("acquire configuration succeed!");
const QString kWriteOk = QStringLiteral("write configuration succeed!");
const QString kTimeout = QStringLiteral("operating timeout.");
const QString kRestoreRefused = QStringLiteral("Gets the default parameter settings fail!");
const QString kLostEnu =
    QStringLiteral("The serial port was lost. Reconnect when the adapter is back.");
const QString kLostChn = QStringLiteral("串口已断开，请在适配器重新接入后重新连接。");

// Waits well beyond every design window (the longest is a restore's 6 s).
constexpr int kDeadlineMs = 20000;

class EndToEndTest : public ::testing::Test {
 protected:
  void StartConverter(const QStringList& args = {}) {
    convsim_ = std::make_unique<ConvsimProcess>(QStringLiteral(CONVSIM_EXE), folder_.path(), args);
    ASSERT_GT(convsim_->Com(), 0) << "convsim did not start";
    window_ = std::make_unique<TfrmMain>();
    frmDM->LangCode = QStringLiteral("enu");
    ui().cbxPort->setCurrentText(QStringLiteral("COM%1").arg(convsim_->Com()));
    dialogs_.messages.clear();
  }

  void TearDown() override {
    window_.reset();
    convsim_.reset();
  }

  Ui::TfrmMain& ui() { return *window_->ui; }
  TfrmMain& w() { return *window_; }
  QStringList& messages() { return dialogs_.messages; }

  // Clicks and waits until `count` messages have been shown; the time taken.
  qint64 ClickAndWait(QPushButton* button, int count = 1) {
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages().size() >= count; }, kDeadlineMs))
        << "no message after " << clock.elapsed() << " ms";
    return clock.elapsed();
  }

  void Connect() {
    ASSERT_EQ(messages().size(), 0);
    ClickAndWait(ui().btnConn);
    ASSERT_EQ(messages(), QStringList{kReadOk});
    messages().clear();
  }

  // Runs the event loop for a while, so that anything still due shows up.
  void Settle(int ms) { QTest::qWait(ms); }

  // True when another user can open the converter's port: the window holds
  // neither the port nor its lock.
  bool PortIsFree() {
    TComm other;
    other.SetCommName(QStringLiteral("\\\\.\\COM%1").arg(convsim_->Com()));
    try {
      other.OpenPort();
    } catch (...) {
      return false;
    }
    other.ClosePort();
    return true;
  }

  bool FactoryValuesShown() {
    return w().Panel->BuildConvtParams() == Converter::FactoryConvt() &&
           w().Panel->BuildComParams() == Converter::FactoryCom() &&
           w().Panel->BuildCanParams() == Converter::FactoryCan();
  }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  TfrmDM dataModule_;  // created before the window, as the program does
  std::unique_ptr<ConvsimProcess> convsim_;
  std::unique_ptr<TfrmMain> window_;
};

// ---- connecting ----

TEST_F(EndToEndTest, ConnectFillsLabelsEnablesControlsAndReadsAllThreeTabs) {
  StartConverter({"--version", "1,2,20,17,10,26,3,4"});
  const qint64 elapsed = ClickAndWait(ui().btnConn);
  EXPECT_EQ(messages(), QStringList{kReadOk});
  EXPECT_GE(elapsed, 1900);  // two collection windows and the pauses
  EXPECT_EQ(ui().LbSMainVer->text(), "1.2");
  EXPECT_EQ(ui().LbSwtimer->text(), "build20171026");
  EXPECT_EQ(ui().LbHwmainVer->text(), "3.4");
  EXPECT_EQ(ui().btnConn->text(), "Disconnect");
  EXPECT_TRUE(ui().btnConn->isEnabled());
  EXPECT_FALSE(ui().cbxPort->isEnabled());
  EXPECT_TRUE(ui().btnWriteCfg->isEnabled());
  EXPECT_TRUE(ui().CbxCANBaudrate->isEnabled());
  EXPECT_TRUE(FactoryValuesShown());
  EXPECT_EQ(convsim_->ReceivedCommands(),
            (QStringList{"CMD_GET_VERSION", "CMD_COM_GET", "CMD_CONVT_GET", "CMD_CAN_GET"}));
}

// ---- reading ----

TEST_F(EndToEndTest, ReadOnEachTabSendsOnlyThatTabsQuery) {
  StartConverter();
  Connect();
  const QStringList queries = {"CMD_CONVT_GET", "CMD_COM_GET", "CMD_CAN_GET"};
  for (int tab = 0; tab < 3; ++tab) {
    SCOPED_TRACE(tab);
    const qsizetype before = convsim_->ReceivedCommands().size();
    ui().pgcFunc->setCurrentIndex(tab);
    ClickAndWait(ui().btnReadCfg);
    EXPECT_EQ(messages(), QStringList{kReadOk});
    EXPECT_EQ(convsim_->ReceivedCommands().mid(before), QStringList{queries[tab]});
    messages().clear();
  }
}

// ---- writing ----

TEST_F(EndToEndTest, WriteSendsTheThreeRecordsHalfASecondApartAndTheConverterKeepsThem) {
  StartConverter();
  Connect();
  ui().cbbBaudRate->setCurrentText("57600");
  ui().cbbParity->setCurrentText("EVEN");
  ui().CbxCANBaudrate->setCurrentIndex(5);
  ui().cbxChgType->setCurrentIndex(3);
  const ComParams com = w().Panel->BuildComParams();
  const CanParams can = w().Panel->BuildCanParams();
  const ConvtParams convt = w().Panel->BuildConvtParams();
  const qsizetype before = convsim_->ReceivedFrames().size();

  const QDateTime clicked = QDateTime::currentDateTime();
  const qint64 elapsed = ClickAndWait(ui().btnWriteCfg);
  EXPECT_EQ(messages(), QStringList{kWriteOk});
  EXPECT_GE(elapsed, 1900);  // two pauses and the collection window
  const auto frames = convsim_->ReceivedFrames();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(before + 3));
  EXPECT_EQ(frames[before].command, "CMD_CONVT_SET");
  EXPECT_EQ(frames[before + 1].command, "CMD_COM_SET");
  EXPECT_EQ(frames[before + 2].command, "CMD_CAN_SET");
  // The last record leaves after both pauses, so it cannot arrive sooner; a
  // loaded machine only delays receipts, and the gap between two of them
  // says nothing (the bound allows for the log's whole milliseconds).
  EXPECT_GE(clicked.msecsTo(frames[before + 2].time), 990);

  // Read back from a fresh view of the converter: change the controls, read.
  messages().clear();
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);  // disconnect
  ui().cbbBaudRate->setCurrentText("300");
  Connect();
  EXPECT_EQ(w().Panel->BuildComParams(), com);
  EXPECT_EQ(w().Panel->BuildCanParams(), can);
  EXPECT_EQ(w().Panel->BuildConvtParams(), convt);
}

// A record that cannot be built (no baud rate chosen) stops the write before
// the first frame, so the converter is never left half configured.
TEST_F(EndToEndTest, WriteWithAnUnbuildableRecordSendsNothing) {
  StartConverter();
  Connect();
  ui().cbbBaudRate->setCurrentIndex(-1);
  ui().cbxChgType->setCurrentIndex(2);
  const qsizetype before = convsim_->ReceivedCommands().size();
  QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
  ASSERT_EQ(messages().size(), 1);
  EXPECT_NE(messages().first(), kWriteOk);
  Settle(1500);
  EXPECT_EQ(messages().size(), 1);
  EXPECT_EQ(convsim_->ReceivedCommands().size(), before);
}

// ---- restoring defaults ----

TEST_F(EndToEndTest, RestoreDefaultsSucceedsAfterItsTwoWindowsAndShowsTheFactoryValues) {
  StartConverter();
  convsim_->Control("record com 00 00 E1 00 08 01 03");  // 57600 8 E 2
  Connect();
  EXPECT_EQ(ui().cbbBaudRate->currentText(), "57600");
  const qsizetype before = convsim_->ReceivedCommands().size();
  const qint64 elapsed = ClickAndWait(ui().btnDefCfg);
  EXPECT_EQ(convsim_->ReceivedCommands().mid(before),
            (QStringList{"CMD_RESTORE_DEFAULT", "CMD_CONVT_GET", "CMD_COM_GET", "CMD_CAN_GET"}));
  EXPECT_EQ(messages(), QStringList{kReadOk});
  EXPECT_GE(elapsed, 5900);
  EXPECT_TRUE(FactoryValuesShown());
  EXPECT_EQ(ui().cbbBaudRate->currentText(), "9600");
}

// ---- awkward lines ----

struct LineFault {
  const char* name;
  QStringList faults;
};

void PrintTo(const LineFault& fault, std::ostream* os) {
  *os << fault.name;
}

class AwkwardLineTest : public EndToEndTest, public ::testing::WithParamInterface<LineFault> {};

TEST_P(AwkwardLineTest, ConnectAndWriteStillSucceed) {
  StartConverter(GetParam().faults);
  Connect();
  EXPECT_TRUE(FactoryValuesShown());
  ClickAndWait(ui().btnWriteCfg);
  EXPECT_EQ(messages(), QStringList{kWriteOk});
}

// Version replies must not carry a stray start byte before them (the single
// frame search stops at the first one), parameter replies may.
INSTANTIATE_TEST_SUITE_P(
    Faults, AwkwardLineTest,
    ::testing::Values(LineFault{"NoiseBeforeEveryReply", {"--fault", "all noise 12"}},
                      LineFault{"StrayStartBytes",
                                {"--fault", "all stray 9", "--fault", "CMD_GET_VERSION noise 5"}},
                      LineFault{"RepliesSplitIntoChunks", {"--fault", "all split 7 40"}},
                      // The first reply held back: the three replies of the read leave together.
                      LineFault{"RepliesTogetherInOneChunk",
                                {"--fault", "CMD_COM_GET delay 150", "--fault",
                                 "CMD_CONVT_SET delay 1100"}},
                      LineFault{"RepliesDelayedWithinTheWindow", {"--fault", "all delay 300"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- disconnecting and closing ----

TEST_F(EndToEndTest, DisconnectKeepsLabelsAndValues) {
  StartConverter();
  Connect();
  ui().cbbParity->setCurrentText("MARK");
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_EQ(ui().btnConn->text(), "Connect");
  EXPECT_TRUE(ui().cbxPort->isEnabled());
  EXPECT_FALSE(ui().cbbParity->isEnabled());
  EXPECT_EQ(ui().cbbParity->currentText(), "MARK");
  EXPECT_EQ(ui().LbSMainVer->text(), "1.2");
  EXPECT_EQ(ui().LbSwtimer->text(), "build20170905");
  EXPECT_EQ(ui().LbHwmainVer->text(), "1.0");
  Settle(300);
  EXPECT_TRUE(messages().isEmpty());
}

TEST_F(EndToEndTest, ClosingTheWindowWhileConnectedClosesThePort) {
  StartConverter();
  Connect();
  window_->close();
  window_.reset();
  EXPECT_TRUE(PortIsFree());
}

// Restore defaults, then disconnect before its collection window ends, and
// choose another port: the acknowledgement is never examined, so no read
// follows, nothing opens a port and no message appears.
TEST_F(EndToEndTest, RestoreThenDisconnectAtOnceEndsTheRestore) {
  StartConverter();
  Connect();
  const qsizetype before = convsim_->ReceivedCommands().size();
  QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
  // The converter has the request (a disconnect drops what is still queued)
  // and acknowledges it.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return convsim_->ReceivedCommands().size() > before; }, kDeadlineMs));
  QTest::mouseClick(ui().btnConn, Qt::LeftButton);
  ui().cbxPort->setCurrentText(QStringLiteral("COM%1").arg(convsim_->Com() == 255 ? 254 : 255));
  Settle(7000);  // beyond the restore's 3 s window and its 0.5 s time-out
  EXPECT_TRUE(messages().isEmpty()) << messages().join(" | ").toStdString();
  EXPECT_EQ(convsim_->ReceivedCommands().mid(before), QStringList{"CMD_RESTORE_DEFAULT"});
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_EQ(ui().btnConn->text(), "Connect");
  EXPECT_TRUE(PortIsFree());
}

// ---- the adapter is pulled out ----

enum class Activity { Idle, ReadInFlight, RestoreInFlight, WriteInFlight };

struct LostPortCase {
  const char* name;
  Activity activity;
  const char* language;
  QString message;
  QString connectCaption;
};

void PrintTo(const LostPortCase& c, std::ostream* os) {
  *os << c.name;
}

class LostPortTest : public EndToEndTest, public ::testing::WithParamInterface<LostPortCase> {
 protected:
  // The adapter goes as soon as the first setting command has arrived,
  // while the window's thread sleeps before the second one.
  void PullOutDuringTheFirstWritePause() {
    std::thread pullOut([this] {
      QElapsedTimer clock;
      clock.start();
      while (!convsim_->ReceivedCommands().contains("CMD_CONVT_SET") &&
             clock.elapsed() < kDeadlineMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      convsim_->Kill();
    });
    QTest::mouseClick(ui().btnWriteCfg, Qt::LeftButton);
    pullOut.join();
  }
};

TEST_P(LostPortTest, WindowReturnsToDisconnectedSaysSoOnceAndConnectsAgainLater) {
  StartConverter();
  Connect();
  frmDM->LangCode = QString::fromLatin1(GetParam().language);
  ui().cbbParity->setCurrentText("MARK");
  const int com = convsim_->Com();
  if (GetParam().activity == Activity::ReadInFlight) {
    ui().pgcFunc->setCurrentIndex(2);
    QTest::mouseClick(ui().btnReadCfg, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return convsim_->ReceivedCommands().endsWith("CMD_CAN_GET"); }, kDeadlineMs));
  } else if (GetParam().activity == Activity::RestoreInFlight) {
    QTest::mouseClick(ui().btnDefCfg, Qt::LeftButton);
  }

  if (GetParam().activity == Activity::WriteInFlight)
    PullOutDuringTheFirstWritePause();
  else
    convsim_->Kill();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages().isEmpty(); }, kDeadlineMs));
  EXPECT_EQ(messages(), QStringList{GetParam().message});
  EXPECT_FALSE(w().Comm1->PortOpen());
  EXPECT_EQ(w().CurOpCode, 0);
  EXPECT_TRUE(ui().btnConn->isEnabled());
  EXPECT_EQ(ui().btnConn->text(), GetParam().connectCaption);
  EXPECT_TRUE(ui().cbxPort->isEnabled());
  EXPECT_FALSE(ui().btnWriteCfg->isEnabled());
  EXPECT_FALSE(ui().cbbParity->isEnabled());
  EXPECT_EQ(ui().cbbParity->currentText(), "MARK");
  EXPECT_EQ(ui().LbSMainVer->text(), "1.2");
  Settle(4500);  // beyond every window the operation had left
  EXPECT_EQ(messages(), QStringList{GetParam().message});

  // The adapter is back on the same port.
  convsim_ =
      std::make_unique<ConvsimProcess>(QStringLiteral(CONVSIM_EXE), folder_.path(),
                                       QStringList{"--com", QString::number(com), "--replace"});
  ASSERT_EQ(convsim_->Com(), com);
  frmDM->LangCode = QStringLiteral("enu");
  messages().clear();
  Connect();
  EXPECT_TRUE(FactoryValuesShown());
}

INSTANTIATE_TEST_SUITE_P(
    Activities, LostPortTest,
    ::testing::Values(
        LostPortCase{"Idle", Activity::Idle, "enu", kLostEnu, "Connect"},
        LostPortCase{"ReadInFlight", Activity::ReadInFlight, "chn", kLostChn, "连接"},
        LostPortCase{"RestoreInFlight", Activity::RestoreInFlight, "enu", kLostEnu, "Connect"},
        // Once the loss and not also the refused send before it.
        LostPortCase{"WriteInFlight", Activity::WriteInFlight, "chn", kLostChn, "连接"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- how operations end, and clicks meanwhile ----

enum class Button { Conn, Read, Write, Restore };

struct EndingCase {
  const char* name;
  Button button;
  QStringList messages;
  qint64 atLeastMs;          // the design windows from the click to the last message
  QStringList commands;      // what the converter receives from the click on
  QStringList options = {};  // the simulator's start options
  QString fault = {};        // a control line once connected
  int tab = 0;
  QStringList traceLines = {};  // lines the debug trace holds afterwards
  QString notTraced = {};       // and a line it does not hold
};

void PrintTo(const EndingCase& c, std::ostream* os) {
  *os << c.name;
}

class OperationEndingTest : public EndToEndTest, public ::testing::WithParamInterface<EndingCase> {
 protected:
  // The operator presses read, write and restore again, by the mouse and by
  // a screen reader: the running operation goes on.
  void PressTheOperationButtons() {
    for (QPushButton* button : {ui().btnReadCfg, ui().btnWriteCfg, ui().btnDefCfg}) {
      QTest::mouseClick(button, Qt::LeftButton);
      PressByAccessibility(button);
    }
  }
};

// Each operation ends with its own messages after its design windows, also
// when the operator presses the operation buttons while it collects replies
// and while its time-out runs (a restore pressed in the last second of a
// write used to restore the converter and report the write as timed out).
TEST_P(OperationEndingTest, EndsWithItsOwnMessagesWhateverIsPressedMeanwhile) {
  const EndingCase& c = GetParam();
  StartConverter(c.options);
  if (c.button != Button::Conn) Connect();
  if (!c.fault.isEmpty()) convsim_->Control(c.fault);
  ui().pgcFunc->setCurrentIndex(c.tab);
  const qsizetype before = convsim_->ReceivedCommands().size();
  QPushButton* const buttons[] = {ui().btnConn, ui().btnReadCfg, ui().btnWriteCfg, ui().btnDefCfg};

  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(buttons[static_cast<int>(c.button)], Qt::LeftButton);
  PressTheOperationButtons();
  const auto ended = [&] { return messages().size() >= c.messages.size(); };
  ASSERT_TRUE(QTest::qWaitFor([&] { return w().timOut->isActive() || ended(); }, kDeadlineMs));
  if (!ended()) PressTheOperationButtons();
  ASSERT_TRUE(QTest::qWaitFor(ended, kDeadlineMs)) << messages().join(" | ").toStdString();
  EXPECT_GE(clock.elapsed(), c.atLeastMs);
  EXPECT_EQ(messages(), c.messages);
  EXPECT_EQ(convsim_->ReceivedCommands().mid(before), c.commands);
  const QStringList trace = ui().Memo1->toPlainText().split('\n');
  for (const QString& line : c.traceLines) EXPECT_TRUE(trace.contains(line)) << line.toStdString();
  EXPECT_TRUE(c.notTraced.isEmpty() || !trace.contains(c.notTraced)) << c.notTraced.toStdString();

  // The window is ready for the next operation: connected or not, as before.
  const bool connected = c.button != Button::Conn;
  EXPECT_EQ(w().Comm1->PortOpen(), connected);
  EXPECT_EQ(ui().btnReadCfg->isEnabled(), connected);
  EXPECT_EQ(ui().btnDefCfg->isEnabled(), connected);
  EXPECT_EQ(ui().cbxPort->isEnabled(), !connected);
  EXPECT_TRUE(ui().btnConn->isEnabled());
  EXPECT_EQ(ui().btnConn->text(), connected ? "Disconnect" : "Connect");
}

const QStringList kWriteCommands = {"CMD_CONVT_SET", "CMD_COM_SET", "CMD_CAN_SET"};

// clang-format off
const EndingCase kEndings[] = {
    {"ConnectWithNothingAnswering", Button::Conn, {kTimeout}, 1400, {"CMD_GET_VERSION"},
     {"--fault", "all silence"}},
    {"ReadWithTheReplyMissing", Button::Read, {kTimeout}, 1900, {"CMD_CAN_GET"}, {},
     "fault CMD_CAN_GET silence", 2},
    {"WriteCompleting", Button::Write, {kWriteOk}, 1900, kWriteCommands, {}, {}, 0,
     {"CMD_CONVT_SET ok", "CMD_COM_SET ok", "CMD_CAN_SET ok"}},
    // The two acknowledgements received are traced.
    {"WriteWithOneAcknowledgementMissing", Button::Write, {kTimeout}, 2400, kWriteCommands, {},
     "fault CMD_COM_SET silence", 0, {"CMD_CONVT_SET ok", "CMD_CAN_SET ok"}, "CMD_COM_SET ok"},
    {"RestoreRefused", Button::Restore, {kRestoreRefused, kTimeout}, 3400, {"CMD_RESTORE_DEFAULT"},
     {"--fault", "CMD_RESTORE_DEFAULT refuse 0x21"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Operations, OperationEndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
