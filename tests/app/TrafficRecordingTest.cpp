// The main window records what its device operations send and receive, and
// the messages they show, as traffic rows, with no traffic window open. A
// converter is played on the far end of a pseudo-terminal; the test runs the
// timer handlers itself.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>

#include "app/TrafficModel.h"
#include "app/TrafficRecorder.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "app/untTraffic.h"
#include "i18n/untDM.h"
#include "protocol/Records.h"
#include "serial/Comm.h"
#include "support/ComLink.h"
#include "support/CommPseudoTerminal.h"
#include "support/FrameBytes.h"
#include "support/ModelRows.h"
#include "support/ReplyBytes.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using namespace protocol;
using app::TrafficModel;
using testing_support::Bytes;
using testing_support::Join;
using testing_support::RecordReplyBytes;
using testing_support::ReplyBytes;

constexpr int kComNumber = 7;
constexpr int kWaitMs = 5000;

Bytes ComReply() {
  return ReplyBytes(CMD_COM_GET, FRAME_ACK, testing_support::Com8N1(9600).Encode());
}

class TrafficRecording : public ::testing::Test {
 public:
  void SetUp() override {
    pty_ = platform::CommPseudoTerminal::Create();
    ASSERT_TRUE(pty_);
    ASSERT_FALSE(
        testing_support::LinkCom(folder_.path().toStdString(), kComNumber, pty_->SlavePath())
            .empty());
    window_ = std::make_unique<TfrmMain>();
    frmDM->LangCode = QStringLiteral("enu");
    window_->timBath->blockSignals(true);
    window_->timOut->blockSignals(true);
    window_->ui->cbxPort->setCurrentText(QStringLiteral("COM%1").arg(kComNumber));
  }

  TfrmMain& w() { return *window_; }

  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  void ReadRequests(std::size_t count) {
    Frame frame;
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_EQ(pty_->ReadExactly(frame.data(), frame.size(), kWaitMs), frame.size());
  }

  void Answer(const Bytes& bytes) {
    const std::uint16_t before = w().RxBuffer.RxCount();
    ASSERT_TRUE(pty_->Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w().RxBuffer.RxCount() >= before + bytes.size(); }, kWaitMs));
  }

  void Connect() {
    Click(w().ui->btnConn);
    ReadRequests(1);
    Answer(RecordReplyBytes(CMD_GET_VERSION));
    w().timBathTimer();
    ReadRequests(3);
    Answer(Join({ComReply(), RecordReplyBytes(CMD_CONVT_GET), RecordReplyBytes(CMD_CAN_GET)}));
    w().timBathTimer();
  }

  void LoseThePort() {
    pty_->CloseMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w().Comm1->PortOpen(); }, kWaitMs));
    QCoreApplication::sendPostedEvents();
  }

  // Rows recorded from now on are the ones a case looks at.
  void Mark() { mark_ = w().Traffic->Store().Appended(); }

  // "command|status|note" of each row since the mark, in English.
  QStringList Rows() const {
    const TrafficStore& store = window_->Traffic->Store();
    app::TrafficModel model(store);
    model.Refresh();
    const std::uint64_t held = store.Appended() - store.Size();
    return testing_support::ModelRows(
        model, {TrafficModel::ColCommand, TrafficModel::ColStatus, TrafficModel::ColNote},
        static_cast<int>(std::max(mark_, held) - held));
  }

  testing_support::TempProgramFolder folder_;
  testing_support::ScriptedDialogs dialogs_;
  TfrmDM dataModule_;
  std::unique_ptr<platform::CommPseudoTerminal> pty_;
  std::unique_ptr<TfrmMain> window_;
  std::uint64_t mark_ = 0;
};

struct RecordingCase {
  const char* name;
  std::function<void(TrafficRecording&)> act;
  QStringList rows;  // a row ending in "*" matches by its beginning
};

void PrintTo(const RecordingCase& c, std::ostream* os) {
  *os << c.name;
}

class TrafficRecordingCases : public TrafficRecording,
                              public ::testing::WithParamInterface<RecordingCase> {};

TEST_P(TrafficRecordingCases, RowsTellWhatHappenedOnTheLine) {
  GetParam().act(*this);
  EXPECT_TRUE(w().frmTraffic.isNull());  // recorded without any window
  const QStringList rows = Rows();
  const QStringList& expected = GetParam().rows;
  ASSERT_EQ(rows.size(), expected.size()) << rows.join("\n").toStdString();
  for (qsizetype i = 0; i < rows.size(); ++i) {
    if (expected[i].endsWith('*'))
      EXPECT_TRUE(rows[i].startsWith(expected[i].chopped(1))) << rows[i].toStdString();
    else
      EXPECT_EQ(rows[i], expected[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, TrafficRecordingCases,
    ::testing::Values(
        RecordingCase{"Connect",
                      [](TrafficRecording& t) { t.Connect(); },
                      {"CMD_GET_VERSION||", "CMD_GET_VERSION|accepted (0x20)|", "CMD_COM_GET||",
                       "CMD_CONVT_GET||", "CMD_CAN_GET||", "CMD_COM_GET|accepted (0x20)|",
                       "CMD_CONVT_GET|accepted (0x20)|", "CMD_CAN_GET|accepted (0x20)|",
                       "||acquire configuration succeed!"}},
        // Noise before the reply; the same reply again after the examination.
        RecordingCase{"ReadWithNoiseThenALateReply",
                      [](TrafficRecording& t) {
                        t.Connect();
                        t.Mark();
                        t.w().ui->pgcFunc->setCurrentIndex(1);
                        t.Click(t.w().ui->btnReadCfg);
                        t.ReadRequests(1);
                        t.Answer(Join({Bytes{0x11, 0x22, 0x33}, ComReply()}));
                        t.w().timBathTimer();
                        t.Answer(ComReply());
                      },
                      {"CMD_COM_GET||", "noise, 3 bytes||", "CMD_COM_GET|accepted (0x20)|",
                       "||acquire configuration succeed!",
                       "CMD_COM_GET|accepted (0x20)|arrived after the replies were examined"}},
        RecordingCase{"RestoreRefusedByTheConverter",
                      [](TrafficRecording& t) {
                        t.Connect();
                        t.Mark();
                        t.Click(t.w().ui->btnDefCfg);
                        t.ReadRequests(1);
                        t.Answer(ReplyBytes(CMD_RESTORE_DEFAULT, FRAME_REFUSED));
                        t.w().timBathTimer();
                        t.w().timOutTimer();
                      },
                      {"CMD_RESTORE_DEFAULT||", "CMD_RESTORE_DEFAULT|refused (0x21)|",
                       "||Gets the default parameter settings fail!", "||operating timeout."}},
        RecordingCase{
            "RestoreQueryRefusedByAClosedPort",
            [](TrafficRecording& t) {
              t.w().btnDefCfgClick();
              t.w().timBathTimer();
              t.w().timOutTimer();
            },
            {"CMD_RESTORE_DEFAULT||not sent: the port refused it",
             "||Send \"Restore Default Configuration Command\" error.", "||operating timeout."}},
        RecordingCase{"PortThatCannotOpen",
                      [](TrafficRecording& t) {
                        t.w().ui->cbxPort->setCurrentText(QStringLiteral("COM255"));
                        t.Click(t.w().ui->btnConn);
                        t.w().timBathTimer();
                        t.w().timOutTimer();
                      },
                      {"||Error opening serial port*", "||operating timeout."}},
        // The start of a frame, then the adapter is pulled out.
        RecordingCase{"LostPortWithAFrameHalfReceived",
                      [](TrafficRecording& t) {
                        t.Connect();
                        t.Mark();
                        const Bytes reply = ComReply();
                        t.Answer(Bytes(reply.begin(), reply.begin() + 10));
                        t.LoseThePort();
                      },
                      {"noise, 10 bytes||incomplete frame",
                       "||The serial port was lost. Reconnect when the adapter is back."}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
