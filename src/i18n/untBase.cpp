#include "i18n/untBase.h"

#include <QApplication>
#include <QKeyEvent>
#include <string_view>

#include "i18n/MulLangToolkit.h"
#include "i18n/PublicFunction.h"
#include "i18n/untMultiLang.h"
#include "ui/WindowHelpers.h"

// The design font's character set is read by the language components.
static_assert(std::string_view(ui::kFontCharsetProperty) == mullang::kFontCharsetProperty);

QEvent::Type CustomMessageEvent::EventType() {
  static const QEvent::Type type =
      static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + kMessage));
  return type;
}

CustomMessageEvent::CustomMessageEvent(quintptr wParam, qintptr lParam) : QEvent(EventType()) {
  Message.Msg = kMessage;
  Message.WParam = wParam;
  Message.LParam = lParam;
}

TfrmBase::TfrmBase(QWidget* parent) : QDialog(parent) {
  // No object name here: the derived dialog's form names the window, and
  // its name starts the window's keys in the language file.
  setProperty(mullang::kComponentKindProperty, QStringLiteral("Form"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  ui::ApplyDesignFont(this);
  MulFrmLang1 = new TMulFormLang(this);
  MulFrmLang1->setObjectName(QStringLiteral("MulFrmLang1"));
  MulFrmLang1->SetIncludeListViewHead(false);
  FormCreate();
}

TfrmBase::~TfrmBase() = default;

void TfrmBase::FormCreate() {
  LangOnShow = true;
}

void TfrmBase::FormShow() {
  if (LangOnShow) ApplyLangFile(MulFrmLang1, nullptr);
  DoShow();
}

void TfrmBase::FormKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift) {
  DoKeyDown(Sender, Key, Shift);
}

void TfrmBase::DoShow() {}

void TfrmBase::DoKeyDown(QObject* /*Sender*/, int& Key, Qt::KeyboardModifiers /*Shift*/) {
  if (Key == kVkReturn) focusNextChild();
}

bool TfrmBase::CanCloseForm() {
  return true;
}

void TfrmBase::DoCustomMessage(WindowMessage& /*Message*/) {}

void TfrmBase::DoCustomMessage255(WindowMessage& /*Message*/) {}

void TfrmBase::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // the window system re-showing it
  ui::CenterOnScreen(this);
  WatchKeysOfControls();
  FormShow();
}

// Key preview: the dialog sees every key press of its own controls first.
void TfrmBase::WatchKeysOfControls() {
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

bool TfrmBase::eventFilter(QObject* watched, QEvent* event) {
  // A key travels from the focused control up to its parents; preview it
  // once, where it starts, and only for controls in this window.
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    QWidget* widget = static_cast<QWidget*>(watched);
    if (widget->window() == this && widget == QApplication::focusWidget())
      return HandleKey(watched, static_cast<QKeyEvent*>(event));
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmBase::keyPressEvent(QKeyEvent* event) {
  // Keys that reach the dialog itself without passing a watched control.
  if (QApplication::focusWidget() == nullptr || QApplication::focusWidget() == this) {
    if (HandleKey(this, event)) return;
  }
  QDialog::keyPressEvent(event);
}

bool TfrmBase::HandleKey(QObject* sender, QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  int key = enter ? kVkReturn : event->key();
  FormKeyDown(sender, key, event->modifiers());
  if (key == 0) {
    event->accept();
    return true;  // swallowed
  }
  return false;
}

bool TfrmBase::event(QEvent* event) {
  if (event->type() == CustomMessageEvent::EventType()) {
    WindowMessage& message = static_cast<CustomMessageEvent*>(event)->Message;
    if (message.WParam == 255)
      DoCustomMessage255(message);
    else
      DoCustomMessage(message);
    return true;
  }
  return QDialog::event(event);
}

void TfrmBase::done(int result) {
  if (!CanCloseForm()) return;
  QDialog::done(result);
}
