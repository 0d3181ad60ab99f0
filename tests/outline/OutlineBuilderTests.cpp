#include "outline/DatabaseFiles.h"
#include "outline/OutlineBuilder.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <string>

namespace outline {
namespace {

class OutlineBuilderTest : public ::testing::Test {
protected:
  // The outline of `body` placed after a 21-byte declaration; read from
  // memory in pieces cut at every byte, it must come out the same.
  std::string Outline(const std::string &body) {
    const QString path = dir.filePath("in.xml");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray bytes = ("<?xml version=\"1.0\"?>\n" + body).c_str();
    f.write(bytes);
    f.close();
    const std::string whole = BuildFile(path);
    ExpectSameWhereverCut(bytes, whole);
    return whole;
  }

  // A small buffer and short reads after the cut, so that tokens, texts,
  // descriptions and wide characters all straddle reads.
  void ExpectSameWhereverCut(const QByteArray &bytes,
                             const std::string &whole) {
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    for (std::size_t cut = 1; cut <= std::size_t(bytes.size());
         cut += cut < 512 ? 1 : 7) {
      BuildOutlineFromBytes({data, std::size_t(bytes.size())}, cutStore,
                            cutAround, cutAround, ReadShape{cut, 5, 64});
      EXPECT_EQ(Lines(cutStore), whole) << "cut at " << cut;
    }
  }

  std::string BuildFile(const QString &path) {
    cvexString p;
    p.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
    status = BuildOutline(p, store, around, around);
    return Lines(store);
  }

  // One line per node: indent by depth, image, label, and the store's note
  // if any (" @N": the attributes start at unit N; " @raw": raw text).
  static std::string Lines(const OutlineStore &store) {
    std::string out;
    for (uint32_t i = 0; i < store.GetCount(); ++i) {
      out += std::string(2 * (store.Depth(i) - 1), ' ') +
             std::to_string(store.ImageIndex(i)) + " " +
             store.GetText(i).toQString().toStdString();
      if (const auto *note = store.FindLabelNote(i))
        out += note->attributeStart == OutlineStore::kRawText ? " @raw"
               : note->attributeStart == OutlineStore::kMember
                   ? " @member"
                   : " @" + std::to_string(note->attributeStart);
      out += "\n";
    }
    return out;
  }

  QTemporaryDir dir;
  BuildStatus status = BuildStatus::Built;
  OutlineStore store;
  OutlineStore cutStore;
  RecordingSurroundings cutAround;
  RecordingSurroundings around;
};

TEST_F(OutlineBuilderTest, ContainersLeavesAndDescriptions) {
  const struct {
    const char *body;
    const char *outline;
  } cases[] = {
      {"<A x=\"1\">t</A>", "0 A = t **** x=\"1\" @11\n"},
      // Value and attributes may both hold the separator; the note tells.
      {"<A x=\" **** \">a **** b</A>",
       "0 A = a **** b **** x=\" **** \" @18\n"},
      {"<A><B>t</B></A>", "2 A\n  0 B = t\n"},
      {"<A/>", "0 A\n"},
      {"<A></A>", "0 A\n"},
      {"<A k=\"v\"/>", "0 A **** k=\"v\"\n"},
      {"<A k=\"v\"><B/></A>", "2 A **** k=\"v\"\n  0 B\n"},
      {"<A>x &amp; y</A>", "0 A = x & y\n"},
      {"<A><!-- note --><B/></A>", "2 A\n  0 B\n"},
      // End tags with nothing open leave the next element at the top.
      {"</X><A/>", "0 A\n"},
      {"<A></B></C><D/>", "0 A\n0 D\n"},
      // A description with only text is an ordinary leaf.
      {"<DESC>Hello</DESC>", "0 DESC = Hello\n"},
      {"<DESC><p>Hi</p></DESC>", "2 DESC\n  0 <p>Hi</p></DESC>\n"},
      // Entities stay as written; elements after it come back at DESC level.
      {"<R><DESC><p>a &amp; b</p></DESC><N>v</N></R>",
       "2 R\n  2 DESC\n    0 <p>a &amp; b</p></DESC>\n  0 N = v\n"},
      // A second DESC start tag moves the capture start; one end tag ends it.
      {"<DESC><p>a</p><DESC><q>b</q></DESC><Z/>",
       "2 DESC\n  0 <q>b</q></DESC>\n0 Z\n"},
      // Its second end tag makes raw text outside any DESC element.
      {"<R><DESC><DESC><b/></DESC><A><!--c--></DESC></A></R>",
       "2 R\n  2 DESC\n    0 <b/></DESC>\n  2 A\n    0 <b/></DESC><A><!--c-->"
       "</DESC> @raw\n"},
      {"<DESC TI=\"x\"><p>y</p></DESC>",
       "2 DESC **** TI=\"x\"\n  0 <p>y</p></DESC>\n"},
      // An end tag named "DESC " is not a DESC end tag.
      {"<R><DESC><p>a</p></DESC ><B/></DESC><C/></R>",
       "2 R\n  2 DESC\n    0 <p>a</p></DESC ><B/></DESC>\n  0 C\n"},
      // A DESC end tag before any DESC start tag makes no text node.
      {"<A><B><X/></DESC><C/>", "2 A\n  2 B\n    0 X\n  0 C\n"},
      // Never closed: nothing after the start tag makes a node.
      {"<R><DESC><p>x</p><Q/>", "2 R\n  2 DESC\n"},
      // Processing instructions and document types open no level.
      {"<?CANdelaTemplate 36?><A><B/></A>",
       "0 ?CANdelaTemplate **** 36?\n2 A\n  0 B\n"},
      {"<!DOCTYPE ODX><A><?pi?><B/></A>",
       "0 !DOCTYPE **** ODX\n2 A\n  0 ?pi?\n  0 B\n"},
      {"<DESC><?pi?><p/></DESC><A/>", "2 DESC\n  0 <?pi?><p/></DESC>\n0 A\n"},
      // Texts are read as UTF-8, descriptions included.
      {"<U A=\"\xC2\xB0\">\xC2\xB0"
       "C &#x00C3;&#x00A9;</U>",
       "0 U = \xC2\xB0"
       "C \xC3\x83\xC2\xA9 **** A=\"\xC2\xB0\" @15\n"},
      {"<DESC><p>H\xC3\xA4ge \xE2\x80\x93</p></DESC>",
       "2 DESC\n  0 <p>H\xC3\xA4ge \xE2\x80\x93</p></DESC>\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Outline(c.body), c.outline) << c.body;
  EXPECT_EQ(status, BuildStatus::Built);
}

// Whole files: no declaration, a byte-order mark, UTF-16 in both orders.
TEST_F(OutlineBuilderTest, FilesWithoutADeclarationOrInUtf16) {
  const std::string expected = "2 ODX\n  0 A = \xC3\xA4\n";
  const QString text = QStringLiteral("<ODX><A>\u00E4</A></ODX>");
  const struct {
    const char *name;
    QByteArray bytes;
  } files[] = {
      {"plain", text.toUtf8()},
      {"marked", "\xEF\xBB\xBF" + text.toUtf8()},
      {"declared",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + text.toUtf8()},
      {"latin1", "<?xml encoding='latin1'?><ODX><A>\xE4</A></ODX>"},
      {"utf16le", QByteArray("\xFF\xFE") +
                      QByteArray(reinterpret_cast<const char *>(text.utf16()),
                                 text.size() * 2)},
      {"utf16be", QStringEncoder(QStringConverter::Utf16BE,
                                 QStringConverter::Flag::WriteBom)(text)},
      {"utf32le", QStringEncoder(QStringConverter::Utf32LE)(text)},
  };
  for (const auto &f : files) {
    const QString path = dir.filePath(f.name);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(f.bytes);
    file.close();
    EXPECT_EQ(BuildFile(path), expected) << f.name;
    ExpectSameWhereverCut(f.bytes, expected);
  }
}

// The top-level labels of a package's outline, one line each, or the
// status when it does not open.
std::string TopLevel(const OutlineStore &store) {
  std::string out;
  for (NodeHandle n = 0; n < store.GetCount(); ++n)
    if (store.Parent(n) == kNoNode)
      out += std::to_string(store.ImageIndex(n)) + " " +
             store.GetText(n).toQString().toStdString() + "\n";
  return out;
}

TEST_F(OutlineBuilderTest, PackagesShowEveryMemberOrRefuseAsAWhole) {
  const QString dirPath = QStringLiteral(ODX_TEST_PACKAGES);
  const struct {
    const char *file;
    BuildStatus status;
    const char *top; // top-level nodes, or a prefix of them
  } cases[] = {
      {"plain.pdx", BuildStatus::Built,
       "2 index.xml\n2 a.odx-d\n2 dir/B.ODX-CS\n2 a.odx-d\n"
       "0 jobs.py (9 bytes)\n2 stored.xml\n0 inner.pdx (173 bytes)\n"
       "2 zipped.odx\n0 x.odx- (58 bytes)\n0 y.odx-d1 (58 bytes)\n"
       "2 empty.xml\n"},
      {"members.pdx", BuildStatus::Built,
       "0 bomb.xml (unreadable)\n0 short.xml (unreadable)\n"
       "0 crc.xml (unreadable)\n0 crc-stored.xml (unreadable)\n"
       "0 encrypted.xml (unreadable)\n0 method.xml (unreadable)\n"
       "0 claims.xml (unreadable)\n0 bzip2.xml (unreadable)\n"
       "0 stored-lie.xml (unreadable)\n0 garbled.xml (unreadable)\n"
       "0 local-header.xml (unreadable)\n2 ok.xml\n"
       "0 archive-lie.xml (unreadable)\n"},
      {"zip64.pdx", BuildStatus::Built, "2 a.xml\n2 b.odx\n"},
      {"empty.pdx", BuildStatus::Built, ""},
      {"not-a-zip.pdx", BuildStatus::Built, "2 ODX **** VERSION=\"2.2.0\"\n"},
      {"cd-outside.pdx", BuildStatus::CouldNotOpen, ""},
      {"bad-utf8.pdx", BuildStatus::CouldNotOpen, ""},
      {"too-large.pdx", BuildStatus::TooLarge, ""},
  };
  for (const auto &c : cases) {
    BuildFile(dirPath + "/" + c.file);
    EXPECT_EQ(status, c.status) << c.file;
    EXPECT_EQ(TopLevel(store), c.top) << c.file;
    EXPECT_TRUE(around.Restored()) << c.file;
  }
  // A member's outline hangs below its node, one level deeper.
  BuildFile(dirPath + "/plain.pdx");
  EXPECT_EQ(store.Depth(1), 2u);
  EXPECT_EQ(store.GetText(1).toQString(), "ODX **** VERSION=\"2.2.0\"");

  // Cut short anywhere, the central directory is gone: the whole package
  // is refused.
  QFile whole(dirPath + "/plain.pdx");
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  for (int percent : {25, 50, 99}) {
    QFile cut(dir.filePath("cut.pdx"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() * percent / 100));
    cut.close();
    BuildFile(cut.fileName());
    EXPECT_EQ(status, BuildStatus::CouldNotOpen) << percent;
  }
  BuildFile(dirPath + "/many.pdx");
  EXPECT_EQ(store.GetCount(), 200'000u);
}

TEST_F(OutlineBuilderTest, DepthIsClampedAt255) {
  for (int n : {255, 256, 300}) {
    std::string body;
    for (int i = 0; i < n; ++i)
      body += "<E" + std::to_string(i) + ">";
    Outline(body + "<L/>");
    ASSERT_EQ(store.GetCount(), uint32_t(n + 1)) << n;
    uint32_t maxContainerDepth = 0;
    for (uint32_t i = 0; i < store.GetCount(); ++i)
      if (store.ImageIndex(i) == 2)
        maxContainerDepth = std::max(maxContainerDepth, store.Depth(i));
    EXPECT_EQ(maxContainerDepth, 255u) << n;
    // The leaf goes under the deepest open container.
    EXPECT_EQ(store.Depth(store.GetCount() - 1), 256u) << n;
    if (n >= 256) { // the 256th start tag sits beside the level-255 node
      EXPECT_EQ(store.Depth(255), 255u);
      EXPECT_EQ(store.Parent(255), store.Parent(254));
    }
  }
}

TEST_F(OutlineBuilderTest, RestoresSurroundingsAndReportsProgress) {
  Outline("<A><B>t</B><!-- c --></A>");
  EXPECT_EQ(around.lastPosition, 100);
  // position 0 at the start, one per token (4), 100 at the end
  EXPECT_EQ(around.positions, 6);
  EXPECT_EQ(around.busy, (std::vector<bool>{true, false}));
  EXPECT_TRUE(around.Restored());
  EXPECT_FALSE(store.IsUpdating());
}

TEST_F(OutlineBuilderTest, UnopenableFileReportsItAndLeavesTreeEmpty) {
  Outline("<A/>");
  ASSERT_EQ(store.GetCount(), 1u);
  for (const QString &path :
       {dir.filePath("missing.odx"), QString(), dir.filePath("no folder/")}) {
    BuildFile(path);
    EXPECT_EQ(store.GetCount(), 0u);
    EXPECT_EQ(status, BuildStatus::CouldNotOpen);
    EXPECT_TRUE(around.Restored());
    EXPECT_FALSE(store.IsUpdating());
  }
}

// A folder opens as one database: its ODX files by the bytes of their
// names, each a top-level node; the rest of the folder is left out.
TEST_F(OutlineBuilderTest, FolderOpensItsFilesAsOneOutline) {
  QDir folder(dir.path());
  ASSERT_TRUE(folder.mkdir("db") && folder.cd("db"));
  const std::pair<const char *, const char *> files[] = {
      {"b.odx", "<A/>"},
      {"a.ODX-D", "<B><C/></B>"},
      {"Z.odx-cs", "<Z/>"},
      {"d.pdx", "<D/>"}, // a PDX by name only
      {"k.pdx", "PK\x03\x04 damaged"},
      {"g.xml", ""},
      {"notes.txt", "<N/>"},
      {"x.odx-", "<X/>"},
      {"y.odx-d1", "<Y/>"}};
  for (const auto &[name, body] : files) {
    QFile f(folder.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(body);
  }
  ASSERT_TRUE(folder.mkdir("sub.odx"));
  ASSERT_TRUE(QFile::link(folder.filePath("gone"), folder.filePath("l.odx")));
  ASSERT_TRUE(QFile::link(folder.filePath("b.odx"), folder.filePath("m.xml")));
  const std::string expected = "2 Z.odx-cs @member\n  0 Z\n"
                               "2 a.ODX-D @member\n  2 B\n    0 C\n"
                               "2 b.odx @member\n  0 A\n"
                               "2 d.pdx @member\n  0 D\n"
                               "2 g.xml @member\n"
                               "0 k.pdx (unreadable) @member\n"
                               "2 m.xml @member\n  0 A\n";
  EXPECT_EQ(BuildFile(folder.path()), expected);
  EXPECT_EQ(status, BuildStatus::Built);
  EXPECT_TRUE(store.IsPackage());
  // Named one by one, in any order, the same files give the same outline.
  std::vector<QString> paths;
  // One that vanished since it was listed is unreadable too.
  for (const char *name : {"m.xml", "k.pdx", "g.xml", "d.pdx", "b.odx",
                           "a.ODX-D", "Z.odx-cs", "gone.odx"})
    paths.push_back(folder.filePath(name));
  SortByFileName(paths);
  BuildOutlineFromFiles(paths, store, around, around);
  std::string again;
  for (uint32_t i = 0; i < store.GetCount(); ++i)
    again += store.GetText(i).toQString().toStdString() + "\n";
  EXPECT_EQ(again, "Z.odx-cs\nZ\na.ODX-D\nB\nC\nb.odx\nA\nd.pdx\nD\ng.xml\n"
                   "gone.odx (unreadable)\nk.pdx (unreadable)\nm.xml\nA\n");
  // Ten thousand files make ten thousand nodes and their outlines.
  ASSERT_TRUE(folder.mkdir("many"));
  for (int i = 0; i < 10000; ++i) {
    QFile f(folder.filePath(QString("many/f%1.odx").arg(i, 5, 10, QChar('0'))));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<A/>");
  }
  BuildFile(folder.filePath("many"));
  EXPECT_EQ(store.GetCount(), 20000u);
  EXPECT_EQ(store.GetText(19998).toQString(), "f09999.odx");
  ASSERT_TRUE(folder.mkdir("empty"));
  BuildFile(folder.filePath("empty"));
  EXPECT_EQ(status, BuildStatus::Empty);
  EXPECT_EQ(store.GetCount(), 0u);
  EXPECT_TRUE(around.Restored());
}

TEST_F(OutlineBuilderTest, ExceptionLeavesNothingInUpdateMode) {
  around.throwAfter = 3;
  EXPECT_THROW(Outline("<A><B/><C/><D/><E/></A>"), std::runtime_error);
  EXPECT_FALSE(store.IsUpdating());
  EXPECT_TRUE(around.Restored());
  EXPECT_EQ(Outline("<A/>"), "0 A\n");
}

TEST_F(OutlineBuilderTest, SecondRunReplacesTheFirstAndStalesOldRefs) {
  const std::string once = Outline("<A><B>t</B></A>");
  const NodeRef old = store.Ref(1);
  EXPECT_EQ(Outline("<A><B>t</B></A>"), once);
  EXPECT_FALSE(store.IsLive(old));
}

} // namespace
} // namespace outline
