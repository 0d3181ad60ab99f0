#include "package/MemberNames.h"

#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

namespace package {
namespace {

TEST(MemberNames, KindFollowsTheEnding) {
  for (const char16_t *name :
       {u"a.xml", u"dir/A.XML", u".odx", u"a.OdX", u"a.odx-d", u"a.ODX-CS"})
    EXPECT_EQ(KindOfName(name), MemberKind::Document);
  for (const char16_t *name :
       {u"a.odx-", u"a.odx-d1", u"a.odx-\u00e9", u"a.odx-d.", u"axml",
        u"a.xml.gz", u"a.pdx", u"", u"a.xml ", u"a.odxd", u"a-odx-d"})
    EXPECT_EQ(KindOfName(name), MemberKind::Other);
}

// Only well-formed UTF-8 decodes; each maximal broken piece is one U+FFFD.
TEST(MemberNames, Utf8DecodesOnlyWellFormedSequences) {
  const struct {
    std::string_view raw;
    std::u16string_view decoded;
  } cases[] = {
      {"a\x01\n\x7f", u"a\x01\n\x7f"},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", u"\u00e9\u20ac\U0001F600"},
      {"\xc0\xaf", u"\uFFFD\uFFFD"},                     // overlong
      {"\xe0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},           // overlong
      {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},           // surrogate
      {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
      {"\xf5\x80", u"\uFFFD\uFFFD"},
      {"\xe2\x82"
       "A",
       u"\uFFFD"
       "A"},
      {"A\xf0\x9f\x98", u"A\uFFFD"},
      {"\x80\xbf", u"\uFFFD\uFFFD"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(DecodeName(c.raw, NameEncoding::Utf8), c.decoded) << c.raw;
}

// Code page 437 against Python's codec, which also keeps control bytes.
TEST(MemberNames, Cp437MatchesAnIndependentTable) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    all.push_back(char(b));
  QProcess python;
  python.start("python3", {"-c", "import sys; sys.stdout.buffer.write("
                                 "bytes(range(1, 256)).decode('cp437')"
                                 ".encode('utf-16-le'))"});
  ASSERT_TRUE(python.waitForFinished(60000));
  const QByteArray want = python.readAllStandardOutput();
  EXPECT_EQ(QString::fromStdU16String(DecodeName(all, NameEncoding::Cp437)),
            QString::fromUtf16(reinterpret_cast<const char16_t *>(want.data()),
                               want.size() / 2));
}

} // namespace
} // namespace package
