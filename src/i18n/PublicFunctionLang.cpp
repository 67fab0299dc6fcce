// The language choice: shared language state, the settings file and the
// application of the current language file.
#include <QCoreApplication>
#include <QWidget>

#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "i18n/untMultiLang.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"

quint16 CurLangID = 0;
QString CurLangFile;
QString CurLangTxtFile;

namespace {

const QString kLang = QStringLiteral("Lang");
const QString kLangID = QStringLiteral("LangID");
const QString kSys = QStringLiteral("sys");

// The application title is the application's name: the dialogs show it as
// their caption. (An explicit display name would also be appended to every
// window title by some window systems.)
void SetApplicationTitle(const QString& title) {
  if (QCoreApplication::instance()) QCoreApplication::setApplicationName(title);
}

void ActivateWith(TMulLang* component) {
  component->SetActive(false);
  component->SetLangFileName(CurLangFile);
  component->SetActive(true);
}

}  // namespace

QString SettingsFilePath() {
  return platform::ProgramPath(QStringLiteral("sys/System.dt"));
}

void LoadLangID() {
  try {
    const platform::ProfileFile ini(SettingsFilePath());
    // Out-of-range numbers wrap: -1 reads as 65535 and is written back so.
    // A value that is not a number as a whole ("12abc") reads as 0.
    const QString stored = ini.ReadString(kLang, kLangID, QString());
    CurLangID = static_cast<quint16>(platform::ProfileNumber(stored).value_or(0));
    ini.WriteInt(kLang, kLangID, CurLangID);
    if (frmDM) frmDM->GetLangFile(CurLangID);
  } catch (const platform::Exception& e) {
    WriteErrorLog(QStringLiteral("Load system.dt error, reason: ") + e.Description());
  }
}

void SaveLangID() {
  try {
    const platform::ProfileFile ini(SettingsFilePath());
    ini.WriteInt(kLang, kLangID, CurLangID);
  } catch (const platform::Exception& e) {
    WriteErrorLog(QStringLiteral("Save LangID error, reason: ") + e.Description());
  }
}

void ApplyLangFile(TMulFormLang* form, TMulMenuLang* menu) {
  if (RepeatTrimmed(CurLangFile, 1).isEmpty()) {
    WriteErrorLog(QStringLiteral("LangFile is empty. LangId is ") + QString::number(CurLangID));
    CurLangID = 0;
    return;
  }
  try {
    if (form) ActivateWith(form);
    if (menu) ActivateWith(menu);
  } catch (const platform::EProfileWriteError& e) {
    // Shown by whoever changed the language; the log keeps it with its reason.
    WriteErrorLog(QStringLiteral("Apply LangFile error, reason: ") + e.Description());
    throw;
  }
}

QString GetMainCaption() {
  // The three keys written back reach the file in one replacement.
  platform::ProfileBatch ini(SettingsFilePath());
  const QString caption =
      ini.ReadString(kSys, QStringLiteral("MainCaption"), QStringLiteral("Quillon_II"));
  const QString showVer = ini.ReadString(kSys, QStringLiteral("ShowVer"), QStringLiteral("1"));
  SetApplicationTitle(caption);
  QString result = caption;
  if (showVer == QLatin1String("1")) result += QLatin1Char(' ') + QLatin1String(kVersionText);
  const QString showHelp = ini.ReadString(kSys, QStringLiteral("ShowHelp"), QStringLiteral("1"));
  ini.WriteString(kSys, QStringLiteral("MainCaption"), caption);
  ini.WriteString(kSys, QStringLiteral("ShowVer"), showVer);
  ini.WriteString(kSys, QStringLiteral("ShowHelp"), showHelp);
  ini.Commit();
  return result;
}
