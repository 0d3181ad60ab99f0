#include "Tree.h"

#include "Hashing.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "outline/OutlineBuilder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

namespace compare::detail {
namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;
using outline::OutlineStore;

constexpr int kContainerImage = 2;
constexpr std::u16string_view kShortName = u"SHORT-NAME";
constexpr std::u16string_view kOdx = u"ODX";
constexpr std::u16string_view kTextKey = u"#text";
constexpr uint64_t kKeySeed = 0x4B4559;        // "KEY"
constexpr uint64_t kLabelSeed = 0x4C4142;      // "LAB"
constexpr uint64_t kPathSeed = 0x504154;       // "PAT"
constexpr uint64_t kNameBoundary = 0x4E414D45; // between a tag and a name

// A member that is a leaf says why after its name: " (unreadable)", or
// " (N bytes)" for a member that is no document.
uint32_t MemberNameLength(const LabelView &label) {
  constexpr std::u16string_view kUnreadable = u" (unreadable)";
  constexpr std::u16string_view kBytes = u" bytes)";
  const uint32_t n = label.length;
  auto endsWith = [&](std::u16string_view tail) {
    return n >= tail.size() &&
           Same(Piece(label, n - static_cast<uint32_t>(tail.size()),
                      static_cast<uint32_t>(tail.size())),
                tail);
  };
  if (endsWith(kUnreadable))
    return n - static_cast<uint32_t>(kUnreadable.size());
  if (!endsWith(kBytes))
    return n;
  uint32_t i = n - static_cast<uint32_t>(kBytes.size());
  const uint32_t digitsEnd = i;
  while (i > 0 && UnitAt(label, i - 1) >= u'0' && UnitAt(label, i - 1) <= u'9')
    --i;
  if (i == digitsEnd || i < 2 || UnitAt(label, i - 1) != u'(' ||
      UnitAt(label, i - 2) != u' ')
    return n;
  return i - 2;
}

bool HasAttributeText(const LabelView &label) {
  // The separator " **** " is the only way a label holds attributes.
  if (label.narrow)
    return std::memchr(label.narrow, '*', label.length) != nullptr;
  return std::find(label.wide, label.wide + label.length, u'*') !=
         label.wide + label.length;
}

// Whether the text holds "ID" anywhere: attribute text without it has no
// ID attribute, and most attribute text has none.
bool MayHoldId(const LabelView &text) {
  if (!text.narrow)
    return true;
  const unsigned char *p = text.narrow;
  const unsigned char *end = p + text.length;
  while (p < end) {
    const void *d = std::memchr(p, 'D', static_cast<std::size_t>(end - p));
    if (!d)
      return false;
    const unsigned char *at = static_cast<const unsigned char *>(d);
    if (at > text.narrow && at[-1] == 'I')
      return true;
    p = at + 1;
  }
  return false;
}

bool IsAttributeSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The attribute reader of odx/Attributes.h, f(name, value) for each
// attribute until f says stop or the text turns malformed; narrow text is
// read here with memchr for the values (the common case, and the hot one),
// wide text by the reader itself.
template <typename F> void ScanAttributes(const LabelView &text, F &&f) {
  if (!text.narrow) {
    odx::ReadAttributes(text, f);
    return;
  }
  const unsigned char *p = text.narrow;
  const uint32_t n = text.length;
  uint32_t i = 0;
  for (;;) {
    while (i < n && IsAttributeSpace(p[i]))
      ++i;
    if (i == n)
      return;
    const uint32_t name = i;
    while (i < n && p[i] != '=' && !IsAttributeSpace(p[i]))
      ++i;
    const uint32_t nameLength = i - name;
    while (i < n && IsAttributeSpace(p[i]))
      ++i;
    if (i == n || p[i] != '=')
      return;
    ++i;
    while (i < n && IsAttributeSpace(p[i]))
      ++i;
    if (i == n || (p[i] != '"' && p[i] != '\''))
      return;
    const unsigned char quote = p[i++];
    const void *close = std::memchr(p + i, quote, n - i);
    if (!close)
      return;
    const uint32_t end =
        static_cast<uint32_t>(static_cast<const unsigned char *>(close) - p);
    if (!f(Piece(text, name, nameLength), Piece(text, i, end - i)))
      return;
    i = end + 1;
  }
}

bool HasAt(const LabelView &label, uint32_t at, std::u16string_view s) {
  if (at > label.length || label.length - at < s.size())
    return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (UnitAt(label, at + static_cast<uint32_t>(i)) != s[i])
      return false;
  return true;
}

} // namespace

Tree::Tree(const Version &version, bool standIn,
           const std::vector<std::u16string> &ignoredTags)
    : store_(version.store), index_(version.index), fileName_(version.fileName),
      standIn_(standIn), ignoredTags_(ignoredTags),
      count_(version.store.GetCount()) {}

void Tree::Prepare() {
  references_ = index_.References();
  fingerprints_.Reset(count_);
  ForwardPass();
}

void FingerprintTable::Reset(uint32_t nodes) {
  Release();
  nodes_ = nodes;
}

void FingerprintTable::Release() {
  std::vector<uint32_t>().swap(keys_);
  std::vector<uint64_t>().swap(values_);
  std::vector<uint64_t>().swap(dense_);
  used_ = 0;
  shift_ = 64;
}

void FingerprintTable::Note() {
  peak_ = std::max(peak_, keys_.capacity() * sizeof(uint32_t) +
                              (values_.capacity() + dense_.capacity()) *
                                  sizeof(uint64_t));
}

void FingerprintTable::Set(NodeHandle h, uint64_t value) {
  if (!dense_.empty()) {
    dense_[h] = value;
    return;
  }
  if (2 * (used_ + 1) > keys_.size())
    Grow();
  if (!dense_.empty()) {
    dense_[h] = value;
    return;
  }
  std::size_t i = SlotOf(h);
  while (keys_[i] != 0 && keys_[i] != h + 1)
    i = (i + 1) & (keys_.size() - 1);
  used_ += keys_[i] == 0;
  keys_[i] = h + 1;
  values_[i] = value;
}

void FingerprintTable::Grow() {
  if (used_ + 1 > nodes_ / 16) {
    dense_.assign(nodes_, 0);
    for (std::size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i] != 0)
        dense_[keys_[i] - 1] = values_[i];
    Note();
    std::vector<uint32_t>().swap(keys_);
    std::vector<uint64_t>().swap(values_);
    return;
  }
  std::vector<uint32_t> keys(keys_.empty() ? 1024 : 2 * keys_.size(), 0);
  std::vector<uint64_t> values(keys.size());
  keys.swap(keys_);
  values.swap(values_);
  shift_ = static_cast<unsigned>(64 - std::countr_zero(keys_.size()));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == 0)
      continue;
    std::size_t at = SlotOf(keys[i] - 1);
    while (keys_[at] != 0)
      at = (at + 1) & (keys_.size() - 1);
    keys_[at] = keys[i];
    values_[at] = values[i];
  }
  Note();
}

// The parts of a label as the builder joined them, read without the store's
// note where the label alone tells (it does unless a value is followed by
// attributes, which is rare).
odx::NodeLabel Tree::Parts(NodeHandle h, const LabelView &label) const {
  odx::NodeLabel parts;
  const uint32_t space = FirstSpace(label);
  if (label.narrow && label.length - space >= 6 &&
      std::memcmp(label.narrow + space, " **** ", 6) == 0) {
    parts.element = Piece(label, 0, space);
    parts.attributes = Piece(label, space + 6, label.length - space - 6);
    return parts;
  }
  parts.element = Piece(label, 0, space);
  if (space == label.length)
    return parts;
  constexpr uint32_t kGap =
      static_cast<uint32_t>(outline::kAttributeSeparator.size());
  if (HasAt(label, space, outline::kAttributeSeparator)) {
    parts.attributes = Piece(label, space + kGap, label.length - space - kGap);
    return parts;
  }
  if (!HasAt(label, space, outline::kValueSeparator))
    return parts;
  const uint32_t value =
      space + static_cast<uint32_t>(outline::kValueSeparator.size());
  const LabelView rest = Piece(label, value, label.length - value);
  if (!HasAttributeText(rest)) {
    parts.value = rest;
    return parts;
  }
  return odx::SplitLabel(label, store_.FindLabelNote(h));
}

void Tree::ReleaseFingerprints() {
  fingerprints_.Release();
  std::unordered_map<NodeHandle, uint64_t>().swap(paths_);
}

bool Tree::IsIgnoredTag(const LabelView &label) const {
  const LabelView tag = Piece(label, 0, FirstSpace(label));
  for (const std::u16string &t : ignoredTags_)
    if (Same(tag, t))
      return true;
  return false;
}

NodeHandle Tree::BigEnd(NodeHandle h) const {
  const auto it =
      std::lower_bound(bigEnds_.begin(), bigEnds_.end(), h,
                       [](const std::pair<NodeHandle, NodeHandle> &e,
                          NodeHandle n) { return e.first < n; });
  return it != bigEnds_.end() && it->first == h ? it->second : count_;
}

void Tree::ForwardPass() {
  size_.assign(count_, 0);
  flags_.assign(count_, 0);
  bigEnds_.clear();
  const std::span<const OutlineStore::LabelNote> notes = store_.LabelNotes();
  std::size_t note = 0;
  std::size_t reference = 0;
  std::vector<NodeHandle> open;
  auto close = [&](NodeHandle end) {
    const NodeHandle h = open.back();
    open.pop_back();
    if (end - h < kBigSubtree) {
      size_[h] = static_cast<uint8_t>(end - h);
    } else {
      size_[h] = kBigSubtree;
      bigEnds_.emplace_back(h, end);
    }
  };
  for (NodeHandle x = 0; x < count_; ++x) {
    const NodeHandle parent = store_.Parent(x);
    while (!open.empty() && open.back() != parent)
      close(x);
    open.push_back(x);

    while (note < notes.size() && notes[note].node < x)
      ++note;
    // The store's notes say which nodes are raw text or stand for members.
    const uint32_t noted = note < notes.size() && notes[note].node == x
                               ? notes[note].attributeStart
                               : 0;
    const LabelView label = store_.GetText(x);
    const uint8_t up = parent == kNoNode ? 0 : flags_[parent];
    uint8_t f;
    if (noted == OutlineStore::kMember) {
      f = kMember;
    } else if ((up & kDescription) || noted == OutlineStore::kRawText) {
      f = kText;
    } else if (label.length > 0 &&
               (UnitAt(label, 0) == u'?' || UnitAt(label, 0) == u'!')) {
      f = kOther;
    } else {
      f = kElement;
      if (label.length >= 4 && UnitAt(label, 0) == u'D' &&
          outline::IsDescriptionLabel(label))
        f |= kDescription;
    }
    if (store_.ImageIndex(x) == kContainerImage)
      f |= kContainer;
    if ((up & kIgnored) || (!ignoredTags_.empty() && (f & kKindMask) != kText &&
                            (f & kKindMask) != kMember && IsIgnoredTag(label)))
      f |= kIgnored;
    while (reference < references_.size() && references_[reference].node < x)
      ++reference;
    if (reference < references_.size() && references_[reference].node == x)
      f |= kReference;
    flags_[x] = f;
  }
  while (!open.empty())
    close(count_);
  // Closed children first: sorted by node for the look-up.
  std::sort(bigEnds_.begin(), bigEnds_.end());
  bigEnds_.shrink_to_fit();
}

uint64_t Tree::Fingerprint(NodeHandle h) {
  if (h >= count_)
    return 0;
  if (const uint64_t known = fingerprints_.Get(h))
    return known;
  // Children before their parent, each subtree once: what an earlier
  // question computed is taken as it is.  The sum of the children's
  // (mixed) fingerprints leaves their order out.
  std::vector<FingerprintFrame> &stack = fingerprintStack_;
  stack.assign(1, {h, FirstChild(h), 0});
  auto finish = [this](NodeHandle node, uint64_t sum) {
    uint64_t value = Fmix(OwnHash(node) + sum * 0x9E3779B97F4A7C15ull);
    value += value == 0; // 0 stands for "not yet known"
    fingerprints_.Set(node, value);
    return value;
  };
  for (;;) {
    FingerprintFrame &top = stack.back();
    if (top.next == kNoNode) {
      const uint64_t value = finish(top.node, top.sum);
      stack.pop_back();
      if (stack.empty())
        return value;
      stack.back().sum += value;
      continue;
    }
    const NodeHandle c = top.next;
    top.next = NextSibling(top.node, c);
    if (const uint64_t known = fingerprints_.Get(c)) {
      top.sum += known;
      continue;
    }
    const NodeHandle first = FirstChild(c);
    if (first == kNoNode)
      top.sum += finish(c, 0);
    else
      stack.push_back({c, first, 0});
  }
}

uint64_t Tree::OwnHash(NodeHandle h) {
  Hasher hash(kLabelSeed + (flags_[h] & (kKindMask | kContainer)));
  if (Kind(h) != kElement) {
    hash.Units(store_.GetText(h));
    return hash.Value();
  }
  // A reference stands for the path of where it leads, so the same link
  // written with another ID counts as the same.
  const NodeHandle target = EffectiveTarget(FindReference(h));
  const Normalised n = Normalise(h, target != kNoNode);
  uint32_t at = 0;
  for (int i = 0; i < n.count; ++i) {
    hash.Units(Piece(n.label, at, n.holes[i].from - at));
    at = n.holes[i].from + n.holes[i].length;
  }
  hash.Units(Piece(n.label, at, n.label.length - at));
  if (target != kNoNode)
    hash.Word(PathHash(target));
  return hash.Value();
}

NodeHandle Tree::Parent(NodeHandle h) const {
  if (h == kRoot || h == kStandIn)
    return kRoot;
  const NodeHandle p = store_.Parent(h);
  if (p == kNoNode && standIn_)
    return kStandIn;
  return p;
}

NodeHandle Tree::FirstChild(NodeHandle h) const {
  NodeHandle c;
  NodeHandle limit;
  if (h == kRoot && standIn_)
    return kStandIn;
  if (h == kRoot || h == kStandIn) {
    c = 0;
    limit = count_;
  } else {
    c = h + 1;
    limit = End(h);
  }
  while (c < limit && (flags_[c] & kIgnored))
    c = End(c);
  return c < limit ? c : kNoNode;
}

NodeHandle Tree::NextSibling(NodeHandle parent, NodeHandle child) const {
  if (child == kStandIn || child >= count_)
    return kNoNode;
  // The node after the child's subtree is its next sibling when it has the
  // same parent; asking that is cheaper than finding where the parent's
  // subtree ends.
  const NodeHandle up =
      parent == kRoot || parent == kStandIn ? kNoNode : parent;
  NodeHandle c = End(child);
  while (c < count_ && store_.Parent(c) == up && (flags_[c] & kIgnored))
    c = End(c);
  return c < count_ && store_.Parent(c) == up ? c : kNoNode;
}

LabelView Tree::StandInLabel() const { return ViewOf(fileName_); }

LabelView Tree::Tag(NodeHandle h) const {
  const LabelView label = Label(h);
  switch (Kind(h)) {
  case kMember:
    return h == kStandIn || IsContainer(h)
               ? label
               : Piece(label, 0, MemberNameLength(label));
  case kText:
    return ViewOf(kTextKey);
  case kOther: {
    // A processing instruction's target: "<?x?>" reads "?x?" whole.
    const uint32_t space = FirstSpace(label);
    const bool closed = space == label.length && space > 1 &&
                        UnitAt(label, 0) == u'?' &&
                        UnitAt(label, space - 1) == u'?';
    return Piece(label, 0, closed ? space - 1 : space);
  }
  default:
    return Piece(label, 0, FirstSpace(label));
  }
}

NodeHandle Tree::NameLeaf(NodeHandle h, LabelView &value) const {
  if (h >= count_ || Kind(h) != kElement || !IsContainer(h))
    return kNoNode;
  // Mostly the very next node is the first element child, and when it is
  // the name's leaf, its label reads "SHORT-NAME = x".
  static constexpr char kLead[] = "SHORT-NAME = ";
  constexpr uint32_t kLeadLength = sizeof(kLead) - 1;
  const NodeHandle next = h + 1;
  if (next < End(h) && (flags_[next] & (kKindMask | kIgnored)) == kElement) {
    const LabelView label = store_.GetText(next);
    if (label.narrow) {
      if ((flags_[next] & kContainer) || label.length <= kLeadLength ||
          std::memcmp(label.narrow, kLead, kLeadLength) != 0)
        return kNoNode;
      if (!HasAttributeText(label)) {
        value = Piece(label, kLeadLength, label.length - kLeadLength);
        return next;
      }
    }
  }
  NodeHandle c = FirstChild(h);
  while (c != kNoNode && Kind(c) != kElement)
    c = NextSibling(h, c);
  if (c == kNoNode || IsContainer(c))
    return kNoNode;
  const odx::NodeLabel parts = Parts(c, store_.GetText(c));
  if (!Same(parts.element, kShortName) || parts.value.length == 0)
    return kNoNode;
  value = parts.value;
  return c;
}

NodeHandle Tree::NameChild(NodeHandle h) const {
  LabelView value;
  return NameLeaf(h, value);
}

LabelView Tree::Name(NodeHandle h) const {
  LabelView value;
  NameLeaf(h, value);
  return value;
}

uint64_t Tree::KeyHash(NodeHandle h) const {
  const uint8_t kind = Kind(h);
  Hasher hash(kKeySeed + kind);
  if (kind != kText)
    hash.Units(Tag(h));
  if (kind == kElement) {
    hash.Word(kNameBoundary);
    hash.Units(Name(h));
  }
  return hash.Value();
}

NodeHandle Tree::Document(NodeHandle member) const {
  auto firstElement = [this](NodeHandle parent) {
    NodeHandle c = FirstChild(parent);
    while (c != kNoNode && Kind(c) != kElement)
      c = NextSibling(parent, c);
    return c;
  };
  const NodeHandle top = firstElement(member);
  if (top == kNoNode || !Same(Tag(top), kOdx))
    return top;
  return firstElement(top);
}

uint64_t Tree::PathHash(NodeHandle h) {
  std::unordered_map<NodeHandle, uint64_t> &cache = paths_;
  // Folded from the top down; the ancestors met on the way are kept, since
  // the targets of references crowd below a few containers.
  NodeHandle chain[512];
  int n = 0;
  uint64_t hash = kPathSeed;
  for (NodeHandle a = h; a != kRoot && a != kStandIn && Kind(a) != kMember;
       a = Parent(a)) {
    if (const auto known = cache.find(a); known != cache.end()) {
      hash = known->second;
      break;
    }
    if (n == static_cast<int>(std::size(chain)))
      break;
    chain[n++] = a;
  }
  while (n-- > 0) {
    hash = Fmix(hash * 0x9E3779B97F4A7C15ull + KeyHash(chain[n]));
    cache.emplace(chain[n], hash);
  }
  return hash;
}

const odx::OdxIndex::Reference *Tree::FindReference(NodeHandle h) const {
  if (h >= count_ || !(flags_[h] & kReference))
    return nullptr;
  auto it = std::lower_bound(references_.begin(), references_.end(), h,
                             [](const odx::OdxIndex::Reference &r,
                                NodeHandle n) { return r.node < n; });
  return it != references_.end() && it->node == h ? &*it : nullptr;
}

NodeHandle Tree::EffectiveTarget(const odx::OdxIndex::Reference *r) const {
  // Names are identity here: a reference by name reads as its text.
  if (!r || r->kind != odx::OdxIndex::ReferenceKind::ById ||
      r->target >= count_ || IsIgnored(r->target))
    return kNoNode;
  return r->target;
}

Normalised Tree::Normalise(NodeHandle h, bool blankReference) const {
  Normalised n;
  n.label = Label(h);
  if (h >= count_ || Kind(h) != kElement || !HasAttributeText(n.label))
    return n;
  const LabelView attributes = Parts(h, n.label).attributes;
  if (attributes.length == 0 || (!blankReference && !MayHoldId(attributes)))
    return n;
  // The first of each name counts, as the attribute reader finds it.
  bool seenId = false, seenRef = false;
  ScanAttributes(
      attributes, [&](const LabelView &name, const LabelView &value) {
        const Normalised::Hole hole{OffsetIn(n.label, value), value.length};
        if (name.length == 2 && !seenId && Same(name, u"ID")) {
          seenId = true;
          n.holes[n.count++] = hole;
        } else if (name.length == 6 && !seenRef && Same(name, u"ID-REF")) {
          seenRef = true;
          if (blankReference)
            n.holes[n.count++] = hole;
        }
        return !(seenId && seenRef);
      });
  if (n.count == 2 && n.holes[1].from < n.holes[0].from)
    std::swap(n.holes[0], n.holes[1]);
  return n;
}

std::u16string Tree::PathText(NodeHandle h) const {
  // A single file's stand-in has no node: it shows in a path only when the
  // path is its own.
  std::vector<NodeHandle> chain;
  for (NodeHandle a = h; a != kRoot; a = Parent(a))
    if (a != kStandIn || a == h)
      chain.push_back(a);
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty())
      path += u'/';
    const NodeHandle a = *it;
    const LabelView tag = Kind(a) == kMember ? Label(a) : Tag(a);
    path += tag.toU16String();
    if (Kind(a) == kElement) {
      const LabelView name = Name(a);
      if (name.length > 0) {
        path += u'[';
        path += name.toU16String();
        path += u']';
      }
    }
  }
  return path;
}

std::size_t Tree::MemoryBytes() const {
  return size_.capacity() + bigEnds_.capacity() * sizeof(bigEnds_[0]) +
         flags_.capacity() * sizeof(uint8_t) + fingerprints_.PeakBytes() +
         paths_.size() *
             (sizeof(NodeHandle) + sizeof(uint64_t) + 2 * sizeof(void *));
}

bool SameNormalised(const Normalised &a, const Normalised &b) {
  // The pieces between the holes, walked side by side.
  struct Cursor {
    const Normalised &n;
    int hole = 0;
    uint32_t at = 0;
    uint32_t PieceEnd() const {
      return hole < n.count ? n.holes[hole].from : n.label.length;
    }
    uint32_t Remaining() {
      while (at == PieceEnd() && hole < n.count) {
        at = n.holes[hole].from + n.holes[hole].length;
        ++hole;
      }
      return PieceEnd() - at;
    }
  };
  uint32_t lengthA = a.label.length, lengthB = b.label.length;
  for (int i = 0; i < a.count; ++i)
    lengthA -= a.holes[i].length;
  for (int i = 0; i < b.count; ++i)
    lengthB -= b.holes[i].length;
  if (lengthA != lengthB)
    return false;
  Cursor ca{a}, cb{b};
  for (;;) {
    const uint32_t ra = ca.Remaining(), rb = cb.Remaining();
    const uint32_t step = std::min(ra, rb);
    if (step == 0)
      return ra == rb;
    if (!Same(Piece(a.label, ca.at, step), Piece(b.label, cb.at, step)))
      return false;
    ca.at += step;
    cb.at += step;
  }
}

} // namespace compare::detail
