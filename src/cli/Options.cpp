#include "cli/Options.h"

#include <QRegularExpression>
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
  bool device;  // talks to converters on --port
};

const CommandHelp kCommands[] = {
    {"ports", "ports",
     "The ports the window's list shows as present, with the same descriptions. With --json "
     "also the device, its USB ids and strings and its /dev/serial/by-id name.",
     0, 0, false, false},
    {"find", "find",
     "Ask every present port at once for a converter's version, as the connect does, and list "
     "the ports that answer with their versions. A port another program holds (has open, or "
     "holds its lock file) is listed as in use, with the program, and never opened. Nothing "
     "but the version query is sent. Exit 0 when a converter answered, 4 when none did.",
     0, 0, false, false},
    {"version", "version",
     "The converter's software version, build date and hardware version, as the window shows "
     "them.",
     0, 0, false, true},
    {"read", "read [FILE]",
     "The converter's three parameter groups, as it holds them. With FILE, also export them "
     "as a parameter file (a regular file or a new name; a link writes the file it points "
     "to). With several ports FILE must hold {port}, which becomes each port's name (COM3, "
     "ttyUSB0): one file per port. A value the window would show differently gets a warning "
     "on stderr.",
     0, 1, false, true},
    {"verify", "verify FILE",
     "Compare the converter with the parameter file FILE, field by field, one line per "
     "difference ('com.baudRate: converter 9600, file 19200'); exit 0 when all match, 1 when "
     "any differs. The data-conversion fields are not in a file and are not compared.",
     1, 1, false, true},
    {"write", "write [--dry-run] FILE",
     "Import FILE with every check of the window's import, write the three records and read "
     "them back. A file holding a value the window's controls cannot hold, or a file too "
     "short for its records, is refused (exit 2) and nothing is sent. The data-conversion "
     "fields, which a file does not hold, keep the converter's values. Prints the changes "
     "('key: old -> new'). A write that fails says which records the converter acknowledged "
     "before the failure ('written before the failure: convt, com').",
     1, 1, true, true},
    {"set", "set [--dry-run] KEY=VALUE ...",
     "Read, change the named fields and nothing else, check them with the window's rules, "
     "write the records that hold them and read back. KEY is record.field (convt.mode, "
     "com.baudRate, can.acceptanceCode, ...; see 'read'); VALUE is decimal or 0x-hexadecimal "
     "digits, nothing else. Prints the changes ('key: old -> new').",
     1, -1, true, true},
    {"restore", "restore", "Restore the converter's factory defaults, then read them back.", 0, 0,
     false, true},
    {"help", "help [COMMAND | report]", "This text, that of one command, or the report's fields.",
     0, 1, false, false},
};

// --dry-run stands in the synopses of the two commands that take it.
constexpr const char* kOptionsSynopsis =
    "[--port P[,P...]|all] [--json] [--quiet] [--wait] [--repeat] [--no-answer S] "
    "[--strict-crc] [--trace] [--report FILE]";

constexpr const char* kReportHelp =
    "usage: quillon-cli --report FILE COMMAND ...\n"
    "  Appends one JSON object per line to FILE for every converter handled:\n"
    "  each port of a run, each converter of a --wait loop (one that never\n"
    "  answered too). Each line is one write to a file opened for appending, so\n"
    "  that several quillon-cli processes can share one file. FILE must be a\n"
    "  regular file or a new name; a FIFO, a device, a socket, a directory or a\n"
    "  read-only file is refused (exit 2) before anything is sent.\n"
    "\n"
    "fields:\n"
    "  time       when the converter was taken: ISO 8601 with the UTC offset\n"
    "             (2024-05-06T14:03:21.517+02:00)\n"
    "  port       the port as given (COM3, /dev/ttyUSB0)\n"
    "  device     the device node the port led to; null when nothing was there\n"
    "  usbSerial  the USB adapter's serial number; null when not known\n"
    "  command    version, read, verify, write, set or restore\n"
    "  dryRun     true for write --dry-run and set --dry-run; absent otherwise\n"
    "  file       write and verify: the parameter file, as given\n"
    "  fileCrc    write and verify: that file's CRC-32 (the one its header\n"
    "             holds), 0x and 8 hexadecimal digits\n"
    "  version    the converter's versions, {\"software\",\"build\",\"hardware\"}\n"
    "             as the window shows them; null when it did not answer\n"
    "  result     \"ok\", or the error text\n"
    "  exit       the exit status this converter gives: 0 for ok\n"
    "  seconds    from the converter's answer (or the port's opening) to the\n"
    "             result\n"
    "  written    write and set that failed: the records the converter\n"
    "             acknowledged before the failure, in the order sent (\"convt\",\n"
    "             \"com\", \"can\"); [] when none\n";

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

// The ports of --port: one, a comma-separated list, or "all". A COM name
// counts once whatever its case or prefix.
void TakePorts(Options& options, const QByteArray& value) {
  if (value.toLower() == "all") {
    options.allPorts = true;
    options.ports.clear();
    return;
  }
  options.ports.clear();
  QList<int> numbers;
  for (const QByteArray& port : value.split(',')) {
    if (port.toLower() == "all") Usage(QStringLiteral("--port all stands alone"));
    const QByteArray checked = CheckedPort(port);
    const auto number = platform::ParseCommName(checked.toStdString());
    if (options.ports.contains(checked) || (number && numbers.contains(*number)))
      Usage(QStringLiteral("the port %1 is named twice").arg(Text(port)));
    if (number) numbers << *number;
    options.ports << checked;
  }
  // A thread each: as many as there are COM numbers.
  if (options.ports.size() > 255) Usage(QStringLiteral("--port names more than 255 ports"));
}

// Seconds, with at most three decimals: 5, 0.5, 12.25. Nothing else.
int NoAnswerMs(const QByteArray& value) {
  static const QRegularExpression seconds(QStringLiteral("^([0-9]{1,5})(?:\\.([0-9]{1,3}))?$"));
  const auto match = seconds.match(QString::fromLatin1(value));
  const QString fraction = match.captured(2);
  const long long ms = match.hasMatch() ? match.captured(1).toLongLong() * 1000 +
                                              (fraction + QStringLiteral("00")).left(3).toInt()
                                        : 0;
  if (ms <= 0 || ms > 24LL * 3600 * 1000)
    Usage(QStringLiteral("--no-answer takes seconds, more than 0 and at most a day: %1")
              .arg(Text(value)));
  return static_cast<int>(ms);
}

// "usage: quillon-cli OPTIONS COMMAND" at most 78 columns wide, the lines
// after the first under its first option; a bracketed option is never cut.
QString UsageLine(const QString& command) {
  const QString lead = QStringLiteral("usage: quillon-cli ");
  QStringList items;
  int depth = 0;
  QString item;
  for (const QChar c : QLatin1String(kOptionsSynopsis) + QLatin1Char(' ') + command) {
    if (c == QLatin1Char(' ') && depth == 0) {
      if (!item.isEmpty()) items << item;
      item.clear();
      continue;
    }
    depth += c == QLatin1Char('[') ? 1 : c == QLatin1Char(']') ? -1 : 0;
    item += c;
  }
  items << item;
  QString text;
  QString line = lead;
  for (const QString& next : items) {
    if (line.size() > lead.size() && line.size() + 1 + next.size() > 78) {
      text += line + QLatin1Char('\n');
      line = QString(lead.size(), QLatin1Char(' '));
    }
    if (line.trimmed().size() > 0 && !line.endsWith(QLatin1Char(' '))) line += QLatin1Char(' ');
    line += next;
  }
  return text + line + QLatin1Char('\n');
}

// A word that the parser takes as an option: "-" alone is an argument.
bool IsOption(const QByteArray& argument) {
  return argument.size() > 1 && argument.startsWith('-');
}

// The switch an option without a value sets, or null.
bool* FlagOf(Options& options, const QByteArray& argument) {
  const std::pair<const char*, bool*> flags[] = {
      {"--json", &options.json},      {"--quiet", &options.quiet},
      {"--wait", &options.wait},      {"--repeat", &options.repeat},
      {"--dry-run", &options.dryRun}, {"--strict-crc", &options.strictCrc},
      {"--trace", &options.trace},
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

// The options that take a value, each given once, as "--name V" or
// "--name=V".
class ValueOptions {
 public:
  explicit ValueOptions(Options& options) : options_(options) {}

  // True when `argument` is one of them (its value taken from `arguments`).
  bool Take(const QByteArrayList& arguments, qsizetype& at) {
    const QByteArray& argument = arguments[at];
    for (const Value& value : kValues) {
      const QByteArray name = value.name;
      QByteArray given;
      if (argument.startsWith(name + '=')) {
        given = argument.mid(name.size() + 1);
      } else if (argument == name) {
        // The next word is the value unless it is an option itself.
        if (at + 1 == arguments.size() || IsOption(arguments[at + 1]))
          Usage(QStringLiteral("%1 needs a value: %2").arg(value.name, value.what));
        given = arguments[++at];
      } else {
        continue;
      }
      if (given.isEmpty())
        Usage(QStringLiteral("%1 needs a value: %2").arg(value.name, value.what));
      if (seen_.contains(name)) Usage(QStringLiteral("%1 given twice").arg(value.name));
      seen_ << name;
      (this->*value.apply)(given);
      return true;
    }
    return false;
  }

  bool Given(const char* name) const { return seen_.contains(QByteArray(name)); }

 private:
  struct Value {
    const char* name;
    const char* what;
    void (ValueOptions::*apply)(const QByteArray&);
  };
  void Port(const QByteArray& v) { TakePorts(options_, v); }
  void NoAnswer(const QByteArray& v) { options_.noAnswerMs = NoAnswerMs(v); }
  void Report(const QByteArray& v) { options_.report = v; }
  static constexpr Value kValues[] = {
      {"--port", "COMn, a device path, a list of them separated by commas, or all",
       &ValueOptions::Port},
      {"--no-answer", "seconds", &ValueOptions::NoAnswer},
      {"--report", "a file", &ValueOptions::Report},
  };

  Options& options_;
  QByteArrayList seen_;
};

}  // namespace

bool IsDeviceCommand(const QString& command) {
  const CommandHelp* found = FindCommand(command);
  return found && found->device;
}

bool WantsJson(const QByteArrayList& arguments) {
  for (const QByteArray& argument : arguments) {
    if (argument == "--") return false;
    if (argument == "--json") return true;
  }
  return false;
}

Options ParseOptions(const QByteArrayList& arguments) {
  Options options;
  ValueOptions values(options);
  QByteArrayList words;
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
    } else if (!values.Take(arguments, at)) {
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
  if (!options.report.isEmpty() && !command->device)
    Usage(QStringLiteral("--report goes with the commands that talk to a converter"));
  if (options.trace && !command->device && options.command != QLatin1String("find"))
    Usage(QStringLiteral("--trace goes with find and the commands that talk to a converter"));
  if (values.Given("--no-answer") && !options.wait && !options.repeat)
    Usage(QStringLiteral("--no-answer goes with --wait"));
  return options;
}

QString HelpText(const QString& name) {
  if (name == QLatin1String("report")) return QString::fromLatin1(kReportHelp);
  if (!name.isEmpty()) {
    const CommandHelp* command = FindCommand(name);
    if (!command) Usage(QStringLiteral("unknown command %1").arg(name));
    return UsageLine(QLatin1String(command->synopsis)) +
           Wrapped(QLatin1String(command->text), QStringLiteral("  "));
  }
  QString text = UsageLine(QStringLiteral("COMMAND [ARGS]"));
  text += QStringLiteral(
      "\n"
      "Options may stand anywhere, before or after the command and its arguments;\n"
      "'--' ends them (a file named '--json' is written 'read -- --json').\n"
      "  --port P     COMn (n 1..255, resolved as the window resolves it) or a device\n"
      "               path; default COM1. Also --port=P. Several, separated by commas\n"
      "               (COM3,COM4,/dev/ttyUSB2), or 'all': every port where 'find'\n"
      "               finds a converter. Each port runs at once on a thread of its\n"
      "               own; lines start with the port's name, JSON objects hold\n"
      "               \"port\", and a summary follows.\n"
      "  --json       one JSON object on stdout for every command and port, failures\n"
      "               included\n"
      "  --quiet      no messages to people on success, nor the list of changes\n"
      "  --wait       wait for the port and a converter that answers, then run the\n"
      "               command; while the port's device is there, also between\n"
      "               converters, its lock file (/run/lock/LCK..ttyUSB0) names this\n"
      "               program, so that a second loop, the window and 'find' see who\n"
      "               holds it\n"
      "  --repeat     run the command on one converter after the other until Ctrl-C\n"
      "               (or SIGTERM, SIGHUP), then print 'passed N, failed N, no answer\n"
      "               N' per port and in total\n"
      "  --no-answer S\n"
      "               with --wait: a converter that is there but does not answer\n"
      "               within S seconds (default 5) gets the line 'no answer' and\n"
      "               counts as failed. It is there when its port appears, or when\n"
      "               bytes come that hold no reply\n"
      "  --strict-crc a reply whose checksum does not hold is taken as not received\n"
      "               (by default it is accepted, as the window accepts it)\n"
      "  --trace      find and the commands that talk to a converter: what goes\n"
      "               over the line, decoded, on stderr as it happens, timed from\n"
      "               the port's first line; one line per frame sent or received,\n"
      "               run of noise, or outcome:\n"
      "                 +0.000 tx CMD_GET_VERSION len 1 crc ok 7F 01 10 20 ...\n"
      "                 +0.011 rx noise 3 bytes 00 55 AA\n"
      "                 +0.011 rx CMD_GET_VERSION status 0x20 ok len 9 crc ok ...\n"
      "               A frame not accepted says why, in parentheses; time-outs,\n"
      "               refusals and lost ports are 'msg' lines. With --json, one\n"
      "               JSON object per line instead, the messages on stderr too.\n"
      "               A --wait loop shows its first look for a converter, then\n"
      "               counts the looks that repeat it ('12 more looks like the\n"
      "               one above'), at least once a minute\n"
      "  --report FILE\n"
      "               append one JSON line per converter handled (see 'help report')\n"
      "  --dry-run    write and set: read, check and print the changes; send no\n"
      "               setting\n"
      "\n"
      "commands:\n");
  for (const CommandHelp& command : kCommands)
    text += QStringLiteral("  %1\n").arg(QLatin1String(command.synopsis)) +
            Wrapped(QLatin1String(command.text), QStringLiteral("      "));
  text += QStringLiteral(
      "\n"
      "exit status:\n"
      "  0  done; verify: the converter matches the file\n"
      "  1  the converter refused, the read-back differs from what was written, or\n"
      "     verify found a difference\n"
      "  2  usage or bad input: an unknown option, command or key, a value that is\n"
      "     not a number or that the window's rules refuse, an invalid parameter\n"
      "     file or one the window's controls cannot hold, a file that cannot be\n"
      "     written\n"
      "  3  the port cannot be opened, another program holds it, or there is no\n"
      "     usable program folder\n"
      "  4  no reply, or an incomplete one, within the time-out; a converter that\n"
      "     never answered; or SIGINT, SIGTERM or SIGHUP\n"
      "With several ports, or several converters in a --repeat loop: 0 when every\n"
      "one succeeded, otherwise the most serious status among them, in this order:\n"
      "4 (a converter's state is unknown), 1 (it does not hold what was asked),\n"
      "3 (a port was not reached), 2 (input refused); nothing was sent for 3 and 2.\n");
  return text;
}

}  // namespace cli
