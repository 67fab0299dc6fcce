#include "cli/Commands.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <functional>
#include <span>

#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/Output.h"
#include "cli/Waiter.h"
#include "messages/Messages.h"
#include "params/ParamFileIo.h"
#include "platform/CommNames.h"
#include "platform/Exception.h"
#include "protocol/PanelRules.h"
#include "protocol/ParamFileFormat.h"

namespace cli {
namespace {

using protocol::ParameterRecords;

// Between two looks for a converter that is to come or to go.
constexpr int kRetryMs = 500;

// A device command: its input checked before the port is opened, then run on
// an open link. Returns the data of its JSON object.
using Job = std::function<QJsonObject(ConverterLink&)>;

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

QJsonObject Merged(QJsonObject into, const QJsonObject& from) {
  for (auto it = from.begin(); it != from.end(); ++it) into.insert(it.key(), it.value());
  return into;
}

// ---- input ----

std::uint32_t ParseValue(const QString& key, const QString& text) {
  bool ok = false;
  const qulonglong value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                               ? text.mid(2).toULongLong(&ok, 16)
                               : text.toULongLong(&ok, 10);
  if (!ok || value > 0xFFFFFFFFull)
    throw CliError(kExitUsage, QStringLiteral("%1=%2: not a decimal or 0x-hexadecimal number "
                                              "of at most 32 bits")
                                   .arg(key, text)
                                   .toStdString());
  return static_cast<std::uint32_t>(value);
}

struct Assignment {
  const protocol::ParamField* field;
  std::uint32_t value;
};

std::vector<Assignment> ParseAssignments(const QStringList& args) {
  std::vector<Assignment> assignments;
  for (const QString& arg : args) {
    const qsizetype equals = arg.indexOf(QLatin1Char('='));
    const QString key = arg.left(equals);
    const protocol::ParamField* field =
        equals > 0 ? protocol::FindParamField(key.toStdString()) : nullptr;
    if (!field)
      throw CliError(kExitUsage, QStringLiteral("%1: not KEY=VALUE with a known KEY (the keys "
                                                "are those 'read' prints)")
                                     .arg(arg)
                                     .toStdString());
    const std::uint32_t value = ParseValue(key, arg.mid(equals + 1));
    if (const auto reason = field->refuse(value))
      throw CliError(kExitUsage, arg.toStdString() + ": " + *reason);
    assignments.push_back({field, value});
  }
  return assignments;
}

// The window's checks before a write; nothing is sent when one fails.
void RefuseWhatTheWindowRefuses(const ParameterRecords& records) {
  if (const auto failure = protocol::CheckBeforeWrite(records))
    throw CliError(kExitUsage,
                   failure->key + ": " + messages::MessageText(failure->message, "enu"));
}

// The file as the window's import reads it: one read, every check.
ParameterRecords ImportFile(const QString& fileName) {
  params::ParamFileContent file;
  try {
    file = params::ReadParamFile(fileName);
  } catch (const platform::Exception& failure) {
    throw CliError(kExitUsage, failure.what());
  }
  const auto check = protocol::CheckParamFile(AsBytes(file.bytes), file.size);
  if (check != protocol::ParamFileCheck::Valid)
    throw CliError(kExitUsage,
                   fileName.toStdString() + ": " +
                       messages::MessageText(*protocol::ParamFileCheckMessage(check), "enu"));
  return protocol::ReadParamFileRecords(AsBytes(file.bytes));
}

// What the window's controls hold after the connect's read.
ParameterRecords AsShownAfterRead(const ParameterRecords& read) {
  return {protocol::AsPanelShows(read.convt),
          protocol::AsPanelShows(read.com, protocol::StopBitsShown::ClearedForReply),
          protocol::AsPanelShows(read.can)};
}

// ---- the device operations ----

std::string Differences(const ParameterRecords& written, const ParameterRecords& read) {
  std::string text;
  for (const protocol::ParamField& field : protocol::ParamFields()) {
    if (field.get(written) == field.get(read)) continue;
    text += std::string(text.empty() ? "" : ", ") + field.key + " wrote " +
            std::to_string(field.get(written)) + ", read " + std::to_string(field.get(read));
  }
  return text;
}

QJsonObject WriteAndCompare(ConverterLink& link, const ParameterRecords& records,
                            const Output& out) {
  link.WriteParameters(records);
  const ParameterRecords readBack = link.ReadParameters();
  if (readBack != records)
    throw CliError(kExitRefused, "the read-back differs from what was written: " +
                                     Differences(records, readBack));
  out.Line(RecordsText(readBack));
  out.Say(QStringLiteral("write configuration succeed!"));
  return RecordsJson(readBack);
}

Job VersionJob(const Output& out) {
  return [&out](ConverterLink& link) {
    const protocol::VersionRecord version = link.ReadVersion();
    out.Line(VersionText(version));
    return QJsonObject{{"version", VersionJson(version)}};
  };
}

Job ReadJob(const Options& options, const Output& out) {
  const QString fileName = options.args.value(0);
  return [fileName, &out](ConverterLink& link) {
    const protocol::VersionRecord version = link.ReadVersion();
    // The window's connect reads the serial line first.
    ParameterRecords records;
    records.com = link.ReadCom();
    records.convt = link.ReadConvt();
    records.can = link.ReadCan();
    out.Line(VersionText(version));
    out.Line(RecordsText(records));
    if (!fileName.isEmpty()) {
      const protocol::ParamFileBytes bytes = protocol::BuildParamFile(AsShownAfterRead(records));
      try {
        params::WriteFileAtomically(fileName,
                                    QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<qsizetype>(bytes.size())));
      } catch (const platform::Exception& failure) {
        throw CliError(kExitUsage, failure.what());
      }
      out.Say(QStringLiteral("Data parameters saved successfully!"));
    }
    return Merged(RecordsJson(records), {{"version", VersionJson(version)}});
  };
}

Job WriteJob(const Options& options, const Output& out) {
  const ParameterRecords file = ImportFile(options.args.value(0));
  ParameterRecords records = {protocol::AsPanelShows(file.convt),
                              protocol::AsPanelShows(file.com, protocol::StopBitsShown::OneForFile),
                              protocol::AsPanelShows(file.can)};
  RefuseWhatTheWindowRefuses(records);
  return [records, &out](ConverterLink& link) mutable {
    // The file holds no data-conversion fields: the window writes those its
    // controls show from the converter.
    const protocol::ConvtParams current = protocol::AsPanelShows(link.ReadConvt());
    records.convt.dataFlags = current.dataFlags;
    records.convt.dataSendId = current.dataSendId;
    return WriteAndCompare(link, records, out);
  };
}

Job SetJob(const Options& options, const Output& out) {
  const std::vector<Assignment> assignments = ParseAssignments(options.args);
  return [assignments, &out](ConverterLink& link) {
    ParameterRecords records = AsShownAfterRead(link.ReadParameters());
    for (const Assignment& assignment : assignments)
      assignment.field->set(records, assignment.value);
    RefuseWhatTheWindowRefuses(records);
    return WriteAndCompare(link, records, out);
  };
}

Job RestoreJob(const Output& out) {
  return [&out](ConverterLink& link) {
    link.RestoreDefaults();
    const ParameterRecords records = link.ReadParameters();
    out.Line(RecordsText(records));
    out.Say(QStringLiteral("acquire configuration succeed!"));
    return RecordsJson(records);
  };
}

Job PrepareJob(const Options& options, const Output& out) {
  if (options.command == QLatin1String("version")) return VersionJob(out);
  if (options.command == QLatin1String("read")) return ReadJob(options, out);
  if (options.command == QLatin1String("write")) return WriteJob(options, out);
  if (options.command == QLatin1String("set")) return SetJob(options, out);
  return RestoreJob(out);
}

// ---- commands without a converter ----

int Help(const Options& options, const Output& out) {
  const QString text = HelpText(options.args.value(0));
  if (out.Json())
    Output::PrintJson({{"ok", true}, {"help", text}});
  else
    out.Line(text.trimmed());
  return kExitDone;
}

int Ports(const Output& out) {
  QJsonArray ports;
  for (int number = 1; number <= 255; ++number) {
    const QString name = QStringLiteral("COM%1").arg(number);
    const QFileInfo device(QString::fromStdString(platform::ResolveCommName(name.toStdString())));
    if (device.filePath().isEmpty() || !device.exists()) continue;
    out.Line(name + QLatin1Char(' ') + device.canonicalFilePath());
    ports.append(QJsonObject{{"port", name}, {"device", device.canonicalFilePath()}});
  }
  if (out.Json()) Output::PrintJson({{"ok", true}, {"ports", ports}});
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

int RunOnce(const Options& options, const Output& out) {
  const Job job = PrepareJob(options, out);
  ConverterLink link(options.port);
  if (options.wait) {
    out.Say(QStringLiteral("waiting for a converter on %1 ...").arg(options.port));
    WaitForConverter(link);
  }
  OpenIfClosed(link);
  const QJsonObject data = job(link);
  if (out.Json()) Output::PrintJson(Merged({{"ok", true}}, data));
  return kExitDone;
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
  out.Say(QStringLiteral("waiting for converters on %1; Ctrl-C ends").arg(options.port));
  for (int sequence = 1; !Interrupted(); ++sequence) {
    QElapsedTimer clock;
    QJsonObject result{{"seq", sequence}};
    try {
      result.insert("version", VersionJson(WaitForConverter(link)));
    } catch (const CliError&) {
      break;  // interrupted while waiting
    }
    clock.start();
    try {
      result = Merged(result, job(link));
      result.insert("ok", true);
      ++done;
    } catch (const CliError& failure) {
      result.insert("ok", false);
      result.insert("error", QString::fromUtf8(failure.what()));
      result.insert("exit", failure.Status());
      ++failed;
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    result.insert("seconds", seconds);
    if (out.Json())
      Output::PrintJson(result);
    else
      out.Line(ResultLine(
          sequence, result.value("version").toObject(),
          result.value("ok").toBool() ? QStringLiteral("ok") : result.value("error").toString(),
          seconds));
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
    if (options.command == QLatin1String("ports")) return Ports(out);
    return options.repeat ? RunRepeatedly(options, out) : RunOnce(options, out);
  } catch (const CliError& failure) {
    Output::Complain(QString::fromUtf8(failure.what()));
    if (out.Json())
      Output::PrintJson({{"ok", false},
                         {"error", QString::fromUtf8(failure.what())},
                         {"exit", failure.Status()}});
    return failure.Status();
  }
}

}  // namespace cli
