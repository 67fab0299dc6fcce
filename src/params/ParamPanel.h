#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "protocol/Frame.h"
#include "protocol/Records.h"

class QCheckBox;
class QComboBox;
class QTabWidget;
class TMyMaskEdit;
class SpinEdit;

namespace params {

// Where a setting frame goes: the serial component's SendData. False means
// the port refused the block.
using SendTarget = std::function<bool(const std::uint8_t* data, std::uint16_t length)>;

// The controls of the three parameter tabs. They are the only store of the
// parameter values: records are built from them and put into them.
struct PanelControls {
  QTabWidget* pgcFunc = nullptr;
  // Conversion tab.
  QComboBox* cbxChgType = nullptr;
  QComboBox* cbxChgDirection = nullptr;
  QCheckBox* chkCANInfoInPort = nullptr;
  QCheckBox* chkCANIDInPort = nullptr;
  TMyMaskEdit* EdtUsrCANID = nullptr;
  SpinEdit* spEdtOffSet = nullptr;
  SpinEdit* spEdtLen = nullptr;
  SpinEdit* spEdtInterval = nullptr;
  QCheckBox* chkCanInfo = nullptr;
  QCheckBox* chkCanId = nullptr;
  TMyMaskEdit* EdtDataCANID = nullptr;
  // Serial-line tab.
  QComboBox* cbbBaudRate = nullptr;
  QComboBox* cbbByteSize = nullptr;
  QComboBox* cbbParity = nullptr;
  QComboBox* cbbStopBits = nullptr;
  // CAN tab.
  QComboBox* CbxCANBaudrate = nullptr;
  QComboBox* cbxUsrFrameTp = nullptr;
  QCheckBox* chkActiveRecFilter = nullptr;
  QComboBox* cbxFilterFrame = nullptr;
  QComboBox* cbxFilterID = nullptr;
  TMyMaskEdit* edtFilterChkCode = nullptr;
  TMyMaskEdit* edtFilterMaskCode = nullptr;
};

// How a stop-bits code is shown: a reply clears the selection for an unknown
// code, a parameter file shows one stop bit for it.
enum class StopBitsRule { Reply, File };

// The parameter panel's logic: records to and from the controls, the setting
// commands, the checks before a write, the key filters of the numeric fields
// and the receive-filter check box.
class ParamPanel : public QObject {
  Q_OBJECT

 public:
  // Installs the key filters and the filter check box's handler.
  explicit ParamPanel(const PanelControls& controls, QObject* parent = nullptr);

  const PanelControls& Controls() const { return c_; }
  void SetSendTarget(SendTarget target) { send_ = std::move(target); }

  // Records built from the controls as they stand. One-byte fields take the
  // low 8 bits (nothing selected goes out as 0xFF). BuildComParams throws
  // platform::EConvertError when a baud-rate or data-bits text is not a number.
  protocol::ConvtParams BuildConvtParams() const;
  protocol::ComParams BuildComParams() const;
  protocol::CanParams BuildCanParams() const;

  // CMD_CONVT_SET, CMD_COM_SET or CMD_CAN_SET: builds the record, frames it
  // and hands the 29 bytes to the send target; a refusal is reported to the
  // operator. Any other command does nothing. Failures of the record building
  // propagate to the caller.
  void SendSetCommand(std::uint16_t cmd);

  // Puts the record of a reply into the controls. replyCmd is the reading
  // command the frame answers (CMD_CONVT_GET, CMD_COM_GET, CMD_CAN_GET); any
  // other value does nothing.
  void ApplyRecord(const protocol::Frame& frame, std::uint16_t replyCmd);

  // The record-to-control rules, shared with the parameter files. The
  // parameter file carries no data-conversion fields.
  void ApplyConvtParams(const protocol::ConvtParams& record, bool withDataConversion);
  void ApplyComParams(const protocol::ComParams& record, StopBitsRule rule);
  void ApplyCanParams(const protocol::CanParams& record);

  // The checks before a write. True when a check failed: the operator has
  // been told, the failing control's tab is shown. False when all passed
  // (the CAN tab is then shown; the caller restores its own tab).
  bool ValidatePanel();

  // True when the identifier in `edit` is outside the range of its frame type
  // (the operator has been told and the edit has the focus).
  bool CheckIdRange(TMyMaskEdit* edit);

  // Handler of the filter check box, run on every change of its state:
  // enables the four filter controls with it and sets its caption.
  void chkActiveRecFilterClick();

 protected:
  // The key-press handlers of the hex edits and spin edits. Pasted, dropped
  // and composed text is held to the same characters by the fields' own
  // validation.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void InstallKeyFilters();
  void SetFilterControlsEnabled(bool enabled);

  PanelControls c_;
  SendTarget send_;
};

// The eight hexadecimal characters of a hex edit: characters 1-2, 4-5, 7-8
// and 10-11 of its trimmed text.
QString MaskTextToId(const TMyMaskEdit* edit);

// "12345678" gives "12 34 56 78"; a text of any other length gives "".
QString IdToMaskText(const QString& id);

// Exactly eight upper-case hexadecimal digits with leading zeros.
QString IdToHexText(std::uint32_t value);

// The number of an identifier text; nullopt-like: ok is false when the text
// is not hexadecimal.
std::uint32_t ParseHexId(const QString& id, bool* ok);

// What the key filters let through: backspace, tab, line feed, carriage
// return and the characters of each kind of field.
enum class KeyFilterKind { Hex, Digits, IdLength };
bool KeyAllowed(KeyFilterKind kind, QChar key);
// The characters a field of each kind takes, by any input path.
QString FieldChars(KeyFilterKind kind);

}  // namespace params
