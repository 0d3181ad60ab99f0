#include "xml/StreamReader.h"

#include "TokenScan.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace xml {

namespace {

// Enough of the first bytes for the encoding rule, which looks at 1024.
constexpr std::size_t kHeadBytes = 1024;
// A stretch kept for Raw longer than this is let go of and read again when
// asked for, so one unclosed description cannot hold the rest of the file.
constexpr int64_t kMaxKept = int64_t{32} << 20;
constexpr std::size_t kSmallestBuffer = 64;

} // namespace

// The UTF-8 form of a wide document, converted as it is read.  The first
// bytes, already read from the source to decide the encoding, are handed
// over up front.  Callers always leave room for a whole code point.
class WideSource : public ByteSource {
public:
  WideSource(Encoding encoding, ByteSource &raw,
             std::span<const unsigned char> head,
             std::unique_ptr<ByteSource> owned = nullptr)
      : converter_(encoding), encoding_(encoding), raw_(raw),
        owned_(std::move(owned)), in_(kPiece + 4) {
    // The head can be longer than one piece when the reader's buffer is.
    if (head.size() > in_.size())
      in_.resize(head.size());
    if (!head.empty())
      std::memcpy(in_.data(), head.data(), head.size());
    end_ = head.size();
    rawDone_ = static_cast<int64_t>(head.size());
  }

  bool Read(unsigned char *into, std::size_t room, std::size_t &got) override {
    got = 0;
    if (room < 4)
      return false; // no room for a code point: a caller's mistake
    for (;;) {
      std::size_t used = 0;
      got = converter_.Convert(in_.data() + begin_, end_ - begin_, rawEnd_,
                               into, room, used);
      begin_ += used;
      if (got > 0 || (rawEnd_ && begin_ == end_))
        return true;
      if (rawEnd_) // only a cut unit can be left, and the end settles it
        continue;
      // Too little left for a whole code point: move it to the front and
      // read the next piece behind it.
      const std::size_t left = end_ - begin_;
      std::memmove(in_.data(), in_.data() + begin_, left);
      begin_ = 0;
      end_ = left;
      std::size_t read = 0;
      if (!raw_.Read(in_.data() + end_, in_.size() - end_, read))
        return false;
      end_ += read;
      rawDone_ += static_cast<int64_t>(read);
      rawEnd_ = read == 0;
    }
  }
  int64_t Size() const override { return -1; }
  std::unique_ptr<ByteSource> Reopen() const override {
    std::unique_ptr<ByteSource> raw = raw_.Reopen();
    if (!raw)
      return nullptr;
    ByteSource &source = *raw;
    return std::make_unique<WideSource>(
        encoding_, source, std::span<const unsigned char>(), std::move(raw));
  }
  int64_t RawDone() const { return rawDone_; }

private:
  static constexpr std::size_t kPiece = std::size_t{64} << 10;
  WideToUtf8 converter_;
  Encoding encoding_;
  ByteSource &raw_;
  std::unique_ptr<ByteSource> owned_; // raw_ when this source owns it
  std::vector<unsigned char> in_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  int64_t rawDone_ = 0;
  bool rawEnd_ = false;
};

StreamReader::StreamReader(ByteSource &source, std::size_t bufferBytes)
    : source_(source), input_(&source),
      capacity_(std::max(bufferBytes, kSmallestBuffer)) {}

StreamReader::~StreamReader() = default;

StreamReader::Status StreamReader::Start(int64_t limit) {
  const int64_t size = source_.Size();
  // A small document (a package's member, a fuzz input) needs no more
  // than itself; a wide one grows the buffer as it needs.
  if (size >= 0)
    capacity_ = std::min(capacity_, std::max(static_cast<std::size_t>(size) + 1,
                                             kSmallestBuffer));
  const std::span<const unsigned char> memory = source_.InMemory();
  if (!memory.empty()) {
    found_ = DetectEncoding(memory);
    if (!IsWide(found_)) {
      data_ = memory.data();
      filled_ = static_cast<int64_t>(memory.size());
      atEnd_ = true;
    }
  } else {
    buffer_ = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
    data_ = buffer_.get();
    // Only as far as the rule looks: the first four bytes, and the
    // declaration up to its "?>" within the first kHeadBytes.
    auto enough = [this] {
      if (atEnd_ || filled_ >= static_cast<int64_t>(kHeadBytes))
        return true;
      if (filled_ < 8)
        return false;
      const std::string_view head(reinterpret_cast<const char *>(data_),
                                  static_cast<std::size_t>(filled_));
      const std::size_t start = head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
      return !head.substr(start).starts_with("<?xml") ||
             head.find("?>") != std::string_view::npos;
    };
    while (!enough())
      if (!ReadMore())
        return Status::CouldNotRead;
    found_ = DetectEncoding({data_, static_cast<std::size_t>(filled_)});
  }

  if (!IsWide(found_) && size > limit)
    return Status::TooLarge;
  if (IsWide(found_)) {
    // Measured first when the UTF-8 form might not fit (a UTF-16 unit may
    // grow to three bytes), as the whole-file reader finds out by
    // converting.
    const bool mayGrow =
        found_ == Encoding::Utf16LE || found_ == Encoding::Utf16BE;
    if (size >= 0 && (mayGrow ? size / 2 * 3 + 3 : size) > limit) {
      std::unique_ptr<ByteSource> again = source_.Reopen();
      if (!again)
        return Status::CouldNotRead;
      WideSource measure(found_, *again, {});
      std::vector<unsigned char> scratch(std::size_t{1} << 16);
      int64_t total = 0;
      for (std::size_t got = 1; got > 0;) {
        if (!measure.Read(scratch.data(), scratch.size(), got))
          return Status::CouldNotRead;
        total += static_cast<int64_t>(got);
      }
      if (total > limit)
        return Status::TooLarge;
    }
    if (!buffer_)
      buffer_ = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
    converter_ = std::make_unique<WideSource>(
        found_, source_,
        std::span<const unsigned char>(data_,
                                       static_cast<std::size_t>(filled_)));
    input_ = converter_.get();
    data_ = buffer_.get();
    filled_ = 0;
    atEnd_ = false;
    if (!ReadMore())
      return Status::CouldNotRead;
  }
  encoding_ = IsWide(found_) ? Encoding::Utf8 : found_;
  empty_ = filled_ == 0 && atEnd_;
  if (!SkipDeclaration())
    return Status::CouldNotRead;
  return Status::Ready;
}

bool StreamReader::SkipDeclaration() {
  while (filled_ < 8 && !atEnd_)
    if (!ReadMore())
      return false;
  const std::string_view head(reinterpret_cast<const char *>(data_),
                              static_cast<std::size_t>(filled_));
  const int64_t mark = head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  pos_ = mark;
  if (!head.substr(static_cast<std::size_t>(mark)).starts_with("<?xml"))
    return true;
  // Past the first "?>", however far on; a declaration that never ends
  // leaves nothing to read.
  int64_t from = mark + 5;
  for (;;) {
    const std::string_view rest(
        reinterpret_cast<const char *>(data_ + (from - base_)),
        static_cast<std::size_t>(filled_ - (from - base_)));
    const std::size_t at = rest.find("?>");
    if (at != std::string_view::npos) {
      pos_ = from + static_cast<int64_t>(at) + 2;
      return true;
    }
    if (atEnd_) {
      pos_ = base_ + filled_;
      return true;
    }
    // The last byte may be the '?' of a "?>" cut in two.
    pos_ = from = std::max(from, base_ + filled_ - 1);
    if (!ReadMore())
      return false;
  }
}

bool StreamReader::ReadMore() {
  if (atEnd_)
    return true;
  int64_t keep = pos_;
  if (keepFrom_ >= base_ && keepFrom_ < pos_ && pos_ - keepFrom_ <= kMaxKept)
    keep = keepFrom_;
  keep = std::min(keep, base_ + filled_);
  if (keep > base_) {
    const int64_t live = base_ + filled_ - keep;
    std::memmove(buffer_.get(), buffer_.get() + (keep - base_),
                 static_cast<std::size_t>(live));
    base_ = keep;
    filled_ = live;
  }
  // Grown while the bytes still needed fill half of it, so each read adds
  // at least half a buffer and a long token is scanned a bounded number of
  // times.
  if (static_cast<std::size_t>(filled_) * 2 > capacity_) {
    const std::size_t grown = capacity_ * 2;
    auto bigger = std::make_unique_for_overwrite<unsigned char[]>(grown);
    std::memcpy(bigger.get(), buffer_.get(), static_cast<std::size_t>(filled_));
    buffer_ = std::move(bigger);
    capacity_ = grown;
  }
  data_ = buffer_.get();
  std::size_t got = 0;
  if (!input_->Read(buffer_.get() + filled_,
                    capacity_ - static_cast<std::size_t>(filled_), got))
    return false;
  filled_ += static_cast<int64_t>(got);
  atEnd_ = got == 0;
  return true;
}

bool StreamReader::Next(StreamToken &token) {
  if (failed_)
    return false;
  for (;;) {
    scan::TokenBounds t;
    switch (scan::ScanToken(data_, pos_ - base_, filled_, atEnd_, t)) {
    case scan::Scan::Token: {
      auto span = [this](scan::Range r) {
        return r.end > r.begin ? std::span<const unsigned char>(
                                     data_ + r.begin,
                                     static_cast<std::size_t>(r.end - r.begin))
                               : std::span<const unsigned char>();
      };
      token.kind = t.kind;
      token.name = span(t.name);
      token.attributes = span(t.attributes);
      token.hasValue = t.value.end >= 0;
      token.value = span(t.value);
      token.body =
          span({t.name.begin,
                std::max({t.name.end, t.attributes.end, t.value.end})});
      pos_ = base_ + t.next;
      return true;
    }
    case scan::Scan::End:
      pos_ = base_ + filled_;
      return false;
    case scan::Scan::NeedMore:
      pos_ = base_ + t.next;
      if (!ReadMore()) {
        failed_ = true;
        return false;
      }
      break;
    }
  }
}

void StreamReader::Texts(const StreamToken &token, cvexString &name,
                         cvexString &value, cvexString &attributes) {
  auto cut = [this](cvexString &text, std::span<const unsigned char> bytes) {
    return scan::CutText(text, bytes.data(), 0,
                         static_cast<int64_t>(bytes.size()), encoding_);
  };
  auto decodeIfNeeded = [this](cvexString &text, bool hasAmp) {
    if (hasAmp)
      scan::DecodeEntities(text, text, decodeWork_, hexDigits_);
    else
      text.tag = 0;
  };
  if (token.kind == 3) { // a comment's text is decoded like a value
    decodeIfNeeded(name, cut(name, token.name));
    return;
  }
  cut(name, token.name);
  if (token.kind == 1) // end tags have a name only
    return;
  cut(attributes, token.attributes);
  if (token.hasValue)
    decodeIfNeeded(value, cut(value, token.value));
  else
    cut(value, {});
}

int64_t StreamReader::SourceDone() const {
  return converter_ ? converter_->RawDone() : pos_;
}

bool StreamReader::Raw(int64_t from, std::span<const unsigned char> &bytes) {
  from = std::max<int64_t>(from, 0);
  if (from >= pos_) {
    bytes = {};
    return true;
  }
  if (from >= base_) {
    bytes = {data_ + (from - base_), static_cast<std::size_t>(pos_ - from)};
    return true;
  }
  // Let go of already: read the stretch again from a second source.
  std::unique_ptr<ByteSource> raw = source_.Reopen();
  if (!raw)
    return false;
  std::unique_ptr<WideSource> wide;
  ByteSource *in = raw.get();
  if (converter_) {
    wide = std::make_unique<WideSource>(found_, *raw,
                                        std::span<const unsigned char>());
    in = wide.get();
  }
  // Room for a whole code point past the stretch, so a converting source
  // always has space to write into.
  const auto length = static_cast<std::size_t>(pos_ - from);
  again_.resize(std::max<std::size_t>(length + 4, std::size_t{1} << 16));
  std::size_t have = 0;
  for (int64_t skip = from; have < length;) {
    std::size_t got = 0;
    const std::size_t room =
        skip > 0 ? std::max<std::size_t>(
                       static_cast<std::size_t>(std::min<int64_t>(
                           skip, static_cast<int64_t>(again_.size()))),
                       4)
                 : again_.size() - have;
    if (!in->Read(again_.data() + have, room, got) || got == 0)
      return false;
    if (skip >= static_cast<int64_t>(got)) {
      skip -= static_cast<int64_t>(got);
      continue;
    }
    // The first bytes of the stretch: a converted code point may straddle
    // its start.
    if (skip > 0) {
      std::memmove(again_.data(), again_.data() + skip,
                   got - static_cast<std::size_t>(skip));
      got -= static_cast<std::size_t>(skip);
      skip = 0;
    }
    have += got;
  }
  bytes = {again_.data(), length};
  return true;
}

} // namespace xml
