#include "i18n/untDM.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>

#include "i18n/LangDbPassword.h"
#include "i18n/PublicFunction.h"
#include "i18n/untMultiLang.h"
#include "platform/ProgramFolder.h"
#include "ui/Dialogs.h"

TfrmDM* frmDM = nullptr;

namespace {

// One catalogue entry: item name and its Chinese caption. The English texts
// come from the English language file.
struct CatalogueEntry {
  const char* name;
  const char* chn;
};

struct CatalogueGroup {
  const char* name;
  const char* chn;
  std::initializer_list<CatalogueEntry> entries;
};

// The messages the program shows, by subject.
const CatalogueGroup kCatalogue[] = {
    {"N_Device",
     "设备操作",
     {{"N_SendError", "发送出错！"},
      {"N_RestoreSendError", "恢复默认配置发送出错！"},
      {"N_Timeout", "操作超时!"},
      {"N_ReadOk", "获取配置成功!"},
      {"N_WriteOk", "写配置成功!"},
      {"N_RestoreFail", "获取默认设置参数失败！"},
      {"N_OperatingError", "操作出错："},
      {"N_Connect", "连接"},
      {"N_Disconnect", "断开"}}},
    {"N_Params",
     "参数设置",
     {{"N_SetSendError", "设置发送出错！"},
      {"N_StdIdRange", "当帧类型为标准帧时，有效值范围为：[0,7FF]"},
      {"N_ExtIdRange", "当帧类型为扩展帧时，有效值范围为：[0,1FFFFFFF]"},
      {"N_StdIdLength", "当帧类型为标准帧时，CAN ID在串行帧中的长度范围:[1,2]字节."},
      {"N_FilterOn", "过滤有效"},
      {"N_FilterOff", "过滤无效"}}},
    {"N_Files",
     "参数文件",
     {{"N_SelectImportFile", "请选择导入文件！"},
      {"N_FileSizeBad", "文件大小不一致，已被破坏！"},
      {"N_CmdLengthBad", "命令长度不一致！"},
      {"N_FileCorrupted", "文件已被破坏！"},
      {"N_CrcBad", "CRC不一致，文件已被破坏！"},
      {"N_SaveOk", "数据参数保存成功！"},
      {"N_FileExists", "文件已经存在,是否覆盖?"},
      {"N_BinFilter", "BIN文件(*.bin)"}}},
};

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
  ConnectDatabase();
}

void TfrmDM::CreateMessageCatalogue() {
  catalogue_ = std::make_unique<QMenu>();
  pmMsgs = catalogue_.get();
  pmMsgs->setObjectName(QStringLiteral("pmMsgs"));
  for (const CatalogueGroup& group : kCatalogue) {
    QMenu* sub = pmMsgs->addMenu(QString::fromUtf8(group.chn));
    sub->setObjectName(QString::fromLatin1(group.name));
    sub->menuAction()->setObjectName(QString::fromLatin1(group.name));
    for (const CatalogueEntry& entry : group.entries) {
      QAction* item = sub->addAction(QString::fromUtf8(entry.chn));
      item->setObjectName(QString::fromLatin1(entry.name));
    }
  }
}

bool TfrmDM::ConnectDatabase() {
  const QString path = platform::ProgramPath(QStringLiteral("sys/QNdata.adt"));
  try {
    conn1.Close();
    conn1.ConnectionString = LangDbConnectionText(path);
    conn1.Open();
    return conn1.Connected();
  } catch (const platform::Exception& e) {
    ui::Dialogs().ShowMessage(QStringLiteral("Connect to database error, ") + e.Text());
    return false;
  }
}

QString TfrmDM::GetLangFile(quint16 n) {
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
    WriteErrorLog(QStringLiteral("Get LangFile error: ") + e.Text());
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
