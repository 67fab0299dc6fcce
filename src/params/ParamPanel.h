#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "platform/Exception.h"
#include "protocol/Frame.h"
#include "protocol/PanelRules.h"
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

// A field holds what its control cannot: a spin edit a number outside its
// range, a hex edit a text that is not eight hexadecimal digits. Typing
// cannot get there; text put in by another path (an assistive technology, a
// program) can. The text is the field's own message in the current language.
class EFieldRefused : public platform::Exception {
 public:
  EFieldRefused(QWidget* field, const QString& text) : platform::Exception(text), field_(field) {}
  QWidget* Field() const { return field_; }

 private:
  QWidget* field_;
};

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
  // BuildConvtParams and BuildCanParams throw EFieldRefused for a field
  // holding what its control cannot; nothing is built from such a field.
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

  // The checks before a write: every field holds what its control can, then
  // the rules' checks before a write. True when a check failed: the operator
  // has been told, the failing control's tab is shown and it has the focus.
  // False when all passed (the CAN tab is then shown; the caller restores its
  // own tab).
  bool ValidatePanel();

  // True when the identifier in `edit` is outside the range of its frame type
  // (the operator has been told and the edit has the focus).
  bool CheckIdRange(TMyMaskEdit* edit);

  // Handler of the filter check box, run on every change of its state:
  // enables the four filter controls with it and sets its caption.
  void chkActiveRecFilterClick();
  // The filter box's caption for its state in the current language. A
  // language pass sets the designed caption whatever the state; the window
  // calls this after each pass.
  void UpdateFilterCaption();

 protected:
  // The key-press handlers of the hex edits and spin edits. Pasted, dropped
  // and composed text is held to the same characters by the fields' own
  // validation.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void InstallKeyFilters();
  void SetFilterControlsEnabled(bool enabled);
  // The number in a hex edit; throws EFieldRefused when its text is not
  // eight hexadecimal digits.
  std::uint32_t IdOfField(TMyMaskEdit* edit) const;
  // The frame-type list that bounds a hex edit's identifier; null for the
  // data-conversion identifier, which has no range.
  const QComboBox* FrameTypeOf(const TMyMaskEdit* edit) const;
  // The value of a spin edit; throws EFieldRefused outside `range`.
  std::uint8_t SpinValueOfField(SpinEdit* spin, protocol::ByteRange range) const;
  // Shows the tab holding `field`, gives it the focus if it can take it.
  void ShowField(QWidget* field);
  // The control a failed check before a write names.
  QWidget* ControlOfKey(const std::string& key) const;

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
