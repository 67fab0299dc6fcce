#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <memory>

#include "i18n/LangDbPassword.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "platform/Codepage.h"
#include "platform/LangDb.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"

namespace lang_testing {

// The language table of the tests: the two shipped languages and a third.
inline const QString kThreeLanguages = QStringLiteral(
    "CREATE TABLE LangFileInfo (LangID INTEGER PRIMARY KEY, LangName TEXT, LangFile TEXT,"
    " LangTxtFile TEXT);"
    "INSERT INTO LangFileInfo VALUES (0, '简体中文', 'LangCHN.MUL', 'LangCHN.TXT');"
    "INSERT INTO LangFileInfo VALUES (1, 'English', 'LangENU.MUL', 'LangENU.TXT');"
    "INSERT INTO LangFileInfo VALUES (2, 'Deutsch', 'LangDEU.MUL', 'LangDEU.TXT');");

// A program folder with its own database, settings and language files, the
// scripted dialog seam, a fresh data module and fresh language state.
class LangFixture : public testing::Test {
 protected:
  void SetUp() override { ResetLanguageState(); }
  void TearDown() override {
    dm_.reset();
    ResetLanguageState();
  }

  static void ResetLanguageState() {
    CurLangID = 0;
    CurLangFile.clear();
    CurLangTxtFile.clear();
  }

  void MakeDatabase(const QString& script = kThreeLanguages,
                    const QString& password = QString::fromLatin1(kLangDbPassword)) {
    platform::CreateLangDb(folder_.file(QStringLiteral("sys/QNdata.adt")), password, script);
  }

  void CreateDataModule() { dm_ = std::make_unique<TfrmDM>(); }

  // Writes a file in GBK with CR LF line ends.
  void WriteFile(const QString& relative, const QStringList& lines) {
    QFile f(folder_.file(relative));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(platform::EncodeGbk(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
  }

  QString ReadFile(const QString& relative) const {
    QFile f(folder_.file(relative));
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return platform::DecodeGbk(f.readAll());
  }

  // The texts of the error log's entries, without time stamps.
  QStringList LogEntries() const {
    QStringList texts;
    const QStringList lines =
        ReadFile(QStringLiteral("sys/SysErrorMsg.dt")).split(QStringLiteral("\r\n"));
    for (const QString& line : lines)
      if (!line.isEmpty()) texts.append(line.section(QLatin1Char('\t'), 1, 1));
    return texts;
  }

  testing_support::TempProgramFolder folder_;
  testing_support::ScriptedDialogs dialogs_;
  std::unique_ptr<TfrmDM> dm_;
};

}  // namespace lang_testing
