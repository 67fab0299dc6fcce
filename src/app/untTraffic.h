#pragma once

#include <QWidget>
#include <functional>

class QTimer;
class TMulFormLang;

namespace app {
class TrafficFilter;
class TrafficModel;
class TrafficRecorder;
}  // namespace app

namespace Ui {
class TfrmTraffic;
}

// The traffic window: what went out on the serial line and what came back,
// decoded, one row each, with the operator's messages among them. It shows
// the main window's recorder; recording goes on whether it is open or not.
// Non-modal; translated by its own language component (section
// "TfrmTraffic") whenever the language changes; its size and position are
// kept in the settings file under [Traffic].
class TfrmTraffic : public QWidget {
  Q_OBJECT

 public:
  // The rows come from `recorder`, which must outlive the window; `parent`
  // is the main window, over which it stays and with which it goes.
  TfrmTraffic(app::TrafficRecorder& recorder, QWidget* parent);
  ~TfrmTraffic() override;

  Ui::TfrmTraffic* ui;
  TMulFormLang* MulFormLang1;
  app::TrafficModel* Model;
  app::TrafficFilter* Filter;
  // Gathers new rows into one update of the view.
  QTimer* timRefresh;

  // The current language file over the window's texts, and every cell in the
  // current language.
  void RefreshLanguage();

  // Pause freezes the rows shown so that they can be read and copied;
  // recording goes on and the view catches up when pause is released.
  void btnPauseClick();
  // Removes every row recorded so far.
  void btnClearClick();
  void chkProblemsOnlyClick();
  // The selected rows to the clipboard, as lines of saved text.
  void btnCopyClick();
  // Every row recorded (whatever the view shows) to a text file: UTF-8,
  // one tab-separated line per row.
  void btnSaveClick();
  // Brings the view up to the recorder now (the timer does it within a
  // tenth of a second of new rows).
  void timRefreshTimer();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetUpTable();
  void ConnectHandlers();
  void NoteNewRows();
  // Runs a change of the rows shown, keeping a view that showed the last row
  // on the last row.
  void ShowChanges(const std::function<void()>& change);
  void ShowRowCount();
  QByteArray SavedText() const;
  void RestorePlacement();
  void SavePlacement();

  app::TrafficRecorder& recorder_;
};
