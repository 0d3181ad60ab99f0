#include "odx/OdxIndex.h"

#include "UnitScan.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "outline/OutlineBuilder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <future>
#include <string_view>
#include <system_error>

namespace odx {
namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;
using outline::NodeRef;
using outline::OutlineStore;

constexpr std::u16string_view kShortName = u"SHORT-NAME";
constexpr std::u16string_view kDesc = u"DESC";
// A name starts after "SHORT-NAME = " in its leaf's label.
constexpr uint32_t kNameOffset =
    static_cast<uint32_t>(kShortName.size() + outline::kValueSeparator.size());
constexpr uint32_t kAbsent = UINT32_MAX;

bool Bit(const std::vector<uint64_t> &bits, NodeHandle n) {
  return (bits[n >> 6] >> (n & 63)) & 1;
}

void SetBit(std::vector<uint64_t> &bits, NodeHandle n) {
  bits[n >> 6] |= uint64_t{1} << (n & 63);
}

void Prefetch(const void *p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

uint64_t Mix(uint64_t h, uint64_t word) {
  h ^= word;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// The same units give the same hash whether they are stored narrow or wide:
// wide units are hashed by their low bytes (values differing only above
// them collide, and every match is checked unit by unit anyway).
uint32_t HashUnits(const LabelView &v) {
  uint64_t h = 0x243F6A8885A308D3ull ^ v.length;
  unsigned char bytes[8];
  for (uint32_t i = 0; i < v.length; i += 8) {
    const uint32_t n = std::min<uint32_t>(8, v.length - i);
    if (v.narrow) {
      std::memcpy(bytes, v.narrow + i, n);
    } else {
      for (uint32_t k = 0; k < n; ++k)
        bytes[k] = static_cast<unsigned char>(v.wide[i + k]);
    }
    std::memset(bytes + n, 0, 8 - n);
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    h = Mix(h, word);
  }
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<uint32_t>(h >> 32);
}

// A target: where its ID value lies in the store's label arena, so checking
// a candidate reads no node record.  Its hash sits in the sort key.
struct Target {
  const void *value; // the first unit
  uint32_t length;   // units; kWideUnits set: char16_t units
  NodeHandle node;
};
constexpr uint32_t kWideUnits = 0x80000000u;

// A reference: its ID-REF value as a place in its node's label.
struct PendingReference {
  NodeHandle node;
  uint32_t hash;
  uint32_t from;
  uint32_t length;
};

// The DOCREF of a reference that has one (few do).
struct Hint {
  uint32_t reference; // index into the references
  uint32_t from;
  uint32_t length;
};

// The names as the pass finds them, then the running counts for rank.
struct NameTable {
  std::vector<uint64_t> &named;
  std::vector<uint32_t> &before;
  std::vector<uint32_t> &lengths;

  uint32_t Length(NodeHandle n) const {
    if (n >= named.size() * 64 || !Bit(named, n))
      return 0;
    const uint64_t below = named[n >> 6] & ((uint64_t{1} << (n & 63)) - 1);
    return lengths[before[n >> 6] + std::popcount(below)];
  }
};

// What a pass over one range of nodes finds, in node order.  Indexes into
// the targets and references count from the start of the range.
struct Harvest {
  std::vector<Target> targets;
  std::vector<uint64_t> keys; // hash << 32 | target index
  std::vector<PendingReference> references;
  std::vector<Hint> hints;
  std::vector<NodeHandle> tops; // top-level nodes
  std::vector<uint32_t> nameLengths;
  uint32_t nameOfPrevious = 0; // of the node just before the range
};

// One build: a pass over the nodes in pre-order collects names, targets and
// references (two ranges side by side on a big outline); then the targets'
// keys are sorted by hash (and by value within a hash) and each reference
// looks its candidates up.
class Builder {
public:
  Builder(const OutlineStore &store, NameTable names)
      : store_(store), names_(names) {}

  void Pass(unsigned threads);
  void Resolve(std::vector<OdxIndex::Reference> &out);

private:
  void PassRange(NodeHandle begin, NodeHandle end, Harvest &h);
  template <bool Padded, typename Unit>
  void Visit(NodeHandle node, NodeHandle parent, NodeHandle begin,
             const Unit *p, uint32_t n, const OutlineStore::LabelNote *note,
             Harvest &h);
  template <bool Padded, typename Unit>
  void ReadIds(NodeHandle node, const Unit *p, uint32_t n, uint32_t from,
               Harvest &h);

  LabelView Piece(NodeHandle node, uint32_t from, uint32_t length) const {
    return Slice(store_.GetText(node), from, length);
  }
  const Target &TargetOf(uint64_t key) const {
    return targets_[static_cast<uint32_t>(key)];
  }
  NodeHandle NodeOf(std::size_t k) const { return TargetOf(keys_[k]).node; }
  static LabelView ValueOf(const Target &t) {
    LabelView v;
    v.length = t.length & ~kWideUnits;
    if (t.length & kWideUnits)
      v.wide = static_cast<const char16_t *>(t.value);
    else
      v.narrow = static_cast<const unsigned char *>(t.value);
    return v;
  }
  LabelView NameOf(NodeHandle node) const {
    return Piece(node + 1, kNameOffset, names_.Length(node));
  }
  void SortKeys();
  std::size_t FirstInBucket(uint32_t hash) const {
    return directory_[hash >> (32 - directoryBits_)];
  }
  void Candidates(const PendingReference &r, std::size_t &first,
                  std::size_t &last) const;
  std::size_t FirstAtOrAfter(std::size_t first, std::size_t last,
                             NodeHandle node) const;
  NodeHandle InOwnDocument(NodeHandle reference, std::size_t first,
                           std::size_t last) const;
  NodeHandle UnderNamed(std::size_t first, std::size_t last,
                        const LabelView &hint);
  bool IsAncestorOrSelf(NodeHandle ancestor, NodeHandle node) const;

  const OutlineStore &store_;
  NameTable names_;
  // Nodes whose label is a DESC element's: their children are raw text.
  std::vector<uint64_t> desc_;
  std::vector<Target> targets_; // pre-order
  std::vector<uint64_t> keys_;
  std::vector<PendingReference> references_; // pre-order
  std::vector<Hint> hints_;
  std::vector<NodeHandle> tops_;
  // The keys whose hash has its top bits equal to b start at directory_[b];
  // the bucket ends where the next one starts.
  std::vector<uint32_t> directory_;
  int directoryBits_ = 0;
  // Named containers by the hash of their name, made only when a hint has
  // to choose among candidates.
  std::vector<std::pair<uint32_t, NodeHandle>> byName_;
  bool byNameMade_ = false;
};

template <typename T> void Append(std::vector<T> &to, std::vector<T> &from) {
  if (to.empty())
    to.swap(from);
  else
    to.insert(to.end(), from.begin(), from.end());
  std::vector<T>().swap(from);
}

// The second range starts on a 64-node boundary, so the two ranges set bits
// in different words; the one bit that would cross (a name found for the
// last node of the first range) is handed over in the harvest instead.
void Builder::Pass(unsigned threads) {
  constexpr uint32_t kSmallest = 1u << 16; // not worth a thread below this
  const uint32_t count = store_.GetCount();
  const std::size_t words = (std::size_t{count} + 63) / 64;
  names_.named.assign(words, 0);
  desc_.assign(words, 0);
  const NodeHandle split =
      threads > 1 && count >= kSmallest ? (count / 2) & ~NodeHandle{63} : count;
  Harvest first, second;
  if (split < count) {
    std::future<void> later;
    try {
      later = std::async(std::launch::async,
                         [&] { PassRange(split, count, second); });
    } catch (const std::system_error &) { // no thread to be had
      PassRange(split, count, second);
    }
    PassRange(0, split, first);
    if (later.valid())
      later.get();
  } else {
    PassRange(0, count, first);
  }
  if (second.nameOfPrevious) {
    SetBit(names_.named, split - 1);
    first.nameLengths.push_back(second.nameOfPrevious);
  }
  const auto targetBase = static_cast<uint32_t>(first.targets.size());
  for (uint64_t &key : second.keys)
    key += targetBase;
  const auto referenceBase = static_cast<uint32_t>(first.references.size());
  for (Hint &hint : second.hints)
    hint.reference += referenceBase;
  Append(first.nameLengths, second.nameLengths);
  names_.lengths.swap(first.nameLengths);
  Append(first.targets, second.targets);
  targets_.swap(first.targets);
  Append(first.keys, second.keys);
  keys_.swap(first.keys);
  Append(first.references, second.references);
  references_.swap(first.references);
  Append(first.hints, second.hints);
  hints_.swap(first.hints);
  Append(first.tops, second.tops);
  tops_.swap(first.tops);
  std::vector<uint64_t>().swap(desc_);

  names_.before.resize(words);
  uint32_t running = 0;
  for (std::size_t w = 0; w < words; ++w) {
    names_.before[w] = running;
    running += static_cast<uint32_t>(std::popcount(names_.named[w]));
  }
}

void Builder::PassRange(NodeHandle begin, NodeHandle end, Harvest &h) {
  // Room for more targets and references than ODX files hold (about one
  // node in ten is either): only what is written is ever touched, while
  // growing would copy.
  const std::size_t expected = (end - begin) / 6;
  h.targets.reserve(expected);
  h.keys.reserve(expected);
  h.references.reserve(expected);
  const auto notes = store_.LabelNotes();
  std::size_t k = static_cast<std::size_t>(
      std::lower_bound(notes.begin(), notes.end(), begin,
                       [](const OutlineStore::LabelNote &n, NodeHandle b) {
                         return n.node < b;
                       }) -
      notes.begin());
  for (NodeHandle i = begin; i < end; ++i) {
    const NodeHandle parent = store_.Parent(i);
    if (parent == kNoNode) {
      h.tops.push_back(i);
      // A package's member is no element: no attributes, no name.
      if (store_.IsPackage())
        continue;
    }
    while (k < notes.size() && notes[k].node < i)
      ++k;
    const OutlineStore::LabelNote *note =
        k < notes.size() && notes[k].node == i ? &notes[k] : nullptr;
    const LabelView label = store_.GetText(i);
    // Parents come before their children, so a parent in this range has
    // its bit; one before it is looked at.
    const bool inDescription =
        parent != kNoNode &&
        (parent >= begin ? Bit(desc_, parent)
                         : outline::IsDescriptionLabel(store_.GetText(parent)));
    if (inDescription ||
        (note && note->attributeStart == OutlineStore::kRawText)) {
      if (outline::IsDescriptionLabel(label))
        SetBit(desc_, i);
      continue;
    }
    if (label.narrow)
      Visit<true>(i, parent, begin, label.narrow, label.length, note, h);
    else
      Visit<false>(i, parent, begin, label.wide, label.length, note, h);
  }
}

template <bool Padded, typename Unit>
void Builder::Visit(NodeHandle node, NodeHandle parent, NodeHandle begin,
                    const Unit *p, uint32_t n,
                    const OutlineStore::LabelNote *note, Harvest &h) {
  const detail::LabelSplit s = detail::SplitUnits<Padded>(p, n, note);
  if (detail::UnitsEqual(p, s.space, kDesc) &&
      outline::IsDescriptionLabel(store_.GetText(node)))
    SetBit(desc_, node);
  // A first child comes right after its parent; parents are met in order,
  // so the lengths are appended in node order.
  if (parent != kNoNode && parent + 1 == node && s.valueEnd > s.value &&
      detail::UnitsEqual(p, s.space, kShortName) &&
      !(store_.IsPackage() && store_.Parent(parent) == kNoNode)) {
    if (parent < begin) {
      h.nameOfPrevious = s.valueEnd - s.value;
    } else {
      SetBit(names_.named, parent);
      h.nameLengths.push_back(s.valueEnd - s.value);
    }
  }
  if (s.attributes < n)
    ReadIds<Padded>(node, p, n, s.attributes, h);
}

template <bool Padded, typename Unit>
void Builder::ReadIds(NodeHandle node, const Unit *p, uint32_t n, uint32_t from,
                      Harvest &h) {
  uint32_t id = kAbsent, idLength = 0, ref = kAbsent, refLength = 0;
  uint32_t hint = kAbsent, hintLength = 0;
  const Unit *text = p + from;
  detail::ReadAttributeUnits<Padded>(
      text, n - from,
      [&](uint32_t name, uint32_t nameLength, uint32_t value,
          uint32_t valueLength) {
        // The first of two attributes with one name counts.
        const Unit *q = text + name;
        if (id == kAbsent && detail::UnitsEqual(q, nameLength, u"ID")) {
          id = from + value;
          idLength = valueLength;
        } else if (ref == kAbsent &&
                   detail::UnitsEqual(q, nameLength, u"ID-REF")) {
          ref = from + value;
          refLength = valueLength;
        } else if (hint == kAbsent &&
                   detail::UnitsEqual(q, nameLength, u"DOCREF")) {
          hint = from + value;
          hintLength = valueLength;
        }
        return true;
      });
  if (id != kAbsent) {
    // A value never reaches 2^31 units: files stay below 2 GiB.
    const auto index = static_cast<uint32_t>(h.targets.size());
    if constexpr (sizeof(Unit) == 1)
      h.targets.push_back(Target{p + id, idLength, node});
    else
      h.targets.push_back(Target{p + id, idLength | kWideUnits, node});
    h.keys.push_back(uint64_t{HashUnits(ValueOf(h.targets.back()))} << 32 |
                     index);
  }
  if (ref != kAbsent) {
    LabelView value;
    value.length = refLength;
    if constexpr (sizeof(Unit) == 1)
      value.narrow = p + ref;
    else
      value.wide = p + ref;
    if (hint != kAbsent)
      h.hints.push_back(
          Hint{static_cast<uint32_t>(h.references.size()), hint, hintLength});
    h.references.push_back(
        PendingReference{node, HashUnits(value), ref, refLength});
  }
}

// Least significant digit first, each pass stable, so the keys of one hash
// stay in pre-order; values that share a hash (rare, or a file full of
// duplicates) are then ordered by value, and equal values by node.
void Builder::SortKeys() {
  constexpr int kDigitBits = 11;
  constexpr uint64_t kDigits = uint64_t{1} << kDigitBits;
  std::vector<uint64_t> other(keys_.size());
  for (int shift = 32; shift < 64; shift += kDigitBits) {
    std::array<uint32_t, kDigits + 1> start{};
    for (const uint64_t key : keys_)
      ++start[((key >> shift) & (kDigits - 1)) + 1];
    for (uint64_t d = 1; d <= kDigits; ++d)
      start[d] += start[d - 1];
    for (const uint64_t key : keys_)
      other[start[(key >> shift) & (kDigits - 1)]++] = key;
    keys_.swap(other);
  }
  for (std::size_t i = 0; i < keys_.size();) {
    std::size_t j = i + 1;
    while (j < keys_.size() && keys_[j] >> 32 == keys_[i] >> 32)
      ++j;
    if (j - i > 1)
      std::sort(keys_.begin() + i, keys_.begin() + j,
                [this](uint64_t a, uint64_t b) {
                  const int c =
                      CompareUnits(ValueOf(TargetOf(a)), ValueOf(TargetOf(b)));
                  return c != 0 ? c < 0 : a < b;
                });
    i = j;
  }
  // About four keys a bucket.
  directoryBits_ =
      std::clamp(static_cast<int>(std::bit_width(keys_.size())) - 2, 1, 24);
  directory_.assign((std::size_t{1} << directoryBits_) + 1, 0);
  std::size_t k = 0;
  for (std::size_t b = 0; b + 1 < directory_.size(); ++b) {
    directory_[b] = static_cast<uint32_t>(k);
    while (k < keys_.size() && (keys_[k] >> (64 - directoryBits_)) == b)
      ++k;
  }
  directory_.back() = static_cast<uint32_t>(keys_.size());
}

// The keys of the targets whose ID equals the reference's value:
// [first, last).
void Builder::Candidates(const PendingReference &r, std::size_t &first,
                         std::size_t &last) const {
  const uint32_t bucket = r.hash >> (32 - directoryBits_);
  auto lo = keys_.begin() + directory_[bucket];
  auto hi = keys_.begin() + directory_[bucket + 1];
  auto hashBelow = [](uint64_t key, uint32_t h) { return key >> 32 < h; };
  auto hashAbove = [](uint32_t h, uint64_t key) { return h < key >> 32; };
  lo = std::lower_bound(lo, hi, r.hash, hashBelow);
  hi = std::upper_bound(lo, hi, r.hash, hashAbove);
  const LabelView value = Piece(r.node, r.from, r.length);
  if (hi - lo > 1) {
    lo = std::lower_bound(lo, hi, value,
                          [this](uint64_t key, const LabelView &v) {
                            return CompareUnits(ValueOf(TargetOf(key)), v) < 0;
                          });
    hi = std::upper_bound(lo, hi, value,
                          [this](const LabelView &v, uint64_t key) {
                            return CompareUnits(v, ValueOf(TargetOf(key))) < 0;
                          });
  } else if (lo != hi && !SameUnits(ValueOf(TargetOf(*lo)), value)) {
    hi = lo;
  }
  first = static_cast<std::size_t>(lo - keys_.begin());
  last = static_cast<std::size_t>(hi - keys_.begin());
}

// Candidates of one value are in pre-order.
std::size_t Builder::FirstAtOrAfter(std::size_t first, std::size_t last,
                                    NodeHandle node) const {
  while (first < last) {
    const std::size_t mid = first + (last - first) / 2;
    if (NodeOf(mid) < node)
      first = mid + 1;
    else
      last = mid;
  }
  return first;
}

// Without a hint: the first candidate in the reference's own top-level
// subtree (a contiguous range in pre-order), else the first of all.
NodeHandle Builder::InOwnDocument(NodeHandle reference, std::size_t first,
                                  std::size_t last) const {
  const auto top = std::upper_bound(tops_.begin(), tops_.end(), reference) - 1;
  const NodeHandle end =
      top + 1 == tops_.end() ? store_.GetCount() : *(top + 1);
  const std::size_t c = FirstAtOrAfter(first, last, *top);
  return c < last && NodeOf(c) < end ? NodeOf(c) : NodeOf(first);
}

bool Builder::IsAncestorOrSelf(NodeHandle ancestor, NodeHandle node) const {
  // Ancestors have smaller handles than their descendants.
  while (node != kNoNode && node > ancestor)
    node = store_.Parent(node);
  return node == ancestor;
}

// With a hint: the first candidate with an ancestor-or-self named `hint`,
// else the first of all.  Walks up from each candidate, or down from each
// node of that name, whichever list is shorter, so a file full of
// duplicates costs no more than the shorter list.
NodeHandle Builder::UnderNamed(std::size_t first, std::size_t last,
                               const LabelView &hint) {
  if (!byNameMade_) {
    for (std::size_t w = 0; w < names_.named.size(); ++w)
      for (uint64_t bits = names_.named[w]; bits; bits &= bits - 1) {
        const auto n = static_cast<NodeHandle>(w * 64 + std::countr_zero(bits));
        byName_.emplace_back(HashUnits(NameOf(n)), n);
      }
    std::sort(byName_.begin(), byName_.end());
    byNameMade_ = true;
  }
  const uint32_t h = HashUnits(hint);
  const auto lo = std::lower_bound(byName_.begin(), byName_.end(),
                                   std::make_pair(h, NodeHandle{0}));
  const auto hi =
      std::upper_bound(lo, byName_.end(), std::make_pair(h, kNoNode));
  if (last - first <= static_cast<std::size_t>(hi - lo)) {
    for (std::size_t c = first; c < last; ++c)
      for (NodeHandle n = NodeOf(c); n != kNoNode; n = store_.Parent(n))
        if (names_.Length(n) > 0 && SameUnits(NameOf(n), hint))
          return NodeOf(c);
  } else {
    // Named nodes in pre-order: the first one holding a candidate holds
    // the earliest.
    for (auto s = lo; s != hi; ++s) {
      if (!SameUnits(NameOf(s->second), hint))
        continue;
      const std::size_t c = FirstAtOrAfter(first, last, s->second);
      if (c < last && IsAncestorOrSelf(s->second, NodeOf(c)))
        return NodeOf(c);
    }
  }
  return NodeOf(first);
}

void Builder::Resolve(std::vector<OdxIndex::Reference> &out) {
  SortKeys();
  out.clear();
  out.reserve(references_.size());
  // References with a hint and several candidates, answered once per
  // (candidates, hint) below.
  struct Hinted {
    std::size_t reference, first, last;
    LabelView hint;
  };
  std::vector<Hinted> hinted;
  // Each lookup is a chain of reads far apart (directory, key, target, its
  // value); starting the reads for later references early lets them
  // overlap instead of queueing one after the other.
  constexpr std::size_t kAhead = 8;
  const std::size_t count = keys_.empty() ? 0 : references_.size();
  auto keyAtOrAfter = [this](std::size_t i) {
    const uint32_t hash = references_[i].hash;
    std::size_t k = FirstInBucket(hash);
    while (k < keys_.size() && keys_[k] >> 32 < hash)
      ++k;
    return k;
  };
  std::size_t nextHint = 0;
  for (std::size_t i = 0; i < references_.size(); ++i) {
    if (i + 3 * kAhead < count)
      Prefetch(keys_.data() + FirstInBucket(references_[i + 3 * kAhead].hash));
    if (i + 2 * kAhead < count) {
      const std::size_t k = keyAtOrAfter(i + 2 * kAhead);
      if (k < keys_.size())
        Prefetch(&TargetOf(keys_[k]));
    }
    if (i + kAhead < count) {
      const std::size_t k = keyAtOrAfter(i + kAhead);
      if (k < keys_.size())
        Prefetch(TargetOf(keys_[k]).value);
    }
    const PendingReference &r = references_[i];
    const bool hasHint =
        nextHint < hints_.size() && hints_[nextHint].reference == i;
    std::size_t first = 0, last = 0;
    if (count > 0)
      Candidates(r, first, last);
    NodeHandle target = kNoNode;
    if (last - first == 1) {
      target = NodeOf(first);
    } else if (last - first > 1) {
      if (!hasHint) {
        target = InOwnDocument(r.node, first, last);
      } else {
        const Hint &h = hints_[nextHint];
        hinted.push_back(
            Hinted{i, first, last, Piece(r.node, h.from, h.length)});
      }
    }
    nextHint += hasHint;
    out.push_back(OdxIndex::Reference{r.node, target});
  }
  std::sort(hinted.begin(), hinted.end(), [](const Hinted &a, const Hinted &b) {
    if (a.first != b.first)
      return a.first < b.first;
    return CompareUnits(a.hint, b.hint) < 0;
  });
  for (std::size_t i = 0; i < hinted.size();) {
    const NodeHandle target =
        UnderNamed(hinted[i].first, hinted[i].last, hinted[i].hint);
    std::size_t j = i;
    while (j < hinted.size() && hinted[j].first == hinted[i].first &&
           SameUnits(hinted[j].hint, hinted[i].hint))
      out[hinted[j++].reference].target = target;
    i = j;
  }
}

} // namespace

OdxIndex::OdxIndex(const OutlineStore &store, unsigned threads)
    : store_(store), threads_(threads) {}

OdxIndex::Fingerprint OdxIndex::Current() const {
  return Fingerprint{store_.Generation(), store_.GetCount(),
                     store_.LabelNotes().size()};
}

void OdxIndex::Refresh() const {
  if (!built_ || Current() != fingerprint_)
    Build();
}

void OdxIndex::Build() const {
  built_ = false;
  std::vector<uint64_t>().swap(named_);
  std::vector<uint32_t>().swap(namedBefore_);
  std::vector<uint32_t>().swap(nameLength_);
  std::vector<Reference>().swap(references_);
  Builder builder(store_, NameTable{named_, namedBefore_, nameLength_});
  builder.Pass(threads_);
  builder.Resolve(references_);
  nameLength_.shrink_to_fit();
  fingerprint_ = Current();
  built_ = true;
}

uint32_t OdxIndex::Generation() const {
  Refresh();
  return fingerprint_.generation;
}

LabelView OdxIndex::Name(NodeHandle node) const {
  Refresh();
  const uint32_t length =
      NameTable{named_, namedBefore_, nameLength_}.Length(node);
  return length ? Slice(store_.GetText(node + 1), kNameOffset, length)
                : LabelView();
}

const OdxIndex::Reference *OdxIndex::FindReference(NodeHandle node) const {
  Refresh();
  const auto it = std::lower_bound(
      references_.begin(), references_.end(), node,
      [](const Reference &r, NodeHandle n) { return r.node < n; });
  return it != references_.end() && it->node == node ? &*it : nullptr;
}

NodeRef OdxIndex::Definition(NodeRef reference) const {
  Refresh();
  if (reference.generation != fingerprint_.generation)
    return NodeRef();
  const Reference *r = FindReference(reference.handle);
  if (!r || r->target == kNoNode)
    return NodeRef();
  return NodeRef{r->target, fingerprint_.generation};
}

std::vector<NodeRef> OdxIndex::Usages(NodeRef target) const {
  Refresh();
  std::vector<NodeRef> usages;
  if (target.generation != fingerprint_.generation || target.handle == kNoNode)
    return usages;
  for (const Reference &r : references_)
    if (r.target == target.handle)
      usages.push_back(NodeRef{r.node, fingerprint_.generation});
  return usages;
}

std::vector<NodeRef> OdxIndex::Unresolved() const {
  Refresh();
  std::vector<NodeRef> unresolved;
  for (const Reference &r : references_)
    if (r.target == kNoNode)
      unresolved.push_back(NodeRef{r.node, fingerprint_.generation});
  return unresolved;
}

std::span<const OdxIndex::Reference> OdxIndex::References() const {
  Refresh();
  return references_;
}

bool OdxIndex::IsTarget(NodeHandle node) const {
  const NodeLabel parts = ReadNodeLabel(store_, node);
  return FindAttribute(parts.attributes, u"ID").has_value();
}

std::size_t OdxIndex::MemoryBytes() const {
  return sizeof(*this) + named_.capacity() * sizeof(uint64_t) +
         (namedBefore_.capacity() + nameLength_.capacity()) * sizeof(uint32_t) +
         references_.capacity() * sizeof(Reference);
}

} // namespace odx
