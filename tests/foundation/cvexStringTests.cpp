#include "foundation/cvexString.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

std::u16string Text(const cvexString &s) {
  return s.buffer ? std::u16string(s.buffer) : std::u16string();
}

TEST(String, Constructors) {
  cvexString byDefault, zero(0, 50), negative(-7, -3), literal("abc");
  EXPECT_EQ(byDefault.capacity, 16);
  EXPECT_EQ(byDefault.growBy, 50);
  EXPECT_TRUE(byDefault.IsEmpty());
  EXPECT_EQ(byDefault.ParseHex(), 0);
  EXPECT_EQ(zero.capacity, 1);
  EXPECT_TRUE(zero.IsEmpty());
  EXPECT_EQ(negative.capacity, 1);
  EXPECT_EQ(negative.growBy, -3);
  EXPECT_EQ(literal.capacity, 64);
  EXPECT_EQ(Text(literal), u"abc");
  EXPECT_EQ(cvexString(std::string(100, 'x').c_str()).capacity, 101);
}

TEST(String, GrowthRules) {
  cvexString exact;
  exact = u"0123456789abcdef"; // 16 units: no room for the terminator
  EXPECT_EQ(exact.capacity, 67);
  EXPECT_EQ(exact.Length(), 16);

  cvexString fits;
  fits.AssignWide(u"0123456789abcde");
  EXPECT_EQ(fits.capacity, 16);

  cvexString ansi;
  ansi.AssignAnsi(std::string(100, 'a').c_str());
  EXPECT_EQ(ansi.capacity, 101);

  cvexString append;
  append.AssignAnsi("0123456789abcd");
  append += u"abc";
  EXPECT_EQ(append.capacity, 68);
  EXPECT_EQ(Text(append), u"0123456789abcdabc");

  cvexString source(4, 50);
  source.AssignAnsi(std::string(20, 's').c_str());
  cvexString target;
  target.Assign(source);
  EXPECT_EQ(target.capacity, 21); // grown by Assign, not by AssignWide
  EXPECT_EQ(target.Length(), 20);
}

// A negative growth step cannot make room: the text is cut and still
// terminated inside the buffer (ASan checks the inside).
TEST(String, NegativeGrowthCutsAtCapacity) {
  cvexString append(4, -3);
  append.AppendWide(u"abcdefgh");
  EXPECT_EQ(append.capacity, 6);
  EXPECT_EQ(Text(append), u"abcde");

  cvexString assign(4, -3);
  assign.AssignWide(u"abcdefgh");
  EXPECT_EQ(assign.capacity, 6);
  EXPECT_EQ(Text(assign), u"abcde");

  cvexString tiny(2, -100);
  tiny.AppendAnsi("xyz");
  EXPECT_EQ(tiny.capacity, 1);
  EXPECT_TRUE(tiny.IsEmpty());
}

TEST(String, AssignmentsAndTag) {
  cvexString source("src");
  source.tag = 7;
  cvexString s("old");
  s.AssignAnsi(nullptr);
  EXPECT_EQ(Text(s), u"old");
  s.AppendAnsi(nullptr);
  s.AppendWide(nullptr);
  EXPECT_EQ(Text(s), u"old");
  s.AssignWide(u"x");
  s.AssignAnsi("y");
  EXPECT_EQ(s.tag, 0);
  s.Assign(source);
  EXPECT_EQ(s.tag, 7);
  EXPECT_EQ(Text(s), u"src");
  s.AppendAnsi("\xE9!");
  EXPECT_EQ(Text(s), u"src\u00E9!");
  s.Append(source);
  EXPECT_EQ(Text(s), u"src\u00E9!src");
  s.AssignWide(nullptr);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(String, AppendingItselfIsSafe) {
  cvexString s(15, 50); // appending forces a growth that frees the source
  s.AssignAnsi("0123456789abcd");
  s.Append(s);
  EXPECT_EQ(Text(s), u"0123456789abcd0123456789abcd");
}

TEST(String, Comparison) {
  cvexString desc("DESC"), descx("DESCX"), high;
  high = u"\xFFFF";
  EXPECT_FALSE(desc.Equals(descx));
  EXPECT_FALSE(descx.Equals(desc));
  EXPECT_EQ(desc.CompareBuffers(desc.buffer, descx.buffer), -1);
  EXPECT_EQ(desc.CompareBuffers(descx.buffer, desc.buffer), 1);
  EXPECT_EQ(high.CompareBuffers(high.buffer, u"a"), 1); // unsigned units
  EXPECT_TRUE(desc.EqualsAnsi("DESC"));
  EXPECT_FALSE(desc.EqualsAnsi("DESc"));
  EXPECT_FALSE(desc.EqualsAnsi("DES"));
  EXPECT_FALSE(desc.EqualsAnsi(nullptr));
  EXPECT_TRUE(cvexString().EqualsAnsi(nullptr));
  cvexString latin1;
  latin1 = u"\u00E9";
  EXPECT_TRUE(latin1.EqualsAnsi("\xE9"));
}

TEST(String, Find) {
  struct Case {
    const char *text;
    int32_t start;
    const char16_t *needle;
    int32_t expected;
  };
  const Case cases[] = {
      {"abcde", 0, u"", -1},   {"abcde", 5, u"e", -1}, {"ab cd", 0, u" ", 2},
      {"ab", 0, u"AB", -1},    {"abab", 1, u"ab", 2},  {"abc", 0, u"abcd", -1},
      {"abc", 0, nullptr, -1}, {"aXbXc", 2, u"X", 3},  {"abc", 0, u"abc", 0},
  };
  for (const Case &c : cases) {
    cvexString s(c.text);
    EXPECT_EQ(s.Find(c.start, c.needle), c.expected)
        << c.text << " from " << c.start;
  }
  cvexString hay("x<DESC>"), needle("DESC");
  EXPECT_EQ(hay.Find(0, needle), 2);
}

TEST(String, ParseNumber) {
  struct Case {
    const char *text;
    bool hex;
    int32_t expected;
  };
  const Case cases[] = {
      {"1F", true, 31},
      {"  ff", true, 255},
      {"0x1F", true, 31},
      {"12.5", true, 18},
      {"12 34", true, 18},
      {"123456789", true, 591751049},
      {"FFFFFFFF", true, -1},
      {"7fffffff", true, 2147483647},
      {"", true, 0},
      {".5", true, 0},
      {"1,234", false, 1234},
      {"a12", false, 12},
      {"12345678901", false, -1949288395},
      {"4294967295", false, -1},
      {"1F", false, 1},
      {" 4 2", false, 4},
  };
  for (const Case &c : cases) {
    cvexString s(c.text);
    EXPECT_EQ(s.ParseNumber(c.hex), c.expected)
        << '\'' << c.text << "' hex=" << c.hex;
  }
}

TEST(String, Cutting) {
  struct Case {
    const char *text;
    char op;
    int32_t a, b;
    const char16_t *expected;
  };
  const Case cases[] = {
      {"C:\\path", 'K', 3, 0, u"ath"},
      {"C:\\path", 'K', 10, 0, u"C:\\path"},
      {"C:\\path", 'K', -1, 0, u"C:\\path"},
      {"C:\\path", 'K', 0, 0, u""},
      {"abc", 'T', -4, 0, u""},
      {"C:\\x", 'T', 2, 0, u"C:"},
      {"abc", 'T', 10, 0, u"abc"},
      {"abcdef", 'M', 3, 2, u"de"},
      {"abcdef", 'M', 0, 6, u"abcdef"},
      {"abcdef", 'M', 2, 0, u""},
      {"abcdef", 'M', 2, -3, u""},
  };
  for (const Case &c : cases) {
    cvexString s(c.text);
    if (c.op == 'K')
      s.KeepRight(c.a);
    else if (c.op == 'T')
      s.TruncateAt(c.a);
    else
      s.Mid(c.a, c.b);
    EXPECT_EQ(Text(s), c.expected) << c.text << ' ' << c.op << c.a;
  }
}

TEST(String, ToLower) {
  cvexString s;
  // U+0130 by its simple mapping; a capital above U+FFFF stays as it is.
  s = u"ABC xyz @[`{ \u00C0\u00DE\u00D7 \u0391\u03A3 \U0001D400 \uFF21 "
      u"\u0130\U00010400";
  s.ToLower();
  EXPECT_EQ(Text(s), u"abc xyz @[`{ \u00E0\u00FE\u00D7 \u03B1\u03C3 \U0001D400 "
                     u"\uFF41 i\U00010400");
}

TEST(String, Conversions) {
  cvexString s;
  s = u"Ab\u00E9";
  EXPECT_EQ(s.AsWide(), QString::fromUtf16(u"Ab\u00E9"));
  s = u"plain";
  EXPECT_EQ(s.AsAnsi(), QByteArray("plain"));
  EXPECT_EQ(s.AsWide(), QStringLiteral("plain"));
  s.TruncateAt(0);
  EXPECT_TRUE(s.AsAnsi().isEmpty());
  EXPECT_TRUE(s.AsWide().isEmpty());
}

TEST(String, AllocationFailureStates) {
  cvexString kept("keep");
  EXPECT_THROW(kept.SetCapacity(-1, true), std::bad_alloc);
  EXPECT_EQ(kept.capacity, 64);
  EXPECT_EQ(Text(kept), u"keep");

  cvexString dropped("drop");
  EXPECT_THROW(dropped.SetCapacity(-1, false), std::bad_alloc);
  EXPECT_EQ(dropped.buffer, nullptr);
  EXPECT_EQ(dropped.capacity, 0);
  EXPECT_EQ(dropped.Length(), 0);
  EXPECT_TRUE(dropped.IsEmpty());
  dropped.AppendWide(u"again");
  EXPECT_EQ(Text(dropped), u"again");
  EXPECT_EQ(dropped.capacity, 56);
}

} // namespace
