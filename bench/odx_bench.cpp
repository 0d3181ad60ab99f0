// The ODX index beside the outline build it reads, timed inside one process:
// outline build and index build per run (medians and their ratio), Go to
// Definition and Find Usages latency over references spread through the
// file, the unresolved list, and the index's bytes per node.
// Usage: odx-bench FILE [RUNS]

#include "bench/Timing.h"
#include "foundation/cvexString.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using outline::Quiet;

using bench::Clock;
using bench::Median;
using bench::SecondsSince;

double Max(const std::vector<double> &v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs("usage: odx-bench FILE [RUNS]\n", stderr);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  cvexString path;
  const QString file = QString::fromLocal8Bit(argv[1]);
  path.AssignWide(reinterpret_cast<const char16_t *>(file.utf16()));

  outline::OutlineStore store;
  odx::OdxIndex index(store); // as the window holds it: one, rebuilt per file
  Quiet quiet;
  std::vector<double> outlineSeconds, indexSeconds, oneThreadSeconds;
  for (int r = 0; r < runs; ++r) {
    auto start = Clock::now();
    if (outline::BuildOutline(path, store, quiet, quiet) !=
        outline::BuildStatus::Built) {
      std::fputs("odx-bench: could not open the file\n", stderr);
      return 1;
    }
    outlineSeconds.push_back(SecondsSince(start));
    // Which of the two builds comes first alternates, so neither always
    // finds the memory the other just gave back.
    auto timeIndex = [&] {
      start = Clock::now();
      index.Generation(); // the first query builds
      indexSeconds.push_back(SecondsSince(start));
    };
    auto timeOneThread = [&] {
      start = Clock::now();
      odx::OdxIndex(store, 1).Generation();
      oneThreadSeconds.push_back(SecondsSince(start));
    };
    if (r % 2 == 0) {
      timeIndex();
      timeOneThread();
    } else {
      timeOneThread();
      timeIndex();
    }
  }

  const uint32_t nodes = store.GetCount();
  const auto references = index.References();
  std::size_t resolved = 0;
  for (const auto &r : references)
    resolved += r.target != outline::kNoNode;

  // A thousand references spread evenly through the file, and their
  // targets.
  std::vector<double> definition, usages;
  std::size_t usagesFound = 0;
  const std::size_t step = std::max<std::size_t>(1, references.size() / 1000);
  for (std::size_t i = 0; i < references.size(); i += step) {
    const outline::NodeRef ref = store.Ref(references[i].node);
    auto start = Clock::now();
    const outline::NodeRef target = index.Definition(ref);
    definition.push_back(SecondsSince(start));
    if (!store.IsLive(target))
      continue;
    start = Clock::now();
    usagesFound += index.Usages(target).size();
    usages.push_back(SecondsSince(start));
  }
  auto start = Clock::now();
  const std::size_t unresolved = index.Unresolved().size();
  const double unresolvedSeconds = SecondsSince(start);
  // The Problems list of the whole file, every reason in words.
  start = Clock::now();
  const auto problems = index.Problems();
  std::size_t reasonUnits = 0;
  for (const auto &p : problems)
    reasonUnits += static_cast<std::size_t>(index.Reason(p).size());
  const double problemsSeconds = SecondsSince(start);
  std::size_t byName = 0;
  for (const auto &r : references)
    byName += r.kind == odx::OdxIndex::ReferenceKind::ByName;

  const double outlineMedian = Median(outlineSeconds);
  const double indexMedian = Median(indexSeconds);
  std::printf("nodes:                    %u\n", nodes);
  std::printf("references:               %zu (%zu resolved, %zu unresolved)\n",
              references.size(), resolved, unresolved);
  std::printf("outline build:            median %.3f s over %d runs\n",
              outlineMedian, runs);
  std::printf("index build:              median %.3f s = %.1f %% of the "
              "outline build   (goal <= 0.5 s and <= 10 %%)\n",
              indexMedian, 100 * indexMedian / outlineMedian);
  std::printf("  on one thread:          median %.3f s = %.1f %%\n",
              Median(oneThreadSeconds),
              100 * Median(oneThreadSeconds) / outlineMedian);
  std::printf("go to definition:         median %.1f us, max %.1f us over %zu "
              "references   (goal <= 50 ms)\n",
              1e6 * Median(definition), 1e6 * Max(definition),
              definition.size());
  std::printf("find usages:              median %.2f ms, max %.2f ms over %zu "
              "targets (%zu usages)   (goal <= 50 ms)\n",
              1e3 * Median(usages), 1e3 * Max(usages), usages.size(),
              usagesFound);
  std::printf("unresolved list:          %.2f ms\n", 1e3 * unresolvedSeconds);
  std::printf("problems list:            %.1f ms for %zu problems (%zu units "
              "of reasons)   (goal <= 0.5 s)\n",
              1e3 * problemsSeconds, problems.size(), reasonUnits);
  std::printf("references by name:       %zu\n", byName);
  std::printf("index memory:             %.2f bytes/node   (goal <= 16); "
              "label notes in the store %.2f bytes/node\n",
              double(index.MemoryBytes()) / nodes,
              double(store.LabelNotes().size() *
                     sizeof(outline::OutlineStore::LabelNote)) /
                  nodes);
  return 0;
}
