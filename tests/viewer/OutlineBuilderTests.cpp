#include "viewer/OutlineBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using viewer::MessageIcon;
using viewer::NodeHandle;
using viewer::OutlineStore;

struct RecordingProgress : viewer::ProgressSink {
  void SetPosition(int p) override {
    if (p < 0 || p > 100)
      outOfRange = true;
    last = p;
    ++calls;
    if (throwAfter >= 0 && calls > throwAfter) {
      throwAfter = -1;
      throw std::runtime_error("progress failed");
    }
  }
  void SetVisible(bool v) override { visible = v; }
  int last = -1;
  int calls = 0;
  int throwAfter = -1;
  bool visible = false;
  bool outOfRange = false;
};

struct RecordingBusy : viewer::BusyIndicator {
  void SetBusy(bool b) override {
    busy = b;
    ++switches;
  }
  bool busy = false;
  int switches = 0;
};

struct RecordingMessages : viewer::MessageSink {
  void ShowMessage(const QString &text, const QString &caption,
                   MessageIcon icon) override {
    shown.push_back((text + "|" + caption).toStdString());
    lastIcon = icon;
  }
  std::vector<std::string> shown;
  MessageIcon lastIcon = MessageIcon::Information;
};

const char kDeclaration[] = "<?xml version=\"1.0\"?>";

class OutlineBuilderTest : public ::testing::Test {
protected:
  QString Write(const std::string &name, const std::string &bytes) {
    const QString path = dir.filePath(QString::fromStdString(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
  }

  // Builds the outline of `body` placed after a 21-byte declaration.
  std::string Outline(const std::string &body) {
    return BuildFile(Write("in.xml", std::string(kDeclaration) + "\n" + body));
  }

  std::string BuildFile(const QString &path) {
    cvexString p;
    p.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
    viewer::BuildOutline(p, store, progress, busy, messages);
    return Render();
  }

  // One line per node: indent by depth, image, label.
  std::string Render() {
    std::string out;
    for (uint32_t i = 0; i < store.GetCount(); ++i) {
      const NodeHandle n = store.GetNodeFromIndex(i);
      out += std::string(2 * (store.Depth(n) - 1), ' ');
      out += std::to_string(store.ImageIndex(n)) + " ";
      out += store.GetText(n).toQString().toStdString() + "\n";
    }
    return out;
  }

  QTemporaryDir dir;
  OutlineStore store;
  RecordingProgress progress;
  RecordingBusy busy;
  RecordingMessages messages;
};

TEST_F(OutlineBuilderTest, LabelsAndImagesOfContainersAndLeaves) {
  struct Case {
    const char *body;
    const char *outline;
  } cases[] = {
      {"<A x=\"1\">t</A>", "0 A = t **** x=\"1\"\n"},
      {"<A><B>t</B></A>", "2 A\n  0 B = t\n"},
      {"<A/>", "0 A\n"},
      {"<A></A>", "0 A\n"},
      {"<A k=\"v\"/>", "0 A **** k=\"v\"\n"},
      {"<A k=\"v\"><B/></A>", "2 A **** k=\"v\"\n  0 B\n"},
      {"<A>x &amp; y</A>", "0 A = x & y\n"},
      {"<DESC>Hello</DESC>", "0 DESC = Hello\n"},
      {"<A><!-- note --><B/></A>", "2 A\n  0 B\n"},
      {"</X><A/>", "0 A\n"},
      {"<A></B></C><D/>", "0 A\n0 D\n"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Outline(c.body), c.outline) << c.body;
    EXPECT_TRUE(messages.shown.empty());
  }
}

TEST_F(OutlineBuilderTest, DescriptionContentsBecomeOneRawTextNode) {
  struct Case {
    const char *body;
    const char *outline;
  } cases[] = {
      {"<DESC><p>Hi</p></DESC>", "2 DESC\n  0 <p>Hi</p></DESC>\n"},
      // Entities stay as written; elements after it come back at DESC level.
      {"<R><DESC><p>a &amp; b</p></DESC><N>v</N></R>",
       "2 R\n  2 DESC\n    0 <p>a &amp; b</p></DESC>\n  0 N = v\n"},
      // A second DESC start tag moves the capture start; one end tag ends it.
      {"<DESC><p>a</p><DESC><q>b</q></DESC><Z/>",
       "2 DESC\n  0 <q>b</q></DESC>\n0 Z\n"},
      // Attributes on the DESC start tag.
      {"<DESC TI=\"x\"><p>y</p></DESC>",
       "2 DESC **** TI=\"x\"\n  0 <p>y</p></DESC>\n"},
      // A DESC end tag before any DESC start tag makes no text node.
      {"<A><B><X/></DESC><C/>", "2 A\n  2 B\n    0 X\n  0 C\n"},
      // Never closed: nothing after the start tag makes a node.
      {"<R><DESC><p>x</p><Q/>", "2 R\n  2 DESC\n"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Outline(c.body), c.outline) << c.body;
}

TEST_F(OutlineBuilderTest, DepthIsClampedAt255) {
  for (int n : {255, 256, 300}) {
    std::string body;
    for (int i = 0; i < n; ++i)
      body += "<E" + std::to_string(i) + ">";
    body += "<L/>";
    Outline(body);
    ASSERT_EQ(store.GetCount(), static_cast<uint32_t>(n + 1)) << n;
    uint32_t maxContainerDepth = 0;
    for (uint32_t i = 0; i < store.GetCount(); ++i)
      if (store.ImageIndex(i) == 2)
        maxContainerDepth = std::max(maxContainerDepth, store.Depth(i));
    EXPECT_EQ(maxContainerDepth, 255u) << n;
    // The leaf goes under the deepest open container.
    EXPECT_EQ(store.Depth(store.GetCount() - 1), 256u) << n;
    if (n >= 256) {
      // The 256th start tag sits beside the level-255 node.
      EXPECT_EQ(store.Depth(255), 255u);
      EXPECT_EQ(store.Parent(255), store.Parent(254));
    }
  }
}

TEST_F(OutlineBuilderTest, RestoresSurroundingsAndReportsProgress) {
  Outline("<A><B>t</B><!-- c --></A>");
  EXPECT_EQ(progress.last, 100);
  EXPECT_FALSE(progress.visible);
  EXPECT_FALSE(progress.outOfRange);
  // position 0 at the start, one per token (4), 100 at the end
  EXPECT_EQ(progress.calls, 6);
  EXPECT_FALSE(busy.busy);
  EXPECT_EQ(busy.switches, 2);
  EXPECT_FALSE(store.IsUpdating());
}

TEST_F(OutlineBuilderTest, UnopenableFileShowsOneMessageAndLeavesTreeEmpty) {
  Outline("<A/>");
  ASSERT_EQ(store.GetCount(), 1u);
  for (const QString &path :
       {dir.filePath("missing.odx"), QString(), dir.path()}) {
    messages.shown.clear();
    BuildFile(path);
    EXPECT_EQ(store.GetCount(), 0u);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], "Could not open file.|Kestrane ODX Parser");
    EXPECT_EQ(messages.lastIcon, MessageIcon::None);
    EXPECT_FALSE(progress.visible);
    EXPECT_FALSE(busy.busy);
    EXPECT_FALSE(store.IsUpdating());
  }
}

TEST_F(OutlineBuilderTest, ExceptionLeavesNothingInUpdateMode) {
  progress.throwAfter = 3;
  EXPECT_THROW(Outline("<A><B/><C/><D/><E/></A>"), std::runtime_error);
  EXPECT_FALSE(store.IsUpdating());
  EXPECT_FALSE(progress.visible);
  EXPECT_FALSE(busy.busy);
  EXPECT_EQ(Outline("<A/>"), "0 A\n");
}

TEST_F(OutlineBuilderTest, SecondRunReplacesTheFirstAndStalesOldRefs) {
  const std::string once = Outline("<A><B>t</B></A>");
  const viewer::NodeRef old = store.Ref(1);
  EXPECT_EQ(Outline("<A><B>t</B></A>"), once);
  EXPECT_FALSE(store.IsLive(old));
}

TEST_F(OutlineBuilderTest, BytesBecomeUnitsOneToOneAndNulEndsALabel) {
  // UTF-8 e-acute arrives as two units; a NUL byte cuts the value short.
  std::string body = "<A>\xC3\xA9</A><B>x";
  body += '\0';
  body += "y</B>";
  Outline(body);
  ASSERT_EQ(store.GetCount(), 2u);
  const viewer::LabelView a = store.GetText(0);
  ASSERT_EQ(a.length, 6u);
  EXPECT_EQ(a.toQString(), QString::fromUtf16(u"A = \u00C3\u00A9"));
  EXPECT_EQ(store.GetText(1).toQString(), "B = x");
}

TEST_F(OutlineBuilderTest, CorpusFilesBuildWithoutMessages) {
  const QDir corpus(ODX_CORPUS_DIR);
  const QStringList files = corpus.entryList({"*.odx*", "*.xml"}, QDir::Files);
  ASSERT_FALSE(files.isEmpty());
  for (const QString &f : files) {
    BuildFile(corpus.filePath(f));
    EXPECT_GT(store.GetCount(), 1u) << f.toStdString();
    EXPECT_TRUE(messages.shown.empty()) << f.toStdString();
  }
}

} // namespace
