#include "ui/Application.h"

#include <cstdio>

#include "platform/Exception.h"
#include "ui/Dialogs.h"

namespace ui {
namespace {

ExceptionHandler& InstalledHandler() {
  static ExceptionHandler handler;
  return handler;
}

}  // namespace

void SetExceptionHandler(ExceptionHandler handler) {
  InstalledHandler() = std::move(handler);
}

void ReportCurrentException(QObject* sender) {
  try {
    const QString text = platform::CurrentExceptionText();
    const QString reason = platform::CurrentExceptionReason();
    if (InstalledHandler()) {
      InstalledHandler()(sender, text, reason);
      return;
    }
    const QString line = reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
    std::fprintf(stderr, "Unhandled failure: %s\n", line.toLocal8Bit().constData());
  } catch (...) {
    // A failure while reporting a failure must not escape the event loop.
  }
}

void ShowCurrentFailure(const QString& prefix) {
  Dialogs().ShowMessageWithDetail(prefix + platform::CurrentExceptionText(),
                                  platform::CurrentExceptionReason());
}

QString EscapedFailureText(const QObject* sender, const QString& text) {
  const QString className =
      sender ? QString::fromLatin1(sender->metaObject()->className()) : QStringLiteral("TObject");
  return QStringLiteral("Class ") + className + QStringLiteral(" exception: ") + text;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportCurrentException(receiver);
    return false;
  }
}

}  // namespace ui
