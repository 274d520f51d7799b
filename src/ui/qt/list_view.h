// A form's list: its rows (ListModel) and the view that shows them (ListView).
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <QString>
#include <QStringList>
#include <deque>

namespace kav::ui::qt {

// A flat table of text cells, row after row in one deque. Adding a row at the
// end and dropping rows at the front tell the view exactly which rows came
// and went, so the view lays out no more than it must and keeps no item
// object per row. Rows can also be inserted, removed and given text through
// the model's standard interface (insertRows, removeRows, setData).
class ListModel final : public QAbstractTableModel {
 public:
  // One column per title; no titles: one column without a title.
  explicit ListModel(const QStringList& titles, QObject* parent = nullptr);

  int rows() const { return rows_; }
  int columns() const { return columns_; }

  // Adds an empty row at the end; returns its index.
  int append_row();
  // Removes the oldest `count` rows (all of them when fewer are there).
  void drop_oldest(int count);
  // False when the row or the column does not exist.
  bool set_text(int row, int column, const QString& text);
  QString text(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
  bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

 private:
  bool exists(int row, int column) const { return row >= 0 && row < rows_ && column >= 0 && column < columns_; }
  std::ptrdiff_t at(int row, int column) const {
    return static_cast<std::ptrdiff_t>(row) * columns_ + column;
  }

  QStringList titles_;
  int columns_;
  int rows_ = 0;
  std::deque<QString> cells_;  // row-major
};

// The list control: a table without grid or row headers, one row per line of
// the design's font, column titles and widths as designed (no titles: no
// header). A table view keeps no layout item per row, so adding a row costs
// the same whether the list holds ten rows or thousands.
class ListView final : public QTableView {
 public:
  ListView(const QStringList& titles, QWidget* parent);

  ListModel& rows() { return *rows_; }
  const ListModel& rows() const { return *rows_; }

  // Scrolls the list so that the row is visible, at once (rows just added
  // included); does nothing for a row that does not exist.
  void show_row(int row);
  // The selected row, or -1.
  int selected_row() const;
  // Selects the row (shown), or none for -1.
  void select_row(int row);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void fit_rows_to_font();

  ListModel* rows_;
};

}  // namespace kav::ui::qt
