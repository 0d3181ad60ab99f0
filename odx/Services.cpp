#include "odx/Services.h"

#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "outline/OutlineBuilder.h"

#include <algorithm>
#include <array>
#include <limits>

namespace odx {
namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;
using outline::OutlineStore;
using Kind = Services::Kind;

// The elements the services rules read.
enum class Tag : uint8_t {
  Other,
  Protocol,
  FunctionalGroup,
  EcuSharedData,
  BaseVariant,
  EcuVariant,
  Request,
  PosResponse,
  NegResponse,
  GlobalNegResponse,
  DiagService,
  SingleEcuJob,
  DiagCommRef,
  DiagComms,
  ParentRefs,
  ParentRef,
  NotInheritedDiagComms,
  NotInheritedDiagComm,
  DiagCommSnref,
  RequestRef,
  Params,
  Param,
  DiagCodedType,
  BytePosition,
  BitPosition,
  CodedValue,
  BitLength,
};

constexpr struct {
  std::string_view name; // ASCII
  Tag tag;
} kTags[] = {
    {"PROTOCOL", Tag::Protocol},
    {"FUNCTIONAL-GROUP", Tag::FunctionalGroup},
    {"ECU-SHARED-DATA", Tag::EcuSharedData},
    {"BASE-VARIANT", Tag::BaseVariant},
    {"ECU-VARIANT", Tag::EcuVariant},
    {"REQUEST", Tag::Request},
    {"POS-RESPONSE", Tag::PosResponse},
    {"NEG-RESPONSE", Tag::NegResponse},
    {"GLOBAL-NEG-RESPONSE", Tag::GlobalNegResponse},
    {"DIAG-SERVICE", Tag::DiagService},
    {"SINGLE-ECU-JOB", Tag::SingleEcuJob},
    {"DIAG-COMM-REF", Tag::DiagCommRef},
    {"DIAG-COMMS", Tag::DiagComms},
    {"PARENT-REFS", Tag::ParentRefs},
    {"PARENT-REF", Tag::ParentRef},
    {"NOT-INHERITED-DIAG-COMMS", Tag::NotInheritedDiagComms},
    {"NOT-INHERITED-DIAG-COMM", Tag::NotInheritedDiagComm},
    {"DIAG-COMM-SNREF", Tag::DiagCommSnref},
    {"REQUEST-REF", Tag::RequestRef},
    {"PARAMS", Tag::Params},
    {"PARAM", Tag::Param},
    {"DIAG-CODED-TYPE", Tag::DiagCodedType},
    {"BYTE-POSITION", Tag::BytePosition},
    {"BIT-POSITION", Tag::BitPosition},
    {"CODED-VALUE", Tag::CodedValue},
    {"BIT-LENGTH", Tag::BitLength},
};

// When two parents offer a service of one name, the parent of the higher
// priority wins.
constexpr struct {
  Tag layer;
  uint8_t priority;
} kPriorities[] = {
    {Tag::Protocol, 1},   {Tag::FunctionalGroup, 2}, {Tag::BaseVariant, 3},
    {Tag::EcuVariant, 4}, {Tag::EcuSharedData, 100},
};

uint8_t PriorityOf(Tag tag) {
  for (const auto &p : kPriorities)
    if (p.layer == tag)
      return p.priority;
  return 0;
}

bool IsLayerTag(Tag tag) { return PriorityOf(tag) > 0; }

Kind MessageKindOf(Tag tag) {
  switch (tag) {
  case Tag::Request:
    return Kind::Request;
  case Tag::PosResponse:
    return Kind::PosResponse;
  case Tag::NegResponse:
    return Kind::NegResponse;
  case Tag::GlobalNegResponse:
    return Kind::GlobalNegResponse;
  case Tag::DiagService:
    return Kind::DiagService;
  default:
    return Kind::None;
  }
}

char16_t UnitAt(const LabelView &v, uint32_t i) {
  return v.narrow ? v.narrow[i] : v.wide[i];
}

// The tags by the first four units of their names (every name has five
// or more), so most labels are ruled out by one look into a small table
// and the rest are held against the one to five names sharing those units.
// Every node of the outline passes here.
constexpr uint32_t FirstFour(unsigned char a, unsigned char b, unsigned char c,
                             unsigned char d) {
  return uint32_t{a} | uint32_t{b} << 8 | uint32_t{c} << 16 | uint32_t{d} << 24;
}
struct TagTable {
  static constexpr int kBits = 8; // a sixteenth full: few probes
  static constexpr uint32_t kMask = (1u << kBits) - 1;
  static constexpr uint32_t BucketOf(uint32_t key) {
    return (key * 0x9E3779B1u) >> (32 - kBits);
  }
  struct Bucket {
    uint32_t key = 0;
    uint8_t count = 0; // 0: empty
    std::array<uint8_t, 6> tags{};
  };
  std::array<Bucket, 1u << kBits> buckets{};
};
constexpr TagTable MakeTagTable() {
  TagTable t;
  for (std::size_t i = 0; i < std::size(kTags); ++i) {
    const std::string_view n = kTags[i].name;
    const uint32_t key = FirstFour(
        static_cast<unsigned char>(n[0]), static_cast<unsigned char>(n[1]),
        static_cast<unsigned char>(n[2]), static_cast<unsigned char>(n[3]));
    uint32_t b = TagTable::BucketOf(key);
    while (t.buckets[b].count != 0 && t.buckets[b].key != key)
      b = (b + 1) & TagTable::kMask;
    t.buckets[b].key = key;
    t.buckets[b].tags[t.buckets[b].count++] = static_cast<uint8_t>(i);
  }
  return t;
}
constexpr TagTable kTagTable = MakeTagTable();
constexpr std::size_t ShortestTag() {
  std::size_t n = std::numeric_limits<std::size_t>::max();
  for (const auto &t : kTags)
    n = std::min(n, t.name.size());
  return n;
}
constexpr std::size_t kShortestTag = ShortestTag();
static_assert(kShortestTag >= 4);

// A label holding a unit beyond Latin-1 is rare: every name is tried.
Tag WideTagOf(const LabelView &label) {
  for (const auto &t : kTags) {
    const auto n = static_cast<uint32_t>(t.name.size());
    if (n > label.length || (n < label.length && label.wide[n] != u' '))
      continue;
    uint32_t i = 0;
    while (i < n && label.wide[i] == static_cast<char16_t>(t.name[i]))
      ++i;
    if (i == n)
      return t.tag;
  }
  return Tag::Other;
}

// The tag of a label's first word (up to a space or the end).
inline Tag TagOf(const LabelView &label) {
  if (label.length < kShortestTag)
    return Tag::Other;
  if (!label.narrow)
    return WideTagOf(label);
  const unsigned char *p = label.narrow;
  const uint32_t key = FirstFour(p[0], p[1], p[2], p[3]);
  for (uint32_t b = TagTable::BucketOf(key); kTagTable.buckets[b].count != 0;
       b = (b + 1) & TagTable::kMask) {
    const auto &bucket = kTagTable.buckets[b];
    if (bucket.key != key)
      continue;
    for (uint8_t k = 0; k < bucket.count; ++k) {
      const auto &t = kTags[bucket.tags[k]];
      const auto n = static_cast<uint32_t>(t.name.size());
      if (n > label.length || (n < label.length && p[n] != ' '))
        continue;
      uint32_t i = 4; // the first four are the key
      while (i < n && p[i] == static_cast<unsigned char>(t.name[i]))
        ++i;
      if (i == n)
        return t.tag;
    }
    return Tag::Other;
  }
  return Tag::Other;
}

// Raw description text, processing instructions and the nodes standing for
// files or package members carry no element.
bool IsElementNode(const OutlineStore &store, NodeHandle node) {
  return IsElement(store, node);
}

bool IsXmlSpace(char16_t u) {
  return u == u' ' || u == u'\t' || u == u'\r' || u == u'\n';
}

LabelView Trimmed(LabelView v) {
  uint32_t from = 0, to = v.length;
  while (from < to && IsXmlSpace(UnitAt(v, from)))
    ++from;
  while (to > from && IsXmlSpace(UnitAt(v, to - 1)))
    --to;
  return Slice(v, from, to - from);
}

// Decimal digits (at least one) that fit 64 bits.
std::optional<uint64_t> Decimal(const LabelView &v) {
  if (v.length == 0)
    return std::nullopt;
  uint64_t n = 0;
  for (uint32_t i = 0; i < v.length; ++i) {
    const char16_t u = UnitAt(v, i);
    if (u < u'0' || u > u'9')
      return std::nullopt;
    const auto digit = static_cast<uint64_t>(u - u'0');
    if (n > (std::numeric_limits<uint64_t>::max() - digit) / 10)
      return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

int HexDigit(char16_t u) {
  if (u >= u'0' && u <= u'9')
    return u - u'0';
  if (u >= u'a' && u <= u'f')
    return u - u'a' + 10;
  if (u >= u'A' && u <= u'F')
    return u - u'A' + 10;
  return -1;
}

enum class BaseType : uint8_t { Other, Unsigned, Signed, Bytes };

constexpr struct {
  std::u16string_view name;
  BaseType type;
} kBaseTypes[] = {
    {u"A_UINT32", BaseType::Unsigned},
    {u"A_INT32", BaseType::Signed},
    {u"A_BYTEFIELD", BaseType::Bytes},
};

// What one PARAM holds, gathered from its children as the walk meets them
// (the first of each kind counts).  A parameter that cannot add to its
// message (one before it ended the prefix, or no CODED-CONST) gathers
// nothing: only which of its children count is still told apart.
struct CodedType { // what a DIAG-CODED-TYPE's attributes say
  bool standardLength = false;
  bool littleEndian = false;
  BaseType type = BaseType::Other;
};
struct ParamFacts {
  uint32_t message; // the accumulator of its message
  bool gathering = false;
  bool codedConst = false;
  bool codedType = false; // a DIAG-CODED-TYPE was met
  CodedType coding;
  // The trimmed values of the leaves.
  std::optional<LabelView> value, bytePosition, bitPosition, bitLength;
};

// A message whose prefix is being written.
struct Accumulator {
  uint32_t entry;
  bool ended = false;
  std::vector<uint8_t> bytes; // the cursor is its size
};

// Bits [at, at + 8) of value << shift, shift 0..7.
uint8_t ShiftedByte(uint64_t value, int at, int shift) {
  const int from = at - shift;
  if (from < 0)
    return static_cast<uint8_t>((value << -from) & 0xFF);
  if (from >= 64)
    return 0;
  return static_cast<uint8_t>((value >> from) & 0xFF);
}

// Adds one parameter to its message; false when it ends the prefix.
bool AddParameter(const ParamFacts &f, std::vector<uint8_t> &message) {
  if (!f.codedConst || !f.coding.standardLength ||
      f.coding.type == BaseType::Other || !f.value || !f.bitLength)
    return false;
  const std::optional<uint64_t> bits = Decimal(*f.bitLength);
  if (!bits || *bits < 1 || *bits > 64)
    return false;
  const auto bitLength = static_cast<int>(*bits);
  const std::size_t cursor = message.size();
  std::size_t at = cursor;
  if (f.bytePosition) {
    const auto pos = Decimal(*f.bytePosition);
    if (!pos || *pos > cursor)
      return false;
    at = static_cast<std::size_t>(*pos);
  }
  int shift = 0;
  if (f.bitPosition) {
    const auto pos = Decimal(*f.bitPosition);
    if (!pos || *pos > 7)
      return false;
    shift = static_cast<int>(*pos);
  }
  const uint64_t mask =
      bitLength == 64 ? ~uint64_t{0} : (uint64_t{1} << bitLength) - 1;
  const LabelView text = *f.value;
  uint64_t value = 0;
  bool bigEndian = !f.coding.littleEndian;
  switch (f.coding.type) {
  case BaseType::Unsigned: {
    const auto n = Decimal(text);
    if (!n || (*n & ~mask) != 0)
      return false;
    value = *n;
    break;
  }
  case BaseType::Signed: {
    const bool negative = text.length > 0 && UnitAt(text, 0) == u'-';
    const auto magnitude =
        Decimal(negative ? Slice(text, 1, text.length - 1) : text);
    const uint64_t half = uint64_t{1} << (bitLength - 1);
    if (!magnitude || *magnitude > (negative ? half : half - 1))
      return false;
    value = (negative ? ~*magnitude + 1 : *magnitude) & mask;
    break;
  }
  case BaseType::Bytes: {
    // The bytes as written, first byte first, whatever the byte order.
    if (text.length == 0 || text.length % 2 != 0 ||
        text.length * 4 > static_cast<uint32_t>(bitLength))
      return false;
    for (uint32_t i = 0; i < text.length; ++i) {
      const int d = HexDigit(UnitAt(text, i));
      if (d < 0)
        return false;
      value = value << 4 | static_cast<uint64_t>(d);
    }
    bigEndian = true;
    break;
  }
  case BaseType::Other:
    return false;
  }
  const auto n = static_cast<std::size_t>((shift + bitLength + 7) / 8);
  if (message.size() < at + n)
    message.resize(at + n, 0);
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t significance = bigEndian ? n - 1 - j : j;
    message[at + j] |=
        ShiftedByte(value, static_cast<int>(8 * significance), shift);
  }
  return true;
}

} // namespace

namespace detail {

struct ServiceTables {
  struct Layer {
    NodeHandle node;
    uint8_t priority;
    uint32_t begin = 0, end = 0; // of its effective services
  };
  struct Owned { // an own service, or a DIAG-COMM-REF, of a layer
    uint32_t layer;
    NodeHandle node;
    bool isReference;
  };
  struct Parent { // a PARENT-REF
    uint32_t layer;
    NodeHandle node;
  };
  struct Excluded { // a DIAG-COMM-SNREF of a NOT-INHERITED-DIAG-COMMS
    uint32_t parent;
    NodeHandle node;
  };

  std::vector<Services::Message> messages; // pre-order
  std::vector<NodeHandle> requestRefs;     // per message; services only
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> byPrefix; // services with a prefix, by prefix
  std::vector<NodeHandle> layerNodes;
  std::vector<Layer> layers;
  std::vector<Owned> owned;       // by layer, then pre-order
  std::vector<Parent> parents;    // by layer, then pre-order
  std::vector<Excluded> excluded; // by parent, then pre-order

  bool effectiveBuilt = false;
  NodeHandle incomplete = kNoNode;     // the first layer left out
  std::vector<Services::Offer> byName; // each layer's range by name
  std::vector<Services::Offer> byNode; // the same ranges by element
  std::vector<Services::Conflict> conflicts;

  std::size_t MemoryBytes() const {
    return messages.capacity() * sizeof(messages[0]) +
           requestRefs.capacity() * sizeof(NodeHandle) + bytes.capacity() +
           byPrefix.capacity() * sizeof(uint32_t) +
           layerNodes.capacity() * sizeof(NodeHandle) +
           layers.capacity() * sizeof(Layer) +
           owned.capacity() * sizeof(Owned) +
           parents.capacity() * sizeof(Parent) +
           excluded.capacity() * sizeof(Excluded) +
           (byName.capacity() + byNode.capacity()) * sizeof(Services::Offer);
  }
};

// One walk over nodes in pre-order that notes, for each node, what it is
// to the rules through what its parent is: a stack holds the open
// ancestors that have a role, so no child index is needed.  A node's
// parent is the previous node or one of its ancestors, so the entries
// after the parent are the ones to close; a parent not on the stack has
// no role.  Most nodes have none and never enter the stack.
class ServiceWalk {
public:
  ServiceWalk(const OutlineStore &store, ServiceTables *tables)
      : store_(store), tables_(tables), notes_(store.LabelNotes()) {}

  // The whole outline, filling the tables.
  void All() {
    const uint32_t count = store_.GetCount();
    for (NodeHandle i = 0; i < count; ++i)
      Visit(i);
    CloseAll();
  }

  // One message's subtree only, for its prefix.
  void Subtree(NodeHandle top) {
    nextNote_ = static_cast<std::size_t>(
        std::lower_bound(notes_.begin(), notes_.end(), top,
                         [](const OutlineStore::LabelNote &n, NodeHandle h) {
                           return n.node < h;
                         }) -
        notes_.begin());
    for (NodeHandle i = top; i < store_.GetCount(); ++i) {
      const NodeHandle parent = store_.Parent(i);
      if (i > top && (parent == kNoNode || parent < top))
        break;
      Visit(i);
    }
    CloseAll();
  }

  std::vector<Services::Message> messages;
  std::vector<NodeHandle> requestRefs;
  std::vector<uint8_t> bytes;

private:
  enum class Role : uint8_t {
    None,
    Layer,
    DiagComms,
    ParentRefs,
    ParentRef,
    Excluding,
    ExcludingOne,
    Service,
    Message,
    Params,
    Param,
    CodedType,
  };
  struct Open {
    NodeHandle node;
    Role role;
    uint32_t slot; // what the role refers to (a layer, a message, ...)
  };

  // Closes the entries after `parent` (all for kNoNode).
  void CloseDownTo(NodeHandle parent) {
    while (!open_.empty() &&
           (parent == kNoNode || open_.back().node > parent)) {
      const Role role = open_.back().role;
      open_.pop_back();
      if (role == Role::Param)
        CloseParam();
      else if (role == Role::Message)
        CloseMessage();
    }
  }
  void CloseAll() { CloseDownTo(kNoNode); }

  void CloseParam() {
    const ParamFacts &f = params_.back();
    Accumulator &a = accumulators_[f.message];
    if (!a.ended && !AddParameter(f, a.bytes))
      a.ended = true;
    params_.pop_back();
  }

  void CloseMessage() {
    Accumulator &a = accumulators_[accumulatorsOpen_ - 1];
    Services::Message &m = messages[a.entry];
    m.from = static_cast<uint32_t>(bytes.size());
    m.length = static_cast<uint32_t>(a.bytes.size());
    bytes.insert(bytes.end(), a.bytes.begin(), a.bytes.end());
    --accumulatorsOpen_;
  }

  uint32_t OpenAccumulator(uint32_t entry) {
    // Kept for reuse: their buffers keep their room.
    if (accumulatorsOpen_ == accumulators_.size())
      accumulators_.emplace_back();
    Accumulator &a = accumulators_[accumulatorsOpen_];
    a.entry = entry;
    a.ended = false;
    a.bytes.clear();
    return static_cast<uint32_t>(accumulatorsOpen_++);
  }

  // The store's note for a node: nodes are met in rising order, so the
  // notes are followed along rather than searched.
  const OutlineStore::LabelNote *NoteOf(NodeHandle node) {
    while (nextNote_ < notes_.size() && notes_[nextNote_].node < node)
      ++nextNote_;
    return nextNote_ < notes_.size() && notes_[nextNote_].node == node
               ? &notes_[nextNote_]
               : nullptr;
  }

  // A node the rules look at: its label, its note, its parts once split.
  struct Here {
    NodeHandle node;
    Tag tag;
    LabelView label;
    const OutlineStore::LabelNote *note;
    NodeLabel Parts() const { return SplitLabel(label, note); }
    LabelView Value() const { return Trimmed(Parts().value); }
  };

  // What was read from a label, kept by where the label lies: the store
  // keeps one copy of a repeated short label ("BIT-LENGTH = 8", a PARAM
  // with its attributes), so most labels read here were read before.  The
  // note takes part in the key, as it changes how a label splits.
  template <typename T> class LabelMemo {
  public:
    template <typename Read> T Get(const Here &h, Read read) {
      const void *at = h.label.narrow
                           ? static_cast<const void *>(h.label.narrow)
                           : static_cast<const void *>(h.label.wide);
      const uint32_t note = h.note ? h.note->attributeStart : kNoNote;
      const auto hash = reinterpret_cast<uintptr_t>(at) * 0x9E3779B97F4A7C15u;
      Entry &e = entries_[static_cast<std::size_t>(hash >> 56)];
      if (e.at != at || e.length != h.label.length || e.note != note)
        e = Entry{at, h.label.length, note, read()};
      return e.value;
    }

  private:
    static constexpr uint32_t kNoNote = OutlineStore::kMember - 1;
    struct Entry {
      const void *at = nullptr;
      uint32_t length = 0, note = 0;
      T value{};
    };
    std::array<Entry, 256> entries_{};
  };

  void Visit(NodeHandle node) {
    const NodeHandle parent = store_.Parent(node);
    if (!open_.empty() && (parent == kNoNode || open_.back().node > parent))
      CloseDownTo(parent);
    const LabelView label = store_.GetText(node);
    const Tag tag = TagOf(label);
    // Most nodes are nothing to these rules: no further look at them.  A
    // tag that only counts below a certain parent counts nowhere else, and
    // below a node that counts only description text standing in for an
    // element (an unpaired DESC end tag made it) is no element.
    if (tag == Tag::Other)
      return;
    const Open up = !open_.empty() && open_.back().node == parent
                        ? open_.back()
                        : Open{parent, Role::None, 0};
    const Here h{node, tag, label, NoteOf(node)};
    if (!IsElementHere(h, up))
      return;
    if (const Open here = Classify(h, up); here.role != Role::None)
      open_.push_back(here);
  }

  bool IsElementHere(const Here &h, const Open &up) const {
    if (up.role == Role::None)
      return (IsLayerTag(h.tag) || MessageKindOf(h.tag) != Kind::None) &&
             IsElementNode(store_, h.node);
    return !h.note || h.note->attributeStart != OutlineStore::kRawText;
  }

  Open Classify(const Here &h, const Open &up) {
    const NodeHandle node = h.node;
    const Tag tag = h.tag;
    const uint32_t entry = static_cast<uint32_t>(messages.size());
    if (IsLayerTag(tag)) {
      if (!tables_)
        return {node, Role::None, 0};
      tables_->layerNodes.push_back(node);
      tables_->layers.push_back({node, PriorityOf(tag)});
      return {node, Role::Layer,
              static_cast<uint32_t>(tables_->layers.size() - 1)};
    }
    if (const Kind kind = MessageKindOf(tag); kind != Kind::None) {
      messages.push_back({node, kind, 0, 0});
      requestRefs.push_back(kNoNode);
      if (kind == Kind::DiagService) {
        if (up.role == Role::DiagComms && tables_)
          tables_->owned.push_back({up.slot, node, false});
        return {node, Role::Service, entry};
      }
      return {node, Role::Message, OpenAccumulator(entry)};
    }
    switch (up.role) {
    case Role::Layer:
      if (tag == Tag::DiagComms)
        return {node, Role::DiagComms, up.slot};
      if (tag == Tag::ParentRefs)
        return {node, Role::ParentRefs, up.slot};
      break;
    case Role::DiagComms:
      if (tag == Tag::SingleEcuJob || tag == Tag::DiagCommRef)
        tables_->owned.push_back({up.slot, node, tag == Tag::DiagCommRef});
      break;
    case Role::ParentRefs:
      if (tag == Tag::ParentRef) {
        tables_->parents.push_back({up.slot, node});
        return {node, Role::ParentRef,
                static_cast<uint32_t>(tables_->parents.size() - 1)};
      }
      break;
    case Role::ParentRef:
      if (tag == Tag::NotInheritedDiagComms)
        return {node, Role::Excluding, up.slot};
      break;
    case Role::Excluding:
      if (tag == Tag::NotInheritedDiagComm)
        return {node, Role::ExcludingOne, up.slot};
      break;
    case Role::ExcludingOne:
      if (tag == Tag::DiagCommSnref)
        tables_->excluded.push_back({up.slot, node});
      break;
    case Role::Service:
      if (tag == Tag::RequestRef && requestRefs[up.slot] == kNoNode)
        requestRefs[up.slot] = node;
      break;
    case Role::Message:
      if (tag == Tag::Params)
        return {node, Role::Params, up.slot};
      break;
    case Role::Params:
      if (tag == Tag::Param) {
        ParamFacts f;
        f.message = up.slot;
        // Parameters close in document order, so one after the end of the
        // prefix is known to add nothing already.
        if (!accumulators_[up.slot].ended)
          f.codedConst = codedConst_.Get(h, [&h] {
            return SameUnits(FindAttribute(h.Parts().attributes, u"xsi:type")
                                 .value_or(LabelView()),
                             u"CODED-CONST");
          });
        f.gathering = f.codedConst;
        params_.push_back(f);
        return {node, Role::Param, 0};
      }
      break;
    case Role::Param:
      return ParamChild(h);
    case Role::CodedType:
      if (tag == Tag::BitLength && params_.back().gathering &&
          !params_.back().bitLength)
        params_.back().bitLength = ValueOf(h);
      break;
    case Role::None:
      break;
    }
    return {node, Role::None, 0};
  }

  // The first of each counts.
  Open ParamChild(const Here &h) {
    ParamFacts &f = params_.back();
    auto first = [&](std::optional<LabelView> &field) {
      if (f.gathering && !field)
        field = ValueOf(h);
    };
    switch (h.tag) {
    case Tag::BytePosition:
      first(f.bytePosition);
      break;
    case Tag::BitPosition:
      first(f.bitPosition);
      break;
    case Tag::CodedValue:
      first(f.value);
      break;
    case Tag::DiagCodedType:
      if (f.codedType)
        break;
      f.codedType = true;
      if (f.gathering)
        f.coding = codedType_.Get(
            h, [&h] { return ReadCodedType(h.Parts().attributes); });
      return {h.node, Role::CodedType, 0};
    default:
      break;
    }
    return {h.node, Role::None, 0};
  }

  // The three attributes in one reading; of a name given twice the first
  // counts.
  static CodedType ReadCodedType(const LabelView &attributes) {
    std::optional<LabelView> type, base, order;
    auto take = [](std::optional<LabelView> &field, const LabelView &value) {
      if (!field)
        field = value;
    };
    ReadAttributes(attributes,
                   [&](const LabelView &name, const LabelView &value) {
                     if (SameUnits(name, u"xsi:type"))
                       take(type, value);
                     else if (SameUnits(name, u"BASE-DATA-TYPE"))
                       take(base, value);
                     else if (SameUnits(name, u"IS-HIGHLOW-BYTE-ORDER"))
                       take(order, value);
                     return !(type && base && order);
                   });
    CodedType c;
    c.standardLength =
        SameUnits(type.value_or(LabelView()), u"STANDARD-LENGTH-TYPE");
    const LabelView b = base.value_or(LabelView());
    for (const auto &t : kBaseTypes)
      if (SameUnits(b, t.name))
        c.type = t.type;
    c.littleEndian = SameUnits(order.value_or(LabelView()), u"false");
    return c;
  }

  LabelView ValueOf(const Here &h) {
    return values_.Get(h, [&h] { return h.Value(); });
  }

  const OutlineStore &store_;
  ServiceTables *tables_; // null: a message alone, no layers
  std::span<const OutlineStore::LabelNote> notes_;
  std::size_t nextNote_ = 0;
  std::vector<Open> open_;
  std::vector<ParamFacts> params_;
  LabelMemo<bool> codedConst_;
  LabelMemo<CodedType> codedType_;
  LabelMemo<LabelView> values_;
  std::vector<Accumulator> accumulators_;
  std::size_t accumulatorsOpen_ = 0;
};

} // namespace detail

namespace {

using detail::ServiceTables;

int CompareBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

std::span<const uint8_t> BytesOf(const ServiceTables &t,
                                 const Services::Message &m) {
  return std::span<const uint8_t>(t.bytes).subspan(m.from, m.length);
}

// Stable: entries of one layer keep their pre-order.
template <typename T, typename Key> void GroupBy(std::vector<T> &v, Key key) {
  std::stable_sort(v.begin(), v.end(),
                   [&](const T &a, const T &b) { return key(a) < key(b); });
}

// Each layer's effective services, worked out along every line of
// inheritance: a parent already on the line (a cycle) contributes nothing
// there, while a layer reached through two parents (a diamond) contributes
// through both.  What was worked out without a cycle cutting it short is
// the same on every line, so it is kept and reused.  Inside dense cycles
// the lines multiply; past a budget of work every result is kept, so each
// layer is worked out once more at most and nothing hangs.
class Inheritance {
public:
  Inheritance(const OutlineStore &store, const OdxIndex &index,
              const Services &services, ServiceTables &t)
      : store_(store), index_(index), services_(services), t_(t) {}

  void Run() {
    const std::size_t n = t_.layers.size();
    parentBegin_ = Starts(t_.parents, n, [](const auto &p) { return p.layer; });
    ParentFacts();
    OwnServices();
    memo_.assign(n, Range{});
    onLine_.assign(n, false);
    // Inheritance may multiply the services (a chain of layers each holding
    // all of a large parent's): past a few rows a node, the remaining
    // layers are left out and said to be.
    const std::size_t cap = 4 * std::size_t{store_.GetCount()} + (1u << 20);
    for (uint32_t root = 0; root < n; ++root) {
      if (t_.byName.size() + memoOffers_.size() > cap) {
        t_.incomplete = t_.layers[root].node;
        break;
      }
      const std::vector<Keyed> result = Evaluate(root);
      auto &l = t_.layers[root];
      l.begin = static_cast<uint32_t>(t_.byName.size());
      for (const Keyed &k : result)
        t_.byName.push_back(k.offer);
      l.end = static_cast<uint32_t>(t_.byName.size());
      t_.byNode.insert(t_.byNode.end(), t_.byName.begin() + l.begin,
                       t_.byName.end());
      std::sort(t_.byNode.begin() + l.begin, t_.byNode.end(),
                [](const Services::Offer &a, const Services::Offer &b) {
                  return a.service < b.service;
                });
    }
    std::stable_sort(
        t_.conflicts.begin(), t_.conflicts.end(),
        [](const Services::Conflict &a, const Services::Conflict &b) {
          return a.layer != b.layer ? a.layer < b.layer : a.reason < b.reason;
        });
  }

private:
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr std::size_t kBudget = std::size_t{1} << 22;

  // An offer with its name's hash, so sorting and merging by name seldom
  // compare the names themselves.  Services are told apart by name; an
  // unnamed one (empty name) stands for itself.
  struct Keyed {
    Services::Offer offer;
    uint32_t hash;
    uint32_t name; // into names_
  };
  struct Range {
    uint32_t begin = kNone, end = kNone; // kNone: not kept
  };
  struct Candidate {
    Keyed keyed;
    uint8_t priority;
  };
  struct Line { // a layer being worked out, with the line above it
    uint32_t layer;
    uint32_t nextParent;
    uint32_t waitingFor = kNone; // the PARENT-REF being worked out
    bool cut = false;
    std::vector<Candidate> offered; // in PARENT-REF order
  };

  // Where each group starts in a vector grouped by `key`.
  template <typename T, typename Key>
  static std::vector<uint32_t> Starts(const std::vector<T> &v, std::size_t n,
                                      Key key) {
    std::vector<uint32_t> starts(n + 1, 0);
    for (const T &x : v)
      ++starts[key(x) + 1];
    for (std::size_t i = 0; i < n; ++i)
      starts[i + 1] += starts[i];
    return starts;
  }

  static uint32_t Hash(const LabelView &v) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < v.length; ++i)
      h = (h ^ UnitAt(v, i)) * 16777619u;
    return h;
  }

  Keyed KeyOf(NodeHandle service) {
    const LabelView name = index_.Name(service);
    names_.push_back(name);
    return {{service, services_.LayerOf(service)},
            Hash(name),
            static_cast<uint32_t>(names_.size() - 1)};
  }
  const LabelView &NameOf(const Keyed &k) const { return names_[k.name]; }

  int CompareKeys(const Keyed &a, const Keyed &b) const {
    if (a.hash != b.hash)
      return a.hash < b.hash ? -1 : 1;
    if (const int c = CompareUnits(NameOf(a), NameOf(b)))
      return c;
    if (NameOf(a).length > 0 || a.offer.service == b.offer.service)
      return 0;
    return a.offer.service < b.offer.service ? -1 : 1;
  }
  bool KeyLess(const Keyed &a, const Keyed &b) const {
    return CompareKeys(a, b) < 0;
  }

  // Where each PARENT-REF leads (a layer, else kNone) and the names its
  // NOT-INHERITED-DIAG-COMMS hold.
  void ParentFacts() {
    parentTarget_.assign(t_.parents.size(), kNone);
    for (std::size_t p = 0; p < t_.parents.size(); ++p) {
      const OdxIndex::Reference *r = index_.FindReference(t_.parents[p].node);
      if (!r || r->target == kNoNode)
        continue;
      const auto it = std::lower_bound(t_.layerNodes.begin(),
                                       t_.layerNodes.end(), r->target);
      if (it != t_.layerNodes.end() && *it == r->target)
        parentTarget_[p] = static_cast<uint32_t>(it - t_.layerNodes.begin());
    }
    excludedBegin_.assign(t_.parents.size() + 1, 0);
    for (std::size_t p = 0, e = 0; p < t_.parents.size(); ++p) {
      for (; e < t_.excluded.size() && t_.excluded[e].parent == p; ++e)
        if (const auto name = FindAttribute(
                ReadNodeLabel(store_, t_.excluded[e].node).attributes,
                u"SHORT-NAME"))
          excludedNames_.push_back(*name);
      excludedBegin_[p + 1] = static_cast<uint32_t>(excludedNames_.size());
    }
  }

  // Every layer's own services by key; of two of one name the first
  // counts.
  void OwnServices() {
    const std::size_t n = t_.layers.size();
    ownBegin_.assign(n + 1, 0);
    for (uint32_t layer = 0, i = 0; layer < n; ++layer) {
      const std::size_t begin = own_.size();
      for (; i < t_.owned.size() && t_.owned[i].layer == layer; ++i) {
        NodeHandle service = t_.owned[i].node;
        if (t_.owned[i].isReference) {
          const OdxIndex::Reference *r = index_.FindReference(service);
          service = r ? r->target : kNoNode;
          if (service == kNoNode)
            continue;
        }
        own_.push_back(KeyOf(service));
      }
      const auto first = own_.begin() + static_cast<std::ptrdiff_t>(begin);
      std::stable_sort(
          first, own_.end(),
          [this](const Keyed &a, const Keyed &b) { return KeyLess(a, b); });
      own_.erase(std::unique(first, own_.end(),
                             [this](const Keyed &a, const Keyed &b) {
                               return CompareKeys(a, b) == 0;
                             }),
                 own_.end());
      ownBegin_[layer + 1] = static_cast<uint32_t>(own_.size());
    }
  }

  // What a parent passes on through one PARENT-REF.
  void Offer(Line &line, uint32_t parent, uint32_t from,
             std::span<const Keyed> services) {
    const auto excluded =
        std::span<const LabelView>(excludedNames_)
            .subspan(excludedBegin_[parent],
                     excludedBegin_[parent + 1] - excludedBegin_[parent]);
    for (const Keyed &k : services) {
      const LabelView &name = NameOf(k);
      if (name.length > 0 &&
          std::any_of(excluded.begin(), excluded.end(),
                      [&](const LabelView &x) { return SameUnits(x, name); }))
        continue;
      line.offered.push_back({k, t_.layers[from].priority});
    }
    work_ += services.size();
  }

  std::vector<Keyed> Evaluate(uint32_t top) {
    // An explicit stack: a chain of many thousand layers must not use up
    // the call stack.
    std::vector<Line> lines;
    auto start = [&](uint32_t layer) {
      onLine_[layer] = true;
      Line line;
      line.layer = layer;
      line.nextParent = parentBegin_[layer];
      lines.push_back(std::move(line));
    };
    start(top);
    for (;;) {
      Line &line = lines.back();
      if (line.nextParent < parentBegin_[line.layer + 1]) {
        const uint32_t parent = line.nextParent++;
        const uint32_t from = parentTarget_[parent];
        if (from == kNone)
          continue;
        if (onLine_[from]) {
          line.cut = true;
          continue;
        }
        if (memo_[from].begin != kNone) {
          Offer(line, parent, from,
                std::span<const Keyed>(memoOffers_)
                    .subspan(memo_[from].begin,
                             memo_[from].end - memo_[from].begin));
          continue;
        }
        line.waitingFor = parent;
        start(from);
        continue;
      }
      std::vector<Keyed> result = Settle(line, lines.size() == 1);
      const bool cut = line.cut;
      const uint32_t layer = line.layer;
      if (!cut || work_ > kBudget) {
        memo_[layer].begin = static_cast<uint32_t>(memoOffers_.size());
        memoOffers_.insert(memoOffers_.end(), result.begin(), result.end());
        memo_[layer].end = static_cast<uint32_t>(memoOffers_.size());
      }
      onLine_[layer] = false;
      lines.pop_back();
      if (lines.empty())
        return result;
      Line &below = lines.back();
      below.cut = below.cut || cut;
      Offer(below, below.waitingFor, layer, result);
    }
  }

  std::vector<Keyed> Settle(Line &line, bool top) {
    ++work_;
    std::vector<Candidate> &offered = line.offered;
    std::stable_sort(offered.begin(), offered.end(),
                     [this](const Candidate &a, const Candidate &b) {
                       return KeyLess(a.keyed, b.keyed);
                     });
    const auto own = std::span<const Keyed>(own_).subspan(
        ownBegin_[line.layer],
        ownBegin_[line.layer + 1] - ownBegin_[line.layer]);
    std::vector<Keyed> result;
    result.reserve(own.size() + offered.size());
    std::size_t o = 0;
    std::vector<NodeHandle> others;
    for (std::size_t i = 0; i < offered.size();) {
      const Keyed &key = offered[i].keyed;
      std::size_t j = i + 1;
      while (j < offered.size() && CompareKeys(offered[j].keyed, key) == 0)
        ++j;
      while (o < own.size() && KeyLess(own[o], key))
        result.push_back(own[o++]);
      if (o < own.size() && CompareKeys(own[o], key) == 0) {
        i = j; // the layer's own service overrides them all
        continue;
      }
      // The highest priority wins, the first PARENT-REF among equals.
      std::size_t win = i;
      for (std::size_t k = i + 1; k < j; ++k)
        if (offered[k].priority > offered[win].priority)
          win = k;
      const Services::Offer &winner = offered[win].keyed.offer;
      if (top) {
        others.clear();
        for (std::size_t k = i; k < j; ++k)
          if (offered[k].priority == offered[win].priority &&
              offered[k].keyed.offer.service != winner.service)
            others.push_back(offered[k].keyed.offer.service);
        std::sort(others.begin(), others.end());
        others.erase(std::unique(others.begin(), others.end()), others.end());
        for (const NodeHandle other : others)
          NoteConflict(line.layer, offered[win].keyed,
                       services_.LayerOf(other));
      }
      result.push_back(offered[win].keyed);
      i = j;
    }
    while (o < own.size())
      result.push_back(own[o++]);
    work_ += offered.size();
    return result;
  }

  void NoteConflict(uint32_t layer, const Keyed &winner, NodeHandle other) {
    auto layerName = [this](NodeHandle l) {
      return l == kNoNode ? QString() : index_.Name(l).toQString();
    };
    t_.conflicts.push_back(
        {t_.layers[layer].node,
         QStringLiteral("%1 is inherited from %2 and from %3")
             .arg(NameOf(winner).toQString(), layerName(winner.offer.from),
                  layerName(other))});
  }

  const OutlineStore &store_;
  const OdxIndex &index_;
  const Services &services_;
  ServiceTables &t_;
  std::vector<uint32_t> parentBegin_, parentTarget_, excludedBegin_, ownBegin_;
  std::vector<LabelView> excludedNames_;
  std::vector<LabelView> names_; // of the services met
  std::vector<Keyed> own_;       // each layer's by key
  std::vector<Range> memo_;      // per layer, into memoOffers_
  std::vector<Keyed> memoOffers_;
  std::vector<bool> onLine_;
  std::size_t work_ = 0;
};

} // namespace

Services::Services(const OutlineStore &store, const OdxIndex &index)
    : store_(store), index_(index) {}

Services::~Services() = default;

Services::Fingerprint Services::Current() const {
  return Fingerprint{store_.Generation(), store_.GetCount(),
                     store_.LabelNotes().size()};
}

ServiceTables &Services::Tables() const {
  if (tables_ && Current() == fingerprint_)
    return *tables_;
  tables_.reset();
  auto t = std::make_unique<ServiceTables>();
  detail::ServiceWalk walk(store_, t.get());
  walk.All();
  t->messages = std::move(walk.messages);
  t->requestRefs = std::move(walk.requestRefs);
  t->bytes = std::move(walk.bytes);
  // A service shares the bytes of the request its REQUEST-REF leads to.
  for (std::size_t i = 0; i < t->messages.size(); ++i) {
    Message &m = t->messages[i];
    if (m.kind != Kind::DiagService || t->requestRefs[i] == kNoNode)
      continue;
    const OdxIndex::Reference *r = index_.FindReference(t->requestRefs[i]);
    if (!r || r->target == kNoNode)
      continue;
    const auto it = std::lower_bound(
        t->messages.begin(), t->messages.end(), r->target,
        [](const Message &e, NodeHandle n) { return e.node < n; });
    if (it != t->messages.end() && it->node == r->target &&
        it->kind == Kind::Request) {
      m.from = it->from;
      m.length = it->length;
      if (m.length > 0)
        t->byPrefix.push_back(static_cast<uint32_t>(i));
    }
  }
  std::sort(t->byPrefix.begin(), t->byPrefix.end(),
            [&t](uint32_t a, uint32_t b) {
              const int c = CompareBytes(BytesOf(*t, t->messages[a]),
                                         BytesOf(*t, t->messages[b]));
              return c != 0 ? c < 0 : a < b;
            });
  GroupBy(t->owned, [](const ServiceTables::Owned &o) { return o.layer; });
  // Parents are renumbered by layer; their exclusions follow.
  std::vector<uint32_t> order(t->parents.size());
  for (uint32_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&t](uint32_t a, uint32_t b) {
    return t->parents[a].layer < t->parents[b].layer;
  });
  std::vector<uint32_t> renumbered(order.size());
  std::vector<ServiceTables::Parent> parents(order.size());
  for (uint32_t i = 0; i < order.size(); ++i) {
    renumbered[order[i]] = i;
    parents[i] = t->parents[order[i]];
  }
  t->parents.swap(parents);
  for (auto &e : t->excluded)
    e.parent = renumbered[e.parent];
  GroupBy(t->excluded,
          [](const ServiceTables::Excluded &e) { return e.parent; });
  fingerprint_ = Current();
  tables_ = std::move(t);
  return *tables_;
}

ServiceTables &Services::Inherited() const {
  ServiceTables &t = Tables();
  if (!t.effectiveBuilt) {
    Inheritance(store_, index_, *this, t).Run();
    t.effectiveBuilt = true;
  }
  return t;
}

Services::Kind Services::KindOf(NodeHandle node) const {
  if (node >= store_.GetCount())
    return Kind::None;
  const Kind kind = MessageKindOf(TagOf(store_.GetText(node)));
  return kind != Kind::None && IsElementNode(store_, node) ? kind : Kind::None;
}

bool Services::PrefixOf(NodeHandle node, std::vector<uint8_t> &out) const {
  out.clear();
  Kind kind = KindOf(node);
  if (kind == Kind::None)
    return false;
  if (tables_ && Current() == fingerprint_) {
    const auto &m = tables_->messages;
    const auto it = std::lower_bound(
        m.begin(), m.end(), node,
        [](const Message &e, NodeHandle n) { return e.node < n; });
    if (it != m.end() && it->node == node) {
      const auto bytes = Prefix(*it);
      out.assign(bytes.begin(), bytes.end());
    }
    return true;
  }
  NodeHandle message = node;
  if (kind == Kind::DiagService) {
    // The first REQUEST-REF child, then the request it leads to.
    message = kNoNode;
    for (NodeHandle c = node + 1;
         c < store_.GetCount() && store_.Parent(c) != kNoNode &&
         store_.Parent(c) >= node;
         ++c) {
      if (store_.Parent(c) == node &&
          TagOf(store_.GetText(c)) == Tag::RequestRef &&
          IsElementNode(store_, c)) {
        const OdxIndex::Reference *r = index_.FindReference(c);
        if (r && KindOf(r->target) == Kind::Request)
          message = r->target;
        break;
      }
    }
    if (message == kNoNode)
      return true;
  }
  detail::ServiceWalk walk(store_, nullptr);
  walk.Subtree(message);
  if (!walk.messages.empty()) {
    const Message &m = walk.messages.front();
    out.assign(walk.bytes.begin() + m.from,
               walk.bytes.begin() + m.from + m.length);
  }
  return true;
}

std::span<const Services::Message> Services::Messages() const {
  return Tables().messages;
}

std::span<const uint8_t> Services::Prefix(const Message &message) const {
  return BytesOf(Tables(), message);
}

std::vector<NodeHandle>
Services::FindByBytes(std::span<const uint8_t> bytes) const {
  std::vector<NodeHandle> found;
  if (bytes.empty())
    return found;
  const ServiceTables &t = Tables();
  auto it =
      std::lower_bound(t.byPrefix.begin(), t.byPrefix.end(), bytes,
                       [&t](uint32_t e, std::span<const uint8_t> q) {
                         return CompareBytes(BytesOf(t, t.messages[e]), q) < 0;
                       });
  for (; it != t.byPrefix.end(); ++it) {
    const auto prefix = BytesOf(t, t.messages[*it]);
    if (prefix.size() < bytes.size() ||
        !std::equal(bytes.begin(), bytes.end(), prefix.begin()))
      break;
    found.push_back(t.messages[*it].node);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::span<const NodeHandle> Services::Layers() const {
  return Tables().layerNodes;
}

NodeHandle Services::LayerOf(NodeHandle node) const {
  return index_.LayerOf(node);
}

std::span<const Services::Offer> Services::Effective(NodeHandle layer) const {
  const ServiceTables &t = Inherited();
  const auto it =
      std::lower_bound(t.layerNodes.begin(), t.layerNodes.end(), layer);
  if (it == t.layerNodes.end() || *it != layer)
    return {};
  const auto &l = t.layers[static_cast<std::size_t>(it - t.layerNodes.begin())];
  return std::span<const Offer>(t.byNode).subspan(l.begin, l.end - l.begin);
}

NodeHandle Services::Incomplete() const { return Inherited().incomplete; }

std::span<const Services::Conflict> Services::Conflicts() const {
  return Inherited().conflicts;
}

std::size_t Services::MemoryBytes() const {
  return sizeof(*this) + (tables_ ? tables_->MemoryBytes() : 0);
}

std::string PrefixText(std::span<const uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const uint8_t b : bytes) {
    if (!text.empty())
      text.push_back(' ');
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0xF]);
  }
  return text;
}

std::optional<std::vector<uint8_t>> ParseSearchBytes(std::u16string_view text) {
  auto space = [](char16_t u) { return u == u' '; };
  while (!text.empty() && space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && space(text.back()))
    text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == u'0' &&
      (text[1] == u'x' || text[1] == u'X'))
    text.remove_prefix(2);
  std::vector<uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (space(text[i]) && !bytes.empty()) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size())
      return std::nullopt;
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0)
      return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    i += 2;
  }
  if (bytes.empty())
    return std::nullopt;
  return bytes;
}

} // namespace odx
