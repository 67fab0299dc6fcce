#include "serial/Comm.h"

#include <QLoggingCategory>
#include <system_error>

Q_LOGGING_CATEGORY(lcComm, "quillon.comm")

namespace {

constexpr uint32_t kInQueueSize = 2048;
constexpr uint32_t kOutQueueSize = 1024;
constexpr uint32_t kStopWaitMs = 10000;

uint32_t DtrFlags(TDtrControl control) {
  switch (control) {
    case TDtrControl::DtrEnable:
      return platform::kDcbDtrControlEnable;
    case TDtrControl::DtrHandshake:
      return platform::kDcbDtrControlHandshake;
    case TDtrControl::DtrDisable:
      break;
  }
  return 0;
}

uint32_t RtsFlags(TRtsControl control) {
  switch (control) {
    case TRtsControl::RtsEnable:
      return platform::kDcbRtsControlEnable;
    case TRtsControl::RtsHandshake:
      return platform::kDcbRtsControlHandshake;
    case TRtsControl::RtsTransmissionAvailable:
      return platform::kDcbRtsControlToggle;
    case TRtsControl::RtsDisable:
      break;
  }
  return 0;
}

}  // namespace

TComm::TComm(QObject* AOwner)
    : QObject(AOwner), FNotifyWindow(std::make_unique<TCommNotifier>(this)) {}

TComm::~TComm() {
  ClosePort();
  // Notifications still queued go with the notification object; their
  // blocks are freed with them.
  FNotifyWindow.reset();
}

uint32_t TComm::ComHandle() const {
  return FPort ? static_cast<uint32_t>(FPort->Handle()) : 0;
}

// ---------------------------------------------------------------- open/close

void TComm::FailOpen(const char* message) {
  qCWarning(lcComm) << "OpenPort" << FCommName << "failed:" << message << FLastOpenErrorReason;
  throw ECommsError(QString::fromLatin1(message));
}

void TComm::OpenPort() {
  if (FPort) throw ECommsError(QStringLiteral("This serial port already opened"));
  FLastOpenErrorReason.clear();
  FLastOpenError = {};

  platform::CommErrorInfo error;
  std::unique_ptr<platform::CommPort> port =
      platform::CommPort::Open(FCommName.toStdString(), &error);
  if (!port) {
    FLastOpenErrorReason = QString::fromStdString(error.reason);
    FLastOpenError = error;
    FailOpen("Error opening serial port");
  }
  if (!port->IsCommDevice()) {
    FLastOpenErrorReason = QString::fromStdString(port->DevicePath()) + ": not a serial device";
    FLastOpenError.code = platform::CommError::NotACommHandle;
    port.reset();
    FailOpen("File handle is not a comm handle ");
  }
  if (!port->SetupComm(kInQueueSize, kOutQueueSize)) {
    FLastOpenErrorReason = QString::fromStdString(platform::CommLastError().reason);
    port.reset();
    FailOpen("Cannot setup comm buffer");
  }
  FPort = std::move(port);
  FPort->PurgeComm(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
                   platform::kPurgeRxClear);
  ApplyTimeouts();
  ApplyLineSettings();

  FCloseEvent = std::make_unique<platform::CommEvent>(false);
  if (!FCloseEvent->Valid()) {
    FCloseEvent.reset();
    FPort.reset();
    FailOpen("Unable to create event");
  }
  StartThreads();
  FPortOpen = true;
}

void TComm::CreateWorkerThread(TCommThread& thread) {
  thread.Create();
}

// A write queue without its wake-up signal would lose every send: the
// thread then counts as not created.
bool TComm::CreateWriteThread() {
  if (!FWriteThread->QueueValid()) return false;
  try {
    CreateWorkerThread(*FWriteThread);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void TComm::StartThreads() {
  FReadThread = std::make_unique<TReadThread>();
  try {
    CreateWorkerThread(*FReadThread);
  } catch (const std::system_error&) {
    FReadThread.reset();
    FCloseEvent.reset();
    FPort.reset();
    FailOpen("Unable to create read thread");
  }
  FReadThread->ComHandle = FPort.get();
  FReadThread->CloseEvent = FCloseEvent.get();
  FReadThread->NotifyWindow = FNotifyWindow.get();
  FReadThread->SetPriority(platform::ThreadPriority::Highest);

  FWriteThread = std::make_unique<TWriteThread>();
  if (!CreateWriteThread()) {
    StopReadThread();
    FWriteThread.reset();
    FCloseEvent.reset();
    FPort.reset();
    FailOpen("Unable to create write thread");
  }
  FWriteThread->ComHandle = FPort.get();
  FWriteThread->CloseEvent = FCloseEvent.get();
  FWriteThread->NotifyWindow = FNotifyWindow.get();
  FWriteThread->SetPriority(platform::ThreadPriority::AboveNormal);

  FReadThread->Resume();
  FWriteThread->Resume();
}

void TComm::ClosePort() {
  if (!FPort) return;
  StopReadThread();
  StopWriteThread();
  // The descriptor goes only now, after both threads have ended.
  FCloseEvent.reset();
  FPort.reset();
  FPortOpen = false;
}

void TComm::StopReadThread() {
  if (!FReadThread) return;
  FCloseEvent->Set();
  FPort->PurgeComm(platform::kPurgeRxAbort | platform::kPurgeRxClear);
  // A thread that was never started is let go now; it sees the close event
  // and ends at once instead of holding the caller for the whole wait.
  FReadThread->Resume();
  FReadThread->WaitFor(kStopWaitMs);
  FReadThread.reset();
}

void TComm::StopWriteThread() {
  if (!FWriteThread) return;
  FCloseEvent->Set();
  FPort->PurgeComm(platform::kPurgeTxAbort | platform::kPurgeTxClear);
  FWriteThread->Resume();
  FWriteThread->WaitFor(kStopWaitMs);
  FWriteThread.reset();
}

// ------------------------------------------------------------------ sending

bool TComm::SendData(const uint8_t* Buffer, uint16_t Count) {
  if (!FWriteThread || Count == 0 || Buffer == nullptr) return false;
  TCommBlock block = MakeCommBlock(Buffer, Count);
  if (!block) return false;
  return FWriteThread->PostThreadMessage(COMM_MSG_WRITE_DATA, Count, std::move(block));
}

// ----------------------------------------------------------------- settings

platform::CommDcb TComm::MakeLineSettings(platform::CommDcb current) const {
  current.BaudRate = FBaudRate;
  uint32_t flags = platform::kDcbBinary;
  if (FParityCheck) flags |= platform::kDcbParity;
  if (FOutx_CtsFlow) flags |= platform::kDcbOutxCtsFlow;
  if (FOutx_DsrFlow) flags |= platform::kDcbOutxDsrFlow;
  flags |= DtrFlags(FDtrControl);
  if (FDsrSensitivity) flags |= platform::kDcbDsrSensitivity;
  if (FTxContinueOnXoff) flags |= platform::kDcbTxContinueOnXoff;
  if (FOutx_XonXoffFlow) flags |= platform::kDcbOutX;
  if (FInx_XonXoffFlow) flags |= platform::kDcbInX;
  if (FReplaceWhenParityError) flags |= platform::kDcbErrorChar;
  if (FIgnoreNullChar) flags |= platform::kDcbNull;
  flags |= RtsFlags(FRtsControl);
  current.Flags = flags;
  current.XonLim = FXonLimit;
  current.XoffLim = FXoffLimit;
  current.ByteSize = static_cast<uint8_t>(static_cast<int>(FByteSize) + 5);
  current.Parity = static_cast<uint8_t>(FParity);
  current.StopBits = static_cast<uint8_t>(FStopBits);
  current.XonChar = FXonChar;
  current.XoffChar = FXoffChar;
  current.ErrorChar = FReplacedChar;
  return current;
}

platform::CommTimeouts TComm::MakeTimeouts() const {
  return {FReadIntervalTimeout, FReadTotalTimeoutMultiplier, FReadTotalTimeoutConstant,
          FWriteTotalTimeoutMultiplier, FWriteTotalTimeoutConstant};
}

// Results are not checked: a value the driver refuses leaves the previous
// settings in force.
void TComm::ApplyLineSettings() {
  if (!FPort) return;
  platform::CommDcb dcb;
  if (!FPort->GetCommState(&dcb)) return;
  if (!FPort->SetCommState(MakeLineSettings(dcb)))
    qCInfo(lcComm) << "line settings refused:"
                   << QString::fromStdString(platform::CommLastError().reason);
}

void TComm::ApplyTimeouts() {
  if (FPort) FPort->SetCommTimeouts(MakeTimeouts());
}

// ------------------------------------------------------------ notifications

void TComm::HandleNotification(TCommMessage& message) {
  switch (message.Msg) {
    case COMM_MSG_RECEIVE_DATA:
      if (OnReceiveData)
        OnReceiveData(this, message.Block.get(), static_cast<uint16_t>(message.WParam & 0xFFFF));
      message.Block.reset();
      break;
    case COMM_MSG_RECEIVE_ERROR:
      if (OnReceiveError) OnReceiveError(this, static_cast<uint32_t>(message.LParam));
      break;
    case COMM_MSG_MODEM_STATE:
      if (OnModemStateChange) OnModemStateChange(this, static_cast<uint32_t>(message.LParam));
      break;
    case COMM_MSG_REQUEST_HANGUP:
      if (OnRequestHangup) OnRequestHangup(this);
      break;
    case COMM_MSG_SEND_DATA_EMPTY:
      if (OnSendDataEmpty) OnSendDataEmpty(this);
      break;
    default:
      break;
  }
}
