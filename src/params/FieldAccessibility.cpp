#include "params/FieldAccessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <mutex>

#include "params/MyMaskEdit.h"

namespace params {
namespace {

// The hex edit: the shown text is its value and its text; every edit of it
// goes through the edit's own rule, so text it cannot hold is refused.
// Named by its label (the toolkit's rule, through the label's buddy).
class HexEditAccessible final : public QAccessibleWidget,
                                public QAccessibleTextInterface,
                                public QAccessibleEditableTextInterface {
 public:
  explicit HexEditAccessible(TMyMaskEdit* edit)
      : QAccessibleWidget(edit, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
      return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return Edit()->MaskedText();
    return QAccessibleWidget::text(t);
  }

  void setText(QAccessible::Text t, const QString& text) override {
    if (t != QAccessible::Value) return QAccessibleWidget::setText(t, text);
    if (!Edit()->isReadOnly()) Edit()->ReplaceShownText(0, characterCount(), text);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = !Edit()->isReadOnly();
    s.readOnly = Edit()->isReadOnly();
    s.selectableText = true;
    return s;
  }

  // ---- selection and cursor ----
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || !Edit()->hasSelectedText()) return;
    *start = Edit()->selectionStart();
    *end = *start + Edit()->selectionLength();
  }
  int selectionCount() const override { return Edit()->hasSelectedText() ? 1 : 0; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int index) override {
    if (index == 0) Edit()->deselect();
  }
  void setSelection(int index, int start, int end) override {
    if (index == 0) Edit()->setSelection(start, end - start);
  }
  int cursorPosition() const override { return Edit()->cursorPosition(); }
  void setCursorPosition(int position) override { Edit()->setCursorPosition(position); }

  // ---- the shown text ----
  QString text(int start, int end) const override {
    const QString shown = Edit()->MaskedText();
    start = qBound(0, start, static_cast<int>(shown.size()));
    end = qBound(start, end, static_cast<int>(shown.size()));
    return shown.mid(start, end - start);
  }
  int characterCount() const override { return static_cast<int>(Edit()->MaskedText().size()); }

  QRect characterRect(int offset) const override {
    const QString shown = Edit()->MaskedText();
    if (offset < 0 || offset >= shown.size()) return {};
    const QFontMetrics metrics(Edit()->font());
    const QRect content = Edit()->contentsRect();
    const int x = content.left() + Edit()->textMargins().left() +
                  metrics.horizontalAdvance(shown.left(offset));
    const QRect local(x, content.top(), metrics.horizontalAdvance(shown.at(offset)),
                      content.height());
    return QRect(Edit()->mapToGlobal(local.topLeft()), local.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
  }
  void scrollToSubstring(int start, int /*end*/) override { Edit()->setCursorPosition(start); }
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return {};
  }

  // ---- edits, each through the edit's own rule ----
  void deleteText(int start, int end) override { Replace(start, end, QString()); }
  void insertText(int offset, const QString& text) override { Replace(offset, offset, text); }
  void replaceText(int start, int end, const QString& text) override { Replace(start, end, text); }

 private:
  TMyMaskEdit* Edit() const { return static_cast<TMyMaskEdit*>(widget()); }
  void Replace(int start, int end, const QString& text) {
    if (!Edit()->isReadOnly()) Edit()->ReplaceShownText(start, end, text);
  }
};

// A drop-down list named by its label, its current item as its value; the
// popup list is its one child, as with the toolkit's interface. Without a
// label (and an accessible name) it is named by its value, as the toolkit's.
class LabelledComboAccessible final : public QAccessibleWidget {
 public:
  explicit LabelledComboAccessible(QComboBox* box)
      : QAccessibleWidget(box, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    const bool unnamed = Box()->accessibleName().isEmpty() && !BuddyLabelOf(Box());
    if (t == QAccessible::Value || (t == QAccessible::Name && unnamed)) return Box()->currentText();
    return QAccessibleWidget::text(t);
  }

  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(Box()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && child->object() == Box()->view() ? 0 : -1;
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.expanded = Box()->isVisible() && Box()->view()->isVisible();
    s.collapsed = !s.expanded;
    return s;
  }

  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& name) override {
    if (name != showMenuAction() && name != pressAction()) return QAccessibleWidget::doAction(name);
    if (Box()->view()->isVisible())
      Box()->hidePopup();
    else
      Box()->showPopup();
  }

 private:
  QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* FieldInterfaceFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("TMyMaskEdit"))
    return new HexEditAccessible(static_cast<TMyMaskEdit*>(object));
  // The label is looked up whenever the name is asked for: the interface
  // may be made before the window has set its labels' buddies.
  if (className == QLatin1String("QComboBox")) {
    auto* box = static_cast<QComboBox*>(object);
    if (!box->isEditable()) return new LabelledComboAccessible(box);
  }
  return nullptr;
}

bool WantsOwnInterface(QWidget* widget) {
  if (qobject_cast<TMyMaskEdit*>(widget)) return true;
  const auto* box = qobject_cast<QComboBox*>(widget);
  return box && !box->isEditable();
}

bool HasOwnInterface(QAccessibleInterface* access) {
  return dynamic_cast<HexEditAccessible*>(access) || dynamic_cast<LabelledComboAccessible*>(access);
}

}  // namespace

void InstallFieldAccessibility() {
  static std::once_flag installed;
  std::call_once(installed, [] { QAccessible::installFactory(FieldInterfaceFactory); });
}

void AdoptFieldAccessibility(QWidget* widget) {
  InstallFieldAccessibility();
  QList<QWidget*> widgets = widget->findChildren<QWidget*>();
  widgets.prepend(widget);
  for (QWidget* candidate : widgets) {
    if (!WantsOwnInterface(candidate)) continue;
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(candidate);
    if (!access || HasOwnInterface(access)) continue;
    // Made by the toolkit's factory before ours was installed: the next
    // query makes ours.
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(access));
    QAccessible::queryAccessibleInterface(candidate);
  }
}

QLabel* BuddyLabelOf(const QWidget* field) {
  if (!field) return nullptr;
  for (QLabel* label : field->window()->findChildren<QLabel*>())
    if (label->buddy() == field) return label;
  return nullptr;
}

QString FieldLabel(const QWidget* field) {
  if (const QLabel* label = BuddyLabelOf(field)) {
    QString text = label->text();
    return text.remove(QLatin1Char('&')).trimmed();
  }
  return field ? field->objectName() : QString();
}

}  // namespace params
