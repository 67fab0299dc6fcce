#include "app/PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "i18n/OperatorMessages.h"
#include "i18n/PublicFunction.h"
#include "i18n/untDM.h"
#include "platform/PortReason.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "serial/Comm.h"

namespace app {

namespace {

const QString kPortSection = QStringLiteral("Port");
const QString kLastComKey = QStringLiteral("LastCom");
constexpr int kColumnGap = 16;

// The item's text as usual, then its description dimmed in a second column.
class PortItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QString description = index.data(kPortDescriptionRole).toString();
    if (description.isEmpty()) return;
    QRect area = option.rect;
    area.setLeft(area.left() + TextColumnWidth(option));
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Selected ? QPalette::Active : QPalette::Disabled;
    const QPalette::ColorRole role =
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(group, role));
    painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(description, Qt::ElideRight, area.width()));
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString description = index.data(kPortDescriptionRole).toString();
    if (!description.isEmpty())
      size.setWidth(TextColumnWidth(option) + option.fontMetrics.horizontalAdvance(description) +
                    kColumnGap);
    return size;
  }

 private:
  // Wide enough for the widest number in bold. Kept for the last font: the
  // popup's width asks for it once per item.
  int TextColumnWidth(const QStyleOptionViewItem& option) const {
    if (columnWidth_ < 0 || columnFont_ != option.font) {
      columnFont_ = option.font;
      QFont bold = option.font;
      bold.setBold(true);
      columnWidth_ =
          QFontMetrics(bold).horizontalAdvance(QStringLiteral("COM255")) + 2 * kColumnGap;
    }
    return columnWidth_;
  }

  mutable QFont columnFont_;
  mutable int columnWidth_ = -1;
};

int ComNumberOf(const QString& itemText) {
  return itemText.mid(3).toInt();
}

}  // namespace

PortList::PortList(QComboBox* combo, std::unique_ptr<platform::SerialDeviceSource> source,
                   const std::string& devFolder)
    : QObject(combo),
      combo_(combo),
      source_(std::move(source)),
      catalog_(*source_, platform::ProgramFolder().toStdString(), devFolder) {
  setObjectName(QStringLiteral("PortList"));
  combo_->setItemDelegate(new PortItemDelegate(combo_));
  view_ = combo_->view();
  view_->installEventFilter(this);
  connect(combo_, &QComboBox::currentIndexChanged, this, [this] {
    if (!KeepHeldSelection()) UpdateComboToolTip();
  });
  watch_ = std::make_unique<platform::PortWatch>(*source_, platform::ProgramFolder(),
                                                 [this] { Refresh(); });
  Refresh();
}

PortList::~PortList() = default;

PortList* PortList::Of(QComboBox* combo) {
  return combo ? combo->findChild<PortList*>(QStringLiteral("PortList"), Qt::FindDirectChildrenOnly)
               : nullptr;
}

bool PortList::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched == view_) {
    // An accessibility action opens the popup of a disabled list too; it
    // closes again before anything can be picked in it.
    if (!combo_->isEnabled()) {
      QMetaObject::invokeMethod(combo_, &QComboBox::hidePopup, Qt::QueuedConnection);
      return QObject::eventFilter(watched, event);
    }
    // A pty can vanish without its link going: look again whenever the list opens.
    Refresh();
  }
  return QObject::eventFilter(watched, event);
}

void PortList::HoldSelection(const QString& com) {
  held_ = com;
  KeepHeldSelection();
}

bool PortList::KeepHeldSelection() {
  if (held_.isEmpty() || combo_->currentText() == held_) return false;
  // Emits the change again, which updates the tooltip for the held port.
  combo_->setCurrentIndex(combo_->findText(held_));
  return true;
}

void PortList::Refresh() {
  catalog_.Refresh();
  // Resolved all at once: the numbers past the end of the Wine order cost
  // no probes of the disk.
  const std::vector<platform::ComPortInfo> all = catalog_.ResolveAll();
  for (int index = 0; index < combo_->count(); ++index) {
    const int number = ComNumberOf(combo_->itemText(index));
    if (number >= 1 && number <= int(all.size())) ApplyInfo(index, all[size_t(number) - 1]);
  }
  FitPopupWidth();
  UpdateComboToolTip();
}

std::vector<std::string> PortList::PresentPorts() {
  Refresh();
  std::vector<std::string> ports;
  for (const int number : catalog_.PresentNumbers())
    ports.push_back("COM" + std::to_string(number));
  return ports;
}

void PortList::ApplyInfo(int index, const platform::ComPortInfo& info) {
  const QString description = QString::fromStdString(info.description);
  const QVariant known = combo_->itemData(index, kPortDescriptionRole);
  // A number never described that resolves to nothing reads as it would
  // described: no description, not present, no tooltip, the combo's font.
  // Most of the 255 are such at start.
  if (!known.isValid() && description.isEmpty() && !info.present) return;
  if (known.isValid() && known.toString() == description &&
      combo_->itemData(index, kPortPresentRole).toBool() == info.present)
    return;
  QFont font = combo_->font();
  font.setBold(info.present);
  const QMap<int, QVariant> roles{
      {kPortDescriptionRole, description},
      {kPortPresentRole, info.present},
      {Qt::ToolTipRole, description.isEmpty() ? QVariant() : QVariant(description)},
      {Qt::AccessibleDescriptionRole, description},
      {Qt::FontRole, info.present ? QVariant(font) : QVariant()}};
  // One change for the item, not one per role: each change makes the combo
  // and its view update.
  const QModelIndex item =
      combo_->model()->index(index, combo_->modelColumn(), combo_->rootModelIndex());
  if (!combo_->model()->setItemData(item, roles))
    for (auto role = roles.cbegin(); role != roles.cend(); ++role)
      combo_->setItemData(index, role.value(), role.key());
}

void PortList::FitPopupWidth() {
  int widest = 0;
  QStyleOptionViewItem option;
  option.initFrom(combo_->view());
  for (int index = 0; index < combo_->count(); ++index)
    widest = std::max(
        widest, combo_->itemDelegate()->sizeHint(option, combo_->model()->index(index, 0)).width());
  // Room for the scroll bar and the frame.
  combo_->view()->setMinimumWidth(widest + 2 * kColumnGap);
}

void PortList::UpdateComboToolTip() {
  const int index = combo_->currentIndex();
  if (index < 0) return;
  const QString description = combo_->itemData(index, kPortDescriptionRole).toString();
  combo_->setToolTip(combo_->itemText(index) + QStringLiteral(" \u00b7 ") +
                     (description.isEmpty() ? MsgText(messages::Msg::NoDevice) : description));
}

void PortList::SelectLastConnected() {
  const platform::ProfileFile settings(platform::ProgramPath(QStringLiteral("sys/System.dt")));
  const QString last = settings.ReadString(kPortSection, kLastComKey, QString()).toUpper();
  const int index = combo_->findText(last);
  if (index >= 0 && combo_->itemData(index, kPortPresentRole).toBool())
    combo_->setCurrentIndex(index);
}

void PortList::RememberConnected(const QString& com) {
  const platform::ProfileFile settings(platform::ProgramPath(QStringLiteral("sys/System.dt")));
  // A durable write costs a flush to the disk; the same number again needs none.
  if (settings.ReadString(kPortSection, kLastComKey, QString()) == com) return;
  try {
    settings.WriteString(kPortSection, kLastComKey, com);
  } catch (const platform::EProfileWriteError& e) {
    WriteErrorLog(e.Text() + QStringLiteral(": ") + e.Reason());
  }
}

void AttachPortList(QComboBox* combo) {
  auto* list = new PortList(combo, platform::MakeUdevDeviceSource());
  list->SelectLastConnected();
}

void HoldPortSelection(QComboBox* combo, const QString& com) {
  if (PortList* list = PortList::Of(combo)) list->HoldSelection(com);
}

void RememberConnectedPort(QComboBox* combo, const QString& com) {
  if (PortList* list = PortList::Of(combo)) list->RememberConnected(com);
}

void RetranslatePortList(QComboBox* combo) {
  if (PortList* list = PortList::Of(combo)) list->UpdateComboToolTip();
}

std::vector<std::string> PresentPortNames(QComboBox* combo) {
  PortList* list = PortList::Of(combo);
  return list ? list->PresentPorts() : std::vector<std::string>();
}

QString OpenFailureDetail(const TComm& comm) {
  const platform::CommErrorInfo error = comm.LastOpenError();
  if (comm.PortOpen() || error.code == platform::CommError::None) return {};
  const std::string langCode = frmDM ? frmDM->LangCode.toStdString() : std::string();
  return QString::fromStdString(platform::OpenFailureReason(comm.CommName().toStdString(),
                                                            error.code, error.sysErrno, langCode));
}

}  // namespace app
