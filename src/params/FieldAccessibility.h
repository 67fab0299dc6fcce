#pragma once

#include <QString>

class QLabel;
class QWidget;

// What a screen reader, an on-screen keyboard or voice input finds of the
// parameter fields. Every field is named by its label (the label whose buddy
// it is), not by the group box around it; its value is the text it shows.
// The toolkit's own interfaces do this for spin edits and check boxes. Two
// kinds need interfaces of their own:
// - the hex edit (TMyMaskEdit), whose toolkit value drops the blank "0"s
//   ("  7 " for 00 00 07 00) and whose toolkit edits skip the edit's checks;
//   its interface reads the shown text and edits through ReplaceShownText;
// - a drop-down list (a combo box that is not editable), which the toolkit
//   names by its current item on this platform; its interface is named by
//   its label, and by its current item only when it has no label.
namespace params {

// Installs the interfaces above; once per process, later calls do nothing.
void InstallFieldAccessibility();

// Installs them and gives them to `widget` and the widgets inside it whose
// interface the toolkit already made. While an assistive technology is
// active, the toolkit makes a widget's interface as soon as the widget
// announces a change, during its construction too, and keeps it.
void AdoptFieldAccessibility(QWidget* widget);

// The label whose buddy `field` is, in the field's window; null if none.
QLabel* BuddyLabelOf(const QWidget* field);

// The label's text without its '&' markers, or the field's object name when
// it has no label: how messages name the field.
QString FieldLabel(const QWidget* field);

}  // namespace params
