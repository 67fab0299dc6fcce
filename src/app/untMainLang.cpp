// The main window's language: start-up in the saved language, switching
// through the language dialog, and the texts that do not come from the
// language file.
#include <QApplication>
#include <memory>

#include "app/PortList.h"
#include "app/untMain.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "i18n/untMultiLang.h"
#include "i18n/untSetLang.h"
#include "params/ParamPanel.h"
#include "serial/Comm.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui_untMain.h"

namespace {

// Sets the screen cursor back to the default when the scope ends, also when
// a failure passes through it.
class DefaultCursorAtEnd {
 public:
  DefaultCursorAtEnd() = default;
  ~DefaultCursorAtEnd() {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  }
  DefaultCursorAtEnd(const DefaultCursorAtEnd&) = delete;
  DefaultCursorAtEnd& operator=(const DefaultCursorAtEnd&) = delete;
};

// The window's language components as designed, and the menu command.
void CreateLanguageComponents(TfrmMain* window) {
  window->MulFormLang1 = new TMulFormLang(window);
  window->MulFormLang1->setObjectName(QStringLiteral("MulFormLang1"));
  window->MulFormLang1->SetIncludeListViewHead(true);
  // The version labels show the connected converter's data, not design
  // texts. Left in, a pass while connected would store that converter's
  // version in the language file and show it at the next start.
  window->MulFormLang1->SetIgnoreControls(
      {QStringLiteral("LbSMainVer"), QStringLiteral("LbSwtimer"), QStringLiteral("LbHwmainVer")});
  window->MulMenuLang1 = new TMulMenuLang(window);
  window->MulMenuLang1->setObjectName(QStringLiteral("MulMenuLang1"));
  window->MulMenuLang1->SetMenu(window->ui->MainMenu1);
  ui::ConnectGuarded(window->ui->N3, &QAction::triggered, window, [window] { window->N3Click(); });
}

}  // namespace

void TfrmMain::LanguageStartup() {
  CreateLanguageComponents(this);
  // A failure here (a language or settings file that cannot be written) is
  // the window creation's failure: it is reported like any other, and the
  // window comes up with the texts it has.
  try {
    LoadLangID();
    if (frmDM) {
      if (CurLangID == 0)
        frmDM->LangCode = QStringLiteral("chn");
      else if (CurLangID == 1)
        frmDM->LangCode = QStringLiteral("enu");
      frmDM->GetLangFile(CurLangID);
    }
    RefreshLanguage();
  } catch (...) {
    ui::ReportCurrentException(this);
  }
}

void TfrmMain::RefreshLanguage() {
  ApplyLangFile(MulFormLang1, MulMenuLang1);
  // The caption always comes from the settings file, over the language file.
  setWindowTitle(GetMainCaption());
  if (frmDM) ApplyLangFile(nullptr, frmDM->mLangMsgs);
  if (Comm1) UpdateConnCaption();
  // Built when the list was filled, before the language code was known.
  app::RetranslatePortList(ui->cbxPort);
  if (Panel) Panel->UpdateFilterCaption();
}

void TfrmMain::N3Click() {
  DefaultCursorAtEnd cursor;
  // Released when it has closed.
  auto dialog = std::make_unique<TfrmSetLang>();
  if (dialog->exec() == QDialog::Accepted) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RefreshLanguage();
    ui::Dialogs().ShowMessage(QStringLiteral("ok!"));
  }
}
