#pragma once

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

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
    std::vector<std::string> args{"--dir", programFolder.toStdString(), "--log",
                                  logPath_.toStdString()};
    for (const QString& arg : extraArgs) args.push_back(arg.toStdString());
    process_ = std::make_unique<ChildProcess>(executable.toStdString(), args);
    if (!process_->Started()) return;
    static const QRegularExpression serving(QStringLiteral("serving COM(\\d+)"));
    const auto match = serving.match(NextLine());
    if (match.hasMatch()) com_ = match.captured(1).toInt();
  }

  // The simulator removes its port link on SIGTERM, which the child
  // process sends first when it ends.
  ~ConvsimProcess() = default;

  ConvsimProcess(const ConvsimProcess&) = delete;
  ConvsimProcess& operator=(const ConvsimProcess&) = delete;

  // The COM number served, 0 when the simulator did not start.
  int Com() const { return com_; }

  // Ends the simulator at once, as when the adapter is pulled out: its
  // pseudo-terminal goes away under the open port (its link stays behind).
  void Kill() {
    process_->Kill();
    process_->Wait();
  }

  // Runs one control line ("fault CMD_CAN_SET silence") and waits for the
  // simulator's answer, so that the change is in force when this returns.
  QString Control(const QString& line) {
    process_->Write((line + QLatin1Char('\n')).toStdString());
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
  // The next line the simulator prints, or an empty text after the deadline.
  QString NextLine() {
    return QString::fromStdString(process_->ReadLine().value_or(std::string())).trimmed();
  }

  std::unique_ptr<ChildProcess> process_;
  QString logPath_;
  int com_ = 0;
};

}  // namespace testing_support
