#pragma once

// Builds the outline of fuzz bytes through the real file path and checks it
// against a count of the tokens made by a second, independent reader.

#include "fuzz/FuzzSupport.h"
#include "outline/OutlineBuilder.h"
#include "outline/Surroundings.h"
#include "xml/cvexXML.h"

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
// per DESC end tag once some DESC start tag has been seen.
inline uint32_t ExpectedNodeCount(const cvexString &path) {
  cvexXML reader;
  FUZZ_CHECK(reader.OpenDocument(path) == cvexXML::LoadResult::Loaded);
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
  FUZZ_CHECK(reader.Close());
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

// Builds `store` from the bytes and checks its shape; returns nothing, any
// broken rule aborts.
inline void BuildChecked(ScratchFile &file, const uint8_t *data, size_t size,
                         outline::OutlineStore &store) {
  file.Fill(data, size);
  cvexString path;
  file.PathInto(path);
  CheckingProgress progress;
  CountingBusy busy;
  const outline::BuildStatus status =
      outline::BuildOutline(path, store, progress, busy);

  FUZZ_CHECK(status == outline::BuildStatus::Built);
  FUZZ_CHECK(!busy.busy && busy.switches == 2);
  FUZZ_CHECK(!progress.visible);
  FUZZ_CHECK(!store.IsUpdating());
  const uint32_t count = store.GetCount();
  FUZZ_CHECK(count == ExpectedNodeCount(path));
  uint32_t topLevel = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const outline::NodeHandle node = store.GetNodeFromIndex(i);
    FUZZ_CHECK(node == i);
    const outline::LabelView label = store.GetText(node);
    CheckLabel(label);
    FUZZ_CHECK(label.length <= size);
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
