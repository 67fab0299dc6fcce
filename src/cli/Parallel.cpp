#include "cli/Parallel.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "cli/CliError.h"
#include "cli/Find.h"
#include "cli/Jobs.h"
#include "cli/ParamFiles.h"
#include "cli/PortRun.h"
#include "cli/Report.h"
#include "cli/Tally.h"
#include "cli/Waiter.h"
#include "platform/PortWatch.h"
#include "platform/ProgramFolder.h"
#include "platform/SerialDevices.h"

namespace cli {
namespace {

QString PortText(const QByteArray& port) {
  return QString::fromLocal8Bit(port);
}

// Two names of one device would make two sessions fight over it, two
// ports' read files of one name would overwrite each other, and a read file
// that cannot be written would waste the read: all are refused before
// anything is sent.
void RefuseTargets(const QByteArrayList& ports, const Options& options) {
  std::map<std::string, QByteArray> devices;
  std::map<QByteArray, QByteArray> files;
  const bool readsFiles = options.command == QLatin1String("read") && !options.args.isEmpty();
  for (const QByteArray& port : ports) {
    const std::string device = platform::PresentDevicePath(port.toStdString());
    if (!device.empty() && !devices.emplace(device, port).second)
      throw CliError(kExitUsage, QStringLiteral("%1 and %2 are the same device (%3)")
                                     .arg(PortText(devices[device]), PortText(port),
                                          QString::fromStdString(device))
                                     .toStdString());
    if (!readsFiles) continue;
    const QByteArray file = FileForPort(options.args.front(), port);
    CheckExportTarget(file);
    if (!files.emplace(file, port).second)
      throw CliError(kExitUsage,
                     QStringLiteral("%1 and %2 would both be read into %3")
                         .arg(PortText(files[file]), PortText(port), QString::fromLocal8Bit(file))
                         .toStdString());
  }
}

// Runs body(0) .. body(count - 1) at once, each on a thread of its own,
// while this thread's event loop keeps serving signals and the port watch.
void RunOnThreads(std::size_t count, const std::function<void(std::size_t)>& body) {
  QEventLoop loop;
  std::size_t running = count;
  std::vector<std::unique_ptr<QThread>> threads;
  for (std::size_t i = 0; i < count; ++i) {
    threads.emplace_back(QThread::create([&body, i] { body(i); }));
    QObject::connect(threads.back().get(), &QThread::finished, &loop, [&] {
      if (--running == 0) loop.quit();
    });
    threads.back()->start();
  }
  if (count > 0) loop.exec();
  for (const auto& thread : threads) thread->wait();
}

// Wakes the waiting stations as soon as a port may have come: a device
// plugged, a link made in sys/ports or in the folder of a port given as a
// path.
class PortArrivals {
 public:
  explicit PortArrivals(const QByteArrayList& ports) : source_(platform::MakeUdevDeviceSource()) {
    watch_ = std::make_unique<platform::PortWatch>(*source_, platform::ProgramFolder(),
                                                   [] { NudgeAll(); });
    for (const QByteArray& port : ports) {
      const QString folder = QFileInfo(QString::fromLocal8Bit(port)).absolutePath();
      if (port.contains('/') && !folder.startsWith(QLatin1String("/dev")))
        watch_->AlsoWatch(folder);
    }
  }

 private:
  std::unique_ptr<platform::SerialDeviceSource> source_;
  std::unique_ptr<platform::PortWatch> watch_;
};

int Summarise(const QByteArrayList& ports, const std::vector<Tally>& tallies, bool several,
              bool repeat, const Output& out) {
  Tally total;
  for (const Tally& tally : tallies) total += tally;
  if (!several && !repeat) return total.status;
  for (std::size_t i = 0; several && repeat && i < tallies.size(); ++i) {
    const Output port = out.ForPort(PortText(ports[static_cast<qsizetype>(i)]));
    port.Line(TallyText(tallies[i]));
    if (out.Json()) {
      QJsonObject json = TallyJson(tallies[i]);
      json.insert("exit", tallies[i].status);
      port.PrintJson(json);
    }
  }
  out.Line((several ? QStringLiteral("total: ") : QString()) + TallyText(total));
  if (out.Json()) {
    QJsonObject json = TallyJson(total);
    json.insert("ok", total.status == kExitDone);
    json.insert("exit", total.status);
    out.PrintJson(json);
  }
  return total.status;
}

}  // namespace

int RunDeviceCommand(const Options& options, const Output& out) {
  const PreparedJob job = PrepareJob(options);
  std::unique_ptr<ReportFile> report;
  if (!options.report.isEmpty()) report = std::make_unique<ReportFile>(options.report);
  const QByteArrayList ports = options.allPorts ? PortsWithConverters(options, out) : options.ports;
  RefuseTargets(ports, options);
  const bool several = options.SeveralPorts();

  std::unique_ptr<PortArrivals> arrivals;
  if (options.wait || options.repeat) arrivals = std::make_unique<PortArrivals>(ports);
  const PortRunSetup setup{options, job, report.get()};
  std::vector<Tally> tallies(static_cast<std::size_t>(ports.size()));
  RunOnThreads(tallies.size(), [&](std::size_t i) {
    const QByteArray& port = ports[static_cast<qsizetype>(i)];
    tallies[i] = RunPort(port, setup, several ? out.ForPort(PortText(port)) : out);
  });
  return Summarise(ports, tallies, several, options.repeat, out);
}

}  // namespace cli
