#include "i18n/untDM.h"

TfrmDM* frmDM = nullptr;

TfrmDM::TfrmDM(QObject* parent) : QObject(parent) {
  setObjectName(QStringLiteral("frmDM"));
  if (!frmDM) frmDM = this;
}

TfrmDM::~TfrmDM() {
  if (frmDM == this) frmDM = nullptr;
}

QString LangText(const QString& chn, const QString& enu) {
  return (frmDM && frmDM->LangCode == QLatin1String("chn")) ? chn : enu;
}
