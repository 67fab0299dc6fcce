#include <gtest/gtest.h>

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "PanelFixture.h"
#include "params/ParamFile.h"
#include "platform/Exception.h"
#include "protocol/Frame.h"
#include "protocol/PanelRules.h"
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

// Every table's rows are printed and named by their `name`.
template <typename Row>
requires requires(const Row& row) {
  row.name;
}
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}
constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// ---- records from the controls, on the wire ----

// What a control shows, as one text: a list's item ("" for none), a box's
// state, a field's text.
QString Shown(QWidget* control) {
  if (auto* box = qobject_cast<QComboBox*>(control)) return box->currentText();
  if (auto* check = qobject_cast<QCheckBox*>(control))
    return check->isChecked() ? "ticked" : "unticked";
  if (auto* hex = qobject_cast<TMyMaskEdit*>(control)) return hex->MaskedText();
  if (auto* spin = qobject_cast<SpinEdit*>(control)) return spin->text();
  return "?";
}

struct SendCase {
  const char* name;
  std::uint16_t command;
  std::function<void(params::PanelControls&)> choose;
  Bytes record;
};

class SendTest : public ParamPanelTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendTest, SettingCommandCarriesTheControlsAsTheyStand) {
  c.cbbByteSize->setCurrentIndex(0);
  GetParam().choose(c);
  panel->SendSetCommand(GetParam().command);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], SetFrame(GetParam().command, GetParam().record));
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

const SendCase kSendCases[] = {
    {"ConversionEveryField",
     0x4020,
     [](params::PanelControls& c) {
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
     },
     {0x01, 0x00, 0x03, 0x05, 0x02, 0x0A, 0x12, 0x34, 0x56, 0x78, 0x01, 0x1F, 0xFF, 0xFF, 0xFF}},
    // Nothing selected goes out as 0xFF.
    {"ConversionDesignState",
     0x4020,
     [](params::PanelControls& c) { c.chkCanId->setChecked(true); },
     {0xFF, 0x02, 0x00, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0, 0, 0, 0}},
    {"Serial115200EvenTwoStopBits",
     0x2020,
     [](params::PanelControls& c) {
       c.cbbBaudRate->setCurrentIndex(9);
       c.cbbParity->setCurrentIndex(0);
       c.cbbStopBits->setCurrentIndex(1);
     },
     {0x00, 0x01, 0xC2, 0x00, 8, 1, 3}},
    {"Serial300NoneOneStopBit",
     0x2020,
     [](params::PanelControls& c) { c.cbbStopBits->setCurrentIndex(0); },
     {0x00, 0x00, 0x01, 0x2C, 8, 5, 1}},
    {"SerialNoStopBitsChoice",
     0x2020,
     [](params::PanelControls& c) {
       c.cbbBaudRate->setCurrentIndex(5);
       c.cbbParity->setCurrentIndex(3);
     },
     {0x00, 0x00, 0x25, 0x80, 8, 4, 0}},
    {"SerialNoParityChoice",
     0x2020,  // index -1 + 1
     [](params::PanelControls& c) {
       c.cbbBaudRate->setCurrentIndex(5);
       c.cbbParity->setCurrentIndex(-1);
       c.cbbStopBits->setCurrentIndex(0);
     },
     {0x00, 0x00, 0x25, 0x80, 8, 0, 1}},
    {"CanFilterOnExtendedDistinguished",
     0x3020,
     [](params::PanelControls& c) {
       c.CbxCANBaudrate->setCurrentIndex(3);
       c.cbxUsrFrameTp->setCurrentIndex(1);
       c.chkActiveRecFilter->setChecked(true);
       c.cbxFilterFrame->setCurrentIndex(1);
       c.cbxFilterID->setCurrentIndex(1);
       c.edtFilterChkCode->setText("00 00 01 23");
       c.edtFilterMaskCode->setText("1F FF FF FF");
     },
     {0x03, 0x80, 0x13, 0, 0, 0x01, 0x23, 0x1F, 0xFF, 0xFF, 0xFF}},
    // Filter off with the other two at their first items gives 0x00.
    {"CanFilterOffNoBitRate",
     0x3020,
     [](params::PanelControls& c) { c.edtFilterMaskCode->setText("00 00 07 FF"); },
     {0xFF, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x07, 0xFF}}};
INSTANTIATE_TEST_SUITE_P(Records, SendTest, ::testing::ValuesIn(kSendCases), kRowName);

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

struct ApplyCase {
  const char* name;
  std::uint16_t replyCode;
  Bytes record;
  std::vector<std::pair<const char*, QString>> shown;  // control, what it shows
  Bytes sentBack;                                      // the record a following write sends
};

class ApplyTest : public ParamPanelTest, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(ApplyTest, ReplyIsShownAndAFollowingWriteSendsWhatIsShown) {
  const ApplyCase& row = GetParam();
  // A state the reply must overwrite.
  c.cbxChgType->setCurrentIndex(2);
  c.cbxChgDirection->setCurrentIndex(0);
  c.cbbStopBits->setCurrentIndex(0);
  panel->ApplyRecord(Reply(row.replyCode, row.record), row.replyCode);
  for (const auto& [name, text] : row.shown)
    EXPECT_EQ(Shown(window.findChild<QWidget*>(name)), text) << name;
  const auto setCode = static_cast<std::uint16_t>(row.replyCode + 0x10);
  panel->SendSetCommand(setCode);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], SetFrame(setCode, row.sentBack));
}

INSTANTIATE_TEST_SUITE_P(
    Records, ApplyTest,
    ::testing::Values(
        ApplyCase{"ConversionBeyondTheListsAndRanges",
                  0x4010,
                  {7, 5, 0x01, 9, 0, 11, 0x00, 0x00, 0x07, 0xFF, 0x02, 0xAB, 0xCD, 0xEF, 0x01},
                  {{"cbxChgType", "透明转换"},
                   {"cbxChgDirection", "双向"},
                   {"chkCANInfoInPort", "ticked"},
                   {"chkCANIDInPort", "unticked"},
                   {"spEdtOffSet", "7"},
                   {"spEdtLen", "1"},
                   {"spEdtInterval", "10"},
                   {"EdtUsrCANID", "00 00 07 FF"},
                   {"chkCanInfo", "unticked"},
                   {"chkCanId", "ticked"},
                   {"EdtDataCANID", "AB CD EF 01"}},
                  {0, 2, 0x01, 7, 1, 10, 0x00, 0x00, 0x07, 0xFF, 0x02, 0xAB, 0xCD, 0xEF, 0x01}},
        ApplyCase{"ConversionInRange",
                  0x4010,
                  {3, 1, 0x03, 6, 4, 7, 0x1F, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00},
                  {{"cbxChgType", "数据转换"}, {"spEdtLen", "4"}},
                  {3, 1, 0x03, 6, 4, 7, 0x1F, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00}},
        ApplyCase{"Serial115200EvenTwoStopBits",
                  0x2010,
                  {0x00, 0x01, 0xC2, 0x00, 8, 1, 3},
                  {{"cbbBaudRate", "115200"},
                   {"cbbByteSize", "8"},
                   {"cbbParity", "EVEN"},
                   {"cbbStopBits", "2"}},
                  {0x00, 0x01, 0xC2, 0x00, 8, 1, 3}},
        ApplyCase{"SerialUnknownRateBitsAndParity",
                  0x2010,
                  {0x00, 0x00, 0x30, 0x39, 7, 0, 1},
                  {{"cbbBaudRate", "300"},
                   {"cbbByteSize", "8"},
                   {"cbbParity", "NONE"},
                   {"cbbStopBits", "1"}},
                  {0x00, 0x00, 0x01, 0x2C, 8, 5, 1}},
        // Stop-bits code 2 clears the choice, and a write sends 0.
        ApplyCase{"SerialStopBitsCodeTwo",
                  0x2010,
                  {0x00, 0x00, 0x25, 0x80, 8, 6, 2},
                  {{"cbbBaudRate", "9600"}, {"cbbParity", "NONE"}, {"cbbStopBits", ""}},
                  {0x00, 0x00, 0x25, 0x80, 8, 5, 0}},
        ApplyCase{"SerialMarkNoStopBits",
                  0x2010,
                  {0x00, 0x00, 0x04, 0xB0, 8, 4, 0},
                  {{"cbbBaudRate", "1200"}, {"cbbParity", "MARK"}, {"cbbStopBits", ""}},
                  {0x00, 0x00, 0x04, 0xB0, 8, 4, 0}},
        ApplyCase{"SerialCodes255",
                  0x2010,
                  {0x00, 0x00, 0x04, 0xB0, 8, 255, 255},
                  {{"cbbParity", "NONE"}, {"cbbStopBits", ""}},
                  {0x00, 0x00, 0x04, 0xB0, 8, 5, 0}},
        // Index 11 is beyond the list: nothing selected, sent back as 0xFF;
        // 0x01 is not extended.
        ApplyCase{"CanBitRateBeyondTheListFilterOff",
                  0x3010,
                  {11, 0x01, 0x12, 0, 0, 0, 0, 0, 0, 0, 0},
                  {{"CbxCANBaudrate", ""},
                   {"cbxUsrFrameTp", "标准"},
                   {"chkActiveRecFilter", "unticked"},
                   {"cbxFilterFrame", "只接收扩展帧"},
                   {"cbxFilterID", "区分ID"}},
                  {0xFF, 0x00, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}},
        ApplyCase{"CanFilterOnExtended",
                  0x3010,
                  {2, 0x80, 0x13, 0x00, 0x00, 0x01, 0x00, 0x1F, 0xFF, 0xFF, 0xFF},
                  {{"CbxCANBaudrate", "250Kbps"},
                   {"cbxUsrFrameTp", "扩展"},
                   {"chkActiveRecFilter", "ticked"},
                   {"edtFilterChkCode", "00 00 01 00"},
                   {"edtFilterMaskCode", "1F FF FF FF"}},
                  {2, 0x80, 0x13, 0x00, 0x00, 0x01, 0x00, 0x1F, 0xFF, 0xFF, 0xFF}}),
    kRowName);

// A CAN reply and the operator's click set the filter box alike: its controls
// follow it, and a change of state renames it in the language of the moment.
TEST_F(ParamPanelTest, FilterBoxFromARepliesOrAClickEnablesItsControlsAndRenamesIt) {
  const auto reply = [this](bool filterOn) {
    panel->ApplyRecord(filterOn ? Reply(0x3010, {2, 0x80, 0x13, 0, 0, 1, 0, 0x1F, 0xFF, 0xFF, 0xFF})
                                : Reply(0x3010, {11, 0x01, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}),
                       protocol::CMD_CAN_GET);
  };
  const auto click = [this] { c.chkActiveRecFilter->click(); };
  const struct {
    const char* name;
    const char* language;
    std::function<void()> act;
    bool on;
    const char* caption;  // nullptr: not looked at
  } steps[] = {
      // A connection enables every control, the filter ones included.
      {"a reply with the filter off, the box already off", "enu",
       [&] {
         for (QWidget* control : FilterControls()) control->setEnabled(true);
         reply(false);
       },
       false, "过滤无效"},  // no change of state, no new caption
      {"the operator ticks it", "enu", click, true, "filtration valid"},
      {"the operator clears it", "chn", click, false, "过滤无效"},
      {"a reply with the filter on", "enu", [&] { reply(true); }, true, "filtration valid"},
      {"the program clears it", "chn", [&] { c.chkActiveRecFilter->setChecked(false); }, false,
       nullptr},
      {"a reply with the filter on, in Chinese", "chn", [&] { reply(true); }, true, "过滤有效"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    SetLanguage(step.language);
    step.act();
    EXPECT_EQ(c.chkActiveRecFilter->isChecked(), step.on);
    for (QWidget* control : FilterControls())
      EXPECT_EQ(control->isEnabled(), step.on) << control->objectName().toStdString();
    if (step.caption) {
      EXPECT_EQ(c.chkActiveRecFilter->text(), QString::fromUtf8(step.caption));
    }
  }
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
  const char* language = "enu";
};

const char* const kStandardMessage =
    "When the frame type is a standard frame, valid value range: [0,7FF]";
const char* const kExtendedMessage =
    "When the frame type for the extension frame, valid values range: [0,1FFFFFFF]";

class IdRangeTest : public ParamPanelTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdRangeTest, SendIdentifierBoundsFollowTheFrameType) {
  const IdCase& test = GetParam();
  SetLanguage(test.language);
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
  SetLanguage(test.language);
  c.chkActiveRecFilter->setChecked(true);
  c.cbxFilterFrame->setCurrentIndex(test.frameTypeItem);
  c.edtFilterMaskCode->setText(test.id);
  EXPECT_EQ(panel->CheckIdRange(c.edtFilterMaskCode), test.fails);
  EXPECT_EQ(dialogs.messages, test.fails ? QStringList{test.message} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, IdRangeTest,
    ::testing::Values(
        IdCase{0, "00 00 07 FF", false, ""}, IdCase{0, "00 00 08 00", true, kStandardMessage},
        IdCase{0, "FF FF FF FF", true, kStandardMessage}, IdCase{1, "1F FF FF FF", false, ""},
        IdCase{1, "20 00 00 00", true, kExtendedMessage}, IdCase{1, "00 00 08 00", false, ""},
        IdCase{0, "", false, ""},
        IdCase{0, "00 00 08 00", true, "当帧类型为标准帧时，有效值范围为：[0,7FF]", "chn"},
        IdCase{1, "20 00 00 00", true, "当帧类型为扩展帧时，有效值范围为：[0,1FFFFFFF]", "chn"}));

TEST_F(ParamPanelTest, HexEditWithEveryCharacterDeletedReadsZeroAndPasses) {
  c.EdtUsrCANID->setText("12 34 56 78");
  c.EdtUsrCANID->end(false);
  for (int i = 0; i < 11; ++i) QTest::keyClick(c.EdtUsrCANID, Qt::Key_Backspace);
  EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "00 00 00 00");
  EXPECT_EQ(params::MaskTextToId(c.EdtUsrCANID), "00000000");
  EXPECT_FALSE(panel->CheckIdRange(c.EdtUsrCANID));
}

TEST_F(ParamPanelTest, IdLengthAboveTwoFailsWithStandardFramesAfterTheIdentifierCheck) {
  ASSERT_NO_FATAL_FAILURE(ShowWindow());
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
  // A failed check leaves the controls as they are.
  EXPECT_EQ(c.EdtUsrCANID->MaskedText(), "00 00 08 00");
  EXPECT_EQ(c.spEdtLen->Value(), 3);
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
  ASSERT_NO_FATAL_FAILURE(ShowWindow());
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

// Accessible: what a screen reader's or voice input's edit does, through the
// field's accessible interface.
enum class InputPath { Paste, Drop, InputMethod, Insert, Accessible };
enum class Field { DataId, SendId, IdLength, Offset, Interval };

// Each field: the line edit its text goes into (the hex edit itself, or the
// spin's), the value of the record built from it, the base it is shown in.
struct FieldAccess {
  QLineEdit* (*edit)(params::PanelControls&);
  std::uint32_t (*sent)(const protocol::ConvtParams&);
  int base;
};
using Controls = params::PanelControls;
using Record = protocol::ConvtParams;
const std::map<Field, FieldAccess> kFields = {
    {Field::DataId,
     {[](Controls& c) -> QLineEdit* { return c.EdtDataCANID; },
      [](const Record& r) -> std::uint32_t { return r.dataSendId; }, 16}},
    {Field::SendId,
     {[](Controls& c) -> QLineEdit* { return c.EdtUsrCANID; },
      [](const Record& r) -> std::uint32_t { return r.transparentSendId; }, 16}},
    {Field::IdLength,
     {[](Controls& c) { return c.spEdtLen->findChild<QLineEdit*>(); },
      [](const Record& r) -> std::uint32_t { return r.idLength; }, 10}},
    {Field::Offset,
     {[](Controls& c) { return c.spEdtOffSet->findChild<QLineEdit*>(); },
      [](const Record& r) -> std::uint32_t { return r.idOffset; }, 10}},
    {Field::Interval,
     {[](Controls& c) { return c.spEdtInterval->findChild<QLineEdit*>(); },
      [](const Record& r) -> std::uint32_t { return r.frameGapChars; }, 10}},
};

struct InputCase {
  const char* name;
  Field field;
  InputPath path;
  QString input;
  QString shownAfter;  // the field showed 12 34 56 78, or its spin's initial value
};

class InputPathTest : public ParamPanelTest, public ::testing::WithParamInterface<InputCase> {
 protected:
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
      case InputPath::Accessible: {
        // A spin edit's line edit is inside it: the interface is the spin's.
        QWidget* field = qobject_cast<SpinEdit*>(edit->parentWidget())
                             ? edit->parentWidget()
                             : static_cast<QWidget*>(edit);
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(field);
        ASSERT_NE(access->editableTextInterface(), nullptr);
        access->editableTextInterface()->replaceText(0, access->textInterface()->characterCount(),
                                                     text);
        break;
      }
    }
  }
};

// What a typed key may not put into a field, no other way may either; a hex
// edit never holds a text that would go out as 0 without a word.
TEST_P(InputPathTest, FieldTakesOnlyWhatATypedKeyMay) {
  c.EdtUsrCANID->setText("12 34 56 78");
  c.EdtDataCANID->setText("12 34 56 78");
  const FieldAccess& field = kFields.at(GetParam().field);
  QLineEdit* edit = field.edit(c);
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  Enter(edit, GetParam().path, GetParam().input);
  EXPECT_EQ(edit->displayText(), GetParam().shownAfter);

  // What goes to the converter is what is shown.
  QString shown = GetParam().shownAfter;
  bool number = false;
  const std::uint32_t value = shown.remove(' ').toUInt(&number, field.base);
  ASSERT_TRUE(number) << shown.toStdString();
  EXPECT_EQ(field.sent(panel->BuildConvtParams()), value);
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
        InputCase{"PasteInterval", Field::Interval, InputPath::Paste, "10", "10"},
        InputCase{"AccessibleLettersAndChinese", Field::DataId, InputPath::Accessible,
                  "ZZ 中文 7F F", "12 34 56 78"},
        InputCase{"AccessibleIdentifier", Field::SendId, InputPath::Accessible, "00 00 07 00",
                  "00 00 07 00"},
        InputCase{"AccessibleDigitsFillFromTheLeft", Field::DataId, InputPath::Accessible, "7ff",
                  "7F F0 00 00"},
        InputCase{"AccessibleNineDigits", Field::DataId, InputPath::Accessible, "123456789",
                  "12 34 56 78"},
        // A field without the focus is pulled into its range at once.
        InputCase{"AccessibleOffsetAboveRange", Field::Offset, InputPath::Accessible, "8", "7"},
        InputCase{"AccessibleLetterOnInterval", Field::Interval, InputPath::Accessible, "x", "2"}),
    kRowName);

// ---- text that arrives without a key press ----

// A field holding what its control cannot: a write, a setting command and an
// export refuse it with the field's own message, and send or store nothing.
struct RefusalCase {
  const char* name;
  std::function<void(params::PanelControls&)> put;
  const char* field;
  int tab;
  QString message;
};

class FieldRefusalTest : public ParamPanelTest,
                         public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(FieldRefusalTest, IsRefusedWithTheFieldsOwnMessageWhateverPathItCameBy) {
  const RefusalCase& row = GetParam();
  ASSERT_NO_FATAL_FAILURE(ShowWindow());
  c.pgcFunc->setCurrentIndex(1);
  row.put(c);
  QWidget* field = window.findChild<QWidget*>(row.field);

  EXPECT_TRUE(panel->ValidatePanel());
  EXPECT_EQ(dialogs.messages, QStringList{row.message});
  EXPECT_EQ(c.pgcFunc->currentIndex(), row.tab);
  EXPECT_EQ(field->hasFocus(), field->isEnabled());  // a disabled field cannot take it

  const std::uint16_t command = row.tab == 0 ? protocol::CMD_CONVT_SET : protocol::CMD_CAN_SET;
  EXPECT_THROW(panel->SendSetCommand(command), params::EFieldRefused);
  EXPECT_TRUE(sent.empty());
  c.cbbByteSize->setCurrentIndex(0);
  try {
    params::BuildParameterFile(*panel);
    ADD_FAILURE() << "an export would store it";
  } catch (const params::EFieldRefused& refused) {
    EXPECT_EQ(refused.Text(), row.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldRefusalTest,
    ::testing::Values(
        // Voice input into the focused field stands as typed text does, until
        // the field is left.
        RefusalCase{"OffsetAboveRange",
                    [](params::PanelControls& c) {
                      c.spEdtOffSet->setFocus();
                      QAccessible::queryAccessibleInterface(c.spEdtOffSet)
                          ->editableTextInterface()
                          ->replaceText(0, 1, "8");
                    },
                    "spEdtOffSet", 0, "起始偏移: 8 is outside the valid values range: [0,7]"},
        RefusalCase{"IntervalBelowRange",
                    [](params::PanelControls& c) {
                      c.spEdtInterval->setFocus();
                      QAccessible::queryAccessibleInterface(c.spEdtInterval)
                          ->editableTextInterface()
                          ->replaceText(0, 1, "1");
                    },
                    "spEdtInterval", 0,
                    "串行帧之间的时间间隔为： 1 is outside the valid values range: [2,10]"},
        // A program's text (setText is not checked) in the identifier
        // without a range.
        RefusalCase{"DataIdentifierNotHexadecimal",
                    [](params::PanelControls& c) { c.EdtDataCANID->setText("ZZ 中文 7F F"); },
                    "EdtDataCANID", 0,
                    "发送标识符: \"ZZ 中文 7F F0\" is not eight hexadecimal digits"},
        // An identifier with a range gets its range message, with the filter
        // off too: it would be sent.
        RefusalCase{"FilterCodeNotHexadecimal",
                    [](params::PanelControls& c) { c.edtFilterChkCode->setText("GG 00 00 00"); },
                    "edtFilterChkCode", 2, kStandardMessage}),
    kRowName);

// ---- what a screen reader finds ----

TEST_F(ParamPanelTest, FieldsAreNamedByTheirLabelsAndReadAsShown) {
  c.EdtUsrCANID->setText("00 00 07 00");
  c.cbbParity->setCurrentIndex(1);
  struct Row {
    const char* field;
    const char* name;
    const char* value;
  };
  const Row rows[] = {
      {"cbxChgType", "转换模式：", ""},
      {"cbxChgDirection", "转换方向：", "双向"},
      {"EdtUsrCANID", "发送标识符:", "00 00 07 00"},
      {"spEdtOffSet", "起始偏移:", "0"},
      {"spEdtLen", "长度：", "1"},
      {"spEdtInterval", "串行帧之间的时间间隔为：", "2"},
      {"EdtDataCANID", "发送标识符:", "00 00 00 00"},
      {"cbbBaudRate", "波特率:", "300"},
      {"cbbParity", "校验位:", "ODD"},
      {"CbxCANBaudrate", "波特率:", ""},
      {"edtFilterMaskCode", "过滤屏蔽码:", "00 00 00 00"},
      // Without a label a list is named by its item, as the toolkit does.
      {"cbxFilterFrame", "只接收标准帧", "只接收标准帧"},
  };
  for (const Row& row : rows) {
    QAccessibleInterface* access =
        QAccessible::queryAccessibleInterface(window.findChild<QWidget*>(row.field));
    ASSERT_NE(access, nullptr) << row.field;
    EXPECT_EQ(access->text(QAccessible::Name), row.name) << row.field;
    EXPECT_EQ(access->text(QAccessible::Value), row.value) << row.field;
  }
  // The hex edit's text interface reads the shown text too.
  QAccessibleTextInterface* text =
      QAccessible::queryAccessibleInterface(c.EdtUsrCANID)->textInterface();
  EXPECT_EQ(text->text(0, text->characterCount()), "00 00 07 00");
}

TEST_F(ParamPanelTest, SpinValueSetByAnAssistiveTechnologyIsPulledIntoItsRange) {
  QAccessibleValueInterface* value =
      QAccessible::queryAccessibleInterface(c.spEdtInterval)->valueInterface();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->minimumValue(), 2);
  EXPECT_EQ(value->maximumValue(), 10);
  value->setCurrentValue(12);
  EXPECT_EQ(c.spEdtInterval->text(), "10");
  EXPECT_EQ(value->currentValue(), 10);
}

// ---- the window's design holds what the rules accept ----

// Each list and spin edit of the shipped design against the panel's rules:
// the items, and for every value of the field the same verdict as the rules'
// table of what the controls can hold (the one quillon-cli checks with).
TEST_F(ParamPanelTest, DesignHoldsExactlyWhatTheRulesAccept) {
  auto texts = [](auto&& items) {
    QStringList list;
    for (const auto& item : items) {
      if constexpr (std::is_arithmetic_v<std::decay_t<decltype(item)>>)
        list.append(QString::number(item));
      else
        list.append(QString::fromUtf8(item));
    }
    return list;
  };
  auto items = [](const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i) list.append(box->itemText(i));
    return list;
  };
  // The number lists are never translated: their texts are what is sent.
  for (QComboBox* box :
       {c.cbbBaudRate, c.cbbByteSize, c.cbbParity, c.cbbStopBits, c.CbxCANBaudrate})
    EXPECT_EQ(box->property("Tag").toInt(), 999) << box->objectName().toStdString();
  EXPECT_EQ(items(c.cbbBaudRate), texts(protocol::kBaudRates));
  EXPECT_EQ(items(c.cbbByteSize), QStringList{QString::number(protocol::kDataBits)});
  EXPECT_EQ(items(c.cbbParity), texts(protocol::kParityItems));
  EXPECT_EQ(items(c.cbbStopBits), texts(protocol::kStopBitsItems));
  EXPECT_EQ(items(c.CbxCANBaudrate), texts(protocol::kCanBitRateItems));
  EXPECT_EQ(c.cbxChgType->count(), protocol::kModeCount);
  EXPECT_EQ(c.cbxChgDirection->count(), protocol::kDirectionCount);
  EXPECT_EQ(c.cbxUsrFrameTp->count(), protocol::kFrameTypeCount);
  EXPECT_EQ(c.cbxFilterFrame->count(), protocol::kFrameTypeCount);
  EXPECT_EQ(c.cbxFilterID->count(), protocol::kFilterIdCount);

  // The values each control can hold, worked out from the control alone.
  auto numbers = [](const QComboBox* box) {
    std::set<std::uint32_t> held;
    for (int i = 0; i < box->count(); ++i) held.insert(box->itemText(i).toUInt());
    return held;
  };
  auto indexes = [](const QComboBox* box, int first) {
    std::set<std::uint32_t> held;
    for (int i = 0; i < box->count(); ++i) held.insert(static_cast<std::uint32_t>(i + first));
    return held;
  };
  auto spin = [](const SpinEdit* edit) {
    std::set<std::uint32_t> held;
    for (int v = edit->MinValue(); v <= edit->MaxValue(); ++v)
      held.insert(static_cast<std::uint32_t>(v));
    // Its length limit fits the largest value, and no more.
    EXPECT_EQ(edit->MaxLength(), QString::number(edit->MaxValue()).size());
    return held;
  };
  const std::pair<const char*, std::set<std::uint32_t>> fields[] = {
      {"convt.mode", indexes(c.cbxChgType, 0)},
      {"convt.direction", indexes(c.cbxChgDirection, 0)},
      {"convt.idOffset", spin(c.spEdtOffSet)},
      {"convt.idLength", spin(c.spEdtLen)},
      {"convt.frameGapChars", spin(c.spEdtInterval)},
      {"com.baudRate", numbers(c.cbbBaudRate)},
      {"com.dataBits", numbers(c.cbbByteSize)},
      {"com.parityCode", indexes(c.cbbParity, 1)},
      // Item "1" is one stop bit (code 1), item "2" two (code 3).
      {"com.stopBitsCode", {1, 3}},
      {"can.bitRateIndex", indexes(c.CbxCANBaudrate, 0)},
  };
  for (const auto& [key, held] : fields) {
    const protocol::ParamField* field = protocol::FindParamField(key);
    ASSERT_NE(field, nullptr) << key;
    std::set<std::uint32_t> candidates = held;
    for (std::uint32_t v = 0; v <= 300; ++v) candidates.insert(v);
    for (std::uint32_t v : {301u, 12345u, 115201u, 0xFFFFFFFFu}) candidates.insert(v);
    for (std::uint32_t v : candidates)
      EXPECT_EQ(field->refuse(v).has_value(), held.count(v) == 0) << key << " " << v;
  }
}

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
