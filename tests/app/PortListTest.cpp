// The port list's wiring: descriptions in the item roles, hot-plug events
// from the monitor's descriptor, links coming and going in sys/ports, and
// the last connected number, against a fake device list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QTemporaryDir>
#include <QTest>

#include "app/PortList.h"
#include "platform/ProfileFile.h"
#include "support/ComLink.h"
#include "support/TempProgramFolder.h"

namespace {

using testing_support::LinkCom;
using testing_support::TempProgramFolder;

// A device list whose changes are announced through a pipe, as udev's
// monitor announces them through its socket.
class FakeSource final : public platform::SerialDeviceSource {
 public:
  FakeSource(std::vector<platform::SerialDevice>* devices) : devices_(devices) {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~FakeSource() override {
    close(fds_[0]);
    close(fds_[1]);
  }
  std::vector<platform::SerialDevice> Enumerate() override { return *devices_; }
  int MonitorFd() const override { return fds_[0]; }
  bool TakeEvents() override {
    char byte;
    return read(fds_[0], &byte, 1) == 1;
  }
  int writeFd() const { return fds_[1]; }

 private:
  std::vector<platform::SerialDevice>* devices_;
  int fds_[2];
};

constexpr int kWaitMs = 10000;  // generous: the events arrive at once

class PortListTest : public ::testing::Test {
 protected:
  PortListTest() {
    QDir(folder_.path()).mkpath("sys/ports");
    for (int n = 1; n <= 255; ++n) combo_.addItem(QStringLiteral("COM%1").arg(n));
    usb_ = Dev("ttyUSB0");
    Plug();
    Link(5, usb_);
  }

  std::string Dev(const char* name) const { return dev_.path().toStdString() + "/" + name; }
  void Link(int n, const std::string& target) {
    ASSERT_FALSE(LinkCom(folder_.path().toStdString(), n, target).empty());
  }
  void Plug() {
    QFile node(QString::fromStdString(usb_));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    devices_ = {{usb_, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "", ""}};
  }
  void Unplug() {
    devices_.clear();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(usb_)));
  }
  void Announce(FakeSource* source) { ASSERT_EQ(write(source->writeFd(), "x", 1), 1); }
  app::PortList* Attach() {
    auto source = std::make_unique<FakeSource>(&devices_);
    source_ = source.get();
    return new app::PortList(&combo_, std::move(source), dev_.path().toStdString());
  }
  QString Tip(int n) const { return combo_.itemData(n - 1, Qt::ToolTipRole).toString(); }

  TempProgramFolder folder_;
  QTemporaryDir dev_;
  QComboBox combo_;
  std::string usb_;
  std::vector<platform::SerialDevice> devices_;
  FakeSource* source_ = nullptr;
};

TEST_F(PortListTest, ItemsCarryTheirDeviceForTooltipsAndScreenReaders) {
  Attach();
  ASSERT_EQ(combo_.count(), 255);
  const QString usb = QStringLiteral("ttyUSB0 · FT232R USB UART · A50285BI");
  const struct {
    int number;
    QString description;
    bool present;
  } rows[] = {
      {1, usb, true},  // the Wine order's first device
      {2, QString(), false},
      {5, QStringLiteral("sys/ports/com5 → ") + usb, true},
  };
  for (const auto& row : rows) {
    const int i = row.number - 1;
    EXPECT_EQ(combo_.itemText(i), QStringLiteral("COM%1").arg(row.number));
    EXPECT_EQ(combo_.itemData(i, app::kPortDescriptionRole).toString(), row.description);
    EXPECT_EQ(combo_.itemData(i, Qt::AccessibleDescriptionRole).toString(), row.description);
    EXPECT_EQ(Tip(row.number), row.description);
    EXPECT_EQ(combo_.itemData(i, Qt::FontRole).value<QFont>().bold(), row.present);
  }
  EXPECT_EQ(combo_.toolTip(), QStringLiteral("COM1 · ") + usb);
  combo_.setCurrentIndex(1);
  EXPECT_EQ(combo_.toolTip(), QStringLiteral("COM2 · no device"));
  EXPECT_GT(combo_.view()->minimumWidth(), combo_.fontMetrics().horizontalAdvance(usb));
}

TEST_F(PortListTest, HotPlugEventsAndLinksUpdateTheList) {
  Attach();
  const QString usb = QStringLiteral("ttyUSB0 · FT232R USB UART · A50285BI");
  const QString gone = QStringLiteral("sys/ports/com5 → ") + QString::fromStdString(usb_) +
                       QStringLiteral(" · missing");
  Unplug();
  Announce(source_);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Tip(5) == gone; }, kWaitMs)) << Tip(5).toStdString();
  EXPECT_EQ(Tip(1), QString());
  EXPECT_FALSE(combo_.itemData(4, app::kPortPresentRole).toBool());

  Plug();
  Announce(source_);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Tip(1) == usb; }, kWaitMs)) << Tip(1).toStdString();
  EXPECT_TRUE(combo_.itemData(4, app::kPortPresentRole).toBool());

  // A link made or removed by hand (or by the simulator) shows without an event.
  Link(9, usb_);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Tip(9).isEmpty(); }, kWaitMs));
  ASSERT_TRUE(QFile::remove(folder_.file(QStringLiteral("sys/ports/com9"))));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Tip(9).isEmpty(); }, kWaitMs));
}

TEST_F(PortListTest, StartsAtTheLastConnectedNumberWhenItIsPresent) {
  const platform::ProfileFile settings(folder_.file(QStringLiteral("sys/System.dt")));
  app::PortList* list = Attach();
  list->RememberConnected(QStringLiteral("COM5"));
  EXPECT_EQ(settings.ReadString(QStringLiteral("Port"), QStringLiteral("LastCom"), QString()),
            QStringLiteral("COM5"));

  combo_.setCurrentIndex(0);
  list->SelectLastConnected();
  EXPECT_EQ(combo_.currentText(), QStringLiteral("COM5"));

  combo_.setCurrentIndex(0);
  Unplug();
  list->Refresh();
  list->SelectLastConnected();
  EXPECT_EQ(combo_.currentText(), QStringLiteral("COM1"));
}

}  // namespace
