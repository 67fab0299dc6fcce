#pragma once

#include <QJsonObject>
#include <QString>

#include "protocol/Records.h"
#include "protocol/TrafficRow.h"

namespace cli {

class CliError;

// Where a command's results go: data to stdout (text lines, or one JSON
// object per line with --json), messages to people to stderr. With several
// ports, each port's output carries its name: text lines start with "PORT: ",
// JSON objects hold "port". Every write is whole under one process-wide
// lock, so the lines of ports running at once never mix.
//
// With --trace, traffic rows go to stderr too, timed from the port's first
// row. With --json as well, stderr holds JSON objects only: the rows, and
// each message to people as a message row.
class Output {
 public:
  Output(bool json, bool quiet, bool trace = false) : json_(json), quiet_(quiet), trace_(trace) {}
  // Prints neither lines nor messages nor rows: the results go elsewhere
  // (the one line per converter of --repeat).
  static Output Silent() { return Output(true, true); }
  // This output for one of several ports.
  Output ForPort(const QString& port) const;

  bool Json() const { return json_; }
  bool Quiet() const { return quiet_; }
  bool Tracing() const { return trace_; }
  const QString& Port() const { return port_; }

  // A message to people (stderr), left out with --quiet.
  void Say(const QString& text) const;
  // A failure message (stderr), always shown.
  void Complain(const QString& text) const;

  // Data lines for text output; nothing with --json.
  void Line(const QString& text) const;
  // One JSON object on stdout, with "port" when it is one port's.
  void PrintJson(QJsonObject object) const;

  // A traffic row on stderr: its --trace line, or its JSON object (with
  // "port" when it is one port's). Nothing unless tracing.
  void TraceRow(const protocol::TrafficRow& row) const;

  // Reports a command that could not complete: its message on stderr and,
  // with --json, {"ok":false,"error":...,"exit":N} and its details on
  // stdout. Returns the exit status.
  int Fail(const CliError& failure) const;

 private:
  QString Prefixed(const QString& text) const;
  // With --json --trace, writes `text` as a message row and returns true.
  bool AsMessageRow(const QString& text) const;

  bool json_;
  bool quiet_;
  bool trace_;
  QString port_;
};

// Now, on the clock of the traffic rows.
protocol::TrafficTime TraceNow();

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
