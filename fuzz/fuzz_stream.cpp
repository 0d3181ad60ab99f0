// The streaming seam: a document read in pieces, cut after every byte in
// turn, gives exactly the outline of the same bytes read at once (labels,
// shape, pictures and notes).  The first input byte picks the size of the
// reads after the cut; the reader's buffer starts at 64 bytes, so tokens,
// texts, descriptions and UTF-16/32 units all straddle reads.  Packages
// stream their members through the same small buffer.

#include "fuzz/FuzzSupport.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <span>

namespace {

using outline::Quiet;

bool SameOutline(const outline::OutlineStore &a,
                 const outline::OutlineStore &b) {
  if (a.GetCount() != b.GetCount() || a.IsPackage() != b.IsPackage() ||
      a.LabelNotes().size() != b.LabelNotes().size())
    return false;
  for (outline::NodeHandle n = 0; n < a.GetCount(); ++n)
    if (a.Parent(n) != b.Parent(n) || a.ImageIndex(n) != b.ImageIndex(n) ||
        a.SelectedIndex(n) != b.SelectedIndex(n) ||
        a.GetText(n).toU16String() != b.GetText(n).toU16String())
      return false;
  for (std::size_t i = 0; i < a.LabelNotes().size(); ++i)
    if (a.LabelNotes()[i].node != b.LabelNotes()[i].node ||
        a.LabelNotes()[i].attributeStart != b.LabelNotes()[i].attributeStart)
      return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const std::size_t piece = 1 + data[0] % 16;
  const std::span<const unsigned char> bytes(data + 1, size - 1);
  Quiet quiet;
  outline::OutlineStore whole;
  outline::OutlineStore cut;
  const outline::BuildStatus status =
      outline::BuildOutlineFromBytes(bytes, whole, quiet, quiet);
  for (std::size_t at = 1; at <= bytes.size(); ++at) {
    const outline::ReadShape shape{at, piece, 64};
    FUZZ_CHECK(outline::BuildOutlineFromBytes(bytes, cut, quiet, quiet,
                                              shape) == status);
    FUZZ_CHECK(SameOutline(whole, cut));
  }
  return 0;
}
