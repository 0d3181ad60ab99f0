// The token reader over arbitrary bytes, loaded straight into `content` (the
// outline-builder target covers the real Open).  Between tokens it calls
// Position, PercentDone and CopyRaw as the builder does, and re-derives each
// token's name from the bytes to catch a mis-cut.  The first byte picks how
// texts are read: byte for byte, or as UTF-8 (checked against Qt's decoder
// wherever the bytes are well-formed).

#include "fuzz/FuzzSupport.h"
#include "xml/cvexXML.h"

#include <QByteArray>
#include <QString>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kStart = 21;

// Bytes [from, to) as text, cut at the first NUL as a token text is;
// `valid` turns false for UTF-8 bytes that are not well-formed.
std::u16string Bytes(const uint8_t *data, int32_t from, int32_t to, bool utf8,
                     bool &valid) {
  std::string bytes;
  for (int32_t i = from; i < to && data[i] != 0; ++i)
    bytes.push_back(static_cast<char>(data[i]));
  if (!utf8) {
    std::u16string widened;
    for (const char c : bytes)
      widened.push_back(static_cast<unsigned char>(c));
    return widened;
  }
  const QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
  valid = text.toUtf8() == QByteArray::fromStdString(bytes);
  return text.toStdU16String();
}

int32_t Find(const uint8_t *data, int32_t from, int32_t size, uint8_t c) {
  for (int32_t i = from; i < size; ++i)
    if (data[i] == c)
      return i;
  return -1;
}

// The name a token must carry, from the first '<' at or after `from`.
std::u16string ExpectedName(const uint8_t *data, int32_t size, int32_t from,
                            unsigned char kind, bool utf8, bool &valid) {
  const int32_t m1 = Find(data, from, size, '<');
  const int32_t m2 = Find(data, m1 + 1, size, '>');
  if (kind == xtClose)
    return Bytes(data, m1 + 2, m2, utf8, valid);
  const int32_t bodyEnd = data[m2 - 1] == '/' ? m2 - 1 : m2;
  int32_t end = m1 + 1;
  while (end < bodyEnd && data[end] != ' ')
    ++end;
  return Bytes(data, m1 + 1, end, utf8, valid);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 20))
    return 0;
  cvexXML reader;
  reader.content.Resize(static_cast<int32_t>(size), false);
  if (size > 0)
    std::memcpy(reader.content.data, data, size);
  reader.pos = kStart;
  reader.isOpen = true;
  const bool utf8 = size > 0 && data[0] == 'U';
  if (utf8)
    reader.textEncoding = xml::Encoding::Utf8;
  const int32_t n = static_cast<int32_t>(size);

  unsigned char kind = 0xEE;
  cvexString name, value, attributes;
  std::vector<char16_t> raw(size + 1);
  int32_t tokens = 0;
  int32_t lastOpenEnd = -1;
  for (;;) {
    const int32_t before = reader.Position();
    if (!reader.NextToken(kind, name, value, attributes)) {
      // Exhausted for good: pos at the end (or still at the start of a short
      // file), and the next call fails too.
      FUZZ_CHECK(reader.pos == before || reader.pos == n);
      FUZZ_CHECK(!reader.NextToken(kind, name, value, attributes));
      break;
    }
    ++tokens;
    FUZZ_CHECK(tokens <= n);
    const int32_t after = reader.Position();
    FUZZ_CHECK(after > before && after <= n);
    const int32_t percent = reader.PercentDone();
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    FUZZ_CHECK(kind <= xtComment);

    // Every text a token sets comes from the bytes just consumed, and
    // decoding only shortens.  End tags and comments leave value and
    // attributes as they were.
    const int32_t span = after - before;
    FUZZ_CHECK(name.Length() < span);
    if (kind == xtOpen || kind == xtLeaf) {
      FUZZ_CHECK(value.Length() < span);
      FUZZ_CHECK(attributes.Length() < span);
    }
    if (kind == xtOpen)
      FUZZ_CHECK(value.IsEmpty());
    if (kind != xtComment) {
      bool valid = true;
      const std::u16string expected =
          ExpectedName(data, n, before, kind, utf8, valid);
      FUZZ_CHECK(!valid || fuzz::View(name) == expected);
    }

    // CopyRaw as the builder uses it: from just past an earlier start tag
    // up to here, byte for byte, never beyond pos.
    int32_t copied = -1;
    // (Bounded, so that a long run of leaves does not make a run quadratic.)
    const int32_t from =
        lastOpenEnd >= 0 && after - lastOpenEnd <= 512 ? lastOpenEnd : before;
    reader.CopyRaw(from, raw.data(), copied);
    FUZZ_CHECK(copied <= after - from && (utf8 || copied == after - from));
    for (int32_t i = 0; i < copied && !utf8; ++i)
      FUZZ_CHECK(raw[size_t(i)] == data[from + i]);
    reader.CopyRaw(after + 1, raw.data(), copied);
    FUZZ_CHECK(copied == 0);
    if (kind == xtOpen)
      lastOpenEnd = after;
  }
  reader.Close();
  return 0;
}
