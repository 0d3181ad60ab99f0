// Two versions compared: the input is one document and a mutation of it
// (a piece cut out, repeated or moved), or two documents.  Checks: a
// version against itself shows no change; the counts gathered while
// matching equal the listed changes; every change names nodes that exist
// and pair as it says; paired nodes and the subtrees listed as added or
// removed account for every node of each side.

#include "FuzzSupport.h"
#include "compare/Comparison.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlinePaths.h"

#include <string>
#include <vector>

namespace {

using outline::kNoNode;
using outline::NodeHandle;

using outline::Quiet;

struct Version {
  outline::OutlineStore store;
  odx::OdxIndex index{store, 1};
  explicit Version(const std::string &bytes) {
    Quiet quiet;
    outline::BuildOutlineFromBytes(
        {reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()},
        store, quiet, quiet);
  }
};

// Nodes of `store` that the comparison reads (not in an ignored subtree).
uint64_t Seen(const compare::Comparison &diff, compare::Side side,
              const outline::OutlineStore &store) {
  uint64_t n = 0;
  for (NodeHandle i = 0; i < store.GetCount(); ++i)
    n += !diff.IsIgnored(side, i);
  return n;
}

// The nodes a change's subtree holds; a single file's stand-in holds all.
uint64_t SubtreeSize(const outline::OutlineStore &store, NodeHandle node) {
  if (node == compare::kStandIn)
    return store.GetCount();
  FUZZ_CHECK(node < store.GetCount());
  return outline::SubtreeEnd(store, node) - node;
}

void Check(const Version &o, const Version &n, const compare::Options &options,
           bool same) {
  const compare::Comparison diff({o.store, o.index, u"o.odx"},
                                 {n.store, n.index, u"n.odx"}, options);
  compare::Counts listed;
  uint64_t addedNodes = 0, removedNodes = 0;
  diff.ForEachChange([&](const compare::Change &c) {
    switch (c.kind) {
    case compare::ChangeKind::Added:
      ++listed.added;
      FUZZ_CHECK(c.oldNode == kNoNode && c.where == c.newNode);
      FUZZ_CHECK(diff.PartnerOf(c.newNode) == kNoNode);
      addedNodes += SubtreeSize(n.store, c.newNode);
      break;
    case compare::ChangeKind::Removed:
      ++listed.removed;
      FUZZ_CHECK(c.newNode == kNoNode);
      removedNodes += SubtreeSize(o.store, c.oldNode);
      break;
    case compare::ChangeKind::Changed:
    case compare::ChangeKind::Renamed:
      (c.kind == compare::ChangeKind::Changed ? listed.changed
                                              : listed.renamed)++;
      FUZZ_CHECK(c.newNode < n.store.GetCount() ||
                 c.newNode == compare::kStandIn);
      FUZZ_CHECK(diff.PartnerOf(c.newNode) == c.oldNode);
      break;
    }
  });
  const compare::Counts counted = diff.Count();
  FUZZ_CHECK(
      counted.added == listed.added && counted.removed == listed.removed &&
      counted.changed == listed.changed && counted.renamed == listed.renamed);
  if (same)
    FUZZ_CHECK(counted.Total() == 0);
  // Ignored subtrees inside added or removed ones count with them.
  if (!options.ignoredTags.empty())
    return;
  uint64_t pairedNew = 0, pairedOld = 0;
  for (NodeHandle i = 0; i < n.store.GetCount(); ++i) {
    pairedNew += diff.PartnerOf(i) != kNoNode;
    pairedOld += diff.PartnerOf(i) < o.store.GetCount();
  }
  pairedOld += diff.PartnerOf(compare::kStandIn) < o.store.GetCount();
  FUZZ_CHECK(pairedNew + addedNodes == Seen(diff, compare::Side::New, n.store));
  FUZZ_CHECK(pairedOld + removedNodes ==
             Seen(diff, compare::Side::Old, o.store));
}

// A piece of the input cut out, repeated or moved elsewhere.
std::string Mutate(const std::string &s, uint8_t how, uint8_t a, uint8_t b) {
  if (s.empty())
    return s;
  const std::size_t from = a * s.size() / 256;
  const std::size_t length = 1 + b * (s.size() - from) / 256;
  const std::string piece = s.substr(from, length);
  std::string rest = s.substr(0, from) + s.substr(from + piece.size());
  switch (how % 3) {
  case 0:
    return rest;
  case 1:
    return s.substr(0, from) + piece + piece + s.substr(from + piece.size());
  default:
    return rest.insert((a + b) * rest.size() / 512, piece);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4)
    return 0;
  const uint8_t mode = data[0], a = data[1], b = data[2];
  const std::string text(reinterpret_cast<const char *>(data + 3), size - 3);
  compare::Options options;
  options.threads = 1;
  if (mode & 0x80)
    options.ignoredTags = {u"B", u"DESC"};
  std::string oldText = text, newText;
  if (mode & 0x40) {
    const std::size_t cut = a * text.size() / 256;
    oldText = text.substr(0, cut);
    newText = text.substr(cut);
  } else {
    newText = Mutate(text, mode, a, b);
  }
  const Version o(oldText), n(newText);
  Check(o, o, options, true);
  Check(o, n, options, false);
  Check(n, o, options, false);
  return 0;
}
