// The list control's rows and view: what the view is told when rows come and
// go (it lays out only from those notices), cells that stay in their rows
// and columns, and rows that fit the design's font.
#include "ui/qt/list_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <climits>
#include <string>
#include <vector>

namespace kav::ui::qt {
namespace {

using ::testing::ElementsAre;

// The notices a model sends: "insert:first-last", "remove:first-last" and
// "text:row,column-row,column".
class Notices {
 public:
  explicit Notices(ListModel& model) {
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex& parent, int a, int b) {
      seen.push_back((parent.isValid() ? "child-insert:" : "insert:") + std::to_string(a) + "-" + std::to_string(b));
    });
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex& parent, int a, int b) {
      seen.push_back((parent.isValid() ? "child-remove:" : "remove:") + std::to_string(a) + "-" + std::to_string(b));
    });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [this](const QModelIndex& a, const QModelIndex& b) {
      seen.push_back("text:" + std::to_string(a.row()) + "," + std::to_string(a.column()) + "-" +
                     std::to_string(b.row()) + "," + std::to_string(b.column()));
    });
  }
  std::vector<std::string> seen;
};

std::vector<QString> column(const ListModel& model, int c) {
  std::vector<QString> out;
  for (int r = 0; r < model.rows(); ++r) out.push_back(model.index(r, c).data().toString());
  return out;
}

TEST(ListModelTest, RowsComeAtTheEndAndLeaveAtTheFrontWithExactNotices) {
  ListModel model({"A", "B"});
  Notices notices(model);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(model.append_row(), i);
    EXPECT_TRUE(model.set_text(i, 0, QString::number(i)));
    EXPECT_TRUE(model.set_text(i, 1, QStringLiteral("b%1").arg(i)));
  }
  EXPECT_TRUE(model.set_text(4, 1, QStringLiteral("b4")));  // unchanged: no notice
  model.drop_oldest(2);
  EXPECT_EQ(model.append_row(), 3);

  EXPECT_THAT(std::vector<std::string>(notices.seen.begin(), notices.seen.begin() + 3),
              ElementsAre("insert:0-0", "text:0,0-0,0", "text:0,1-0,1"));
  EXPECT_THAT(std::vector<std::string>(notices.seen.end() - 2, notices.seen.end()),
              ElementsAre("remove:0-1", "insert:3-3"));
  EXPECT_EQ(notices.seen.size(), 5u * 3 + 2);
  // The cells moved up with their rows, each column by itself.
  EXPECT_THAT(column(model, 0), ElementsAre("2", "3", "4", ""));
  EXPECT_THAT(column(model, 1), ElementsAre("b2", "b3", "b4", ""));
  EXPECT_EQ(model.text(2, 1), QStringLiteral("b4"));

  // Dropping more rows than there are empties the list, once.
  model.drop_oldest(10);
  EXPECT_EQ(model.rows(), 0);
  EXPECT_EQ(notices.seen.back(), "remove:0-3");
  model.drop_oldest(1);
  EXPECT_EQ(notices.seen.back(), "remove:0-3");
}

TEST(ListModelTest, RowsAndColumnsThatDoNotExistChangeNothing) {
  ListModel model({});
  EXPECT_EQ(model.columns(), 1);
  model.append_row();
  Notices notices(model);
  EXPECT_FALSE(model.set_text(1, 0, "x"));
  EXPECT_FALSE(model.set_text(-1, 0, "x"));
  EXPECT_FALSE(model.set_text(0, 1, "x"));
  EXPECT_FALSE(model.removeRows(0, 2));
  EXPECT_FALSE(model.removeRows(1, 1));
  EXPECT_FALSE(model.removeRows(0, 1, model.index(0, 0)));  // rows have no children
  EXPECT_FALSE(model.insertRows(2, 1));
  EXPECT_FALSE(model.insertRows(0, 1, model.index(0, 0)));
  EXPECT_FALSE(model.insertRows(1, INT_MAX));
  EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);
  EXPECT_EQ(model.text(5, 0), QString());
  EXPECT_TRUE(notices.seen.empty());
  EXPECT_EQ(model.rows(), 1);
  EXPECT_FALSE(model.headerData(0, Qt::Horizontal).isValid());
}

// Through the model's standard interface (as any view or tool may use it),
// rows go in and out anywhere and keep their cells.
TEST(ListModelTest, StandardInterfaceInsertsAndRemovesAnywhere) {
  ListModel model({"A", "B"});
  ASSERT_TRUE(model.insertRows(0, 3));
  for (int r = 0; r < 3; ++r) {
    model.setData(model.index(r, 0), QString::number(r));
    model.setData(model.index(r, 1), QString::number(r * 10));
  }
  ASSERT_TRUE(model.insertRows(1, 2));
  EXPECT_THAT(column(model, 0), ElementsAre("0", "", "", "1", "2"));
  EXPECT_THAT(column(model, 1), ElementsAre("0", "", "", "10", "20"));
  ASSERT_TRUE(model.removeRows(0, 2));
  EXPECT_THAT(column(model, 0), ElementsAre("", "1", "2"));
  EXPECT_THAT(column(model, 1), ElementsAre("", "10", "20"));
  EXPECT_FALSE(model.setData(model.index(0, 0), "x", Qt::ToolTipRole));
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("B"));
  EXPECT_FALSE(model.headerData(2, Qt::Horizontal).isValid());
}

// Every row is tall enough for a line in the list's own font, whatever the
// design sets it to.
TEST(ListViewTest, RowsFitTheFontAndTheHeaderShowsOnlyWithTitles) {
  ListView titled({"Status"}, nullptr);
  QFont big = titled.font();
  big.setPointSizeF(big.pointSizeF() * 3);
  big.setBold(true);
  titled.setFont(big);
  titled.rows().append_row();
  EXPECT_GE(titled.rowHeight(0), QFontMetrics(big).height());
  EXPECT_FALSE(titled.horizontalHeader()->isHidden());
  EXPECT_TRUE(titled.verticalHeader()->isHidden());

  ListView plain({}, nullptr);
  EXPECT_TRUE(plain.horizontalHeader()->isHidden());
  EXPECT_EQ(plain.model()->columnCount(), 1);
}

}  // namespace
}  // namespace kav::ui::qt
