#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <ostream>
#include <string>
#include <vector>

#include "PanelFixture.h"
#include "platform/Exception.h"
#include "protocol/Frame.h"
#include "support/FrameBytes.h"

namespace {

using params_testing::PanelFixture;
using testing_support::Bytes;
using testing_support::ToBytes;

// The 29-byte setting frame around a record, written out here rather than
// through the record encoders under test.
Bytes SetFrame(std::uint16_t code, const Bytes& record) {
  return ToBytes(protocol::BuildSetFrame(code, static_cast<std::uint16_t>(record.size()), record));
}

// A reply frame with status 0x20 and the record from offset 7.
protocol::Frame Reply(std::uint16_t code, const Bytes& record) {
  return protocol::BuildReplyFrame(code, protocol::FRAME_ACK, record);
}

class ParamPanelTest : public ::testing::Test, public PanelFixture {};

// ---- records from the controls, on the wire ----

TEST_F(ParamPanelTest, ConversionCommandCarriesEveryFieldOfTheTab) {
  c.cbxChgType->setCurrentIndex(1);
  c.cbxChgDirection->setCurrentIndex(0);
  c.chkCANInfoInPort->setChecked(true);
  c.chkCANIDInPort->setChecked(true);
  c.spEdtOffSet->SetValue(5);
  c.spEdtLen->SetValue(2);
  c.spEdtInterval->SetValue(10);
  c.EdtUsrCANID->setText("12 34 56 78");
  c.chkCanInfo->setChecked(true);
  c.EdtDataCANID->setText("1f ff ff ff");

  panel->SendSetCommand(protocol::CMD_CONVT_SET);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], SetFrame(0x4020, {0x01, 0x00, 0x03, 0x05, 0x02, 0x0A, 0x12, 0x34, 0x56, 0x78,
                                       0x01, 0x1F, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ParamPanelTest, ConversionCommandFromTheDesignStateSendsNothingSelectedAsFF) {
  c.chkCanId->setChecked(true);
  panel->SendSetCommand(protocol::CMD_CONVT_SET);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0],
            SetFrame(0x4020, {0xFF, 0x02, 0x00, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0, 0, 0, 0}));
}

TEST_F(ParamPanelTest, SerialLineCommandCarriesNumbersAndCodes) {
  struct Case {
    int baudItem, parityItem, stopItem;
    Bytes record;
  };
  const Case cases[] = {
      {9, 0, 1, {0x00, 0x01, 0xC2, 0x00, 8, 1, 3}},   // 115200, EVEN, two stop bits
      {0, 4, 0, {0x00, 0x00, 0x01, 0x2C, 8, 5, 1}},   // 300, NONE, one stop bit
      {5, 3, -1, {0x00, 0x00, 0x25, 0x80, 8, 4, 0}},  // 9600, MARK, no stop-bits choice
      {5, -1, 0, {0x00, 0x00, 0x25, 0x80, 8, 0, 1}},  // no parity choice: index -1 + 1
  };
  c.cbbByteSize->setCurrentIndex(0);
  for (const Case& test : cases) {
    sent.clear();
    c.cbbBaudRate->setCurrentIndex(test.baudItem);
    c.cbbParity->setCurrentIndex(test.parityItem);
    c.cbbStopBits->setCurrentIndex(test.stopItem);
    panel->SendSetCommand(protocol::CMD_COM_SET);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], SetFrame(0x2020, test.record)) << test.baudItem;
  }
}

TEST_F(ParamPanelTest, SerialLineRecordWithoutANumberFailsAndSendsNothing) {
  ASSERT_EQ(c.cbbByteSize->currentIndex(), -1);  // the design state
  EXPECT_THROW(panel->BuildComParams(), platform::EConvertError);
  EXPECT_THROW(panel->SendSetCommand(protocol::CMD_COM_SET), platform::EConvertError);
  c.cbbByteSize->setCurrentIndex(0);
  c.cbbBaudRate->setCurrentIndex(-1);
  EXPECT_THROW(panel->SendSetCommand(protocol::CMD_COM_SET), platform::EConvertError);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ParamPanelTest, CanCommandPacksTheFilterFlags) {
  c.CbxCANBaudrate->setCurrentIndex(3);
  c.cbxUsrFrameTp->setCurrentIndex(1);
  c.chkActiveRecFilter->setChecked(true);
  c.cbxFilterFrame->setCurrentIndex(1);
  c.cbxFilterID->setCurrentIndex(1);
  c.edtFilterChkCode->setText("00 00 01 23");
  c.edtFilterMaskCode->setText("1F FF FF FF");
  panel->SendSetCommand(protocol::CMD_CAN_SET);

  // Filter off with the other two at their first items gives 0x00; nothing
  // selected for the bit rate goes out as 0xFF.
  c.CbxCANBaudrate->setCurrentIndex(-1);
  c.cbxUsrFrameTp->setCurrentIndex(0);
  c.chkActiveRecFilter->setChecked(false);
  c.cbxFilterFrame->setCurrentIndex(0);
  c.cbxFilterID->setCurrentIndex(0);
  panel->SendSetCommand(protocol::CMD_CAN_SET);

  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0],
            SetFrame(0x3020, {0x03, 0x80, 0x13, 0, 0, 0x01, 0x23, 0x1F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(sent[1],
            SetFrame(0x3020, {0xFF, 0x00, 0x00, 0, 0, 0x01, 0x23, 0x1F, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ParamPanelTest, OtherCommandsSendNothing) {
  for (std::uint16_t code : {0x4010, 0x2010, 0x3010, 0x1010, 0x0000, 0xFFFF})
    panel->SendSetCommand(code);
  EXPECT_TRUE(sent.empty());
}

TEST_F(ParamPanelTest, RefusedSendIsReportedWithTheCommandsOwnText) {
  c.cbbByteSize->setCurrentIndex(0);
  c.cbbStopBits->setCurrentIndex(0);
  acceptSends = false;
  panel->SendSetCommand(protocol::CMD_CONVT_SET);
  panel->SendSetCommand(protocol::CMD_COM_SET);
  panel->SendSetCommand(protocol::CMD_CAN_SET);
  SetLanguage("chn");
  panel->SendSetCommand(protocol::CMD_CAN_SET);
  EXPECT_EQ(dialogs.messages,
            QStringList({"Send \"Setting Command\" error !", "Send \"Setting Command\" error !",
                         "Send \"Setting Command\" error.", "设置发送出错！"}));
  EXPECT_EQ(sent.size(), 4u);  // each was offered to the port
}

// ---- records into the controls ----

TEST_F(ParamPanelTest, ConversionReplyOutOfRangeValuesAreShownAsTheirDefaults) {
  c.cbxChgType->setCurrentIndex(2);
  c.cbxChgDirection->setCurrentIndex(0);
  panel->ApplyRecord(
      Reply(0x4010, {7, 5, 0x01, 9, 0, 11, 0x00, 0x00, 0x07, 0xFF, 0x02, 0xAB, 0xCD, 0xEF, 0x01}),
      protocol::CMD_CONVT_GET);
  EXPECT_EQ(c.cbxChgType->currentText(), "透明转换");
  EXPECT_EQ(c.cbxChgDirection->currentText(), "双向");
  EXPECT_TRUE(c.chkCANInfoInPort->isChecked());
  EXPECT_FALSE(c.chkCANIDInPort->isChecked());
  EXPECT_EQ(c.spEdtOffSet->Value(), 7);
  EXPECT_EQ(c.spEdtLen->Value(), 1);
  EXPECT_EQ(c.spEdtInterval->Value(), 10);
  EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "00 00 07 FF");
  EXPECT_FALSE(c.chkCanInfo->isChecked());
  EXPECT_TRUE(c.chkCanId->isChecked());
  EXPECT_EQ(c.EdtDataCANID->MaskedText(), "AB CD EF 01");
}

TEST_F(ParamPanelTest, ConversionReplyInRangeRoundTripsThroughTheControls) {
  const Bytes record = {3, 1, 0x03, 6, 4, 7, 0x1F, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00};
  panel->ApplyRecord(Reply(0x4010, record), protocol::CMD_CONVT_GET);
  panel->SendSetCommand(protocol::CMD_CONVT_SET);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], SetFrame(0x4020, record));
}

TEST_F(ParamPanelTest, SerialLineReplySelectsByTextAndCode) {
  struct Case {
    Bytes record;
    const char* baud;
    const char* bits;
    const char* parity;
    int stopItem;
  };
  const Case cases[] = {
      {{0x00, 0x01, 0xC2, 0x00, 8, 1, 3}, "115200", "8", "EVEN", 1},
      {{0x00, 0x00, 0x30, 0x39, 7, 0, 1}, "300", "8", "NONE", 0},    // unknown rate and bits
      {{0x00, 0x00, 0x25, 0x80, 8, 6, 2}, "9600", "8", "NONE", -1},  // stop-bits code 2: none
      {{0x00, 0x00, 0x04, 0xB0, 8, 4, 0}, "1200", "8", "MARK", -1},
      {{0x00, 0x00, 0x04, 0xB0, 8, 255, 255}, "1200", "8", "NONE", -1},
  };
  for (const Case& test : cases) {
    panel->ApplyRecord(Reply(0x2010, test.record), protocol::CMD_COM_GET);
    EXPECT_EQ(c.cbbBaudRate->currentText(), test.baud);
    EXPECT_EQ(c.cbbByteSize->currentText(), test.bits);
    EXPECT_EQ(c.cbbParity->currentText(), test.parity);
    EXPECT_EQ(c.cbbStopBits->currentIndex(), test.stopItem);
  }
}

TEST_F(ParamPanelTest, StopBitsCodeTwoClearsTheChoiceAndAWriteSendsZero) {
  panel->ApplyRecord(Reply(0x2010, {0x00, 0x00, 0x25, 0x80, 8, 5, 2}), protocol::CMD_COM_GET);
  panel->SendSetCommand(protocol::CMD_COM_SET);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], SetFrame(0x2020, {0x00, 0x00, 0x25, 0x80, 8, 5, 0}));
}

TEST_F(ParamPanelTest, CanReplyWithFilterOnTicksTheBoxEnablesItsControlsAndRenamesIt) {
  for (const char* language : {"enu", "chn"}) {
    SetLanguage(language);
    c.chkActiveRecFilter->setChecked(false);
    ASSERT_FALSE(c.cbxFilterFrame->isEnabled());
    panel->ApplyRecord(
        Reply(0x3010, {2, 0x80, 0x13, 0x00, 0x00, 0x01, 0x00, 0x1F, 0xFF, 0xFF, 0xFF}),
        protocol::CMD_CAN_GET);
    EXPECT_TRUE(c.chkActiveRecFilter->isChecked());
    for (QWidget* control :
         {static_cast<QWidget*>(c.cbxFilterFrame), static_cast<QWidget*>(c.cbxFilterID),
          static_cast<QWidget*>(c.edtFilterChkCode), static_cast<QWidget*>(c.edtFilterMaskCode)})
      EXPECT_TRUE(control->isEnabled());
    EXPECT_EQ(c.cbxFilterFrame->currentText(), "只接收扩展帧");
    EXPECT_EQ(c.cbxFilterID->currentText(), "区分ID");
    EXPECT_EQ(c.CbxCANBaudrate->currentText(), "250Kbps");
    EXPECT_EQ(c.cbxUsrFrameTp->currentText(), "扩展");
    EXPECT_EQ(c.edtFilterChkCode->MaskedText(), "00 00 01 00");
    EXPECT_EQ(c.edtFilterMaskCode->MaskedText(), "1F FF FF FF");
    EXPECT_EQ(c.chkActiveRecFilter->text(),
              QString(language) == "chn" ? QString("过滤有效") : QString("filtration valid"));
  }
}

TEST_F(ParamPanelTest, CanReplyWithFilterOffDisablesFilterControlsEvenWhenTheBoxWasAlreadyOff) {
  // A connection enables every control, the filter ones included.
  for (QWidget* control :
       {static_cast<QWidget*>(c.cbxFilterFrame), static_cast<QWidget*>(c.cbxFilterID),
        static_cast<QWidget*>(c.edtFilterChkCode), static_cast<QWidget*>(c.edtFilterMaskCode)})
    control->setEnabled(true);
  ASSERT_FALSE(c.chkActiveRecFilter->isChecked());
  panel->ApplyRecord(Reply(0x3010, {11, 0x01, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}),
                     protocol::CMD_CAN_GET);
  EXPECT_FALSE(c.cbxFilterFrame->isEnabled());
  EXPECT_FALSE(c.edtFilterMaskCode->isEnabled());
  EXPECT_EQ(c.chkActiveRecFilter->text(), "过滤无效");  // no change of state, no new caption
  EXPECT_EQ(c.CbxCANBaudrate->currentIndex(), -1);      // index 11 is beyond the list
  EXPECT_EQ(c.cbxUsrFrameTp->currentText(), "标准");    // 0x01 is not extended
  EXPECT_EQ(c.cbxFilterFrame->currentIndex(), 1);
  EXPECT_EQ(c.cbxFilterID->currentIndex(), 1);

  panel->SendSetCommand(protocol::CMD_CAN_SET);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][6], 0xFF);  // the empty bit-rate box
}

TEST_F(ParamPanelTest, OperatorTogglingTheFilterBoxFollowsTheSameRule) {
  c.chkActiveRecFilter->setEnabled(true);
  c.chkActiveRecFilter->click();
  EXPECT_TRUE(c.edtFilterChkCode->isEnabled());
  EXPECT_EQ(c.chkActiveRecFilter->text(), "filtration valid");
  SetLanguage("chn");
  c.chkActiveRecFilter->click();
  EXPECT_FALSE(c.edtFilterChkCode->isEnabled());
  EXPECT_EQ(c.chkActiveRecFilter->text(), "过滤无效");
}

TEST_F(ParamPanelTest, UnknownReplyCodeChangesNothing) {
  panel->ApplyRecord(Reply(0x4020, {3, 1, 3, 6, 4, 7, 1, 2, 3, 4, 3, 1, 2, 3, 4}),
                     protocol::CMD_CONVT_SET);
  panel->ApplyRecord(Reply(0x1020, {1, 2, 3, 4, 5, 6, 7, 8}), protocol::CMD_GET_VERSION);
  EXPECT_EQ(c.cbxChgType->currentIndex(), -1);
  EXPECT_EQ(c.spEdtLen->Value(), 1);
}

// ---- checks before a write ----

struct IdCase {
  int frameTypeItem;
  const char* id;
  bool fails;
  const char* message;
};

const char* const kStandardMessage =
    "When the frame type is a standard frame, valid value range: [0,7FF]";
const char* const kExtendedMessage =
    "When the frame type for the extension frame, valid values range: [0,1FFFFFFF]";

class IdRangeTest : public ParamPanelTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdRangeTest, SendIdentifierBoundsFollowTheFrameType) {
  const IdCase& test = GetParam();
  c.cbxUsrFrameTp->setCurrentIndex(test.frameTypeItem);
  c.EdtUsrCANID->setText(test.id);
  EXPECT_EQ(panel->ValidatePanel(), test.fails);
  if (test.fails) {
    EXPECT_EQ(dialogs.messages, QStringList{test.message});
    EXPECT_EQ(c.pgcFunc->currentIndex(), 0);
  } else {
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(c.pgcFunc->currentIndex(), 2);
  }
}

TEST_P(IdRangeTest, AcceptanceCodeBoundsFollowTheFilterFrameType) {
  const IdCase& test = GetParam();
  c.chkActiveRecFilter->setChecked(true);
  c.cbxFilterFrame->setCurrentIndex(test.frameTypeItem);
  c.edtFilterMaskCode->setText(test.id);
  EXPECT_EQ(panel->CheckIdRange(c.edtFilterMaskCode), test.fails);
  EXPECT_EQ(dialogs.messages, test.fails ? QStringList{test.message} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Bounds, IdRangeTest,
                         ::testing::Values(IdCase{0, "00 00 07 FF", false, ""},
                                           IdCase{0, "00 00 08 00", true, kStandardMessage},
                                           IdCase{0, "FF FF FF FF", true, kStandardMessage},
                                           IdCase{1, "1F FF FF FF", false, ""},
                                           IdCase{1, "20 00 00 00", true, kExtendedMessage},
                                           IdCase{1, "00 00 08 00", false, ""},
                                           IdCase{0, "", false, ""}));

TEST_F(ParamPanelTest, RangeMessagesInChinese) {
  SetLanguage("chn");
  c.EdtUsrCANID->setText("00 00 08 00");
  EXPECT_TRUE(panel->CheckIdRange(c.EdtUsrCANID));
  c.cbxUsrFrameTp->setCurrentIndex(1);
  c.EdtUsrCANID->setText("20 00 00 00");
  EXPECT_TRUE(panel->CheckIdRange(c.EdtUsrCANID));
  EXPECT_EQ(dialogs.messages, QStringList({"当帧类型为标准帧时，有效值范围为：[0,7FF]",
                                           "当帧类型为扩展帧时，有效值范围为：[0,1FFFFFFF]"}));
}

TEST_F(ParamPanelTest, HexEditWithEveryCharacterDeletedReadsZeroAndPasses) {
  c.EdtUsrCANID->setText("12 34 56 78");
  c.EdtUsrCANID->end(false);
  for (int i = 0; i < 11; ++i) QTest::keyClick(c.EdtUsrCANID, Qt::Key_Backspace);
  EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "00 00 00 00");
  EXPECT_EQ(params::MaskTextToId(c.EdtUsrCANID), "00000000");
  EXPECT_FALSE(panel->CheckIdRange(c.EdtUsrCANID));
}

TEST_F(ParamPanelTest, IdLengthAboveTwoFailsWithStandardFramesAfterTheIdentifierCheck) {
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  c.pgcFunc->setCurrentIndex(2);
  c.spEdtLen->SetValue(3);
  EXPECT_TRUE(panel->ValidatePanel());
  EXPECT_EQ(
      dialogs.messages,
      QStringList{"When the frame type is a standard frame, CAN ID in the serial frame length "
                  "range: [1,2] bytes."});
  EXPECT_EQ(c.pgcFunc->currentIndex(), 0);
  EXPECT_TRUE(c.spEdtLen->hasFocus());

  // The identifier is checked first, and extended frames allow four bytes.
  dialogs.messages.clear();
  c.EdtUsrCANID->setText("00 00 08 00");
  EXPECT_TRUE(panel->ValidatePanel());
  EXPECT_EQ(dialogs.messages, QStringList{kStandardMessage});
  EXPECT_TRUE(c.EdtUsrCANID->hasFocus());
  c.cbxUsrFrameTp->setCurrentIndex(1);
  c.spEdtLen->SetValue(4);
  EXPECT_FALSE(panel->ValidatePanel());
}

TEST_F(ParamPanelTest, FilterCodesAreCheckedOnlyWithTheFilterOn) {
  c.edtFilterChkCode->setText("00 00 08 00");
  c.edtFilterMaskCode->setText("FF FF FF FF");
  EXPECT_FALSE(panel->ValidatePanel());
  EXPECT_TRUE(dialogs.messages.isEmpty());

  c.chkActiveRecFilter->setChecked(true);
  EXPECT_TRUE(panel->ValidatePanel());
  EXPECT_EQ(dialogs.messages, QStringList{kStandardMessage});
  EXPECT_EQ(c.pgcFunc->currentIndex(), 2);

  // The acceptance code passes with extended frames; then the mask fails.
  dialogs.messages.clear();
  c.cbxFilterFrame->setCurrentIndex(1);
  EXPECT_TRUE(panel->ValidatePanel());
  EXPECT_EQ(dialogs.messages, QStringList{kExtendedMessage});
}

TEST_F(ParamPanelTest, FailedCheckLeavesTheControlsAsTheyAre) {
  c.EdtUsrCANID->setText("00 00 08 00");
  c.spEdtLen->SetValue(3);
  panel->ValidatePanel();
  EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "00 00 08 00");
  EXPECT_EQ(c.spEdtLen->Value(), 3);
}

// ---- key filters and the numeric fields ----

TEST_F(ParamPanelTest, HexEditsTakeOnlyHexDigitsAndShowUpperCase) {
  for (TMyMaskEdit* edit :
       {c.EdtUsrCANID, c.EdtDataCANID, c.edtFilterChkCode, c.edtFilterMaskCode}) {
    edit->setEnabled(true);
    edit->setText("");
    edit->home(false);
    QTest::keyClicks(edit, "g-b");
    EXPECT_EQ(edit->MaskedText(), "B0 00 00 00") << edit->objectName().toStdString();
    QTest::keyClicks(edit, "z9aF x");
    EXPECT_EQ(edit->MaskedText(), "B9 AF 00 00");
  }
}

TEST_F(ParamPanelTest, SpinEditsTakeOnlyTheirDigitsAndArePulledIntoRangeOnLeaving) {
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  struct Case {
    SpinEdit* spin;
    const char* typed;
    QString shown;
    int afterLeaving;
  };
  const Case cases[] = {
      {c.spEdtLen, "5", "", 1},  // 5 rejected; empty reads as the minimum
      {c.spEdtLen, "a3", "3", 3},     {c.spEdtOffSet, "9", "9", 7},
      {c.spEdtOffSet, "-4", "4", 4},  {c.spEdtInterval, "11", "11", 10},
      {c.spEdtInterval, "1", "1", 2}, {c.spEdtInterval, "123", "12", 10},  // two characters at most
  };
  for (const Case& test : cases) {
    test.spin->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test.spin->hasFocus(); }, 5000));
    test.spin->selectAll();
    QTest::keyClick(test.spin, Qt::Key_Delete);
    QTest::keyClicks(test.spin, test.typed);
    EXPECT_EQ(test.spin->text(), test.shown) << test.typed;
    c.chkCanInfo->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !test.spin->hasFocus(); }, 5000));
    EXPECT_EQ(test.spin->Value(), test.afterLeaving) << test.typed;
    EXPECT_EQ(test.spin->text(), QString::number(test.afterLeaving));
  }
}

// ---- every other input path of the numeric fields ----

enum class InputPath { Paste, Drop, InputMethod, Insert };
enum class Field { DataId, SendId, IdLength, Offset, Interval };

struct InputCase {
  const char* name;
  Field field;
  InputPath path;
  QString input;
  QString shownAfter;  // the field showed 12 34 56 78, or its spin's initial value
};

void PrintTo(const InputCase& c, std::ostream* os) {
  *os << c.name;
}

class InputPathTest : public ParamPanelTest, public ::testing::WithParamInterface<InputCase> {
 protected:
  // The line edit the text goes into: the hex edit itself, or the spin's.
  QLineEdit* Target() {
    switch (GetParam().field) {
      case Field::DataId:
        return c.EdtDataCANID;
      case Field::SendId:
        return c.EdtUsrCANID;
      case Field::IdLength:
        return c.spEdtLen->findChild<QLineEdit*>();
      case Field::Offset:
        return c.spEdtOffSet->findChild<QLineEdit*>();
      case Field::Interval:
        return c.spEdtInterval->findChild<QLineEdit*>();
    }
    return nullptr;
  }

  // A paste from the context menu, a drop at the start of the field, an input
  // method's commit, or insert(): all replace the selection.
  static void Enter(QLineEdit* edit, InputPath path, const QString& text) {
    switch (path) {
      case InputPath::Paste:
        QGuiApplication::clipboard()->setText(text);
        edit->paste();
        break;
      case InputPath::Drop: {
        QMimeData data;
        data.setText(text);
        // The drop goes to the target that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(edit, &enter);
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(edit, &drop);
        break;
      }
      case InputPath::InputMethod: {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QCoreApplication::sendEvent(edit, &commit);
        break;
      }
      case InputPath::Insert:
        edit->insert(text);
        break;
    }
  }
};

// What a typed key may not put into a field, no other way may either; a hex
// edit never holds a text that would go out as 0 without a word.
TEST_P(InputPathTest, FieldTakesOnlyWhatATypedKeyMay) {
  c.EdtUsrCANID->setText("12 34 56 78");
  c.EdtDataCANID->setText("12 34 56 78");
  QLineEdit* edit = Target();
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  Enter(edit, GetParam().path, GetParam().input);
  EXPECT_EQ(edit->displayText(), GetParam().shownAfter);

  // What goes to the converter is what is shown.
  const protocol::ConvtParams record = panel->BuildConvtParams();
  QString shown = GetParam().shownAfter;
  switch (GetParam().field) {
    case Field::DataId:
      EXPECT_EQ(record.dataSendId, shown.remove(' ').toUInt(nullptr, 16));
      break;
    case Field::SendId:
      EXPECT_EQ(record.transparentSendId, shown.remove(' ').toUInt(nullptr, 16));
      break;
    case Field::IdLength:
      EXPECT_EQ(record.idLength, shown.toUInt());
      break;
    case Field::Offset:
      EXPECT_EQ(record.idOffset, shown.toUInt());
      break;
    case Field::Interval:
      EXPECT_EQ(record.frameGapChars, shown.toUInt());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InputPathTest,
    ::testing::Values(
        InputCase{"PasteHex", Field::DataId, InputPath::Paste, "ab cd ef 01", "AB CD EF 01"},
        InputCase{"PasteLetters", Field::DataId, InputPath::Paste, "GZ", "12 34 56 78"},
        InputCase{"PastePrefixedNumber", Field::DataId, InputPath::Paste, "0x7FF", "12 34 56 78"},
        InputCase{"PasteChinese", Field::SendId, InputPath::Paste, "中文", "12 34 56 78"},
        InputCase{"DropHex", Field::DataId, InputPath::Drop, "1f", "1F 34 56 78"},
        InputCase{"DropLetters", Field::SendId, InputPath::Drop, "zz", "12 34 56 78"},
        InputCase{"ComposeFullWidthF", Field::DataId, InputPath::InputMethod, "\uFF46",
                  "12 34 56 78"},
        InputCase{"ComposeDigit", Field::DataId, InputPath::InputMethod, "7", "70 00 00 00"},
        InputCase{"InsertFullWidthDigits", Field::DataId, InputPath::Insert, "\uFF11\uFF12",
                  "12 34 56 78"},
        InputCase{"InsertHex", Field::SendId, InputPath::Insert, "7ff", "7F F0 00 00"},
        InputCase{"PasteLengthAboveFour", Field::IdLength, InputPath::Paste, "5", "1"},
        InputCase{"PasteLength", Field::IdLength, InputPath::Paste, "3", "3"},
        InputCase{"ComposeNegativeOffset", Field::Offset, InputPath::InputMethod, "-4", "0"},
        InputCase{"DropLetterOnInterval", Field::Interval, InputPath::Drop, "x", "2"},
        InputCase{"InsertFullWidthInterval", Field::Interval, InputPath::Insert, "\uFF11\uFF10",
                  "2"},
        InputCase{"PasteInterval", Field::Interval, InputPath::Paste, "10", "10"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpinEditTest, TextThatIsNotANumberReadsAsTheMinimumAndSettingClamps) {
  SpinEdit spin;
  spin.SetMinValue(2);
  spin.SetMaxValue(10);
  spin.SetValue(50);
  EXPECT_EQ(spin.Value(), 10);
  spin.SetValue(-3);
  EXPECT_EQ(spin.Value(), 2);
  spin.stepBy(3);
  EXPECT_EQ(spin.Value(), 5);
  spin.stepBy(100);
  EXPECT_EQ(spin.Value(), 10);
}

TEST(KeyFilterTest, ControlKeysPassEveryFilter) {
  using params::KeyAllowed;
  using params::KeyFilterKind;
  for (KeyFilterKind kind : {KeyFilterKind::Hex, KeyFilterKind::Digits, KeyFilterKind::IdLength}) {
    for (char16_t key : {8, 9, 10, 13}) EXPECT_TRUE(KeyAllowed(kind, QChar(key)));
    for (char16_t key : {0, 3, 22, 27, 32}) EXPECT_FALSE(KeyAllowed(kind, QChar(key)));
  }
  EXPECT_TRUE(KeyAllowed(KeyFilterKind::Hex, 'f'));
  EXPECT_FALSE(KeyAllowed(KeyFilterKind::Hex, 'G'));
  EXPECT_TRUE(KeyAllowed(KeyFilterKind::Digits, '0'));
  EXPECT_FALSE(KeyAllowed(KeyFilterKind::IdLength, '0'));
  EXPECT_TRUE(KeyAllowed(KeyFilterKind::IdLength, '4'));
  EXPECT_FALSE(KeyAllowed(KeyFilterKind::Digits, QChar(0xFF11)));  // full-width digit one
}

// ---- identifier texts ----

TEST(IdTextTest, MaskTextAndIdTextConvert) {
  EXPECT_EQ(params::IdToMaskText("12345678"), "12 34 56 78");
  EXPECT_EQ(params::IdToMaskText("1234567"), "");
  EXPECT_EQ(params::IdToMaskText("123456789"), "");
  EXPECT_EQ(params::IdToHexText(0x7FF), "000007FF");
  EXPECT_EQ(params::IdToHexText(0xABCDEF01), "ABCDEF01");

  bool ok = false;
  EXPECT_EQ(params::ParseHexId("1FFFFFFF", &ok), 0x1FFFFFFFu);
  EXPECT_TRUE(ok);
  EXPECT_EQ(params::ParseHexId("FFFFFFFF", &ok), 0xFFFFFFFFu);
  EXPECT_TRUE(ok);
  for (const char* bad : {"", "0x12", "12 3", "G0000000", "123456789", "-1"}) {
    params::ParseHexId(bad, &ok);
    EXPECT_FALSE(ok) << bad;
  }
}

}  // namespace
