#include "package/MemberNames.h"

#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

namespace package {
namespace {

TEST(MemberNames, KindFollowsTheEnding) {
  const struct {
    std::u16string_view name;
    MemberKind kind;
  } cases[] = {
      {u"a.xml", MemberKind::Document},
      {u"dir/A.XML", MemberKind::Document},
      {u".odx", MemberKind::Document},
      {u"a.OdX", MemberKind::Document},
      {u"a.odx-d", MemberKind::Document},
      {u"a.ODX-CS", MemberKind::Document},
      {u"a.odx-", MemberKind::Other},
      {u"a.odx-d1", MemberKind::Other},
      {u"a.odx-\u00e9", MemberKind::Other},
      {u"a.odx-d.", MemberKind::Other},
      {u"axml", MemberKind::Other},
      {u"a.xml.gz", MemberKind::Other},
      {u"a.pdx", MemberKind::Other},
      {u"", MemberKind::Other},
      {u"a.xml ", MemberKind::Other},
      {u"a.odxd", MemberKind::Other},
  };
  for (const auto &c : cases)
    EXPECT_EQ(KindOfName(c.name), c.kind)
        << QString::fromStdU16String(std::u16string(c.name)).toStdString();
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
  const std::u16string got = DecodeName(all, NameEncoding::Cp437);
  ASSERT_EQ(size_t(want.size()), 2 * got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    const char16_t expected =
        char16_t(uint8_t(want[2 * i]) | uint8_t(want[2 * i + 1]) << 8);
    EXPECT_EQ(got[i], expected) << i + 1;
  }
}

} // namespace
} // namespace package
