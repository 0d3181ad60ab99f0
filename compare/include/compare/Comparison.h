#pragma once

#include "outline/OutlineStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace odx {
class OdxIndex;
} // namespace odx

namespace compare {

enum class ChangeKind : uint8_t { Added, Removed, Changed, Renamed };

// A single file compared with a package or folder stands for a member of
// its own, named by the file; that member has no node, so a change naming
// it carries kStandIn.
inline constexpr outline::NodeHandle kStandIn = outline::kNoNode - 1;

// One line of the change list: the nodes of the two outlines it is about,
// kNoNode where a side has none (OLD for added, NEW for removed), and the
// NEW node it shows at: the node itself, or for a removed node the one its
// parent pairs with (kNoNode at the top).
struct Change {
  ChangeKind kind;
  outline::NodeHandle oldNode;
  outline::NodeHandle newNode;
  outline::NodeHandle where;
};

struct Counts {
  uint64_t added = 0;
  uint64_t removed = 0;
  uint64_t changed = 0;
  uint64_t renamed = 0;
  uint64_t Total() const { return added + removed + changed + renamed; }
};

// One version as the comparison reads it.  The index must be of the same
// store; both must outlive the comparison.
struct Version {
  const outline::OutlineStore &store;
  const odx::OdxIndex &index;
  // The file's name: it names a single file's stand-in member when the
  // other version is a package or folder.
  std::u16string_view fileName;
};

struct Options {
  // Subtrees whose element has one of these tags are left out on both
  // sides, before names and fingerprints are read.
  std::vector<std::u16string> ignoredTags;
  // Above 1, the two versions are read side by side.
  unsigned threads = 2;
};

enum class Side : uint8_t { Old, New };

// What changed from OLD to NEW.  Nodes pair top-down by key (tag and name),
// duplicates by a fingerprint of their subtree and then by order, the rest
// as renames when they share enough of their children's keys.  Labels of a
// pair are compared with the ID values left out and references judged by
// where they lead.  The matching is done once, when constructed; the
// queries then read it.
class Comparison {
public:
  Comparison(Version oldVersion, Version newVersion, Options options = {});
  ~Comparison();
  Comparison(const Comparison &) = delete;
  Comparison &operator=(const Comparison &) = delete;

  // Every change in NEW's document order, each removed node where the
  // children of its parent's partner end.
  void ForEachChange(const std::function<void(const Change &)> &visit) const;
  Counts Count() const;

  // "ODX/DIAG-LAYER-CONTAINER[x]/...": the keys from the top of one side,
  // a member by its whole label.
  std::u16string Path(Side side, outline::NodeHandle node) const;
  // The name a pair's OLD node had: an element's SHORT-NAME, a member's
  // label.
  std::u16string OldName(outline::NodeHandle oldNode) const;
  // The OLD node a NEW node is paired with (kStandIn for a single file's
  // stand-in); kNoNode when it has none.
  outline::NodeHandle PartnerOf(outline::NodeHandle newNode) const;
  // Whether the node is left out by the ignored tags.
  bool IsIgnored(Side side, outline::NodeHandle node) const;

  // What the comparison keeps beyond the two outlines and their indexes,
  // with the most its fingerprints took while matching.
  std::size_t MemoryBytes() const;

  class Impl;

private:
  std::unique_ptr<Impl> impl_;
};

} // namespace compare
