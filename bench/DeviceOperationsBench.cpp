// How long each device operation of the main window takes beyond its design
// windows, against the converter simulator on a pseudo-terminal: from the
// click to the operator's message, minus the collection windows, time-outs
// and pauses the operation is designed to spend. One line per operation.
//
//   bench_device_operations [ROUNDS]     (default 5 rounds)
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "platform/ProgramFolder.h"
#include "serial/Comm.h"
#include "support/ConvsimProcess.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

namespace {

constexpr int kDeadlineMs = 20000;

// Records when each message is shown instead of showing it.
class TimedDialogs final : public ui::DialogSeam {
 public:
  void ShowMessage(const QString& text) override {
    lastAt = clock.nsecsElapsed();
    messages.append(text);
    if (waiting) waiting->quit();
  }
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }

  QStringList messages;
  qint64 lastAt = 0;
  QElapsedTimer clock;
  QEventLoop* waiting = nullptr;  // quit when a message is shown
};

struct Operation {
  const char* name;
  double designMs;  // the windows and pauses the operation spends by design
  std::function<void()> prepare;
  QPushButton* button;
  const char* expected;
};

struct Figures {
  std::vector<double> overheadMs;
  int failures = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Bench {
 public:
  Bench(TfrmMain& window, TimedDialogs& dialogs) : window_(window), dialogs_(dialogs) {}

  // Clicks and waits for the message; the time beyond the design windows.
  bool Measure(const Operation& op, double& overheadMs) {
    if (op.prepare) op.prepare();
    dialogs_.messages.clear();
    const qint64 start = dialogs_.clock.nsecsElapsed();
    op.button->click();
    if (!WaitForMessage()) return false;
    overheadMs = (dialogs_.lastAt - start) / 1e6 - op.designMs;
    // Let nothing of this operation spill into the next one.
    QTest::qWait(50);
    return dialogs_.messages == QStringList{QString::fromLatin1(op.expected)};
  }

  // Runs the event loop as the program does (QTest::qWaitFor polls in steps
  // of 10 ms, which would delay the timers by up to that much).
  bool WaitForMessage() {
    if (!dialogs_.messages.isEmpty()) return true;
    QEventLoop loop;
    QTimer::singleShot(kDeadlineMs, &loop, &QEventLoop::quit);
    dialogs_.waiting = &loop;
    loop.exec();
    dialogs_.waiting = nullptr;
    return !dialogs_.messages.isEmpty();
  }

  void Disconnect() {
    if (window_.Comm1->PortOpen()) window_.ui->btnConn->click();
  }

 private:
  TfrmMain& window_;
  TimedDialogs& dialogs_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ui::Application application(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

  QTemporaryDir folder;
  platform::SetProgramFolder(folder.path());
  TimedDialogs dialogs;
  dialogs.clock.start();
  ui::InstallDialogs(&dialogs);
  testing_support::ConvsimProcess convsim(QStringLiteral(CONVSIM_EXE), folder.path());
  if (convsim.Com() == 0) {
    std::fprintf(stderr, "bench: convsim did not start\n");
    return 1;
  }

  TfrmDM dataModule;
  TfrmMain window;
  frmDM->LangCode = QStringLiteral("enu");
  window.ui->cbxPort->setCurrentText(QStringLiteral("COM%1").arg(convsim.Com()));
  Bench bench(window, dialogs);
  auto& ui = *window.ui;

  // Design windows: the collection windows and time-outs of each operation
  // and the pauses between its sends.
  const std::vector<Operation> operations = {
      {"connect (version, then all three groups)", 2 + 1000 + 20 + 20 + 1000,
       [&] { bench.Disconnect(); }, ui.btnConn, "acquire configuration succeed!"},
      {"read (shown tab)", 1000, [&] { ui.pgcFunc->setCurrentIndex(1); }, ui.btnReadCfg,
       "acquire configuration succeed!"},
      {"write (three records)", 500 + 500 + 1000, nullptr, ui.btnWriteCfg,
       "write configuration succeed!"},
      {"restore defaults (and read back)", 3000 + 20 + 20 + 3000, nullptr, ui.btnDefCfg,
       "acquire configuration succeed!"},
      {"connect, nothing answering (time-out)", 2 + 1000 + 500,
       [&] {
         bench.Disconnect();
         convsim.Control("fault all silence");
       },
       ui.btnConn, "operating timeout."},
  };

  std::vector<Figures> figures(operations.size());
  for (int round = 0; round < rounds; ++round) {
    convsim.Control("fault all none");
    for (std::size_t i = 0; i < operations.size(); ++i) {
      double overhead = 0;
      if (bench.Measure(operations[i], overhead))
        figures[i].overheadMs.push_back(overhead);
      else
        ++figures[i].failures;
    }
  }
  bench.Disconnect();

  std::printf(
      "Device operations against convsim, %d round(s): time from the click to the message\n"
      "beyond the operation's design windows (target: 20 ms or less)\n",
      rounds);
  std::printf("%-42s %9s %9s %9s %9s\n", "operation", "design ms", "median ms", "max ms", "failed");
  bool withinTarget = true;
  for (std::size_t i = 0; i < operations.size(); ++i) {
    const auto& values = figures[i].overheadMs;
    const double median = values.empty() ? 0 : Median(values);
    const double worst = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    std::printf("%-42s %9.0f %9.1f %9.1f %9d\n", operations[i].name, operations[i].designMs, median,
                worst, figures[i].failures);
    withinTarget = withinTarget && !values.empty() && median <= 20.0 && figures[i].failures == 0;
  }
  ui::InstallDialogs(nullptr);
  platform::SetProgramFolder(QString());
  return withinTarget ? 0 : 1;
}
