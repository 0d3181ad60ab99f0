#include "outline/FilterSearch.h"

#include "foundation/LowerCase.h"

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace outline {

namespace {

// Answers "does the label, lower-cased unit by unit, contain the term?" for
// a term that is already lower-cased, without building lowered copies.
class LoweredTermMatcher {
public:
  explicit LoweredTermMatcher(std::u16string_view term)
      : lower_(LowerCase()), term_(term) {
    narrowClosed_ = true;
    for (unsigned b = 0; b < 256; ++b) {
      const char16_t l = lower_[b];
      narrowClosed_ = narrowClosed_ && l <= 0xFF;
      narrowLower_[b] = static_cast<unsigned char>(l);
    }
    // A narrow label lowers to units <= 0xFF, so a term holding a larger
    // unit can only occur in a wide label.
    narrowPossible_ = !term_.empty();
    for (char16_t u : term_) {
      narrowPossible_ = narrowPossible_ && u <= 0xFF;
      termBytes_.push_back(static_cast<unsigned char>(u));
    }
    if (narrowPossible_ && narrowClosed_) {
      narrowPossible_ = Candidates(term_.front(), first_) > 0 &&
                        Candidates(term_.back(), last_) > 0;
      blockScan_ = narrowPossible_ && Candidates(term_.front(), first_) <= 2 &&
                   Candidates(term_.back(), last_) <= 2;
    }
  }

  bool Empty() const { return term_.empty(); }

  bool Matches(const LabelView &label) const {
    if (term_.empty() || label.length < term_.size())
      return false;
    if (label.wide)
      return MatchesUnits(label.wide, label.length);
    if (!label.narrow)
      return false;
    if (!narrowClosed_) // never with Qt's tables; kept exact all the same
      return MatchesUnits(label.narrow, label.length);
    if (!narrowPossible_)
      return false;
#if defined(__SSE2__)
    if (blockScan_)
      return MatchesNarrowBlocks(label.narrow, label.length);
#endif
    return MatchesNarrowScalar(label.narrow, label.length);
  }

private:
  // The bytes that lower to `unit`; returns how many, keeps up to two.
  int Candidates(char16_t unit, std::array<unsigned char, 2> &pair) const {
    int found = 0;
    for (unsigned b = 0; b < 256; ++b) {
      if (narrowLower_[b] != unit)
        continue;
      if (found < 2)
        pair[found] = static_cast<unsigned char>(b);
      ++found;
    }
    if (found == 1)
      pair[1] = pair[0];
    return found;
  }

  template <typename Unit>
  bool MatchesUnits(const Unit *text, std::size_t length) const {
    const std::size_t m = term_.size();
    for (std::size_t p = 0; p + m <= length; ++p) {
      if (lower_[text[p]] != term_[0])
        continue;
      std::size_t k = 1;
      while (k < m && lower_[text[p + k]] == term_[k])
        ++k;
      if (k == m)
        return true;
    }
    return false;
  }

  bool MiddleMatches(const unsigned char *at) const {
    for (std::size_t k = 1; k + 1 < termBytes_.size(); ++k)
      if (narrowLower_[at[k]] != termBytes_[k])
        return false;
    return true;
  }

  bool MatchesNarrowScalar(const unsigned char *text,
                           std::size_t length) const {
    const std::size_t m = termBytes_.size();
    for (std::size_t p = 0; p + m <= length; ++p)
      if (narrowLower_[text[p]] == termBytes_[0] &&
          narrowLower_[text[p + m - 1]] == termBytes_[m - 1] &&
          MiddleMatches(text + p))
        return true;
    return false;
  }

#if defined(__SSE2__)
  // Sixteen start positions at a time: a start is a candidate when its byte
  // lowers to the term's first unit and the byte m-1 further on lowers to
  // its last.  Loads may run up to 15 bytes past the label, which the
  // store's slack after every narrow label allows; lanes past the last
  // start are masked off.
  bool MatchesNarrowBlocks(const unsigned char *text,
                           std::size_t length) const {
    const std::size_t m = termBytes_.size();
    const std::size_t lastStart = length - m;
    const __m128i f0 = _mm_set1_epi8(static_cast<char>(first_[0]));
    const __m128i f1 = _mm_set1_epi8(static_cast<char>(first_[1]));
    const __m128i l0 = _mm_set1_epi8(static_cast<char>(last_[0]));
    const __m128i l1 = _mm_set1_epi8(static_cast<char>(last_[1]));
    for (std::size_t p = 0; p <= lastStart; p += 16) {
      const __m128i a =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + p));
      const __m128i b =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + p + m - 1));
      const __m128i hit = _mm_and_si128(
          _mm_or_si128(_mm_cmpeq_epi8(a, f0), _mm_cmpeq_epi8(a, f1)),
          _mm_or_si128(_mm_cmpeq_epi8(b, l0), _mm_cmpeq_epi8(b, l1)));
      auto mask = static_cast<uint32_t>(_mm_movemask_epi8(hit));
      const std::size_t starts = lastStart - p + 1;
      if (starts < 16)
        mask &= (1u << starts) - 1;
      while (mask) {
        if (MiddleMatches(text + p + std::countr_zero(mask)))
          return true;
        mask &= mask - 1;
      }
    }
    return false;
  }
#endif

  const LowerCaseTable &lower_;
  std::u16string_view term_;
  std::basic_string<unsigned char> termBytes_;
  std::array<unsigned char, 256> narrowLower_{};
  std::array<unsigned char, 2> first_{};
  std::array<unsigned char, 2> last_{};
  bool narrowClosed_ = true;
  bool narrowPossible_ = false;
  bool blockScan_ = false;
};

// Whether a narrow label matched, remembered by where it lies.  The store
// keeps a repeated label once, so most nodes share their label with many
// others ("PARAMS", "BIT-LENGTH = 8"), and those are answered without a
// scan.  A slot is one label; a collision only costs a scan.
class MatchMemo {
public:
  MatchMemo() : slots_(std::make_unique<Slot[]>(kSlots)) {}

  template <typename Match>
  bool Matches(const LabelView &label, const Match &match) {
    if (!label.narrow)
      return match(label);
    const auto key = reinterpret_cast<std::uintptr_t>(label.narrow);
    Slot &slot = slots_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (slot.label != label.narrow || slot.length != label.length) {
      slot.label = label.narrow;
      slot.length = label.length;
      slot.hit = match(label);
    }
    return slot.hit;
  }

private:
  static constexpr unsigned kBits = 12;
  static constexpr std::size_t kSlots = std::size_t{1} << kBits;
  struct Slot {
    const unsigned char *label = nullptr;
    uint32_t length = 0;
    bool hit = false;
  };
  std::unique_ptr<Slot[]> slots_;
};

class BusyGuard {
public:
  explicit BusyGuard(BusyIndicator &busy) : busy_(busy) { busy_.SetBusy(true); }
  ~BusyGuard() { busy_.SetBusy(false); }
  BusyGuard(const BusyGuard &) = delete;
  BusyGuard &operator=(const BusyGuard &) = delete;

private:
  BusyIndicator &busy_;
};

// Adds the hits after what `results` holds, inside the caller's bracket.
void AddHits(const cvexString &filterText, const OutlineStore &items,
             OutlineStore &results) {
  cvexString term;
  term.AssignWide(filterText.buffer);
  term.ToLower();
  const LoweredTermMatcher matcher(std::u16string_view(
      term.buffer, static_cast<std::size_t>(term.Length())));
  if (matcher.Empty())
    return;
  // A term that occurs nowhere in the stored label text has no hit: one
  // pass over the text, at the speed of memory, and no node is looked at.
  if (!items.AnyLabelBlock(
          [&matcher](const LabelView &text) { return matcher.Matches(text); }))
    return;
  MatchMemo memo;
  auto match = [&matcher](const LabelView &label) {
    return matcher.Matches(label);
  };
  for (uint32_t i = 0; i < items.GetCount(); ++i) {
    const NodeHandle node = items.GetNodeFromIndex(i);
    if (memo.Matches(items.GetText(node), match)) {
      // A hit shows its node's label, not a copy of it, and its pictures,
      // so containers stand out; it refers to the node as its data.
      const int image = items.ImageIndex(node);
      const NodeHandle hit = results.AddBorrowed(kNoNode, items, node, image);
      if (items.SelectedIndex(node) != image)
        results.SetSelectedIndex(hit, items.SelectedIndex(node));
    }
  }
}

} // namespace

void FilterSearch(const cvexString &filterText, const OutlineStore &items,
                  OutlineStore &results, BusyIndicator &busy) {
  BusyGuard busyGuard(busy);
  // One reset of the hit list for the whole pass.  The outline only is
  // read, so its view keeps its expansion and selection.
  StoreUpdate bracket(results);
  results.Clear();
  AddHits(filterText, items, results);
}

void AppendFilterHits(const cvexString &filterText, const OutlineStore &items,
                      OutlineStore &results, BusyIndicator &busy) {
  BusyGuard busyGuard(busy);
  StoreUpdate bracket(results);
  AddHits(filterText, items, results);
}

NodeHandle ResultTarget(const OutlineStore &results, NodeHandle selectedResult,
                        const OutlineStore &items) {
  if (selectedResult >= results.GetCount())
    return kNoNode;
  const NodeRef ref = results.Data(selectedResult);
  return items.IsLive(ref) ? ref.handle : kNoNode;
}

void PickElementName(const LabelView &label, cvexString &out) {
  // Only the units before the first space are looked at, so a description
  // of megabytes costs no more than its first word.
  uint32_t n = 0;
  auto unit = [&label](uint32_t i) -> char16_t {
    return label.narrow ? label.narrow[i] : label.wide[i];
  };
  while (n < label.length && unit(n) != u' ')
    ++n;
  out.SetCapacity(static_cast<int32_t>(n) + 1, false);
  for (uint32_t i = 0; i < n; ++i)
    out.buffer[i] = unit(i);
  out.Terminate(static_cast<int32_t>(n));
}

} // namespace outline
