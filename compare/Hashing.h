#pragma once

#include "outline/OutlineStore.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace compare::detail {

inline uint64_t Fmix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// A 64-bit hash of label units that depends on the units only, not on how
// they are stored nor on how they are cut into pieces: hashing "ab" then
// "c" equals hashing "abc", so a label with pieces left out hashes like the
// label without them.  A unit above 0xFF is fed as 0x00 and its two bytes;
// labels never hold unit 0, so no narrow text feeds the same bytes.
class Hasher {
public:
  explicit Hasher(uint64_t seed) : h_(seed * 0x9E3779B97F4A7C15ull + 1) {}

  void Units(const outline::LabelView &v) {
    if (v.narrow) {
      Bytes(v.narrow, v.length);
      return;
    }
    for (uint32_t i = 0; i < v.length; ++i) {
      const char16_t u = v.wide[i];
      if (u <= 0xFF) {
        Byte(static_cast<uint8_t>(u));
      } else {
        Byte(0);
        Byte(static_cast<uint8_t>(u & 0xFF));
        Byte(static_cast<uint8_t>(u >> 8));
      }
    }
  }
  // A boundary no units can feed: a separator, a number, a hash.
  void Word(uint64_t w) {
    FlushPartial();
    Mix(w ^ 0xA5A5A5A5A5A5A5A5ull);
  }
  uint64_t Value() {
    FlushPartial();
    return Fmix(h_ ^ (count_ * 0xC2B2AE3D27D4EB4Full));
  }

private:
  void Mix(uint64_t w) {
    h_ = (h_ ^ w) * 0x9E3779B97F4A7C15ull;
    h_ ^= h_ >> 32;
  }
  void Byte(uint8_t b) {
    acc_ |= uint64_t{b} << (8 * filled_);
    ++count_;
    if (++filled_ == 8) {
      Mix(acc_);
      acc_ = 0;
      filled_ = 0;
    }
  }
  void Bytes(const unsigned char *p, uint32_t n) {
    while (n > 0 && filled_ != 0) {
      Byte(*p++);
      --n;
    }
    for (; n >= 8; n -= 8, p += 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if constexpr (std::endian::native == std::endian::big) {
        uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i)
          swapped |= ((w >> (8 * i)) & 0xFF) << (8 * (7 - i));
        w = swapped;
      }
      Mix(w);
      count_ += 8;
    }
    if (n > 0) {
      // The tail starts a word of its own (nothing was pending).
      uint64_t w = 0;
      for (uint32_t i = 0; i < n; ++i)
        w |= uint64_t{p[i]} << (8 * i);
      acc_ = w;
      filled_ = n;
      count_ += n;
    }
  }
  void FlushPartial() {
    if (filled_ == 0)
      return;
    Mix(acc_);
    acc_ = 0;
    filled_ = 0;
  }

  uint64_t h_;
  uint64_t acc_ = 0;
  uint64_t count_ = 0;
  unsigned filled_ = 0;
};

// Inline stand-ins for the odx helpers on the hot paths: a piece of a
// label (from and length within it), and unit equality.
inline outline::LabelView Piece(const outline::LabelView &label, uint32_t from,
                                uint32_t length) {
  outline::LabelView piece;
  if (label.narrow)
    piece.narrow = label.narrow + from;
  else if (label.wide)
    piece.wide = label.wide + from;
  else
    return piece;
  piece.length = length;
  return piece;
}

inline bool Same(const outline::LabelView &a, const outline::LabelView &b) {
  if (a.length != b.length)
    return false;
  if (a.narrow && b.narrow)
    return a.length == 0 || std::memcmp(a.narrow, b.narrow, a.length) == 0;
  for (uint32_t i = 0; i < a.length; ++i)
    if ((a.narrow ? char16_t{a.narrow[i]} : a.wide[i]) !=
        (b.narrow ? char16_t{b.narrow[i]} : b.wide[i]))
      return false;
  return true;
}

inline bool Same(const outline::LabelView &a, std::u16string_view b) {
  if (a.length != b.size())
    return false;
  for (uint32_t i = 0; i < a.length; ++i)
    if ((a.narrow ? char16_t{a.narrow[i]} : a.wide[i]) != b[i])
      return false;
  return true;
}

inline outline::LabelView ViewOf(std::u16string_view text) {
  outline::LabelView v;
  v.wide = text.data();
  v.length = static_cast<uint32_t>(text.size());
  return v;
}

inline char16_t UnitAt(const outline::LabelView &v, uint32_t i) {
  return v.narrow ? char16_t{v.narrow[i]} : v.wide[i];
}

// Units before the first space: an element's tag, a declaration's target.
inline uint32_t FirstSpace(const outline::LabelView &v) {
  if (v.narrow) {
    const void *at = std::memchr(v.narrow, ' ', v.length);
    return at ? static_cast<uint32_t>(static_cast<const unsigned char *>(at) -
                                      v.narrow)
              : v.length;
  }
  for (uint32_t i = 0; i < v.length; ++i)
    if (v.wide[i] == u' ')
      return i;
  return v.length;
}

// Where a piece of a label starts in it, in units.
inline uint32_t OffsetIn(const outline::LabelView &label,
                         const outline::LabelView &piece) {
  return static_cast<uint32_t>(label.narrow ? piece.narrow - label.narrow
                                            : piece.wide - label.wide);
}

} // namespace compare::detail
