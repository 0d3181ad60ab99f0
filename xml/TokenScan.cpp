#include "TokenScan.h"

#include <cstring>

namespace xml::scan {

void DecodeEntities(const cvexString &source, cvexString &destination,
                    cvexString &work, cvexString &hexDigits) {
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

  // The working text lives as long as the caller's reader, grown to the
  // longest source seen.
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

} // namespace xml::scan
