// quillon-cli end to end: the real program against convsim on a
// pseudo-terminal, its --json object parsed, each exit status from a real
// cause. What the frame search and the records do on their own is proved by
// the protocol tests.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <csignal>
#include <functional>
#include <span>
#include <tuple>

#include "cli/CliFixture.h"
#include "protocol/ParamFileFormat.h"
#include "serial/Comm.h"
#include "support/ComLink.h"
#include "support/FileBytes.h"

namespace {

using namespace cli_testing;

TEST_F(CliTest, EachCommandWithItsJson) {
  const CliResult version = Cli({"version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.json.value("version").toObject(),
            (QJsonObject{{"software", "1.2"}, {"build", "build20170905"}, {"hardware", "1.0"}}));

  const CliResult set = Cli({"set", "com.baudRate=57600", "can.frameType=0x80",
                             "convt.transparentSendId=0x1FFFFFFF", "can.filterFlags=0x13"});
  ASSERT_EQ(set.exitCode, 0) << set.errors.toStdString();
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

  EXPECT_TRUE(RunCli({"help", "report"}).json.value("help").toString().contains("usbSerial"));
}

// The production line's steps: a golden file from one converter, checked
// against another, shown dry, written, checked again.
TEST_F(CliTest, GoldenFileVerifiedDryRunWrittenAndVerified) {
  ASSERT_EQ(Cli({"set", "convt.mode=3", "convt.idOffset=5", "com.parityCode=2",
                 "com.stopBitsCode=3", "can.bitRateIndex=9", "can.acceptanceMask=0x7FF"})
                .exitCode,
            0);
  const CliResult exported = Cli({"read", File("p.bin")});
  ASSERT_EQ(exported.exitCode, 0);
  const QByteArray file = testing_support::ReadFileBytes(File("p.bin"));
  ASSERT_EQ(file.size(), 3101);

  // Another converter with its factory values, and data-conversion fields
  // of its own, which a file does not hold.
  convsim_.reset();
  convsim_ = Start();
  ASSERT_EQ(Cli({"set", "convt.dataSendId=0x99"}).exitCode, 0);
  const QStringList differing{"convt.mode", "convt.idOffset", "com.parityCode", "com.stopBitsCode",
                              "can.bitRateIndex"};
  const auto keys = [](const QJsonValue& list) {
    QStringList keys;
    for (const QJsonValue& entry : list.toArray()) keys << entry["key"].toString();
    return keys;
  };
  const CliResult before = Cli({"verify", File("p.bin")});
  EXPECT_EQ(before.exitCode, 1);
  EXPECT_EQ(keys(before.json["differences"]), differing);
  EXPECT_EQ(before.json["differences"][2].toObject(),
            (QJsonObject{{"key", "com.parityCode"}, {"converter", 5}, {"file", 2}}));
  const CliResult beforeText = CliText({"verify", File("p.bin")});
  EXPECT_EQ(beforeText.exitCode, 1);
  EXPECT_TRUE(beforeText.out.contains("com.parityCode: converter 5, file 2\n"))
      << beforeText.out.toStdString();

  const QStringList setsBefore = SetCommands();
  const CliResult dry = CliText({"write", File("p.bin"), "--dry-run"});
  EXPECT_EQ(dry.exitCode, 0) << dry.errors.toStdString();
  EXPECT_EQ(dry.out.count('\n'), differing.size());
  EXPECT_TRUE(dry.out.contains("com.stopBitsCode: 1 -> 3\n")) << dry.out.toStdString();
  EXPECT_EQ(SetCommands(), setsBefore);  // a dry run sends no setting

  const CliResult written = Cli({"write", File("p.bin")});
  ASSERT_EQ(written.exitCode, 0) << written.errors.toStdString();
  EXPECT_EQ(keys(written.json["changes"]), differing);
  EXPECT_EQ(Cli({"verify", File("p.bin")}).json["differences"].toArray().size(), 0);
  const CliResult read = Cli({"read"});
  for (const char* record : {"com", "can"})
    EXPECT_EQ(read.json.value(record), exported.json.value(record)) << record;
  EXPECT_EQ(read.json["convt"]["dataSendId"].toInt(), 0x99);       // the converter's own
  EXPECT_EQ(testing_support::ReadFileBytes(File("p.bin")), file);  // the file is not changed
}

// A copy of `good` changed by `edit`, its CRC made to match again.
QByteArray Resealed(QByteArray bytes, const std::function<void(QByteArray&)>& edit) {
  edit(bytes);
  protocol::SealParamFile(
      std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), std::size_t(bytes.size())));
  return bytes;
}

TEST_F(CliTest, ExitStatusesFromRealCauses) {
  ASSERT_EQ(Cli({"read", File("good.bin")}).exitCode, 0);
  const QByteArray good = testing_support::ReadFileBytes(File("good.bin"));
  QByteArray corrupted = good;
  corrupted[2048 + 6] = static_cast<char>(corrupted[2048 + 6] ^ 1);
  WriteBytes(File("bad.bin"), corrupted);
  WriteBytes(File("truncated.bin"), good.left(2000));
  // Cut before the CAN record, with a size field and a CRC that match.
  WriteBytes(File("shortened.bin"), Resealed(good.left(3072), [](QByteArray& b) {
               b[0] = char(3072 & 0xFF);
               b[1] = char(3072 >> 8);
             }));
  WriteBytes(File("odd.bin"), Resealed(good, [](QByteArray& b) {
               b.replace(2048 + 6, 4, QByteArray::fromHex("00003039"));  // 12345 bit/s
               b[1024 + 6] = 9;                                          // mode
             }));
  ASSERT_EQ(mkfifo(File("fifo.bin").toUtf8().constData(), 0600), 0);
  // Each row: a convsim control line or "", the arguments, the exit status
  // and part of the error text.
  const std::tuple<const char*, QStringList, int, const char*> cases[] = {
      {"fault all noise 12", {"read"}, 0, ""},
      {"fault CMD_COM_GET stray 12", {"read"}, 0, ""},
      // The version reply is searched for as the window does: one candidate.
      {"fault CMD_GET_VERSION stray 12", {"version"}, 4, "CMD_GET_VERSION"},
      {"fault all split 7 15", {"read"}, 0, ""},
      {"fault CMD_COM_SET refuse", {"set", "com.baudRate=300"}, 1, "status 0x21"},
      {"fault CMD_RESTORE_DEFAULT refuse",
       {"restore"},
       1,
       "Gets the default parameter settings fail!"},
      {"fault CMD_GET_VERSION silence", {"version"}, 4, "operating timeout."},
      {"fault CMD_CONVT_GET wronglen", {"read"}, 4, "CMD_CONVT_GET"},
      {"fault CMD_CAN_GET wrongaddr", {"read"}, 4, "CMD_CAN_GET"},
      {"", {"set", "convt.frameGapChars=11"}, 2, "outside 2..10"},
      {"", {"set", "convt.speed=1"}, 2, "convt.speed=1"},
      // Values the window's checks stop.
      {"",
       {"set", "convt.transparentSendId=0x800"},
       2,
       "When the frame type is a standard frame, valid value range: [0,7FF]"},
      {"", {"set", "convt.idLength=3"}, 2, "CAN ID in the serial frame length range: [1,2] bytes."},
      {"", {"set", "can.filterFlags=0x01", "can.acceptanceCode=0x800"}, 2, "[0,7FF]"},
      {"", {"write", File("bad.bin")}, 2, "CRC are inconsistent, the file is corrupted! "},
      {"", {"write", File("missing.bin")}, 2, "Cannot open file"},
      {"",
       {"write", File("truncated.bin")},
       2,
       "File size is inconsistent, it has been destroyed!"},
      {"",
       {"write", File("shortened.bin")},
       2,
       "the file has 3072 bytes: the CAN record at 3072 lies beyond its end"},
      {"",
       {"write", File("odd.bin")},
       2,
       "convt.mode: the file holds 9, the window would show 0\n  "
       "com.baudRate: the file holds 12345, the window would show 300"},
      {"", {"verify", File("fifo.bin")}, 2, "FIFO"},  // not waited on
      {"", {"write", dir_.path()}, 2, "It is a folder"},
      {"", {"write"}, 2, "usage: quillon-cli write [--dry-run] FILE"},
  };
  for (const auto& [fault, args, exitCode, error] : cases) {
    SCOPED_TRACE((fault + (' ' + args.join(' '))).toStdString());
    if (*fault) convsim_->Control(QString::fromLatin1(fault));
    const CliResult result = Cli(args);
    EXPECT_EQ(result.exitCode, exitCode) << result.errors.toStdString();
    EXPECT_TRUE(result.json.value("error").toString().contains(QString::fromUtf8(error)))
        << result.json.value("error").toString().toStdString();
    if (exitCode == 2) {
      EXPECT_TRUE(result.errors.contains(QString::fromUtf8(error)));
    }
    convsim_->Control(QStringLiteral("fault all none"));
  }
  // Only the refused setting, alone in its record, and the refused restore
  // reached the converter.
  EXPECT_EQ(SetCommands(), (QStringList{"CMD_COM_SET", "CMD_RESTORE_DEFAULT"}));
}

TEST_F(CliTest, APortThatCannotBeOpened) {
  TComm holder;
  holder.SetCommName(Port());
  holder.OpenPort();
  const CliResult busy = Cli({"version"});
  EXPECT_EQ(busy.exitCode, 3);
  EXPECT_TRUE(busy.errors.contains(Port())) << busy.errors.toStdString();
  // The same reason as the window's: this test program holds the port.
  EXPECT_TRUE(
      busy.errors.contains(QStringLiteral("(process %1)").arg(QCoreApplication::applicationPid())))
      << busy.errors.toStdString();
  holder.ClosePort();

  const CliResult missing = RunCli(Bytes({"--port", File("no-such-device"), "version"}));
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_TRUE(missing.errors.contains(QStringLiteral("nothing is there")))
      << missing.errors.toStdString();
}

// The program folder is the folder of the program itself: COM numbers and
// the port list are those of the window started from there.
TEST_F(CliTest, ComNumbersAndPortsAreTheWindowsOwn) {
  const QString binDir = QFileInfo(CliExe()).absolutePath();
  ConvsimProcess inBin(QStringLiteral(CONVSIM_EXE), binDir);
  ASSERT_GT(inBin.Com(), 0);
  const QString com = QStringLiteral("COM%1").arg(inBin.Com());
  EXPECT_EQ(RunCli(Bytes({"--port", com, "version"})).exitCode, 0);
  EXPECT_EQ(RunCli(Bytes({"--port", com.toLower(), "version"})).exitCode, 0);

  // Links to what exists but cannot be a serial port are not listed.
  ASSERT_EQ(mkfifo(File("fifo").toUtf8().constData(), 0600), 0);
  WriteBytes(File("plain"), "x");
  const std::string targets[] = {"/dev/null", File("fifo").toStdString(), dir_.path().toStdString(),
                                 File("plain").toStdString()};
  std::vector<QString> links;
  for (int i = 0; i < 4; ++i)
    links.push_back(QString::fromStdString(
        testing_support::LinkCom(binDir.toStdString(), 251 + i, targets[i])));
  const CliResult ports = RunCli({"ports"});
  const CliResult text = RunCliAsGiven({"ports"});
  for (const QString& link : links) QFile::remove(link);

  QStringList listed;
  QJsonObject served;
  for (const QJsonValue& port : ports.json.value("ports").toArray()) {
    listed << port["port"].toString();
    if (port["port"].toString() == com) served = port.toObject();
  }
  for (int number = 251; number <= 254; ++number)
    EXPECT_FALSE(listed.contains(QStringLiteral("COM%1").arg(number))) << number;
  const QString device = served["device"].toString();
  EXPECT_TRUE(device.startsWith("/dev/pts/")) << device.toStdString();
  const QString description =
      QStringLiteral("sys/ports/com%1 \u2192 %2").arg(inBin.Com()).arg(device);
  EXPECT_EQ(served["description"].toString(), description);
  EXPECT_EQ(served["vendorId"].toString(), "");  // a pty has no USB ids
  EXPECT_TRUE(text.out.contains(com + ' ' + description + '\n')) << text.out.toStdString();
}

TEST_F(CliTest, ProductionLineOverThreeConverters) {
  convsim_.reset();  // no converter yet
  const auto cli = StartCli(
      Bytes({"--json", "--port", Port(), "--wait", "--repeat", "set", "com.parityCode=1"}));
  ASSERT_TRUE(cli->Started()) << cli->StartError();
  auto nextLine = [&cli] {
    const std::string line = cli->ReadLine(kRunTime).value_or(std::string());
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
  EXPECT_EQ(
      nextLine(),
      (QJsonObject{{"ok", false}, {"passed", 2}, {"failed", 1}, {"noAnswer", 0}, {"exit", 1}}));
  EndedWith(*cli, 1);
}

}  // namespace
