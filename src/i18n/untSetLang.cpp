#include "i18n/untSetLang.h"

#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "i18n/untMultiLang.h"
#include "ui_untSetLang.h"

namespace {

const QString kChineseName = QStringLiteral("简体中文");

}  // namespace

TfrmSetLang::TfrmSetLang(QWidget* parent)
    : TfrmBase(parent), ui(new Ui::TfrmSetLang), qryLang(frmDM ? &frmDM->conn1 : nullptr) {
  ui->setupUi(this);
  // 11 pixels high at 96 dots per inch.
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  setFont(font);
  setProperty(mullang::kFontCharsetProperty, mullang::kDefaultCharset);
  qryLang.SQL = QStringLiteral("Select * from LangFileInfo\r\n  order by 1");
  connect(ui->btnOK, &QPushButton::clicked, this, &TfrmSetLang::btnOKClick);
  connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmSetLang::btnCancelClick);
  connect(ui->DBLookupComboBox1, &QComboBox::currentIndexChanged, this,
          &TfrmSetLang::DBLookupComboBox1Change);
}

TfrmSetLang::~TfrmSetLang() {
  delete ui;
}

void TfrmSetLang::FormShow() {
  // The list is filled from the database only after the language pass:
  // language names are never translated.
  ui->DBLookupComboBox1->clear();
  qryLang.Close();
  TfrmBase::FormShow();
  if (frmDM) frmDM->FinishConnect();
  qryLang.Open();  // a failure goes to the application-wide handler
  FillLanguageList();
  if (qryLang.Locate(QStringLiteral("LangID"), static_cast<int>(CurLangID)))
    ui->DBLookupComboBox1->setCurrentIndex(qryLang.RecNo());
  else
    ui->DBLookupComboBox1->setCurrentIndex(-1);
}

void TfrmSetLang::FillLanguageList() {
  const QSignalBlocker blocker(ui->DBLookupComboBox1);
  for (int row = 0; row < qryLang.RecordCount(); ++row)
    ui->DBLookupComboBox1->addItem(qryLang.Value(row, QStringLiteral("LangName")).toString(),
                                   qryLang.Value(row, QStringLiteral("LangID")));
}

void TfrmSetLang::DBLookupComboBox1Change(int index) {
  if (index >= 0) qryLang.MoveTo(index);
}

void TfrmSetLang::btnOKClick() {
  if (!qryLang.Active() || qryLang.IsEmpty()) return;
  CurLangID = static_cast<quint16>(qryLang.FieldAsInteger(QStringLiteral("LangID")));
  if (frmDM) frmDM->GetLangFile(CurLangID);
  SaveLangID();
  done(QDialog::Accepted);
  if (frmDM)
    frmDM->LangCode = ui->DBLookupComboBox1->currentText() == kChineseName ? QStringLiteral("chn")
                                                                           : QStringLiteral("enu");
}

void TfrmSetLang::btnCancelClick() {
  done(QDialog::Rejected);
}
