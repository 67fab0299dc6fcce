// Soak benchmark of the device operations: several main windows in one
// process (offscreen), each against its own converter simulator, run many
// connect / read / write / restore / disconnect operations with random
// faults switched through the simulators' control files, the simulator
// killed and restarted as an unplugged adapter. Every operation must end
// with exactly the messages the case table (SoakCases.h) gives for its fault.
// Open descriptors and resident memory are sampled at the start, after 10 %
// of the operations and at the end, each time with every window
// disconnected and idle.
//
//   bench_soak [--windows N] [--operations N] [--seed N] [--no-unplug] [--chn]
//              [--trace-lines N]
//
// The program runs the windows in a child process of itself and reports a
// crash or a stall of that child, which would otherwise end the run
// silently.
#include <sys/prctl.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "SoakCases.h"
#include "SoakSimulator.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "i18n/untDM.h"
#include "platform/ProgramFolder.h"
#include "serial/Comm.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

namespace soak {
namespace {

constexpr int kHangMarginMs = 5000;
// After a wrong or missing message: long enough for anything the failed
// operation still has running (a restore's windows) to come out.
constexpr int kResyncQuietMs = 8000;
constexpr int kBarrierQuietMs = 300;
constexpr int kLateMarginMs = 300;
constexpr int kMaxDiagnostics = 40;

struct Options {
  int windows = 8;
  int operations = 1000;
  unsigned seed = 20261208;
  bool unplug = true;
  bool chinese = false;
  bool worker = false;
  // Lines each window's hidden debug page keeps; 0 keeps the window's own
  // bound. The page grows up to its bound by design, which a short run
  // cannot tell from a leak: a small bound shows what grows besides it.
  int traceLines = 0;
};

bool ParsePositive(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (!*text || *end || parsed < 1 || parsed > 1000000) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    const bool hasValue = i + 1 < argc;
    int number = 0;
    if (arg == "--windows" && hasValue && ParsePositive(argv[++i], number)) {
      options.windows = std::min(number, 64);
    } else if (arg == "--operations" && hasValue && ParsePositive(argv[++i], number)) {
      options.operations = number;
    } else if (arg == "--seed" && hasValue && ParsePositive(argv[++i], number)) {
      options.seed = static_cast<unsigned>(number);
    } else if (arg == "--trace-lines" && hasValue && ParsePositive(argv[++i], number)) {
      options.traceLines = number;
    } else if (arg == "--no-unplug") {
      options.unplug = false;
    } else if (arg == "--chn") {
      options.chinese = true;
    } else if (arg == "--worker") {
      options.worker = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_soak [--windows N] [--operations N] [--seed N] [--no-unplug] "
                   "[--chn] [--trace-lines N]\n"
                   "  --no-unplug  leave out the unplugged adapter and the disconnect during an\n"
                   "               operation\n"
                   "  --trace-lines N  each window's debug page keeps its last N lines\n"
                   "               (default: the window's own bound)\n");
      return false;
    }
  }
  return true;
}

int OpenDescriptors() {
  return static_cast<int>(
      QDir(QStringLiteral("/proc/self/fd"))
          .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
          .size());
}

long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

struct Sample {
  int descriptors = 0;
  long rssKiB = 0;
  int traceLines = 0;  // on the windows' hidden debug pages
};

// The application object, also keeping the receivers of the events being
// delivered: a message shown inside a handler belongs to the window whose
// control, timer or serial component received the event.
class TrackingApplication final : public ui::Application {
 public:
  using ui::Application::Application;

  bool notify(QObject* receiver, QEvent* event) override {
    receivers_.emplace_back(receiver);
    const bool handled = ui::Application::notify(receiver, event);
    receivers_.pop_back();
    return handled;
  }

  // Innermost first; deleted receivers are null.
  const std::vector<QPointer<QObject>>& Receivers() const { return receivers_; }

 private:
  std::vector<QPointer<QObject>> receivers_;
};

struct CaseFigures {
  int runs = 0;
  int failures = 0;
};

struct Totals {
  int operations = 0;
  int cycles = 0;  // connections made: a version reply accepted
  int wrongOperations = 0;
  int hangs = 0;
  int strayMessages = 0;  // a message while no operation of its window ran
  int unattributed = 0;   // a message no window could be found for
  int wrongState = 0;     // connected where disconnected was due, or back
  std::vector<CaseFigures> perCase = std::vector<CaseFigures>(std::size(kCases));
  int diagnostics = 0;
};

class Soak;

// Drives one window through its share of the operations, one at a time.
class WindowDriver final : public QObject {
 public:
  WindowDriver(Soak& soak, TfrmMain& window, SoakSimulator& simulator, int index, unsigned seed,
               int operations);

  void Resume();  // the next operation, at the start and after a sampling point
  void OnMessage(const QString& text);
  bool Finished() const { return done_ >= operations_; }

 private:
  enum class Phase { kBetween, kPreparing, kRunning, kLingering, kResyncing, kAtBarrier };

  void Next();
  const Case& PickCase();
  void Run();
  void Click();
  void CutIn();
  void Complete();
  void Fail(const char* what);
  void Resync();
  void WithSimulator(std::function<void()> then);
  void EnterBarrier();
  void After(int ms, std::function<void()> step);
  int SinceClickMs() const { return static_cast<int>(clock_.elapsed() - clickAt_); }
  bool PortOpen() const { return window_.Comm1->PortOpen(); }
  void Report(const char* what, const QStringList& got);
  QString Timeline() const;

  Soak& soak_;
  TfrmMain& window_;
  SoakSimulator& simulator_;
  const int index_;
  const int operations_;
  std::mt19937 random_;
  QElapsedTimer clock_;

  Phase phase_ = Phase::kBetween;
  bool connected_ = false;
  int done_ = 0;
  int barriers_ = 0;
  const Case* case_ = nullptr;
  QStringList expected_;
  QStringList received_;
  std::vector<int> receivedAtMs_;  // since the click
  qint64 clickAt_ = 0;
  int traceAtClick_ = 0;

  // Timers are children of this driver, itself a child of the window, so
  // that a message shown inside a click they trigger is the window's.
  QTimer step_;
  QTimer deadline_;
  QTimer cut_;
  std::function<void()> nextStep_;
};

class Soak {
 public:
  Soak(const Options& options, TrackingApplication& application, Totals& totals)
      : options_(options), application_(application), totals_(totals) {}

  const Options& options() const { return options_; }
  Totals& totals() { return totals_; }
  bool Chinese() const { return options_.chinese; }

  void Add(TfrmMain& window, WindowDriver& driver) { windows_.push_back({&window, &driver}); }

  Sample TakeSample() const {
    Sample sample{OpenDescriptors(), ResidentKiB(), 0};
    for (const auto& entry : windows_) sample.traceLines += entry.window->ui->Memo1->blockCount();
    return sample;
  }

  // The windows are made; from now on every message is an operation's.
  void Start() {
    started_ = true;
    samples_.push_back(TakeSample());
    for (const auto& entry : windows_) entry.driver->Resume();
  }
  bool Started() const { return started_; }

  // Which window a message shown now belongs to.
  WindowDriver* Owner() const {
    for (auto it = application_.Receivers().rbegin(); it != application_.Receivers().rend(); ++it)
      for (QObject* object = it->data(); object; object = object->parent())
        for (const auto& [window, driver] : windows_)
          if (object == window || object == window->Comm1->NotifyWindow()) return driver;
    return nullptr;
  }

  // Every window waits, disconnected and idle, until all are there.
  void ArriveAtBarrier() {
    if (++atBarrier_ < static_cast<int>(windows_.size())) return;
    atBarrier_ = 0;
    samples_.push_back(TakeSample());
    if (samples_.size() == 3) {  // start, a tenth, the end
      QCoreApplication::exit(0);
      return;
    }
    for (const auto& entry : windows_) entry.driver->Resume();
  }

  void HarnessFailure(const QString& detail) {
    std::fprintf(stderr, "bench_soak: harness failure: %s\n", detail.toLocal8Bit().constData());
    QCoreApplication::exit(2);
  }

  void Progress() {
    const int step = std::max(1, options_.operations / 10);
    if (totals_.operations % step) return;
    // Memory between the samples, for its course (windows are busy here).
    const Sample now = TakeSample();
    std::printf("  %5d operations, %d wrong or missing, %d hangs; RSS %.1f MiB, %d debug lines\n",
                totals_.operations,
                totals_.wrongOperations + totals_.strayMessages + totals_.unattributed,
                totals_.hangs, now.rssKiB / 1024.0, now.traceLines);
    std::fflush(stdout);
  }

  std::vector<Sample>& samples() { return samples_; }

 private:
  struct Entry {
    TfrmMain* window;
    WindowDriver* driver;
  };

  const Options& options_;
  TrackingApplication& application_;
  Totals& totals_;
  std::vector<Entry> windows_;
  std::vector<Sample> samples_;
  int atBarrier_ = 0;
  bool started_ = false;
};

// The dialog seam of the run: each message goes to its window's driver.
class SoakDialogs final : public ui::DialogSeam {
 public:
  explicit SoakDialogs(Soak& soak) : soak_(soak) {}

  void ShowMessage(const QString& text) override {
    if (!soak_.Started()) {
      std::printf("  start-up message (not counted): \"%s\"\n", text.toUtf8().constData());
      return;
    }
    if (WindowDriver* driver = soak_.Owner()) {
      driver->OnMessage(text);
      return;
    }
    ++soak_.totals().unattributed;
    std::printf("  message for no window: \"%s\"\n", text.toUtf8().constData());
  }
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }

 private:
  Soak& soak_;
};

WindowDriver::WindowDriver(Soak& soak, TfrmMain& window, SoakSimulator& simulator, int index,
                           unsigned seed, int operations)
    : QObject(&window),
      soak_(soak),
      window_(window),
      simulator_(simulator),
      index_(index),
      operations_(operations),
      random_(seed) {
  clock_.start();
  for (QTimer* timer : {&step_, &deadline_, &cut_}) {
    timer->setParent(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);  // a coarse one fires up to 5 % early
  }
  connect(&step_, &QTimer::timeout, this, [this] {
    if (auto step = std::exchange(nextStep_, nullptr)) step();
  });
  connect(&deadline_, &QTimer::timeout, this, [this] { Fail("hang"); });
  connect(&cut_, &QTimer::timeout, this, [this] { CutIn(); });
}

void WindowDriver::After(int ms, std::function<void()> step) {
  nextStep_ = std::move(step);
  step_.start(std::max(0, ms));
}

void WindowDriver::Resume() {
  phase_ = Phase::kBetween;
  After(0, [this] { Next(); });
}

void WindowDriver::Next() {
  // Sampling points: after a tenth of this window's operations and after all.
  const int tenth = std::max(1, (operations_ + 9) / 10);
  if ((barriers_ == 0 && done_ >= tenth) || (barriers_ == 1 && Finished())) {
    ++barriers_;
    EnterBarrier();
    return;
  }
  case_ = &PickCase();
  phase_ = Phase::kPreparing;
  QStringList lines{QStringLiteral("fault all none")};
  for (const QString& fault :
       QString::fromLatin1(case_->faults).split(QLatin1Char(';'), Qt::SkipEmptyParts))
    lines.append(QStringLiteral("fault ") + fault);
  simulator_.Control(lines, [this](bool ok, const QString& detail) {
    if (ok)
      Run();
    else
      soak_.HarnessFailure(detail);
  });
}

const Case& WindowDriver::PickCase() {
  std::vector<int> weights;
  for (const Case& c : kCases) {
    const bool fits =
        NeedsConnection(c.action) == connected_ && (soak_.options().unplug || c.cut == Cut::kNone);
    weights.push_back(fits ? c.weight : 0);
  }
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  return kCases[pick(random_)];
}

void WindowDriver::Run() {
  phase_ = Phase::kRunning;
  expected_ = ExpectedMessages(case_->outcome, soak_.Chinese());
  received_.clear();
  receivedAtMs_.clear();
  clickAt_ = clock_.elapsed();
  traceAtClick_ = window_.ui->Memo1->blockCount();
  Click();
  const int designMs = DesignMs(case_->action);
  deadline_.start(designMs + kHangMarginMs - SinceClickMs());
  if (case_->cut != Cut::kNone) {
    const int latestMs = case_->action == Action::kIdle ? 600 : FirstWindowMs(case_->action) - 400;
    cut_.start(std::uniform_int_distribution<int>(100, latestMs)(random_));
  }
  if (expected_.isEmpty()) {
    // Nothing may be shown until everything the operation would have had
    // running is over.
    const int quietMs = case_->cut == Cut::kNone ? kBarrierQuietMs : designMs + 1000;
    deadline_.stop();
    After(quietMs - SinceClickMs(), [this] { Complete(); });
  }
}

void WindowDriver::Click() {
  auto& ui = *window_.ui;
  switch (case_->action) {
    case Action::kConnect:
    case Action::kDisconnect:
      ui.btnConn->click();
      break;
    case Action::kReadConvt:
    case Action::kReadCom:
    case Action::kReadCan:
      ui.pgcFunc->setCurrentIndex(case_->action == Action::kReadConvt ? 0
                                  : case_->action == Action::kReadCom ? 1
                                                                      : 2);
      ui.btnReadCfg->click();
      break;
    case Action::kWrite:
      ui.btnWriteCfg->click();
      break;
    case Action::kRestore:
      ui.btnDefCfg->click();
      break;
    case Action::kIdle:
      break;
  }
}

void WindowDriver::CutIn() {
  if (phase_ != Phase::kRunning) return;
  if (case_->cut == Cut::kUnplug)
    simulator_.Unplug();
  else if (PortOpen())
    window_.ui->btnConn->click();
}

void WindowDriver::OnMessage(const QString& text) {
  switch (phase_) {
    case Phase::kRunning:
      received_.append(text);
      receivedAtMs_.push_back(SinceClickMs());
      if (received_.size() > expected_.size() ||
          received_.last() != expected_[received_.size() - 1]) {
        Fail("wrong message");
      } else if (received_.size() == expected_.size()) {
        // Right so far: wait out a time-out that should have been stopped,
        // and late replies of the fault.
        phase_ = Phase::kLingering;
        deadline_.stop();
        const int lateMs =
            case_->lateUntilMs ? case_->lateUntilMs + kLateMarginMs - SinceClickMs() : 0;
        After(std::max(LingerMs(case_->action), lateMs), [this] { Complete(); });
      }
      return;
    case Phase::kLingering:
      received_.append(text);
      Fail("message after the final one");
      return;
    case Phase::kResyncing:
      return;  // the failed operation's remains, already counted
    case Phase::kBetween:
    case Phase::kPreparing:
    case Phase::kAtBarrier:
      ++soak_.totals().strayMessages;
      Report("message between operations", {text});
      return;
  }
}

void WindowDriver::Report(const char* what, const QStringList& got) {
  Totals& totals = soak_.totals();
  if (++totals.diagnostics > kMaxDiagnostics) return;
  std::printf("  window %d, operation %d (%s): %s; expected [%s], got [%s]\n", index_ + 1, done_,
              case_ ? case_->name : "-", what,
              expected_.join(QStringLiteral(" | ")).toUtf8().constData(),
              got.join(QStringLiteral(" | ")).toUtf8().constData());
  std::printf("    %s\n", Timeline().toUtf8().constData());
  std::fflush(stdout);
}

// The messages with their times and the window's trace since the click.
QString WindowDriver::Timeline() const {
  QStringList parts;
  for (std::size_t i = 0; i < receivedAtMs_.size() && i < std::size_t(received_.size()); ++i)
    parts.append(QStringLiteral("message at %1 ms").arg(receivedAtMs_[i]));
  parts.append(QStringLiteral("now %1 ms").arg(SinceClickMs()));
  const QStringList trace = window_.ui->Memo1->toPlainText().split(QLatin1Char('\n'));
  for (int i = std::max(traceAtClick_, int(trace.size()) - 12); i < trace.size(); ++i)
    parts.append(QStringLiteral("trace: ") + trace[i].left(90));
  return parts.join(QStringLiteral("\n    "));
}

void WindowDriver::Complete() {
  cut_.stop();
  Totals& totals = soak_.totals();
  ++done_;
  ++totals.operations;
  ++totals.perCase[case_ - kCases].runs;
  if (case_->action == Action::kConnect && case_->connectedAfter) ++totals.cycles;
  const bool stateRight = PortOpen() == case_->connectedAfter;
  soak_.Progress();
  if (!stateRight) {
    ++totals.wrongState;
    ++totals.perCase[case_ - kCases].failures;
    Report(case_->connectedAfter ? "port closed afterwards" : "port open afterwards", received_);
    Resync();
    return;
  }
  connected_ = case_->connectedAfter;
  phase_ = Phase::kBetween;
  WithSimulator(
      [this] { After(std::uniform_int_distribution<int>(20, 200)(random_), [this] { Next(); }); });
}

void WindowDriver::Fail(const char* what) {
  deadline_.stop();
  cut_.stop();
  step_.stop();
  Totals& totals = soak_.totals();
  ++done_;
  ++totals.operations;
  ++totals.perCase[case_ - kCases].runs;
  ++totals.perCase[case_ - kCases].failures;
  if (QByteArray(what) == "hang")
    ++totals.hangs;
  else
    ++totals.wrongOperations;
  Report(what, received_);
  soak_.Progress();
  Resync();
}

// Back to a known state after a failure: disconnected, the simulator
// serving, and whatever the failed operation still had running come out.
void WindowDriver::Resync() {
  phase_ = Phase::kResyncing;
  if (PortOpen()) window_.ui->btnConn->click();
  After(kResyncQuietMs, [this] {
    connected_ = PortOpen();
    phase_ = Phase::kBetween;
    WithSimulator([this] { Next(); });
  });
}

void WindowDriver::WithSimulator(std::function<void()> then) {
  if (simulator_.Running()) {
    then();
    return;
  }
  // The adapter is plugged back in.
  simulator_.Start([this, then = std::move(then)](bool ok, const QString& detail) {
    if (ok)
      then();
    else
      soak_.HarnessFailure(detail);
  });
}

void WindowDriver::EnterBarrier() {
  phase_ = Phase::kAtBarrier;
  if (PortOpen()) window_.ui->btnConn->click();
  connected_ = false;
  // Lets the closed port's threads end before descriptors are counted.
  After(kBarrierQuietMs, [this] { soak_.ArriveAtBarrier(); });
}

double MiB(long kib) {
  return kib / 1024.0;
}

// The run's table in Markdown, ready for the README; true when every
// target is met.
bool PrintTable(const Options& options, const Totals& totals, const std::vector<Sample>& samples,
                double minutes) {
  const int wrong = totals.wrongOperations + totals.strayMessages + totals.unattributed;
  const Sample& start = samples.at(0);
  const Sample& tenth = samples.at(1);
  const Sample& end = samples.at(2);
  const long growthKiB = end.rssKiB - tenth.rssKiB;
  std::printf("\nPer case (runs / failed):\n");
  for (std::size_t i = 0; i < std::size(kCases); ++i)
    if (totals.perCase[i].runs)
      std::printf("  %-52s %4d / %d\n", kCases[i].name, totals.perCase[i].runs,
                  totals.perCase[i].failures);
  std::printf(
      "\n| bench_soak: %d windows, seed %u%s%s, %.1f min | |\n|---|---|\n"
      "| cycles (connections made) | %d |\n"
      "| operations | %d |\n"
      "| wrong or missing messages | %d (%d operations, %d between operations, %d for no window) "
      "|\n"
      "| hangs (no final message within the design window + 5 s) | %d |\n"
      "| wrong connection state after an operation | %d |\n"
      "| crashes | 0 (the run reached its end) |\n"
      "| open descriptors: start / 10 %% / end | %d / %d / %d |\n"
      "| RSS MiB: start / 10 %% / end | %.1f / %.1f / %.1f (%+.2f MiB from 10 %% to the end) |\n"
      "| lines on the debug pages: start / 10 %% / end | %d / %d / %d |\n",
      options.windows, options.seed, options.unplug ? "" : ", --no-unplug",
      options.chinese ? ", Chinese" : "", minutes, totals.cycles, totals.operations, wrong,
      totals.wrongOperations, totals.strayMessages, totals.unattributed, totals.hangs,
      totals.wrongState, start.descriptors, tenth.descriptors, end.descriptors, MiB(start.rssKiB),
      MiB(tenth.rssKiB), MiB(end.rssKiB), MiB(growthKiB), start.traceLines, tenth.traceLines,
      end.traceLines);
  std::fflush(stdout);
  return totals.operations >= options.operations && wrong == 0 && totals.hangs == 0 &&
         totals.wrongState == 0 && tenth.descriptors == end.descriptors &&
         start.descriptors == end.descriptors && growthKiB <= 1024;
}

// The language database and files of the build's program folder, so that
// the windows start as the program does.
void CopyProgramData(const QString& folder) {
  QDir().mkpath(folder + QStringLiteral("/sys"));
  for (const char* name : {"sys/QNdata.adt", "LangCHN.MUL", "LangENU.MUL"})
    QFile::copy(QStringLiteral(PROGRAM_DIR "/") + QLatin1String(name),
                folder + QLatin1Char('/') + QLatin1String(name));
}

int RunWorker(int argc, char** argv, const Options& options) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TrackingApplication application(argc, argv);
  QTemporaryDir folder;
  CopyProgramData(folder.path());
  platform::SetProgramFolder(folder.path());

  Totals totals;
  Soak soak(options, application, totals);
  SoakDialogs dialogs(soak);
  ui::InstallDialogs(&dialogs);

  std::vector<std::unique_ptr<SoakSimulator>> simulators;
  int ready = 0;
  bool failed = false;
  for (int i = 0; i < options.windows; ++i) {
    simulators.push_back(
        std::make_unique<SoakSimulator>(QStringLiteral(CONVSIM_EXE), folder.path(), i + 1));
    simulators.back()->Start([&](bool ok, const QString& detail) {
      ++ready;
      if (!ok) {
        failed = true;
        std::fprintf(stderr, "bench_soak: %s\n", detail.toLocal8Bit().constData());
      }
    });
  }
  while (ready < options.windows) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (failed) return 2;

  TfrmDM dataModule;
  frmDM->LangCode = options.chinese ? QStringLiteral("chn") : QStringLiteral("enu");
  std::vector<std::unique_ptr<TfrmMain>> windows;
  const int perWindow = (options.operations + options.windows - 1) / options.windows;
  for (int i = 0; i < options.windows; ++i) {
    windows.push_back(std::make_unique<TfrmMain>());
    windows.back()->ui->cbxPort->setCurrentText(QStringLiteral("COM%1").arg(i + 1));
    if (options.traceLines > 0) windows.back()->ui->Memo1->setMaximumBlockCount(options.traceLines);
    // The driver is a child of its window.
    auto* driver = new WindowDriver(soak, *windows.back(), *simulators[i], i,
                                    options.seed * 7919u + static_cast<unsigned>(i), perWindow);
    soak.Add(*windows.back(), *driver);
  }
  frmDM->LangCode = options.chinese ? QStringLiteral("chn") : QStringLiteral("enu");

  std::printf("bench_soak: %d windows x %d operations, seed %u%s (repeat with --seed %u)\n",
              options.windows, perWindow, options.seed,
              options.unplug ? "" : ", without the unplug cases", options.seed);
  std::fflush(stdout);
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer::singleShot(0, [&] { soak.Start(); });
  const int status = QCoreApplication::exec();
  if (status != 0) return status;

  const bool met = PrintTable(options, totals, soak.samples(), elapsed.elapsed() / 60000.0);
  ui::InstallDialogs(nullptr);
  windows.clear();
  platform::SetProgramFolder(QString());
  return met ? 0 : 1;
}

// Runs the windows in a child process: a crash there is reported here.
int Supervise(int argc, char** argv, const Options& options) {
  QCoreApplication application(argc, argv);
  QStringList arguments = application.arguments().mid(1);
  arguments.append(QStringLiteral("--worker"));
  QProcess worker;
  worker.setProcessChannelMode(QProcess::ForwardedChannels);
  // Stopping the benchmark stops the worker, and with it the simulators.
  worker.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  worker.start(QCoreApplication::applicationFilePath(), arguments);
  // A run takes about 4 s per operation and window; far beyond that the
  // worker is stuck.
  const int limitMs =
      120000 + 20000 * ((options.operations + options.windows - 1) / options.windows);
  if (!worker.waitForStarted()) {
    std::fprintf(stderr, "bench_soak: cannot start the worker\n");
    return 2;
  }
  if (!worker.waitForFinished(limitMs)) {
    worker.kill();
    worker.waitForFinished();
    std::printf("| hangs | the worker stopped making progress and was killed after %d s |\n",
                limitMs / 1000);
    return 1;
  }
  if (worker.exitStatus() == QProcess::CrashExit) {
    std::printf("| crashes | 1: the worker crashed (signal %d); figures above are up to then |\n",
                worker.exitCode());
    return 1;
  }
  return worker.exitCode();
}

}  // namespace
}  // namespace soak

int main(int argc, char** argv) {
  soak::Options options;
  if (!soak::ParseOptions(argc, argv, options)) return 2;
  return options.worker ? soak::RunWorker(argc, argv, options)
                        : soak::Supervise(argc, argv, options);
}
