#pragma once

#include <QString>
#include <QStringList>

namespace cli {

// The command line: global options, then the command and its arguments.
struct Options {
  QString port = QStringLiteral("COM1");  // the window's first port
  bool json = false;
  bool quiet = false;
  bool wait = false;
  bool repeat = false;
  QString command;
  QStringList args;
};

// Parses the arguments after the program name. Throws CliError (usage) for an
// unknown option, a port that is neither COM1..COM255 nor a path, a missing
// command or wrong arguments of a command.
Options ParseOptions(const QStringList& arguments);

// The help text: the whole usage, or that of one command. Throws CliError
// (usage) for an unknown command.
QString HelpText(const QString& command = {});

}  // namespace cli
