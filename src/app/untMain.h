#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>

#include "protocol/Frame.h"

class QTimer;

namespace params {
class TParamPanel;
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
  // handler: "Class <Sender's class> exception: <text>" in a message box.
  void AppException(QObject* Sender, const QString& text);

  // Empties the debug trace.
  void Button1Click();

  // ---- parameter panel (logic in params::TParamPanel) ----

  // The panel over this window's parameter controls. Its send target is the
  // serial component's SendData, wired by the device operations.
  params::TParamPanel* Panel;

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

  // ---- device operations (untMainDevice.cpp) ----

  // ---- language (untMainLang.cpp) ----

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyDesignFont();
  void FixClientArea();
  void CenterOnScreen();
  void FillPortList();
  void SetStartupEnabledState();
  void ConnectWindowHandlers();
  void CreateParamPanel();
};
