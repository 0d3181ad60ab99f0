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
             (r.target == kNoNode ? "-" : std::to_string(r.target)) +
             (r.ambiguous ? "* " : " ");
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
      // Processing instructions and <!...> may stand before the SHORT-NAME.
      {"<A><?pi x?><!X y><SHORT-NAME>n</SHORT-NAME></A><B><C/><SHORT-NAME>m"
       "</SHORT-NAME></B>",
       "0:n ", ""},
      // Every element below ODX is a document: the hint names one (or the
      // target itself); without a hint only the reference's own document
      // counts; a hint naming nothing loaded resolves nothing.
      {"<ODX><L><SHORT-NAME>One</SHORT-NAME><T ID=\"x\"/></L>"
       "<L><SHORT-NAME>Two</SHORT-NAME><T ID=\"x\"/></L>"
       "<R ID-REF=\"x\" DOCREF=\"Two\"/><R ID-REF=\"x\" DOCREF=\"One\"/>"
       "<R ID-REF=\"x\"/><R ID-REF=\"x\" DOCREF=\"None\"/>"
       "<R ID-REF=\"x\" DOCREF=\"\"/></ODX>",
       "1:One 4:Two ", "7->6 8->3 9->- 10->- 11->- "},
      {"<D><T ID=\"x\"/><R ID-REF=\"x\"/></D><D><T ID=\"x\"/><R ID-REF=\"x\"/>"
       "</D>",
       "", "2->1 5->4 "},
      {"<A ID=\"x\"><SHORT-NAME>N</SHORT-NAME></A><B ID=\"x\"><SHORT-NAME>M"
       "</SHORT-NAME></B><R ID-REF=\"x\" DOCREF=\"M\"/>",
       "0:N 2:M ", "4->2 "},
      // Layers: a copied block resolves in its own layer; outside any
      // layer the document decides, and two candidates make it ambiguous.
      {"<ODX><C><SHORT-NAME>c</SHORT-NAME><BASE-VARIANT><SHORT-NAME>A"
       "</SHORT-NAME><T ID=\"s\"/></BASE-VARIANT><ECU-VARIANT><SHORT-NAME>B"
       "</SHORT-NAME><T ID=\"s\"/><R ID-REF=\"s\"/></ECU-VARIANT>"
       "<R ID-REF=\"s\"/></C></ODX>",
       "1:c 3:A 6:B ", "9->8 10->5* "},
      // A DOCREF names documents, else layers; DOCTYPE LAYER only layers.
      {"<ODX><C><SHORT-NAME>X</SHORT-NAME><PROTOCOL><SHORT-NAME>X"
       "</SHORT-NAME><T ID=\"p\"/></PROTOCOL><PROTOCOL><SHORT-NAME>Y"
       "</SHORT-NAME><T ID=\"p\"/></PROTOCOL><T ID=\"p\"/></C><D>"
       "<R ID-REF=\"p\" DOCREF=\"X\"/><R ID-REF=\"p\" DOCREF=\"X\" "
       "DOCTYPE=\"LAYER\"/><R ID-REF=\"p\" DOCREF=\"Y\"/><R ID-REF=\"p\" "
       "DOCREF=\"D\"/></D></ODX>",
       "1:X 3:X 6:Y ", "11->5* 12->5 13->8 14->- "},
      // By short name: the nearest enclosing element with a candidate, the
      // parent layers of a layer on the way (here through a PARENT-REF);
      // an empty SHORT-NAME is no reference.
      {"<ODX><C><SHORT-NAME>c</SHORT-NAME><BASE-VARIANT ID=\"bv\">"
       "<SHORT-NAME>B</SHORT-NAME><DIAG-COMMS><DIAG-SERVICE><SHORT-NAME>s"
       "</SHORT-NAME></DIAG-SERVICE></DIAG-COMMS></BASE-VARIANT><ECU-VARIANT>"
       "<SHORT-NAME>E</SHORT-NAME><PARENT-REFS><PARENT-REF ID-REF=\"bv\"/>"
       "</PARENT-REFS><X><DIAG-COMM-SNREF SHORT-NAME=\"s\"/></X><Y><STATE>"
       "<SHORT-NAME>s</SHORT-NAME></STATE><TARGET-SNREF SHORT-NAME=\"s\"/>"
       "<TARGET-SNREF SHORT-NAME=\"t\"/><SOURCE-SNREF SHORT-NAME=\"\"/></Y>"
       "</ECU-VARIANT></C></ODX>",
       "1:c 3:B 6:s 8:E 15:s ", "11->3 13->6 17->15 18->- "},
      // Parameter interfaces look in their service's messages first.
      {"<ODX><C><SHORT-NAME>c</SHORT-NAME><DIAG-SERVICE><SHORT-NAME>ds"
       "</SHORT-NAME><REQUEST-REF ID-REF=\"rq\"/><POS-RESPONSE-REFS>"
       "<POS-RESPONSE-REF ID-REF=\"pr\"/></POS-RESPONSE-REFS><P>"
       "<IN-PARAM-IF-SNREF SHORT-NAME=\"a\"/><OUT-PARAM-IF-SNREF "
       "SHORT-NAME=\"a\"/><PARAM-SNREF SHORT-NAME=\"a\"/></P></DIAG-SERVICE>"
       "<REQUEST ID=\"rq\"><PARAMS><PARAM><SHORT-NAME>a</SHORT-NAME></PARAM>"
       "</PARAMS></REQUEST><POS-RESPONSE ID=\"pr\"><PARAMS><PARAM>"
       "<SHORT-NAME>a</SHORT-NAME></PARAM></PARAMS></POS-RESPONSE></C></ODX>",
       "1:c 3:ds 14:a 18:a ", "5->12 7->16 9->14 10->18 11->14* "},
      // Layers that name each other as parents are each searched once.
      {"<ODX><C><SHORT-NAME>c</SHORT-NAME><PROTOCOL ID=\"p1\"><SHORT-NAME>P1"
       "</SHORT-NAME><PARENT-REFS><PARENT-REF ID-REF=\"p2\"/></PARENT-REFS><X>"
       "<DOP-SNREF SHORT-NAME=\"d\"/></X></PROTOCOL><PROTOCOL ID=\"p2\">"
       "<SHORT-NAME>P2</SHORT-NAME><PARENT-REFS><PARENT-REF ID-REF=\"p1\"/>"
       "</PARENT-REFS></PROTOCOL></C><D><DTC-DOP><SHORT-NAME>d</SHORT-NAME>"
       "</DTC-DOP></D></ODX>",
       "1:c 3:P1 9:P2 14:d ", "6->9 8->14 12->3 "},
      // First attribute of a name counts; names and values compare exactly.
      {"<D><T ID=\"x\" ID=\"y\"/><R ID-REF=\"y\"/><S ID-REF=\"x\" "
       "ID-REF=\"y\"/></D>",
       "", "2->- 3->1 "},
      {"<T id=\"x\"/><R ID-REF=\"x\"/><U ID=\"a&amp;b\"/><V ID-REF=\"a&b\"/>",
       "", "1->- 3->- "},
      {"<T ID=\"x\" ID-REF=\"x\"/>", "", "0->0 "},
      // A wide label: a value decoded past 0xFF beside the attributes.
      {"<D><T ID=\"w\">&#x0100;</T><R ID-REF=\"w\">&#x0101;</R></D>", "",
       "2->1 "},
  };
  for (const auto &c : cases) {
    Build(c.body);
    EXPECT_EQ(Names(), c.names) << c.body;
    EXPECT_EQ(Resolved(), c.resolved) << c.body;
  }
}

TEST_F(OdxIndexTest, ProblemsSayWhy) {
  Build("<ODX><C><SHORT-NAME>c</SHORT-NAME><BASE-VARIANT><SHORT-NAME>B"
        "</SHORT-NAME><T ID=\"d\"/><T ID=\"d\"/><R ID-REF=\"d\"/>"
        "<R ID-REF=\"zz\"/><R ID-REF=\"x\" DOCREF=\"ISO\"/>"
        "<R ID-REF=\"x\" DOCREF=\"c\"/><START-STATE-SNREF SHORT-NAME=\"q\"/>"
        "</BASE-VARIANT><ECU-VARIANT><T ID=\"d\"/></ECU-VARIANT><T ID=\"e\"/>"
        "<T ID=\"e\"/></C></ODX>");
  std::string problems;
  for (const OdxIndex::Problem &p : index.Problems())
    problems += std::to_string(p.node) + " " +
                std::to_string(static_cast<int>(p.kind)) + ": " +
                index.Reason(p).toStdString() + "\n";
  EXPECT_EQ(problems, "8 0: no ID zz in this document\n"
                      "9 0: ISO is not loaded\n"
                      "10 0: no ID x in c\n"
                      "11 0: no START-STATE named q\n"
                      "7 1: 2 candidates with ID d\n"
                      "5 2: 2 elements with ID d\n"
                      "14 2: 2 elements with ID e\n");
  EXPECT_EQ(index.NotLoadedCount(), 1u);
  EXPECT_EQ(index.Documents().size(), 1u);
  EXPECT_EQ(index.LayerOf(7), 3u);
  EXPECT_EQ(index.LayerOf(14), kNoNode);
  EXPECT_EQ(index.DocumentOf(14), 1u);
  EXPECT_EQ(index.EndOf(3), 12u);
  EXPECT_EQ(index.KindOfLayer(12), LayerKind::EcuVariant);
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
