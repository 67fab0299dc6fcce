#include "cli/Options.h"

#include <utility>

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
  bool dryRun;  // takes --dry-run
};

const CommandHelp kCommands[] = {
    {"ports", "ports",
     "The ports the window's list shows as present, with the same descriptions. With --json "
     "also the device, its USB ids and strings and its /dev/serial/by-id name.",
     0, 0, false},
    {"version", "version",
     "The converter's software version, build date and hardware version, as the window shows "
     "them.",
     0, 0, false},
    {"read", "read [FILE]",
     "The converter's three parameter groups, as it holds them. With FILE, also export them "
     "as a parameter file (a regular file or a new name; a link writes the file it points "
     "to). A value the window would show differently gets a warning on stderr.",
     0, 1, false},
    {"verify", "verify FILE",
     "Compare the converter with the parameter file FILE, field by field, one line per "
     "difference ('com.baudRate: converter 9600, file 19200'); exit 0 when all match, 1 when "
     "any differs. The data-conversion fields are not in a file and are not compared.",
     1, 1, false},
    {"write", "write [--dry-run] FILE",
     "Import FILE with every check of the window's import, write the three records and read "
     "them back. A file holding a value the window's controls cannot hold, or a file too "
     "short for its records, is refused (exit 2) and nothing is sent. The data-conversion "
     "fields, which a file does not hold, keep the converter's values. Prints the changes "
     "('key: old -> new').",
     1, 1, true},
    {"set", "set [--dry-run] KEY=VALUE ...",
     "Read, change the named fields and nothing else, check them with the window's rules, "
     "write the records that hold them and read back. KEY is record.field (convt.mode, "
     "com.baudRate, can.acceptanceCode, ...; see 'read'); VALUE is decimal or 0x-hexadecimal "
     "digits, nothing else. Prints the changes ('key: old -> new').",
     1, -1, true},
    {"restore", "restore", "Restore the converter's factory defaults, then read them back.", 0, 0,
     false},
    {"help", "help [COMMAND]", "This text, or that of one command.", 0, 1, false},
};

// --dry-run stands in the synopses of the two commands that take it.
constexpr const char* kOptionsSynopsis = "[--port P] [--json] [--quiet] [--wait] [--repeat]";

const CommandHelp* FindCommand(const QString& name) {
  for (const CommandHelp& command : kCommands)
    if (name == QLatin1String(command.name)) return &command;
  return nullptr;
}

[[noreturn]] void Usage(const QString& message) {
  throw CliError(kExitUsage, (message + QStringLiteral(" (see 'quillon-cli help')")).toStdString());
}

QString Text(const QByteArray& argument) {
  return QString::fromLocal8Bit(argument);
}

QByteArray CheckedPort(const QByteArray& port) {
  if (port.isEmpty()) Usage(QStringLiteral("--port needs a value: COMn or a device path"));
  const bool looksLikeCom = port.toUpper().startsWith("COM") || port.startsWith("\\\\.\\");
  if (looksLikeCom && !platform::ParseCommName(port.toStdString()))
    Usage(QStringLiteral("the port %1 is not COM1..COM255").arg(Text(port)));
  return port;
}

// A word that the parser takes as an option: "-" alone is an argument.
bool IsOption(const QByteArray& argument) {
  return argument.size() > 1 && argument.startsWith('-');
}

// The switch an option without a value sets, or null.
bool* FlagOf(Options& options, const QByteArray& argument) {
  const std::pair<const char*, bool*> flags[] = {
      {"--json", &options.json},     {"--quiet", &options.quiet},    {"--wait", &options.wait},
      {"--repeat", &options.repeat}, {"--dry-run", &options.dryRun},
  };
  for (const auto& [name, flag] : flags)
    if (argument == name) return flag;
  return nullptr;
}

// `text` in lines of at most `width` characters, each after `indent`.
QString Wrapped(const QString& text, const QString& indent, qsizetype width = 78) {
  QString wrapped;
  QString line = indent;
  for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
      wrapped += line + QLatin1Char('\n');
      line = indent;
    }
    if (line.size() > indent.size()) line += QLatin1Char(' ');
    line += word;
  }
  return wrapped + line + QLatin1Char('\n');
}

}  // namespace

bool WantsJson(const QByteArrayList& arguments) {
  for (const QByteArray& argument : arguments) {
    if (argument == "--") return false;
    if (argument == "--json") return true;
  }
  return false;
}

Options ParseOptions(const QByteArrayList& arguments) {
  Options options;
  QByteArrayList words;
  bool portGiven = false;
  const auto takePort = [&](const QByteArray& port) {
    if (portGiven) Usage(QStringLiteral("--port given twice"));
    portGiven = true;
    options.port = CheckedPort(port);
  };
  for (qsizetype at = 0; at < arguments.size(); ++at) {
    const QByteArray& argument = arguments[at];
    if (argument == "--") {
      words += arguments.mid(at + 1);
      break;
    }
    if (!IsOption(argument)) {
      words << argument;
    } else if (bool* flag = FlagOf(options, argument)) {
      *flag = true;
    } else if (argument.startsWith("--port=")) {
      takePort(argument.mid(7));
    } else if (argument == "--port") {
      // The next word is the value unless it is an option itself.
      if (at + 1 == arguments.size() || IsOption(arguments[at + 1]))
        Usage(QStringLiteral("--port needs a value: COMn or a device path"));
      takePort(arguments[++at]);
    } else {
      Usage(QStringLiteral("unknown option %1").arg(Text(argument)));
    }
  }
  if (words.isEmpty()) Usage(QStringLiteral("no command"));
  options.command = Text(words.takeFirst());
  options.args = words;

  const CommandHelp* command = FindCommand(options.command);
  if (!command) Usage(QStringLiteral("unknown command %1").arg(options.command));
  const int count = static_cast<int>(options.args.size());
  if (count < command->minArgs || (command->maxArgs >= 0 && count > command->maxArgs))
    Usage(QStringLiteral("usage: quillon-cli %1").arg(QLatin1String(command->synopsis)));
  if (options.dryRun && !command->dryRun)
    Usage(QStringLiteral("--dry-run goes with write and set only"));
  return options;
}

QString HelpText(const QString& name) {
  if (!name.isEmpty()) {
    const CommandHelp* command = FindCommand(name);
    if (!command) Usage(QStringLiteral("unknown command %1").arg(name));
    return QStringLiteral("usage: quillon-cli %1 %2\n")
               .arg(QLatin1String(kOptionsSynopsis), QLatin1String(command->synopsis)) +
           Wrapped(QLatin1String(command->text), QStringLiteral("  "));
  }
  QString text = QStringLiteral("usage: quillon-cli %1 COMMAND [ARGS]\n").arg(kOptionsSynopsis);
  text += QStringLiteral(
      "\n"
      "Options may stand anywhere, before or after the command and its arguments; '--' ends\n"
      "them (a file named '--json' is written 'read -- --json').\n"
      "  --port P     COMn (n 1..255, resolved as the window resolves it) or a device path;\n"
      "               default COM1. Also --port=P.\n"
      "  --json       one JSON object on stdout for every command, failures included\n"
      "  --quiet      no messages to people on success, nor the list of changes\n"
      "  --wait       wait for the port and a converter that answers, then run the command\n"
      "  --repeat     run the command on one converter after the other until Ctrl-C\n"
      "  --dry-run    write and set: read, check and print the changes; send no setting\n"
      "\n"
      "commands:\n");
  for (const CommandHelp& command : kCommands)
    text += QStringLiteral("  %1\n").arg(QLatin1String(command.synopsis)) +
            Wrapped(QLatin1String(command.text), QStringLiteral("      "));
  text += QStringLiteral(
      "\n"
      "exit status:\n"
      "  0  done; verify: the converter matches the file\n"
      "  1  the converter refused, the read-back differs from what was written, or verify\n"
      "     found a difference\n"
      "  2  usage or bad input: an unknown option, command or key, a value that is not a\n"
      "     number or that the window's rules refuse, an invalid parameter file or one the\n"
      "     window's controls cannot hold, a file that cannot be written\n"
      "  3  the port cannot be opened, or there is no usable program folder\n"
      "  4  no reply, or an incomplete one, within the time-out; or SIGINT, SIGTERM or SIGHUP\n");
  return text;
}

}  // namespace cli
