#include "xml/cvexXML.h"

#include "platform/LargeMemory.h"
#include "xml/TextEncoding.h"

#include <algorithm>

#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr const char *kDeclaration = "<?xml version=\"1.0\"?>";

// Closes the file on every early way out of a read-mode Open (failure or an
// allocation exception) so no descriptor outlives a failed load.
class CloseOnExit {
public:
  explicit CloseOnExit(cvexFile &f) : file(f) {}
  ~CloseOnExit() {
    if (armed)
      file.Close();
  }
  CloseOnExit(const CloseOnExit &) = delete;
  CloseOnExit &operator=(const CloseOnExit &) = delete;
  void Dismiss() { armed = false; }

private:
  cvexFile &file;
  bool armed = true;
};

// First offset of `byte` in [from, end), or -1.  memchr examines each byte
// once, which is the forward scan the markers are defined by.
inline int32_t FindByte(const unsigned char *data, int32_t from, int32_t end,
                        unsigned char byte) {
  if (from >= end)
    return -1;
  const void *hit = std::memchr(data + from, byte, size_t(end - from));
  return hit ? int32_t(static_cast<const unsigned char *>(hit) - data) : -1;
}

// Cuts bytes [from, to) into `text`, growing it at most once (contents
// dropped) and ending it with Terminate.  The bytes are widened one to one in
// a first pass that also notes any '&' and any byte >= 0x80; only a text that
// holds such a byte and is read in another encoding than Latin-1 is decoded
// again, so ASCII text costs one pass.  Returns whether an '&' was seen.
inline bool CutText(cvexString &text, const unsigned char *data, int32_t from,
                    int32_t to, xml::Encoding encoding) {
  const int32_t length = to > from ? to - from : 0;
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
  if (high && encoding != xml::Encoding::Latin1)
    units = xml::DecodeText(encoding, in, length, out);
  text.Terminate(units);
  return amp != 0;
}

// Where reading starts: past the declaration's first "?>" when the data
// begins (after an optional UTF-8 byte-order mark) with "<?xml", else right
// after the mark.  A declaration that never ends leaves nothing to read.
int32_t FirstByteToRead(const unsigned char *data, int32_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data),
                               static_cast<std::size_t>(size));
  const std::size_t mark = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (!bytes.substr(mark).starts_with("<?xml"))
    return static_cast<int32_t>(mark);
  const std::size_t end = bytes.find("?>", mark + 5);
  return end == std::string_view::npos ? size : static_cast<int32_t>(end + 2);
}

// Decoding a text without an '&' has one effect: the tag reset that the
// decoder's final Assign performs.  Only texts holding one are decoded.
inline void DecodeIfNeeded(cvexXML &reader, cvexString &text, bool hasAmp) {
  if (hasAmp)
    reader.DecodeEntities(text, text);
  else
    text.tag = 0;
}

} // namespace

cvexXML::~cvexXML() {
  // The caller normally closes; this only catches a reader dropped while open.
  if (isOpen)
    file.Close();
}

bool cvexXML::Open(const cvexString &path, unsigned char mode) {
  // Reopening releases the previous file first, so a reader never holds two.
  Close();

  if (mode == 1) {
    if (!file.Open(path, true)) {
      lastError.AssignAnsi(
          "Problem opening file for writing.  Details: OpenFile API method "
          "failed.");
      return false;
    }
    cvexString declaration(kDeclaration);
    file.WriteLine(declaration);
    isOpen = true;
    return true;
  }

  // Drop any earlier load up front: a failed Open leaves an empty reader,
  // never a half-filled or stale buffer that NextToken would walk.
  content.Free();
  pos = 0;
  released_ = 0;
  textEncoding = xml::Encoding::Latin1;
  if (!file.Open(path, false))
    return false;
  CloseOnExit guard(file);

  // -1 means unreadable or too large for 32-bit offsets.
  const int32_t size = file.Size();
  if (size < 0)
    return false;
  content.Resize(size, false);
  if (size > 0) {
    // Read rather than ReadBlock: the count is needed to refuse a short read.
    int32_t got = 0;
    if (!file.Read(content.data, size, got) || got != size) {
      content.Free();
      return false;
    }
  }
  guard.Dismiss();
  pos = FirstByteToRead(content.data, content.count);
  isOpen = true;
  return true;
}

cvexXML::LoadResult cvexXML::OpenDocument(const cvexString &path) {
  if (!Open(path, 0))
    return LoadResult::CouldNotOpen;
  return PrepareDocument();
}

cvexXML::LoadResult
cvexXML::LoadDocument(cvexDynamicArrayTemplate<unsigned char> &bytes) {
  Close();
  std::swap(content.data, bytes.data);
  std::swap(content.count, bytes.count);
  bytes.Free();
  released_ = 0;
  return PrepareDocument();
}

cvexXML::LoadResult cvexXML::PrepareDocument() {
  const xml::Encoding found = xml::DetectEncoding(
      {content.data, static_cast<std::size_t>(content.count)});
  if (!xml::ConvertToUtf8(found, content)) {
    Close();
    content.Free();
    pos = 0;
    return LoadResult::TooLarge;
  }
  textEncoding = xml::IsWide(found) ? xml::Encoding::Utf8 : found;
  pos = FirstByteToRead(content.data, content.count);
  return LoadResult::Loaded;
}

bool cvexXML::NextToken(unsigned char &kind, cvexString &name,
                        cvexString &value, cvexString &attributes) {
  const int32_t size = content.count;
  if (pos >= size)
    return false;
  const unsigned char *data = content.data;

  const int32_t m1 = FindByte(data, pos, size, '<');
  if (m1 < 0) {
    pos = size;
    return false;
  }
  const int32_t m2 = FindByte(data, m1 + 1, size, '>');
  // Data that ends inside a tag yields nothing: a tag without its '>' has no
  // trustworthy body, and stopping here keeps pos at the end for good.
  if (m2 < 0) {
    pos = size;
    return false;
  }

  // Each test reads only bytes below size; a byte past the end fails it.
  auto at = [&](int32_t i, unsigned char c) {
    return i < size && data[i] == c;
  };

  if (at(m1 + 1, '!') && at(m1 + 2, '-') && at(m1 + 3, '-')) {
    // Text between "<!--" and the two bytes before '>'; empty when that span
    // is too short to hold any.
    DecodeIfNeeded(*this, name,
                   CutText(name, data, m1 + 4, m2 - 2, textEncoding));
    kind = xtComment;
    pos = m2 + 1;
    return true;
  }
  if (at(m1 + 1, '/')) {
    CutText(name, data, m1 + 2, m2, textEncoding);
    kind = xtClose;
    pos = m2 + 1;
    return true;
  }

  const bool emptyElement = data[m2 - 1] == '/';
  // The start-tag body is split at its first space (byte 32 only).
  const int32_t bodyEnd = emptyElement ? m2 - 1 : m2;
  int32_t nameEnd = FindByte(data, m1 + 1, bodyEnd, ' ');
  if (nameEnd < 0)
    nameEnd = bodyEnd > m1 + 1 ? bodyEnd : m1 + 1;
  const int32_t attributesStart = nameEnd < bodyEnd ? nameEnd + 1 : bodyEnd;

  unsigned char tokenKind = xtOpen;
  int32_t valueEnd = -1;
  int32_t next = m2 + 1;
  if (emptyElement) {
    tokenKind = xtLeaf;
  } else {
    const int32_t m3 = FindByte(data, m2 + 1, size, '<');
    if (m3 >= 0 && at(m3 + 1, '/')) {
      tokenKind = xtLeaf;
      valueEnd = m3;
      // A leaf whose end tag lacks its '>' still reports its text; the scan
      // has then consumed everything, so pos goes to the end.
      const int32_t m4 = FindByte(data, m3 + 1, size, '>');
      next = m4 < 0 ? size : m4 + 1;
    }
  }

  CutText(name, data, m1 + 1, nameEnd, textEncoding);
  CutText(attributes, data, attributesStart, bodyEnd, textEncoding);
  if (valueEnd >= 0) {
    DecodeIfNeeded(*this, value,
                   CutText(value, data, m2 + 1, valueEnd, textEncoding));
  } else {
    CutText(value, data, 0, 0, textEncoding);
  }
  kind = tokenKind;
  pos = next;
  return true;
}

void cvexXML::DecodeEntities(const cvexString &source,
                             cvexString &destination) {
  const char16_t *src = source.buffer;
  int32_t n = 0;
  int32_t firstAmp = -1;
  if (src) {
    for (; src[n] != 0; ++n)
      if (firstAmp < 0 && src[n] == u'&')
        firstAmp = n;
  }
  if (hexDigits.capacity < 6)
    hexDigits.SetCapacity(255, false);

  // Without an '&' the decoded text is the source itself; only the tag reset
  // that Assign of the working text would make remains to be done.
  if (firstAmp < 0 && src) {
    if (&source != &destination)
      destination.Assign(source);
    destination.tag = 0;
    return;
  }

  // One working text for the reader's life, grown to the longest source
  // seen: decoding allocates nothing for most texts.
  cvexString &work = decodeWork_;
  if (work.capacity < 255 || n > work.capacity - 1)
    work.SetCapacity(n > 254 ? n + 1 : 255, false);
  work.tag = 0;
  char16_t *out = work.buffer;
  int32_t i = 0;
  int32_t j = 0;
  if (firstAmp > 0) {
    std::memcpy(out, src, size_t(firstAmp) * sizeof(char16_t));
    i = j = firstAmp;
  }

  // True when `form` (ASCII) stands at i and fits before n.
  auto matches = [&](const char *form, int32_t length) {
    if (i + length > n)
      return false;
    for (int32_t k = 0; k < length; ++k)
      if (src[i + k] != char16_t(static_cast<unsigned char>(form[k])))
        return false;
    return true;
  };

  struct Named {
    const char *form;
    int32_t length;
    char16_t produced;
  };
  static constexpr Named kNamed[] = {{"&lt;", 4, u'<'},
                                     {"&gt;", 4, u'>'},
                                     {"&amp;", 5, u'&'},
                                     {"&quot;", 6, u'"'},
                                     {"&apos;", 6, u'\''}};

  while (i < n) {
    const char16_t c = src[i];
    if (c != u'&') {
      out[j++] = c;
      ++i;
      continue;
    }
    bool done = false;
    for (const Named &e : kNamed) {
      if (matches(e.form, e.length)) {
        out[j++] = e.produced;
        i += e.length;
        done = true;
        break;
      }
    }
    if (done)
      continue;
    // Numeric form: only '#', 'x' and ';' are checked; the four characters
    // between are whatever ParseHex makes of them.
    if (i + 7 < n && src[i + 1] == u'#' && src[i + 2] == u'x' &&
        src[i + 7] == u';') {
      for (int32_t k = 0; k < 4; ++k)
        hexDigits.buffer[k] = src[i + 3 + k];
      hexDigits.Terminate(4);
      out[j++] = char16_t(hexDigits.ParseHex());
      i += 8;
      continue;
    }
    out[j++] = u'&';
    ++i;
  }
  work.Terminate(j);
  destination.Assign(work);
}

void cvexXML::CopyRaw(int32_t from, char16_t *destination,
                      int32_t &copied) const {
  copied = 0;
  // Bounded by pos (never past the data); a negative start reads from 0
  // rather than before the buffer.
  const int32_t end = pos < content.count ? pos : content.count;
  const int32_t start = from < 0 ? 0 : from;
  if (start < end)
    copied = xml::DecodeText(textEncoding, content.data + start, end - start,
                             destination);
}

int32_t cvexXML::Position() const { return pos; }

void cvexXML::ReleaseBefore(int32_t offset) {
  // In steps of a large page, so each call gives back whole large pages
  // and calls stay rare.
  constexpr int32_t kStep = int32_t{2} << 20;
  offset = std::min(offset, std::min(pos, content.count));
  if (offset - released_ < kStep)
    return;
  const int32_t upTo = offset - offset % kStep;
  platform::ReleasePages(content.data + released_,
                         static_cast<std::size_t>(upTo - released_));
  released_ = upTo;
}

int32_t cvexXML::PercentDone() const {
  if (content.count <= 0)
    return 0;
  return int32_t(int64_t(pos) * 100 / content.count);
}

bool cvexXML::Close() {
  if (!isOpen)
    return false;
  file.Close();
  isOpen = false;
  return true;
}
