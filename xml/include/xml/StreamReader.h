#pragma once

#include "foundation/cvexString.h"
#include "xml/ByteSource.h"
#include "xml/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace xml {

class WideSource;

// One token as the bytes of the document hold it; the spans point into the
// reader's buffer and stay valid until the next call of Next.
struct StreamToken {
  unsigned char kind = 0; // xtOpen, xtClose, xtLeaf or xtComment
  std::span<const unsigned char> name;
  std::span<const unsigned char> attributes; // start tags and leaves
  std::span<const unsigned char> value;      // the text of a leaf
  bool hasValue = false; // a leaf with a text, even an empty one
  // Start tags and leaves: the bytes from the name to the end of the value
  // or attributes, which hold nothing else but the space and '>' between.
  std::span<const unsigned char> body;
};

// The token reader over a stream: the same tokens, texts and positions as
// cvexXML gives for the whole file, read a piece at a time into one buffer
// that is reused (a token longer than it grows it).  The encoding is
// decided from the first bytes by the same rule; a UTF-16 or UTF-32
// document is turned into UTF-8 piece by piece as it is read, and positions
// count the bytes of that UTF-8 form.
class StreamReader {
public:
  enum class Status { Ready, CouldNotRead, TooLarge };
  static constexpr std::size_t kDefaultBuffer = std::size_t{1} << 20;

  explicit StreamReader(ByteSource &source,
                        std::size_t bufferBytes = kDefaultBuffer);
  ~StreamReader();
  StreamReader(const StreamReader &) = delete;
  StreamReader &operator=(const StreamReader &) = delete;

  // Reads the first bytes, decides the encoding and moves past the
  // declaration.  TooLarge: the document (a wide one in its UTF-8 form)
  // holds more than `limit` bytes.
  Status Start(int64_t limit = INT32_MAX);
  // The next token; false at the end of the document or when the source
  // fails (Failed tells which).
  bool Next(StreamToken &token);
  bool Failed() const { return failed_; }
  bool Empty() const { return empty_; } // the source holds no byte at all

  // The texts of `token` as cvexXML::NextToken gives them: decoded by the
  // document's encoding, entities decoded in the value.
  void Texts(const StreamToken &token, cvexString &name, cvexString &value,
             cvexString &attributes);
  // How texts are read from the bytes (a wide document reads as UTF-8).
  Encoding TextEncoding() const { return encoding_; }

  // Just past the last token, counted from the document's first byte.
  int64_t Position() const { return pos_; }
  // How far through the source's bytes reading has come, and how many it
  // holds (-1: not known), for progress.
  int64_t SourceDone() const;
  int64_t SourceSize() const { return source_.Size(); }

  // Asks the reader to keep the bytes from `offset` on (-1: none) in its
  // buffer, so that Raw can hand them out without reading them again.  A
  // stretch too long to keep is read again from the source instead.
  void KeepFrom(int64_t offset) { keepFrom_ = offset; }
  // The bytes from `from` up to Position() as one block, valid until the
  // next call of Next or Raw; false when they cannot be read again.
  bool Raw(int64_t from, std::span<const unsigned char> &bytes);

private:
  bool ReadMore();
  bool SkipDeclaration();

  ByteSource &source_;
  std::unique_ptr<WideSource> converter_; // wide documents: the UTF-8 form
  ByteSource *input_ = nullptr;           // source_ or converter_
  Encoding found_ = Encoding::Utf8;       // as detected
  Encoding encoding_ = Encoding::Utf8;    // how texts are read
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  const unsigned char *data_ = nullptr; // buffer_, or the source's memory
  int64_t base_ = 0;                    // document offset of data_[0]
  int64_t filled_ = 0;                  // bytes valid at data_
  int64_t pos_ = 0;
  int64_t keepFrom_ = -1;
  bool atEnd_ = false;
  bool failed_ = false;
  bool empty_ = false;
  std::vector<unsigned char> again_; // Raw's bytes read a second time
  cvexString decodeWork_;
  cvexString hexDigits_;
};

} // namespace xml
