#include "outline/OutlineStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace outline {
namespace {

TEST(OutlineStore, HandlesArePreOrderIndexesAndStructureFollows) {
  OutlineStore store;
  const NodeHandle a = store.AddChild(kNoNode, u"A");
  const NodeHandle b = store.AddChild(a, u"B");
  const NodeHandle c = store.AddChild(b, u"C");
  const NodeHandle d = store.AddChild(a, u"D"); // back up one level
  const NodeHandle e = store.Add(kNoNode, u"E");
  const NodeHandle f = store.Add(e, u"F"); // a sibling of E: top level
  const NodeHandle g = store.AddChild(f, u"G");
  const NodeHandle h = store.Add(g, u"H"); // a sibling of G: under F

  EXPECT_EQ((std::vector<NodeHandle>{a, b, c, d, e, f, g, h}),
            (std::vector<NodeHandle>{0, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_EQ(store.GetCount(), 8u);
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(store.GetNodeFromIndex(i), i);
  EXPECT_EQ(store.GetNodeFromIndex(8), kNoNode);

  // A  B  C  D  E  F  G  H
  const NodeHandle parents[] = {kNoNode, a, b, a, kNoNode, kNoNode, f, f};
  const uint32_t depths[] = {1, 2, 3, 2, 1, 1, 2, 2};
  const uint32_t rows[] = {0, 0, 0, 1, 1, 2, 0, 1};
  for (NodeHandle n = 0; n < 8; ++n) {
    EXPECT_EQ(store.Parent(n), parents[n]) << n;
    EXPECT_EQ(store.Depth(n), depths[n]) << n;
    EXPECT_EQ(store.Row(n), rows[n]) << n;
    EXPECT_EQ(store.Child(parents[n], rows[n]), n) << n;
  }
  EXPECT_EQ(store.ChildCount(kNoNode), 3u);
  EXPECT_EQ(store.ChildCount(a), 2u);
  EXPECT_EQ(store.ChildCount(c), 0u);

  // Out-of-range questions get neutral answers, never a read past the end.
  EXPECT_EQ(store.Parent(99), kNoNode);
  EXPECT_EQ(store.ChildCount(99), 0u);
  EXPECT_EQ(store.Child(a, 2), kNoNode);
  EXPECT_EQ(store.Child(99, 0), kNoNode);
  EXPECT_EQ(store.Row(kNoNode), 0u);
  EXPECT_EQ(store.Depth(kNoNode), 0u);
  EXPECT_EQ(store.GetText(99).length, 0u);
}

TEST(OutlineStore, LabelsKeepExactlyTheUnitsGiven) {
  struct Case {
    std::u16string text;
    bool wide;
  };
  const Case cases[] = {
      {u"", false},
      {u"SHORT-NAME = x", false},
      {std::u16string{0x01, 0x7F, 0x80, 0xFE, 0xFF}, false},
      {std::u16string{u'a', 0x100}, true},
      {std::u16string{0x100}, true},
      {std::u16string{u'x', 0xD83D, 0xDE00, u'y'}, true}, // surrogate pair
      {std::u16string{0xDC00, 0xD800}, true},             // lone surrogates
      {std::u16string{0xFFFF, 0xFF}, true},
      {std::u16string(5000, u'\xE9'), false}, // longer than a stack buffer
  };
  OutlineStore store;
  for (const Case &c : cases)
    store.AddChild(kNoNode, c.text);
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    const LabelView view = store.GetText(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(view.length, cases[i].text.size());
    EXPECT_EQ(view.wide != nullptr, cases[i].wide);
    EXPECT_EQ(view.toU16String(), cases[i].text);
    EXPECT_EQ(view.toQString(), QString::fromStdU16String(cases[i].text));
  }

  // Text ends at the first NUL, through either overload.
  const std::u16string withNul{u'A', u'B', 0, u'C'};
  EXPECT_EQ(store.GetText(store.AddChild(kNoNode, withNul)).toU16String(),
            u"AB");
  EXPECT_EQ(
      store.GetText(store.AddChild(kNoNode, withNul.c_str())).toU16String(),
      u"AB");
  EXPECT_EQ(store
                .GetText(store.AddChild(kNoNode,
                                        static_cast<const char16_t *>(nullptr)))
                .length,
            0u);

  // Copying a stored label into another store keeps it narrow or wide.
  OutlineStore copy;
  for (uint32_t i = 0; i < std::size(cases); ++i)
    copy.Add(kNoNode, store.GetText(i));
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(copy.GetText(i).toU16String(), cases[i].text);
    EXPECT_EQ(copy.GetText(i).wide != nullptr, cases[i].wide);
  }
}

TEST(OutlineStore, HugeLabelDoesNotDisturbItsNeighbours) {
  OutlineStore store;
  store.AddChild(kNoNode, u"before");
  const std::u16string huge(40u << 20, u'q'); // more than half a chunk
  store.AddChild(kNoNode, huge);
  store.AddChild(kNoNode, u"after");
  EXPECT_EQ(store.GetText(0).toU16String(), u"before");
  EXPECT_EQ(store.GetText(1).length, huge.size());
  EXPECT_EQ(store.GetText(1).narrow[huge.size() - 1], 'q');
  EXPECT_EQ(store.GetText(2).toU16String(), u"after");
}

TEST(OutlineStore, AddingOutOfPreOrderThrowsAndChangesNothing) {
  OutlineStore store;
  const NodeHandle a = store.AddChild(kNoNode, u"A");
  const NodeHandle b = store.AddChild(a, u"B");
  store.AddChild(b, u"C");
  const NodeHandle d = store.AddChild(a, u"D"); // closes B
  int resets = 0;
  store.SetObserver({[&] { ++resets; }, nullptr});

  for (NodeHandle bad : {b, NodeHandle{2}, NodeHandle{4}, NodeHandle{1000}}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(store.AddChild(bad, u"X"), std::invalid_argument);
  }
  EXPECT_EQ(store.GetCount(), 4u);
  EXPECT_EQ(resets, 0);
  // The rightmost path survived the failures.
  EXPECT_EQ(store.Parent(store.AddChild(d, u"E")), d);
  EXPECT_EQ(store.Parent(store.AddChild(a, u"F")), a);
  EXPECT_THROW(store.AddChild(d, u"X"), std::invalid_argument);
  EXPECT_EQ(store.Parent(store.AddChild(kNoNode, u"G")), kNoNode);
  EXPECT_THROW(store.AddChild(a, u"X"), std::invalid_argument);
  EXPECT_THROW(store.Add(100, u"X"), std::invalid_argument);
  EXPECT_EQ(store.GetCount(), 7u);
}

TEST(OutlineStore, LabelNotesGoToTheLastNodeOnlyAndClearDropsThem) {
  OutlineStore store;
  EXPECT_THROW(store.NoteRawText(0), std::invalid_argument); // no node yet
  const NodeHandle a = store.AddChild(kNoNode, u"A = v **** k=\"1\"");
  store.NoteAttributeStart(a, 10);
  EXPECT_THROW(store.NoteRawText(a), std::invalid_argument); // noted once
  const NodeHandle b = store.AddChild(a, u"B");
  EXPECT_THROW(store.NoteRawText(a), std::invalid_argument); // not the last
  EXPECT_THROW(store.NoteAttributeStart(b, 1), std::invalid_argument);
  store.AddChild(a, u"C");
  store.NoteRawText(2);
  ASSERT_EQ(store.LabelNotes().size(), 2u);
  EXPECT_EQ(store.FindLabelNote(a)->attributeStart, 10u);
  EXPECT_EQ(store.FindLabelNote(b), nullptr);
  EXPECT_EQ(store.FindLabelNote(2)->attributeStart, OutlineStore::kRawText);
  store.Clear();
  EXPECT_TRUE(store.LabelNotes().empty());
}

TEST(OutlineStore, NestedBracketsResetOnceAndOnlyWhenSomethingChanged) {
  OutlineStore store;
  std::vector<std::string> events;
  store.SetObserver(
      {[&] { events.push_back("begin@" + std::to_string(store.GetCount())); },
       [&] { events.push_back("end@" + std::to_string(store.GetCount())); }});

  store.BeginUpdate();
  store.BeginUpdate();
  EXPECT_TRUE(store.IsUpdating());
  store.AddChild(kNoNode, u"A");
  store.EndUpdate();
  store.AddChild(0, u"B");
  store.SetImageIndex(1, 2);
  EXPECT_EQ(events, std::vector<std::string>{"begin@0"});
  store.EndUpdate();
  EXPECT_FALSE(store.IsUpdating());
  EXPECT_EQ(events, (std::vector<std::string>{"begin@0", "end@2"}));

  // A view that reads the old tree while it is told of the reset must not
  // leave a stale child index behind.
  store.SetObserver({[&] { store.ChildCount(kNoNode); }, nullptr});
  store.AddChild(kNoNode, u"C");
  EXPECT_EQ(store.ChildCount(kNoNode), 2u);
  store.SetObserver(
      {[&] { events.push_back("begin@" + std::to_string(store.GetCount())); },
       [&] { events.push_back("end@" + std::to_string(store.GetCount())); }});

  // A bracket without a change leaves a view alone.
  events.clear();
  store.BeginUpdate();
  store.SetImageIndex(1, 2); // same value: no change
  store.EndUpdate();
  EXPECT_TRUE(events.empty());

  // A change outside any bracket brackets itself; a stray EndUpdate is
  // harmless.
  store.EndUpdate();
  store.Clear();
  EXPECT_EQ(events, (std::vector<std::string>{"begin@3", "end@0"}));
  EXPECT_FALSE(store.IsUpdating());
}

TEST(OutlineStore, ClearFreesMemoryAndMakesEarlierRefsStale) {
  OutlineStore store;
  const std::size_t emptyBytes = store.MemoryBytes();
  const NodeHandle a = store.AddChild(kNoNode, u"A");
  store.AddChild(a, std::u16string{0x100});
  const NodeRef ref = store.Ref(a);
  EXPECT_TRUE(store.IsLive(ref));
  EXPECT_FALSE(store.IsLive(NodeRef{}));
  EXPECT_FALSE(store.IsLive(store.Ref(7)));
  EXPECT_GT(store.MemoryBytes(), emptyBytes);

  store.Clear();
  EXPECT_EQ(store.GetCount(), 0u);
  EXPECT_FALSE(store.IsLive(ref));
  EXPECT_EQ(store.MemoryBytes(), emptyBytes);
  EXPECT_EQ(store.ChildCount(kNoNode), 0u);

  // Rebuilt in the same shape: the old ref still does not come back to life.
  store.AddChild(kNoNode, u"A");
  EXPECT_FALSE(store.IsLive(ref));
  EXPECT_TRUE(store.IsLive(store.Ref(a)));
}

TEST(OutlineStore, ImageIndexesAndData) {
  OutlineStore store;
  const NodeHandle a = store.AddChild(kNoNode, u"A");
  const NodeHandle b = store.AddChild(a, u"B");
  EXPECT_EQ(store.ImageIndex(a), 0);
  store.SetImageIndex(a, 2);
  store.SetSelectedIndex(b, 127);
  store.SetImageIndex(b, 300); // beyond a byte: shown as no picture
  store.SetImageIndex(99, 1);  // out of range: ignored
  EXPECT_EQ(store.ImageIndex(a), 2);
  EXPECT_EQ(store.SelectedIndex(a), 0);
  EXPECT_EQ(store.SelectedIndex(b), 127);
  EXPECT_EQ(store.ImageIndex(b), -1);
  EXPECT_EQ(store.ImageIndex(99), -1);

  // Data is stored only for nodes that get some.
  const std::size_t before = store.MemoryBytes();
  EXPECT_EQ(store.Data(b), NodeRef{});
  EXPECT_EQ(store.MemoryBytes(), before);
  store.SetData(b, NodeRef{42, 7});
  store.SetData(99, NodeRef{1, 1});
  EXPECT_EQ(store.Data(b), (NodeRef{42, 7}));
  EXPECT_EQ(store.Data(a), NodeRef{});
  EXPECT_EQ(store.Data(99), NodeRef{});
}

// A borrowed label is the source's own, read through it, until the source
// is cleared; then it reads as empty and its data is stale.
TEST(OutlineStore, BorrowedLabelsFollowTheirSourceAndNeverOutliveIt) {
  OutlineStore items, hits, other;
  const NodeHandle a = items.AddChild(kNoNode, u"A **** \u0100");
  const NodeHandle b = items.AddChild(a, u"B = 1");
  other.AddChild(kNoNode, u"X");
  const NodeHandle h = hits.AddBorrowed(kNoNode, items, b, 0);
  hits.AddBorrowed(kNoNode, items, a, 2);
  EXPECT_EQ(hits.GetText(h).toU16String(), u"B = 1");
  EXPECT_EQ(hits.GetText(1).toU16String(), u"A **** \u0100");
  EXPECT_EQ(hits.ImageIndex(1), 2);
  EXPECT_EQ(hits.Data(h), items.Ref(b));
  EXPECT_EQ(hits.LongestLabel(), 8u);
  EXPECT_THROW(hits.AddBorrowed(kNoNode, other, 0, 0), std::invalid_argument);
  EXPECT_THROW(hits.AddBorrowed(kNoNode, items, 9, 0), std::invalid_argument);

  items.Clear();
  items.AddChild(kNoNode, u"new");
  EXPECT_EQ(hits.GetText(h).length, 0u);
  EXPECT_FALSE(items.IsLive(hits.Data(h)));
  hits.Clear();
  EXPECT_EQ(hits.GetText(hits.AddBorrowed(kNoNode, items, 0, 0)).toU16String(),
            u"new");
}

TEST(OutlineStore, RandomPreOrderTreeAnswersConsistently) {
  std::mt19937 rng(12345);
  OutlineStore store;
  std::vector<NodeHandle> path; // open nodes, as a builder keeps them
  std::vector<NodeHandle> parents;
  const uint32_t total = 3 * OutlineStore::kNodeChunk + 17; // several chunks
  for (uint32_t i = 0; i < total; ++i) {
    const unsigned pop = rng() % 3 == 0 ? rng() % (path.size() + 1) : 0;
    path.resize(path.size() - pop);
    const NodeHandle parent = path.empty() ? kNoNode : path.back();
    ASSERT_EQ(store.AddChild(parent, u"n"), i);
    parents.push_back(parent);
    if (rng() % 2 && path.size() < 300)
      path.push_back(i);
  }

  uint64_t childSum = store.ChildCount(kNoNode);
  for (NodeHandle n = 0; n < total; ++n) {
    ASSERT_EQ(store.Parent(n), parents[n]);
    ASSERT_EQ(store.Child(store.Parent(n), store.Row(n)), n);
    const uint32_t count = store.ChildCount(n);
    childSum += count;
    for (uint32_t r = 1; r < count; ++r)
      ASSERT_LT(store.Child(n, r - 1), store.Child(n, r));
    if (count) {
      ASSERT_EQ(store.Child(n, 0), n + 1); // first child follows in pre-order
    }
  }
  EXPECT_EQ(childSum, total);

  // A change after a query rebuilds the index.
  const NodeHandle last = store.AddChild(kNoNode, u"last");
  EXPECT_EQ(store.Child(kNoNode, store.ChildCount(kNoNode) - 1), last);
}

TEST(OutlineStore, TenMillionNodesFitTheMemoryBudget) {
  constexpr uint32_t kNodes = 10'000'000;
  const std::u16string label = u"SHORT-NAME = n";
  OutlineStore store;
  const auto start = std::chrono::steady_clock::now();
  store.BeginUpdate();
  NodeHandle container = kNoNode;
  for (uint32_t i = 0; i < kNodes; ++i) {
    // Containers of ten leaves each under one top-level root.
    if (i == 0) {
      container = store.AddChild(kNoNode, label);
    } else if (i % 11 == 1) {
      container = store.AddChild(0, label);
    } else {
      store.AddChild(container, label);
    }
  }
  store.EndUpdate();
  const double addSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(store.ChildCount(0), (kNodes - 2) / 11 + 1);

  const double perNode = double(store.MemoryBytes()) / kNodes;
  std::printf("[ figures  ] %u nodes added in %.2f s; %.1f bytes/node with "
              "the child index (labels %zu bytes/node)\n",
              kNodes, addSeconds, perNode, label.size());
  // Records and child index stay under 48 bytes a node besides the labels;
  // allow one unfilled arena chunk.
  EXPECT_LT(store.MemoryBytes(), std::size_t{kNodes} * (48 + label.size()) +
                                     (std::size_t{64} << 20));
}

} // namespace
} // namespace outline
