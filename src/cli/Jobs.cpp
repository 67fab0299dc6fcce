#include "cli/Jobs.h"

#include <QJsonArray>
#include <QStringList>

#include "cli/Assignments.h"
#include "cli/CliError.h"
#include "cli/FieldChanges.h"
#include "cli/ParamFiles.h"
#include "messages/Messages.h"
#include "platform/CommNames.h"
#include "protocol/PanelRules.h"

namespace cli {
namespace {

using protocol::ParameterRecords;

constexpr const char* kPortPlaceholder = "{port}";

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

// A write that failed says what it left on the converter: the records
// acknowledged before the failure.
Job SayingWhatWasWritten(Job job) {
  return [job](ConverterLink& link, const Output& out) {
    link.ForgetWritten();
    try {
      return job(link, out);
    } catch (const CliError& failure) {
      const QStringList written = link.Written();
      QJsonObject details = failure.Details();
      details.insert("written", QJsonArray::fromStringList(written));
      const QString told =
          written.isEmpty() ? QStringLiteral("none") : written.join(QStringLiteral(", "));
      throw CliError(
          failure.Status(),
          std::string(failure.what()) + "; written before the failure: " + told.toStdString(),
          details);
    }
  };
}

// ---- the device commands ----

Job VersionJob() {
  return [](ConverterLink& link, const Output& out) {
    const protocol::VersionRecord version = link.ReadVersion();
    out.Line(VersionText(version));
    return JobResult({{"version", VersionJson(version)}});
  };
}

Job ReadJob(const Options& options) {
  const QByteArrayList file = options.args;
  return [file](ConverterLink& link, const Output& out) {
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
      ExportFile(FileForPort(file.front(), link.Port()), records);
      out.Say(QStringLiteral("Data parameters saved successfully!"));
    }
    QJsonObject data = MergedJson(RecordsJson(records), {{"version", VersionJson(version)}});
    if (!shownOtherwise.empty()) data.insert("warnings", ShownOtherwiseJson(shownOtherwise));
    return JobResult(data);
  };
}

Job VerifyJob(const ParameterRecords& file) {
  return [file](ConverterLink& link, const Output& out) {
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

Job WriteJob(const ParameterRecords& file, bool dryRun) {
  return [file, dryRun](ConverterLink& link, const Output& out) {
    const ParameterRecords current = link.ReadParameters();
    // What a file does not hold (the data-conversion fields) stays as the
    // converter has it.
    ParameterRecords wanted = file;
    for (const protocol::ParamField& field : protocol::ParamFields())
      if (!StoredInParamFile(field)) field.set(wanted, field.get(current));
    return Change(link, current, wanted, RecordSet{}, dryRun, out);
  };
}

Job SetJob(const Options& options) {
  const std::vector<Assignment> assignments = ParseAssignments(options.args);
  const bool dryRun = options.dryRun;
  return [assignments, dryRun](ConverterLink& link, const Output& out) {
    const ParameterRecords current = link.ReadParameters();
    if (const auto failure = RefusedByTheWindow(current, assignments))
      throw CliError(kExitUsage,
                     failure->key + ": " + messages::MessageText(failure->message, "enu"));
    return Change(link, current, Applied(current, assignments), RecordsHolding(assignments), dryRun,
                  out);
  };
}

Job RestoreJob() {
  return [](ConverterLink& link, const Output& out) {
    link.RestoreDefaults();
    const ParameterRecords records = link.ReadParameters();
    out.Line(RecordsText(records));
    out.Say(QStringLiteral("acquire configuration succeed!"));
    return JobResult(RecordsJson(records));
  };
}

}  // namespace

PreparedJob PrepareJob(const Options& options) {
  PreparedJob job;
  job.command = options.command;
  job.dryRun = options.dryRun;
  const QString& command = options.command;
  if (command == QLatin1String("version")) {
    job.run = VersionJob();
  } else if (command == QLatin1String("read")) {
    if (!options.args.isEmpty() && options.SeveralPorts() &&
        !options.args.front().contains(kPortPlaceholder))
      throw CliError(kExitUsage,
                     "read FILE with several ports: FILE must hold {port}, which becomes each "
                     "port's name (read 'unit-{port}.bin')");
    job.run = ReadJob(options);
  } else if (command == QLatin1String("verify") || command == QLatin1String("write")) {
    const bool write = command == QLatin1String("write");
    job.file = options.args.front();
    const ImportedFile file = write ? ImportFileToWrite(job.file) : ImportFile(job.file);
    job.fileCrc = file.crc;
    job.run = write ? WriteJob(file.records, options.dryRun) : VerifyJob(file.records);
  } else if (command == QLatin1String("set")) {
    job.run = SetJob(options);
  } else {
    job.run = RestoreJob();
  }
  if ((command == QLatin1String("write") || command == QLatin1String("set")) && !options.dryRun)
    job.run = SayingWhatWasWritten(job.run);
  return job;
}

QByteArray PortLabel(const QByteArray& port) {
  if (const auto number = platform::ParseCommName(port.toStdString()))
    return "COM" + QByteArray::number(*number);
  const qsizetype slash = port.lastIndexOf('/');
  return slash < 0 ? port : port.mid(slash + 1);
}

QByteArray FileForPort(const QByteArray& pattern, const QByteArray& port) {
  QByteArray file = pattern;
  return file.replace(kPortPlaceholder, PortLabel(port));
}

}  // namespace cli
