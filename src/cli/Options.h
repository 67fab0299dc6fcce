#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace cli {

// The command line. Arguments stay bytes: a file or port name is handed to
// the system exactly as given, whatever its encoding.
struct Options {
  QByteArray port = QByteArrayLiteral("COM1");  // the window's first port
  bool json = false;
  bool quiet = false;
  bool wait = false;
  bool repeat = false;
  bool dryRun = false;
  QString command;
  QByteArrayList args;
};

// Parses the arguments after the program name. Options may stand anywhere,
// before or after the command and its arguments; "--" ends them, so that an
// argument after it is never an option. Throws CliError (usage) for an
// unknown option, an option without its value or given twice, a port that
// is neither COM1..COM255 nor a path, a missing or unknown command, wrong
// arguments of a command, and --dry-run with a command that writes nothing.
Options ParseOptions(const QByteArrayList& arguments);

// Whether --json stands among the options, so that a command line that
// does not parse is reported as JSON too.
bool WantsJson(const QByteArrayList& arguments);

// The help text: the whole usage, or that of one command. Throws CliError
// (usage) for an unknown command.
QString HelpText(const QString& command = {});

}  // namespace cli
