#include "params/MyMaskEdit.h"

const char* const TMyMaskEdit::kEditMask = ">NN NN NN NN;0";

TMyMaskEdit::TMyMaskEdit(QWidget* parent) : QLineEdit(parent) {
  setInputMask(QString::fromLatin1(kEditMask));
  setMaxLength(11);
}
