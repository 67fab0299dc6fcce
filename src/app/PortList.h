#pragma once

// The port list as a Linux user sees it: cbxPort keeps its items "COM1" to
// "COM255", and each number that resolves to a device shows that device in a
// second, dimmed column (also the item's tooltip and accessible description);
// present ones are bold. Plugging or unplugging an adapter, or a link coming
// or going in sys/ports, updates the list at once (platform::PortWatch).

#include <QObject>
#include <QString>
#include <memory>
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
  // Selects the number of [Port] LastCom in sys/System.dt when it is present.
  void SelectLastConnected();
  // Keeps the selected number as [Port] LastCom.
  void RememberConnected();

  // The list attached to `combo`, or null.
  static PortList* Of(QComboBox* combo);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyInfo(int index, const platform::ComPortInfo& info);
  void UpdateComboToolTip();
  void FitPopupWidth();

  QComboBox* combo_;
  QObject* view_ = nullptr;  // the popup's list, compared only: it may be going
  std::unique_ptr<platform::SerialDeviceSource> source_;
  platform::SerialPortCatalog catalog_;
  std::unique_ptr<platform::PortWatch> watch_;  // after the source it reads
};

// The window's hooks: the list with the system's devices, the last connected
// number selected when present; a connect that succeeded; the reason a
// failed OpenPort of `comm` gives, for the message's second paragraph (empty
// when the last OpenPort did not fail).
void AttachPortList(QComboBox* combo);
void RememberConnectedPort(QComboBox* combo);
QString OpenFailureDetail(const TComm& comm);

}  // namespace app
