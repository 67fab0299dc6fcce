#pragma once

#include <QApplication>
#include <QObject>
#include <QString>
#include <functional>
#include <utility>

// How failures reach the operator. Failures are exceptions; a handler that
// catches nothing lets them escape to the application-wide handler, which the
// main window installs. Both paths start here.
namespace ui {

// Sender: the object whose handler failed; text: the failure's text;
// reason: why, when the failure carries one (empty otherwise).
using ExceptionHandler =
    std::function<void(QObject* sender, const QString& text, const QString& reason)>;

// The application-wide handler of failures that escaped every event handler
// (the main window installs its AppException). An empty handler writes the
// failure to stderr.
void SetExceptionHandler(ExceptionHandler handler);

// Hands the exception being handled to the installed handler; call it inside
// a catch block. Never throws.
void ReportCurrentException(QObject* sender);

// "Class <sender's class> exception: <text>", the application-wide handler's
// message; a missing sender counts as a TObject.
QString EscapedFailureText(const QObject* sender, const QString& text);

// Shows the failure being handled in a message box: `prefix` followed
// directly by the failure's text, and its reason as the second paragraph.
// Call it inside a catch block.
void ShowCurrentFailure(const QString& prefix = QString());

// Runs one step of an operation that reports its own failures: a failure the
// step raises is shown (after `prefix`) and goes no further. True when the
// step completed.
template <typename Step>
bool RunShowingFailure(Step&& step, const QString& prefix = QString()) {
  try {
    step();
    return true;
  } catch (...) {
    ShowCurrentFailure(prefix);
    return false;
  }
}

// Connects a signal of `sender` to a handler without arguments so that a
// failure escaping the handler is reported with `sender` as its sender before
// it can unwind through the toolkit. Use it for every control and timer
// handler of the program's windows.
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection ConnectGuarded(Sender* sender, Signal signal, QObject* context,
                                       Handler handler) {
  return QObject::connect(sender, signal, context, [sender, handler = std::move(handler)]() {
    try {
      handler();
    } catch (...) {
      ReportCurrentException(sender);
    }
  });
}

// The program's application object. Qt lets no exception leave an event
// handler in a defined way, so every event is also delivered inside a guard:
// a failure that escapes a handler not connected through ConnectGuarded still
// reaches the exception handler, and the program goes on.
class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace ui
