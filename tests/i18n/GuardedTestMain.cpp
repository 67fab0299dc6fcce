// main() for dialog tests: like the program, failures that escape an event
// handler are caught where events are delivered and recorded, so a test can
// check that they reached the application-wide handler.
#include "GuardedTestMain.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "platform/Exception.h"

namespace {

class GuardedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (...) {
      Record(receiver, platform::CurrentExceptionText());
    }
    return false;
  }

 private:
  static void Record(QObject* receiver, const QString& text) {
    guarded_testing::EscapedFailures().append(
        QStringLiteral("Class %1 exception: %2")
            .arg(QString::fromLatin1(receiver->metaObject()->className()), text));
  }
};

}  // namespace

namespace guarded_testing {

QStringList& EscapedFailures() {
  static QStringList failures;
  return failures;
}

}  // namespace guarded_testing

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  GuardedApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
