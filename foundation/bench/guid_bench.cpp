#include <benchmark/benchmark.h>

#include <map>
#include <random>

#include "byte_builder.h"
#include "foundation/vk_guid.h"

namespace {

// Searching a 1 MiB buffer for the LNK header signature.
void BM_FindPatternOffsets(benchmark::State& state) {
  std::mt19937 rng(1);
  auto buf = vesk_test::random_bytes(1 << 20, rng);
  const uint8_t sig[] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0};
  for (size_t at = 4096; at + sizeof(sig) < buf.size(); at += 65536)
    std::copy(sig, sig + sizeof(sig), buf.begin() + static_cast<long>(at));
  std::vector<uint64_t> offs;
  const bool skip = state.range(0) != 0;
  for (auto _ : state) {
    vk::find_pattern_offsets(buf.data(), buf.size(), sig, sizeof(sig), offs, 0, skip, false);
    benchmark::DoNotOptimize(offs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(buf.size()));
}
BENCHMARK(BM_FindPatternOffsets)->Arg(0)->Arg(1);

void BM_FindExtensionSignature(benchmark::State& state) {
  std::mt19937 rng(2);
  auto buf = vesk_test::random_bytes(4096, rng);
  const uint8_t sig[] = {0xEF, 0xBE};
  std::vector<uint64_t> offs;
  for (auto _ : state) {
    offs.clear();
    vk::find_pattern_aligned(buf.data(), buf.size(), offs, sig, 2, 0, 1, true);
    benchmark::DoNotOptimize(offs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_FindExtensionSignature);

void BM_ExtractUtf16Strings(benchmark::State& state) {
  vesk_test::byte_builder b;
  std::mt19937 rng(3);
  while (b.size() < (1 << 16)) {
    b.utf16(u"C:\\Users\\examiner\\Documents\\report.docx");
    b.bytes(vesk_test::random_bytes(37, rng));
  }
  const auto buf = b.take();
  std::vector<std::string> texts;
  std::vector<uint64_t> offs;
  for (auto _ : state) {
    vk::extract_utf16_strings(buf.data(), buf.size(), 4, texts, offs);
    benchmark::DoNotOptimize(texts.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(buf.size()));
}
BENCHMARK(BM_ExtractUtf16Strings);

// Map look-ups keyed by guid, as the GUID name tables do.
void BM_GuidMapLookup(benchmark::State& state) {
  std::mt19937 rng(4);
  std::map<vk::guid, int> table;
  std::vector<vk::guid> keys;
  for (int i = 0; i < 700; ++i) {
    auto bytes = vesk_test::random_bytes(16, rng);
    vk::guid g;
    g.set(bytes.data());
    table.emplace(g, i);
    keys.push_back(g);
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.find(keys[i++ % keys.size()]));
  }
}
BENCHMARK(BM_GuidMapLookup);

}  // namespace
