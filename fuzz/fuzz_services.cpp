// The services rules on documents that look like ODX: the input is the body
// of a diagnostic layer container (the dictionary offers layers, parent
// references, exclusions, services, messages and coded parameters with
// values that fit or do not), so the fuzzer spends its time in the rules.
//
// The prefix of every message is worked out a second time by a plain
// restatement (children through the store's child index, values as
// arbitrary-length bit strings, the encoding bit by bit); the effective
// services and conflicts are held to what they must be whatever the
// order; the first bytes of the input are also read as a byte search.

#include "fuzz/FuzzSupport.h"
#include "fuzz/OdxCheck.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"
#include "odx/Services.h"
#include "outline/OutlineBuilder.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;
using outline::OutlineStore;

std::u16string Text(const LabelView &v) { return v.toU16String(); }

bool Is(const OutlineStore &store, NodeHandle n, std::u16string_view tag) {
  return odx::IsElement(store, n) &&
         odx::SameUnits(odx::ReadNodeLabel(store, n).element, tag);
}

std::vector<NodeHandle> Children(const OutlineStore &store, NodeHandle n,
                                 std::u16string_view tag) {
  std::vector<NodeHandle> out;
  for (uint32_t r = 0; r < store.ChildCount(n); ++r)
    if (Is(store, store.Child(n, r), tag))
      out.push_back(store.Child(n, r));
  return out;
}

// The first child's value, white space around it dropped.
std::optional<std::u16string> Field(const OutlineStore &store, NodeHandle n,
                                    std::u16string_view tag) {
  const auto c = Children(store, n, tag);
  if (c.empty())
    return std::nullopt;
  std::u16string v = Text(odx::ReadNodeLabel(store, c[0]).value);
  const auto space = std::u16string_view(u" \t\r\n");
  v.erase(0, std::min(v.size(), v.find_first_not_of(space)));
  v.erase(v.find_last_not_of(space) + 1);
  return v;
}

std::u16string Attribute(const OutlineStore &store, NodeHandle n,
                         std::u16string_view name) {
  const auto v =
      odx::FindAttribute(odx::ReadNodeLabel(store, n).attributes, name);
  return v ? Text(*v) : std::u16string(u"\uFFFF"); // absent: matches nothing
}

// A number as its bits, least significant first, without leading zeros.
using Bits = std::vector<bool>;

std::optional<Bits> DecimalBits(const std::u16string &s) {
  if (s.empty())
    return std::nullopt;
  Bits bits;
  for (const char16_t u : s) {
    if (u < u'0' || u > u'9')
      return std::nullopt;
    // bits = bits * 10 + digit, on bit strings.
    int carry = u - u'0';
    Bits times10(bits.size() + 4, false);
    for (std::size_t i = 0; i < bits.size(); ++i)
      if (bits[i]) {
        for (const std::size_t k : {i + 1, i + 3}) { // 2x + 8x
          for (std::size_t j = k; j < times10.size(); ++j) {
            times10[j] = !times10[j];
            if (times10[j])
              break;
          }
        }
      }
    for (std::size_t j = 0; carry && j < times10.size(); ++j) {
      const int sum = times10[j] + (carry & 1);
      times10[j] = sum & 1;
      carry = (carry >> 1) + (sum >> 1);
    }
    while (!times10.empty() && !times10.back())
      times10.pop_back();
    bits = times10;
  }
  return bits;
}

// The bytes one parameter writes and where, or nothing when it ends the
// prefix.
struct Written {
  std::optional<std::size_t> at;
  std::vector<uint8_t> bytes;
};

std::optional<Written> Parameter(const OutlineStore &store, NodeHandle p) {
  if (Attribute(store, p, u"xsi:type") != u"CODED-CONST")
    return std::nullopt;
  const auto value = Field(store, p, u"CODED-VALUE");
  const auto types = Children(store, p, u"DIAG-CODED-TYPE");
  if (!value || types.empty() ||
      Attribute(store, types[0], u"xsi:type") != u"STANDARD-LENGTH-TYPE")
    return std::nullopt;
  const auto lengthText = Field(store, types[0], u"BIT-LENGTH");
  const auto lengthBits = lengthText ? DecimalBits(*lengthText) : std::nullopt;
  if (!lengthBits || lengthBits->size() > 7)
    return std::nullopt;
  std::size_t length = 0;
  for (std::size_t i = 0; i < lengthBits->size(); ++i)
    length |= std::size_t{(*lengthBits)[i]} << i;
  if (length < 1 || length > 64)
    return std::nullopt;
  const std::u16string base = Attribute(store, types[0], u"BASE-DATA-TYPE");
  Bits v;
  if (base == u"A_UINT32") {
    const auto n = DecimalBits(*value);
    if (!n || n->size() > length)
      return std::nullopt;
    v = *n;
  } else if (base == u"A_INT32") {
    const bool negative = !value->empty() && (*value)[0] == u'-';
    const auto n = DecimalBits(negative ? value->substr(1) : *value);
    if (!n)
      return std::nullopt;
    // |v| < 2^(length-1), or exactly 2^(length-1) when negative.
    const bool power =
        n->size() == length && std::count(n->begin(), n->end(), true) == 1;
    if (n->size() > length || (n->size() == length && !(negative && power)))
      return std::nullopt;
    v = *n;
    v.resize(length, false);
    if (negative) { // two's complement: invert, add one
      v.flip();
      for (std::size_t i = 0; i < length; ++i) {
        v[i] = !v[i];
        if (v[i])
          break;
      }
    }
  } else if (base == u"A_BYTEFIELD") {
    if (value->empty() || value->size() % 2 || value->size() * 4 > length)
      return std::nullopt;
    for (auto it = value->rbegin(); it != value->rend(); ++it) {
      const char16_t u = *it;
      const bool digit = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') ||
                         (u >= u'A' && u <= u'F');
      if (!digit)
        return std::nullopt;
      const int d = u <= u'9' ? u - u'0' : (u | 0x20) - u'a' + 10;
      for (int b = 0; b < 4; ++b)
        v.push_back((d >> b) & 1);
    }
  } else {
    return std::nullopt;
  }
  std::size_t shift = 0;
  if (const auto bit = Field(store, p, u"BIT-POSITION")) {
    const auto b = DecimalBits(*bit);
    if (!b || b->size() > 3) // 0..7
      return std::nullopt;
    for (std::size_t i = 0; i < b->size(); ++i)
      shift |= std::size_t{(*b)[i]} << i;
  }
  Written w;
  if (const auto at = Field(store, p, u"BYTE-POSITION")) {
    const auto b = DecimalBits(*at);
    if (!b)
      return std::nullopt;
    if (b->size() > 40)
      w.at = SIZE_MAX;
    else {
      std::size_t n = 0;
      for (std::size_t i = 0; i < b->size(); ++i)
        n |= std::size_t{(*b)[i]} << i;
      w.at = n;
    }
  }
  const std::size_t n = (shift + length + 7) / 8;
  const bool little =
      base != u"A_BYTEFIELD" &&
      Attribute(store, types[0], u"IS-HIGHLOW-BYTE-ORDER") == u"false";
  w.bytes.assign(n, 0);
  for (std::size_t k = 0; k < v.size(); ++k) {
    if (!v[k])
      continue;
    const std::size_t bit = shift + k;
    const std::size_t byte = little ? bit / 8 : n - 1 - bit / 8;
    w.bytes[byte] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  return w;
}

std::vector<uint8_t> PlainPrefix(const OutlineStore &store, NodeHandle m) {
  std::vector<uint8_t> out;
  for (const NodeHandle params : Children(store, m, u"PARAMS"))
    for (const NodeHandle p : Children(store, params, u"PARAM")) {
      const auto w = Parameter(store, p);
      const std::size_t at = w && w->at ? *w->at : out.size();
      if (!w || at > out.size())
        return out;
      if (out.size() < at + w->bytes.size())
        out.resize(at + w->bytes.size(), 0);
      for (std::size_t k = 0; k < w->bytes.size(); ++k)
        out[at + k] |= w->bytes[k];
    }
  return out;
}

// Hex pairs, spaces between and around them, a leading 0x.
std::optional<std::vector<uint8_t>> PlainBytes(std::u16string s) {
  while (!s.empty() && s.front() == u' ')
    s.erase(0, 1);
  if (s.size() >= 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X'))
    s.erase(0, 2);
  if (!s.empty() && s.front() == u' ')
    return std::nullopt;
  std::u16string digits;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u' ') {
      if (digits.size() % 2)
        return std::nullopt; // a space inside a pair
      continue;
    }
    digits += s[i];
  }
  if (digits.empty() || digits.size() % 2)
    return std::nullopt;
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    int pair = 0;
    for (const char16_t u : {digits[i], digits[i + 1]}) {
      const int d = u >= u'0' && u <= u'9'   ? u - u'0'
                    : u >= u'a' && u <= u'f' ? u - u'a' + 10
                    : u >= u'A' && u <= u'F' ? u - u'A' + 10
                                             : -1;
      if (d < 0)
        return std::nullopt;
      pair = pair * 16 + d;
    }
    out.push_back(static_cast<uint8_t>(pair));
  }
  return out;
}

void Check(const OutlineStore &store, const uint8_t *data, size_t size) {
  const odx::OdxIndex index(store, 1);
  const odx::Services services(store, index);
  using Kind = odx::Services::Kind;

  // Every message alone, from the tables, and restated.
  std::vector<uint8_t> alone;
  for (const odx::Services::Message &m : services.Messages()) {
    FUZZ_CHECK(services.KindOf(m.node) == m.kind && m.kind != Kind::None);
    const auto table = services.Prefix(m);
    FUZZ_CHECK(services.PrefixOf(m.node, alone));
    if (m.kind != Kind::DiagService) {
      const auto plain = PlainPrefix(store, m.node);
      FUZZ_CHECK(
          std::equal(table.begin(), table.end(), plain.begin(), plain.end()));
      continue;
    }
    if (table.empty())
      continue;
    const auto found = services.FindByBytes(table);
    FUZZ_CHECK(std::binary_search(found.begin(), found.end(), m.node));
    for (const NodeHandle s : services.FindByBytes(table.first(1)))
      FUZZ_CHECK(services.KindOf(s) == Kind::DiagService);
  }
  const odx::OdxIndex fresh(store, 1);
  const odx::Services untouched(store, fresh);
  for (const odx::Services::Message &m : services.Messages()) {
    FUZZ_CHECK(untouched.PrefixOf(m.node, alone)); // before any table
    const auto table = services.Prefix(m);
    FUZZ_CHECK(
        std::equal(table.begin(), table.end(), alone.begin(), alone.end()));
  }

  // A layer's services: one of each name, in pre-order, each from where it
  // is defined, its own names its own.
  for (const NodeHandle layer : services.Layers()) {
    const auto offers = services.Effective(layer);
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < offers.size(); ++i) {
      FUZZ_CHECK(i == 0 || offers[i - 1].service < offers[i].service);
      FUZZ_CHECK(offers[i].from == index.LayerOf(offers[i].service));
      const LabelView name = index.Name(offers[i].service);
      if (name.length > 0)
        names.push_back(Text(name));
    }
    std::sort(names.begin(), names.end());
    FUZZ_CHECK(std::adjacent_find(names.begin(), names.end()) == names.end());
    for (const NodeHandle comms : Children(store, layer, u"DIAG-COMMS"))
      for (const NodeHandle s : Children(store, comms, u"DIAG-SERVICE")) {
        const LabelView name = index.Name(s);
        const bool listed =
            std::any_of(offers.begin(), offers.end(), [&](const auto &o) {
              return index.LayerOf(o.service) == layer &&
                     odx::SameUnits(index.Name(o.service), name);
            });
        FUZZ_CHECK(name.length == 0 || listed);
      }
  }
  const auto layers = services.Layers();
  for (const odx::Services::Conflict &c : services.Conflicts())
    FUZZ_CHECK(std::binary_search(layers.begin(), layers.end(), c.layer) &&
               c.reason.contains(QStringLiteral(" is inherited from ")));

  // The input's first bytes as a search text.
  std::u16string search;
  for (size_t i = 0; i < std::min<size_t>(size, 12); ++i)
    search += static_cast<char16_t>(data[i]);
  const auto bytes = odx::ParseSearchBytes(search);
  const auto plain = PlainBytes(search);
  FUZZ_CHECK(bytes.has_value() == plain.has_value());
  FUZZ_CHECK(!bytes || *bytes == *plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  outline::OutlineStore store;
  fuzz::BuildInLayerContainer(data, size, store);
  Check(store, data, size);
  return 0;
}
