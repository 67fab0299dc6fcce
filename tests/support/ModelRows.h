#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <initializer_list>

namespace testing_support {

// The rows of a table model from `first` on, each as the texts of `columns`
// joined by "|": "CMD_COM_SET|refused (0x21)|refused by the converter".
inline QStringList ModelRows(const QAbstractItemModel& model, std::initializer_list<int> columns,
                             int first = 0) {
  QStringList rows;
  for (int row = first; row < model.rowCount(); ++row) {
    QStringList cells;
    for (const int column : columns) cells.append(model.index(row, column).data().toString());
    rows.append(cells.join('|'));
  }
  return rows;
}

}  // namespace testing_support
