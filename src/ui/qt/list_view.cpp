#include "ui/qt/list_view.h"

#include <QEvent>
#include <QHeaderView>
#include <algorithm>
#include <climits>

namespace kav::ui::qt {

ListModel::ListModel(const QStringList& titles, QObject* parent)
    : QAbstractTableModel(parent), titles_(titles), columns_(std::max<int>(1, static_cast<int>(titles.size()))) {}

int ListModel::append_row() {
  const int row = rows_;
  insertRows(row, 1);
  return row;
}

void ListModel::drop_oldest(int count) { removeRows(0, std::min(count, rows_)); }

bool ListModel::set_text(int row, int column, const QString& text) {
  if (!exists(row, column)) return false;
  QString& cell = cells_[static_cast<std::size_t>(at(row, column))];
  if (cell == text) return true;
  cell = text;
  const QModelIndex changed = index(row, column);
  Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
  return true;
}

QString ListModel::text(int row, int column) const {
  return exists(row, column) ? cells_[static_cast<std::size_t>(at(row, column))] : QString();
}

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int ListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ListModel::data(const QModelIndex& index, int role) const {
  // The tool tip shows the whole text of a row wider than its column.
  if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !exists(index.row(), index.column())) return {};
  return cells_[static_cast<std::size_t>(at(index.row(), index.column()))];
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= titles_.size()) return {};
  return titles_.at(section);
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if ((role != Qt::EditRole && role != Qt::DisplayRole) || index.model() != this) return false;
  return set_text(index.row(), index.column(), value.toString());
}

bool ListModel::insertRows(int row, int count, const QModelIndex& parent) {
  if (parent.isValid() || row < 0 || row > rows_ || count <= 0 || count > INT_MAX - rows_) return false;
  beginInsertRows(QModelIndex(), row, row + count - 1);
  cells_.insert(cells_.begin() + at(row, 0), static_cast<std::size_t>(count) * static_cast<std::size_t>(columns_),
                QString());
  rows_ += count;
  endInsertRows();
  return true;
}

bool ListModel::removeRows(int row, int count, const QModelIndex& parent) {
  if (parent.isValid() || row < 0 || row > rows_ || count <= 0 || count > rows_ - row) return false;
  beginRemoveRows(QModelIndex(), row, row + count - 1);
  cells_.erase(cells_.begin() + at(row, 0), cells_.begin() + at(row + count, 0));
  rows_ -= count;
  endRemoveRows();
  return true;
}

// ---------------------------------------------------------------------------
// ListView

ListView::ListView(const QStringList& titles, QWidget* parent) : QTableView(parent), rows_(new ListModel(titles, this)) {
  setModel(rows_);
  setShowGrid(false);
  setWordWrap(false);
  setTabKeyNavigation(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  if (titles.isEmpty()) {
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);  // the one column fills the list
  }
  fit_rows_to_font();
}

void ListView::show_row(int row) {
  if (row < 0 || row >= rows_->rows()) return;
  // The scroll range follows added rows only at the next layout, which the
  // event loop would run later: run it now, so the scroll reaches the row.
  executeDelayedItemsLayout();
  scrollTo(rows_->index(row, 0));
}

int ListView::selected_row() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void ListView::select_row(int row) {
  if (row < 0 || row >= rows_->rows()) {
    clearSelection();
    return;
  }
  selectRow(row);
  show_row(row);
}

void ListView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange) fit_rows_to_font();
}

void ListView::fit_rows_to_font() {
  // As high as a line of a plain list: the text and a little room.
  const int height = fontMetrics().height() + 4;
  verticalHeader()->setMinimumSectionSize(height);
  verticalHeader()->setDefaultSectionSize(height);
}

}  // namespace kav::ui::qt
