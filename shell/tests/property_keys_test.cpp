#include "shell/property_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <sstream>

#include "foundation/vk_unicode.h"

namespace vk {
namespace {

// The key table as listed: FMTID | pids | non-zero flags | pids with no name.
const char* const k_rows = R"(
1E3EE840-BC2B-476C-8237-2ACD1A839B22 | 3, 6, 8 | 8: 0x6 | -
446D16B1-8DAD-4870-A748-402EA43D788C | 100, 104 | - | -
0B63E350-9CCC-11D0-BCDB-00805FCCCE04 | 5, 8-9 | 8: 0x90 | 8-9
41CF5AE0-F75A-4806-BD87-59C7D9248EB9 | 100 | 100: 0x2000 | 100
F29F85E0-4FF9-1068-AB91-08002B27B3D9 | 0-19, 24-27 | - | 0-1, 10, 15-17, 27
8F052D93-ABCA-4FC5-A5AC-B01DF4DBE598 | 2 | - | -
32A166EC-CF45-417F-A96C-48954855C727 | 2 | 2: 0x4000 | -
4D545058-4FCE-4578-95C8-8698A9BC0F49 | 55297 | - | 55297
6B8DA074-3B5C-43BC-886F-0A2CDCE00B6F | 100 | 100: 0x2 | 100
5AB5C75F-15E1-4D65-924A-04754567243C | 2-6 | - | -
EEBB82B9-EACE-4AF7-AA64-B7F3C7C996B4 | 2-7 | 7: 0x8000 | 2-7
000214A0-0000-0000-C000-000000000046 | 2, 5-15 | 2: 0x2000, 5: 0x2000, 9: 0x2000, 10: 0x2000, 11: 0x2000, 12: 0x2000, 13: 0x2000, 14: 0x2000 | 6-8, 14-15
9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3 | 2-6, 8-9, 11-12, 14-15, 17, 20-21 | 15: 0x6, 17: 0x2, 21: 0x2 | 6, 8, 20
9B174B35-40FF-11D2-A27E-00C04FC30871 | 2-5, 7, 10 | - | -
86D40B4D-9069-443C-819A-2A54090DCCEC | 2, 11-13, 15, 19-20 | - | -
28636AA6-953D-11D2-B5D6-00C04FD918D0 | 0-6, 8-9, 11-12, 14, 24-25, 29-30, 32-33, 37 | 5: 0x2, 8: 0x2, 24: 0x3, 25: 0x1000, 32: 0x8 | 11, 29, 32-33, 37
49691C90-7E17-101A-A91C-08002B2ECDA9 | 3-5, 9, 21 | 9: 0x2 | 3-5, 21
DEBDA43A-37B3-4383-91E7-4498DA2995AB | 1-8 | - | 1-4
14B81DA1-0135-4D31-96D9-6CBFC9671A99 | 257-259, 271-272, 305, 18248, 18258, 33434, 33437, 34850, 34855, 36867, 37377-37378, 37380, 37382-37386, 40961, 41483 | 18248: 0x2, 18258: 0x10, 36867: 0x50 | 258-259, 305, 33434, 33437, 34850, 34855, 37377-37378, 37380, 37382-37386, 40961, 41483
E3E0584C-B788-4A5A-BB20-7F5A44C9ACDD | 2-7, 13-14, 16-21 | 6: 0x2, 7: 0x2, 19: 0x10, 20: 0x10 | -
5CBF2787-48CF-4208-B90E-EE5E5D420294 | 2, 7, 17, 21, 23, 25 | 2: 0x6, 21: 0x2, 23: 0x10, 25: 0x2 | -
5D76B67F-9B3D-44BB-B6AE-25DA4F638A67 | 2-6, 8, 10 | 6: 0x2000 | 2-5, 8, 10
46588AE2-4CBC-4338-BBFC-139326986DCE | 4 | - | -
DABD30ED-0043-4789-A7F8-D013A4736622 | 100 | - | -
841E4F90-FF59-4D16-8947-E81BBFFAB36D | 2, 16 | 16: 0x8000 | -
A8B865DD-2E3D-4094-AD97-E593A70C75D6 | 2-15 | 2: 0x10, 4: 0x2 | 6-7, 11, 13-15
83DA6326-97A6-4088-9453-A1923F573B29 | 3, 6, 10, 100-103 | 100: 0x10, 101: 0x10, 102: 0x10, 103: 0x10 | -
540B947E-8B40-45BC-A8A2-6A0B894CBDA2 | 4, 10-11 | 10: 0x2 | 4
80D81EA6-7473-4B0C-8216-EFC11A2C4C8B | 2-8 | - | 3-8
9B174B34-40FF-11D2-A27E-00C04FC30871 | 4 | - | -
78C34FC8-104A-4ACA-9EA4-524D52996E57 | 39, 51-57, 65-68, 70-74, 76-95, 97-101, 105-108, 256 | 66: 0x10, 67: 0x10, 81: 0x2, 82: 0x2 | 68, 70-74, 76-80, 83-84, 86-90, 93, 95, 97-101, 105, 107-108, 256
0CEF7D53-FA64-11D1-A203-0000F81FEDEE | 0, 3-7 | 0: 0x2000, 3: 0x2, 4: 0x2000, 5: 0x2, 6: 0x6, 7: 0x2 | -
A45C254E-DF1C-4EFD-8020-67D146A850E0 | 2-4, 6, 9-38 | 2: 0x2, 14: 0x3, 16: 0x2 | 10, 17-18, 21-29, 31-36, 38
B725F130-47EF-101A-A5F1-02608C9EEBAC | 2, 4, 6, 10, 12-16, 18-21, 23-25 | 2: 0x3, 6: 0x2, 10: 0x3, 14: 0x90, 15: 0x50, 16: 0x110, 21: 0x800, 23: 0x2, 25: 0x2 | 18, 24
AFC25D66-FE0D-4114-9097-970C93E920D1 | 2, 1001-1004 | 1001: 0x2, 1003: 0x2 | 1004
D8F907A6-34CC-45FA-97FB-D007FA47EC94 | 2, 4, 1001-1002 | 1001: 0x2, 1002: 0x2 | 4
E354E95E-D8A0-4637-A03A-0CB26838DBC7 | 6, 8, 10-11 | 6: 0x2, 8: 0x2, 10: 0x88000, 11: 0x2 | -
B28AE94B-05A4-4E8E-BE01-72CC7E099D8F | 2-7 | 2: 0x2, 3: 0x2, 5: 0x88000, 6: 0x88000, 7: 0x2 | 4
F99EFD03-431D-40D8-A1C9-4E220D9C88D3 | 3, 7-13 | 3: 0x2, 7: 0x2, 8: 0x2, 9: 0x2, 10: 0x2, 11: 0x2, 12: 0x2, 13: 0x2 | 7
41F8F65A-5484-4782-B13D-4740DD7C37C5 | 2-4, 7-10 | 2: 0x2, 3: 0x2, 4: 0x2, 8: 0x8000, 10: 0x2 | -
26D4979A-E643-4626-9E2B-736DC0C92FDC | 2-16 | 11: 0x8000, 12: 0x3 | 4-5, 10, 13-15
3464F7A4-2444-40B1-980A-E0903CB6D912 | 7-8, 23 | - | 7-8, 23
64440490-4C8B-11D1-8B70-080036B11A03 | 2-10 | 9: 0x2 | 3-8
6444048F-4C8B-11D1-8B70-080036B11A03 | 2-13 | - | 5-13
56A3372E-CE9C-11D2-9F0E-006097C686F6 | 2-7, 11-13, 33-38, 100 | 3: 0x2 | 2, 5, 7, 11-13, 33-37, 100
51236583-0C4A-4FE8-B81F-166AEC13F510 | 100, 105, 107, 109, 122-123 | 100: 0x2, 105: 0x2, 107: 0x2, 109: 0x2 | 105, 109, 122
656A3BB3-ECC0-43FD-8477-4AE0404A96CD | 3-4, 4096-4103, 8192-8198, 12288-12290, 12292-12294, 12296-12298, 12304, 16384-16386, 16388-16390, 20480-20482, 24576-24578, 28672-28675, 28688 | 4: 0x48000, 12288: 0x2 | 3-4, 4096-4101, 4103, 8193, 8196-8198, 12289, 12292-12293, 12304, 16385, 16390, 20481-20482, 24576-24578, 28673-28675, 28688
EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C | 2-7, 9-21, 23-27 | 4: 0x2, 5: 0x20, 12: 0x3, 18: 0x18000, 19: 0x28000, 20: 0x18000 | 7, 9-10, 13-14, 17, 21, 26
01A3057A-74D6-4E80-BEA7-DC4C212CE50A | 2-11 | 2: 0x400 | 11
D5CDD502-2E9C-101B-9397-08002B2CF9AE | 1-17, 19-24, 26-29 | - | 1, 3-14, 16-17, 19-22, 24, 26-28
)";

guid parse(const std::string& text) {
  auto hex = [&](size_t at, int n) { return std::stoull(text.substr(at, n), nullptr, 16); };
  guid_parts p{static_cast<uint32_t>(hex(0, 8)),
               static_cast<uint16_t>(hex(9, 4)),
               static_cast<uint16_t>(hex(14, 4)),
               {}};
  p.data4[0] = static_cast<uint8_t>(hex(19, 2));
  p.data4[1] = static_cast<uint8_t>(hex(21, 2));
  for (int i = 0; i < 6; ++i) p.data4[2 + i] = static_cast<uint8_t>(hex(24 + 2 * i, 2));
  return guid_from_parts(p);
}

std::vector<uint32_t> ranges(const std::string& text) {
  std::vector<uint32_t> out;
  if (text == "-") return out;
  std::stringstream ss(text);
  std::string part;
  while (std::getline(ss, part, ',')) {
    size_t dash = part.find('-');
    uint32_t a = std::stoul(part.substr(0, dash));
    uint32_t b = dash == std::string::npos ? a : std::stoul(part.substr(dash + 1));
    for (uint32_t v = a; v <= b; ++v) out.push_back(v);
  }
  return out;
}

std::string field(std::string& line) {
  size_t bar = line.find(" | ");
  std::string f = line.substr(0, bar);
  line = bar == std::string::npos ? "" : line.substr(bar + 3);
  return f;
}

TEST(PropertyKeys, EveryListedRowHasItsFlagsAndNames) {
  std::stringstream rows(k_rows);
  std::string line;
  size_t entries = 0, named = 0, zero_flags = 0;
  std::map<int, int> bit_counts;
  while (std::getline(rows, line)) {
    if (line.empty()) continue;
    guid fmtid = parse(field(line));
    std::vector<uint32_t> pids = ranges(field(line));
    std::map<uint32_t, uint32_t> flags;
    std::string flag_text = field(line);
    if (flag_text != "-") {
      std::stringstream fs(flag_text);
      std::string kv;
      while (std::getline(fs, kv, ','))
        flags[std::stoul(kv.substr(0, kv.find(':')))] =
            std::stoul(kv.substr(kv.find(':') + 1), nullptr, 16);
    }
    std::vector<uint32_t> unnamed = ranges(field(line));
    for (uint32_t pid : pids) {
      property_value rec(&fmtid, pid);
      rec.name = "stale";
      ASSERT_TRUE(lookup_property_value_key(rec)) << guid_to_string(fmtid) << "/" << pid;
      uint32_t f = flags[pid];
      EXPECT_EQ(rec.table_flags, f);
      EXPECT_EQ(rec.table_bit0, f & 1 ? 1 : 0);
      EXPECT_EQ(rec.table_bit1, f & 2 ? 1 : 0);
      EXPECT_EQ(rec.table_bit2, f & 4 ? 1 : 0);
      EXPECT_EQ(rec.table_bit3, f & 8 ? 1 : 0);
      EXPECT_EQ(rec.is_filetime, f & 0x10 ? 1 : 0);
      EXPECT_EQ(rec.table_bit5, f & 0x20 ? 1 : 0);
      EXPECT_EQ(rec.listed, 1);
      EXPECT_EQ(rec.key_known, 1u);
      bool empty = std::find(unnamed.begin(), unnamed.end(), pid) != unnamed.end();
      EXPECT_EQ(rec.name.empty(), empty) << guid_to_string(fmtid) << "/" << pid;
      ++entries;
      named += !empty;
      zero_flags += f == 0;
      for (int b = 0; b < 32; ++b)
        if (f & (1u << b)) ++bit_counts[b];
    }
  }
  EXPECT_EQ(entries, 508u);
  EXPECT_EQ(named, 280u);
  EXPECT_EQ(zero_flags, 400u);
  EXPECT_EQ(bit_counts, (std::map<int, int>{{0, 6},
                                            {1, 63},
                                            {2, 4},
                                            {3, 1},
                                            {4, 16},
                                            {5, 1},
                                            {6, 2},
                                            {7, 2},
                                            {8, 1},
                                            {10, 1},
                                            {11, 1},
                                            {12, 1},
                                            {13, 12},
                                            {14, 1},
                                            {15, 11},
                                            {16, 2},
                                            {17, 1},
                                            {18, 1},
                                            {19, 3}}));

  size_t groups = 0, raw_entries = 0;
  const propkey_group* g = property_key_groups(groups);
  for (size_t i = 0; i < groups; ++i) raw_entries += g[i].count;
  EXPECT_EQ(groups, 51u);
  EXPECT_EQ(raw_entries, 508u);
}

TEST(PropertyKeys, LookupCases) {
  guid summary = parse("F29F85E0-4FF9-1068-AB91-08002B27B3D9");
  guid storage = parse("B725F130-47EF-101A-A5F1-02608C9EEBAC");
  property_value a;
  ASSERT_TRUE(lookup_property_key(a, summary, 2));
  EXPECT_EQ(a.table_flags, 0u);
  EXPECT_EQ(a.name, "Title");

  property_value b;
  ASSERT_TRUE(lookup_property_key(b, storage, 14));
  EXPECT_EQ(b.table_flags, 0x90u);
  EXPECT_EQ(b.is_filetime, 1);
  EXPECT_EQ(b.table_bit0 + b.table_bit1 + b.table_bit2 + b.table_bit3 + b.table_bit5, 0);
  property_value c;
  ASSERT_TRUE(lookup_property_key(c, storage, 2));
  EXPECT_TRUE(c.table_bit0 && c.table_bit1);

  // Names the parsers look for.
  struct named {
    const char* fmtid;
    uint32_t pid;
    const char* name;
  } names[] = {{"B725F130-47EF-101A-A5F1-02608C9EEBAC", 4, "Type"},
               {"B725F130-47EF-101A-A5F1-02608C9EEBAC", 12, "Size"},
               {"28636AA6-953D-11D2-B5D6-00C04FD918D0", 24, "ParsingName"},
               {"5AB5C75F-15E1-4D65-924A-04754567243C", 2, "AutoList"},
               {"5AB5C75F-15E1-4D65-924A-04754567243C", 6, "Condition"}};
  for (const named& n : names) {
    property_value r;
    ASSERT_TRUE(lookup_property_key(r, parse(n.fmtid), n.pid));
    EXPECT_EQ(r.name, n.name);
  }

  property_value d;
  d.name = "keep";
  // A known FMTID with a pid inside, below and above its listed ones.
  for (uint32_t pid : {18u, 0u, 30u})
    EXPECT_FALSE(lookup_property_key(d, parse("D5CDD502-2E9C-101B-9397-08002B2CF9AE"), pid));
  EXPECT_EQ(d.name, "keep");
  EXPECT_EQ(d.key_known, 0u);

  // The lookup agrees with the table as built, where a repeated key keeps
  // its first entry.
  property_key_map table;
  ASSERT_TRUE(property_key_table(table));
  for (const auto& [fmtid, entries] : table)
    for (const windows_propid& e : entries) {
      property_value r;
      ASSERT_TRUE(lookup_property_key(r, fmtid, e.pid));
      EXPECT_EQ(r.name, e.name) << guid_to_string(fmtid) << "/" << e.pid;
      EXPECT_EQ(r.table_flags, e.flags) << guid_to_string(fmtid) << "/" << e.pid;
    }
  EXPECT_FALSE(lookup_property_key(d, parse("01234567-89AB-CDEF-0123-456789ABCDEF"), 2));

  property_value e;
  e.name = "own name";
  e.name2 = e.name3 = "x";
  ASSERT_TRUE(lookup_property_key(e, parse("D5CDD505-2E9C-101B-9397-08002B2CF9AE"), 77));
  EXPECT_EQ(e.name, "own name");
  EXPECT_EQ(e.name2, "");
  EXPECT_EQ(e.name3, "");
  EXPECT_EQ(e.string_named, 1);
  EXPECT_EQ(e.listed, 0);

  guid twice = parse("0B63E350-9CCC-11D0-BCDB-00805FCCCE04");
  for (uint32_t pid : {5u, 8u, 9u}) {
    property_value r;
    EXPECT_TRUE(lookup_property_key(r, twice, pid)) << pid;
  }

  for (uint64_t v : {0ull, 5ull, 0x100000001ull})
    EXPECT_EQ(value_code_label(v), std::string(k_no_key_word) + " code");
  EXPECT_NE(value_code_label(1), value_code_label(2));
}

// The index is built once per run: its failed first build is watched in a
// fresh run of this test alone, with the map build's failure beside it.
TEST(PropertyKeysDeathTest, FailedBuildsLeaveNothingAndAreRetried) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const table_build_fault no_memory = [] { throw std::bad_alloc(); };
        guid summary = parse("F29F85E0-4FF9-1068-AB91-08002B27B3D9");
        property_key_map map;
        map[summary];
        if (property_key_table(map, no_memory) || !map.empty()) std::exit(1);
        if (property_key_index_ready(no_memory)) std::exit(2);
        property_value r;
        if (!lookup_property_key(r, summary, 2) || r.name.empty()) std::exit(3);
        // Built once: a later fault hook is never called.
        if (!property_key_index_ready(no_memory)) std::exit(4);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vk
