#pragma once

#include "i18n/untBase.h"
#include "platform/LangDb.h"

namespace Ui {
class TfrmSetLang;
}

// The language dialog: the languages of the language database in a drop-down
// list (shown LangName, key LangID); OK makes the chosen one current and
// saves it, Cancel changes nothing.
class TfrmSetLang : public TfrmBase {
  Q_OBJECT

 public:
  explicit TfrmSetLang(QWidget* parent = nullptr);
  ~TfrmSetLang() override;

  Ui::TfrmSetLang* ui;

  // "Select * from LangFileInfo" ordered by the first column, on the data
  // module's connection.
  platform::LangDbQuery qryLang;

  void btnOKClick();
  void btnCancelClick();

 protected:
  void FormShow() override;

 private:
  void FillLanguageList();
  void DBLookupComboBox1Change(int index);
};
