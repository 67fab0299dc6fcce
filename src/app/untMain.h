#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>

#include "messages/Messages.h"
#include "protocol/Frame.h"
#include "protocol/RxBuffer.h"

class QTimer;
class TComm;
class TfrmTraffic;
class TMulFormLang;
class TMulMenuLang;
class TMyElemLst;

namespace serial {
class ConverterProbe;
}

namespace app {
class TrafficRecorder;
}

namespace params {
class ParamPanel;
}

namespace Ui {
class TfrmMain;
}

// The tool's one main window: the port choice and connect button, the version
// labels, the parameter tabs, the operation buttons and the menu.
//
// The class is implemented in several files by responsibility:
//   untMain.cpp        the window itself: creation, showing, destruction,
//                      the application-wide failure handler
//   untMainDevice.cpp  device operations (port, timers, replies)
//   untMainLang.cpp    language start-up and switching
//   untMainFind.cpp    finding the ports where a converter answers
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The form's controls under their design names (ui->cbxPort, ui->N1, ...).
  Ui::TfrmMain* ui;

  // One-shot timers of the device operations, inactive until an operation
  // starts them: timBath is the collection window, timOut the time-out.
  QTimer* timBath;
  QTimer* timOut;

  // Window life cycle. FormCreate runs from the constructor, FormDestroy from
  // the destructor, FormShow whenever the window is shown.
  void FormCreate();
  void FormShow();
  void FormDestroy();

  // The application-wide handler for failures that escaped every event
  // handler: "Class <Sender's class> exception: <text>" in a message box,
  // the failure's reason (if any) as its second paragraph.
  void AppException(QObject* Sender, const QString& text, const QString& reason = QString());

  // Empties the debug trace.
  void Button1Click();

  // ---- parameter panel (logic in params::ParamPanel) ----

  // The panel over this window's parameter controls. Its send target is the
  // serial component's SendData, wired by the device operations.
  params::ParamPanel* Panel;

  // Puts a reply's record into the controls (replyCmd: CMD_CONVT_GET,
  // CMD_COM_GET or CMD_CAN_GET).
  void ApplyRecord(const protocol::Frame& frame, std::uint16_t replyCmd);
  // Sends CMD_CONVT_SET, CMD_COM_SET or CMD_CAN_SET built from the controls.
  void SendSetCommand(std::uint16_t cmd);
  // True when a check before a write failed (the operator has been told).
  bool ValidatePanel();

  // ---- parameter files ----

  void N1Click();  // import parameters
  void N2Click();  // export parameters

  // ---- traffic ----

  // What the device operations send and receive, and the messages they
  // show, decoded into rows; recorded whether the traffic window is open or
  // not.
  std::unique_ptr<app::TrafficRecorder> Traffic;
  // The traffic window while it is open.
  QPointer<TfrmTraffic> frmTraffic;
  // Menu "通信记录": opens the traffic window, or brings it to the front.
  void mnuTrafficClick();

  // ---- device operations (untMainDevice.cpp) ----

  // Operation codes of a read and a write of the parameter groups; a connect
  // and a restore use the codes of their commands.
  static constexpr std::uint16_t OP_READ_CFG = 0x7010;
  static constexpr std::uint16_t OP_WRITE_CFG = 0x7020;

  // The operation in progress: 0 none, CMD_GET_VERSION connecting,
  // CMD_RESTORE_DEFAULT restoring defaults, OP_READ_CFG, OP_WRITE_CFG.
  std::uint16_t CurOpCode = 0;
  // The command codes whose replies a read or write still awaits.
  TMyElemLst* FCmdList = nullptr;
  // The received bytes of the operation in progress.
  protocol::ReceiveBuffer RxBuffer;
  // The serial port to the converter.
  TComm* Comm1 = nullptr;

  // Sends the query of `code` on the open port; a refusal (also: the port is
  // closed) and failures are shown, never thrown. Only a connect click opens
  // the port.
  void SendQuery(std::uint16_t code);
  void SendRestoreDefault();
  // Connected state on or off; off also closes the port.
  void SetControlsEnabled(bool enabled);
  // True from the click that starts a connect, read, write or restore (or
  // the reply that chains a read to it) until it completes, times out or is
  // ended by a disconnect or a lost port; and while converters are sought.
  bool OperationRunning() const { return FStarting || CurOpCode != 0 || Finding(); }
  void ClearRxBuffer();
  void btnConnClick();
  void btnReadCfgClick();
  void btnWriteCfgClick();
  void btnDefCfgClick();
  void timBathTimer();
  void timOutTimer();
  // Examines the received bytes once for the operation `op`.
  void ProcessReplies(std::uint16_t op);
  void Comm1ReceiveData(TComm* Sender, const std::uint8_t* Buffer, std::uint16_t BufferLength);
  // The port is gone (adapter unplugged): back to Disconnected, the operator
  // told once. Nothing happens when the port was already closed.
  void Comm1RequestHangup(TComm* Sender);
  // One debug line: each byte as two upper-case hex digits and a space.
  void TraceHex(const std::uint8_t* bytes, std::size_t n);

 private:
  void CreateDeviceOperations();
  void ConnectDeviceHandlers();
  void DestroyDeviceOperations();
  // Starts an operation: no window of an earlier one fires inside it. The
  // result identifies the operation for OperationEnded.
  std::uint64_t BeginOperation();
  // Ends the operation in progress for good (disconnect, lost port): both
  // timers stopped, CurOpCode 0, and a sequence of sends that a message box
  // interrupted does not go on.
  void EndOperation();
  bool OperationEnded(std::uint64_t operation) const { return operation != FOperation; }
  // While an operation runs, the read, write and restore buttons, the port
  // list and the search for converters are disabled: a second click would
  // end the first operation without its message. The port list and the
  // search stay disabled while a port is held, and the list keeps showing
  // that port.
  void ShowOperationState();
  // Handles the port's notifications that wait for the window now: the
  // window's thread sleeps between sends, and a loss reported meanwhile must
  // end the operation before anything more is sent.
  void DeliverPortNotifications();
  // How SendToPort went. A block refused because the port has gone is
  // PortLost: the loss is then the operator's one message, not the refusal.
  enum class SendResult { Sent, Refused, PortLost };
  SendResult SendToPort(const std::uint8_t* data, std::uint16_t length);
  void Disconnect();
  // Closes the port; bytes held as the start of a frame become a row.
  void ReleasePort();
  // Shows an operation's message and records it among the traffic.
  void ShowOperationMsg(messages::Msg id);
  // Opens the selected port for a connect; false (and the failure shown)
  // when it cannot be opened.
  bool OpenSelectedPort();
  // "Disconnect" while the port is open, "Connect" otherwise.
  void UpdateConnCaption();
  void StartBatch(int intervalMs);
  // Runs the sends of a button handler as part of the operation they start:
  // the operation buttons and the port list are disabled from the first send.
  void StartOperation(const std::function<void()>& sends);
  void ReadShownTab();
  void WriteAllGroups();
  // Delivers what the port reported while the window's thread slept between
  // two sends; true when a loss has ended `operation` meanwhile.
  bool PortLostDuringPause(std::uint64_t operation);
  void ConfigurePort();
  void RequestGet(std::uint16_t code);
  // A read of the three groups in the given order, 20 ms apart, as the
  // operation `operation`; false when it was ended on the way.
  bool RequestAllGroups(std::initializer_list<std::uint16_t> codes, std::uint64_t operation);
  void TraceLine(const QString& line);
  void ShowVersion(const protocol::Frame& frame);
  void ProcessRestoreReply();
  void ProcessVersionReply();
  void ProcessStreamReplies(std::span<const std::uint16_t> codes, bool reading);

  // Counts operations begun and ended; see BeginOperation.
  std::uint64_t FOperation = 0;
  // A button handler is sending the requests of its operation (CurOpCode is
  // set when they are out).
  bool FStarting = false;
  // The connected state of SetControlsEnabled.
  bool FConnected = false;
  // The port the window holds open ("COM7"); empty while none is open.
  QString FOpenedPort;

 public:
  // ---- language (untMainLang.cpp) ----

  // The window's and the main menu's language components (section
  // "TfrmMain"), created by the language start-up.
  TMulFormLang* MulFormLang1 = nullptr;
  TMulMenuLang* MulMenuLang1 = nullptr;

  // The last step of FormCreate: the saved language, the language code, the
  // language file applied, the caption from the settings file.
  void LanguageStartup();
  // Applies the current language file to the window, its menu and the
  // message catalogue; sets the caption and the connect button's text.
  void RefreshLanguage();
  // Menu "语言设置": the language dialog, then the new language at once.
  void N3Click();

  // ---- finding converters (untMainFind.cpp) ----

  // Menu "查找转换器", while disconnected and idle: one version query to
  // every present port that no other program holds, all at once, each on a
  // port component of the search's own (Comm1 stays closed). The window's
  // loop keeps running under a busy cursor while the search lasts, with the
  // connect button, the port list, the language and this entry disabled.
  // Then the first port that answered is selected and a box says which
  // ports answered, with their versions, or that none did, and which ports
  // were not asked and why.
  void mnuFindClick();
  bool Finding() const { return FFind != nullptr; }

 protected:
  void showEvent(QShowEvent* event) override;
  // A search still running ends unreported with the window.
  void closeEvent(QCloseEvent* event) override;

 private:
  void FixClientArea();
  void FillPortList();
  void SetStartupEnabledState();
  // The controls a connection enables and a disconnection disables: the
  // parameter tabs without cbbByteSize and the data-conversion group, and the
  // read, write and default buttons.
  QList<QWidget*> ConnectedOnlyControls() const;
  void ConnectWindowHandlers();
  void CreateParamPanel();

  // The search's end, reported: run from the window's loop once the probe
  // has every outcome, never from inside the probe's own notification.
  void FindFinished();
  // The searching state on or off: the busy cursor and the controls.
  void ShowFindingState(bool finding);
  // Ends a search without a report; nothing happens when none runs.
  void AbandonFind();

  // The search in progress; null when none runs.
  std::unique_ptr<serial::ConverterProbe> FFind;
};
