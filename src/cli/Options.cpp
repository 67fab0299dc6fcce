#include "cli/Options.h"

#include "cli/CliError.h"
#include "platform/CommNames.h"

namespace cli {
namespace {

struct CommandHelp {
  const char* name;
  const char* synopsis;
  const char* text;
  int minArgs;
  int maxArgs;  // -1: any number
};

const CommandHelp kCommands[] = {
    {"ports", "ports", "The COM numbers that resolve to a present device, with the device.", 0, 0},
    {"version", "version",
     "The converter's software version, build date and hardware version, as the window shows "
     "them.",
     0, 0},
    {"read", "read [FILE]",
     "The three parameter groups. With FILE, also export them as a parameter file, byte for "
     "byte what the window's export writes for the same values.",
     0, 1},
    {"write", "write FILE",
     "Import FILE with every check of the window's import, write the three records, read them "
     "back and compare.",
     1, 1},
    {"set", "set KEY=VALUE ...",
     "Read, change the named fields, check them with the window's rules, write, read back and "
     "compare. KEY is record.field (convt.mode, com.baudRate, can.acceptanceCode, ...; see "
     "'read'); VALUE is decimal or 0x-hexadecimal.",
     1, -1},
    {"restore", "restore", "Restore the converter's factory defaults, then read them back.", 0, 0},
    {"help", "help [COMMAND]", "This text, or that of one command.", 0, 1},
};

const CommandHelp* FindCommand(const QString& name) {
  for (const CommandHelp& command : kCommands)
    if (name == QLatin1String(command.name)) return &command;
  return nullptr;
}

[[noreturn]] void Usage(const QString& message) {
  throw CliError(kExitUsage, (message + QStringLiteral(" (see 'quillon-cli help')")).toStdString());
}

QString CheckedPort(const QString& port) {
  const bool looksLikeCom = port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ||
                            port.startsWith(QLatin1String("\\\\.\\"));
  if (looksLikeCom && !platform::ParseCommName(port.toStdString()))
    Usage(QStringLiteral("the port %1 is not COM1..COM255").arg(port));
  if (port.isEmpty()) Usage(QStringLiteral("--port needs a COM name or a device path"));
  return port;
}

}  // namespace

Options ParseOptions(const QStringList& arguments) {
  Options options;
  int at = 0;
  for (; at < arguments.size() && arguments[at].startsWith(QLatin1String("--")); ++at) {
    const QString& option = arguments[at];
    if (option == QLatin1String("--json"))
      options.json = true;
    else if (option == QLatin1String("--quiet"))
      options.quiet = true;
    else if (option == QLatin1String("--wait"))
      options.wait = true;
    else if (option == QLatin1String("--repeat"))
      options.repeat = true;
    else if (option.startsWith(QLatin1String("--port=")))
      options.port = CheckedPort(option.mid(7));
    else if (option == QLatin1String("--port") && at + 1 < arguments.size())
      options.port = CheckedPort(arguments[++at]);
    else
      Usage(QStringLiteral("unknown option %1").arg(option));
  }
  if (at == arguments.size()) Usage(QStringLiteral("no command"));
  options.command = arguments[at];
  options.args = arguments.mid(at + 1);

  const CommandHelp* command = FindCommand(options.command);
  if (!command) Usage(QStringLiteral("unknown command %1").arg(options.command));
  const int count = static_cast<int>(options.args.size());
  if (count < command->minArgs || (command->maxArgs >= 0 && count > command->maxArgs))
    Usage(QStringLiteral("usage: quillon-cli %1").arg(QLatin1String(command->synopsis)));
  return options;
}

QString HelpText(const QString& name) {
  if (!name.isEmpty()) {
    const CommandHelp* command = FindCommand(name);
    if (!command) Usage(QStringLiteral("unknown command %1").arg(name));
    return QStringLiteral(
               "usage: quillon-cli [--port P] [--json] [--quiet] [--wait] [--repeat] "
               "%1\n  %2\n")
        .arg(QLatin1String(command->synopsis), QLatin1String(command->text));
  }
  QString text = QStringLiteral(
      "usage: quillon-cli [--port P] [--json] [--quiet] [--wait] [--repeat] COMMAND [ARGS]\n"
      "\n"
      "  --port P   COMn (n 1..255, resolved as the window resolves it) or a device path;\n"
      "             default COM1\n"
      "  --json     one JSON object on stdout for every command, failures included\n"
      "  --quiet    no messages to people on success\n"
      "  --wait     wait for the port and a converter that answers, then run the command\n"
      "  --repeat   run the command on one converter after the other until Ctrl-C\n"
      "\n"
      "commands:\n");
  for (const CommandHelp& command : kCommands)
    text += QStringLiteral("  %1\n      %2\n")
                .arg(QLatin1String(command.synopsis), QLatin1String(command.text));
  text += QStringLiteral(
      "\nexit status: 0 done; 1 the converter refused or the read-back differs; 2 usage or bad\n"
      "input; 3 the port cannot be opened; 4 no reply or an incomplete one within the time-out\n");
  return text;
}

}  // namespace cli
