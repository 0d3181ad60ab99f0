// Hostile file contents through the builder in process: every cut of a
// real file, and sizes far beyond what real files have.

#include "tests/matrix/MatrixSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace matrix {
namespace {

class HostileContent : public ::testing::Test {
protected:
  QString Write(const QByteArray &bytes) {
    const QString path = dir.filePath("in.odx");
    WriteAll(path, bytes);
    return path;
  }

  QTemporaryDir dir;
};

// Cutting a file only ever loses its tail: every node but the prefix's last
// is the full file's node at the same place, and the last one has the same
// depth and element name (a start tag whose text was cut off shows as a
// container).  Checked in process, under the sanitizers, for every prefix.
TEST_F(HostileContent, EveryPrefixOfTheSampleLosesOnlyItsTail) {
  const QByteArray sample = ReadAll(ODX_SOURCE_DIR "/samples/engine-ecu.odx");
  ASSERT_GT(sample.size(), 1000);
  const std::vector<Node> full = BuildInProcess(Write(sample)).nodes;
  ASSERT_GT(full.size(), 10u);
  auto firstWord = [](const std::u16string &s) {
    return s.substr(0, s.find(u' '));
  };
  for (qsizetype n = 0; n < sample.size(); ++n) {
    const Built built = BuildInProcess(Write(sample.left(n)));
    ASSERT_EQ(built.status, n == 0 ? outline::BuildStatus::Empty
                                   : outline::BuildStatus::Built)
        << n;
    ASSERT_TRUE(built.surroundingsRestored) << n;
    const std::vector<Node> &got = built.nodes;
    ASSERT_LE(got.size(), full.size()) << n;
    if (got.empty())
      continue;
    for (size_t i = 0; i + 1 < got.size(); ++i)
      ASSERT_EQ(got[i], full[i]) << "prefix " << n << " node " << i;
    ASSERT_EQ(got.back().depth, full[got.size() - 1].depth) << n;
    ASSERT_EQ(firstWord(got.back().label),
              firstWord(full[got.size() - 1].label))
        << n;
  }
}

// Nesting far beyond the depth limit must neither recurse nor slow down.
TEST_F(HostileContent, HundredThousandNestedTags) {
  constexpr int kDepth = 100000;
  std::string body;
  for (int i = 0; i < kDepth; ++i)
    body += "<E>";
  body += "<L>x</L>";
  for (int i = 0; i < kDepth; ++i)
    body += "</E>";
  body += "<After/>";
  const auto start = std::chrono::steady_clock::now();
  const Built built = BuildInProcess(Write(WithDeclaration(body)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  ASSERT_EQ(built.nodes.size(), size_t(kDepth + 2));
  // Containers stop at level 255; the leaf sits below the deepest one, and
  // the end tags bring the next element back to the top.
  EXPECT_EQ(built.nodes[kDepth].label, u"L = x");
  EXPECT_EQ(built.nodes[kDepth].depth, 256u);
  EXPECT_EQ(built.nodes[kDepth - 1].depth, 255u);
  EXPECT_EQ(built.nodes.back().label, u"After");
  EXPECT_EQ(built.nodes.back().depth, 1u);
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
    const auto start = std::chrono::steady_clock::now();
    const Built built = BuildInProcess(Write(WithDeclaration(c.body)));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(120))
        << c.what;
    ASSERT_EQ(built.nodes.size(), c.nodeIndex + 1) << c.what;
    EXPECT_EQ(built.nodes[c.nodeIndex].label.size(), c.labelLength) << c.what;
    EXPECT_EQ(built.status, outline::BuildStatus::Built) << c.what;
  }
}

} // namespace
} // namespace matrix
