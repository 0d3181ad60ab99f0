#pragma once

// One version's outline as the comparison sees it: the invisible root, a
// single file's stand-in member when the other version is a database of
// members, ignored subtrees gone, and per node its kind and where its
// subtree ends.  Fingerprints of subtrees are made when first asked for
// and kept.

#include "compare/Comparison.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineStore.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace compare::detail {

inline constexpr outline::NodeHandle kRoot = outline::kNoNode;

enum NodeFlags : uint8_t {
  kElement = 0,
  kOther = 1, // processing instruction, <!...>
  kText = 2,  // a description's text
  kMember = 3,
  kKindMask = 3,
  kIgnored = 4,      // in an ignored subtree
  kContainer = 8,    // drawn as a container (made by a start tag)
  kDescription = 16, // a DESC element: its children are text
  kReference = 32    // the index lists it among the references
};

// Fingerprints of the subtrees asked about, by node: a few percent of the
// nodes in a real comparison, so they sit in an open-addressing table; past
// a sixteenth of the nodes a plain array (8 bytes a node) takes less room.
class FingerprintTable {
public:
  void Reset(uint32_t nodes);
  uint64_t Get(outline::NodeHandle h) const {
    if (!dense_.empty())
      return dense_[h];
    if (keys_.empty())
      return 0;
    for (std::size_t i = SlotOf(h);; i = (i + 1) & (keys_.size() - 1)) {
      if (keys_[i] == h + 1)
        return values_[i];
      if (keys_[i] == 0)
        return 0;
    }
  }
  void Set(outline::NodeHandle h, uint64_t value);
  void Release();
  // The most the table held at once, in bytes.
  std::size_t PeakBytes() const { return peak_; }

private:
  std::size_t SlotOf(outline::NodeHandle h) const {
    return (uint64_t{h} * 0x9E3779B97F4A7C15ull) >> shift_;
  }
  void Grow();
  void Note();

  uint32_t nodes_ = 0;
  std::size_t used_ = 0;
  unsigned shift_ = 64;
  std::vector<uint32_t> keys_; // node + 1; 0 = empty
  std::vector<uint64_t> values_;
  std::vector<uint64_t> dense_;
  std::size_t peak_ = 0;
};

// Where an element's label holds values the comparison leaves out: the ID
// value, and a reference's ID-REF value when both sides lead to a pair.
struct Normalised {
  outline::LabelView label;
  struct Hole {
    uint32_t from, length;
  };
  Hole holes[2];
  int count = 0;
};

class Tree {
public:
  Tree(const Version &version, bool standIn,
       const std::vector<std::u16string> &ignoredTags);

  // Kinds, subtree ends and ignored subtrees in one pass; the ODX index
  // built too, so both happen on the caller's thread.
  void Prepare();

  bool UsesStandIn() const { return standIn_; }
  uint32_t Count() const { return count_; }
  // Slot of a node in per-node tables that have room for the stand-in.
  uint32_t Slot(outline::NodeHandle h) const {
    return h == kStandIn ? count_ : h;
  }

  uint8_t Kind(outline::NodeHandle h) const {
    return h == kStandIn ? kMember : flags_[h] & kKindMask;
  }
  bool IsIgnored(outline::NodeHandle h) const {
    return h < count_ && (flags_[h] & kIgnored);
  }
  bool IsContainer(outline::NodeHandle h) const {
    return h == kStandIn || (h < count_ && (flags_[h] & kContainer));
  }
  uint8_t Flags(outline::NodeHandle h) const { return flags_[h]; }
  // One past the last node of the subtree.
  outline::NodeHandle End(outline::NodeHandle h) const {
    return size_[h] != kBigSubtree ? h + size_[h] : BigEnd(h);
  }
  // The size of the subtree when below kBigSubtree, else kBigSubtree: two
  // subtrees whose nodes have the same sizes in pre-order have one shape.
  uint8_t SizeByte(outline::NodeHandle h) const { return size_[h]; }
  static constexpr uint8_t kBigSubtree = 255;

  outline::NodeHandle Parent(outline::NodeHandle h) const;
  // Children in document order, ignored ones skipped; kNoNode at the end.
  outline::NodeHandle FirstChild(outline::NodeHandle h) const;
  outline::NodeHandle NextSibling(outline::NodeHandle parent,
                                  outline::NodeHandle child) const;

  outline::LabelView Label(outline::NodeHandle h) const {
    return h < count_ ? store_.GetText(h) : StandInLabel();
  }
  // The first word of an element's or declaration's label; a member's
  // name (its label without the size or "(unreadable)" a leaf adds).
  outline::LabelView Tag(outline::NodeHandle h) const;
  // The SHORT-NAME leaf that names an element; kNoNode when none does.
  outline::NodeHandle NameChild(outline::NodeHandle h) const;
  outline::LabelView Name(outline::NodeHandle h) const;
  uint64_t KeyHash(outline::NodeHandle h) const;
  // A member's document element (the element below ODX, or the top
  // element when that is not ODX); kNoNode when it holds none.
  outline::NodeHandle Document(outline::NodeHandle member) const;
  // A hash of the subtree as the comparison sees it: labels normalised,
  // references standing for the path of their targets, the order of
  // siblings left out.  0 for the stand-in.
  uint64_t Fingerprint(outline::NodeHandle h);
  // The path of keys from the top of the node's document.
  uint64_t PathHash(outline::NodeHandle h);

  std::span<const odx::OdxIndex::Reference> References() const {
    return references_;
  }
  const odx::OdxIndex::Reference *FindReference(outline::NodeHandle h) const;
  // The node a reference by ID leads to as the comparison sees it: kNoNode
  // when it resolves to nothing or into an ignored subtree.
  outline::NodeHandle EffectiveTarget(const odx::OdxIndex::Reference *r) const;
  // `blankReference`: leave out the ID-REF value too.
  Normalised Normalise(outline::NodeHandle h, bool blankReference) const;
  odx::NodeLabel Parts(outline::NodeHandle h,
                       const outline::LabelView &label) const;

  // The path of keys as text, "TAG[name]" per element.
  std::u16string PathText(outline::NodeHandle h) const;

  const outline::OutlineStore &Store() const { return store_; }
  void ReleaseFingerprints();
  std::size_t MemoryBytes() const;

private:
  outline::LabelView StandInLabel() const;
  outline::NodeHandle NameLeaf(outline::NodeHandle h,
                               outline::LabelView &value) const;
  void ForwardPass();
  outline::NodeHandle BigEnd(outline::NodeHandle h) const;
  uint64_t OwnHash(outline::NodeHandle h);
  bool IsIgnoredTag(const outline::LabelView &label) const;

  const outline::OutlineStore &store_;
  const odx::OdxIndex &index_;
  std::u16string_view fileName_;
  bool standIn_;
  const std::vector<std::u16string> &ignoredTags_;
  uint32_t count_;
  // Subtree sizes a byte a node; the ends of the few bigger subtrees in a
  // table sorted by node.
  std::vector<uint8_t> size_;
  std::vector<std::pair<outline::NodeHandle, outline::NodeHandle>> bigEnds_;
  std::vector<uint8_t> flags_;
  std::span<const odx::OdxIndex::Reference> references_;
  // Made on first use; 0 = not yet known.
  FingerprintTable fingerprints_;
  struct FingerprintFrame {
    outline::NodeHandle node, next;
    uint64_t sum;
  };
  std::vector<FingerprintFrame> fingerprintStack_;
  std::unordered_map<outline::NodeHandle, uint64_t> paths_;
};

// Whether two normalised labels hold the same units.
bool SameNormalised(const Normalised &a, const Normalised &b);

} // namespace compare::detail
