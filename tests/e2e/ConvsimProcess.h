#pragma once

#include <sys/prctl.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <csignal>
#include <vector>

namespace testing_support {

// The converter simulator as a child process serving a COM number in a given
// program folder. Control lines go to its standard input; every frame it
// receives is logged to convsim.log in that folder.
class ConvsimProcess {
 public:
  // A frame the simulator received: its command label and when it came.
  struct Received {
    QString command;
    QDateTime time;
  };

  ConvsimProcess(const QString& executable, const QString& programFolder,
                 const QStringList& extraArgs = {})
      : logPath_(programFolder + QStringLiteral("/convsim.log")) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // A test that crashes must not leave its simulator running.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(executable, QStringList{QStringLiteral("--dir"), programFolder,
                                           QStringLiteral("--log"), logPath_} +
                                   extraArgs);
    if (!process_.waitForStarted(kWaitMs)) return;
    static const QRegularExpression serving(QStringLiteral("serving COM(\\d+)"));
    const QString first = NextLine();
    const auto match = serving.match(first);
    if (match.hasMatch()) com_ = match.captured(1).toInt();
  }

  ~ConvsimProcess() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();  // the simulator removes its port link on SIGTERM
    if (!process_.waitForFinished(kWaitMs)) {
      process_.kill();
      process_.waitForFinished(kWaitMs);
    }
  }

  ConvsimProcess(const ConvsimProcess&) = delete;
  ConvsimProcess& operator=(const ConvsimProcess&) = delete;

  // The COM number served, 0 when the simulator did not start.
  int Com() const { return com_; }

  // Ends the simulator at once, as when the adapter is pulled out: its
  // pseudo-terminal goes away under the open port (its link stays behind).
  void Kill() {
    process_.kill();
    process_.waitForFinished(kWaitMs);
  }

  // Runs one control line ("fault CMD_CAN_SET silence") and waits for the
  // simulator's answer, so that the change is in force when this returns.
  QString Control(const QString& line) {
    process_.write((line + QLatin1Char('\n')).toUtf8());
    process_.waitForBytesWritten(kWaitMs);
    return NextLine();
  }

  // The frames received so far, in order.
  std::vector<Received> ReceivedFrames() const {
    static const QRegularExpression rx(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) rx .*  (\\S+)$"));
    std::vector<Received> frames;
    QFile log(logPath_);
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) return frames;
    for (const QByteArray& raw : log.readAll().split('\n')) {
      const auto match = rx.match(QString::fromUtf8(raw));
      if (!match.hasMatch()) continue;
      frames.push_back(
          {match.captured(2), QDateTime::fromString(match.captured(1), "yyyy-MM-dd HH:mm:ss.zzz")});
    }
    return frames;
  }

  QStringList ReceivedCommands() const {
    QStringList commands;
    for (const Received& frame : ReceivedFrames()) commands.append(frame.command);
    return commands;
  }

 private:
  static constexpr int kWaitMs = 10000;

  // The next line the simulator prints, or an empty text after the deadline.
  QString NextLine() {
    QDeadlineTimer deadline(kWaitMs);
    while (!process_.canReadLine()) {
      if (deadline.hasExpired() || process_.state() != QProcess::Running) return {};
      process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
  }

  QProcess process_;
  QString logPath_;
  int com_ = 0;
};

}  // namespace testing_support
