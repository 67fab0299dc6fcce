#pragma once

// What the language engine needs of the widget toolkit, over Qt, in one place:
// the kind of each object, its name, Tag and owner, the components a window
// owns, and the text and text-list properties the engine reads and replaces by
// their (Delphi-style) names: "Caption", "Items", "Tabs" and a few more.

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QObject;
class QWidget;

namespace mullang {

// Dynamic properties that carry what Qt objects do not have themselves.
inline constexpr char kTagProperty[] = "Tag";                      // int
inline constexpr char kFontCharsetProperty[] = "FontCharset";      // int 0..255 of a window
inline constexpr char kComponentKindProperty[] = "ComponentKind";  // "Form", "DataModule", "Frame"

// The character set of a window that does not carry kFontCharsetProperty.
inline constexpr int kDefaultCharset = 1;

enum class Kind {
  Other,
  Form,
  DataModule,
  Frame,
  ListView,       // QTableWidget: columns, items (column 0) and sub-items
  TreeView,       // QTreeWidget
  HeaderControl,  // a QHeaderView of its own, not one of a view's
  DataGrid,       // QTableView with a model
  Timer,          // QTimer
  MenuItem,       // QAction, QMenu
  FormLanguage,   // TMulFormLang
};

// Form: a top-level widget, or one marked "Form". Frame: a widget marked
// "Frame". Data module: a non-visual object marked "DataModule", or an
// unparented object of the program's own class derived straight from QObject.
Kind KindOf(const QObject* object);

// The object's name, and its class name without namespaces ("TfrmMain").
QString NameOf(const QObject* object);
QString ClassNameOf(const QObject* object);

// The Tag property, 0 when the object has none.
int TagOf(const QObject* object);

// The components an owner (form, frame or data module) owns, in creation
// order: every named descendant, whatever its parent, but not the insides of
// controls, nor what a nested frame, window or data module owns. Names
// starting with "qt_" are the toolkit's own parts and are left out.
std::vector<QObject*> OwnedComponents(QObject* owner);

// A text property by name: how to read and replace it.
struct TextProperty {
  std::function<QString()> get;
  std::function<void(const QString&)> set;
};

// A list of texts whose items are replaced in place.
struct TextList {
  std::function<int()> count;
  std::function<QString(int)> item;
  std::function<void(int, const QString&)> setItem;
};

// "Caption" (window title, tab page, button, label, group box, panel), "Text" (line
// edit), "Hint" (tool tip of any widget), and any dynamic QString property of
// that name. Empty when the object has no such text property.
std::optional<TextProperty> FindTextProperty(QObject* object, const QString& name);

// "Items" (combo box, list box), "Tabs" (tab bar), "Lines" (text edits), and
// any dynamic QStringList property of that name.
std::optional<TextList> FindTextList(QObject* object, const QString& name);

// Font of a form or frame: face, size in points (negative: pixels), and the
// character set the window carries.
QString FontFace(const QWidget* window);
void SetFontFace(QWidget* window, const QString& face);
int FontSize(const QWidget* window);
void SetFontSize(QWidget* window, int size);
int FontCharset(const QWidget* window);
void SetFontCharset(QWidget* window, int charset);

// List views, tree views, header controls, data grids.
TextList ListViewColumns(QObject* listView);
TextList ListViewItems(QObject* listView);
TextList ListViewSubItems(QObject* listView, int item);
TextList TreeViewNodes(QObject* treeView);  // by absolute index, depth first
TextList HeaderSections(QObject* header);
TextList GridColumnTitles(QObject* grid);

// Menus (QMenuBar or QMenu) and their items.
QList<QAction*> MenuItems(const QWidget* menu);
QList<QAction*> SubItems(const QAction* item);
QString ItemName(const QAction* item);
int ItemTag(const QAction* item);
bool IsSeparator(const QAction* item);  // a separator, or the caption "-"

}  // namespace mullang
