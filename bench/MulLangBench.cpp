// One language pass over a window the size of the main window (about 350
// keys: window font and caption, 60 control captions, 255 port names and 30
// more list items, plus the menu), timed in two situations:
//   first run   - no language file: every key is looked up and written;
//   complete    - the file has every key: every key is looked up and applied.
// Prints min / median / max in milliseconds. Targets: complete <= 5 ms,
// first run <= 20 ms (a pass reads the file once and replaces it once).
// Built twice: bench_mullang over a synthetic window of that size,
// bench_mullang_main over the program's own main window.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "i18n/untMultiLang.h"
#include "platform/ProgramFolder.h"
#ifdef BENCH_REAL_MAIN_WINDOW
#include "app/untMain.h"
#include "ui/Dialogs.h"
#endif

namespace {

#ifndef BENCH_REAL_MAIN_WINDOW
class TfrmMain : public QMainWindow {
 public:
  TfrmMain() {
    setObjectName("frmMain");
    setWindowTitle(QString::fromUtf8("转换器配置"));
    setProperty(mullang::kFontCharsetProperty, 134);
    auto* central = new QWidget(this);
    central->setObjectName("Panel1");
    central->setProperty(mullang::kTagProperty, 999);
    setCentralWidget(central);

    auto* port = new QComboBox(central);
    port->setObjectName("cbxPort");
    for (int i = 1; i <= 255; ++i) port->addItem(QStringLiteral("COM%1").arg(i));

    auto* pages = new QTabWidget(central);
    pages->setObjectName("pgcFunc");
    for (int page = 0; page < 4; ++page) {
      auto* sheet = new QWidget;
      sheet->setObjectName(QStringLiteral("ts%1").arg(page));
      pages->addTab(sheet, QString::fromUtf8("参数页%1").arg(page));
      auto* group = new QGroupBox(QString::fromUtf8("分组%1").arg(page), sheet);
      group->setObjectName(QStringLiteral("grp%1").arg(page));
      for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromUtf8("标签%1：").arg(i), group);
        label->setObjectName(QStringLiteral("Label%1_%2").arg(page).arg(i));
        auto* check = new QCheckBox(QString::fromUtf8("选项%1").arg(i), group);
        check->setObjectName(QStringLiteral("chk%1_%2").arg(page).arg(i));
      }
      auto* list = new QComboBox(group);
      list->setObjectName(QStringLiteral("cbxList%1").arg(page));
      for (int i = 0; i < 7; ++i) list->addItem(QString::fromUtf8("选择%1").arg(i));
      auto* numbers = new QComboBox(group);  // a number list that is never translated
      numbers->setObjectName(QStringLiteral("cbbNumbers%1").arg(page));
      numbers->setProperty(mullang::kTagProperty, 999);
      numbers->addItems({"1200", "2400", "4800", "9600", "19200", "115200"});
    }
    for (int i = 0; i < 7; ++i) {
      auto* button = new QPushButton(QString::fromUtf8("按钮%1").arg(i), central);
      button->setObjectName(QStringLiteral("btn%1").arg(i));
    }
    auto* extra = new QComboBox(central);
    extra->setObjectName("cbxExtra");
    extra->addItems({QString::fromUtf8("标准帧"), QString::fromUtf8("扩展帧")});
    new QTimer(this);

    auto* menu = menuBar()->addMenu(QString::fromUtf8("功能"));
    menu->setObjectName("g1");
    for (int i = 1; i <= 3; ++i)
      menu->addAction(QString::fromUtf8("菜单%1").arg(i))
          ->setObjectName(QStringLiteral("N%1").arg(i));
    MulFormLang1 = new TMulFormLang(this);
    MulMenuLang1 = new TMulMenuLang(this);
    MulMenuLang1->SetMenu(menuBar());
  }
  TMulFormLang* MulFormLang1;
  TMulMenuLang* MulMenuLang1;
};
#else
// Messages of the window's start-up (no language database here) are dropped.
class SilentDialogs final : public ui::DialogSeam {
 public:
  void ShowMessage(const QString&) override {}
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }
};
#endif

struct Figures {
  double min, median, max;
};

struct Timing {
  double wall;  // ms
  double cpu;   // ms of this process's processor time
};

Figures Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2], times.back()};
}

// One pass of the form component and one of the menu component, as the
// language start-up runs them.
Timing TimedPass(TfrmMain& window) {
  window.MulFormLang1->SetActive(false);
  window.MulMenuLang1->SetActive(false);
  QElapsedTimer timer;
  std::clock_t cpuStart = std::clock();
  timer.start();
  window.MulFormLang1->SetActive(true);
  window.MulMenuLang1->SetActive(true);
  return {double(timer.nsecsElapsed()) / 1e6,
          double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC};
}

Figures Wall(const std::vector<Timing>& timings) {
  std::vector<double> times;
  for (const Timing& t : timings) times.push_back(t.wall);
  return Summarise(times);
}

Figures Cpu(const std::vector<Timing>& timings) {
  std::vector<double> times;
  for (const Timing& t : timings) times.push_back(t.cpu);
  return Summarise(times);
}

int CountKeys(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  return int(file.readAll().count('='));
}

void Print(const char* what, const std::vector<Timing>& timings, double target) {
  Figures wall = Wall(timings);
  Figures cpu = Cpu(timings);
  std::printf("%-30s %8.2f %8.2f %8.2f %10.2f  %4zu  %s (<= %.0f ms)\n", what, wall.min,
              wall.median, wall.max, cpu.median, timings.size(),
              wall.median <= target ? "ok" : "OVER", target);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // bench_mullang [runs] [folder]: the language file goes to a temporary
  // folder under the given one (default: the current folder, normally the
  // build tree, so the file lies on a real disk, not a memory file system).
  const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 21;
  const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::currentPath();
  QTemporaryDir folder(base + "/mullang-bench-XXXXXX");
  if (!folder.isValid()) {
    std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(base));
    return 1;
  }
  platform::SetProgramFolder(folder.path());
  QDir(folder.path()).mkpath("sys");
  const QString file = folder.path() + "/LangCHN.MUL";

#ifdef BENCH_REAL_MAIN_WINDOW
  SilentDialogs dialogs;
  ui::InstallDialogs(&dialogs);
#endif
  TfrmMain window;
  std::vector<Timing> firstRun, complete;
  for (int i = 0; i < runs; ++i) {
    QFile::remove(file);
    firstRun.push_back(TimedPass(window));
  }
  int keys = CountKeys(file);
  if (const char* keep = std::getenv("MULLANG_BENCH_KEEP"))
    QFile::copy(file, QString::fromLocal8Bit(keep));
  for (int i = 0; i < runs; ++i) complete.push_back(TimedPass(window));

  std::printf("Language pass over a main-window-sized form: %d keys, file in %s\n", keys,
              qPrintable(base));
  std::printf("%-30s %8s %8s %8s %10s  %4s\n", "wall time, ms", "min", "median", "max",
              "cpu median", "runs");
  Print("first run (writes every key)", firstRun, 20);
  Print("complete file (reads only)", complete, 5);
  platform::SetProgramFolder(QString());
#ifdef BENCH_REAL_MAIN_WINDOW
  ui::InstallDialogs(nullptr);
#endif
  return 0;
}
