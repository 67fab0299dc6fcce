// set, write and read FILE on converters that hold values the window could
// not show: what is sent is what was asked, byte for byte, and nothing else.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFileInfo>
#include <QJsonArray>
#include <functional>

#include "cli/CliFixture.h"
#include "support/FileBytes.h"

namespace {

using namespace cli_testing;

// The factory records as convsim's "record" control lines take them.
constexpr const char* kOddCom = "record com 00003039 08 05 02";  // 12345 bit/s, stop bits 2
constexpr const char* kOddCan = "record can 14 40 00 00000000 000007FF";  // index 20, type 0x40

TEST_F(CliTest, OddConverterStatesKeepWhatIsNotNamed) {
  struct Case {
    const char* label;
    std::vector<const char*> state;  // control lines after "defaults"
    QStringList args;
    int exitCode;
    QStringList sent;   // setting commands that reach the converter
    QJsonObject after;  // fields as the converter then holds them
    QString said;       // exit 0: stdout, the change list; else: part of the error text
  };
  const Case cases[] = {
      {"an unnamed record is not sent",
       {kOddCom, kOddCan},
       {"set", "convt.mode=1"},
       0,
       {"CMD_CONVT_SET"},
       {{"convt.mode", 1},
        {"com.baudRate", 12345},
        {"com.stopBitsCode", 2},
        {"can.bitRateIndex", 20},
        {"can.frameType", 0x40}},
       "convt.mode: 0 -> 1\n"},
      {"unnamed fields of a sent record keep the converter's bytes",
       {kOddCom, kOddCan},
       {"set", "com.parityCode=1"},
       0,
       {"CMD_COM_SET"},
       {{"com.parityCode", 1}, {"com.baudRate", 12345}, {"com.stopBitsCode", 2}},
       "com.parityCode: 5 -> 1\n"},
      {"a dry run tells the changes and sends nothing",
       {kOddCom},
       {"set", "--dry-run", "com.parityCode=1", "convt.transparentSendId=0x7FF"},
       0,
       {},
       {{"com.parityCode", 5}, {"convt.transparentSendId", 0x123}},
       "convt.transparentSendId: 0x00000123 -> 0x000007FF\ncom.parityCode: 5 -> 1\n"},
      {"a named value the window's checks stop",
       {kOddCan},  // 0x40 reads as standard frames
       {"set", "convt.idLength=3"},
       2,
       {},
       {{"convt.idLength", 2}},
       "convt.idLength: When the frame type is a standard frame, CAN ID in the serial frame "
       "length range: [1,2] bytes."},
      {"a dry run stops where the write would",
       {kOddCan},
       {"set", "--dry-run", "convt.idLength=3"},
       2,
       {},
       {},
       "convt.idLength: When the frame type is a standard frame"},
      {"a change that puts an unnamed identifier out of range",
       {"record convt 00 02 03 00 02 03 00001000 01 00000456",
        "record can 03 80 00 00000000 000007FF"},
       {"set", "can.frameType=0x00"},
       2,
       {},
       {{"can.frameType", 0x80}},
       "convt.transparentSendId: When the frame type is a standard frame, valid value range: "
       "[0,7FF]"},
      {"a failed check the converter holds already, in fields not named",
       {"record convt 00 02 03 00 03 03 00000123 01 00000456"},  // ID length 3, standard
       {"set", "convt.mode=1"},
       0,
       {"CMD_CONVT_SET"},
       {{"convt.mode", 1}, {"convt.idLength", 3}},
       "convt.mode: 0 -> 1\n"},
      {"...but not one the set adds to it",
       {"record convt 00 02 03 00 03 03 00000123 01 00000456",
        "record can 03 00 01 00000000 000007FF"},  // filter on, standard frames
       {"set", "convt.mode=1", "can.acceptanceCode=0x800"},
       2,
       {},
       {{"can.acceptanceCode", 0}},
       "can.acceptanceCode: When the frame type is a standard frame"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    convsim_->Control(QStringLiteral("defaults"));
    for (const char* line : test.state) convsim_->Control(QString::fromLatin1(line));
    const qsizetype setsBefore = SetCommands().size();
    const CliResult result = CliText(test.args);
    EXPECT_EQ(result.exitCode, test.exitCode) << result.errors.toStdString();
    EXPECT_EQ(result.out, test.exitCode == 0 ? test.said : QString());
    if (test.exitCode != 0) {
      EXPECT_TRUE(result.errors.contains(test.said)) << result.errors.toStdString();
    }
    EXPECT_EQ(SetCommands().mid(setsBefore), test.sent);
    const QJsonObject fields = Fields();
    for (auto it = test.after.begin(); it != test.after.end(); ++it)
      EXPECT_EQ(fields.value(it.key()), it.value()) << it.key().toStdString();
  }
}

TEST_F(CliTest, ReadExportsWhatTheConverterHoldsAndWarnsOfWhatTheWindowShows) {
  convsim_->Control(QString::fromLatin1(kOddCom));
  convsim_->Control(QString::fromLatin1(kOddCan));
  const CliResult read = CliText({"read", File("odd.bin")});
  ASSERT_EQ(read.exitCode, 0) << read.errors.toStdString();
  EXPECT_TRUE(read.out.contains("com.baudRate=12345\n")) << read.out.toStdString();
  const QStringList warnings = read.errors.split('\n').filter(QStringLiteral("warning: "));
  EXPECT_EQ(warnings,
            (QStringList{
                "warning: com.baudRate: the converter holds 12345, the window would show 300",
                "warning: com.stopBitsCode: the converter holds 2, the window would show no "
                "selection",
                "warning: can.bitRateIndex: the converter holds 20, the window would show no "
                "selection",
                "warning: can.frameType: the converter holds 0x40, the window would show 0x00"}));
  // The exported records hold the converter's bytes.
  const QByteArray file = testing_support::ReadFileBytes(File("odd.bin"));
  EXPECT_EQ(file.mid(2048 + 6, 7).toHex(),
            "0000303908"
            "0502");
  EXPECT_EQ(file.mid(3072 + 6, 2).toHex(), "1440");
  EXPECT_EQ(Cli({"read"}).json["warnings"].toArray().size(), 4);

  // Such a file cannot be written: the window would write other values.
  const CliResult write = Cli({"write", File("odd.bin")});
  EXPECT_EQ(write.exitCode, 2);
  EXPECT_EQ(write.json["fields"].toArray().size(), 4);
  EXPECT_EQ(Cli({"verify", File("odd.bin")}).exitCode, 0);  // but it matches
}

// read FILE writes a regular file or a new name, and nothing else; any
// other target is refused before the converter is asked anything. --report
// appends to the same targets and refuses the same others.
TEST_F(CliTest, ExportTargets) {
  const mode_t umaskNow = umask(022);
  umask(umaskNow);
  const auto type = [](const QString& path) {
    struct stat info {};
    return lstat(path.toUtf8().constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
  };
  const auto permissions = [](const QString& path) {
    struct stat info {};
    return stat(path.toUtf8().constData(), &info) == 0 ? info.st_mode & 0777 : 0;
  };
  const auto linkTo = [](const QString& target) {
    return [target](const QString& p) {
      ASSERT_EQ(symlink(target.toUtf8().constData(), p.toUtf8().constData()), 0);
    };
  };
  const auto oldFile = [](mode_t mode) {
    return [mode](const QString& p) {
      WriteBytes(p, "old");
      chmod(p.toUtf8().constData(), mode);
    };
  };
  // Making a device node needs root, as CI runs; elsewhere that row is a new name.
  const bool root = geteuid() == 0;
  WriteBytes(File("target.bin"), "old");
  struct Case {
    const char* label;
    std::function<void(const QString&)> make;
    int exitCode;
    const char* error;
    mode_t type;         // of the target afterwards (not followed)
    qint64 size;         // of what it leads to afterwards, -1: not looked at
    mode_t permissions;  // afterwards, 0: not looked at
  };
  const Case cases[] = {
      {"a new name", [](const QString&) {}, 0, "", S_IFREG, 3101, 0666 & ~umaskNow},
      {"a regular file keeps its permissions", oldFile(0600), 0, "", S_IFREG, 3101, 0600},
      {"a link writes the file it points to and stays", linkTo(File("target.bin")), 0, "", S_IFLNK,
       3101, 0},
      {"a read-only file, for root too", oldFile(0444), 2, "The file is read-only", S_IFREG, 3,
       0444},
      {"a FIFO", [](const QString& p) { ASSERT_EQ(mkfifo(p.toUtf8().constData(), 0600), 0); }, 2,
       "It is a named pipe (FIFO)", S_IFIFO, -1, 0},
      {"a folder", [](const QString& p) { ASSERT_TRUE(QDir().mkdir(p)); }, 2, "It is a folder",
       S_IFDIR, -1, 0},
      {"a socket",
       [](const QString& p) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.toUtf8().constData());
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         close(fd);
       },
       2, "It is a socket", S_IFSOCK, -1, 0},
      {"a device node (as /dev/null is)",
       [&](const QString& p) {
         if (root) {
           ASSERT_EQ(mknod(p.toUtf8().constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
         }
       },
       root ? 2 : 0, root ? "It is a device" : "", static_cast<mode_t>(root ? S_IFCHR : S_IFREG),
       -1, 0},
      {"a link to nothing", linkTo(File("nowhere")), 2, "symbolic link to a missing file", S_IFLNK,
       -1, 0},
  };
  int number = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    const auto expectOutcome = [&test](const CliResult& result) {
      EXPECT_EQ(result.exitCode, test.exitCode) << result.errors.toStdString();
      EXPECT_TRUE(result.json["error"].toString().contains(QString::fromUtf8(test.error)))
          << result.json["error"].toString().toStdString();
    };
    const QString target = File(QStringLiteral("target%1").arg(++number));
    test.make(target);
    const qsizetype asked = convsim_->ReceivedCommands().size();
    expectOutcome(Cli({"read", target}));
    if (test.exitCode != 0) {
      EXPECT_EQ(convsim_->ReceivedCommands().size(), asked) << "the converter was read first";
    }
    EXPECT_EQ(type(target), test.type);
    if (test.size >= 0) {
      EXPECT_EQ(QFileInfo(target).size(), test.size);
    }
    if (test.permissions != 0) {
      EXPECT_EQ(permissions(target), test.permissions);
    }

    const QString report = File(QStringLiteral("report%1").arg(number));
    test.make(report);
    const QString appendedTo =
        QFileInfo::exists(report) ? QFileInfo(report).canonicalFilePath() : report;
    // Read only what is read without waiting: not a FIFO.
    const QByteArray before =
        test.exitCode == 0 ? testing_support::ReadFileBytes(appendedTo) : QByteArray();
    expectOutcome(Cli({"--report", report, "version"}));
    if (test.exitCode == 0) {
      const QByteArray after = testing_support::ReadFileBytes(appendedTo);
      EXPECT_TRUE(after.startsWith(before));
      EXPECT_EQ(QJsonDocument::fromJson(after.mid(before.size())).object()["command"], "version");
    }
  }
  EXPECT_FALSE(QFileInfo::exists(File("nowhere")));
  // Nothing was left behind beside the targets.
  EXPECT_TRUE(QDir(dir_.path()).entryList({".*.tmp*"}, QDir::Hidden | QDir::Files).isEmpty());
}

}  // namespace
