// Throughput of the text routines on the report path: splitting option and
// list values, making line breaks visible in cell text, and the typed-cell
// byte form.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "foundation/vk_misc.h"
#include "foundation/vk_text.h"
#include "foundation/vk_variant.h"

namespace {

std::string make_list(size_t items) {
  std::string s;
  for (size_t i = 0; i < items; ++i) s += " item" + std::to_string(i) + " ,";
  return s;
}

void BM_SplitStringTrimmed(benchmark::State& state) {
  const std::string text = make_list(static_cast<size_t>(state.range(0)));
  std::vector<std::string> out;
  for (auto _ : state) {
    vk::split_string(text, ',', out, true, false, false);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SplitStringTrimmed)->Arg(16)->Arg(1024);

void BM_ShowLineEnds(benchmark::State& state) {
  std::string base;
  for (int i = 0; i < 200; ++i) base += "C:\\Users\\someone\\file.txt\r\nnext\n";
  for (auto _ : state) {
    std::string s = base;
    vk::show_line_ends(s);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * base.size()));
}
BENCHMARK(BM_ShowLineEnds);

void BM_VariantListRoundTrip(benchmark::State& state) {
  std::vector<vk::vk_variant_lite> row;
  for (int i = 0; i < 32; ++i) {
    row.emplace_back(static_cast<uint64_t>(i) * 0x10000001ull, 12);
    row.emplace_back(std::string("C:\\Windows\\System32\\notepad.exe"));
  }
  vk::byte_array bytes;
  std::vector<vk::vk_variant_lite> back;
  for (auto _ : state) {
    vk::pack_variant_list(bytes, row, false);
    vk::unpack_variant_list(back, bytes, false);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * row.size()));
}
BENCHMARK(BM_VariantListRoundTrip);

void BM_Base64Decode(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += (i % 19 == 18) ? "\n" : "QUJD";
  std::vector<uint8_t> out;
  for (auto _ : state) {
    vk::base64_decode(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<int32_t>(text.size()), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Base64Decode);

}  // namespace
