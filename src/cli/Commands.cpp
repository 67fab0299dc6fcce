#include "cli/Commands.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <functional>

#include "cli/Assignments.h"
#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/FieldChanges.h"
#include "cli/Output.h"
#include "cli/ParamFiles.h"
#include "cli/Ports.h"
#include "cli/Waiter.h"
#include "messages/Messages.h"
#include "protocol/PanelRules.h"

namespace cli {
namespace {

using protocol::ParameterRecords;

// Between two looks for a converter that is to come or to go.
constexpr int kRetryMs = 500;

// What a device command found: the data of its JSON object and its exit
// status. A verify that finds differences completes, yet exits 1; `failure`
// is then what the production line's line says of it.
struct JobResult {
  explicit JobResult(QJsonObject jsonData = {}) : data(std::move(jsonData)) {}

  QJsonObject data;
  int status = kExitDone;
  QString failure;
};

// A device command: its input checked before the port is opened, then run on
// an open link.
using Job = std::function<JobResult(ConverterLink&)>;

QJsonObject Merged(QJsonObject into, const QJsonObject& from) {
  for (auto it = from.begin(); it != from.end(); ++it) into.insert(it.key(), it.value());
  return into;
}

// What the window's controls hold after the connect's read.
ParameterRecords AsShownAfterRead(const ParameterRecords& read) {
  return {protocol::AsPanelShows(read.convt),
          protocol::AsPanelShows(read.com, protocol::StopBitsShown::ClearedForReply),
          protocol::AsPanelShows(read.can)};
}

// ---- writing ----

FieldFilter InRecords(RecordSet which) {
  return [which](const protocol::ParamField& field) {
    const std::string_view record = protocol::FieldRecord(field);
    return (record == "convt" && which.convt) || (record == "com" && which.com) ||
           (record == "can" && which.can);
  };
}

// The records that hold a named field: the only ones a set sends.
RecordSet RecordsHolding(const std::vector<Assignment>& assignments) {
  RecordSet which{false, false, false};
  for (const Assignment& assignment : assignments) {
    const std::string_view record = protocol::FieldRecord(*assignment.field);
    which.convt |= record == "convt";
    which.com |= record == "com";
    which.can |= record == "can";
  }
  return which;
}

// Sends the records of `which`, reads the converter back and compares what
// was sent. Returns what was read.
ParameterRecords WriteAndCompare(ConverterLink& link, const ParameterRecords& records,
                                 RecordSet which) {
  link.WriteParameters(records, which);
  const ParameterRecords readBack = link.ReadParameters();
  const std::vector<FieldDifference> differences = Differences(records, readBack, InRecords(which));
  if (differences.empty()) return readBack;
  QStringList text;
  QJsonArray json;
  for (const FieldDifference& difference : differences) {
    text << QStringLiteral("%1 wrote %2, read %3")
                .arg(QString::fromUtf8(difference.field->key),
                     FieldValueText(*difference.field, difference.from),
                     FieldValueText(*difference.field, difference.to));
    json.append(QJsonObject{{"key", QString::fromUtf8(difference.field->key)},
                            {"written", static_cast<qint64>(difference.from)},
                            {"read", static_cast<qint64>(difference.to)}});
  }
  throw CliError(kExitRefused,
                 "the read-back differs from what was written: " +
                     text.join(QStringLiteral(", ")).toStdString(),
                 {{"readBack", json}});
}

// The end of write and set, once every check passed: the records of `which`
// as `wanted` holds them replace the converter's `current` ones, or, dry,
// only the changes are told.
JobResult Change(ConverterLink& link, const ParameterRecords& current,
                 const ParameterRecords& wanted, RecordSet which, bool dryRun, const Output& out) {
  const std::vector<FieldDifference> changes = Differences(current, wanted, InRecords(which));
  JobResult result;
  if (!dryRun) result.data = RecordsJson(WriteAndCompare(link, wanted, which));
  // The list is what a dry run is for; after a write it is a message.
  if (dryRun || !out.Quiet())
    for (const QString& line : ChangeLines(changes)) out.Line(line);
  if (changes.empty()) out.Say(QStringLiteral("no field changes"));
  out.Say(dryRun ? QStringLiteral("dry run: no setting was sent")
                 : QStringLiteral("write configuration succeed!"));
  result.data.insert("changes", ChangesJson(changes));
  if (dryRun) result.data.insert("dryRun", true);
  return result;
}

// ---- the device commands ----

Job VersionJob(const Output& out) {
  return [&out](ConverterLink& link) {
    const protocol::VersionRecord version = link.ReadVersion();
    out.Line(VersionText(version));
    return JobResult({{"version", VersionJson(version)}});
  };
}

Job ReadJob(const Options& options, const Output& out) {
  const QByteArrayList file = options.args;
  if (!file.isEmpty()) CheckExportTarget(file.front());
  return [file, &out](ConverterLink& link) {
    const protocol::VersionRecord version = link.ReadVersion();
    // The window's connect reads the serial line first.
    ParameterRecords records;
    records.com = link.ReadCom();
    records.convt = link.ReadConvt();
    records.can = link.ReadCan();
    out.Line(VersionText(version));
    out.Line(RecordsText(records));
    const std::vector<FieldDifference> shownOtherwise =
        Differences(records, AsShownAfterRead(records));
    for (const QString& line : ShownOtherwiseLines(shownOtherwise, QStringLiteral("the converter")))
      out.Say(QStringLiteral("warning: ") + line);
    if (!file.isEmpty()) {
      ExportFile(file.front(), records);
      out.Say(QStringLiteral("Data parameters saved successfully!"));
    }
    QJsonObject data = Merged(RecordsJson(records), {{"version", VersionJson(version)}});
    if (!shownOtherwise.empty()) data.insert("warnings", ShownOtherwiseJson(shownOtherwise));
    return JobResult(data);
  };
}

Job VerifyJob(const Options& options, const Output& out) {
  const ParameterRecords file = ImportFile(options.args.front());
  return [file, &out](ConverterLink& link) {
    // A file holds no data-conversion fields: they are not compared.
    const std::vector<FieldDifference> differences =
        Differences(link.ReadParameters(), file, StoredInParamFile);
    for (const QString& line : VerifyLines(differences)) out.Line(line);
    JobResult result({{"differences", VerifyJson(differences)}});
    if (differences.empty()) {
      out.Say(QStringLiteral("the converter matches the file"));
    } else {
      QStringList keys;
      for (const FieldDifference& difference : differences)
        keys << QString::fromUtf8(difference.field->key);
      result.status = kExitRefused;
      result.failure = QStringLiteral("differs: ") + keys.join(QStringLiteral(", "));
    }
    return result;
  };
}

Job WriteJob(const Options& options, const Output& out) {
  const ParameterRecords file = ImportFileToWrite(options.args.front());
  const bool dryRun = options.dryRun;
  return [file, dryRun, &out](ConverterLink& link) {
    const ParameterRecords current = link.ReadParameters();
    // What a file does not hold (the data-conversion fields) stays as the
    // converter has it.
    ParameterRecords wanted = file;
    for (const protocol::ParamField& field : protocol::ParamFields())
      if (!StoredInParamFile(field)) field.set(wanted, field.get(current));
    return Change(link, current, wanted, RecordSet{}, dryRun, out);
  };
}

Job SetJob(const Options& options, const Output& out) {
  const std::vector<Assignment> assignments = ParseAssignments(options.args);
  const bool dryRun = options.dryRun;
  return [assignments, dryRun, &out](ConverterLink& link) {
    const ParameterRecords current = link.ReadParameters();
    if (const auto failure = RefusedByTheWindow(current, assignments))
      throw CliError(kExitUsage,
                     failure->key + ": " + messages::MessageText(failure->message, "enu"));
    return Change(link, current, Applied(current, assignments), RecordsHolding(assignments), dryRun,
                  out);
  };
}

Job RestoreJob(const Output& out) {
  return [&out](ConverterLink& link) {
    link.RestoreDefaults();
    const ParameterRecords records = link.ReadParameters();
    out.Line(RecordsText(records));
    out.Say(QStringLiteral("acquire configuration succeed!"));
    return JobResult(RecordsJson(records));
  };
}

Job PrepareJob(const Options& options, const Output& out) {
  if (options.command == QLatin1String("version")) return VersionJob(out);
  if (options.command == QLatin1String("read")) return ReadJob(options, out);
  if (options.command == QLatin1String("verify")) return VerifyJob(options, out);
  if (options.command == QLatin1String("write")) return WriteJob(options, out);
  if (options.command == QLatin1String("set")) return SetJob(options, out);
  return RestoreJob(out);
}

// ---- commands without a converter ----

int Help(const Options& options, const Output& out) {
  const QString text =
      HelpText(options.args.isEmpty() ? QString() : QString::fromLocal8Bit(options.args.front()));
  if (out.Json())
    Output::PrintJson({{"ok", true}, {"help", text}});
  else
    out.Line(text.trimmed());
  return kExitDone;
}

// ---- one converter, or one after the other ----

void OpenIfClosed(ConverterLink& link) {
  if (!link.IsOpen()) link.Open();
}

// Waits until the port opens and a converter answers the version query.
protocol::VersionRecord WaitForConverter(ConverterLink& link) {
  for (;;) {
    try {
      OpenIfClosed(link);
      return link.ReadVersion();
    } catch (const CliError& failure) {
      if (failure.Status() != kExitPort && failure.Status() != kExitNoReply) throw;
      link.Close();
    }
    WaitFor([] { return false; }, kRetryMs);
    if (Interrupted()) throw CliError(kExitNoReply, "interrupted");
  }
}

// Waits until the converter no longer answers or its port went away.
void WaitUntilGone(ConverterLink& link) {
  while (!Interrupted()) {
    try {
      OpenIfClosed(link);
      link.ReadVersion();
    } catch (const CliError&) {
      break;
    }
    WaitFor([&link] { return link.HungUp(); }, kRetryMs);
  }
  link.Close();
}

QString PortText(const Options& options) {
  return QString::fromLocal8Bit(options.port);
}

int RunOnce(const Options& options, const Output& out) {
  const Job job = PrepareJob(options, out);
  ConverterLink link(options.port);
  if (options.wait) {
    out.Say(QStringLiteral("waiting for a converter on %1 ...").arg(PortText(options)));
    WaitForConverter(link);
  }
  OpenIfClosed(link);
  const JobResult result = job(link);
  if (out.Json()) Output::PrintJson(Merged({{"ok", result.status == kExitDone}}, result.data));
  return result.status;
}

QString ResultLine(int sequence, const QJsonObject& version, const QString& result,
                   double seconds) {
  return QStringLiteral("%1 %2 %3 %4 %5 %6")
      .arg(sequence)
      .arg(version.value("software").toString(), version.value("build").toString(),
           version.value("hardware").toString(), result)
      .arg(seconds, 0, 'f', 2);
}

int RunRepeatedly(const Options& options, const Output& out) {
  static const Output silent = Output::Silent();
  const Job job = PrepareJob(options, silent);
  ConverterLink link(options.port);
  int done = 0;
  int failed = 0;
  out.Say(QStringLiteral("waiting for converters on %1; Ctrl-C ends").arg(PortText(options)));
  for (int sequence = 1; !Interrupted(); ++sequence) {
    QElapsedTimer clock;
    QJsonObject result{{"seq", sequence}};
    try {
      result.insert("version", VersionJson(WaitForConverter(link)));
    } catch (const CliError&) {
      break;  // interrupted while waiting
    }
    clock.start();
    QString failure;
    try {
      const JobResult outcome = job(link);
      result = Merged(result, outcome.data);
      failure = outcome.failure;
      if (outcome.status != kExitDone) result.insert("exit", outcome.status);
    } catch (const CliError& error) {
      result = Merged(result, error.Details());
      failure = QString::fromUtf8(error.what());
      result.insert("error", failure);
      result.insert("exit", error.Status());
    }
    result.insert("ok", failure.isEmpty());
    failure.isEmpty() ? ++done : ++failed;
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    result.insert("seconds", seconds);
    if (out.Json())
      Output::PrintJson(result);
    else
      out.Line(ResultLine(sequence, result.value("version").toObject(),
                          failure.isEmpty() ? QStringLiteral("ok") : failure, seconds));
    WaitUntilGone(link);
  }
  if (out.Json())
    Output::PrintJson({{"ok", failed == 0}, {"done", done}, {"failed", failed}});
  else
    out.Line(QStringLiteral("done %1, failed %2").arg(done).arg(failed));
  return failed == 0 ? kExitDone : kExitRefused;
}

}  // namespace

int Run(const Options& options) {
  const Output out(options.json, options.quiet);
  try {
    if (options.command == QLatin1String("help")) return Help(options, out);
    if (options.command == QLatin1String("ports")) return ListPorts(out);
    return options.repeat ? RunRepeatedly(options, out) : RunOnce(options, out);
  } catch (const CliError& failure) {
    return Output::Fail(failure, out.Json());
  } catch (const std::exception& failure) {
    return Output::Fail(CliError(kExitUsage, std::string("internal failure: ") + failure.what()),
                        out.Json());
  }
}

}  // namespace cli
