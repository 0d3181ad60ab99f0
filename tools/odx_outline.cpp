// odx-outline: the outline (or the filter-search hits) of an ODX/XML file on
// standard output, built by the same code as the viewer's window.

#include "foundation/cvexString.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"
#include "platform/FileHandle.h"
#include "platform/FileName.h"
#include "tools/OutlineWriter.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

const char kUsage[] =
    "usage: odx-outline [--json] [--filter TERM] [--count] FILE\n";

class NoProgress : public outline::ProgressSink {
public:
  void SetPosition(int) override {}
  void SetVisible(bool) override {}
};

class NoBusy : public outline::BusyIndicator {
public:
  void SetBusy(bool) override {}
};

struct Options {
  bool json = false;
  bool count = false;
  bool filter = false;
  std::string term;
  const char *file = nullptr;
};

bool ParseArguments(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (std::strcmp(a, "--json") == 0) {
      o.json = true;
    } else if (std::strcmp(a, "--count") == 0) {
      o.count = true;
    } else if (std::strcmp(a, "--filter") == 0) {
      if (i + 1 >= argc || o.filter)
        return false;
      o.filter = true;
      o.term = argv[++i];
    } else if (std::strcmp(a, "--") == 0 && i + 2 == argc && !o.file) {
      o.file = argv[++i];
    } else if ((a[0] == '-' && a[1] == '-') || o.file) {
      return false; // an unknown option, or a second file
    } else {
      o.file = a;
    }
  }
  return o.file != nullptr;
}

void AssignQString(cvexString &s, const QString &q) {
  s.AssignWide(reinterpret_cast<const char16_t *>(q.utf16()));
}

int Run(const Options &o) {
  outline::OutlineStore items;
  NoProgress progress;
  NoBusy busy;
  cvexString path;
  AssignQString(path, platform::DecodeFileName(o.file));
  const outline::BuildStatus built =
      outline::BuildOutline(path, items, progress, busy);
  if (built == outline::BuildStatus::CouldNotOpen ||
      built == outline::BuildStatus::TooLarge) {
    // The window's message, then which file and why.
    std::fprintf(stderr, "Could not open file.\nodx-outline: %s: %s\n", o.file,
                 platform::DescribeOpenFailure(
                     path.buffer, built == outline::BuildStatus::TooLarge));
    return 1;
  }
  if (built == outline::BuildStatus::Empty)
    std::fprintf(stderr, "odx-outline: %s: the file is empty\n", o.file);

  tools::OutlineWriter out(stdout);
  if (o.filter) {
    outline::OutlineStore results;
    cvexString term;
    AssignQString(term, QString::fromUtf8(o.term.c_str()));
    outline::FilterSearch(term, items, results, busy);
    const uint32_t hits = results.GetCount();
    if (o.count) {
      out.Raw(std::to_string(hits) + "\n");
    } else {
      for (uint32_t i = 0; i < hits; ++i) {
        const outline::NodeHandle hit = results.GetNodeFromIndex(i);
        const outline::NodeHandle target = results.Data(hit).handle;
        if (o.json)
          out.JsonHit(target, results.GetText(hit));
        else
          out.TextLine(1, results.GetText(hit));
      }
    }
  } else if (o.count) {
    out.Raw(std::to_string(items.GetCount()) + "\n");
  } else {
    const uint32_t n = items.GetCount();
    for (uint32_t i = 0; i < n; ++i) {
      const outline::NodeHandle node = items.GetNodeFromIndex(i);
      if (o.json)
        out.JsonNode(items.Depth(node), items.ImageIndex(node),
                     items.GetText(node));
      else
        out.TextLine(items.Depth(node), items.GetText(node));
    }
  }
  if (!out.Flush()) {
    std::fprintf(stderr, "odx-outline: could not write the output\n");
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return Run(options);
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "odx-outline: out of memory\n");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "odx-outline: %s\n", e.what());
  }
  return 1;
}
