#pragma once

// quillon-cli against convsim: the program started as a child process, its
// --json object parsed; a program folder per test with a simulator on COM7.
#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/ConvsimProcess.h"

namespace cli_testing {

using testing_support::ChildProcess;
using testing_support::ConvsimProcess;

constexpr std::chrono::milliseconds kRunTime{20000};

struct CliResult {
  int exitCode = -1;
  QJsonObject json;
  QString out;  // stdout as printed
  QString errors;
};

inline QString CliExe() {
  return QStringLiteral(QUILLON_CLI_EXE);
}

// quillon-cli with these arguments, bytes as given, started as a child.
inline std::unique_ptr<ChildProcess> StartCli(const QByteArrayList& args,
                                              const QString& exe = CliExe()) {
  std::vector<std::string> argv;
  for (const QByteArray& arg : args) argv.push_back(arg.toStdString());
  return std::make_unique<ChildProcess>(exe.toStdString(), argv);
}

inline QByteArrayList Bytes(const QStringList& args) {
  QByteArrayList bytes;
  for (const QString& arg : args) bytes << arg.toUtf8();
  return bytes;
}

// Runs quillon-cli to its end. With --json among the arguments, stdout must
// be exactly one JSON object whose "ok" agrees with the exit status.
inline CliResult RunCliAsGiven(const QByteArrayList& args, const QString& exe = CliExe()) {
  const auto cli = StartCli(args, exe);
  const auto status = cli->Wait(kRunTime);
  CliResult result;
  result.exitCode = status && status->exited ? status->code : -1;
  const QByteArray out = QByteArray::fromStdString(cli->TakeOutput());
  result.out = QString::fromUtf8(out);
  result.errors = QString::fromStdString(cli->TakeErrors());
  const qsizetype optionsEnd = args.indexOf("--");
  if (args.mid(0, optionsEnd < 0 ? args.size() : optionsEnd).contains("--json")) {
    result.json = QJsonDocument::fromJson(out).object();
    EXPECT_EQ(out.count('\n'), 1) << "one JSON object per command: " << out.toStdString();
    EXPECT_EQ(result.json.value("ok").toBool(), result.exitCode == 0) << out.toStdString();
  }
  return result;
}

inline CliResult RunCli(const QByteArrayList& args) {
  return RunCliAsGiven(QByteArrayList{"--json"} + args);
}

// Each non-empty line of `text` as a JSON object; a line that is not one fails.
inline std::vector<QJsonObject> JsonLines(const QByteArray& text) {
  std::vector<QJsonObject> lines;
  for (const QByteArray& line : text.split('\n')) {
    if (line.isEmpty()) continue;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_TRUE(error.error == QJsonParseError::NoError && document.isObject())
        << line.toStdString();
    lines.push_back(document.object());
  }
  return lines;
}

// Waits for a started quillon-cli to end with `exitCode`; its stdout lines.
inline std::vector<QJsonObject> EndedWith(ChildProcess& cli, int exitCode) {
  const auto status = cli.Wait(kRunTime);
  EXPECT_TRUE(status && status->ExitedWith(exitCode))
      << (status ? status->code : -1) << " signal " << (status ? status->signal : 0);
  return JsonLines(QByteArray::fromStdString(cli.TakeOutput()));
}

// A simulated converter on COM `com` of the program folder `dir`, its frames
// logged in `logs`, a folder of its own.
inline std::unique_ptr<ConvsimProcess> StartUnit(const QString& dir, const QString& logs, int com,
                                                 const QStringList& args = {}) {
  QDir().mkpath(logs);
  auto unit = std::make_unique<ConvsimProcess>(
      QStringLiteral(CONVSIM_EXE), logs,
      QStringList{"--dir", dir, "--com", QString::number(com), "--replace"} + args);
  EXPECT_EQ(unit->Com(), com);
  return unit;
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// A program folder with a simulator serving COM7 on a pty; the program is
// given the folder's sys/ports/com7 link as its port.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("sys"));
    convsim_ = Start();
    ASSERT_EQ(convsim_->Com(), 7);
  }

  std::unique_ptr<ConvsimProcess> Start(const QStringList& extraArgs = {}) {
    return std::make_unique<ConvsimProcess>(
        QStringLiteral(CONVSIM_EXE), dir_.path(),
        QStringList{QStringLiteral("--com"), QStringLiteral("7"), QStringLiteral("--replace")} +
            extraArgs);
  }

  QString Port() const { return dir_.path() + QStringLiteral("/sys/ports/com7"); }
  QString File(const QString& name) const { return dir_.path() + '/' + name; }

  CliResult Cli(const QStringList& args) { return RunCli(PortAnd(args)); }
  // The same without --json: its text as printed.
  CliResult CliText(const QStringList& args) { return RunCliAsGiven(PortAnd(args)); }
  QByteArrayList PortAnd(const QStringList& args) const {
    return Bytes(QStringList{QStringLiteral("--port"), Port()} + args);
  }

  // The setting and restore commands the simulator received, in order.
  QStringList SetCommands() const {
    QStringList sets;
    for (const QString& command : convsim_->ReceivedCommands())
      if (command.endsWith(QLatin1String("_SET")) || command.contains("RESTORE")) sets << command;
    return sets;
  }

  // The converter's fields as 'read --json' gives them, by KEY.
  QJsonObject Fields() {
    const CliResult read = Cli({"read"});
    EXPECT_EQ(read.exitCode, 0) << read.errors.toStdString();
    QJsonObject fields;
    for (const char* record : {"convt", "com", "can"}) {
      const QJsonObject values = read.json.value(record).toObject();
      for (auto it = values.begin(); it != values.end(); ++it)
        fields.insert(QString::fromLatin1(record) + '.' + it.key(), it.value());
    }
    return fields;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ConvsimProcess> convsim_;
};

}  // namespace cli_testing
