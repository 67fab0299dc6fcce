#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include "PanelFixture.h"
#include "messages/Messages.h"
#include "params/ParamFile.h"
#include "params/ParamFileIo.h"
#include "platform/Exception.h"
#include "protocol/ByteOrder.h"
#include "protocol/Frame.h"
#include "protocol/PanelRules.h"
#include "protocol/ParamFileFormat.h"
#include "support/FileBytes.h"
#include "support/WithoutFileCapabilities.h"

namespace {

using params_testing::PanelFixture;
using testing_support::ReadFileBytes;

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// The file that the controls of FillControls export, worked out by hand: the
// header (size 3101, record length 29, the file CRC-32/JAMCRC 0xBB3A8B84),
// and each record as a frame with its CRC-16/UMTS, zero everywhere else.
constexpr std::uint32_t kKnownExportCrc = 0xBB3A8B84;

QByteArray KnownExport() {
  QByteArray bytes(3101, '\0');
  bytes.replace(0, 10, QByteArray::fromHex("1D0C00001D00848B3ABB"));
  bytes.replace(1024, 29,
                QByteArray::fromHex("7F010000000A0201010603091234567800000000000000000000D30C0D"));
  bytes.replace(2048, 29,
                QByteArray::fromHex("7F01000000070000E1000802030000000000000000000000000032A40D"));
  bytes.replace(3072, 29,
                QByteArray::fromHex("7F010000000B0A801300000ABC1F00FF00000000000000000000C4670D"));
  return bytes;
}

// Writes a new file CRC after the bytes were changed on purpose.
void Reseal(QByteArray& bytes) {
  protocol::SealParamFile(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()),
                                    static_cast<std::size_t>(bytes.size())));
}

class ParamFileTest : public ::testing::Test, public PanelFixture {
 protected:
  QString Path(const QString& name = "Parameter.bin") const { return dir_.path() + '/' + name; }

  void Export(const QString& path) {
    dialogs.saveAnswers.push_back(path);
    params::ExportParameters(*panel);
  }
  void Import(const QString& path) {
    dialogs.openAnswers.push_back(path);
    params::ImportParameters(*panel);
  }

  // Distinct values in every control of the three tabs.
  void FillControls() {
    c.cbxChgType->setCurrentIndex(2);
    c.cbxChgDirection->setCurrentIndex(1);
    c.chkCANInfoInPort->setChecked(true);
    c.chkCANIDInPort->setChecked(false);
    c.spEdtOffSet->SetValue(6);
    c.spEdtLen->SetValue(3);
    c.spEdtInterval->SetValue(9);
    c.EdtUsrCANID->setText("12 34 56 78");
    c.cbbBaudRate->setCurrentIndex(8);
    c.cbbByteSize->setCurrentIndex(0);
    c.cbbParity->setCurrentIndex(1);
    c.cbbStopBits->setCurrentIndex(1);
    c.CbxCANBaudrate->setCurrentIndex(10);
    c.cbxUsrFrameTp->setCurrentIndex(1);
    c.chkActiveRecFilter->setChecked(true);
    c.cbxFilterFrame->setCurrentIndex(1);
    c.cbxFilterID->setCurrentIndex(1);
    c.edtFilterChkCode->setText("00 00 0A BC");
    c.edtFilterMaskCode->setText("1F 00 FF 00");
  }

  // Other values everywhere, the data-conversion group included.
  void ScrambleControls() {
    c.cbxChgType->setCurrentIndex(0);
    c.cbxChgDirection->setCurrentIndex(2);
    c.chkCANInfoInPort->setChecked(false);
    c.chkCANIDInPort->setChecked(true);
    c.spEdtOffSet->SetValue(0);
    c.spEdtLen->SetValue(1);
    c.spEdtInterval->SetValue(2);
    c.EdtUsrCANID->setText("");
    c.cbbBaudRate->setCurrentIndex(0);
    c.cbbParity->setCurrentIndex(4);
    c.cbbStopBits->setCurrentIndex(-1);
    c.CbxCANBaudrate->setCurrentIndex(-1);
    c.cbxUsrFrameTp->setCurrentIndex(0);
    c.chkActiveRecFilter->setChecked(false);
    c.cbxFilterFrame->setCurrentIndex(0);
    c.cbxFilterID->setCurrentIndex(0);
    c.edtFilterChkCode->setText("");
    c.edtFilterMaskCode->setText("");
    c.chkCanInfo->setChecked(true);
    c.chkCanId->setChecked(true);
    c.EdtDataCANID->setText("AA BB CC DD");
  }

  void ExpectFilledControls() {
    EXPECT_EQ(c.cbxChgType->currentIndex(), 2);
    EXPECT_EQ(c.cbxChgDirection->currentIndex(), 1);
    EXPECT_TRUE(c.chkCANInfoInPort->isChecked());
    EXPECT_FALSE(c.chkCANIDInPort->isChecked());
    EXPECT_EQ(c.spEdtOffSet->Value(), 6);
    EXPECT_EQ(c.spEdtLen->Value(), 3);
    EXPECT_EQ(c.spEdtInterval->Value(), 9);
    EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "12 34 56 78");
    EXPECT_EQ(c.cbbBaudRate->currentText(), "57600");
    EXPECT_EQ(c.cbbByteSize->currentText(), "8");
    EXPECT_EQ(c.cbbParity->currentText(), "ODD");
    EXPECT_EQ(c.cbbStopBits->currentText(), "2");
    EXPECT_EQ(c.CbxCANBaudrate->currentText(), "2.5Kbps");
    EXPECT_EQ(c.cbxUsrFrameTp->currentIndex(), 1);
    EXPECT_TRUE(c.chkActiveRecFilter->isChecked());
    EXPECT_TRUE(c.edtFilterChkCode->isEnabled());
    EXPECT_EQ(c.cbxFilterFrame->currentIndex(), 1);
    EXPECT_EQ(c.cbxFilterID->currentIndex(), 1);
    EXPECT_EQ(c.edtFilterChkCode->MaskedText(), "00 00 0A BC");
    EXPECT_EQ(c.edtFilterMaskCode->MaskedText(), "1F 00 FF 00");
  }

  // What the import-relevant lists show: type, direction, baud rate,
  // parity, stop bits, CAN bit rate, frame type.
  QString Shown() const {
    return QStringList{c.cbxChgType->currentText(),   c.cbxChgDirection->currentText(),
                       c.cbbBaudRate->currentText(),  c.cbbParity->currentText(),
                       c.cbbStopBits->currentText(),  c.CbxCANBaudrate->currentText(),
                       c.cbxUsrFrameTp->currentText()}
        .join('|');
  }

  QByteArray ExportedFile() {
    FillControls();
    Export(Path());
    return ReadFileBytes(Path());
  }

  QTemporaryDir dir_;
};

TEST_F(ParamFileTest, ExportThenImportRestoresEveryControlButTheDataConversionGroup) {
  FillControls();
  Export(Path());
  EXPECT_EQ(dialogs.messages, QStringList{"Data parameters saved successfully!"});
  const QByteArray written = ReadFileBytes(Path());

  for (int round = 0; round < 2; ++round) {
    ScrambleControls();
    dialogs.messages.clear();
    Import(Path());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    ExpectFilledControls();
    EXPECT_TRUE(c.chkCanInfo->isChecked());  // not stored, not restored
    EXPECT_EQ(c.EdtDataCANID->MaskedText(), "AA BB CC DD");
  }
  EXPECT_EQ(ReadFileBytes(Path()), written);  // importing leaves the file as it was
}

TEST_F(ParamFileTest, AnExportedFileHasTheKnownBytes) {
  EXPECT_EQ(ExportedFile(), KnownExport());
  std::uint32_t crc = 0;
  ASSERT_TRUE(params::FileCrc(Path(), &crc));
  EXPECT_EQ(crc, kKnownExportCrc);
}

// An import of each kind of file, after other values were put in every
// control: the message it shows, what the controls show afterwards, and the
// file left as it was.
TEST_F(ParamFileTest, ImportOfAFileShowsItsOutcome) {
  using Change = std::function<void(QByteArray&)>;
  // Type, direction, baud rate, parity, stop bits, CAN bit rate, frame type.
  const QString exported = "ModbusRTU转换|COM==>CAN|57600|ODD|2|2.5Kbps|扩展";
  const QString unchanged = "透明转换|双向|300|NONE|||标准";
  const QString zeros = "透明转换|CAN==>COM|300|NONE|1|1Mbps|标准";
  const auto sized = [](int size) {
    return [size](QByteArray& b) {
      b.resize(size, '\0');
      protocol::PutLe32(reinterpret_cast<std::uint8_t*>(b.data()),
                        static_cast<std::uint32_t>(size));
      Reseal(b);
    };
  };
  const auto stopBitsCode = [](char code) {
    return [code](QByteArray& b) {
      b[2048 + 6 + 6] = code;
      Reseal(b);
    };
  };
  const auto bump = [](int offset) {
    return [offset](QByteArray& b) { b[offset] = static_cast<char>(b[offset] + 1); };
  };
  const auto replace = [](QByteArray bytes) { return [bytes](QByteArray& b) { b = bytes; }; };
  QByteArray shortValid(100, '\0');
  shortValid[0] = 100;
  shortValid[4] = 29;
  Reseal(shortValid);
  QByteArray garbage(3101, '\0');
  for (int i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  const char* size = "File size is inconsistent, it has been destroyed!";
  const char* length = "Command length inconsistent!";
  const struct {
    const char* name;
    Change change;
    const char* message;  // nullptr: imported without a message
    QString shown;
    const char* langCode = "enu";
  } cases[] = {
      {"as exported", [](QByteArray&) {}, nullptr, exported},
      {"two stop bits stored as 2 import as one", stopBitsCode(2), nullptr,
       "ModbusRTU转换|COM==>CAN|57600|ODD|1|2.5Kbps|扩展"},
      {"stop bits code 0", stopBitsCode(0), nullptr,
       "ModbusRTU转换|COM==>CAN|57600|ODD|1|2.5Kbps|扩展"},
      {"stop bits code 0xFF", stopBitsCode('\xFF'), nullptr,
       "ModbusRTU转换|COM==>CAN|57600|ODD|1|2.5Kbps|扩展"},
      {"mode 9 and frame type 0x01",
       [](QByteArray& b) {
         b[1024 + 6] = 9;
         b[3072 + 6 + 1] = 1;
         Reseal(b);
       },
       nullptr, "透明转换|COM==>CAN|57600|ODD|2|2.5Kbps|标准"},
      {"size field, low byte", bump(0), size, unchanged},
      {"size field, high byte", bump(3), size, unchanged},
      {"size field, in Chinese", bump(0), "文件大小不一致，已被破坏！", unchanged, "chn"},
      {"length field, low byte", bump(4), length, unchanged},
      {"length field, high byte", bump(5), length, unchanged},
      {"length field, in Chinese", bump(5), "命令长度不一致！", unchanged, "chn"},
      {"a record byte", [](QByteArray& b) { b[2050] = 0x11; },
       "CRC are inconsistent, the file is corrupted! ", unchanged},
      {"empty", replace({}), length, unchanged},
      {"one byte", replace(QByteArray(1, '\x1D')), size, unchanged},
      {"garbage", replace(garbage), size, unchanged},
      {"8 MB", replace(QByteArray(8 * 1024 * 1024, '\x7F')), size, unchanged},
      {"short, with a consistent header and CRC", replace(shortValid), nullptr, zeros},
      {"at the read limit, consistent", sized(64 * 1024), nullptr, exported},
      {"one byte above the read limit, consistent", sized(64 * 1024 + 1), "The file is corrupted.",
       unchanged},
      {"1 MB, consistent", sized(1024 * 1024), "The file is corrupted.", unchanged},
  };
  QByteArray bytes = ExportedFile();
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    QByteArray file = bytes;
    test.change(file);
    WriteAll(Path("import.bin"), file);
    ScrambleControls();
    SetLanguage(test.langCode);
    dialogs.messages.clear();
    Import(Path("import.bin"));
    EXPECT_EQ(dialogs.messages, test.message ? QStringList{test.message} : QStringList{});
    EXPECT_EQ(Shown(), test.shown);
    EXPECT_EQ(ReadFileBytes(Path("import.bin")), file);
  }
}

TEST_F(ParamFileTest, AnyChangedByteFromTheCrcFieldOnIsCaught) {
  const QByteArray original = ExportedFile();
  const QString damaged = Path("damaged.bin");
  int crcMessages = 0;
  for (int offset = 6; offset < original.size(); ++offset) {
    QByteArray bytes = original;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
    WriteAll(damaged, bytes);
    dialogs.messages.clear();
    Import(damaged);
    if (dialogs.messages == QStringList{"CRC are inconsistent, the file is corrupted! "})
      ++crcMessages;
    else
      ADD_FAILURE() << "offset " << offset << ": " << dialogs.messages.join('|').toStdString();
  }
  EXPECT_EQ(crcMessages, 3101 - 6);
}

// quillon-cli applies the panel's rules without the panel (protocol/
// PanelRules): what the controls make of a record, and the checks before a
// write. The two must agree, byte for byte and message for message.
TEST_F(ParamFileTest, ThePanelsRulesWithoutThePanelAgreeWithThePanel) {
  struct Row {
    const char* label;
    protocol::ParameterRecords records;
  };
  auto records = [](std::array<std::uint8_t, 6> convt, std::uint32_t sendId,
                    std::array<std::uint32_t, 4> com, std::array<std::uint8_t, 3> can,
                    std::uint32_t code, std::uint32_t mask) {
    protocol::ParameterRecords r;
    r.convt.mode = convt[0];
    r.convt.direction = convt[1];
    r.convt.transparentFlags = convt[2];
    r.convt.idOffset = convt[3];
    r.convt.idLength = convt[4];
    r.convt.frameGapChars = convt[5];
    r.convt.transparentSendId = sendId;
    r.convt.dataFlags = convt[2];
    r.convt.dataSendId = ~sendId;
    r.com.baudRate = com[0];
    r.com.dataBits = static_cast<std::uint8_t>(com[1]);
    r.com.parityCode = static_cast<std::uint8_t>(com[2]);
    r.com.stopBitsCode = static_cast<std::uint8_t>(com[3]);
    r.can.bitRateIndex = can[0];
    r.can.frameType = can[1];
    r.can.filterFlags = can[2];
    r.can.acceptanceCode = code;
    r.can.acceptanceMask = mask;
    return r;
  };
  const Row rows[] = {
      {"in range",
       records({1, 0, 3, 4, 2, 5}, 0x7FF, {115200, 8, 3, 1}, {2, 0x00, 0x11}, 0x7FF, 0)},
      {"beyond every list and range",
       records({9, 5, 0xFF, 9, 0, 1}, 0x800, {12345, 7, 0, 2}, {11, 0x01, 0xFF}, 0x800, 0x7FF)},
      {"parity code 6, stop bits 0",
       records({3, 2, 1, 7, 5, 11}, 0, {300, 8, 6, 0}, {10, 0x80, 0x03}, 0x1FFFFFFF, 0x20000000)},
      {"extended, long ID", records({0, 1, 2, 0, 4, 10}, 0x1FFFFFFF, {9600, 8, 5, 3},
                                    {0, 0x80, 0x13}, 0x10000000, 0x1FFFFFFF)},
      {"extended, ID beyond",
       records({0, 1, 2, 0, 4, 10}, 0x20000000, {9600, 8, 5, 3}, {0, 0x80, 0}, 0, 0)},
      {"standard, ID length 3", records({0, 1, 2, 0, 3, 10}, 0, {9600, 8, 5, 3}, {0, 0, 0}, 0, 0)},
      {"filter off, codes beyond",
       records({0, 1, 2, 0, 1, 10}, 0, {9600, 8, 5, 3}, {0, 0, 0x12}, 0xFFFFFFFF, 0xFFFFFFFF)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // A read: the window's export and checks of what the converter sent.
    panel->ApplyConvtParams(row.records.convt, true);
    panel->ApplyComParams(row.records.com, params::StopBitsRule::Reply);
    panel->ApplyCanParams(row.records.can);
    const protocol::ParameterRecords shown = {
        protocol::AsPanelShows(row.records.convt),
        protocol::AsPanelShows(row.records.com, protocol::StopBitsShown::ClearedForReply),
        protocol::AsPanelShows(row.records.can)};
    EXPECT_EQ(panel->BuildConvtParams(), shown.convt);
    EXPECT_EQ(panel->BuildComParams(), shown.com);
    EXPECT_EQ(panel->BuildCanParams(), shown.can);
    const protocol::ParamFileBytes file = protocol::BuildParamFile(shown);
    EXPECT_EQ(params::BuildParameterFile(*panel),
              QByteArray(reinterpret_cast<const char*>(file.data()), file.size()));

    dialogs.messages.clear();
    const bool windowRefuses = panel->ValidatePanel();
    const auto failure = protocol::CheckBeforeWrite(shown);
    ASSERT_EQ(windowRefuses, failure.has_value());
    if (failure) {
      EXPECT_EQ(dialogs.messages,
                QStringList{QString::fromUtf8(messages::MessageText(failure->message, "enu"))});
    }

    // An import: a file shows one stop bit for an unknown code.
    panel->ApplyComParams(row.records.com, params::StopBitsRule::File);
    EXPECT_EQ(panel->BuildComParams(),
              protocol::AsPanelShows(row.records.com, protocol::StopBitsShown::OneForFile));
  }
}

TEST_F(ParamFileTest, ImportOfWhatIsNotAReadableFileShowsTheFailure) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.bin")).constData(), 0644), 0);
  for (const QString& path :
       {Path("missing.bin"), dir_.path(), QString("/dev/null"), Path("pipe.bin")}) {
    dialogs.messages.clear();
    Import(path);
    ASSERT_EQ(dialogs.messages.size(), 1) << path.toStdString();
    EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot open file " + path))
        << dialogs.messages[0].toStdString();
  }
}

TEST_F(ParamFileTest, DialogsAndTheirAnswers) {
  FillControls();
  params::ExportParameters(*panel);  // cancelled
  ASSERT_EQ(dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs.saveRequests[0].fileName, "Parameter.bin");
  EXPECT_EQ(dialogs.saveRequests[0].filter, "BIN文件(*.bin)");
  EXPECT_EQ(dialogs.saveRequests[0].defaultSuffix, "bin");
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(QDir(dir_.path()).isEmpty());

  params::ImportParameters(*panel);  // cancelled
  EXPECT_EQ(dialogs.messages, QStringList{"Please select the import file!"});
  EXPECT_EQ(dialogs.openRequests.back().filter, "BIN Files(*.bin)");
  EXPECT_TRUE(dialogs.openRequests.back().fileName.isEmpty());
  EXPECT_TRUE(dialogs.openRequests.back().defaultSuffix.isEmpty());

  SetLanguage("chn");
  dialogs.messages.clear();
  params::ImportParameters(*panel);
  EXPECT_EQ(dialogs.messages, QStringList{"请选择导入文件！"});
  EXPECT_EQ(dialogs.openRequests.back().filter, "BIN文件(*.bin)");
}

TEST_F(ParamFileTest, OverwriteNeedsAYes) {
  WriteAll(Path(), "keep me");
  FillControls();
  dialogs.yesNoAnswers = {false};
  Export(Path());
  EXPECT_EQ(dialogs.questions, QStringList{"文件已经存在,是否覆盖?"});
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(ReadFileBytes(Path()), "keep me");

  SetLanguage("chn");
  dialogs.yesNoAnswers = {true};
  Export(Path());
  EXPECT_EQ(dialogs.messages, QStringList{"数据参数保存成功！"});
  EXPECT_EQ(ReadFileBytes(Path()).size(), 3101);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Parameter.bin"});
}

TEST_F(ParamFileTest, FailedExportLeavesTheOldFileAndNoTemporaryFile) {
  WriteAll(Path(), "old contents");
  FillControls();
  c.cbbByteSize->setCurrentIndex(-1);  // the serial-line record cannot be built
  dialogs.yesNoAnswers = {true};
  Export(Path());
  EXPECT_EQ(dialogs.messages, QStringList{"'' is not a valid integer value"});
  EXPECT_EQ(ReadFileBytes(Path()), "old contents");
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Parameter.bin"});

  dialogs.messages.clear();
  c.cbbByteSize->setCurrentIndex(0);
  Export(Path("no-such-folder/Parameter.bin"));
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot create file"))
      << dialogs.messages[0].toStdString();
}

TEST_F(ParamFileTest, ExportIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
  WriteAll(Path(), "old contents");
  ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  FillControls();
  dialogs.yesNoAnswers = {true};
  {
    testing_support::WithoutFileCapabilities unprivileged;
    ASSERT_TRUE(unprivileged.effective()) << "cannot drop root's file capabilities";
    Export(Path());
  }
  QFile::setPermissions(dir_.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot create file"));
  EXPECT_EQ(ReadFileBytes(Path()), "old contents");
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Parameter.bin"});
}

// Lowers the largest file this process may write, so that a write stops
// part-way even for root; a write over the limit then fails with EFBIG
// instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool IsSet() const { return set_; }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = SIG_DFL;
  bool set_ = false;
};

TEST_F(ParamFileTest, ExportThatStopsPartWayKeepsTheOldFileAndLeavesNoTemporaryFile) {
  FillControls();
  for (const bool hadOldFile : {true, false}) {
    SCOPED_TRACE(hadOldFile ? "over an old file" : "a new file");
    QFile::remove(Path());
    if (hadOldFile) WriteAll(Path(), "old contents");
    dialogs.messages.clear();
    dialogs.yesNoAnswers = {true};
    {
      FileSizeLimit limit(1000);  // the parameter file has 3101 bytes
      ASSERT_TRUE(limit.IsSet());
      Export(Path());
    }
    EXPECT_EQ(dialogs.messages, QStringList{"Cannot write file " + Path()});
    EXPECT_EQ(dialogs.lastInformativeText, "File too large");
    EXPECT_EQ(ReadFileBytes(Path()), hadOldFile ? QByteArray("old contents") : QByteArray());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
              hadOldFile ? QStringList{"Parameter.bin"} : QStringList{});
  }
}

// What is at a name, so that a refused export can be shown to have left it
// as it was: its kind, inode and mode, a link's target, a file's bytes.
std::string Fingerprint(const QString& path) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return "nothing";
  QString print = QString::asprintf("mode %o inode %lu", info.st_mode, info.st_ino);
  if (S_ISLNK(info.st_mode)) print += " -> " + QFile::symLinkTarget(path);
  if (S_ISREG(info.st_mode)) print += " bytes " + ReadFileBytes(path).toHex();
  return print.toStdString();
}

bool MakeSocket(const QString& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path)) return false;
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const bool bound =
      fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return bound;
}

// A device node: as root one of its own (the null device's numbers), never
// the machine's /dev/null, which a faulty export would destroy; otherwise a
// link to /dev/null, which only root could harm.
bool MakeDevice(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  if (::geteuid() == 0) return ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  return ::symlink("/dev/null", name.constData()) == 0;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The export writes only a regular file or a new name, through the window's
// menu and through the function quillon-cli uses alike. Everything else is
// refused with its reason and left as it was.
TEST_F(ParamFileTest, ExportWritesOnlyARegularFileOrANewName) {
  const auto file = [](mode_t mode) {
    return [mode](const QString& path) {
      WriteAll(path, "old contents");
      return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
    };
  };
  const auto linkTo = [](const char* target, mode_t mode) {
    return [target, mode](const QString& path) {
      const QString real = path.section('/', 0, -2) + '/' + target;
      if (mode) {
        WriteAll(real, "old contents");
        ::chmod(QFile::encodeName(real).constData(), mode);
      }
      return QFile::link(target, path);
    };
  };
  const struct {
    const char* name;
    std::function<bool(const QString& path)> make;  // false: cannot be made here
    const char* refusal;                            // part of the reason; nullptr: written
    mode_t mode = 0;                                // of the written file
    const char* headline = "Cannot write file ";
  } cases[] = {
      {"new name", [](const QString&) { return true; }, nullptr, NewFileMode()},
      {"regular file", file(0600), nullptr, 0600},
      {"link to a regular file", linkTo("real.bin", 0640), nullptr, 0640},
      {"read-only file", file(0444), "The file is read-only"},
      {"named pipe",
       [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0; },
       "named pipe (FIFO)"},
      {"device node", MakeDevice, "It is a device"},
      {"socket", MakeSocket, "It is a socket"},
      {"folder", [](const QString& path) { return QDir().mkdir(path); }, "It is a folder"},
      {"link to nothing", linkTo("missing.bin", 0), "symbolic link to a missing file"},
      {"folder gone since it was chosen", [](const QString&) { return true; },
       "No such file or directory", 0, "Cannot create file "},
  };
  FillControls();
  for (const bool window : {true, false}) {
    for (const auto& test : cases) {
      SCOPED_TRACE(std::string(window ? "window: " : "function: ") + test.name);
      const QString folder = Path(QString("%1-%2").arg(window).arg(&test - cases));
      ASSERT_TRUE(QDir().mkdir(folder));
      const bool gone = QString(test.headline).startsWith("Cannot create");
      const QString target = folder + (gone ? "/gone/Parameter.bin" : "/Parameter.bin");
      if (!test.make(target)) {
        std::cout << "[ SKIPPED  ] " << test.name << " cannot be made here\n";
        continue;
      }
      const std::string before = Fingerprint(target);
      QString text, reason;
      if (window) {
        dialogs.messages.clear();
        dialogs.lastInformativeText.clear();
        dialogs.yesNoAnswers = {true};
        dialogs.questions.clear();
        const bool regularFile = QFileInfo(target).isFile();
        Export(target);
        // Only a regular file is asked about: anything else is refused first.
        EXPECT_EQ(dialogs.questions.size(), regularFile ? 1 : 0);
        text = dialogs.messages.value(0);
        reason = dialogs.lastInformativeText;
        EXPECT_EQ(dialogs.messages.size(), 1);
      } else {
        try {
          params::WriteFileAtomically(target, KnownExport());
          text = "Data parameters saved successfully!";
        } catch (const platform::EFileError& e) {
          text = e.Text();
          reason = e.Reason();
          EXPECT_EQ(QString::fromUtf8(e.what()), text + ": " + reason) << "quillon-cli's line";
        }
      }
      if (test.refusal) {
        EXPECT_EQ(text, test.headline + target);
        EXPECT_TRUE(reason.contains(test.refusal)) << reason.toStdString();
        EXPECT_EQ(Fingerprint(target), before);
      } else {
        EXPECT_EQ(text, "Data parameters saved successfully!");
        EXPECT_EQ(ReadFileBytes(target), KnownExport());
        EXPECT_EQ(QFileInfo(target).isSymLink(), (before.find(" -> ") != std::string::npos))
            << "a link stays";
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, test.mode);
      }
      for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                         QDir::System | QDir::NoDotAndDotDot))
        EXPECT_FALSE(entry.startsWith('.')) << "temporary file left: " << entry.toStdString();
    }
  }
}

TEST_F(ParamFileTest, FileCrcOfAMissingFileFails) {
  std::uint32_t crc = 0x12345678;
  EXPECT_FALSE(params::FileCrc(Path("missing.bin"), &crc));
  EXPECT_EQ(crc, 0x12345678u);
  // A file shorter than the CRC field still has a CRC.
  WriteAll(Path("tiny.bin"), "12345678");
  ASSERT_TRUE(params::FileCrc(Path("tiny.bin"), &crc));
  EXPECT_EQ(crc, 0xDD1A3DFAu) << "the JAMCRC of 31 32 33 34 35 36 00 00";

  ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.bin")).constData(), 0644), 0);
  EXPECT_FALSE(params::FileCrc(Path("pipe.bin"), &crc)) << "and it does not wait for a writer";
}

}  // namespace
