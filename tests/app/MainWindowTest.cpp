#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "platform/Exception.h"
#include "support/ScriptedDialogs.h"
#include "support/TempProgramFolder.h"
#include "ui/Application.h"

namespace {

using testing_support::ScriptedDialogs;
using testing_support::TempProgramFolder;

// The program's start-up order: the data module, then the window. The
// temporary program folder has no language database; what the start-up says
// about that is not the subject here.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() { dialogs_.messages.clear(); }

  TempProgramFolder folder_;
  ScriptedDialogs dialogs_;
  TfrmDM dataModule_;
  std::unique_ptr<TfrmMain> window_ = std::make_unique<TfrmMain>();
  Ui::TfrmMain& ui() { return *window_->ui; }
};

TEST_F(MainWindowTest, PortListIsFixedCom1ToCom255WithCom1Selected) {
  QComboBox* ports = ui().cbxPort;
  ASSERT_EQ(ports->count(), 255);
  for (int i = 0; i < ports->count(); ++i)
    EXPECT_EQ(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
  EXPECT_EQ(ports->currentIndex(), 0);
  EXPECT_EQ(ports->currentText(), "COM1");
}

TEST_F(MainWindowTest, ThreeTabsVisibleAndConversionTabShown) {
  QTabWidget* tabs = ui().pgcFunc;
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(ui().tsConvert)));
  EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(ui().tsCOM)));
  EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(ui().tsCAN)));
  EXPECT_FALSE(tabs->isTabVisible(tabs->indexOf(ui().TabSheet1)));
  EXPECT_EQ(tabs->currentWidget(), ui().tsConvert);
  EXPECT_TRUE(tabs->isEnabled());

  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_FALSE(ui().TabSheet1->isVisible());
  EXPECT_FALSE(ui().Button1->isVisible());
  tabs->setCurrentWidget(ui().tsCAN);
  window_->hide();
  window_->show();  // showing again returns to the first tab
  EXPECT_EQ(tabs->currentWidget(), ui().tsConvert);
}

TEST_F(MainWindowTest, DisconnectedStateAfterCreation) {
  const QList<QWidget*> disabled = {
      ui().cbxChgType,       ui().cbxChgDirection,    ui().chkCANInfoInPort, ui().chkCANIDInPort,
      ui().EdtUsrCANID,      ui().spEdtOffSet,        ui().spEdtLen,         ui().spEdtInterval,
      ui().btnDefCfg,        ui().btnReadCfg,         ui().btnWriteCfg,      ui().cbbBaudRate,
      ui().cbbByteSize,      ui().cbbParity,          ui().cbbStopBits,      ui().CbxCANBaudrate,
      ui().cbxUsrFrameTp,    ui().chkActiveRecFilter, ui().cbxFilterFrame,   ui().cbxFilterID,
      ui().edtFilterChkCode, ui().edtFilterMaskCode};
  for (QWidget* control : disabled)
    EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();

  const QList<QWidget*> enabled = {ui().cbxPort, ui().btnConn, ui().chkCanInfo, ui().chkCanId,
                                   ui().EdtDataCANID};
  for (QWidget* control : enabled)
    EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();

  EXPECT_FALSE(ui().N1->isEnabled());
  EXPECT_FALSE(ui().N2->isEnabled());
  EXPECT_TRUE(ui().N3->isEnabled());
  EXPECT_TRUE(ui().LbSMainVer->text().isEmpty());
  EXPECT_TRUE(ui().LbSwtimer->text().isEmpty());
  EXPECT_TRUE(ui().LbHwmainVer->text().isEmpty());
  EXPECT_TRUE(ui().Button1->isHidden());
  EXPECT_FALSE(window_->timBath->isActive());
  EXPECT_FALSE(window_->timOut->isActive());
  EXPECT_TRUE(window_->timBath->isSingleShot());
  EXPECT_TRUE(window_->timOut->isSingleShot());
}

TEST_F(MainWindowTest, DesignValuesOfTheParameterControls) {
  EXPECT_EQ(ui().cbxChgType->currentIndex(), -1);
  EXPECT_EQ(ui().cbxChgDirection->currentText(), "双向");
  EXPECT_EQ(ui().cbbBaudRate->currentText(), "300");
  EXPECT_EQ(ui().cbbByteSize->currentIndex(), -1);
  EXPECT_EQ(ui().cbbParity->currentText(), "NONE");
  EXPECT_EQ(ui().cbbStopBits->currentIndex(), -1);
  EXPECT_EQ(ui().CbxCANBaudrate->currentIndex(), -1);
  EXPECT_EQ(ui().CbxCANBaudrate->count(), 11);
  EXPECT_EQ(ui().cbxUsrFrameTp->currentText(), "标准");
  EXPECT_EQ(ui().cbxFilterFrame->currentIndex(), 0);
  EXPECT_EQ(ui().cbxFilterID->currentIndex(), 0);
  EXPECT_FALSE(ui().chkActiveRecFilter->isChecked());
  EXPECT_EQ(ui().chkActiveRecFilter->text(), "过滤无效");
  EXPECT_EQ(ui().spEdtOffSet->Value(), 0);
  EXPECT_EQ(ui().spEdtLen->Value(), 1);
  EXPECT_EQ(ui().spEdtInterval->Value(), 2);
  EXPECT_EQ(ui().spEdtInterval->MaxLength(), 2);

  const QList<QObject*> tagged = {ui().Panel1,    ui().Panel2,      ui().Panel3,
                                  ui().pnlBtn,    ui().cbbBaudRate, ui().cbbByteSize,
                                  ui().cbbParity, ui().cbbStopBits, ui().CbxCANBaudrate};
  for (QObject* control : tagged)
    EXPECT_EQ(control->property("Tag").toInt(), 999) << control->objectName().toStdString();
  EXPECT_FALSE(ui().cbxUsrFrameTp->property("Tag").isValid());
}

TEST_F(MainWindowTest, ClientAreaIsFixed478By550) {
  EXPECT_EQ(ui().Panel1->size(), QSize(478, 550));
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
  EXPECT_FALSE(window_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(ui().Image1->pixmap().isNull());
  EXPECT_EQ(ui().Image1->pixmap().size(), QSize(60, 61));
}

TEST_F(MainWindowTest, ClearButtonEmptiesTheTrace) {
  ui().Memo1->appendPlainText("7F 01 20 10");
  window_->Button1Click();
  EXPECT_TRUE(ui().Memo1->toPlainText().isEmpty());
}

// Nothing empties the trace in use, so it keeps only the latest lines.
TEST_F(MainWindowTest, TraceKeepsTheLast5000Lines) {
  constexpr int kChunks = 5300;
  for (int i = 0; i < kChunks; ++i) {
    const std::uint8_t chunk[] = {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    window_->TraceHex(chunk, sizeof chunk);
  }
  const QStringList lines = ui().Memo1->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 5000);
  EXPECT_EQ(lines.first(), "01 2C ");  // chunk 300
  EXPECT_EQ(lines.last(), "14 B3 ");   // chunk 5299
}

// Keyboard users: Enter (either key) on a focused button clicks it, as Space
// does.
TEST_F(MainWindowTest, EnterOnAFocusedButtonClicksItAsSpaceDoes) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  const struct {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  } keys[] = {{"Return", Qt::Key_Return, Qt::NoModifier},
              {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier},
              {"Space", Qt::Key_Space, Qt::NoModifier}};
  int buttons = 0;
  for (QPushButton* button : window_->findChildren<QPushButton*>()) {
    if (button->isHidden()) continue;
    ++buttons;
    // Only whether the click comes: the handlers are tested elsewhere.
    QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
    button->setEnabled(true);
    QSignalSpy clicks(button, &QPushButton::clicked);
    for (const auto& key : keys) {
      button->setFocus();
      QTest::keyClick(button, key.key, key.modifiers);
    }
    EXPECT_EQ(clicks.count(), 3) << button->objectName().toStdString();
  }
  EXPECT_EQ(buttons, 4);  // connect, defaults, read, write
}

// A button whose handler fails, placed in the window like any other.
QPushButton* AddFailingButton(TfrmMain& window, std::function<void()> failure) {
  auto* button = new QPushButton(QStringLiteral("fail"), window.ui->pnlBtn);
  button->setGeometry(100, 9, 60, 28);
  button->show();
  ui::ConnectGuarded(button, &QPushButton::clicked, &window, std::move(failure));
  return button;
}

TEST_F(MainWindowTest, FailureFromAButtonIsShownWithTheButtonsClassAndTheWindowGoesOn) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QPushButton* button = AddFailingButton(*window_, [] { throw platform::Exception("abc"); });

  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_EQ(dialogs_.messages[0], "Class QPushButton exception: abc");

  // Still usable: other controls work and the same failure is shown again.
  ui().cbxPort->setCurrentIndex(11);
  EXPECT_EQ(ui().cbxPort->currentText(), "COM12");
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(dialogs_.messages.size(), 2);
}

// A failure from a handler connected without the guard still reaches
// AppException through the application object.
TEST_F(MainWindowTest, FailureFromATimerNamesTheTimerClass) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [] { throw std::runtime_error("late"); });
  timer.start(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.messages.isEmpty(); }, 5000));
  EXPECT_EQ(dialogs_.messages[0], "Class QTimer exception: late");
}

// A dialog seam that fails while showing.
class FailingDialogs final : public ui::DialogSeam {
 public:
  FailingDialogs() { ui::InstallDialogs(this); }
  ~FailingDialogs() override { ui::InstallDialogs(nullptr); }
  void ShowMessage(const QString&) override {
    ++shown;
    throw std::runtime_error("no display");
  }
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }
  int shown = 0;
};

TEST_F(MainWindowTest, FailureWhileShowingTheFailureIsSwallowed) {
  auto failing = std::make_unique<FailingDialogs>();
  QPushButton* button = AddFailingButton(*window_, [] { throw platform::Exception("abc"); });
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(failing->shown, 1);
  failing.reset();
  ui::InstallDialogs(&dialogs_);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(dialogs_.messages.size(), 1);
}

}  // namespace
