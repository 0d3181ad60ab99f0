#pragma once

#include "outline/OutlineStore.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace odx {

// What makes an outline ODX, read from an outline store:
//  - the name of a container: the value of the SHORT-NAME leaf that is its
//    first child (none when that child is anything else or has no value);
//  - targets (nodes whose attributes hold ID) and references (nodes whose
//    attributes hold ID-REF, with DOCREF as the document hint), each
//    reference resolved to at most one target.
// A reference with value v and hint d resolves among the targets with ID v:
// with a hint (an empty one counts), those with an ancestor-or-self named d;
// without one, those in its own top-level subtree (its document); either
// filter is dropped when it keeps none.  The first in pre-order wins.
//
// The index is built on the first query and kept until the outline changes
// (a new generation, or nodes or notes added); every query checks that
// first, so an answer never describes an earlier outline.  Queries taking a
// NodeRef answer nothing for a ref of another generation.  Views and spans
// returned stay valid until the outline changes.  The store must outlive
// the index.
//
// Memory: under a quarter of a byte a node and four bytes a name for the
// names, eight bytes a reference.
class OdxIndex {
public:
  // `threads` above 1 lets a second thread read half of a big outline
  // (65536 nodes or more) while this one reads the other; the answers are
  // the same either way.
  explicit OdxIndex(const outline::OutlineStore &store, unsigned threads = 2);
  OdxIndex(const OdxIndex &) = delete;
  OdxIndex &operator=(const OdxIndex &) = delete;

  struct Reference {
    outline::NodeHandle node;
    outline::NodeHandle target; // kNoNode: unresolved
  };

  // The generation of the outline the index describes (building it for the
  // store's current outline first, when needed).
  uint32_t Generation() const;

  // The node's name as a piece of its first child's label; empty when it
  // has none.  O(1), for drawing rows.
  outline::LabelView Name(outline::NodeHandle node) const;

  // Go to Definition: the target `reference` resolves to; a default NodeRef
  // when it is stale, not a reference, or unresolved.
  outline::NodeRef Definition(outline::NodeRef reference) const;
  // Find Usages: every reference resolving to `target`, in pre-order.
  std::vector<outline::NodeRef> Usages(outline::NodeRef target) const;
  // The references that resolve to nothing, in pre-order.
  std::vector<outline::NodeRef> Unresolved() const;
  // Every reference with what it resolves to, in pre-order.
  std::span<const Reference> References() const;
  // The reference record of `node`; nullptr when it is not a reference.
  const Reference *FindReference(outline::NodeHandle node) const;
  // Whether the node's attributes hold ID (read from its label).
  bool IsTarget(outline::NodeHandle node) const;

  std::size_t MemoryBytes() const; // what the index keeps, for benchmarks

private:
  struct Fingerprint {
    uint32_t generation = 0;
    uint32_t count = 0;
    std::size_t notes = 0;
    friend bool operator==(const Fingerprint &, const Fingerprint &) = default;
  };
  Fingerprint Current() const;
  void Refresh() const;
  void Build() const;

  const outline::OutlineStore &store_;
  const unsigned threads_;
  mutable bool built_ = false;
  mutable Fingerprint fingerprint_;
  // Names by rank: a bit per node says whether it has a name; the lengths
  // of the names follow in node order, each found by counting the set bits
  // before its node (a running count per 64-bit word, then one popcount).
  // A name starts right after "SHORT-NAME = " in the next node's label.
  mutable std::vector<uint64_t> named_;
  mutable std::vector<uint32_t> namedBefore_;
  mutable std::vector<uint32_t> nameLength_;
  mutable std::vector<Reference> references_; // pre-order
};

} // namespace odx
