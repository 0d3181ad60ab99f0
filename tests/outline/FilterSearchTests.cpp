#include "outline/FilterSearch.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace outline {
namespace {

struct SearchFixture {
  OutlineStore items;
  OutlineStore results;
  RecordingSurroundings around;

  std::vector<std::u16string> Search(const std::u16string &term) {
    cvexString text;
    text.AssignWide(term.c_str());
    FilterSearch(text, items, results, around);
    std::vector<std::u16string> labels;
    for (uint32_t i = 0; i < results.GetCount(); ++i) {
      // Every hit is top level, childless, and refers to a live outline
      // node with the same label.
      EXPECT_EQ(results.Parent(i), kNoNode);
      const NodeHandle target = ResultTarget(results, i, items);
      EXPECT_NE(target, kNoNode);
      EXPECT_EQ(items.GetText(target).toU16String(),
                results.GetText(i).toU16String());
      labels.push_back(results.GetText(i).toU16String());
    }
    return labels;
  }
};

using Labels = std::vector<std::u16string>;

TEST(FilterSearch, FindsNodesByLowerCasedContainment) {
  SearchFixture f;
  // Pre-order outline; imagine B collapsed in the view: its children are
  // still searched, in order.
  const NodeHandle a = f.items.AddChild(kNoNode, u"ECU-VARIANT **** ID=\"EV\"");
  const NodeHandle b = f.items.AddChild(a, u"DIAG-COMMS");
  f.items.AddChild(b, u"SHORT-NAME = ReadVin");
  f.items.AddChild(b, u"SHORT-NAME = read_vin_twice ReadVIN");
  f.items.AddChild(a, u"LONG-NAME = Read Data");
  f.items.AddChild(kNoNode, u"readings");
  f.items.AddChild(kNoNode, u"\u00C9T\u00C9 = \u00E9t\u00E9");

  struct Case {
    std::u16string term;
    Labels hits;
  };
  const Case cases[] = {
      // Case on both sides; a text holding the term twice is one hit.
      {u"READ",
       {u"SHORT-NAME = ReadVin", u"SHORT-NAME = read_vin_twice ReadVIN",
        u"LONG-NAME = Read Data", u"readings"}},
      {u"rEaDvIn",
       {u"SHORT-NAME = ReadVin", u"SHORT-NAME = read_vin_twice ReadVIN"}},
      // A trailing space counts: "Read Data" yes, "readings" no.
      {u"read ", {u"LONG-NAME = Read Data"}},
      {u" = ",
       {u"SHORT-NAME = ReadVin", u"SHORT-NAME = read_vin_twice ReadVIN",
        u"LONG-NAME = Read Data", u"\u00C9T\u00C9 = \u00E9t\u00E9"}},
      // Latin-1 letters fold too.
      {u"\u00C9t\u00E9 =", {u"\u00C9T\u00C9 = \u00E9t\u00E9"}},
      {u"**** id=\"ev\"", {u"ECU-VARIANT **** ID=\"EV\""}},
      // Longer than any text, absent, or a unit no narrow label can hold.
      {u"ECU-VARIANT **** ID=\"EV\" and more", {}},
      {u"xyz", {}},
      {u"\u0100", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(QString::fromStdU16String(c.term).toStdString());
    EXPECT_EQ(f.Search(c.term), c.hits);
    // Searching again gives the same list, not a doubled one.
    EXPECT_EQ(f.Search(c.term), c.hits);
  }
}

TEST(FilterSearch, EmptyTermOnlyEmptiesTheResults) {
  SearchFixture f;
  f.items.AddChild(kNoNode, u"A");
  EXPECT_EQ(f.Search(u"a").size(), 1u);
  EXPECT_TRUE(f.Search(u"").empty());
  EXPECT_EQ(f.results.GetCount(), 0u);
  EXPECT_EQ(f.around.busy, (std::vector<bool>{true, false, true, false}));
  EXPECT_FALSE(f.items.IsUpdating());
  EXPECT_FALSE(f.results.IsUpdating());
}

TEST(FilterSearch, BracketsAndBusyAreRestoredWhenAnExceptionLeaves) {
  SearchFixture f;
  f.items.AddChild(kNoNode, u"A");
  int itemsResets = 0;
  f.items.SetObserver({[&] { ++itemsResets; }, nullptr});
  f.results.SetObserver(
      {[] { throw std::runtime_error("view failed"); }, nullptr});
  cvexString term("a");
  EXPECT_THROW(FilterSearch(term, f.items, f.results, f.around),
               std::runtime_error);
  EXPECT_EQ(f.around.busy, (std::vector<bool>{true, false}));
  EXPECT_FALSE(f.items.IsUpdating());
  EXPECT_FALSE(f.results.IsUpdating());
  EXPECT_EQ(itemsResets, 0); // the outline's view is not reset by a search
}

TEST(FilterSearch, HitOfAClearedOrRebuiltOutlineIsNotFollowed) {
  SearchFixture f;
  f.items.AddChild(kNoNode, u"A");
  f.items.AddChild(0, u"B");
  ASSERT_EQ(f.Search(u"b").size(), 1u);
  EXPECT_EQ(ResultTarget(f.results, 0, f.items), 1u);
  EXPECT_EQ(ResultTarget(f.results, kNoNode, f.items), kNoNode);
  EXPECT_EQ(ResultTarget(f.results, 1, f.items), kNoNode);

  f.items.Clear();
  EXPECT_EQ(ResultTarget(f.results, 0, f.items), kNoNode);
  f.items.AddChild(kNoNode, u"A"); // same shape again
  f.items.AddChild(0, u"B");
  EXPECT_EQ(ResultTarget(f.results, 0, f.items), kNoNode);

  // A node added without data refers to nothing.
  f.results.Add(kNoNode, u"stray");
  EXPECT_EQ(ResultTarget(f.results, 1, f.items), kNoNode);
}

TEST(FilterSearch, PickElementNameTakesTheFirstWord) {
  const struct {
    std::u16string label;
    std::u16string name;
  } cases[] = {
      {u"SHORT-NAME = ReadVin", u"SHORT-NAME"},
      {u"DIAG-LAYER **** ID=\"x\"", u"DIAG-LAYER"},
      {u"NOSPACE", u"NOSPACE"},
      {u" leading", u""},
      {u"", u""},
      {u"tab\tsep", u"tab\tsep"},
      {u"\u0100\u0101 wide", u"\u0100\u0101"},
  };
  OutlineStore store;
  for (const auto &c : cases)
    store.AddChild(kNoNode, c.label);
  cvexString out("previous text");
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    PickElementName(store.GetText(i), out);
    EXPECT_EQ(std::u16string(out.buffer), cases[i].name) << i;
  }
}

// The literal way: widen, lower with cvexString::ToLower, Find from 0.
std::vector<NodeHandle> LiteralHits(const OutlineStore &items,
                                    const std::u16string &term) {
  cvexString lowered;
  lowered.AssignWide(term.c_str());
  lowered.ToLower();
  cvexString text;
  std::vector<NodeHandle> hits;
  for (uint32_t i = 0; i < items.GetCount(); ++i) {
    text.AssignWide(items.GetText(i).toU16String().c_str());
    text.ToLower();
    if (text.Find(0, lowered) >= 0)
      hits.push_back(i);
  }
  return hits;
}

TEST(FilterSearch, FastMatchingAgreesWithLiteralLowerAndFind) {
  // Units chosen for their case behaviour: ASCII, Latin-1 pairs (C0/E0,
  // D7/F7 which do not pair, DF, B5 micro, FF whose upper case is wide),
  // wide letters that lower into Latin-1 (0130, 212A, 0178), Greek sigma
  // forms, Cyrillic, surrogates, and the space.
  const std::u16string alphabet =
      u"aAbBzZ09 =*\"\u00C0\u00E0\u00C9\u00E9\u00D7\u00F7\u00DF\u00B5"
      u"\u00FF\u00DE\u00FE\u0130\u0131\u212A\u0178\u03A3\u03C3\u03C2"
      u"\u0416\u0436\xD801\xDC00\xDC28";
  std::mt19937 rng(2024);
  auto randomText = [&](std::size_t length, bool narrowOnly) {
    std::u16string s;
    const std::size_t limit = narrowOnly ? 22 : alphabet.size();
    for (std::size_t i = 0; i < length; ++i)
      s += alphabet[rng() % limit];
    return s;
  };

  SearchFixture f;
  std::vector<std::u16string> labels;
  for (int i = 0; i < 3000; ++i) {
    // Mostly narrow labels of every length around the 16-byte blocks.
    const std::size_t length = rng() % 70;
    labels.push_back(randomText(length, rng() % 5 != 0));
    f.items.AddChild(kNoNode, labels.back());
  }

  for (int round = 0; round < 300; ++round) {
    std::u16string term;
    if (round % 3 == 0) {
      term = randomText(1 + rng() % 3, round % 2 == 0);
    } else {
      // A slice of a label with its case flipped here and there.
      const std::u16string &source = labels[rng() % labels.size()];
      if (source.empty())
        continue;
      const std::size_t from = rng() % source.size();
      term = source.substr(from, 1 + rng() % 20);
      for (char16_t &u : term)
        if (rng() % 3 == 0)
          u = QChar(u).toUpper().unicode();
    }
    SCOPED_TRACE(QString::fromStdU16String(term).toStdString());
    cvexString text;
    text.AssignWide(term.c_str());
    FilterSearch(text, f.items, f.results, f.around);
    std::vector<NodeHandle> fast;
    for (uint32_t i = 0; i < f.results.GetCount(); ++i)
      fast.push_back(f.results.Data(i).handle);
    ASSERT_EQ(fast, LiteralHits(f.items, term));
  }
}

} // namespace
} // namespace outline
