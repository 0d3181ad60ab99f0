#include "outline/OutlineBuilder.h"

#include "outline/DatabaseFiles.h"
#include "package/Package.h"
#include "platform/FileHandle.h"
#include "platform/Folder.h"
#include "xml/ByteSource.h"
#include "xml/StreamReader.h"
#include "xml/cvexXML.h"

#include <QString>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace outline {
namespace {

constexpr int kContainerImage = 2;
constexpr int kLeafImage = 0;
constexpr int kMaxDepth = 255;

using Bytes = std::span<const unsigned char>;

std::string_view AsChars(Bytes bytes) {
  return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

// Whole-name, case-sensitive test for "DESC", on the name's bytes.  A name
// is read up to its first NUL, and no other byte decodes to an ASCII letter
// in any encoding the reader knows, so the bytes tell as much as the text.
bool IsDesc(Bytes name) {
  return name.size() >= 4 && AsChars(name).starts_with("DESC") &&
         (name.size() == 4 || name[4] == 0);
}

// "<?pi ...?>" and "<!DOCTYPE ...>" arrive as start tags named "?..." or
// "!...".
bool IsDeclarationLike(Bytes name) {
  return !name.empty() && (name[0] == '?' || name[0] == '!');
}

// Whether bytes are their label text as they stand: no NUL (which ends a
// text), no '&' (an entity), and each byte the unit of its own value
// (Latin-1, or ASCII in any encoding).  Such parts go into the store
// without being decoded to UTF-16 and back.
bool IsPlain(Bytes bytes, bool latin1) {
  const unsigned char *p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i amp = _mm_set1_epi8('&');
  const int highMask = latin1 ? 0 : 0xFFFF;
  auto bad = [&](const __m128i b) {
    const int special = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(b, zero), _mm_cmpeq_epi8(b, amp)));
    return (special | (_mm_movemask_epi8(b) & highMask)) != 0;
  };
  if (n >= 16) {
    // The last load overlaps the one before rather than leaving a tail.
    for (; i + 16 <= n; i += 16)
      if (bad(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i))))
        return false;
    return i == n ||
           !bad(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + n - 16)));
  }
  if (n >= 8) {
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
    const __m128i high =
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + n - 8));
    // The upper halves of the loads are zero: only the low lanes count.
    const __m128i both = _mm_unpacklo_epi64(low, high);
    return !bad(both);
  }
#endif
  for (; i < n; ++i)
    if (p[i] == 0 || p[i] == '&' || (!latin1 && p[i] >= 0x80))
      return false;
  return true;
}

bool HasHighByte(Bytes bytes) {
  const unsigned char *p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16)
    if (_mm_movemask_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i))) != 0)
      return true;
#endif
  for (; i < n; ++i)
    if (p[i] >= 0x80)
      return true;
  return false;
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

// Where the last of the first `n` parts starts once they are joined: the
// attribute text, when a label has any.
template <typename Parts>
uint32_t StartOfLast(const Parts &parts, std::size_t n) {
  std::size_t units = 0;
  for (std::size_t i = 0; i + 1 < n; ++i)
    units += parts[i].size();
  return static_cast<uint32_t>(units);
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
  uint32_t AttributeStart() const { return StartOfLast(parts_, n_); }
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

// The label of a token whose parts are all plain: its bytes joined as the
// store keeps them, in the same shape LabelParts gives the decoded texts.
class ByteLabel {
public:
  std::span<const std::string_view> Parts(const xml::StreamToken &token) {
    n_ = 0;
    parts_[n_++] = AsChars(token.name);
    if (!token.value.empty()) {
      parts_[n_++] = " = ";
      parts_[n_++] = AsChars(token.value);
    }
    if (!token.attributes.empty()) {
      parts_[n_++] = " **** ";
      parts_[n_++] = AsChars(token.attributes);
    }
    return {parts_.data(), n_};
  }
  uint32_t AttributeStart() const { return StartOfLast(parts_, n_); }

private:
  std::array<std::string_view, 5> parts_;
  std::size_t n_ = 0;
};

// Makes the nodes of one document: labels straight from the bytes where
// they are plain, through the decoded texts where not.
class DocumentFiller {
public:
  DocumentFiller(xml::StreamReader &reader, OutlineStore &tree)
      : reader_(reader), tree_(tree),
        latin1_(reader.TextEncoding() == xml::Encoding::Latin1) {}

  // A start tag (container) or a leaf, below `parent`.
  NodeHandle Add(NodeHandle parent, const xml::StreamToken &token, int image) {
    const bool leaf = token.kind == xtLeaf;
    if (IsPlain(token.body, latin1_)) {
      const NodeHandle node =
          tree_.AddChildLatin1(parent, bytes_.Parts(token), image);
      // The label alone cannot tell where a value ends and the attribute
      // text starts when both may hold the separator.
      if (leaf && !token.value.empty() && !token.attributes.empty())
        tree_.NoteAttributeStart(node, bytes_.AttributeStart());
      return node;
    }
    reader_.Texts(token, name_, value_, attributes_);
    if (!leaf)
      return tree_.AddChildJoined(parent, text_.Container(name_, attributes_),
                                  image);
    const NodeHandle node = tree_.AddChildJoined(
        parent, text_.Leaf(name_, value_, attributes_), image);
    if (!value_.IsEmpty() && !attributes_.IsEmpty())
      tree_.NoteAttributeStart(node, text_.AttributeStart());
    return node;
  }

  // The raw text of a description, as the document holds it from `from` up
  // to the reader's position; false when it cannot be read.
  bool AddRaw(NodeHandle parent, int64_t from) {
    Bytes raw;
    if (!reader_.Raw(from, raw))
      return false;
    NodeHandle text;
    if (latin1_ || !HasHighByte(raw)) {
      // Each byte is its unit; the store stops at a NUL as a text does.
      LabelView view;
      view.narrow = raw.data();
      view.length = static_cast<uint32_t>(raw.size());
      text = tree_.AddChild(parent, view);
    } else {
      const auto n = static_cast<int32_t>(raw.size());
      if (description_.capacity < n + 1)
        description_.SetCapacity(
            static_cast<int32_t>(std::min<int64_t>(
                int64_t{n} + 1000, std::numeric_limits<int32_t>::max())),
            false);
      description_.Terminate(xml::DecodeText(reader_.TextEncoding(), raw.data(),
                                             n, description_.buffer));
      text = tree_.AddChild(parent, View(description_));
    }
    // Raw text whose parent is no DESC element (a stray end tag made it) is
    // noted, so readers of the outline can tell it apart.
    if (!IsDescriptionLabel(tree_.GetText(parent)))
      tree_.NoteRawText(text);
    return true;
  }

private:
  xml::StreamReader &reader_;
  OutlineStore &tree_;
  bool latin1_;
  ByteLabel bytes_;
  LabelParts text_;
  cvexString name_;
  cvexString value_;
  cvexString attributes_;
  cvexString description_;
};

// Builds the outline of the document in `reader` below `parent` (kNoNode:
// the top level), counting levels from there.  `before` bytes of the whole
// input come before this document, for the progress.  False when the
// source failed on the way; the nodes made so far stay.
bool FillDocument(xml::StreamReader &reader, OutlineStore &tree,
                  NodeHandle parent, PercentReporter &progress,
                  int64_t before) {
  std::array<NodeHandle, kMaxDepth + 1> stack;
  stack.fill(kNoNode);
  stack[0] = parent;
  int32_t depth = 0;
  bool capturing = false;
  // No DESC start tag seen yet in this document: a DESC end tag then has
  // nothing to copy from, and makes no text node (it only closes a level).
  int64_t captureStart = -1;
  DocumentFiller filler(reader, tree);
  xml::StreamToken token;

  while (reader.Next(token)) {
    switch (token.kind) {
    case xtOpen: {
      // A processing instruction or document type declaration has no end
      // tag: it is a leaf, or everything after it would nest below it.
      if (IsDeclarationLike(token.name)) {
        if (!capturing)
          filler.Add(stack[depth], token, kLeafImage);
        break;
      }
      const bool startsDescription = IsDesc(token.name);
      if (startsDescription) {
        captureStart = reader.Position();
        reader.KeepFrom(captureStart);
      }
      if (!capturing) {
        if (++depth > kMaxDepth)
          depth = kMaxDepth;
        stack[depth] = filler.Add(stack[depth - 1], token, kContainerImage);
      }
      if (startsDescription)
        capturing = true;
      break;
    }
    case xtClose:
      // A DESC end tag copies from the last DESC start, even a stray one.
      if (IsDesc(token.name)) {
        capturing = false;
        if (captureStart >= 0 && !filler.AddRaw(stack[depth], captureStart))
          return false;
        reader.KeepFrom(-1);
      }
      if (!capturing && --depth < 0)
        depth = 0;
      break;
    case xtLeaf:
      if (!capturing)
        filler.Add(stack[depth], token, kLeafImage);
      break;
    default: // comments make no node
      break;
    }
    progress.Update(before + reader.SourceDone());
  }
  return !reader.Failed();
}

// A member of a package as a source of bytes, read again from the start
// when asked to.
class MemberSource : public xml::ByteSource {
public:
  MemberSource(const package::Package &pkg, std::size_t member,
               std::unique_ptr<package::MemberStream> stream)
      : pkg_(pkg), member_(member), stream_(std::move(stream)) {}
  bool Read(unsigned char *into, std::size_t room, std::size_t &got) override {
    return stream_->Read(into, room, got);
  }
  int64_t Size() const override {
    return static_cast<int64_t>(stream_->Size());
  }
  std::unique_ptr<xml::ByteSource> Reopen() const override {
    std::unique_ptr<package::MemberStream> again = pkg_.OpenMember(member_);
    if (!again)
      return nullptr;
    return std::make_unique<MemberSource>(pkg_, member_, std::move(again));
  }

private:
  const package::Package &pkg_;
  std::size_t member_;
  std::unique_ptr<package::MemberStream> stream_;
};

// The bytes of a package's member become its subtree below `member`.
// False when the member turns out damaged (its data, size or CRC, found at
// the latest at its end).
bool FillMember(const package::Package &pkg, std::size_t i, OutlineStore &tree,
                NodeHandle member, PercentReporter &progress, int64_t before,
                std::size_t buffer) {
  std::unique_ptr<package::MemberStream> stream = pkg.OpenMember(i);
  if (!stream)
    return false;
  MemberSource source(pkg, i, std::move(stream));
  xml::StreamReader reader(source, buffer);
  switch (reader.Start()) {
  case xml::StreamReader::Status::Ready:
    return FillDocument(reader, tree, member, progress, before);
  case xml::StreamReader::Status::TooLarge:
    // As ever: a member whose UTF-8 form does not fit shows no outline.
    return true;
  case xml::StreamReader::Status::CouldNotRead:
    break;
  }
  return false;
}

// One node per member below `parent` (kNoNode: the top level): a
// document's outline below its name, any other member a leaf with its size,
// a member that cannot be read a leaf that says so.  Members are inflated
// one at a time.  `before` bytes of the whole input come before the
// package's documents, for the progress.
void FillPackage(package::Package &pkg, OutlineStore &tree, NodeHandle parent,
                 PercentReporter &progress, int64_t before,
                 std::size_t buffer) {
  const std::vector<package::Member> &members = pkg.Members();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const package::Member &m = members[i];
    const std::u16string_view name = m.name;
    if (m.kind == package::MemberKind::Document && m.readable) {
      // A member is streamed into the outline as it is inflated; one found
      // damaged on the way leaves no trace of it but its unreadable leaf.
      const OutlineStore::Checkpoint start = tree.Save();
      const std::u16string_view parts[] = {name};
      const NodeHandle member =
          tree.AddChildJoined(parent, parts, kContainerImage);
      tree.NoteMember(member);
      if (FillMember(pkg, i, tree, member, progress, before, buffer)) {
        before += static_cast<int64_t>(m.size);
        continue;
      }
      tree.Restore(start);
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
                        ProgressSink &progress, bool &done,
                        std::size_t buffer) {
  done = true;
  switch (opened) {
  case package::Package::OpenStatus::Opened: {
    PercentReporter percent(progress, DocumentBytes(pkg));
    tree.MarkPackage();
    FillPackage(pkg, tree, kNoNode, percent, 0, buffer);
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

// A document streamed from `source` as the whole outline.  A source that
// fails on the way leaves the outline empty, as a file that cannot be read
// does.
BuildStatus FromDocument(xml::ByteSource &source, OutlineStore &tree,
                         ProgressSink &progress, std::size_t buffer) {
  xml::StreamReader reader(source, buffer);
  switch (reader.Start()) {
  case xml::StreamReader::Status::Ready:
    break;
  case xml::StreamReader::Status::TooLarge:
    return BuildStatus::TooLarge;
  case xml::StreamReader::Status::CouldNotRead:
    return BuildStatus::CouldNotOpen;
  }
  if (reader.Empty())
    return BuildStatus::Empty;
  PercentReporter percent(progress, source.Size());
  if (!FillDocument(reader, tree, kNoNode, percent, 0)) {
    tree.Clear();
    return BuildStatus::CouldNotOpen;
  }
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
    FillPackage(pkg, tree, file, progress, done,
                xml::StreamReader::kDefaultBuffer);
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
  xml::FileSource source;
  if (!source.Open(std::u16string_view(
          filePath.buffer, static_cast<std::size_t>(filePath.Length()))))
    return platform::DiagnoseFile(filePath.buffer) ==
                   platform::FileProblem::TooLarge
               ? FileOutcome::TooLarge
               : FileOutcome::Unreadable;
  xml::StreamReader reader(source);
  switch (reader.Start(kLimit - done)) {
  case xml::StreamReader::Status::Ready:
    break;
  case xml::StreamReader::Status::TooLarge:
    return FileOutcome::TooLarge;
  case xml::StreamReader::Status::CouldNotRead:
    return FileOutcome::Unreadable;
  }
  const OutlineStore::Checkpoint start = tree.Save();
  const std::u16string_view parts[] = {name};
  const NodeHandle file = tree.AddChildJoined(kNoNode, parts, kContainerImage);
  tree.NoteMember(file);
  if (!reader.Empty() && !FillDocument(reader, tree, file, progress, done)) {
    tree.Restore(start);
    return FileOutcome::Unreadable;
  }
  // Read to its end, the reader stands at the length of the document.
  done += reader.Position();
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
      FromPackage(pkg.Open(filePath), pkg, tree, progress, done,
                  xml::StreamReader::kDefaultBuffer);
  if (done)
    return packaged;

  xml::FileSource source;
  if (source.Open(std::u16string_view(
          filePath.buffer, static_cast<std::size_t>(filePath.Length())))) {
    const BuildStatus built =
        FromDocument(source, tree, progress, xml::StreamReader::kDefaultBuffer);
    if (built != BuildStatus::CouldNotOpen)
      return built;
  }
  return platform::DiagnoseFile(filePath.buffer) ==
                 platform::FileProblem::TooLarge
             ? BuildStatus::TooLarge
             : BuildStatus::CouldNotOpen;
}

BuildStatus BuildOutlineFromBytes(std::span<const unsigned char> bytes,
                                  OutlineStore &tree, ProgressSink &progress,
                                  BusyIndicator &busy, const ReadShape &shape) {
  RunGuard guard(tree, progress, busy);
  guard.BeginTree();
  tree.Clear();
  progress.SetPosition(0);
  progress.SetVisible(true);
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
    return BuildStatus::TooLarge;
  const std::size_t buffer =
      shape.buffer ? shape.buffer : xml::StreamReader::kDefaultBuffer;

  package::Package pkg;
  bool done = false;
  const BuildStatus packaged =
      FromPackage(package::LooksLikePackage(bytes)
                      ? pkg.OpenMemory(bytes)
                      : package::Package::OpenStatus::NotAPackage,
                  pkg, tree, progress, done, buffer);
  if (done)
    return packaged;

  xml::MemorySource source(bytes, shape.firstPiece, shape.piece);
  return FromDocument(source, tree, progress, buffer);
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
