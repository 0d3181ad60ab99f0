// Search terms with quotes, line breaks, tabs, characters beyond Latin-1,
// surrogates and NUL, in process and as a command-line argument.

#include "outline/FilterSearch.h"
#include "tests/matrix/MatrixSupport.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace matrix {
namespace {

using namespace std::string_literals;
using Hits = std::vector<uint32_t>;

// Node indexes (pre-order) of the outline below:
//  0 R   1 Q = say "hi" to 'them'   2 S = x **** k="a b"   3 DESC
//  4 <p>line one\nline two</p></DESC>   5 T = tab\there   6 U = ÉtÉ
//  7 K = \u212Aelvin (Kelvin sign)   8 I = \u0130stanbul   9 G = 😀 grin
// 10 N = café (UTF-8 in the file, one unit in the label)
const char kDocument[] =
    "<R><Q>say \"hi\" to 'them'</Q><S k=\"a b\">x</S>"
    "<DESC><p>line one\nline two</p></DESC><T>tab\there</T>"
    "<U>&#x00C9;t&#x00C9;</U><K>&#x212A;elvin</K><I>&#x0130;stanbul</I>"
    "<G>&#xD83D;&#xDE00; grin</G><N>caf\xC3\xA9</N></R>";

Hits SearchInProcess(outline::OutlineStore &items, const std::u16string &term) {
  cvexString text; // holds the term past any NUL in it
  text.SetCapacity(int32_t(term.size()) + 1, false);
  std::copy(term.begin(), term.end(), text.buffer);
  text.Terminate(int32_t(term.size()));
  outline::OutlineStore results;
  outline::RecordingSurroundings around;
  outline::FilterSearch(text, items, results, around);
  Hits hits;
  for (uint32_t i = 0; i < results.GetCount(); ++i)
    hits.push_back(outline::ResultTarget(results, i, items));
  return hits;
}

Hits SearchOnCommandLine(const QString &path, const std::u16string &term) {
  const ProcessResult cli =
      RunOutline({"--json", "--filter", QString::fromStdU16String(term), path});
  EXPECT_TRUE(cli.finished && cli.exitCode == 0);
  Hits hits;
  static const QRegularExpression index(R"(^\{"index":(\d+),)");
  for (const QByteArray &line : cli.out.split('\n')) {
    const QRegularExpressionMatch m = index.match(QString::fromUtf8(line));
    if (m.hasMatch())
      hits.push_back(m.captured(1).toUInt());
  }
  return hits;
}

TEST(SearchText, AwkwardTermsFindExactlyTheirNodes) {
  QTemporaryDir dir;
  const QString path = dir.filePath("search.odx");
  WriteAll(path, WithDeclaration(kDocument));
  outline::OutlineStore items;
  BuildInProcess(path, &items);
  ASSERT_EQ(items.GetCount(), 11u);

  const struct {
    std::u16string term;
    Hits hits;
    bool onCommandLine; // representable as a UTF-8 argument
  } cases[] = {
      {u"\"hi\"", {1}, true},
      {u"'THEM'", {1}, true},
      {u"k=\"a b\"", {2}, true},
      {u"line one\nLINE", {4}, true},
      {u"tab\t", {5}, true},
      {u"\u00E9t\u00C9", {6}, true},
      {u"kelvin", {7}, true},      // the Kelvin sign lowers to 'k'
      {u"\u212AELVIN", {7}, true}, // and so does the term's
      // The dotted capital I lowers to a plain i by its simple mapping.
      {u"istanbul", {8}, true},
      {u"\u0130STANBUL", {8}, true},
      {u"\U0001F600 GRIN", {9}, true}, // a surrogate pair
      {u"CAF\u00C9", {10}, true},      // the file's UTF-8 is one unit
      {u"caf\u00E3\u00A9", {}, true},
      {u" = ", {1, 2, 5, 6, 7, 8, 9, 10}, true},
      {u"</DESC>", {4}, true},
      {u"say\0zzz"s, {1}, false},    // the term ends at its NUL
      {u"\xD83D"s, {9}, false},      // a lone high surrogate
      {u"\xDE00 grin"s, {9}, false}, // a lone low surrogate
      {std::u16string(300, u'x'), {}, true},
  };
  for (const auto &c : cases) {
    const std::string what = QString::fromStdU16String(c.term).toStdString();
    EXPECT_EQ(SearchInProcess(items, c.term), c.hits) << what;
    if (c.onCommandLine) {
      EXPECT_EQ(SearchOnCommandLine(path, c.term), c.hits) << what;
    }
  }
}

} // namespace
} // namespace matrix
