#pragma once

#include <QAbstractSpinBox>

// Integer field with a minimum and a maximum. Text that is not a number reads
// as the minimum; a value outside the range is pulled to the nearer bound when
// the program sets it and when the field loses the focus. While the operator
// types, a text of allowed characters up to MaxLength characters stands as
// typed; any other change, typed, pasted, dropped or composed by an input
// method, is refused as a whole. Text that reaches the field by another path
// (an assistive technology's edit, a set of the inner line edit) is held to
// the same characters; arriving while the field does not have the focus, it
// is pulled into the range at once, as when the program sets it.
class SpinEdit : public QAbstractSpinBox {
  Q_OBJECT
  Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)
  Q_PROPERTY(int Value READ Value WRITE SetValue)
  // The names under which the toolkit's accessible interface of a spin box
  // reads and sets the value and reads the range.
  Q_PROPERTY(int value READ Value WRITE SetValue)
  Q_PROPERTY(int minimum READ MinValue)
  Q_PROPERTY(int maximum READ MaxValue)

 public:
  explicit SpinEdit(QWidget* parent = nullptr);

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int MaxLength() const { return maxLength_; }
  void SetMinValue(int value);
  void SetMaxValue(int value);
  // 0 means no limit.
  void SetMaxLength(int length);
  // The characters the field takes (default the digits 0..9); a minus sign
  // is also taken in front while the minimum is negative.
  void SetAllowedChars(const QString& chars) { allowed_ = chars; }
  QString AllowedChars() const { return allowed_; }

  // The shown number, or the minimum when the text is not a number.
  int Value() const;
  // Shows the value pulled into [MinValue, MaxValue].
  void SetValue(int value);
  int Clamp(int value) const;

  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // Refuses a text of characters the field does not take; pulls a number
  // into the range when the field is not being edited.
  void HoldToRules(const QString& text);

  QString accepted_;
  int min_ = 0;
  int max_ = 100;
  int maxLength_ = 0;
  QString allowed_ = QStringLiteral("0123456789");
};
