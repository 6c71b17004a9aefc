// Carved and loose links read to the extent they declare, custom lists of no
// entries, and the carve road's memory: records past a fixed budget are
// parsed again for the report, which stays the same byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_hook.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "foundation/vk_console.h"
#include "jumplist/custom_list.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_carve.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/record_report.h"
#include "jumplist/vesk_main.h"
#include "jumplist/vesk_options.h"
#include "jumplist_samples.h"
#include "posix_seam.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;
using end = lnk_extent::end;
namespace hdr = cfb::header;

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
  // Structures that make no sense: the walk ends before them.
  lnk_spec info_offset_past, info_huge, items_unchained;
  lnk_link_info past;
  past.local_base_path = "C:\\x";
  past.local_path_offset = 4000;
  info_offset_past.link_info = past;
  lnk_link_info huge;
  huge.declared_size = 2 << 20;
  info_huge.link_info = huge;
  items_unchained.idlist = bytes_t{0x07, 0, 1, 2, 3, 4, 5, 0x30, 0};  // 7, then 0x30 past the list
  lnk_spec text_ffff = text_link({{lnk_name, 4}}), text_surrogate = text_ffff;
  text_ffff.strings[lnk_name] = u"ab\uFFFFc";
  text_surrogate.strings[lnk_name] = std::u16string{u'a', static_cast<char16_t>(0xDC00), u'b'};
  lnk_spec text_control = text_link({{lnk_name, 4}}, false);
  text_control.strings[lnk_name] = u"ab\x01c";
  struct row {
    const char* what;
    bytes_t link;
    size_t view;  // bytes of the link handed to the walk; 0: all
    uint64_t size;
    end how;
    bool boundary;
    uint64_t implausible = lnk_extent::k_plausible;
  };
  const bytes_t unchained = write_lnk(items_unchained), ffff = write_lnk(text_ffff),
                surrogate = write_lnk(text_surrogate), control = write_lnk(text_control),
                info_0x20 = write_lnk(bad_info), info_past = write_lnk(info_offset_past);
  // Sizes by MS-SHLLINK: header 76, IDList 2 + IDListSize, LinkInfo
  // LinkInfoSize, StringData 2 + CountCharacters (x2 Unicode), blocks
  // BlockSize, terminal 4. A structure that makes no sense is marked where
  // it starts and stepped over by its size all the same.
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
      {"LinkInfo header 0x20", info_0x20, 0, info_0x20.size(), end::terminal, false, 76},
      {"foreign signature, stepped over",
       write_lnk(with_blocks({extra_block(0x12345678, bytes_t(8, 1))})), 0, 96, end::terminal,
       false},
      {"BlockSize 6", write_lnk(with_blocks({extra_block(0xA0000002, {}, 6)})), 0, 80, end::damaged,
       false, 76},
      {"BlockSize above 64 KiB",
       write_lnk(with_blocks({extra_block(0xA0000002, bytes_t(65536, 0))})), 0, 65624,
       end::terminal, false},
      {"LinkInfo offset past its size", info_past, 0, info_past.size(), end::terminal, false, 76},
      {"LinkInfo of 2 MiB", write_lnk(info_huge), 0, 76 + (2 << 20) + 4, end::open, false, 76},
      {"ID list items not ending in a terminator", unchained, 0, unchained.size(), end::terminal,
       false, 76},
      {"text holding U+FFFF", ffff, 0, ffff.size(), end::terminal, false, 76},
      {"text with a lone surrogate", surrogate, 0, surrogate.size(), end::terminal, false, 76},
      {"8-bit text with a control byte", control, 0, control.size(), end::terminal, false, 76},
      {"BlockSize 0xFFFFFFF0",
       write_lnk(with_blocks({extra_block(0xA0000002, bytes_t(8, 0), 0xFFFFFFF0)})), 0, k_cap,
       end::capped, false},
  };
  for (const row& r : rows) {
    const size_t view = r.view ? r.view : r.link.size();
    const lnk_extent e = declared_lnk_extent(byte_view(r.link.data(), view), k_cap);
    EXPECT_EQ(e.size, r.size) << r.what;
    EXPECT_EQ(e.how, r.how) << r.what;
    EXPECT_EQ(e.implausible_at, r.implausible) << r.what;
    if (r.how == end::open) {
      EXPECT_EQ(e.at_boundary, r.boundary) << r.what;
    }
  }
  // Capped inside a block, a parser can use none of it; inside a LinkInfo,
  // its first MiB.
  lnk_spec info_past_cap;
  lnk_link_info beyond;
  beyond.declared_size = 0xF0000000;
  info_past_cap.link_info = beyond;
  const bytes_t block_past_cap =
      write_lnk(with_blocks({extra_block(0xA0000002, bytes_t(8, 0), 0xFFFFFFF0)}));
  EXPECT_EQ(declared_lnk_extent(byte_view(block_past_cap), k_cap).useful, 76u + 8);
  const lnk_extent info_capped = declared_lnk_extent(byte_view(write_lnk(info_past_cap)), k_cap);
  EXPECT_EQ(info_capped.how, end::capped);
  EXPECT_EQ(info_capped.useful, 76u + (1 << 20));
  // Every cut of a link ends open or at its damage, never past the cap or
  // reading outside the view.
  const bytes_t full = full_written_link();
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    const lnk_extent e = declared_lnk_extent(byte_view(full.data(), cut), 4096);
    EXPECT_TRUE(e.how == end::open || (cut == full.size() && e.how == end::terminal)) << cut;
    EXPECT_LE(e.size, std::max<uint64_t>(full.size(), 4096)) << cut;
  }
}

// A text's units are looked at wherever they lie, eight bytes at a time or
// one by one: one unit of a 19-character name at each place.
TEST(LnkExtent, TextTestedAtEveryPlace) {
  struct row {
    const char* what;
    bool unicode;
    std::u16string unit;  // put at each place of the name
    bool decodes;         // else the name, at 76, is marked
  };
  const row rows[] = {
      {"U+FFFE", true, u"\uFFFE", false},
      {"lone high surrogate", true, std::u16string(1, static_cast<char16_t>(0xDBFF)), false},
      {"lone low surrogate", true, std::u16string(1, static_cast<char16_t>(0xDC00)), false},
      {"private use U+E000", true, u"\uE000", true},
      {"Hangul U+D7A3", true, u"\uD7A3", true},
      {"U+FFFD", true, u"\uFFFD", true},
      {"control byte 0x1F", false, u"\x1F", false},
      {"control byte 0x01", false, u"\x01", false},
      {"tab", false, u"\t", true},
      {"byte 0x80", false, u"\x80", true},
  };
  for (const row& r : rows)
    for (size_t at = 0; at < 19; ++at) {
      lnk_spec s = text_link({{lnk_name, 19}}, r.unicode);
      (*s.strings[lnk_name])[at] = r.unit[0];
      const bytes_t link = write_lnk(s);
      const lnk_extent e = declared_lnk_extent(byte_view(link), k_cap);
      // 76 + 2 + 19 units + terminal 4, whatever the text holds.
      EXPECT_EQ(e.size, r.unicode ? 120u : 101u) << r.what << " at " << at;
      EXPECT_EQ(e.how, end::terminal) << r.what << " at " << at;
      EXPECT_EQ(e.implausible_at, r.decodes ? lnk_extent::k_plausible : 76u)
          << r.what << " at " << at;
    }
  // A pair at each place decodes; its high half last of the bytes held
  // leaves the text to the walk that holds its low half.
  for (size_t at = 0; at + 1 < 19; ++at) {
    lnk_spec s = text_link({{lnk_name, 19}});
    (*s.strings[lnk_name])[at] = static_cast<char16_t>(0xD83D);
    (*s.strings[lnk_name])[at + 1] = static_cast<char16_t>(0xDE00);
    const bytes_t link = write_lnk(s);
    EXPECT_EQ(declared_lnk_extent(byte_view(link), k_cap).how, end::terminal) << at;
    const lnk_extent cut = declared_lnk_extent(byte_view(link.data(), 78 + 2 * at + 2), k_cap);
    EXPECT_EQ(cut.how, end::open) << at;
    EXPECT_EQ(cut.size, 120u) << at;
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

// The DestList cells of a report's records, each label's sorted.
std::vector<std::string> destlist_cells(const std::string& text) {
  std::vector<std::string> all;
  for (const char* label : {"MRU/MFU index:", "stream #:", "MRU time:", "Interaction count:",
                            "DestList path:", "NETBIOS name:", "Volume ID:", "Object ID:"}) {
    std::vector<std::string> v = values(text, label);
    std::sort(v.begin(), v.end());
    all.insert(all.end(), v.begin(), v.end());
  }
  return all;
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
  // The same link in a file that ends before 16 MiB: the file's end cut it.
  const drive_result short_file = drive(tree, write_lnk(huge), "short.lnk");
  ASSERT_EQ(short_file.records.size(), 1u);
  EXPECT_EQ(short_file.notes,
            "not read in full: short.lnk (link at offset 0x0: declared size runs past the end of "
            "the file)\n");
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
bytes_t numbered_link(size_t i, uint64_t write_time = 0, size_t arguments = 0) {
  lnk_spec s;
  s.write_time = write_time;
  if (arguments) s.strings[lnk_arguments] = std::u16string(arguments, u'a');
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
  size_t with_entry = 0;  // records given a DestList entry
  int64_t peak = 0;
  int64_t allocations = 0;
  std::string notes;
};

// The carve road over bytes in memory with a record budget; the report is
// kept as text, or thrown away so that only the road's own memory counts.
// The settings of a carve of every offset, quiet.
void set_carve_options(vesk_options& options) {
  options.m_status_messages = 0;
  options.m_carve_mode = true;
  options.m_scan_step = 1;
  options.m_source_path = "carve.bin";
}

carve_result carve(const bytes_t& bytes, size_t budget, bool text, int64_t fail_at = -1,
                   carve_work* work = nullptr, uint64_t nested_work = uint64_t{1} << 24,
                   size_t drops_held = vesk_options().m_carve_drops_held) {
  vesk_options options;
  set_carve_options(options);
  options.m_carve_nested_work = nested_work;
  options.m_carve_drops_held = drops_held;
  std::ostringstream kept;
  std::ostream discarded(nullptr);
  std::ostream& out = text ? static_cast<std::ostream&>(kept) : discarded;
  options.m_carve_record_budget = budget;
  carve_result r{};
  carved_record_sink sink;
  sink.write = [&](lnk_record& rec, std::ostream& to, file_notes&) {
    report_record(to, rec, options);
  };
  sink.reported = [&](const carved_report& rec) {
    ++r.records;
    if (rec.mru_position > 0) ++r.with_entry;
  };
  {
    heap::scope counted;
    if (fail_at >= 0) heap::fail_nth(fail_at);
    r.ok = carve_and_report(out, nullptr, byte_view(bytes), options, false, k_header_not_searched,
                            sink, work);
    heap::no_failure();
    r.peak = counted.peak_above_start();
    r.allocations = counted.allocations();
  }
  r.text = kept.str();
  r.notes = options.m_notes.lines("carve.bin");
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

  // Allocations failing while a carved list is read: its links still reach
  // the report, or what is lost is said.
  cfb_writer w;
  std::vector<uint64_t> named;
  for (size_t i = 1; i <= 11; ++i) {
    const char16_t name = static_cast<char16_t>(i < 10 ? u'0' + i : u'a' + i - 10);
    w.stream(std::u16string(1, name), numbered_link(600 + i));
    named.push_back(i);
  }
  w.stream(u"DestList", build_destlist_naming(named));
  bytes_t dump = numbered_link(0);
  dump.resize(4096, 0);
  const bytes_t list = w.build();
  dump.insert(dump.end(), list.begin(), list.end());
  for (const size_t held_budget : {size_t{4} << 20, size_t{4096}}) {
    const carve_result whole = carve(dump, held_budget, false);
    ASSERT_EQ(whole.records, 12u);
    ASSERT_EQ(whole.with_entry, 11u);
    ASSERT_EQ(whole.notes, "");
    size_t kept_without_destlist = 0;
    for (int64_t n = 0; n < whole.allocations; ++n) {
      const carve_result r = carve(dump, held_budget, false, n);
      // A link carved without its DestList entry is a loss too; links of
      // the list carved without their cells (beyond the loose link) are
      // said as such.
      if (r.records < 12 || r.with_entry < 11) {
        EXPECT_NE(r.notes, "") << n << " " << held_budget << " " << r.records;
      }
      if (r.records > r.with_entry + 1) {
        EXPECT_NE(r.notes.find("without DestList data"), std::string::npos) << n << r.notes;
      }
      // Every note of the list names its place in the dump.
      if (r.notes.find("chains not checked") != std::string::npos) {
        EXPECT_NE(r.notes.find("(compound file at offset 0x1000: its sector chains not checked"),
                  std::string::npos)
            << n << r.notes;
      }
      if (r.records == 12 &&
          r.notes.find("its link streams reported without DestList data") != std::string::npos)
        ++kept_without_destlist;
    }
    EXPECT_GT(kept_without_destlist, 0u) << held_budget;
  }
}

std::string hex_offset(size_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%zx", value);
  return text;
}

// Records in a labelled report.
size_t records_in(const std::string& text) {
  size_t n = 0;
  for (size_t at = text.find("source path/filename:"); at != std::string::npos;
       at = text.find("source path/filename:", at + 1))
    ++n;
  return n;
}

// A false header: size, CLSID, the rest given.
bytes_t false_header(uint32_t flags, uint8_t fill, size_t length) {
  bytes_t b(length, fill);
  std::fill(b.begin(), b.begin() + 24, 0);
  b[0] = 76;
  std::copy(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end(), b.begin() + 4);
  for (int i = 0; i < 4; ++i) b[20 + i] = static_cast<uint8_t>(flags >> (8 * i));
  return b;
}

TEST(CarveRoad, FalseHeadersAreNotReadOnAsLinks) {
  // Each kind of false header, followed by 64 KiB of seeded junk, eight
  // times between real links: only the links are reported, and the road
  // never holds more than a few windows (a false header's declared sizes
  // once had it read 16 MiB).
  uint32_t seed = 11;
  auto junk = [&](size_t n) {
    bytes_t b(n);
    for (uint8_t& x : b) {
      seed = seed * 1103515245u + 12345u;
      x = static_cast<uint8_t>(seed >> 16);
    }
    return b;
  };
  bytes_t info_past = false_header(0x02, 0, 128);
  const uint32_t info[] = {0x00F00000, 0x1C, 1, 0x10000000, 0, 0, 0};  // offset past its size
  for (size_t i = 0; i < 7; ++i)
    for (int k = 0; k < 4; ++k)
      info_past[76 + 4 * i + k] = static_cast<uint8_t>(info[i] >> (8 * k));
  struct row {
    const char* what;
    bytes_t header;
    size_t junk_records;  // a random header may still name something
  };
  const row rows[] = {
      {"random flags and sizes", false_header(0, 0, 76), 0},
      {"flags and attributes all set, texts of U+FFFF", false_header(0xFFFFFFFF, 0xFF, 512), 0},
      {"LinkInfo naming a part past its 15 MiB", info_past, 0},
      {"an ID list of 0xFFFF bytes whose items do not chain", false_header(0x01, 0xFF, 128), 0},
  };
  for (const row& r : rows) {
    bytes_t b = numbered_link(0);
    for (int i = 1; i <= 8; ++i) {
      bytes_t h = r.header;
      if (h.size() == 76) {
        const bytes_t tail = junk(56);  // flags, attributes and the rest random
        std::copy(tail.begin(), tail.end(), h.begin() + 20);
      }
      const bytes_t j = junk(64 << 10);
      b.insert(b.end(), h.begin(), h.end());
      b.insert(b.end(), j.begin(), j.end());
      const bytes_t l = numbered_link(static_cast<size_t>(i));
      b.insert(b.end(), l.begin(), l.end());
    }
    const carve_result c = carve(b, size_t{4} << 20, true);
    EXPECT_EQ(c.records, 9u + r.junk_records) << r.what;
    EXPECT_LT(c.peak, int64_t{1} << 20) << r.what;
  }
  // A link every 4 KiB: every one.
  bytes_t every;
  for (size_t i = 0; i < 64; ++i) {
    bytes_t l = numbered_link(i);
    l.resize(4096);
    every.insert(every.end(), l.begin(), l.end());
  }
  EXPECT_EQ(carve(every, size_t{4} << 20, false).records, 64u);
}

// An automatic list of 10 links followed by free sectors (FREESECT, or
// allocated sectors no stream reaches) that hold fill, written from their
// first byte on; free_at tells where they begin.
bytes_t list_with_free_space(const bytes_t& fill, size_t& free_at, bool orphaned = false) {
  cfb_writer w;
  std::vector<destlist_test_entry> entries;
  for (size_t i = 0; i < 10; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "%zx", i + 1);
    w.stream(std::u16string(name, name + std::strlen(name)), numbered_link(i));
    destlist_test_entry e;
    e.entry_num = i + 1;
    entries.push_back(e);
  }
  w.stream(u"DestList", build_destlist(4, entries));
  if (orphaned)
    w.orphan_sector((fill.size() + 511) / 512);
  else
    w.free_sector((fill.size() + 511) / 512);
  bytes_t image = w.build();
  free_at = image.size() - (fill.size() + 511) / 512 * 512;
  std::copy(fill.begin(), fill.end(), image.begin() + static_cast<std::ptrdiff_t>(free_at));
  return image;
}

// The list read with -slack.
drive_result drive_slack(const temp_tree& tree, const bytes_t& image) {
  const std::string name = "5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(image.begin(), image.end()));
  vesk_options options;
  options.m_status_messages = 0;
  options.m_slack = 1;
  options.m_source_path = tree.path(name);
  std::ostringstream out;
  const bool ok = process_jumplist_file(out, options.m_source_path, options);
  drive_result d{ok, options.m_failure, out.str(), options.m_notes.lines(name), {}};
  for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it)
    d.records.push_back(it->second);
  return d;
}

TEST(SlackRecovery, FreeSpaceLinksAreReadByTheirOwnExtent) {
  // 200 free sectors of false headers (flags and attributes all set, texts
  // of U+FFFF), four a sector: -slack gives the list's 10 records and no
  // junk, as carving the same bytes does.
  bytes_t fill;
  for (size_t i = 0; i < 200 * 4; ++i) {
    const bytes_t h = false_header(0xFFFFFFFF, 0xFF, 128);
    fill.insert(fill.end(), h.begin(), h.end());
  }
  size_t free_at = 0;
  const bytes_t image = list_with_free_space(fill, free_at);
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const drive_result d = drive_slack(tree, image);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(records_in(d.text), 10u);
  // The area after a byte, so that it is not a file that starts as a link.
  bytes_t area(image.begin() + static_cast<std::ptrdiff_t>(free_at) - 1, image.end());
  EXPECT_EQ(carve(area, size_t{4} << 20, false).records, 0u);
}

// A custom list: header, one task category of the links, its footer.
bytes_t custom_list(const std::vector<bytes_t>& links, bool footer = true) {
  byte_builder b;
  b.u32(2).u32(1).u32(0).u32(2).u32(static_cast<uint32_t>(links.size()));
  for (const bytes_t& l : links) {
    b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
    b.bytes(l);
  }
  if (footer) b.u32(0xBABFFBABu);
  return b.take();
}

TEST(CarveRoad, CustomListLinksAfterADamagedOneAreRead) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::vector<bytes_t> four;
  for (size_t i = 0; i < 4; ++i) four.push_back(numbered_link(i));
  // The last one readable up to a damaged last block.
  lnk_spec bad_block;
  lnk_link_info li;
  li.local_base_path = "C:\\Temp\\file10003.txt";
  bad_block.link_info = li;
  bad_block.extra_blocks = {extra_block(0x12345678, bytes_t(8, 1))};
  four[3] = write_lnk(bad_block);
  std::vector<bytes_t> cut_first = four;
  cut_first[0].resize(76);  // cut after its header
  std::vector<bytes_t> thirteen;
  for (size_t i = 0; i < 13; ++i) thirteen.push_back(numbered_link(i));
  lnk_spec bad_info;
  lnk_link_info wrong = li;
  wrong.local_base_path = "C:\\Temp\\file10002.txt";
  wrong.local_path_offset = 4000;  // past the LinkInfo
  bad_info.link_info = wrong;
  bad_info.strings[lnk_name] = u"n";
  thirteen[2] = write_lnk(bad_info);
  const bytes_t sound = custom_list(four);
  const size_t link4 = sound.size() - 4 - four[3].size();
  struct row {
    const char* what;
    bytes_t bytes;
    size_t records;
    std::string notes;  // the frame's note, "" for none but the links' own
  };
  const row rows[] = {
      // The cut link names no target: the bytes after its header are the
      // next link's, whose CLSID there gives LinkInfo flags that declare no
      // part, so none is read from them. It is said, beside the three after it.
      {"first link cut after its header", custom_list(cut_first), 3,
       "link at offset 0x24: damaged; 3 links were read after it"},
      {"the third of 13 damaged", custom_list(thirteen), 13,
       "link at offset " + hex_offset(20 + 2 * (16 + four[0].size()) + 16) +
           ": damaged; 10 links were read after it"},
      {"ends inside its last link",
       bytes_t(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(link4 + 100)), 3,
       "link at offset " + hex_offset(link4) + ": the file ends inside it"},
      {"no footer", custom_list(four, false), 4, ""},
  };
  for (const row& r : rows) {
    const drive_result d = drive(tree, r.bytes, "c.customDestinations-ms");
    EXPECT_EQ(records_in(d.text), r.records) << r.what;
    if (r.notes.empty())
      EXPECT_EQ(d.notes.find("custom list"), std::string::npos) << r.what << d.notes;
    else
      EXPECT_NE(d.notes.find(r.notes), std::string::npos) << r.what << "\n" << d.notes;
  }
  // The damage is said however memory runs out, while the frame is
  // followed too.
  const bytes_t damaged = custom_list(cut_first);
  for (int64_t n = 0; n < 300; ++n) {
    vesk_options o;
    o.m_status_messages = 0;
    o.m_carve_mode = true;
    o.m_source_path = "c.customDestinations-ms";
    std::ostream none(nullptr);
    heap::fail_nth(n);
    carve_and_report(none, nullptr, byte_view(damaged), o, false, k_header_not_searched,
                     {[](lnk_record&, std::ostream&, file_notes&) {}, nullptr});
    heap::no_failure();
    EXPECT_NE(o.m_notes.lines("c"), "") << n;
  }
}

// A link longer than 32 KiB whose arguments, past 32 KiB, hold control
// characters, then an icon location and an environment block.
bytes_t late_text_link(bool unicode) {
  lnk_spec s;
  s.unicode = unicode;
  lnk_link_info li;
  li.local_base_path = "C:\\Windows\\System32\\cmd.exe";
  s.link_info = li;
  s.strings[lnk_name] = std::u16string(unicode ? 17000 : 33000, u'n');
  s.strings[lnk_arguments] =
      unicode ? std::u16string{u'-', u'a', static_cast<char16_t>(0xD800), u'b', u'\uFFFF', u'c'}
              : std::u16string(
                    u"-a\x01\x1b"
                    u"b\x7f"
                    u"c");
  s.strings[lnk_icon_location] = u"C:\\Windows\\late.ico";
  s.extra_blocks = {environment_block("%windir%\\late.exe", u"%windir%\\late.exe")};
  return write_lnk(s);
}

TEST(CarveRoad, LongLinksWithControlCharactersLateAreReadWhole) {
  // Each read as a link file, carved after 4,000 bytes of junk and as the
  // first link of a custom list: every text and block, no note. The values
  // are pylnk's (its reading of the lone surrogate, which takes the 'b'
  // after it, aside).
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  uint32_t seed = 66;
  bytes_t junk(4000);
  for (uint8_t& x : junk) {
    seed = seed * 1103515245u + 12345u;
    x = static_cast<uint8_t>(seed >> 16);
  }
  struct row {
    bool unicode;
    size_t name;  // characters
    std::string arguments;
  };
  const row rows[] = {
      {false, 33000,
       "-a\x01\x1b"
       "b\x7f"
       "c"},
      {true, 17000,
       "-a\xEF\xBF\xBD"
       "b\xEF\xBF\xBF"
       "c"},  // U+FFFD for the lone surrogate
  };
  for (const row& r : rows) {
    const bytes_t link = late_text_link(r.unicode);
    bytes_t carved = junk;
    carved.insert(carved.end(), link.begin(), link.end());
    carved.insert(carved.end(), junk.begin(), junk.end());
    const drive_result loose = drive(tree, link, "late.lnk");
    const drive_result found = drive(tree, carved, "late.bin");
    const drive_result list =
        drive(tree, custom_list({link, numbered_link(1)}), "l.customDestinations-ms");
    for (const drive_result* d : {&loose, &found, &list}) {
      ASSERT_FALSE(d->records.empty()) << r.unicode;
      const lnk_record& rec = d->records.back();
      EXPECT_EQ(rec.m_lnk_size, link.size()) << r.unicode;
      EXPECT_EQ(rec.m_name.size(), r.name) << r.unicode;
      EXPECT_EQ(rec.m_arguments, r.arguments) << r.unicode;
      EXPECT_EQ(rec.m_icon_location, "C:\\Windows\\late.ico") << r.unicode;
      EXPECT_EQ(rec.m_environment_target, "%windir%\\late.exe") << r.unicode;
      EXPECT_EQ(d->notes, "") << r.unicode;
    }
    EXPECT_EQ(list.records.size(), 2u);
    EXPECT_EQ(found.records.back().m_file_offset, junk.size());
  }
}

TEST(SlackRecovery, LongLinksWithControlCharactersLateAreReadWhole) {
  // The long links above left in a list's free sectors (and in sectors no
  // stream reaches), each after a false header with random bytes and before
  // 4 KiB of them: -slack reads each
  // whole (every text and block) and takes nothing of the random bytes.
  uint32_t seed = 67;
  auto random = [&](size_t n) {
    bytes_t b(n);
    for (uint8_t& x : b) {
      seed = seed * 1103515245u + 12345u;
      x = static_cast<uint8_t>(seed >> 16);
    }
    return b;
  };
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const auto& [unicode, orphaned] :
       {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
    const bytes_t link = late_text_link(unicode);
    bytes_t fill = false_header(0, 0, 24);
    fill.resize(20);
    const bytes_t before = random(512 - 20), after = random(4096);
    fill.insert(fill.end(), before.begin(), before.end());
    fill.insert(fill.end(), link.begin(), link.end());
    fill.insert(fill.end(), after.begin(), after.end());
    size_t free_at = 0;
    const drive_result d = drive_slack(tree, list_with_free_space(fill, free_at, orphaned));
    ASSERT_TRUE(d.ok) << unicode;
    EXPECT_EQ(records_in(d.text), 11u) << unicode;
    EXPECT_EQ(d.notes, "") << unicode;
    // The free-space record is the last; its texts and block are all there.
    const std::vector<std::string> sizes = values(d.text, "Parsed size:"),
                                   names = values(d.text, "Description:"),
                                   args = values(d.text, "Cmdline args:");
    ASSERT_EQ(sizes.size(), 11u) << unicode;
    ASSERT_EQ(names.size(), 11u) << unicode;
    EXPECT_NE(sizes.back().find("[" + std::to_string(link.size()) + " bytes]"), std::string::npos)
        << sizes.back();
    EXPECT_EQ(names.back(), std::string(unicode ? 17000 : 33000, 'n')) << unicode;
    ASSERT_EQ(args.size(), 1u) << unicode;
    EXPECT_EQ(args[0].substr(0, 2), "-a") << unicode;
    EXPECT_EQ(values(d.text, "Icon filename:"), std::vector<std::string>{"C:\\Windows\\late.ico"})
        << unicode;
    EXPECT_EQ(values(d.text, "Environment DataBlk:"),
              std::vector<std::string>{"%windir%\\late.exe"})
        << unicode;
  }
}

TEST(CarveRoad, HeadersNoLinkHoldsAreNoCandidates) {
  // What every link of the samples holds: LinkFlags within bit 26, a
  // ShowWindow command (0 to 11), HotKey modifiers within HOTKEYF_EXT.
  auto header = [](uint32_t flags, uint32_t show, uint16_t hotkey) {
    lnk_spec s;
    s.flags_override = flags;
    s.show_cmd = show;
    s.hotkey = hotkey;
    return write_lnk(s);
  };
  struct row {
    const char* what;
    bytes_t link;
    bool candidate;
  };
  const bytes_t written = numbered_link(0);
  const row rows[] = {
      {"a written link", written, true},
      {"Ctrl+Alt+Shift+K, SW_SHOWMINNOACTIVE", header(0x00A00083, 7, 0x074B), true},
      {"KeepLocalIDListForUNCTarget, SW_FORCEMINIMIZE", header(0x04000000, 11, 0x0800), true},
      {"SW_HIDE", header(0, 0, 0), true},
      {"LinkFlags bit 27", header(0x08000000, 1, 0), false},
      {"ShowCommand 12", header(0, 12, 0), false},
      {"ShowCommand 0x01000001", header(0, 0x01000001, 0), false},
      {"HotKey modifier 0x10", header(0, 1, 0x1041), false},
      {"cut inside the ShowCommand", bytes_t(written.begin(), written.begin() + 62), true},
  };
  for (const row& r : rows)
    EXPECT_EQ(could_be_link_header(byte_view(r.link)), r.candidate) << r.what;

  // Seeded random data with a false header (size and CLSID) every 4 KiB
  // but at the start: at most one record in a thousand such headers.
  uint32_t seed = 68;
  bytes_t random(size_t{8} << 20);
  for (uint8_t& x : random) {
    seed = seed * 1103515245u + 12345u;
    x = static_cast<uint8_t>(seed >> 16);
  }
  const bytes_t pattern = false_header(0, 0, 24);
  size_t headers = 0;
  for (size_t at = 4096; at + 20 <= random.size(); at += 4096, ++headers)
    std::copy(pattern.begin(), pattern.begin() + 20,
              random.begin() + static_cast<std::ptrdiff_t>(at));
  EXPECT_EQ(headers, 2047u);
  EXPECT_LE(carve(random, size_t{4} << 20, false).records * 1000, headers);

  // A header no carved link holds is read all the same as a link file's
  // first link and as a custom list's link; among junk it is passed by.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec odd;
  lnk_link_info li;
  li.local_base_path = "C:\\odd.exe";
  odd.link_info = li;
  odd.show_cmd = 0x1234;
  const bytes_t link = write_lnk(odd);
  bytes_t among(random.begin() + 1, random.begin() + 4000);
  among.insert(among.end(), link.begin(), link.end());
  EXPECT_EQ(drive(tree, link, "odd.lnk").records.size(), 1u);
  const drive_result list =
      drive(tree, custom_list({numbered_link(1), link}), "o.customDestinations-ms");
  ASSERT_EQ(list.records.size(), 2u);
  EXPECT_EQ(list.records[0].m_local_base_path, "C:\\odd.exe");
  EXPECT_EQ(carve(among, size_t{4} << 20, false).records, 0u);
}

// A compound-file header as writers begin one, declaring 2,047 FAT sectors
// (a FAT reaching 128 MiB), its FAT in sectors 1 to 109 and its directory
// starting at sector 7, in 8 MiB of zeros; chained, the FAT sectors link
// each sector to the next, so that the directory chain runs to the end.
bytes_t false_compound_header(bool chained) {
  cfb_writer w;
  bytes_t h = w.stream(u"1", bytes_t(10, 1)).build();
  h.resize(512);
  put_le32(h, hdr::num_fat_sectors, 2047);
  put_le32(h, hdr::first_dir_sector, 7);
  for (size_t k = 0; k < hdr::difat_slots; ++k)
    put_le32(h, hdr::difat + 4 * k, static_cast<uint32_t>(k + 1));
  h.resize(8 << 20, 0);
  for (size_t k = 0; chained && k < hdr::difat_slots; ++k)
    for (size_t j = 0; j < 128; ++j)
      put_le32(h, (k + 2) * 512 + 4 * j, static_cast<uint32_t>(k * 128 + j + 1));
  return h;
}

TEST(CarveRoad, FalseCompoundFileHeadersCostTheirFewSectors) {
  // A link, then a false header with a link header 4 KiB on: nothing it
  // declares is read but the FAT and directory sectors, one at a time, and
  // no root entry is found there.
  for (const bool chained : {false, true}) {
    bytes_t b = numbered_link(0);
    b.resize(4096, 0);
    const bytes_t header = false_compound_header(chained);
    b.insert(b.end(), header.begin(), header.end());
    const bytes_t inside = numbered_link(1);
    std::copy(inside.begin(), inside.end(), b.begin() + 4096 + 4096);
    const carve_result r = carve(b, size_t{4} << 20, false);
    EXPECT_EQ(r.records, 2u) << chained;
    EXPECT_LT(r.peak, 1 << 20) << chained;
  }
}

TEST(CarveRoad, HeadersInsideEmbeddedListsAreTestedAsLooseOnes) {
  // A link, then a list of three link streams, one of a ShowCommand no
  // carved link holds; its padding stream holds a loose link, a loose link
  // of that ShowCommand and a false header among random bytes, and so does
  // a free sector. The list's streams are read whatever their headers hold;
  // of the loose headers only the link's that could be one is.
  auto odd = [](bytes_t link) {
    put_le32(link, 60, 0x1234);  // ShowCommand
    return link;
  };
  uint32_t seed = 68;
  bytes_t random(2048);
  for (uint8_t& x : random) {
    seed = seed * 1103515245u + 12345u;
    x = static_cast<uint8_t>(seed >> 16);
  }
  const bytes_t header = false_header(0, 0, 24);
  std::copy(header.begin(), header.begin() + 20, random.begin() + 512);
  auto loose = [&](size_t first) {
    bytes_t b(8192, 0);
    const bytes_t sound = numbered_link(first), other = odd(numbered_link(first + 1));
    std::copy(sound.begin(), sound.end(), b.begin());
    std::copy(other.begin(), other.end(), b.begin() + 2048);
    std::copy(random.begin(), random.end(), b.begin() + 4096);
    return b;
  };
  cfb_writer w;
  w.stream(u"1", numbered_link(10)).stream(u"2", odd(numbered_link(11)));
  w.stream(u"3", numbered_link(12));
  w.free_sector(16).stream(u"Padding", loose(20));
  bytes_t image = w.build();
  const bytes_t in_free = loose(30);
  std::copy(in_free.begin(), in_free.end(),
            image.begin() + static_cast<std::ptrdiff_t>(w.info(u"Padding").first_offset - 8192));
  bytes_t b = numbered_link(0);
  b.resize(4096, 0);
  b.insert(b.end(), image.begin(), image.end());
  for (const size_t budget : {size_t{4} << 20, size_t{4096}}) {
    const carve_result r = carve(b, budget, true);
    std::set<std::string> names;
    for (size_t at = r.text.find("C:\\Temp\\file"); at != std::string::npos;
         at = r.text.find("C:\\Temp\\file", at + 1))
      names.insert(r.text.substr(at, 21));
    const std::set<std::string> expected = {"C:\\Temp\\file10000.txt", "C:\\Temp\\file10010.txt",
                                            "C:\\Temp\\file10011.txt", "C:\\Temp\\file10012.txt",
                                            "C:\\Temp\\file10020.txt", "C:\\Temp\\file10030.txt"};
    EXPECT_EQ(r.records, 6u) << budget;
    EXPECT_EQ(names, expected) << budget;
  }
}

TEST(CarveRoad, EmbeddedListsKeepTheirOwnRecords) {
  // Links, then two lists whose links' write times interleave, each with a
  // padding stream holding a loose link and a free sector holding another:
  // past the budget every record is parsed again, each from its own list,
  // reading its own link's bytes only.
  auto file = [](size_t direct, size_t per_list, size_t padding) {
    bytes_t b;
    for (size_t i = 0; i < direct; ++i) {
      const bytes_t l = numbered_link(i);
      b.insert(b.end(), l.begin(), l.end());
    }
    size_t stream_bytes = 0;
    for (size_t list = 0; list < 2; ++list) {
      cfb_writer w;
      for (size_t i = 0; i < per_list; ++i) {
        const std::string name = std::to_string(i + 1);
        const size_t n = 1000 + list * per_list + i;
        const bytes_t link = numbered_link(n, 2 * i + list + 1);
        stream_bytes += link.size();
        w.stream(std::u16string(name.begin(), name.end()), link);
      }
      bytes_t pad(padding, 0);
      const bytes_t loose = numbered_link(5000 + list, 7);
      std::copy(loose.begin(), loose.end(), pad.begin() + 4096);
      w.free_sector(2).stream(u"Padding", pad);
      bytes_t image = w.build();
      const bytes_t in_free = numbered_link(6000 + list, 9);
      std::copy(
          in_free.begin(), in_free.end(),
          image.begin() + static_cast<std::ptrdiff_t>(w.info(u"Padding").first_offset - 1024));
      b.insert(b.end(), image.begin(), image.end());
    }
    return std::make_pair(b, stream_bytes);
  };
  auto distinct = [](const std::string& text) {
    std::set<std::string> names;
    for (size_t at = text.find("C:\\Temp\\file"); at != std::string::npos;
         at = text.find("C:\\Temp\\file", at + 1))
      names.insert(text.substr(at, 21));
    return names.size();
  };
  const bytes_t small = file(40, 25, 64 << 10).first;
  const carve_result held = carve(small, size_t{64} << 20, true);
  carve_work work;
  const carve_result again = carve(small, 4096, true, -1, &work);
  EXPECT_EQ(held.records, 94u);
  EXPECT_EQ(again.records, 94u);
  EXPECT_EQ(distinct(again.text), 94u);
  EXPECT_EQ(again.text, held.text);
  // Past the budget each record's report is held in the temporary folder
  // as the record is carved: none is parsed again.
  EXPECT_EQ(work.records_held, 94u);
  EXPECT_GE(work.bytes_held, again.text.size());
  EXPECT_EQ(work.runs, 0u);
  const bytes_t large = file(40, 25, 1 << 20).first;
  carve_work large_work;
  EXPECT_EQ(carve(large, 4096, false, -1, &large_work).records, 94u);
  EXPECT_EQ(large_work.records_held, 94u);

  // A list nested in a list's stream, beside a loose link there, all
  // written at one time: the nested list's links are read once, as its
  // streams (the search of the outer list's sectors waits for them), and
  // the loose link keeps its place among the links of its time, its report
  // held in memory or past the budget.
  {
    auto name = [](size_t i) {
      const std::string n = std::to_string(i);
      return std::u16string(n.begin(), n.end());
    };
    cfb_writer inner;
    for (size_t i = 0; i < 30; ++i) inner.stream(name(i + 1), numbered_link(3000 + i, 5));
    const bytes_t inner_image = inner.build();
    bytes_t stream(4096, 0);
    const bytes_t loose = numbered_link(3100, 5);
    std::copy(loose.begin(), loose.end(), stream.begin() + 512);
    stream.insert(stream.end(), inner_image.begin(), inner_image.end());
    cfb_writer outer;
    for (size_t i = 0; i < 5; ++i) outer.stream(name(i + 1), numbered_link(3200 + i, 5));
    outer.stream(u"Nested", stream);
    bytes_t nested = numbered_link(0);
    const bytes_t outer_image = outer.build();
    nested.insert(nested.end(), outer_image.begin(), outer_image.end());
    const carve_result in_memory = carve(nested, size_t{64} << 20, true);
    carve_work nested_work;
    const carve_result past = carve(nested, 0, true, -1, &nested_work);
    EXPECT_EQ(in_memory.records, 1u + 5 + 30 + 1);
    EXPECT_EQ(past.records, in_memory.records);
    EXPECT_EQ(distinct(past.text), 37u);
    EXPECT_EQ(past.text, in_memory.text);
    EXPECT_EQ(nested_work.records_held, 37u);
    // Read from a file, the list lies in the scan's window, which has moved
    // on (2 MiB of bytes later) before the loose link is read: the same.
    bytes_t padded = nested;
    padded.resize(padded.size() + (size_t{2} << 20), 0);
    temp_tree tree;
    ASSERT_TRUE(tree.ok());
    tree.file("dump.bin", std::string(padded.begin(), padded.end()));
    uni::fileio dump(tree.path("dump.bin"), false);
    ASSERT_TRUE(dump.usable());
    ASSERT_FALSE(dump.is_memory());
    vesk_options options;
    set_carve_options(options);
    std::ostringstream text;
    EXPECT_TRUE(carve_and_report(
        text, &dump, byte_view(), options, false, k_header_not_searched,
        {[&](lnk_record& rec, std::ostream& to, file_notes&) { report_record(to, rec, options); },
         nullptr}));
    EXPECT_EQ(text.str(), in_memory.text);
    // Memory running out anywhere, twice the list in one dump: what waits
    // is read or said, never read through a place it no longer has.
    bytes_t twice = nested;
    twice.insert(twice.end(), outer_image.begin(), outer_image.end());
    const carve_result whole = carve(twice, size_t{64} << 20, false);
    for (int64_t k = 0; k < static_cast<int64_t>(whole.allocations); ++k) {
      const carve_result r = carve(twice, k % 2 ? size_t{64} << 20 : 0, false, k);
      if (r.records < whole.records) {
        EXPECT_NE(r.notes.find("memory"), std::string::npos) << k << ": " << r.notes;
      }
    }
  }

  // Lists packed back to back, their records interleaved and past the
  // budget: the road holds one list's image while carving it, below the
  // input's own size.
  bytes_t packed = numbered_link(0);
  size_t links = 0;
  for (size_t list = 0; list < 60; ++list) {
    cfb_writer w;
    for (size_t i = 0; i < 20; ++i, ++links) {
      const std::string name = std::to_string(i + 1);
      w.stream(std::u16string(name.begin(), name.end()), numbered_link(links, 60 * i + list + 1));
    }
    const bytes_t image = w.build();
    packed.insert(packed.end(), image.begin(), image.end());
  }
  carve_work packed_work;
  const carve_result r = carve(packed, 4096, false, -1, &packed_work);
  EXPECT_EQ(r.records, 1 + links);
  EXPECT_EQ(packed_work.records_held, 1 + links);
  EXPECT_LT(r.peak, static_cast<int64_t>(packed.size())) << packed.size();

  // A list whose link streams are all lost, its entries' host names
  // alternating: each entry is a row with its cells. An entry past a power
  // of two costs about an entry, not a doubling of the entries held.
  auto lost_rows = [](size_t count) {
    std::vector<destlist_test_entry> entries(count);
    for (size_t i = 0; i < count; ++i) {
      entries[i].entry_num = i + 1;
      entries[i].host = i % 2 ? "DESK-A" : "LAPTOP-B";
      entries[i].path = u"C:\\a.txt";
    }
    cfb_writer w;
    w.stream(u"DestList", build_destlist(4, entries));
    bytes_t b = numbered_link(0);
    const bytes_t image = w.build();
    b.insert(b.end(), image.begin(), image.end());
    return b;
  };
  const carve_result at_power = carve(lost_rows(size_t{1} << 16), 4096, false);
  const carve_result past_power = carve(lost_rows((size_t{1} << 16) + 1), 4096, false);
  EXPECT_EQ(past_power.records, (size_t{1} << 16) + 2);
  EXPECT_LE(past_power.peak - at_power.peak, int64_t{64} << 10)
      << at_power.peak << " " << past_power.peak;

  // A link followed by two sample lists: every link stream of both (6 and
  // 22, as pyolecf counts them), including those whose mini sectors are
  // scattered and the second list within the first one's reach.
  const std::filesystem::path dir = samples_dir();
  const auto lists = dir / "alfaifi-jumplist/win10/AutomaticDestinations";
  if (dir.empty() || !std::filesystem::exists(lists)) GTEST_SKIP() << "sample folder absent";
  auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), {});
  };
  const bytes_t first = read(lists / "4cb9c5750d51c07f.automaticDestinations-ms");
  const bytes_t second = read(lists / "5f7b5f1e01b83767.automaticDestinations-ms");
  bytes_t both = numbered_link(0), one = both;
  both.insert(both.end(), first.begin(), first.end());
  both.insert(both.end(), second.begin(), second.end());
  one.insert(one.end(), second.begin(), second.end());
  EXPECT_EQ(carve(both, size_t{4} << 20, false).records, 1u + 6 + 22);
  EXPECT_EQ(carve(one, size_t{4} << 20, false).records, 1u + 22);
}

// Reads of the file, counted.
uint64_t g_reads = 0, g_read_bytes = 0;
ssize_t counted_pread(int fd, void* buf, size_t len, off_t offset) {
  ++g_reads;
  g_read_bytes += len;
  return system_posix_calls().pread(fd, buf, len, offset);
}

// An embedded compound file carved from a file holds in memory only what
// its parse and its link streams read, the rest of its image (a large
// stream, free sectors) searched where it lies; the report is the same as
// when the bytes are in memory and read in place.
TEST(CarveRoad, EmbeddedImagesHoldOnlyWhatTheirParseAndLinksRead) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  size_t next = 100;
  auto list = [&](cfb_layout layout, size_t count, const bytes_t& link_of_size, bytes_t inner,
                  size_t gap) {
    cfb_writer w(layout);
    for (size_t i = 0; i < count; ++i) {
      const std::string name = std::to_string(i + 1);
      bytes_t link = link_of_size.empty() ? numbered_link(next++) : link_of_size;
      w.stream(std::u16string(name.begin(), name.end()), std::move(link));
      if (gap) w.free_sector(gap);
    }
    if (!inner.empty()) w.stream(u"Inner", std::move(inner));
    return w.build();
  };
  auto with_link = [](const bytes_t& image) {
    bytes_t b = numbered_link(0);
    b.resize(4096, 0);
    b.insert(b.end(), image.begin(), image.end());
    return b;
  };
  bytes_t nested;
  for (int level = 0; level < 40; ++level) nested = list({}, 10, {}, nested, 0);
  // Links of regular sectors, a free sector after each.
  const bytes_t long_one = long_link({{lnk_name, 3000}});
  cfb_layout difat_last;
  difat_last.min_fat_sectors = 200;
  difat_last.later_difat_last = true;
  cfb_layout large_sectors;
  large_sectors.sector_shift = 12;
  // A false header whose DIFAT chain of 15 sectors names FAT sectors up to
  // reach, the data as long; with root_stream, its root entry's mini stream
  // lies in its directory sector (sector 1).
  auto far_difat = [&](bool marked, bool root_stream, size_t reach) {
    bytes_t image = far_difat_cfb(15, reach, marked);
    if (root_stream) {
      put_le32(image, 1024 + cfb::dirent::start_sector, 1);
      put_le32(image, 1024 + cfb::dirent::stream_size, 64);
    }
    image.resize(reach, 0x5A);
    return with_link(image);
  };
  // A list inside a large list's stream, itself large, its links last and
  // the dump cut inside its last sector: its pages are the outer one's,
  // lent again, and hold no byte past the dump's end.
  bytes_t cut_nest;
  {
    cfb_writer inner;
    inner.stream(u"pad", cfb_pattern(200000, 4));
    for (int i = 1; i <= 3; ++i) inner.stream(std::u16string(1, char16_t(u'0' + i)), long_one);
    cfb_writer outer;
    outer.stream(u"1", numbered_link(next++)).stream(u"pad", cfb_pattern(300000, 6));
    outer.stream(u"Inner", inner.build());
    cut_nest = with_link(outer.build());
    cut_nest.resize(cut_nest.size() - 100);
  }
  const auto name = [](int i) {
    const std::string n = std::to_string(i);
    return std::u16string(n.begin(), n.end());
  };
  // 64 link streams of 6 KiB on one chain, before 1 MiB of stream.
  bytes_t shared;
  {
    cfb_writer w;
    for (int i = 1; i <= 64; ++i) w.stream(name(i), long_one);
    w.stream(u"pad", cfb_pattern(1 << 20, 7));
    shared = w.build();
    for (int i = 2; i <= 64; ++i) {
      const size_t entry = w.dir_entry_offset(w.info(name(i)).entry_num);
      put_le32(shared, entry + cfb::dirent::start_sector, w.info(u"1").chain[0]);
    }
    shared = with_link(shared);
  }
  // 128 link streams, each the tail of one chain of 256 sectors that each
  // begin with a link, longer in the order they are read: each holds bytes
  // the one before did not.
  bytes_t tails;
  {
    cfb_writer w;
    bytes_t chain;
    for (int k = 0; k < 256; ++k) {
      bytes_t one = numbered_link(next++);
      one.resize(512, 0);
      chain.insert(chain.end(), one.begin(), one.end());
    }
    std::vector<std::string> names;
    for (int i = 1; i <= 128; ++i) {
      w.stream(name(i), numbered_link(next++));
      names.push_back(std::to_string(i));
    }
    w.stream(u"zz", chain).stream(u"pad", cfb_pattern(128 << 10, 8));
    tails = w.build();
    std::sort(names.begin(), names.end());
    for (size_t p = 0; p < names.size(); ++p) {
      const size_t entry =
          w.dir_entry_offset(w.info(std::u16string(names[p].begin(), names[p].end())).entry_num);
      put_le32(tails, entry + cfb::dirent::start_sector, w.info(u"zz").chain[248 - p]);
      put_le32(tails, entry + cfb::dirent::stream_size, static_cast<uint32_t>((8 + p) * 512));
    }
    tails = with_link(tails);
  }
  const struct {
    const char* what;
    bytes_t bytes;
    size_t records;
    uint64_t most_held;   // bytes of one image at most
    uint64_t most_reads;  // of the file, the scan's windows of 128 KiB among them
    // The same with 4 KiB held, where they differ: past them what was read
    // in is let go and read again as needed, each link stream once as the
    // list is loaded and once as its link is read. Short reads that follow
    // one another read ahead: links read one after another cost a read a
    // few dozen links, not one each.
    uint64_t most_held_4k = 0, most_reads_4k = 0;
  } rows[] = {
      // No stream of these starts in the image: none is read in.
      {"a false header, its DIFAT chain not marked in its FAT", far_difat(false, false, 8 << 20), 1,
       0, 80},
      {"a false header, its DIFAT chain marked in its FAT", far_difat(true, false, 8 << 20), 1, 0,
       80},
      // Its directory, the 9 DIFAT and 1,152 FAT sectors that cover 72 MiB
      // read as the walk for its reach comes to them, those that follow one
      // another in reads of up to 64 KiB, and kept for its parse; in its
      // pages its header alone.
      {"a false header with a root stream", far_difat(false, true, 72 << 20), 1, 512, 576 + 30},
      // Its 500 directory sectors read in runs once, for its reach and its
      // parse; the mini stream in runs, not a link at a time. With 4 KiB
      // held, past them the runs are read still, not a sector at a time.
      {"2,000 links in the mini stream, the DIFAT last",
       with_link(list(difat_last, 2000, {}, {}, 0)), 2001, 400 << 10, 40, 6 << 10, 600},
      // Each level parsed for its link streams: its tables read as well.
      {"a list inside a list 40 levels deep", with_link(nested), 401, 4 << 10, 40},
      {"links of regular sectors before 8 MiB of stream",
       with_link(list({}, 12, long_one, cfb_pattern(8 << 20, 5), 1)), 13, 96 << 10, 110, 8 << 10,
       120},
      {"a FAT of 200 sectors, its DIFAT at the end",
       with_link(list(difat_last, 6, {}, cfb_pattern(1 << 20, 9), 0)), 7, 4 << 10, 20},
      {"4096-byte sectors and free ones between the links",
       with_link(list(large_sectors, 5, {}, cfb_pattern(2 << 20, 3), 2)), 6, 4 << 10, 30},
      {"a large list inside a large list's stream, cut inside its last sector", cut_nest, 5,
       32 << 10, 27, 8 << 10, 30},
      // Past 4 KiB held, a stream whose bytes are all held is not read
      // again for the others on its chain.
      {"64 link streams on one chain", shared, 128, 8 << 10, 40},
      // Past three times its bytes read in, the image is held as read:
      // what it reads again stays bounded.
      {"128 link streams, each a longer tail of one chain", tails, 385, 132 << 10, 420},
  };
  // A read ahead that fails (reads of 64 KiB fail, as where a bad stretch
  // lies past the sectors asked for) leaves each sector read alone: the
  // same report, nothing said.
  const auto pread_failing_ahead = [](int fd, void* buf, size_t len, off_t offset) -> ssize_t {
    ++g_reads;
    if (len == 65536) {
      errno = EIO;
      return -1;
    }
    return system_posix_calls().pread(fd, buf, len, offset);
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const carve_result in_place = carve(r.bytes, size_t{64} << 20, true);
    EXPECT_EQ(in_place.records, r.records);
    tree.file("dump.bin", std::string(r.bytes.begin(), r.bytes.end()));
    uni::fileio file(tree.path("dump.bin"), false);
    ASSERT_TRUE(file.usable());
    ASSERT_FALSE(file.is_memory());
    for (const int pass : {0, 1, 2}) {
      const bool ahead_fails = pass == 1;
      vesk_options options;
      set_carve_options(options);
      if (pass == 2) options.m_carve_pages_held = 4096;
      std::ostringstream text;
      posix_calls calls = system_posix_calls();
      calls.pread = ahead_fails ? +pread_failing_ahead : counted_pread;
      g_reads = g_read_bytes = 0;
      {
        scoped_posix_calls counted(calls);
        EXPECT_TRUE(carve_and_report(text, &file, byte_view(), options, false,
                                     k_header_not_searched,
                                     {[&](lnk_record& rec, std::ostream& to, file_notes&) {
                                        report_record(to, rec, options);
                                      },
                                      nullptr}));
      }
      EXPECT_EQ(text.str(), in_place.text) << pass;
      EXPECT_EQ(options.m_notes.lines("carve.bin"), in_place.notes) << pass;
      if (ahead_fails) continue;
      const uint64_t held = options.m_scratch.most_embedded_image_bytes;
      const bool in_4k = pass == 2 && r.most_held_4k;
      EXPECT_LE(g_reads, in_4k ? r.most_reads_4k : r.most_reads);
      // Whatever it holds, a file is read a few times over at most.
      EXPECT_LE(g_read_bytes, 8 * r.bytes.size());
      EXPECT_EQ(held > 0, r.most_held > 0);
      EXPECT_LE(held, in_4k ? r.most_held_4k : r.most_held) << r.bytes.size();
    }
  }
}

TEST(CarveRoad, DumpsGiveEachLinkOnceWhereverItLies) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // A list of count links (each naming its own file), and a stream holding
  // inner when given. Shaped as asked: after a stream of lead bytes, long
  // links in regular sectors (their last two sectors swapped, as the
  // sectors of a list written over time lie, when shuffled), free sectors
  // before a last stream.
  size_t next = 100;
  struct shape {
    cfb_layout layout = {};
    size_t lead = 0, free = 0;
    bool long_links = false, shuffled = false;
    bool hosts = false;  // the entries' host names differ, some in runs
  };
  cfb_writer w;
  auto list_of = [&](size_t count, const shape& s, const bytes_t& inner = {}) {
    w = cfb_writer(s.layout);
    if (s.lead) w.stream(u"Lead", cfb_pattern(s.lead, 4));
    std::vector<destlist_test_entry> entries(count);
    for (size_t i = 0; i < count; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, "%zx", i + 1);
      bytes_t one = numbered_link(next++);
      if (s.long_links) one = numbered_link(next - 1, 0, 5000);
      w.stream(std::u16string(name, name + std::strlen(name)), one);
      entries[i].entry_num = i + 1;
      if (s.hosts) entries[i].host = std::array{"DESK-A", "DESK-A", "LAPTOP-B", "SRV-C"}[i % 4];
    }
    w.stream(u"DestList", build_destlist(4, entries));
    if (!inner.empty()) w.stream(u"Inner", inner);
    if (s.free) w.free_sector(s.free).stream(u"Tail", cfb_pattern(5000, 6));
    bytes_t b = w.build();
    for (size_t i = 0; s.shuffled && i < count; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, "%zx", i + 1);
      w.swap_last_sectors(b, std::u16string(name, name + std::strlen(name)));
    }
    return b;
  };
  auto list = [&](size_t count, const bytes_t& inner = {}) { return list_of(count, {}, inner); };
  const bytes_t link = numbered_link(0), list26 = list(26), list3 = list(3);
  uint32_t seed = 77;
  auto noise = [&](bytes_t& b, size_t to) {
    while (b.size() < to) {
      seed = seed * 1103515245u + 12345u;
      b.push_back(static_cast<uint8_t>(seed >> 16));
    }
  };
  auto at = [](bytes_t b, size_t to, const bytes_t& piece) {
    b.resize(to, 0);
    b.insert(b.end(), piece.begin(), piece.end());
    return b;
  };
  bytes_t nested = list(10);
  for (int level = 1; level < 40; ++level) nested = list(10, nested);
  bytes_t refused = list3;
  put_le32(refused, hdr::num_fat_sectors, 0);
  const bytes_t steps = at(at(list26, 48 << 10, link), 52 << 10, list3);
  const bytes_t no_list = cfb_writer().stream(u"WordDocument", cfb_pattern(9000, 3)).build();
  bytes_t list_then_noise = list3;
  noise(list_then_noise, list3.size() + 3000);
  const std::string past =
      "(compound file at offset " + hex_offset(list3.size()) + ": bytes past the compound file";
  // Compound files overlapping as on a used disk: each list's links are its
  // own records, whatever other compound file reaches their bytes.
  const shape shuffled{.long_links = true, .shuffled = true};
  const bytes_t list11 = list_of(11, shuffled), list8 = list_of(8, shuffled),
                list1 = list_of(1, shuffled);
  // A 2-entry list whose free sectors hold list11.
  bytes_t in_free = list_of(2, {.free = list11.size() / 512 + 1});
  std::copy(list11.begin(), list11.end(), in_free.begin() + w.sector_offset(w.free_sectors[0]));
  // Three small lists in one list's free sectors: each its own links.
  bytes_t three_in_free = list_of(2, {.free = 3 * (list1.size() / 512 + 1)});
  for (size_t i = 0; i < 3; ++i)
    std::copy(list1.begin(), list1.end(),
              three_in_free.begin() + w.sector_offset(w.free_sectors[0]) +
                  static_cast<std::ptrdiff_t>(i * (list1.size() / 512 + 1) * 512));
  // A list in the stream sectors of a deleted list.
  bytes_t deleted = list_of(2, {.lead = list1.size()});
  std::copy(list1.begin(), list1.end(), deleted.begin() + w.info(u"Lead").first_offset);
  // A compound file that is no list, a list 1,000 bytes into its stream.
  bytes_t holder = cfb_pattern(1000, 3);
  holder.insert(holder.end(), list11.begin(), list11.end());
  holder.resize(holder.size() + 3000, 0x5A);
  const bytes_t no_list_holding = cfb_writer().stream(u"Data", holder).build();
  // A compound file that is no list, a link 1,000 bytes into its stream, in
  // the free sectors of another that is none: the one met first keeps the
  // link it reads there.
  bytes_t linked = cfb_pattern(1000, 3);
  const bytes_t loose = numbered_link(90);
  linked.insert(linked.end(), loose.begin(), loose.end());
  linked.resize(linked.size() + 3000, 0x5A);
  const bytes_t no_list_linked = cfb_writer().stream(u"Data", linked).build();
  cfb_writer outer;
  outer.stream(u"Data", cfb_pattern(5000, 3)).free_sector(no_list_linked.size() / 512 + 1);
  outer.stream(u"Tail", cfb_pattern(5000, 6));
  bytes_t other_in_free = outer.build();
  std::copy(no_list_linked.begin(), no_list_linked.end(),
            other_in_free.begin() + outer.sector_offset(outer.free_sectors[0]));
  // The head of a list whose links lie past 16 KiB; the head of a list of
  // 4 KiB sectors up to its free ones, two lists written there.
  const bytes_t far_links = list_of(4, {.lead = 20 << 10, .long_links = true});
  bytes_t large_head = list_of(3, {.layout = {.sector_shift = 12}, .free = 40});
  large_head.resize(w.sector_offset(w.free_sectors[0]));
  const bytes_t two_lists = at(list1, list1.size() + 512, list8);
  // The head of a list whose one link stream starts where a later list's
  // does: the later list's link stands.
  const bytes_t one_far = list_of(1, {.lead = 20 << 10, .long_links = true});
  const size_t far_stream = w.info(u"1").first_offset;
  const bytes_t one_near = list_of(1, shuffled);
  const size_t near_stream = w.info(u"1").first_offset;
  const bytes_t same_stream = at(at(link, 4096, bytes_t(one_far.begin(), one_far.begin() + 4096)),
                                 4096 + far_stream - near_stream, one_near);
  // A list whose link stream 7 is zeroed; one whose third link's first
  // 4 KiB another file took. Each entry lost is named in the words reading
  // the list as a file uses.
  bytes_t zeroed = list_of(8, {});
  std::fill_n(zeroed.begin() + w.info(u"7").first_offset, w.info(u"7").data.size(), 0);
  bytes_t taken = list_of(4, {.long_links = true});
  const bytes_t other = cfb_pattern(4096, 8);
  std::copy(other.begin(), other.end(), taken.begin() + w.info(u"3").first_offset);
  const std::string lost7 =
      "(DestList entry 7 at offset 0x428 of stream DestList: link stream 7 "
      "no link header: reported without link data";
  const std::string lost3 =
      "(DestList entry 3 at offset 0x178 of stream DestList: link stream 3 "
      "no link header: reported without link data";
  const std::string in_dump = " (compound file at offset 0x1000))";
  const std::string lost7_dump = lost7 + in_dump, lost3_dump = lost3 + in_dump;
  struct row {
    const char* what;
    bytes_t bytes;
    size_t records, list_rows;
    const char* note;           // null: none
    size_t names = 0;           // targets named by the records, each once (0: not counted)
    std::ptrdiff_t lines = 1;   // lines of notes, when a note
    std::ptrdiff_t slack = -1;  // records carved from free sectors (-1: not counted)
  };
  std::vector<row> rows = {
      {"a list, a link, a list at 4 KiB steps", steps, 30, 3, nullptr},
      {"a link, a list, a link", at(at(link, 4096, list26), 48 << 10, link), 28, 26, nullptr},
      {"a link, a sound list at 0x1000", at(link, 4096, list3), 4, 3, nullptr},
      {"a link, a refused list at 0x1000", at(link, 4096, refused), 4, 0,
       "(compound-file header at offset 0x1000: damaged"},
      {"a compound file that is no list, a link and a list",
       at(at(no_list, no_list.size(), link), no_list.size() + 4096, list3), 4, 3, nullptr},
      {"a list, then random bytes", list_then_noise, 3, 0, past.c_str()},
      {"a link, a list inside a list 40 levels deep", at(link, 4096, nested), 401, 400, nullptr},
      {"a list in another list's free sectors", at(link, 4096, in_free), 14, 13, nullptr, 14},
      {"three lists in another list's free sectors", at(link, 4096, three_in_free), 6, 5, nullptr},
      {"a list in a deleted list's stream", at(link, 4096, deleted), 4, 3, nullptr, 4},
      {"a list 1,000 bytes into a stream of a compound file that is no list",
       at(link, 4096, no_list_holding), 12, 11, nullptr, 12},
      {"a link in the stream of a compound file in another's free sectors",
       at(link, 4096, other_in_free), 2, 0, nullptr, 2, 1, 1},
      {"a head of 4 KiB sectors, then two lists",
       at(at(link, 4096, large_head), 4096 + large_head.size(), two_lists), 13, 12, nullptr, 13},
      {"a list's head, its link stream where a later list's starts", same_stream, 2, 1,
       "(link stream of the compound file at 0x1000 at offset 0x6a00: holds the link of the "
       "compound file at 0x6000, reported with it)",
       2},
      {"link stream 7 zeroed", at(link, 4096, zeroed), 1 + 8, 8, lost7_dump.c_str(), 8},
      {"a list's 4 KiB taken by another file", at(link, 4096, taken), 1 + 4, 4, lost3_dump.c_str(),
       4},
  };
  // The first 4, 8 and 16 KiB of a list, then, 0, 512 bytes or 32 KiB on,
  // a list (4 KiB and 32 KiB put the list's header in a sector of the
  // head's table among used ones).
  for (const size_t head : {4 << 10, 8 << 10, 16 << 10})
    for (const size_t gap : {0, 512, 32 << 10}) {
      bytes_t b = at(link, 4096, bytes_t(far_links.begin(), far_links.begin() + head));
      noise(b, b.size() + gap);
      b.insert(b.end(), list11.begin(), list11.end());
      // The head's 4 entries, their links lost, are kept and said; the list's
      // are its own.
      rows.push_back({"a list's head, then a list", b, 16, 15,
                      "(DestList entry 4 at offset 0x224 of stream DestList: link stream 4 ", 12,
                      4});
    }
  // A list across each of the scan's first five chunk edges, which lie a
  // chunk apart from the end of the first link, at every 16th offset.
  for (size_t edge = 1; edge <= 5; ++edge)
    for (size_t d = 0; d <= 4096; d += 16) {
      bytes_t b = link;
      noise(b, link.size() + edge * 32768 + d - 2048);
      b.insert(b.end(), list3.begin(), list3.end());
      noise(b, b.size() + 2048);
      rows.push_back({"a list across a chunk edge", b, 4, 3, nullptr});
    }
  // A carved list's rows carry the DestList cells that reading the list as
  // a file gives them, past the record budget too, and its notes.
  const auto cells = destlist_cells;
  const bytes_t hosts9 = list_of(9, {.hosts = true});
  for (const auto& [l, note] : {std::pair<const bytes_t*, std::string>{&list3, ""},
                                {&list26, ""},
                                {&hosts9, ""},
                                {&list11, ""},
                                {&zeroed, lost7},
                                {&taken, lost3}}) {
    const drive_result as_file = drive(tree, *l, "5f7b5f1e01b83767.automaticDestinations-ms");
    EXPECT_EQ(cells(drive(tree, at(link, 4096, *l), "dump.bin").text), cells(as_file.text));
    EXPECT_EQ(cells(carve(at(link, 4096, *l), 4096, true).text), cells(as_file.text));
    EXPECT_NE(as_file.notes.find(note), std::string::npos) << as_file.notes;
  }
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const drive_result d = drive(tree, r.bytes, "dump.bin");
    EXPECT_EQ(records_in(d.text), r.records);
    // Each carved list row has the place of the DestList entry naming it.
    EXPECT_EQ(std::count_if(d.records.begin(), d.records.end(),
                            [](const lnk_record& x) {
                              return x.m_source_type == "VESKLIST (carved allocated)" &&
                                     x.m_mru_position > 0;
                            }),
              static_cast<std::ptrdiff_t>(r.list_rows));
    std::vector<std::string> offsets = values(d.text, "file offset:");
    std::sort(offsets.begin(), offsets.end());
    EXPECT_EQ(std::unique(offsets.begin(), offsets.end()), offsets.end());
    if (r.slack >= 0) {
      EXPECT_EQ(std::count_if(d.records.begin(), d.records.end(),
                              [](const lnk_record& x) {
                                return x.m_source_type == "VESKLIST (carved slack)";
                              }),
                r.slack);
    }
    if (r.names) {
      const std::vector<std::string> named = values(d.text, "Local base path:");
      EXPECT_EQ(std::set<std::string>(named.begin(), named.end()).size(), r.names);
      // Past the record budget (of none: each record's report held in the
      // temporary folder as it is kept), what was dropped stays dropped, a
      // record held there already too: the same report and notes.
      // Budgets of a few records: the records held when one is passed go
      // there, one displaced later among them. What was dropped is kept in
      // memory by where it lies, or (none kept so) marked in the file.
      const carve_result within = carve(r.bytes, size_t{64} << 20, true);
      for (size_t budget = 0; budget <= 16384; budget += 1024) {
        for (const size_t drops_held : {vesk_options().m_carve_drops_held, size_t{0}}) {
          if (budget != 0 && drops_held == 0) continue;
          const carve_result held_past =
              carve(r.bytes, budget, true, -1, nullptr, uint64_t{1} << 24, drops_held);
          EXPECT_EQ(held_past.records, r.records) << budget << drops_held;
          EXPECT_EQ(held_past.text, within.text) << budget << drops_held;
          EXPECT_EQ(held_past.notes, within.notes) << budget << drops_held;
        }
      }
    }
    if (r.note)
      EXPECT_NE(d.notes.find(r.note), std::string::npos) << d.notes;
    else
      EXPECT_EQ(d.notes, "");
    EXPECT_EQ(std::count(d.notes.begin(), d.notes.end(), '\n'), r.note ? r.lines : 0) << d.notes;
    EXPECT_EQ(d.why, lnk::useropts::failure::none);
  }
  // Past the bound on the work of nested parses, the lists nested deeper
  // are carved with the one holding them: every link once, said once.
  const carve_result bounded = carve(at(link, 4096, nested), 4 << 20, true, -1, nullptr, 2000);
  EXPECT_EQ(records_in(bounded.text), 401u);
  EXPECT_NE(bounded.notes.find("nested too deep to parse each"), std::string::npos)
      << bounded.notes;
  EXPECT_EQ(std::count(bounded.notes.begin(), bounded.notes.end(), '\n'), 1) << bounded.notes;
}

// The notes of a report, each without the file it names and without where
// a carved list lies: what a list carved and the same list read as a file
// must both say, sorted.
std::vector<std::string> list_notes(const std::string& notes, const std::string& file) {
  std::vector<std::string> found;
  std::istringstream lines(notes);
  for (std::string line; std::getline(lines, line);) {
    // A carved image ends where its bytes do: only a file says it is cut.
    if (line.find("cut short: the file ends inside its sectors") != std::string::npos) continue;
    for (size_t at = line.find(file); at != std::string::npos; at = line.find(file))
      line.erase(at, file.size());
    const std::string where = " (compound file at offset 0x";
    for (size_t at = line.find(where); at != std::string::npos; at = line.find(where))
      line.erase(at, line.find(')', at) + 1 - at);
    // The link a dump may begin with is none of the list's.
    if (line.find("(link at offset 0x0: ") == std::string::npos) found.push_back(line);
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(CarveRoad, CarvedListsGiveTheRowsAndNotesOfTheListReadAsAFile) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // A list of streams 1..streams (each its own link) whose DestList entries
  // name the numbers given; shape patches the DestList bytes, then the
  // image.
  size_t next = 300;
  cfb_writer w;
  const auto hex_name = [](uint64_t n) {
    char name[17];
    std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(n));
    return std::u16string(name, name + std::strlen(name));
  };
  auto list = [&](size_t streams, std::vector<uint64_t> named, cfb_layout layout = {},
                  const std::function<void(bytes_t&)>& destlist = {},
                  std::u16string destlist_name = u"DestList", std::u16string unnumbered = {}) {
    w = cfb_writer(layout);
    for (size_t i = 0; i < streams; ++i) w.stream(hex_name(i + 1), numbered_link(next++));
    if (!unnumbered.empty()) w.stream(std::move(unnumbered), numbered_link(next++));
    bytes_t d = build_destlist_naming(named);
    if (destlist) destlist(d);
    w.stream(std::move(destlist_name), d);
    return w.build();
  };
  const std::vector<uint64_t> eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  std::vector<uint64_t> twenty(20);
  std::iota(twenty.begin(), twenty.end(), uint64_t{1});
  namespace H = vk::destlist::header;
  const auto half = [](bytes_t& d) { d.resize(d.size() / 2); };
  const auto zero_header = [](bytes_t& d) { std::fill_n(d.begin(), H::size, 0); };
  const auto all_zero = [](bytes_t& d) { std::fill(d.begin(), d.end(), 0); };
  const auto two_pinned = [](bytes_t& d) { put_le32(d, H::pinned_count, 2); };
  // Entries 3 to 5 of five overwritten with zeros.
  const auto zero_three = [](bytes_t& d) {
    const size_t entry = d.size() > H::size ? (d.size() - H::size) / 5 : 0;
    std::fill(d.begin() + static_cast<std::ptrdiff_t>(H::size + 2 * entry), d.end(), 0);
  };
  // Eight link streams that all start at the first one's chain.
  bytes_t one_chain = list(8, {1, 2, 3, 4, 5, 6, 7, 8});
  for (uint32_t i = 2; i <= 8; ++i) {
    const auto& first = w.info(u"1");
    const size_t entry = w.dir_entry_offset(w.info(hex_name(i)).entry_num);
    put_le32(one_chain, entry + dirent::start_sector, first.chain[0]);
    put_le32(one_chain, entry + dirent::stream_size, static_cast<uint32_t>(first.data.size()));
  }
  // Twenty entries, 18 naming no stream (so that their droids show), whose
  // volumes change every third entry and whose birth droids are their own
  // on every other one.
  const auto droids_apart = [&](bytes_t& d) {
    std::vector<destlist_test_entry> entries(20);
    for (size_t i = 0; i < entries.size(); ++i) {
      destlist_test_entry& e = entries[i];
      e.entry_num = i + 1;
      e.mru_time += i * 10000000;
      for (size_t k = 0; k < 4; ++k) e.droids[k].fill(static_cast<uint8_t>(0x10 * (k + 1)));
      e.droids[0][0] = e.droids[2][0] = static_cast<uint8_t>(i / 3);
      e.droids[1][0] = e.droids[3][0] = static_cast<uint8_t>(i);
      if (i % 2) e.droids[2][1] = e.droids[3][1] = 0xEE;
    }
    d = build_destlist(4, entries);
  };
  const cfb_layout large{.sector_shift = 12};
  // Its DestList's entry a storage's (type 1), the DestList in regular
  // sectors, in a list too large for the scan's window (read into pages).
  std::vector<uint64_t> forty(40);
  std::iota(forty.begin(), forty.end(), uint64_t{1});
  bytes_t storage_destlist;
  {
    w = cfb_writer();
    for (size_t i = 0; i < 40; ++i) w.stream(hex_name(i + 1), numbered_link(next++));
    w.stream(u"Pad", cfb_pattern(300000, 2)).stream(u"DestList", build_destlist_naming(forty));
    EXPECT_GE(w.info(u"DestList").data.size(), 4096u);
    storage_destlist = w.build();
    storage_destlist[w.dir_entry_offset(w.info(u"DestList").entry_num) + dirent::object_type] = 1;
  }
  // The same list (entries of type 2) with the file cut 1,000 bytes into
  // its DestList, the stream it ends with.
  bytes_t cut_destlist = storage_destlist;
  {
    const auto& d = w.info(u"DestList");
    cut_destlist[w.dir_entry_offset(d.entry_num) + dirent::object_type] = 2;
    cut_destlist.resize((d.chain[0] + 1) * w.S + 1000);
  }
  // Twenty entries, 18 naming no stream, their droids apart, after a
  // stream of 300,000 bytes: in pages wherever it lies.
  bytes_t twenty_in_pages;
  {
    w = cfb_writer();
    for (size_t i = 0; i < 2; ++i) w.stream(hex_name(i + 1), numbered_link(next++));
    bytes_t d;
    droids_apart(d);
    w.stream(u"Pad", cfb_pattern(300000, 3)).stream(u"DestList", d);
    twenty_in_pages = w.build();
  }
  struct row {
    const char* what;
    bytes_t list;
    size_t rows;       // as the file road gives them (pyolecf: streams and entries)
    const char* note;  // one of the notes both give (null: none at all)
  };
  const row rows[] = {
      {"entries naming streams 1, 2, 2", list(3, {1, 2, 2}), 4,
       "names link stream 2, as entry 2 does: its link reported again"},
      {"a header saying 2 pinned entries where none is", list(3, {1, 2, 3}, {}, two_pinned), 3,
       "says 2 pinned entries, 0 were read pinned"},
      {"a DestList cut in half", list(11, eleven, {}, half), 11, "says 11 entries, 5 were read"},
      {"a DestList cut in half, 4 KiB sectors", list(11, eleven, large, half), 11,
       "says 11 entries, 5 were read"},
      {"a DestList renamed away", list(11, eleven, {}, {}, u"DestLisx"), 11,
       "(DestList stream at offset 0x0: missing; 11 of 11 link streams"},
      {"a DestList renamed away, 4 KiB sectors", list(11, eleven, large, {}, u"DestLisx"), 11,
       "(DestList stream at offset 0x0: missing; 11 of 11 link streams"},
      {"a DestList header zeroed", list(11, eleven, {}, zero_header), 11,
       "says 0 entries, 11 were read"},
      {"a DestList of zeros", list(11, eleven, {}, all_zero), 11,
       "bytes of zeros where entries lie: no entry read there"},
      {"entries 3 to 5 of five zeroed", list(5, {1, 2, 3, 4, 5}, {}, zero_three), 5,
       "516 bytes of zeros where entries lie: no entry read there"},
      {"eight streams on one chain", one_chain, 8, "meets the chain of stream"},
      {"20 entries, 18 of them naming no stream", list(2, twenty), 20,
       "link streams missing or unreadable: reported without link data"},
      {"20 entries, 18 of them naming no stream, their droids apart",
       list(2, twenty, {}, droids_apart), 20,
       "link streams missing or unreadable: reported without link data"},
      // Its link is carved, without a place or a stream number.
      {"a link in a stream whose name is no number",
       list(3, {1, 2, 3}, {}, {}, u"DestList", u"Lead"), 3, nullptr},
      {"a sound list", list(11, eleven), 11, nullptr},
      {"a DestList entry of type 1, the list held in pages", storage_destlist, 40, nullptr},
      {"20 entries, 18 naming no stream, their droids apart, in pages", twenty_in_pages, 20,
       "link streams missing or unreadable: reported without link data"},
      {"a file cut 1,000 bytes into its DestList", cut_destlist, 40,
       "cut short: the bytes from here on are not in the file"},
  };
  // Behind 4 KiB the list lies in the scan's window; behind a link and
  // 127 KiB, across its end, in pages, its DestList read a window at a time.
  for (const size_t lead_size : {size_t{4096}, size_t{127} << 10})
    for (const row& r : rows) {
      SCOPED_TRACE(r.what);
      SCOPED_TRACE(lead_size);
      bytes_t lead = lead_size > 4096 ? numbered_link(9999) : bytes_t{};
      for (size_t i = lead.size(); i < lead_size; ++i)
        lead.push_back(static_cast<uint8_t>(i * 37 + (i >> 7)));
      const drive_result as_file = drive(tree, r.list, "l.automaticDestinations-ms");
      bytes_t dump = lead;
      dump.insert(dump.end(), r.list.begin(), r.list.end());
      const drive_result carved = drive(tree, dump, "dump.bin");
      EXPECT_EQ(records_in(as_file.text), r.rows);
      // The list's rows, each at its place (links its directory no longer
      // reaches are carved besides).
      EXPECT_EQ(std::count_if(carved.records.begin(), carved.records.end(),
                              [](const lnk_record& x) { return x.m_mru_position > 0; }),
                static_cast<std::ptrdiff_t>(r.rows));
      EXPECT_EQ(destlist_cells(carved.text), destlist_cells(as_file.text));
      EXPECT_EQ(list_notes(carved.notes, "dump.bin"),
                list_notes(as_file.notes, "l.automaticDestinations-ms"));
      if (r.note)
        EXPECT_NE(carved.notes.find(r.note), std::string::npos) << carved.notes;
      else
        EXPECT_EQ(carved.notes, "");
      // An entry of zeros is no row on either road.
      EXPECT_EQ(as_file.text.find("stream #:                 \n"), std::string::npos);
      // Past the record budget the rows are the same.
      EXPECT_EQ(carve(dump, 4096, false).records, carved.records.size());
    }
}

TEST(CarveRoad, AStaleHeaderInAWholeListsFreeSectorsTakesNoneOfItsLinks) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto hex_name = [](uint64_t n) {
    char name[17];
    std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(n));
    return std::u16string(name, name + std::strlen(name));
  };
  const auto entries = [](size_t count, uint32_t count_base) {
    std::vector<destlist_test_entry> e(count);
    for (size_t i = 0; i < count; ++i) {
      e[i].entry_num = i + 1;
      e[i].access_count = count_base + static_cast<uint32_t>(i);
      e[i].mru_time += (count_base + i) * 10000000;
    }
    return e;
  };
  // A list of a_links long links after 13 free sectors; in them, 512 bytes
  // on, the header of a compound file whose FAT and directory name the
  // list's own link streams (as many as it has of s_links), with the
  // DestList of another list or none; or that header zeroed. With
  // a_repeats, the list's third entry names stream 2 again.
  size_t next = 700;
  const auto layout = [&](size_t a_links, size_t s_links, bool s_destlist, bool zeroed,
                          bool a_repeats = false) {
    cfb_writer a;
    a.free_sector(13);
    for (size_t i = 0; i < a_links; ++i) a.stream(hex_name(i + 1), numbered_link(next++, 0, 5000));
    std::vector<destlist_test_entry> a_entries = entries(a_links, 3);
    if (a_repeats) a_entries.at(2).entry_num = 2;
    a.stream(u"DestList", build_destlist(4, a_entries));
    bytes_t image = a.build();
    const uint32_t f = a.free_sectors.at(1);
    cfb_writer sw(cfb_layout{.mini_cutoff = 0, .min_fat_sectors = 2});
    for (size_t i = 0; i < s_links; ++i) sw.stream(hex_name(i + 1), {});
    if (s_destlist) sw.stream(u"DestList", build_destlist(4, entries(s_links, 40)));
    bytes_t stale = sw.build();
    EXPECT_LE(stale.size(), 12u * 512);
    for (size_t i = 0; i < std::min(a_links, s_links); ++i) {
      const auto& from = a.info(hex_name(i + 1));
      std::vector<uint32_t> chain;
      for (uint32_t n : from.chain) chain.push_back(n - f - 1);
      const size_t entry = sw.dir_entry_offset(sw.info(hex_name(i + 1)).entry_num);
      put_le32(stale, entry + dirent::start_sector, chain[0]);
      put_le32(stale, entry + dirent::stream_size, static_cast<uint32_t>(from.data.size()));
      for (size_t j = 0; j < chain.size(); ++j)
        put_le32(stale, sw.fat_entry_offset(chain[j]),
                 j + 1 < chain.size() ? chain[j + 1] : cfb_writer::kEnd);
    }
    if (zeroed) std::fill(stale.begin(), stale.end(), 0);
    std::copy(stale.begin(), stale.end(), image.begin() + a.sector_offset(f));
    return std::pair(image, a.sector_offset(f));
  };
  struct row {
    const char* what;
    size_t a_links, s_links;
    bool s_destlist, zeroed;
    bool nested = false;  // the list inside the stream of a list of one link
  };
  const row rows[] = {
      {"a stale header naming all 11 streams", 11, 11, true, false},
      {"a stale header of 11 entries naming the 8 streams", 8, 11, true, false},
      {"a stale header without a DestList", 11, 11, false, false},
      {"the stale header zeroed", 11, 11, true, true},
      {"a stale header naming all 11 streams, inside a list's stream", 11, 11, true, false, true},
  };
  const bytes_t link = numbered_link(0);
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    auto [list, stale_at] = layout(r.a_links, r.s_links, r.s_destlist, r.zeroed);
    const drive_result as_file = drive(tree, list, "a.automaticDestinations-ms");
    ASSERT_EQ(records_in(as_file.text), r.a_links);
    EXPECT_EQ(as_file.notes, "");
    std::string outer_text;
    const size_t outer_rows = r.nested ? 1 : 0;
    if (r.nested) {
      cfb_writer o;
      o.stream(u"1", numbered_link(next++));
      o.stream(u"DestList", build_destlist(4, entries(1, 90)));
      o.stream(u"Inner", list);
      list = o.build();
      stale_at += o.info(u"Inner").first_offset;
      outer_text = drive(tree, list, "o.automaticDestinations-ms").text;
    }
    bytes_t dump = link;
    dump.resize(4096, 0);
    dump.insert(dump.end(), list.begin(), list.end());
    const drive_result carved = drive(tree, dump, "dump.bin");
    // The primer link and the whole list's rows, its cells as read alone.
    EXPECT_EQ(records_in(carved.text), 1 + outer_rows + r.a_links);
    EXPECT_EQ(destlist_cells(carved.text), destlist_cells(as_file.text + outer_text));
    const std::string said = "(compound file at offset " + hex_offset(4096 + stale_at) +
                             ": lies in the free sectors of a list whose link streams its own "
                             "name: the remains of an earlier list, its rows left to that list)";
    if (r.zeroed)
      EXPECT_EQ(carved.notes, "");
    else
      EXPECT_EQ(carved.notes, "not read in full: dump.bin " + said + "\n");
    // Past the record budget the same rows stand.
    EXPECT_EQ(carve(dump, 4096, false).records, 1 + outer_rows + r.a_links);
  }
  // A list whose entries name streams 1, 2, 2 (no entry names stream 3: not
  // whole): the stale header in its free sectors is no remains, and its
  // streams stand over every row of the list's, both of stream 2's too.
  {
    auto [list, stale_at] = layout(3, 3, true, false, true);
    bytes_t dump = link;
    dump.resize(4096, 0);
    dump.insert(dump.end(), list.begin(), list.end());
    // Past budgets of a few records too: those held when it is passed go
    // to the temporary folder, both of stream 2's among them.
    std::vector<size_t> budgets = {size_t{64} << 20};
    for (size_t b = 0; b <= (64 << 10); b += 4096) budgets.push_back(b);
    for (const size_t budget : budgets) {
      SCOPED_TRACE(budget);
      const carve_result carved = carve(dump, budget, true);
      EXPECT_EQ(carved.records, 1u + 3u);
      EXPECT_NE(carved.notes.find("holds the link of the compound file at " +
                                  hex_offset(4096 + stale_at)),
                std::string::npos)
          << carved.notes;
    }
  }
}

}  // namespace
}  // namespace vk
