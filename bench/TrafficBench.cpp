// The traffic window under a flood: 1,000 frames a second for 10 seconds,
// each delivered to the window's thread as the serial component delivers a
// received block (posted from a worker thread, handled by Comm1ReceiveData),
// with the traffic window closed, open, and open showing problems only. The
// figure is the window thread's event-loop delay: how late a 10 ms repeating
// timer on that thread fires, at worst and at the 99th percentile.
//
//   bench_traffic [SECONDS]     (default 10)
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise (under Xvfb, say
// QT_QPA_PLATFORM=xcb to include the X server's drawing).
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "app/TrafficModel.h"
#include "app/TrafficRecorder.h"
#include "app/untMain.h"
#include "app/untMainForm.h"
#include "app/untTraffic.h"
#include "app/untTrafficForm.h"
#include "i18n/untDM.h"
#include "platform/ProgramFolder.h"
#include "protocol/Frame.h"
#include "protocol/Records.h"
#include "serial/Comm.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

namespace {

using namespace protocol;
using Clock = std::chrono::steady_clock;

constexpr int kFramesPerSecond = 1000;
constexpr int kProbeMs = 10;
constexpr double kTargetMs = 50.0;

// Every message box is answered at once.
class SilentDialogs final : public ui::DialogSeam {
 public:
  void ShowMessage(const QString&) override {}
  bool AskYesNo(const QString&) override { return false; }
  QString ChooseOpenFile(const ui::FileDialogRequest&) override { return {}; }
  QString ChooseSaveFile(const ui::FileDialogRequest&) override { return {}; }
};

// What a converter might send unasked: replies carrying each record, and
// now and then a few bytes of noise.
std::vector<std::vector<std::uint8_t>> SampleBlocks() {
  const auto block = [](const Frame& frame) {
    return std::vector<std::uint8_t>(frame.begin(), frame.end());
  };
  ComParams com;
  com.baudRate = 115200;
  com.dataBits = 8;
  com.parityCode = ComParams::kParityNone;
  com.stopBitsCode = ComParams::kStopBitsOne;
  std::vector<std::vector<std::uint8_t>> blocks = {
      block(BuildReplyFrame(CMD_COM_GET, FRAME_ACK, com.Encode())),
      block(BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, ConvtParams{}.Encode())),
      block(BuildReplyFrame(CMD_CAN_GET, FRAME_ACK, CanParams{}.Encode())),
      block(BuildReplyFrame(CMD_GET_VERSION, FRAME_ACK, VersionRecord{}.Encode())),
      block(BuildReplyFrame(CMD_COM_SET, FRAME_REFUSED)),
  };
  blocks.push_back({0x11, 0x22, 0x33, 0x44, 0x55});
  return blocks;
}

struct Figures {
  int frames = 0;
  std::size_t rowsHeld = 0;
  int rowsShown = -1;  // -1: no window
  double worstMs = 0;
  double p99Ms = 0;
  double medianMs = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[at];
}

// Floods `window` for `seconds` (no frames when `flood` is false) while a
// 10 ms timer on the window's thread measures how late it fires.
Figures Run(TfrmMain& window, int seconds, bool flood) {
  const auto blocks = SampleBlocks();
  const int total = flood ? seconds * kFramesPerSecond : 0;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    const auto start = Clock::now();
    for (int i = 0; i < total; ++i) {
      std::this_thread::sleep_until(start +
                                    std::chrono::microseconds(1000000LL * i / kFramesPerSecond));
      const auto& bytes = blocks[static_cast<std::size_t>(i) % blocks.size()];
      QMetaObject::invokeMethod(
          &window,
          [&window, bytes] {
            window.Comm1ReceiveData(window.Comm1, bytes.data(),
                                    static_cast<std::uint16_t>(bytes.size()));
          },
          Qt::QueuedConnection);
    }
    if (!flood) std::this_thread::sleep_for(std::chrono::seconds(seconds));
    done = true;
  });

  std::vector<double> lateMs;
  QElapsedTimer clock;
  clock.start();
  qint64 last = clock.nsecsElapsed();
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(kProbeMs);
  QEventLoop loop;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    lateMs.push_back(std::max(0.0, (now - last) / 1e6 - kProbeMs));
    last = now;
    if (done) loop.quit();
  });
  probe.start();
  loop.exec();
  probe.stop();
  sender.join();
  // What is still queued, and the view's last catch-up.
  QEventLoop drain;
  QTimer::singleShot(300, &drain, &QEventLoop::quit);
  drain.exec();

  Figures figures;
  figures.frames = total;
  figures.rowsHeld = window.Traffic->Store().Size();
  if (window.frmTraffic) figures.rowsShown = window.frmTraffic->Filter->rowCount();
  figures.worstMs = lateMs.empty() ? 0 : *std::max_element(lateMs.begin(), lateMs.end());
  figures.p99Ms = Percentile(lateMs, 0.99);
  figures.medianMs = Percentile(lateMs, 0.5);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ui::Application application(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

  QTemporaryDir folder;
  platform::SetProgramFolder(folder.path());
  SilentDialogs dialogs;
  ui::InstallDialogs(&dialogs);
  TfrmDM dataModule;
  TfrmMain window;
  frmDM->LangCode = QStringLiteral("enu");
  window.show();

  struct Scenario {
    const char* name;
    bool flood;
    std::function<void()> prepare;
  };
  const std::vector<Scenario> scenarios = {
      {"idle, traffic window open", false, [&] { window.ui->mnuTraffic->trigger(); }},
      {"traffic window closed", true,
       [&] {
         window.frmTraffic->close();
         QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
       }},
      {"traffic window open, all rows", true,
       [&] {
         window.Traffic->Clear();
         window.ui->mnuTraffic->trigger();
       }},
      {"traffic window open, problems only", true,
       [&] {
         window.Traffic->Clear();
         window.frmTraffic->ui->chkProblemsOnly->setChecked(true);
       }},
  };

  std::printf(
      "Traffic at %d frames/s for %d s, one frame per delivery to the window's thread:\n"
      "how late a %d ms timer on that thread fires (target: %.0f ms or less)\n",
      kFramesPerSecond, seconds, kProbeMs, kTargetMs);
  std::printf("%-36s %7s %9s %9s %10s %9s %9s\n", "scenario", "frames", "rows held", "rows shown",
              "worst ms", "p99 ms", "median ms");
  bool withinTarget = true;
  for (const Scenario& scenario : scenarios) {
    scenario.prepare();
    QCoreApplication::processEvents();
    const Figures f = Run(window, scenario.flood ? seconds : std::min(seconds, 3), scenario.flood);
    std::printf("%-36s %7d %9zu %9s %10.1f %9.1f %9.1f\n", scenario.name, f.frames, f.rowsHeld,
                f.rowsShown < 0 ? "-" : std::to_string(f.rowsShown).c_str(), f.worstMs, f.p99Ms,
                f.medianMs);
    std::fflush(stdout);
    withinTarget = withinTarget && f.worstMs <= kTargetMs;
  }
  ui::InstallDialogs(nullptr);
  platform::SetProgramFolder(QString());
  return withinTarget ? 0 : 1;
}
