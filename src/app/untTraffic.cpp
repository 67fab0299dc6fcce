#include "app/untTraffic.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "app/TrafficModel.h"
#include "app/TrafficRecorder.h"
#include "i18n/MulLangToolkit.h"
#include "i18n/OperatorMessages.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "i18n/untMultiLang.h"
#include "params/ParamFileIo.h"
#include "platform/ProfileFile.h"
#include "protocol/TrafficFormat.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui/WindowHelpers.h"
#include "ui_untTraffic.h"

namespace {

using messages::Msg;

// New rows wait at most this long for the view: a burst costs one update.
constexpr int kRefreshMs = 100;

// The settings of the window's placement in sys/System.dt.
const QString kSection = QStringLiteral("Traffic");
const QString kLeft = QStringLiteral("Left");
const QString kTop = QStringLiteral("Top");
const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");
constexpr int kUnset = -1;

// A window counts as reachable when this much of its top edge, where the
// title bar is grabbed, lies on a screen.
constexpr int kGripWidth = 48;
constexpr int kGripHeight = 16;

// The columns' widths at first, in pixels; the bytes take the rest.
constexpr int kColumnWidths[] = {92, 70, 76, 128, 104, 52, 64, 300, 220};

bool ReachableOnSomeScreen(const QRect& placed) {
  const QRect topEdge(placed.topLeft(), QSize(placed.width(), std::min(placed.height(), 32)));
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect visible = screen->availableGeometry().intersected(topEdge);
    if (visible.width() >= kGripWidth && visible.height() >= kGripHeight) return true;
  }
  return false;
}

// `placed` as saved, or moved to the middle of the primary screen (and made
// to fit it) when no screen shows enough of it: the screen it was on may be
// gone.
QRect OnScreen(QRect placed) {
  if (ReachableOnSomeScreen(placed)) return placed;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return placed;
  const QRect area = screen->availableGeometry();
  placed.setSize(placed.size().boundedTo(area.size()));
  placed.moveCenter(area.center());
  return placed;
}

}  // namespace

TfrmTraffic::TfrmTraffic(app::TrafficRecorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TfrmTraffic), recorder_(recorder) {
  ui->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose);
  setProperty(mullang::kComponentKindProperty, QStringLiteral("Form"));
  ui::ApplyDesignFont(this);
  // Keyboard users press Enter on a focused button as well as Space.
  ui::LetEnterClickButtons(this);

  MulFormLang1 = new TMulFormLang(this);
  MulFormLang1->setObjectName(QStringLiteral("MulFormLang1"));
  // The row count is a figure, not a design text.
  MulFormLang1->SetIgnoreControls({QStringLiteral("lblRowCount")});

  Model = new app::TrafficModel(recorder_.Store(), this);
  Filter = new app::TrafficFilter(Model, this);
  timRefresh = new QTimer(this);
  timRefresh->setObjectName(QStringLiteral("timRefresh"));
  timRefresh->setSingleShot(true);
  timRefresh->setInterval(kRefreshMs);

  SetUpTable();
  ConnectHandlers();
  recorder_.SetListener([this] { NoteNewRows(); });
  RestorePlacement();
  ShowRowCount();
}

TfrmTraffic::~TfrmTraffic() {
  recorder_.SetListener({});
  delete ui;
}

void TfrmTraffic::SetUpTable() {
  QTableView* view = ui->grdTraffic;
  view->setModel(Filter);
  // Rows of one height: the view never measures 10,000 rows.
  QHeaderView* rows = view->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
  QHeaderView* columns = view->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  for (int column = 0; column < static_cast<int>(std::size(kColumnWidths)); ++column)
    columns->resizeSection(column, kColumnWidths[column]);
  view->installEventFilter(this);
  view->scrollToBottom();
}

void TfrmTraffic::ConnectHandlers() {
  ui::ConnectGuarded(ui->btnPause, &QPushButton::toggled, this, [this] { btnPauseClick(); });
  ui::ConnectGuarded(ui->btnClear, &QPushButton::clicked, this, [this] { btnClearClick(); });
  ui::ConnectGuarded(ui->chkProblemsOnly, &QCheckBox::toggled, this,
                     [this] { chkProblemsOnlyClick(); });
  ui::ConnectGuarded(ui->btnCopy, &QPushButton::clicked, this, [this] { btnCopyClick(); });
  ui::ConnectGuarded(ui->btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  ui::ConnectGuarded(timRefresh, &QTimer::timeout, this, [this] { timRefreshTimer(); });
  connect(ui->grdTraffic->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ui->btnCopy->setEnabled(ui->grdTraffic->selectionModel()->hasSelection()); });
}

bool TfrmTraffic::eventFilter(QObject* watched, QEvent* event) {
  // Ctrl+C in the table copies the selected rows, not the current cell.
  if (watched == ui->grdTraffic && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    ui::RunShowingFailure([this] { btnCopyClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmTraffic::RefreshLanguage() {
  Model->Retranslate();
  ApplyLangFile(MulFormLang1, nullptr);
  ui->grdTraffic->setAccessibleName(windowTitle());
}

// ---- rows ----

void TfrmTraffic::NoteNewRows() {
  if (!timRefresh->isActive()) timRefresh->start();
}

void TfrmTraffic::timRefreshTimer() {
  timRefresh->stop();
  ShowChanges([this] { Model->Refresh(); });
}

void TfrmTraffic::ShowChanges(const std::function<void()>& change) {
  // A view scrolled to its last row follows the new rows; one scrolled back
  // stays where the operator is reading.
  const QScrollBar* bar = ui->grdTraffic->verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  change();
  ShowRowCount();
  if (following && !Model->Frozen()) ui->grdTraffic->scrollToBottom();
}

void TfrmTraffic::ShowRowCount() {
  ui->lblRowCount->setText(QStringLiteral("%1 / %2")
                               .arg(Filter->rowCount())
                               .arg(static_cast<qulonglong>(recorder_.Store().Size())));
}

void TfrmTraffic::btnPauseClick() {
  ShowChanges([this] { Model->SetFrozen(ui->btnPause->isChecked()); });
}

void TfrmTraffic::btnClearClick() {
  recorder_.Clear();
  ShowChanges([this] {
    // Paused, the view shows the empty store from now on.
    const bool paused = Model->Frozen();
    Model->SetFrozen(false);
    Model->SetFrozen(paused);
  });
}

void TfrmTraffic::chkProblemsOnlyClick() {
  ShowChanges([this] { Filter->SetProblemsOnly(ui->chkProblemsOnly->isChecked()); });
}

void TfrmTraffic::btnCopyClick() {
  std::vector<int> rows;
  for (const QModelIndex& selected : ui->grdTraffic->selectionModel()->selectedRows())
    rows.push_back(Filter->mapToSource(selected).row());
  std::sort(rows.begin(), rows.end());
  QString text;
  for (const int row : rows) {
    const QString line = Model->RowLine(row);
    if (!line.isEmpty()) text += line + QLatin1Char('\n');
  }
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

// ---- saving ----

QByteArray TfrmTraffic::SavedText() const {
  const protocol::TrafficStore& store = recorder_.Store();
  const std::string langCode = frmDM ? frmDM->LangCode.toStdString() : std::string();
  QByteArray text;
  std::optional<protocol::TrafficTime> previous;
  for (std::size_t i = 0; i < store.Size(); ++i) {
    const protocol::TrafficRow& row = store.At(i);
    text += protocol::RowTextLine(row, previous, langCode);
    text += '\n';
    previous = row.time;
  }
  return text;
}

void TfrmTraffic::btnSaveClick() {
  ui::RunShowingFailure([&] {
    ui::FileDialogRequest request;
    request.fileName =
        QStringLiteral("traffic-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    request.filter = MsgText(Msg::TextFilter);
    request.defaultSuffix = QStringLiteral("txt");
    const QString fileName = ui::Dialogs().ChooseSaveFile(request);
    if (fileName.isEmpty()) return;
    // A named pipe, a device or a folder is refused before the question.
    params::RefuseWhatIsNoFile(fileName);
    if (QFileInfo::exists(fileName) && !ui::Dialogs().AskYesNo(MsgText(Msg::TextFileExists)))
      return;
    const auto rows = static_cast<qulonglong>(recorder_.Store().Size());
    params::WriteFileAtomically(fileName, SavedText());
    ui::Dialogs().ShowMessage(MsgText(Msg::TrafficSaved).arg(rows));
  });
}

// ---- placement ----

void TfrmTraffic::RestorePlacement() {
  const platform::ProfileFile ini(SettingsFilePath());
  const QRect saved(ini.ReadInt(kSection, kLeft, kUnset), ini.ReadInt(kSection, kTop, kUnset),
                    ini.ReadInt(kSection, kWidth, kUnset), ini.ReadInt(kSection, kHeight, kUnset));
  if (saved.width() <= 0 || saved.height() <= 0) {
    ui::CenterOnScreen(this);
    return;
  }
  QRect placed = saved;
  placed.setSize(saved.size().expandedTo(minimumSize()));
  setGeometry(OnScreen(placed));
}

void TfrmTraffic::SavePlacement() {
  const QRect placed = normalGeometry();
  try {
    platform::ProfileBatch ini(SettingsFilePath());
    ini.WriteInt(kSection, kLeft, placed.x());
    ini.WriteInt(kSection, kTop, placed.y());
    ini.WriteInt(kSection, kWidth, placed.width());
    ini.WriteInt(kSection, kHeight, placed.height());
    ini.Commit();
  } catch (const platform::Exception& e) {
    // As with the language number: the settings file is not worth a message.
    WriteErrorLog(QStringLiteral("Save traffic window error, reason: ") + e.Description());
  }
}

void TfrmTraffic::closeEvent(QCloseEvent* event) {
  SavePlacement();
  QWidget::closeEvent(event);
}
