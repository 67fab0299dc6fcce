// quillon-config: configuration tool for a CAN-bus to serial-line converter.
#include "app/Application.h"
#include "app/untMain.h"
#include "i18n/untDM.h"

int main(int argc, char** argv) {
  app::TApplication application(argc, argv);
  // The data module comes first: the window's creation reads the language
  // code and, through it, every text it shows.
  TfrmDM dataModule;
  TfrmMain mainWindow;
  mainWindow.show();
  return application.exec();
}
