#pragma once

#include "platform/LargeMemory.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace outline {

// A node is named by its 32-bit position in creation order.  Nodes must be
// created in pre-order (each new node's parent is the last node or one of its
// ancestors), so a handle is also the node's pre-order index.
using NodeHandle = uint32_t;
inline constexpr NodeHandle kNoNode = UINT32_MAX;

// A reference to a node of one particular outline: `generation` tells whether
// the outline it was taken from is still the one in the store.
struct NodeRef {
  NodeHandle handle = kNoNode;
  uint32_t generation = 0;
  friend bool operator==(const NodeRef &, const NodeRef &) = default;
};

// A label as stored: Latin-1 labels (every unit <= 0xFF, the common case,
// since file bytes become units one to one) take one byte a unit.
// A narrow label held by an OutlineStore is followed by at least
// kNarrowLabelSlack readable bytes, so block-wise scans may load past its end.
struct LabelView {
  const unsigned char *narrow = nullptr; // set when the label is narrow
  const char16_t *wide = nullptr;        // set when it holds a unit > 0xFF
  uint32_t length = 0;                   // units
  QString toQString() const;
  // The first `units` units at most: what a view shows of a huge label.
  LabelView Prefix(uint32_t units) const {
    LabelView head = *this;
    head.length = length < units ? length : units;
    return head;
  }
  std::u16string toU16String() const;
};
inline constexpr std::size_t kNarrowLabelSlack = 16;

// Observer of the update bracket, so a Qt model can reset around a fill.
struct StoreObserver {
  std::function<void()> beginReset;
  std::function<void()> endReset;
};

// The outline tree: flat arrays in pre-order, labels in one arena, no heap
// object per node.  Operation names follow the tree view they stand in for.
//
// Layout: a 16-byte record per node (parent, label place, image indexes) in
// chunks of kNodeChunk records; label units in arena chunks (bytes for narrow
// labels, char16_t for wide ones) that never move once allocated, so growth
// never copies.  Nodes with equal short narrow labels share one copy.  The
// child index (CSR: children grouped by parent, the start of each parent's
// group, each node's row) is built on the first structure query after a change.
class OutlineStore {
public:
  OutlineStore();
  ~OutlineStore();
  OutlineStore(const OutlineStore &) = delete;
  OutlineStore &operator=(const OutlineStore &) = delete;

  // Brackets nest.  The observer hears at most one reset per outermost
  // bracket: beginReset just before the bracket's first change (so a bracket
  // that changes nothing does not disturb a view), endReset at the outermost
  // EndUpdate.  A change outside any bracket brackets itself.
  void BeginUpdate();
  void EndUpdate();
  bool IsUpdating() const;
  void SetObserver(StoreObserver observer);

  // Removes every node, frees its memory and starts a new generation, so
  // every NodeRef taken before is stale from now on.
  void Clear();
  // parent kNoNode appends a top-level node.  A parent that is neither the
  // last node nor one of its ancestors would break pre-order: it throws
  // std::invalid_argument and leaves the store unchanged.  The label ends at
  // the first NUL unit, if any.
  NodeHandle AddChild(NodeHandle parent, std::u16string_view text);
  NodeHandle AddChild(NodeHandle parent, const char16_t *text); // to first NUL
  // Copies a label as stored (of this or another store) without widening;
  // `image` becomes both picture indexes.
  NodeHandle AddChild(NodeHandle parent, const LabelView &text, int image = 0);
  // The label is the parts joined, written straight into the arena; the
  // parts must hold no NUL (texts measured up to their terminator do not).
  // `image` becomes both picture indexes at once.
  NodeHandle AddChildJoined(NodeHandle parent,
                            std::span<const std::u16string_view> parts,
                            int image = 0);
  // The same for parts that are bytes, each the unit of its own value
  // (Latin-1), as the builder cuts them from a document: stored as they are.
  NodeHandle AddChildLatin1(NodeHandle parent,
                            std::span<const std::string_view> parts,
                            int image = 0);
  // A node that shows the label of `node` in `source` without a copy of it,
  // and refers to it as its data (Data gives source.Ref(node)).  All such
  // nodes of a store borrow from one source; once that source is cleared
  // their labels read as empty, and their data is stale, so nothing freed
  // is ever read.  For hit lists of millions of nodes.
  NodeHandle AddBorrowed(NodeHandle parent, const OutlineStore &source,
                         NodeHandle node, int image);
  // sibling kNoNode appends a top-level node; otherwise a last sibling of it
  // (std::invalid_argument for a sibling that does not exist).
  NodeHandle Add(NodeHandle sibling, std::u16string_view text);
  NodeHandle Add(NodeHandle sibling, const LabelView &text);

  // Image indexes are kept in a byte: values outside -128..127 are stored as
  // -1 (no picture), which is what a tree with a small image list shows for
  // them anyway.
  void SetImageIndex(NodeHandle node, int index);
  void SetSelectedIndex(NodeHandle node, int index);
  int ImageIndex(NodeHandle node) const;    // -1 for an invalid node
  int SelectedIndex(NodeHandle node) const; // -1 for an invalid node

  uint32_t GetCount() const;
  NodeHandle
  GetNodeFromIndex(uint32_t index) const;    // kNoNode when out of range
  LabelView GetText(NodeHandle node) const { // empty for invalid node
    LabelView view;
    if (node >= count_)
      return view;
    const Node &record = At(node);
    if (record.chunk == kBorrowedBit)
      return source_ && source_->generation_ == sourceGeneration_
                 ? source_->GetText(record.offset)
                 : view;
    view.length = record.length;
    if (record.chunk & kWideBit)
      view.wide = wide_.chunks[record.chunk & ~kWideBit].get() + record.offset;
    else
      view.narrow = narrow_.chunks[record.chunk].get() + record.offset;
    return view;
  }

  void SetData(NodeHandle node, NodeRef data);
  NodeRef Data(NodeHandle node) const; // default NodeRef when never set

  uint32_t Generation() const;
  NodeRef Ref(NodeHandle node) const; // {node, Generation()}
  bool IsLive(NodeRef ref) const;     // same generation and in range

  // Structure queries for the Qt model; O(1) each (the child index is
  // rebuilt once after a fill, not per query).  Invalid nodes give kNoNode
  // or 0.
  NodeHandle Parent(NodeHandle node) const { // kNoNode for top level
    return node < count_ ? At(node).parent : kNoNode;
  }
  uint32_t ChildCount(NodeHandle parent) const; // kNoNode: top-level count
  NodeHandle Child(NodeHandle parent, uint32_t row) const;
  uint32_t Row(NodeHandle node) const;
  uint32_t Depth(NodeHandle node) const; // 1 for top-level nodes

  // A package's or a folder's outline: its top-level nodes stand for
  // members or files (each also noted, see NoteMember).  Cleared with the
  // nodes.
  void MarkPackage() { package_ = true; }
  bool IsPackage() const { return package_; }

  // What the longest label and the deepest node of this outline are, kept
  // as nodes are added, so a view can size its column without measuring.
  uint32_t LongestLabel() const { return longestLabel_; }
  uint32_t DeepestNode() const { return deepestNode_; }

  // What a label's text alone does not tell, noted by the builder for the
  // few nodes that need it, so the others pay nothing:
  //  - NoteAttributeStart: where the attribute text starts in a label that
  //    holds both a value and attributes ("name = value **** attributes";
  //    the value and the attributes may each contain " **** ");
  //  - NoteRawText: the node is raw description text although its parent is
  //    not a DESC element (an unpaired DESC end tag made it);
  //  - NoteMember: the node stands for a file of an opened folder or a
  //    member of a package, labelled with its whole name: it is no element.
  // Only the node made last can be noted, once (std::invalid_argument
  // otherwise), so the notes stay sorted by node.
  struct LabelNote {
    NodeHandle node;
    uint32_t attributeStart; // units into the label; kRawText for raw text
  };
  static constexpr uint32_t kRawText = UINT32_MAX;
  static constexpr uint32_t kMember = UINT32_MAX - 1;
  void NoteAttributeStart(NodeHandle node, uint32_t unit);
  void NoteRawText(NodeHandle node);
  void NoteMember(NodeHandle node);
  bool IsMember(NodeHandle node) const;
  std::span<const LabelNote> LabelNotes() const;         // sorted by node
  const LabelNote *FindLabelNote(NodeHandle node) const; // nullptr: none

  std::size_t MemoryBytes() const; // for benchmarks

  // Calls `block(view)` on the stored text of all labels, a block at a
  // time, until it returns true; returns whether it did.  Each label lies
  // inside one block (a narrow block is followed by kNarrowLabelSlack
  // readable bytes), and a block may also hold text of labels since taken
  // back, so a scan can rule a text out for every label at once, never in.
  // Borrowed labels lie in their source: a store holding any says true
  // without a call.
  template <typename Block> bool AnyLabelBlock(Block block) const {
    if (source_)
      return true;
    for (std::size_t i = 0; i < narrow_.chunks.size(); ++i) {
      LabelView view;
      view.narrow = narrow_.chunks[i].get();
      view.length = static_cast<uint32_t>(narrow_.written[i]);
      if (block(view))
        return true;
    }
    for (std::size_t i = 0; i < wide_.chunks.size(); ++i) {
      LabelView view;
      view.wide = wide_.chunks[i].get();
      view.length = static_cast<uint32_t>(wide_.written[i]);
      if (block(view))
        return true;
    }
    return false;
  }

  // A point to come back to: Restore removes every node added since Save
  // and gives their memory back, as if they had never been added (a
  // package member found damaged at its end).  Only valid while nodes were
  // merely added since: no Clear, no notes or data changed on older nodes.
  struct Checkpoint {
    uint32_t generation = 0;
    uint32_t count = 0;
    std::size_t narrowChunks = 0, narrowCurrent = 0, narrowUsed = 0;
    std::size_t wideChunks = 0, wideCurrent = 0, wideUsed = 0;
    std::size_t notes = 0;
    std::vector<NodeHandle> rightmost;
    uint32_t longestLabel = 0, deepestNode = 0;
  };
  Checkpoint Save() const;
  void Restore(const Checkpoint &point);

  static constexpr uint32_t kNodeChunkBits = 18;
  static constexpr uint32_t kNodeChunk = 1u << kNodeChunkBits;

private:
  struct Node {
    NodeHandle parent;
    uint32_t length; // units
    uint32_t offset; // units into its arena chunk
    uint16_t chunk;  // arena chunk; kWideBit: the wide arena; kBorrowedBit:
                     // offset is a node of source_
    int8_t image;
    int8_t selected;
  };
  static_assert(sizeof(Node) == 16, "node record size is part of the budget");
  static constexpr uint16_t kWideBit = 0x8000;
  static constexpr uint16_t kBorrowedBit = 0x4000;

  // One growable arena of label units in chunks that never move.
  template <typename Unit> struct Arena {
    std::vector<platform::LargeArray<Unit>> chunks;
    std::vector<std::size_t> capacities; // units, slack excluded
    std::vector<std::size_t> written;    // units ever written, from the start
    std::size_t used = 0;                // units used in chunks.back()
    std::size_t current = 0;             // chunk receiving small labels
    std::size_t Bytes() const;
    // Reserves room for n units (plus slack); returns chunk and offset.
    Unit *Reserve(std::size_t n, uint16_t &chunk, uint32_t &offset);
  };

  // Labels met before are stored once: a small table, keyed by a hash of
  // the bytes, remembers where recent short labels lie, and a label equal
  // to one of them points there instead of taking room of its own.  Most
  // labels of a document repeat ("PARAMS", "BIT-LENGTH = 8", a type with
  // its attributes), so this keeps the arena at a third of its size.
  // A slot in eight bytes, so the table stays in the processor's cache:
  // offset (a chunk holds at most 2^26 bytes), chunk, length (0: empty)
  // and more bits of the hash.
  using SharedLabel = uint64_t;
  static constexpr std::size_t kLongestSharedLabel = 128;
  bool FindShared(const unsigned char *label, std::size_t length,
                  uint16_t &chunk, uint32_t &offset);
  void RoomForShared();

  void Changing(); // fires beginReset when a bracket sees its first change
  template <bool Wide, typename Fill>
  NodeHandle Append(NodeHandle parent, std::size_t length, Fill fill,
                    int image = 0);
  void CheckParent(NodeHandle parent, std::size_t &keep) const;
  NodeHandle SiblingParent(NodeHandle sibling) const;
  Node &At(NodeHandle node) {
    return nodes_[node >> kNodeChunkBits][node & (kNodeChunk - 1)];
  }
  const Node &At(NodeHandle node) const {
    return nodes_[node >> kNodeChunkBits][node & (kNodeChunk - 1)];
  }
  void EnsureIndex() const;
  bool IsFlat() const;
  void RoomForNode(NodeHandle node);
  void SetImage(NodeHandle node, int index, bool selected);
  void AddNote(NodeHandle node, uint32_t attributeStart);

  static constexpr uint32_t kFirstChunkNodes = 256;
  std::vector<platform::LargeArray<Node>> nodes_;
  uint32_t firstChunkCapacity_ = 0; // records in nodes_[0]
  uint32_t count_ = 0;
  Arena<unsigned char> narrow_;
  Arena<char16_t> wide_;
  std::vector<std::unique_ptr<NodeRef[]>> data_; // chunks made by SetData
  std::vector<LabelNote> notes_;
  std::vector<NodeHandle> rightmost_; // path from a top-level node to the last
  std::unique_ptr<SharedLabel[]> shared_;
  std::size_t sharedSlots_ = 0; // a power of two, grown with the outline

  bool package_ = false;
  const OutlineStore *source_ = nullptr; // what borrowed labels come from
  uint32_t sourceGeneration_ = 0;
  uint32_t longestLabel_ = 0;
  uint32_t deepestNode_ = 0;
  uint32_t generation_;
  int updateDepth_ = 0;
  bool resetFired_ = false;
  StoreObserver observer_;

  // Child index; slot count_ stands for the top level.
  mutable bool indexValid_ = false;
  mutable std::vector<uint32_t> childStart_; // count_ + 2 entries
  // Written in full before they are read, so they are never cleared first.
  mutable platform::LargeArray<NodeHandle> children_; // grouped by parent
  mutable platform::LargeArray<uint32_t> rows_;
  mutable std::size_t indexCapacity_ = 0; // entries in each of the two
};

// Holds an update bracket open for its lifetime, on every path.
class StoreUpdate {
public:
  explicit StoreUpdate(OutlineStore &store) : store_(store) {
    store_.BeginUpdate();
  }
  ~StoreUpdate() { store_.EndUpdate(); }
  StoreUpdate(const StoreUpdate &) = delete;
  StoreUpdate &operator=(const StoreUpdate &) = delete;

private:
  OutlineStore &store_;
};

} // namespace outline
