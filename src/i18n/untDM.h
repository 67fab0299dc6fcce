#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "platform/LangDb.h"

class QMenu;
class TMulMenuLang;

// The data module: created before any window, it lives for the whole run and
// holds the language database connection, the current language code and the
// message catalogue.
class TfrmDM : public QObject {
  Q_OBJECT

 public:
  explicit TfrmDM(QObject* parent = nullptr);
  ~TfrmDM() override;

  // The language database sys/QNdata.adt, opened at creation.
  platform::LangDbConnection conn1;

  // The message catalogue: items named N_..., captions holding the program's
  // messages in Chinese, grouped by subject; translated by mLangMsgs like any
  // menu. No operation reads it.
  QMenu* pmMsgs;
  TMulMenuLang* mLangMsgs;

  // "chn", "enu", or empty before the language start-up.
  QString LangCode;

  // Opens conn1 on sys/QNdata.adt with the database password. On failure
  // shows "Connect to database error, " + the reason and returns false.
  bool ConnectDatabase();

  // Waits for the open that creation started; on failure shows
  // "Connect to database error, " + the reason, once.
  void FinishConnect();

  // The LangFile of language n, or empty. When the row exists it also sets
  // CurLangFile and CurLangTxtFile. Failures are logged, never raised. The
  // first lookup finishes the open that creation started.
  QString GetLangFile(quint16 n);

 private:
  // Starts opening conn1 in the background (ConnectDatabase without waiting).
  void DataModuleCreate();
  static void ShowConnectError(const platform::Exception& e);
  static QString DatabasePath();
  void CreateMessageCatalogue();

  std::unique_ptr<QMenu> catalogue_;
};

// The one data module of the program; null before it is created.
extern TfrmDM* frmDM;

// The text of the current language: the Chinese one when LangCode is "chn",
// the English one for any other code (empty included).
QString LangText(const QString& chn, const QString& enu);

// The connection string of the language database at path, as the database
// layer reads it.
QString LangDbConnectionText(const QString& path);

// Whether a language file name from the database may be used: a name inside
// the program folder, not absolute and without any ".." step.
bool IsSafeLangFileName(const QString& name);
