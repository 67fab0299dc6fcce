#pragma once

class QWidget;

// What every window of the program shares in its design.
namespace ui {

// The dynamic property that holds a window's character set (an int 0..255),
// which Qt fonts do not carry; the language file's font lines read and write
// it.
inline constexpr char kFontCharsetProperty[] = "FontCharset";
// The character set the windows are designed with: GB2312.
inline constexpr int kDesignCharset = 134;

// The design font: SimSun ("宋体") 13 pixels high with the GB2312 character
// set in kFontCharsetProperty. Where SimSun is missing the CJK font of the install list stands
// in.
void ApplyDesignFont(QWidget* window);

// Enter (and Return) on a focused push button of the window clicks it, as
// Space does; Qt does that by itself only inside dialogs.
void LetEnterClickButtons(QWidget* window);

// Moves the window so that its frame is centred on the available area of its
// screen (the primary screen before it is shown).
void CenterOnScreen(QWidget* window);

}  // namespace ui
