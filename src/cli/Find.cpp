#include "cli/Find.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "cli/CliError.h"
#include "cli/ConverterLink.h"
#include "cli/Trace.h"
#include "cli/Waiter.h"
#include "platform/ProgramFolder.h"
#include "platform/SerialDevices.h"
#include "serial/ConverterProbe.h"

namespace cli {
namespace {

using serial::ConverterProbe;
using serial::ProbeResult;

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QString HoldersText(const std::vector<platform::PortHolder>& holders) {
  QStringList programs;
  for (const platform::PortHolder& holder : holders)
    programs << QStringLiteral("%1 (process %2)").arg(Text(holder.name)).arg(holder.pid);
  return programs.join(QStringLiteral(", "));
}

QString RefusalText(std::uint8_t status) {
  return QStringLiteral("refused the version query (status 0x%1)")
      .arg(status, 2, 16, QLatin1Char('0'));
}

// --trace of the probe: each port's traffic in a trace of its own, with what
// became of the port.
class ProbeTraces {
 public:
  ProbeTraces(const Output& out, const serial::ProbeOptions& options)
      : out_(out), options_(options) {}

  void Follow(ConverterProbe& probe) {
    if (out_.Tracing())
      probe.OnTraffic = [this, &probe](const ConverterProbe::Traffic& traffic) {
        On(probe.Results()[traffic.result], traffic);
      };
  }

  // After the probe started: the ports it did not open.
  void TellNotOpened(const std::vector<ProbeResult>& results) {
    if (!out_.Tracing()) return;
    for (const ProbeResult& result : results) {
      if (result.outcome == ProbeResult::Outcome::InUse)
        Of(result).Outcome(("in use by " + HoldersText(result.holders)).toStdString());
      else if (result.outcome == ProbeResult::Outcome::OpenFailed)
        Of(result).Outcome(result.openError.reason);
    }
  }

 private:
  PortTrace& Of(const ProbeResult& result) {
    std::unique_ptr<PortTrace>& trace = traces_[result.port];
    if (!trace) trace = std::make_unique<PortTrace>(out_.ForPort(Text(result.port)), options_.crc);
    return *trace;
  }

  void On(const ProbeResult& result, const ConverterProbe::Traffic& traffic) {
    PortTrace& trace = Of(result);
    constexpr std::uint16_t kQuery = protocol::CMD_GET_VERSION;
    switch (traffic.event) {
      case ConverterProbe::Traffic::Event::Sent:
        trace.Request(traffic.bytes, traffic.delivered);
        if (!traffic.delivered) {
          trace.Outcome(SendErrorText(kQuery));
          unsent_.insert(traffic.result);
        }
        break;
      case ConverterProbe::Traffic::Event::Received:
        trace.Received(traffic.bytes);
        break;
      case ConverterProbe::Traffic::Event::Closed:
        if (result.outcome == ProbeResult::Outcome::Refused)
          trace.Outcome(RefusalText(result.status).toStdString());
        else if (result.outcome == ProbeResult::Outcome::Silent && traffic.lost)
          trace.Outcome(PortLostText(kQuery));
        else if (result.outcome == ProbeResult::Outcome::Silent &&
                 !unsent_.contains(traffic.result))
          trace.Outcome(NoReplyText(kQuery, options_.windowMs));
        trace.Closed();
        break;
    }
  }

  const Output& out_;
  const serial::ProbeOptions& options_;
  std::map<std::string, std::unique_ptr<PortTrace>> traces_;
  std::set<std::size_t> unsent_;
};

// What the window's list shows of the present ports, by name ("COM3").
std::map<std::string, std::string> PresentPorts() {
  const auto source = platform::MakeUdevDeviceSource();
  platform::SerialPortCatalog catalog(*source, platform::ProgramFolder().toStdString());
  catalog.Refresh();
  std::map<std::string, std::string> ports;
  for (const platform::ComPortInfo& info : catalog.ResolveAll())
    if (info.present) ports["COM" + std::to_string(info.number)] = info.description;
  return ports;
}

// The probe of every present port, in the order of their numbers.
std::vector<ProbeResult> ProbeAll(const Options& options,
                                  const std::map<std::string, std::string>& present,
                                  const Output& out) {
  std::vector<std::string> names;
  for (const auto& [name, description] : present) names.push_back(name);
  // The map orders COM10 before COM2; the list goes by number.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(3)) < std::stoi(b.substr(3));
  });
  serial::ProbeOptions probeOptions;
  if (options.strictCrc) probeOptions.crc = protocol::CrcCheck::Required;
  ProbeTraces traces(out, probeOptions);  // outlives the probe that calls it
  ConverterProbe probe(probeOptions);
  probe.OnProgress = [] { Wake(); };
  traces.Follow(probe);
  probe.Start(names);
  traces.TellNotOpened(probe.Results());
  WaitFor([&probe] { return probe.Finished(); }, probeOptions.windowMs * 2);
  if (!probe.Finished()) throw CliError(kExitNoReply, "interrupted");
  return probe.Results();
}

QJsonArray HoldersJson(const std::vector<platform::PortHolder>& holders) {
  QJsonArray list;
  for (const platform::PortHolder& holder : holders)
    list.append(QJsonObject{{"pid", holder.pid}, {"name", Text(holder.name)}});
  return list;
}

}  // namespace

int FindConverters(const Options& options, const Output& out) {
  const std::map<std::string, std::string> present = PresentPorts();
  QJsonArray converters, inUse, silent;
  for (const ProbeResult& result : ProbeAll(options, present, out)) {
    const QString port = Text(result.port);
    const QString description = Text(present.at(result.port));
    QJsonObject json{{"port", port}, {"device", Text(result.device)}, {"description", description}};
    switch (result.outcome) {
      case ProbeResult::Outcome::Answered: {
        const QJsonObject version = VersionJson(result.version);
        out.Line(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(port, version.value("software").toString(),
                          version.value("build").toString(), version.value("hardware").toString(),
                          description));
        json.insert("version", version);
        converters.append(json);
        break;
      }
      case ProbeResult::Outcome::Refused:
        out.Line(QStringLiteral("%1 %2 %3").arg(port, RefusalText(result.status), description));
        json.insert("status", result.status);
        converters.append(json);
        break;
      case ProbeResult::Outcome::InUse:
        out.Line(QStringLiteral("%1 in use by %2 %3")
                     .arg(port, HoldersText(result.holders), description));
        json.insert("holders", HoldersJson(result.holders));
        inUse.append(json);
        break;
      case ProbeResult::Outcome::Silent:
      case ProbeResult::Outcome::OpenFailed:
        if (result.outcome == ProbeResult::Outcome::OpenFailed)
          json.insert("error", Text(result.openError.reason));
        silent.append(json);
        break;
    }
  }
  const bool found = !converters.isEmpty();
  if (!found) out.Say(QStringLiteral("no converter answered"));
  if (out.Json())
    out.PrintJson({{"ok", found},
                   {"converters", converters},
                   {"inUse", inUse},
                   {"silent", silent},
                   {"exit", found ? kExitDone : kExitNoReply}});
  return found ? kExitDone : kExitNoReply;
}

QByteArrayList PortsWithConverters(const Options& options, const Output& out) {
  QByteArrayList ports;
  for (const ProbeResult& result : ProbeAll(options, PresentPorts(), out))
    if (result.outcome == ProbeResult::Outcome::Answered ||
        result.outcome == ProbeResult::Outcome::Refused)
      ports << QByteArray::fromStdString(result.port);
  if (ports.isEmpty())
    throw CliError(kExitNoReply, "--port all: no converter answered on any port");
  return ports;
}

}  // namespace cli
