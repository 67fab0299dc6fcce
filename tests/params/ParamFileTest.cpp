#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "PanelFixture.h"
#include "messages/Messages.h"
#include "params/ParamFile.h"
#include "protocol/ByteOrder.h"
#include "protocol/Frame.h"
#include "protocol/PanelRules.h"
#include "protocol/ParamFileFormat.h"
#include "support/FileBytes.h"

namespace {

using params_testing::PanelFixture;
using testing_support::ReadFileBytes;

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

std::uint32_t Le32(const QByteArray& bytes, int offset) {
  return protocol::GetLe32(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset);
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

  QByteArray ExportedFile() {
    FillControls();
    Export(Path());
    return ReadFileBytes(Path());
  }

  QTemporaryDir dir_;
};

TEST(JamCrcTest, CheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(
      protocol::JamCrc(protocol::kJamCrcStart, reinterpret_cast<const std::uint8_t*>(text), 9),
      0x340BC6D9u);
}

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

TEST_F(ParamFileTest, LayoutOfAnExportedFile) {
  const QByteArray bytes = ExportedFile();
  ASSERT_EQ(bytes.size(), 3101);
  EXPECT_EQ(bytes.left(6), QByteArray::fromHex("1D0C00001D00"));
  std::uint32_t crc = 0;
  ASSERT_TRUE(params::FileCrc(Path(), &crc));
  EXPECT_EQ(Le32(bytes, 6), crc);

  struct Record {
    int offset;
    int length;
    QByteArray data;
  };
  const Record records[] = {
      {1024, 10, QByteArray::fromHex("02010106030912345678")},
      {2048, 7, QByteArray::fromHex("0000E100080203")},
      {3072, 11, QByteArray::fromHex("0A801300000ABC1F00FF00")},
  };
  for (const Record& record : records) {
    const QByteArray frame = bytes.mid(record.offset, 29);
    EXPECT_EQ(frame.left(5), QByteArray::fromHex("7F01000000")) << record.offset;
    EXPECT_EQ(static_cast<std::uint8_t>(frame[5]), record.length);
    EXPECT_EQ(frame.mid(6, record.length), record.data) << record.offset;
    EXPECT_EQ(frame.mid(6 + record.length, 20 - record.length),
              QByteArray(20 - record.length, '\0'));
    const std::uint16_t crc16 =
        protocol::CalcCrc16(reinterpret_cast<const std::uint8_t*>(frame.constData()) + 1, 25);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[26]), crc16 >> 8);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[27]), crc16 & 0xFF);
    EXPECT_EQ(frame[28], '\x0D');
  }
  // Zero everywhere else.
  QByteArray rest = bytes;
  rest.replace(0, 10, QByteArray(10, '\0'));
  for (const Record& record : records) rest.replace(record.offset, 29, QByteArray(29, '\0'));
  EXPECT_EQ(rest, QByteArray(3101, '\0'));
}

TEST_F(ParamFileTest, StopBitsTravelAsCodeThreeAndUnknownCodesImportAsOne) {
  QByteArray bytes = ExportedFile();
  EXPECT_EQ(bytes[2048 + 6 + 6], '\x03');
  c.cbbStopBits->setCurrentIndex(0);
  Import(Path());
  EXPECT_EQ(c.cbbStopBits->currentText(), "2");

  for (char code : {'\x02', '\x00', '\xFF'}) {
    bytes[2048 + 6 + 6] = code;
    Reseal(bytes);
    WriteAll(Path(), bytes);
    c.cbbStopBits->setCurrentIndex(1);
    Import(Path());
    EXPECT_EQ(c.cbbStopBits->currentText(), "1") << int(code);
  }
  EXPECT_TRUE(dialogs.messages.size() == 1);  // the export's success only
}

TEST_F(ParamFileTest, OutOfRangeRecordValuesImportAsTheirDefaults) {
  QByteArray bytes = ExportedFile();
  bytes[1024 + 6] = 9;      // mode
  bytes[3072 + 6 + 1] = 1;  // frame type 0x01: standard
  Reseal(bytes);
  WriteAll(Path(), bytes);
  Import(Path());
  EXPECT_EQ(c.cbxChgType->currentText(), "透明转换");
  EXPECT_EQ(c.cbxUsrFrameTp->currentText(), "标准");
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

TEST_F(ParamFileTest, HeaderChecksComeBeforeTheCrc) {
  const QByteArray original = ExportedFile();
  struct Case {
    int offset;
    const char* english;
    const char* chinese;
  };
  const Case cases[] = {
      {0, "File size is inconsistent, it has been destroyed!", "文件大小不一致，已被破坏！"},
      {3, "File size is inconsistent, it has been destroyed!", "文件大小不一致，已被破坏！"},
      {4, "Command length inconsistent!", "命令长度不一致！"},
      {5, "Command length inconsistent!", "命令长度不一致！"},
  };
  for (const char* language : {"enu", "chn"}) {
    SetLanguage(language);
    for (const Case& test : cases) {
      QByteArray bytes = original;
      bytes[test.offset] = static_cast<char>(bytes[test.offset] + 1);
      WriteAll(Path("bad.bin"), bytes);
      dialogs.messages.clear();
      Import(Path("bad.bin"));
      EXPECT_EQ(dialogs.messages,
                QStringList{QString(language) == "chn" ? test.chinese : test.english});
    }
  }
}

TEST_F(ParamFileTest, FailedImportLeavesTheControlsUnchanged) {
  QByteArray bytes = ExportedFile();
  ScrambleControls();
  bytes[2050] = 0x11;
  WriteAll(Path(), bytes);
  Import(Path());
  EXPECT_EQ(c.cbxChgType->currentIndex(), 0);
  EXPECT_EQ(c.cbbStopBits->currentIndex(), -1);
  EXPECT_FALSE(c.chkActiveRecFilter->isChecked());
}

TEST_F(ParamFileTest, ImportReadsAnyFileSafely) {
  struct Case {
    const char* name;
    QByteArray bytes;
    const char* message;  // nullptr: imported without a message
  };
  QByteArray shortValid(100, '\0');
  shortValid[0] = 100;
  shortValid[4] = 29;
  Reseal(shortValid);
  QByteArray large(8 * 1024 * 1024, '\x7F');
  QByteArray garbage(3101, '\0');
  for (int i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  const Case cases[] = {
      {"empty.bin", QByteArray(), "Command length inconsistent!"},
      {"one.bin", QByteArray(1, '\x1D'), "File size is inconsistent, it has been destroyed!"},
      {"garbage.bin", garbage, "File size is inconsistent, it has been destroyed!"},
      {"large.bin", large, "File size is inconsistent, it has been destroyed!"},
      {"short.bin", shortValid, nullptr},
  };
  for (const Case& test : cases) {
    WriteAll(Path(test.name), test.bytes);
    dialogs.messages.clear();
    Import(Path(test.name));
    EXPECT_EQ(dialogs.messages, test.message ? QStringList{test.message} : QStringList{})
        << test.name;
    EXPECT_EQ(ReadFileBytes(Path(test.name)), test.bytes);
  }
  // The short file's records read as zeros.
  EXPECT_EQ(c.cbxChgType->currentIndex(), 0);
  EXPECT_EQ(c.cbxChgDirection->currentIndex(), 0);
  EXPECT_EQ(c.spEdtLen->Value(), 1);
  EXPECT_EQ(c.cbbBaudRate->currentText(), "300");
  EXPECT_EQ(c.cbbParity->currentText(), "NONE");
  EXPECT_EQ(c.cbbStopBits->currentText(), "1");
  EXPECT_EQ(c.CbxCANBaudrate->currentIndex(), 0);
}

TEST_F(ParamFileTest, AFileLargerThanTheReadLimitIsRefusedEvenWithAConsistentHeaderAndCrc) {
  QByteArray bytes = ExportedFile();
  ScrambleControls();
  for (const int size : {64 * 1024, 64 * 1024 + 1, 1024 * 1024}) {
    bytes.resize(size, '\0');
    protocol::PutLe32(reinterpret_cast<std::uint8_t*>(bytes.data()),
                      static_cast<std::uint32_t>(size));
    Reseal(bytes);
    WriteAll(Path("large.bin"), bytes);
    dialogs.messages.clear();
    Import(Path("large.bin"));
    const bool withinLimit = size <= 64 * 1024;
    EXPECT_EQ(dialogs.messages, withinLimit ? QStringList{} : QStringList{"The file is corrupted."})
        << size;
    EXPECT_EQ(c.cbxChgType->currentIndex(), withinLimit ? 2 : 0) << size;
    ScrambleControls();
  }
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
  for (const QString& path : {Path("missing.bin"), dir_.path(), QString("/dev/null")}) {
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
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  WriteAll(Path(), "old contents");
  ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  FillControls();
  dialogs.yesNoAnswers = {true};
  Export(Path());
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
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot write file " + Path()))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].endsWith("File too large"))
        << dialogs.messages[0].toStdString();
    EXPECT_EQ(ReadFileBytes(Path()), hadOldFile ? QByteArray("old contents") : QByteArray());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
              hadOldFile ? QStringList{"Parameter.bin"} : QStringList{});
  }
}

TEST_F(ParamFileTest, ExportOverAFolderOrIntoAVanishedFolderFailsAndWritesNothing) {
  FillControls();
  ASSERT_TRUE(QDir(dir_.path()).mkdir("Parameter.bin"));
  ASSERT_TRUE(QDir(dir_.path()).mkdir("gone"));
  WriteAll(Path("keep.bin"), "keep");
  const QString vanished = Path("gone/Parameter.bin");
  ASSERT_TRUE(QDir(dir_.path()).rmdir("gone"));  // removed after it was chosen

  for (const QString& target : {Path(), vanished}) {
    SCOPED_TRACE(target.toStdString());
    dialogs.messages.clear();
    dialogs.yesNoAnswers = {true};
    Export(target);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot create file " + target))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(QDir(Path()).isEmpty());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"keep.bin", "Parameter.bin"}));
    EXPECT_EQ(ReadFileBytes(Path("keep.bin")), "keep");
  }
}

TEST_F(ParamFileTest, FileCrcOfAMissingFileFails) {
  std::uint32_t crc = 0x12345678;
  EXPECT_FALSE(params::FileCrc(Path("missing.bin"), &crc));
  EXPECT_EQ(crc, 0x12345678u);
  // A file shorter than the CRC field still has a CRC.
  WriteAll(Path("tiny.bin"), "12345678");
  ASSERT_TRUE(params::FileCrc(Path("tiny.bin"), &crc));
  const std::uint8_t zeroed[] = {'1', '2', '3', '4', '5', '6', 0, 0};
  EXPECT_EQ(crc, protocol::JamCrc(protocol::kJamCrcStart, zeroed, 8));
}

}  // namespace
