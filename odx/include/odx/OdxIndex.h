#pragma once

#include "odx/LinkRules.h"
#include "outline/OutlineStore.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace odx {

// What makes an outline ODX, read from an outline store:
//  - names: an element is named by its first child element when that is a
//    SHORT-NAME leaf with a value (processing instructions and <!...>
//    leaves before it do not count);
//  - documents (the elements right below a top-level ODX element, or a
//    top-level element that is not ODX; "top-level" counts from a file or
//    package member) and diagnostic layers (LinkRules.h);
//  - references, each resolved to at most one target:
//    * by ID (attributes hold ID-REF, with DOCREF and DOCTYPE): among the
//      elements whose ID equals the value; without DOCREF those inside the
//      reference's innermost layer, else inside its document; with DOCREF
//      those inside the loaded layers named so when DOCTYPE is LAYER,
//      otherwise inside the documents named so, or, when no document has
//      the name, the layers;
//    * by short name (a "...-SNREF" element with a SHORT-NAME attribute):
//      among the elements of the tags its rule names (LinkRules.h) with
//      that name: first a parameter interface's own messages, then the
//      nearest enclosing element holding any, where passing a layer
//      searches its parent layers (depth first, each once) before going on
//      upwards, and past the top every document;
//    the first candidate in pre-order wins, and several make the reference
//    ambiguous;
//  - problems: unresolved and ambiguous references, and IDs used twice
//    within one layer (or within one document outside any layer).
//
// The index is built on the first query and kept until the outline changes
// (a new generation, or nodes or notes added); every query checks that
// first, so an answer never describes an earlier outline.  Queries taking a
// NodeRef answer nothing for a ref of another generation.  Views and spans
// returned stay valid until the outline changes.  The store must outlive
// the index.
class OdxIndex {
public:
  // `threads` above 1 lets a second thread read half of a big outline
  // (65536 nodes or more) while this one reads the other; the answers are
  // the same either way.
  explicit OdxIndex(const outline::OutlineStore &store, unsigned threads = 2);
  OdxIndex(const OdxIndex &) = delete;
  OdxIndex &operator=(const OdxIndex &) = delete;

  enum class ReferenceKind : uint8_t { ById, ByName };
  // Why a reference leads where it does (or nowhere).
  enum class Resolution : uint8_t {
    Resolved,
    NoIdInDocument, // by ID, no DOCREF: nothing in its layer or document
    NotLoaded,      // the DOCREF names no loaded layer or document
    NoIdInPlace,    // the DOCREF's place holds no such ID
    NoName,         // by short name: nothing of that name anywhere
  };
  struct Reference {
    outline::NodeHandle node;
    outline::NodeHandle target; // kNoNode: unresolved
    uint32_t candidates;        // in the place that decided
    ReferenceKind kind;
    Resolution resolution;
    bool ambiguous; // several candidates: the first was taken
  };

  // The generation of the outline the index describes (building it for the
  // store's current outline first, when needed).
  uint32_t Generation() const;

  // The node's name as a piece of its SHORT-NAME leaf's label; empty when
  // it has none.  O(1), for drawing rows.
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
  // Why a reference is unresolved or ambiguous, as a user reads it
  // ("ISO_15765_2 is not loaded"); empty for one that simply resolves.
  QString Reason(const Reference &reference) const;
  // How many references name a document or layer that is not loaded.
  std::size_t NotLoadedCount() const;

  // Documents and layers in pre-order.
  std::span<const outline::NodeHandle> Documents() const;
  std::span<const outline::NodeHandle> Layers() const;
  // The innermost document or layer holding the node (itself included);
  // kNoNode when there is none.
  outline::NodeHandle DocumentOf(outline::NodeHandle node) const;
  outline::NodeHandle LayerOf(outline::NodeHandle node) const;
  LayerKind KindOfLayer(outline::NodeHandle node) const; // None: no layer
  // One past the last node of a document's or layer's subtree; kNoNode for
  // a node that is neither.
  outline::NodeHandle EndOf(outline::NodeHandle documentOrLayer) const;

  // A layer's PARENT-REF elements in document order, with the layer each
  // resolves to (kNoNode when it resolves to nothing or to no layer).
  struct ParentRef {
    outline::NodeHandle node;
    outline::NodeHandle target;
  };
  std::vector<ParentRef> ParentRefs(outline::NodeHandle layer) const;

  enum class ProblemKind : uint8_t { Unresolved, Ambiguous, DuplicateId };
  struct Problem {
    outline::NodeHandle node;
    ProblemKind kind;
    uint32_t count; // DuplicateId: how many elements share the ID
  };
  // Grouped by kind in the order above, each group in pre-order.
  std::vector<Problem> Problems() const;
  QString Reason(const Problem &problem) const;

  std::size_t MemoryBytes() const; // what the index keeps, for benchmarks

  // Places (documents and layers) and the ends of a few subtrees: what
  // the build leaves for the queries above.
  struct Place {
    outline::NodeHandle node;
    outline::NodeHandle end;
    LayerKind kind; // None for a document
  };

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
  const Place *FindPlace(const std::vector<Place> &places,
                         outline::NodeHandle node) const;

  const outline::OutlineStore &store_;
  const unsigned threads_;
  mutable bool built_ = false;
  mutable Fingerprint fingerprint_;
  // Names by rank: a bit per node says whether it has a name; the length of
  // each name and how far after its element its SHORT-NAME leaf lies follow
  // in node order, each found by counting the set bits before its node (a
  // running count per 64-bit word, then one popcount).
  mutable std::vector<uint64_t> named_;
  mutable std::vector<uint32_t> namedBefore_;
  mutable std::vector<uint32_t> nameLength_;
  mutable std::vector<uint32_t> nameOffset_;
  mutable std::vector<Reference> references_; // pre-order
  mutable std::vector<Place> documents_, layers_;
  // For each place, the place of the same list enclosing it (an index, or
  // UINT32_MAX): places nest or are apart, never overlap.
  mutable std::vector<uint32_t> documentParent_, layerParent_;
  mutable std::vector<outline::NodeHandle> documentNodes_, layerNodes_;
  // PARENT-REF references by layer: (layer, reference index), sorted.
  mutable std::vector<std::pair<outline::NodeHandle, uint32_t>> parentRefs_;
  mutable std::vector<Problem> duplicates_;
};

// False for what is no element: processing instructions and <!...>
// leaves, description text, and the nodes standing for files or package
// members.
bool IsElement(const outline::OutlineStore &store, outline::NodeHandle node);

} // namespace odx
