// Cost of the report stream (many short insertions into one file) and of the
// reads every input file goes through (first 32 KiB, then the whole file).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/uni_fileio.h"
#include "foundation/uni_stream.h"
#include "temp_tree.h"

namespace {

// A path in a scratch folder that goes when the program ends.
std::string scratch_path(const char* name) {
  static vesk_test::temp_tree tree;
  return tree.path(name);
}

// One report line of typical length, written with '\n' or with std::endl.
void BM_ReportStreamLines(benchmark::State& state) {
  const bool endl = state.range(0) != 0;
  const std::string path = scratch_path("report");
  const std::string line = "Entry number: 0x1f | Path: C:\\Users\\someone\\Documents\\file.docx";
  int64_t bytes = 0;
  for (auto _ : state) {
    uni::fileio f(path, true);
    uni::fileio_output* out = f.output_stream();
    for (int i = 0; i < 10000; ++i) {
      *out << line;
      if (endl) {
        *out << std::endl;
      } else {
        *out << '\n';
      }
    }
    f.close();
    bytes += 10000 * static_cast<int64_t>(line.size() + 1);
  }
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(state.iterations() * 10000);
  std::remove(path.c_str());
}
BENCHMARK(BM_ReportStreamLines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Open, size, first 32 KiB with read_at, then the whole file: the road of
// every input file.
void BM_InputFileRoad(benchmark::State& state) {
  const std::string path = scratch_path("input");
  const size_t size = static_cast<size_t>(state.range(0));
  {
    uni::fileio f(path, true);
    f.append_bytes(std::vector<uint8_t>(size, 0x5A));
  }
  std::vector<uint8_t> head(32768);
  std::vector<uint8_t> all;
  for (auto _ : state) {
    uni::fileio f(path, false);
    uint32_t len = 32768;
    f.read_at(head.data(), len, 0);
    f.read_bytes_at(all, f.stored_size(), 0);
    benchmark::DoNotOptimize(all.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  std::remove(path.c_str());
}
BENCHMARK(BM_InputFileRoad)->Arg(64 << 10)->Arg(4 << 20);

}  // namespace
