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
using namespace std::string_view_literals;

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
static_assert(sizeof(Target) == 16, "one of a million: kept small");
constexpr uint32_t kWideUnits = 0x80000000u;

LabelView ValueOf(const Target &t) {
  LabelView v;
  v.length = t.length & ~kWideUnits;
  if (t.length & kWideUnits)
    v.wide = static_cast<const char16_t *>(t.value);
  else
    v.narrow = static_cast<const unsigned char *>(t.value);
  return v;
}

// A reference by ID: its ID-REF value as a place in its node's label.
struct PendingReference {
  NodeHandle node;
  uint32_t hash;
  uint32_t from, length;
};
static_assert(sizeof(PendingReference) == 16, "kept small, as Target");

// The DOCREF of a reference that has one (few do).
struct Hint {
  uint32_t reference; // index into the references
  uint32_t from, length;
  bool layer; // DOCTYPE="LAYER"
};

// A reference by short name: its SHORT-NAME value in its label, and the
// length of its tag without "-SNREF".
struct PendingName {
  NodeHandle node;
  uint32_t from, length;
  uint32_t base;
};

// A node of the path from the top to the node being read, with what it
// means for the nodes below it.
enum : uint8_t {
  kInDescription = 1, // a DESC element: its children are text
  kHoldsTop = 2,      // a file or member: its children are top-level
  kTopOdx = 4,        // a top-level ODX element: its children are documents
  kWanted = 8,        // where its subtree ends is kept
  kMarked = 16,       // wanted, and so is every node above it
};
struct Open {
  NodeHandle node;
  uint8_t flags;
};
constexpr Open kRootContext{kNoNode, kHoldsTop};

struct End {
  NodeHandle node, end;
  friend bool operator<(const End &a, const End &b) { return a.node < b.node; }
};

// The names as the pass finds them, then the running counts for rank.
struct NameTable {
  std::vector<uint64_t> &named;
  std::vector<uint32_t> &before;
  std::vector<uint32_t> &lengths;
  std::vector<uint32_t> &offsets;

  uint32_t Rank(NodeHandle n) const {
    const uint64_t below = named[n >> 6] & ((uint64_t{1} << (n & 63)) - 1);
    return before[n >> 6] + static_cast<uint32_t>(std::popcount(below));
  }
  bool Has(NodeHandle n) const {
    return n < named.size() * 64 && Bit(named, n);
  }
  LabelView Of(const OutlineStore &store, NodeHandle n) const {
    if (!Has(n))
      return LabelView();
    const uint32_t r = Rank(n);
    return Slice(store.GetText(n + offsets[r]), kNameOffset, lengths[r]);
  }
};

// What a pass over one range of nodes finds, in node order.  Indexes into
// the targets and references count from the start of the range.
struct Harvest {
  std::vector<Target> targets;
  std::vector<uint64_t> keys; // hash << 32 | target index
  std::vector<PendingReference> references;
  std::vector<Hint> hints;
  std::vector<uint32_t> parentRefs; // references that are PARENT-REFs
  std::vector<PendingName> names;
  std::vector<std::pair<NodeHandle, LayerKind>> layers;
  std::vector<NodeHandle> documents;
  std::vector<End> ends;
  std::vector<uint32_t> nameLengths, nameOffsets;
  // A name found for an element before the range (its SHORT-NAME leaf is
  // in the range): set once the ranges are joined.
  NodeHandle namedBefore = kNoNode;
  uint32_t namedBeforeLength = 0, namedBeforeOffset = 0;
};

// For each place, the place of the same list enclosing it (an index, or
// UINT32_MAX): places nest or lie apart, never overlap.
void Nest(const std::vector<OdxIndex::Place> &places,
          std::vector<uint32_t> &enclosing) {
  enclosing.assign(places.size(), UINT32_MAX);
  std::vector<uint32_t> open;
  for (uint32_t i = 0; i < places.size(); ++i) {
    while (!open.empty() && places[open.back()].end <= places[i].node)
      open.pop_back();
    if (!open.empty())
      enclosing[i] = open.back();
    open.push_back(i);
  }
}

// The innermost place holding `node`, itself included; kNoNode for none.
NodeHandle Innermost(const std::vector<OdxIndex::Place> &places,
                     const std::vector<uint32_t> &enclosing, NodeHandle node) {
  // The last place starting at or before the node, or one around it.
  auto it = std::upper_bound(
      places.begin(), places.end(), node,
      [](NodeHandle n, const OdxIndex::Place &p) { return n < p.node; });
  if (it == places.begin())
    return kNoNode;
  auto i = static_cast<uint32_t>(it - places.begin() - 1);
  while (i != UINT32_MAX && node >= places[i].end)
    i = enclosing[i];
  return i == UINT32_MAX ? kNoNode : places[i].node;
}

// The layer a tag makes, LayerKind::None for most.
template <typename Unit> LayerKind LayerKindOf(const Unit *p, uint32_t length) {
  for (const LayerRule &rule : kLayerRules)
    if (rule.tag.size() == length && detail::HasAt(p, length, 0, rule.tag))
      return rule.kind;
  return LayerKind::None;
}

template <typename Unit> bool IsDeclarationUnit(Unit u) {
  return u == Unit{'?'} || u == Unit{'!'};
}

// No element: a processing instruction or <!...> leaf.
bool IsDeclarationLabel(const LabelView &label) {
  if (label.length == 0)
    return false;
  return label.narrow ? IsDeclarationUnit(label.narrow[0])
                      : IsDeclarationUnit(label.wide[0]);
}

// One build: a pass over the nodes in pre-order collects names, places,
// targets and references (two ranges side by side on a big outline); then
// the targets' keys are sorted by hash (and by value within a hash), the
// references by ID look their candidates up, and the references by name
// follow, since they walk through the layers the others make parents.
class Builder {
public:
  Builder(const OutlineStore &store, NameTable names)
      : store_(store), names_(names) {}

  void Pass(unsigned threads);
  void Resolve(std::vector<OdxIndex::Reference> &out,
               std::vector<OdxIndex::Place> &documents,
               std::vector<OdxIndex::Place> &layers,
               std::vector<uint32_t> &documentEnclosing,
               std::vector<uint32_t> &layerEnclosing,
               std::vector<std::pair<NodeHandle, uint32_t>> &parentRefs,
               std::vector<OdxIndex::Problem> &duplicates);

private:
  class Range;

  LabelView Piece(NodeHandle node, uint32_t from, uint32_t length) const {
    return Slice(store_.GetText(node), from, length);
  }
  const Target &TargetOf(uint64_t key) const {
    return targets_[static_cast<uint32_t>(key)];
  }
  NodeHandle NodeOf(std::size_t k) const { return TargetOf(keys_[k]).node; }
  LabelView NameOf(NodeHandle node) const { return names_.Of(store_, node); }
  void SortKeys();
  std::size_t FirstInBucket(uint32_t hash) const {
    return directory_[hash >> (32 - directoryBits_)];
  }
  void Candidates(const PendingReference &r, std::size_t &first,
                  std::size_t &last) const;
  std::size_t FirstAtOrAfter(std::size_t first, std::size_t last,
                             NodeHandle node) const;
  NodeHandle EndOf(NodeHandle node) const;
  void MakePlaces(std::vector<OdxIndex::Place> &documents,
                  std::vector<OdxIndex::Place> &layers,
                  std::vector<uint32_t> &documentEnclosing,
                  std::vector<uint32_t> &layerEnclosing);
  NodeHandle LayerOf(NodeHandle node) const {
    return Innermost(*layers_, *layerEnclosing_, node);
  }
  NodeHandle DocumentOf(NodeHandle node) const {
    return Innermost(*documents_, *documentEnclosing_, node);
  }
  void ResolveById(const PendingReference &r, const Hint *hint,
                   OdxIndex::Reference &out);
  void FindDuplicates(std::vector<OdxIndex::Problem> &duplicates) const;
  void ResolveByName(const std::vector<OdxIndex::Reference> &byId,
                     std::vector<OdxIndex::Reference> &out);
  LabelView TagOf(NodeHandle node) const;
  NodeHandle ScanEnd(NodeHandle node);
  bool IsLayer(NodeHandle node) const;
  void Messages(NodeHandle service, NarrowScope narrow,
                const std::vector<OdxIndex::Reference> &byId,
                std::vector<NodeHandle> &messages) const;

  const OutlineStore &store_;
  NameTable names_;
  std::vector<Target> targets_; // pre-order
  std::vector<uint64_t> keys_;
  std::vector<PendingReference> references_; // pre-order
  std::vector<Hint> hints_;                  // by reference
  std::vector<uint32_t> parentRefIndexes_;
  std::vector<PendingName> nameReferences_; // pre-order
  std::vector<std::pair<NodeHandle, LayerKind>> layerNodes_;
  std::vector<NodeHandle> documentNodes_;
  std::vector<End> ends_; // sorted by node
  // The keys whose hash has its top bits equal to b start at directory_[b];
  // the bucket ends where the next one starts.
  std::vector<uint32_t> directory_;
  int directoryBits_ = 0;
  // Documents and layers by the hash of their names, for DOCREFs.
  struct NamedPlace {
    uint32_t hash;
    uint32_t place;
    bool layer;
    friend bool operator<(const NamedPlace &a, const NamedPlace &b) {
      return a.hash != b.hash ? a.hash < b.hash : a.place < b.place;
    }
  };
  std::vector<NamedPlace> namedPlaces_;
  const std::vector<OdxIndex::Place> *documents_ = nullptr;
  const std::vector<OdxIndex::Place> *layers_ = nullptr;
  const std::vector<uint32_t> *documentEnclosing_ = nullptr;
  const std::vector<uint32_t> *layerEnclosing_ = nullptr;
  std::vector<std::pair<NodeHandle, uint32_t>> *parentRefs_ = nullptr;
  std::vector<std::pair<NodeHandle, NodeHandle>> scannedEnds_;
};

// One range's pass, with the path from the top to the node being read.
class Builder::Range {
public:
  Range(Builder &b, NodeHandle begin, NodeHandle end, Harvest &h)
      : b_(b), store_(b.store_), begin_(begin), end_(end), h_(h) {}

  void Run();

private:
  void Reopen();
  void Close(NodeHandle at) {
    const Open &e = path_.back();
    if (e.flags & kWanted)
      h_.ends.push_back(End{e.node, at});
    path_.pop_back();
  }
  // What `node` is, below `context`; with `harvest`, what it adds to the
  // index too.
  Open Visit(NodeHandle node, NodeHandle parent, const Open &context,
             const OutlineStore::LabelNote *note, bool harvest);
  template <bool Padded, typename Unit>
  void Read(NodeHandle node, NodeHandle parent, const Open &context,
            const LabelView &label, const Unit *p,
            const OutlineStore::LabelNote *note, bool harvest, Open &open);
  template <bool Padded, typename Unit>
  void ReadAttributes(const LabelView &label, const Unit *p, uint32_t from,
                      const Open &open, uint32_t tagLength);
  bool FirstElementChild(NodeHandle parent, NodeHandle node) const;
  void WantPath() {
    for (auto it = path_.rbegin(); it != path_.rend() && !(it->flags & kMarked);
         ++it)
      it->flags |= kWanted | kMarked;
  }

  Builder &b_;
  const OutlineStore &store_;
  const NodeHandle begin_, end_;
  Harvest &h_;
  std::vector<Open> path_;
};

void Builder::Range::Run() {
  // Room for more targets and references than ODX files hold (about one
  // node in ten is either): only what is written is ever touched, while
  // growing would copy.
  const std::size_t expected = (end_ - begin_) / 6;
  h_.targets.reserve(expected);
  h_.keys.reserve(expected);
  h_.references.reserve(expected);
  Reopen();
  const auto notes = store_.LabelNotes();
  std::size_t k = static_cast<std::size_t>(
      std::lower_bound(notes.begin(), notes.end(), begin_,
                       [](const OutlineStore::LabelNote &n, NodeHandle b) {
                         return n.node < b;
                       }) -
      notes.begin());
  for (NodeHandle i = begin_; i < end_; ++i) {
    const NodeHandle parent = store_.Parent(i);
    while (!path_.empty() && path_.back().node != parent)
      Close(i);
    while (k < notes.size() && notes[k].node < i)
      ++k;
    const OutlineStore::LabelNote *note =
        k < notes.size() && notes[k].node == i ? &notes[k] : nullptr;
    const Open &context = path_.empty() ? kRootContext : path_.back();
    path_.push_back(Visit(i, parent, context, note, true));
  }
  // The nodes still open go on in the next range, which reopens them.
  if (end_ == store_.GetCount())
    while (!path_.empty())
      Close(end_);
}

// The path down to the node before the range, as the range before leaves
// it; their ends are all kept, since that range cannot see where they end.
void Builder::Range::Reopen() {
  if (begin_ == 0)
    return;
  std::vector<NodeHandle> chain;
  for (NodeHandle n = begin_ - 1; n != kNoNode; n = store_.Parent(n))
    chain.push_back(n);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const Open &context = path_.empty() ? kRootContext : path_.back();
    Open open = Visit(*it, store_.Parent(*it), context,
                      store_.FindLabelNote(*it), false);
    open.flags |= kWanted | kMarked;
    path_.push_back(open);
  }
}

Open Builder::Range::Visit(NodeHandle node, NodeHandle parent,
                           const Open &context,
                           const OutlineStore::LabelNote *note, bool harvest) {
  Open open{node, 0};
  if (context.flags & kInDescription ||
      (note && note->attributeStart == OutlineStore::kRawText))
    return open; // description text
  if (note && note->attributeStart == OutlineStore::kMember) {
    open.flags = kHoldsTop;
    return open;
  }
  const LabelView label = store_.GetText(node);
  if (label.narrow)
    Read<true>(node, parent, context, label, label.narrow, note, harvest, open);
  else if (label.wide)
    Read<false>(node, parent, context, label, label.wide, note, harvest, open);
  return open;
}

// Only processing instructions and <!...> leaves may stand between an
// element and its SHORT-NAME; being leaves, they are its children.
bool Builder::Range::FirstElementChild(NodeHandle parent,
                                       NodeHandle node) const {
  for (NodeHandle j = parent + 1; j < node; ++j)
    if (!IsDeclarationLabel(store_.GetText(j)))
      return false;
  return true;
}

template <bool Padded, typename Unit>
void Builder::Range::Read(NodeHandle node, NodeHandle parent,
                          const Open &context, const LabelView &label,
                          const Unit *p, const OutlineStore::LabelNote *note,
                          bool harvest, Open &open) {
  const uint32_t n = label.length;
  if (n == 0 || IsDeclarationUnit(p[0]))
    return;
  const uint32_t space = detail::FindUnit<Padded>(p, 0, n, Unit{' '});
  auto document = [&] {
    open.flags |= kWanted;
    if (harvest)
      h_.documents.push_back(node);
  };
  if (context.flags & kHoldsTop) {
    if (detail::UnitsEqual(p, space, u"ODX"sv))
      open.flags |= kTopOdx;
    else
      document();
  } else if (context.flags & kTopOdx) {
    document();
  }
  // The tags that mean something here, told apart by length first.
  bool shortName = false;
  switch (space) {
  case 4:
    if (detail::UnitsEqual(p, space, kDesc) &&
        outline::IsDescriptionLabel(label))
      open.flags |= kInDescription;
    break;
  case 10:
    shortName = detail::UnitsEqual(p, space, kShortName);
    break;
  case 8:
  case 11:
  case 12:
  case 15:
  case 16:
    if (const LayerKind kind = LayerKindOf(p, space); kind != LayerKind::None) {
      open.flags |= kWanted;
      if (harvest)
        h_.layers.emplace_back(node, kind);
    }
    break;
  default:
    break;
  }
  // A bare tag says nothing more.
  if (!harvest || space == n)
    return;
  const detail::LabelSplit s = detail::SplitUnitsAt(p, n, space, note);
  if (shortName && s.valueEnd > s.value && parent != kNoNode &&
      !(context.flags & kHoldsTop) &&
      (parent + 1 == node || FirstElementChild(parent, node))) {
    if (parent < begin_) {
      h_.namedBefore = parent;
      h_.namedBeforeLength = s.valueEnd - s.value;
      h_.namedBeforeOffset = node - parent;
    } else {
      SetBit(b_.names_.named, parent);
      h_.nameLengths.push_back(s.valueEnd - s.value);
      h_.nameOffsets.push_back(node - parent);
    }
  }
  if (s.attributes < n)
    ReadAttributes<Padded>(label, p, s.attributes, open, space);
}

template <bool Padded, typename Unit>
void Builder::Range::ReadAttributes(const LabelView &label, const Unit *p,
                                    uint32_t from, const Open &open,
                                    uint32_t tagLength) {
  const uint32_t n = label.length;
  uint32_t id = kAbsent, idLength = 0, ref = kAbsent, refLength = 0;
  uint32_t hint = kAbsent, hintLength = 0, type = kAbsent, typeLength = 0;
  uint32_t shortName = kAbsent, shortNameLength = 0;
  const Unit *text = p + from;
  detail::ReadAttributeUnits<Padded>(
      text, n - from,
      [&](uint32_t name, uint32_t nameLength, uint32_t value,
          uint32_t valueLength) {
        // The first of two attributes with one name counts.
        const Unit *q = text + name;
        auto take = [&](std::u16string_view wanted, uint32_t &at,
                        uint32_t &length) {
          if (at != kAbsent || !detail::UnitsEqual(q, nameLength, wanted))
            return false;
          at = from + value;
          length = valueLength;
          return true;
        };
        take(u"ID"sv, id, idLength) || take(u"ID-REF"sv, ref, refLength) ||
            take(u"DOCREF"sv, hint, hintLength) ||
            take(u"DOCTYPE"sv, type, typeLength) ||
            take(u"SHORT-NAME"sv, shortName, shortNameLength);
        return true;
      });
  if (id != kAbsent) {
    // A value never reaches 2^31 units: files stay below 2 GiB.
    const auto index = static_cast<uint32_t>(h_.targets.size());
    if constexpr (sizeof(Unit) == 1)
      h_.targets.push_back(Target{p + id, idLength, open.node});
    else
      h_.targets.push_back(Target{p + id, idLength | kWideUnits, open.node});
    h_.keys.push_back(uint64_t{HashUnits(ValueOf(h_.targets.back()))} << 32 |
                      index);
  }
  if (ref != kAbsent) {
    const auto index = static_cast<uint32_t>(h_.references.size());
    h_.references.push_back(PendingReference{
        open.node, HashUnits(Slice(label, ref, refLength)), ref, refLength});
    if (hint != kAbsent)
      h_.hints.push_back(
          Hint{index, hint, hintLength,
               type != kAbsent &&
                   detail::UnitsEqual(p + type, typeLength, u"LAYER"sv)});
    if (detail::UnitsEqual(p, tagLength, u"PARENT-REF"sv))
      h_.parentRefs.push_back(index);
    return;
  }
  constexpr auto kSuffix = static_cast<uint32_t>(kNameReferenceSuffix.size());
  if (shortName != kAbsent && shortNameLength > 0 && tagLength >= kSuffix &&
      detail::HasAt(p, tagLength, tagLength - kSuffix, kNameReferenceSuffix)) {
    h_.names.push_back(PendingName{open.node, shortName, shortNameLength,
                                   tagLength - kSuffix});
    // Its resolution walks every node above it.
    WantPath();
  }
}

template <typename T> void Append(std::vector<T> &to, std::vector<T> &from) {
  if (to.empty())
    to.swap(from);
  else
    to.insert(to.end(), from.begin(), from.end());
  std::vector<T>().swap(from);
}

// The second range starts on a 64-node boundary, so the two ranges set bits
// in different words; a name found for a node before the second range is
// handed over in the harvest instead.
void Builder::Pass(unsigned threads) {
  constexpr uint32_t kSmallest = 1u << 16; // not worth a thread below this
  const uint32_t count = store_.GetCount();
  const std::size_t words = (std::size_t{count} + 63) / 64;
  names_.named.assign(words, 0);
  const NodeHandle split =
      threads > 1 && count >= kSmallest ? (count / 2) & ~NodeHandle{63} : count;
  Harvest first, second;
  if (split < count) {
    std::future<void> later;
    try {
      later = std::async(std::launch::async,
                         [&] { Range(*this, split, count, second).Run(); });
    } catch (const std::system_error &) { // no thread to be had
      Range(*this, split, count, second).Run();
    }
    Range(*this, 0, split, first).Run();
    if (later.valid())
      later.get();
  } else {
    Range(*this, 0, count, first).Run();
  }
  if (second.namedBefore != kNoNode) {
    // Later than every name the first range found: see FirstElementChild.
    SetBit(names_.named, second.namedBefore);
    first.nameLengths.push_back(second.namedBeforeLength);
    first.nameOffsets.push_back(second.namedBeforeOffset);
  }
  const auto targetBase = static_cast<uint32_t>(first.targets.size());
  for (uint64_t &key : second.keys)
    key += targetBase;
  const auto referenceBase = static_cast<uint32_t>(first.references.size());
  for (Hint &hint : second.hints)
    hint.reference += referenceBase;
  for (uint32_t &r : second.parentRefs)
    r += referenceBase;
  Append(first.hints, second.hints);
  hints_.swap(first.hints);
  Append(first.parentRefs, second.parentRefs);
  parentRefIndexes_.swap(first.parentRefs);
  Append(first.nameLengths, second.nameLengths);
  names_.lengths.swap(first.nameLengths);
  Append(first.nameOffsets, second.nameOffsets);
  names_.offsets.swap(first.nameOffsets);
  Append(first.targets, second.targets);
  targets_.swap(first.targets);
  Append(first.keys, second.keys);
  keys_.swap(first.keys);
  Append(first.references, second.references);
  references_.swap(first.references);
  Append(first.names, second.names);
  nameReferences_.swap(first.names);
  Append(first.layers, second.layers);
  layerNodes_.swap(first.layers);
  Append(first.documents, second.documents);
  documentNodes_.swap(first.documents);
  Append(first.ends, second.ends);
  ends_.swap(first.ends);
  std::sort(ends_.begin(), ends_.end());

  names_.before.resize(words);
  uint32_t running = 0;
  for (std::size_t w = 0; w < words; ++w) {
    names_.before[w] = running;
    running += static_cast<uint32_t>(std::popcount(names_.named[w]));
  }
}

NodeHandle Builder::EndOf(NodeHandle node) const {
  const auto it =
      std::lower_bound(ends_.begin(), ends_.end(), End{node, kNoNode});
  return it != ends_.end() && it->node == node ? it->end : store_.GetCount();
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
  first = last = 0;
  if (keys_.empty())
    return;
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

void Builder::MakePlaces(std::vector<OdxIndex::Place> &documents,
                         std::vector<OdxIndex::Place> &layers,
                         std::vector<uint32_t> &documentEnclosing,
                         std::vector<uint32_t> &layerEnclosing) {
  documents.clear();
  layers.clear();
  for (const NodeHandle d : documentNodes_)
    documents.push_back(OdxIndex::Place{d, EndOf(d), LayerKind::None});
  for (const auto &[l, kind] : layerNodes_)
    layers.push_back(OdxIndex::Place{l, EndOf(l), kind});
  namedPlaces_.clear();
  for (std::size_t i = 0; i < documents.size(); ++i)
    if (names_.Has(documents[i].node))
      namedPlaces_.push_back(NamedPlace{HashUnits(NameOf(documents[i].node)),
                                        static_cast<uint32_t>(i), false});
  for (std::size_t i = 0; i < layers.size(); ++i)
    if (names_.Has(layers[i].node))
      namedPlaces_.push_back(NamedPlace{HashUnits(NameOf(layers[i].node)),
                                        static_cast<uint32_t>(i), true});
  std::sort(namedPlaces_.begin(), namedPlaces_.end());
  Nest(documents, documentEnclosing);
  Nest(layers, layerEnclosing);
  documents_ = &documents;
  layers_ = &layers;
  documentEnclosing_ = &documentEnclosing;
  layerEnclosing_ = &layerEnclosing;
}

// How many candidates of [first, last) lie in [from, to), and the first.
struct Found {
  uint32_t count = 0;
  NodeHandle first = kNoNode;
};

void Builder::ResolveById(const PendingReference &r, const Hint *hint,
                          OdxIndex::Reference &out) {
  using Resolution = OdxIndex::Resolution;
  std::size_t first = 0, last = 0;
  Candidates(r, first, last);
  auto within = [&](NodeHandle from, NodeHandle to) {
    const std::size_t a = FirstAtOrAfter(first, last, from);
    const std::size_t b = FirstAtOrAfter(a, last, to);
    return Found{static_cast<uint32_t>(b - a), a < b ? NodeOf(a) : kNoNode};
  };
  auto decide = [&out](const Found &f) {
    out.target = f.first;
    out.candidates = f.count;
    out.ambiguous = f.count > 1;
  };
  if (!hint) {
    Found f;
    if (first < last) {
      if (const NodeHandle layer = LayerOf(r.node); layer != kNoNode)
        f = within(layer, EndOf(layer));
      const NodeHandle document = f.count ? kNoNode : DocumentOf(r.node);
      if (document != kNoNode)
        f = within(document, EndOf(document));
    }
    decide(f);
    out.resolution =
        f.count ? Resolution::Resolved : Resolution::NoIdInDocument;
    return;
  }
  // The places named by the DOCREF, as ranges of nodes.
  const LabelView named = Piece(r.node, hint->from, hint->length);
  const uint32_t h = HashUnits(named);
  std::vector<std::pair<NodeHandle, NodeHandle>> ranges;
  auto collect = [&](bool layer) {
    for (auto it = std::lower_bound(namedPlaces_.begin(), namedPlaces_.end(),
                                    NamedPlace{h, 0, false});
         it != namedPlaces_.end() && it->hash == h; ++it) {
      const OdxIndex::Place &place =
          it->layer ? (*layers_)[it->place] : (*documents_)[it->place];
      if (it->layer == layer && SameUnits(NameOf(place.node), named))
        ranges.emplace_back(place.node, place.end);
    }
  };
  if (!hint->layer)
    collect(false);
  if (ranges.empty()) // real files name layers as documents too
    collect(true);
  if (ranges.empty()) {
    out.resolution = Resolution::NotLoaded;
    return;
  }
  // Places nest or lie apart: count each candidate once.
  std::sort(ranges.begin(), ranges.end());
  Found all;
  NodeHandle covered = 0;
  for (const auto &[from, to] : ranges) {
    if (to <= covered)
      continue;
    const Found f = within(std::max(from, covered), to);
    if (all.count == 0)
      all.first = f.first;
    all.count += f.count;
    covered = to;
  }
  decide(all);
  out.resolution = all.count ? Resolution::Resolved : Resolution::NoIdInPlace;
}

// IDs used by several elements of one layer, or of one document outside
// any layer: one problem at the first of them.
void Builder::FindDuplicates(std::vector<OdxIndex::Problem> &duplicates) const {
  duplicates.clear();
  std::vector<std::pair<NodeHandle, NodeHandle>> scoped; // (scope, node)
  for (std::size_t i = 0; i < keys_.size();) {
    std::size_t j = i + 1;
    while (j < keys_.size() && keys_[j] >> 32 == keys_[i] >> 32 &&
           SameUnits(ValueOf(TargetOf(keys_[j])), ValueOf(TargetOf(keys_[i]))))
      ++j;
    if (j - i > 1) {
      scoped.clear();
      for (std::size_t k = i; k < j; ++k) {
        const NodeHandle node = NodeOf(k);
        NodeHandle scope = LayerOf(node);
        if (scope == kNoNode)
          scope = DocumentOf(node);
        if (scope != kNoNode)
          scoped.emplace_back(scope, node);
      }
      std::sort(scoped.begin(), scoped.end());
      for (std::size_t a = 0; a < scoped.size();) {
        std::size_t b = a + 1;
        while (b < scoped.size() && scoped[b].first == scoped[a].first)
          ++b;
        if (b - a > 1)
          duplicates.push_back(OdxIndex::Problem{
              scoped[a].second, OdxIndex::ProblemKind::DuplicateId,
              static_cast<uint32_t>(b - a)});
        a = b;
      }
    }
    i = j;
  }
  std::sort(duplicates.begin(), duplicates.end(),
            [](const OdxIndex::Problem &a, const OdxIndex::Problem &b) {
              return a.node < b.node;
            });
}

void Builder::Resolve(std::vector<OdxIndex::Reference> &out,
                      std::vector<OdxIndex::Place> &documents,
                      std::vector<OdxIndex::Place> &layers,
                      std::vector<uint32_t> &documentEnclosing,
                      std::vector<uint32_t> &layerEnclosing,
                      std::vector<std::pair<NodeHandle, uint32_t>> &parentRefs,
                      std::vector<OdxIndex::Problem> &duplicates) {
  SortKeys();
  MakePlaces(documents, layers, documentEnclosing, layerEnclosing);
  std::vector<OdxIndex::Reference> byId;
  byId.reserve(references_.size());
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
    OdxIndex::Reference r{references_[i].node,
                          kNoNode,
                          0,
                          OdxIndex::ReferenceKind::ById,
                          OdxIndex::Resolution::Resolved,
                          false};
    const bool hinted =
        nextHint < hints_.size() && hints_[nextHint].reference == i;
    ResolveById(references_[i], hinted ? &hints_[nextHint] : nullptr, r);
    nextHint += hinted;
    byId.push_back(r);
  }
  FindDuplicates(duplicates);
  // PARENT-REFs by the layer that holds them; the references by name walk
  // through them.
  parentRefs.clear();
  for (const uint32_t i : parentRefIndexes_)
    if (const NodeHandle layer = LayerOf(references_[i].node); layer != kNoNode)
      parentRefs.emplace_back(layer, i);
  std::sort(parentRefs.begin(), parentRefs.end());
  parentRefs_ = &parentRefs;
  std::vector<PendingReference>().swap(references_);
  std::vector<uint64_t>().swap(keys_);
  std::vector<Target>().swap(targets_);

  std::vector<OdxIndex::Reference> byName;
  ResolveByName(byId, byName);
  out.swap(byId);
  if (!byName.empty()) {
    // Both in pre-order: merge, keeping the PARENT-REF indexes right.
    std::vector<OdxIndex::Reference> merged;
    merged.reserve(out.size() + byName.size());
    std::vector<uint32_t> newIndex(out.size());
    std::size_t a = 0, b = 0;
    while (a < out.size() || b < byName.size()) {
      if (b == byName.size() ||
          (a < out.size() && out[a].node < byName[b].node)) {
        newIndex[a] = static_cast<uint32_t>(merged.size());
        merged.push_back(out[a++]);
      } else {
        merged.push_back(byName[b++]);
      }
    }
    for (auto &entry : parentRefs)
      entry.second = newIndex[entry.second];
    out.swap(merged);
  }
}

LabelView Builder::TagOf(NodeHandle node) const {
  const LabelView label = store_.GetText(node);
  uint32_t space = 0;
  if (label.narrow)
    space = detail::FindUnit<false>(label.narrow, 0, label.length,
                                    static_cast<unsigned char>(' '));
  else if (label.wide)
    space = detail::FindUnit<false>(label.wide, 0, label.length, u' ');
  return Slice(label, 0, space);
}

bool Builder::IsLayer(NodeHandle node) const {
  const auto it = std::lower_bound(
      layers_->begin(), layers_->end(), node,
      [](const OdxIndex::Place &p, NodeHandle n) { return p.node < n; });
  return it != layers_->end() && it->node == node;
}

// Where a message's subtree ends, found by reading on while the nodes
// still lie below it; kept, since many references may share a message.
NodeHandle Builder::ScanEnd(NodeHandle node) {
  for (const auto &[n, end] : scannedEnds_)
    if (n == node)
      return end;
  const NodeHandle count = store_.GetCount();
  NodeHandle j = node + 1;
  while (j < count) {
    const NodeHandle parent = store_.Parent(j);
    if (parent == kNoNode || parent < node)
      break;
    ++j;
  }
  if (scannedEnds_.size() < 64)
    scannedEnds_.emplace_back(node, j);
  return j;
}

// The messages a parameter interface of `service` names: its request, or
// its positive responses in order and then its negative ones.
void Builder::Messages(NodeHandle service, NarrowScope narrow,
                       const std::vector<OdxIndex::Reference> &byId,
                       std::vector<NodeHandle> &messages) const {
  messages.clear();
  const NodeHandle end = EndOf(service);
  auto it = std::lower_bound(
      byId.begin(), byId.end(), service,
      [](const OdxIndex::Reference &r, NodeHandle n) { return r.node < n; });
  std::vector<NodeHandle> negative;
  for (; it != byId.end() && it->node < end; ++it) {
    if (it->target == kNoNode)
      continue;
    const NodeHandle parent = store_.Parent(it->node);
    const LabelView tag = TagOf(it->node);
    if (narrow == NarrowScope::Request) {
      if (parent == service && SameUnits(tag, u"REQUEST-REF"))
        messages.push_back(it->target);
      continue;
    }
    if (parent == kNoNode || store_.Parent(parent) != service)
      continue;
    if (SameUnits(tag, u"POS-RESPONSE-REF") &&
        SameUnits(TagOf(parent), u"POS-RESPONSE-REFS"))
      messages.push_back(it->target);
    else if (SameUnits(tag, u"NEG-RESPONSE-REF") &&
             SameUnits(TagOf(parent), u"NEG-RESPONSE-REFS"))
      negative.push_back(it->target);
  }
  messages.insert(messages.end(), negative.begin(), negative.end());
}

void Builder::ResolveByName(const std::vector<OdxIndex::Reference> &byId,
                            std::vector<OdxIndex::Reference> &out) {
  out.clear();
  if (nameReferences_.empty())
    return;
  // Only names some reference uses are worth indexing.
  std::vector<uint32_t> wanted;
  std::vector<uint32_t> hashes(nameReferences_.size());
  for (std::size_t i = 0; i < nameReferences_.size(); ++i) {
    const PendingName &r = nameReferences_[i];
    hashes[i] = HashUnits(Piece(r.node, r.from, r.length));
    wanted.push_back(hashes[i]);
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  std::vector<std::pair<uint32_t, NodeHandle>> named; // (hash, node)
  for (std::size_t w = 0; w < names_.named.size(); ++w)
    for (uint64_t bits = names_.named[w]; bits; bits &= bits - 1) {
      const auto n = static_cast<NodeHandle>(w * 64 + std::countr_zero(bits));
      const uint32_t h = HashUnits(NameOf(n));
      if (std::binary_search(wanted.begin(), wanted.end(), h))
        named.emplace_back(h, n);
    }
  std::sort(named.begin(), named.end());

  // References that name the same thing under the same rule share their
  // candidates: sorted so, each group finds them once.
  struct Keyed {
    uint32_t hash;
    uint32_t rule; // a row of the rules, else kNoRule ^ the base's hash
    uint32_t index;
  };
  constexpr uint32_t kNoRule = 0x80000000u;
  std::vector<Keyed> order;
  order.reserve(nameReferences_.size());
  auto baseOf = [this](const PendingName &r) {
    return Piece(r.node, 0, r.base);
  };
  auto nameOf = [this](const PendingName &r) {
    return Piece(r.node, r.from, r.length);
  };
  for (std::size_t i = 0; i < nameReferences_.size(); ++i) {
    const NameReferenceRule *rule =
        NameReferenceRuleFor(baseOf(nameReferences_[i]));
    const uint32_t row =
        rule ? static_cast<uint32_t>(rule - kNameReferenceRules.data())
             : kNoRule | (HashUnits(baseOf(nameReferences_[i])) >> 1);
    order.push_back(Keyed{hashes[i], row, static_cast<uint32_t>(i)});
  }
  auto sameGroup = [&](const Keyed &a, const Keyed &b) {
    const PendingName &x = nameReferences_[a.index];
    const PendingName &y = nameReferences_[b.index];
    return a.hash == b.hash && a.rule == b.rule &&
           SameUnits(nameOf(x), nameOf(y)) &&
           (a.rule < kNoRule || SameUnits(baseOf(x), baseOf(y)));
  };
  std::sort(order.begin(), order.end(), [&](const Keyed &a, const Keyed &b) {
    if (a.hash != b.hash)
      return a.hash < b.hash;
    if (a.rule != b.rule)
      return a.rule < b.rule;
    const PendingName &x = nameReferences_[a.index];
    const PendingName &y = nameReferences_[b.index];
    if (const int c = CompareUnits(nameOf(x), nameOf(y)))
      return c < 0;
    if (const int c = CompareUnits(baseOf(x), baseOf(y)))
      return c < 0;
    return a.index < b.index;
  });

  out.resize(nameReferences_.size());
  std::vector<NodeHandle> candidates, messages;
  std::vector<NodeHandle> visited;
  std::vector<std::pair<NodeHandle, std::size_t>> walk; // layer, next parent
  for (std::size_t g = 0; g < order.size();) {
    std::size_t e = g + 1;
    while (e < order.size() && sameGroup(order[g], order[e]))
      ++e;
    const PendingName &lead = nameReferences_[order[g].index];
    const LabelView name = nameOf(lead);
    const LabelView base = baseOf(lead);
    const NameReferenceRule *rule = NameReferenceRuleFor(base);
    candidates.clear();
    for (auto it =
             std::lower_bound(named.begin(), named.end(),
                              std::make_pair(order[g].hash, NodeHandle{0}));
         it != named.end() && it->first == order[g].hash; ++it)
      if (SameUnits(NameOf(it->second), name) &&
          MayName(rule, base, TagOf(it->second)))
        candidates.push_back(it->second);

    auto within = [&](NodeHandle from, NodeHandle to) {
      const auto a =
          std::lower_bound(candidates.begin(), candidates.end(), from);
      const auto b = std::lower_bound(a, candidates.end(), to);
      return Found{static_cast<uint32_t>(b - a), a < b ? *a : kNoNode};
    };
    // The parents of `layer`, depth first, each layer once.
    auto searchParents = [&](NodeHandle layer) {
      walk.assign(1, {layer, 0});
      while (!walk.empty()) {
        const NodeHandle current = walk.back().first;
        auto at = std::lower_bound(parentRefs_->begin(), parentRefs_->end(),
                                   std::make_pair(current, uint32_t{0}));
        at += static_cast<std::ptrdiff_t>(walk.back().second);
        if (at == parentRefs_->end() || at->first != current) {
          walk.pop_back();
          continue;
        }
        ++walk.back().second;
        const NodeHandle parent = byId[at->second].target;
        if (parent == kNoNode || !IsLayer(parent) ||
            std::find(visited.begin(), visited.end(), parent) != visited.end())
          continue;
        visited.push_back(parent);
        if (const Found f = within(parent, EndOf(parent)); f.count)
          return f;
        walk.emplace_back(parent, 0);
      }
      return Found{};
    };

    for (std::size_t k = g; k < e; ++k) {
      const uint32_t index = order[k].index;
      const NodeHandle node = nameReferences_[index].node;
      Found f;
      if (!candidates.empty()) {
        if (rule && rule->narrow != NarrowScope::None) {
          NodeHandle service = store_.Parent(node);
          while (service != kNoNode &&
                 !SameUnits(TagOf(service), u"DIAG-SERVICE"))
            service = store_.Parent(service);
          if (service != kNoNode) {
            Messages(service, rule->narrow, byId, messages);
            for (const NodeHandle m : messages)
              if ((f = within(m, ScanEnd(m))).count)
                break;
          }
        }
        visited.clear();
        for (NodeHandle a = store_.Parent(node); f.count == 0 && a != kNoNode;
             a = store_.Parent(a)) {
          f = within(a, EndOf(a));
          if (f.count == 0 && IsLayer(a)) {
            visited.push_back(a);
            f = searchParents(a);
          }
        }
        if (f.count == 0)
          f = Found{static_cast<uint32_t>(candidates.size()), candidates[0]};
      }
      out[index] = OdxIndex::Reference{node,
                                       f.first,
                                       f.count,
                                       OdxIndex::ReferenceKind::ByName,
                                       f.count ? OdxIndex::Resolution::Resolved
                                               : OdxIndex::Resolution::NoName,
                                       f.count > 1};
    }
    g = e;
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
  std::vector<uint32_t>().swap(nameOffset_);
  std::vector<Reference>().swap(references_);
  Builder builder(store_,
                  NameTable{named_, namedBefore_, nameLength_, nameOffset_});
  builder.Pass(threads_);
  builder.Resolve(references_, documents_, layers_, documentParent_,
                  layerParent_, parentRefs_, duplicates_);
  nameLength_.shrink_to_fit();
  nameOffset_.shrink_to_fit();
  auto nodes = [](const std::vector<Place> &places,
                  std::vector<NodeHandle> &out) {
    out.clear();
    for (const Place &p : places)
      out.push_back(p.node);
  };
  nodes(documents_, documentNodes_);
  nodes(layers_, layerNodes_);
  fingerprint_ = Current();
  built_ = true;
}

uint32_t OdxIndex::Generation() const {
  Refresh();
  return fingerprint_.generation;
}

LabelView OdxIndex::Name(NodeHandle node) const {
  Refresh();
  return NameTable{named_, namedBefore_, nameLength_, nameOffset_}.Of(store_,
                                                                      node);
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

std::size_t OdxIndex::NotLoadedCount() const {
  Refresh();
  return static_cast<std::size_t>(
      std::count_if(references_.begin(), references_.end(), [](const auto &r) {
        return r.resolution == Resolution::NotLoaded;
      }));
}

bool OdxIndex::IsTarget(NodeHandle node) const {
  const NodeLabel parts = ReadNodeLabel(store_, node);
  return FindAttribute(parts.attributes, u"ID").has_value();
}

QString OdxIndex::Reason(const Reference &reference) const {
  const NodeLabel parts = ReadNodeLabel(store_, reference.node);
  auto attribute = [&parts](std::u16string_view name) {
    return FindAttribute(parts.attributes, name)
        .value_or(LabelView())
        .toQString();
  };
  if (reference.kind == ReferenceKind::ByName) {
    const QString name = attribute(u"SHORT-NAME");
    if (reference.ambiguous)
      return QStringLiteral("%1 candidates named %2")
          .arg(reference.candidates)
          .arg(name);
    if (reference.target != kNoNode)
      return QString();
    QString base = parts.element.toQString();
    base.chop(static_cast<qsizetype>(kNameReferenceSuffix.size()));
    return QStringLiteral("no %1 named %2").arg(base, name);
  }
  const QString id = attribute(u"ID-REF");
  switch (reference.resolution) {
  case Resolution::Resolved:
    return reference.ambiguous ? QStringLiteral("%1 candidates with ID %2")
                                     .arg(reference.candidates)
                                     .arg(id)
                               : QString();
  case Resolution::NoIdInDocument:
    return QStringLiteral("no ID %1 in this document").arg(id);
  case Resolution::NotLoaded:
    return QStringLiteral("%1 is not loaded").arg(attribute(u"DOCREF"));
  case Resolution::NoIdInPlace:
    return QStringLiteral("no ID %1 in %2").arg(id, attribute(u"DOCREF"));
  case Resolution::NoName:
    break;
  }
  return QString();
}

std::span<const NodeHandle> OdxIndex::Documents() const {
  Refresh();
  return documentNodes_;
}

std::span<const NodeHandle> OdxIndex::Layers() const {
  Refresh();
  return layerNodes_;
}

const OdxIndex::Place *OdxIndex::FindPlace(const std::vector<Place> &places,
                                           NodeHandle node) const {
  const auto it =
      std::lower_bound(places.begin(), places.end(), node,
                       [](const Place &p, NodeHandle n) { return p.node < n; });
  return it != places.end() && it->node == node ? &*it : nullptr;
}

NodeHandle OdxIndex::DocumentOf(NodeHandle node) const {
  Refresh();
  return Innermost(documents_, documentParent_, node);
}

NodeHandle OdxIndex::LayerOf(NodeHandle node) const {
  Refresh();
  return Innermost(layers_, layerParent_, node);
}

LayerKind OdxIndex::KindOfLayer(NodeHandle node) const {
  Refresh();
  const Place *place = FindPlace(layers_, node);
  return place ? place->kind : LayerKind::None;
}

NodeHandle OdxIndex::EndOf(NodeHandle node) const {
  Refresh();
  if (const Place *place = FindPlace(layers_, node))
    return place->end;
  if (const Place *place = FindPlace(documents_, node))
    return place->end;
  return kNoNode;
}

std::vector<OdxIndex::ParentRef> OdxIndex::ParentRefs(NodeHandle layer) const {
  Refresh();
  std::vector<ParentRef> parents;
  for (auto it = std::lower_bound(parentRefs_.begin(), parentRefs_.end(),
                                  std::make_pair(layer, uint32_t{0}));
       it != parentRefs_.end() && it->first == layer; ++it) {
    const Reference &r = references_[it->second];
    parents.push_back(ParentRef{
        r.node, r.target != kNoNode && FindPlace(layers_, r.target) ? r.target
                                                                    : kNoNode});
  }
  return parents;
}

std::vector<OdxIndex::Problem> OdxIndex::Problems() const {
  Refresh();
  std::vector<Problem> problems;
  for (const Reference &r : references_)
    if (r.target == kNoNode)
      problems.push_back(Problem{r.node, ProblemKind::Unresolved, 0});
  for (const Reference &r : references_)
    if (r.ambiguous)
      problems.push_back(Problem{r.node, ProblemKind::Ambiguous, r.candidates});
  problems.insert(problems.end(), duplicates_.begin(), duplicates_.end());
  return problems;
}

QString OdxIndex::Reason(const Problem &problem) const {
  if (problem.kind == ProblemKind::DuplicateId) {
    const NodeLabel parts = ReadNodeLabel(store_, problem.node);
    return QStringLiteral("%1 elements with ID %2")
        .arg(problem.count)
        .arg(FindAttribute(parts.attributes, u"ID")
                 .value_or(LabelView())
                 .toQString());
  }
  const Reference *r = FindReference(problem.node);
  return r ? Reason(*r) : QString();
}

std::size_t OdxIndex::MemoryBytes() const {
  return sizeof(*this) + named_.capacity() * sizeof(uint64_t) +
         (namedBefore_.capacity() + nameLength_.capacity() +
          nameOffset_.capacity()) *
             sizeof(uint32_t) +
         references_.capacity() * sizeof(Reference) +
         (documents_.capacity() + layers_.capacity()) * sizeof(Place) +
         parentRefs_.capacity() * sizeof(parentRefs_[0]) +
         duplicates_.capacity() * sizeof(Problem);
}

bool IsElement(const OutlineStore &store, NodeHandle node) {
  if (node >= store.GetCount())
    return false;
  const NodeLabel parts = ReadNodeLabel(store, node);
  return !parts.rawText && !parts.member && parts.element.length > 0 &&
         !IsDeclarationLabel(parts.element);
}

} // namespace odx
