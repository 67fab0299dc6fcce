// The base dialog and the language dialog.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "LangFixture.h"
#include "i18n/untBase.h"
#include "i18n/untSetLang.h"
#include "i18n/untSetLangForm.h"
#include "ui/Application.h"

namespace {

using lang_testing::LangFixture;

class SetLangDialog : public LangFixture {
 protected:
  void SetUp() override {
    LangFixture::SetUp();
    // The application-wide handler records what escaped, as the window's
    // handler would show it.
    ui::SetExceptionHandler([this](QObject* sender, const QString& text, const QString&) {
      escapedFailures_.append(ui::EscapedFailureText(sender, text));
    });
    WriteFile(QStringLiteral("LangENU.MUL"),
              {QStringLiteral("[TfrmSetLang]"), QStringLiteral("frmSetLang_Caption=Language"),
               QStringLiteral("Label1_Caption=Select a language:"),
               QStringLiteral("btnOK_Caption=OK"), QStringLiteral("btnCancel_Caption=Cancel")});
  }

  void StartWith(quint16 id, const QString& code) {
    CurLangID = id;
    dm_->GetLangFile(id);
    dm_->LangCode = code;
  }

  std::unique_ptr<TfrmSetLang> ShowDialog() {
    auto dialog = std::make_unique<TfrmSetLang>();
    dialog->show();
    return dialog;
  }

  void TearDown() override {
    ui::SetExceptionHandler({});
    LangFixture::TearDown();
  }

  QString Settings() const { return ReadFile(QStringLiteral("sys/System.dt")); }

  QStringList escapedFailures_;
};

TEST_F(SetLangDialog, ShowTranslatesAndPreselectsTheCurrentLanguage) {
  MakeDatabase();
  CreateDataModule();
  StartWith(1, QStringLiteral("enu"));
  auto dialog = ShowDialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Language"));
  EXPECT_EQ(dialog->ui->Label1->text(), QStringLiteral("Select a language:"));
  EXPECT_EQ(dialog->ui->btnOK->text(), QStringLiteral("OK"));
  EXPECT_EQ(dialog->ui->btnCancel->text(), QStringLiteral("Cancel"));
  QComboBox* list = dialog->ui->DBLookupComboBox1;
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->itemText(0), QStringLiteral("简体中文"));  // never translated
  EXPECT_EQ(list->itemData(2).toInt(), 2);
  EXPECT_EQ(list->currentText(), QStringLiteral("English"));
  EXPECT_TRUE(dialog->testAttribute(Qt::WA_WState_Visible));
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(
      ReadFile(QStringLiteral("LangENU.MUL")).contains(QStringLiteral("DBLookupComboBox1")));
}

struct ChoiceCase {
  int row;
  quint16 id;
  const char* code;
};

class SetLangChoices : public SetLangDialog, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(SetLangChoices, OkMakesTheChosenLanguageCurrentAndSavesIt) {
  MakeDatabase();
  CreateDataModule();
  StartWith(1, QStringLiteral("enu"));
  auto dialog = ShowDialog();
  dialog->ui->DBLookupComboBox1->setCurrentIndex(GetParam().row);
  QTest::mouseClick(dialog->ui->btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(CurLangID, GetParam().id);
  EXPECT_EQ(dm_->LangCode, QString::fromLatin1(GetParam().code));
  EXPECT_TRUE(Settings().contains(QStringLiteral("LangID=%1\r\n").arg(GetParam().id)));
}

INSTANTIATE_TEST_SUITE_P(Rows, SetLangChoices,
                         testing::Values(ChoiceCase{0, 0, "chn"}, ChoiceCase{1, 1, "enu"},
                                         ChoiceCase{2, 2, "enu"}));

TEST_F(SetLangDialog, OnlyTheExactChineseNameGivesChn) {
  MakeDatabase(QStringLiteral(
      "CREATE TABLE LangFileInfo (LangID INTEGER, LangName TEXT, LangFile TEXT, LangTxtFile TEXT);"
      "INSERT INTO LangFileInfo VALUES (0, '简体中文 ', 'LangCHN.MUL', 'a');"
      "INSERT INTO LangFileInfo VALUES (1, '繁體中文', 'LangCHT.MUL', 'b');"));
  CreateDataModule();
  StartWith(0, QStringLiteral("chn"));
  for (int row : {0, 1}) {
    auto dialog = ShowDialog();
    dialog->ui->DBLookupComboBox1->setCurrentIndex(row);
    dialog->btnOKClick();
    EXPECT_EQ(dm_->LangCode, QStringLiteral("enu")) << row;
    EXPECT_EQ(CurLangID, row);
  }
}

TEST_F(SetLangDialog, CancelAndClosingChangeNothing) {
  MakeDatabase();
  CreateDataModule();
  StartWith(0, QStringLiteral("chn"));
  CurLangID = 0;
  SaveLangID();
  const QString before = Settings();
  for (bool viaButton : {true, false}) {
    auto dialog = ShowDialog();
    dialog->ui->DBLookupComboBox1->setCurrentIndex(1);
    if (viaButton)
      QTest::mouseClick(dialog->ui->btnCancel, Qt::LeftButton);
    else
      dialog->close();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(CurLangID, 0);
    EXPECT_EQ(dm_->LangCode, QStringLiteral("chn"));
    EXPECT_EQ(Settings(), before);
    EXPECT_TRUE(dialogs_.messages.isEmpty());
  }
}

TEST_F(SetLangDialog, LanguageWithoutRowShowsNoSelectionAndOkTakesThePositionedRow) {
  MakeDatabase();
  CreateDataModule();
  StartWith(1, QString());
  CurLangID = 9;  // no row, while the language file of 1 stays current
  auto dialog = ShowDialog();
  EXPECT_EQ(dialog->ui->DBLookupComboBox1->currentIndex(), -1);
  EXPECT_EQ(dialog->ui->DBLookupComboBox1->currentText(), QString());
  dialog->btnOKClick();
  EXPECT_EQ(CurLangID, 0);
  EXPECT_EQ(dm_->LangCode, QStringLiteral("enu"));
}

TEST_F(SetLangDialog, WithoutDatabaseTheFailureEscapesAndOkDoesNothing) {
  CreateDataModule();  // no database file
  StartWith(1, QStringLiteral("enu"));
  auto dialog = ShowDialog();
  EXPECT_TRUE(dialog->isVisible());
  ASSERT_EQ(escapedFailures_.size(), 1);
  EXPECT_TRUE(escapedFailures_[0].startsWith(QStringLiteral("Class TfrmSetLang exception: ")));
  EXPECT_EQ(dialog->ui->DBLookupComboBox1->count(), 0);
  dialog->btnOKClick();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dm_->LangCode, QStringLiteral("enu"));
  EXPECT_FALSE(QFile::exists(folder_.file(QStringLiteral("sys/System.dt"))));
}

// A dialog that records what the base dialog hands it.
class ProbeDialog : public TfrmBase {
 public:
  ProbeDialog() {
    setObjectName(QStringLiteral("frmProbe"));
    first = new QPushButton(QStringLiteral("first"), this);
    second = new QPushButton(QStringLiteral("second"), this);
    first->setAutoDefault(false);
    second->setAutoDefault(false);
    LangOnShow = false;
  }
  QPushButton* first;
  QPushButton* second;
  int shows = 0;
  bool allowClose = true;
  bool swallowKeys = false;
  QList<int> keys;
  QList<quintptr> normal;
  QList<quintptr> special;

 protected:
  void DoShow() override { ++shows; }
  void DoKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift) override {
    keys.append(Key);
    TfrmBase::DoKeyDown(Sender, Key, Shift);
    if (swallowKeys) Key = 0;
  }
  bool CanCloseForm() override { return allowClose; }
  void DoCustomMessage(WindowMessage& m) override { normal.append(m.WParam); }
  void DoCustomMessage255(WindowMessage& m) override { special.append(m.WParam); }
};

class BaseDialog : public LangFixture {};

TEST_F(BaseDialog, EnterMovesToTheNextControlAndKeepsTheKey) {
  ProbeDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.shows, 1);
  dialog.first->setFocus();
  QApplication::setActiveWindow(&dialog);
  ASSERT_EQ(QApplication::focusWidget(), dialog.first);
  int clicks = 0;
  QObject::connect(dialog.first, &QPushButton::clicked, [&] { ++clicks; });
  QTest::keyClick(dialog.first, Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), dialog.second);
  QTest::keyClick(dialog.second, Qt::Key_A);
  ASSERT_EQ(dialog.keys.size(), 2);
  EXPECT_EQ(dialog.keys[0], TfrmBase::kVkReturn);
  EXPECT_EQ(dialog.keys[1], int(Qt::Key_A));
  EXPECT_EQ(clicks, 0);

  // A swallowed key never reaches the control.
  dialog.swallowKeys = true;
  QObject::connect(dialog.second, &QPushButton::clicked, [&] { ++clicks; });
  dialog.second->setFocus();
  QTest::keyClick(dialog.second, Qt::Key_Space);
  EXPECT_EQ(clicks, 0);
}

TEST_F(BaseDialog, RefusedCloseKeepsTheDialogOpen) {
  ProbeDialog dialog;
  dialog.show();
  dialog.allowClose = false;
  dialog.close();
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible());
  dialog.allowClose = true;
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(BaseDialog, Message4342IsDispatchedByItsFirstParameter) {
  ProbeDialog dialog;
  CustomMessageEvent special(255);
  QCoreApplication::sendEvent(&dialog, &special);
  CustomMessageEvent normal(7, 1);
  QCoreApplication::sendEvent(&dialog, &normal);
  QCoreApplication::postEvent(&dialog, new CustomMessageEvent(0));
  QCoreApplication::sendPostedEvents(&dialog);
  EXPECT_EQ(dialog.special, QList<quintptr>{255});
  EXPECT_EQ(dialog.normal, (QList<quintptr>{7, 0}));
}

}  // namespace
