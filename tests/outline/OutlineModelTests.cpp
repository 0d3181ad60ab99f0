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

// A long flat list reaches the view a chunk at a time, under the tester.
TEST(OutlineModelChunks, TopLevelRowsArriveAsTheViewAsksForThem) {
  OutlineStore store;
  OutlineModel model(store);
  QAbstractItemModelTester tester(
      &model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetTopLevelChunk(4);
  {
    StoreUpdate bracket(store);
    for (int i = 0; i < 10; ++i)
      store.AddChild(kNoNode, u"HIT");
  }
  EXPECT_EQ(model.rowCount(), 4);
  EXPECT_FALSE(model.IndexFromNode(7).isValid());
  EXPECT_TRUE(model.canFetchMore(QModelIndex()));
  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 8);
  model.FetchTopLevelRow(9);
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  EXPECT_EQ(model.IndexFromNode(9).row(), 9);
}

} // namespace
} // namespace outline
