#pragma once

#include <QDialog>
#include <QEvent>

class TMulFormLang;

// Window message 4342 (0x10F6) of the base dialog, carried as a custom
// event. Nothing in the program sends it; dialogs may handle it.
struct WindowMessage {
  unsigned Msg = 0;
  quintptr WParam = 0;
  qintptr LParam = 0;
  qintptr Result = 0;
};

class CustomMessageEvent : public QEvent {
 public:
  static constexpr unsigned kMessage = 4342;
  static QEvent::Type EventType();

  explicit CustomMessageEvent(quintptr wParam, qintptr lParam = 0);
  WindowMessage Message;
};

// The base dialog: stays on top, centred on the screen, sees key presses
// before its controls (Enter moves to the next control), asks CanCloseForm
// before it closes, and translates itself with the current language file at
// every show through MulFrmLang1 (section: the dialog's own class name).
class TfrmBase : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmBase(QWidget* parent = nullptr);
  ~TfrmBase() override;

  // Whether a show applies the language file; set at creation.
  bool LangOnShow = false;
  TMulFormLang* MulFrmLang1;

  // The Windows code of the Enter key, as DoKeyDown sees it.
  static constexpr int kVkReturn = 13;

 protected:
  // Called at the end of every show.
  virtual void DoShow();
  // Every key press that reaches the dialog. Key is 13 for Enter, otherwise
  // Qt's key code; setting it to 0 swallows the key.
  virtual void DoKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);
  // Asked when the dialog is about to close; false keeps it open.
  virtual bool CanCloseForm();
  // Message 4342 with a first parameter other than 255, and with 255.
  virtual void DoCustomMessage(WindowMessage& Message);
  virtual void DoCustomMessage255(WindowMessage& Message);

  void FormCreate();
  // The base show: the language pass, then DoShow. Derived dialogs that
  // handle the show call it first.
  virtual void FormShow();
  void FormKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);

  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 public:
  void done(int result) override;

 private:
  void WatchKeysOfControls();
  bool HandleKey(QObject* sender, QKeyEvent* event);
};
