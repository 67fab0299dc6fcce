#include "params/MyMaskEdit.h"

#include <QValidator>

#include "params/FieldAccessibility.h"

const char* const TMyMaskEdit::kEditMask = ">NN NN NN NN;0";

namespace {

constexpr QChar kBlank = u'0';
constexpr QChar kSeparator = u' ';
constexpr int kShownLength = 11;

bool IsHexDigit(QChar ch) {
  const char16_t c = ch.unicode();
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// Offsets 2, 5 and 8 of "12 34 56 78".
bool IsSeparatorPosition(int offset) {
  return offset % 3 == 2;
}

// The mask lets any letter or digit in, a Chinese character or a full-width
// digit too. What a typed key may not put into the edit, a paste, a drop or an
// input method may not either: such a change is refused as a whole and the
// edit keeps its text.
class HexTextValidator final : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& input, int& /*pos*/) const override {
    for (const QChar ch : input)
      if (!IsHexDigit(ch) && ch != kSeparator) return Invalid;
    return Acceptable;
  }
};

}  // namespace

TMyMaskEdit::TMyMaskEdit(QWidget* parent) : QLineEdit(parent) {
  setInputMask(QString::fromLatin1(kEditMask));
  setMaxLength(kShownLength);
  setValidator(new HexTextValidator(this));
  // Screen readers and voice input reach the edit through its accessible
  // interface, which reads the shown text and edits through ReplaceShownText.
  params::AdoptFieldAccessibility(this);
}

bool TMyMaskEdit::ReplaceShownText(int start, int end, const QString& text) {
  QString shown = MaskedText();
  if (shown.size() != kShownLength) return false;
  start = qBound(0, start, kShownLength);
  end = qBound(start, end, kShownLength);
  for (int i = start; i < end; ++i)
    if (!IsSeparatorPosition(i)) shown[i] = kBlank;
  int at = start;
  for (const QChar ch : text) {
    if (ch == kSeparator) continue;
    if (!IsHexDigit(ch)) return false;
    while (at < kShownLength && IsSeparatorPosition(at)) ++at;
    // Digits beyond the last position would be cut off: the value would not
    // be the one given.
    if (at >= kShownLength) return false;
    shown[at++] = ch.toUpper();
  }
  setText(shown);
  setCursorPosition(at);
  return true;
}
