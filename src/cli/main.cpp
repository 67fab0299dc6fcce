// quillon-cli: the converter's device operations from scripts and production
// lines, without a window.
#include <QCoreApplication>
#include <QJsonObject>
#include <QLoggingCategory>

#include "cli/CliError.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Waiter.h"
#include "platform/InterruptNotifier.h"
#include "platform/ProgramFolder.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  const bool json = arguments.contains(QStringLiteral("--json"));
  cli::Options options;
  try {
    options = cli::ParseOptions(arguments);
  } catch (const cli::CliError& failure) {
    cli::Output::Complain(QString::fromUtf8(failure.what()));
    if (json)
      cli::Output::PrintJson({{"ok", false},
                              {"error", QString::fromUtf8(failure.what())},
                              {"exit", failure.Status()}});
    return failure.Status();
  }
  // COM names resolve through the program folder's sys/ports links: without a
  // usable folder say why and stop, as the window does. Help needs none.
  if (options.command != QLatin1String("help")) {
    if (const QString problem = platform::ProgramFolderProblem(); !problem.isEmpty()) {
      cli::Output::Complain(problem);
      if (json)
        cli::Output::PrintJson({{"ok", false}, {"error", problem}, {"exit", cli::kExitPort}});
      return cli::kExitPort;
    }
  }
  // Waiting for a converter tries the port every 500 ms: one warning per
  // failed open would bury the results.
  if (options.wait || options.repeat)
    QLoggingCategory::setFilterRules(QStringLiteral("quillon.comm.warning=false"));
  platform::InterruptNotifier interrupts([] { cli::Interrupt(); });
  return cli::Run(options);
}
