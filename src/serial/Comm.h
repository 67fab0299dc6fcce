#pragma once

// TComm: the serial-port component. It opens one port by name, gives the
// driver its queue sizes, line settings and time-outs, and runs two worker
// threads: TWriteThread transmits queued blocks, TReadThread receives bytes
// and watches the line. Every event of the component runs on the thread that
// created it (the user-interface thread), raised by a hidden notification
// object in the order the threads posted them.
//
// Events are std::function members, each of which may be empty:
//   OnReceiveData(Sender, Buffer, BufferLength)  a block of 1..1024 received
//       bytes; Buffer is valid only during the call (copy what you keep);
//       consecutive calls carry consecutive stretches of the stream.
//   OnReceiveError(Sender, EventMask)   line errors (CE_ flags: 0x01 receive
//       queue overflow, 0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break)
//   OnModemStateChange(Sender, ModemEvent)  0x01 CTS, 0x02 DSR, 0x04 ring,
//       0x08 carrier detect, 0x10 break
//   OnRequestHangup(Sender)   a worker thread met a failure it cannot
//       recover from (also: the far side hung up) and has ended
//   OnSendDataEmpty(Sender)   the write thread has no more blocks queued
//
// Usage:
//   TComm Comm1;
//   Comm1.OnReceiveData = [this](TComm* s, const uint8_t* b, uint16_t n) {
//     Comm1ReceiveData(s, b, n); };
//   Comm1.SetCommName("\\\\.\\COM3");  Comm1.SetBaudRate(115200);
//   Comm1.OpenPort();                  // throws ECommsError
//   Comm1.SendData(frame, 29);         // false when closed or refused

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/CommPort.h"
#include "platform/Exception.h"
#include "serial/CommMessages.h"
#include "serial/CommThreads.h"

// Failures of OpenPort, with English texts.
class ECommsError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

class TComm;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TReceiveDataEvent =
    std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, uint32_t ModemEvent)>;
using TSendDataEmptyEvent = std::function<void(TComm* Sender)>;

class TComm : public QObject {
 public:
  explicit TComm(QObject* AOwner = nullptr);
  // Closes an open port first: the threads must not outlive the object they
  // post to.
  ~TComm() override;
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // Opens and configures the port named CommName and starts both threads.
  // Throws ECommsError; after a failure nothing the call opened stays open.
  void OpenPort();
  // Stops both threads and closes the port; nothing when closed. Never throws.
  void ClosePort();
  // Queues a copy of Count bytes for the write thread. False when the port is
  // closed, Count is 0, or the write thread has ended. Never waits for the port.
  bool SendData(const uint8_t* Buffer, uint16_t Count);
  bool PortOpen() const { return FPortOpen; }

  // Raises now, on the calling thread, the events of every notification the
  // worker threads have posted so far, in the order posted, rather than when
  // the event loop comes to them: for a caller about to examine what has
  // been received (a thread that was held up may find replies still
  // queued). CommNotifier::DeliverPending says when nothing is delivered and
  // what becomes of a handler's failure. Returns the number delivered.
  size_t DeliverPendingNotifications();

  // The open port's descriptor; 0 when closed.
  uint32_t ComHandle() const;
  // Why the last OpenPort could not open the device ("no such device",
  // "in use", "permission denied (the device belongs to group dialout)").
  QString LastOpenErrorReason() const { return FLastOpenErrorReason; }
  // The same as an error value (None when the last OpenPort did not fail to open).
  platform::CommErrorInfo LastOpenError() const { return FLastOpenError; }

  // Properties. Setting a different value while the port is open applies it
  // at once; CommName takes effect at the next OpenPort.
  QString CommName() const { return FCommName; }
  void SetCommName(const QString& Value) { FCommName = Value; }
  uint32_t BaudRate() const { return FBaudRate; }
  void SetBaudRate(uint32_t Value) { SetLineProperty(FBaudRate, Value); }
  bool ParityCheck() const { return FParityCheck; }
  void SetParityCheck(bool Value) { SetLineProperty(FParityCheck, Value); }
  bool Outx_CtsFlow() const { return FOutx_CtsFlow; }
  void SetOutx_CtsFlow(bool Value) { SetLineProperty(FOutx_CtsFlow, Value); }
  bool Outx_DsrFlow() const { return FOutx_DsrFlow; }
  void SetOutx_DsrFlow(bool Value) { SetLineProperty(FOutx_DsrFlow, Value); }
  TDtrControl DtrControl() const { return FDtrControl; }
  void SetDtrControl(TDtrControl Value) { SetLineProperty(FDtrControl, Value); }
  bool DsrSensitivity() const { return FDsrSensitivity; }
  void SetDsrSensitivity(bool Value) { SetLineProperty(FDsrSensitivity, Value); }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool Value) { SetLineProperty(FTxContinueOnXoff, Value); }
  bool Outx_XonXoffFlow() const { return FOutx_XonXoffFlow; }
  void SetOutx_XonXoffFlow(bool Value) { SetLineProperty(FOutx_XonXoffFlow, Value); }
  bool Inx_XonXoffFlow() const { return FInx_XonXoffFlow; }
  void SetInx_XonXoffFlow(bool Value) { SetLineProperty(FInx_XonXoffFlow, Value); }
  bool ReplaceWhenParityError() const { return FReplaceWhenParityError; }
  void SetReplaceWhenParityError(bool Value) { SetLineProperty(FReplaceWhenParityError, Value); }
  bool IgnoreNullChar() const { return FIgnoreNullChar; }
  void SetIgnoreNullChar(bool Value) { SetLineProperty(FIgnoreNullChar, Value); }
  TRtsControl RtsControl() const { return FRtsControl; }
  void SetRtsControl(TRtsControl Value) { SetLineProperty(FRtsControl, Value); }
  uint16_t XonLimit() const { return FXonLimit; }
  void SetXonLimit(uint16_t Value) { SetLineProperty(FXonLimit, Value); }
  uint16_t XoffLimit() const { return FXoffLimit; }
  void SetXoffLimit(uint16_t Value) { SetLineProperty(FXoffLimit, Value); }
  TByteSize ByteSize() const { return FByteSize; }
  void SetByteSize(TByteSize Value) { SetLineProperty(FByteSize, Value); }
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value) { SetLineProperty(FParity, Value); }
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value) { SetLineProperty(FStopBits, Value); }
  char XonChar() const { return FXonChar; }
  void SetXonChar(char Value) { SetLineProperty(FXonChar, Value); }
  char XoffChar() const { return FXoffChar; }
  void SetXoffChar(char Value) { SetLineProperty(FXoffChar, Value); }
  char ReplacedChar() const { return FReplacedChar; }
  void SetReplacedChar(char Value) { SetLineProperty(FReplacedChar, Value); }

  uint32_t ReadIntervalTimeout() const { return FReadIntervalTimeout; }
  void SetReadIntervalTimeout(uint32_t Value) { SetTimeoutProperty(FReadIntervalTimeout, Value); }
  uint32_t ReadTotalTimeoutMultiplier() const { return FReadTotalTimeoutMultiplier; }
  void SetReadTotalTimeoutMultiplier(uint32_t Value) {
    SetTimeoutProperty(FReadTotalTimeoutMultiplier, Value);
  }
  uint32_t ReadTotalTimeoutConstant() const { return FReadTotalTimeoutConstant; }
  void SetReadTotalTimeoutConstant(uint32_t Value) {
    SetTimeoutProperty(FReadTotalTimeoutConstant, Value);
  }
  uint32_t WriteTotalTimeoutMultiplier() const { return FWriteTotalTimeoutMultiplier; }
  void SetWriteTotalTimeoutMultiplier(uint32_t Value) {
    SetTimeoutProperty(FWriteTotalTimeoutMultiplier, Value);
  }
  uint32_t WriteTotalTimeoutConstant() const { return FWriteTotalTimeoutConstant; }
  void SetWriteTotalTimeoutConstant(uint32_t Value) {
    SetTimeoutProperty(FWriteTotalTimeoutConstant, Value);
  }

  // The line settings record the properties make of `current` (the fields
  // no property covers keep their values).
  platform::CommDcb MakeLineSettings(platform::CommDcb current) const;
  platform::CommTimeouts MakeTimeouts() const;

  // The worker threads while open (null while closed); for diagnostics.
  const TReadThread* ReadThread() const;
  const TWriteThread* WriteThread() const;
  const CommNotifier* NotifyWindow() const { return FNotifyWindow.get(); }

  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TModemStateChangeEvent OnModemStateChange;
  TNotifyEvent OnRequestHangup;
  TSendDataEmptyEvent OnSendDataEmpty;

  // Raises the event of one notification (called by the notification object).
  // What an earlier connection posted is dropped once the port has been
  // opened again; until then it is delivered.
  void HandleNotification(CommMessage& message);

 protected:
  // Makes the OS thread of a worker (created suspended); throws
  // std::system_error when the system cannot. Tests replace it.
  virtual void CreateWorkerThread(CommThread& thread);

 private:
  template <typename T>
  void SetLineProperty(T& field, T value) {
    if (field == value) return;
    field = value;
    if (FSession) ApplyLineSettings();
  }
  void SetTimeoutProperty(uint32_t& field, uint32_t value) {
    if (field == value) return;
    field = value;
    if (FSession) ApplyTimeouts();
  }
  // The port and its threads while open (Comm.cpp).
  struct Session;

  // To the open port; nothing while closed.
  void ApplyLineSettings();
  void ApplyTimeouts();
  void ApplyLineSettings(platform::CommPort& port) const;
  void ApplyTimeouts(platform::CommPort& port) const;
  std::unique_ptr<platform::CommPort> OpenConfiguredPort();
  void StartWorkers(Session& session, uint64_t connection);
  template <typename Worker>
  std::unique_ptr<Worker> CreateWorker(Session& session, uint64_t connection,
                                       platform::ThreadPriority priority, const char* failure);
  [[noreturn]] void FailOpen(const char* message);

  // Null while closed: the read and write threads, the port (ComHandle) and
  // the close event, which come and go together.
  std::unique_ptr<Session> FSession;
  std::unique_ptr<CommNotifier> FNotifyWindow;
  bool FPortOpen = false;
  // Every OpenPort, failed or not, gets a number of its own; FConnection is
  // that of the last one that opened the port.
  uint64_t FOpenAttempts = 0;
  uint64_t FConnection = 0;
  QString FLastOpenErrorReason;
  platform::CommErrorInfo FLastOpenError;

  QString FCommName = QStringLiteral("COM2");
  uint32_t FBaudRate = 9600;
  bool FParityCheck = false;
  bool FOutx_CtsFlow = true;
  bool FOutx_DsrFlow = true;
  TDtrControl FDtrControl = TDtrControl::DtrEnable;
  bool FDsrSensitivity = false;
  bool FTxContinueOnXoff = true;
  bool FOutx_XonXoffFlow = false;
  bool FInx_XonXoffFlow = false;
  bool FReplaceWhenParityError = false;
  bool FIgnoreNullChar = false;
  TRtsControl FRtsControl = TRtsControl::RtsEnable;
  uint16_t FXonLimit = 10;
  uint16_t FXoffLimit = 10;
  TByteSize FByteSize = TByteSize::_8;
  TParity FParity = TParity::None;
  TStopBits FStopBits = TStopBits::_1;
  char FXonChar = 0x11;
  char FXoffChar = 0x13;
  char FReplacedChar = 0x00;
  uint32_t FReadIntervalTimeout = 10;
  uint32_t FReadTotalTimeoutMultiplier = 0;
  uint32_t FReadTotalTimeoutConstant = 0;
  uint32_t FWriteTotalTimeoutMultiplier = 0;
  uint32_t FWriteTotalTimeoutConstant = 0;
};
