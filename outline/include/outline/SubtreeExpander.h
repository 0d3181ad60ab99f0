#pragma once

#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

namespace outline {

class OutlineModel;

// What the expander drives: the expanded state of the nodes in a view.
class ExpansionView {
public:
  virtual ~ExpansionView() = default;
  virtual bool IsExpanded(NodeHandle node) const = 0;
  virtual void SetExpanded(NodeHandle node, bool expanded) = 0;
  // Before every slice: a view may postpone laying out rows until the
  // event loop runs, instead of doing it once per call.
  virtual void BeginSlice() {}
};

// Expands or collapses a whole subtree of an outline view in slices, so the
// event loop keeps running between them even on millions of nodes.  The
// busy cursor shows from start to end; a new request, a rebuilt outline or
// Cancel() stops a running one.  Slices run from the Qt event loop; the
// expander is no QObject of its own, a member object owns the queued slices
// and the reset connection, so they go with it.
class SubtreeExpander {
public:
  enum class Kind { Expand, Collapse };
  struct Outcome {
    Kind kind = Kind::Expand;
    uint32_t nodes = 0;  // nodes whose state changed
    bool capped = false; // an expansion stopped at the row limit
    bool cancelled = false;
  };
  using FinishedHandler = std::function<void(const Outcome &)>;

  // A tree view keeps a row record and a persistent index per shown or
  // expanded node; an expansion stops once it has shown this many rows.
  static constexpr uint32_t kDefaultMaxShownRows = 1'000'000;

  SubtreeExpander(ExpansionView &view, OutlineModel &model,
                  const OutlineStore &store, BusyIndicator &busy);
  ~SubtreeExpander();
  SubtreeExpander(const SubtreeExpander &) = delete;
  SubtreeExpander &operator=(const SubtreeExpander &) = delete;

  void SetFinishedHandler(FinishedHandler handler);
  void SetMaxShownRows(uint32_t rows) { maxShownRows_ = rows; }
  uint32_t MaxShownRows() const { return maxShownRows_; }

  // The node itself and every container below it.
  void ExpandBelow(NodeHandle root);
  void CollapseBelow(NodeHandle root);
  void Cancel();
  bool IsRunning() const { return running_; }

private:
  void Start(Kind kind, NodeHandle root);
  void Step();
  bool ExpandSlice();
  bool CollapseSlice();
  void Finish(bool cancelled);

  ExpansionView &view_;
  const OutlineStore &store_;
  BusyIndicator &busy_;
  QObject context_; // receives the queued slices; drops them when destroyed
  FinishedHandler finished_;
  uint32_t maxShownRows_ = kDefaultMaxShownRows;

  bool running_ = false;
  uint64_t ticket_ = 0; // bumped on every start and stop; stale slices drop
  Kind kind_ = Kind::Expand;
  uint32_t generation_ = 0;
  uint32_t done_ = 0;
  bool capped_ = false;
  // Expand: breadth-first queue of containers, next at head_.
  std::vector<NodeHandle> queue_;
  std::size_t head_ = 0;
  uint64_t shownRows_ = 0;
  // Collapse: the subtree's handles still to visit.
  NodeHandle next_ = 0;
  NodeHandle end_ = 0;
};

} // namespace outline
