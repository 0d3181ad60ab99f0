#include "compare/Comparison.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

// The goals for hostile sizes and shapes; the rules themselves are checked
// against the Python reference and the rule tables (tests/tools).
namespace compare {
namespace {

struct Versions {
  outline::OutlineStore olds, news;
  odx::OdxIndex oldIndex{olds}, newIndex{news};

  Versions(const std::string &a, const std::string &b) {
    outline::RecordingSurroundings around;
    for (auto [text, store] : {std::pair{&a, &olds}, std::pair{&b, &news}})
      outline::BuildOutlineFromBytes(
          {reinterpret_cast<const unsigned char *>(text->data()), text->size()},
          *store, around, around);
  }
  // The change list as lines, the stand-in's path and labels left out.
  std::vector<std::string> Lines(Options options = {}) const {
    const Comparison diff({olds, oldIndex, u"o"}, {news, newIndex, u"n"},
                          std::move(options));
    std::vector<std::string> lines;
    diff.ForEachChange([&](const Change &c) {
      const bool removed = c.kind == ChangeKind::Removed;
      const std::u16string path = diff.Path(removed ? Side::Old : Side::New,
                                            removed ? c.oldNode : c.newNode);
      lines.push_back(std::string(1, "+-~="[static_cast<int>(c.kind)]) + " " +
                      QString::fromStdU16String(path).toStdString());
    });
    // The counts gathered while matching say the same.
    const Counts counts = diff.Count();
    EXPECT_EQ(counts.Total(), lines.size());
    return lines;
  }
};

std::string Rows(const char *tag, int from, int to, int skip = -1) {
  std::string rows;
  for (int i = from; i < to; ++i)
    if (i != skip)
      rows += "<" + std::string(tag) + ">" + std::to_string(i % 7) + "</" +
              tag + ">";
  return rows;
}

TEST(Comparison, HundredThousandEqualTaggedRowsOneRemovedIsOneChange) {
  const Versions v("<T>" + Rows("V", 0, 100000) + "</T>",
                   "<T>" + Rows("V", 0, 100000, 50001) + "</T>");
  EXPECT_EQ(v.Lines(), std::vector<std::string>{"- T/V"});
}

TEST(Comparison, ARenameCandidateAgainstTenThousandSiblingsIsJudgedOnce) {
  std::string news;
  for (int i = 0; i < 10000; ++i)
    news += "<S><SHORT-NAME>n" + std::to_string(i) + "</SHORT-NAME><K" +
            std::to_string(i) + "/></S>";
  const Versions v("<T><S><SHORT-NAME>old</SHORT-NAME><Q/><W/></S></T>",
                   "<T>" + news + "</T>");
  const std::vector<std::string> lines = v.Lines();
  ASSERT_EQ(lines.size(), 10001u);
  EXPECT_EQ(lines.back(), "- T/S[old]");
}

TEST(Comparison, ASubtreeRemovedAtDepthEightIsOneLineWithItsPath) {
  const std::string deep = "<A><B><C><D><E><F><G><H><I/></H></G></F></E></D>"
                           "</C></B></A>";
  const Versions v("<R>" + deep + "</R>",
                   "<R><A><B><C><D><E><F><G/></F></E></D></C></B></A></R>");
  EXPECT_EQ(v.Lines(), (std::vector<std::string>{"~ R/A/B/C/D/E/F/G",
                                                 "- R/A/B/C/D/E/F/G/H"}));
}

TEST(Comparison, AVersionAgainstItselfAndEmptySidesAndIgnoredTags) {
  const std::string doc = "<ODX><L><SHORT-NAME>l</SHORT-NAME><S ID=\"s\"/>"
                          "<R ID-REF=\"s\"/><ADMIN-DATA><X/></ADMIN-DATA>" +
                          Rows("V", 0, 20) + "</L></ODX>";
  EXPECT_TRUE(Versions(doc, doc).Lines().empty());
  EXPECT_EQ(Versions("", doc).Lines(), std::vector<std::string>{"+ ODX"});
  EXPECT_EQ(Versions(doc, "").Lines(), std::vector<std::string>{"- ODX"});
  const std::string other = "<ODX><L><SHORT-NAME>l</SHORT-NAME><S ID=\"t\"/>"
                            "<R ID-REF=\"t\"/><ADMIN-DATA><Y/></ADMIN-DATA>" +
                            Rows("V", 0, 20) + "</L></ODX>";
  EXPECT_EQ(Versions(doc, other).Lines(),
            (std::vector<std::string>{"+ ODX/L[l]/ADMIN-DATA/Y",
                                      "- ODX/L[l]/ADMIN-DATA/X"}));
  Options ignore;
  ignore.ignoredTags = {u"ADMIN-DATA"};
  EXPECT_TRUE(Versions(doc, other).Lines(ignore).empty());
}

} // namespace
} // namespace compare
