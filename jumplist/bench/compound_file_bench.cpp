// Parse and read time of compound files against their size: 4 to 64 MiB
// images with streams in proportion (10,000 at 64 MiB), every tenth stream
// small enough for the mini stream.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"

namespace {

const std::vector<uint8_t>& image_of(int64_t mib) {
  static std::map<int64_t, std::vector<uint8_t>> cache;
  auto it = cache.find(mib);
  if (it != cache.end()) return it->second;
  const size_t streams = static_cast<size_t>(10000 * mib / 64);
  const size_t bytes = (static_cast<size_t>(mib) << 20) / streams;
  vesk_test::cfb_writer w;
  for (size_t i = 0; i < streams; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%zx", i + 1);
    std::u16string n(name, name + std::char_traits<char>::length(name));
    size_t size = i % 10 == 0 ? 1000 : bytes;
    w.stream(n, std::vector<uint8_t>(size, static_cast<uint8_t>(i)));
    if (i % 100 == 0) w.free_sector();
  }
  return cache.emplace(mib, w.build()).first->second;
}

void BM_ParseCompoundImage(benchmark::State& state) {
  const auto& img = image_of(state.range(0));
  for (auto _ : state) {
    vk::compound_file_reader r;
    bool ok = vk::parse_compound_image(&r, img.data(), img.size());
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(img.size()));
  state.SetComplexityN(static_cast<int64_t>(img.size()));
}
BENCHMARK(BM_ParseCompoundImage)
    ->Arg(4)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_ParseAndReadEveryStream(benchmark::State& state) {
  const auto& img = image_of(state.range(0));
  std::vector<uint8_t> out;
  for (auto _ : state) {
    vk::compound_file_reader r;
    vk::parse_compound_image(&r, img.data(), img.size());
    uint32_t entry;
    uint64_t offset;
    size_t total = 0;
    for (const auto& [key, e] : r.m_entries)
      if (vk::read_stream(r, out, entry, offset, key, img.data(), img.size())) total += out.size();
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(img.size()));
  state.SetComplexityN(static_cast<int64_t>(img.size()));
}
BENCHMARK(BM_ParseAndReadEveryStream)
    ->Arg(4)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_LoadDestListEntries(benchmark::State& state) {
  std::vector<vesk_test::destlist_test_entry> entries(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < entries.size(); ++i) entries[i].entry_num = i + 1;
  auto stream = vesk_test::build_destlist(4, entries);
  std::vector<vk::destlist_entry> out;
  for (auto _ : state) {
    uint32_t version;
    vk::load_destlist_entries(stream.data(), stream.size(), version, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_LoadDestListEntries)->Arg(100)->Arg(10000);

}  // namespace
