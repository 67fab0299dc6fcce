#pragma once

#include <QObject>
#include <QString>

// The data module: created before any window, it lives for the whole run and
// holds the current language code (and, later, the language database and the
// message catalogue).
class TfrmDM : public QObject {
  Q_OBJECT

 public:
  explicit TfrmDM(QObject* parent = nullptr);
  ~TfrmDM() override;

  // "chn", "enu", or empty before the language start-up.
  QString LangCode;
};

// The one data module of the program; null before it is created.
extern TfrmDM* frmDM;

// The text of the current language: the Chinese one when LangCode is "chn",
// the English one for any other code (empty included).
QString LangText(const QString& chn, const QString& enu);
