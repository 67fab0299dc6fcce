// Serial transport figures on pseudo-terminals: TComm against Qt Serial Port
// and libserialport, the same workload through each in one run.
//   throughput of a 16 MiB stream and CPU per MiB on the receiving side,
//   latency from one 29-byte write to the receive callback,
//   CPU used over 10 s with the port open and idle.
// Prints one table with each figure's ratio to the best peer.
#include <fcntl.h>
#include <libserialport.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/Comm.h"
#include "support/CommPseudoTerminal.h"

// libserialport refuses a pty outright: its open and configuration calls
// read the modem lines (TIOCMGET), which a pty does not have. While the
// harness makes those calls for it, modem-line requests that the driver
// answers with ENOTTY are answered "no lines" instead. Everything else, and
// every call outside those moments (TComm's and Qt's included), goes to the
// kernel unchanged.
namespace {
thread_local bool answerModemLinesForPeer = false;
}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  const long result = syscall(SYS_ioctl, fd, request, argument);
  const bool modemRequest =
      request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
  if (result < 0 && errno == ENOTTY && answerModemLinesForPeer && modemRequest) {
    if (request == TIOCMGET) *static_cast<int*>(argument) = 0;
    return 0;
  }
  return static_cast<int>(result);
}

namespace {

constexpr size_t kStreamBytes = 16u << 20;
constexpr size_t kFrameBytes = 29;
constexpr int kLatencySamples = 40;
constexpr int kIdleMs = 10000;
constexpr int kRounds = 5;

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}
double ProcessCpu() {
  return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
double Now() {
  return CpuSeconds(CLOCK_MONOTONIC);
}

struct Figures {
  double mibPerSecond = 0;
  double cpuMsPerMib = 0;       // the receiving side: process CPU less the writer thread
  double loopCpuMsPerMib = 0;   // of which the thread that runs the caller's loop
  double totalCpuMsPerMib = 0;  // the whole process, writer included
  double latencyMs = 0;         // median
  double idleCpuPercent = 0;
};

// The end of the line the benchmark writes into.
class FarSide {
 public:
  virtual ~FarSide() = default;
  virtual bool Write(const void* data, size_t size) = 0;
};

class PtyMasterFarSide : public FarSide {
 public:
  explicit PtyMasterFarSide(platform::CommPseudoTerminal& pty) : pty_(pty) {}
  bool Write(const void* data, size_t size) override { return pty_.Write(data, size); }

 private:
  platform::CommPseudoTerminal& pty_;
};

// The slave of a pty whose master a peer opened itself (raw, like the master
// of CommPseudoTerminal).
class PtySlaveFarSide : public FarSide {
 public:
  explicit PtySlaveFarSide(int masterFd) {
    char name[128];
    if (grantpt(masterFd) != 0 || unlockpt(masterFd) != 0 ||
        ptsname_r(masterFd, name, sizeof name) != 0)
      return;
    fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~PtySlaveFarSide() override {
    if (fd_ >= 0) close(fd_);
  }
  bool Valid() const { return fd_ >= 0; }
  bool Write(const void* data, size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd_, bytes, size);
      if (n > 0) {
        bytes += n;
        size -= static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 1000);
      } else if (!(n < 0 && errno == EINTR)) {
        return false;
      }
    }
    return true;
  }

 private:
  int fd_ = -1;
};

// A receiver under test: opens its end, counts bytes, calls back on arrival.
class Receiver {
 public:
  virtual ~Receiver() = default;
  virtual std::string Name() const = 0;
  // Opens the receiving end and returns the far side to write into.
  virtual std::unique_ptr<FarSide> Open() = 0;
  virtual void Close() = 0;
  // Runs the caller's loop until `done` holds (bytes arrive through OnBytes).
  virtual void RunUntil(const std::function<bool()>& done) = 0;
  // Lets time pass the way the receiver's caller would: an event loop keeps
  // running, a blocking reader simply waits.
  virtual void Pause(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
  }
  std::atomic<size_t> received{0};
  std::atomic<double> lastArrival{0};
  void OnBytes(size_t n) {
    lastArrival = Now();
    received += n;
  }
};

// Event-loop receivers (TComm, QSerialPort) deliver on this thread.
void RunEventLoopUntil(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

class TCommReceiver : public Receiver {
 public:
  std::string Name() const override { return "TComm"; }
  std::unique_ptr<FarSide> Open() override {
    pty_ = platform::CommPseudoTerminal::Create();
    if (!pty_) return nullptr;
    comm_ = std::make_unique<TComm>();
    comm_->SetCommName(QString::fromStdString(pty_->SlavePath()));
    comm_->SetBaudRate(115200);
    comm_->SetOutx_CtsFlow(false);
    comm_->SetOutx_DsrFlow(false);
    comm_->OnReceiveData = [this](TComm*, const uint8_t*, uint16_t n) { OnBytes(n); };
    try {
      comm_->OpenPort();
    } catch (const ECommsError& e) {
      std::fprintf(stderr, "TComm: %s\n", e.what());
      return nullptr;
    }
    return std::make_unique<PtyMasterFarSide>(*pty_);
  }
  void Close() override {
    comm_.reset();
    pty_.reset();
  }
  void RunUntil(const std::function<bool()>& done) override { RunEventLoopUntil(done); }

 private:
  std::unique_ptr<platform::CommPseudoTerminal> pty_;
  std::unique_ptr<TComm> comm_;
};

class QtReceiver : public Receiver {
 public:
  std::string Name() const override { return "Qt Serial Port"; }
  std::unique_ptr<FarSide> Open() override {
    pty_ = platform::CommPseudoTerminal::Create();
    if (!pty_) return nullptr;
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromStdString(pty_->SlavePath()));
    QObject::connect(port_.get(), &QSerialPort::readyRead, [this] {
      const QByteArray bytes = port_->readAll();
      OnBytes(static_cast<size_t>(bytes.size()));
    });
    if (!port_->open(QIODevice::ReadWrite)) {
      std::fprintf(stderr, "Qt: %s\n", port_->errorString().toLocal8Bit().constData());
      return nullptr;
    }
    port_->setBaudRate(115200);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    return std::make_unique<PtyMasterFarSide>(*pty_);
  }
  void Close() override {
    port_.reset();
    pty_.reset();
  }
  void RunUntil(const std::function<bool()>& done) override { RunEventLoopUntil(done); }

 private:
  std::unique_ptr<platform::CommPseudoTerminal> pty_;
  std::unique_ptr<QSerialPort> port_;
};

// libserialport has no event loop: a thread waits for input and reads it.
// It only opens devices listed in sysfs, which pty slaves are not; so it
// opens /dev/ptmx (a fresh pty master) and the benchmark writes into that
// pty's slave. The bytes go through the same line discipline either way.
class LibSerialPortReceiver : public Receiver {
 public:
  std::string Name() const override { return "libserialport"; }
  std::unique_ptr<FarSide> Open() override {
    answerModemLinesForPeer = true;
    std::unique_ptr<FarSide> far = OpenAndConfigure();
    answerModemLinesForPeer = false;
    return far;
  }
  std::unique_ptr<FarSide> OpenAndConfigure() {
    stop_ = false;
    if (sp_get_port_by_name("/dev/ptmx", &port_) != SP_OK ||
        sp_open(port_, SP_MODE_READ_WRITE) != SP_OK) {
      std::fprintf(stderr, "libserialport: %s\n", sp_last_error_message());
      return nullptr;
    }
    sp_set_baudrate(port_, 115200);
    sp_set_bits(port_, 8);
    sp_set_parity(port_, SP_PARITY_NONE);
    sp_set_stopbits(port_, 1);
    sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE);
    sp_set_xon_xoff(port_, SP_XONXOFF_DISABLED);
    sp_new_event_set(&events_);
    sp_add_port_events(events_, port_, SP_EVENT_RX_READY);
    int fd = -1;
    sp_get_port_handle(port_, &fd);
    auto far = std::make_unique<PtySlaveFarSide>(fd);
    if (!far->Valid()) return nullptr;
    reader_ = std::thread([this] { Read(); });
    return far;
  }
  void Close() override {}
  void Pause(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  // The reader wakes for the far side's last byte and sees the stop flag.
  void Stop(FarSide& far) {
    stop_ = true;
    const char wake = 0;
    far.Write(&wake, 1);
    reader_.join();
    sp_free_event_set(events_);
    sp_close(port_);
    sp_free_port(port_);
  }
  void RunUntil(const std::function<bool()>& done) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, done);
  }

 private:
  void Read() {
    std::vector<char> buffer(65536);
    while (!stop_) {
      if (const sp_return r = sp_wait(events_, 0); r != SP_OK) {
        std::fprintf(stderr, "libserialport: wait failed (%d): %s\n", r, sp_last_error_message());
        break;
      }
      const int n = sp_nonblocking_read(port_, buffer.data(), buffer.size());
      if (n < 0) {
        std::fprintf(stderr, "libserialport: read failed (%d): %s\n", n, sp_last_error_message());
        break;
      }
      if (n > 0 && !stop_) {
        std::lock_guard<std::mutex> lock(mutex_);
        OnBytes(static_cast<size_t>(n));
        changed_.notify_all();
      }
    }
  }
  sp_port* port_ = nullptr;
  sp_event_set* events_ = nullptr;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
};

void MeasureThroughput(Receiver& receiver, FarSide& pty, Figures& f) {
  std::vector<uint8_t> chunk(65536);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 31 + 7);
  receiver.received = 0;
  double writerCpu = 0;
  const double loop0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const double cpu0 = ProcessCpu(), t0 = Now();
  std::thread writer([&] {
    for (size_t sent = 0; sent < kStreamBytes; sent += chunk.size())
      if (!pty.Write(chunk.data(), chunk.size())) break;
    writerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  });
  receiver.RunUntil([&] { return receiver.received >= kStreamBytes; });
  const double t1 = receiver.lastArrival;
  writer.join();
  const double total = ProcessCpu() - cpu0;
  const double loop = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - loop0;
  const double mib = kStreamBytes / double(1 << 20);
  f.mibPerSecond = mib / (t1 - t0);
  f.cpuMsPerMib = (total - writerCpu) * 1000 / mib;
  f.totalCpuMsPerMib = total * 1000 / mib;
  f.loopCpuMsPerMib = loop * 1000 / mib;
}

void MeasureLatency(Receiver& receiver, FarSide& pty, Figures& f) {
  std::vector<double> samples;
  uint8_t frame[kFrameBytes];
  for (size_t i = 0; i < kFrameBytes; ++i) frame[i] = static_cast<uint8_t>(0x7F + i);
  for (int i = 0; i < kLatencySamples; ++i) {
    receiver.received = 0;
    const double t0 = Now();
    pty.Write(frame, sizeof frame);
    receiver.RunUntil([&] { return receiver.received >= kFrameBytes; });
    samples.push_back((receiver.lastArrival - t0) * 1000);
    // A pause between frames, so that each one starts on a quiet line.
    receiver.Pause(20);
  }
  std::sort(samples.begin(), samples.end());
  f.latencyMs = samples[samples.size() / 2];
}

void MeasureIdle(Receiver& receiver, Figures& f) {
  const double cpu0 = ProcessCpu(), t0 = Now();
  receiver.Pause(kIdleMs);
  f.idleCpuPercent = (ProcessCpu() - cpu0) / (Now() - t0) * 100;
}

// One open port of a receiver, for one phase of the measurements.
bool WithOpenPort(Receiver& receiver, const std::function<void(FarSide&)>& phase) {
  std::unique_ptr<FarSide> far = receiver.Open();
  if (!far) return false;
  phase(*far);
  if (auto* lsp = dynamic_cast<LibSerialPortReceiver*>(&receiver)) lsp->Stop(*far);
  receiver.Close();
  return true;
}

bool MeasureStreamAndLatency(Receiver& receiver, Figures& f) {
  return WithOpenPort(receiver, [&](FarSide& far) {
    MeasureThroughput(receiver, far, f);
    // Let the tail of the stream drain before timing single frames.
    receiver.Pause(200);
    MeasureLatency(receiver, far, f);
  });
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Ratio(double value, double best) {
  if (best <= 0) return value <= 0 ? "1.00x" : "inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", value / best);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TCommReceiver tcomm;
  QtReceiver qt;
  LibSerialPortReceiver lsp;
  Receiver* receivers[] = {&tcomm, &qt, &lsp};
  Figures figures[3];
  // Arguments name the receivers to measure ("TComm Qt", for profiling or a
  // quicker comparison; the full table needs all three); --rounds N sets the
  // number of rounds.
  int rounds = kRounds;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      only.push_back(argv[i]);
  }
  auto selected = [&](int i) {
    return only.empty() || std::any_of(only.begin(), only.end(), [&](const std::string& name) {
             return receivers[i]->Name().find(name) != std::string::npos;
           });
  };
  // The machine may be shared: the stream and latency figures are the
  // medians of several rounds that take turns between the receivers.
  std::vector<Figures> measured[3];
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < 3; ++i) {
      if (!selected(i)) continue;
      std::fprintf(stderr, "round %d: %s\n", round + 1, receivers[i]->Name().c_str());
      Figures f;
      if (!MeasureStreamAndLatency(*receivers[i], f)) {
        std::fprintf(stderr, "%s could not be measured\n", receivers[i]->Name().c_str());
        return 1;
      }
      measured[i].push_back(f);
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (!selected(i)) continue;
    std::vector<double> mib, cpu, loopCpu, totalCpu, latency;
    for (const Figures& f : measured[i]) {
      mib.push_back(f.mibPerSecond);
      cpu.push_back(f.cpuMsPerMib);
      loopCpu.push_back(f.loopCpuMsPerMib);
      totalCpu.push_back(f.totalCpuMsPerMib);
      latency.push_back(f.latencyMs);
    }
    figures[i].mibPerSecond = Median(mib);
    figures[i].cpuMsPerMib = Median(cpu);
    figures[i].loopCpuMsPerMib = Median(loopCpu);
    figures[i].totalCpuMsPerMib = Median(totalCpu);
    figures[i].latencyMs = Median(latency);
    std::fprintf(stderr, "%s: idle %d s...\n", receivers[i]->Name().c_str(), kIdleMs / 1000);
    WithOpenPort(*receivers[i], [&](FarSide&) { MeasureIdle(*receivers[i], figures[i]); });
  }
  // TComm against Qt Serial Port round by round: the two streams of a round
  // ran back to back, so the ratio of each pair sees much the same load, and
  // its median is steadier than the ratio of the two medians.
  std::string pairedRatio;
  if (selected(0) && selected(1)) {
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round)
      ratios.push_back(measured[0][round].cpuMsPerMib / measured[1][round].cpuMsPerMib);
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx", Median(ratios));
    pairedRatio = text;
  }
  if (!only.empty()) {
    for (int i = 0; i < 3; ++i) {
      if (!selected(i)) continue;
      const Figures& f = figures[i];
      std::printf(
          "%s: %.1f MiB/s, %.2f CPU ms/MiB (%.2f on the loop's thread), latency %.3f ms, idle "
          "CPU %.4f %%\n",
          receivers[i]->Name().c_str(), f.mibPerSecond, f.cpuMsPerMib, f.loopCpuMsPerMib,
          f.latencyMs, f.idleCpuPercent);
    }
    if (!pairedRatio.empty())
      std::printf("TComm rx CPU per MiB to Qt Serial Port's, median of the rounds' pairs: %s\n",
                  pairedRatio.c_str());
    return 0;
  }
  // Best peer per figure: highest throughput, lowest of the others.
  const Figures& q = figures[1];
  const Figures& l = figures[2];
  Figures best;
  best.mibPerSecond = std::max(q.mibPerSecond, l.mibPerSecond);
  best.cpuMsPerMib = std::min(q.cpuMsPerMib, l.cpuMsPerMib);
  best.totalCpuMsPerMib = std::min(q.totalCpuMsPerMib, l.totalCpuMsPerMib);
  best.latencyMs = std::min(q.latencyMs, l.latencyMs);
  best.idleCpuPercent = std::min(q.idleCpuPercent, l.idleCpuPercent);
  std::printf(
      "Serial transport on a pseudo-terminal: medians of %d rounds of a 16 MiB stream and %d "
      "29-byte frames; %d s idle\n",
      rounds, kLatencySamples, kIdleMs / 1000);
  std::printf("%-16s %16s %18s %18s %18s %16s\n", "", "MiB/s", "rx CPU ms/MiB", "all CPU ms/MiB",
              "latency ms (med)", "idle CPU %");
  for (int i = 0; i < 3; ++i) {
    const Figures& f = figures[i];
    char a[64], b[64], b2[64], c[64], d[64];
    std::snprintf(a, sizeof a, "%.1f (%s)", f.mibPerSecond,
                  Ratio(f.mibPerSecond, best.mibPerSecond).c_str());
    std::snprintf(b, sizeof b, "%.2f (%s)", f.cpuMsPerMib,
                  Ratio(f.cpuMsPerMib, best.cpuMsPerMib).c_str());
    std::snprintf(b2, sizeof b2, "%.2f (%s)", f.totalCpuMsPerMib,
                  Ratio(f.totalCpuMsPerMib, best.totalCpuMsPerMib).c_str());
    std::snprintf(c, sizeof c, "%.3f (%s)", f.latencyMs,
                  Ratio(f.latencyMs, best.latencyMs).c_str());
    std::snprintf(d, sizeof d, "%.4f (%s)", f.idleCpuPercent,
                  Ratio(f.idleCpuPercent, best.idleCpuPercent).c_str());
    std::printf("%-16s %16s %18s %18s %18s %16s\n", receivers[i]->Name().c_str(), a, b, b2, c, d);
  }
  std::printf("TComm latency beyond its 10 ms read interval: %.3f ms (median)\n",
              figures[0].latencyMs - 10.0);
  std::printf("TComm rx CPU per MiB to Qt Serial Port's, median of the rounds' pairs: %s\n",
              pairedRatio.c_str());
  std::printf(
      "Ratios are to the best of Qt Serial Port and libserialport for each figure. rx CPU: the\n"
      "process less the writer thread; all CPU: the whole process, writer included.\n");
  return 0;
}
