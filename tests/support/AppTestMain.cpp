// main() for tests of the program's windows and dialogs: the program's own application
// object, so that failures escaping event handlers take the program's path
// to the application-wide handler. Each test creates the data module and the
// windows itself, in the program's order.
#include <gtest/gtest.h>

#include "ui/Application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ui::Application application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
