#pragma once

#include <QJsonObject>
#include <QString>

#include "protocol/Records.h"

namespace cli {

class CliError;

// Where a command's results go: data to stdout (text lines, or one JSON
// object per line with --json), messages to people to stderr. With several
// ports, each port's output carries its name: text lines start with "PORT: ",
// JSON objects hold "port". Every write is whole under one process-wide
// lock, so the lines of ports running at once never mix.
class Output {
 public:
  Output(bool json, bool quiet) : json_(json), quiet_(quiet) {}
  // Prints neither lines nor messages: the results go elsewhere (the one
  // line per converter of --repeat).
  static Output Silent() { return Output(true, true); }
  // This output for one of several ports.
  Output ForPort(const QString& port) const;

  bool Json() const { return json_; }
  bool Quiet() const { return quiet_; }
  const QString& Port() const { return port_; }

  // A message to people (stderr), left out with --quiet.
  void Say(const QString& text) const;
  // A failure message (stderr), always shown.
  void Complain(const QString& text) const;

  // Data lines for text output; nothing with --json.
  void Line(const QString& text) const;
  // One JSON object on stdout, with "port" when it is one port's.
  void PrintJson(QJsonObject object) const;

  // Reports a command that could not complete: its message on stderr and,
  // with --json, {"ok":false,"error":...,"exit":N} and its details on
  // stdout. Returns the exit status.
  int Fail(const CliError& failure) const;

 private:
  QString Prefixed(const QString& text) const;

  bool json_;
  bool quiet_;
  QString port_;
};

// `into` with the keys of `from` added (and replacing its own).
QJsonObject MergedJson(QJsonObject into, const QJsonObject& from);

// The version as the window's three labels show it.
QJsonObject VersionJson(const protocol::VersionRecord& version);
QString VersionText(const protocol::VersionRecord& version);

// One object per record ("convt", "com", "can"), the field names as keys.
QJsonObject RecordsJson(const protocol::ParameterRecords& records);
// "convt.mode=2" lines; identifiers and flags in 0x-hexadecimal.
QString RecordsText(const protocol::ParameterRecords& records);

}  // namespace cli
