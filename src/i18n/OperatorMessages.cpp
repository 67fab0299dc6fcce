#include "i18n/OperatorMessages.h"

#include <string>

#include "i18n/untDM.h"
#include "ui/Dialogs.h"

QString MsgText(messages::Msg id) {
  const std::string langCode = frmDM ? frmDM->LangCode.toStdString() : std::string();
  return QString::fromUtf8(messages::MessageText(id, langCode));
}

void ShowMsg(messages::Msg id) {
  ui::Dialogs().ShowMessage(MsgText(id));
}
