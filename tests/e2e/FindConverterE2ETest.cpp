// "Find converter" in the real window against simulated converters: which
// ports answered, the first one selected, a port another program holds left
// alone, nothing sent but the version query, and no other operation while
// the search runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <map>
#include <memory>
#include <vector>

#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "serial/Comm.h"
#include "support/ConvsimProcess.h"
#include "support/FileBytes.h"
#include "support/HolderProcess.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using testing_support::ConvsimProcess;
using testing_support::HolderProcess;
using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

constexpr int kDeadlineMs = 20000;

enum class Unit { Answers, AnswersV2, Refuses, Silent, Held };

class FindConverter : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<TfrmMain>();
    dialogs_.messages.clear();  // what the start-up said about the missing database
  }

  std::unique_ptr<ConvsimProcess> Start(int com, Unit unit) {
    QStringList args{QStringLiteral("--com"), QString::number(com)};
    if (unit == Unit::AnswersV2) args << QStringLiteral("--version") << "2,5,21,3,14,7,3,1";
    if (unit == Unit::Refuses) args << QStringLiteral("--fault") << "CMD_GET_VERSION refuse";
    if (unit == Unit::Silent) args << QStringLiteral("--fault") << "all silence";
    // The units share one frame log; the held one keeps its own.
    if (unit == Unit::Held) args << QStringLiteral("--log") << HeldLog();
    auto convsim =
        std::make_unique<ConvsimProcess>(QStringLiteral(CONVSIM_EXE), folder_.path(), args);
    EXPECT_EQ(convsim->Com(), com) << "convsim did not start";
    return convsim;
  }

  QString HeldLog() const { return folder_.file(QStringLiteral("held.log")); }

  QString PtyOf(int com) const {
    return QFileInfo(folder_.file(QStringLiteral("sys/ports/com%1").arg(com))).symLinkTarget();
  }

  // Runs the search: nothing else can start while it runs, all is back after.
  void Find() {
    dialogs_.messages.clear();
    w().ui->mnuFind->trigger();
    ExpectIdle(false);
    w().btnConnClick();
    EXPECT_FALSE(w().Comm1->PortOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.messages.isEmpty(); }, kDeadlineMs));
    EXPECT_EQ(dialogs_.messages.size(), 1);
    ExpectIdle(true);
  }

  void ExpectIdle(bool idle) {
    EXPECT_EQ(w().Finding(), !idle);
    for (QAction* entry : {w().ui->mnuFind, w().ui->N3}) EXPECT_EQ(entry->isEnabled(), idle);
    EXPECT_EQ(w().ui->btnConn->isEnabled(), idle);
    EXPECT_EQ(w().ui->cbxPort->isEnabled(), idle);
    const QCursor* cursor = QApplication::overrideCursor();
    EXPECT_EQ(cursor ? cursor->shape() : Qt::ArrowCursor, idle ? Qt::ArrowCursor : Qt::BusyCursor);
  }

  TfrmMain& w() { return *window_; }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  TfrmDM dataModule_;
  std::unique_ptr<TfrmMain> window_;
};

// COM6 is always a simulator that a plain program holds open; the first
// port that answered is selected, else the selection stays on COM2.
TEST_F(FindConverter, ListsWhereConvertersAnswerAndLeavesHeldPortsAlone) {
  const struct {
    const char* lang;
    std::map<int, Unit> units;
    QString text;
    QString selected;
    QString heldReason;  // %1 the held pty, %2 its holder's process id
  } rows[] = {
      {"enu",
       {{7, Unit::Answers}, {3, Unit::AnswersV2}, {5, Unit::Silent}, {6, Unit::Held}},
       "Ports where a converter answered:\n"
       "COM3: software 2.5 build2131407, hardware 3.1\n"
       "COM7: software 1.2 build20170905, hardware 1.0\n"
       "COM3 is selected.",
       "COM3",
       "COM6 (sys/ports/com6 → %1) is in use by sleep (process %2)."},
      {"chn",
       {{4, Unit::Refuses}, {5, Unit::Silent}, {6, Unit::Held}},
       "有转换器应答的串口：\nCOM4：拒绝了版本查询（状态 0x21）\n已选择 COM4。",
       "COM4",
       "COM6 (sys/ports/com6 → %1) 正被 sleep（进程 %2） 占用。"},
      {"enu",
       {{5, Unit::Silent}, {6, Unit::Held}},
       "No converter answered.",
       "COM2",
       "COM6 (sys/ports/com6 → %1) is in use by sleep (process %2)."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.toStdString());
    QFile::remove(folder_.file(QStringLiteral("convsim.log")));
    QFile::remove(HeldLog());
    std::map<int, std::unique_ptr<ConvsimProcess>> units;
    std::unique_ptr<HolderProcess> holder;
    for (const auto& [com, unit] : row.units) {
      units[com] = Start(com, unit);
      if (unit == Unit::Held) holder = std::make_unique<HolderProcess>(PtyOf(com).toStdString());
    }
    ASSERT_TRUE(holder && holder->Pid() > 0);
    frmDM->LangCode = QString::fromLatin1(row.lang);
    w().ui->cbxPort->setCurrentIndex(1);

    Find();
    EXPECT_EQ(dialogs_.messages.value(0), row.text) << dialogs_.messages.value(0).toStdString();
    EXPECT_EQ(w().ui->cbxPort->currentText(), row.selected);
    const QStringList notAsked = dialogs_.lastInformativeText.split('\n');
    EXPECT_EQ(notAsked.first(),
              row.lang == QStringLiteral("chn") ? "未查询的串口：" : "Not asked:");
    EXPECT_TRUE(notAsked.contains(row.heldReason.arg(PtyOf(6)).arg(holder->Pid())))
        << dialogs_.lastInformativeText.toStdString();
    // One version query to each unit asked (a silent one's log entry may
    // trail its reply window), and nothing at all to the held one.
    const QStringList versionQueries(qsizetype(row.units.size() - 1), "CMD_GET_VERSION");
    const ConvsimProcess& log = *units.at(5);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return log.ReceivedCommands().size() >= versionQueries.size(); }, kDeadlineMs));
    EXPECT_EQ(log.ReceivedCommands(), versionQueries);
    EXPECT_FALSE(testing_support::ReadFileBytes(HeldLog()).contains(" rx "))
        << "the held port was written to";
  }
}

// Find, connect to what was found: the entry is disabled from the connect
// click until the disconnect. A window closed during a search closes the
// search's ports with it.
TEST_F(FindConverter, OnlyWhileDisconnectedAndEndsWithTheWindow) {
  auto unit = Start(9, Unit::Answers);
  frmDM->LangCode = QStringLiteral("enu");
  Find();
  ASSERT_EQ(w().ui->cbxPort->currentText(), QStringLiteral("COM9"));

  dialogs_.messages.clear();
  QTest::mouseClick(w().ui->btnConn, Qt::LeftButton);
  EXPECT_FALSE(w().ui->mnuFind->isEnabled()) << "while connecting";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.messages.isEmpty(); }, kDeadlineMs));
  ASSERT_EQ(dialogs_.messages.first(), QStringLiteral("acquire configuration succeed!"));
  EXPECT_FALSE(w().ui->mnuFind->isEnabled()) << "while connected";
  w().mnuFindClick();
  EXPECT_FALSE(w().Finding());
  QTest::mouseClick(w().ui->btnConn, Qt::LeftButton);
  EXPECT_TRUE(w().ui->mnuFind->isEnabled()) << "after the disconnect";

  w().ui->mnuFind->trigger();
  ASSERT_TRUE(w().Finding());
  w().close();
  window_.reset();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  TComm other;
  other.SetCommName(QStringLiteral("COM9"));
  EXPECT_NO_THROW(other.OpenPort()) << "the search left the port open";
}

}  // namespace
