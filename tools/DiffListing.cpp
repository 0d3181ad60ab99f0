#include "tools/DiffListing.h"

#include "compare/ChangeList.h"
#include "compare/Comparison.h"
#include "foundation/cvexString.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"
#include "platform/FileHandle.h"
#include "platform/FileName.h"
#include "platform/Folder.h"
#include "platform/Utf8.h"
#include "tools/OutlineWriter.h"

#include <QString>

#include <cstdio>
#include <future>
#include <string>

// The change list on standard output: "+ PATH", "- PATH",
// "~ PATH: OLD-LABEL -> NEW-LABEL", "= PATH: was OLD-NAME", or JSON Lines,
// or one count per kind.

namespace tools {
namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;

using outline::Quiet;

struct Opened {
  outline::BuildStatus status = outline::BuildStatus::CouldNotOpen;
  cvexString path;
  std::u16string fileName;
};

void Open(const char *file, outline::OutlineStore &store, Opened &out) {
  const QString path = platform::DecodeFileName(file);
  out.path.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
  out.fileName =
      path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toStdU16String();
  Quiet quiet;
  out.status = outline::BuildOutline(out.path, store, quiet, quiet);
}

bool Failed(const char *file, const Opened &o) {
  if (o.status == outline::BuildStatus::Empty)
    std::fprintf(stderr, "odx-outline: %s: %s\n", file,
                 platform::IsFolder(o.path.buffer) ? "holds no ODX files"
                                                   : "the file is empty");
  if (o.status != outline::BuildStatus::CouldNotOpen &&
      o.status != outline::BuildStatus::TooLarge)
    return false;
  std::fprintf(stderr, "Could not open file.\nodx-outline: %s: %s\n", file,
               platform::DescribeOpenFailure(
                   o.path.buffer, o.status == outline::BuildStatus::TooLarge));
  return true;
}

LabelView ViewOf(const std::u16string &s) {
  LabelView v;
  v.wide = s.data();
  v.length = static_cast<uint32_t>(s.size());
  return v;
}

const char *KindName(compare::ChangeKind kind) {
  switch (kind) {
  case compare::ChangeKind::Added:
    return "added";
  case compare::ChangeKind::Removed:
    return "removed";
  case compare::ChangeKind::Changed:
    return "changed";
  case compare::ChangeKind::Renamed:
    return "renamed";
  }
  return "";
}

class Printer {
public:
  Printer(const compare::Comparison &diff, const outline::OutlineStore &olds,
          const outline::OutlineStore &news, bool json, OutlineWriter &out)
      : diff_(diff), old_(olds), new_(news), json_(json), out_(out) {}

  void operator()(const compare::Change &c) {
    if (!json_)
      return Text(c);
    const bool removed = c.kind == compare::ChangeKind::Removed;
    Json(c, removed ? diff_.Path(compare::Side::Old, c.oldNode)
                    : diff_.Path(compare::Side::New, c.newNode));
  }

private:
  void Index(NodeHandle node, const outline::OutlineStore &store) {
    out_.Raw(node < store.GetCount() ? std::to_string(node) : "null");
  }
  void JsonLabelOrNull(NodeHandle node, const outline::OutlineStore &store) {
    if (node < store.GetCount())
      out_.JsonLabel(store.GetText(node));
    else
      out_.Raw("null");
  }
  void Json(const compare::Change &c, const std::u16string &path) {
    out_.Raw("{\"change\":\"");
    out_.Raw(KindName(c.kind));
    out_.Raw("\",\"old\":");
    Index(c.oldNode, old_);
    out_.Raw(",\"new\":");
    Index(c.newNode, new_);
    out_.Raw(",\"path\":");
    out_.JsonLabel(ViewOf(path));
    out_.Raw(",\"old_label\":");
    JsonLabelOrNull(c.oldNode, old_);
    out_.Raw(",\"new_label\":");
    JsonLabelOrNull(c.newNode, new_);
    out_.Raw("}\n");
  }
  void Text(const compare::Change &c) {
    // The same line the window copies; valid UTF-16 (lone surrogates come
    // escaped), written as UTF-8.
    const std::u16string line = compare::ChangeLine(diff_, old_, new_, c);
    std::string bytes;
    bytes.reserve(line.size() + 1);
    for (std::size_t i = 0; i < line.size(); ++i) {
      char32_t u = line[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < line.size())
        u = 0x10000 + ((u - 0xD800) << 10) + (line[++i] - 0xDC00);
      platform::AppendUtf8(bytes, u);
    }
    bytes.push_back('\n');
    out_.Raw(bytes);
  }

  const compare::Comparison &diff_;
  const outline::OutlineStore &old_;
  const outline::OutlineStore &new_;
  bool json_;
  OutlineWriter &out_;
};

} // namespace

int RunDiff(const DiffRequest &request) {
  outline::OutlineStore olds, news;
  const odx::OdxIndex oldIndex(olds), newIndex(news);
  Opened o, n;
  // Each side builds its outline and then its index, side by side on two
  // cores; the index is read now, while the other side may still build.
  auto oldBuild = std::async(std::launch::async, [&] {
    Open(request.oldPath, olds, o);
    oldIndex.References();
  });
  Open(request.newPath, news, n);
  newIndex.References();
  oldBuild.get();
  const bool oldFailed = Failed(request.oldPath, o);
  if (Failed(request.newPath, n) || oldFailed)
    return 1;

  compare::Options options;
  for (const std::string &tag : request.ignoredTags)
    options.ignoredTags.push_back(
        QString::fromUtf8(tag.c_str()).toStdU16String());
  const compare::Comparison diff({olds, oldIndex, o.fileName},
                                 {news, newIndex, n.fileName}, options);
  OutlineWriter out(stdout);
  uint64_t total = 0;
  if (request.count) {
    const compare::Counts counts = diff.Count();
    total = counts.Total();
    out.Raw("added " + std::to_string(counts.added) + "\nremoved " +
            std::to_string(counts.removed) + "\nchanged " +
            std::to_string(counts.changed) + "\nrenamed " +
            std::to_string(counts.renamed) + "\n");
  } else {
    Printer print(diff, olds, news, request.json, out);
    diff.ForEachChange([&](const compare::Change &c) {
      ++total;
      print(c);
    });
  }
  if (!out.Flush()) {
    std::fprintf(stderr, "odx-outline: could not write the output\n");
    return 1;
  }
  return total > 0 ? kSomethingDiffers : 0;
}

} // namespace tools
