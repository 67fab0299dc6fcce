#include "i18n/untMultiLang.h"

#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <climits>
#include <optional>

#include "platform/Exception.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"

using namespace mullang;

namespace {

QString DecodeText(const QString& value) {
  if (value.size() >= 2 && value.front() == u'<' && value.back() == u'>')
    return value.mid(1, value.size() - 2);
  return value;
}

// A whole number, decimal or with a "0x" prefix; nothing else counts.
std::optional<int> ParseNumber(const QString& text) {
  QString digits = text.trimmed();
  bool negative = digits.startsWith(u'-');
  if (negative || digits.startsWith(u'+')) digits.remove(0, 1);
  int base = 10;
  if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    digits.remove(0, 2);
    base = 16;
  }
  if (digits.isEmpty() || !digits.front().isLetterOrNumber()) return std::nullopt;
  bool ok = false;
  qlonglong value = digits.toLongLong(&ok, base);
  if (negative) value = -value;
  if (!ok || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return int(value);
}

}  // namespace

// ---------------------------------------------------------------------------

MulStrings::MulStrings(std::function<void()> onChange, QStringList initial)
    : items_(std::move(initial)), onChange_(std::move(onChange)) {}

void MulStrings::Add(const QString& text) {
  items_.append(text);
  Changed();
}

void MulStrings::Put(int index, const QString& text) {
  items_[index] = text;
  Changed();
}

void MulStrings::Clear() {
  items_.clear();
  Changed();
}

void MulStrings::Assign(const QStringList& items) {
  items_ = items;
  Changed();
}

void MulStrings::Changed() {
  if (onChange_) onChange_();
}

// ---------------------------------------------------------------------------

TMulLang::TMulLang(QObject* owner)
    : QObject(owner), ignoreTags_([this] { Changed(); }, {QStringLiteral("999")}) {
  switch (KindOf(owner)) {
    case Kind::Form:
      ownerForm_ = qobject_cast<QWidget*>(owner);
      break;
    case Kind::Frame:
      ownerFrame_ = qobject_cast<QWidget*>(owner);
      break;
    case Kind::DataModule:
      ownerDataModule_ = owner;
      break;
    default:
      break;
  }
  if (!ownerForm_ && !ownerFrame_ && !ownerDataModule_)
    throw platform::Exception(QStringLiteral("Owner must be a Form or a DataModule!"));
  SetLangFileName(QString::fromLatin1(kDefaultLangFileName));
}

TMulLang::~TMulLang() = default;

QString TMulLang::LangFileName() const {
  return langFilePath_.mid(langFilePath_.lastIndexOf(u'/') + 1);
}

void TMulLang::SetLangFileName(const QString& name) {
  // Names from Windows-made data may use '\' between folders.
  langFilePath_ = platform::ProgramPath(QString(name).replace(u'\\', u'/'));
  Changed();
}

void TMulLang::SetIgnoreEmptyString(bool value) {
  ignoreEmptyString_ = value;
  Changed();
}

void TMulLang::SetAutoCreateMode(bool value) {
  autoCreateMode_ = value;
  Changed();
}

void TMulLang::SetActive(bool value) {
  active_ = value;
  Changed();
}

void TMulLang::Changed() {
  if (!active_) return;
  if (pass_) {  // a change made by the running pass itself
    Translate();
    return;
  }
  // The pass reads the file once and writes what it lacks once, at its end.
  // The language file can always be produced again from the window designs:
  // the replacement is atomic, without a flush to the disk.
  platform::ProfileBatch pass(langFilePath_, platform::ProfileFile::Sync::Fast);
  pass_ = &pass;
  try {
    Translate();
  } catch (...) {
    pass_ = nullptr;
    // What the pass wrote before it failed is kept; its own failure is the
    // one reported.
    try {
      pass.Commit();
    } catch (const platform::Exception&) {
    }
    throw;
  }
  pass_ = nullptr;
  pass.Commit();
}

QString TMulLang::Section() const {
  if (ownerForm_) return ClassNameOf(ownerForm_);
  if (ownerFrame_) return ClassNameOf(ownerFrame_);
  return ClassNameOf(ownerDataModule_);
}

bool TMulLang::HasIgnoredTag(int tag) const {
  return ignoreTags_.Contains(QString::number(tag));
}

void TMulLang::TranslateText(const QString& key, const QString& current,
                             const std::function<void(const QString&)>& set) const {
  QString value = pass_->ReadString(Section(), key, QString());
  if (!value.isEmpty()) {
    set(DecodeText(value));
  } else if ((!current.isEmpty() || !ignoreEmptyString_) && autoCreateMode_) {
    pass_->WriteString(Section(), key, addBracket_ ? QStringLiteral("<%1>").arg(current) : current);
  }
}

void TMulLang::TranslateText(const QString& key, const TextProperty& property) const {
  TranslateText(key, property.get(), property.set);
}

void TMulLang::TranslateList(const QString& prefix, const TextList& list,
                             const QString& suffix) const {
  int count = list.count();
  for (int i = 0; i < count; ++i)
    TranslateText(prefix + u'[' + QString::number(i) + u']' + suffix, list.item(i),
                  [&list, i](const QString& text) { list.setItem(i, text); });
}

void TMulLang::TranslateFont(QWidget* window) const {
  QString name = NameOf(window);
  TranslateText(name + QLatin1String("_FontName"), FontFace(window),
                [window](const QString& face) { SetFontFace(window, face); });

  QString sizeKey = name + QLatin1String("_FontSize");
  if (int size = ReadNumber(sizeKey, 0); size != 0)
    SetFontSize(window, size);
  else if (autoCreateMode_)
    WriteNumber(sizeKey, FontSize(window));

  QString charsetKey = name + QLatin1String("_FontCharset");
  if (int charset = ReadNumber(charsetKey, -1); charset != -1)
    SetFontCharset(window, charset);
  else if (autoCreateMode_)
    WriteNumber(charsetKey, FontCharset(window));
}

int TMulLang::ReadNumber(const QString& key, int def) const {
  QString value = pass_->ReadString(Section(), key, QString());
  return ParseNumber(value).value_or(def);
}

void TMulLang::WriteNumber(const QString& key, int value) const {
  pass_->WriteInt(Section(), key, value);
}

// ---------------------------------------------------------------------------

TMulFormLang::TMulFormLang(QObject* owner)
    : TMulLang(owner),
      stringProperties_([this] { Changed(); }, {QStringLiteral("Caption")}),
      stringsProperties_([this] { Changed(); }, {QStringLiteral("Tabs"), QStringLiteral("Items")}),
      ignoreControls_([this] { Changed(); }) {}

void TMulFormLang::SetIgnoreFormCaption(bool value) {
  ignoreFormCaption_ = value;
  Changed();
}

void TMulFormLang::SetIncludeListViewItems(bool value) {
  includeListViewItems_ = value;
  Changed();
}

void TMulFormLang::SetIncludeListViewHead(bool value) {
  includeListViewHead_ = value;
  Changed();
}

void TMulFormLang::SetIncludeTreeViewItems(bool value) {
  includeTreeViewItems_ = value;
  Changed();
}

void TMulFormLang::Translate() {
  QWidget* window = OwnerForm() ? OwnerForm() : OwnerFrame();
  if (!window) return;  // a data module has nothing of its own to translate
  TranslateFont(window);
  TranslateOwnTexts(window);
  for (QObject* component : OwnedComponents(window))
    if (!IsSkipped(component)) TranslateComponent(component);
}

void TMulFormLang::TranslateOwnTexts(QWidget* window) {
  QString name = NameOf(window);
  for (const QString& property : stringProperties_.Items()) {
    if (ignoreFormCaption_ && property == QLatin1String("Caption")) continue;
    if (auto text = FindTextProperty(window, property))
      TranslateText(name + u'_' + property, *text);
  }
  for (const QString& property : stringsProperties_.Items())
    if (auto list = FindTextList(window, property)) TranslateList(name + u'_' + property, *list);
}

bool TMulFormLang::IsSkipped(QObject* component) const {
  Kind kind = KindOf(component);
  if (kind == Kind::FormLanguage || kind == Kind::Timer || kind == Kind::MenuItem) return true;
  return ignoreControls_.Contains(NameOf(component)) || HasIgnoredTag(TagOf(component));
}

void TMulFormLang::TranslateComponent(QObject* component) {
  QString name = NameOf(component);
  switch (KindOf(component)) {
    case Kind::ListView:
      if (includeListViewHead_)
        TranslateList(name + QLatin1String("_ColumnCaption"), ListViewColumns(component));
      if (includeListViewItems_) {
        TextList items = ListViewItems(component);
        int count = items.count();
        for (int i = 0; i < count; ++i) {
          QString index = QString::number(i);
          TranslateText(name + QLatin1String("_ItemCaption[") + index + u']', items.item(i),
                        [&items, i](const QString& text) { items.setItem(i, text); });
          TranslateList(name + QLatin1String("_SubItem[") + index + QLatin1String("]Caption"),
                        ListViewSubItems(component, i));
        }
      }
      return;
    case Kind::TreeView:
      if (!includeTreeViewItems_) break;
      TranslateList(name + QLatin1String("_ItemText"), TreeViewNodes(component));
      return;
    case Kind::HeaderControl:
      TranslateList(name + QLatin1String("_SectionsText"), HeaderSections(component));
      return;
    case Kind::DataGrid:
      TranslateList(name + QLatin1String("_ColumnsCaption"), GridColumnTitles(component));
      return;
    default:
      break;
  }
  TranslateProperties(component);
}

void TMulFormLang::TranslateProperties(QObject* component) {
  QString name = NameOf(component);
  for (const QString& property : stringProperties_.Items())
    if (auto text = FindTextProperty(component, property))
      TranslateText(name + u'_' + property, *text);
  for (const QString& property : stringsProperties_.Items())
    if (auto list = FindTextList(component, property)) TranslateList(name + u'_' + property, *list);
}

// ---------------------------------------------------------------------------

TMulMenuLang::TMulMenuLang(QObject* owner) : TMulLang(owner) {}

void TMulMenuLang::SetMenu(QMenuBar* menu) {
  SetMenuWidget(menu);
}

void TMulMenuLang::SetMenu(QMenu* menu) {
  SetMenuWidget(menu);
}

void TMulMenuLang::SetMenuWidget(QWidget* menu) {
  menu_ = menu;
  Changed();
}

void TMulMenuLang::Translate() {
  if (!menu_) return;
  for (QAction* item : MenuItems(menu_)) TranslateItem(item);
}

void TMulMenuLang::TranslateItem(QAction* item) {
  if (IsSeparator(item) || HasIgnoredTag(ItemTag(item))) return;
  // An unnamed item has no key of its own; its submenu may still have some.
  if (QString name = ItemName(item); !name.isEmpty())
    TranslateText(name + QLatin1String("_Caption"), item->text(),
                  [item](const QString& text) { item->setText(text); });
  for (QAction* subItem : SubItems(item)) TranslateItem(subItem);
}
