#pragma once

#include <QString>

#include <cstdint>
#include <cstddef>
#include <functional>
#include <string_view>

namespace viewer {

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
struct LabelView {
  const unsigned char *narrow = nullptr;  // set when the label is narrow
  const char16_t *wide = nullptr;         // set when it holds a unit > 0xFF
  uint32_t length = 0;                    // units
  QString toQString() const;
};

// Observer of the update bracket, so a Qt model can reset around a fill.
struct StoreObserver {
  std::function<void()> beginReset;
  std::function<void()> endReset;
};

// The outline tree: flat arrays in pre-order, labels in one arena, no heap
// object per node.  Operation names follow the tree view they stand in for.
class OutlineStore {
public:
  OutlineStore();
  ~OutlineStore();
  OutlineStore(const OutlineStore &) = delete;
  OutlineStore &operator=(const OutlineStore &) = delete;

  // Brackets nest; the observer hears one reset per outermost bracket.
  void BeginUpdate();
  void EndUpdate();
  bool IsUpdating() const;
  void SetObserver(StoreObserver observer);

  // Removes every node and starts a new generation, so every NodeRef taken
  // before is stale from now on.
  void Clear();
  // parent kNoNode appends a top-level node.  A parent that is neither the
  // last node nor one of its ancestors would break pre-order: it throws
  // std::invalid_argument.
  NodeHandle AddChild(NodeHandle parent, std::u16string_view text);
  NodeHandle AddChild(NodeHandle parent, const char16_t *text);  // to first NUL
  // sibling kNoNode appends a top-level node; otherwise a last sibling of it.
  NodeHandle Add(NodeHandle sibling, std::u16string_view text);

  void SetImageIndex(NodeHandle node, int index);
  void SetSelectedIndex(NodeHandle node, int index);
  int ImageIndex(NodeHandle node) const;
  int SelectedIndex(NodeHandle node) const;

  uint32_t GetCount() const;
  NodeHandle GetNodeFromIndex(uint32_t index) const;  // kNoNode when out of range
  LabelView GetText(NodeHandle node) const;

  void SetData(NodeHandle node, NodeRef data);
  NodeRef Data(NodeHandle node) const;  // default NodeRef when never set

  uint32_t Generation() const;
  NodeRef Ref(NodeHandle node) const;         // {node, Generation()}
  bool IsLive(NodeRef ref) const;             // same generation and in range

  // Structure queries for the Qt model; O(1) each (the child index is
  // rebuilt once after a fill, not per query).
  NodeHandle Parent(NodeHandle node) const;   // kNoNode for top level
  uint32_t ChildCount(NodeHandle parent) const;  // kNoNode: top-level count
  NodeHandle Child(NodeHandle parent, uint32_t row) const;
  uint32_t Row(NodeHandle node) const;
  uint32_t Depth(NodeHandle node) const;      // 1 for top-level nodes

  std::size_t MemoryBytes() const;  // for benchmarks

private:
  // (members: flat chunked arrays; see the implementation notes)
};

} // namespace viewer
