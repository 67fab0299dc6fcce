#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/TrafficFormat.h"
#include "protocol/TrafficRow.h"
#include "protocol/TrafficStore.h"

namespace app {

// The rows of a traffic store as a table, one model row per stored row, in
// the current language of the data module. The model follows the store only
// when asked (Refresh), so that a burst of rows costs one update of the view;
// rows that the store dropped in between read as empty until then.
class TrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The columns, in the order of a saved line (protocol::RowTextLine).
  enum Column {
    ColTime,
    ColDelta,  // milliseconds since the previous row
    ColDirection,
    ColCommand,
    ColStatus,
    ColLength,
    ColCrc,
    ColRecord,
    ColNote,  // why a frame was not accepted; a message's text
    ColBytes,
    ColumnCount
  };

  explicit TrafficModel(const protocol::TrafficStore& store, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The column titles: the design's, until a language pass sets others.
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

  // Catches up with the store: the rows it dropped or cleared leave at the
  // top, new rows come at the bottom. Does nothing while frozen.
  void Refresh();
  // Frozen, the model keeps the rows it shows (on a copy) while the store
  // goes on; thawed, it catches up at once.
  void SetFrozen(bool frozen);
  bool Frozen() const { return frozen_.has_value(); }
  // Every cell again, in the language of now.
  void Retranslate();

  // Model row `row`, or null when it has left the store.
  const protocol::TrafficRow* RowAt(int row) const;
  bool IsProblemRow(int row) const;
  // Model row `row` as a line of saved text (without its line end).
  QString RowLine(int row) const;

 private:
  const protocol::TrafficStore& Shown() const { return frozen_ ? *frozen_ : live_; }
  // The index in Shown() of the row `sequence` places after the first one
  // ever stored, if it is still held.
  std::optional<std::size_t> StoreIndex(std::uint64_t sequence) const;
  std::optional<protocol::TrafficTime> PreviousTime(std::uint64_t sequence) const;
  QString CellText(int row, int column) const;

  const protocol::TrafficStore& live_;
  std::optional<protocol::TrafficStore> frozen_;
  std::uint64_t first_ = 0;  // the sequence number of model row 0
  int count_ = 0;
  QStringList titles_;
  // The words of the row whose cells were asked for last, in its language.
  mutable std::uint64_t cachedSequence_ = UINT64_MAX;
  mutable std::string cachedLangCode_;
  mutable protocol::TrafficCells cachedCells_;
};

// The rows a traffic view shows: all, or only the problems (noise, refusals,
// rejected frames, frames not sent, time-outs and other failure messages).
class TrafficFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit TrafficFilter(TrafficModel* model, QObject* parent = nullptr);

  void SetProblemsOnly(bool problemsOnly);
  bool ProblemsOnly() const { return problemsOnly_; }

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  TrafficModel* model_;
  bool problemsOnly_ = false;
};

}  // namespace app
