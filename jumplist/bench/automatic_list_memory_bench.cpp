// Peak heap while one large automatic jump list is read and reported: 5,000
// entries of a link with every part, made with the test writers. The heap is
// counted by replacing the global allocation functions of this program.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>

#include "cfb_writer.h"
#include "destlist_writer.h"
#include "jumplist/file_drivers.h"
#include "jumplist/vesk_options.h"
#include "lnk_writer.h"
#include "temp_tree.h"

namespace {

std::atomic<int64_t> g_live{0}, g_peak{0}, g_count{0};

void note_alloc(size_t n) {
  const int64_t live = g_live += static_cast<int64_t>(n);
  int64_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  ++g_count;
}

// The size of each block sits in front of it, so that a free knows it.
constexpr size_t kFront = alignof(std::max_align_t);

void* counted_alloc(size_t n) {
  auto* p = static_cast<unsigned char*>(std::malloc(n + kFront));
  if (!p) throw std::bad_alloc();
  *reinterpret_cast<size_t*>(p) = n;
  note_alloc(n);
  return p + kFront;
}

void counted_free(void* q) {
  if (!q) return;
  auto* p = static_cast<unsigned char*>(q) - kFront;
  g_live -= static_cast<int64_t>(*reinterpret_cast<size_t*>(p));
  std::free(p);
}

// A link with every part but the Darwin and icon-environment blocks: about
// 1.8 KB, near the mean link of a real automatic list.
std::vector<uint8_t> entry_link() {
  vesk_test::lnk_spec s;
  s.attributes = 0x20;
  s.create_time = 132572616638819438u;
  s.idlist = vesk_test::idlist(
      {vesk_test::shell_item(0x1F, vesk_test::from_hex("50e04fd020ea3a6910a2d808002b30309d")),
       vesk_test::file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "report.docx",
                                  vesk_test::file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904,
                                                                  u"report.docx", 1234, 5))});
  vesk_test::lnk_link_info li;
  li.label = "DATA";
  li.local_base_path = "C:\\Users\\examiner\\Documents\\report.docx";
  s.link_info = li;
  s.strings = {u"Report", u"..\\report.docx", u"C:\\Users\\examiner\\Documents", u"/q",
               u"%SystemRoot%\\a.ico"};
  const auto object = vesk_test::written_object_id();
  s.extra_blocks = {
      vesk_test::environment_block("%TEMP%\\x", u"%TEMP%\\x"),
      vesk_test::console_block(),
      vesk_test::tracker_block("desktop-01", object, object, object, object),
      vesk_test::special_folder_block(36),
      vesk_test::property_store_block({vesk_test::storage(
          vesk_test::storage_fmtid_b725(),
          {vesk_test::int_value(10, 0x1F, vesk_test::lpwstr_data(u"report.docx"))})}),
      vesk_test::known_folder_block(object),
      vesk_test::vista_idlist_block(
          vesk_test::idlist({vesk_test::file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, "v.txt")})),
  };
  return vesk_test::write_lnk(s);
}

// Large-sector layout with the streams first, so that the first links lie in
// the part of the file that the classification reads.
std::vector<uint8_t> large_automatic_list(size_t entries) {
  const auto link = entry_link();
  vesk_test::cfb_layout layout;
  layout.sector_shift = 12;
  layout.streams_first = true;
  vesk_test::cfb_writer w(layout);
  std::vector<vesk_test::destlist_test_entry> list;
  for (size_t i = 1; i <= entries; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "%zx", i);
    w.stream(std::u16string(name, name + std::char_traits<char>::length(name)), link);
    vesk_test::destlist_test_entry e;
    e.entry_num = i;
    e.mru_time += i;
    list.push_back(e);
  }
  w.stream(u"DestList", vesk_test::build_destlist(4, list));
  return w.build();
}

void run(benchmark::State& state, bool idltimes) {
  const size_t entries = static_cast<size_t>(state.range(0));
  vesk_test::temp_tree tree;
  const std::string path = tree.root() + "/big.automaticDestinations-ms";
  size_t file_size = 0;
  {
    const auto image = large_automatic_list(entries);
    file_size = image.size();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(file_size));
  }
  // The drivers keep buffers from file to file: what an earlier case left
  // held counts toward this one's peak, as it would in one process.
  static const int64_t process_start = g_live.load();
  for (auto _ : state) {
    vk::vesk_options options;
    options.m_idlist_times = idltimes;
    const int64_t before = process_start;
    g_peak = g_live.load();
    const int64_t count_before = g_count.load();
    std::ofstream null_out("/dev/null");  // the report's text is not counted
    benchmark::DoNotOptimize(vk::process_jumplist_file(null_out, path, options));
    state.counters["file_MB"] = static_cast<double>(file_size) / 1e6;
    state.counters["peak_heap_MB"] = static_cast<double>(g_peak.load() - before) / 1e6;
    state.counters["target_MB"] = (2.0 * static_cast<double>(file_size) + 8e6) / 1e6;
    state.counters["allocs_per_entry"] =
        static_cast<double>(g_count.load() - count_before) / static_cast<double>(entries);
  }
}

void BM_AutomaticListPeakHeap(benchmark::State& state) {
  run(state, false);
}
void BM_AutomaticListPeakHeapIdlTimes(benchmark::State& state) {
  run(state, true);
}
BENCHMARK(BM_AutomaticListPeakHeap)->Arg(5000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutomaticListPeakHeapIdlTimes)
    ->Arg(5000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Allocations of one parse, of the whole link and of its LNK structures
// alone (no ID list, no property store, no Vista ID list). Each parse fills a
// fresh record, as the drivers' records are moved into their store.
void parse_allocations(benchmark::State& state, const std::vector<uint8_t>& link) {
  const vk::cmd_params opts;
  vk::link_scratch scratch;
  int64_t allocations = 0, parses = 0;
  for (auto _ : state) {
    vk::lnk_record rec;
    const int64_t before = g_count.load();
    benchmark::DoNotOptimize(vk::parse_lnk(rec, link.data(), link.size(), opts, scratch, false, 0));
    allocations += g_count.load() - before;
    ++parses;
  }
  state.counters["allocs_per_parse"] =
      static_cast<double>(allocations) / static_cast<double>(parses ? parses : 1);
}

void BM_ParseAllocations(benchmark::State& state) {
  parse_allocations(state, entry_link());
}
void BM_ParseAllocationsLnkOnly(benchmark::State& state) {
  auto link = entry_link();
  vesk_test::lnk_spec s;
  s.link_info = vesk_test::lnk_link_info{};
  s.link_info->label = "DATA";
  s.link_info->local_base_path = "C:\\Users\\examiner\\Documents\\report.docx";
  s.strings = {u"Report", u"..\\report.docx", u"C:\\Users\\examiner\\Documents", u"/q",
               u"%SystemRoot%\\a.ico"};
  const auto object = vesk_test::written_object_id();
  s.extra_blocks = {vesk_test::environment_block("%TEMP%\\x", u"%TEMP%\\x"),
                    vesk_test::console_block(),
                    vesk_test::tracker_block("desktop-01", object, object, object, object),
                    vesk_test::special_folder_block(36), vesk_test::known_folder_block(object)};
  parse_allocations(state, vesk_test::write_lnk(s));
}
BENCHMARK(BM_ParseAllocations);
BENCHMARK(BM_ParseAllocationsLnkOnly);

}  // namespace

void* operator new(size_t n) {
  return counted_alloc(n);
}
void* operator new[](size_t n) {
  return counted_alloc(n);
}
void operator delete(void* p) noexcept {
  counted_free(p);
}
void operator delete[](void* p) noexcept {
  counted_free(p);
}
void operator delete(void* p, size_t) noexcept {
  counted_free(p);
}
void operator delete[](void* p, size_t) noexcept {
  counted_free(p);
}
