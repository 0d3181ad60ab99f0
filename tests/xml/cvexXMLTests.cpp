#include "xml/TextEncoding.h"
#include "xml/cvexXML.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
const std::string kDecl = "<?xml version=\"1.0\"?>";

std::u16string Text(const cvexString &s) {
  return s.buffer ? std::u16string(s.buffer, size_t(s.Length())) : u"";
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Token {
  unsigned char kind;
  std::u16string name, value, attributes;
  int32_t posAfter; // counted from the end of the declaration
  bool operator==(const Token &) const = default;
};

void PrintTo(const Token &t, std::ostream *os) {
  auto narrow = [](const std::u16string &s) {
    std::string out;
    for (char16_t c : s)
      out += c < 128 ? char(c) : '?';
    return out;
  };
  *os << "{" << int(t.kind) << " '" << narrow(t.name) << "' '"
      << narrow(t.value) << "' '" << narrow(t.attributes) << "' " << t.posAfter
      << "}";
}

class XmlReader : public ::testing::Test {
protected:
  QTemporaryDir dir;

  std::string Path(const char *name) {
    return QDir(dir.path()).filePath(name).toStdString();
  }
  std::string WriteFile(const char *name, const std::string &bytes) {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // All tokens of a file holding `bytes`; the texts are reused across calls
  // as a caller would.  A bound on the calls turns a hang into a failure.
  std::vector<Token> Tokens(const std::string &bytes) {
    cvexXML reader;
    EXPECT_TRUE(reader.Open(cvexString(WriteFile("t.xml", bytes).c_str()), 0));
    std::vector<Token> out;
    unsigned char kind = 99;
    cvexString name, value, attributes;
    for (size_t guard = 0; guard <= bytes.size(); ++guard) {
      if (!reader.NextToken(kind, name, value, attributes)) {
        EXPECT_FALSE(reader.NextToken(kind, name, value, attributes));
        break;
      }
      out.push_back({kind, Text(name), Text(value), Text(attributes),
                     reader.Position() - 21});
    }
    return out;
  }
};

TEST_F(XmlReader, TokenTable) {
  const std::string big(5000, 'q');
  const std::u16string big16(5000, u'q');
  const std::vector<std::pair<std::string, std::vector<Token>>> cases = {
      {"<A>x &amp; y</A>", {{xtLeaf, u"A", u"x & y", u"", 16}}},
      // An end tag leaves value and attributes as they were.
      {"<A x=\"1\"><B>t</B></A>",
       {{xtOpen, u"A", u"", u"x=\"1\"", 9},
        {xtLeaf, u"B", u"t", u"", 17},
        {xtClose, u"A", u"t", u"", 21}}},
      {"<C k=\"2\"/>", {{xtLeaf, u"C", u"", u"k=\"2\"", 10}}},
      {"<B />", {{xtLeaf, u"B", u"", u"", 5}}},
      {"<E  x y>v</E>", {{xtLeaf, u"E", u"v", u" x y", 13}}},
      {"<A\tb=1>", {{xtOpen, u"A\tb=1", u"", u"", 7}}},
      {"</E >", {{xtClose, u"E ", u"", u"", 5}}},
      {"<!-- a &lt;1&gt; -->", {{xtComment, u" a <1> ", u"", u"", 20}}},
      {"<!-- a > b -->", {{xtComment, u" ", u"", u"", 8}}},
      {"<!---->", {{xtComment, u"", u"", u"", 7}}},
      {"<!-->", {{xtComment, u"", u"", u"", 5}}},
      {"<D>a<b>c</b>d</D>",
       {{xtOpen, u"D", u"", u"", 3},
        {xtLeaf, u"b", u"c", u"", 12},
        {xtClose, u"D", u"c", u"", 17}}},
      {"<A>x</B>", {{xtLeaf, u"A", u"x", u"", 8}}},
      {"<A x=\"1>2\">t</A>", {{xtLeaf, u"A", u"2\">t", u"x=\"1", 16}}},
      {"<!DOCTYPE x><?pi a?>",
       {{xtOpen, u"!DOCTYPE", u"", u"x", 12},
        {xtOpen, u"?pi", u"", u"a?", 20}}},
      {" encoding=\"UTF-8\"?>\n<R/>", {{xtLeaf, u"R", u"", u"", 24}}},
      {"<A>\xC3\xA9</A>", {{xtLeaf, u"A", u"\u00C3\u00A9", u"", 9}}},
      {"<A " + big + ">" + big + "&lt;</A>",
       {{xtLeaf, u"A", big16 + u"<", big16, 10012}}},
      // A NUL byte ends the text it falls into.
      {"<A\0B x=\"1\">v\0w</A\0B>"s, {{xtLeaf, u"A", u"v", u"x=\"1\"", 20}}},
      {"<A x\0=\"1\"/>"s, {{xtLeaf, u"A", u"", u"x", 11}}},
      {"<!-- a\0&lt; -->"s, {{xtComment, u" a", u"", u"", 15}}},
      {"<A>&amp;\0&lt;</A>"s, {{xtLeaf, u"A", u"&", u"", 17}}},
      // The data ends early.
      {"", {}},
      {"<R><A/></R>\r\n",
       {{xtOpen, u"R", u"", u"", 3},
        {xtLeaf, u"A", u"", u"", 7},
        {xtClose, u"R", u"", u"", 11}}},
      {"<R>text", {{xtOpen, u"R", u"", u"", 3}}},
      {"<R x=\"1\"", {}},
      {"<R><A", {{xtOpen, u"R", u"", u"", 3}}},
      {"<A>v</A", {{xtLeaf, u"A", u"v", u"", 7}}},
      {"<A>v</", {{xtLeaf, u"A", u"v", u"", 6}}},
      {"<A>v<", {{xtOpen, u"A", u"", u"", 3}}},
  };
  for (const auto &[body, expected] : cases)
    EXPECT_EQ(Tokens(kDecl + body), expected) << "input: " << body;
}

// Reading starts past the declaration's first "?>" when the data begins
// (after a UTF-8 byte-order mark) with "<?xml", else at the first byte.
TEST_F(XmlReader, ReadingStartsPastTheDeclaration) {
  const struct {
    std::string bytes;
    int32_t start;
    std::u16string first; // the first token's name
  } cases[] = {
      {"<A/>", 0, u"A"},
      {"\xEF\xBB\xBF<A/>", 3, u"A"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A/>", 38, u"A"},
      {"\xEF\xBB\xBF<?xml?><A/>", 10, u"A"},
      {"<?xml version=\"1.0\"><A/>", 24, u""}, // never ends: nothing
      {" <?xml?><A/>", 0, u"?xml?"},
      {"<?XML?><A/>", 0, u"?XML?"},
  };
  for (const auto &c : cases) {
    cvexXML reader;
    ASSERT_TRUE(
        reader.Open(cvexString(WriteFile("s.xml", c.bytes).c_str()), 0));
    EXPECT_EQ(reader.Position(), c.start) << c.bytes;
    unsigned char kind = 0;
    cvexString name, value, attributes;
    const bool any = reader.NextToken(kind, name, value, attributes);
    EXPECT_EQ(any ? Text(name) : u"", c.first) << c.bytes;
  }
}

TEST(TextEncoding, DetectedFromTheFirstBytes) {
  using xml::Encoding;
  const std::string decl = "<?xml version=\"1.0\" encoding=";
  const std::string far(1100, ' ');
  const std::vector<std::pair<std::string, Encoding>> cases = {
      {"\xFF\xFE\0\0<"s, Encoding::Utf32LE},
      {"<\0\0\0"s, Encoding::Utf32LE},
      {"\0\0\xFE\xFF"s, Encoding::Utf32BE},
      {"\0\0\0<"s, Encoding::Utf32BE},
      {"\xFF\xFE<\0"s, Encoding::Utf16LE},
      {"<\0?\0"s, Encoding::Utf16LE},
      {"\xFE\xFF\0<"s, Encoding::Utf16BE},
      {"\0<\0?"s, Encoding::Utf16BE},
      // Without a mark, any first element, comment or space after '<'.
      {"<\0!\0"s, Encoding::Utf16LE},
      {"<\0A\0"s, Encoding::Utf16LE},
      {"\0<\0!"s, Encoding::Utf16BE},
      {"\0<\0\xE4"s, Encoding::Utf16BE},
      {"<\0"s, Encoding::Utf8}, // too short to tell
      {"<\0A"s, Encoding::Utf8},
      {"<A\0\0"s, Encoding::Utf8}, // not 16-bit units
      {"<A/>", Encoding::Utf8},
      {decl + "'ISO-8859-1'?>", Encoding::Latin1},
      {decl + "\"latin1\"?>", Encoding::Latin1},
      {"\xEF\xBB\xBF" + decl + "\"Iso_8859-1\"?>", Encoding::Latin1},
      {"<?xml encoding \t=\n 'Latin-1'?>", Encoding::Latin1},
      {decl + "\"windows-1252\"?>", Encoding::Windows1252},
      {decl + "\"CP1252\"?>", Encoding::Windows1252},
      {decl + "\"UTF-16\"?>", Encoding::Utf8},      // by its bytes it is not
      {decl + "\"ISO-8859-15\"?>", Encoding::Utf8}, // unknown names
      {decl + "\"latin1?>\"?>", Encoding::Utf8},    // the name runs past ?>
      {"<?xml x?>" + decl + "\"latin1\"?>", Encoding::Utf8},
      {"<?xml ENCODING=\"latin1\"?>", Encoding::Utf8},
      {"<?xml" + far + "encoding=\"latin1\"?>", Encoding::Utf8},
      {" " + decl + "\"latin1\"?>", Encoding::Utf8},
  };
  for (const auto &[bytes, expected] : cases)
    EXPECT_EQ(xml::DetectEncoding(
                  {reinterpret_cast<const unsigned char *>(bytes.data()),
                   bytes.size()}),
              expected)
        << bytes;
}

TEST(TextEncoding, TextsDecodeWithoutLosingAByte) {
  using xml::Encoding;
  const struct {
    Encoding encoding;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {Encoding::Utf8,
       "\xC2\xB0"
       "C m\xC2\xB2 H\xC3\xA4ge",
       u"\u00B0C m\u00B2 H\u00E4ge"},
      {Encoding::Utf8, "\xE2\x80\x93 \xEF\xBF\xBF", u"\u2013 \uFFFF"},
      {Encoding::Utf8, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
       u"\U0001F600\U0010FFFF"},
      {Encoding::Utf8, "a\xC3", u"a\u00C3"},         // truncated at the end
      {Encoding::Utf8, "\xE2\x82", u"\u00E2\u0082"}, // truncated
      {Encoding::Utf8, "\xC0\xAF\xE0\x80\xAF",
       u"\u00C0\u00AF\u00E0\u0080\u00AF"},
      {Encoding::Utf8, "\xED\xA0\x80", u"\u00ED\u00A0\u0080"}, // a surrogate
      {Encoding::Utf8, "\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080"},
      {Encoding::Utf8, "\x80\xBFx\xF5\xFF\xC1\xBF",
       u"\u0080\u00BFx\u00F5\u00FF\u00C1\u00BF"},
      {Encoding::Utf8, "\xC3\xC3\xA9", u"\u00C3\u00E9"},
      {Encoding::Windows1252, "\x80\x81\x8D\x8F\x90\x9D\x96\x9F\xA0\xE4",
       u"\u20AC\u0081\u008D\u008F\u0090\u009D\u2013\u0178\u00A0\u00E4"},
      {Encoding::Latin1, "\xC3\xA9\x80", u"\u00C3\u00A9\u0080"},
  };
  for (const auto &c : cases) {
    std::u16string out(c.bytes.size(), u'?');
    out.resize(size_t(xml::DecodeText(
        c.encoding, reinterpret_cast<const unsigned char *>(c.bytes.data()),
        int32_t(c.bytes.size()), out.data())));
    EXPECT_EQ(out, c.text) << c.bytes;
  }
}

// Bytes of `text` in UTF-16 or UTF-32, in either byte order.
std::string Wide(std::u32string_view text, int width, bool big) {
  std::string out;
  for (char32_t c : text) {
    std::u32string units;
    if (width == 2 && c > 0xFFFF)
      units = {0xD800 + ((c - 0x10000) >> 10),
               0xDC00 + ((c - 0x10000) & 0x3FF)};
    else
      units = {c};
    for (char32_t u : units)
      for (int k = 0; k < width; ++k)
        out += char(u >> (8 * (big ? width - 1 - k : k)));
  }
  return out;
}

TEST(TextEncoding, Utf16And32BecomeUtf8) {
  using xml::Encoding;
  const struct {
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {Wide(U"\uFEFF<A>\u00E4\u20AC\U0001F600</A>", 2, false),
       "<A>\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80</A>"},
      {Wide(U"\uFEFF<A/>", 2, true), "<A/>"},
      {Wide(U"<?x", 2, false) + "y", "<?x\xEF\xBF\xBD"},        // odd length
      {Wide(U"<?", 2, true) + "\xD8\0\0x"s, "<?\xEF\xBF\xBDx"}, // lone high
      {Wide(U"<?", 2, false) + "\0\xDC"s, "<?\xEF\xBF\xBD"},    // lone low
      {Wide(std::u32string(U"\uFEFF<") + U'\0', 4, false), "<"s + '\0'},
      {Wide(U"<\U0010FFFF", 4, true) + "\0\x11\0\0\0\0\xD8\0\0\0"s,
       "<\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto &c : cases) {
    cvexDynamicArrayTemplate<unsigned char> bytes;
    bytes.Resize(int32_t(c.bytes.size()), false);
    std::memcpy(bytes.data, c.bytes.data(), c.bytes.size());
    const Encoding found =
        xml::DetectEncoding({bytes.data, static_cast<size_t>(bytes.count)});
    ASSERT_TRUE(xml::IsWide(found)) << c.bytes;
    ASSERT_TRUE(xml::ConvertToUtf8(found, bytes));
    EXPECT_EQ(
        std::string(reinterpret_cast<char *>(bytes.data), size_t(bytes.count)),
        c.utf8)
        << c.bytes;
  }
}

// A document's texts are decoded before its entities, so a reference
// gives exactly its character and "&#x" takes four characters.
TEST_F(XmlReader, DocumentsDecodeTextsBeforeEntities) {
  const std::string body =
      "<A \xC3\xA4=\"\xC2\xB0\">&#x00C3;&#x00A9;|&#x\xC3\xA4"
      "123;"
      "</A><DESC><p>\xC3\xA9</p>&amp;</DESC>";
  const std::string path = WriteFile("d.xml", kDecl + body);
  for (bool utf16 : {false, true}) {
    std::string bytes = kDecl + body;
    if (utf16) {
      const QString text =
          QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
      bytes =
          "\xFF\xFE" + std::string(reinterpret_cast<const char *>(text.utf16()),
                                   size_t(text.size()) * 2);
    }
    cvexXML reader;
    ASSERT_EQ(
        reader.OpenDocument(cvexString(WriteFile("d.xml", bytes).c_str())),
        cvexXML::LoadResult::Loaded);
    EXPECT_EQ(reader.Position(), 21);
    unsigned char kind = 0;
    cvexString name, value, attributes;
    ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
    EXPECT_EQ(Text(value), u"\u00C3\u00A9|\u0123");
    EXPECT_EQ(Text(attributes), u"\u00E4=\"\u00B0\"");
    ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
    const int32_t start = reader.Position();
    ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
    ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
    char16_t raw[32];
    int32_t copied = 0;
    reader.CopyRaw(start, raw, copied);
    EXPECT_EQ(std::u16string(raw, size_t(copied)),
              u"<p>\u00E9</p>&amp;</DESC>");
  }
}

TEST(DecodeEntities, Table) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"x &amp; y", u"x & y"},
      {u"&lt;b&gt;", u"<b>"},
      {u"&quot;q&quot;it&apos;s", u"\"q\"it's"},
      {u"&amp;lt;", u"&lt;"}, // replacements are not decoded again
      {u"&LT; &nbsp; &#65; &#X0041;", u"&LT; &nbsp; &#65; &#X0041;"},
      {u"&#x0041;&#x00e9;&#x00E9;&#x20AC;", u"A\u00e9\u00e9\u20ac"},
      {u"&#x41;a;", u"\u041a"}, // '41;a' read as hexadecimal 41a
      {u"&#xFFFF;", u"\uffff"},
      {u"a&#x0000;b", u"a"},
      {u"a&#xZZZZ;b", u"a"},
      {u"&", u"&"},
      {u"x&lt", u"x&lt"},
      {u"a & b", u"a & b"},
      {u"&#x41;", u"&#x41;"},
      {u"", u""},
      {u"plain text", u"plain text"},
  };
  cvexXML reader;
  for (const auto &[in, expected] : cases) {
    cvexString text, other;
    text.AssignWide(in.c_str());
    text.tag = other.tag = 3;
    reader.DecodeEntities(text, other);
    EXPECT_EQ(Text(other), expected);
    EXPECT_EQ(other.tag, 0);
    reader.DecodeEntities(text, text); // in place, as NextToken does
    EXPECT_EQ(Text(text), expected);
  }
  // The working text grows once for a source past its initial capacity.
  std::u16string longText(600, u'a');
  cvexString text;
  text.AssignWide((longText + u"&amp;").c_str());
  reader.DecodeEntities(text, text);
  EXPECT_EQ(Text(text), longText + u"&");
}

TEST_F(XmlReader, TextsOutsideTheTokensRowAreUntouched) {
  const std::string path = WriteFile("k.xml", kDecl + "<A>v</A><!--c-->");
  cvexXML reader;
  ASSERT_TRUE(reader.Open(cvexString(path.c_str()), 0));
  unsigned char kind = 0;
  cvexString name, value, attributes;
  value.tag = attributes.tag = 7;
  ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
  EXPECT_EQ(value.tag, 0); // decoding assigns the working text's tag
  ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
  EXPECT_EQ(attributes.tag, 7);
  kind = 42;
  EXPECT_FALSE(reader.NextToken(kind, name, value, attributes));
  EXPECT_EQ(kind, 42);
  EXPECT_EQ(Text(name), u"c");
}

TEST_F(XmlReader, Utf16InputYieldsOnlyNamelessStartTags) {
  const std::u16string doc = u"\uFEFF" +
                             std::u16string(kDecl.begin(), kDecl.end()) +
                             u"<A x=\"1\"><B>t</B><C/></A>";
  for (bool bigEndian : {false, true}) {
    std::string bytes;
    for (char16_t c : doc) {
      const char lo = char(c & 0xFF), hi = char(c >> 8);
      bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    const std::vector<Token> tokens = Tokens(bytes);
    // Read byte by byte, the declaration is no "<?xml": six tags.
    ASSERT_EQ(tokens.size(), 6u);
    for (const Token &t : tokens)
      EXPECT_TRUE(t.kind == xtOpen && t.name.empty() && t.attributes.empty());
  }
}

// Every prefix of a real file, each in an allocation of exactly its length so
// that AddressSanitizer sees any read past the data.  A prefix tokenizes like
// the whole file up to every token end that lies within it, so each run starts
// a few tokens before the cut (linear, not quadratic) and must retrace the
// whole file's token ends.
TEST_F(XmlReader, EveryPrefixOfACorpusFileEndsCleanly) {
  const std::string file =
      ReadAll(ODX_CORPUS_DIR "/odxtools__somersault__somersault.odx-d");
  ASSERT_GT(file.size(), 10000u);
  cvexString name, value, attributes;
  unsigned char kind = 0;
  std::vector<int32_t> ends{21};
  {
    cvexXML whole;
    whole.content.Resize(int32_t(file.size()), false);
    std::memcpy(whole.content.data, file.data(), file.size());
    whole.pos = 21;
    while (whole.NextToken(kind, name, value, attributes))
      ends.push_back(whole.pos);
    ASSERT_EQ(ends.back(), int32_t(file.size()));
  }
  size_t k = 0; // ends[k] is the last token end within the prefix
  for (size_t n = 0; n <= file.size(); ++n) {
    while (k + 1 < ends.size() && ends[k + 1] <= int32_t(n))
      ++k;
    size_t i = k > 3 ? k - 3 : 0;
    cvexXML reader;
    reader.pos = ends[i];
    if (n > 0) { // bytes before pos are never examined: fill only the tail
      reader.content.data = new unsigned char[n];
      if (size_t(reader.pos) < n)
        std::memcpy(reader.content.data + reader.pos, file.data() + reader.pos,
                    n - size_t(reader.pos));
    }
    reader.content.count = int32_t(n);
    int32_t last = reader.pos;
    while (reader.NextToken(kind, name, value, attributes)) {
      ASSERT_GT(reader.pos, last) << "prefix " << n;
      ASSERT_LE(reader.pos, int32_t(n)) << "prefix " << n;
      if (++i < ends.size() && ends[i] <= int32_t(n)) {
        ASSERT_EQ(reader.pos, ends[i]) << "prefix " << n;
      }
      ASSERT_LE(i, k + 2) << "prefix " << n;
      last = reader.pos;
    }
    ASSERT_GE(i, k) << "prefix " << n;
    ASSERT_FALSE(reader.NextToken(kind, name, value, attributes));
  }
}

TEST_F(XmlReader, CopyRawAndPercentDone) {
  const std::string body = "<R><D a=\"1\">x<p>y</p>z</D></R>";
  cvexXML reader;
  ASSERT_TRUE(
      reader.Open(cvexString(WriteFile("c.xml", kDecl + body).c_str()), 0));
  unsigned char kind = 0;
  cvexString name, value, attributes;
  char16_t out[64] = {};
  int32_t copied = -1;
  std::vector<int32_t> percent;
  int32_t start = 0;
  while (reader.NextToken(kind, name, value, attributes)) {
    percent.push_back(reader.PercentDone());
    if (Text(name) == u"D" && kind == xtOpen)
      start = reader.Position();
    if (Text(name) == u"D" && kind == xtClose)
      reader.CopyRaw(start, out, copied);
  }
  EXPECT_EQ(std::u16string(out, size_t(copied)), u"x<p>y</p>z</D>");
  EXPECT_EQ(percent, (std::vector<int32_t>{47, 64, 82, 92, 100}));
  reader.CopyRaw(reader.Position(), out, copied);
  EXPECT_EQ(copied, 0);

  // The largest loadable size must not overflow (no data is touched).
  reader.content.Free();
  reader.content.count = INT32_MAX;
  reader.pos = INT32_MAX - 1;
  EXPECT_EQ(reader.PercentDone(), 99);
  reader.content.count = 0;
  EXPECT_EQ(reader.PercentDone(), 0);
}

TEST_F(XmlReader, OpenCloseAndWriteMode) {
  cvexXML reader;
  EXPECT_FALSE(reader.Open(cvexString(Path("missing.xml").c_str()), 0));
  EXPECT_FALSE(reader.isOpen);
  EXPECT_FALSE(reader.Close());
  ASSERT_TRUE(
      reader.Open(cvexString(WriteFile("a.xml", kDecl + "<A/>").c_str()), 0));
  EXPECT_EQ(reader.Position(), 21);
  // A second Open replaces the first load.
  ASSERT_TRUE(reader.Open(
      cvexString(WriteFile("b.xml", kDecl + "<BB>x</BB>").c_str()), 0));
  EXPECT_EQ(reader.content.count, 31);
  unsigned char kind = 0;
  cvexString name, value, attributes;
  ASSERT_TRUE(reader.NextToken(kind, name, value, attributes));
  EXPECT_EQ(Text(name), u"BB");
  EXPECT_TRUE(reader.Close());
  EXPECT_FALSE(reader.Close());
  EXPECT_EQ(reader.Position(), 31); // closing keeps data and position

  // Failed loads leave an empty reader: a missing file, or one too large
  // for 32-bit sizes (sparse, so it costs no disk space).
  const std::string huge = WriteFile("huge.xml", "");
  ASSERT_TRUE(QFile::resize(QString::fromStdString(huge), qint64(3) << 30));
  for (const std::string &path : {Path("gone"), huge}) {
    EXPECT_FALSE(reader.Open(cvexString(path.c_str()), 0));
    EXPECT_FALSE(reader.isOpen);
    EXPECT_EQ(reader.content.count, 0);
    EXPECT_FALSE(reader.NextToken(kind, name, value, attributes));
  }

  const std::string written = WriteFile("w.xml", "old contents that must go");
  ASSERT_TRUE(reader.Open(cvexString(written.c_str()), 1));
  EXPECT_TRUE(reader.Close());
  EXPECT_EQ(ReadAll(written), kDecl + "\r\n");
  EXPECT_FALSE(reader.Open(cvexString(Path("no/dir/x.xml").c_str()), 1));
  EXPECT_EQ(Text(reader.lastError), u"Problem opening file for writing.  "
                                    u"Details: OpenFile API method failed.");
}

} // namespace
