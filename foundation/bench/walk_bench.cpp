// Time to walk a tree of files through the input file-name source, per file,
// for growing trees: the per-file time must stay flat as the tree grows.
#include <benchmark/benchmark.h>

#include <climits>
#include <map>
#include <memory>
#include <string>

#include "foundation/vk_portable_dir.h"
#include "temp_tree.h"

namespace {

// A tree of `files` files in folders of 100, ten folders per group: every
// file sits two folders below the root, so paths keep one length and only
// the number of files changes from tree to tree.
const vesk_test::temp_tree& tree_of(int files) {
  static std::map<int, std::unique_ptr<vesk_test::temp_tree>> trees;
  auto& slot = trees[files];
  if (!slot) {
    slot = std::make_unique<vesk_test::temp_tree>();
    for (int i = 0; i < files; ++i) {
      const int folder = i / 100;
      std::string rel(1, 'g');
      rel += std::to_string(100000 + folder / 10);
      rel += "/f";
      rel += std::to_string(100000 + folder % 10);
      rel += "/file";
      rel += std::to_string(1000000 + i);
      rel += ".lnk";
      slot->file(rel);
    }
  }
  return *slot;
}

void BM_WalkTree(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const auto& tree = tree_of(files);
  const std::wstring root(tree.root().begin(), tree.root().end());
  std::string name;
  for (auto _ : state) {
    vkportdir::stdin_stream_ex walk;
    walk.start_walk(root + L"/", UINT32_MAX, nullptr);
    int64_t seen = 0;
    while (walk.getline(name, true)) ++seen;
    if (seen != files) state.SkipWithError("walk missed files");
    benchmark::DoNotOptimize(seen);
  }
  state.SetItemsProcessed(state.iterations() * files);
  state.counters["ns_per_file"] = benchmark::Counter(
      static_cast<double>(files) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WalkTree)->Arg(1000)->Arg(5000)->Arg(20000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
