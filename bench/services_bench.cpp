// The services rules beside the outline build they read, timed inside one
// process on a file of many services (gen_odx.py --services): the prefixes
// of every message, all layers' effective services (each from a fresh
// start, the reference index built), and find-by-bytes once the first query
// has built its table.  Medians of RUNS runs.
// Usage: services-bench FILE [RUNS]

#include "bench/Timing.h"
#include "foundation/cvexString.h"
#include "odx/OdxIndex.h"
#include "odx/Services.h"
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

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs("usage: services-bench FILE [RUNS]\n", stderr);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  cvexString path;
  const QString file = QString::fromLocal8Bit(argv[1]);
  path.AssignWide(reinterpret_cast<const char16_t *>(file.utf16()));

  outline::OutlineStore store;
  Quiet quiet;
  std::vector<double> build, index, prefixes, effective, inheritance;
  std::size_t messages = 0, services = 0, layers = 0, rows = 0, conflicts = 0;
  for (int r = 0; r < runs; ++r) {
    auto start = Clock::now();
    if (outline::BuildOutline(path, store, quiet, quiet) !=
        outline::BuildStatus::Built) {
      std::fputs("services-bench: could not open the file\n", stderr);
      return 1;
    }
    build.push_back(SecondsSince(start));
    const odx::OdxIndex links(store);
    start = Clock::now();
    links.Generation();
    index.push_back(SecondsSince(start));

    {
      const odx::Services s(store, links);
      start = Clock::now();
      messages = s.Messages().size();
      prefixes.push_back(SecondsSince(start));
    }
    const odx::Services s(store, links);
    start = Clock::now();
    const double tables = (s.Messages(), SecondsSince(start));
    rows = 0;
    for (const outline::NodeHandle layer : s.Layers())
      rows += s.Effective(layer).size();
    effective.push_back(SecondsSince(start));
    inheritance.push_back(effective.back() - tables);
    layers = s.Layers().size();
    conflicts = s.Conflicts().size();
    services = 0;
    for (const auto &m : s.Messages())
      services += m.kind == odx::Services::Kind::DiagService;
  }

  // Find by bytes after the first query: a one-byte and a whole prefix of
  // services spread through the file.
  const odx::OdxIndex links(store);
  const odx::Services s(store, links);
  std::vector<std::vector<uint8_t>> queries;
  const auto all = s.Messages();
  const std::size_t step = std::max<std::size_t>(1, all.size() / 500);
  for (std::size_t i = 0; i < all.size(); i += step) {
    const auto prefix = s.Prefix(all[i]);
    if (all[i].kind != odx::Services::Kind::DiagService || prefix.empty())
      continue;
    queries.emplace_back(prefix.begin(), prefix.begin() + 1);
    queries.emplace_back(prefix.begin(), prefix.end());
  }
  auto start = Clock::now();
  s.FindByBytes(std::vector<uint8_t>{0x22});
  const double first = SecondsSince(start);
  std::vector<double> find;
  std::size_t found = 0;
  for (const auto &q : queries) {
    start = Clock::now();
    found += s.FindByBytes(q).size();
    find.push_back(SecondsSince(start));
  }

  const double buildMedian = Median(build);
  std::printf("nodes:                    %u\n", store.GetCount());
  std::printf("messages and services:    %zu (%zu DIAG-SERVICEs) in %zu "
              "layers, %zu effective rows, %zu conflicts\n",
              messages, services, layers, rows, conflicts);
  std::printf("outline build:            median %.3f s over %d runs\n",
              buildMedian, runs);
  std::printf("reference index:          median %.1f ms\n",
              1e3 * Median(index));
  std::printf("prefixes of every message: median %.1f ms = %.1f %% of the "
              "outline build   (goal <= 50 ms)\n",
              1e3 * Median(prefixes), 100 * Median(prefixes) / buildMedian);
  std::printf("all layers' services:     median %.1f ms = %.1f %% of the "
              "outline build   (goal <= 200 ms); inheritance alone %.1f ms\n",
              1e3 * Median(effective), 100 * Median(effective) / buildMedian,
              1e3 * Median(inheritance));
  std::printf(
      "find by bytes:            first query %.1f ms; then median "
      "%.3f ms, max %.3f ms over %zu queries (%zu hits)   (goal <= "
      "20 ms)\n",
      1e3 * first, 1e3 * Median(find),
      1e3 * (find.empty() ? 0 : *std::max_element(find.begin(), find.end())),
      find.size(), found);
  std::printf("services memory:          %.2f bytes a node\n",
              double(s.MemoryBytes()) / store.GetCount());
  return 0;
}
