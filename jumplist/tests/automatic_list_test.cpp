// The automatic road on lists that are long, damaged or empty: every entry
// reported in order whatever the memory, the streams after a damaged DestList
// entry kept, and free space searched without holding what it finds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <streambuf>

#include "alloc_hook.h"
#include "foundation/vk_bytes.h"
#include "jumplist/file_drivers.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
using failure = lnk::useropts::failure;

// Takes the report's text and keeps none of it.
struct discard_buf : std::streambuf {
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct outcome {
  bool ok = false;
  uint64_t records = 0;
  std::string text, notes;
  failure why = failure::none;
  int64_t peak = 0;  // live heap bytes above the start, report text left out
  int64_t allocations = 0;
};

// Runs the file; with fail_at, the allocation that many from the start of
// the driver fails.
outcome run_list(const temp_tree& tree, const std::string& name, const std::vector<uint8_t>& bytes,
                 bool keep_text, bool slack = false, int64_t fail_at = -1) {
  if (!bytes.empty()) tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_slack = slack;
  options.m_show_offset = true;
  options.m_source_path = tree.path(name);
  outcome o;
  discard_buf nothing;
  std::ostream discarded(&nothing);
  std::ostringstream text;
  {
    heap::scope counted;
    if (fail_at >= 0) heap::fail_nth(fail_at);
    try {
      o.ok = process_jumplist_file(keep_text ? static_cast<std::ostream&>(text) : discarded,
                                   options.m_source_path, options);
    } catch (const std::bad_alloc&) {
      o.ok = false;  // the main loop says so for the file
    }
    heap::no_failure();
    o.peak = counted.peak_above_start();
    o.allocations = counted.allocations();
  }
  o.records = options.m_records_written;
  o.text = text.str();
  o.notes = options.m_notes.lines("F");
  o.why = options.m_failure;
  return o;
}

std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

std::u16string hex16(uint64_t n) {
  char name[24];
  std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(n));
  return std::u16string(name, name + std::strlen(name));
}

// n entries numbered 1..n in stream order, each with its own stream holding
// the fixture link (grown to link_size by a shim block before its terminal
// block: a stream holds its link and nothing more), or all naming stream 1.
std::vector<uint8_t> long_list(size_t n, bool shared, cfb_writer&& w = cfb_writer(),
                               size_t link_size = 0) {
  auto link = fixture_link();
  if (link_size > link.size()) {
    const auto shim = shim_block(u"pad", link_size - link.size());
    link.insert(link.end() - 4, shim.begin(), shim.end());
  }
  std::vector<destlist_test_entry> entries(n);
  for (size_t i = 0; i < n; ++i) entries[i].entry_num = shared ? 1 : i + 1;
  for (size_t i = 1; i <= (shared ? 1 : n); ++i) w.stream(hex16(i), link);
  w.stream(u"DestList", build_destlist(4, entries));
  return w.build();
}

// Past the budget of held records, records are parsed again for the report:
// the text of the first block (parsed again) and of the last (held) differ
// only in the lines that name the entry. Memory grows with the file image,
// not with the records: a list four times longer costs at most twice its
// growth in bytes, whether each entry names a stream of its own or all name
// one.
TEST(AutomaticList, LongListsCostTheirImageNotTheirRecords) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "one stream" : "a stream each");
    const auto small = long_list(3000, shared), big = long_list(12000, shared);
    const outcome a = run_list(tree, "s.automaticDestinations-ms", small, false);
    const outcome b = run_list(tree, "b.automaticDestinations-ms", big, false);
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_EQ(a.records, 3000u);
    EXPECT_EQ(b.records, 12000u);
    const int64_t grown = static_cast<int64_t>(big.size() - small.size());
    EXPECT_LE(b.peak - a.peak, 2 * grown) << a.peak << " " << b.peak;
    EXPECT_LE(b.peak, static_cast<int64_t>(2 * big.size() + (size_t{16} << 20))) << b.peak;

    const outcome t = run_list(tree, "t.automaticDestinations-ms", small, true);
    EXPECT_EQ(values(t.text, "MRU/MFU index:").front(), "3000");
    EXPECT_EQ(values(t.text, "MRU/MFU index:").back(), "1");
    auto plain = [](std::string block) {
      std::string out, line;
      std::istringstream in(block);
      while (std::getline(in, line))
        if (!line.empty() && line.find("MRU/MFU") == std::string::npos &&
            line.find("stream #") == std::string::npos && line.find("offset") == std::string::npos)
          out += line + "\n";
      return out;
    };
    const size_t second = t.text.find("MRU/MFU index:", t.text.find("MRU/MFU index:") + 1);
    const size_t first_end = t.text.rfind("\n\n", second);
    const size_t last_start = t.text.rfind("\n\n", t.text.rfind("MRU/MFU index:"));
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_EQ(plain(t.text.substr(0, first_end)), plain(t.text.substr(last_start + 2)));
  }
}

// 20,000 links of 700 bytes need 323 FAT sectors, 214 of them listed in two
// DIFAT sectors (the header names sector 1); the second one, sector 41264,
// lies at the end of the file, so that the only FAT sector that marks it
// DIFATSECT is FAT sector 322, which its own slots list. pyolecf reads such
// a file whole: 20,001 items below the root, stream "4e20" 700 bytes long.
TEST(AutomaticList, SecondDifatSectorListedOnlyByItself) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cfb_layout layout;
  layout.later_difat_last = true;
  layout.unused_sector0 = true;
  cfb_writer w(layout);
  const auto bytes = long_list(20000, false, std::move(w), 700);
  ASSERT_EQ(load_le32(bytes.data() + 44), 323u);
  ASSERT_EQ(load_le32(bytes.data() + 512 * 2 + 508), 41264u);
  const outcome r = run_list(tree, "d.automaticDestinations-ms", bytes, false);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.records, 20000u);
  EXPECT_EQ(r.notes, "");
}

// An entry that runs past the DestList ends the entry loop; the link
// streams that no entry read names follow in ascending number, without
// DestList data, and one note says so; the header's count and a stream
// that holds no link are said too.
TEST(AutomaticList, StreamsAfterADamagedEntryAreKept) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  std::vector<destlist_test_entry> entries(4);
  const uint64_t numbers[] = {3, 1, 0x1b, 2};
  for (size_t i = 0; i < 4; ++i) entries[i].entry_num = numbers[i];
  struct row {
    size_t bad;  // index of the entry whose path length is 0xFFFF
    std::vector<std::string> streams, positions;
    std::string note;
  } rows[] = {
      {0,
       {"27", "22", "10", "3", "2", "1"},
       {"6", "5", "4", "3", "2", "1"},
       "not read in full: F (DestList header at offset 0x4 of stream DestList: says 4 entries, 0 "
       "were read)\nnot read in full: F (link stream at offset 0x0 of stream 4: no link header: "
       "not reported)\nnot read in full: F (DestList at offset 0x20 of stream DestList: entry 1 "
       "runs past the stream; 6 of 7 link streams that no entry names reported without DestList "
       "data)\n"},
      {1,
       {"27", "22", "10", "2", "1", "3"},
       {"6", "5", "4", "3", "2", "1"},
       "not read in full: F (DestList header at offset 0x4 of stream DestList: says 4 entries, 1 "
       "were read)\nnot read in full: F (link stream at offset 0x0 of stream 4: no link header: "
       "not reported)\nnot read in full: F (DestList at offset 0xcc of stream DestList: entry 2 "
       "runs past the stream; 5 of 6 link streams that no entry names reported without DestList "
       "data)\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.bad);
    auto damaged = entries;
    damaged[r.bad].length_override = 0xFFFF;
    cfb_writer w;
    // Streams 1, 2, 3, a (10) and 16 (22) hold links; 4 is no link; 1b is
    // named by the last entry only; "01" is no name an entry gives.
    for (const char16_t* name : {u"1", u"2", u"3", u"a", u"16", u"01"}) w.stream(name, link);
    w.stream(u"4", std::vector<uint8_t>(300, 7)).stream(u"1b", link);
    w.stream(u"DestList", build_destlist(4, damaged));
    const outcome o = run_list(tree, "x.automaticDestinations-ms", w.build(), true);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(values(o.text, "stream #:"), r.streams);
    EXPECT_EQ(values(o.text, "MRU/MFU index:"), r.positions);
    EXPECT_EQ(o.notes, r.note);
  }
}

// "-slack" keeps what carving keeps: false headers (the right size, CLSID
// and flags word, junk after) in hundreds of free sectors give no record
// and cost no memory per header; a link that crosses from one searched
// window of a long slack area into the next is found once.
TEST(AutomaticList, FreeSpaceKeepsOnlyLinksAndHoldsNone) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  std::vector<destlist_test_entry> one(1);
  cfb_writer w;
  w.stream(u"1", link).stream(u"DestList", build_destlist(4, one)).free_sector(400);
  auto bytes = w.build();
  ASSERT_EQ(w.free_sectors.size(), 400u);
  const size_t area = w.sector_offset(w.free_sectors[0]);
  lnk_spec plain;
  plain.link_info = lnk_link_info{};
  const auto header = write_lnk(plain);
  for (size_t s = 0; s < 400; ++s) {
    const size_t at = area + s * 512;
    std::fill(bytes.begin() + at, bytes.begin() + at + 512, 0xEE);
    std::copy(header.begin(), header.begin() + 24, bytes.begin() + at);
  }
  // One link at 65520 bytes into the area: its header's room lies in the
  // next 64 KiB window.
  const size_t real = area + 65520;
  std::copy(link.begin(), link.end(), bytes.begin() + real);
  const outcome o = run_list(tree, "f.automaticDestinations-ms", bytes, true, true);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.records, 2u);
  EXPECT_NE(values(o.text, "File offset:").back().find("[" + std::to_string(real) + "]"),
            std::string::npos)
      << o.text;
  EXPECT_LE(o.peak, static_cast<int64_t>(2 * bytes.size() + (size_t{1} << 20)));
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

// Whichever allocation of a list's road fails, the file is refused, or
// every record is written, or a note says what was not.
TEST(AutomaticList, MemoryThatRunsOutIsSaid) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string name = "m/5f7b5f1e01b83767.automaticDestinations-ms";
  ASSERT_EQ(run_list(tree, name, fixture_jumplist(), false, true).records, 3u);
  size_t noted = 0;
  for (int64_t n = 0; n < 600; ++n) {
    const outcome o = run_list(tree, name, {}, false, true, n);
    if (!o.ok) continue;
    EXPECT_TRUE(o.records == 3 || !o.notes.empty()) << n << " " << o.records;
    noted += !o.notes.empty();
  }
  EXPECT_GT(noted, 0u);
}

// Memory that runs out while the records past the budget are listed loses
// them with the one being read and every one after it: the note names the
// first one not reported, the entry after the last one written (entries are
// held in DestList order), and counts all of them, so that written and
// counted make the 3,000 entries the list holds.
TEST(AutomaticList, RecordsLostToMemoryAreNamedAndCounted) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string name = "c.automaticDestinations-ms";
  const outcome whole = run_list(tree, name, long_list(3000, false), false);
  ASSERT_EQ(whole.records, 3000u);
  size_t counted = 0;
  for (int64_t n = whole.allocations / 2; n < whole.allocations; n += whole.allocations / 97) {
    const outcome o = run_list(tree, name, {}, false, false, n);
    const size_t at = o.notes.find(" records not reported");
    if (!o.ok || at == std::string::npos) continue;
    ++counted;
    const size_t entry = o.notes.find("DestList entry ");
    ASSERT_NE(entry, std::string::npos) << o.notes;
    EXPECT_EQ(std::stoull(o.notes.substr(entry + 15)), o.records + 1) << o.notes;
    EXPECT_EQ(std::stoull(o.notes.substr(o.notes.rfind(' ', at - 1) + 1)) + o.records, 3000u)
        << o.notes;
  }
  EXPECT_GT(counted, 0u);
}

}  // namespace
}  // namespace vk
