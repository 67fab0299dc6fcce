#include "i18n/MulLangToolkit.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

namespace mullang {

namespace {

QString DeclaredKind(const QObject* object) {
  return object->property(kComponentKindProperty).toString();
}

// An unparented object of the program's own class (not one of Qt's), derived
// straight from QObject: the counterpart of a data module.
bool LooksLikeDataModule(const QObject* object) {
  const QMetaObject* meta = object->metaObject();
  const QObject* parent = object->parent();
  return meta->superClass() == &QObject::staticMetaObject && meta->className()[0] != 'Q' &&
         !object->inherits("TMulLang") && (!parent || parent == QCoreApplication::instance());
}

// Controls whose children are their own parts, never components of a form.
bool IsLeafControl(const QWidget* widget) {
  if (qobject_cast<const QScrollArea*>(widget) || qobject_cast<const QMdiArea*>(widget))
    return false;
  return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget) ||
         qobject_cast<const QAbstractSpinBox*>(widget) ||
         qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
         qobject_cast<const QTabBar*>(widget) || qobject_cast<const QLabel*>(widget) ||
         qobject_cast<const QMenuBar*>(widget) || qobject_cast<const QMenu*>(widget) ||
         qobject_cast<const QProgressBar*>(widget) ||
         qobject_cast<const QAbstractScrollArea*>(widget);
}

bool IsOwnerKind(Kind kind) {
  return kind == Kind::Form || kind == Kind::Frame || kind == Kind::DataModule;
}

void CollectOwned(QObject* parent, std::vector<QObject*>& owned) {
  for (QObject* child : parent->children()) {
    Kind kind = KindOf(child);
    if (kind == Kind::Form || kind == Kind::DataModule) continue;  // owns itself
    QString name = child->objectName();
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) owned.push_back(child);
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && !IsOwnerKind(kind) && !IsLeafControl(widget)) CollectOwned(child, owned);
  }
}

// The tab widget a page belongs to (its parent is the tab widget's stack).
QTabWidget* TabWidgetOfPage(QObject* object) {
  auto* page = qobject_cast<QWidget*>(object);
  if (!page || !qobject_cast<QStackedWidget*>(page->parent())) return nullptr;
  auto* tabs = qobject_cast<QTabWidget*>(page->parent()->parent());
  return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

std::optional<TextProperty> CaptionOf(QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return std::nullopt;
  if (KindOf(widget) == Kind::Form)
    return TextProperty{[widget] { return widget->windowTitle(); },
                        [widget](const QString& text) { widget->setWindowTitle(text); }};
  if (QTabWidget* tabs = TabWidgetOfPage(widget))
    return TextProperty{
        [tabs, widget] { return tabs->tabText(tabs->indexOf(widget)); },
        [tabs, widget](const QString& text) { tabs->setTabText(tabs->indexOf(widget), text); }};
  if (auto* button = qobject_cast<QAbstractButton*>(widget))
    return TextProperty{[button] { return button->text(); },
                        [button](const QString& text) { button->setText(text); }};
  if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull())
    return TextProperty{[label] { return label->text(); },
                        [label](const QString& text) { label->setText(text); }};
  if (auto* group = qobject_cast<QGroupBox*>(widget))
    return TextProperty{[group] { return group->title(); },
                        [group](const QString& text) { group->setTitle(text); }};
  // A plain frame stands for a panel, whose caption Qt does not show: it is
  // kept in the dynamic property "Caption" (empty when not set).
  if (widget->metaObject() == &QFrame::staticMetaObject)
    return TextProperty{[widget] { return widget->property("Caption").toString(); },
                        [widget](const QString& text) { widget->setProperty("Caption", text); }};
  return std::nullopt;
}

std::optional<TextProperty> DynamicText(QObject* object, const QString& name) {
  QByteArray key = name.toUtf8();
  QVariant value = object->property(key.constData());
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  return TextProperty{
      [object, key] { return object->property(key.constData()).toString(); },
      [object, key](const QString& text) { object->setProperty(key.constData(), text); }};
}

std::optional<TextList> DynamicList(QObject* object, const QString& name) {
  QByteArray key = name.toUtf8();
  if (object->property(key.constData()).typeId() != QMetaType::QStringList) return std::nullopt;
  auto list = [object, key] { return object->property(key.constData()).toStringList(); };
  return TextList{[list] { return int(list().size()); }, [list](int i) { return list().at(i); },
                  [object, key, list](int i, const QString& text) {
                    QStringList items = list();
                    items[i] = text;
                    object->setProperty(key.constData(), items);
                  }};
}

TextList DocumentLines(QTextDocument* document) {
  return TextList{[document] { return document->blockCount(); },
                  [document](int i) { return document->findBlockByNumber(i).text(); },
                  [document](int i, const QString& text) {
                    QTextCursor cursor(document->findBlockByNumber(i));
                    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                    cursor.insertText(text);
                  }};
}

TextList HeaderTexts(QAbstractItemModel* model, Qt::Orientation orientation) {
  if (!model)
    return TextList{[] { return 0; }, [](int) { return QString(); }, [](int, const QString&) {}};
  return TextList{
      [model, orientation] {
        return orientation == Qt::Horizontal ? model->columnCount() : model->rowCount();
      },
      [model, orientation](int i) { return model->headerData(i, orientation).toString(); },
      [model, orientation](int i, const QString& text) {
        model->setHeaderData(i, orientation, text);
      }};
}

// A cell of a list view, created when first given a text.
QString CellText(QTableWidget* table, int row, int column) {
  QTableWidgetItem* cell = table->item(row, column);
  return cell ? cell->text() : QString();
}

void SetCellText(QTableWidget* table, int row, int column, const QString& text) {
  if (QTableWidgetItem* cell = table->item(row, column))
    cell->setText(text);
  else
    table->setItem(row, column, new QTableWidgetItem(text));
}

void CollectNodes(QTreeWidgetItem* node, QList<QTreeWidgetItem*>& nodes) {
  nodes.append(node);
  for (int i = 0; i < node->childCount(); ++i) CollectNodes(node->child(i), nodes);
}

}  // namespace

Kind KindOf(const QObject* object) {
  if (!object) return Kind::Other;
  QString declared = DeclaredKind(object);
  if (declared == QLatin1String("Form")) return Kind::Form;
  if (declared == QLatin1String("Frame")) return Kind::Frame;
  if (declared == QLatin1String("DataModule")) return Kind::DataModule;
  if (object->inherits("TMulFormLang")) return Kind::FormLanguage;
  if (qobject_cast<const QTimer*>(object)) return Kind::Timer;
  if (qobject_cast<const QAction*>(object) || qobject_cast<const QMenu*>(object))
    return Kind::MenuItem;
  auto* widget = qobject_cast<const QWidget*>(object);
  if (!widget) return LooksLikeDataModule(object) ? Kind::DataModule : Kind::Other;
  if (widget->isWindow()) return Kind::Form;
  if (qobject_cast<const QTableWidget*>(widget)) return Kind::ListView;
  if (qobject_cast<const QTreeWidget*>(widget)) return Kind::TreeView;
  if (qobject_cast<const QTableView*>(widget)) return Kind::DataGrid;
  if (qobject_cast<const QHeaderView*>(widget) &&
      !qobject_cast<const QAbstractItemView*>(widget->parent()))
    return Kind::HeaderControl;
  return Kind::Other;
}

QString NameOf(const QObject* object) {
  return object->objectName();
}

QString ClassNameOf(const QObject* object) {
  QString name = QString::fromLatin1(object->metaObject()->className());
  qsizetype colons = name.lastIndexOf(QLatin1String("::"));
  return colons < 0 ? name : name.mid(colons + 2);
}

int TagOf(const QObject* object) {
  return object->property(kTagProperty).toInt();
}

std::vector<QObject*> OwnedComponents(QObject* owner) {
  std::vector<QObject*> owned;
  CollectOwned(owner, owned);
  return owned;
}

std::optional<TextProperty> FindTextProperty(QObject* object, const QString& name) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (name == QLatin1String("Caption")) {
    if (auto caption = CaptionOf(object)) return caption;
  } else if (name == QLatin1String("Text")) {
    if (auto* edit = qobject_cast<QLineEdit*>(object))
      return TextProperty{[edit] { return edit->text(); },
                          [edit](const QString& text) { edit->setText(text); }};
  } else if (name == QLatin1String("Hint") && widget) {
    return TextProperty{[widget] { return widget->toolTip(); },
                        [widget](const QString& text) { widget->setToolTip(text); }};
  }
  return DynamicText(object, name);
}

std::optional<TextList> FindTextList(QObject* object, const QString& name) {
  if (name == QLatin1String("Items")) {
    if (auto* combo = qobject_cast<QComboBox*>(object))
      return TextList{[combo] { return combo->count(); },
                      [combo](int i) { return combo->itemText(i); },
                      [combo](int i, const QString& text) { combo->setItemText(i, text); }};
    if (auto* list = qobject_cast<QListWidget*>(object))
      return TextList{[list] { return list->count(); },
                      [list](int i) { return list->item(i)->text(); },
                      [list](int i, const QString& text) { list->item(i)->setText(text); }};
  } else if (name == QLatin1String("Tabs")) {
    if (auto* bar = qobject_cast<QTabBar*>(object))
      return TextList{[bar] { return bar->count(); }, [bar](int i) { return bar->tabText(i); },
                      [bar](int i, const QString& text) { bar->setTabText(i, text); }};
  } else if (name == QLatin1String("Lines")) {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(object)) return DocumentLines(edit->document());
    if (auto* edit = qobject_cast<QTextEdit*>(object)) return DocumentLines(edit->document());
  }
  return DynamicList(object, name);
}

QString FontFace(const QWidget* window) {
  return window->font().family();
}

// The face becomes the first choice; the window's other faces stay behind it
// as stand-ins for a face the system lacks.
void SetFontFace(QWidget* window, const QString& face) {
  QFont font = window->font();
  QStringList families = font.families();
  families.removeAll(face);
  families.prepend(face);
  font.setFamilies(families);
  window->setFont(font);
}

int FontSize(const QWidget* window) {
  QFont font = window->font();
  if (font.pointSize() > 0) return font.pointSize();
  return (font.pixelSize() * 72 + 48) / 96;  // pixels at 96 dots per inch, rounded
}

void SetFontSize(QWidget* window, int size) {
  QFont font = window->font();
  if (size > 0)
    font.setPointSize(size);
  else
    font.setPixelSize(-size);
  window->setFont(font);
}

int FontCharset(const QWidget* window) {
  QVariant charset = window->property(kFontCharsetProperty);
  return charset.isValid() ? charset.toInt() : kDefaultCharset;
}

void SetFontCharset(QWidget* window, int charset) {
  window->setProperty(kFontCharsetProperty, charset & 0xFF);
}

TextList ListViewColumns(QObject* listView) {
  auto* table = qobject_cast<QTableWidget*>(listView);
  return TextList{[table] { return table->columnCount(); },
                  [table](int i) {
                    QTableWidgetItem* header = table->horizontalHeaderItem(i);
                    return header ? header->text() : QString();
                  },
                  [table](int i, const QString& text) {
                    if (QTableWidgetItem* header = table->horizontalHeaderItem(i))
                      header->setText(text);
                    else
                      table->setHorizontalHeaderItem(i, new QTableWidgetItem(text));
                  }};
}

TextList ListViewItems(QObject* listView) {
  auto* table = qobject_cast<QTableWidget*>(listView);
  return TextList{[table] { return table->rowCount(); },
                  [table](int i) { return CellText(table, i, 0); },
                  [table](int i, const QString& text) { SetCellText(table, i, 0, text); }};
}

TextList ListViewSubItems(QObject* listView, int item) {
  auto* table = qobject_cast<QTableWidget*>(listView);
  return TextList{
      [table] { return std::max(0, table->columnCount() - 1); },
      [table, item](int j) { return CellText(table, item, j + 1); },
      [table, item](int j, const QString& text) { SetCellText(table, item, j + 1, text); }};
}

TextList TreeViewNodes(QObject* treeView) {
  auto* tree = qobject_cast<QTreeWidget*>(treeView);
  auto nodes = std::make_shared<QList<QTreeWidgetItem*>>();
  for (int i = 0; i < tree->topLevelItemCount(); ++i) CollectNodes(tree->topLevelItem(i), *nodes);
  return TextList{[nodes] { return int(nodes->size()); },
                  [nodes](int i) { return nodes->at(i)->text(0); },
                  [nodes](int i, const QString& text) { nodes->at(i)->setText(0, text); }};
}

TextList HeaderSections(QObject* header) {
  auto* view = qobject_cast<QHeaderView*>(header);
  return HeaderTexts(view->model(), view->orientation());
}

TextList GridColumnTitles(QObject* grid) {
  return HeaderTexts(qobject_cast<QTableView*>(grid)->model(), Qt::Horizontal);
}

QList<QAction*> MenuItems(const QWidget* menu) {
  return menu ? menu->actions() : QList<QAction*>();
}

QList<QAction*> SubItems(const QAction* item) {
  return item->menu() ? item->menu()->actions() : QList<QAction*>();
}

// A submenu's item is its menu's action, which Designer leaves unnamed and
// untagged: the menu carries the name and the Tag.
QString ItemName(const QAction* item) {
  if (!item->objectName().isEmpty() || !item->menu()) return item->objectName();
  return item->menu()->objectName();
}

int ItemTag(const QAction* item) {
  QVariant tag = item->property(kTagProperty);
  if (!tag.isValid() && item->menu()) tag = item->menu()->property(kTagProperty);
  return tag.toInt();
}

bool IsSeparator(const QAction* item) {
  return item->isSeparator() || item->text() == QLatin1String("-");
}

}  // namespace mullang
