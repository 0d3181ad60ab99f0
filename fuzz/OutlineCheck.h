#pragma once

// Builds the outline of fuzz bytes through the real file path and checks it
// against a count of the tokens made by a second, independent reader; for
// a package, member by member against the package read on its own.

#include "fuzz/FuzzSupport.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlinePaths.h"
#include "outline/Surroundings.h"
#include "package/Package.h"

#include "xml/cvexXML.h"
#include <cstring>
#include <span>

namespace fuzz {

// Silent surroundings for the builder; progress must stay within 0..100.
class CheckingProgress : public outline::ProgressSink {
public:
  void SetPosition(int percent) override {
    FUZZ_CHECK(percent >= 0 && percent <= 100);
  }
  void SetVisible(bool shown) override { visible = shown; }
  bool visible = false;
};

class CountingBusy : public outline::BusyIndicator {
public:
  void SetBusy(bool on) override {
    busy = on;
    ++switches;
  }
  bool busy = false;
  int switches = 0;
};

// One node per start tag or element outside a description, one text node
// per DESC end tag once some DESC start tag has been seen; counted over the
// document loaded in `reader` by a second pass of the token reader.
inline uint32_t ExpectedNodeCount(cvexXML &reader) {
  unsigned char kind = 0;
  cvexString name, value, attributes;
  uint32_t nodes = 0;
  bool capturing = false;
  bool descSeen = false;
  int32_t last = reader.Position();
  while (reader.NextToken(kind, name, value, attributes)) {
    FUZZ_CHECK(reader.Position() > last);
    FUZZ_CHECK(reader.Position() <= reader.content.count);
    last = reader.Position();
    const int32_t percent = reader.PercentDone();
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    const bool desc = name.EqualsAnsi("DESC");
    switch (kind) {
    case xtOpen:
      if (!capturing)
        ++nodes;
      if (desc)
        capturing = descSeen = true;
      break;
    case xtClose:
      if (desc) {
        capturing = false;
        if (descSeen)
          ++nodes;
      }
      break;
    case xtLeaf:
      if (!capturing)
        ++nodes;
      break;
    default:
      break;
    }
  }
  reader.Close();
  return nodes;
}

inline void CheckLabel(const outline::LabelView &label) {
  FUZZ_CHECK((label.narrow != nullptr) != (label.wide != nullptr) ||
             label.length == 0);
  bool wider = false;
  for (uint32_t i = 0; i < label.length; ++i) {
    const char16_t u = label.narrow ? label.narrow[i] : label.wide[i];
    FUZZ_CHECK(u != 0);
    wider = wider || u > 0xFF;
  }
  // A wide label exists only for a unit that does not fit a byte.
  if (label.wide && label.length > 0)
    FUZZ_CHECK(wider);
}

// The member nodes of a package's outline: one per member in order, a
// readable document's outline below it, every other member a leaf.
inline void CheckPackage(std::span<const unsigned char> bytes,
                         outline::BuildStatus status,
                         const outline::OutlineStore &store) {
  package::Package pkg;
  if (pkg.OpenMemory(bytes) != package::Package::OpenStatus::Opened) {
    FUZZ_CHECK(status != outline::BuildStatus::Built);
    FUZZ_CHECK(store.GetCount() == 0);
    return;
  }
  FUZZ_CHECK(status == outline::BuildStatus::Built);
  const std::vector<package::Member> &members = pkg.Members();
  FUZZ_CHECK(store.ChildCount(outline::kNoNode) == members.size());
  cvexDynamicArrayTemplate<unsigned char> member;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const outline::NodeHandle node = store.Child(outline::kNoNode, uint32_t(i));
    const std::u16string label = store.GetText(node).toU16String();
    FUZZ_CHECK(label.starts_with(members[i].name));
    const uint32_t subtree = outline::SubtreeEnd(store, node) - node;
    if (members[i].kind == package::MemberKind::Document &&
        members[i].readable && pkg.Read(i, member)) {
      FUZZ_CHECK(label.size() == members[i].name.size());
      FUZZ_CHECK(store.ImageIndex(node) == 2);
      cvexXML reader;
      FUZZ_CHECK(reader.LoadDocument(member) == cvexXML::LoadResult::Loaded);
      FUZZ_CHECK(subtree == 1 + ExpectedNodeCount(reader));
    } else {
      FUZZ_CHECK(store.ImageIndex(node) == 0 && subtree == 1);
      FUZZ_CHECK(label.ends_with(u" (unreadable)") ||
                 label.ends_with(u" bytes)"));
    }
  }
}

// Builds `store` from the bytes in memory and checks its shape; returns
// nothing, any broken rule aborts.  Now and then the same bytes also go
// through the file-opening path, which must give the same outline.
inline void BuildChecked(ScratchFile &file, const uint8_t *data, size_t size,
                         outline::OutlineStore &store) {
  const std::span<const unsigned char> bytes(data, size);
  CheckingProgress progress;
  CountingBusy busy;
  const outline::BuildStatus status =
      outline::BuildOutlineFromBytes(bytes, store, progress, busy);

  FUZZ_CHECK(!busy.busy && busy.switches == 2);
  FUZZ_CHECK(!progress.visible);
  FUZZ_CHECK(!store.IsUpdating());
  const uint32_t count = store.GetCount();
  if (package::LooksLikePackage(bytes)) {
    CheckPackage(bytes, status, store);
  } else {
    cvexDynamicArrayTemplate<unsigned char> copy;
    copy.Resize(static_cast<int32_t>(size), false);
    if (size > 0)
      std::memcpy(copy.data, data, size);
    cvexXML reader;
    FUZZ_CHECK(reader.LoadDocument(copy) == cvexXML::LoadResult::Loaded);
    // Empty: no bytes at all, or a byte-order mark and nothing after it.
    FUZZ_CHECK(status == (reader.content.count == 0
                              ? outline::BuildStatus::Empty
                              : outline::BuildStatus::Built));
    FUZZ_CHECK(count == ExpectedNodeCount(reader));
  }
  if (size % 61 == 0) {
    file.Fill(data, size);
    cvexString path;
    file.PathInto(path);
    outline::OutlineStore fromFile;
    FUZZ_CHECK(outline::BuildOutline(path, fromFile, progress, busy) == status);
    FUZZ_CHECK(fromFile.GetCount() == count);
  }
  uint32_t topLevel = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const outline::NodeHandle node = store.GetNodeFromIndex(i);
    FUZZ_CHECK(node == i);
    const outline::LabelView label = store.GetText(node);
    CheckLabel(label);
    // Texts never grow in decoding; a UTF-16 file shrinks to UTF-8, and a
    // package member's label is its name and size.
    FUZZ_CHECK(label.length <= size * 2 + 40);
    const int image = store.ImageIndex(node);
    FUZZ_CHECK(image == 0 || image == 2);
    FUZZ_CHECK(store.SelectedIndex(node) == image);
    const outline::NodeHandle parent = store.Parent(node);
    if (parent == outline::kNoNode) {
      FUZZ_CHECK(store.Depth(node) == 1);
      FUZZ_CHECK(store.Row(node) == topLevel++);
    } else {
      // Pre-order, and only containers hold children.
      FUZZ_CHECK(parent < node);
      FUZZ_CHECK(store.ImageIndex(parent) == 2);
      FUZZ_CHECK(store.Depth(node) == store.Depth(parent) + 1);
      FUZZ_CHECK(store.Child(parent, store.Row(node)) == node);
    }
    FUZZ_CHECK(store.Depth(node) <= 256);
  }
  FUZZ_CHECK(store.ChildCount(outline::kNoNode) == topLevel);
}

} // namespace fuzz
