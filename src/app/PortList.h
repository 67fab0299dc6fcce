#pragma once

// The port list as a Linux user sees it: cbxPort keeps its items "COM1" to
// "COM255", and each number that resolves to a device shows that device in a
// second, dimmed column (also the item's tooltip and accessible description);
// present ones are bold. Plugging or unplugging an adapter, or a link coming
// or going in sys/ports, updates the list at once (platform::PortWatch).

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/PortWatch.h"
#include "platform/SerialDevices.h"

class QComboBox;
class TComm;

namespace app {

// Item data of cbxPort beyond the text: the description, and whether the
// device is present.
inline constexpr int kPortDescriptionRole = Qt::UserRole + 40;
inline constexpr int kPortPresentRole = Qt::UserRole + 41;

class PortList : public QObject {
 public:
  // Describes the items of `combo` from now on; a child of the combo.
  // `devFolder` is where the Wine order looks (tests give their own).
  PortList(QComboBox* combo, std::unique_ptr<platform::SerialDeviceSource> source,
           const std::string& devFolder = "/dev");
  ~PortList() override;

  // Enumerates the devices again and updates every item.
  void Refresh();
  // Refresh, then the names ("COM3") of the numbers whose device is present,
  // in the order of their numbers.
  std::vector<std::string> PresentPorts();
  // Selects the number of [Port] LastCom in sys/System.dt when it is present.
  void SelectLastConnected();
  // Keeps `com` ("COM7") as [Port] LastCom.
  void RememberConnected(const QString& com);

  // While a port is held (open or opening) the selection stays on it: a
  // change by any path (the popup, an accessibility action, the program) is
  // undone at once, and a disabled list does not open. An empty `com` lets
  // the selection go.
  void HoldSelection(const QString& com);
  QString HeldPort() const { return held_; }

  // The combo's tooltip again, in the current language.
  void UpdateComboToolTip();

  // The list attached to `combo`, or null.
  static PortList* Of(QComboBox* combo);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyInfo(int index, const platform::ComPortInfo& info);
  // True when the selection had left the held port and was put back.
  bool KeepHeldSelection();
  void FitPopupWidth();

  QComboBox* combo_;
  QObject* view_ = nullptr;  // the popup's list, compared only: it may be going
  std::unique_ptr<platform::SerialDeviceSource> source_;
  platform::SerialPortCatalog catalog_;
  QString held_;
  std::unique_ptr<platform::PortWatch> watch_;  // after the source it reads
};

// The window's hooks: the list with the system's devices, the last connected
// number selected when present; the port held open (empty: none); a connect
// to `com` that succeeded; the texts after a language change; the reason a
// failed OpenPort of `comm` gives, for the message's second paragraph (empty
// when the last OpenPort did not fail); the present ports, looked up afresh.
void AttachPortList(QComboBox* combo);
void HoldPortSelection(QComboBox* combo, const QString& com);
void RememberConnectedPort(QComboBox* combo, const QString& com);
void RetranslatePortList(QComboBox* combo);
QString OpenFailureDetail(const TComm& comm);
std::vector<std::string> PresentPortNames(QComboBox* combo);

}  // namespace app
