// quillon-cli end to end: the real program against convsim on a
// pseudo-terminal, its --json object parsed, each exit status from a real
// cause. What the frame search and the records do on their own is proved by
// the protocol tests.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "protocol/ParamFileFormat.h"
#include "serial/Comm.h"
#include "support/ConvsimProcess.h"
#include "support/FileBytes.h"

namespace {

using testing_support::ChildProcess;
using testing_support::ConvsimProcess;

constexpr int kRunMs = 20000;

struct CliResult {
  int exitCode = -1;
  QJsonObject json;
  QString stderrText;
};

QString CliExe() {
  return QStringLiteral(QUILLON_CLI_EXE);
}

// quillon-cli with these arguments, started as a child process.
std::unique_ptr<ChildProcess> StartCli(const QStringList& args) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  return std::make_unique<ChildProcess>(CliExe().toStdString(), argv);
}

CliResult RunCli(const QStringList& args) {
  const auto cli = StartCli(QStringList{QStringLiteral("--json")} + args);
  const auto status = cli->Wait(std::chrono::milliseconds(kRunMs));
  CliResult result;
  result.exitCode = status && status->exited ? status->code : -1;
  const QByteArray out = QByteArray::fromStdString(cli->TakeOutput());
  result.json = QJsonDocument::fromJson(out).object();
  result.stderrText = QString::fromStdString(cli->TakeErrors());
  EXPECT_EQ(out.count('\n'), 1) << "one JSON object per command: " << out.toStdString();
  EXPECT_EQ(result.json.value("ok").toBool(), result.exitCode == 0) << out.toStdString();
  return result;
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

  CliResult Cli(const QStringList& args) {
    return RunCli(QStringList{QStringLiteral("--port"), Port()} + args);
  }

  QStringList SetCommands() const {
    QStringList sets;
    for (const QString& command : convsim_->ReceivedCommands())
      if (command.endsWith(QLatin1String("_SET")) || command.contains("RESTORE")) sets << command;
    return sets;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ConvsimProcess> convsim_;
};

TEST_F(CliTest, EachCommandWithItsJson) {
  const CliResult version = Cli({"version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.json.value("version").toObject(),
            (QJsonObject{{"software", "1.2"}, {"build", "build20170905"}, {"hardware", "1.0"}}));

  const CliResult set = Cli({"set", "com.baudRate=57600", "can.frameType=0x80",
                             "convt.transparentSendId=0x1FFFFFFF", "can.filterFlags=0x13"});
  ASSERT_EQ(set.exitCode, 0) << set.stderrText.toStdString();
  EXPECT_EQ(set.json.value("com").toObject().value("baudRate").toInt(), 57600);

  const CliResult read = Cli({"read"});
  ASSERT_EQ(read.exitCode, 0);
  EXPECT_EQ(read.json.value("convt").toObject().value("transparentSendId").toInteger(), 0x1FFFFFFF);
  EXPECT_EQ(read.json.value("can").toObject().value("filterFlags").toInt(), 0x13);
  EXPECT_EQ(read.json.value("convt").toObject().size(), 9);
  EXPECT_EQ(read.json.value("com").toObject().size(), 4);
  EXPECT_EQ(read.json.value("can").toObject().size(), 5);
  EXPECT_EQ(read.json.value("version"), version.json.value("version"));

  const CliResult restore = Cli({"restore"});
  EXPECT_EQ(restore.exitCode, 0);
  EXPECT_EQ(restore.json.value("com").toObject().value("baudRate").toInt(), 9600);
  EXPECT_EQ(SetCommands(),
            (QStringList{"CMD_CONVT_SET", "CMD_COM_SET", "CMD_CAN_SET", "CMD_RESTORE_DEFAULT"}));

  for (const QStringList& args : {QStringList{"help"}, QStringList{"help", "set"}})
    EXPECT_EQ(RunCli(args).json.value("help").toString().isEmpty(), false);
}

TEST_F(CliTest, WriteThenASecondProgramsReadGivesTheWrittenValues) {
  ASSERT_EQ(Cli({"set", "convt.mode=3", "convt.idOffset=5", "com.parityCode=2",
                 "com.stopBitsCode=3", "can.bitRateIndex=9", "can.acceptanceMask=0x7FF"})
                .exitCode,
            0);
  const CliResult exported = Cli({"read", File("p.bin")});
  ASSERT_EQ(exported.exitCode, 0);
  const QByteArray file = testing_support::ReadFileBytes(File("p.bin"));
  ASSERT_EQ(file.size(), 3101);

  // Another converter with its factory values takes the file.
  convsim_.reset();
  convsim_ = Start();
  const CliResult written = Cli({"write", File("p.bin")});
  ASSERT_EQ(written.exitCode, 0) << written.stderrText.toStdString();
  const CliResult read = Cli({"read"});
  ASSERT_EQ(read.exitCode, 0);
  for (const char* record : {"com", "can"})
    EXPECT_EQ(read.json.value(record), exported.json.value(record)) << record;
  QJsonObject convt = exported.json.value("convt").toObject();
  // The file carries no data-conversion fields: the converter keeps its own.
  const QJsonObject readConvt = read.json.value("convt").toObject();
  convt["dataFlags"] = readConvt.value("dataFlags");
  convt["dataSendId"] = readConvt.value("dataSendId");
  EXPECT_EQ(readConvt, convt);
  EXPECT_EQ(testing_support::ReadFileBytes(File("p.bin")), file);  // the file is not changed
}

TEST_F(CliTest, ExitStatusesFromRealCauses) {
  {
    ASSERT_EQ(Cli({"read", File("good.bin")}).exitCode, 0);
    QByteArray corrupted = testing_support::ReadFileBytes(File("good.bin"));
    corrupted[2048 + 6] = static_cast<char>(corrupted[2048 + 6] ^ 1);
    QFile out(File("bad.bin"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(corrupted);
  }
  struct Case {
    const char* label;
    const char* fault;  // convsim control line, or ""
    QStringList args;
    int exitCode;
    const char* error;  // part of the error text
  };
  const Case cases[] = {
      {"noise before replies", "fault all noise 12", {"read"}, 0, ""},
      {"stray start bytes before parameter replies", "fault CMD_COM_GET stray 12", {"read"}, 0, ""},
      // The version reply is searched for as the window does: one candidate.
      {"stray start byte before the version",
       "fault CMD_GET_VERSION stray 12",
       {"version"},
       4,
       "CMD_GET_VERSION"},
      {"split replies", "fault all split 7 15", {"read"}, 0, ""},
      {"refused setting",
       "fault CMD_COM_SET refuse",
       {"set", "com.baudRate=300"},
       1,
       "status 0x21"},
      {"refused restore",
       "fault CMD_RESTORE_DEFAULT refuse",
       {"restore"},
       1,
       "Gets the default parameter settings fail!"},
      {"silence", "fault CMD_GET_VERSION silence", {"version"}, 4, "operating timeout."},
      {"wrong data length", "fault CMD_CONVT_GET wronglen", {"read"}, 4, "CMD_CONVT_GET"},
      {"wrong address", "fault CMD_CAN_GET wrongaddr", {"read"}, 4, "CMD_CAN_GET"},
      {"value out of range", "", {"set", "convt.frameGapChars=11"}, 2, "outside 2..10"},
      {"unknown key", "", {"set", "convt.speed=1"}, 2, "convt.speed=1"},
      {"identifier the window stops",
       "",
       {"set", "convt.transparentSendId=0x800"},
       2,
       "When the frame type is a standard frame, valid value range: [0,7FF]"},
      {"ID length the window stops",
       "",
       {"set", "convt.idLength=3"},
       2,
       "CAN ID in the serial frame length range: [1,2] bytes."},
      {"acceptance code the window stops",
       "",
       {"set", "can.filterFlags=0x01", "can.acceptanceCode=0x800"},
       2,
       "[0,7FF]"},
      {"corrupted file",
       "",
       {"write", File("bad.bin")},
       2,
       "CRC are inconsistent, the file is corrupted! "},
      {"truncated file", "", {"write", File("missing.bin")}, 2, "Cannot open file"},
      {"usage", "", {"write"}, 2, "usage: quillon-cli write FILE"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    if (*test.fault) convsim_->Control(QString::fromLatin1(test.fault));
    const CliResult result = Cli(test.args);
    EXPECT_EQ(result.exitCode, test.exitCode) << result.stderrText.toStdString();
    EXPECT_TRUE(result.json.value("error").toString().contains(QString::fromUtf8(test.error)))
        << result.json.value("error").toString().toStdString();
    if (test.exitCode == 2) {
      EXPECT_TRUE(result.stderrText.contains(QString::fromUtf8(test.error)));
    }
    convsim_->Control(QStringLiteral("fault all none"));
  }
  // Only the refused setting and the refused restore reached the converter.
  EXPECT_EQ(SetCommands(), (QStringList{"CMD_CONVT_SET", "CMD_COM_SET", "CMD_RESTORE_DEFAULT"}));
}

TEST_F(CliTest, APortThatCannotBeOpened) {
  TComm holder;
  holder.SetCommName(Port());
  holder.OpenPort();
  const CliResult busy = Cli({"version"});
  EXPECT_EQ(busy.exitCode, 3);
  EXPECT_TRUE(busy.stderrText.contains(Port())) << busy.stderrText.toStdString();
  // The same reason as the window's: this test program holds the port.
  EXPECT_TRUE(busy.stderrText.contains(
      QStringLiteral("(process %1)").arg(QCoreApplication::applicationPid())))
      << busy.stderrText.toStdString();
  holder.ClosePort();

  const CliResult missing = RunCli({"--port", File("no-such-device"), "version"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_TRUE(missing.stderrText.contains(QStringLiteral("nothing is there")))
      << missing.stderrText.toStdString();
}

TEST_F(CliTest, ComNumbersResolveAsTheWindowResolvesThem) {
  // The program folder is the folder of the program itself.
  const QString binDir = QFileInfo(CliExe()).absolutePath();
  ConvsimProcess inBin(QStringLiteral(CONVSIM_EXE), binDir);
  ASSERT_GT(inBin.Com(), 0);
  const QString com = QStringLiteral("COM%1").arg(inBin.Com());
  EXPECT_EQ(RunCli({"--port", com, "version"}).exitCode, 0);
  EXPECT_EQ(RunCli({"--port", com.toLower(), "version"}).exitCode, 0);
  const CliResult ports = RunCli({"ports"});
  bool listed = false;
  for (const QJsonValue& port : ports.json.value("ports").toArray())
    listed |= port.toObject().value("port").toString() == com &&
              port.toObject().value("device").toString().startsWith("/dev/pts/");
  EXPECT_TRUE(listed);
}

TEST_F(CliTest, ProductionLineOverThreeConverters) {
  convsim_.reset();  // no converter yet
  const auto cli =
      StartCli({"--json", "--port", Port(), "--wait", "--repeat", "set", "com.parityCode=1"});
  ASSERT_TRUE(cli->Started()) << cli->StartError();
  auto nextLine = [&cli] {
    const std::string line =
        cli->ReadLine(std::chrono::milliseconds(kRunMs)).value_or(std::string());
    return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
  };
  for (int converter = 1; converter <= 3; ++converter) {
    // The second converter refuses from its first byte on.
    convsim_ = converter == 2 ? Start({"--fault", "CMD_COM_SET refuse"}) : Start();
    const QJsonObject line = nextLine();
    EXPECT_EQ(line.value("seq").toInt(), converter);
    EXPECT_EQ(line.value("ok").toBool(), converter != 2) << converter;
    EXPECT_EQ(line.value("version").toObject().value("software").toString(), "1.2");
    convsim_.reset();  // the converter goes away
  }
  cli->Signal(SIGINT);
  const QJsonObject summary = nextLine();
  const auto status = cli->Wait(std::chrono::milliseconds(kRunMs));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(summary, (QJsonObject{{"ok", false}, {"done", 2}, {"failed", 1}}));
  EXPECT_EQ(status->code, 1);
}

}  // namespace
