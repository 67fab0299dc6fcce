// main() for tests of the main window: the program's own application object,
// so that failures escaping event handlers take the program's path. Each test
// creates the data module and the window itself, in the program's order.
#include <gtest/gtest.h>

#include "app/Application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  app::TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
