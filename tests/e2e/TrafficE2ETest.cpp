// The traffic window of the real program against the converter simulator:
// a connect with a noisy reply and a write the converter refuses show their
// rows, and saving writes them as lines of text. Replies may arrive during
// the pauses between requests, so the rows are compared as a set, with the
// order checked where the operations fix it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <memory>

#include "app/TrafficModel.h"
#include "app/TrafficRecorder.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "app/untTraffic.h"
#include "app/untTrafficForm.h"
#include "i18n/untDM.h"
#include "support/ConvsimProcess.h"
#include "support/FileBytes.h"
#include "support/ModelRows.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using app::TrafficModel;

constexpr int kDeadlineMs = 20000;

class TrafficEndToEnd : public ::testing::Test {
 protected:
  void ClickAndWaitFor(QPushButton* button, const QString& message) {
    dialogs_.messages.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.messages.isEmpty(); }, kDeadlineMs));
    ASSERT_EQ(dialogs_.messages, QStringList{message});
  }

  testing_support::TempProgramFolder folder_;
  testing_support::ScriptedDialogs dialogs_;
  TfrmDM dataModule_;
  std::unique_ptr<testing_support::ConvsimProcess> convsim_;
  std::unique_ptr<TfrmMain> window_;  // gone before the simulator
};

TEST_F(TrafficEndToEnd, ConnectNoisyReplyAndRefusedWriteShowTheirRowsAndSaveAsText) {
  convsim_ = std::make_unique<testing_support::ConvsimProcess>(
      QStringLiteral(CONVSIM_EXE), folder_.path(), QStringList{"--fault", "CMD_CONVT_GET noise 6"});
  ASSERT_GT(convsim_->Com(), 0) << "convsim did not start";
  window_ = std::make_unique<TfrmMain>();
  frmDM->LangCode = QStringLiteral("enu");
  window_->ui->cbxPort->setCurrentText(QStringLiteral("COM%1").arg(convsim_->Com()));
  window_->ui->mnuTraffic->trigger();
  TfrmTraffic& traffic = *window_->frmTraffic;

  ClickAndWaitFor(window_->ui->btnConn, "acquire configuration succeed!");
  convsim_->Control("fault CMD_COM_SET refuse");
  ClickAndWaitFor(window_->ui->btnWriteCfg, "operating timeout.");
  // The view catches up by its own timer.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return traffic.Filter->rowCount() == static_cast<int>(window_->Traffic->Store().Size());
      },
      kDeadlineMs));

  // "direction|command|status|note" of each row the window shows.
  const QStringList rows = testing_support::ModelRows(
      *traffic.Filter, {TrafficModel::ColDirection, TrafficModel::ColCommand,
                        TrafficModel::ColStatus, TrafficModel::ColNote});
  QStringList expected = {
      "sent|CMD_GET_VERSION||",
      "received|CMD_GET_VERSION|accepted (0x20)|",
      "sent|CMD_COM_GET||",
      "sent|CMD_CONVT_GET||",
      "sent|CMD_CAN_GET||",
      "received|CMD_COM_GET|accepted (0x20)|",
      "received|noise, 6 bytes||",
      "received|CMD_CONVT_GET|accepted (0x20)|",
      "received|CMD_CAN_GET|accepted (0x20)|",
      "message|||acquire configuration succeed!",
      "sent|CMD_CONVT_SET||",
      "sent|CMD_COM_SET||",
      "sent|CMD_CAN_SET||",
      "received|CMD_CONVT_SET|accepted (0x20)|",
      "received|CMD_COM_SET|refused (0x21)|refused by the converter",
      "received|CMD_CAN_SET|accepted (0x20)|",
      "message|||operating timeout.",
  };
  QStringList sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected) << rows.join('\n').toStdString();
  EXPECT_EQ(rows.value(rows.size() - 1), "message|||operating timeout.");
  EXPECT_LT(rows.indexOf("received|noise, 6 bytes||"),
            rows.indexOf("received|CMD_CONVT_GET|accepted (0x20)|"));
  EXPECT_LT(rows.indexOf("sent|CMD_COM_SET||"),
            rows.indexOf("received|CMD_COM_SET|refused (0x21)|refused by the converter"));

  // Problems only: the noise, the refusal and the time-out.
  traffic.ui->chkProblemsOnly->click();
  EXPECT_EQ(traffic.Filter->rowCount(), 3);

  // Saved: one line of ten tab-separated fields per row, in the view's order.
  const QString saved = folder_.file("traffic.txt");
  dialogs_.messages.clear();
  dialogs_.saveAnswers = {saved};
  traffic.ui->btnSave->click();
  EXPECT_EQ(dialogs_.messages,
            QStringList{QStringLiteral("%1 traffic rows saved.").arg(rows.size())});
  const QStringList lines =
      QString::fromUtf8(testing_support::ReadFileBytes(saved)).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), rows.size());
  static const QRegularExpression clock(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
  static const QRegularExpression gap(QStringLiteral("^\\d+\\.\\d{3}$"));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QStringList fields = lines[i].split('\t');
    ASSERT_EQ(fields.size(), 10) << lines[i].toStdString();
    EXPECT_TRUE(clock.match(fields[0]).hasMatch()) << fields[0].toStdString();
    EXPECT_TRUE(i == 0 || gap.match(fields[1]).hasMatch()) << fields[1].toStdString();
    const QStringList cells = rows[i].split('|');
    EXPECT_EQ((QStringList{fields[2], fields[3], fields[4], fields[8]}), cells);
  }
  const QStringList refused =
      lines[rows.indexOf("received|CMD_COM_SET|refused (0x21)|refused by the "
                         "converter")]
          .split('\t');
  EXPECT_EQ(refused[5], "1");
  EXPECT_EQ(refused[6], "ok");
  EXPECT_TRUE(refused[9].startsWith("7F 01 20 20 00 01 21")) << refused[9].toStdString();
  const QStringList noise = lines[rows.indexOf("received|noise, 6 bytes||")].split('\t');
  EXPECT_EQ(noise[9].split(' ').size(), 6);
}

}  // namespace
