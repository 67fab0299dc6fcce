// The main window's language: start-up in the saved language, switching in
// the language dialog, and the shipped language files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/LangDbPassword.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "i18n/untSetLang.h"
#include "i18n/untSetLangForm.h"
#include "platform/Codepage.h"
#include "platform/LangDb.h"
#include "serial/Comm.h"
#include "support/ComLink.h"
#include "support/CommPseudoTerminal.h"
#include "support/FileBytes.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace {

using testing_support::LinkCom;
using testing_support::ReadFileBytes;
using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

const QString kDataDir = QStringLiteral(QUILLON_DATA_DIR);

bool HasChinese(const QString& text) {
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (c.script() == QChar::Script_Han || (u >= 0x3000 && u <= 0x303F) ||
        (u >= 0xFF00 && u <= 0xFFEF))
      return true;
  }
  return false;
}

// Every text a window shows or can show: captions, titles, tab texts, list
// items, menus, tool tips.
QStringList TextsOf(QWidget* window, const QStringList& skipLists = {}) {
  QStringList texts{window->windowTitle()};
  auto add = [&texts](QObject* owner, const QString& text) {
    texts.append(owner->objectName() + QLatin1String(": ") + text);
  };
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  for (QWidget* w : widgets) {
    add(w, w->toolTip());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) add(w, b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) add(w, l->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) add(w, g->title());
    if (auto* e = qobject_cast<QLineEdit*>(w)) add(w, e->text() + e->placeholderText());
    if (auto* t = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i) add(w, t->tabText(i));
    if (auto* c = qobject_cast<QComboBox*>(w); c && !skipLists.contains(c->objectName()))
      for (int i = 0; i < c->count(); ++i) add(w, c->itemText(i));
    if (auto* m = qobject_cast<QMenu*>(w)) add(w, m->title());
    if (auto* bar = qobject_cast<QMenuBar*>(w))
      for (QAction* a : bar->actions()) add(a, a->text());
  }
  for (QAction* a : window->findChildren<QAction*>()) add(a, a->text());
  return texts;
}

QStringList ChineseTexts(const QStringList& texts) {
  QStringList found;
  for (const QString& t : texts)
    if (HasChinese(t.section(QLatin1String(": "), 1))) found.append(t);
  return found;
}

class MainLanguage : public testing::Test {
 protected:
  void SetUp() override {
    CurLangID = 0;
    CurLangFile.clear();
    CurLangTxtFile.clear();
  }

  void TearDown() override {
    window_.reset();
    dm_.reset();
  }

  // The shipped database and language files in the test's program folder.
  void InstallShippedData(bool withChineseFile = true) {
    platform::CreateLangDb(
        folder_.file(QStringLiteral("sys/QNdata.adt")), QString::fromLatin1(kLangDbPassword),
        QString::fromUtf8(ReadFileBytes(kDataDir + QStringLiteral("/sys/QNdata.sql"))));
    QStringList files{QStringLiteral("LangENU.MUL")};
    if (withChineseFile) files.append(QStringLiteral("LangCHN.MUL"));
    for (const QString& name : files)
      ASSERT_TRUE(QFile::copy(kDataDir + '/' + name, folder_.file(name))) << name.toStdString();
  }

  void SaveLangId(int id) {
    QFile f(folder_.file(QStringLiteral("sys/System.dt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[Lang]\r\nLangID=%1\r\n").arg(id).toLatin1());
  }

  // The program's start-up order: the data module, then the window.
  void Start() {
    window_.reset();
    dm_.reset();
    dm_ = std::make_unique<TfrmDM>();
    window_ = std::make_unique<TfrmMain>();
  }

  QStringList LogEntries() const {
    QStringList texts;
    const QString log =
        platform::DecodeGbk(ReadFileBytes(folder_.file(QStringLiteral("sys/SysErrorMsg.dt"))));
    for (const QString& line : log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
      texts.append(line.section(QLatin1Char('\t'), 1, 1));
    return texts;
  }

  // Runs N3Click; `act` gets the language dialog once it is up.
  void RunN3Click(const std::function<void(TfrmSetLang*)>& act) {
    bool acted = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<TfrmSetLang*>(QApplication::activeModalWidget());
      if (!dialog || acted) return;
      acted = true;
      act(dialog);
    });
    poll.start();
    window_->ui->N3->trigger();
    poll.stop();
    ASSERT_TRUE(acted);
  }

  void ExpectDesignedTextsAfterDatabaseFailure();

  static void Choose(TfrmSetLang* dialog, int row) {
    dialog->ui->DBLookupComboBox1->setCurrentIndex(row);
    dialog->ui->btnOK->click();
  }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<TfrmDM> dm_;
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainLanguage, SavedEnglishStartsInEnglish) {
  InstallShippedData();
  SaveLangId(1);
  Start();
  EXPECT_EQ(frmDM->LangCode, QStringLiteral("enu"));
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("Connect"));
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Quillon_II V1.4.7build180727R"));
  EXPECT_EQ(ChineseTexts(TextsOf(window_.get())), QStringList());
  EXPECT_TRUE(LogEntries().isEmpty());
}

TEST_F(MainLanguage, ThirdLanguageTranslatesButMessagesStayEnglish) {
  InstallShippedData();
  platform::CreateLangDb(
      folder_.file(QStringLiteral("sys/QNdata.adt")), QString::fromLatin1(kLangDbPassword),
      QString::fromUtf8(ReadFileBytes(kDataDir + QStringLiteral("/sys/QNdata.sql"))) +
          QStringLiteral("INSERT INTO LangFileInfo VALUES (2, 'Deutsch', 'LangDEU.MUL', 'x');"));
  QFile deu(folder_.file(QStringLiteral("LangDEU.MUL")));
  ASSERT_TRUE(deu.open(QIODevice::WriteOnly));
  deu.write("[TfrmMain]\r\nbtnReadCfg_Caption=Lesen\r\n");
  deu.close();
  SaveLangId(2);
  Start();
  EXPECT_EQ(window_->ui->btnReadCfg->text(), QStringLiteral("Lesen"));
  EXPECT_EQ(frmDM->LangCode, QString());
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("Connect"));
  EXPECT_EQ(LangText(QStringLiteral("操作超时!"), QStringLiteral("operating timeout.")),
            QStringLiteral("operating timeout."));
}

TEST_F(MainLanguage, MissingOrLockedDatabaseShowsTheMessageAndKeepsDesignedTexts) {
  for (bool present : {false, true}) {
    SCOPED_TRACE(present ? "wrong password" : "missing");
    dialogs_.messages.clear();
    QFile::remove(folder_.file(QStringLiteral("sys/SysErrorMsg.dt")));
    if (present)
      platform::CreateLangDb(
          folder_.file(QStringLiteral("sys/QNdata.adt")), QStringLiteral("not the password"),
          QString::fromUtf8(ReadFileBytes(kDataDir + QStringLiteral("/sys/QNdata.sql"))));
    SaveLangId(1);
    CurLangFile.clear();
    Start();
    ExpectDesignedTextsAfterDatabaseFailure();
  }
}

void MainLanguage::ExpectDesignedTextsAfterDatabaseFailure() {
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].startsWith(QStringLiteral("Connect to database error, ")));
  EXPECT_TRUE(LogEntries().contains(QStringLiteral("LangFile is empty. LangId is 1")));
  EXPECT_EQ(window_->ui->Label2->text(), QStringLiteral("串口号："));
  EXPECT_EQ(frmDM->LangCode, QStringLiteral("enu"));
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("Connect"));
}

TEST_F(MainLanguage, SwitchingToEnglishAndBackChangesEveryText) {
  InstallShippedData();
  Start();  // first start: Chinese, caption from the defaults
  EXPECT_EQ(frmDM->LangCode, QStringLiteral("chn"));
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("连接"));
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Quillon_II V1.4.7build180727R"));

  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 1); });
  EXPECT_EQ(dialogs_.messages, QStringList{QStringLiteral("ok!")});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(frmDM->LangCode, QStringLiteral("enu"));
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("Connect"));
  EXPECT_EQ(ChineseTexts(TextsOf(window_.get())), QStringList());
  EXPECT_EQ(ChineseTexts(TextsOf(frmDM->pmMsgs)), QStringList());
  EXPECT_EQ(CurLangID, 1);

  // The dialog shown in English: only the language names stay as they are.
  TfrmSetLang dialog;
  dialog.show();
  EXPECT_EQ(ChineseTexts(TextsOf(&dialog, {QStringLiteral("DBLookupComboBox1")})), QStringList());
  dialog.close();

  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 0); });
  EXPECT_EQ(frmDM->LangCode, QStringLiteral("chn"));
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("连接"));
  EXPECT_EQ(window_->ui->Label2->text(), QStringLiteral("串口号："));
  EXPECT_EQ(window_->ui->pgcFunc->tabText(window_->ui->pgcFunc->indexOf(window_->ui->tsCOM)),
            QStringLiteral("串口参数"));
  EXPECT_TRUE(LogEntries().isEmpty());
}

// The closed port list's tooltip names a port without a device in the
// language shown, after the start and after every switch.
TEST_F(MainLanguage, PortListTooltipFollowsTheLanguage) {
  InstallShippedData();
  SaveLangId(1);
  Start();
  QComboBox* ports = window_->ui->cbxPort;
  ports->setCurrentText(QStringLiteral("COM250"));
  const struct {
    int row;
    QString tooltip;
  } switches[] = {{0, QStringLiteral("COM250 · 无设备")},
                  {1, QStringLiteral("COM250 · no device")}};
  EXPECT_EQ(ports->toolTip(), switches[1].tooltip);
  for (const auto& to : switches) {
    RunN3Click([&](TfrmSetLang* dialog) { Choose(dialog, to.row); });
    EXPECT_EQ(ports->toolTip(), to.tooltip);
  }
}

// The language pass sets the designed caption ("filtration invalid"); the
// box's caption follows its state, in the new language.
TEST_F(MainLanguage, FilterBoxCaptionFollowsItsStateAcrossASwitch) {
  InstallShippedData();
  Start();
  struct Step {
    bool ticked;
    int languageRow;
    const char* caption;
  };
  for (const Step& step : {Step{true, 1, "filtration valid"}, Step{true, 0, "过滤有效"},
                           Step{false, 1, "filtration invalid"}}) {
    window_->ui->chkActiveRecFilter->setChecked(step.ticked);
    RunN3Click([&step](TfrmSetLang* dialog) { Choose(dialog, step.languageRow); });
    EXPECT_EQ(window_->ui->chkActiveRecFilter->text(), QString::fromUtf8(step.caption));
  }
}

TEST_F(MainLanguage, SwitchingWhileConnectedShowsDisconnectInTheNewLanguage) {
  InstallShippedData();
  Start();
  auto pty = platform::CommPseudoTerminal::Create();
  if (!pty) GTEST_SKIP() << "no pseudo-terminal";
  ASSERT_FALSE(LinkCom(folder_.path().toStdString(), 7, pty->SlavePath()).empty());
  window_->Comm1->SetCommName(QStringLiteral("\\\\.\\COM7"));
  window_->Comm1->OpenPort();
  ASSERT_TRUE(window_->Comm1->PortOpen());

  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 1); });
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("Disconnect"));
  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 0); });
  EXPECT_EQ(window_->ui->btnConn->text(), QStringLiteral("断开"));
  window_->Comm1->ClosePort();
}

TEST_F(MainLanguage, VersionOfAConnectedConverterIsNotKeptAcrossAStart) {
  InstallShippedData();
  Start();
  window_->ui->LbSMainVer->setText(QStringLiteral("1.2"));
  window_->ui->LbSwtimer->setText(QStringLiteral("build20170905"));
  window_->ui->LbHwmainVer->setText(QStringLiteral("1.0"));
  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 1); });
  EXPECT_EQ(window_->ui->LbSMainVer->text(), QStringLiteral("1.2"));
  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 0); });
  EXPECT_EQ(window_->ui->LbSwtimer->text(), QStringLiteral("build20170905"));

  Start();
  EXPECT_EQ(window_->ui->LbSMainVer->text(), QString());
  EXPECT_EQ(window_->ui->LbSwtimer->text(), QString());
  EXPECT_EQ(window_->ui->LbHwmainVer->text(), QString());
  for (const char* file : {"LangCHN.MUL", "LangENU.MUL"})
    EXPECT_FALSE(ReadFileBytes(folder_.file(QString::fromLatin1(file))).contains("LbSMainVer"))
        << file;
}

TEST_F(MainLanguage, FailureDuringTheSwitchIsReportedAndTheCursorRestored) {
  InstallShippedData();
  Start();
  // A language file in a folder that does not exist: the pass cannot write
  // the texts the file lacks.
  platform::CreateLangDb(
      folder_.file(QStringLiteral("sys/QNdata.adt")), QString::fromLatin1(kLangDbPassword),
      QStringLiteral("CREATE TABLE LangFileInfo (LangID INTEGER, LangName TEXT, LangFile TEXT,"
                     " LangTxtFile TEXT);"
                     "INSERT INTO LangFileInfo VALUES (0, '简体中文', 'LangCHN.MUL', 'a');"
                     "INSERT INTO LangFileInfo VALUES (1, 'Broken', 'nofolder/L.MUL', 'b');"));
  frmDM->ConnectDatabase();
  RunN3Click([](TfrmSetLang* dialog) { Choose(dialog, 1); });
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].startsWith(
      QStringLiteral("Class QAction exception: Unable to write to ")))
      << dialogs_.messages[0].toStdString();
  // The window goes on. The broken file now fails every dialog's language
  // pass; the failure is reported and the dialog can still be cancelled.
  RunN3Click([](TfrmSetLang* dialog) { dialog->ui->btnCancel->click(); });
  ASSERT_EQ(dialogs_.messages.size(), 2);
  EXPECT_TRUE(dialogs_.messages[1].startsWith(
      QStringLiteral("Class TfrmSetLang exception: Unable to write to ")))
      << dialogs_.messages[1].toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainLanguage, UnwritableLanguageFileAtStartIsReportedAndTheWindowComesUp) {
  platform::CreateLangDb(
      folder_.file(QStringLiteral("sys/QNdata.adt")), QString::fromLatin1(kLangDbPassword),
      QStringLiteral("CREATE TABLE LangFileInfo (LangID INTEGER, LangName TEXT, LangFile TEXT,"
                     " LangTxtFile TEXT);"
                     "INSERT INTO LangFileInfo VALUES (1, 'Broken', 'nofolder/L.MUL', 'b');"));
  SaveLangId(1);
  Start();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].startsWith(
      QStringLiteral("Class TfrmMain exception: Unable to write to ")))
      << dialogs_.messages[0].toStdString();
  window_->show();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(window_->ui->Label2->text(), QStringLiteral("串口号："));
}

// A language file the pass cannot write shows why as the message's second
// paragraph, and the error log keeps the same reason.
TEST_F(MainLanguage, LanguageFileThatCannotBeWrittenShowsAndLogsItsReason) {
  const struct {
    const char* name;
    std::function<bool(const QString& path)> make;
    const char* reason;
  } cases[] = {
      {"folder", [](const QString& path) { return QDir().mkdir(path); }, "It is a folder"},
      {"named pipe",
       [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0; },
       "It is a named pipe (FIFO)"},
      {"50 MB file",
       [](const QString& path) {
         QFile file(path);
         return file.open(QIODevice::WriteOnly) && file.resize(50 << 20);
       },
       "too large"},
  };
  InstallShippedData(/*withChineseFile=*/false);
  const QString languageFile = folder_.file(QStringLiteral("LangCHN.MUL"));
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const QByteArray name = QFile::encodeName(languageFile);
    if (::unlink(name.constData()) != 0) ::rmdir(name.constData());
    QFile::remove(folder_.file(QStringLiteral("sys/SysErrorMsg.dt")));
    ASSERT_TRUE(test.make(languageFile));
    dialogs_.messages.clear();
    dialogs_.lastInformativeText.clear();
    Start();
    EXPECT_EQ(dialogs_.messages,
              QStringList{"Class TfrmMain exception: Unable to write to " + languageFile});
    EXPECT_TRUE(dialogs_.lastInformativeText.contains(test.reason))
        << dialogs_.lastInformativeText.toStdString();
    EXPECT_EQ(LogEntries(), QStringList{"Apply LangFile error, reason: Unable to write to " +
                                        languageFile + ": " + dialogs_.lastInformativeText});
  }
}

// The shipped Chinese file is exactly what a first run writes against a
// missing file. A first run's file is kept beside the test program to
// replace data/LangCHN.MUL when the designed texts change.
TEST_F(MainLanguage, ShippedChineseFileIsWhatAFirstRunWrites) {
  InstallShippedData(/*withChineseFile=*/false);
  Start();
  TfrmSetLang dialog;
  dialog.show();
  dialog.close();
  const QByteArray written = ReadFileBytes(folder_.file(QStringLiteral("LangCHN.MUL")));
  const QString kept =
      QCoreApplication::applicationDirPath() + QStringLiteral("/LangCHN.first-run.MUL");
  QFile::remove(kept);
  QFile::copy(folder_.file(QStringLiteral("LangCHN.MUL")), kept);
  EXPECT_TRUE(written == ReadFileBytes(kDataDir + QStringLiteral("/LangCHN.MUL")))
      << "data/LangCHN.MUL differs from a first run; see " << kept.toStdString();
}

// Reads "[section]" and "key=value" lines of a GBK language file.
QMap<QString, QString> LanguageFileKeys(const QString& path) {
  QMap<QString, QString> keys;
  QString section;
  for (const QString& line :
       platform::DecodeGbk(ReadFileBytes(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
    if (line.startsWith(QLatin1Char('['))) {
      section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq > 0) keys.insert(section + QLatin1Char('/') + line.left(eq), line.mid(eq + 1));
  }
  return keys;
}

TEST(ShippedLanguageFiles, EnglishHasEveryKeyOfChineseAndNoChinese) {
  const auto chn = LanguageFileKeys(kDataDir + QStringLiteral("/LangCHN.MUL"));
  const auto enu = LanguageFileKeys(kDataDir + QStringLiteral("/LangENU.MUL"));
  ASSERT_FALSE(chn.isEmpty());
  EXPECT_EQ(chn.keys(), enu.keys());
  for (auto it = enu.cbegin(); it != enu.cend(); ++it) {
    EXPECT_FALSE(HasChinese(it.value())) << it.key().toStdString();
    if (!chn.value(it.key()).isEmpty()) {
      EXPECT_FALSE(it.value().isEmpty()) << it.key().toStdString();
    }
  }
}

}  // namespace
