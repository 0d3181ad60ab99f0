#include "foundation/cvexString.h"

#include "foundation/LowerCase.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Traits = std::char_traits<char16_t>;

constexpr char16_t kEmpty[1] = {0};

const char16_t *OrEmpty(const char16_t *text) { return text ? text : kEmpty; }

// Capacities are 32-bit; a need beyond that is an impossible allocation.
int32_t CheckedCapacity(int64_t n) {
  if (n > std::numeric_limits<int32_t>::max())
    throw std::bad_alloc();
  return static_cast<int32_t>(n);
}

int32_t CheckedLength(std::size_t n) {
  return CheckedCapacity(static_cast<int64_t>(n));
}

// A negative growth step can ask for less than one unit; a buffer always
// needs room for the terminator.
int32_t GrowthTarget(int64_t need, int32_t growBy) {
  return CheckedCapacity(std::max<int64_t>(need + growBy + 1, 1));
}

bool PointsInto(const char16_t *p, const char16_t *begin, int32_t size) {
  std::less_equal<const char16_t *> le;
  std::less<const char16_t *> lt;
  return begin && le(begin, p) && lt(p, begin + size);
}

// Appends n units converted by `unit` from src; shared by the wide and the
// 8-bit forms so that both keep the same growth and cut rules.
template <typename Char>
void AppendUnits(cvexString &s, const Char *src, int32_t n) {
  const int32_t length = s.Length();
  if (static_cast<int64_t>(length) + n >= s.capacity)
    s.SetCapacity(GrowthTarget(static_cast<int64_t>(length) + n, s.growBy),
                  true);
  // With a negative growth step the text may not fit: it is cut so that the
  // terminator still lands inside the buffer.
  int64_t room = static_cast<int64_t>(s.capacity) - 1 - length;
  if (room < 0) {
    s.Terminate(s.capacity - 1);
    return;
  }
  const int32_t copied = static_cast<int32_t>(std::min<int64_t>(n, room));
  char16_t *dst = s.buffer + length;
  for (int32_t i = 0; i < copied; ++i)
    dst[i] =
        static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(src[i]));
  s.Terminate(length + copied);
}

// Bytes 0x80-0xFF widen to U+0080..U+00FF (Latin-1): every byte becomes the
// character of the same value, as file contents do.
inline char16_t Widen(char c) {
  return static_cast<char16_t>(static_cast<unsigned char>(c));
}

bool IsDigit(char16_t c, bool hexadecimal, uint32_t &value) {
  if (c >= u'0' && c <= u'9') {
    value = c - u'0';
    return true;
  }
  if (!hexadecimal)
    return false;
  if (c >= u'a' && c <= u'f') {
    value = c - u'a' + 10;
    return true;
  }
  if (c >= u'A' && c <= u'F') {
    value = c - u'A' + 10;
    return true;
  }
  return false;
}

} // namespace

cvexString::cvexString() {
  SetCapacity(16, false);
  Terminate(0);
}

cvexString::cvexString(int32_t initialCapacity, int32_t growthStep)
    : growBy(growthStep) {
  SetCapacity(std::max(initialCapacity, 1), false);
  Terminate(0);
}

cvexString::cvexString(const char *ansi) {
  SetCapacity(64, false);
  Terminate(0);
  AssignAnsi(ansi);
}

cvexString::~cvexString() { ReleaseBuffer(); }

bool cvexString::SetCapacity(int32_t n, bool keep) {
  if (keep) {
    if (n < 0)
      throw std::bad_alloc();
    auto *grown = new char16_t[static_cast<std::size_t>(n)];
    if (buffer)
      std::copy_n(buffer, std::min(n, capacity), grown);
    delete[] buffer;
    buffer = grown;
    capacity = n;
    return true;
  }
  ReleaseBuffer();
  if (n < 0)
    throw std::bad_alloc();
  buffer = new char16_t[static_cast<std::size_t>(n)];
  capacity = n;
  if (n > 0)
    buffer[0] = 0;
  return true;
}

void cvexString::ReleaseBuffer() {
  delete[] buffer;
  buffer = nullptr;
  capacity = 0;
}

void cvexString::AssignWide(const char16_t *text) {
  text = OrEmpty(text);
  const int32_t n = CheckedLength(Traits::length(text));
  if (n >= capacity) {
    if (PointsInto(text, buffer, capacity)) {
      // Growing would free the source; only possible with a stale buffer.
      std::u16string copy(text, static_cast<std::size_t>(n));
      AssignWide(copy.c_str());
      return;
    }
    SetCapacity(GrowthTarget(n, growBy), false);
  }
  // Cut at capacity - 1 when a negative growth step left too little room.
  const int32_t copied = std::min(n, capacity - 1);
  std::memmove(buffer, text, static_cast<std::size_t>(copied) * 2);
  Terminate(copied);
}

cvexString &cvexString::operator=(const char16_t *text) {
  AssignWide(text);
  return *this;
}

void cvexString::AppendWide(const char16_t *text) {
  text = OrEmpty(text);
  const int32_t n = CheckedLength(Traits::length(text));
  if (PointsInto(text, buffer, capacity)) {
    // A growth with keep frees the old buffer before the copy.
    std::u16string copy(text, static_cast<std::size_t>(n));
    AppendUnits(*this, copy.c_str(), n);
    return;
  }
  AppendUnits(*this, text, n);
}

cvexString &cvexString::operator+=(const char16_t *text) {
  AppendWide(text);
  return *this;
}

cvexString &cvexString::Append(const cvexString &other) {
  AppendWide(other.buffer);
  return *this;
}

cvexString &cvexString::Assign(const cvexString &other) {
  const int32_t length = other.Length();
  if (length >= capacity && &other != this)
    SetCapacity(CheckedCapacity(static_cast<int64_t>(length) + 1), false);
  AssignWide(other.buffer);
  tag = other.tag;
  return *this;
}

cvexString &cvexString::AssignAnsi(const char *text) {
  if (!text)
    return *this;
  const int32_t n = CheckedLength(std::strlen(text));
  if (n >= capacity)
    SetCapacity(n + 1, false);
  // Widening straight into the buffer is what the copy through a temporary
  // amounts to: the text now always fits.
  for (int32_t i = 0; i < n; ++i)
    buffer[i] = Widen(text[i]);
  Terminate(n);
  return *this;
}

cvexString &cvexString::AppendAnsi(const char *text) {
  if (!text)
    return *this;
  AppendUnits(*this, text, CheckedLength(std::strlen(text)));
  return *this;
}

int32_t cvexString::CompareBuffers(const char16_t *first,
                                   const char16_t *second) const {
  first = OrEmpty(first);
  second = OrEmpty(second);
  for (int32_t i = 0; i < capacity; ++i) {
    const char16_t a = first[i];
    const char16_t b = second[i];
    if (a != b)
      return a > b ? 1 : -1;
    if (a == 0)
      return 0;
  }
  return 0;
}

bool cvexString::Equals(const cvexString &other) const {
  return CompareBuffers(buffer, other.buffer) == 0;
}

bool cvexString::EqualsAnsi(const char *text) const {
  // Same outcome as comparing with a widened temporary, without allocating.
  const char16_t *first = OrEmpty(buffer);
  const char *second = text ? text : "";
  for (int32_t i = 0; i < capacity; ++i) {
    const char16_t a = first[i];
    const char16_t b = Widen(second[i]);
    if (a != b)
      return false;
    if (a == 0)
      return true;
  }
  return true;
}

// Scans eight units at a time where SSE2 is there.  The scan never reads at
// or past `capacity`, so a buffer that lost its terminator (a shrink with
// keep) yields capacity instead of running off the allocation.
int32_t cvexString::Length() const {
  if (!buffer)
    return 0;
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= capacity; i += 8) {
    const __m128i units =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(buffer + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero));
    if (mask != 0)
      return i + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
  }
#endif
  while (i < capacity && buffer[i] != 0)
    ++i;
  return i;
}

bool cvexString::IsEmpty() const { return !buffer || buffer[0] == 0; }

void cvexString::ToLower() {
  if (!buffer)
    return;
  const LowerCaseTable &lower = LowerCase();
  for (char16_t *p = buffer; *p; ++p)
    *p = lower[*p];
}

const QString &cvexString::AsWide() {
  wideCache = buffer ? QString::fromUtf16(buffer, Length()) : QString();
  return wideCache;
}

const QByteArray &cvexString::AsAnsi() {
  ansiCache = buffer ? QString::fromUtf16(buffer, Length()).toLocal8Bit()
                     : QByteArray();
  return ansiCache;
}

int32_t cvexString::Find(int32_t start, const char16_t *needle) const {
  start = std::max(start, 0);
  const int32_t length = Length();
  if (length <= start)
    return -1;
  const std::u16string_view needleView(OrEmpty(needle));
  if (needleView.empty())
    return -1;
  const std::u16string_view text(buffer, static_cast<std::size_t>(length));
  const std::size_t at = text.find(needleView, static_cast<std::size_t>(start));
  return at == std::u16string_view::npos ? -1 : static_cast<int32_t>(at);
}

int32_t cvexString::Find(int32_t start, const cvexString &needle) const {
  return Find(start, needle.buffer);
}

int32_t cvexString::ParseNumber(bool hexadecimal) const {
  const int32_t length = Length();
  uint32_t value = 0;

  int32_t digits = 0;
  for (int32_t i = 0; i < length; ++i) {
    const char16_t c = buffer[i];
    if (c == u'.' || (c == u' ' && digits > 0))
      break;
    if (IsDigit(c, hexadecimal, value))
      ++digits;
  }

  // Summed modulo 2^32: places beyond the 32-bit range count 0 and the sum
  // wraps, as the signed result is then read back.
  uint32_t sum = 0;
  int32_t remaining = digits;
  for (int32_t i = 0; i < length; ++i) {
    const char16_t c = buffer[i];
    if (c == u'.' || (c == u' ' && remaining == 0))
      break;
    if (IsDigit(c, hexadecimal, value)) {
      const int32_t k = remaining - 1;
      const uint32_t place = static_cast<uint32_t>(
          hexadecimal ? HexPlaceValue(k) : DecimalPlaceValue(k));
      sum += value * place;
      --remaining;
    }
  }
  return static_cast<int32_t>(sum);
}

int32_t cvexString::ParseHex() const { return ParseNumber(true); }

int32_t cvexString::HexPlaceValue(int32_t k) {
  return k >= 0 && k <= 7 ? int32_t{1} << (4 * k) : 0;
}

int32_t cvexString::DecimalPlaceValue(int32_t k) {
  static constexpr int32_t kPowers[] = {1,         10,        100,     1000,
                                        10000,     100000,    1000000, 10000000,
                                        100000000, 1000000000};
  return k >= 0 && k <= 9 ? kPowers[k] : 0;
}

void cvexString::Terminate(int32_t index) { buffer[index] = 0; }

void cvexString::TruncateAt(int32_t index) { Terminate(std::max(index, 0)); }

void cvexString::KeepRight(int32_t count) {
  const int32_t length = Length();
  if (count < 0 || count >= length)
    return;
  std::memmove(buffer, buffer + (length - count),
               static_cast<std::size_t>(count) * 2);
  Terminate(count);
}

cvexString &cvexString::Mid(int32_t start, int32_t count) {
  const int32_t copied = std::max(count, 0);
  if (copied > 0)
    std::memmove(buffer, buffer + start, static_cast<std::size_t>(copied) * 2);
  Terminate(copied);
  return *this;
}
