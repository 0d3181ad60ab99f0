// The comparison of two versions beside the outline build, timed inside one
// process: per run the build of NEW (the yardstick), the two ODX indexes,
// the matching and the change walk; medians, and the comparison's memory.
// Usage: compare-bench OLD NEW [RUNS]

#include "bench/Timing.h"
#include "compare/Comparison.h"
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
#include <ctime>
#include <vector>

namespace {

using outline::Quiet;

using bench::Clock;
using bench::Median;
using bench::SecondsSince;

// Processor time of the whole process (all threads), which a machine busy
// with other work inflates less than the wall clock.
double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

bool Build(const char *file, outline::OutlineStore &store) {
  cvexString path;
  const QString name = QString::fromLocal8Bit(file);
  path.AssignWide(reinterpret_cast<const char16_t *>(name.utf16()));
  Quiet quiet;
  return outline::BuildOutline(path, store, quiet, quiet) ==
         outline::BuildStatus::Built;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("usage: compare-bench OLD NEW [RUNS]\n", stderr);
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  outline::OutlineStore olds, news;
  if (!Build(argv[1], olds) || !Build(argv[2], news)) {
    std::fputs("compare-bench: could not build the outlines\n", stderr);
    return 1;
  }
  std::vector<double> build, index, match, walk;
  std::vector<double> buildCpu, indexCpu, matchCpu, walkCpu;
  compare::Counts counts;
  std::size_t memory = 0;
  for (int r = 0; r < runs; ++r) {
    {
      outline::OutlineStore again;
      const Clock::time_point t = Clock::now();
      const double c = CpuSeconds();
      Build(argv[2], again);
      build.push_back(SecondsSince(t));
      buildCpu.push_back(CpuSeconds() - c);
    }
    const odx::OdxIndex oldIndex(olds), newIndex(news);
    Clock::time_point t = Clock::now();
    double c = CpuSeconds();
    oldIndex.References();
    newIndex.References();
    index.push_back(SecondsSince(t));
    indexCpu.push_back(CpuSeconds() - c);
    t = Clock::now();
    c = CpuSeconds();
    const compare::Comparison diff({olds, oldIndex, u"old"},
                                   {news, newIndex, u"new"});
    match.push_back(SecondsSince(t));
    matchCpu.push_back(CpuSeconds() - c);
    t = Clock::now();
    c = CpuSeconds();
    counts = diff.Count();
    walk.push_back(SecondsSince(t));
    walkCpu.push_back(CpuSeconds() - c);
    memory = diff.MemoryBytes();
  }
  const double b = Median(build);
  std::printf("nodes %u + %u\n", olds.GetCount(), news.GetCount());
  std::printf("changes added %llu removed %llu changed %llu renamed %llu\n",
              static_cast<unsigned long long>(counts.added),
              static_cast<unsigned long long>(counts.removed),
              static_cast<unsigned long long>(counts.changed),
              static_cast<unsigned long long>(counts.renamed));
  const double bc = Median(buildCpu);
  std::printf("build of NEW %.3f s (processor %.3f s)\n", b, bc);
  auto stage = [&](const char *name, const std::vector<double> &wall,
                   const std::vector<double> &cpu) {
    std::printf("%s %.3f s = %.1f %% of a build (processor %.3f s = %.1f "
                "%%)\n",
                name, Median(wall), 100 * Median(wall) / b, Median(cpu),
                100 * Median(cpu) / bc);
  };
  stage("indexes", index, indexCpu);
  stage("matching", match, matchCpu);
  stage("walk", walk, walkCpu);
  std::printf("memory %.2f bytes a node\n",
              static_cast<double>(memory) /
                  (double(olds.GetCount()) + news.GetCount()));
  return 0;
}
