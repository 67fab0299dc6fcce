#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "i18n/PublicFunction.h"
#include "platform/Codepage.h"
#include "platform/Exception.h"
#include "support/FileBytes.h"
#include "support/TempProgramFolder.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempProgramFolder;

const QRegularExpression kEntry(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\t(.*)\t\r\n$"),
    QRegularExpression::DotMatchesEverythingOption);

TEST(WriteErrorLog, CreatesTheLogThenAppendsBelow) {
  TempProgramFolder folder;
  WriteErrorLog(QStringLiteral("Get LangFile error: first"));
  WriteErrorLog(QStringLiteral("second"));

  const QByteArray bytes = ReadFileBytes(folder.file(QStringLiteral("sys/SysErrorMsg.dt")));
  const QList<QByteArray> lines = bytes.split('\n');
  ASSERT_EQ(lines.size(), 3);  // two entries and the empty tail after the last LF
  EXPECT_TRUE(lines[2].isEmpty());
  const auto first = kEntry.match(QString::fromLatin1(lines[0] + '\n'));
  const auto second = kEntry.match(QString::fromLatin1(lines[1] + '\n'));
  ASSERT_TRUE(first.hasMatch()) << lines[0].toStdString();
  ASSERT_TRUE(second.hasMatch()) << lines[1].toStdString();
  EXPECT_EQ(first.captured(1), QStringLiteral("Get LangFile error: first"));
  EXPECT_EQ(second.captured(1), QStringLiteral("second"));
}

TEST(WriteErrorLog, EmptyTextStillHasBothTabs) {
  TempProgramFolder folder;
  WriteErrorLog(QString());
  const QByteArray bytes = ReadFileBytes(folder.file(QStringLiteral("sys/SysErrorMsg.dt")));
  EXPECT_EQ(bytes.size(), 19 + 4);  // time stamp, TAB, TAB, CR LF
  EXPECT_TRUE(bytes.endsWith("\t\t\r\n"));
}

TEST(WriteErrorLog, WritesChineseTextInGbk) {
  TempProgramFolder folder;
  WriteErrorLog(QStringLiteral("语言"));
  const QByteArray bytes = ReadFileBytes(folder.file(QStringLiteral("sys/SysErrorMsg.dt")));
  EXPECT_TRUE(bytes.endsWith(QByteArray("\t\xD3\xEF\xD1\xD4\t\r\n")));
}

TEST(WriteErrorLog, WithoutSysFolderWritesNothingAnywhere) {
  TempProgramFolder folder(/*withSys=*/false);
  WriteErrorLog(QStringLiteral("lost"));
  EXPECT_FALSE(QDir(folder.path()).exists(QStringLiteral("sys")));
  EXPECT_TRUE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST(WriteErrorLog, RefusesAnythingButARegularFileWithoutWaiting) {
  TempProgramFolder folder;
  const QByteArray pipe = QFile::encodeName(folder.file(QStringLiteral("sys/SysErrorMsg.dt")));
  ASSERT_EQ(::mkfifo(pipe.constData(), 0644), 0);
  // Without a reader an open for writing would wait for one.
  WriteErrorLog(QStringLiteral("no reader"));
  // With one, the entry would go into the pipe.
  const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  WriteErrorLog(QStringLiteral("reader waiting"));
  char byte;
  EXPECT_EQ(::read(reader, &byte, 1), 0) << "an entry went into the pipe";
  ::close(reader);
}

// The log is not written where a replacement would not be: a read-only log
// (for root too) or a link to a missing file loses the entry, and nothing is
// written anywhere else.
TEST(WriteErrorLog, LosesTheEntryWhereTheLogMayNotBeWritten) {
  const struct {
    const char* name;
    int (*make)(const QByteArray& log);
  } cases[] = {
      {"read-only log",
       [](const QByteArray& log) {
         const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0444);
         return fd >= 0 && ::write(fd, "kept\r\n", 6) == 6 && ::close(fd) == 0 ? 0 : -1;
       }},
      {"link to a missing file",
       [](const QByteArray& log) { return ::symlink("elsewhere.dt", log.constData()); }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TempProgramFolder folder;
    const QString sys = folder.file(QStringLiteral("sys"));
    ASSERT_EQ(test.make(QFile::encodeName(sys + QStringLiteral("/SysErrorMsg.dt"))), 0);
    const auto contents = [&sys] {
      QStringList seen;
      for (const QFileInfo& entry : QDir(sys).entryInfoList(QDir::AllEntries | QDir::System |
                                                            QDir::Hidden | QDir::NoDotAndDotDot))
        seen << entry.fileName() + ':' + QString::fromLatin1(ReadFileBytes(entry.filePath()));
      return seen.join('\n').toStdString();
    };
    const std::string before = contents();
    WriteErrorLog(QStringLiteral("lost"));
    EXPECT_EQ(contents(), before);
  }
}

struct BinCase {
  const char* text;
  int value;
};

class BinStrToIntCases : public testing::TestWithParam<BinCase> {};

TEST_P(BinStrToIntCases, ReadsBaseTwoPositionally) {
  EXPECT_EQ(BinStrToInt(QString::fromLatin1(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, BinStrToIntCases,
                         testing::Values(BinCase{"", 0}, BinCase{"1", 1}, BinCase{"00000000", 0},
                                         BinCase{"11111111", 255}, BinCase{"10000001", 129},
                                         BinCase{"00000011", 3}, BinCase{"12", 4}, BinCase{"9", 9},
                                         BinCase{"100000000", 256}));

TEST(BinStrToInt, NonDigitRaisesConversionError) {
  for (const char* text : {"0a", " 1", "1-", "+1", "0x1"})
    EXPECT_THROW(BinStrToInt(QString::fromLatin1(text)), platform::EConvertError) << text;
  EXPECT_THROW(BinStrToInt(QStringLiteral("１")), platform::EConvertError);  // full-width digit
}

TEST(BinStrToInt, LongTextsWrapWithoutFault) {
  EXPECT_EQ(BinStrToInt(QString(32, QLatin1Char('1'))), -1);
  EXPECT_EQ(BinStrToInt(QStringLiteral("1") + QString(32, QLatin1Char('0'))), 0);
}

struct IntCase {
  int value;
  int width;
  const char* text;
};

class IntToBinStrCases : public testing::TestWithParam<IntCase> {};

TEST_P(IntToBinStrCases, WritesDigitsMostSignificantFirst) {
  EXPECT_EQ(IntToBinStr(GetParam().value, GetParam().width), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Values, IntToBinStrCases,
                         testing::Values(IntCase{5, 8, "00000101"}, IntCase{0, 8, "00000000"},
                                         IntCase{255, 8, "11111111"}, IntCase{1, 8, "00000001"},
                                         IntCase{256, 8, "100000000"}, IntCase{6, 0, "110"},
                                         IntCase{6, -3, "110"}, IntCase{0, 0, "0"},
                                         IntCase{2, 1, "10"},
                                         IntCase{-1, 8, "11111111111111111111111111111111"}));

TEST(IntToBinStr, EveryByteRoundTripsThroughBinStrToInt) {
  for (int b = 0; b <= 255; ++b) {
    const QString text = IntToBinStr(b, 8);
    ASSERT_EQ(text.size(), 8);
    for (int i = 0; i < 8; ++i)
      ASSERT_EQ(text[i] == QLatin1Char('1'), ((b >> (7 - i)) & 1) != 0) << b << " bit " << i;
    ASSERT_EQ(BinStrToInt(text), b);
  }
}

TEST(RepeatTrimmed, RepeatsTheTrimmedText) {
  EXPECT_EQ(RepeatTrimmed(QStringLiteral("0"), 3), QStringLiteral("000"));
  EXPECT_EQ(RepeatTrimmed(QStringLiteral("0"), 0), QString());
  EXPECT_EQ(RepeatTrimmed(QStringLiteral("0"), -2), QString());
  EXPECT_EQ(RepeatTrimmed(QStringLiteral(" \t\x01"
                                         "ab c\r\n"),
                          2),
            QStringLiteral("ab cab c"));
  EXPECT_EQ(RepeatTrimmed(QStringLiteral(" \t "), 4), QString());
}

}  // namespace
