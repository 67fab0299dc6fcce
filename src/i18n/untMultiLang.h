#pragma once

// The multi-language engine: components that replace the texts of a window,
// its controls and its menus by texts from a language file (an INI file in
// GBK, one section per owner class), and that write every text the file lacks
// into it, so that running once against a new file produces a file to edit.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "i18n/MulLangToolkit.h"

class QMenu;
class QMenuBar;

namespace platform {
class ProfileBatch;
}

// A list of texts that tells its component of every change.
class MulStrings {
 public:
  explicit MulStrings(std::function<void()> onChange, QStringList initial = {});

  const QStringList& Items() const { return items_; }
  bool Contains(const QString& text) const { return items_.contains(text); }

  void Add(const QString& text);
  void Put(int index, const QString& text);
  void Clear();
  // Replaces the contents: one change.
  void Assign(const QStringList& items);

 private:
  void Changed();

  QStringList items_;
  std::function<void()> onChange_;
};

// The common part: language file, switches, tags to skip, the one-text lookup
// and the pass Translate. Owned by a window, a data module or a frame (its
// QObject parent); the language file's section is the owner's class name.
class TMulLang : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kDefaultLangFileName = "LangCHN.MUL";

  // Throws platform::Exception("Owner must be a Form or a DataModule!") when
  // owner is not a window, a data module or a frame.
  explicit TMulLang(QObject* owner);
  ~TMulLang() override;

  // The bare file name; the file used is that name in the program folder.
  QString LangFileName() const;
  void SetLangFileName(const QString& name);
  const QString& LangFilePath() const { return langFilePath_; }

  bool IgnoreEmptyString() const { return ignoreEmptyString_; }
  void SetIgnoreEmptyString(bool value);
  bool AutoCreateMode() const { return autoCreateMode_; }
  void SetAutoCreateMode(bool value);
  // Runs no pass: it only changes how later writes look.
  bool AddBracket() const { return addBracket_; }
  void SetAddBracket(bool value) { addBracket_ = value; }
  MulStrings& IgnoreTags() { return ignoreTags_; }

  // Setting true runs a pass; while true, every property change runs one.
  bool Active() const { return active_; }
  void SetActive(bool value);

  int Tag = 0;

  // The owner, in the slot of its kind.
  QWidget* OwnerForm() const { return ownerForm_; }
  QWidget* OwnerFrame() const { return ownerFrame_; }

 protected:
  // One synchronous pass over the owner's texts.
  virtual void Translate() = 0;

  // Runs a pass if active; every property setter ends here.
  void Changed();

  QString Section() const;
  bool HasIgnoredTag(int tag) const;

  // Reads key; a non-empty value (without its "<" ">") becomes the text;
  // otherwise the current text is written when the switches allow it.
  void TranslateText(const QString& key, const QString& current,
                     const std::function<void(const QString&)>& set) const;
  void TranslateText(const QString& key, const mullang::TextProperty& property) const;
  // Each item i of a list under key prefix + "[" i "]" + suffix.
  void TranslateList(const QString& prefix, const mullang::TextList& list,
                     const QString& suffix = QString()) const;
  // Font face, size and character set of a window or frame.
  void TranslateFont(QWidget* window) const;

 private:
  int ReadNumber(const QString& key, int def) const;
  void WriteNumber(const QString& key, int value) const;

  QString langFilePath_;
  // The language file as the running pass sees it; null between passes.
  platform::ProfileBatch* pass_ = nullptr;
  bool ignoreEmptyString_ = false;
  bool autoCreateMode_ = true;
  bool addBracket_ = false;
  bool active_ = false;
  MulStrings ignoreTags_;
  QWidget* ownerForm_ = nullptr;
  QObject* ownerDataModule_ = nullptr;
  QWidget* ownerFrame_ = nullptr;
};

// Translates the window or frame that owns it: its font, its own texts and
// those of the components it owns. Owned by a data module it does nothing.
class TMulFormLang : public TMulLang {
  Q_OBJECT

 public:
  explicit TMulFormLang(QObject* owner);

  MulStrings& StringProperties() { return stringProperties_; }
  void SetStringProperties(const QStringList& names) { stringProperties_.Assign(names); }
  MulStrings& StringsProperties() { return stringsProperties_; }
  void SetStringsProperties(const QStringList& names) { stringsProperties_.Assign(names); }
  MulStrings& IgnoreControls() { return ignoreControls_; }
  void SetIgnoreControls(const QStringList& names) { ignoreControls_.Assign(names); }

  bool IgnoreFormCaption() const { return ignoreFormCaption_; }
  void SetIgnoreFormCaption(bool value);
  bool IncludeListViewItems() const { return includeListViewItems_; }
  void SetIncludeListViewItems(bool value);
  bool IncludeListViewHead() const { return includeListViewHead_; }
  void SetIncludeListViewHead(bool value);
  bool IncludeTreeViewItems() const { return includeTreeViewItems_; }
  void SetIncludeTreeViewItems(bool value);

 protected:
  void Translate() override;

 private:
  void TranslateOwnTexts(QWidget* window);
  void TranslateComponent(QObject* component);
  void TranslateProperties(QObject* component);
  bool IsSkipped(QObject* component) const;

  MulStrings stringProperties_;
  MulStrings stringsProperties_;
  MulStrings ignoreControls_;
  bool ignoreFormCaption_ = false;
  bool includeListViewItems_ = false;
  bool includeListViewHead_ = false;
  bool includeTreeViewItems_ = false;
};

// Translates the captions of one menu tree (a QMenuBar or a QMenu, not owned;
// it becomes empty when the menu is destroyed).
class TMulMenuLang : public TMulLang {
  Q_OBJECT

 public:
  explicit TMulMenuLang(QObject* owner);

  QWidget* Menu() const { return menu_; }
  void SetMenu(QMenuBar* menu);
  void SetMenu(QMenu* menu);

 protected:
  void Translate() override;

 private:
  void SetMenuWidget(QWidget* menu);
  void TranslateItem(QAction* item);

  QPointer<QWidget> menu_;
};
