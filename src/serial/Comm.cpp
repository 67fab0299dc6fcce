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

// Everything an open port consists of. Letting it go closes the port as
// ClosePort does: the read thread is stopped, then the write thread, and
// only then do the close event and the port go. So a failed OpenPort, which
// lets go of a part-built one, leaves nothing open behind it.
struct TComm::Session {
  std::unique_ptr<platform::CommPort> Port;
  std::unique_ptr<platform::CommEvent> CloseEvent;
  std::unique_ptr<TReadThread> ReadThread;
  std::unique_ptr<TWriteThread> WriteThread;

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    StopReadThread();
    StopWriteThread();
  }

  void StopReadThread() { Stop(ReadThread, platform::kPurgeRxAbort | platform::kPurgeRxClear); }
  void StopWriteThread() { Stop(WriteThread, platform::kPurgeTxAbort | platform::kPurgeTxClear); }

  // The close event is shared: setting it for one thread tells both.
  template <typename Worker>
  void Stop(std::unique_ptr<Worker>& thread, uint32_t purgeFlags) {
    if (!thread) return;
    CloseEvent->Set();
    Port->PurgeComm(purgeFlags);
    // A thread that was never started is let go now; it sees the close event
    // and ends at once instead of holding the caller for the whole wait.
    thread->Resume();
    thread->WaitFor(kStopWaitMs);
    thread.reset();
  }
};

TComm::TComm(QObject* AOwner)
    : QObject(AOwner), FNotifyWindow(std::make_unique<CommNotifier>(this)) {}

TComm::~TComm() {
  ClosePort();
  // Notifications still queued go with the notification object; their
  // blocks are freed with them.
  FNotifyWindow.reset();
}

uint32_t TComm::ComHandle() const {
  return FSession ? static_cast<uint32_t>(FSession->Port->Handle()) : 0;
}

const TReadThread* TComm::ReadThread() const {
  return FSession ? FSession->ReadThread.get() : nullptr;
}

const TWriteThread* TComm::WriteThread() const {
  return FSession ? FSession->WriteThread.get() : nullptr;
}

// ---------------------------------------------------------------- open/close

void TComm::FailOpen(const char* message) {
  qCWarning(lcComm) << "OpenPort" << FCommName << "failed:" << message << FLastOpenErrorReason;
  throw ECommsError(QString::fromLatin1(message));
}

// Built in a local session and kept only once everything stands: a failure
// on the way throws, and the part-built session closes what it holds.
void TComm::OpenPort() {
  if (FSession) throw ECommsError(QStringLiteral("This serial port already opened"));
  FLastOpenErrorReason.clear();
  FLastOpenError = {};

  const uint64_t connection = ++FOpenAttempts;
  auto session = std::make_unique<Session>();
  session->Port = OpenConfiguredPort();
  session->CloseEvent = std::make_unique<platform::CommEvent>(false);
  if (!session->CloseEvent->Valid()) FailOpen("Unable to create event");
  StartWorkers(*session, connection);

  FSession = std::move(session);
  FConnection = connection;
  FPortOpen = true;
}

std::unique_ptr<platform::CommPort> TComm::OpenConfiguredPort() {
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
    FailOpen("File handle is not a comm handle ");
  }
  if (!port->SetupComm(kInQueueSize, kOutQueueSize)) {
    FLastOpenErrorReason = QString::fromStdString(platform::CommLastError().reason);
    FailOpen("Cannot setup comm buffer");
  }
  port->PurgeComm(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
                  platform::kPurgeRxClear);
  ApplyTimeouts(*port);
  ApplyLineSettings(*port);
  return port;
}

void TComm::CreateWorkerThread(CommThread& thread) {
  thread.Create();
}

// Made held, with the port, the close event and the notification object
// given before it can run.
template <typename Worker>
std::unique_ptr<Worker> TComm::CreateWorker(Session& session, uint64_t connection,
                                            platform::ThreadPriority priority,
                                            const char* failure) {
  auto thread = std::make_unique<Worker>();
  thread->ComHandle = session.Port.get();
  thread->CloseEvent = session.CloseEvent.get();
  thread->NotifyWindow = FNotifyWindow.get();
  thread->Connection = connection;
  thread->SetPriority(priority);
  if (!thread->CanRun()) FailOpen(failure);
  try {
    CreateWorkerThread(*thread);
  } catch (const std::system_error&) {
    FailOpen(failure);
  }
  return thread;
}

// Both threads are made before either runs: when the write thread cannot be
// made, the read thread has not yet started and is stopped with the session.
void TComm::StartWorkers(Session& session, uint64_t connection) {
  session.ReadThread = CreateWorker<TReadThread>(
      session, connection, platform::ThreadPriority::Highest, "Unable to create read thread");
  session.WriteThread = CreateWorker<TWriteThread>(
      session, connection, platform::ThreadPriority::AboveNormal, "Unable to create write thread");
  session.ReadThread->Resume();
  session.WriteThread->Resume();
}

void TComm::ClosePort() {
  if (!FSession) return;
  FSession.reset();
  FPortOpen = false;
}

// ------------------------------------------------------------------ sending

bool TComm::SendData(const uint8_t* Buffer, uint16_t Count) {
  if (!FSession || Count == 0 || Buffer == nullptr) return false;
  CommBlock block = MakeCommBlock(Buffer, Count);
  if (!block) return false;
  return FSession->WriteThread->PostThreadMessage(COMM_MSG_WRITE_DATA, Count, std::move(block));
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
void TComm::ApplyLineSettings(platform::CommPort& port) const {
  platform::CommDcb dcb;
  if (!port.GetCommState(&dcb)) return;
  if (!port.SetCommState(MakeLineSettings(dcb)))
    qCInfo(lcComm) << "line settings refused:"
                   << QString::fromStdString(platform::CommLastError().reason);
}

void TComm::ApplyTimeouts(platform::CommPort& port) const {
  port.SetCommTimeouts(MakeTimeouts());
}

void TComm::ApplyLineSettings() {
  if (FSession) ApplyLineSettings(*FSession->Port);
}

void TComm::ApplyTimeouts() {
  if (FSession) ApplyTimeouts(*FSession->Port);
}

// ------------------------------------------------------------ notifications

size_t TComm::DeliverPendingNotifications() {
  return FNotifyWindow->DeliverPending();
}

void TComm::HandleNotification(CommMessage& message) {
  // A hang-up the previous connection requested must not end this one, nor
  // may its last bytes join this one's.
  if (message.Connection != FConnection) return;
  switch (message.Msg) {
    case COMM_MSG_RECEIVE_DATA:
      // The notification object frees the block (or keeps it for reuse)
      // after this call, handler or not.
      if (OnReceiveData)
        OnReceiveData(this, message.Block.get(), static_cast<uint16_t>(message.WParam & 0xFFFF));
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
