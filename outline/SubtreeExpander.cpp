#include "outline/SubtreeExpander.h"

#include "outline/OutlineModel.h"
#include "outline/OutlinePaths.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace outline {

namespace {

// A slice expands at least this many nodes, and at least as many as it has
// shown so far: each slice ends with one relayout of every shown row, so
// growing slices keep the total layout work linear.
constexpr uint64_t kMinExpandSlice = 8192;
constexpr qint64 kCollapseSliceMs = 30;

} // namespace

SubtreeExpander::SubtreeExpander(ExpansionView &view, OutlineModel &model,
                                 const OutlineStore &store, BusyIndicator &busy)
    : view_(view), store_(store), busy_(busy) {
  // A rebuilt outline takes every node of the running request with it.
  QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, &context_,
                   [this] { Cancel(); });
}

SubtreeExpander::~SubtreeExpander() {
  if (running_)
    busy_.SetBusy(false);
}

void SubtreeExpander::SetFinishedHandler(FinishedHandler handler) {
  finished_ = std::move(handler);
}

void SubtreeExpander::ExpandBelow(NodeHandle root) {
  Start(Kind::Expand, root);
}

void SubtreeExpander::CollapseBelow(NodeHandle root) {
  Start(Kind::Collapse, root);
}

void SubtreeExpander::Cancel() {
  if (running_)
    Finish(true);
}

void SubtreeExpander::Start(Kind kind, NodeHandle root) {
  Cancel();
  if (root >= store_.GetCount())
    return;
  kind_ = kind;
  running_ = true;
  ++ticket_;
  generation_ = store_.Generation();
  done_ = 0;
  capped_ = false;
  queue_.clear();
  head_ = 0;
  shownRows_ = 0;
  if (kind == Kind::Expand) {
    queue_.push_back(root);
  } else {
    next_ = root;
    end_ = SubtreeEnd(store_, root);
  }
  busy_.SetBusy(true);
  Step();
}

void SubtreeExpander::Step() {
  if (!running_)
    return;
  if (store_.Generation() != generation_) {
    Finish(true);
    return;
  }
  view_.BeginSlice();
  const bool more = kind_ == Kind::Expand ? ExpandSlice() : CollapseSlice();
  if (!more) {
    Finish(false);
    return;
  }
  QTimer::singleShot(0, &context_, [this, ticket = ticket_] {
    if (ticket == ticket_)
      Step();
  });
}

bool SubtreeExpander::ExpandSlice() {
  const uint64_t slice = std::max(kMinExpandSlice, shownRows_);
  uint64_t work = 0;
  while (head_ < queue_.size() && work < slice) {
    const NodeHandle node = queue_[head_];
    const uint32_t children = store_.ChildCount(node);
    // The first node always opens, as a click would open it.
    if (shownRows_ > 0 && shownRows_ + children > maxShownRows_) {
      capped_ = true;
      return false;
    }
    ++head_;
    // Only what changes counts: a leaf has nothing to open, an open node is
    // open already.
    if (children > 0 && !view_.IsExpanded(node)) {
      view_.SetExpanded(node, true);
      ++done_;
    }
    shownRows_ += children;
    work += 1 + children;
    for (uint32_t row = 0; row < children; ++row) {
      const NodeHandle child = store_.Child(node, row);
      if (store_.ChildCount(child) > 0)
        queue_.push_back(child);
    }
  }
  if (head_ == queue_.size())
    return false;
  // Give back the consumed front now and then, so the queue stays as long as
  // the level being expanded rather than the whole subtree.
  if (head_ > queue_.size() / 2) {
    queue_.erase(queue_.begin(),
                 queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  return true;
}

bool SubtreeExpander::CollapseSlice() {
  QElapsedTimer clock;
  clock.start();
  while (next_ < end_) {
    const NodeHandle node = next_++;
    if (store_.ChildCount(node) > 0 && view_.IsExpanded(node)) {
      view_.SetExpanded(node, false);
      ++done_;
    }
    if ((next_ & 0xFFF) == 0 && clock.elapsed() >= kCollapseSliceMs)
      return next_ < end_;
  }
  return false;
}

void SubtreeExpander::Finish(bool cancelled) {
  running_ = false;
  ++ticket_;
  std::vector<NodeHandle>().swap(queue_);
  head_ = 0;
  busy_.SetBusy(false);
  if (finished_)
    finished_(Outcome{kind_, done_, capped_, cancelled});
}

} // namespace outline
