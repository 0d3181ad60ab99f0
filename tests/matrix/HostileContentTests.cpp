// Hostile file contents through the builder in process and through
// odx-outline, checked against the Python reference where files are small.

#include "tests/matrix/MatrixSupport.h"
#include "viewer/FilterSearch.h"

#include <gtest/gtest.h>

#include <QDir>

#include <chrono>
#include <random>

namespace matrix {
namespace {

using namespace std::string_literals;

class HostileContent : public ::testing::Test {
protected:
  QString Write(const QByteArray &bytes, const QString &name = "in.odx") {
    const QString path = dir.filePath(name);
    WriteAll(path, bytes);
    return path;
  }

  // The command line and the reference agree byte for byte, and the
  // in-process outline has as many nodes, without any message.
  void ExpectSameAsReference(const QByteArray &bytes, const std::string &what) {
    const QString path = Write(bytes);
    const ProcessResult cli = RunOutline({"--json", path});
    const ProcessResult ref = RunReference(path);
    ASSERT_TRUE(cli.finished && ref.finished) << what;
    EXPECT_EQ(cli.exitCode, 0) << what << cli.err.toStdString();
    EXPECT_EQ(cli.out, ref.out) << what;
    const Built built = BuildInProcess(path);
    EXPECT_TRUE(built.messages.empty()) << what;
    EXPECT_TRUE(built.surroundingsRestored) << what;
    EXPECT_EQ(qsizetype(built.nodes.size()), cli.out.count('\n')) << what;
  }

  QTemporaryDir dir;
};

QByteArray Utf16(const std::u16string &text, bool bigEndian, bool bom) {
  QByteArray out;
  auto put = [&](char16_t u) {
    const char hi = char(u >> 8), lo = char(u & 0xFF);
    out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
  };
  if (bom)
    put(0xFEFF);
  for (char16_t u : text)
    put(u);
  return out;
}

QByteArray Utf32(const std::u16string &text, bool bigEndian) {
  QByteArray out;
  for (char16_t u : text) {
    const char b[4] = {0, 0, char(u >> 8), char(u & 0xFF)};
    for (int k = 0; k < 4; ++k)
      out.append(bigEndian ? b[k] : b[3 - k]);
  }
  return out;
}

TEST_F(HostileContent, SmallFilesMatchTheReference) {
  const std::u16string doc = u"<?xml version=\"1.0\"?><A><B k=\"v\">t</B></A>";
  std::mt19937 rng(20261208);
  QByteArray binary(16384, '\0');
  for (char &c : binary)
    c = char(rng() & 0xFF);

  const struct {
    const char *what;
    QByteArray bytes;
  } cases[] = {
      {"22 bytes, a lone '<'", WithDeclaration("<")},
      {"UTF-16 BE with BOM", Utf16(doc, true, true)},
      {"UTF-16 LE without BOM, odd length", Utf16(doc, false, false) + "<"},
      {"UTF-32 BE", Utf32(doc, true)},
      {"UTF-32 LE without BOM", Utf32(doc, false)},
      {"random binary", binary},
      {"NUL in a name", WithDeclaration("<A\0B k=\"1\">t</A\0B><C\0/>"s)},
      {"NUL right after '<' and before '>'",
       WithDeclaration("<\0><A\0><B>x</B>\0</A\0>"s)},
      {"NUL in values and attributes",
       WithDeclaration("<A k=\"\0v\">\0t</A><B>x&amp;\0y</B>"s)},
      {"NUL in a comment", WithDeclaration("<R><!-- a\0b --><C/></R>"s)},
      {"NUL in a description",
       WithDeclaration("<R><DESC><p>a\0b</p>\0</DESC><N/></R>"s)},
      {"'<' with no '>' to the end",
       WithDeclaration("<R><A>t</A><B attr=\"" + std::string(5000, 'x'))},
      {"leaf whose end tag lacks '>'", WithDeclaration("<R><A>text</A")},
      {"start tag at the very end", WithDeclaration("<R><A>t</A><B>")},
      {"DESC never closed, a second DESC inside",
       WithDeclaration("<R><DESC><p>a</p><DESC><q>b</q><X>y</X>")},
      {"DESC end tag with a space is not DESC",
       WithDeclaration("<R><DESC><p>a</p></DESC ><B/></DESC><C/></R>")},
      {"DESC end tag before any DESC",
       WithDeclaration("</DESC><DESC>t</DESC>")},
      {"degenerate comments",
       WithDeclaration("<!--><!---><!----><!-- &#x -- ><A/><!--")},
      {"controls in names", WithDeclaration("<A\tx=\"1\">t</A><B\nC/><D\r/>")},
      {"entities cut at the end", WithDeclaration("<A>&#x00e")},
      {"only end tags",
       WithDeclaration(std::string(4000, '>') + "</A></B><C/>")},
      {"a 100 KB name",
       WithDeclaration("<" + std::string(100000, 'N') + ">v</N>")},
  };
  for (const auto &c : cases)
    ExpectSameAsReference(c.bytes, c.what);
}

// Cutting a file only ever loses its tail: every node but the prefix's last
// is the full file's node at the same place, and the last one has the same
// depth and element name (a start tag whose text was cut off shows as a
// container).  Checked for every prefix of the sample.
TEST_F(HostileContent, EveryPrefixOfTheSampleLosesOnlyItsTail) {
  const QByteArray sample = ReadAll(ODX_SOURCE_DIR "/samples/engine-ecu.odx");
  ASSERT_GT(sample.size(), 1000);
  const std::vector<Node> full = BuildInProcess(Write(sample)).nodes;
  ASSERT_GT(full.size(), 10u);
  auto firstWord = [](const std::u16string &s) {
    return s.substr(0, s.find(u' '));
  };
  for (qsizetype n = 0; n <= sample.size(); ++n) {
    const Built built = BuildInProcess(Write(sample.left(n)));
    ASSERT_TRUE(built.messages.empty()) << n;
    ASSERT_TRUE(built.surroundingsRestored) << n;
    const std::vector<Node> &got = built.nodes;
    ASSERT_LE(got.size(), full.size()) << n;
    if (got.empty())
      continue;
    for (size_t i = 0; i + 1 < got.size(); ++i)
      ASSERT_EQ(got[i], full[i]) << "prefix " << n << " node " << i;
    const Node &last = got.back();
    const Node &whole = full[got.size() - 1];
    ASSERT_EQ(last.depth, whole.depth) << n;
    ASSERT_EQ(firstWord(last.label), firstWord(whole.label)) << n;
  }
  EXPECT_EQ(BuildInProcess(Write(sample)).nodes, full);
}

TEST_F(HostileContent, HundredThousandNestedTags) {
  constexpr int kDepth = 100000;
  std::string body;
  for (int i = 0; i < kDepth; ++i)
    body += "<E>";
  body += "<L>x</L>";
  for (int i = 0; i < kDepth; ++i)
    body += "</E>";
  body += "<After/>";
  const QString path = Write(WithDeclaration(body));

  const auto start = std::chrono::steady_clock::now();
  const Built built = BuildInProcess(path);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  ASSERT_EQ(built.nodes.size(), size_t(kDepth + 2));
  // Containers stop at level 255; the leaf sits below the deepest one, and
  // the end tags bring the next element back to the top.
  EXPECT_EQ(built.nodes[kDepth].label, u"L = x");
  EXPECT_EQ(built.nodes[kDepth].depth, 256u);
  EXPECT_EQ(built.nodes[kDepth - 1].depth, 255u);
  EXPECT_EQ(built.nodes.back().label, u"After");
  EXPECT_EQ(built.nodes.back().depth, 1u);

  const ProcessResult cli = RunOutline({"--count", path}, 120000);
  ASSERT_TRUE(cli.finished);
  EXPECT_EQ(cli.out, QByteArray::number(kDepth + 2) + "\n");
  const ProcessResult hits =
      RunOutline({"--count", "--filter", "AFTER", path}, 120000);
  EXPECT_EQ(hits.out, "1\n");
}

// 50 MB in one value, one attribute text, one run of entities and one
// description: the label is exactly as long as the rules make it.
TEST_F(HostileContent, FiftyMegabyteTexts) {
  constexpr int kBig = 50 * 1000 * 1000;
  const std::string big(kBig, 'v');
  std::string amps;
  amps.reserve(kBig);
  for (int i = 0; i < kBig / 5; ++i)
    amps += "&amp;";
  const struct {
    const char *what;
    std::string body;
    size_t nodeIndex;
    size_t labelLength;
  } cases[] = {
      {"value", "<A>" + big + "</A>", 0, 4 + big.size()},
      {"attribute", "<A k=\"" + big + "\"/>", 0, 7 + 4 + big.size()},
      {"entities", "<A>" + amps + "</A>", 0, 4 + amps.size() / 5},
      {"description", "<DESC><p>" + big + "</p></DESC>", 1,
       3 + big.size() + 4 + 7},
  };
  for (const auto &c : cases) {
    const QString path = Write(WithDeclaration(c.body));
    const auto start = std::chrono::steady_clock::now();
    const Built built = BuildInProcess(path);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(120))
        << c.what;
    ASSERT_EQ(built.nodes.size(), c.nodeIndex + 1) << c.what;
    const std::u16string &label = built.nodes[c.nodeIndex].label;
    EXPECT_EQ(label.size(), c.labelLength) << c.what;
    EXPECT_TRUE(built.messages.empty()) << c.what;
    if (c.what == std::string("value")) {
      const ProcessResult cli = RunOutline({"--count", path}, 180000);
      ASSERT_TRUE(cli.finished);
      EXPECT_EQ(cli.out, "1\n");
    }
  }
}

} // namespace
} // namespace matrix
