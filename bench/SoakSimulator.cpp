#include "SoakSimulator.h"

#include <sys/prctl.h>

#include <csignal>
#include <utility>

namespace soak {
namespace {

constexpr int kStartTimeoutMs = 10000;
// The control file is read every 100 ms; a busy machine may take longer.
constexpr int kControlTimeoutMs = 5000;

}  // namespace

SoakSimulator::SoakSimulator(QString executable, QString programFolder, int com)
    : executable_(std::move(executable)),
      folder_(std::move(programFolder)),
      com_(com),
      controlPath_(QStringLiteral("%1/convsim%2.ctl").arg(folder_).arg(com)) {
  // Nothing reads the simulator's standard error or needs its standard input:
  // files, not pipes that would buffer in this process.
  process_.setStandardInputFile(QProcess::nullDevice());
  process_.setStandardErrorFile(QStringLiteral("%1/convsim%2.err").arg(folder_).arg(com),
                                QIODevice::Append);
  // A benchmark that crashes must not leave its simulators running.
  process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { OnOutput(); });
  QObject::connect(&process_, &QProcess::finished, [this] {
    if (done_) Finish(false, QStringLiteral("convsim COM%1 ended").arg(com_));
  });
  deadline_.setSingleShot(true);
  QObject::connect(&deadline_, &QTimer::timeout, [this] {
    Finish(false, QStringLiteral("convsim COM%1 did not answer in time").arg(com_));
  });
}

SoakSimulator::~SoakSimulator() {
  done_ = nullptr;
  if (!Running()) return;
  process_.terminate();  // it removes its port link on SIGTERM
  if (!process_.waitForFinished(kStartTimeoutMs)) {
    process_.kill();
    process_.waitForFinished(kStartTimeoutMs);
  }
}

void SoakSimulator::Start(Done done) {
  serving_ = false;
  pendingOutput_.clear();
  Arm(std::move(done), kStartTimeoutMs);
  process_.start(executable_, {QStringLiteral("--dir"), folder_, QStringLiteral("--com"),
                               QString::number(com_), QStringLiteral("--replace"),
                               QStringLiteral("--control"), controlPath_, QStringLiteral("--log"),
                               QStringLiteral("%1/convsim%2.log").arg(folder_).arg(com_)});
}

void SoakSimulator::Control(const QStringList& lines, Done done) {
  Arm(std::move(done), kControlTimeoutMs);
  awaitedAnswers_ = static_cast<int>(lines.size());
  QFile control(controlPath_);
  // One write of whole lines: the simulator never sees half a line.
  if (!control.open(QIODevice::WriteOnly | QIODevice::Append) ||
      control.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0) {
    Finish(false, QStringLiteral("cannot append to %1").arg(controlPath_));
  }
}

void SoakSimulator::Unplug() {
  done_ = nullptr;
  deadline_.stop();
  process_.kill();
  process_.waitForFinished(kStartTimeoutMs);
}

void SoakSimulator::Arm(Done done, int timeoutMs) {
  done_ = std::move(done);
  deadline_.start(timeoutMs);
}

void SoakSimulator::Finish(bool ok, const QString& detail) {
  deadline_.stop();
  awaitedAnswers_ = 0;
  if (Done done = std::exchange(done_, nullptr)) done(ok, detail);
}

void SoakSimulator::OnOutput() {
  pendingOutput_ += process_.readAllStandardOutput();
  qsizetype newline;
  while ((newline = pendingOutput_.indexOf('\n')) >= 0) {
    const QString line = QString::fromUtf8(pendingOutput_.left(newline)).trimmed();
    pendingOutput_.remove(0, newline + 1);
    if (!serving_) {
      serving_ = line.startsWith(QStringLiteral("convsim: serving COM"));
      if (serving_) Finish(true, line);
      continue;
    }
    if (line.startsWith(QStringLiteral("error:"))) {
      Finish(false, QStringLiteral("convsim COM%1: %2").arg(com_).arg(line));
    } else if (awaitedAnswers_ > 0 && --awaitedAnswers_ == 0) {
      Finish(true, line);
    }
  }
}

}  // namespace soak
