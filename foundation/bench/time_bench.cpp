// Time conversion and formatting cost per call: both run several times for
// every record of every input file.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"

namespace {

// Instants spread over 1990..2030, as a jump list's timestamps are.
std::vector<uint64_t> sample_ticks() {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<uint64_t> pick(126227808000000000ULL, 138850560000000000ULL);
  std::vector<uint64_t> v(1024);
  for (auto& t : v) t = pick(rng);
  return v;
}

void BM_FiletimeConstructor(benchmark::State& state) {
  const std::vector<uint64_t> ticks = sample_ticks();
  size_t i = 0;
  for (auto _ : state) {
    vk::time t(ticks[i++ & 1023], vk::type_time::filetime);
    benchmark::DoNotOptimize(t);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FiletimeConstructor);

void format_bench(benchmark::State& state, const char* date_tpl, const char* time_tpl) {
  const std::vector<uint64_t> raw = sample_ticks();
  std::vector<vk::time> times;
  times.reserve(raw.size());
  for (uint64_t t : raw) times.emplace_back(t, vk::type_time::filetime);
  vk::time_format_settings settings;
  if (date_tpl) vk::build_time_format_settings(settings, date_tpl, time_tpl, false);
  std::string date;
  std::string time_text;
  size_t i = 0;
  for (auto _ : state) {
    vk::format_time_by_descriptor(date, time_text, times[i++ & 1023], settings.m_descriptor);
    benchmark::DoNotOptimize(date.data());
    benchmark::DoNotOptimize(time_text.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FormatByDescriptorDefault(benchmark::State& state) {
  format_bench(state, "yyyy-mm-dd", "hh:mm:ss.xxx");
}
BENCHMARK(BM_FormatByDescriptorDefault);

void BM_FormatByDescriptorAllZero(benchmark::State& state) {
  format_bench(state, nullptr, nullptr);
}
BENCHMARK(BM_FormatByDescriptorAllZero);

void BM_FormatByDescriptorMonthNameNanoseconds(benchmark::State& state) {
  format_bench(state, "dd mmm yyyy", "hh:mm:ss.xxxxxxxxx");
}
BENCHMARK(BM_FormatByDescriptorMonthNameNanoseconds);

void BM_ConstructAndFormat(benchmark::State& state) {
  const std::vector<uint64_t> ticks = sample_ticks();
  vk::time_format_settings settings;
  vk::build_time_format_settings(settings, "yyyy-mm-dd", "hh:mm:ss.xxx", false);
  std::string date;
  std::string time_text;
  size_t i = 0;
  for (auto _ : state) {
    const vk::time t(ticks[i++ & 1023], vk::type_time::filetime);
    vk::format_time_by_descriptor(date, time_text, t, settings);
    benchmark::DoNotOptimize(date.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConstructAndFormat);

}  // namespace
