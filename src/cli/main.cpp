// quillon-cli: the converter's device operations from scripts and production
// lines, without a window.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <csignal>

#include "cli/CliError.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Waiter.h"
#include "platform/InterruptNotifier.h"
#include "platform/ProgramFolder.h"

int main(int argc, char** argv) {
  // The arguments as the system gave them: QCoreApplication::arguments()
  // decodes them as UTF-8 and would lose a file name in another encoding.
  QByteArrayList arguments;
  for (int i = 1; i < argc; ++i) arguments << QByteArray(argv[i]);
  QCoreApplication application(argc, argv);
  const bool json = cli::WantsJson(arguments);
  // A reader that went away (a closed pipe, a terminal hung up) makes a
  // write fail instead of ending the program before its summary and report.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const cli::Options options = cli::ParseOptions(arguments);
    // COM names resolve through the program folder's sys/ports links: without
    // a usable folder say why and stop, as the window does. Help needs none.
    if (options.command != QLatin1String("help")) {
      if (const QString problem = platform::ProgramFolderProblem(); !problem.isEmpty())
        throw cli::CliError(cli::kExitPort, problem.toStdString());
    }
    // Waiting for a converter tries the port every 500 ms, and find opens
    // every port: one warning per failed open would bury the results. A trace
    // tells each failed open itself, and with --json holds nothing but JSON.
    if (options.wait || options.repeat || options.command == QLatin1String("find") ||
        options.allPorts || options.trace)
      QLoggingCategory::setFilterRules(QStringLiteral("quillon.comm.warning=false"));
    platform::InterruptNotifier interrupts([] { cli::Interrupt(); });
    return cli::Run(options);
  } catch (const cli::CliError& failure) {
    return cli::Output(json, false).Fail(failure);
  } catch (const std::exception& failure) {
    return cli::Output(json, false)
        .Fail(cli::CliError(cli::kExitUsage, std::string("internal failure: ") + failure.what()));
  }
}
