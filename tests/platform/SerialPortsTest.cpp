// The serial device list, what each COM number stands for, who holds a port,
// and the reasons an open failure gives, against a fake device list, a fake
// /proc and real pseudo-terminals.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include "platform/CommPort.h"
#include "platform/PortHolders.h"
#include "platform/PortLock.h"
#include "platform/PortReason.h"
#include "platform/SerialDevices.h"
#include "support/ComLink.h"
#include "support/CommPseudoTerminal.h"
#include "support/HolderProcess.h"

namespace {

using namespace platform;
using testing_support::LinkCom;

class FakeSource final : public SerialDeviceSource {
 public:
  std::vector<SerialDevice> Enumerate() override { return devices; }
  int MonitorFd() const override { return -1; }
  bool TakeEvents() override { return false; }
  std::vector<SerialDevice> devices;
};

SerialDevice Ftdi(const std::string& path) {
  return {path, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "", ""};
}

TEST(SerialDevices, DescriptionsAndTheBuiltInPortRule) {
  struct Case {
    SerialDevice device;
    bool present;
    const char* text;
  } cases[] = {
      {Ftdi("/dev/ttyUSB0"), true, "ttyUSB0 · FT232R USB UART · A50285BI"},
      {{"/dev/ttyACM0", "2341", "0043", "Arduino (www.arduino.cc)", "", "", "", ""},
       true,
       "ttyACM0 · Arduino (www.arduino.cc)"},
      {{"/dev/ttyUSB1", "1a86", "7523", "", "", "", "", ""}, true, "ttyUSB1 · 1a86:7523"},
      {{"/dev/ttyS0", "", "", "", "", "", "", "4"}, true, "ttyS0"},
      {{"/dev/ttyS1", "", "", "", "", "", "", "0"}, false, "ttyS1 · no UART"},
      {{"/dev/ttyS2", "", "", "", "", "", "", ""}, false, "ttyS2 · no UART"},
      {{"/dev/ttyAMA0", "", "", "", "", "", "", ""}, true, "ttyAMA0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPresent(c.device), c.present) << c.device.path;
    EXPECT_EQ(DescribeDevice(c.device), c.text);
  }
}

// A program folder with sys/ports, a /dev with ttyS0 (a UART), ttyS1 (none),
// ttyUSB0 and ttyACM0, and links: com5 to ttyUSB0, com7 to a live pty, com9
// to a path that is gone.
class PortCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_);
    QDir(program_.path()).mkpath("sys/ports");
    for (const char* name : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0"}) {
      QFile file(dev_.path() + "/" + name);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    source_.devices = {{Dev("ttyS0"), "", "", "", "", "", "", "4"},
                       {Dev("ttyS1"), "", "", "", "", "", "", "0"},
                       Ftdi(Dev("ttyUSB0")),
                       {Dev("ttyACM0"), "2341", "0043", "Arduino", "Uno", "", "", ""}};
    Link(5, Dev("ttyUSB0"));
    Link(7, pty_->SlavePath());
    Link(9, dev_.path().toStdString() + "/gone");
    catalog_.Refresh();
  }
  void Link(int number, const std::string& target) {
    ASSERT_FALSE(LinkCom(Folder(), number, target).empty());
  }
  std::string Dev(const char* name) const { return dev_.path().toStdString() + "/" + name; }
  std::string Folder() const { return program_.path().toStdString(); }
  PortEnvironment Env() { return {Folder(), dev_.path().toStdString(), "/proc", &source_}; }

  QTemporaryDir program_, dev_;
  std::unique_ptr<CommPseudoTerminal> pty_ = CommPseudoTerminal::Create();
  FakeSource source_;
  SerialPortCatalog catalog_{source_, Folder(), dev_.path().toStdString()};
};

TEST_F(PortCatalogTest, EachNumberShowsWhatTheOpenWouldUse) {
  // Links to what exists but is no terminal: present it is not.
  ASSERT_EQ(mkfifo(Dev("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(QDir(dev_.path()).mkdir("folder"));
  Link(10, "/dev/null");
  Link(11, Dev("fifo"));
  Link(12, Dev("folder"));
  Link(13, Dev("ttyUSB0"));  // a plain file here, but the system lists it
  struct Case {
    int number;
    bool present;
    std::string description;
  } cases[] = {
      {1, true, "ttyS0"},  // the Wine order: ttyS*, then ttyUSB*, then ttyACM*
      {2, false, "ttyS1 · no UART"},
      {3, true, "ttyUSB0 · FT232R USB UART · A50285BI"},
      {4, true, "ttyACM0 · Uno"},
      {5, true, "sys/ports/com5 → ttyUSB0 · FT232R USB UART · A50285BI"},
      {6, false, ""},
      {7, true, "sys/ports/com7 → " + pty_->SlavePath()},
      {9, false, "sys/ports/com9 → " + dev_.path().toStdString() + "/gone · missing"},
      {10, false, "sys/ports/com10 → /dev/null · not a serial port"},
      {11, false, "sys/ports/com11 → " + Dev("fifo") + " · not a serial port"},
      {12, false, "sys/ports/com12 → " + Dev("folder") + " · not a serial port"},
      {13, true, "sys/ports/com13 → ttyUSB0 · FT232R USB UART · A50285BI"},
      {255, false, ""},
  };
  const std::vector<ComPortInfo> all = catalog_.ResolveAll();
  ASSERT_EQ(all.size(), 255u);
  for (const Case& c : cases) {
    const ComPortInfo& info = all[c.number - 1];
    EXPECT_EQ(info.number, c.number);
    EXPECT_EQ(info.present, c.present) << "COM" << c.number;
    EXPECT_EQ(info.description, c.description) << "COM" << c.number;
  }
  EXPECT_EQ(catalog_.PresentNumbers(), (std::vector<int>{1, 3, 4, 5, 7, 13}));
  EXPECT_EQ(all[6].node.path, pty_->SlavePath());  // what the number leads to
  EXPECT_EQ(all[4].node.product, "FT232R USB UART");
}

TEST_F(PortCatalogTest, HotPlugChangesTheListOnRefresh) {
  source_.devices.push_back(Ftdi(Dev("ttyUSB1")));
  QFile(QString::fromStdString(Dev("ttyUSB1"))).open(QIODevice::WriteOnly);
  catalog_.Refresh();
  EXPECT_EQ(catalog_.Resolve(4).description, "ttyUSB1 · FT232R USB UART · A50285BI");
  EXPECT_EQ(catalog_.Resolve(5).description,
            "sys/ports/com5 → ttyUSB0 · FT232R USB UART · A50285BI");

  source_.devices.erase(source_.devices.begin() + 2);  // ttyUSB0 unplugged
  ASSERT_EQ(unlink(Dev("ttyUSB0").c_str()), 0);
  catalog_.Refresh();
  const ComPortInfo linked = catalog_.Resolve(5);
  EXPECT_FALSE(linked.present);
  EXPECT_EQ(linked.description, "sys/ports/com5 → " + Dev("ttyUSB0") + " · missing");
  // The Wine order stops each family at its first gap: ttyUSB1 has no number now.
  EXPECT_EQ(catalog_.Resolve(3).description, "ttyACM0 · Uno");
}

TEST_F(PortCatalogTest, ReasonsNameTheDeviceAndWhatToDo) {
  QFile plain(program_.path() + "/notes.txt");
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  const std::string plainPath = plain.fileName().toStdString();
  const std::string pty = pty_->SlavePath();
  struct Case {
    std::string port;
    CommError kind;
    const char* lang;
    std::string text;
  } cases[] = {
      {"COM6", CommError::NoSuchDevice, "enu",
       "No device takes COM6. Present: COM1, COM3, COM4, COM5, COM7."},
      {"\\\\.\\COM6", CommError::NoSuchDevice, "chn",
       "没有设备对应 COM6。现有的端口：COM1, COM3, COM4, COM5, COM7。"},
      {"COM9", CommError::NoSuchDevice, "enu",
       "COM9 (sys/ports/com9 → " + dev_.path().toStdString() + "/gone): nothing is there."},
      {"COM2", CommError::HangUp, "enu", "COM2 (" + Dev("ttyS1") + "): nothing is there."},
      {"COM7", CommError::InUse, "enu",
       "COM7 (sys/ports/com7 → " + pty + ") is in use by another program."},
      {pty, CommError::InUse, "chn", pty + " 正被另一个程序占用。"},
      {plainPath, CommError::NotACommHandle, "enu", plainPath + " is not a serial device."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OpenFailureReason(c.port, c.kind, 0, c.lang, Env()), c.text);

  source_.devices[0].uartType = "0";
  EXPECT_EQ(OpenFailureReason("COM6", CommError::NoSuchDevice, ENOENT, "enu", Env()),
            "No device takes COM6. Present: COM3, COM4, COM5, COM7.");
}

TEST_F(PortCatalogTest, PermissionReasonNamesTheGroupThatOwnsTheNode) {
  // Any group other than our own shows that the name comes from the node.
  const std::string node = Dev("ttyUSB0");
  gid_t gid = getegid();
  for (const char* name : {"dialout", "uucp", "tty"})
    if (const group* g = getgrnam(name); g && geteuid() == 0) {
      gid = g->gr_gid;
      break;
    }
  ASSERT_EQ(chown(node.c_str(), static_cast<uid_t>(-1), gid), 0);
  const std::string groupName = getgrgid(gid)->gr_name;
  const std::string command = "sudo usermod -aG " + groupName + " $USER";

  const std::string english =
      OpenFailureReason("COM3", CommError::AccessDenied, EACCES, "enu", Env());
  EXPECT_EQ(english, "You may not open COM3 (" + node + "): the device belongs to the group " +
                         groupName + ". Join the group with\n    " + command +
                         "\nthen log out and log in again.");
  const std::string chinese =
      OpenFailureReason("COM3", CommError::AccessDenied, EACCES, "chn", Env());
  EXPECT_NE(chinese.find("属于 " + groupName + " 组"), std::string::npos) << chinese;
  EXPECT_NE(chinese.find(command), std::string::npos) << chinese;
}

// ---------------------------------------------------------------- holders

class FakeProc {
 public:
  void Process(int pid, const char* name, const std::vector<std::pair<int, std::string>>& fds,
               int masterIndex = -1) {
    const QString dir = root_.path() + "/" + QString::number(pid);
    QDir().mkpath(dir + "/fd");
    QDir().mkpath(dir + "/fdinfo");
    QFile comm(dir + "/comm");
    ASSERT_TRUE(comm.open(QIODevice::WriteOnly));
    comm.write(QByteArray(name) + "\n");
    for (const auto& [fd, target] : fds) {
      const QString link = dir + "/fd/" + QString::number(fd);
      ASSERT_EQ(symlink(target.c_str(), link.toLocal8Bit().constData()), 0);
      if (target == "/dev/ptmx") {
        QFile info(dir + "/fdinfo/" + QString::number(fd));
        ASSERT_TRUE(info.open(QIODevice::WriteOnly));
        info.write("pos:\t0\ntty-index:\t" + QByteArray::number(masterIndex) + "\n");
      }
    }
  }
  std::string Root() const { return root_.path().toStdString(); }

 private:
  QTemporaryDir root_;
};

int PtyIndex(const std::string& slavePath) {
  return std::stoi(slavePath.substr(slavePath.rfind('/') + 1));
}

TEST(PortHolders, OthersHoldingTheDeviceAreFoundButNotUsNorThePtyFarEnd) {
  auto pty = CommPseudoTerminal::Create();
  ASSERT_TRUE(pty);
  const std::string slave = pty->SlavePath();
  FakeProc proc;
  proc.Process(4242, "minicom", {{0, "/dev/null"}, {3, slave}, {4, "socket:[1234]"}});
  proc.Process(4343, "convsim", {{3, "/dev/ptmx"}, {4, slave}}, PtyIndex(slave));
  proc.Process(4444, "other-pty", {{3, "/dev/ptmx"}, {4, slave}}, PtyIndex(slave) + 1);
  proc.Process(static_cast<int>(getpid()), "self", {{7, slave}});
  proc.Process(4545, "idle", {{0, "/dev/null"}});

  const std::vector<PortHolder> holders = FindPortHolders(slave, proc.Root());
  ASSERT_EQ(holders.size(), 2u);
  std::vector<std::pair<int, std::string>> seen;
  for (const PortHolder& h : holders) seen.emplace_back(h.pid, h.name);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen,
            (std::vector<std::pair<int, std::string>>{{4242, "minicom"}, {4444, "other-pty"}}));
  EXPECT_TRUE(FindPortHolders("/nonexistent/tty", proc.Root()).empty());
}

// A real process that opened the port earlier, without any lock: the open
// refuses the port as in use and the reason names the process.
TEST(PortHolders, OpenRefusesAPortAnotherProcessHasOpen) {
  auto pty = CommPseudoTerminal::Create();
  ASSERT_TRUE(pty);
  std::optional<testing_support::HolderProcess> holder(std::in_place, pty->SlavePath());
  ASSERT_GT(holder->Pid(), 0);
  const pid_t child = holder->Pid();

  CommErrorInfo error;
  auto port = CommPort::Open(pty->SlavePath(), &error);
  EXPECT_FALSE(port);
  EXPECT_EQ(error.code, CommError::InUse);
  EXPECT_EQ(OpenFailureReason(pty->SlavePath(), error.code, error.sysErrno, "enu"),
            pty->SlavePath() + " is in use by sleep (process " + std::to_string(child) + ").");

  holder.reset();
  port = CommPort::Open(pty->SlavePath(), &error);
  EXPECT_TRUE(port) << error.reason;
}

std::string LockText(int pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", pid);
  return text;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The id of a process that has ended.
int EndedPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return static_cast<int>(child);
}

TEST(PortLock, NamesFollowTheDevicesPath) {
  EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(LockFileName("/dev/pts/3"), "LCK..pts_3");
  EXPECT_EQ(LockFileName("/srv/tty/a"), "LCK..srv_tty_a");
}

// Another live process's lock file holds the port; ours, a dead process's
// and one without a number do not, and are taken over. What this process
// takes it alone removes.
TEST(PortLock, OthersLiveLocksHoldTheRestAreTakenOver) {
  QTemporaryDir locks;
  const std::string folder = locks.path().toStdString();
  auto pty = CommPseudoTerminal::Create();
  ASSERT_TRUE(pty);
  const std::string device = pty->SlavePath();
  const std::string file = folder + "/" + LockFileName(device);
  const int other = static_cast<int>(getppid());
  const auto put = [&file](const std::string& text) { std::ofstream(file) << text; };
  struct Case {
    const char* label;
    std::function<void()> make;
    std::optional<int> holder;
    PortLock::State state;
  };
  const Case cases[] = {
      {"none", [] {}, std::nullopt, PortLock::State::Held},
      {"another live process", [&] { put(LockText(other)); }, other, PortLock::State::HeldByOther},
      {"a process that ended", [&] { put(LockText(EndedPid())); }, std::nullopt,
       PortLock::State::Held},
      {"this process's own", [&] { put(LockText(getpid())); }, std::nullopt, PortLock::State::Held},
      {"no number", [&] { put("modem\n"); }, std::nullopt, PortLock::State::Held},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    std::remove(file.c_str());
    test.make();
    const std::string before = FileText(file);
    EXPECT_EQ(LockHolderPid(device, folder), test.holder);
    {
      PortLock lock(folder);
      EXPECT_EQ(lock.Acquire(device), test.state);
      if (test.state == PortLock::State::HeldByOther) {
        EXPECT_EQ(lock.OtherPid(), other);
        EXPECT_EQ(FileText(file), before);
      } else {
        EXPECT_EQ(FileText(file), LockText(getpid()));
      }
    }
    EXPECT_EQ(access(file.c_str(), F_OK) == 0, test.state == PortLock::State::HeldByOther);
  }

  // A lock that another program took over meanwhile is left to it.
  {
    PortLock lock(folder);
    std::remove(file.c_str());
    ASSERT_EQ(lock.Acquire(device), PortLock::State::Held);
    put(LockText(other));
  }
  EXPECT_EQ(FileText(file), LockText(other));

  PortLock nowhere(folder + "/missing");
  EXPECT_EQ(nowhere.Acquire(device), PortLock::State::Unavailable);
  EXPECT_NE(nowhere.Problem().find(folder + "/missing"), std::string::npos) << nowhere.Problem();
}

// A lock file's process is a holder of the port, listed once beside those
// that have it open; the link that leads to the device finds it too.
TEST(PortHolders, ALockFilesProcessHoldsThePort) {
  auto pty = CommPseudoTerminal::Create();
  ASSERT_TRUE(pty);
  const std::string slave = pty->SlavePath();
  QTemporaryDir locks;
  const std::string folder = locks.path().toStdString();
  const int other = static_cast<int>(getppid());
  std::ofstream(folder + "/" + LockFileName(slave)) << LockText(other);
  const std::string link = folder + "/com5";
  ASSERT_EQ(symlink(slave.c_str(), link.c_str()), 0);

  FakeProc proc;
  proc.Process(other, "station", {{0, "/dev/null"}});
  const auto holders =
      FindPortHoldersOfEach({slave, link, "/nonexistent/tty"}, proc.Root(), folder);
  ASSERT_EQ(holders.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(holders[i].size(), 1u);
    EXPECT_EQ(holders[i][0].pid, other);
    EXPECT_EQ(holders[i][0].name, "station");
  }
  EXPECT_TRUE(holders[2].empty());

  FakeProc holding;
  holding.Process(other, "station", {{3, slave}});
  EXPECT_EQ(FindPortHolders(slave, holding.Root(), folder).size(), 1u) << "listed once";
}

}  // namespace
