// A package from arbitrary bytes, opened in memory (and now and then also
// through a file: the two must agree), then every member read with the
// limits.  Checked: each
// entry listed once and in order, kinds as a plain restatement of the name
// rule says, the document limit, and reads that hand over exactly the
// declared size or nothing.

#include "fuzz/FuzzSupport.h"
#include "package/Package.h"

#include <string>

namespace {

bool EndsWith(const std::u16string &lower, std::u16string_view tail) {
  return lower.size() >= tail.size() &&
         lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
}

package::MemberKind RestatedKind(std::u16string name) {
  for (char16_t &c : name)
    if (c >= u'A' && c <= u'Z')
      c = char16_t(c - u'A' + u'a');
  if (EndsWith(name, u".xml") || EndsWith(name, u".odx"))
    return package::MemberKind::Document;
  const size_t dash = name.rfind(u".odx-");
  if (dash == std::u16string::npos || dash + 5 == name.size())
    return package::MemberKind::Other;
  for (size_t i = dash + 5; i < name.size(); ++i)
    if (name[i] < u'a' || name[i] > u'z')
      return package::MemberKind::Other;
  return package::MemberKind::Document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using Status = package::Package::OpenStatus;
  static fuzz::ScratchFile file;
  const std::span<const unsigned char> bytes(data, size);

  package::Package p;
  const Status status = p.OpenMemory(bytes);
  FUZZ_CHECK((status == Status::NotAPackage) ==
             !package::LooksLikePackage(bytes));
  FUZZ_CHECK(status == Status::Opened || p.Members().empty());

  // The file path opens with its own reads; it is checked on every 61st
  // input, so that most of the time goes to the package rules themselves.
  if (size % 61 == 0) {
    package::Package fromFile;
    file.Fill(data, size);
    cvexString path;
    file.PathInto(path);
    FUZZ_CHECK(fromFile.Open(path) == status);
    FUZZ_CHECK(p.Members().size() == fromFile.Members().size());
    for (size_t i = 0; i < p.Members().size(); ++i) {
      const package::Member &m = p.Members()[i];
      const package::Member &same = fromFile.Members()[i];
      FUZZ_CHECK(m.entry == same.entry && m.name == same.name &&
                 m.size == same.size && m.readable == same.readable);
    }
  }

  uint64_t documentBytes = 0;
  cvexDynamicArrayTemplate<unsigned char> buffer;
  for (size_t i = 0; i < p.Members().size(); ++i) {
    const package::Member &m = p.Members()[i];
    FUZZ_CHECK(i == 0 || m.entry > p.Members()[i - 1].entry);
    FUZZ_CHECK(m.name.empty() || m.name.back() != u'/');
    FUZZ_CHECK(m.name.find(u'\0') == std::u16string::npos);
    FUZZ_CHECK(m.kind == RestatedKind(m.name));
    if (m.kind == package::MemberKind::Document && m.readable)
      documentBytes += m.size;

    const bool read = p.Read(i, buffer);
    FUZZ_CHECK(!read || m.readable);
    FUZZ_CHECK(uint64_t(buffer.count) == (read ? m.size : 0));
    FUZZ_CHECK(buffer.data == nullptr || buffer.data[buffer.count] == 0);
  }
  FUZZ_CHECK(documentBytes < package::kDocumentBytesLimit);
  return 0;
}
