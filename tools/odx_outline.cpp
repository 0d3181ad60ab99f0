// odx-outline: the outline (or the filter-search hits, or the references) of
// an ODX/XML file on standard output, built by the same code as the viewer's
// window.

#include "foundation/cvexString.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"
#include "odx/Services.h"
#include "outline/DatabaseFiles.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"
#include "platform/FileHandle.h"
#include "platform/FileName.h"
#include "platform/Folder.h"
#include "tools/DiffListing.h"
#include "tools/OutlineWriter.h"
#include "tools/ServiceListing.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: odx-outline [--json] [--names] [--filter TERM | --refs | "
    "--unresolved | --problems | --bytes HEX | --services] [--count] "
    "FILE... | FOLDER\n"
    "       odx-outline --diff [--json | --count] [--ignore TAG]... OLD NEW\n";

// Exit status of --unresolved and --problems when at least one reference
// resolves to nothing.
constexpr int kSomeUnresolved = 3;

// What to print instead of the outline; at most one.
enum class Listing {
  Outline,
  Filter,
  References,
  Unresolved,
  Problems,
  Bytes,
  Services
};

struct Options {
  bool json = false;
  bool count = false;
  bool names = false;
  Listing listing = Listing::Outline;
  std::string term;
  std::vector<uint8_t> bytes;
  std::vector<const char *> files;
  bool diff = false;
  tools::DiffRequest request; // --diff
};

bool ParseArguments(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (std::strcmp(a, "--json") == 0) {
      o.json = true;
    } else if (std::strcmp(a, "--count") == 0) {
      o.count = true;
    } else if (std::strcmp(a, "--names") == 0) {
      o.names = true;
    } else if (std::strcmp(a, "--filter") == 0) {
      if (i + 1 >= argc || o.listing != Listing::Outline)
        return false;
      o.listing = Listing::Filter;
      o.term = argv[++i];
    } else if (std::strcmp(a, "--refs") == 0 ||
               std::strcmp(a, "--unresolved") == 0 ||
               std::strcmp(a, "--problems") == 0) {
      if (o.listing != Listing::Outline)
        return false;
      o.listing = a[2] == 'r'   ? Listing::References
                  : a[2] == 'u' ? Listing::Unresolved
                                : Listing::Problems;
    } else if (std::strcmp(a, "--diff") == 0) {
      o.diff = true;
    } else if (std::strcmp(a, "--ignore") == 0) {
      if (i + 1 >= argc)
        return false;
      o.request.ignoredTags.push_back(argv[++i]);
    } else if (std::strcmp(a, "--bytes") == 0) {
      if (i + 1 >= argc || o.listing != Listing::Outline)
        return false;
      const auto bytes =
          odx::ParseSearchBytes(QString::fromUtf8(argv[++i]).toStdU16String());
      if (!bytes)
        return false;
      o.listing = Listing::Bytes;
      o.bytes = *bytes;
    } else if (std::strcmp(a, "--services") == 0) {
      if (o.listing != Listing::Outline)
        return false;
      o.listing = Listing::Services;
    } else if (std::strcmp(a, "--") == 0) {
      // Everything after it is a file, whatever it looks like.
      o.files.insert(o.files.end(), argv + i + 1, argv + argc);
      break;
    } else if (a[0] == '-' && a[1] == '-') {
      return false; // an unknown option
    } else {
      o.files.push_back(a);
    }
  }
  if (o.diff) {
    // A listing of one outline does not mix with a comparison of two.
    if (o.files.size() != 2 || o.names || o.listing != Listing::Outline ||
        (o.json && o.count))
      return false;
    o.request.oldPath = o.files[0];
    o.request.newPath = o.files[1];
    o.request.json = o.json;
    o.request.count = o.count;
    return true;
  }
  return !o.files.empty() && o.request.ignoredTags.empty();
}

void AssignQString(cvexString &s, const QString &q) {
  s.AssignWide(reinterpret_cast<const char16_t *>(q.utf16()));
}

void PrintFilterHits(const Options &o, const outline::OutlineStore &items,
                     tools::OutlineWriter &out) {
  outline::OutlineStore results;
  outline::Quiet busy;
  cvexString term;
  AssignQString(term, QString::fromUtf8(o.term.c_str()));
  outline::FilterSearch(term, items, results, busy);
  const uint32_t hits = results.GetCount();
  if (o.count) {
    out.Raw(std::to_string(hits) + "\n");
    return;
  }
  for (uint32_t i = 0; i < hits; ++i) {
    const outline::NodeHandle hit = results.GetNodeFromIndex(i);
    const outline::NodeHandle target = results.Data(hit).handle;
    if (o.json)
      out.JsonHit(target, results.GetText(hit));
    else
      out.TextLine(1, results.GetText(hit));
  }
}

// Returns how many references were listed.
std::size_t PrintReferences(const Options &o,
                            const outline::OutlineStore &items,
                            tools::OutlineWriter &out) {
  const odx::OdxIndex index(items);
  const bool onlyUnresolved = o.listing == Listing::Unresolved;
  std::size_t listed = 0;
  for (const odx::OdxIndex::Reference &r : index.References()) {
    if (onlyUnresolved && r.target != outline::kNoNode)
      continue;
    ++listed;
    if (o.count)
      continue;
    if (!o.json) {
      out.TextReference(r.node, r.target);
      continue;
    }
    const outline::LabelView attributes =
        odx::ReadNodeLabel(items, r.node).attributes;
    const bool byName = r.kind == odx::OdxIndex::ReferenceKind::ByName;
    const auto value =
        odx::FindAttribute(attributes, byName ? u"SHORT-NAME" : u"ID-REF");
    const auto hint = odx::FindAttribute(attributes, u"DOCREF");
    out.JsonReference(r.node, value.value_or(outline::LabelView()),
                      hint ? &*hint : nullptr, r.target, byName, r.ambiguous);
  }
  if (o.count)
    out.Raw(std::to_string(listed) + "\n");
  return listed;
}

outline::LabelView ViewOf(const QString &text) {
  outline::LabelView view;
  view.wide = reinterpret_cast<const char16_t *>(text.utf16());
  view.length = static_cast<uint32_t>(text.size());
  return view;
}

// Returns whether any reference is unresolved.
bool PrintProblems(const Options &o, const outline::OutlineStore &items,
                   tools::OutlineWriter &out) {
  const odx::OdxIndex index(items);
  const std::vector<odx::OdxIndex::Problem> problems = index.Problems();
  bool unresolved = false;
  for (const odx::OdxIndex::Problem &p : problems) {
    using Kind = odx::OdxIndex::ProblemKind;
    unresolved |= p.kind == Kind::Unresolved;
    if (o.count)
      continue;
    const std::string_view kind = p.kind == Kind::Unresolved  ? "unresolved"
                                  : p.kind == Kind::Ambiguous ? "ambiguous"
                                                              : "duplicate-id";
    const QString reason = index.Reason(p);
    if (o.json)
      out.JsonProblem(p.node, kind, ViewOf(reason));
    else
      out.TextProblem(p.node, kind, ViewOf(reason));
  }
  // After the link problems, the inheritance conflicts of the layers.
  const odx::Services services(items, index);
  for (const odx::Services::Conflict &c : services.Conflicts()) {
    if (o.count)
      break;
    if (o.json)
      out.JsonProblem(c.layer, "inheritance-conflict", ViewOf(c.reason));
    else
      out.TextProblem(c.layer, "inheritance-conflict", ViewOf(c.reason));
  }
  if (o.count)
    out.Raw(std::to_string(problems.size() + services.Conflicts().size()) +
            "\n");
  return unresolved;
}

void PrintOutline(const Options &o, const outline::OutlineStore &items,
                  tools::OutlineWriter &out) {
  if (o.count) {
    out.Raw(std::to_string(items.GetCount()) + "\n");
    return;
  }
  // The index is built only when names are asked for.
  std::optional<odx::OdxIndex> index;
  if (o.names)
    index.emplace(items);
  const uint32_t n = items.GetCount();
  for (uint32_t i = 0; i < n; ++i) {
    const outline::NodeHandle node = items.GetNodeFromIndex(i);
    const outline::LabelView name =
        index ? index->Name(node) : outline::LabelView();
    if (o.json)
      out.JsonNode(items.Depth(node), items.ImageIndex(node),
                   items.GetText(node), name);
    else
      out.TextLine(items.Depth(node), items.GetText(node), name);
  }
}

int Run(const Options &o) {
  outline::OutlineStore items;
  outline::Quiet quiet;
  cvexString path;
  AssignQString(path, platform::DecodeFileName(o.files[0]));
  outline::BuildStatus built;
  if (o.files.size() == 1) {
    built = outline::BuildOutline(path, items, quiet, quiet);
  } else {
    // Several files: one database, in the order a folder of them would
    // have.
    std::vector<QString> paths;
    for (const char *file : o.files)
      paths.push_back(platform::DecodeFileName(file));
    outline::SortByFileName(paths);
    built = outline::BuildOutlineFromFiles(paths, items, quiet, quiet);
  }
  const char *shown = o.files.size() == 1 ? o.files[0] : "the files";
  if (built == outline::BuildStatus::CouldNotOpen ||
      built == outline::BuildStatus::TooLarge) {
    // The window's message, then which file and why.
    std::fprintf(
        stderr, "Could not open file.\nodx-outline: %s: %s\n", shown,
        built == outline::BuildStatus::TooLarge && o.files.size() > 1
            ? "2 GiB or more together"
            : platform::DescribeOpenFailure(
                  path.buffer, built == outline::BuildStatus::TooLarge));
    return 1;
  }
  if (built == outline::BuildStatus::Empty)
    std::fprintf(stderr, "odx-outline: %s: %s\n", shown,
                 o.files.size() == 1 && !platform::IsFolder(path.buffer)
                     ? "the file is empty"
                     : "holds no ODX files");

  tools::OutlineWriter out(stdout);
  int status = 0;
  switch (o.listing) {
  case Listing::Filter:
    PrintFilterHits(o, items, out);
    break;
  case Listing::References:
    PrintReferences(o, items, out);
    break;
  case Listing::Unresolved:
    if (PrintReferences(o, items, out) > 0)
      status = kSomeUnresolved;
    break;
  case Listing::Problems:
    if (PrintProblems(o, items, out))
      status = kSomeUnresolved;
    break;
  case Listing::Outline:
    PrintOutline(o, items, out);
    break;
  case Listing::Bytes:
  case Listing::Services: {
    bool complete = true;
    const std::size_t rows =
        o.listing == Listing::Bytes
            ? tools::ListServicesByBytes(items, o.bytes, o.count, out)
            : tools::ListEffectiveServices(items, o.count, out, complete);
    if (o.count)
      out.Raw(std::to_string(rows) + "\n");
    if (!complete) {
      std::fprintf(stderr, "odx-outline: some layers' services were left "
                           "out: inheritance makes too many in all\n");
      status = 1;
    }
    break;
  }
  }
  if (!out.Flush()) {
    std::fprintf(stderr, "odx-outline: could not write the output\n");
    return 1;
  }
  return status;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return options.diff ? tools::RunDiff(options.request) : Run(options);
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "odx-outline: out of memory\n");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "odx-outline: %s\n", e.what());
  }
  return 1;
}
