// The LNK parser's gates, LinkInfo, StringData, value names and the record's
// clear and reset, on links made by the test writer.
#include "jumplist/lnk_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alloc_hook.h"
#include "default_params.h"
#include "idlist_writer.h"
#include "jumplist/lnk_names.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

struct parsed {
  bool ok;
  lnk_record rec;
};

parsed parse(const std::vector<uint8_t>& bytes, uint64_t file_offset = 0) {
  parsed p{false, {}};
  // An exactly sized copy, so that the sanitizers see any read past it.
  std::vector<uint8_t> copy(bytes);
  p.ok = parse_lnk(p.rec, copy.data(), copy.size(), default_params(), vesk_test::test_scratch(),
                   false, file_offset);
  return p;
}

// A My Computer root item and a file entry item named name.
lnk_bytes_t two_items(const std::string& name = "report.docx") {
  return idlist({shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d")),
                 file_entry_item(0x32, 4096, 0x5865, 0x3904, 0x20, name)});
}

TEST(LnkParser, HeaderAndIdListGates) {
  lnk_spec bare;
  bare.unicode = false;
  lnk_bytes_t header = lnk_header_bytes(bare);
  // A header is a link; its terminal block missing or cut short is said.
  for (size_t n = 76; n <= 81; ++n) {
    lnk_bytes_t b = header;
    b.resize(n, 0);
    auto p = parse(b);
    EXPECT_TRUE(p.ok) << n;
    EXPECT_EQ(p.rec.m_header.m_lnk_header_size, 76u) << n;
    EXPECT_EQ(p.rec.m_faults.size(), n < 80 ? 1u : 0u) << n;
  }
  EXPECT_FALSE(parse(lnk_bytes_t(header.begin(), header.begin() + 75)).ok);
  lnk_bytes_t b82 = header;
  b82.resize(82, 0);
  auto p82 = parse(b82);
  EXPECT_TRUE(p82.ok);
  EXPECT_EQ(p82.rec.m_lnk_size, 80u);
  EXPECT_FALSE(is_lnk_header(b82.data(), 19));
  EXPECT_TRUE(is_lnk_header(b82.data(), 20));
  lnk_bytes_t bad_clsid = b82;
  bad_clsid[19] ^= 1;
  EXPECT_FALSE(parse(bad_clsid).ok);

  // IDListSize 2 and a zero first item: an empty list, LinkInfo at 80.
  lnk_spec empty_list;
  empty_list.idlist = lnk_bytes_t{0, 0};
  empty_list.link_info = lnk_link_info{};
  auto pe = parse(write_lnk(empty_list));
  ASSERT_TRUE(pe.ok);
  EXPECT_TRUE(pe.rec.m_idlist_items.empty());
  EXPECT_EQ(pe.rec.m_volume_id_offset, 80u + 28u);

  // A full list: items, path, and the link's bytes all consumed.
  lnk_spec full;
  full.idlist = two_items();
  auto pf = parse(write_lnk(full));
  ASSERT_TRUE(pf.ok);
  EXPECT_EQ(pf.rec.m_idlist_items.size(), 2u);
  EXPECT_NE(pf.rec.m_idlist_path.find("report.docx"), std::string::npos);
  EXPECT_EQ(pf.rec.m_lnk_size, write_lnk(full).size());

  // Declared ends past the data: 2 bytes → false; 1 byte → clipped from 88
  // bytes on, false below.
  struct {
    lnk_bytes_t items;
    int past;
    bool ok;
  } cases[] = {
      {two_items(), 2, false},
      {two_items(), 1, true},
      {idlist({shell_item(0x31, {0, 0})}), 1, false},
  };
  for (const auto& c : cases) {
    lnk_spec s;
    s.idlist = c.items;
    s.terminate = false;
    s.idlist_declared = static_cast<int64_t>(c.items.size()) + c.past;
    lnk_bytes_t bytes = write_lnk(s);
    auto p = parse(bytes);
    EXPECT_EQ(p.ok, c.ok) << bytes.size() << " +" << c.past;
    if (p.ok) {
      EXPECT_EQ(p.rec.m_lnk_size, bytes.size());
    }
  }

  // IDListSize 0 or 1 before a non-zero item: no walk of a wrapped length;
  // the parse goes on after the declared list.
  for (int declared : {0, 1}) {
    lnk_spec s;
    s.idlist = two_items();
    s.idlist_declared = declared;
    auto p = parse(write_lnk(s));
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.rec.m_idlist_items.empty());
  }

  // A path holding a line feed is kept whole; the report marks it.
  lnk_spec lf;
  lf.idlist = two_items("a\nb.txt");
  auto pl = parse(write_lnk(lf));
  ASSERT_TRUE(pl.ok);
  EXPECT_NE(pl.rec.m_idlist_path.find("a\nb.txt"), std::string::npos) << pl.rec.m_idlist_path;
}

TEST(LnkParser, LinkInfo) {
  auto with = [](const lnk_link_info& li) {
    lnk_spec s;
    s.link_info = li;
    s.strings[lnk_name] = u"after";
    return parse(write_lnk(s));
  };
  lnk_link_info li;
  li.label = "DATA";
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Temp\\";
  li.suffix = "report.docx";
  auto p = with(li);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_volume_label, "DATA");
  EXPECT_EQ(p.rec.m_volume_serial, "1234-abcd");
  EXPECT_EQ(p.rec.m_drive_type, "fixed");
  EXPECT_EQ(p.rec.m_local_base_path, "C:\\Temp\\");
  EXPECT_EQ(p.rec.m_common_path_suffix, "report.docx");
  EXPECT_EQ(p.rec.m_volume_id_offset, 76u + 28u);
  EXPECT_EQ(p.rec.m_name, "after");

  li.unicode_label = true;
  li.serial = 10;
  li.drive_type = 6;
  li.suffix.reset();
  p = with(li);
  EXPECT_EQ(p.rec.m_volume_label, "DATA");
  EXPECT_EQ(p.rec.m_volume_serial, "0000-000a");
  EXPECT_EQ(p.rec.m_drive_type, "RAM drive");
  EXPECT_EQ(p.rec.m_path_suffix_offset, 0u);
  EXPECT_EQ(p.rec.m_common_path_suffix, "");
  EXPECT_EQ(p.rec.m_local_base_path, "C:\\Temp\\");

  lnk_link_info net;
  net.has_volume = false;
  net.network = lnk_network_link{"\\\\server\\share", "Z:", 0x20000, 2048};
  p = with(net);
  EXPECT_EQ(p.rec.m_net_name, "\\\\server\\share");
  EXPECT_EQ(p.rec.m_device_name, "");
  net.network->device_name_offset = -1;
  p = with(net);
  EXPECT_EQ(p.rec.m_device_name, "Z:");

  // Offsets near 0x7FFFFFFF must not wrap into the data.
  lnk_link_info far = li;
  far.volume_id_offset = 0x7FFFFFF0;
  far.network_offset = 0x7FFFFFF0;
  far.local_path_offset = 0x7FFFFFFF;
  far.suffix_offset = 0xFFFFFFF0;
  p = with(far);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_volume_id_offset + p.rec.m_net_link_offset + p.rec.m_local_path_offset +
                p.rec.m_path_suffix_offset,
            0u);
  // The first part past the LinkInfo said, at the LinkInfo, then the network
  // link the flags do not declare.
  ASSERT_EQ(p.rec.m_faults.size(), 2u);
  EXPECT_STREQ(p.rec.m_faults[0].cause, "VolumeID runs past the LinkInfo");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(p.rec.m_faults[i].offset, 76u);

  // A LinkInfo of 1280 bytes is read; StringData follows its declared end.
  lnk_spec big;
  big.link_info_raw = lnk_link_info_bytes(li);
  big.link_info_raw->resize(1280, 0);
  big.link_info_raw->at(0) = 0x00;
  big.link_info_raw->at(1) = 0x05;
  big.strings[lnk_name] = u"n";
  p = parse(write_lnk(big));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_volume_id_offset, 76u + 28u);
  EXPECT_EQ(p.rec.m_name_offset, 76u + 1280u);
  EXPECT_EQ(p.rec.m_name, "n");
  EXPECT_TRUE(p.rec.m_faults.empty());
}

// A header of 36 bytes or more carries the paths in UTF-16 too; the 8-bit
// form then holds "?" for what its code page lacks. Expected texts as
// pylnk (liblnk 20181227) gives them for the same bytes.
TEST(LnkParser, UnicodeLinkInfoPaths) {
  struct {
    uint32_t header_size;
    std::string local, suffix;
    std::optional<std::u16string> local_wide, suffix_wide;
    const char* want_local;
    const char* want_suffix;
  } cases[] = {
      {36, "C:\\Users\\??\\a.txt", "", u"C:\\Users\\Ünï测\\a.txt", std::nullopt,
       "C:\\Users\\Ünï测\\a.txt", ""},
      {36, "C:\\", "??.txt", std::nullopt, u"测试.txt", "C:\\", "测试.txt"},
      // An empty UTF-16 form, or none, leaves the 8-bit one.
      {36, "C:\\x.txt", "", u"", std::nullopt, "C:\\x.txt", ""},
      {36, "C:\\x.txt", "", std::nullopt, std::nullopt, "C:\\x.txt", ""},
      // A 28-byte header has no UTF-16 offsets: what follows is not read.
      {28, "C:\\x.txt", "y", u"C:\\wide", u"wide", "C:\\x.txt", "y"},
  };
  for (const auto& c : cases) {
    lnk_link_info li;
    li.header_size = c.header_size;
    li.local_base_path = c.local;
    li.suffix = c.suffix;
    li.local_base_path_unicode = c.local_wide;
    li.suffix_unicode = c.suffix_wide;
    lnk_spec s;
    s.link_info = li;
    const auto p = parse(write_lnk(s));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.rec.m_local_base_path, c.want_local) << c.local;
    EXPECT_EQ(p.rec.m_common_path_suffix, c.want_suffix) << c.local;
    EXPECT_EQ(p.rec.m_local_path_offset, 76u + c.header_size + 17u) << c.local;
  }
}

TEST(LnkParser, StringData) {
  lnk_spec s;
  s.strings[lnk_name] = u"Отчёт 2024";
  s.strings[lnk_relative_path] = u"..\\测试 1.txt";
  s.strings[lnk_arguments] = u"\U0001F600 ok";
  s.extra_blocks.push_back(console_fe_block(1252));
  auto p = parse(write_lnk(s));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_name, "Отчёт 2024");
  EXPECT_EQ(p.rec.m_relative_path, "..\\测试 1.txt");
  EXPECT_EQ(p.rec.m_arguments, "\U0001F600 ok");
  EXPECT_EQ(p.rec.m_name_offset, 76u);
  EXPECT_EQ(p.rec.m_code_page, 1252u);
  EXPECT_EQ(p.rec.m_lnk_size, write_lnk(s).size());

  // 8-bit: the arguments start right after the name's characters; a
  // second byte of 0 does not make the name UTF-16, nor end it.
  lnk_spec ansi;
  ansi.unicode = false;
  ansi.strings[lnk_name] = std::u16string(u"A\0BC", 4);
  ansi.strings[lnk_arguments] = u"-x \xe9t\xe9";
  p = parse(write_lnk(ansi));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_name, std::string("A\0BC", 4));
  EXPECT_EQ(p.rec.m_arguments, "-x \xC3\xA9t\xC3\xA9");  // Windows-1252 read as UTF-8
  EXPECT_EQ(p.rec.m_arguments_offset, 76u + 2u + 4u);
  EXPECT_EQ(p.rec.m_lnk_size, write_lnk(ansi).size());

  // An item running past the end of the data: its offset set, no text, no
  // extra data; the size is the item's offset.
  lnk_spec cut;
  cut.strings[lnk_name] = u"abc";
  cut.strings[lnk_working_dir] = u"C:\\";
  cut.string_counts[lnk_working_dir] = 200;
  cut.extra_blocks.push_back(console_fe_block(1252));
  p = parse(write_lnk(cut));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_name, "abc");
  EXPECT_EQ(p.rec.m_working_dir_offset, 76u + 8u);
  EXPECT_EQ(p.rec.m_working_dir, "");
  EXPECT_EQ(p.rec.m_console_fe_offset, 0u);
  EXPECT_EQ(p.rec.m_lnk_size, 76u + 8u);

  // A count whose u16 itself does not fit, and count 0.
  lnk_bytes_t odd = write_lnk(cut);
  odd.resize(76 + 8 + 1);
  p = parse(odd);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.rec.m_lnk_size, 76u + 8u);
  lnk_spec zero;
  zero.strings[lnk_name] = u"";
  zero.strings[lnk_icon_location] = u"x\ny";
  p = parse(write_lnk(zero));
  EXPECT_EQ(p.rec.m_name, "");
  EXPECT_EQ(p.rec.m_icon_location_offset, 78u);
  EXPECT_EQ(p.rec.m_icon_location, "x\ny");
  EXPECT_EQ(p.rec.m_lnk_size, write_lnk(zero).size());
}

TEST(LnkParser, DumpCopiesTheParsedBytes) {
  temp_tree dir;
  ASSERT_TRUE(dir.ok());
  lnk_spec s;
  s.strings[lnk_name] = u"n";
  s.trailing = {1, 2, 3};
  const lnk_bytes_t bytes = write_lnk(s);
  lnk_dump_settings dump;
  lnk_record rec;
  ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), true, 0x1234, &dump));
  EXPECT_EQ(dump.lnk_dump_count, 0u);  // no folder, no copy
  dump.lnk_dump_dir = dir.root();
  dump.lnk_dump_count = 41;
  ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), true, 0x1234, &dump));
  EXPECT_EQ(dump.lnk_dump_count, 42u);
  std::ifstream in(dir.path("carvelnk_0042_0x000001234_0x0054.bin"), std::ios::binary);
  const lnk_bytes_t copied{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(copied, lnk_bytes_t(bytes.begin(), bytes.end() - 3));
  dump.lnk_dump_dir = dir.path("missing/folder");
  EXPECT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), true, 0x1234, &dump));
}

TEST(LnkNames, TablesAndRecordLifecycle) {
  EXPECT_STREQ(show_command_name(12), "unk");
  EXPECT_STREQ(show_command_name(7), "SW_SHOWMINNOACTIVE");
  struct {
    uint32_t flags;
    const char* text;
  } flags[] = {{0, "Default"},
               {0x80, "IsUnicode"},
               {3, "HasLinkTargetIDList, HasLinkInfo"},
               {1u << 26, ""},
               {(1u << 25) | (1u << 31), "KeepLocalIDListForUNCTarget"}};
  for (const auto& f : flags) EXPECT_EQ(link_flags_names(f.flags), f.text) << f.flags;
  // Every name at once fits the stated room.
  std::vector<char> room(k_link_flags_names_room);
  const std::string all(room.data(), put_link_flags_names(room.data(), ~0u));
  EXPECT_EQ(std::count(all.begin(), all.end(), ','), 25);
  EXPECT_EQ(all.substr(all.size() - 29), ", KeepLocalIDListForUNCTarget");
  std::ostringstream drives;
  for (uint32_t d : {0u, 1u, 3u, 6u, 7u}) drive_type_name(drives, d) << ";";
  EXPECT_EQ(drives.str(), "unk;no root dir;fixed;RAM drive;unk;");
  struct {
    uint32_t id;
    const char* name;
  } csidl[] = {{0, "CSIDL_DESKTOP"},
               {14, "CSIDL_MYVIDEO"},
               {15, "unk"},
               {16, "CSIDL_DESKTOPDIRECTORY"},
               {49, "CSIDL_CONNECTIONS"},
               {50, "unk"},
               {52, "unk"},
               {53, "CSIDL_COMMON_MUSIC"},
               {60, "CSID_UNUSED"},
               {61, "CSIDL_COMPUTERSNEARME"},
               {62, "IDLIST_COMMON_FILE_UNICODE"},
               {63, "unk"},
               {0x800, "CSIDL_FLAG_PER_USER_INIT"},
               {0x1000, "CSIDL_FLAG_NO_ALIAS"},
               {0x4000, "CSIDL_FLAG_DONT_VERIFY"},
               {0x8000, "CSIDL_FLAG_CREATE"},
               {0xFF00, "CSIDL_FLAG_MASK"},
               {32769, "unk"}};
  for (const auto& c : csidl) EXPECT_STREQ(csidl_name(c.id), c.name) << c.id;
  int named = 0;
  for (uint32_t id = 0; id < 0x10000; ++id) named += std::string(csidl_name(id)) != "unk";
  EXPECT_EQ(named, 64);
  EXPECT_EQ(u64_distance(INT64_MIN, INT64_MAX), UINT64_MAX);
  EXPECT_EQ(u64_distance(5, -3), 8u);

  // Clear keeps the three context texts and nothing else; reset drops them.
  lnk_spec s;
  s.idlist = two_items();
  s.strings[lnk_name] = u"n";
  lnk_record rec;
  rec.m_source_name = "LNK";
  rec.m_source_type = "VESKLIST (automatic)";
  rec.m_source_alt_label = "inner";
  rec.m_has_access_count = 1;
  rec.m_destlist_object_droid = "9";
  std::vector<uint8_t> bytes = write_lnk(s);
  ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), false, 0));
  const lnk_record copy = rec;
  clear_lnk_record(rec);
  EXPECT_EQ(rec.m_source_name, "LNK");
  EXPECT_EQ(rec.m_source_type, "VESKLIST (automatic)");
  EXPECT_EQ(rec.m_source_alt_label, "inner");
  EXPECT_EQ(rec.m_has_access_count, 0);
  EXPECT_TRUE(rec.m_destlist_object_droid.empty());
  EXPECT_TRUE(rec.m_name.empty() && rec.m_idlist_items.empty() && rec.m_lnk_size == 0);
  EXPECT_EQ(rec.m_header.m_lnk_header_size, 0u);
  reset_lnk_record(rec);
  EXPECT_TRUE(rec.m_source_name.empty() && rec.m_source_type.empty() &&
              rec.m_source_alt_label.empty());
  EXPECT_EQ(copy.m_name, "n");
  EXPECT_EQ(copy.m_idlist_items.size(), 2u);
  EXPECT_EQ(copy.m_source_type, "VESKLIST (automatic)");

  // A stored record holds no items: they are parsed into again by the next
  // link, which then allocates less than one with none to reuse.
  const auto parse_counted = [&](lnk_record& r) {
    heap::scope counted;
    EXPECT_TRUE(parse_lnk(r, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    return counted.allocations();
  };
  lnk_record stored, reusing, fresh;
  parse_counted(stored);
  compact_lnk_record(stored, false, vesk_test::test_scratch().shell);
  EXPECT_EQ(stored.m_idlist_items.capacity(), 0u);
  const int64_t reused = parse_counted(reusing);
  EXPECT_EQ(reusing.m_idlist_path, copy.m_idlist_path);
  EXPECT_EQ(reusing.m_idlist_items.size(), 2u);
  compact_lnk_record(reusing, false);  // without a scratch: the items are freed
  EXPECT_EQ(reusing.m_idlist_items.capacity(), 0u);
  const int64_t built = parse_counted(fresh);
  EXPECT_EQ(fresh.m_idlist_path, copy.m_idlist_path);
  EXPECT_LT(reused, built);
}

// Each scratch keeps what the parses made with it leave: records outlive the
// scratch they were parsed with, and scratches used in turn or on several
// threads at once give the same records.
// Memory that runs out anywhere inside a link's parse, down to a value of its
// property store, is said in the record's sink: a record that came out
// short is never taken for a whole one.
TEST(LnkParser, AllocationsThatFailInsideTheParseAreSaid) {
  lnk_spec s;
  s.idlist = two_items("a.txt");
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"hello.txt"))})})};
  const lnk_bytes_t bytes = write_lnk(s);
  auto shown = [](const lnk_record& rec) {
    std::string out = rec.m_idlist_path;
    for (const std::string& v : rec.m_property_values) out += "|" + v;
    return out;
  };
  std::string whole;
  {
    const cmd_params settings;
    lnk_record rec;
    ASSERT_TRUE(
        parse_lnk(rec, bytes.data(), bytes.size(), settings, vesk_test::test_scratch(), false, 0));
    whole = shown(rec);
  }
  ASSERT_NE(whole.find("a.txt|hello.txt"), std::string::npos) << whole;
  size_t short_records = 0;
  for (int64_t n = 0; n < 300; ++n) {
    const cmd_params settings;
    link_scratch scratch;
    lnk_record rec;
    bool parsed = false;
    {
      heap::scope watched;
      heap::fail_nth(n);
      parsed = parse_lnk(rec, bytes.data(), bytes.size(), settings, scratch, false, 0);
      heap::no_failure();
    }
    if (!parsed || shown(rec) == whole) continue;
    ++short_records;
    EXPECT_TRUE(rec.m_faults.out_of_memory()) << n << ": " << shown(rec);
  }
  EXPECT_GT(short_records, 0u);
}

TEST(LnkParser, EachScratchKeepsItsOwn) {
  lnk_spec s;
  s.idlist = two_items("a.txt");
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"hello.txt"))})})};
  const lnk_bytes_t bytes = write_lnk(s);
  auto parse_with = [&](link_scratch& scratch, lnk_record& rec) {
    return parse_lnk(rec, bytes.data(), bytes.size(), default_params(), scratch, false, 0);
  };
  auto shown = [](const lnk_record& rec) {
    std::string out = rec.m_idlist_path;
    for (const std::string& v : rec.m_property_values) out += "|" + v;
    return out;
  };
  std::vector<lnk_record> kept(4);
  {
    link_scratch gone;
    ASSERT_TRUE(parse_with(gone, kept[0]));
    compact_lnk_record(kept[0], true, gone.shell);  // its items become the spare of gone
    ASSERT_TRUE(parse_with(gone, kept[1]));         // and are parsed into again
  }
  link_scratch a, b;
  ASSERT_TRUE(parse_with(a, kept[2]));
  compact_lnk_record(kept[2], true, a.shell);
  ASSERT_TRUE(parse_with(b, kept[3]));  // a's spare stays with a
  const std::string expected = shown(kept[1]);
  EXPECT_NE(expected.find("a.txt|hello.txt"), std::string::npos) << expected;
  EXPECT_EQ(shown(kept[3]), expected);
  EXPECT_EQ(kept[0].m_idlist_segments.size(), kept[2].m_idlist_segments.size());

  std::vector<std::string> seen(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t)
    threads.emplace_back([&, t] {
      link_scratch own;
      lnk_record rec;
      for (int round = 0; round < 40; ++round) {
        reset_lnk_record(rec);  // as the drivers do before each link
        if (!parse_with(own, rec)) return;
        seen[t] = shown(rec);
        compact_lnk_record(rec, round % 2 == 0, own.shell);
      }
    });
  for (std::thread& t : threads) t.join();
  for (const std::string& got : seen) EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vk
