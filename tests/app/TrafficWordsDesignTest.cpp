// The Chinese words of the traffic rows copy the main window's design: its
// item texts, its check-box captions and, within the record patterns, its
// labels. Compared with the design as shipped, so that the two cannot drift.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>

#include "app/untMainForm.h"
#include "messages/TrafficWords.h"
#include "protocol/RecordText.h"
#include "protocol/Records.h"

namespace {

using messages::TrafficWord;

QString DesignCaption(const QWidget* control) {
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (auto* group = qobject_cast<const QGroupBox*>(control)) return group->title();
  ADD_FAILURE() << control->objectName().toStdString() << " has no caption";
  return {};
}

QString Chinese(TrafficWord word) {
  return QString::fromUtf8(messages::TrafficWordText(word, "chn"));
}

TEST(TrafficWordsDesign, ChineseWordsAreTheDesignsTexts) {
  QMainWindow window;
  Ui::TfrmMain design;
  design.setupUi(&window);
  using W = TrafficWord;

  // Item i of a list.
  const struct {
    QComboBox* list;
    std::vector<W> words;
  } lists[] = {
      {design.cbxChgType,
       {W::ModeTransparent, W::ModeTransparentWithId, W::ModeModbusRtu, W::ModeData}},
      {design.cbxChgDirection, {W::DirectionCanToCom, W::DirectionComToCan, W::DirectionBoth}},
      {design.cbbParity,
       {W::ParityEven, W::ParityOdd, W::ParitySpace, W::ParityMark, W::ParityNone}},
      {design.cbbStopBits, {W::StopBitsOne, W::StopBitsTwo}},
      {design.cbxUsrFrameTp, {W::FrameStandard, W::FrameExtended}},
      {design.cbxFilterFrame, {W::FilterStandardOnly, W::FilterExtendedOnly}},
      {design.cbxFilterID, {W::FilterIdIgnored, W::FilterIdDistinguished}},
  };
  for (const auto& list : lists) {
    ASSERT_EQ(static_cast<std::size_t>(list.list->count()), list.words.size())
        << list.list->objectName().toStdString();
    for (int i = 0; i < list.list->count(); ++i)
      EXPECT_EQ(Chinese(list.words[static_cast<std::size_t>(i)]), list.list->itemText(i))
          << list.list->objectName().toStdString() << "[" << i << "]";
  }

  // A caption, as the word itself or within a record's pattern.
  const struct {
    W word;
    std::vector<QWidget*> controls;
    bool within;
  } captions[] = {
      {W::TransparentInfo, {design.chkCANInfoInPort}, false},
      {W::TransparentId, {design.chkCANIDInPort}, false},
      {W::DataInfo, {design.chkCanInfo}, false},
      {W::DataId, {design.chkCanId}, false},
      {W::ConvtRecord,
       {design.Label1, design.Label3, design.GroupBox1, design.Label4, design.Label7, design.Label8,
        design.Label9, design.Label10, design.grp1, design.Label11},
       true},
      {W::ComRecord, {design.Label14, design.Label15, design.Label16, design.Label18}, true},
      {W::CanRecord, {design.Label19, design.Label20, design.Label21, design.Label23}, true},
  };
  for (const auto& caption : captions) {
    for (const QWidget* control : caption.controls) {
      const QString text = DesignCaption(control);
      if (caption.within)
        EXPECT_TRUE(Chinese(caption.word).contains(text)) << control->objectName().toStdString();
      else
        EXPECT_EQ(Chinese(caption.word), text) << control->objectName().toStdString();
    }
  }

  // The CAN bit rates, which the record text holds in a list of its own.
  for (int i = 0; i < design.CbxCANBaudrate->count(); ++i) {
    protocol::CanParams can;
    can.bitRateIndex = static_cast<std::uint8_t>(i);
    const QString text = QString::fromStdString(protocol::DescribeRecord(can, "chn"));
    EXPECT_TRUE(text.startsWith(design.Label19->text() + design.CbxCANBaudrate->itemText(i) + "，"))
        << text.toStdString();
  }
}

}  // namespace
