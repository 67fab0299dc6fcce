#include "app/untMain.h"

#include <QMenuBar>
#include <QShowEvent>
#include <QTimer>

#include "app/PortList.h"
#include "app/TrafficRecorder.h"
#include "app/untTraffic.h"
#include "params/ParamFile.h"
#include "params/ParamPanel.h"
#include "serial/ConverterProbe.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui/WindowHelpers.h"
#include "ui_untMain.h"

// The logo lives in a resource of this static library; make sure the linker
// keeps it and it is registered before the form loads it.
static void InitLogoResource() {
  Q_INIT_RESOURCE(logo);
}

namespace {

constexpr int kClientWidth = 478;
constexpr int kClientHeight = 550;
constexpr int kPortCount = 255;
constexpr int kConvertTab = 0;
constexpr int kTraceLines = 5000;

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(new Ui::TfrmMain),
      timBath(new QTimer(this)),
      timOut(new QTimer(this)),
      Panel(nullptr),
      Traffic(std::make_unique<app::TrafficRecorder>()) {
  InitLogoResource();
  ui->setupUi(this);
  // The language file's keys start with the window's design name.
  setObjectName(QStringLiteral("frmMain"));
  ui::ApplyDesignFont(this);
  CreateParamPanel();

  timBath->setObjectName(QStringLiteral("timBath"));
  timOut->setObjectName(QStringLiteral("timOut"));
  for (QTimer* timer : {timBath, timOut}) timer->setSingleShot(true);

  FixClientArea();
  ui::CenterOnScreen(this);
  ConnectWindowHandlers();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  FormDestroy();
  ui::SetExceptionHandler({});
  delete ui;
}

void TfrmMain::FixClientArea() {
  // The client area is 478 x 550 below the menu bar; the border is not
  // resizable.
  const int menuHeight = ui->MainMenu1->sizeHint().height();
  setFixedSize(kClientWidth, kClientHeight + menuHeight);
}

void TfrmMain::CreateParamPanel() {
  params::PanelControls controls;
  controls.pgcFunc = ui->pgcFunc;
  controls.cbxChgType = ui->cbxChgType;
  controls.cbxChgDirection = ui->cbxChgDirection;
  controls.chkCANInfoInPort = ui->chkCANInfoInPort;
  controls.chkCANIDInPort = ui->chkCANIDInPort;
  controls.EdtUsrCANID = ui->EdtUsrCANID;
  controls.spEdtOffSet = ui->spEdtOffSet;
  controls.spEdtLen = ui->spEdtLen;
  controls.spEdtInterval = ui->spEdtInterval;
  controls.chkCanInfo = ui->chkCanInfo;
  controls.chkCanId = ui->chkCanId;
  controls.EdtDataCANID = ui->EdtDataCANID;
  controls.cbbBaudRate = ui->cbbBaudRate;
  controls.cbbByteSize = ui->cbbByteSize;
  controls.cbbParity = ui->cbbParity;
  controls.cbbStopBits = ui->cbbStopBits;
  controls.CbxCANBaudrate = ui->CbxCANBaudrate;
  controls.cbxUsrFrameTp = ui->cbxUsrFrameTp;
  controls.chkActiveRecFilter = ui->chkActiveRecFilter;
  controls.cbxFilterFrame = ui->cbxFilterFrame;
  controls.cbxFilterID = ui->cbxFilterID;
  controls.edtFilterChkCode = ui->edtFilterChkCode;
  controls.edtFilterMaskCode = ui->edtFilterMaskCode;
  Panel = new params::ParamPanel(controls, this);
}

void TfrmMain::ConnectWindowHandlers() {
  ui::ConnectGuarded(ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  ui::ConnectGuarded(ui->N1, &QAction::triggered, this, [this] { N1Click(); });
  ui::ConnectGuarded(ui->N2, &QAction::triggered, this, [this] { N2Click(); });
  ui::ConnectGuarded(ui->mnuTraffic, &QAction::triggered, this, [this] { mnuTrafficClick(); });
  ui::ConnectGuarded(ui->mnuFind, &QAction::triggered, this, [this] { mnuFindClick(); });
}

void TfrmMain::FillPortList() {
  ui->cbxPort->clear();
  QStringList ports;
  ports.reserve(kPortCount);
  for (int number = 1; number <= kPortCount; ++number)
    ports.append(QStringLiteral("COM") + QString::number(number));
  ui->cbxPort->addItems(ports);
  ui->cbxPort->setCurrentIndex(0);
}

QList<QWidget*> TfrmMain::ConnectedOnlyControls() const {
  return {ui->cbxChgType,         ui->cbxChgDirection, ui->chkCANInfoInPort, ui->chkCANIDInPort,
          ui->EdtUsrCANID,        ui->spEdtOffSet,     ui->spEdtLen,         ui->spEdtInterval,
          ui->btnDefCfg,          ui->btnReadCfg,      ui->btnWriteCfg,      ui->cbbBaudRate,
          ui->cbbParity,          ui->cbbStopBits,     ui->CbxCANBaudrate,   ui->cbxUsrFrameTp,
          ui->chkActiveRecFilter, ui->cbxFilterFrame,  ui->cbxFilterID,      ui->edtFilterChkCode,
          ui->edtFilterMaskCode};
}

void TfrmMain::SetStartupEnabledState() {
  ui->pgcFunc->setEnabled(true);
  for (QWidget* control : ConnectedOnlyControls()) control->setEnabled(false);
  // The data bits never change: the list stays disabled for good.
  ui->cbbByteSize->setEnabled(false);
}

void TfrmMain::FormCreate() {
  // The version labels are filled by a connection.
  ui->LbSMainVer->clear();
  ui->LbSwtimer->clear();
  ui->LbHwmainVer->clear();
  // The fixed names COM1..COM255; the port list describes the device each
  // number resolves to.
  FillPortList();
  app::AttachPortList(ui->cbxPort);
  ui->pgcFunc->setCurrentIndex(kConvertTab);
  ui::SetExceptionHandler([this](QObject* sender, const QString& text, const QString& reason) {
    AppException(sender, text, reason);
  });
  // Disconnected: only the port choice, the connect button and the
  // data-conversion group can be used.
  SetStartupEnabledState();
  // The debug page and its clear button stay hidden for good; Memo1 still
  // receives every trace line.
  ui->pgcFunc->setTabVisible(ui->pgcFunc->indexOf(ui->TabSheet1), false);
  ui->Button1->setVisible(false);
  // Every received chunk is traced and nothing empties the trace: it keeps
  // the latest lines only, so that a long session does not grow without end.
  ui->Memo1->setMaximumBlockCount(kTraceLines);
  ui->N1->setEnabled(false);
  ui->N2->setEnabled(false);
  // Keyboard users press Enter on a focused button as well as Space.
  ui::LetEnterClickButtons(this);
  // Device operations: the pending-command list, the port, the timers.
  CreateDeviceOperations();

  // Language start-up, caption and connect-button caption.
  LanguageStartup();
}

void TfrmMain::FormShow() {
  ui->pgcFunc->setCurrentIndex(kConvertTab);
}

void TfrmMain::FormDestroy() {
  // A search still running closes its ports before the window's go.
  AbandonFind();
  // The traffic window keeps its placement and lets go of the recorder
  // before the recorder goes.
  if (frmTraffic) {
    frmTraffic->close();
    delete frmTraffic;
  }
  // Device operations: free the pending-command list, close an open port.
  DestroyDeviceOperations();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TfrmMain::AppException(QObject* Sender, const QString& text, const QString& reason) {
  try {
    ui::Dialogs().ShowMessageWithDetail(ui::EscapedFailureText(Sender, text), reason);
  } catch (...) {
    // Nothing more can be done for a failure while reporting a failure.
  }
}

void TfrmMain::Button1Click() {
  ui->Memo1->clear();
}

void TfrmMain::ApplyRecord(const protocol::Frame& frame, std::uint16_t replyCmd) {
  Panel->ApplyRecord(frame, replyCmd);
}

void TfrmMain::SendSetCommand(std::uint16_t cmd) {
  Panel->SendSetCommand(cmd);
}

bool TfrmMain::ValidatePanel() {
  return Panel->ValidatePanel();
}

void TfrmMain::N1Click() {
  params::ImportParameters(*Panel);
}

void TfrmMain::N2Click() {
  params::ExportParameters(*Panel);
}

void TfrmMain::mnuTrafficClick() {
  if (frmTraffic) {
    frmTraffic->setWindowState(frmTraffic->windowState() & ~Qt::WindowMinimized);
    frmTraffic->show();
    frmTraffic->raise();
    frmTraffic->activateWindow();
    return;
  }
  frmTraffic = new TfrmTraffic(*Traffic, this);
  // A language file that cannot be written is reported; the window still
  // opens, with the texts it has.
  try {
    frmTraffic->RefreshLanguage();
  } catch (...) {
    frmTraffic->show();
    throw;
  }
  frmTraffic->show();
}
