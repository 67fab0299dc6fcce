// quillon-cli's command line: options anywhere, strict numbers, signals,
// names that are not UTF-8. With --json, every outcome is one JSON object.
#include <unistd.h>

#include <QFileInfo>
#include <csignal>
#include <fstream>

#include "cli/CliFixture.h"
#include "support/FileBytes.h"

namespace {

using namespace cli_testing;

TEST_F(CliTest, OptionsStandAnywhereAndEveryOutcomeIsOneJsonObject) {
  // A relative file name lands in the program's working folder.
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  const QByteArray port = Port().toUtf8();
  const QByteArray file = File("p.bin").toUtf8();
  struct Case {
    const char* label;
    QByteArrayList args;
    int exitCode;
    const char* expected;  // a key of the JSON object, or part of its error
  };
  const Case cases[] = {
      {"--json after the command", {"--port", port, "version", "--json"}, 0, "version"},
      {"options after the arguments",
       {"read", file, "--port", port, "--quiet", "--json"},
       0,
       "convt"},
      {"--port=P", {"--json", "--port=" + port, "version"}, 0, "version"},
      {"-- ends the options: a file named --json",
       {"--port", port, "--json", "read", "--", "--json"},
       0,
       "convt"},
      {"help --json", {"help", "--json"}, 0, "help"},
      {"help of a command, --json last", {"help", "set", "--json"}, 0, "help"},
      {"set with a bad key, --json after it",
       {"set", "--json", "convt.speed=1"},
       2,
       "convt.speed=1: not KEY=VALUE"},
      {"--port without a value", {"version", "--json", "--port"}, 2, "--port needs a value"},
      {"--port followed by an option", {"--port", "--json", "version"}, 2, "--port needs a value"},
      {"--port= without a value", {"--json", "--port=", "version"}, 2, "--port needs a value"},
      {"--port twice",
       {"--json", "--port", port, "version", "--port", port},
       2,
       "--port given twice"},
      {"an unknown option after the command",
       {"version", "--jsno", "--json"},
       2,
       "unknown option --jsno"},
      {"--dry-run with a command that writes nothing",
       {"read", "--dry-run", "--json"},
       2,
       "--dry-run goes with write and set only"},
      {"no command", {"--json", "--quiet"}, 2, "no command"},
      {"--trace with a command that sends nothing",
       {"ports", "--trace", "--json"},
       2,
       "--trace goes with find and the commands that talk to a converter"},
      {"a key named twice",
       {"--json", "set", "com.parityCode=1", "com.parityCode=2"},
       2,
       "com.parityCode is named twice"},
      {"a port named twice in a list",
       {"--json", "--port", "COM3,com3", "version"},
       2,
       "the port com3 is named twice"},
      {"all beside other ports",
       {"--json", "--port", "all,COM3", "version"},
       2,
       "--port all stands alone"},
      {"an empty port in a list",
       {"--json", "--port=COM3,,COM4", "version"},
       2,
       "--port needs a value"},
      {"--no-answer without --wait",
       {"--json", "--no-answer", "2", "version"},
       2,
       "--no-answer goes with --wait"},
      {"--report with a command that talks to no converter",
       {"--json", "ports", "--report", file},
       2,
       "--report goes with the commands that talk to a converter"},
      {"--report given twice",
       {"--json", "--report", file, "version", "--report=" + file},
       2,
       "--report given twice"},
      {"help report", {"help", "report", "--json"}, 0, "help"},
      {"decimal",
       {"--json", "--port", port, "set", "--dry-run", "convt.dataSendId=4294967295"},
       0,
       "changes"},
      {"hexadecimal",
       {"--json", "--port", port, "set", "--dry-run", "convt.dataSendId=0X1f"},
       0,
       "changes"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    const CliResult result = RunCliAsGiven(test.args);
    EXPECT_EQ(result.exitCode, test.exitCode) << result.errors.toStdString();
    const QString expected = QString::fromUtf8(test.expected);
    if (test.exitCode == 0)
      EXPECT_TRUE(result.json.contains(expected)) << result.out.toStdString();
    else
      EXPECT_TRUE(result.json["error"].toString().contains(expected)) << result.out.toStdString();
  }
  EXPECT_EQ(QFileInfo(File("--json")).size(), 3101);
  EXPECT_EQ(QFileInfo(File("p.bin")).size(), 3101);
  EXPECT_TRUE(SetCommands().isEmpty());

  for (const char* seconds : {"0", "1.2345", "+1", "86401", "1e3", "0.0001"}) {
    SCOPED_TRACE(seconds);
    const CliResult result = RunCliAsGiven({"--json", "--wait", "--no-answer", seconds, "version"});
    EXPECT_TRUE(result.json["error"].toString().contains("--no-answer takes seconds"));
  }
  for (const char* value : {"0x0x1", " 1", "+1", "-1", "", "1 ", "4294967296", "0x", "0x1g",
                            "0x100000000", "1e3", "\xd9\xa1" /* an Arabic-Indic one */}) {
    SCOPED_TRACE(value);
    const CliResult result =
        RunCliAsGiven({"--json", "set", QByteArray("convt.dataSendId=") + value});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.json["error"].toString().contains("not a decimal or 0x-hexadecimal"));
  }
}

// Whether `pid` has a handler for `signal`, from /proc: a signal sent
// before that would end it the default way.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

TEST_F(CliTest, SignalsEndACommandWithStatusFour) {
  convsim_->Control(QStringLiteral("fault CMD_GET_VERSION silence"));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    // Waits for a converter that never answers.
    const auto cli = StartCli(Bytes({"--port", Port(), "--wait", "--json", "version"}));
    const auto deadline = std::chrono::steady_clock::now() + kRunTime;
    while (!Catches(cli->Pid(), SIGHUP) && std::chrono::steady_clock::now() < deadline)
      cli->Wait(std::chrono::milliseconds(10));
    cli->Signal(signal);
    const auto status = cli->Wait(kRunTime);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->ExitedWith(4)) << status->signal;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(cli->TakeOutput())).object(),
              (QJsonObject{{"ok", false}, {"error", "interrupted"}, {"exit", 4}}));
  }
}

// File and port names are the system's bytes: one that is not UTF-8 reaches
// the very file it names.
TEST_F(CliTest, NamesThatAreNotUtf8) {
  const QByteArray folder = QFile::encodeName(dir_.path());
  const QByteArray file = folder + "/p\xe9r\xff.bin";
  const QByteArray port = folder + "/com\xe9";
  // QTemporaryDir's clean-up goes through QString names and misses these.
  struct Unlinked {
    QByteArrayList names;
    ~Unlinked() {
      for (const QByteArray& name : names) unlink(name.constData());
    }
  } cleanup{{file, port}};
  ASSERT_EQ(symlink(QFile::encodeName(Port()).constData(), port.constData()), 0);

  EXPECT_EQ(RunCli({"--port", port, "read", file}).exitCode, 0);
  EXPECT_EQ(access(file.constData(), F_OK), 0);
  const QByteArray replaced = QFile::encodeName(QFile::decodeName(file));
  EXPECT_NE(access(replaced.constData(), F_OK), 0) << "no file under the decoded name";
  EXPECT_EQ(RunCli({"--port", port, "verify", file}).exitCode, 0);
  const CliResult write = RunCli({"--port", port, "write", file});
  EXPECT_EQ(write.exitCode, 0) << write.errors.toStdString();
  EXPECT_EQ(SetCommands(), (QStringList{"CMD_CONVT_SET", "CMD_COM_SET", "CMD_CAN_SET"}));
}

}  // namespace
