#include "params/MyMaskEdit.h"

#include <QValidator>

const char* const TMyMaskEdit::kEditMask = ">NN NN NN NN;0";

namespace {

bool IsHexDigit(QChar ch) {
  const char16_t c = ch.unicode();
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
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
      if (!IsHexDigit(ch) && ch != QLatin1Char(' ')) return Invalid;
    return Acceptable;
  }
};

}  // namespace

TMyMaskEdit::TMyMaskEdit(QWidget* parent) : QLineEdit(parent) {
  setInputMask(QString::fromLatin1(kEditMask));
  setMaxLength(11);
  setValidator(new HexTextValidator(this));
}
