#include "outline/OutlinePaths.h"

#include <gtest/gtest.h>

namespace outline {
namespace {

TEST(OutlinePaths, ElementPathJoinsTheFirstWordsAndSubtreesAreRuns) {
  OutlineStore store;
  const NodeHandle odx = store.AddChild(kNoNode, u"ODX **** MODEL-VERSION");
  const NodeHandle dlc = store.AddChild(odx, u"DIAG-LAYER-CONTAINER");
  const NodeHandle name = store.AddChild(dlc, u"SHORT-NAME = Engine");
  const NodeHandle desc = store.AddChild(dlc, u"DESC");
  const NodeHandle text = store.AddChild(desc, u" <p>x</p>");
  const NodeHandle next = store.AddChild(kNoNode, u"ODX");
  EXPECT_EQ(ElementPath(store, name), "ODX/DIAG-LAYER-CONTAINER/SHORT-NAME");
  EXPECT_EQ(ElementPath(store, text), "ODX/DIAG-LAYER-CONTAINER/DESC/x");
  EXPECT_EQ(ElementPath(store, kNoNode), QString());
  EXPECT_EQ(ElementPath(store, 99), QString());
  // Subtrees are runs of handles in pre-order.
  EXPECT_EQ(SubtreeEnd(store, odx), next);
  EXPECT_EQ(SubtreeEnd(store, name), desc);
  EXPECT_EQ(SubtreeEnd(store, text), next);
  EXPECT_EQ(SubtreeEnd(store, next), store.GetCount());

  // Texts that start with a blank are named by their first words.
  const struct {
    std::u16string label;
    QString name;
  } texts[] = {
      {u"\n  <p>Engine <b>control</b> unit</p>", "Engine control unit"},
      {u"\r\n\t<p>A very long first sentence goes on</p>",
       "A very long first senten"},
      {u" <p/>\n<br/>", "text"},
      {u"\n", "text"},
      {u"  a<", "a"},
      {u"SHORT-NAME = x", "SHORT-NAME"},
  };
  for (const auto &t : texts)
    EXPECT_EQ(ElementName(store, store.AddChild(next, t.label)), t.name)
        << t.name.toStdString();
  EXPECT_EQ(ElementName(store, kNoNode), QString());

  store.Clear();
  store.MarkPackage();
  const NodeHandle member = store.AddChild(kNoNode, u"my layer.odx-d");
  store.NoteMember(member);
  store.AddChild(store.AddChild(member, u"ODX **** V"), u"A = 1");
  EXPECT_EQ(ElementPath(store, 2), "my layer.odx-d/ODX/A");
  // In a folder, a package's members sit one level further down.
  const NodeHandle file = store.AddChild(kNoNode, u"p 1.pdx");
  store.NoteMember(file);
  store.NoteMember(store.AddChild(file, u"a b.odx-d"));
  const NodeHandle deep = store.AddChild(store.GetCount() - 1, u"ODX");
  EXPECT_EQ(ElementPath(store, deep), "p 1.pdx/a b.odx-d/ODX");
}

} // namespace
} // namespace outline
