// The "-idltimes" breakout: its labelled lines and its CSV cell over one
// hand-built ID list that holds every case (a repeated folder, items with and
// without numbers, nested items, a time no calendar holds), its place in the
// text block, and hostile links parsed and broken out in both forms.
#include "jumplist/idlist_breakout.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "alloc_hook.h"
#include "default_params.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_record.h"
#include "jumplist/record_report.h"
#include "lnk_writer.h"
#include "report_fixture.h"

namespace vk {
namespace {

using namespace vesk_test;

constexpr uint64_t k_2024_03_05_070809_123 = 133540960891230000ull;
constexpr uint64_t k_2009_07_14_054520_500 = 128920239205000000ull;
constexpr uint64_t k_beyond_3000 = 0x7000000000000000ull;

shell_item_record item(const std::string& name, uint64_t modified = 0, uint64_t accessed = 0,
                       uint64_t created = 0, uint64_t mft = 0, uint16_t seq = 0) {
  shell_item_record r;
  r.long_name = name;
  r.modified = modified;
  r.accessed = accessed;
  r.created = created;
  r.mft_entry = mft;
  r.mft_sequence = seq;
  return r;
}

lnk_record every_case() {
  lnk_record r;
  shell_item_list& items = r.m_idlist_items;
  items.push_back(item("My Computer"));  // no numbers, nothing nested
  items.push_back(item("Users", k_2024_03_05_070809_123, 0, k_2009_07_14_054520_500, 0x1234, 5));
  items.push_back(item("Users", k_2024_03_05_070809_123, 0, k_2009_07_14_054520_500, 0x1234, 5));
  items.push_back(item("Users", k_2024_03_05_070809_123, 0, 0, 0x1234, 5));  // other times
  shell_item_record parent = item("pack.zip", 0, k_2024_03_05_070809_123, 0, 77, 1);
  parent.children.push_back(item("in.txt", k_2009_07_14_054520_500, 0, 0, 78, 2));
  parent.children.push_back(item("in2.txt"));
  items.push_back(parent);
  shell_item_record bare = item("container");  // known only by its nested item
  bare.children.push_back(item("Users", k_2024_03_05_070809_123, 0, k_2009_07_14_054520_500, 0x1234,
                               5));  // a repeat of item 1: shown there only
  bare.children.push_back(item("far", k_beyond_3000));
  // A DOS date of month 13: its words as they stand (pyfwsi's integer).
  bare.children.push_back(item("dos", dos_time_slot(0x59A1, 0x6DBD)));
  items.push_back(bare);
  return r;
}

std::string breakout(const lnk_record& r, const cmd_params& o) {
  std::ostringstream out;
  fault_sink report;
  idlist_breakout(out, r, o, report);
  return out.str();
}

// Memory that runs out while the segments are made is said: in the record's
// faults when a stored record keeps them, in the report's sink (or, for the
// stream's own, its state) when the breakout makes them.
TEST(IdlistBreakout, MemoryThatRunsOutIsSaid) {
  int cut = 0;
  for (int64_t fail_at = 0, failed = 1; failed; ++fail_at, cut += static_cast<int>(failed)) {
    lnk_record stored = every_case(), r = every_case();
    std::ostringstream out;
    fault_sink report;
    heap::fail_nth(fail_at);
    compact_lnk_record(stored, true);
    idlist_breakout(out, r, cmd_params(), report);
    failed = heap::state().fail_countdown < 0;
    heap::no_failure();
    const bool short_stored = stored.m_idlist_segments.size() != 8;
    EXPECT_EQ(stored.m_faults.size(), short_stored ? 1u : 0u) << fail_at;
    EXPECT_TRUE(short_stored || report.out_of_memory() || out.bad() || !failed) << fail_at;
  }
  EXPECT_GT(cut, 10);
}

TEST(IdlistBreakout, TextLinesAndCsvCell) {
  const lnk_record r = every_case();
  // A stored record keeps only its segments, and breaks out the same.
  lnk_record stored = every_case();
  compact_lnk_record(stored, true);
  EXPECT_TRUE(stored.m_idlist_items.empty());
  EXPECT_EQ(stored.m_idlist_segments.size(), 8u);
  const std::string users =
      " segment: Users\n"
      "  modify [UTC]: 2024-03-05 07:08:09\n"
      "  create [UTC]: 2009-07-14 05:45:20\n"
      "  mft entry#:   0x00001234 [4660]\n"
      "  mft seq#:     0x0005 [5]\n";
  const std::string text =
      "IDList subpath breakout\n"
      " segment: My Computer\n" +
      users +
      " segment: Users\n"
      "  modify [UTC]: 2024-03-05 07:08:09\n"
      "  mft entry#:   0x00001234 [4660]\n"
      "  mft seq#:     0x0005 [5]\n"
      " segment: pack.zip\n"
      "  access [UTC]: 2024-03-05 07:08:09\n"
      "  mft entry#:   0x0000004d [77]\n"
      "  mft seq#:     0x0001 [1]\n"
      " segment: in.txt\n"
      "  modify [UTC]: 2009-07-14 05:45:20\n"
      "  mft entry#:   0x0000004e [78]\n"
      "  mft seq#:     0x0002 [2]\n"
      " segment: in2.txt\n"
      " segment: far\n"
      "  modify [UTC]:  \n"
      " segment: dos\n"
      "  modify [UTC]: 0x6dbd59a1\n";
  // The MFT lines keep their hexadecimal form whatever the number base.
  for (uint8_t hex : {1, 0}) {
    cmd_params o;
    o.m_hex_numbers = hex;
    EXPECT_EQ(breakout(r, o), text) << int(hex);
    EXPECT_EQ(breakout(stored, o), text) << int(hex);
  }

  const std::string header = "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>";
  const struct {
    uint8_t hex;
    std::string cell;
  } cells[] = {
      {1, header + "*<My Computer;0;0;0;0;0>"
                   "*<Users;2024-03-05 07:08:09.123;0;2009-07-14 05:45:20.500;0x00001234;0x0005>"
                   "*<Users;2024-03-05 07:08:09.123;0;0;0x00001234;0x0005>"
                   "*<pack.zip;0;2024-03-05 07:08:09.123;0;0x0000004d;0x0001>"
                   "*<in.txt;2009-07-14 05:45:20.500;0;0;0x0000004e;0x0002>"
                   "*<in2.txt;0;0;0;0;0>"
                   "*<far; ;0;0;0x00000000;0x0000>"
                   "*<dos;0x6dbd59a1;0;0;0x00000000;0x0000>"},
      {0, header + "*<My Computer;0;0;0;0;0>"
                   "*<Users;2024-03-05 07:08:09.123;0;2009-07-14 05:45:20.500;4660;5>"
                   "*<Users;2024-03-05 07:08:09.123;0;0;4660;5>"
                   "*<pack.zip;0;2024-03-05 07:08:09.123;0;77;1>"
                   "*<in.txt;2009-07-14 05:45:20.500;0;0;78;2>"
                   "*<in2.txt;0;0;0;0;0>"
                   "*<far; ;0;0;0;0>"
                   "*<dos;0x6dbd59a1;0;0;0;0>"},
  };
  for (const auto& c : cells) {
    cmd_params o;
    o.m_csv = 1;
    o.m_hex_numbers = c.hex;
    EXPECT_EQ(breakout(r, o), c.cell) << int(c.hex);
    EXPECT_EQ(breakout(stored, o), c.cell) << int(c.hex);
  }

  // No items: nothing in either form.
  for (uint8_t csv : {0, 1}) {
    cmd_params o;
    o.m_csv = csv;
    EXPECT_EQ(breakout(lnk_record(), o), "");
  }

  // The key tells segments apart by name and numbers only.
  idlist_segment a, b;
  build_idlist_segment(a, r.m_idlist_items[1], "x", 1, false, 0);
  build_idlist_segment(b, r.m_idlist_items[5], "", 5, true, 0);
  EXPECT_EQ(idlist_segment_key(a), idlist_segment_key(b));
  build_idlist_segment(b, r.m_idlist_items[3], "x", 1, false, 0);
  EXPECT_NE(idlist_segment_key(a), idlist_segment_key(b));
  build_idlist_segment(b, r.m_idlist_items[5], "", 5, true, 7);  // no such nested item
  EXPECT_EQ(b.m_no_numbers, 1);
  EXPECT_EQ(b.m_name, "");
}

// In the text block the breakout follows the host lines and precedes the
// record's closing empty line, only with "-idltimes"; names come from the
// parsed items, nested ones included.
TEST(IdlistBreakout, ClosesTheTextBlock) {
  lnk_spec s;
  s.idlist = idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                     file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "report.docx",
                                     file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904,
                                                          u"report.docx", 1234, 5))});
  const lnk_bytes_t bytes = write_lnk(s);
  lnk::useropts o;
  o.m_host_name = "host";
  lnk_record r;
  ASSERT_TRUE(parse_lnk(r, bytes.data(), bytes.size(), o, vesk_test::test_scratch(), false, 0));
  std::ostringstream plain;
  report_record(plain, r, o);
  EXPECT_EQ(plain.str().find("IDList subpath breakout"), std::string::npos);

  o.m_idlist_times = true;
  std::ostringstream out;
  report_record(out, r, o);
  const std::string text = out.str();
  const size_t at = text.find("hostname:                 host\nIDList subpath breakout\n");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string tail = text.substr(text.find("IDList"));
  EXPECT_NE(tail.find(" segment: report.docx\n  modify [UTC]: 2024-03-05 07:08:08\n"),
            std::string::npos)
      << tail;
  EXPECT_NE(tail.find("  mft entry#:   0x000004d2 [1234]\n  mft seq#:     0x0005 [5]\n\n"),
            std::string::npos)
      << tail;
  EXPECT_EQ(tail.substr(tail.size() - 2), "\n\n");
  EXPECT_EQ(out.flags() & std::ios::basefield, std::ios::dec);
}

// Mutated ID lists (nested lists among them) parse and break out in both
// forms without a fault, each segment line standing for a distinct item; a
// nested item follows its own item.
TEST(IdlistBreakout, HostileIdListsBreakOut) {
  const bytes_t nested_list = idlist(
      {file_entry_item(0x32, 7, 0x5865, 0x3904, 0x20, "n.txt",
                       file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904, u"n.txt", 9, 1))});
  lnk_spec s;
  s.idlist =
      idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
              file_entry_item(0x31, 0, 0x5865, 0x3904, 0x10, "dir",
                              beef_block(0, 14, cat({bytes_t(4, 0), nested_list, bytes_t(2, 0)}))),
              file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, "report.docx",
                              file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904,
                                                   u"report.docx", 1234, 5))});
  const lnk_bytes_t seed = write_lnk(s);
  const size_t idlist_end = 78 + s.idlist->size();
  {
    lnk::useropts o;
    lnk_record r;
    ASSERT_TRUE(parse_lnk(r, seed.data(), seed.size(), o, vesk_test::test_scratch(), false, 0));
    const std::string text = breakout(r, o);
    const size_t dir = text.find(" segment: dir\n"), inner = text.find(" segment: n.txt\n");
    ASSERT_NE(inner, std::string::npos) << text;
    EXPECT_LT(dir, inner) << text;
    EXPECT_LT(inner, text.find(" segment: report.docx\n")) << text;
  }

  std::mt19937 rng(20);
  size_t with_items = 0;
  for (int i = 0; i < 6000; ++i) {
    lnk_bytes_t m = seed;
    for (int k = 1 + i % 8; k > 0; --k)
      m[std::uniform_int_distribution<size_t>(78, idlist_end - 1)(rng)] =
          static_cast<uint8_t>(rng());
    if (i % 7 == 0) m.resize(std::uniform_int_distribution<size_t>(0, m.size())(rng));
    lnk::useropts o;
    lnk_record r;
    if (!parse_lnk(r, m.data(), m.size(), o, vesk_test::test_scratch(), i % 2, 0)) continue;
    size_t segments_at_most = 0;
    for (const auto& it : r.m_idlist_items) segments_at_most += 1 + it.children.size();
    with_items += segments_at_most != 0;
    std::string text = breakout(r, o);
    size_t lines = 0;
    for (size_t at = text.find(" segment: "); at != std::string::npos;
         at = text.find(" segment: ", at + 1))
      ++lines;
    ASSERT_LE(lines, segments_at_most) << i;
    o.m_csv = 1;
    const std::string cell = breakout(r, o);
    ASSERT_EQ(cell.rfind("!*<[name;", 0) == 0, !text.empty()) << i;
  }
  EXPECT_GT(with_items, 3000u);
}

}  // namespace
}  // namespace vk
