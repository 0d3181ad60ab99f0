#include "xml/cvexXML.h"

#include "TokenScan.h"
#include "platform/LargeMemory.h"
#include "xml/TextEncoding.h"

#include <algorithm>

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
  pos = static_cast<int32_t>(
      xml::scan::FirstByteToRead(content.data, content.count));
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
  pos = static_cast<int32_t>(
      xml::scan::FirstByteToRead(content.data, content.count));
  return LoadResult::Loaded;
}

bool cvexXML::NextToken(unsigned char &kind, cvexString &name,
                        cvexString &value, cvexString &attributes) {
  const int32_t size = content.count;
  if (pos >= size)
    return false;
  const unsigned char *data = content.data;
  xml::scan::TokenBounds t;
  if (xml::scan::ScanToken(data, pos, size, true, t) !=
      xml::scan::Scan::Token) {
    // The scan stops at the end for good.
    pos = size;
    return false;
  }
  if (t.kind == xtComment) {
    DecodeIfNeeded(
        *this, name,
        xml::scan::CutText(name, data, t.name.begin, t.name.end, textEncoding));
  } else {
    xml::scan::CutText(name, data, t.name.begin, t.name.end, textEncoding);
  }
  if (t.kind == xtOpen || t.kind == xtLeaf) {
    xml::scan::CutText(attributes, data, t.attributes.begin, t.attributes.end,
                       textEncoding);
    if (t.value.end >= 0)
      DecodeIfNeeded(*this, value,
                     xml::scan::CutText(value, data, t.value.begin, t.value.end,
                                        textEncoding));
    else
      xml::scan::CutText(value, data, 0, 0, textEncoding);
  }
  kind = t.kind;
  pos = static_cast<int32_t>(t.next);
  return true;
}

void cvexXML::DecodeEntities(const cvexString &source,
                             cvexString &destination) {
  xml::scan::DecodeEntities(source, destination, decodeWork_, hexDigits);
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
