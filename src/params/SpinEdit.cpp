#include "params/SpinEdit.h"

#include <QLineEdit>

SpinEdit::SpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  lineEdit()->setText(QStringLiteral("0"));
  accepted_ = lineEdit()->text();
  connect(lineEdit(), &QLineEdit::textChanged, this, &SpinEdit::HoldToRules);
}

void SpinEdit::HoldToRules(const QString& text) {
  QString candidate = text;
  int position = 0;
  if (validate(candidate, position) == QValidator::Invalid) {
    lineEdit()->setText(accepted_);  // runs this again with the accepted text
    return;
  }
  accepted_ = text;
  if (!hasFocus() && !text.isEmpty() && Clamp(Value()) != Value()) SetValue(Value());
}

void SpinEdit::SetMinValue(int value) {
  min_ = value;
  if (max_ < min_) max_ = min_;
}

void SpinEdit::SetMaxValue(int value) {
  max_ = value;
  if (min_ > max_) min_ = max_;
}

void SpinEdit::SetMaxLength(int length) {
  maxLength_ = length;
  lineEdit()->setMaxLength(length > 0 ? length : 32767);
}

int SpinEdit::Value() const {
  bool ok = false;
  const int value = lineEdit()->text().trimmed().toInt(&ok, 10);
  return ok ? value : min_;
}

int SpinEdit::Clamp(int value) const {
  return qBound(min_, value, max_);
}

void SpinEdit::SetValue(int value) {
  const QString text = QString::number(Clamp(value));
  if (lineEdit()->text() != text) lineEdit()->setText(text);
}

void SpinEdit::stepBy(int steps) {
  SetValue(Value() + steps);
  lineEdit()->selectAll();
}

QValidator::State SpinEdit::validate(QString& input, int& /*pos*/) const {
  if (maxLength_ > 0 && input.size() > maxLength_) return QValidator::Invalid;
  for (qsizetype i = 0; i < input.size(); ++i) {
    const bool sign = i == 0 && min_ < 0 && input.at(i) == QLatin1Char('-');
    if (!sign && !allowed_.contains(input.at(i))) return QValidator::Invalid;
  }
  return QValidator::Acceptable;
}

void SpinEdit::fixup(QString& /*input*/) const {}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
  if (isReadOnly() || !isEnabled()) return StepNone;
  const int value = Value();
  StepEnabled enabled = StepNone;
  if (value < max_) enabled |= StepUpEnabled;
  if (value > min_) enabled |= StepDownEnabled;
  return enabled;
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
  // What is shown after leaving the field is what will be sent.
  SetValue(Value());
  QAbstractSpinBox::focusOutEvent(event);
}
