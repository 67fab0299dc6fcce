#include "app/TrafficModel.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>
#include <algorithm>

#include "i18n/untDM.h"
#include "protocol/TrafficFormat.h"

namespace app {
namespace {

using protocol::TrafficRow;

// The design's column titles; a language pass replaces them.
QStringList DesignTitles() {
  return {QStringLiteral("时间"), QStringLiteral("间隔(ms)"), QStringLiteral("方向"),
          QStringLiteral("命令"), QStringLiteral("状态"),     QStringLiteral("长度"),
          QStringLiteral("CRC"),  QStringLiteral("记录"),     QStringLiteral("说明"),
          QStringLiteral("字节")};
}

std::string LangCode() {
  return frmDM ? frmDM->LangCode.toStdString() : std::string();
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const std::string& CellOf(const protocol::TrafficCells& cells, int column) {
  switch (column) {
    case TrafficModel::ColDirection:
      return cells.direction;
    case TrafficModel::ColCommand:
      return cells.command;
    case TrafficModel::ColStatus:
      return cells.status;
    case TrafficModel::ColLength:
      return cells.length;
    case TrafficModel::ColCrc:
      return cells.crc;
    case TrafficModel::ColRecord:
      return cells.record;
    case TrafficModel::ColNote:
      return cells.note;
    default:
      return cells.bytes;
  }
}

}  // namespace

TrafficModel::TrafficModel(const protocol::TrafficStore& store, QObject* parent)
    : QAbstractTableModel(parent), live_(store), titles_(DesignTitles()) {
  first_ = live_.Appended() - live_.Size();
  count_ = static_cast<int>(live_.Size());
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count_;
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

std::optional<std::size_t> TrafficModel::StoreIndex(std::uint64_t sequence) const {
  const protocol::TrafficStore& store = Shown();
  const std::uint64_t held = store.Appended() - store.Size();
  if (sequence < held || sequence >= store.Appended()) return std::nullopt;
  return static_cast<std::size_t>(sequence - held);
}

const TrafficRow* TrafficModel::RowAt(int row) const {
  if (row < 0 || row >= count_) return nullptr;
  const auto index = StoreIndex(first_ + static_cast<std::uint64_t>(row));
  return index ? &Shown().At(*index) : nullptr;
}

std::optional<protocol::TrafficTime> TrafficModel::PreviousTime(std::uint64_t sequence) const {
  if (sequence == 0) return std::nullopt;
  const auto index = StoreIndex(sequence - 1);
  if (!index) return std::nullopt;
  return Shown().At(*index).time;
}

bool TrafficModel::IsProblemRow(int row) const {
  const TrafficRow* stored = RowAt(row);
  return stored && protocol::IsProblem(*stored);
}

QString TrafficModel::RowLine(int row) const {
  const TrafficRow* stored = RowAt(row);
  if (!stored) return QString();
  return FromUtf8(protocol::RowTextLine(
      *stored, PreviousTime(first_ + static_cast<std::uint64_t>(row)), LangCode()));
}

QString TrafficModel::CellText(int row, int column) const {
  const TrafficRow* stored = RowAt(row);
  if (!stored) return QString();
  const std::uint64_t sequence = first_ + static_cast<std::uint64_t>(row);
  if (column == ColTime) return QString::fromLatin1(protocol::ClockText(stored->time));
  if (column == ColDelta) {
    const auto previous = PreviousTime(sequence);
    return previous ? QString::fromLatin1(protocol::DeltaText(*previous, stored->time)) : QString();
  }
  // A view asks for the cells of one row one after the other: the row's
  // words are made once.
  const std::string langCode = LangCode();
  if (sequence != cachedSequence_ || langCode != cachedLangCode_) {
    cachedCells_ = protocol::RowCells(*stored, langCode);
    cachedSequence_ = sequence;
    cachedLangCode_ = langCode;
  }
  return FromUtf8(CellOf(cachedCells_, column));
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_ || index.column() >= ColumnCount) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return CellText(index.row(), column);
    case Qt::ToolTipRole: {
      // A cell cut by its column is read whole in its tip.
      const QString text = CellText(index.row(), column);
      return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Qt::ForegroundRole:
      if (IsProblemRow(index.row())) return QBrush(QColor(0xA0, 0x00, 0x00));
      return {};
    case Qt::FontRole:
      if (column == ColBytes) return QFontDatabase::systemFont(QFontDatabase::FixedFont);
      return {};
    case Qt::TextAlignmentRole:
      if (column == ColDelta || column == ColLength)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::EditRole)
    return titles_[section];
  return {};
}

bool TrafficModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                 int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return false;
  if (role != Qt::EditRole && role != Qt::DisplayRole) return false;
  titles_[section] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

void TrafficModel::Refresh() {
  if (frozen_) return;
  const std::uint64_t end = live_.Appended();
  const std::uint64_t held = end - live_.Size();
  const std::uint64_t shownEnd = first_ + static_cast<std::uint64_t>(count_);
  const std::uint64_t leaving =
      std::min(held, shownEnd) > first_ ? std::min(held, shownEnd) - first_ : 0;
  if (leaving > 0) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(leaving) - 1);
    first_ += leaving;
    count_ -= static_cast<int>(leaving);
    endRemoveRows();
  }
  if (count_ == 0) first_ = held;
  const std::uint64_t arriving = end - (first_ + static_cast<std::uint64_t>(count_));
  if (arriving > 0) {
    beginInsertRows(QModelIndex(), count_, count_ + static_cast<int>(arriving) - 1);
    count_ += static_cast<int>(arriving);
    endInsertRows();
  }
}

void TrafficModel::SetFrozen(bool frozen) {
  if (frozen == Frozen()) return;
  if (frozen) {
    // The copy holds exactly the rows shown once the model has caught up.
    Refresh();
    frozen_.emplace(live_);
    return;
  }
  frozen_.reset();
  Refresh();
}

void TrafficModel::Retranslate() {
  if (count_ > 0) emit dataChanged(index(0, 0), index(count_ - 1, ColumnCount - 1));
}

TrafficFilter::TrafficFilter(TrafficModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), model_(model) {
  setSourceModel(model);
}

void TrafficFilter::SetProblemsOnly(bool problemsOnly) {
  if (problemsOnly == problemsOnly_) return;
  problemsOnly_ = problemsOnly;
  invalidateFilter();
}

bool TrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex& /*sourceParent*/) const {
  return !problemsOnly_ || model_->IsProblemRow(sourceRow);
}

}  // namespace app
