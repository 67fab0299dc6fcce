#include "params/ParamPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QTabWidget>

#include "i18n/OperatorMessages.h"
#include "i18n/PublicFunction.h"
#include "params/FieldAccessibility.h"
#include "params/MyMaskEdit.h"
#include "params/SpinEdit.h"
#include "ui/Dialogs.h"

namespace params {
namespace {

using messages::Msg;

constexpr int kConvertPage = 0;
constexpr int kCanPage = 2;
constexpr std::uint32_t kUnparsedId = 0xFFFFFFFF;
constexpr int kFlagDigits = 8;

// A one-byte field takes the low 8 bits: an index of -1 goes out as 0xFF.
std::uint8_t LowByte(int value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

QString Bit(bool set) {
  return set ? QStringLiteral("1") : QStringLiteral("0");
}

// The flag digits of a received byte, most significant first: digit 8 (index
// 7) is bit 0, digit 7 bit 1, digit 4 bit 4.
bool FlagDigitSet(std::uint8_t flags, int digit) {
  return IntToBinStr(flags, kFlagDigits).mid(digit - 1, 1) == QLatin1String("1");
}

// The two-bit option byte "bit1 bit0".
std::uint8_t TwoOptionFlags(const QCheckBox* bit0, const QCheckBox* bit1) {
  return LowByte(BinStrToInt(Bit(bit1->isChecked()) + Bit(bit0->isChecked())));
}

std::uint32_t IdOfEdit(const TMyMaskEdit* edit, std::uint32_t whenUnparsed) {
  bool ok = false;
  const std::uint32_t value = ParseHexId(MaskTextToId(edit), &ok);
  return ok ? value : whenUnparsed;
}

void ShowIdInEdit(TMyMaskEdit* edit, std::uint32_t value) {
  edit->setText(IdToMaskText(IdToHexText(value)));
}

// A combo box text read as a decimal number, as the item texts of the baud
// rate and data bits travel.
qint64 DecimalOfText(const QString& text) {
  bool ok = false;
  const qint64 value = text.trimmed().toLongLong(&ok, 10);
  if (!ok)
    throw platform::EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return value;
}

// The item showing `text`; the rules have already put the value on a listed
// one.
void SelectItemWithText(QComboBox* box, const QString& text) {
  box->setCurrentIndex(box->findText(text, Qt::MatchExactly));
}

void SelectItemIfExists(QComboBox* box, int index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

// The toolkit's CanFocus: enabled and shown.
void FocusIfPossible(QWidget* widget) {
  if (widget->isEnabled() && widget->isVisible()) widget->setFocus(Qt::OtherFocusReason);
}

}  // namespace

ParamPanel::ParamPanel(const PanelControls& controls, QObject* parent)
    : QObject(parent), c_(controls) {
  InstallKeyFilters();
  AdoptFieldAccessibility(c_.pgcFunc->window());
  connect(c_.chkActiveRecFilter, &QCheckBox::toggled, this, &ParamPanel::chkActiveRecFilterClick);
}

// ---- records from the controls ----

protocol::ConvtParams ParamPanel::BuildConvtParams() const {
  protocol::ConvtParams record;
  record.mode = LowByte(c_.cbxChgType->currentIndex());
  record.direction = LowByte(c_.cbxChgDirection->currentIndex());
  record.transparentFlags = TwoOptionFlags(c_.chkCANInfoInPort, c_.chkCANIDInPort);
  record.idOffset = SpinValueOfField(c_.spEdtOffSet, protocol::kIdOffsetRange);
  record.idLength = SpinValueOfField(c_.spEdtLen, protocol::kIdLengthRange);
  record.frameGapChars = SpinValueOfField(c_.spEdtInterval, protocol::kFrameGapRange);
  record.transparentSendId = IdOfField(c_.EdtUsrCANID);
  record.dataFlags = TwoOptionFlags(c_.chkCanInfo, c_.chkCanId);
  record.dataSendId = IdOfField(c_.EdtDataCANID);
  return record;
}

protocol::ComParams ParamPanel::BuildComParams() const {
  protocol::ComParams record;
  record.baudRate = static_cast<std::uint32_t>(DecimalOfText(c_.cbbBaudRate->currentText()));
  record.dataBits = LowByte(static_cast<int>(DecimalOfText(c_.cbbByteSize->currentText())));
  record.parityCode = protocol::ParityCodeOfItem(c_.cbbParity->currentIndex());
  record.stopBitsCode = protocol::StopBitsCodeOfItem(c_.cbbStopBits->currentIndex());
  return record;
}

protocol::CanParams ParamPanel::BuildCanParams() const {
  protocol::CanParams record;
  record.bitRateIndex = LowByte(c_.CbxCANBaudrate->currentIndex());
  record.frameType = protocol::FrameTypeOfItem(c_.cbxUsrFrameTp->currentIndex());
  // Five digits: bit 4, bits 3 and 2 (always 0), bit 1, bit 0.
  const QString digits = Bit(c_.cbxFilterID->currentIndex() == 1) + QStringLiteral("00") +
                         Bit(c_.cbxFilterFrame->currentIndex() == 1) +
                         Bit(c_.chkActiveRecFilter->isChecked());
  record.filterFlags = LowByte(BinStrToInt(digits));
  record.acceptanceCode = IdOfField(c_.edtFilterChkCode);
  record.acceptanceMask = IdOfField(c_.edtFilterMaskCode);
  return record;
}

// ---- what a field holds ----

std::uint32_t ParamPanel::IdOfField(TMyMaskEdit* edit) const {
  bool ok = false;
  const std::uint32_t value = ParseHexId(MaskTextToId(edit), &ok);
  if (ok) return value;
  // The identifiers with a range are refused with their range message, as
  // the check before a write refuses a text that does not parse.
  if (const QComboBox* frameType = FrameTypeOf(edit))
    throw EFieldRefused(edit, MsgText(protocol::IdRangeMessage(frameType->currentIndex() == 1)));
  throw EFieldRefused(edit, MsgText(Msg::FieldNotHexId).arg(FieldLabel(edit), edit->MaskedText()));
}

const QComboBox* ParamPanel::FrameTypeOf(const TMyMaskEdit* edit) const {
  if (edit == c_.EdtUsrCANID) return c_.cbxUsrFrameTp;
  if (edit == c_.edtFilterChkCode || edit == c_.edtFilterMaskCode) return c_.cbxFilterFrame;
  return nullptr;
}

std::uint8_t ParamPanel::SpinValueOfField(SpinEdit* spin, protocol::ByteRange range) const {
  const int value = spin->Value();
  if (range.Holds(value)) return static_cast<std::uint8_t>(value);
  throw EFieldRefused(spin, MsgText(Msg::FieldOutOfRange)
                                .arg(FieldLabel(spin), spin->text())
                                .arg(range.min)
                                .arg(range.max));
}

void ParamPanel::SendSetCommand(std::uint16_t cmd) {
  protocol::Frame frame{};
  switch (cmd) {
    case protocol::CMD_CONVT_SET:
      frame = BuildConvtParams().ToSetFrame();
      break;
    case protocol::CMD_COM_SET:
      frame = BuildComParams().ToSetFrame();
      break;
    case protocol::CMD_CAN_SET:
      frame = BuildCanParams().ToSetFrame();
      break;
    default:
      return;
  }
  const bool sent = send_ && send_(frame.data(), static_cast<std::uint16_t>(frame.size()));
  if (sent) return;
  // The two English texts differ in their last characters; both are kept.
  ShowMsg(cmd == protocol::CMD_CAN_SET ? Msg::SetSendErrorCan : Msg::SetSendError);
}

// ---- records into the controls ----

void ParamPanel::ApplyRecord(const protocol::Frame& frame, std::uint16_t replyCmd) {
  switch (replyCmd) {
    case protocol::CMD_CONVT_GET:
      ApplyConvtParams(protocol::ConvtParams::FromReply(frame), true);
      break;
    case protocol::CMD_COM_GET:
      ApplyComParams(protocol::ComParams::FromReply(frame), StopBitsRule::Reply);
      break;
    case protocol::CMD_CAN_GET:
      ApplyCanParams(protocol::CanParams::FromReply(frame));
      break;
    default:
      break;
  }
}

void ParamPanel::ApplyConvtParams(const protocol::ConvtParams& record, bool withDataConversion) {
  const protocol::ConvtParams shown = protocol::AsPanelShows(record);
  c_.cbxChgType->setCurrentIndex(shown.mode);
  c_.cbxChgDirection->setCurrentIndex(shown.direction);
  c_.chkCANInfoInPort->setChecked(FlagDigitSet(shown.transparentFlags, 8));
  c_.chkCANIDInPort->setChecked(FlagDigitSet(shown.transparentFlags, 7));
  c_.spEdtOffSet->SetValue(shown.idOffset);
  c_.spEdtLen->SetValue(shown.idLength);
  c_.spEdtInterval->SetValue(shown.frameGapChars);
  ShowIdInEdit(c_.EdtUsrCANID, shown.transparentSendId);
  if (!withDataConversion) return;
  c_.chkCanInfo->setChecked(FlagDigitSet(shown.dataFlags, 8));
  c_.chkCanId->setChecked(FlagDigitSet(shown.dataFlags, 7));
  ShowIdInEdit(c_.EdtDataCANID, shown.dataSendId);
}

void ParamPanel::ApplyComParams(const protocol::ComParams& record, StopBitsRule rule) {
  const protocol::ComParams shown = protocol::AsPanelShows(
      record, rule == StopBitsRule::File ? protocol::StopBitsShown::OneForFile
                                         : protocol::StopBitsShown::ClearedForReply);
  SelectItemWithText(c_.cbbBaudRate, QString::number(shown.baudRate));
  SelectItemWithText(c_.cbbByteSize, QString::number(shown.dataBits));
  c_.cbbParity->setCurrentIndex(protocol::ParityItemOfCode(shown.parityCode));
  c_.cbbStopBits->setCurrentIndex(protocol::StopBitsItemOfCode(shown.stopBitsCode));
}

void ParamPanel::ApplyCanParams(const protocol::CanParams& record) {
  const protocol::CanParams shown = protocol::AsPanelShows(record);
  SelectItemIfExists(c_.CbxCANBaudrate, shown.bitRateIndex);
  c_.cbxUsrFrameTp->setCurrentIndex(protocol::FrameTypeItem(shown.frameType));
  // A change of the box's state runs its handler.
  c_.chkActiveRecFilter->setChecked(FlagDigitSet(shown.filterFlags, 8));
  c_.cbxFilterFrame->setCurrentIndex(FlagDigitSet(shown.filterFlags, 7) ? 1 : 0);
  c_.cbxFilterID->setCurrentIndex(FlagDigitSet(shown.filterFlags, 4) ? 1 : 0);
  // A connection may have enabled the filter controls with the box unticked;
  // from here on they follow the box again.
  SetFilterControlsEnabled(c_.chkActiveRecFilter->isChecked());
  ShowIdInEdit(c_.edtFilterChkCode, shown.acceptanceCode);
  ShowIdInEdit(c_.edtFilterMaskCode, shown.acceptanceMask);
}

// ---- checks before a write ----

bool ParamPanel::CheckIdRange(TMyMaskEdit* edit) {
  // Any edit but the send identifier takes the filter's frame type.
  const QComboBox* frameType = edit == c_.EdtUsrCANID ? c_.cbxUsrFrameTp : c_.cbxFilterFrame;
  const bool extended = frameType->currentIndex() == 1;
  if (protocol::IdInRange(IdOfEdit(edit, kUnparsedId), extended)) return false;

  FocusIfPossible(edit);
  ShowMsg(protocol::IdRangeMessage(extended));
  return true;
}

bool ParamPanel::ValidatePanel() {
  c_.pgcFunc->setCurrentIndex(kConvertPage);
  protocol::ParameterRecords records;
  try {
    records.convt = BuildConvtParams();
    records.can = BuildCanParams();
  } catch (const EFieldRefused& refused) {
    ShowField(refused.Field());
    ui::Dialogs().ShowMessage(refused.Text());
    return true;
  }
  const auto failure = protocol::CheckBeforeWrite(records);
  if (!failure) {
    c_.pgcFunc->setCurrentIndex(kCanPage);
    return false;
  }
  QWidget* control = ControlOfKey(failure->key);
  if (control == c_.spEdtLen) {
    // The ID length is told first and then focused.
    ShowMsg(failure->message);
    ShowField(control);
  } else {
    ShowField(control);
    ShowMsg(failure->message);
  }
  return true;
}

QWidget* ParamPanel::ControlOfKey(const std::string& key) const {
  if (key == "convt.idLength") return c_.spEdtLen;
  if (key == "can.acceptanceCode") return c_.edtFilterChkCode;
  if (key == "can.acceptanceMask") return c_.edtFilterMaskCode;
  return c_.EdtUsrCANID;  // convt.transparentSendId
}

void ParamPanel::ShowField(QWidget* field) {
  for (int page = 0; page < c_.pgcFunc->count(); ++page)
    if (c_.pgcFunc->widget(page)->isAncestorOf(field)) c_.pgcFunc->setCurrentIndex(page);
  FocusIfPossible(field);
}

// ---- the filter check box ----

void ParamPanel::chkActiveRecFilterClick() {
  SetFilterControlsEnabled(c_.chkActiveRecFilter->isChecked());
  UpdateFilterCaption();
}

void ParamPanel::UpdateFilterCaption() {
  c_.chkActiveRecFilter->setText(
      MsgText(c_.chkActiveRecFilter->isChecked() ? Msg::FilterOn : Msg::FilterOff));
}

void ParamPanel::SetFilterControlsEnabled(bool enabled) {
  c_.cbxFilterFrame->setEnabled(enabled);
  c_.cbxFilterID->setEnabled(enabled);
  c_.edtFilterChkCode->setEnabled(enabled);
  c_.edtFilterMaskCode->setEnabled(enabled);
}

// ---- key filters ----

namespace {
const char* const kKeyFilterProperty = "quillonKeyFilter";
}

void ParamPanel::InstallKeyFilters() {
  const auto install = [this](QObject* field, KeyFilterKind kind) {
    field->setProperty(kKeyFilterProperty, static_cast<int>(kind));
    field->installEventFilter(this);
  };
  for (QObject* edit :
       {static_cast<QObject*>(c_.EdtUsrCANID), static_cast<QObject*>(c_.EdtDataCANID),
        static_cast<QObject*>(c_.edtFilterChkCode), static_cast<QObject*>(c_.edtFilterMaskCode)})
    install(edit, KeyFilterKind::Hex);
  const auto installSpin = [&install](SpinEdit* spin, KeyFilterKind kind) {
    install(spin, kind);
    spin->SetAllowedChars(FieldChars(kind));
  };
  installSpin(c_.spEdtOffSet, KeyFilterKind::Digits);
  installSpin(c_.spEdtLen, KeyFilterKind::IdLength);
  installSpin(c_.spEdtInterval, KeyFilterKind::Digits);
}

bool ParamPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const QString text = key->text();
  // Keys without a character (arrows, Delete, function keys) are not key
  // presses in the character sense and pass untouched.
  if (text.isEmpty() || key->key() == Qt::Key_Delete || text.at(0) == QChar(0x7F)) return false;
  const auto kind = static_cast<KeyFilterKind>(watched->property(kKeyFilterProperty).toInt());
  return !KeyAllowed(kind, text.at(0));  // true swallows the key
}

// ---- free helpers ----

QString MaskTextToId(const TMyMaskEdit* edit) {
  const QString text = edit->MaskedText().trimmed();
  return text.mid(0, 2) + text.mid(3, 2) + text.mid(6, 2) + text.mid(9, 2);
}

QString IdToMaskText(const QString& id) {
  if (id.size() != 8) return QString();
  return id.mid(0, 2) + ' ' + id.mid(2, 2) + ' ' + id.mid(4, 2) + ' ' + id.mid(6, 2);
}

QString IdToHexText(std::uint32_t value) {
  return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

std::uint32_t ParseHexId(const QString& id, bool* ok) {
  *ok = false;
  if (id.isEmpty() || id.size() > 8) return 0;
  std::uint32_t value = 0;
  for (const QChar ch : id) {
    const int digit = QStringLiteral("0123456789ABCDEF").indexOf(ch.toUpper());
    if (digit < 0 || ch.unicode() > 0x7F) return 0;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  *ok = true;
  return value;
}

QString FieldChars(KeyFilterKind kind) {
  switch (kind) {
    case KeyFilterKind::Hex:
      return QStringLiteral("0123456789ABCDEFabcdef");
    case KeyFilterKind::Digits:
      return QStringLiteral("0123456789");
    case KeyFilterKind::IdLength:
      return QStringLiteral("1234");
  }
  return {};
}

bool KeyAllowed(KeyFilterKind kind, QChar key) {
  const char16_t ch = key.unicode();
  if (ch == 8 || ch == 9 || ch == 10 || ch == 13) return true;
  return FieldChars(kind).contains(key);
}

}  // namespace params
