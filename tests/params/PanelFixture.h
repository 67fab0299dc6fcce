#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>
#include <QWidget>
#include <memory>

#include "i18n/untDM.h"
#include "params/MyMaskEdit.h"
#include "params/ParamPanel.h"
#include "params/SpinEdit.h"
#include "support/ScriptedDialogs.h"

namespace params_testing {

// The three parameter tabs with the controls, items, ranges and initial
// selections of the main window's design, and a panel over them. The
// controls are enabled as after a connection, except the four filter
// controls, which start disabled as designed and follow the filter box.
class PanelFixture {
 public:
  PanelFixture() {
    window.resize(478, 420);
    auto* tabs = new QTabWidget(&window);
    tabs->resize(470, 410);
    c.pgcFunc = tabs;
    auto* convert = new QWidget;
    auto* com = new QWidget;
    auto* can = new QWidget;
    tabs->addTab(convert, "tsConvert");
    tabs->addTab(com, "tsCOM");
    tabs->addTab(can, "tsCAN");

    c.cbxChgType =
        Combo(convert, {"透明转换", "带ID标识符的透明转换", "ModbusRTU转换", "数据转换"}, -1);
    c.cbxChgDirection = Combo(convert, {"CAN==>COM", "COM==>CAN", "双向"}, 2);
    c.chkCANInfoInPort = new QCheckBox(convert);
    c.chkCANIDInPort = new QCheckBox(convert);
    c.EdtUsrCANID = new TMyMaskEdit(convert);
    c.spEdtOffSet = Spin(convert, 0, 7, 1, 0);
    c.spEdtLen = Spin(convert, 1, 4, 1, 1);
    c.spEdtInterval = Spin(convert, 2, 10, 2, 2);
    c.chkCanInfo = new QCheckBox(convert);
    c.chkCanId = new QCheckBox(convert);
    c.EdtDataCANID = new TMyMaskEdit(convert);
    Stack(convert);

    c.cbbBaudRate = Combo(
        com, {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
        0);
    c.cbbByteSize = Combo(com, {"8"}, -1);
    c.cbbParity = Combo(com, {"EVEN", "ODD", "SPACE", "MARK", "NONE"}, 4);
    c.cbbStopBits = Combo(com, {"1", "2"}, -1);
    Stack(com);

    c.CbxCANBaudrate = Combo(can,
                             {"1Mbps", "500Kbps", "250Kbps", "125Kbps", "100Kbps", "50Kbps",
                              "25Kbps", "20Kbps", "10Kbps", "5Kbps", "2.5Kbps"},
                             -1);
    c.cbxUsrFrameTp = Combo(can, {"标准", "扩展"}, 0);
    c.chkActiveRecFilter = new QCheckBox("过滤无效", can);
    c.cbxFilterFrame = Combo(can, {"只接收标准帧", "只接收扩展帧"}, 0);
    c.cbxFilterID = Combo(can, {"不区分ID", "区分ID"}, 0);
    c.edtFilterChkCode = new TMyMaskEdit(can);
    c.edtFilterMaskCode = new TMyMaskEdit(can);
    Stack(can);
    for (QWidget* filterControl :
         {static_cast<QWidget*>(c.cbxFilterFrame), static_cast<QWidget*>(c.cbxFilterID),
          static_cast<QWidget*>(c.edtFilterChkCode), static_cast<QWidget*>(c.edtFilterMaskCode)})
      filterControl->setEnabled(false);

    panel = std::make_unique<params::ParamPanel>(c);
    panel->SetSendTarget([this](const std::uint8_t* data, std::uint16_t length) {
      sent.emplace_back(data, data + length);
      return acceptSends;
    });
    dialogs.messages.clear();
  }

  void SetLanguage(const char* code) { dataModule.LangCode = QString::fromLatin1(code); }

  testing_support::ScriptedDialogs dialogs;
  TfrmDM dataModule;
  QWidget window;
  params::PanelControls c;
  std::unique_ptr<params::ParamPanel> panel;
  std::vector<std::vector<std::uint8_t>> sent;
  bool acceptSends = true;

 private:
  static QComboBox* Combo(QWidget* parent, const QStringList& items, int current) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
  }

  static SpinEdit* Spin(QWidget* parent, int min, int max, int length, int value) {
    auto* spin = new SpinEdit(parent);
    spin->SetMinValue(min);
    spin->SetMaxValue(max);
    spin->SetMaxLength(length);
    spin->SetValue(value);
    return spin;
  }

  // Lays the children of a page out top to bottom so each can be seen.
  static void Stack(QWidget* page) {
    int y = 4;
    for (QObject* child : page->children()) {
      if (auto* widget = qobject_cast<QWidget*>(child)) {
        widget->setGeometry(4, y, 200, 22);
        y += 24;
      }
    }
  }
};

}  // namespace params_testing
