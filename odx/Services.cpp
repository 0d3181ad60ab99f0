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
  std::u16string_view name;
  Tag tag;
} kTags[] = {
    {u"PROTOCOL", Tag::Protocol},
    {u"FUNCTIONAL-GROUP", Tag::FunctionalGroup},
    {u"ECU-SHARED-DATA", Tag::EcuSharedData},
    {u"BASE-VARIANT", Tag::BaseVariant},
    {u"ECU-VARIANT", Tag::EcuVariant},
    {u"REQUEST", Tag::Request},
    {u"POS-RESPONSE", Tag::PosResponse},
    {u"NEG-RESPONSE", Tag::NegResponse},
    {u"GLOBAL-NEG-RESPONSE", Tag::GlobalNegResponse},
    {u"DIAG-SERVICE", Tag::DiagService},
    {u"SINGLE-ECU-JOB", Tag::SingleEcuJob},
    {u"DIAG-COMM-REF", Tag::DiagCommRef},
    {u"DIAG-COMMS", Tag::DiagComms},
    {u"PARENT-REFS", Tag::ParentRefs},
    {u"PARENT-REF", Tag::ParentRef},
    {u"NOT-INHERITED-DIAG-COMMS", Tag::NotInheritedDiagComms},
    {u"NOT-INHERITED-DIAG-COMM", Tag::NotInheritedDiagComm},
    {u"DIAG-COMM-SNREF", Tag::DiagCommSnref},
    {u"REQUEST-REF", Tag::RequestRef},
    {u"PARAMS", Tag::Params},
    {u"PARAM", Tag::Param},
    {u"DIAG-CODED-TYPE", Tag::DiagCodedType},
    {u"BYTE-POSITION", Tag::BytePosition},
    {u"BIT-POSITION", Tag::BitPosition},
    {u"CODED-VALUE", Tag::CodedValue},
    {u"BIT-LENGTH", Tag::BitLength},
};
constexpr std::size_t kLongestTag = 24; // NOT-INHERITED-DIAG-COMMS

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

// The tag of a label's first word; only the first few units are looked at,
// so a description of megabytes costs no more than a short label.
Tag TagOf(const LabelView &label) {
  std::array<char16_t, kLongestTag> word;
  uint32_t n = 0;
  for (; n < label.length; ++n) {
    const char16_t u = UnitAt(label, n);
    if (u == u' ')
      break;
    if (n == kLongestTag)
      return Tag::Other;
    word[n] = u;
  }
  const std::u16string_view name(word.data(), n);
  for (const auto &t : kTags)
    if (t.name == name)
      return t.tag;
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

LabelView ValueOf(const OutlineStore &store, NodeHandle leaf) {
  return Trimmed(ReadNodeLabel(store, leaf).value);
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

// What one PARAM holds, gathered from its children as the walk meets them.
struct ParamFacts {
  uint32_t message; // the accumulator of its message
  bool codedConst = false;
  bool standardLength = false;
  bool littleEndian = false;
  BaseType type = BaseType::Other;
  NodeHandle value = kNoNode, bytePosition = kNoNode, bitPosition = kNoNode;
  NodeHandle codedType = kNoNode, bitLength = kNoNode;
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
bool AddParameter(const OutlineStore &store, const ParamFacts &f,
                  std::vector<uint8_t> &message) {
  if (!f.codedConst || !f.standardLength || f.type == BaseType::Other ||
      f.value == kNoNode || f.bitLength == kNoNode)
    return false;
  const std::optional<uint64_t> bits = Decimal(ValueOf(store, f.bitLength));
  if (!bits || *bits < 1 || *bits > 64)
    return false;
  const auto bitLength = static_cast<int>(*bits);
  const std::size_t cursor = message.size();
  std::size_t at = cursor;
  if (f.bytePosition != kNoNode) {
    const auto pos = Decimal(ValueOf(store, f.bytePosition));
    if (!pos || *pos > cursor)
      return false;
    at = static_cast<std::size_t>(*pos);
  }
  int shift = 0;
  if (f.bitPosition != kNoNode) {
    const auto pos = Decimal(ValueOf(store, f.bitPosition));
    if (!pos || *pos > 7)
      return false;
    shift = static_cast<int>(*pos);
  }
  const uint64_t mask =
      bitLength == 64 ? ~uint64_t{0} : (uint64_t{1} << bitLength) - 1;
  const LabelView text = ValueOf(store, f.value);
  uint64_t value = 0;
  bool bigEndian = !f.littleEndian;
  switch (f.type) {
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
// ancestors with their roles, so no child index is needed.
class ServiceWalk {
public:
  ServiceWalk(const OutlineStore &store, ServiceTables *tables)
      : store_(store), tables_(tables) {}

  // The whole outline, filling the tables.
  void All() {
    for (NodeHandle i = 0; i < store_.GetCount(); ++i)
      Visit(i);
    CloseDownTo(kNoNode);
  }

  // One message's subtree only, for its prefix.
  void Subtree(NodeHandle top) {
    for (NodeHandle i = top; i < store_.GetCount(); ++i) {
      const NodeHandle parent = store_.Parent(i);
      if (i > top && (parent == kNoNode || parent < top))
        break;
      Visit(i);
    }
    CloseDownTo(kNoNode);
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

  void CloseDownTo(NodeHandle parent) {
    while (!open_.empty() && open_.back().node != parent) {
      const Open o = open_.back();
      open_.pop_back();
      if (o.role == Role::Param)
        CloseParam();
      else if (o.role == Role::Message)
        CloseMessage();
    }
  }

  void CloseParam() {
    const ParamFacts f = params_.back();
    params_.pop_back();
    Accumulator &a = accumulators_[f.message];
    if (!a.ended && !AddParameter(store_, f, a.bytes))
      a.ended = true;
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

  LabelView Attribute(NodeHandle node, std::u16string_view name) const {
    return FindAttribute(ReadNodeLabel(store_, node).attributes, name)
        .value_or(LabelView());
  }

  void Visit(NodeHandle node) {
    const NodeHandle parent = store_.Parent(node);
    CloseDownTo(parent);
    const Open up = open_.empty() ? Open{kNoNode, Role::None, 0} : open_.back();
    const Tag tag = TagOf(store_.GetText(node));
    Open here{node, Role::None, 0};
    // Most nodes are nothing to these rules: no further look at them.
    if (tag != Tag::Other && IsElementNode(store_, node))
      here = Classify(node, tag, up);
    open_.push_back(here);
  }

  Open Classify(NodeHandle node, Tag tag, const Open &up) {
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
        f.codedConst = SameUnits(Attribute(node, u"xsi:type"), u"CODED-CONST");
        params_.push_back(f);
        return {node, Role::Param, 0};
      }
      break;
    case Role::Param:
      return ParamChild(node, tag);
    case Role::CodedType:
      if (tag == Tag::BitLength && params_.back().bitLength == kNoNode)
        params_.back().bitLength = node;
      break;
    case Role::None:
      break;
    }
    return {node, Role::None, 0};
  }

  // The first of each counts.
  Open ParamChild(NodeHandle node, Tag tag) {
    ParamFacts &f = params_.back();
    auto first = [node](NodeHandle &field) {
      if (field == kNoNode)
        field = node;
    };
    switch (tag) {
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
      if (f.codedType != kNoNode)
        break;
      f.codedType = node;
      {
        const LabelView attributes = ReadNodeLabel(store_, node).attributes;
        f.standardLength = SameUnits(
            FindAttribute(attributes, u"xsi:type").value_or(LabelView()),
            u"STANDARD-LENGTH-TYPE");
        const LabelView base =
            FindAttribute(attributes, u"BASE-DATA-TYPE").value_or(LabelView());
        for (const auto &b : kBaseTypes)
          if (SameUnits(base, b.name))
            f.type = b.type;
        f.littleEndian =
            SameUnits(FindAttribute(attributes, u"IS-HIGHLOW-BYTE-ORDER")
                          .value_or(LabelView()),
                      u"false");
      }
      return {node, Role::CodedType, 0};
    default:
      break;
    }
    return {node, Role::None, 0};
  }

  const OutlineStore &store_;
  ServiceTables *tables_; // null: a message alone, no layers
  std::vector<Open> open_;
  std::vector<ParamFacts> params_;
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
    excludedBegin_ = Starts(t_.excluded, t_.parents.size(),
                            [](const auto &e) { return e.parent; });
    OwnServices();
    memo_.assign(n, Range{});
    onLine_.assign(n, false);
    for (uint32_t root = 0; root < n; ++root) {
      const std::vector<Services::Offer> result = Evaluate(root);
      auto &l = t_.layers[root];
      l.begin = static_cast<uint32_t>(t_.byName.size());
      t_.byName.insert(t_.byName.end(), result.begin(), result.end());
      l.end = static_cast<uint32_t>(t_.byName.size());
      t_.byNode.insert(t_.byNode.end(), result.begin(), result.end());
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
  static constexpr std::size_t kBudget = std::size_t{1} << 24;

  struct Range {
    uint32_t begin = kNone, end = kNone; // kNone: not kept
  };
  struct Candidate {
    Services::Offer offer;
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

  // The layer a PARENT-REF leads to; kNone when it leads to no layer.
  uint32_t Target(uint32_t parent) const {
    const OdxIndex::Reference *r =
        index_.FindReference(t_.parents[parent].node);
    if (!r || r->target == kNoNode)
      return kNone;
    const auto it =
        std::lower_bound(t_.layerNodes.begin(), t_.layerNodes.end(), r->target);
    if (it == t_.layerNodes.end() || *it != r->target)
      return kNone;
    return static_cast<uint32_t>(it - t_.layerNodes.begin());
  }

  LabelView NameOf(NodeHandle service) const { return index_.Name(service); }

  // Services are told apart by name; each unnamed one stands for itself.
  int CompareKeys(const Services::Offer &a, const Services::Offer &b) const {
    if (const int c = CompareUnits(NameOf(a.service), NameOf(b.service)))
      return c;
    if (NameOf(a.service).length > 0 || a.service == b.service)
      return 0;
    return a.service < b.service ? -1 : 1;
  }
  bool KeyLess(const Services::Offer &a, const Services::Offer &b) const {
    return CompareKeys(a, b) < 0;
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
        own_.push_back({service, services_.LayerOf(service)});
      }
      const auto first = own_.begin() + static_cast<std::ptrdiff_t>(begin);
      std::stable_sort(first, own_.end(), [this](const auto &a, const auto &b) {
        return KeyLess(a, b);
      });
      own_.erase(std::unique(first, own_.end(),
                             [this](const auto &a, const auto &b) {
                               return CompareKeys(a, b) == 0;
                             }),
                 own_.end());
      ownBegin_[layer + 1] = static_cast<uint32_t>(own_.size());
    }
  }

  // What a parent passes on through one PARENT-REF.
  void Offer(Line &line, uint32_t parent, uint32_t from,
             std::span<const Services::Offer> services) {
    std::vector<LabelView> excluded;
    for (uint32_t e = excludedBegin_[parent]; e < excludedBegin_[parent + 1];
         ++e)
      if (const auto name = FindAttribute(
              ReadNodeLabel(store_, t_.excluded[e].node).attributes,
              u"SHORT-NAME"))
        excluded.push_back(*name);
    for (const Services::Offer &offer : services) {
      const LabelView name = NameOf(offer.service);
      if (name.length > 0 &&
          std::any_of(excluded.begin(), excluded.end(),
                      [&](const LabelView &x) { return SameUnits(x, name); }))
        continue;
      line.offered.push_back({offer, t_.layers[from].priority});
    }
    work_ += services.size();
  }

  std::vector<Services::Offer> Evaluate(uint32_t top) {
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
        const uint32_t from = Target(parent);
        if (from == kNone)
          continue;
        if (onLine_[from]) {
          line.cut = true;
          continue;
        }
        if (memo_[from].begin != kNone) {
          Offer(line, parent, from,
                std::span<const Services::Offer>(memoOffers_)
                    .subspan(memo_[from].begin,
                             memo_[from].end - memo_[from].begin));
          continue;
        }
        line.waitingFor = parent;
        start(from);
        continue;
      }
      std::vector<Services::Offer> result = Settle(line, lines.size() == 1);
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

  std::vector<Services::Offer> Settle(Line &line, bool top) {
    ++work_;
    std::vector<Candidate> &offered = line.offered;
    std::stable_sort(offered.begin(), offered.end(),
                     [this](const Candidate &a, const Candidate &b) {
                       return KeyLess(a.offer, b.offer);
                     });
    const auto own = std::span<const Services::Offer>(own_).subspan(
        ownBegin_[line.layer],
        ownBegin_[line.layer + 1] - ownBegin_[line.layer]);
    std::vector<Services::Offer> result;
    result.reserve(own.size() + offered.size());
    std::size_t o = 0;
    std::vector<NodeHandle> others;
    for (std::size_t i = 0; i < offered.size();) {
      std::size_t j = i + 1;
      while (j < offered.size() &&
             CompareKeys(offered[j].offer, offered[i].offer) == 0)
        ++j;
      while (o < own.size() && KeyLess(own[o], offered[i].offer))
        result.push_back(own[o++]);
      if (o < own.size() && CompareKeys(own[o], offered[i].offer) == 0) {
        i = j; // the layer's own service overrides them all
        continue;
      }
      // The highest priority wins, the first PARENT-REF among equals.
      std::size_t win = i;
      for (std::size_t k = i + 1; k < j; ++k)
        if (offered[k].priority > offered[win].priority)
          win = k;
      if (top) {
        others.clear();
        for (std::size_t k = i; k < j; ++k)
          if (offered[k].priority == offered[win].priority &&
              offered[k].offer.service != offered[win].offer.service)
            others.push_back(offered[k].offer.service);
        std::sort(others.begin(), others.end());
        others.erase(std::unique(others.begin(), others.end()), others.end());
        for (const NodeHandle other : others)
          NoteConflict(line.layer, offered[win].offer,
                       {other, services_.LayerOf(other)});
      }
      result.push_back(offered[win].offer);
      i = j;
    }
    while (o < own.size())
      result.push_back(own[o++]);
    work_ += offered.size();
    return result;
  }

  void NoteConflict(uint32_t layer, const Services::Offer &winner,
                    const Services::Offer &other) {
    auto layerName = [this](NodeHandle l) {
      return l == kNoNode ? QString() : index_.Name(l).toQString();
    };
    t_.conflicts.push_back(
        {t_.layers[layer].node,
         QStringLiteral("%1 is inherited from %2 and from %3")
             .arg(NameOf(winner.service).toQString(), layerName(winner.from),
                  layerName(other.from))});
  }

  const OutlineStore &store_;
  const OdxIndex &index_;
  const Services &services_;
  ServiceTables &t_;
  std::vector<uint32_t> parentBegin_, excludedBegin_, ownBegin_;
  std::vector<Services::Offer> own_; // each layer's by key
  std::vector<Range> memo_;          // per layer, into memoOffers_
  std::vector<Services::Offer> memoOffers_;
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
