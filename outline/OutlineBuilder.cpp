#include "outline/OutlineBuilder.h"

#include "platform/FileHandle.h"
#include "xml/cvexXML.h"

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

namespace outline {
namespace {

constexpr int kContainerImage = 2;
constexpr int kLeafImage = 0;
constexpr int kMaxDepth = 255;

// Whole-name, case-sensitive test for "DESC".  Reads unit by unit and stops at
// the first mismatch, so it never looks past the terminator; it is the same
// test as EqualsAnsi("DESC") without building a temporary string per token.
bool IsDesc(const cvexString &name) {
  const char16_t *b = name.buffer;
  return b != nullptr && b[0] == u'D' && b[1] == u'E' && b[2] == u'S' &&
         b[3] == u'C' && b[4] == 0;
}

// Puts the surroundings back on every way out of a run, also when an
// exception (out of memory) leaves it, so the tree never stays in update
// mode and the cursor never stays busy.
class RunGuard {
public:
  RunGuard(OutlineStore &tree, ProgressSink &progress, BusyIndicator &busy)
      : tree_(tree), progress_(progress), busy_(busy) {
    busy_.SetBusy(true);
  }
  void BeginTree() {
    tree_.BeginUpdate();
    updating_ = true;
  }
  ~RunGuard() {
    // Each step on its own: a sink that fails must not keep the others from
    // being put back, nor throw out of a destructor during unwinding.
    Quietly([&] {
      if (updating_)
        tree_.EndUpdate();
    });
    Quietly([&] { progress_.SetPosition(100); });
    Quietly([&] { progress_.SetVisible(false); });
    Quietly([&] { busy_.SetBusy(false); });
  }
  RunGuard(const RunGuard &) = delete;
  RunGuard &operator=(const RunGuard &) = delete;

private:
  template <typename F> static void Quietly(F &&f) noexcept {
    try {
      f();
    } catch (...) {
    }
  }

  OutlineStore &tree_;
  ProgressSink &progress_;
  BusyIndicator &busy_;
  bool updating_ = false;
};

std::u16string_view View(const cvexString &s) {
  return {s.buffer, static_cast<std::size_t>(s.Length())};
}

// The label of a node as the parts "name = value **** attributes", joined
// by the store straight into its arena, so no label is copied twice.
class LabelParts {
public:
  std::span<const std::u16string_view> Container(const cvexString &name,
                                                 const cvexString &attributes) {
    n_ = 0;
    parts_[n_++] = View(name);
    AddAttributes(attributes);
    return {parts_.data(), n_};
  }
  // Where the attribute text starts in the label last put together.
  uint32_t AttributeStart() const {
    std::size_t units = 0;
    for (std::size_t i = 0; i + 1 < n_; ++i)
      units += parts_[i].size();
    return static_cast<uint32_t>(units);
  }
  std::span<const std::u16string_view> Leaf(const cvexString &name,
                                            const cvexString &value,
                                            const cvexString &attributes) {
    n_ = 0;
    parts_[n_++] = View(name);
    if (!value.IsEmpty()) {
      parts_[n_++] = kValueSeparator;
      parts_[n_++] = View(value);
    }
    AddAttributes(attributes);
    return {parts_.data(), n_};
  }

private:
  void AddAttributes(const cvexString &attributes) {
    if (!attributes.IsEmpty()) {
      parts_[n_++] = kAttributeSeparator;
      parts_[n_++] = View(attributes);
    }
  }
  std::array<std::u16string_view, 5> parts_;
  std::size_t n_ = 0;
};

} // namespace

bool IsDescriptionLabel(const LabelView &label) {
  constexpr std::u16string_view kDesc = u"DESC";
  if (label.length < kDesc.size() ||
      (label.length > kDesc.size() &&
       label.length < kDesc.size() + kAttributeSeparator.size()))
    return false;
  auto unit = [&label](std::size_t i) -> char16_t {
    return label.narrow ? label.narrow[i] : label.wide[i];
  };
  for (std::size_t i = 0; i < kDesc.size(); ++i)
    if (unit(i) != kDesc[i])
      return false;
  if (label.length == kDesc.size())
    return true;
  for (std::size_t i = 0; i < kAttributeSeparator.size(); ++i)
    if (unit(kDesc.size() + i) != kAttributeSeparator[i])
      return false;
  return true;
}

BuildStatus BuildOutline(const cvexString &path, OutlineStore &tree,
                         ProgressSink &progress, BusyIndicator &busy) {
  std::array<NodeHandle, kMaxDepth + 1> stack;
  stack.fill(kNoNode);
  int32_t depth = 0;
  bool capturing = false;
  // No DESC start tag seen yet in this run: a DESC end tag then has nothing
  // to copy from, and makes no text node (it only closes a level).
  int32_t captureStart = -1;

  RunGuard guard(tree, progress, busy);
  cvexString filePath;
  filePath.Assign(path);
  guard.BeginTree();
  tree.Clear();
  progress.SetPosition(0);
  progress.SetVisible(true);

  cvexXML reader;
  if (!reader.Open(filePath, 0)) {
    return platform::DiagnoseFile(filePath.buffer) ==
                   platform::FileProblem::TooLarge
               ? BuildStatus::TooLarge
               : BuildStatus::CouldNotOpen;
  }

  unsigned char kind = 0;
  cvexString name;
  cvexString value;
  cvexString attributes;
  cvexString description;
  int32_t copied = 0;
  LabelParts label;

  while (reader.NextToken(kind, name, value, attributes)) {
    switch (kind) {
    case xtOpen: {
      const bool startsDescription = IsDesc(name);
      if (startsDescription)
        captureStart = reader.Position();
      if (!capturing) {
        if (++depth > kMaxDepth)
          depth = kMaxDepth;
        // Both picture indexes are set as the node is made.
        stack[depth] = tree.AddChildJoined(stack[depth - 1],
                                           label.Container(name, attributes),
                                           kContainerImage);
      }
      if (startsDescription)
        capturing = true;
      break;
    }
    case xtClose:
      if (IsDesc(name)) {
        capturing = false;
        if (captureStart >= 0) {
          const int64_t needed = int64_t{reader.Position()} - captureStart + 1;
          if (needed > description.capacity) {
            const int64_t grown = needed + 1000;
            description.SetCapacity(
                static_cast<int32_t>(std::min<int64_t>(
                    grown, std::numeric_limits<int32_t>::max())),
                false);
          }
          reader.CopyRaw(captureStart, description.buffer, copied);
          description.Terminate(copied);
          const NodeHandle text =
              tree.AddChild(stack[depth], View(description));
          if (!IsDescriptionLabel(tree.GetText(stack[depth])))
            tree.NoteRawText(text);
        }
      }
      if (!capturing && --depth < 0)
        depth = 0;
      break;
    case xtLeaf:
      if (!capturing) {
        const NodeHandle leaf = tree.AddChildJoined(
            stack[depth], label.Leaf(name, value, attributes), kLeafImage);
        if (!value.IsEmpty() && !attributes.IsEmpty())
          tree.NoteAttributeStart(leaf, label.AttributeStart());
      }
      break;
    default: // comments make no node
      break;
    }
    progress.SetPosition(reader.PercentDone());
  }
  reader.Close();
  return BuildStatus::Built;
}

} // namespace outline
