// Throughput of the text routines that run for every parsed string field and
// every comparison key: the UTF-16 field decoder, the UTF-8/wide converters
// and ASCII lower-casing.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace {

// A typical path-like field: mostly ASCII with a few BMP letters.
std::vector<uint8_t> utf16_field(size_t units) {
  std::vector<uint8_t> b;
  const char16_t pattern[] = u"C:\\Users\\J\u00f6rg\\Documents\\report_\u4e2d.docx";
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = pattern[i % (sizeof pattern / sizeof pattern[0] - 1)];
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

void BM_Utf16FieldToUtf8(benchmark::State& state) {
  const auto field = utf16_field(static_cast<size_t>(state.range(0)));
  std::string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vk::utf16_to_utf8(field.data(), field.size(), out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * field.size()));
}
BENCHMARK(BM_Utf16FieldToUtf8)->Arg(16)->Arg(260)->Arg(4096);

void BM_FromUtf8ToUtf8(benchmark::State& state) {
  std::string out;
  const auto field = utf16_field(static_cast<size_t>(state.range(0)));
  vk::utf16_to_utf8(field.data(), field.size(), out);
  for (auto _ : state) {
    std::wstring wide = vk::from_utf8(out);
    std::string back = vk::to_utf8(wide);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_FromUtf8ToUtf8)->Arg(260);

void BM_StrToLower(benchmark::State& state) {
  const std::string key = "Microsoft.Windows.Explorer\\DestList";
  for (auto _ : state) {
    std::string s = key;
    benchmark::DoNotOptimize(vk::str_to_lower(s).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * key.size()));
}
BENCHMARK(BM_StrToLower);

}  // namespace
