// quillon-config: configuration tool for a CAN-bus to serial-line converter.
#include <cstdio>

#include "app/untMain.h"
#include "i18n/untDM.h"
#include "platform/ProgramFolder.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

int main(int argc, char** argv) {
  ui::Application application(argc, argv);
  // Without a usable program folder the settings and language choices would
  // be lost: say why and stop before anything is written.
  if (const QString problem = platform::ProgramFolderProblem(); !problem.isEmpty()) {
    std::fprintf(stderr, "quillon-config: %s\n", qPrintable(problem));
    ui::Dialogs().ShowMessage(problem);
    return 1;
  }
  // The data module comes first: the window's creation reads the language
  // code and, through it, every text it shows.
  TfrmDM dataModule;
  TfrmMain mainWindow;
  mainWindow.show();
  return application.exec();
}
