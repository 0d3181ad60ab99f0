#include "outline/OutlineModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStringListModel>

#include <gtest/gtest.h>

namespace outline {
namespace {

// Every test runs the model under QAbstractItemModelTester, which checks
// Qt's model contract after each change and aborts on a breach.
class OutlineModelTest : public ::testing::Test {
protected:
  OutlineModelTest()
      : model(store),
        tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal) {}

  // A
  //   B = 1 (leaf)
  //   C
  //     D (leaf, wide label)
  // E
  void Fill() {
    StoreUpdate bracket(store);
    store.Clear();
    const NodeHandle a = store.AddChild(kNoNode, u"A");
    store.SetImageIndex(a, 2);
    store.SetSelectedIndex(a, 2);
    store.AddChild(a, u"B = 1");
    const NodeHandle c = store.AddChild(a, u"C");
    store.SetImageIndex(c, 2);
    store.AddChild(c, u"D = \u0100");
    store.AddChild(kNoNode, u"E");
  }

  OutlineStore store;
  OutlineModel model;
  QAbstractItemModelTester tester;
};

TEST_F(OutlineModelTest, ShowsTheStoreTreeWithLabelsAndImages) {
  Fill();
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.columnCount(), 1);
  const QModelIndex a = model.index(0, 0);
  const QModelIndex c = model.index(1, 0, a);
  const QModelIndex d = model.index(0, 0, c);
  EXPECT_EQ(model.rowCount(a), 2);
  EXPECT_TRUE(model.hasChildren(c));
  EXPECT_FALSE(model.hasChildren(d));
  EXPECT_EQ(model.parent(d), c);
  EXPECT_EQ(model.parent(c), a);
  EXPECT_FALSE(model.parent(a).isValid());

  EXPECT_EQ(model.data(a).toString(), "A");
  EXPECT_EQ(model.data(d).toString(), QString::fromUtf16(u"D = \u0100"));
  EXPECT_EQ(model.data(a, OutlineModel::ImageIndexRole).toInt(), 2);
  EXPECT_EQ(model.data(a, OutlineModel::SelectedImageRole).toInt(), 2);
  EXPECT_EQ(model.data(c, OutlineModel::SelectedImageRole).toInt(), 0);
  EXPECT_EQ(model.data(d, OutlineModel::ImageIndexRole).toInt(), 0);
  EXPECT_FALSE(model.data(a, Qt::DecorationRole).isValid());
  EXPECT_TRUE(model.flags(d).testFlag(Qt::ItemNeverHasChildren));
  EXPECT_FALSE(model.flags(c).testFlag(Qt::ItemNeverHasChildren));

  // Handles and indexes convert both ways.
  EXPECT_EQ(model.NodeFromIndex(d), 3u);
  EXPECT_EQ(model.IndexFromNode(3), d);
  EXPECT_EQ(model.IndexFromNode(4), model.index(1, 0));

  model.SetIconProvider([](int image) { return QVariant(image * 10); });
  EXPECT_EQ(model.data(a, Qt::DecorationRole).toInt(), 20);

  // A view sees at most the head of a huge label; the store keeps it whole
  // and knows its longest label and deepest node for the column width.
  EXPECT_EQ(store.DeepestNode(), 3u);
  store.AddChild(kNoNode, std::u16string(100000, u'x'));
  EXPECT_EQ(store.LongestLabel(), 100000u);
  const QModelIndex huge = model.index(2, 0);
  for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)})
    EXPECT_EQ(model.data(huge, role).toString().size(),
              qsizetype(OutlineModel::kShownUnits));
}

TEST_F(OutlineModelTest, EveryEntryPointRejectsForeignAndOutOfRangeIndexes) {
  Fill();
  QStringListModel foreign(QStringList{"x", "y", "z"});
  const QModelIndex alien = foreign.index(0, 0);
  const QModelIndex a = model.index(0, 0);

  EXPECT_FALSE(model.index(2, 0).isValid());
  EXPECT_FALSE(model.index(-1, 0).isValid());
  EXPECT_FALSE(model.index(0, 1).isValid());
  EXPECT_FALSE(model.index(2, 0, a).isValid());
  EXPECT_FALSE(model.index(0, 0, alien).isValid());
  EXPECT_FALSE(model.parent(alien).isValid());
  EXPECT_EQ(model.rowCount(alien), 0);
  EXPECT_EQ(model.columnCount(alien), 0);
  EXPECT_FALSE(model.hasChildren(alien));
  EXPECT_FALSE(model.data(alien).isValid());
  EXPECT_EQ(model.flags(alien), Qt::NoItemFlags);
  EXPECT_EQ(model.NodeFromIndex(alien), kNoNode);
  EXPECT_EQ(model.NodeFromIndex(QModelIndex()), kNoNode);
  EXPECT_FALSE(model.IndexFromNode(kNoNode).isValid());
  EXPECT_FALSE(model.IndexFromNode(5).isValid());

  // An index kept across a clear names a node that is gone.
  store.Clear();
  EXPECT_FALSE(model.data(a).isValid());
  EXPECT_EQ(model.rowCount(a), 0);
  EXPECT_FALSE(model.parent(a).isValid());
}

TEST_F(OutlineModelTest, StoreBracketResetsTheModelOnce) {
  QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  Fill();
  EXPECT_EQ(aboutToReset.count(), 1);
  EXPECT_EQ(reset.count(), 1);
  EXPECT_EQ(model.rowCount(), 2);

  // A bracket that changes nothing (as a search brackets the outline)
  // keeps the view's state.
  store.BeginUpdate();
  store.EndUpdate();
  EXPECT_EQ(reset.count(), 1);

  store.Clear();
  EXPECT_EQ(reset.count(), 2);
  EXPECT_EQ(model.rowCount(), 0);
  store.AddChild(kNoNode, u"only");
  EXPECT_EQ(reset.count(), 3);
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), "only");
}

TEST(OutlineModel, DetachesFromTheStoreWhenDestroyed) {
  OutlineStore store;
  {
    OutlineModel model(store);
    store.AddChild(kNoNode, u"A");
  }
  // No observer left pointing at the destroyed model.
  store.AddChild(kNoNode, u"B");
  store.Clear();
  EXPECT_EQ(store.GetCount(), 0u);
}

} // namespace
} // namespace outline

namespace outline {
namespace {

// A long list reaches a view as a window that slides along it, under the
// tester; persistent indexes follow their nodes or go.
TEST(OutlineModelWindow, TopLevelRowsAreAWindowThatSlides) {
  OutlineStore store;
  OutlineModel model(store);
  QAbstractItemModelTester tester(
      &model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetTopLevelWindow(4);
  {
    StoreUpdate bracket(store);
    for (int i = 0; i < 10; ++i) {
      const NodeHandle hit = store.AddChild(kNoNode, u"HIT");
      if (i == 6)
        store.AddChild(hit, u"CHILD");
    }
  }
  auto top = [&store](uint32_t row) { return store.Child(kNoNode, row); };
  const NodeHandle child = store.Child(top(6), 0);
  EXPECT_EQ(model.rowCount(), 4);
  EXPECT_FALSE(model.IndexFromNode(top(7)).isValid());
  model.MoveTopLevelWindow(3);
  const QPersistentModelIndex sixth = model.IndexFromNode(top(6));
  const QPersistentModelIndex below = model.IndexFromNode(child);
  EXPECT_EQ(sixth.row(), 3);
  const struct {
    uint32_t first, base;
    int sixthRow; // -1: gone
  } moves[] = {{5, 5, 1}, {9, 6, 0}, {6, 6, 0}, {0, 0, -1}, {5, 5, -1}};
  for (const auto &m : moves) {
    model.MoveTopLevelWindow(m.first);
    EXPECT_EQ(model.TopLevelBase(), m.base) << m.first;
    EXPECT_EQ(model.rowCount(), 4) << m.first;
    EXPECT_EQ(model.NodeFromIndex(model.index(0, 0)), top(m.base));
    EXPECT_EQ(sixth.isValid() ? sixth.row() : -1, m.sixthRow) << m.first;
    EXPECT_EQ(below.isValid(), m.sixthRow >= 0) << m.first;
    if (below.isValid()) {
      EXPECT_EQ(model.NodeFromIndex(below.parent()), top(6));
    }
  }
  EXPECT_EQ(model.IndexFromNode(top(7)).row(), 2);
  EXPECT_FALSE(model.IndexFromNode(top(4)).isValid());
  // A new list starts at its beginning.
  store.Clear();
  store.AddChild(kNoNode, u"ONE");
  EXPECT_EQ(model.TopLevelBase(), 0u);
  EXPECT_EQ(model.rowCount(), 1);
}

} // namespace
} // namespace outline
