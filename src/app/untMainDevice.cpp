// The main window's device operations: connect and disconnect, read, write
// and restore defaults. Every operation sends its requests, waits one
// collection window (timBath), examines the received bytes once and either
// completes with a message or is ended by timOut. All of it runs on the
// window's thread; the pauses between sends are sleeps of that thread.
#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <vector>

#include "app/MyElemLst.h"
#include "app/PortList.h"
#include "app/TrafficRecorder.h"
#include "app/untMain.h"
#include "i18n/OperatorMessages.h"
#include "params/ParamPanel.h"
#include "platform/Exception.h"
#include "protocol/FrameSearch.h"
#include "serial/Comm.h"
#include "serial/ConverterLine.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui_untMain.h"

using namespace protocol;
using messages::Msg;

namespace {

constexpr int kBathMs = 1000;
constexpr int kRestoreBathMs = 3000;
constexpr int kReadTimeOutMs = 1000;
constexpr int kOtherTimeOutMs = 500;
constexpr unsigned long kOpenPauseMs = 2;
constexpr unsigned long kClosePauseMs = 1;
constexpr unsigned long kQueryPauseMs = 20;
constexpr unsigned long kSetPauseMs = 500;

constexpr int kConvertTab = 0;
constexpr int kComTab = 1;
constexpr int kCanTab = 2;

constexpr int kPortNumberStart = 3;  // "COM12": the number starts at index 3
constexpr int kPortNumberMaxChars = 4;

void Pause(unsigned long ms) {
  QThread::msleep(ms);
}

}  // namespace

// ---- life cycle ----

void TfrmMain::CreateDeviceOperations() {
  FCmdList = new TMyElemLst;
  CurOpCode = 0;
  RxBuffer.ClearRxBuffer();

  Comm1 = new TComm(this);
  Comm1->setObjectName(QStringLiteral("Comm1"));
  serial::UseConverterLine(*Comm1);
  Comm1->OnReceiveData = [this](TComm* sender, const std::uint8_t* buffer, std::uint16_t length) {
    Comm1ReceiveData(sender, buffer, length);
  };
  Comm1->OnRequestHangup = [this](TComm* sender) { Comm1RequestHangup(sender); };
  // A setting command refused because the port has gone is not reported as
  // a refusal: the loss has just told the operator.
  Panel->SetSendTarget([this](const std::uint8_t* data, std::uint16_t length) {
    return SendToPort(data, length) != SendResult::Refused;
  });

  // The design windows are part of the protocol: precise timers keep them
  // from drifting by the coarse timers' 5 %.
  for (QTimer* timer : {timBath, timOut}) {
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->stop();
  }
  ConnectDeviceHandlers();
}

void TfrmMain::ConnectDeviceHandlers() {
  // Guarded: a failure escaping a handler is reported with its control or
  // timer as the sender.
  ui::ConnectGuarded(ui->btnConn, &QPushButton::clicked, this, [this] { btnConnClick(); });
  ui::ConnectGuarded(ui->btnReadCfg, &QPushButton::clicked, this, [this] { btnReadCfgClick(); });
  ui::ConnectGuarded(ui->btnWriteCfg, &QPushButton::clicked, this, [this] { btnWriteCfgClick(); });
  ui::ConnectGuarded(ui->btnDefCfg, &QPushButton::clicked, this, [this] { btnDefCfgClick(); });
  ui::ConnectGuarded(timBath, &QTimer::timeout, this, [this] { timBathTimer(); });
  ui::ConnectGuarded(timOut, &QTimer::timeout, this, [this] { timOutTimer(); });
}

void TfrmMain::DestroyDeviceOperations() {
  delete FCmdList;
  FCmdList = nullptr;
  if (!Comm1) return;
  if (Comm1->PortOpen()) ReleasePort();
  // Notifications still queued for the window must not reach a window being
  // torn down.
  Comm1->OnReceiveData = nullptr;
  Comm1->OnRequestHangup = nullptr;
  timBath->stop();
  timOut->stop();
}

// ---- helpers ----

void TfrmMain::ClearRxBuffer() {
  RxBuffer.ClearRxBuffer();
  Traffic->Cleared();
}

void TfrmMain::ReleasePort() {
  Comm1->ClosePort();
  Traffic->PortClosed();
}

void TfrmMain::ShowOperationMsg(Msg id) {
  // Recorded first: the message box runs the event loop until it closes.
  Traffic->Message(id);
  ShowMsg(id);
}

void TfrmMain::StartBatch(int intervalMs) {
  timBath->setInterval(intervalMs);
  timBath->start();
}

std::uint64_t TfrmMain::BeginOperation() {
  // A time-out armed by an earlier operation must not end this one, and its
  // collection window must not examine this one's replies.
  timBath->stop();
  timOut->stop();
  ClearRxBuffer();
  return ++FOperation;
}

void TfrmMain::EndOperation() {
  timBath->stop();
  timOut->stop();
  CurOpCode = 0;
  FCmdList->Clear();
  ++FOperation;
}

void TfrmMain::StartOperation(const std::function<void()>& sends) {
  // Whatever way the sends end (a failure included), the controls then show
  // the state they left: the operation running, or none.
  struct ShowStateAtEnd {
    TfrmMain* window;
    ~ShowStateAtEnd() {
      window->FStarting = false;
      window->ShowOperationState();
    }
  };
  FStarting = true;
  ShowOperationState();
  const ShowStateAtEnd atEnd{this};
  sends();
}

void TfrmMain::ShowOperationState() {
  const bool idle = !OperationRunning();
  for (QWidget* button : {ui->btnReadCfg, ui->btnWriteCfg, ui->btnDefCfg})
    button->setEnabled(FConnected && idle);
  const bool holding = Comm1->PortOpen();
  ui->cbxPort->setEnabled(!holding && idle);
  ui->mnuFind->setEnabled(!holding && idle);
  app::HoldPortSelection(ui->cbxPort, holding ? FOpenedPort : QString());
}

void TfrmMain::DeliverPortNotifications() {
  Comm1->DeliverPendingNotifications();
}

TfrmMain::SendResult TfrmMain::SendToPort(const std::uint8_t* data, std::uint16_t length) {
  const bool wasOpen = Comm1->PortOpen();
  const bool delivered = Comm1->SendData(data, length);
  Traffic->Sent(std::span(data, length), delivered);
  if (delivered) return SendResult::Sent;
  // An open port refuses a block when its write thread has ended, and a
  // thread that ends on a loss reports the loss first: handled now, the
  // report closes the port and tells the operator.
  if (wasOpen) DeliverPortNotifications();
  return wasOpen && !Comm1->PortOpen() ? SendResult::PortLost : SendResult::Refused;
}

bool TfrmMain::PortLostDuringPause(std::uint64_t operation) {
  DeliverPortNotifications();
  return OperationEnded(operation);
}

void TfrmMain::Disconnect() {
  EndOperation();
  SetControlsEnabled(false);  // closes the port
}

void TfrmMain::UpdateConnCaption() {
  ui->btnConn->setText(MsgText(Comm1->PortOpen() ? Msg::Disconnect : Msg::Connect));
}

void TfrmMain::ConfigurePort() {
  Comm1->SetCommName(QStringLiteral("\\\\.\\COM") +
                     ui->cbxPort->currentText().mid(kPortNumberStart, kPortNumberMaxChars));
  serial::UseConverterLine(*Comm1);
}

void TfrmMain::RequestGet(std::uint16_t code) {
  FCmdList->Add(code);
  SendQuery(code);
}

bool TfrmMain::RequestAllGroups(std::initializer_list<std::uint16_t> codes,
                                std::uint64_t operation) {
  FCmdList->Clear();
  CurOpCode = OP_READ_CFG;
  bool first = true;
  for (const std::uint16_t code : codes) {
    if (!first) {
      Pause(kQueryPauseMs);
      if (PortLostDuringPause(operation)) return false;
    }
    first = false;
    RequestGet(code);
    // The message of a refused send runs the event loop, in which the port
    // may be lost or closed.
    if (OperationEnded(operation)) return false;
  }
  return true;
}

void TfrmMain::TraceLine(const QString& line) {
  ui->Memo1->appendPlainText(line);
}

void TfrmMain::TraceHex(const std::uint8_t* bytes, std::size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  QString line;
  line.reserve(static_cast<qsizetype>(n * 3));
  for (std::size_t i = 0; i < n; ++i) {
    line += QLatin1Char(kDigits[bytes[i] >> 4]);
    line += QLatin1Char(kDigits[bytes[i] & 0x0F]);
    line += QLatin1Char(' ');
  }
  TraceLine(line);
}

void TfrmMain::ShowVersion(const Frame& frame) {
  const auto version = VersionRecord::FromReply(frame);
  ui->LbSMainVer->setText(QString::fromStdString(version.SoftwareText()));
  ui->LbHwmainVer->setText(QString::fromStdString(version.HardwareText()));
  ui->LbSwtimer->setText(QString::fromStdString(version.BuildDateText()));
}

// ---- sending ----

bool TfrmMain::OpenSelectedPort() {
  const QString port = ui->cbxPort->currentText();
  try {
    ConfigurePort();
    Comm1->OpenPort();
    // From here on the list shows the port held, whatever is picked in it.
    FOpenedPort = port;
    ShowOperationState();
    Pause(kOpenPauseMs);
    return true;
  } catch (...) {
    const QString text = platform::CurrentExceptionText();
    const QString detail = app::OpenFailureDetail(*Comm1);
    Traffic->Message(std::nullopt, detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
    ui::Dialogs().ShowMessageWithDetail(text, detail);
    return false;
  }
}

void TfrmMain::SendQuery(std::uint16_t code) {
  ui::RunShowingFailure([&] {
    const Frame frame = BuildQueryFrame(code);
    if (SendToPort(frame.data(), static_cast<std::uint16_t>(frame.size())) == SendResult::Refused)
      ShowOperationMsg(Msg::SendError);
  });
}

void TfrmMain::SendRestoreDefault() {
  const Frame frame = BuildQueryFrame(CMD_RESTORE_DEFAULT);
  if (SendToPort(frame.data(), static_cast<std::uint16_t>(frame.size())) == SendResult::Refused)
    ShowOperationMsg(Msg::RestoreSendError);
}

void TfrmMain::SetControlsEnabled(bool enabled) {
  FConnected = enabled;
  for (QWidget* control : ConnectedOnlyControls()) control->setEnabled(enabled);
  ui->N1->setEnabled(enabled);
  ui->N2->setEnabled(enabled);
  if (!enabled) {
    ReleasePort();
    Pause(kClosePauseMs);
  }
  // The operation buttons while an operation runs, and the port list.
  ShowOperationState();
  UpdateConnCaption();
}

// ---- button handlers ----

void TfrmMain::btnConnClick() {
  // Disabled while converters are sought, whatever reached it.
  if (Finding()) return;
  ui::RunShowingFailure([&] {
    if (Comm1->PortOpen()) {
      Disconnect();
      return;
    }
    StartOperation([&] {
      const auto operation = BeginOperation();
      // A port that cannot be opened is reported; the time-out then returns
      // the window to Disconnected.
      if (OpenSelectedPort()) SendQuery(CMD_GET_VERSION);
      if (OperationEnded(operation)) return;
      CurOpCode = CMD_GET_VERSION;
      StartBatch(kBathMs);
      ui->btnConn->setEnabled(false);
    });
  });
}

// The read, write and restore handlers start nothing while an operation
// runs, whatever reached them: their buttons are disabled then.
void TfrmMain::btnReadCfgClick() {
  if (OperationRunning()) return;
  StartOperation([&] { ReadShownTab(); });
}

void TfrmMain::ReadShownTab() {
  ui::RunShowingFailure([&] {
    const auto operation = BeginOperation();
    FCmdList->Clear();
    switch (ui->pgcFunc->currentIndex()) {
      case kConvertTab:
        RequestGet(CMD_CONVT_GET);
        break;
      case kComTab:
        RequestGet(CMD_COM_GET);
        break;
      case kCanTab:
        RequestGet(CMD_CAN_GET);
        break;
      default:
        return;
    }
    if (OperationEnded(operation)) return;
    CurOpCode = OP_READ_CFG;
    StartBatch(kBathMs);
  });
}

void TfrmMain::btnWriteCfgClick() {
  if (OperationRunning()) return;
  StartOperation([&] { WriteAllGroups(); });
}

void TfrmMain::WriteAllGroups() {
  ui::RunShowingFailure([&] {
    const int shownTab = ui->pgcFunc->currentIndex();
    if (ValidatePanel()) return;
    ui->pgcFunc->setCurrentIndex(shownTab);
    // Every record must be buildable before the first one is sent: a write
    // that stopped halfway would leave the converter half configured.
    Panel->BuildConvtParams();
    Panel->BuildComParams();
    Panel->BuildCanParams();

    const auto operation = BeginOperation();
    FCmdList->Clear();
    // A loss reported during a pause, or delivered in the message box of a
    // refused send, stops the write where it is.
    for (const std::uint16_t command : {CMD_CONVT_SET, CMD_COM_SET, CMD_CAN_SET}) {
      if (command != CMD_CONVT_SET) {
        Pause(kSetPauseMs);
        if (PortLostDuringPause(operation)) return;
      }
      FCmdList->Add(command);
      SendSetCommand(command);
      if (OperationEnded(operation)) return;
    }
    CurOpCode = OP_WRITE_CFG;
    StartBatch(kBathMs);
  });
}

// Catches nothing: a failure here reaches the application-wide handler.
void TfrmMain::btnDefCfgClick() {
  if (OperationRunning()) return;
  StartOperation([&] {
    const auto operation = BeginOperation();
    FCmdList->Clear();
    SendRestoreDefault();
    if (OperationEnded(operation)) return;
    CurOpCode = CMD_RESTORE_DEFAULT;
    StartBatch(kRestoreBathMs);
  });
}

// ---- timers ----

void TfrmMain::timBathTimer() {
  // Replies that came in time may still be queued; a lost port among them ends the operation.
  if (const auto operation = FOperation;
      Comm1->DeliverPendingNotifications() && OperationEnded(operation))
    return;
  Traffic->Examined();
  timBath->stop();
  timOut->setInterval(CurOpCode == OP_READ_CFG ? kReadTimeOutMs : kOtherTimeOutMs);
  timOut->start();
  ProcessReplies(CurOpCode);
}

void TfrmMain::timOutTimer() {
  if (const auto operation = FOperation;
      Comm1->DeliverPendingNotifications() && OperationEnded(operation))
    return;
  timOut->stop();
  if (!ui->btnConn->isEnabled()) ui->btnConn->setEnabled(true);
  // A connection attempt without a valid version reply leaves no port open.
  if (CurOpCode == CMD_GET_VERSION && Comm1->PortOpen()) ReleasePort();
  UpdateConnCaption();
  CurOpCode = 0;
  ShowOperationState();
  ShowOperationMsg(Msg::Timeout);
}

// ---- receiving ----

void TfrmMain::Comm1ReceiveData(TComm* /*Sender*/, const std::uint8_t* Buffer,
                                std::uint16_t BufferLength) {
  Traffic->Received(std::span(Buffer, BufferLength));
  const auto stored = RxBuffer.AppendReceived(Buffer, BufferLength);
  if (!stored.empty()) TraceHex(stored.data(), stored.size());
}

void TfrmMain::Comm1RequestHangup(TComm* /*Sender*/) {
  // Both worker threads may report the same loss, and a deliberate
  // disconnect may have closed the port before the report was delivered.
  if (!Comm1->PortOpen()) return;
  EndOperation();
  SetControlsEnabled(false);  // closes the port
  ui->btnConn->setEnabled(true);
  ShowOperationMsg(Msg::PortLost);
}

void TfrmMain::ProcessReplies(std::uint16_t op) {
  const auto examine = [&] {
    switch (op) {
      case CMD_RESTORE_DEFAULT:
        ProcessRestoreReply();
        break;
      case CMD_GET_VERSION:
        ProcessVersionReply();
        break;
      case OP_READ_CFG:
        ProcessStreamReplies(kReadReplyCodes, true);
        break;
      case OP_WRITE_CFG:
        ProcessStreamReplies(kWriteReplyCodes, false);
        break;
      default:
        break;
    }
  };
  try {
    examine();
  } catch (...) {
    Traffic->Message(Msg::OperatingError, platform::CurrentExceptionText());
    ui::ShowCurrentFailure(MsgText(Msg::OperatingError));
  }
}

void TfrmMain::ProcessRestoreReply() {
  const auto reply = FindRestoreDefaultReply(RxBuffer.Bytes());
  if (!reply) return;
  if (FrameStatus(*reply) != FRAME_ACK) {
    // The time-out keeps running and reports this operation as well.
    ShowOperationMsg(Msg::RestoreFail);
    return;
  }
  const auto operation = BeginOperation();
  if (!RequestAllGroups({CMD_CONVT_GET, CMD_COM_GET, CMD_CAN_GET}, operation)) return;
  timBath->start();  // its interval stays at the restore's 3000 ms
}

void TfrmMain::ProcessVersionReply() {
  const auto reply = FindVersionReply(RxBuffer.Bytes());
  if (!reply) return;
  ShowVersion(*reply);
  app::RememberConnectedPort(ui->cbxPort, FOpenedPort);
  ui->btnConn->setEnabled(true);
  SetControlsEnabled(true);
  const auto operation = BeginOperation();
  if (!RequestAllGroups({CMD_COM_GET, CMD_CONVT_GET, CMD_CAN_GET}, operation)) return;
  StartBatch(kBathMs);
}

void TfrmMain::ProcessStreamReplies(std::span<const std::uint16_t> codes, bool reading) {
  // The examination works on a copy: a message box runs a nested event loop
  // in which more received chunks may change the buffer.
  const std::vector<std::uint8_t> held(RxBuffer.Bytes().begin(), RxBuffer.Bytes().end());
  FrameStream stream(held, codes);
  while (const auto frame = stream.Next()) {
    const std::uint16_t code = FrameCode(*frame);
    FCmdList->Remove(code);
    if (reading) ApplyRecord(*frame, code);
    TraceLine(QString::fromLatin1(CommandName(code)) + QStringLiteral(" ok"));
    if (FCmdList->Count() == 0) {
      timOut->stop();
      CurOpCode = 0;
      ShowOperationState();
      ShowOperationMsg(reading ? Msg::ReadOk : Msg::WriteOk);
      return;
    }
  }
}
