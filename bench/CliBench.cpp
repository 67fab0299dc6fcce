// quillon-cli from start to exit against convsim on pseudo-terminals, in
// three tables: each command on one converter (the median and the worst of N
// runs beside its target); one write to 1, 4, 8 and 16 converters at once
// (16 within 1.5 times one), and `find` with 16 converters linked (within
// 2 s); a --wait --repeat station's time from a port appearing to its
// converter written (at most 150 ms), with the descriptors and threads each
// port costs. Exits 1 when a median is above its target or a run failed.
#include <dirent.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/ConvsimProcess.h"

namespace {

using testing_support::ChildProcess;
using testing_support::ConvsimProcess;

struct Figures {
  double median = 0;
  double worst = 0;
  bool failed = false;
};

Figures FiguresOf(std::vector<double> times, bool failed) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back(), failed};
}

std::vector<std::string> Argv(const QStringList& args) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  return argv;
}

double RunMs(const QStringList& args, bool* failed) {
  QElapsedTimer clock;
  clock.start();
  ChildProcess cli(QUILLON_CLI_EXE, Argv(args));
  const auto status = cli.Wait(std::chrono::milliseconds(30000));
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  if (!status || !status->ExitedWith(0)) *failed = true;
  return ms;
}

Figures Measure(const std::vector<QStringList>& commands, int rounds) {
  std::vector<double> times;
  bool failed = false;
  for (int round = 0; round < rounds; ++round) {
    double total = 0;
    for (const QStringList& args : commands) total += RunMs(args, &failed);
    times.push_back(total);
  }
  return FiguresOf(times, failed);
}

const char* Verdict(const Figures& figures, double targetMs) {
  if (figures.failed) return "  FAILED RUN";
  return figures.median <= targetMs ? "" : "  ABOVE TARGET";
}

// Simulated converters on COM1..COMn of `folder`, and their ports as paths.
struct Units {
  std::vector<std::unique_ptr<ConvsimProcess>> simulators;
  QStringList ports;
};

Units StartUnits(const QString& folder, int count, int firstCom = 1) {
  Units units;
  for (int com = firstCom; com < firstCom + count; ++com) {
    units.simulators.push_back(std::make_unique<ConvsimProcess>(
        QStringLiteral(CONVSIM_EXE), folder,
        QStringList{QStringLiteral("--com"), QString::number(com), QStringLiteral("--replace")}));
    units.ports << folder + QStringLiteral("/sys/ports/com%1").arg(com);
  }
  return units;
}

bool SingleCommands(const QString& folder, const QString& file, int rounds) {
  const Units unit = StartUnits(folder, 1);
  const auto cli = [&unit](QStringList args) {
    return QStringList{QStringLiteral("--quiet"), QStringLiteral("--port"), unit.ports.front()} +
           args;
  };
  bool firstFailed = false;
  RunMs(cli({"read", file}), &firstFailed);
  if (firstFailed) {
    std::fprintf(stderr, "bench_cli: the first read failed\n");
    return false;
  }
  struct Line {
    const char* label;
    std::vector<QStringList> commands;
    double targetMs;
  };
  const Line lines[] = {
      {"start-up and exit (help)", {QStringList{"help"}}, 30},
      {"version", {cli({"version"})}, 150},
      {"read", {cli({"read"})}, 150},
      {"version + read", {cli({"version"}), cli({"read"})}, 150},
      {"write with its read-back", {cli({"write", file})}, 300},
  };
  std::printf("quillon-cli against convsim, %d rounds (ms, start to exit)\n", rounds);
  std::printf("%-28s %9s %9s %9s\n", "command", "median", "worst", "target");
  bool ok = true;
  for (const Line& line : lines) {
    const Figures figures = Measure(line.commands, rounds);
    ok &= !*Verdict(figures, line.targetMs);
    std::printf("%-28s %9.1f %9.1f %9.0f%s\n", line.label, figures.median, figures.worst,
                line.targetMs, Verdict(figures, line.targetMs));
  }
  return ok;
}

// find on the program's own folder with 16 converters linked there, beside
// whatever ports the machine has.
bool FindOnAMachine(int rounds) {
  const QString programFolder = QFileInfo(QStringLiteral(QUILLON_CLI_EXE)).absolutePath();
  const Units units = StartUnits(programFolder, 16, 200);
  const Figures figures = Measure({{QStringLiteral("--quiet"), QStringLiteral("find")}}, rounds);
  std::printf("%-28s %9.1f %9.1f %9.0f%s\n", "find (16 converters linked)", figures.median,
              figures.worst, 2000.0, Verdict(figures, 2000));
  return !*Verdict(figures, 2000);
}

bool ConvertersAtOnce(const QString& folder, const QString& file, int rounds) {
  std::printf("\nwrite with its read-back to N converters at once, %d rounds (ms, start to exit)\n",
              rounds);
  std::printf("%-28s %9s %9s %9s\n", "converters", "median", "worst", "x one");
  double one = 0;
  bool ok = true;
  for (const int count : {1, 4, 8, 16}) {
    const Units units = StartUnits(folder, count);
    const QStringList args{QStringLiteral("--quiet"), QStringLiteral("--port"),
                           units.ports.join(QLatin1Char(',')), QStringLiteral("write"), file};
    const Figures figures = Measure({args}, rounds);
    if (count == 1) one = figures.median;
    const double ratio = figures.median / one;
    const bool met = !figures.failed && (count != 16 || ratio <= 1.5);
    ok &= met;
    std::printf("%-28d %9.1f %9.1f %9.2f%s\n", count, figures.median, figures.worst, ratio,
                figures.failed ? "  FAILED RUN"
                : met          ? (count == 16 ? "  (target 1.50)" : "")
                               : "  ABOVE TARGET 1.50");
  }
  return FindOnAMachine(rounds) && ok;
}

int Entries(const std::string& folder) {
  int count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// A station on `count` ports with a converter on each, once every one has
// been written: its descriptors and threads.
bool StationCost(const QString& folder, const QString& file, int count, int* fds, int* threads) {
  const Units units = StartUnits(folder, count, 100);
  ChildProcess station(QUILLON_CLI_EXE, Argv({"--json", "--quiet", "--wait", "--repeat", "--port",
                                              units.ports.join(QLatin1Char(',')), "write", file}));
  for (int written = 0; written < count; ++written)
    if (!station.ReadLine(std::chrono::milliseconds(30000))) return false;
  const std::string proc = "/proc/" + std::to_string(station.Pid());
  *fds = Entries(proc + "/fd");
  *threads = Entries(proc + "/task");
  return true;
}

bool PlugToWritten(const QString& folder, const QString& file, int rounds) {
  const QString port = folder + QStringLiteral("/sys/ports/com99");
  ChildProcess station(QUILLON_CLI_EXE, Argv({"--json", "--quiet", "--wait", "--repeat", "--port",
                                              port, "write", file}));
  std::vector<double> times;
  bool failed = false;
  for (int round = 0; round < rounds && !failed; ++round) {
    auto unit = std::make_unique<ConvsimProcess>(
        QStringLiteral(CONVSIM_EXE), folder,
        QStringList{QStringLiteral("--com"), QStringLiteral("99"), QStringLiteral("--replace")});
    // The simulator says it serves the port once its link is there.
    QElapsedTimer clock;
    clock.start();
    const auto line = station.ReadLine(std::chrono::milliseconds(30000));
    times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    failed = !line || line->find("\"ok\":true") == std::string::npos;
    unit.reset();  // unplugged: the station notices and waits again
  }
  if (times.empty()) times.push_back(0);
  const Figures figures = FiguresOf(times, failed);
  int fdsOne = 0, threadsOne = 0, fdsMany = 0, threadsMany = 0;
  const bool measured = StationCost(folder, file, 1, &fdsOne, &threadsOne) &&
                        StationCost(folder, file, 16, &fdsMany, &threadsMany);
  std::printf("\n--wait --repeat write: the port appears (a sys/ports link), %d rounds (ms)\n",
              rounds);
  std::printf("%-28s %9s %9s %9s\n", "", "median", "worst", "target");
  std::printf("%-28s %9.1f %9.1f %9.0f%s\n", "plug to written", figures.median, figures.worst,
              150.0, Verdict(figures, 150));
  if (measured)
    std::printf(
        "station on 1 port: %d descriptors, %d threads; on 16: %d, %d; "
        "each port adds %.1f descriptors, %.1f threads\n",
        fdsOne, threadsOne, fdsMany, threadsMany, (fdsMany - fdsOne) / 15.0,
        (threadsMany - threadsOne) / 15.0);
  return !*Verdict(figures, 150) && measured;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  QTemporaryDir dir;
  QDir(dir.path()).mkpath(QStringLiteral("sys"));
  const QString file = dir.path() + QStringLiteral("/Parameter.bin");
  bool ok = SingleCommands(dir.path(), file, rounds);
  ok &= ConvertersAtOnce(dir.path(), file, std::max(1, rounds / 2));
  ok &= PlugToWritten(dir.path(), file, rounds);
  return ok ? 0 : 1;
}
