// quillon-cli from start to exit against convsim on a pseudo-terminal: the
// median and the worst of N runs of each command, one line per command, with
// the target beside it. Exits 1 when a median is above its target or a run
// failed.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/ConvsimProcess.h"

namespace {

struct Figures {
  double median = 0;
  double worst = 0;
  bool failed = false;
};

double RunMs(const QStringList& args, bool* failed) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  QElapsedTimer clock;
  clock.start();
  testing_support::ChildProcess cli(QUILLON_CLI_EXE, argv);
  const auto status = cli.Wait(std::chrono::milliseconds(30000));
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  if (!status || !status->ExitedWith(0)) *failed = true;
  return ms;
}

Figures Measure(const std::vector<QStringList>& commands, int rounds) {
  std::vector<double> times;
  Figures figures;
  for (int round = 0; round < rounds; ++round) {
    double total = 0;
    for (const QStringList& args : commands) total += RunMs(args, &figures.failed);
    times.push_back(total);
  }
  std::sort(times.begin(), times.end());
  figures.median = times[times.size() / 2];
  figures.worst = times.back();
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  QTemporaryDir dir;
  QDir(dir.path()).mkpath(QStringLiteral("sys"));
  testing_support::ConvsimProcess convsim(QStringLiteral(CONVSIM_EXE), dir.path());
  if (convsim.Com() == 0) {
    std::fprintf(stderr, "bench_cli: convsim did not start\n");
    return 1;
  }
  const QString port = dir.path() + QStringLiteral("/sys/ports/com%1").arg(convsim.Com());
  const QString file = dir.path() + QStringLiteral("/Parameter.bin");
  const auto cli = [&port](QStringList args) {
    return QStringList{QStringLiteral("--quiet"), QStringLiteral("--port"), port} + args;
  };
  bool firstFailed = false;
  RunMs(cli({"read", file}), &firstFailed);
  if (firstFailed) {
    std::fprintf(stderr, "bench_cli: the first read failed\n");
    return 1;
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
    const bool met = !figures.failed && figures.median <= line.targetMs;
    ok &= met;
    std::printf("%-28s %9.1f %9.1f %9.0f%s\n", line.label, figures.median, figures.worst,
                line.targetMs,
                figures.failed ? "  FAILED RUN"
                : met          ? ""
                               : "  ABOVE TARGET");
  }
  return ok ? 0 : 1;
}
