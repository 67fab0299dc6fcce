#pragma once

#include <QLineEdit>

// Hex identifier edit: four groups of two characters separated by literal
// blanks ("12 34 56 78", 11 characters). Letters are shown in upper case and a
// position not yet typed shows "0". Leaving an incompletely typed edit is never
// an input error. Only hexadecimal digits get in, by every input path of the
// edit (keys, paste, drop, input method, insert(), an assistive technology's
// edits); setText() is the program's own and is not checked.
class TMyMaskEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TMyMaskEdit(QWidget* parent = nullptr);

  // The mask: '>' upper-cases, 'N' requires a letter or digit, blank "0".
  static const char* const kEditMask;

  // The text with its separators and blank characters, as shown.
  QString MaskedText() const { return displayText(); }

  // Always succeeds: an incomplete identifier is accepted as it stands.
  bool Validate() const { return true; }

  // An edit of the shown text as a masked edit makes it: the positions from
  // `start` to `end` (offsets into the shown text) become blank, then the
  // digits of `text` fill the positions from `start` on, skipping the
  // separators; blanks in `text` are skipped. Refused as a whole, and false,
  // when `text` holds anything but hexadecimal digits and blanks or more
  // digits than there are positions left.
  bool ReplaceShownText(int start, int end, const QString& text);
};
