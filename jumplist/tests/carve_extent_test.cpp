// Carved and loose links read to the extent they declare, custom lists of no
// entries, and the carve road's memory: records past a fixed budget are
// parsed again for the report, which stays the same byte for byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "alloc_hook.h"
#include "foundation/vk_console.h"
#include "jumplist/custom_list.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/record_report.h"
#include "jumplist/vesk_main.h"
#include "jumplist_samples.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;
using end = lnk_extent::end;

constexpr uint64_t k_cap = uint64_t{16} << 20;

lnk_spec text_link(std::initializer_list<std::pair<lnk_string_slot, size_t>> texts,
                   bool unicode = true) {
  lnk_spec s;
  s.unicode = unicode;
  for (const auto& [slot, length] : texts)
    s.strings[slot] = std::u16string(length, static_cast<char16_t>(u'a' + slot));
  return s;
}

lnk_spec with_blocks(std::vector<bytes_t> blocks, bool terminate = true) {
  lnk_spec s;
  s.extra_blocks = std::move(blocks);
  s.terminate = terminate;
  return s;
}

// A link that names its target (so every road keeps it) with long texts.
bytes_t long_link(std::initializer_list<std::pair<lnk_string_slot, size_t>> texts) {
  lnk_spec s = text_link(texts);
  lnk_link_info li;
  li.local_base_path = "C:\\Windows\\System32\\cmd.exe";
  s.link_info = li;
  return write_lnk(s);
}

TEST(LnkExtent, DeclaredSizesAsTheFormatCountsThem) {
  lnk_spec bad_info;
  lnk_link_info li;
  li.header_size = 0x20;  // neither 0x1C nor 0x24 and above
  bad_info.link_info = li;
  lnk_spec idlist_past;
  idlist_past.idlist = bytes_t(10, 0);
  idlist_past.idlist_declared = 0xFFFF;
  const bytes_t args = write_lnk(text_link({{lnk_arguments, 16500}}));
  struct row {
    const char* what;
    bytes_t link;
    size_t view;  // bytes of the link handed to the walk; 0: all
    uint64_t size;
    end how;
    bool boundary;
  };
  // Sizes by MS-SHLLINK: header 76, IDList 2 + IDListSize, LinkInfo
  // LinkInfoSize, StringData 2 + CountCharacters (x2 Unicode), blocks
  // BlockSize, terminal 4.
  const row rows[] = {
      {"bare", write_lnk(lnk_spec{}), 0, 80, end::terminal, false},
      {"no terminal", write_lnk(with_blocks({}, false)), 0, 80, end::open, true},
      {"16,500-char arguments", args, 0, 33082, end::terminal, false},
      {"cut in its arguments", args, 1000, 33082, end::open, false},
      {"cut before its terminal", args, 33078, 33082, end::open, true},
      {"five 16,384-char texts",
       write_lnk(text_link({{lnk_name, 16384},
                            {lnk_relative_path, 16384},
                            {lnk_working_dir, 16384},
                            {lnk_arguments, 16384},
                            {lnk_icon_location, 16384}})),
       0, 163930, end::terminal, false},
      {"300 8-bit chars", write_lnk(text_link({{lnk_name, 300}}, false)), 0, 382, end::terminal,
       false},
      {"ID list past the data", write_lnk(idlist_past), 0, 65613, end::open, false},
      {"LinkInfo header 0x20", write_lnk(bad_info), 0, 76, end::damaged, false},
      {"foreign signature", write_lnk(with_blocks({extra_block(0x12345678, bytes_t(8, 1))})), 0, 76,
       end::damaged, false},
      {"BlockSize 6", write_lnk(with_blocks({extra_block(0xA0000002, {}, 6)})), 0, 76, end::damaged,
       false},
      {"BlockSize above 64 KiB",
       write_lnk(with_blocks({extra_block(0xA0000002, bytes_t(65536, 0))})), 0, 65624,
       end::terminal, false},
      {"BlockSize 0xFFFFFFF0",
       write_lnk(with_blocks({extra_block(0xA0000002, bytes_t(8, 0), 0xFFFFFFF0)})), 0, k_cap,
       end::capped, false},
  };
  for (const row& r : rows) {
    const size_t view = r.view ? r.view : r.link.size();
    const lnk_extent e = declared_lnk_extent(byte_view(r.link.data(), view), k_cap);
    EXPECT_EQ(e.size, r.size) << r.what;
    EXPECT_EQ(e.how, r.how) << r.what;
    if (r.how == end::open) {
      EXPECT_EQ(e.at_boundary, r.boundary) << r.what;
    }
  }
  // Every cut of a link ends open or at its damage, never past the cap or
  // reading outside the view.
  const bytes_t full = full_written_link();
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    const lnk_extent e = declared_lnk_extent(byte_view(full.data(), cut), 4096);
    EXPECT_TRUE(e.how == end::open || (cut == full.size() && e.how == end::terminal)) << cut;
    EXPECT_LE(e.size, std::max<uint64_t>(full.size(), 4096)) << cut;
  }
}

struct drive_result {
  bool ok;
  lnk::useropts::failure why;
  std::string text;
  std::string notes;
  std::vector<lnk_record> records;  // highest key first
};

drive_result drive(const temp_tree& tree, const bytes_t& bytes, const std::string& name) {
  tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_status_messages = 0;
  options.m_source_path = tree.path(name);
  std::ostringstream out;
  const bool ok = process_jumplist_file(out, options.m_source_path, options);
  drive_result d{ok, options.m_failure, out.str(), options.m_notes.lines(name), {}};
  for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it)
    d.records.push_back(it->second);
  return d;
}

// The value of each labelled line with this label, in report order.
std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

TEST(CarveRoad, LongLinksAreReadInFullAsInAnAutomaticList) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  struct row {
    bytes_t link;
    size_t arguments, icon;
  };
  const row rows[] = {
      {long_link({{lnk_arguments, 16500}, {lnk_icon_location, 40}}), 16500, 40},
      {long_link({{lnk_name, 16384},
                  {lnk_relative_path, 16384},
                  {lnk_working_dir, 16384},
                  {lnk_arguments, 16384},
                  {lnk_icon_location, 16384}}),
       16384, 16384},
  };
  const bytes_t small = fixture_link();
  for (const row& r : rows) {
    // The whole written link, as long as it is.
    const std::string size = std::to_string(r.link.size()) + " bytes]";
    cfb_writer w;
    std::vector<destlist_test_entry> entries(1);
    w.stream(u"1", r.link).stream(u"DestList", build_destlist(4, entries));
    const drive_result automatic = drive(tree, w.build(), "l.automaticDestinations-ms");
    bytes_t custom = r.link;
    custom.insert(custom.end(), small.begin(), small.end());
    const drive_result loose = drive(tree, r.link, "long.lnk");
    const drive_result list = drive(tree, custom, "l.customDestinations-ms");
    ASSERT_EQ(loose.records.size(), 1u);
    ASSERT_EQ(list.records.size(), 2u);
    for (const drive_result* d : {&automatic, &loose, &list}) {
      const auto parsed = values(d->text, "Parsed size:");
      ASSERT_FALSE(parsed.empty());
      EXPECT_NE(parsed.back().find(size), std::string::npos) << parsed.back();
      EXPECT_EQ(values(d->text, "Cmdline args:").back().size(), r.arguments);
      EXPECT_EQ(values(d->text, "Icon filename:").back().size(), r.icon);
    }
    // Carving goes on right after the long link.
    EXPECT_EQ(list.records[0].m_file_offset, r.link.size());
    EXPECT_EQ(loose.notes, "");

    // Cut inside its texts: what is there is reported, and the cut said.
    const bytes_t cut(r.link.begin(), r.link.begin() + 20000);
    const drive_result part = drive(tree, cut, "cut.lnk");
    ASSERT_EQ(part.records.size(), 1u);
    EXPECT_EQ(part.records[0].m_local_base_path, "C:\\Windows\\System32\\cmd.exe");
    EXPECT_EQ(part.notes,
              "not read in full: cut.lnk (link at offset 0x0: declared size runs past the end of "
              "the file)\n");
  }

  // A block declared past 16 MiB in a longer file: the link is cut there.
  lnk_spec huge = text_link({{lnk_arguments, 100}});
  lnk_link_info li;
  li.local_base_path = "C:\\x.exe";
  huge.link_info = li;
  huge.extra_blocks = {extra_block(0xA0000002, bytes_t(8, 0), 0x01000100)};
  bytes_t capped = write_lnk(huge);
  capped.resize(size_t{17} << 20);
  const drive_result cut = drive(tree, capped, "capped.lnk");
  ASSERT_EQ(cut.records.size(), 1u);
  EXPECT_EQ(cut.records[0].m_arguments.size(), 100u);
  EXPECT_EQ(cut.notes,
            "not read in full: capped.lnk (link at offset 0x0: longer than 16 MiB; the rest was "
            "not read)\n");
}

TEST(CarveRoad, CustomListsOfNoEntries) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  using failure = lnk::useropts::failure;
  struct row {
    const char* what;
    bytes_t bytes;
    bool empty;
  };
  // Header: version 2, category count, a u32; categories: type 0 (u16 name
  // length, UTF-16 name, u32 count), 1 (u32 identifier) or 2 (u32 count),
  // each followed by AB FB BF BA.
  const bytes_t known = {2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  const bytes_t footer = {0xAB, 0xFB, 0xBF, 0xBA};
  auto join = [](std::initializer_list<bytes_t> parts) {
    bytes_t b;
    for (const bytes_t& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  const row rows[] = {
      {"no category, no footer", {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
      {"known category", join({known, footer}), true},
      {"known category, no footer", known, true},
      {"named and task categories of no entries",
       join({{2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 'R', 0, 0, 0, 0, 0},
             footer,
             {2, 0, 0, 0, 0, 0, 0, 0},
             footer}),
       true},
      {"version 3", {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"a task of one entry", {2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}, false},
      {"unknown category type",
       join({{2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}, footer}), false},
      {"bytes after the footer", join({known, footer, {0}}), false},
      {"two categories announced, one there",
       join({{2, 0, 0, 0, 2}, bytes_t(known.begin() + 5, known.end()), footer}), false},
      {"eleven bytes", {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(is_empty_custom_list(byte_view(r.bytes)), r.empty) << r.what;
    const drive_result d = drive(tree, r.bytes, "e.customDestinations-ms");
    EXPECT_EQ(d.ok, r.empty) << r.what;
    EXPECT_EQ(d.why, r.empty ? failure::no_entries : failure::not_a_list) << r.what;
    EXPECT_EQ(d.text, "") << r.what;
  }

  // The program: said for a named file and status 0; quiet in a list.
  tree.file("e.customDestinations-ms", std::string(known.begin(), known.end()));
  const std::string path = tree.path("e.customDestinations-ms");
  const std::string out = tree.path("out.txt");
  console_capture capture;
  EXPECT_EQ(vesk_run({"vesk", "-quiet", "-out", out, path}), 0);
  EXPECT_NE(capture.err().find("no entries in file: " + path + "\n"), std::string::npos);
  capture.clear();
  tree.dir("d");
  tree.file("d/e.customDestinations-ms", std::string(known.begin(), known.end()));
  vesk_run({"vesk", "-quiet", "-out", out, "-enumdir", tree.path("d")});
  EXPECT_EQ(capture.err().find("no entries"), std::string::npos) << capture.err();
}

TEST(CarveRoadSamples, CustomListsOfNoLinkAreTheEmptyOnes) {
  const auto samples = samples_of_kind("customDestinations");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent";
  for (const sample_jumplist& s : samples)
    EXPECT_EQ(is_empty_custom_list(byte_view(s.bytes)), s.detail("carved_lnk_ok") == "0/0")
        << s.relpath;
}

// The sequence of false headers every 64 bytes: size, CLSID and a flags word
// (an ID list, Unicode), parsing as links that name nothing.
bytes_t false_headers(size_t count) {
  bytes_t b(count * 64 + 16, 0);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* h = b.data() + i * 64;
    h[0] = 76;
    std::copy(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end(), h + 4);
    h[20] = 0x81;
    for (size_t k = 24; k < 64; ++k) h[k] = static_cast<uint8_t>(i * 31 + k);
  }
  return b;
}

// Links of one size, each naming its own file.
bytes_t numbered_link(size_t i, uint64_t write_time = 0) {
  lnk_spec s;
  s.write_time = write_time;
  lnk_link_info li;
  const std::string number = std::to_string(10000 + i);
  li.local_base_path = "C:\\Temp\\file" + number + ".txt";
  s.link_info = li;
  s.strings[lnk_name] = u"n";
  return write_lnk(s);
}

struct carve_result {
  bool ok;
  std::string text;
  size_t records = 0;
  int64_t peak = 0;
};

// The carve road over bytes in memory with a record budget; the report is
// kept as text, or thrown away so that only the road's own memory counts.
carve_result carve(const bytes_t& bytes, size_t budget, bool text, int64_t fail_at = -1) {
  vesk_options options;
  options.m_status_messages = 0;
  options.m_carve_mode = true;
  options.m_scan_step = 1;
  options.m_source_path = "carve.bin";
  std::ostringstream kept;
  std::ostream discarded(nullptr);
  std::ostream& out = text ? static_cast<std::ostream&>(kept) : discarded;
  struct budget_set {
    explicit budget_set(size_t bytes) { set_carve_record_budget_for_test(bytes); }
    ~budget_set() { set_carve_record_budget_for_test(size_t{4} << 20); }
  } set(budget);
  carve_result r{};
  const carved_record_sink sink = [&](lnk_record& rec) {
    ++r.records;
    report_record(out, rec, options);
  };
  {
    heap::scope counted;
    if (fail_at >= 0) heap::fail_nth(fail_at);
    r.ok = carve_and_report(out, nullptr, byte_view(bytes), options, false, k_header_not_searched,
                            sink);
    heap::no_failure();
    r.peak = counted.peak_above_start();
  }
  r.text = kept.str();
  return r;
}

TEST(CarveRoad, MemoryFollowsTheBudgetAndTheReportStaysTheSame) {
  // False headers are never kept: their number costs nothing.
  auto with_junk = [](size_t count) {
    bytes_t b = numbered_link(0);
    b.resize((b.size() + 63) / 64 * 64);
    const bytes_t junk = false_headers(count);
    b.insert(b.end(), junk.begin(), junk.end());
    for (size_t i = 1; i <= 20; ++i) {
      const bytes_t l = numbered_link(i);
      b.insert(b.end(), l.begin(), l.end());
    }
    return b;
  };
  const carve_result few = carve(with_junk(500), size_t{4} << 20, false);
  const carve_result many = carve(with_junk(20000), size_t{4} << 20, false);
  EXPECT_EQ(few.records, 21u);
  EXPECT_EQ(many.records, 21u);
  EXPECT_LE(many.peak, few.peak + 4096) << few.peak;

  // Links, then a compound file whose links are keyed by small write times,
  // so that its records fall among the links' offsets, one on a link's own.
  auto links = [](size_t count) {
    bytes_t b;
    for (size_t i = 0; i < count; ++i) {
      const bytes_t l = numbered_link(i);
      b.insert(b.end(), l.begin(), l.end());
    }
    const uint64_t on_a_link = numbered_link(0).size() * (count / 2);
    cfb_writer w;
    w.stream(u"a", numbered_link(900, 300)).stream(u"b", numbered_link(901, 0));
    w.stream(u"c", numbered_link(902, on_a_link));
    const bytes_t image = w.build();
    b.insert(b.end(), image.begin(), image.end());
    return b;
  };
  constexpr size_t budget = 64 << 10;
  const carve_result held = carve(links(300), size_t{4} << 20, true);
  const carve_result again = carve(links(300), budget, true);
  EXPECT_EQ(held.records, 303u);
  EXPECT_EQ(again.records, 303u);
  EXPECT_EQ(again.text, held.text);
  const carve_result fewer = carve(links(300), budget, false);
  const carve_result more = carve(links(1200), budget, false);
  const carve_result all_held = carve(links(1200), size_t{64} << 20, false);
  EXPECT_EQ(more.records, 1203u);
  // Past the budget each further record costs its offset and length (and
  // the lists' doubling).
  EXPECT_LE(more.peak - fewer.peak, static_cast<int64_t>(budget + 32 * 900))
      << fewer.peak << " " << more.peak;
  EXPECT_LT(more.peak * 4, all_held.peak) << all_held.peak;

  // Allocations failing anywhere: no crash, and never more than there is.
  const bytes_t some = links(40);
  for (int64_t n = 0; n < 400; n += 7) EXPECT_LE(carve(some, 4096, false, n).records, 43u) << n;
}

}  // namespace
}  // namespace vk
