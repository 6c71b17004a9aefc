// Scan time of a 64 MiB file thick with LNK headers that fail to parse: a
// failed hit must cost its search only, not a fresh read of a chunk.
//   failing_hits: a header (signature, HasLinkTargetIDList and an ID list
//     size past any chunk) every 40 bytes, the densest spacing at which a
//     header's flags and ID-list size lie outside the next header;
//   near_headers: HeaderSize 76 and a broken CLSID every 16 bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jumplist/lnk_carve.h"
#include "lnk_writer.h"

namespace {

constexpr size_t k_file_size = size_t{64} << 20;

std::string make_file(const char* name, size_t period, bool valid_clsid) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::vector<uint8_t> bytes(k_file_size, 0);
  for (size_t at = 0; at + period <= bytes.size(); at += period) {
    bytes[at] = 0x4C;
    for (size_t i = 0; i < 16; ++i) bytes[at + 4 + i] = vesk_test::lnk_clsid_bytes[i];
    if (!valid_clsid) bytes[at + 19] = 0x47;
    if (period >= 40) {
      bytes[at + 20] = 0x01;  // HasLinkTargetIDList
      bytes[at + 36] = 0xFF;  // ID list size at 76 = the next header's 36
      bytes[at + 37] = 0xFF;
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

void scan_file(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    vk::vesk_options options;
    options.m_status_messages = 0;
    options.m_store_records = true;
    options.m_carve_mode = true;
    options.m_scan_step = 1;
    std::ostringstream out;
    bool found = vk::scan_file_for_lnk(out, path, options, false);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k_file_size));
}

void BM_ScanFailingHits(benchmark::State& state) {
  static const std::string path = make_file("vesk_bench_failing_hits.bin", 40, true);
  scan_file(state, path);
  std::remove(path.c_str());
}

void BM_ScanNearHeaders(benchmark::State& state) {
  static const std::string path = make_file("vesk_bench_near_headers.bin", 16, false);
  scan_file(state, path);
  std::remove(path.c_str());
}

BENCHMARK(BM_ScanFailingHits)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScanNearHeaders)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
