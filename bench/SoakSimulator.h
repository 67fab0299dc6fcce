#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace soak {

// One converter simulator serving a fixed COM number of a program folder,
// switched through its control file. Everything is asynchronous, so that
// several simulators can be driven from the one user-interface thread
// without stalling the windows' timers.
class SoakSimulator {
 public:
  using Done = std::function<void(bool ok, const QString& detail)>;

  SoakSimulator(QString executable, QString programFolder, int com);
  ~SoakSimulator();
  SoakSimulator(const SoakSimulator&) = delete;
  SoakSimulator& operator=(const SoakSimulator&) = delete;

  int Com() const { return com_; }
  bool Running() const { return process_.state() != QProcess::NotRunning; }

  // Starts the simulator (replacing a link left by a killed one); `done`
  // once it serves its COM number or has failed.
  void Start(Done done);

  // Appends the control lines to the control file; `done` once the
  // simulator has answered all of them (the simulator reads the file every
  // 100 ms).
  void Control(const QStringList& lines, Done done);

  // The adapter pulled out: the simulator dies at once, its pseudo-terminal
  // goes with it and its port link is left behind.
  void Unplug();

 private:
  void OnOutput();
  void Finish(bool ok, const QString& detail);
  void Arm(Done done, int timeoutMs);

  QString executable_;
  QString folder_;
  int com_;
  QString controlPath_;
  QProcess process_;
  QByteArray pendingOutput_;
  bool serving_ = false;
  int awaitedAnswers_ = 0;
  QTimer deadline_;
  Done done_;
};

}  // namespace soak
