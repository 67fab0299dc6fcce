// The main window's search for converters: the probe that quillon-cli find
// uses, run on the window's loop over the ports the port list finds
// present, and its outcome in one box.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QPushButton>
#include <string>
#include <vector>

#include "app/PortList.h"
#include "app/untMain.h"
#include "i18n/OperatorMessages.h"
#include "i18n/untDM.h"
#include "platform/PortReason.h"
#include "serial/Comm.h"
#include "serial/ConverterProbe.h"
#include "ui/Dialogs.h"
#include "ui_untMain.h"

using messages::Msg;
using serial::ProbeResult;

namespace {

// What the box says after a search, and the port to select (empty: none).
struct FindReport {
  QString text;
  QString detail;
  QString selectPort;
};

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The line of a port that answered.
QString AnswerLine(const ProbeResult& result) {
  if (result.outcome == ProbeResult::Outcome::Refused)
    return MsgText(Msg::FindRefused)
        .arg(Text(result.port),
             QStringLiteral("%1").arg(result.status, 2, 16, QLatin1Char('0')).toUpper());
  return MsgText(Msg::FindVersion)
      .arg(Text(result.port), Text(result.version.SoftwareText()),
           Text(result.version.BuildDateText()), Text(result.version.HardwareText()));
}

// Why a port was not asked, as the connect would say it. A port that is
// merely silent is left out: that is what most ports are.
QString NotAskedLine(const ProbeResult& result) {
  const std::string langCode = frmDM ? frmDM->LangCode.toStdString() : std::string();
  const platform::CommError code = result.outcome == ProbeResult::Outcome::InUse
                                       ? platform::CommError::InUse
                                       : result.openError.code;
  return Text(platform::OpenFailureReason(result.port, code, result.openError.sysErrno, langCode));
}

FindReport DescribeFind(const std::vector<ProbeResult>& results) {
  QStringList answered, notAsked;
  FindReport report;
  for (const ProbeResult& result : results) {
    switch (result.outcome) {
      case ProbeResult::Outcome::Answered:
      case ProbeResult::Outcome::Refused:
        if (report.selectPort.isEmpty()) report.selectPort = Text(result.port);
        answered << AnswerLine(result);
        break;
      case ProbeResult::Outcome::InUse:
      case ProbeResult::Outcome::OpenFailed:
        notAsked << NotAskedLine(result);
        break;
      case ProbeResult::Outcome::Silent:
        break;
    }
  }
  if (answered.isEmpty()) {
    report.text = MsgText(Msg::FindNone);
  } else {
    answered.prepend(MsgText(Msg::FindAnswered));
    answered.append(MsgText(Msg::FindSelected).arg(report.selectPort));
    report.text = answered.join(QLatin1Char('\n'));
  }
  if (!notAsked.isEmpty()) {
    notAsked.prepend(MsgText(Msg::FindNotAsked));
    report.detail = notAsked.join(QLatin1Char('\n'));
  }
  return report;
}

}  // namespace

void TfrmMain::mnuFindClick() {
  // The entry is disabled then; a path around that finds nothing to do.
  if (OperationRunning() || Comm1->PortOpen()) return;
  const std::vector<std::string> ports = app::PresentPortNames(ui->cbxPort);
  FFind = std::make_unique<serial::ConverterProbe>();
  // The report deletes the probe: it waits for the window's loop, out of
  // the probe's notification. A second call finds the search ended.
  FFind->OnProgress = [this] {
    if (FFind->Finished())
      QMetaObject::invokeMethod(
          this, [this] { FindFinished(); }, Qt::QueuedConnection);
  };
  ShowFindingState(true);
  try {
    FFind->Start(ports);
  } catch (...) {
    AbandonFind();
    throw;
  }
  // No port opened (none present, or all held): no notification will come.
  if (FFind->Finished())
    QMetaObject::invokeMethod(
        this, [this] { FindFinished(); }, Qt::QueuedConnection);
}

void TfrmMain::FindFinished() {
  if (!FFind || !FFind->Finished()) return;
  const FindReport report = DescribeFind(FFind->Results());
  AbandonFind();
  if (!report.selectPort.isEmpty())
    ui->cbxPort->setCurrentIndex(ui->cbxPort->findText(report.selectPort));
  ui::Dialogs().ShowMessageWithDetail(report.text, report.detail);
}

void TfrmMain::AbandonFind() {
  if (!FFind) return;
  // Each port still open is closed, its threads ended, with the probe.
  FFind->OnProgress = nullptr;
  FFind.reset();
  ShowFindingState(false);
}

void TfrmMain::ShowFindingState(bool finding) {
  if (finding)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
  ui->btnConn->setEnabled(!finding);
  ui->N3->setEnabled(!finding);
  ShowOperationState();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  AbandonFind();
  QMainWindow::closeEvent(event);
}
