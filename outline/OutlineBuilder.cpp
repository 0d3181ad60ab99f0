#include "outline/OutlineBuilder.h"

#include "outline/DatabaseFiles.h"
#include "package/Package.h"
#include "platform/FileHandle.h"
#include "platform/Folder.h"
#include "xml/cvexXML.h"

#include <QString>

#include <array>
#include <cstdint>
#include <cstring>
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

// "<?pi ...?>" and "<!DOCTYPE ...>" arrive as start tags named "?..." or
// "!...".
bool IsDeclarationLike(const cvexString &name) {
  return name.buffer != nullptr &&
         (name.buffer[0] == u'?' || name.buffer[0] == u'!');
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

// Reports whole percents of the bytes read, only when the shown number can
// have changed: the bar sees exactly the values a call per token would give
// it, without a division per token.
class PercentReporter {
public:
  PercentReporter(ProgressSink &sink, int64_t totalBytes)
      : sink_(sink), total_(totalBytes > 0 ? totalBytes : 1) {}
  // `done` bytes of all are read; never moves backwards.
  void Update(int64_t done) {
    if (done < next_)
      return;
    const int percent =
        static_cast<int>(std::min<int64_t>(done * 100 / total_, 100));
    if (percent != shown_) {
      shown_ = percent;
      sink_.SetPosition(percent);
    }
    // The first byte count at which the percent is one higher.
    next_ = ((percent + 1) * total_ + 99) / 100;
  }

private:
  ProgressSink &sink_;
  int64_t total_;
  int64_t next_ = 0;
  int shown_ = 0; // the run starts the bar at 0
};

// Builds the outline of the document loaded in `reader` below `parent`
// (kNoNode: the top level), counting levels from there.  `before` bytes of
// the whole input come before this document, for the progress.
void FillDocument(cvexXML &reader, OutlineStore &tree, NodeHandle parent,
                  PercentReporter &progress, int64_t before) {
  std::array<NodeHandle, kMaxDepth + 1> stack;
  stack.fill(kNoNode);
  stack[0] = parent;
  int32_t depth = 0;
  bool capturing = false;
  // No DESC start tag seen yet in this document: a DESC end tag then has
  // nothing to copy from, and makes no text node (it only closes a level).
  int32_t captureStart = -1;

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
      // A processing instruction or document type declaration has no end
      // tag: it is a leaf, or everything after it would nest below it.
      if (IsDeclarationLike(name)) {
        if (!capturing)
          tree.AddChildJoined(stack[depth], label.Container(name, attributes),
                              kLeafImage);
        break;
      }
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
          // Raw text whose parent is no DESC element (a stray end tag made
          // it) is noted, so readers of the outline can tell it apart.
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
        // The label alone cannot tell where a value ends and the attribute
        // text starts when both may hold the separator.
        if (!value.IsEmpty() && !attributes.IsEmpty())
          tree.NoteAttributeStart(leaf, label.AttributeStart());
      }
      break;
    default: // comments make no node
      break;
    }
    progress.Update(before + reader.Position());
    // A DESC end tag copies from the last DESC start, even a stray one, so
    // only the bytes before it are done with.
    reader.ReleaseBefore(captureStart >= 0 ? captureStart : reader.Position());
  }
  reader.Close();
}

// One node per member below `parent` (kNoNode: the top level): a
// document's outline below its name, any other member a leaf with its size,
// a member that cannot be read a leaf that says so.  Members are inflated
// one at a time.  `before` bytes of the whole input come before the
// package's documents, for the progress.
void FillPackage(package::Package &pkg, OutlineStore &tree, NodeHandle parent,
                 PercentReporter &progress, int64_t before) {
  cvexDynamicArrayTemplate<unsigned char> bytes;
  const std::vector<package::Member> &members = pkg.Members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const package::Member &m = members[i];
    const std::u16string_view name = m.name;
    if (m.kind == package::MemberKind::Document && m.readable &&
        pkg.Read(i, bytes)) {
      const std::u16string_view parts[] = {name};
      const NodeHandle member =
          tree.AddChildJoined(parent, parts, kContainerImage);
      tree.NoteMember(member);
      cvexXML reader;
      reader.LoadDocument(bytes); // takes the bytes; freed with the reader
      FillDocument(reader, tree, member, progress, before);
      before += static_cast<int64_t>(m.size);
      continue;
    }
    const bool unreadable =
        !m.readable || m.kind == package::MemberKind::Document;
    const std::u16string suffix =
        unreadable
            ? std::u16string(u" (unreadable)")
            : u" (" + QString::number(m.size).toStdU16String() + u" bytes)";
    const std::u16string_view parts[] = {name, suffix};
    tree.NoteMember(tree.AddChildJoined(parent, parts, kLeafImage));
    if (m.kind == package::MemberKind::Document && m.readable)
      before += static_cast<int64_t>(m.size);
    progress.Update(before);
  }
}

int64_t DocumentBytes(const package::Package &pkg) {
  int64_t total = 0;
  for (const package::Member &m : pkg.Members())
    if (m.kind == package::MemberKind::Document && m.readable)
      total += static_cast<int64_t>(m.size);
  return total;
}

// What a package's opening means for the build; Opened fills the outline.
BuildStatus FromPackage(package::Package::OpenStatus opened,
                        package::Package &pkg, OutlineStore &tree,
                        ProgressSink &progress, bool &done) {
  done = true;
  switch (opened) {
  case package::Package::OpenStatus::Opened: {
    PercentReporter percent(progress, DocumentBytes(pkg));
    tree.MarkPackage();
    FillPackage(pkg, tree, kNoNode, percent, 0);
    return BuildStatus::Built;
  }
  case package::Package::OpenStatus::TooLarge:
    return BuildStatus::TooLarge;
  case package::Package::OpenStatus::Damaged:
  case package::Package::OpenStatus::CouldNotOpen:
    return BuildStatus::CouldNotOpen;
  case package::Package::OpenStatus::NotAPackage:
    break;
  }
  done = false;
  return BuildStatus::Built;
}

BuildStatus FromDocument(cvexXML &reader, OutlineStore &tree,
                         ProgressSink &progress) {
  if (reader.content.count == 0) {
    reader.Close();
    return BuildStatus::Empty;
  }
  PercentReporter percent(progress, reader.content.count);
  FillDocument(reader, tree, kNoNode, percent, 0);
  return BuildStatus::Built;
}

// What one file of a database adds below the top level.
enum class FileOutcome { Added, Unreadable, TooLarge };

// A file of a database: a top-level node named by the file, holding its
// document's outline, or its package's members; "NAME (unreadable)" when
// it cannot be read.  `done` counts the document bytes read so far across
// all files, for the progress and for the limit the files share.
FileOutcome FillFile(const QString &path, OutlineStore &tree,
                     PercentReporter &progress, int64_t &done) {
  cvexString filePath;
  filePath.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
  const std::u16string name = FileNameOf(path).toStdU16String();
  constexpr int64_t kLimit = INT32_MAX; // what one document may hold, too
  package::Package pkg;
  switch (pkg.Open(filePath)) {
  case package::Package::OpenStatus::Opened: {
    const int64_t documents = DocumentBytes(pkg);
    if (done + documents > kLimit)
      return FileOutcome::TooLarge;
    const std::u16string_view parts[] = {name};
    const NodeHandle file =
        tree.AddChildJoined(kNoNode, parts, kContainerImage);
    tree.NoteMember(file);
    FillPackage(pkg, tree, file, progress, done);
    done += documents;
    return FileOutcome::Added;
  }
  case package::Package::OpenStatus::NotAPackage:
    break;
  case package::Package::OpenStatus::TooLarge:
    return FileOutcome::TooLarge;
  case package::Package::OpenStatus::Damaged:
  case package::Package::OpenStatus::CouldNotOpen:
    return FileOutcome::Unreadable;
  }
  cvexXML reader;
  switch (reader.OpenDocument(filePath)) {
  case cvexXML::LoadResult::Loaded:
    break;
  case cvexXML::LoadResult::TooLarge:
    return FileOutcome::TooLarge;
  case cvexXML::LoadResult::CouldNotOpen:
    return platform::DiagnoseFile(filePath.buffer) ==
                   platform::FileProblem::TooLarge
               ? FileOutcome::TooLarge
               : FileOutcome::Unreadable;
  }
  const int64_t bytes = reader.content.count;
  if (done + bytes > kLimit)
    return FileOutcome::TooLarge;
  const std::u16string_view parts[] = {name};
  const NodeHandle file = tree.AddChildJoined(kNoNode, parts, kContainerImage);
  tree.NoteMember(file);
  if (bytes > 0)
    FillDocument(reader, tree, file, progress, done);
  else
    reader.Close();
  done += bytes;
  return FileOutcome::Added;
}

// Every file in the order given, as one outline whose top-level nodes are
// the files.  The documents of all files together stay below the limit of
// one document, so that a database behaves like a package.
BuildStatus FillFiles(std::span<const QString> paths, OutlineStore &tree,
                      ProgressSink &progress) {
  if (paths.empty())
    return BuildStatus::Empty;
  int64_t total = 0;
  for (const QString &path : paths)
    total += std::max<int64_t>(
        0,
        platform::SizeOfFile(reinterpret_cast<const char16_t *>(path.utf16())));
  if (total > INT32_MAX)
    return BuildStatus::TooLarge;
  tree.MarkPackage();
  PercentReporter percent(progress, total);
  int64_t done = 0;
  for (const QString &path : paths) {
    switch (FillFile(path, tree, percent, done)) {
    case FileOutcome::Added:
      break;
    case FileOutcome::Unreadable: {
      const std::u16string label =
          FileNameOf(path).toStdU16String() + u" (unreadable)";
      tree.NoteMember(tree.AddChild(kNoNode, std::u16string_view(label)));
      break;
    }
    case FileOutcome::TooLarge:
      tree.Clear();
      return BuildStatus::TooLarge;
    }
    percent.Update(done);
  }
  return BuildStatus::Built;
}

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
  RunGuard guard(tree, progress, busy);
  cvexString filePath;
  filePath.Assign(path);
  guard.BeginTree();
  tree.Clear();
  progress.SetPosition(0);
  progress.SetVisible(true);

  if (platform::IsFolder(filePath.buffer)) {
    std::vector<QString> files;
    if (!ListDatabaseFiles(
            QString::fromUtf16(filePath.buffer, filePath.Length()), files))
      return BuildStatus::CouldNotOpen;
    return FillFiles(files, tree, progress);
  }

  // A package is known by its first bytes, whatever its name.
  package::Package pkg;
  bool done = false;
  const BuildStatus packaged =
      FromPackage(pkg.Open(filePath), pkg, tree, progress, done);
  if (done)
    return packaged;

  cvexXML reader;
  switch (reader.OpenDocument(filePath)) {
  case cvexXML::LoadResult::Loaded:
    return FromDocument(reader, tree, progress);
  case cvexXML::LoadResult::TooLarge:
    return BuildStatus::TooLarge;
  case cvexXML::LoadResult::CouldNotOpen:
    break;
  }
  return platform::DiagnoseFile(filePath.buffer) ==
                 platform::FileProblem::TooLarge
             ? BuildStatus::TooLarge
             : BuildStatus::CouldNotOpen;
}

BuildStatus BuildOutlineFromBytes(std::span<const unsigned char> bytes,
                                  OutlineStore &tree, ProgressSink &progress,
                                  BusyIndicator &busy) {
  RunGuard guard(tree, progress, busy);
  guard.BeginTree();
  tree.Clear();
  progress.SetPosition(0);
  progress.SetVisible(true);
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
    return BuildStatus::TooLarge;

  package::Package pkg;
  bool done = false;
  const BuildStatus packaged =
      FromPackage(package::LooksLikePackage(bytes)
                      ? pkg.OpenMemory(bytes)
                      : package::Package::OpenStatus::NotAPackage,
                  pkg, tree, progress, done);
  if (done)
    return packaged;

  cvexDynamicArrayTemplate<unsigned char> copy;
  copy.Resize(static_cast<int32_t>(bytes.size()), false);
  if (!bytes.empty())
    std::memcpy(copy.data, bytes.data(), bytes.size());
  cvexXML reader;
  if (reader.LoadDocument(copy) == cvexXML::LoadResult::TooLarge)
    return BuildStatus::TooLarge;
  return FromDocument(reader, tree, progress);
}

BuildStatus BuildOutlineFromFiles(std::span<const QString> paths,
                                  OutlineStore &tree, ProgressSink &progress,
                                  BusyIndicator &busy) {
  RunGuard guard(tree, progress, busy);
  guard.BeginTree();
  tree.Clear();
  progress.SetPosition(0);
  progress.SetVisible(true);
  return FillFiles(paths, tree, progress);
}

} // namespace outline
