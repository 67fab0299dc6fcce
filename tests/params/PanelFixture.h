#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "i18n/untDM.h"
#include "params/MyMaskEdit.h"
#include "params/ParamPanel.h"
#include "params/SpinEdit.h"
#include "support/ScriptedDialogs.h"
#include "ui_untMain.h"

namespace params_testing {

// The main window's design (its .ui, items, ranges, initial selections and
// labels as shipped) and a panel over its three parameter tabs. The controls
// are enabled as after a connection, except the four filter controls, which
// start disabled as designed and follow the filter box, and the data-bits
// list, which stays disabled for good.
class PanelFixture {
 public:
  PanelFixture() {
    form.setupUi(&window);
    c.pgcFunc = form.pgcFunc;
    c.cbxChgType = form.cbxChgType;
    c.cbxChgDirection = form.cbxChgDirection;
    c.chkCANInfoInPort = form.chkCANInfoInPort;
    c.chkCANIDInPort = form.chkCANIDInPort;
    c.EdtUsrCANID = form.EdtUsrCANID;
    c.spEdtOffSet = form.spEdtOffSet;
    c.spEdtLen = form.spEdtLen;
    c.spEdtInterval = form.spEdtInterval;
    c.chkCanInfo = form.chkCanInfo;
    c.chkCanId = form.chkCanId;
    c.EdtDataCANID = form.EdtDataCANID;
    c.cbbBaudRate = form.cbbBaudRate;
    c.cbbByteSize = form.cbbByteSize;
    c.cbbParity = form.cbbParity;
    c.cbbStopBits = form.cbbStopBits;
    c.CbxCANBaudrate = form.CbxCANBaudrate;
    c.cbxUsrFrameTp = form.cbxUsrFrameTp;
    c.chkActiveRecFilter = form.chkActiveRecFilter;
    c.cbxFilterFrame = form.cbxFilterFrame;
    c.cbxFilterID = form.cbxFilterID;
    c.edtFilterChkCode = form.edtFilterChkCode;
    c.edtFilterMaskCode = form.edtFilterMaskCode;
    const QList<QWidget*> connectedOnly = {
        c.cbxChgType,  c.cbxChgDirection, c.chkCANInfoInPort, c.chkCANIDInPort,    c.EdtUsrCANID,
        c.spEdtOffSet, c.spEdtLen,        c.spEdtInterval,    c.cbbBaudRate,       c.cbbParity,
        c.cbbStopBits, c.CbxCANBaudrate,  c.cbxUsrFrameTp,    c.chkActiveRecFilter};
    for (QWidget* control : connectedOnly) control->setEnabled(true);

    panel = std::make_unique<params::ParamPanel>(c);
    panel->SetSendTarget([this](const std::uint8_t* data, std::uint16_t length) {
      sent.emplace_back(data, data + length);
      return acceptSends;
    });
    dialogs.messages.clear();
  }

  void SetLanguage(const char* code) { dataModule.LangCode = QString::fromLatin1(code); }

  void ShowWindow() {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }

  // The controls that follow the filter box.
  QList<QWidget*> FilterControls() const {
    return {c.cbxFilterFrame, c.cbxFilterID, c.edtFilterChkCode, c.edtFilterMaskCode};
  }

  testing_support::ScriptedDialogs dialogs;
  TfrmDM dataModule;
  QMainWindow window;
  Ui::TfrmMain form;
  params::PanelControls c;
  std::unique_ptr<params::ParamPanel> panel;
  std::vector<std::vector<std::uint8_t>> sent;
  bool acceptSends = true;
};

}  // namespace params_testing
