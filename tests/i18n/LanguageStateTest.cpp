// The language state: settings file, language lookup, ApplyLangFile, the
// data module's database connection and message catalogue.
#include <sys/stat.h>

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>

#include "LangFixture.h"
#include "i18n/untMultiLang.h"

namespace {

using lang_testing::LangFixture;

class LanguageState : public LangFixture {};

TEST_F(LanguageState, FirstStartWritesEveryKeyWithItsDefault) {
  MakeDatabase();
  CreateDataModule();
  LoadLangID();
  EXPECT_EQ(CurLangID, 0);
  EXPECT_EQ(CurLangFile, QStringLiteral("LangCHN.MUL"));
  EXPECT_EQ(CurLangTxtFile, QStringLiteral("LangCHN.TXT"));
  EXPECT_EQ(GetMainCaption(), QStringLiteral("Quillon_II V1.4.7build180727R"));
  // The application title, which the dialogs show as their caption.
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quillon_II"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Quillon_II"));

  const QString settings = ReadFile(QStringLiteral("sys/System.dt"));
  for (const char* line : {"[Lang]\r\nLangID=0\r\n", "[sys]\r\n", "MainCaption=Quillon_II\r\n",
                           "ShowVer=1\r\n", "ShowHelp=1\r\n"})
    EXPECT_TRUE(settings.contains(QString::fromUtf8(line))) << line << settings.toStdString();
  EXPECT_TRUE(LogEntries().isEmpty());

  // The next start writes back what the file holds: a change of nothing,
  // so the file is not replaced (a replacement is a new inode).
  const QByteArray path = QFile::encodeName(folder_.file(QStringLiteral("sys/System.dt")));
  struct stat before {};
  ASSERT_EQ(::stat(path.constData(), &before), 0);
  LoadLangID();
  GetMainCaption();
  struct stat after {};
  ASSERT_EQ(::stat(path.constData(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(QStringLiteral("sys/System.dt")), settings);
}

struct CaptionCase {
  const char* settings;
  const char* caption;
};

class MainCaptionCases : public LanguageState, public testing::WithParamInterface<CaptionCase> {};

TEST_P(MainCaptionCases, VersionOnlyWhenShowVerIsExactlyOne) {
  WriteFile(QStringLiteral("sys/System.dt"),
            QString::fromUtf8(GetParam().settings).split(QLatin1Char('|')));
  EXPECT_EQ(GetMainCaption(), QString::fromUtf8(GetParam().caption));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, MainCaptionCases,
    testing::Values(CaptionCase{"[sys]|ShowVer=0", "Quillon_II"},
                    CaptionCase{"[sys]|ShowVer=", "Quillon_II"},
                    CaptionCase{"[sys]|ShowVer= 1 ", "Quillon_II V1.4.7build180727R"},
                    CaptionCase{"[sys]|ShowVer=11", "Quillon_II"},
                    CaptionCase{"[SYS]|maincaption=转换器配置|showver=1",
                                "转换器配置 V1.4.7build180727R"},
                    CaptionCase{"[sys]|MainCaption=Tool|ShowVer=0|ShowHelp=0", "Tool"}));

TEST_F(LanguageState, MainCaptionKeepsWhatItReadAndRaisesWhenUnwritable) {
  WriteFile(QStringLiteral("sys/System.dt"),
            {QStringLiteral("[sys]"), QStringLiteral("ShowHelp=0"), QStringLiteral("ShowVer=0")});
  EXPECT_EQ(GetMainCaption(), QStringLiteral("Quillon_II"));
  const QString settings = ReadFile(QStringLiteral("sys/System.dt"));
  EXPECT_TRUE(settings.contains(QStringLiteral("ShowHelp=0")));
  EXPECT_TRUE(settings.contains(QStringLiteral("ShowVer=0")));
  EXPECT_TRUE(settings.contains(QStringLiteral("MainCaption=Quillon_II")));

  ASSERT_TRUE(QFile::remove(folder_.file(QStringLiteral("sys/System.dt"))));
  ASSERT_TRUE(QDir(folder_.path()).rmdir(QStringLiteral("sys")));
  EXPECT_THROW(GetMainCaption(), platform::Exception);
}

struct LangIdCase {
  const char* stored;
  int id;
};

class LangIdCases : public LanguageState, public testing::WithParamInterface<LangIdCase> {};

TEST_P(LangIdCases, ReadModulo65536AndWrittenBack) {
  CreateDataModule();  // no database: the lookup fails and is logged
  dialogs_.messages.clear();
  WriteFile(QStringLiteral("sys/System.dt"),
            {QStringLiteral("[Lang]"), QStringLiteral("LangID=") + GetParam().stored});
  LoadLangID();
  EXPECT_EQ(CurLangID, GetParam().id);
  EXPECT_TRUE(ReadFile(QStringLiteral("sys/System.dt"))
                  .contains(QStringLiteral("LangID=%1\r\n").arg(GetParam().id)));
}

INSTANTIATE_TEST_SUITE_P(Values, LangIdCases,
                         testing::Values(LangIdCase{"-1", 65535}, LangIdCase{"abc", 0},
                                         LangIdCase{"65536", 0}, LangIdCase{"65537", 1},
                                         LangIdCase{"2", 2}, LangIdCase{"", 0},
                                         LangIdCase{"0x10", 16}, LangIdCase{"12abc", 0},
                                         LangIdCase{" 1 ", 1}, LangIdCase{"1 2", 0}));

TEST_F(LanguageState, LookupSetsTheFilesOnlyWhenTheRowExists) {
  MakeDatabase();
  CreateDataModule();
  EXPECT_EQ(dm_->GetLangFile(2), QStringLiteral("LangDEU.MUL"));
  EXPECT_EQ(CurLangFile, QStringLiteral("LangDEU.MUL"));
  EXPECT_EQ(CurLangTxtFile, QStringLiteral("LangDEU.TXT"));
  EXPECT_EQ(dm_->GetLangFile(7), QString());
  EXPECT_EQ(CurLangFile, QStringLiteral("LangDEU.MUL"));
  EXPECT_EQ(CurLangTxtFile, QStringLiteral("LangDEU.TXT"));
  EXPECT_TRUE(LogEntries().isEmpty());
}

TEST_F(LanguageState, FileNamesOutsideTheProgramFolderAreNeverUsed) {
  MakeDatabase(QStringLiteral(
      "CREATE TABLE LangFileInfo (LangID INTEGER, LangName TEXT, LangFile TEXT, LangTxtFile TEXT);"
      "INSERT INTO LangFileInfo VALUES (0, 'a', '/tmp/evil.MUL', 'x');"
      "INSERT INTO LangFileInfo VALUES (1, 'b', '../evil.MUL', 'x');"
      "INSERT INTO LangFileInfo VALUES (2, 'c', 'lang/../../evil.MUL', 'x');"
      "INSERT INTO LangFileInfo VALUES (3, 'd', 'C:\\evil.MUL', 'x');"
      "INSERT INTO LangFileInfo VALUES (4, 'e', '..\\evil.MUL', 'x');"
      "INSERT INTO LangFileInfo VALUES (5, 'f', 'lang/LangENU.MUL', 'y');"));
  CreateDataModule();
  for (quint16 id = 0; id <= 4; ++id) {
    CurLangFile = QStringLiteral("previous");
    EXPECT_EQ(dm_->GetLangFile(id), QString()) << id;
    EXPECT_EQ(CurLangFile, QString()) << id;
  }
  const QStringList entries = LogEntries();
  ASSERT_EQ(entries.size(), 5);
  for (const QString& entry : entries)
    EXPECT_TRUE(entry.startsWith(QStringLiteral("Get LangFile error: "))) << entry.toStdString();
  EXPECT_EQ(dm_->GetLangFile(5), QStringLiteral("lang/LangENU.MUL"));

  // The refused name leads to "no language file": nothing is created.
  dm_->GetLangFile(1);
  CurLangID = 1;
  ApplyLangFile(nullptr, dm_->mLangMsgs);
  EXPECT_FALSE(QFile::exists(folder_.file(QStringLiteral("../evil.MUL"))));
  EXPECT_EQ(CurLangID, 0);
}

TEST_F(LanguageState, SettingsFailuresAreLoggedWithTheirPrefixes) {
  MakeDatabase();
  CreateDataModule();
  // A folder in the settings file's place: it reads as empty and cannot be written.
  ASSERT_TRUE(QDir(folder_.path()).mkpath(QStringLiteral("sys/System.dt")));
  CurLangID = 3;
  SaveLangID();
  CurLangFile = QStringLiteral("kept");
  LoadLangID();
  EXPECT_EQ(CurLangID, 0);
  EXPECT_EQ(CurLangFile, QStringLiteral("kept"));  // the lookup did not run
  const QStringList entries = LogEntries();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_TRUE(entries[0].startsWith(QStringLiteral("Save LangID error, reason: ")));
  EXPECT_TRUE(entries[1].startsWith(QStringLiteral("Load system.dt error, reason: ")));
}

TEST_F(LanguageState, CatalogueIsTranslatedFromTheLanguageFile) {
  MakeDatabase();
  CreateDataModule();
  WriteFile(QStringLiteral("LangENU.MUL"),
            {QStringLiteral("[TfrmDM]"), QStringLiteral("N_Device_Caption=Device"),
             QStringLiteral("N_Timeout_Caption=operating timeout.")});
  CurLangID = 1;
  dm_->GetLangFile(1);
  ApplyLangFile(nullptr, dm_->mLangMsgs);
  QMenu* device = dm_->pmMsgs->findChild<QMenu*>(QStringLiteral("N_Device"));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->menuAction()->text(), QStringLiteral("Device"));
  QAction* timeout = dm_->pmMsgs->findChild<QAction*>(QStringLiteral("N_Timeout"));
  ASSERT_NE(timeout, nullptr);
  EXPECT_EQ(timeout->text(), QStringLiteral("operating timeout."));
  // Keys the file lacked were added with the current texts.
  EXPECT_TRUE(ReadFile(QStringLiteral("LangENU.MUL"))
                  .contains(QStringLiteral("N_ReadOk_Caption=获取配置成功!")));
}

}  // namespace
