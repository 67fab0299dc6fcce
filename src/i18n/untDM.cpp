#include "i18n/untDM.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>
#include <string_view>

#include "i18n/LangDbPassword.h"
#include "i18n/PublicFunction.h"
#include "i18n/untMultiLang.h"
#include "messages/Messages.h"
#include "platform/ProgramFolder.h"
#include "ui/Dialogs.h"

TfrmDM* frmDM = nullptr;

namespace {

bool IsDriveLetterPath(const QString& name) {
  return name.size() >= 2 && name[0].isLetter() && name[1] == QLatin1Char(':');
}

}  // namespace

TfrmDM::TfrmDM(QObject* parent) : QObject(parent), pmMsgs(nullptr), mLangMsgs(nullptr) {
  setObjectName(QStringLiteral("frmDM"));
  setProperty(mullang::kComponentKindProperty, QStringLiteral("DataModule"));
  if (!frmDM) frmDM = this;
  CreateMessageCatalogue();
  mLangMsgs = new TMulMenuLang(this);
  mLangMsgs->setObjectName(QStringLiteral("mLangMsgs"));
  mLangMsgs->SetMenu(pmMsgs);
  DataModuleCreate();
}

TfrmDM::~TfrmDM() {
  if (frmDM == this) frmDM = nullptr;
}

void TfrmDM::DataModuleCreate() {
  // The key derivation of the open runs while the main window is being
  // built; the first lookup waits for it and shows its failure.
  conn1.Close();
  conn1.ConnectionString = LangDbConnectionText(DatabasePath());
  conn1.BeginOpen();
}

void TfrmDM::FinishConnect() {
  if (!conn1.Opening()) return;
  try {
    conn1.FinishOpen();
  } catch (const platform::Exception& e) {
    ShowConnectError(e);
  }
}

void TfrmDM::ShowConnectError(const platform::Exception& e) {
  ui::Dialogs().ShowMessage(QStringLiteral("Connect to database error, ") + e.Text());
}

QString TfrmDM::DatabasePath() {
  return platform::ProgramPath(QStringLiteral("sys/QNdata.adt"));
}

void TfrmDM::CreateMessageCatalogue() {
  catalogue_ = std::make_unique<QMenu>();
  pmMsgs = catalogue_.get();
  pmMsgs->setObjectName(QStringLiteral("pmMsgs"));
  // One submenu per group, holding the group's messages that have a
  // catalogue key, with their Chinese texts; the English ones come from the
  // English language file.
  for (const messages::MessageGroup& group : messages::MessageGroups()) {
    QMenu* sub = pmMsgs->addMenu(QString::fromUtf8(group.chn));
    sub->setObjectName(QString::fromLatin1(group.key));
    sub->menuAction()->setObjectName(QString::fromLatin1(group.key));
    for (const messages::MessageRow& row : messages::MessageTable()) {
      if (!row.key || std::string_view(row.group) != group.key) continue;
      QAction* item = sub->addAction(QString::fromUtf8(row.chn));
      item->setObjectName(QString::fromLatin1(row.key));
    }
  }
}

bool TfrmDM::ConnectDatabase() {
  try {
    conn1.Close();
    conn1.ConnectionString = LangDbConnectionText(DatabasePath());
    conn1.Open();
    return conn1.Connected();
  } catch (const platform::Exception& e) {
    ShowConnectError(e);
    return false;
  }
}

QString TfrmDM::GetLangFile(quint16 n) {
  FinishConnect();
  try {
    platform::LangDbQuery query(&conn1);
    query.SQL = QStringLiteral("Select * from LangFileInfo where LangId=") + QString::number(n);
    query.Open();
    if (query.IsEmpty()) return QString();
    QString file = query.FieldAsString(QStringLiteral("LangFile"));
    const QString txtFile = query.FieldAsString(QStringLiteral("LangTxtFile"));
    if (!IsSafeLangFileName(file)) {
      // A name that reaches outside the program folder is never opened: the
      // row counts as one without a language file.
      WriteErrorLog(QStringLiteral("Get LangFile error: unsafe language file name '%1'").arg(file));
      file.clear();
    }
    CurLangFile = file;
    CurLangTxtFile = txtFile;
    return file;
  } catch (const platform::Exception& e) {
    WriteErrorLog(QStringLiteral("Get LangFile error: ") + e.Description());
    return QString();
  }
}

QString LangText(const QString& chn, const QString& enu) {
  return (frmDM && frmDM->LangCode == QLatin1String("chn")) ? chn : enu;
}

QString LangDbConnectionText(const QString& path) {
  // The path is quoted only when it could be misread.
  QString source = path;
  if (path.contains(QLatin1Char(';')) || path.startsWith(QLatin1Char('"')) ||
      path.startsWith(QLatin1Char('\'')) || path != path.trimmed())
    source = QLatin1Char('"') + QString(path).replace(QLatin1String("\""), QLatin1String("\"\"")) +
             QLatin1Char('"');
  return QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + source +
         QStringLiteral(";Persist Security Info=False;Jet OLEDB:Database Password=") +
         QString::fromLatin1(kLangDbPassword);
}

bool IsSafeLangFileName(const QString& name) {
  const QString trimmed = name.trimmed();
  if (trimmed.startsWith(QLatin1Char('/')) || trimmed.startsWith(QLatin1Char('\\')) ||
      IsDriveLetterPath(trimmed))
    return false;
  const QStringList steps = trimmed.split(QRegularExpression(QStringLiteral("[/\\\\]")));
  for (const QString& step : steps)
    if (step.trimmed() == QLatin1String("..")) return false;
  return true;
}
