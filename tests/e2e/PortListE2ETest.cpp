// The port list and the connect's failure reasons in the real window: a
// simulated converter linked as a COM number shows up in the list and goes
// when its link goes; a connect that succeeded is remembered for the next
// start; a port that will not open says why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>

#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "platform/PortLock.h"
#include "support/CommPseudoTerminal.h"
#include "support/ConvsimProcess.h"
#include "support/HolderProcess.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using testing_support::ConvsimProcess;
using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

constexpr int kDeadlineMs = 20000;

class PortsEndToEnd : public ::testing::Test {
 protected:
  std::unique_ptr<TfrmMain> NewWindow() {
    auto window = std::make_unique<TfrmMain>();
    frmDM->LangCode = QStringLiteral("enu");
    dialogs_.messages.clear();  // what the start-up said about the missing database
    return window;
  }
  static QString Tip(TfrmMain& w, int com) {
    return w.ui->cbxPort->itemData(com - 1, Qt::ToolTipRole).toString();
  }
  void Link(int com, const std::string& target) {
    QDir(folder_.path()).mkpath(QStringLiteral("sys/ports"));
    const QString link = folder_.file(QStringLiteral("sys/ports/com%1").arg(com));
    ASSERT_EQ(symlink(target.c_str(), link.toLocal8Bit().constData()), 0);
  }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  TfrmDM dataModule_;
};

TEST_F(PortsEndToEnd, SimulatorShowsInTheListIsRememberedAndGoesWithItsLink) {
  auto convsim = std::make_unique<ConvsimProcess>(QStringLiteral(CONVSIM_EXE), folder_.path());
  const int com = convsim->Com();
  ASSERT_GT(com, 0) << "convsim did not start";
  auto window = NewWindow();
  const QString linkText = QStringLiteral("sys/ports/com%1 → /dev/pts/").arg(com);
  EXPECT_TRUE(Tip(*window, com).startsWith(linkText)) << Tip(*window, com).toStdString();
  EXPECT_TRUE(window->ui->cbxPort->itemData(com - 1, Qt::FontRole).value<QFont>().bold());

  window->ui->cbxPort->setCurrentIndex(com - 1);
  QTest::mouseClick(window->ui->btnConn, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.messages.isEmpty(); }, kDeadlineMs));
  ASSERT_EQ(dialogs_.messages.first(), QStringLiteral("acquire configuration succeed!"));
  window.reset();

  // The next start selects the number that connected.
  window = NewWindow();
  EXPECT_EQ(window->ui->cbxPort->currentText(), QStringLiteral("COM%1").arg(com));
  EXPECT_TRUE(window->ui->cbxPort->toolTip().contains(linkText));

  convsim.reset();  // the simulator removes its link as it ends
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Tip(*window, com).contains(linkText); }, kDeadlineMs))
      << Tip(*window, com).toStdString();
}

TEST_F(PortsEndToEnd, ConnectThatCannotOpenSaysWhyInTheCurrentLanguage) {
  // COM40: a pty that a program without locks opened first; COM41: a file.
  auto pty = platform::CommPseudoTerminal::Create();
  ASSERT_TRUE(pty);
  testing_support::HolderProcess holding(pty->SlavePath());
  ASSERT_GT(holding.Pid(), 0);
  const pid_t holder = holding.Pid();
  Link(40, pty->SlavePath());
  const std::string file = folder_.file(QStringLiteral("notes.txt")).toStdString();
  QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly);
  Link(41, file);
  // COM42: a pty that nobody has open, whose lock file names a live program
  // (a quillon-cli loop between two converters holds its port so).
  auto locked = platform::CommPseudoTerminal::Create();
  ASSERT_TRUE(locked);
  testing_support::ChildProcess locker("sleep", {"600"});
  ASSERT_TRUE(locker.Started());
  const std::string lockFile =
      std::string(platform::kLockFolder) + "/" + platform::LockFileName(locked->SlavePath());
  std::ofstream(lockFile) << std::string(10 - std::to_string(locker.Pid()).size(), ' ')
                          << locker.Pid() << '\n';
  struct Removed {
    std::string path;
    ~Removed() { std::remove(path.c_str()); }
  } lockRemoved{lockFile};
  Link(42, locked->SlavePath());

  const struct {
    int com;
    const char* lang;
    QString message;
    QString reason;  // the start of the second paragraph
  } rows[] = {
      {250, "enu", "Error opening serial port", "No device takes COM250."},
      {250, "chn", "Error opening serial port", "没有设备对应 COM250。"},
      {40, "enu", "Error opening serial port",
       QStringLiteral("COM40 (sys/ports/com40 → %1) is in use by sleep (process %2).")
           .arg(QString::fromStdString(pty->SlavePath()))
           .arg(holder)},
      {42, "enu", "Error opening serial port",
       QStringLiteral("COM42 (sys/ports/com42 → %1) is in use by sleep (process %2).")
           .arg(QString::fromStdString(locked->SlavePath()))
           .arg(locker.Pid())},
      {41, "enu", "File handle is not a comm handle ",
       QStringLiteral("COM41 (sys/ports/com41 → %1) is not a serial device.")
           .arg(QString::fromStdString(file))},
  };
  auto window = NewWindow();
  for (const auto& row : rows) {
    frmDM->LangCode = QString::fromLatin1(row.lang);
    window->ui->cbxPort->setCurrentIndex(row.com - 1);
    dialogs_.messages.clear();
    window->btnConnClick();
    window->timBath->stop();
    window->ui->btnConn->setEnabled(true);
    ASSERT_EQ(dialogs_.messages.size(), 1) << "COM" << row.com;
    EXPECT_EQ(dialogs_.messages.first(), row.message);
    EXPECT_TRUE(dialogs_.lastInformativeText.startsWith(row.reason))
        << dialogs_.lastInformativeText.toStdString();
  }
}

}  // namespace
