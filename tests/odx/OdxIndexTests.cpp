#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <string>

namespace odx {
namespace {

using outline::kNoNode;
using outline::NodeHandle;
using outline::NodeRef;

std::string Narrow(const outline::LabelView &v) {
  return v.toQString().toStdString();
}

TEST(Attributes, ReadAsWrittenUntilSomethingIsMalformed) {
  const struct {
    const char *text;
    const char *read; // name=value; per attribute
  } cases[] = {
      {R"(ID="a")", "ID=a;"},
      {R"(  ID = 'a'  B="x y")", "ID=a;B=x y;"},
      {"\tA\r\n=\n\"1\"\tB='2'", "A=1;B=2;"},
      {R"(A="1"B="2")", "A=1;B=2;"}, // a name right after the quote
      {R"(="v" B="2")", "=v;B=2;"},  // an empty name is a name
      {R"(A='say "hi"')", "A=say \"hi\";"},
      {R"(A="&amp;" E="")", "A=&amp;;E=;"}, // raw, and empty
      {R"(A="1" B="2)", "A=1;"},            // no closing quote
      {R"(A="1" B=)", "A=1;"},              // '=' without a value
      {R"(A="1" B C="3")", "A=1;"},         // a name without '='
      {R"(A=1 B="2")", ""},                 // no quote
      {R"(A="1' B="2")", "A=1' B=;"},       // the same quote ends it
      {"A", ""},
      {"", ""},
  };
  for (const auto &c : cases) {
    outline::OutlineStore store;
    store.AddChild(kNoNode, QString::fromUtf8(c.text).toStdU16String());
    std::string read;
    ReadAttributes(store.GetText(0), [&](const outline::LabelView &name,
                                         const outline::LabelView &value) {
      read += Narrow(name) + "=" + Narrow(value) + ";";
      return true;
    });
    EXPECT_EQ(read, c.read) << c.text;
  }
  outline::OutlineStore store;
  store.AddChild(kNoNode, u"id=\"x\" ID=\"a\" ID=\"b\"");
  EXPECT_EQ(Narrow(*FindAttribute(store.GetText(0), u"ID")), "a");
  EXPECT_FALSE(FindAttribute(store.GetText(0), u"Id").has_value());
}

class OdxIndexTest : public ::testing::Test {
protected:
  // Builds the outline of `body` placed after a 21-byte declaration.
  void Build(const std::string &body) {
    const QString path = dir.filePath("in.odx");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("<?xml version=\"1.0\"?>\n" + body).c_str());
    f.close();
    cvexString p;
    p.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
    ASSERT_EQ(outline::BuildOutline(p, store, around, around),
              outline::BuildStatus::Built);
  }
  std::string Names() const {
    std::string out;
    for (NodeHandle n = 0; n < store.GetCount(); ++n)
      if (index.Name(n).length > 0)
        out += std::to_string(n) + ":" + Narrow(index.Name(n)) + " ";
    return out;
  }
  std::string Resolved() const {
    std::string out;
    for (const OdxIndex::Reference &r : index.References())
      out += std::to_string(r.node) + "->" +
             (r.target == kNoNode ? "-" : std::to_string(r.target)) + " ";
    return out;
  }

  QTemporaryDir dir;
  outline::OutlineStore store;
  outline::RecordingSurroundings around;
  OdxIndex index{store};
};

TEST_F(OdxIndexTest, NamesAndResolution) {
  const struct {
    const char *body;
    const char *names;
    const char *resolved;
  } cases[] = {
      {"<A><SHORT-NAME>n</SHORT-NAME><B/></A>", "0:n ", ""},
      {"<A><LONG-NAME>l</LONG-NAME><SHORT-NAME>n</SHORT-NAME></A>", "", ""},
      {"<A><SHORT-NAME/><B><SHORT-NAME><C/></SHORT-NAME></B></A>", "", ""},
      // The note cuts the value exactly, whatever it holds.
      {"<A><SHORT-NAME k=\" **** \">n **** m</SHORT-NAME></A>", "0:n **** m ",
       ""},
      // Raw description text is never a name nor a target, also when a
      // stray DESC end tag puts it under an ordinary element.
      {"<DESC>SHORT-NAME = x<b/></DESC>", "", ""},
      {"<R><DESC><DESC>SHORT-NAME = x **** ID=\"q\"<b/></DESC><A><!--c-->"
       "</DESC></A><Z ID-REF=\"q\"/></R>",
       "", "5->- "},
      {"<R><T ID=\"a\"/><U ID-REF=\"a\"/><V ID-REF=\"b\"/></R>", "",
       "2->1 3->- "},
      // Duplicates in two layers: the hint picks the layer by name; without
      // one, the same document; a hint naming nothing keeps them all.
      {"<ODX><L><SHORT-NAME>One</SHORT-NAME><T ID=\"x\"/></L>"
       "<L><SHORT-NAME>Two</SHORT-NAME><T ID=\"x\"/></L>"
       "<R ID-REF=\"x\" DOCREF=\"Two\"/><R ID-REF=\"x\" DOCREF=\"One\"/>"
       "<R ID-REF=\"x\"/><R ID-REF=\"x\" DOCREF=\"None\"/>"
       "<R ID-REF=\"x\" DOCREF=\"\"/></ODX>",
       "1:One 4:Two ", "7->6 8->3 9->3 10->3 11->3 "},
      {"<D><T ID=\"x\"/><R ID-REF=\"x\"/></D><D><T ID=\"x\"/><R ID-REF=\"x\"/>"
       "</D>",
       "", "2->1 5->4 "},
      // The hint may name the target itself.
      {"<A ID=\"x\"><SHORT-NAME>N</SHORT-NAME></A><B ID=\"x\"><SHORT-NAME>M"
       "</SHORT-NAME></B><R ID-REF=\"x\" DOCREF=\"M\"/>",
       "0:N 2:M ", "4->2 "},
      // First attribute of a name counts; names and values compare exactly.
      {"<T ID=\"x\" ID=\"y\"/><R ID-REF=\"y\"/><S ID-REF=\"x\" ID-REF=\"y\"/>",
       "", "1->- 2->0 "},
      {"<T id=\"x\"/><R ID-REF=\"x\"/><U ID=\"a&amp;b\"/><V ID-REF=\"a&b\"/>",
       "", "1->- 3->- "},
      {"<T ID=\"x\" ID-REF=\"x\"/>", "", "0->0 "},
      // A wide label: a value decoded past 0xFF beside the attributes.
      {"<T ID=\"w\">&#x0100;</T><R ID-REF=\"w\">&#x0101;</R>", "", "1->0 "},
  };
  for (const auto &c : cases) {
    Build(c.body);
    EXPECT_EQ(Names(), c.names) << c.body;
    EXPECT_EQ(Resolved(), c.resolved) << c.body;
  }
}

TEST_F(OdxIndexTest, QueriesAnswerOnlyForTheOutlineTheyCameFrom) {
  Build("<R><T ID=\"a\"><SHORT-NAME>t</SHORT-NAME></T><U ID-REF=\"a\"/>"
        "<V ID-REF=\"zz\"/><W ID-REF=\"a\"/></R>");
  const NodeRef target = store.Ref(1);
  EXPECT_EQ(index.Definition(store.Ref(3)), target);
  EXPECT_EQ(index.Definition(store.Ref(1)), NodeRef()); // not a reference
  EXPECT_EQ(index.Definition(store.Ref(4)), NodeRef()); // unresolved
  EXPECT_EQ(index.Usages(target),
            (std::vector<NodeRef>{store.Ref(3), store.Ref(5)}));
  EXPECT_EQ(index.Unresolved(), std::vector<NodeRef>{store.Ref(4)});
  EXPECT_TRUE(index.IsTarget(1));
  EXPECT_FALSE(index.IsTarget(3));
  EXPECT_EQ(index.FindReference(2), nullptr);

  const uint32_t before = index.Generation();
  Build("<R><U ID-REF=\"a\"/><T ID=\"a\"/></R>");
  EXPECT_NE(index.Generation(), before);
  EXPECT_EQ(index.Definition(store.Ref(1)), store.Ref(2));
  // Refs from the first outline lead nowhere, though their handles exist.
  EXPECT_EQ(index.Definition(NodeRef{1, before}), NodeRef());
  EXPECT_TRUE(index.Usages(NodeRef{2, before}).empty());
  EXPECT_EQ(index.Name(0).length, 0u);
}

// Two threads read a big outline in two ranges; the answers must not
// depend on it, also where a range starts right under a named container or
// a DESC element.
TEST(OdxIndexThreads, TwoRangesAnswerLikeOne) {
  constexpr uint32_t kNodes = 140000;
  constexpr uint32_t kSplit = (kNodes / 2) & ~63u;
  const struct {
    const char16_t *parent, *child; // the nodes either side of the split
    const char *name;
  } cases[] = {{u"LAYER", u"SHORT-NAME = boundary", "boundary"},
               {u"DESC **** TI=\"t\"", u"SHORT-NAME = x **** ID=\"d0\"", ""}};
  for (const auto &c : cases) {
    outline::OutlineStore store;
    NodeHandle document = kNoNode, layer = kNoNode;
    for (uint32_t i = 0; store.GetCount() < kNodes; ++i) {
      const uint32_t n = store.GetCount();
      if (n == kSplit - 1) {
        store.AddChild(layer, c.parent);
        store.AddChild(n, c.child);
      } else if (i % 5000 == 0) {
        layer = document = store.AddChild(kNoNode, u"DOC");
        store.AddChild(document, u"SHORT-NAME = doc" +
                                     std::u16string(1, u'a' + i / 5000 % 3));
      } else if (i % 50 == 0) {
        layer = store.AddChild(document, u"LAYER **** ID=\"L" +
                                             std::u16string(1, u'0' + i % 7) +
                                             u"\"");
        store.AddChild(layer, u"SHORT-NAME = layer");
      } else if (i % 3 == 0) {
        store.AddChild(layer, u"T **** ID=\"d" +
                                  std::u16string(1, u'0' + i % 11) + u"\"");
      } else {
        store.AddChild(layer, std::u16string(u"R **** ID-REF=\"d") +
                                  char16_t(u'0' + i % 13) + u"\"" +
                                  (i % 4 ? u"" : u" DOCREF=\"doca\""));
      }
    }
    const OdxIndex one(store, 1), two(store, 2);
    ASSERT_EQ(one.References().size(), two.References().size());
    for (std::size_t r = 0; r < one.References().size(); ++r) {
      ASSERT_EQ(one.References()[r].node, two.References()[r].node);
      ASSERT_EQ(one.References()[r].target, two.References()[r].target);
    }
    for (NodeHandle n = 0; n < kNodes; ++n)
      ASSERT_EQ(Narrow(one.Name(n)), Narrow(two.Name(n))) << n;
    EXPECT_EQ(Narrow(two.Name(kSplit - 1)), c.name);
  }
}

} // namespace
} // namespace odx
