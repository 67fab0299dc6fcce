#include "cli/Commands.h"

#include "cli/CliError.h"
#include "cli/Find.h"
#include "cli/Output.h"
#include "cli/Parallel.h"
#include "cli/Ports.h"

namespace cli {
namespace {

int Help(const Options& options, const Output& out) {
  const QString text =
      HelpText(options.args.isEmpty() ? QString() : QString::fromLocal8Bit(options.args.front()));
  if (out.Json())
    out.PrintJson({{"ok", true}, {"help", text}});
  else
    out.Line(text.trimmed());
  return kExitDone;
}

}  // namespace

int Run(const Options& options) {
  const Output out(options.json, options.quiet, options.trace);
  try {
    if (options.command == QLatin1String("help")) return Help(options, out);
    if (options.command == QLatin1String("ports")) return ListPorts(out);
    if (options.command == QLatin1String("find")) return FindConverters(options, out);
    return RunDeviceCommand(options, out);
  } catch (const CliError& failure) {
    return out.Fail(failure);
  } catch (const std::exception& failure) {
    return out.Fail(CliError(kExitUsage, std::string("internal failure: ") + failure.what()));
  }
}

}  // namespace cli
