#pragma once

#include "foundation/cvexString.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <QString>

#include <cstddef>
#include <span>
#include <string_view>

namespace outline {

enum class BuildStatus {
  Built,
  Empty,        // opened, but the file holds no bytes: the outline stays empty
  CouldNotOpen, // missing, a folder, unreadable, or failed to load
  TooLarge,     // 2 GiB or more: beyond the 32-bit sizes of the reader
};

// The labels the builder makes, for readers of the outline: a container is
// "name" or "name **** attributes"; a leaf "name", "name = value",
// "name **** attributes" or "name = value **** attributes" (the store notes
// where the attributes start in the last form); the children of a DESC
// element are raw description text.  Element names hold no space.
inline constexpr std::u16string_view kValueSeparator = u" = ";
inline constexpr std::u16string_view kAttributeSeparator = u" **** ";

// True for the label of a DESC element: "DESC" or "DESC **** ...".
bool IsDescriptionLabel(const LabelView &label);

// Reads the file at `path` and fills `tree` with its outline: one node per
// element in document order, DESC contents kept as one raw text node.
// Runs against the store and two small sinks, so it needs no window; what
// went wrong is reported to the caller, which decides how to tell the user.
// The tree is cleared first, so it stays empty when the file does not open.
// A folder opens as one database of its files (ListDatabaseFiles, then
// BuildOutlineFromFiles).
BuildStatus BuildOutline(const cvexString &path, OutlineStore &tree,
                         ProgressSink &progress, BusyIndicator &busy);

// Several files as one outline, in the order given: one top-level node per
// file, labelled with its file name (OutlineStore::NoteMember), holding its
// document's outline, or a package's members one level further down; a file
// that cannot be read is a leaf "NAME (unreadable)".  The documents of all
// files count together against the 2 GiB limit (TooLarge leaves the tree
// empty); no file at all is Empty.
BuildStatus BuildOutlineFromFiles(std::span<const QString> paths,
                                  OutlineStore &tree, ProgressSink &progress,
                                  BusyIndicator &busy);

// How bytes in memory reach the reader, for tests of the streaming: the
// first read hands out at most `firstPiece` bytes, later ones at most
// `piece`, into a buffer that starts at `buffer` bytes (0: as for a file;
// the document is then read where it lies).  The outline never depends on
// the shape.
struct ReadShape {
  std::size_t firstPiece = 0;
  std::size_t piece = 0;
  std::size_t buffer = 0;
};

// The same for a file's bytes already in memory (read from elsewhere, or a
// fuzzer's input): a package when they start like one, else a document.
BuildStatus BuildOutlineFromBytes(std::span<const unsigned char> bytes,
                                  OutlineStore &tree, ProgressSink &progress,
                                  BusyIndicator &busy,
                                  const ReadShape &shape = {});

} // namespace outline
