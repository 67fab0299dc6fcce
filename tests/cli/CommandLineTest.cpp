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
  // Each row: the arguments, then a key of the JSON object (exit 0) or part
  // of its error (exit 2).
  const std::pair<QByteArrayList, const char*> accepted[] = {
      {{"--port", port, "version", "--json"}, "version"},
      {{"read", file, "--port", port, "--quiet", "--json"}, "convt"},
      {{"--json", "--port=" + port, "version"}, "version"},
      {{"--port", port, "--json", "read", "--", "--json"}, "convt"},  // a file named --json
      {{"help", "--json"}, "help"},
      {{"help", "set", "--json"}, "help"},
      {{"help", "report", "--json"}, "help"},
      {{"--json", "--port", port, "set", "--dry-run", "convt.dataSendId=4294967295"}, "changes"},
      {{"--json", "--port", port, "set", "--dry-run", "convt.dataSendId=0X1f"}, "changes"},
  };
  const std::pair<QByteArrayList, const char*> refused[] = {
      {{"set", "--json", "convt.speed=1"}, "convt.speed=1: not KEY=VALUE"},
      {{"version", "--json", "--port"}, "--port needs a value"},
      {{"--port", "--json", "version"}, "--port needs a value"},
      {{"--json", "--port=", "version"}, "--port needs a value"},
      {{"--json", "--port", port, "version", "--port", port}, "--port given twice"},
      {{"version", "--jsno", "--json"}, "unknown option --jsno"},
      {{"read", "--dry-run", "--json"}, "--dry-run goes with write and set only"},
      {{"--json", "--quiet"}, "no command"},
      {{"ports", "--trace", "--json"},
       "--trace goes with find and the commands that talk to a converter"},
      {{"--json", "set", "com.parityCode=1", "com.parityCode=2"}, "com.parityCode is named twice"},
      {{"--json", "--port", "COM3,com3", "version"}, "the port com3 is named twice"},
      {{"--json", "--port", "all,COM3", "version"}, "--port all stands alone"},
      {{"--json", "--port=COM3,,COM4", "version"}, "--port needs a value"},
      {{"--json", "--no-answer", "2", "version"}, "--no-answer goes with --wait"},
      {{"--json", "ports", "--report", file},
       "--report goes with the commands that talk to a converter"},
      {{"--json", "--report", file, "version", "--report=" + file}, "--report given twice"},
  };
  for (const auto& [args, key] : accepted) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const CliResult result = RunCliAsGiven(args);
    EXPECT_EQ(result.exitCode, 0) << result.errors.toStdString();
    EXPECT_TRUE(result.json.contains(QString::fromUtf8(key))) << result.out.toStdString();
    EXPECT_NE(result.json.value(QString::fromUtf8(key)), QJsonValue(""));  // help has a text
  }
  const auto expectRefused = [](const QByteArrayList& args, const char* error) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const CliResult result = RunCliAsGiven(args);
    EXPECT_EQ(result.exitCode, 2) << result.errors.toStdString();
    EXPECT_TRUE(result.json["error"].toString().contains(QString::fromUtf8(error)))
        << result.out.toStdString();
  };
  for (const auto& [args, error] : refused) expectRefused(args, error);
  for (const char* seconds : {"0", "1.2345", "+1", "86401", "1e3", "0.0001"})
    expectRefused({"--json", "--wait", "--no-answer", seconds, "version"},
                  "--no-answer takes seconds");
  for (const char* value : {"0x0x1", " 1", "+1", "-1", "", "1 ", "4294967296", "0x", "0x1g",
                            "0x100000000", "1e3", "\xd9\xa1" /* an Arabic-Indic one */})
    expectRefused({"--json", "set", QByteArray("convt.dataSendId=") + value},
                  "not a decimal or 0x-hexadecimal");
  EXPECT_EQ(QFileInfo(File("--json")).size(), 3101);
  EXPECT_EQ(QFileInfo(File("p.bin")).size(), 3101);
  EXPECT_TRUE(SetCommands().isEmpty());
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
    EXPECT_EQ(EndedWith(*cli, 4),
              (std::vector{QJsonObject{{"ok", false}, {"error", "interrupted"}, {"exit", 4}}}));
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
