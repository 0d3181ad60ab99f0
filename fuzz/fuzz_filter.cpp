// The filter search with an arbitrary term over an outline built from fuzz
// data.  The term is either taken from the input or cut from one of the
// outline's own labels with its case flipped, so that hits are common and
// the block scan is exercised; every node is checked against a naive search.

#include "fuzz/Oracles.h"
#include "fuzz/OutlineCheck.h"
#include "outline/FilterSearch.h"

namespace {

char16_t FlipCase(char16_t u) {
  const QChar c(u);
  return c.isLower() ? c.toUpper().unicode() : c.toLower().unicode();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4)
    return 0;
  static fuzz::ScratchFile file;
  const uint8_t mode = data[0];
  const uint8_t pick = data[1];
  const uint8_t flips = data[2];
  const size_t termUnits = data[3] & 0x1F;
  data += 4;
  size -= 4;
  std::u16string term;
  if (mode & 1)
    term = fuzz::TakeUnits(data, size, termUnits);

  outline::OutlineStore items;
  fuzz::BuildChecked(file, data, size, items);
  const uint32_t count = items.GetCount();
  if (!(mode & 1) && count > 0) {
    const std::u16string label = items.GetText(pick % count).toU16String();
    const size_t from = label.empty() ? 0 : (mode >> 1) % label.size();
    term = label.substr(from, termUnits + 1);
    for (size_t k = 0; k < term.size() && k < 8; ++k)
      if (flips & (1u << k))
        term[k] = FlipCase(term[k]);
  }

  cvexString text;
  text.AssignWide(term.c_str());
  const std::u16string_view wanted = fuzz::View(text);
  outline::OutlineStore results;
  fuzz::CountingBusy busy;
  outline::FilterSearch(text, items, results, busy);
  FUZZ_CHECK(!busy.busy && !results.IsUpdating() && !items.IsUpdating());

  const uint32_t hits = results.GetCount();
  FUZZ_CHECK(hits <= count);
  uint32_t next = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const std::u16string label = items.GetText(i).toU16String();
    const bool contains = fuzz::ContainsFolded(label, wanted);
    const bool listed =
        next < hits && results.Data(next).handle == outline::NodeHandle(i);
    FUZZ_CHECK(contains == listed);
    if (!listed)
      continue;
    FUZZ_CHECK(results.Parent(next) == outline::kNoNode);
    FUZZ_CHECK(results.GetText(next).toU16String() == label);
    FUZZ_CHECK(outline::ResultTarget(results, next, items) == i);
    ++next;
  }
  FUZZ_CHECK(next == hits);
  // A term cut from a label (without flipped units) always finds that label.
  if (!(mode & 1) && count > 0 && flips == 0 && !wanted.empty())
    FUZZ_CHECK(hits > 0);
  return 0;
}
