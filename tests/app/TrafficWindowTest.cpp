// The traffic window over the main window's recorder: opening and raising,
// its placement in the settings file, the problems-only view, pause and
// clear, copy and save, the language and what a screen reader reads; and the
// table model's bound of 10,000 rows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/TrafficModel.h"
#include "app/TrafficRecorder.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "app/untTraffic.h"
#include "app/untTrafficForm.h"
#include "i18n/LangDbPassword.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "platform/LangDb.h"
#include "platform/ProfileFile.h"
#include "protocol/Records.h"
#include "protocol/TrafficFormat.h"
#include "support/FileBytes.h"
#include "support/FrameBytes.h"
#include "support/ModelRows.h"
#include "support/ReplyBytes.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using app::TrafficModel;
using namespace protocol;
using testing_support::ReadFileBytes;
using testing_support::ToBytes;

const QString kDataDir = QStringLiteral(QUILLON_DATA_DIR);

// A connect with noise after the version reply, then a serial-line write the
// converter refuses and the time-out: six rows, three of them problems.
void RecordAnExchange(app::TrafficRecorder& traffic) {
  traffic.Cleared();
  traffic.Sent(testing_support::QueryBytes(CMD_GET_VERSION), true);
  traffic.Received(testing_support::RecordReplyBytes(CMD_GET_VERSION));
  traffic.Received(testing_support::Bytes{0xAA, 0xBB});
  traffic.Cleared();
  traffic.Sent(ToBytes(testing_support::Com8N1(9600).ToSetFrame()), true);
  traffic.Received(testing_support::ReplyBytes(CMD_COM_SET, FRAME_REFUSED));
  traffic.Examined();
  traffic.Message(messages::Msg::Timeout);
}

class TrafficWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    CurLangID = 0;
    CurLangFile.clear();
    Start();
  }

  // The data module, then the main window, as the program starts.
  void Start() {
    window_.reset();
    dm_.reset();
    dm_ = std::make_unique<TfrmDM>();
    window_ = std::make_unique<TfrmMain>();
    if (CurLangFile.isEmpty()) frmDM->LangCode = QStringLiteral("enu");
    dialogs_.messages.clear();
  }

  TfrmTraffic* Open() {
    window_->ui->mnuTraffic->trigger();
    EXPECT_TRUE(window_->frmTraffic);
    return window_->frmTraffic;
  }

  // Closes the window as the operator does; it is gone once this returns.
  void Close() {
    window_->frmTraffic->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window_->frmTraffic.isNull());
  }

  TfrmTraffic& t() { return *window_->frmTraffic; }
  // Records the exchange and lets the window's timer show it.
  void RecordAndRefresh() {
    RecordAnExchange(*window_->Traffic);
    t().timRefreshTimer();
  }
  int RowsShown() { return t().Filter->rowCount(); }
  QString Cell(int row, int column) { return t().Filter->index(row, column).data().toString(); }

  testing_support::TempProgramFolder folder_;
  testing_support::ScriptedDialogs dialogs_;
  std::unique_ptr<TfrmDM> dm_;
  std::unique_ptr<TfrmMain> window_;  // gone before the data module
};

TEST_F(TrafficWindow, OpensOnceComesToTheFrontAndShowsWhatWasRecordedBefore) {
  RecordAnExchange(*window_->Traffic);
  TfrmTraffic* first = Open();
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(RowsShown(), 6);
  EXPECT_EQ(t().ui->lblRowCount->text(), "6 / 6");

  first->showMinimized();
  EXPECT_EQ(Open(), first);
  EXPECT_FALSE(first->isMinimized());
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(window_->findChildren<TfrmTraffic*>().size(), 1);
}

TEST_F(TrafficWindow, PlacementIsKeptInTheSettingsFileAndComesBackOnScreen) {
  Open()->setGeometry(40, 50, 600, 300);
  Close();
  const platform::ProfileFile ini(SettingsFilePath());
  const char* const keys[] = {"Left", "Top", "Width", "Height"};
  EXPECT_EQ(QRect(ini.ReadInt("Traffic", keys[0], 0), ini.ReadInt("Traffic", keys[1], 0),
                  ini.ReadInt("Traffic", keys[2], 0), ini.ReadInt("Traffic", keys[3], 0)),
            QRect(40, 50, 600, 300));
  EXPECT_EQ(Open()->geometry(), QRect(40, 50, 600, 300));
  Close();

  // A screen that has gone, or a title bar out of reach.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  for (const QRect& saved :
       {QRect(-5000, 40, 600, 300), QRect(40, 5000, 600, 300),
        QRect(40, screen.top() - 290, 600, 300), QRect(-4000, -4000, 9000, 9000)}) {
    SCOPED_TRACE(testing::PrintToString(saved.x()) + "," + testing::PrintToString(saved.y()));
    const int values[] = {saved.x(), saved.y(), saved.width(), saved.height()};
    for (int i = 0; i < 4; ++i) ini.WriteInt("Traffic", keys[i], values[i]);
    const QRect shown = Open()->geometry();
    EXPECT_TRUE(screen.contains(shown.topLeft()) &&
                shown.size().boundedTo(screen.size()) == shown.size())
        << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    Close();
  }
}

TEST_F(TrafficWindow, ProblemsOnlyPauseAndClear) {
  Open();
  RecordAndRefresh();
  ASSERT_EQ(RowsShown(), 6);

  t().ui->chkProblemsOnly->click();
  EXPECT_EQ(
      testing_support::ModelRows(
          *t().Filter, {TrafficModel::ColCommand, TrafficModel::ColStatus, TrafficModel::ColNote}),
      (QStringList{"noise, 2 bytes||", "CMD_COM_SET|refused (0x21)|refused by the converter",
                   "||operating timeout."}));

  // Paused, the view stays as it is while recording goes on. (Enter on the
  // focused button, as Space.)
  QTest::keyClick(t().ui->btnPause, Qt::Key_Return);
  ASSERT_TRUE(t().ui->btnPause->isChecked());
  RecordAndRefresh();
  EXPECT_EQ(RowsShown(), 3);
  EXPECT_EQ(t().ui->lblRowCount->text(), "3 / 12");
  t().ui->btnPause->click();
  EXPECT_EQ(RowsShown(), 6);
  t().ui->chkProblemsOnly->click();
  EXPECT_EQ(RowsShown(), 12);

  // Clear while paused: the view empties and stays paused.
  t().ui->btnPause->click();
  t().ui->btnClear->click();
  EXPECT_EQ(RowsShown(), 0);
  RecordAndRefresh();
  EXPECT_EQ(RowsShown(), 0);
  EXPECT_EQ(t().ui->lblRowCount->text(), "0 / 6");
  t().ui->btnPause->click();
  EXPECT_EQ(RowsShown(), 6);
}

TEST_F(TrafficWindow, CopiesTheSelectedRowsAndSavesEveryRowAsText) {
  RecordAnExchange(*window_->Traffic);
  Open();
  QTableView* view = t().ui->grdTraffic;
  EXPECT_FALSE(t().ui->btnCopy->isEnabled());
  for (int row : {4, 1})
    view->selectionModel()->select(t().Filter->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  ASSERT_TRUE(t().ui->btnCopy->isEnabled());
  const QString lines = t().Model->RowLine(1) + '\n' + t().Model->RowLine(4) + '\n';
  QApplication::clipboard()->clear();
  t().ui->btnCopy->click();
  EXPECT_EQ(QApplication::clipboard()->text(), lines);
  QApplication::clipboard()->clear();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), lines);

  // Refused without being opened: a named pipe and a folder.
  const QString pipe = folder_.file("pipe.txt");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
  for (const QString& target : {pipe, folder_.path()}) {
    dialogs_.messages.clear();
    dialogs_.saveAnswers = {target};
    t().ui->btnSave->click();
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].startsWith("Cannot write file")) << target.toStdString();
    EXPECT_FALSE(dialogs_.lastInformativeText.isEmpty());
  }
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  // Every row recorded, whatever the view shows; an existing file only when
  // the operator says so.
  t().ui->chkProblemsOnly->click();
  const QString saved = folder_.file("traffic.txt");
  QByteArray expected;
  for (int row = 0; row < t().Model->rowCount(); ++row)
    expected += t().Model->RowLine(row).toUtf8() + '\n';
  ASSERT_EQ(expected.count('\n'), 6);
  dialogs_.messages.clear();
  dialogs_.saveAnswers = {saved, saved, saved};
  dialogs_.yesNoAnswers = {false, true};
  t().ui->btnSave->click();
  EXPECT_EQ(dialogs_.saveRequests.back().defaultSuffix, "txt");
  EXPECT_EQ(ReadFileBytes(saved), expected);
  EXPECT_EQ(dialogs_.messages, QStringList{"6 traffic rows saved."});
  window_->Traffic->Message(messages::Msg::ReadOk);
  t().ui->btnSave->click();  // No
  EXPECT_EQ(ReadFileBytes(saved), expected);
  t().ui->btnSave->click();  // Yes
  EXPECT_EQ(ReadFileBytes(saved).count('\n'), 7);
  EXPECT_EQ(dialogs_.questions.size(), 2);
}

TEST_F(TrafficWindow, FollowsALanguageSwitchAndEveryCellIsReadByAScreenReader) {
  platform::CreateLangDb(
      folder_.file("sys/QNdata.adt"), QString::fromLatin1(kLangDbPassword),
      QString::fromUtf8(ReadFileBytes(kDataDir + QStringLiteral("/sys/QNdata.sql"))));
  for (const QString name : {"LangCHN.MUL", "LangENU.MUL"})
    ASSERT_TRUE(QFile::copy(kDataDir + '/' + name, folder_.file(name)));
  platform::ProfileFile(SettingsFilePath()).WriteInt("Lang", "LangID", 1);
  Start();
  ASSERT_EQ(frmDM->LangCode, "enu");
  RecordAnExchange(*window_->Traffic);
  EXPECT_EQ(window_->ui->mnuTraffic->text(), "Traffic");
  Open();
  QHeaderView* header = t().ui->grdTraffic->horizontalHeader();
  EXPECT_EQ(t().windowTitle(), "Traffic");
  EXPECT_EQ(t().ui->btnSave->text(), "Save as text...");
  EXPECT_EQ(t().Filter->headerData(TrafficModel::ColCommand, Qt::Horizontal), "Command");
  EXPECT_EQ(Cell(0, TrafficModel::ColDirection), "sent");

  CurLangID = 0;
  frmDM->GetLangFile(CurLangID);
  frmDM->LangCode = QStringLiteral("chn");
  window_->RefreshLanguage();
  EXPECT_EQ(t().windowTitle(), "通信记录");
  EXPECT_EQ(t().ui->chkProblemsOnly->text(), "只显示问题");
  EXPECT_EQ(header->model()->headerData(TrafficModel::ColStatus, Qt::Horizontal), "状态");
  EXPECT_EQ(Cell(1, TrafficModel::ColStatus), "接受 (0x20)");
  // The shipped files hold every key: the passes wrote nothing.
  for (const QString name : {"LangCHN.MUL", "LangENU.MUL"})
    EXPECT_EQ(ReadFileBytes(folder_.file(name)), ReadFileBytes(kDataDir + '/' + name))
        << name.toStdString();

  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(t().ui->grdTraffic);
  ASSERT_TRUE(table && table->tableInterface());
  EXPECT_EQ(table->text(QAccessible::Name), "通信记录");
  for (int row = 0; row < RowsShown(); ++row) {
    for (int column = 0; column < TrafficModel::ColumnCount; ++column) {
      QAccessibleInterface* cell = table->tableInterface()->cellAt(row, column);
      ASSERT_TRUE(cell && cell->tableCellInterface());
      EXPECT_EQ(cell->text(QAccessible::Name), Cell(row, column)) << row << "," << column;
      const auto headers = cell->tableCellInterface()->columnHeaderCells();
      ASSERT_EQ(headers.size(), 1);
      EXPECT_EQ(headers[0]->text(QAccessible::Name),
                header->model()->headerData(column, Qt::Horizontal).toString());
      // Made for the caller, which lets go of them.
      for (QAccessibleInterface* made : headers)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
  }
}

// The model follows the bounded store: rows the store dropped leave at the
// top, and a view over it never reads a row that is gone.
TEST(TrafficModelBound, KeepsTheLast10000RowsAsTheStoreDoes) {
  TrafficStore store;
  TrafficModel model(store);
  app::TrafficFilter problems(&model);
  problems.SetProblemsOnly(true);
  QAbstractItemModelTester checkModel(&model,
                                      QAbstractItemModelTester::FailureReportingMode::Fatal);
  QAbstractItemModelTester checkFilter(&problems,
                                       QAbstractItemModelTester::FailureReportingMode::Fatal);
  const auto append = [&](int count) {
    for (int i = 0; i < count; ++i) {
      TrafficRow row;
      row.time = std::chrono::milliseconds(store.Appended());
      row.kind = store.Appended() % 10 == 0 ? TrafficKind::Noise : TrafficKind::Sent;
      store.Append(row);
    }
  };
  append(9990);
  model.Refresh();
  append(60);  // 50 rows leave the store
  EXPECT_EQ(model.RowAt(0), nullptr);
  EXPECT_EQ(model.index(0, TrafficModel::ColTime).data(), QString());
  model.Refresh();
  ASSERT_EQ(model.rowCount(), 10000);
  EXPECT_EQ(model.RowLine(0).section('\t', 0, 1), "00:00:00.050\t");
  EXPECT_EQ(model.RowLine(1).section('\t', 0, 1), "00:00:00.051\t1.000");
  EXPECT_EQ(model.index(9999, TrafficModel::ColTime).data(), "00:00:10.049");
  EXPECT_EQ(problems.rowCount(), 1000);
  store.Clear();
  model.Refresh();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(problems.rowCount(), 0);
}

}  // namespace
