#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace cli {

// How long a converter that is there may stay silent, by default.
inline constexpr int kDefaultNoAnswerMs = 5000;

// The command line. Arguments stay bytes: a file or port name is handed to
// the system exactly as given, whatever its encoding.
struct Options {
  QByteArrayList ports{QByteArrayLiteral("COM1")};  // the window's first port
  bool allPorts = false;                            // --port all: wherever `find` finds a converter
  bool json = false;
  bool quiet = false;
  bool wait = false;
  bool repeat = false;
  bool dryRun = false;
  bool strictCrc = false;
  bool trace = false;
  int noAnswerMs = kDefaultNoAnswerMs;
  QByteArray report;  // --report FILE; empty: none
  QString command;
  QByteArrayList args;

  bool SeveralPorts() const { return allPorts || ports.size() > 1; }
};

// Whether a command talks to converters on ports (version, read, verify,
// write, set, restore), as opposed to help, ports and find.
bool IsDeviceCommand(const QString& command);

// Parses the arguments after the program name. Options may stand anywhere,
// before or after the command and its arguments; "--" ends them, so that an
// argument after it is never an option. Throws CliError (usage) for an
// unknown option, an option without its value or given twice, a port that
// is neither COM1..COM255 nor a path (or named twice in a list, or `all`
// beside others), a --no-answer that is not a number of seconds, a missing
// or unknown command, wrong arguments of a command, and an option with a
// command it does not go with (--dry-run with a command that writes nothing,
// --report with one that talks to no converter, --trace with one that sends
// nothing, --no-answer without --wait).
Options ParseOptions(const QByteArrayList& arguments);

// Whether --json stands among the options, so that a command line that
// does not parse is reported as JSON too.
bool WantsJson(const QByteArrayList& arguments);

// The help text: the whole usage, that of one command, or of the topic
// "report". Throws CliError (usage) for an unknown command.
QString HelpText(const QString& command = {});

}  // namespace cli
