#include <benchmark/benchmark.h>

#include <random>

#include "byte_builder.h"
#include "foundation/vk_crc.h"

namespace {

void BM_AppIdCrc64(benchmark::State& state) {
  std::mt19937 rng(5);
  const auto buf = vesk_test::random_bytes(static_cast<size_t>(state.range(0)), rng);
  for (auto _ : state) benchmark::DoNotOptimize(vk::appid_crc64(buf.data(), buf.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_AppIdCrc64)->Arg(128)->Arg(1 << 20);

void BM_Crc32TableHash(benchmark::State& state) {
  std::mt19937 rng(6);
  const auto buf = vesk_test::random_bytes(1 << 20, rng);
  for (auto _ : state) benchmark::DoNotOptimize(vk::crc32_table_hash(buf.data(), buf.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_Crc32TableHash);

}  // namespace
