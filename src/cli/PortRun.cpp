#include "cli/PortRun.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/Station.h"
#include "cli/Waiter.h"
#include "platform/PortLock.h"
#include "platform/SerialDevices.h"

namespace cli {
namespace {

// How a converter's turn ended, for its line, its JSON object and its
// report entry.
struct Outcome {
  bool completed = false;  // the command ran to its end (a verify that differs too)
  int status = kExitDone;
  bool answered = true;
  QString failure;  // empty when it succeeded
  QJsonObject data;
  std::optional<QJsonObject> version;
  double seconds = 0;
};

Outcome Failed(const CliError& error, bool answered = true) {
  Outcome outcome;
  outcome.status = error.Status();
  outcome.answered = answered;
  outcome.failure = QString::fromUtf8(error.what());
  outcome.data = error.Details();
  return outcome;
}

class PortRun {
 public:
  PortRun(const QByteArray& port, const PortRunSetup& setup, const Output& out)
      : setup_(setup),
        options_(setup.options),
        out_(out),
        link_(port, options_.strictCrc ? protocol::CrcCheck::Required : protocol::CrcCheck::Ignored,
              out) {}

  Tally Run() {
    if (options_.repeat) return Repeatedly();
    return options_.wait ? AfterWaiting() : Once();
  }

 private:
  QString PortText() const { return QString::fromLocal8Bit(link_.Port()); }

  // The command on the open link, timed from here.
  Outcome RunJob(const Output& out, std::optional<QJsonObject> version) {
    QElapsedTimer clock;
    clock.start();
    Outcome outcome;
    try {
      const JobResult result = setup_.job.run(link_, out);
      outcome.completed = true;
      outcome.status = result.status;
      outcome.failure = result.failure;
      outcome.data = result.data;
    } catch (const CliError& error) {
      outcome = Failed(error);
    }
    outcome.version = std::move(version);
    outcome.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    return outcome;
  }

  // A report line for the converter just handled; a line that cannot be
  // written fails the port's run, not the converter.
  void Record(const QDateTime& time, const Outcome& outcome, Tally& tally) {
    if (!setup_.report) return;
    ReportEntry entry;
    entry.time = time;
    entry.port = PortText();
    const std::string device = platform::PresentDevicePath(link_.Port().toStdString());
    entry.device = QString::fromStdString(device);
    if (!device.empty())
      entry.usbSerial = QString::fromStdString(platform::DescribeNode(device).serial);
    entry.command = setup_.job.command;
    entry.dryRun = setup_.job.dryRun;
    entry.file = QString::fromLocal8Bit(setup_.job.file);
    entry.fileCrc = setup_.job.fileCrc;
    entry.version = outcome.version;
    entry.result = outcome.failure.isEmpty() ? QStringLiteral("ok") : outcome.failure;
    entry.exit = outcome.status;
    entry.seconds = outcome.seconds;
    if (outcome.data.contains("written")) {
      QStringList written;
      for (const QJsonValue& record : outcome.data.value("written").toArray())
        written << record.toString();
      entry.written = written;
    }
    try {
      setup_.report->Append(entry);
    } catch (const CliError& error) {
      out_.Complain(QString::fromUtf8(error.what()));
      tally.status = MostSerious(tally.status, error.Status());
    }
  }

  // Prints the result of a command run once: its JSON object, or its
  // failure.
  void PrintOnce(const Outcome& outcome) {
    if (!outcome.completed) {
      out_.Fail(CliError(outcome.status, outcome.failure.toStdString(), outcome.data));
      return;
    }
    if (out_.Json())
      out_.PrintJson(MergedJson({{"ok", outcome.status == kExitDone}}, outcome.data));
  }

  Tally Once() {
    Tally tally;
    const QDateTime time = QDateTime::currentDateTime();
    platform::PortLock lock;
    if (const std::string device = platform::PresentDevicePath(link_.Port().toStdString());
        !device.empty())
      lock.Acquire(device);  // held by another: the open says by whom
    Outcome outcome;
    try {
      link_.Open();
      std::optional<QJsonObject> version;
      if (setup_.report) version = VersionJson(link_.ReadVersion());
      outcome = RunJob(out_, version);
    } catch (const CliError& error) {
      outcome = Failed(error);
    }
    PrintOnce(outcome);
    tally.Count(outcome.status);
    Record(time, outcome, tally);
    return tally;
  }

  // One converter's turn after it came: the command and its outcome.
  Outcome Take(const Station::Arrival& arrival, const Output& out) {
    switch (arrival.kind) {
      case Station::Arrival::Kind::NoAnswer: {
        Outcome outcome = Failed(CliError(kExitNoReply, "no answer"), false);
        outcome.seconds = static_cast<double>(arrival.silentMs) / 1000.0;
        return outcome;
      }
      case Station::Arrival::Kind::Refused:
        return Failed(*arrival.refusal);
      case Station::Arrival::Kind::Answered:
        break;
    }
    return RunJob(out, VersionJson(arrival.version));
  }

  Tally AfterWaiting() {
    Tally tally;
    Station station(link_, options_.noAnswerMs, out_);
    out_.Say(QStringLiteral("waiting for a converter on %1 ...").arg(PortText()));
    Outcome outcome;
    QDateTime time;
    try {
      const Station::Arrival arrival = station.WaitForConverter();
      time = QDateTime::currentDateTime();
      outcome = Take(arrival, out_);
    } catch (const CliError& error) {
      out_.Fail(error);  // interrupted, or the port's lock held by another
      tally.status = error.Status();
      return tally;
    }
    PrintOnce(outcome);
    tally.Count(outcome.status, outcome.answered);
    Record(time, outcome, tally);
    return tally;
  }

  // "3 1.2 build20170905 1.0 ok 0.09"; "4 no answer 5.00".
  static QString ResultLine(int sequence, const Outcome& outcome) {
    const QString result = outcome.failure.isEmpty() ? QStringLiteral("ok") : outcome.failure;
    const QString seconds = QString::number(outcome.seconds, 'f', 2);
    if (!outcome.version) return QStringLiteral("%1 %2 %3").arg(sequence).arg(result, seconds);
    const QJsonObject& version = *outcome.version;
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(sequence)
        .arg(version.value("software").toString(), version.value("build").toString(),
             version.value("hardware").toString(), result, seconds);
  }

  void PrintUnit(int sequence, const Outcome& outcome) {
    if (!out_.Json()) {
      out_.Line(ResultLine(sequence, outcome));
      return;
    }
    QJsonObject line = MergedJson({{"seq", sequence}}, outcome.data);
    if (outcome.version) line.insert("version", *outcome.version);
    line.insert("ok", outcome.failure.isEmpty());
    if (!outcome.failure.isEmpty()) line.insert("error", outcome.failure);
    if (outcome.status != kExitDone) line.insert("exit", outcome.status);
    line.insert("seconds", outcome.seconds);
    out_.PrintJson(line);
  }

  Tally Repeatedly() {
    static const Output silent = Output::Silent();
    Tally tally;
    Station station(link_, options_.noAnswerMs, out_);
    out_.Say(QStringLiteral("waiting for converters on %1; Ctrl-C ends").arg(PortText()));
    try {
      for (int sequence = 1; !Interrupted(); ++sequence) {
        Station::Arrival arrival;
        try {
          arrival = station.WaitForConverter();
        } catch (const CliError&) {
          if (Interrupted()) break;
          throw;
        }
        const QDateTime time = QDateTime::currentDateTime();
        const Outcome outcome = Take(arrival, silent);
        PrintUnit(sequence, outcome);
        tally.Count(outcome.status, outcome.answered);
        Record(time, outcome, tally);
        station.WaitUntilGone();
      }
    } catch (const CliError& error) {
      // The port's lock held by another program: this station ends.
      out_.Fail(error);
      tally.status = MostSerious(tally.status, error.Status());
    }
    return tally;
  }

  const PortRunSetup& setup_;
  const Options& options_;
  const Output& out_;
  ConverterLink link_;
};

}  // namespace

Tally RunPort(const QByteArray& port, const PortRunSetup& setup, const Output& out) {
  try {
    return PortRun(port, setup, out).Run();
  } catch (const std::exception& failure) {
    Tally tally;
    tally.status =
        out.Fail(CliError(kExitUsage, std::string("internal failure: ") + failure.what()));
    return tally;
  }
}

}  // namespace cli
