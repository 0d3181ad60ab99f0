#pragma once

#include "foundation/cvexDynamicArrayTemplate.h"

#include <cstddef>
#include <cstdint>
#include <span>

// How the bytes of a document are read as text.  Decided once per document
// from its first bytes; UTF-16 and UTF-32 documents are turned into UTF-8
// when they are loaded, so every later stage sees one of the three 8-bit
// encodings.
namespace xml {

enum class Encoding : uint8_t {
  Latin1, // every byte is the character of the same value
  Windows1252,
  Utf8,
  Utf16LE,
  Utf16BE,
  Utf32LE,
  Utf32BE,
};

// From the byte-order mark or the first characters of a UTF-16/32 document,
// else from the encoding named in the XML declaration (Latin-1 and
// Windows-1252 are known by name), else UTF-8, XML's default.
Encoding DetectEncoding(std::span<const unsigned char> bytes);

bool IsWide(Encoding encoding); // UTF-16 or UTF-32

// Replaces a UTF-16 or UTF-32 document by its UTF-8 form without the
// byte-order mark.  An unpaired surrogate, a value beyond U+10FFFF and a
// trailing incomplete unit become U+FFFD.  False, with `bytes` unchanged,
// when the result would not fit the 32-bit sizes of the reader.
bool ConvertToUtf8(Encoding encoding,
                   cvexDynamicArrayTemplate<unsigned char> &bytes);

// Turns a UTF-16 or UTF-32 document into UTF-8 a piece at a time, exactly
// as ConvertToUtf8 does it whole: feed it the document's bytes in order,
// byte-order mark included, and it holds back a unit or surrogate pair cut
// by the end of a piece until the next piece (or the end) settles it.
class WideToUtf8 {
public:
  explicit WideToUtf8(Encoding encoding) : encoding_(encoding) {}
  // Converts whole code points of in[0, n) while `room` has space for one
  // more (4 bytes); `last` says no bytes follow.  Returns the bytes
  // written; `used` the input bytes taken.
  std::size_t Convert(const unsigned char *in, std::size_t n, bool last,
                      unsigned char *out, std::size_t room, std::size_t &used);

private:
  Encoding encoding_;
  bool started_ = false; // the mark, if any, is behind us
};

// Decodes n bytes of one text into `out` (room for n units) and returns the
// number of units written, never more than n.  UTF-8: each well-formed
// sequence becomes its code point (a surrogate pair above U+FFFF), every
// other byte the character of its own value, so no byte is ever lost.
// Windows-1252: 0x80-0x9F by its table, its five unassigned bytes and all
// others keep their value.  Latin-1: one unit per byte.
int32_t DecodeText(Encoding encoding, const unsigned char *in, int32_t n,
                   char16_t *out);

} // namespace xml
