#include "outline/OutlineStore.h"

#include "platform/LargeMemory.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace outline {

namespace {

// Arena chunks start small (small trees stay small) and double up to a
// fixed size, so a large outline grows without ever copying labels.
constexpr std::size_t kFirstArenaBytes = std::size_t{4} << 10;
constexpr std::size_t kMaxArenaBytes = std::size_t{64} << 20;

// 0 stays the generation of a default NodeRef, so it is never live.
uint32_t NextGeneration(uint32_t current) {
  return current + 1 == 0 ? 1 : current + 1;
}

int8_t ImageByte(int index) {
  return index >= -128 && index <= 127 ? static_cast<int8_t>(index) : -1;
}

} // namespace

QString LabelView::toQString() const {
  if (narrow)
    return QString::fromLatin1(reinterpret_cast<const char *>(narrow),
                               static_cast<qsizetype>(length));
  if (wide)
    return QString(reinterpret_cast<const QChar *>(wide),
                   static_cast<qsizetype>(length));
  return QString();
}

std::u16string LabelView::toU16String() const {
  if (narrow)
    return std::u16string(narrow, narrow + length);
  if (wide)
    return std::u16string(wide, length);
  return std::u16string();
}

template <typename Unit> std::size_t OutlineStore::Arena<Unit>::Bytes() const {
  std::size_t bytes =
      chunks.capacity() * sizeof(chunks[0]) +
      (capacities.capacity() + written.capacity()) * sizeof(std::size_t);
  for (std::size_t units : capacities)
    bytes += (units + kNarrowLabelSlack) * sizeof(Unit);
  return bytes;
}

template <typename Unit>
Unit *OutlineStore::Arena<Unit>::Reserve(std::size_t n, uint16_t &chunk,
                                         uint32_t &offset) {
  constexpr std::size_t kFirst = kFirstArenaBytes / sizeof(Unit);
  constexpr std::size_t kMax = kMaxArenaBytes / sizeof(Unit);
  const bool haveCurrent = !chunks.empty();
  std::size_t target;
  if (haveCurrent && used + n <= capacities[current]) {
    target = current;
  } else {
    if (chunks.size() >= kBorrowedBit)
      throw std::length_error("outline labels exceed the arena");
    const bool dedicated = n > kMax / 2;
    std::size_t units =
        haveCurrent ? std::min(capacities[current] * 2, kMax) : kFirst;
    units = std::max(units, n);
    chunks.reserve(chunks.size() + 1);
    capacities.reserve(capacities.size() + 1);
    written.reserve(written.size() + 1);
    chunks.push_back(platform::MakeLargeArray<Unit>(units + kNarrowLabelSlack));
    capacities.push_back(units);
    written.push_back(0);
    target = chunks.size() - 1;
    // A huge label gets a chunk of its own; small labels keep filling the
    // current chunk, so its free tail is not thrown away.
    if (!dedicated || !haveCurrent) {
      current = target;
      used = 0;
    }
  }
  chunk = static_cast<uint16_t>(target);
  if (target == current) {
    offset = static_cast<uint32_t>(used);
    used += n;
  } else {
    offset = 0;
  }
  written[target] = std::max(written[target], std::size_t{offset} + n);
  return chunks[target].get() + offset;
}

OutlineStore::OutlineStore() : generation_(1) {}
OutlineStore::~OutlineStore() = default;

void OutlineStore::BeginUpdate() { ++updateDepth_; }

void OutlineStore::EndUpdate() {
  if (updateDepth_ == 0)
    return; // unbalanced: nothing to end
  if (--updateDepth_ == 0 && resetFired_) {
    resetFired_ = false;
    if (observer_.endReset)
      observer_.endReset();
  }
}

bool OutlineStore::IsUpdating() const { return updateDepth_ > 0; }

void OutlineStore::SetObserver(StoreObserver observer) {
  observer_ = std::move(observer);
}

// Called just before every change.  A view may still query the unchanged
// tree from beginReset, so the child index is dropped only afterwards; and
// endReset is owed only once beginReset has returned.
void OutlineStore::Changing() {
  if (!resetFired_) {
    if (observer_.beginReset)
      observer_.beginReset();
    resetFired_ = true;
  }
  indexValid_ = false;
}

void OutlineStore::Clear() {
  StoreUpdate bracket(*this);
  Changing();
  generation_ = NextGeneration(generation_);
  count_ = 0;
  // Swap with empties so the memory really goes back.
  std::vector<platform::LargeArray<Node>>().swap(nodes_);
  narrow_ = Arena<unsigned char>();
  wide_ = Arena<char16_t>();
  std::vector<std::unique_ptr<NodeRef[]>>().swap(data_);
  std::vector<LabelNote>().swap(notes_);
  std::vector<NodeHandle>().swap(rightmost_);
  shared_.reset();
  sharedSlots_ = 0;
  longestLabel_ = deepestNode_ = 0;
  firstChunkCapacity_ = 0;
  package_ = false;
  source_ = nullptr;
  std::vector<uint32_t>().swap(childStart_);
  children_.reset();
  rows_.reset();
  indexCapacity_ = 0;
}

// Finds how much of the rightmost path stays when `parent` gets a child.
// The path holds increasing handles, so only the entries above `parent` are
// looked at; they are exactly the ones popped on success (amortised O(1)).
void OutlineStore::CheckParent(NodeHandle parent, std::size_t &keep) const {
  if (parent == kNoNode) {
    keep = 0;
    return;
  }
  std::size_t i = rightmost_.size();
  while (i > 0 && rightmost_[i - 1] > parent)
    --i;
  if (parent >= count_ || i == 0 || rightmost_[i - 1] != parent)
    throw std::invalid_argument(
        "outline node added out of pre-order: parent is not on the "
        "rightmost path");
  keep = i;
}

// The first chunk grows from a few records to a full one, so that a small
// outline (a hit list, a fuzz input) costs a small block; every later chunk
// is full-sized from the start.  Nothing changes if it throws.
void OutlineStore::RoomForNode(NodeHandle node) {
  if (node < kNodeChunk) {
    if (node < firstChunkCapacity_)
      return;
    const uint32_t capacity =
        node == 0 ? kFirstChunkNodes
                  : std::min(firstChunkCapacity_ * 2, kNodeChunk);
    auto grown = platform::MakeLargeArray<Node>(capacity);
    std::copy_n(node > 0 ? nodes_[0].get() : grown.get(), node, grown.get());
    if (nodes_.empty())
      nodes_.push_back(std::move(grown));
    else
      nodes_[0] = std::move(grown);
    firstChunkCapacity_ = capacity;
    return;
  }
  if ((node & (kNodeChunk - 1)) != 0)
    return;
  nodes_.reserve(nodes_.size() + 1);
  nodes_.push_back(platform::MakeLargeArray<Node>(kNodeChunk));
}

template <bool Wide, typename Fill>
NodeHandle OutlineStore::Append(NodeHandle parent, std::size_t length,
                                Fill fill, int image) {
  std::size_t keep = 0;
  CheckParent(parent, keep);
  if (count_ == kNoNode)
    throw std::length_error("outline holds the most nodes a handle can name");
  if (length > UINT32_MAX - kNarrowLabelSlack)
    throw std::length_error("outline label too long");

  StoreUpdate bracket(*this);
  Changing();
  const NodeHandle node = count_;
  RoomForNode(node);
  rightmost_.reserve(keep + 1);

  const int8_t picture = ImageByte(image);
  Node record{parent, static_cast<uint32_t>(length), 0, 0, picture, picture};
  if constexpr (Wide) {
    fill(wide_.Reserve(length, record.chunk, record.offset));
    record.chunk |= kWideBit;
  } else if constexpr (std::is_invocable_v<Fill, Node &>) {
    fill(record); // places the label itself
  } else {
    const bool mayShare = length > 0 && length <= kLongestSharedLabel;
    if (mayShare)
      RoomForShared();
    unsigned char *dst = narrow_.Reserve(length, record.chunk, record.offset);
    fill(dst);
    std::memset(dst + length, 0, kNarrowLabelSlack);
    // Small labels always go to the end of the current chunk, so the room
    // taken by one met before is simply handed back.
    if (mayShare && FindShared(dst, length, record.chunk, record.offset))
      narrow_.used -= length;
  }
  // Nothing below can throw: the store changes only now.
  At(node) = record;
  ++count_;
  rightmost_.resize(keep);
  rightmost_.push_back(node);
  longestLabel_ = std::max(longestLabel_, record.length);
  deepestNode_ = std::max(deepestNode_, static_cast<uint32_t>(keep + 1));
  return node;
}

NodeHandle OutlineStore::AddChild(NodeHandle parent, std::u16string_view text) {
  const std::size_t nul = text.find(u'\0');
  if (nul != std::u16string_view::npos)
    text = text.substr(0, nul);
  char16_t high = 0;
  for (char16_t u : text)
    high |= static_cast<char16_t>(u & 0xFF00);
  if (high)
    return Append<true>(parent, text.size(), [text](char16_t *dst) {
      std::copy(text.begin(), text.end(), dst);
    });
  return Append<false>(parent, text.size(), [text](unsigned char *dst) {
    for (std::size_t i = 0; i < text.size(); ++i)
      dst[i] = static_cast<unsigned char>(text[i]);
  });
}

namespace {

// Eight units a step where SSE2 is there; labels are short, so the scalar
// tails matter as much as the vector bodies.
char16_t OrOfUnits(const char16_t *p, std::size_t n) {
#if defined(__SSE2__)
  if (n >= 8) {
    // The last load overlaps the one before; OR does not mind seeing a unit
    // twice, and no scalar tail is left.
    __m128i acc = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
      acc = _mm_or_si128(
          acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)));
    acc = _mm_or_si128(
        acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + n - 8)));
    // Any unit above 0xFF leaves a high byte non-zero.
    const __m128i high =
        _mm_and_si128(acc, _mm_set1_epi16(static_cast<short>(0xFF00)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_setzero_si128())) !=
                   0xFFFF
               ? char16_t{0xFF00}
               : char16_t{0};
  }
#endif
  char16_t bits = 0;
  for (std::size_t i = 0; i < n; ++i)
    bits |= p[i];
  return bits;
}

// Only called for labels whose units are all <= 0xFF, so packing with
// unsigned saturation keeps every value.  Overlapping last steps rewrite the
// same bytes instead of leaving a scalar tail.
void NarrowUnits(unsigned char *dst, const char16_t *src, std::size_t n) {
#if defined(__SSE2__)
  auto load = [src](std::size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + at));
  };
  if (n >= 16) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i),
                       _mm_packus_epi16(load(i), load(i + 8)));
    if (i < n)
      _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + n - 16),
                       _mm_packus_epi16(load(n - 16), load(n - 8)));
    return;
  }
  if (n >= 8) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst),
                     _mm_packus_epi16(load(0), zero));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + n - 8),
                     _mm_packus_epi16(load(n - 8), zero));
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i)
    dst[i] = static_cast<unsigned char>(src[i]);
}

} // namespace

NodeHandle OutlineStore::AddChildJoined(
    NodeHandle parent, std::span<const std::u16string_view> parts, int image) {
  std::size_t length = 0;
  char16_t bits = 0;
  for (const std::u16string_view part : parts) {
    length += part.size();
    bits |= OrOfUnits(part.data(), part.size());
  }
  if (bits & 0xFF00)
    return Append<true>(
        parent, length,
        [parts](char16_t *dst) {
          for (const std::u16string_view part : parts)
            dst = std::copy(part.begin(), part.end(), dst);
        },
        image);
  return Append<false>(
      parent, length,
      [parts](unsigned char *dst) {
        for (const std::u16string_view part : parts) {
          NarrowUnits(dst, part.data(), part.size());
          dst += part.size();
        }
      },
      image);
}

namespace {

// Loads that never reach past [p, p + n): the words of a part that lies in
// a reader's buffer, where nothing may be read beyond it.
inline uint64_t Load64(const void *p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
inline uint64_t Load32(const void *p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// The last 1..15 bytes of a piece as two words (a few of them may count
// twice, which only matters for the hash, never for equality).
inline void TailWords(const unsigned char *p, std::size_t n, uint64_t &w0,
                      uint64_t &w1) {
  if (n >= 8) {
    w0 = Load64(p);
    w1 = Load64(p + n - 8);
  } else if (n >= 4) {
    w0 = Load32(p) | Load32(p + n - 4) << 32;
    w1 = n;
  } else {
    w0 = uint64_t{p[0]} | uint64_t{p[n / 2]} << 8 | uint64_t{p[n - 1]} << 16;
    w1 = n;
  }
}

constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kOther = 0xC2B2AE3D27D4EB4Full;

// The hash of a label given as parts, read where they lie.
uint64_t HashOfParts(std::span<const std::string_view> parts) {
  uint64_t a = kOdd;
  uint64_t b = kOther;
  for (const std::string_view part : parts) {
    const auto *p = reinterpret_cast<const unsigned char *>(part.data());
    const std::size_t n = part.size();
    a = (a ^ n) * kOther;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      a = (a ^ Load64(p + i)) * kOdd;
      b = (b ^ Load64(p + i + 8)) * kOther;
      a ^= a >> 29;
      b ^= b >> 31;
    }
    if (i < n) {
      uint64_t w0 = 0;
      uint64_t w1 = 0;
      TailWords(p + i, n - i, w0, w1);
      a = (a ^ w0) * kOdd;
      b = (b ^ w1) * kOther;
    }
  }
  const uint64_t h = (a ^ (b >> 32) ^ (b << 32)) * kOdd;
  return h ^ (h >> 32);
}

bool SameAsParts(const unsigned char *label,
                 std::span<const std::string_view> parts) {
  for (const std::string_view part : parts) {
    if (!part.empty() && std::memcmp(label, part.data(), part.size()) != 0)
      return false;
    label += part.size();
  }
  return true;
}

} // namespace

// A label made of parts is looked for among the labels met before while
// its parts still lie where they were cut from; only a new one is written.
NodeHandle OutlineStore::AddChildLatin1(NodeHandle parent,
                                        std::span<const std::string_view> parts,
                                        int image) {
  std::size_t length = 0;
  for (const std::string_view part : parts)
    length += part.size();
  return Append<false>(
      parent, length,
      [this, parts, length](Node &record) {
        SharedLabel *slot = nullptr;
        uint64_t key = 0;
        if (length > 0 && length <= kLongestSharedLabel) {
          RoomForShared();
          const uint64_t h = HashOfParts(parts);
          slot = &shared_[h & (sharedSlots_ - 1)];
          key = (h & 0xFFFF000000000000ull) | uint64_t{length} << 40;
          if ((*slot & 0xFFFFFF0000000000ull) == key) {
            const auto chunk = static_cast<uint16_t>((*slot >> 26) & 0x3FFF);
            const auto offset = static_cast<uint32_t>(*slot & 0x3FFFFFF);
            if (SameAsParts(narrow_.chunks[chunk].get() + offset, parts)) {
              record.chunk = chunk;
              record.offset = offset;
              return;
            }
          }
        }
        unsigned char *dst =
            narrow_.Reserve(length, record.chunk, record.offset);
        for (const std::string_view part : parts) {
          if (!part.empty())
            std::memcpy(dst, part.data(), part.size());
          dst += part.size();
        }
        std::memset(dst, 0, kNarrowLabelSlack);
        if (slot)
          *slot = key | uint64_t{record.chunk} << 26 | record.offset;
      },
      image);
}

namespace {

// Two lanes of eight bytes each, so the multiplications do not wait on
// each other.  The label is followed by zeroed slack, so the last word is
// loaded whole and no byte past the label counts.
uint64_t HashOfBytes(const unsigned char *p, std::size_t n) {
  static_assert(kNarrowLabelSlack >= 16);
  uint64_t a = n * kOdd;
  uint64_t b = ~n * kOther;
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    uint64_t w0, w1;
    std::memcpy(&w0, p + i, 8);
    std::memcpy(&w1, p + i + 8, 8);
    a = (a ^ w0) * kOdd;
    b = (b ^ w1) * kOther;
    a ^= a >> 29;
    b ^= b >> 31;
  }
  if (i < n) {
    uint64_t w0, w1;
    std::memcpy(&w0, p + i, 8);
    std::memcpy(&w1, p + i + 8, 8);
    a = (a ^ w0) * kOdd;
    b = (b ^ w1) * kOther;
  }
  const uint64_t h = (a ^ (b >> 32) ^ (b << 32)) * kOdd;
  return h ^ (h >> 32);
}

} // namespace

// The table starts small, so a tiny outline (a fuzz input, a hit list)
// costs a tiny table, and doubles with the outline up to a fixed size; a
// new table starts empty, which only costs a few labels stored twice.
void OutlineStore::RoomForShared() {
  constexpr std::size_t kFirst = 256;
  constexpr std::size_t kMost = std::size_t{1} << 12;
  if (sharedSlots_ >= kMost || count_ < 4 * sharedSlots_)
    return;
  const std::size_t grown = sharedSlots_ ? sharedSlots_ * 2 : kFirst;
  shared_ = std::make_unique<SharedLabel[]>(grown);
  sharedSlots_ = grown;
}

bool OutlineStore::FindShared(const unsigned char *label, std::size_t length,
                              uint16_t &chunk, uint32_t &offset) {
  static_assert(kMaxArenaBytes <= (std::size_t{1} << 26) &&
                kBorrowedBit <= (1u << 14) && kLongestSharedLabel < 256);
  const uint64_t h = HashOfBytes(label, length);
  SharedLabel &slot = shared_[h & (sharedSlots_ - 1)];
  const uint64_t key = (h & 0xFFFF000000000000ull) | uint64_t{length} << 40;
  if ((slot & 0xFFFFFF0000000000ull) == key) {
    const auto atChunk = static_cast<uint16_t>((slot >> 26) & 0x3FFF);
    const auto atOffset = static_cast<uint32_t>(slot & 0x3FFFFFF);
    if (std::memcmp(narrow_.chunks[atChunk].get() + atOffset, label, length) ==
        0) {
      chunk = atChunk;
      offset = atOffset;
      return true;
    }
  }
  slot = key | uint64_t{chunk} << 26 | offset;
  return false;
}

OutlineStore::Checkpoint OutlineStore::Save() const {
  Checkpoint point;
  point.generation = generation_;
  point.count = count_;
  point.narrowChunks = narrow_.chunks.size();
  point.narrowCurrent = narrow_.current;
  point.narrowUsed = narrow_.used;
  point.wideChunks = wide_.chunks.size();
  point.wideCurrent = wide_.current;
  point.wideUsed = wide_.used;
  point.notes = notes_.size();
  point.rightmost = rightmost_;
  point.longestLabel = longestLabel_;
  point.deepestNode = deepestNode_;
  return point;
}

void OutlineStore::Restore(const Checkpoint &point) {
  if (point.generation != generation_ || point.count > count_)
    throw std::invalid_argument("checkpoint of another outline");
  StoreUpdate bracket(*this);
  Changing();
  for (NodeHandle n = point.count; n < count_; ++n) {
    const std::size_t chunk = n >> kNodeChunkBits;
    if (chunk < data_.size() && data_[chunk])
      data_[chunk][n & (kNodeChunk - 1)] = NodeRef();
  }
  count_ = point.count;
  if (!nodes_.empty())
    nodes_.resize(std::max<std::size_t>(
        1, (std::size_t{count_} + kNodeChunk - 1) >> kNodeChunkBits));
  auto rewind = [](auto &arena, std::size_t chunks, std::size_t current,
                   std::size_t used) {
    arena.chunks.resize(chunks);
    arena.capacities.resize(chunks);
    arena.written.resize(chunks);
    arena.current = current;
    arena.used = used;
  };
  rewind(narrow_, point.narrowChunks, point.narrowCurrent, point.narrowUsed);
  rewind(wide_, point.wideChunks, point.wideCurrent, point.wideUsed);
  notes_.resize(point.notes);
  rightmost_ = point.rightmost;
  longestLabel_ = point.longestLabel;
  deepestNode_ = point.deepestNode;
  // The table may point into the room just given back.
  if (shared_)
    std::fill_n(shared_.get(), sharedSlots_, SharedLabel{0});
}

NodeHandle OutlineStore::AddChild(NodeHandle parent, const char16_t *text) {
  return AddChild(parent,
                  text ? std::u16string_view(text) : std::u16string_view());
}

NodeHandle OutlineStore::AddChild(NodeHandle parent, const LabelView &text,
                                  int image) {
  if (text.wide) {
    const std::u16string_view view(text.wide, text.length);
    const std::u16string_view part[] = {view.substr(0, view.find(u'\0'))};
    return AddChildJoined(parent, part, image);
  }
  // A stored narrow label holds no NUL, but a view built by hand might.
  std::size_t length = 0;
  if (text.narrow) {
    const void *nul = std::memchr(text.narrow, 0, text.length);
    length = nul ? static_cast<const unsigned char *>(nul) - text.narrow
                 : text.length;
  }
  return Append<false>(
      parent, length,
      [&text, length](unsigned char *dst) {
        if (length)
          std::memcpy(dst, text.narrow, length);
      },
      image);
}

NodeHandle OutlineStore::SiblingParent(NodeHandle sibling) const {
  if (sibling != kNoNode && sibling >= count_)
    throw std::invalid_argument("outline sibling does not exist");
  return sibling == kNoNode ? kNoNode : At(sibling).parent;
}

NodeHandle OutlineStore::Add(NodeHandle sibling, std::u16string_view text) {
  return AddChild(SiblingParent(sibling), text);
}

NodeHandle OutlineStore::Add(NodeHandle sibling, const LabelView &text) {
  return AddChild(SiblingParent(sibling), text);
}

void OutlineStore::SetImage(NodeHandle node, int index, bool selected) {
  if (node >= count_)
    return;
  Node &record = At(node);
  int8_t &slot = selected ? record.selected : record.image;
  const int8_t value = ImageByte(index);
  if (slot == value)
    return;
  StoreUpdate bracket(*this);
  Changing();
  slot = value;
}

void OutlineStore::SetImageIndex(NodeHandle node, int index) {
  SetImage(node, index, false);
}

void OutlineStore::SetSelectedIndex(NodeHandle node, int index) {
  SetImage(node, index, true);
}

int OutlineStore::ImageIndex(NodeHandle node) const {
  return node < count_ ? At(node).image : -1;
}

int OutlineStore::SelectedIndex(NodeHandle node) const {
  return node < count_ ? At(node).selected : -1;
}

uint32_t OutlineStore::GetCount() const { return count_; }

NodeHandle OutlineStore::GetNodeFromIndex(uint32_t index) const {
  return index < count_ ? index : kNoNode;
}

NodeHandle OutlineStore::AddBorrowed(NodeHandle parent,
                                     const OutlineStore &source,
                                     NodeHandle node, int image) {
  if (node >= source.count_ || &source == this ||
      (source_ &&
       (source_ != &source || sourceGeneration_ != source.generation_)))
    throw std::invalid_argument("borrowed label from another outline");
  std::size_t keep = 0;
  CheckParent(parent, keep);
  if (count_ == kNoNode)
    throw std::length_error("outline holds the most nodes a handle can name");
  source_ = &source;
  sourceGeneration_ = source.generation_;
  // A caller adding millions of hits holds a bracket; only a lone change
  // brackets itself.
  std::optional<StoreUpdate> bracket;
  if (!IsUpdating())
    bracket.emplace(*this);
  Changing();
  const NodeHandle added = count_;
  RoomForNode(added);
  rightmost_.reserve(keep + 1);
  const int8_t picture = ImageByte(image);
  const uint32_t length = source.At(node).length;
  At(added) = Node{parent, length, node, kBorrowedBit, picture, picture};
  ++count_;
  rightmost_.resize(keep);
  rightmost_.push_back(added);
  longestLabel_ = std::max(longestLabel_, length);
  deepestNode_ = std::max(deepestNode_, static_cast<uint32_t>(keep + 1));
  return added;
}

void OutlineStore::SetData(NodeHandle node, NodeRef data) {
  if (node >= count_)
    return;
  const std::size_t chunk = node >> kNodeChunkBits;
  if (data_.size() <= chunk)
    data_.resize(nodes_.size());
  if (!data_[chunk])
    data_[chunk] = std::make_unique<NodeRef[]>(kNodeChunk);
  data_[chunk][node & (kNodeChunk - 1)] = data;
}

NodeRef OutlineStore::Data(NodeHandle node) const {
  const std::size_t chunk = node >> kNodeChunkBits;
  if (node >= count_)
    return NodeRef();
  if (const Node &record = At(node); record.chunk == kBorrowedBit)
    return NodeRef{record.offset, sourceGeneration_};
  if (chunk >= data_.size() || !data_[chunk])
    return NodeRef();
  return data_[chunk][node & (kNodeChunk - 1)];
}

void OutlineStore::AddNote(NodeHandle node, uint32_t attributeStart) {
  if (count_ == 0 || node != count_ - 1 ||
      (!notes_.empty() && notes_.back().node == node))
    throw std::invalid_argument("only the node made last can be noted, once");
  notes_.push_back(LabelNote{node, attributeStart});
}

void OutlineStore::NoteAttributeStart(NodeHandle node, uint32_t unit) {
  if (node < count_ && (unit >= At(node).length || unit >= kMember))
    throw std::invalid_argument("attribute start beyond the label");
  AddNote(node, unit);
}

void OutlineStore::NoteRawText(NodeHandle node) { AddNote(node, kRawText); }

void OutlineStore::NoteMember(NodeHandle node) { AddNote(node, kMember); }

bool OutlineStore::IsMember(NodeHandle node) const {
  const LabelNote *note = FindLabelNote(node);
  return note && note->attributeStart == kMember;
}

std::span<const OutlineStore::LabelNote> OutlineStore::LabelNotes() const {
  return notes_;
}

const OutlineStore::LabelNote *
OutlineStore::FindLabelNote(NodeHandle node) const {
  const auto it = std::lower_bound(
      notes_.begin(), notes_.end(), node,
      [](const LabelNote &n, NodeHandle h) { return n.node < h; });
  return it != notes_.end() && it->node == node ? &*it : nullptr;
}

uint32_t OutlineStore::Generation() const { return generation_; }

NodeRef OutlineStore::Ref(NodeHandle node) const {
  return NodeRef{node, generation_};
}

bool OutlineStore::IsLive(NodeRef ref) const {
  return ref.generation == generation_ && ref.handle < count_;
}

// Counting sort of the nodes by parent.  childStart_ first counts, then
// serves as the fill cursor (ending at the next group's start), then is
// shifted back by one slot.
void OutlineStore::EnsureIndex() const {
  if (indexValid_)
    return;
  const std::size_t top = count_;
  childStart_.assign(top + 2, 0);
  if (indexCapacity_ < count_) {
    children_ = platform::MakeLargeArray<NodeHandle>(count_);
    rows_ = platform::MakeLargeArray<uint32_t>(count_);
    indexCapacity_ = count_;
  }
  auto slot = [top](NodeHandle parent) {
    return parent == kNoNode ? top : std::size_t{parent};
  };
  // Counting a node's elder siblings gives its row on the way; after the
  // sums, the row places it in its parent's group.
  for (NodeHandle n = 0; n < count_; ++n)
    rows_[n] = childStart_[slot(At(n).parent) + 1]++;
  for (std::size_t i = 1; i < childStart_.size(); ++i)
    childStart_[i] += childStart_[i - 1];
  for (NodeHandle n = 0; n < count_; ++n)
    children_[childStart_[slot(At(n).parent)] + rows_[n]] = n;
  indexValid_ = true;
}

// A flat list (a hit list: every node at the top) needs no index: the
// top-level rows are the handles themselves.
bool OutlineStore::IsFlat() const { return deepestNode_ <= 1; }

uint32_t OutlineStore::ChildCount(NodeHandle parent) const {
  if (parent != kNoNode && parent >= count_)
    return 0;
  if (IsFlat())
    return parent == kNoNode ? count_ : 0;
  EnsureIndex();
  const std::size_t s = parent == kNoNode ? count_ : parent;
  return childStart_[s + 1] - childStart_[s];
}

NodeHandle OutlineStore::Child(NodeHandle parent, uint32_t row) const {
  if (row >= ChildCount(parent))
    return kNoNode;
  if (IsFlat())
    return row;
  const std::size_t s = parent == kNoNode ? count_ : parent;
  return children_[childStart_[s] + row];
}

uint32_t OutlineStore::Row(NodeHandle node) const {
  if (node >= count_)
    return 0;
  if (IsFlat())
    return node;
  EnsureIndex();
  return rows_[node];
}

uint32_t OutlineStore::Depth(NodeHandle node) const {
  uint32_t depth = 0;
  for (; node < count_; node = At(node).parent)
    ++depth;
  return depth;
}

std::size_t OutlineStore::MemoryBytes() const {
  std::size_t bytes = sizeof(*this);
  bytes += nodes_.capacity() * sizeof(nodes_[0]);
  if (!nodes_.empty())
    bytes +=
        (firstChunkCapacity_ + (nodes_.size() - 1) * kNodeChunk) * sizeof(Node);
  bytes += narrow_.Bytes() + wide_.Bytes();
  bytes += data_.capacity() * sizeof(data_[0]);
  for (const auto &chunk : data_)
    if (chunk)
      bytes += kNodeChunk * sizeof(NodeRef);
  bytes += notes_.capacity() * sizeof(LabelNote);
  bytes += sharedSlots_ * sizeof(SharedLabel);
  bytes += rightmost_.capacity() * sizeof(NodeHandle);
  bytes += (childStart_.capacity() + 2 * indexCapacity_) * sizeof(uint32_t);
  return bytes;
}

} // namespace outline
