#pragma once

// The token rules both readers share: the whole-file cvexXML and the
// streaming xml::StreamReader cut tokens, texts and the declaration by the
// same code, so the two can never drift apart.  Private to xml/.

#include "foundation/cvexString.h"
#include "xml/TextEncoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace xml::scan {

// First offset of `byte` in [from, end), or -1: the forward scan the
// markers are defined by.  The markers of a document lie a few dozen bytes
// apart, so sixteen bytes are compared at a time inline, which beats a call
// of memchr at such distances; a long stretch goes to memchr.
inline int64_t FindByte(const unsigned char *data, int64_t from, int64_t end,
                        unsigned char byte) {
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(static_cast<char>(byte));
  for (int step = 0; step < 4 && from + 16 <= end; ++step, from += 16) {
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from)),
        needle));
    if (mask != 0)
      return from + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  if (from >= end)
    return -1;
  const void *hit = std::memchr(data + from, byte, size_t(end - from));
  return hit ? static_cast<const unsigned char *>(hit) - data : -1;
}

// Where a token lies in the bytes; value.end < 0: a token without text.
struct Range {
  int64_t begin = 0;
  int64_t end = 0;
};
struct TokenBounds {
  unsigned char kind = 0;
  Range name;
  Range attributes;
  Range value{0, -1};
  int64_t next = 0; // where the scan goes on
};

enum class Scan {
  Token,    // `bounds` holds the token
  NeedMore, // the bytes end before the token does; `next` is where to resume
  End,      // no further token: the scan stops at the end for good
};

// Finds the token starting at or after `pos` in data[0, size).  With `atEnd`
// the bytes are the whole rest of the document: a token they cut off is
// judged as the whole-file reader always judged it.  Without it, any look
// past `size` asks for more bytes instead, so a streamed document gives the
// same tokens however it is split.  The markers are '<', '>', then for a
// start tag the next '<': followed by '/', the start tag and its text are
// one leaf, ended by the next '>'.
inline Scan ScanToken(const unsigned char *data, int64_t pos, int64_t size,
                      bool atEnd, TokenBounds &t) {
  const int64_t m1 = FindByte(data, pos, size, '<');
  if (m1 < 0) {
    t.next = size; // nothing before the end can start a token
    return atEnd ? Scan::End : Scan::NeedMore;
  }
  const int64_t m2 = FindByte(data, m1 + 1, size, '>');
  // Data that ends inside a tag yields nothing: a tag without its '>' has
  // no trustworthy body.
  if (m2 < 0) {
    t.next = m1;
    return atEnd ? Scan::End : Scan::NeedMore;
  }

  // Every test below reads at most up to m2, which is inside the bytes.
  auto at = [&](int64_t i, unsigned char c) {
    return i < size && data[i] == c;
  };

  if (at(m1 + 1, '!') && at(m1 + 2, '-') && at(m1 + 3, '-')) {
    // Text between "<!--" and the two bytes before '>'; empty when that span
    // is too short to hold any.
    t.kind = 3; // xtComment
    t.name = {m1 + 4, m2 - 2};
    t.attributes = {0, 0};
    t.value = {0, -1};
    t.next = m2 + 1;
    return Scan::Token;
  }
  if (at(m1 + 1, '/')) {
    t.kind = 1; // xtClose
    t.name = {m1 + 2, m2};
    t.attributes = {0, 0};
    t.value = {0, -1};
    t.next = m2 + 1;
    return Scan::Token;
  }

  const bool emptyElement = data[m2 - 1] == '/';
  // The start-tag body is split at its first space (byte 32 only).
  const int64_t bodyEnd = emptyElement ? m2 - 1 : m2;
  int64_t nameEnd = FindByte(data, m1 + 1, bodyEnd, ' ');
  if (nameEnd < 0)
    nameEnd = bodyEnd > m1 + 1 ? bodyEnd : m1 + 1;
  const int64_t attributesStart = nameEnd < bodyEnd ? nameEnd + 1 : bodyEnd;

  unsigned char kind = 0; // xtOpen
  int64_t valueEnd = -1;
  int64_t next = m2 + 1;
  if (emptyElement) {
    kind = 2; // xtLeaf
  } else {
    const int64_t m3 = FindByte(data, m2 + 1, size, '<');
    if (!atEnd && (m3 < 0 || m3 + 1 >= size)) {
      t.next = m1;
      return Scan::NeedMore;
    }
    if (m3 >= 0 && at(m3 + 1, '/')) {
      kind = 2;
      valueEnd = m3;
      // A leaf whose end tag lacks its '>' still reports its text; the scan
      // has then consumed everything.
      const int64_t m4 = FindByte(data, m3 + 1, size, '>');
      if (m4 < 0 && !atEnd) {
        t.next = m1;
        return Scan::NeedMore;
      }
      next = m4 < 0 ? size : m4 + 1;
    }
  }
  t.kind = kind;
  t.name = {m1 + 1, nameEnd};
  t.attributes = {attributesStart, bodyEnd};
  t.value = {m2 + 1, valueEnd};
  t.next = next;
  return Scan::Token;
}

// Where reading starts: past the declaration's first "?>" when the data
// begins (after an optional UTF-8 byte-order mark) with "<?xml", else right
// after the mark.  A declaration that never ends leaves nothing to read.
inline int64_t FirstByteToRead(const unsigned char *data, int64_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data),
                               static_cast<std::size_t>(size));
  const std::size_t mark = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (!bytes.substr(mark).starts_with("<?xml"))
    return static_cast<int64_t>(mark);
  const std::size_t end = bytes.find("?>", mark + 5);
  return end == std::string_view::npos ? size : static_cast<int64_t>(end + 2);
}

// Cuts bytes [from, to) into `text`, growing it at most once (contents
// dropped) and ending it with Terminate.  The bytes are widened one to one in
// a first pass that also notes any '&' and any byte >= 0x80; only a text that
// holds such a byte and is read in another encoding than Latin-1 is decoded
// again, so ASCII text costs one pass.  Returns whether an '&' was seen.
inline bool CutText(cvexString &text, const unsigned char *data, int64_t from,
                    int64_t to, Encoding encoding) {
  const int32_t length = to > from ? static_cast<int32_t>(to - from) : 0;
  // Grown in steps of 64 units, so texts of growing length do not each
  // cost an allocation.
  if (text.capacity < length + 1)
    text.SetCapacity(static_cast<int32_t>(std::min<int64_t>(
                         (int64_t{length} + 64) & ~int64_t{63}, INT32_MAX)),
                     false);
  char16_t *out = text.buffer;
  const unsigned char *in = data + from;
  unsigned char amp = 0;
  unsigned char high = 0;
  int32_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step, widened with zero, any '&' noted.  The last step
  // overlaps the one before instead of falling back to a byte loop: it
  // rewrites the same units, and texts are mostly short.
  const __m128i zero = _mm_setzero_si128();
  const __m128i ampersand = _mm_set1_epi8('&');
  __m128i seen = zero;
  __m128i wide = zero;
  auto step16 = [&](int32_t at) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + at));
    seen = _mm_or_si128(seen, _mm_cmpeq_epi8(bytes, ampersand));
    wide = _mm_or_si128(wide, bytes);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at),
                     _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at + 8),
                     _mm_unpackhi_epi8(bytes, zero));
  };
  auto step8 = [&](int32_t at) {
    const __m128i bytes =
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + at));
    seen = _mm_or_si128(seen, _mm_cmpeq_epi8(bytes, ampersand));
    wide = _mm_or_si128(wide, bytes);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at),
                     _mm_unpacklo_epi8(bytes, zero));
  };
  if (length >= 16) {
    for (; i + 16 <= length; i += 16)
      step16(i);
    if (i < length)
      step16(length - 16);
    i = length;
  } else if (length >= 8) {
    step8(0);
    step8(length - 8);
    i = length;
  }
  // Only the eight low lanes of an 8-byte load hold bytes; the high ones
  // compare zero with '&' and stay clear.
  amp = static_cast<unsigned char>(_mm_movemask_epi8(seen) != 0);
  high = static_cast<unsigned char>(_mm_movemask_epi8(wide) != 0);
#endif
  for (; i < length; ++i) {
    out[i] = in[i];
    amp |= static_cast<unsigned char>(in[i] == '&');
    high |= in[i] & 0x80;
  }
  int32_t units = length;
  if (high && encoding != Encoding::Latin1)
    units = DecodeText(encoding, in, length, out);
  text.Terminate(units);
  return amp != 0;
}

// Decodes the entities of `source` into `destination` (which may be the
// same string): the five named ones and "&#x" with four characters and ';'.
// `work` and `hexDigits` are the caller's scratch, kept between calls so
// that decoding allocates nothing for most texts.
void DecodeEntities(const cvexString &source, cvexString &destination,
                    cvexString &work, cvexString &hexDigits);

} // namespace xml::scan
