#include "compare/Comparison.h"

#include "Hashing.h"
#include "Tree.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"

#include <algorithm>
#include <future>
#include <tuple>

namespace compare {

using detail::kElement;
using detail::kMember;
using detail::kRoot;
using detail::Tree;
using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;
using Reference = odx::OdxIndex::Reference;

namespace {

bool Bit(const std::vector<uint64_t> &bits, uint32_t i) {
  return (bits[i >> 6] >> (i & 63)) & 1;
}
void SetBit(std::vector<uint64_t> &bits, uint32_t i) {
  bits[i >> 6] |= uint64_t{1} << (i & 63);
}

// A database of members: a package or a folder.
bool IsDatabase(const outline::OutlineStore &store) {
  return store.IsPackage();
}

// Rename candidates are checked through the keys they share, counted over
// lists of who holds each key; a sibling group built to defeat that (many
// candidates sharing keys, none qualifying) stops finding renames here,
// rather than taking time quadratic in its size.
constexpr uint64_t kRenameBudget = uint64_t{1} << 26;

struct Child {
  uint64_t key;
  uint64_t fingerprint;
  NodeHandle node;
  uint32_t seq; // position among the non-ignored children
};

bool ByKey(const Child &a, const Child &b) {
  return std::tie(a.key, a.seq) < std::tie(b.key, b.seq);
}
bool ByFingerprint(const Child &a, const Child &b) {
  return std::tie(a.fingerprint, a.seq) < std::tie(b.fingerprint, b.seq);
}
bool BySeq(const Child &a, const Child &b) { return a.seq < b.seq; }

// What a pair's own labels say.  Deferred: the same but for where a
// reference leads, known once every node is paired.
enum class Verdict { Same, Differs, Deferred };

// The references of one side met in increasing node order.
class ReferenceCursor {
public:
  explicit ReferenceCursor(std::span<const Reference> refs) : refs_(refs) {}
  void Seek(NodeHandle node) {
    at_ = static_cast<std::size_t>(
        std::lower_bound(
            refs_.begin(), refs_.end(), node,
            [](const Reference &r, NodeHandle n) { return r.node < n; }) -
        refs_.begin());
  }
  const Reference *At(NodeHandle node) {
    while (at_ < refs_.size() && refs_[at_].node < node)
      ++at_;
    return at_ < refs_.size() && refs_[at_].node == node ? &refs_[at_]
                                                         : nullptr;
  }

private:
  std::span<const Reference> refs_;
  std::size_t at_ = 0;
};

} // namespace

class Comparison::Impl {
public:
  Impl(Version oldVersion, Version newVersion, Options options);

  void Match();
  template <typename Visit> void Walk(Visit &&visit) const;

  Options options_;
  Tree old_;
  Tree new_;
  // Per NEW slot: the OLD node it pairs with, or kNoNode.
  std::vector<NodeHandle> partner_;
  std::vector<uint64_t> oldMatched_; // per OLD slot
  std::vector<uint64_t> renamed_;    // per NEW slot
  Counts counts_;

private:
  void Pair(NodeHandle o, NodeHandle n, bool renamed);
  bool TryIdentical(NodeHandle o, NodeHandle n);
  bool SameInPlace(NodeHandle o, NodeHandle n, const Reference *ro,
                   const Reference *rn, uint64_t &changed);
  void MatchChildren(NodeHandle o, NodeHandle n);
  void Gather(const Tree &tree, NodeHandle parent, std::vector<Child> &out);
  void PairDuplicates(Child *o, std::size_t no, Child *n, std::size_t nn);
  void PairByDocument();
  void PairRenames();
  void RenameGroup(std::span<const Child> olds, std::span<const Child> news);
  void RenameKeys(const Tree &tree, NodeHandle h, std::vector<uint64_t> &out);
  uint64_t RenameTag(const Tree &tree, NodeHandle h) const;

public:
  Verdict Judge(NodeHandle o, NodeHandle n, bool renamed, bool nameOfRenamed,
                const Reference *rn, bool defer) const;

private:
  std::vector<std::pair<NodeHandle, NodeHandle>> work_;
  std::vector<Child> oldKids_, newKids_;
  std::vector<Child> leftOld_, leftNew_;
  // The pair whose children are being matched, and its names' leaves.
  NodeHandle nameOld_ = kNoNode, nameNew_ = kNoNode;
  bool parentRenamed_ = false;
  // The targets of paired references whose verdict waits for the pairing
  // of every target: OLD's and NEW's.
  std::vector<std::pair<NodeHandle, NodeHandle>> deferred_;
  uint64_t renameBudget_ = kRenameBudget;
};

Comparison::Impl::Impl(Version oldVersion, Version newVersion, Options options)
    : options_(std::move(options)),
      old_(oldVersion,
           !IsDatabase(oldVersion.store) && IsDatabase(newVersion.store),
           options_.ignoredTags),
      new_(newVersion,
           !IsDatabase(newVersion.store) && IsDatabase(oldVersion.store),
           options_.ignoredTags) {
  if (options_.threads > 1) {
    auto other = std::async(std::launch::async, [this] { old_.Prepare(); });
    new_.Prepare();
    other.get();
  } else {
    old_.Prepare();
    new_.Prepare();
  }
  partner_.assign(std::size_t{new_.Count()} + 1, kNoNode);
  oldMatched_.assign((std::size_t{old_.Count()} + 1 + 63) / 64, 0);
  renamed_.assign((std::size_t{new_.Count()} + 1 + 63) / 64, 0);
  Match();
  old_.ReleaseFingerprints();
  new_.ReleaseFingerprints();
}

void Comparison::Impl::Match() {
  work_.emplace_back(kRoot, kRoot);
  while (!work_.empty()) {
    const auto [o, n] = work_.back();
    work_.pop_back();
    if (!TryIdentical(o, n))
      MatchChildren(o, n);
  }
  for (const auto &[to, tn] : deferred_)
    if (partner_[tn] != to)
      ++counts_.changed;
  std::vector<std::pair<NodeHandle, NodeHandle>>().swap(deferred_);
}

void Comparison::Impl::Pair(NodeHandle o, NodeHandle n, bool renamed) {
  partner_[new_.Slot(n)] = o;
  SetBit(oldMatched_, old_.Slot(o));
  if (renamed) {
    SetBit(renamed_, new_.Slot(n));
    ++counts_.renamed;
  }
  const bool nameOfRenamed = parentRenamed_ && n == nameNew_ && o == nameOld_;
  switch (Judge(o, n, renamed, nameOfRenamed, new_.FindReference(n), true)) {
  case Verdict::Same:
    break;
  case Verdict::Differs:
    ++counts_.changed;
    break;
  case Verdict::Deferred:
    deferred_.emplace_back(old_.EffectiveTarget(old_.FindReference(o)),
                           new_.EffectiveTarget(new_.FindReference(n)));
    break;
  }
  work_.emplace_back(o, n);
}

// Whether two nodes in the same place of two subtrees read alike: the same
// label, or the same but for IDs and for references leading to the same
// paths.  `changed` counts a reference that reads alike but resolves on
// one side only.
bool Comparison::Impl::SameInPlace(NodeHandle o, NodeHandle n,
                                   const Reference *ro, const Reference *rn,
                                   uint64_t &changed) {
  const NodeHandle to = old_.EffectiveTarget(ro);
  const NodeHandle tn = new_.EffectiveTarget(rn);
  if (detail::Same(old_.Label(o), new_.Label(n))) {
    if ((to == kNoNode) != (tn == kNoNode))
      ++changed;
    else if (tn != kNoNode)
      deferred_.emplace_back(to, tn);
    return true;
  }
  if (old_.Kind(o) != kElement || (to == kNoNode) != (tn == kNoNode))
    return false;
  const bool blank = to != kNoNode;
  if (blank && old_.PathHash(to) != new_.PathHash(tn))
    return false;
  if (!detail::SameNormalised(old_.Normalise(o, blank),
                              new_.Normalise(n, blank)))
    return false;
  if (blank)
    deferred_.emplace_back(to, tn);
  return true;
}

// Two subtrees that read alike node for node (the same shape, the same
// labels but for IDs and for references leading to the same paths) pair
// node for node: that is what matching them child by child gives, at the
// cost of a scan.  Their pairs need no more judging than where their
// references lead.
bool Comparison::Impl::TryIdentical(NodeHandle o, NodeHandle n) {
  if (o >= old_.Count() || n >= new_.Count() ||
      old_.End(o) - o != new_.End(n) - n)
    return false;
  const uint32_t size = old_.End(o) - o;
  if (size == 1)
    return true;
  ReferenceCursor oldRefs(old_.References()), newRefs(new_.References());
  oldRefs.Seek(o + 1);
  newRefs.Seek(n + 1);
  const std::size_t deferredBefore = deferred_.size();
  uint64_t changed = 0;
  for (uint32_t i = 1; i < size;) {
    const NodeHandle a = o + i, b = n + i;
    // Equal subtree sizes in pre-order make one shape.
    bool same = ((old_.Flags(a) ^ new_.Flags(b)) & ~detail::kReference) == 0 &&
                old_.SizeByte(a) == new_.SizeByte(b) &&
                (old_.SizeByte(a) != Tree::kBigSubtree ||
                 old_.End(a) - a == new_.End(b) - b);
    if (same && old_.IsIgnored(a)) {
      i = old_.End(a) - o;
      continue;
    }
    if (!same || !SameInPlace(a, b, oldRefs.At(a), newRefs.At(b), changed)) {
      deferred_.resize(deferredBefore);
      return false;
    }
    ++i;
  }
  counts_.changed += changed;
  for (uint32_t i = 1; i < size;) {
    const NodeHandle a = o + i;
    if (old_.IsIgnored(a)) {
      i = old_.End(a) - o;
      continue;
    }
    partner_[n + i] = a;
    SetBit(oldMatched_, a);
    ++i;
  }
  return true;
}

void Comparison::Impl::Gather(const Tree &tree, NodeHandle parent,
                              std::vector<Child> &out) {
  out.clear();
  uint32_t seq = 0;
  for (NodeHandle c = tree.FirstChild(parent); c != kNoNode;
       c = tree.NextSibling(parent, c))
    out.push_back({tree.KeyHash(c), 0, c, seq++});
}

void Comparison::Impl::MatchChildren(NodeHandle o, NodeHandle n) {
  Gather(old_, o, oldKids_);
  Gather(new_, n, newKids_);
  if (oldKids_.empty() || newKids_.empty()) {
    counts_.removed += oldKids_.size();
    counts_.added += newKids_.size();
    return;
  }
  parentRenamed_ = n != kRoot && Bit(renamed_, new_.Slot(n));
  nameOld_ = parentRenamed_ ? old_.NameChild(o) : kNoNode;
  nameNew_ = parentRenamed_ ? new_.NameChild(n) : kNoNode;
  std::sort(oldKids_.begin(), oldKids_.end(), ByKey);
  std::sort(newKids_.begin(), newKids_.end(), ByKey);
  leftOld_.clear();
  leftNew_.clear();
  std::size_t i = 0, j = 0;
  while (i < oldKids_.size() || j < newKids_.size()) {
    const uint64_t key = i == oldKids_.size() ? newKids_[j].key
                         : j == newKids_.size()
                             ? oldKids_[i].key
                             : std::min(oldKids_[i].key, newKids_[j].key);
    std::size_t i2 = i, j2 = j;
    while (i2 < oldKids_.size() && oldKids_[i2].key == key)
      ++i2;
    while (j2 < newKids_.size() && newKids_[j2].key == key)
      ++j2;
    if (i2 - i == 1 && j2 - j == 1)
      Pair(oldKids_[i].node, newKids_[j].node, false);
    else if (i2 > i && j2 > j)
      PairDuplicates(&oldKids_[i], i2 - i, &newKids_[j], j2 - j);
    else {
      leftOld_.insert(leftOld_.end(), oldKids_.begin() + i,
                      oldKids_.begin() + i2);
      leftNew_.insert(leftNew_.end(), newKids_.begin() + j,
                      newKids_.begin() + j2);
    }
    i = i2;
    j = j2;
  }
  if (!leftOld_.empty() && !leftNew_.empty()) {
    std::sort(leftOld_.begin(), leftOld_.end(), BySeq);
    std::sort(leftNew_.begin(), leftNew_.end(), BySeq);
    PairByDocument();
    PairRenames();
  }
  for (const Child &c : leftOld_)
    counts_.removed += !Bit(oldMatched_, old_.Slot(c.node));
  for (const Child &c : leftNew_)
    counts_.added += partner_[new_.Slot(c.node)] == kNoNode;
}

// Same key: equal fingerprints pair first, OLD and NEW in document order;
// the rest by their order among the rest.
void Comparison::Impl::PairDuplicates(Child *o, std::size_t no, Child *n,
                                      std::size_t nn) {
  for (std::size_t k = 0; k < no; ++k)
    o[k].fingerprint = old_.Fingerprint(o[k].node);
  for (std::size_t k = 0; k < nn; ++k)
    n[k].fingerprint = new_.Fingerprint(n[k].node);
  std::sort(o, o + no, ByFingerprint);
  std::sort(n, n + nn, ByFingerprint);
  std::vector<Child> restOld, restNew;
  std::size_t i = 0, j = 0;
  while (i < no && j < nn) {
    if (o[i].fingerprint < n[j].fingerprint) {
      restOld.push_back(o[i++]);
    } else if (n[j].fingerprint < o[i].fingerprint) {
      restNew.push_back(n[j++]);
    } else {
      Pair(o[i++].node, n[j++].node, false);
    }
  }
  restOld.insert(restOld.end(), o + i, o + no);
  restNew.insert(restNew.end(), n + j, n + nn);
  std::sort(restOld.begin(), restOld.end(), BySeq);
  std::sort(restNew.begin(), restNew.end(), BySeq);
  const std::size_t both = std::min(restOld.size(), restNew.size());
  for (std::size_t k = 0; k < both; ++k)
    Pair(restOld[k].node, restNew[k].node, false);
  // Those still left may be renames.
  leftOld_.insert(leftOld_.end(), restOld.begin() + both, restOld.end());
  leftNew_.insert(leftNew_.end(), restNew.begin() + both, restNew.end());
}

// Members left pair by their documents' names: a file renamed with its
// version (Ecu-5.2.0.odx-d, Ecu-5.2.1.odx-d) still holds the same document.
void Comparison::Impl::PairByDocument() {
  struct Named {
    uint64_t hash;
    uint32_t index; // into leftNew_
  };
  auto documentName = [](const Tree &tree, NodeHandle h) {
    if (tree.Kind(h) != kMember)
      return LabelView();
    const NodeHandle doc = tree.Document(h);
    return doc == kNoNode ? LabelView() : tree.Name(doc);
  };
  auto hashOf = [](const LabelView &name) {
    detail::Hasher hash(0x444F43);
    hash.Units(name);
    return hash.Value();
  };
  std::vector<Named> named;
  for (uint32_t k = 0; k < leftNew_.size(); ++k) {
    const LabelView name = documentName(new_, leftNew_[k].node);
    if (name.length > 0)
      named.push_back({hashOf(name), k});
  }
  if (named.empty())
    return;
  std::sort(named.begin(), named.end(), [](const Named &a, const Named &b) {
    return std::tie(a.hash, a.index) < std::tie(b.hash, b.index);
  });
  std::vector<bool> takenNew(leftNew_.size(), false);
  std::vector<bool> takenOld(leftOld_.size(), false);
  for (uint32_t k = 0; k < leftOld_.size(); ++k) {
    const LabelView name = documentName(old_, leftOld_[k].node);
    if (name.length == 0)
      continue;
    const uint64_t h = hashOf(name);
    auto it = std::lower_bound(
        named.begin(), named.end(), h,
        [](const Named &a, uint64_t value) { return a.hash < value; });
    for (; it != named.end() && it->hash == h; ++it) {
      if (takenNew[it->index] ||
          !odx::SameUnits(name, documentName(new_, leftNew_[it->index].node)))
        continue;
      takenNew[it->index] = true;
      takenOld[k] = true;
      Pair(leftOld_[k].node, leftNew_[it->index].node, false);
      break;
    }
  }
  auto drop = [](std::vector<Child> &v, const std::vector<bool> &taken) {
    std::size_t w = 0;
    for (std::size_t r = 0; r < v.size(); ++r)
      if (!taken[r])
        v[w++] = v[r];
    v.resize(w);
  };
  drop(leftOld_, takenOld);
  drop(leftNew_, takenNew);
}

// What a rename must share: the tag for elements; for members, the tag of
// the document they hold (or that they hold none).
uint64_t Comparison::Impl::RenameTag(const Tree &tree, NodeHandle h) const {
  detail::Hasher hash(0x52454E + tree.Kind(h));
  if (tree.Kind(h) == kMember) {
    const NodeHandle doc = tree.Document(h);
    hash.Word(doc == kNoNode ? 0 : 1);
    if (doc != kNoNode)
      hash.Units(tree.Tag(doc));
  } else {
    hash.Units(tree.Tag(h));
  }
  return hash.Value();
}

// The distinct keys of the children a rename is judged on, sorted; the
// SHORT-NAME leaves left out.
void Comparison::Impl::RenameKeys(const Tree &tree, NodeHandle h,
                                  std::vector<uint64_t> &out) {
  NodeHandle base = h;
  if (tree.Kind(h) == kMember) {
    const NodeHandle doc = tree.Document(h);
    if (doc != kNoNode)
      base = doc;
  }
  const std::size_t from = out.size();
  for (NodeHandle c = tree.FirstChild(base); c != kNoNode;
       c = tree.NextSibling(base, c))
    if (tree.Kind(c) != kElement || !detail::Same(tree.Tag(c), u"SHORT-NAME"))
      out.push_back(tree.KeyHash(c));
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(from), out.end());
  out.erase(
      std::unique(out.begin() + static_cast<std::ptrdiff_t>(from), out.end()),
      out.end());
}

void Comparison::Impl::PairRenames() {
  if (renameBudget_ == 0)
    return;
  // Elements only differ by name here, members by anything; the others
  // left (declarations, texts) have no counterpart of their tag.
  struct Tagged {
    uint64_t tag;
    Child child;
  };
  auto tagged = [this](const Tree &tree, const std::vector<Child> &left) {
    std::vector<Tagged> out;
    for (const Child &c : left) {
      const uint8_t kind = tree.Kind(c.node);
      if (kind == kElement || kind == kMember)
        out.push_back({RenameTag(tree, c.node), c});
    }
    std::stable_sort(
        out.begin(), out.end(),
        [](const Tagged &a, const Tagged &b) { return a.tag < b.tag; });
    return out;
  };
  const std::vector<Tagged> olds = tagged(old_, leftOld_);
  const std::vector<Tagged> news = tagged(new_, leftNew_);
  std::vector<Child> groupOld, groupNew;
  std::size_t i = 0, j = 0;
  while (i < olds.size() && j < news.size()) {
    if (olds[i].tag < news[j].tag) {
      ++i;
    } else if (news[j].tag < olds[i].tag) {
      ++j;
    } else {
      const uint64_t tag = olds[i].tag;
      groupOld.clear();
      groupNew.clear();
      for (; i < olds.size() && olds[i].tag == tag; ++i)
        groupOld.push_back(olds[i].child);
      for (; j < news.size() && news[j].tag == tag; ++j)
        groupNew.push_back(news[j].child);
      RenameGroup(groupOld, groupNew);
    }
  }
}

// Each OLD one, in document order, takes the first NEW one with which it
// shares at least half of the larger one's distinct child keys.  Shared
// keys are counted through a list of the NEW ones holding each key, so a
// candidate costs what its keys' lists hold, not a look at every sibling.
void Comparison::Impl::RenameGroup(std::span<const Child> olds,
                                   std::span<const Child> news) {
  std::vector<uint64_t> keys;
  std::vector<uint32_t> keyStart;
  struct Posting {
    uint64_t key;
    uint32_t candidate;
  };
  std::vector<Posting> postings;
  std::vector<uint32_t> empties; // NEW ones without keys, in order
  for (uint32_t k = 0; k < news.size(); ++k) {
    keyStart.push_back(static_cast<uint32_t>(keys.size()));
    RenameKeys(new_, news[k].node, keys);
    for (std::size_t x = keyStart.back(); x < keys.size(); ++x)
      postings.push_back({keys[x], k});
    if (keys.size() == keyStart.back())
      empties.push_back(k);
  }
  keyStart.push_back(static_cast<uint32_t>(keys.size()));
  std::sort(
      postings.begin(), postings.end(), [](const Posting &a, const Posting &b) {
        return std::tie(a.key, a.candidate) < std::tie(b.key, b.candidate);
      });
  std::vector<bool> taken(news.size(), false);
  std::vector<uint32_t> shared(news.size(), 0);
  std::vector<uint32_t> touched;
  std::size_t emptyAt = 0;
  std::vector<uint64_t> mine;
  for (const Child &o : olds) {
    mine.clear();
    RenameKeys(old_, o.node, mine);
    uint32_t best = UINT32_MAX;
    if (mine.empty()) {
      while (emptyAt < empties.size() && taken[empties[emptyAt]])
        ++emptyAt;
      if (emptyAt < empties.size())
        best = empties[emptyAt];
    } else {
      for (const uint64_t key : mine) {
        auto it = std::lower_bound(
            postings.begin(), postings.end(), key,
            [](const Posting &p, uint64_t value) { return p.key < value; });
        for (; it != postings.end() && it->key == key; ++it) {
          if (renameBudget_ == 0)
            return;
          --renameBudget_;
          if (taken[it->candidate])
            continue;
          if (shared[it->candidate]++ == 0)
            touched.push_back(it->candidate);
        }
      }
      const std::size_t a = mine.size();
      for (const uint32_t k : touched) {
        const std::size_t b = keyStart[k + 1] - keyStart[k];
        if (2 * std::size_t{shared[k]} >= std::max(a, b) && k < best)
          best = k;
        shared[k] = 0;
      }
      touched.clear();
    }
    if (best != UINT32_MAX) {
      taken[best] = true;
      Pair(o.node, news[best].node, true);
    }
  }
}

Verdict Comparison::Impl::Judge(NodeHandle o, NodeHandle n, bool renamed,
                                bool nameOfRenamed, const Reference *rn,
                                bool defer) const {
  if (o == kStandIn || n == kStandIn)
    return Verdict::Same;
  if (old_.IsContainer(o) != new_.IsContainer(n))
    return Verdict::Differs;
  const LabelView oldLabel = old_.Label(o);
  const LabelView newLabel = new_.Label(n);
  const uint8_t kind = new_.Kind(n);
  const bool sameText = detail::Same(oldLabel, newLabel);
  if (kind == kMember)
    return renamed || sameText ? Verdict::Same : Verdict::Differs;
  if (kind != kElement)
    return sameText ? Verdict::Same : Verdict::Differs;
  if (nameOfRenamed) {
    // The name's own change is the rename; anything else about its leaf
    // is a change still.
    const odx::NodeLabel a = old_.Parts(o, oldLabel);
    const odx::NodeLabel b = new_.Parts(n, newLabel);
    return detail::Same(a.element, b.element) &&
                   detail::Same(a.attributes, b.attributes)
               ? Verdict::Same
               : Verdict::Differs;
  }
  if (!rn && sameText)
    return Verdict::Same;
  bool blank = false;
  if (rn) {
    const NodeHandle to = old_.EffectiveTarget(old_.FindReference(o));
    const NodeHandle tn = new_.EffectiveTarget(rn);
    if (to != kNoNode || tn != kNoNode) {
      // A link is the same when it leads to the same element, whatever
      // its ID text says.
      if (to == kNoNode || tn == kNoNode)
        return Verdict::Differs;
      if (!defer && partner_[tn] != to)
        return Verdict::Differs;
      blank = true;
    }
  }
  if (!sameText && !detail::SameNormalised(old_.Normalise(o, blank),
                                           new_.Normalise(n, blank)))
    return Verdict::Differs;
  return blank && defer ? Verdict::Deferred : Verdict::Same;
}

template <typename Visit> void Comparison::Impl::Walk(Visit &&visit) const {
  struct Frame {
    NodeHandle o, n, next;
    NodeHandle nameOld, nameNew; // leaves of a renamed pair's names
  };
  std::vector<Frame> stack;
  stack.push_back({kRoot, kRoot, new_.FirstChild(kRoot), kNoNode, kNoNode});
  ReferenceCursor refs(new_.References());
  while (!stack.empty()) {
    Frame &top = stack.back();
    if (top.next == kNoNode) {
      const NodeHandle o = top.o, n = top.n;
      stack.pop_back();
      for (NodeHandle c = old_.FirstChild(o); c != kNoNode;
           c = old_.NextSibling(o, c))
        if (!Bit(oldMatched_, old_.Slot(c)))
          visit(Change{ChangeKind::Removed, c, kNoNode, n});
      continue;
    }
    const NodeHandle c = top.next;
    top.next = new_.NextSibling(top.n, c);
    const NodeHandle p = partner_[new_.Slot(c)];
    if (p == kNoNode) {
      visit(Change{ChangeKind::Added, kNoNode, c, c});
      continue;
    }
    const bool nameOfRenamed = c == top.nameNew && p == top.nameOld;
    const bool renamed = Bit(renamed_, new_.Slot(c));
    if (renamed)
      visit(Change{ChangeKind::Renamed, p, c, c});
    const Reference *rn = c < new_.Count() ? refs.At(c) : nullptr;
    if (Judge(p, c, renamed, nameOfRenamed, rn, false) == Verdict::Differs)
      visit(Change{ChangeKind::Changed, p, c, c});
    stack.push_back({p, c, new_.FirstChild(c),
                     renamed ? old_.NameChild(p) : kNoNode,
                     renamed ? new_.NameChild(c) : kNoNode});
  }
}

Comparison::Comparison(Version oldVersion, Version newVersion, Options options)
    : impl_(
          std::make_unique<Impl>(oldVersion, newVersion, std::move(options))) {}

Comparison::~Comparison() = default;

void Comparison::ForEachChange(
    const std::function<void(const Change &)> &visit) const {
  impl_->Walk(visit);
}

Counts Comparison::Count() const { return impl_->counts_; }

std::u16string Comparison::Path(Side side, NodeHandle node) const {
  const Tree &tree = side == Side::Old ? impl_->old_ : impl_->new_;
  if (node != kStandIn && node >= tree.Count())
    return std::u16string();
  if (node == kStandIn && !tree.UsesStandIn())
    return std::u16string();
  return tree.PathText(node);
}

std::u16string Comparison::OldName(NodeHandle oldNode) const {
  const Tree &tree = impl_->old_;
  if (oldNode != kStandIn && oldNode >= tree.Count())
    return std::u16string();
  if (tree.Kind(oldNode) == kMember)
    return tree.Label(oldNode).toU16String();
  return tree.Name(oldNode).toU16String();
}

NodeHandle Comparison::PartnerOf(NodeHandle newNode) const {
  const Tree &tree = impl_->new_;
  if (newNode != kStandIn && newNode >= tree.Count())
    return kNoNode;
  if (newNode == kStandIn && !tree.UsesStandIn())
    return kNoNode;
  return impl_->partner_[tree.Slot(newNode)];
}

bool Comparison::IsIgnored(Side side, NodeHandle node) const {
  return (side == Side::Old ? impl_->old_ : impl_->new_).IsIgnored(node);
}

std::size_t Comparison::MemoryBytes() const {
  return impl_->old_.MemoryBytes() + impl_->new_.MemoryBytes() +
         impl_->partner_.capacity() * sizeof(NodeHandle) +
         (impl_->oldMatched_.capacity() + impl_->renamed_.capacity()) *
             sizeof(uint64_t);
}

} // namespace compare
