// Links per second through parse_lnk, on a link with every part.
#include <benchmark/benchmark.h>

#include "jumplist/lnk_parser.h"
#include "lnk_writer.h"

namespace {

void BM_ParseFullLink(benchmark::State& state) {
  const auto link = vesk_test::full_written_link();
  const vk::cmd_params opts;
  vk::link_scratch scratch;
  vk::lnk_record rec;
  for (auto _ : state) {
    vk::reset_lnk_record(rec);
    const bool ok = vk::parse_lnk(rec, link.data(), link.size(), opts, scratch, false, 0);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(link.size()));
}
BENCHMARK(BM_ParseFullLink);

void BM_ParseHeaderOnlyLink(benchmark::State& state) {
  vesk_test::lnk_spec spec;
  spec.strings[vesk_test::lnk_name] = u"name";
  const auto link = vesk_test::write_lnk(spec);
  const vk::cmd_params opts;
  vk::link_scratch scratch;
  vk::lnk_record rec;
  for (auto _ : state) {
    vk::reset_lnk_record(rec);
    const bool ok = vk::parse_lnk(rec, link.data(), link.size(), opts, scratch, false, 0);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseHeaderOnlyLink);

}  // namespace
