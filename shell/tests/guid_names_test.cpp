#include "shell/guid_names.h"

#include <gtest/gtest.h>

#include <new>
#include <set>

#include "foundation/vk_unicode.h"

namespace vk {
namespace {

guid parse(const std::string& text) {
  // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" into its stored bytes.
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

TEST(ClsidName, TableThenFamiliesThenPlainText) {
  struct row {
    const char* g;
    const char* text;
    bool known;
  } rows[] = {
      {"00000000-0000-0000-0000-000000000000", "{CLSID_<none specified>}", true},
      {"00000000-6D54-11D4-BEE3-00C04F990354", "{CLSID_Visio}", true},
      {"ABCDEF01-6D54-11D4-BEE3-00C04F990354", "{CLSID_Visio}", true},
      {"90120000-0030-0000-0000-0000000FF1CE", "{CLSID_Microsoft Office}", true},
      {"90120000-0030-0000-7700-0000000FF1CE", "{CLSID_Microsoft Office}", true},
      {"12345678-6000-11D3-8CFE-0150048383C9", "{CLSID_Microsoft Office}", true},
      {"12345678-6000-11D3-8CFE-0050048383C9", "{CLSID_Microsoft Office}", true},
      {"01234567-89AB-CDEF-0123-456789ABCDEF", "01234567-89ab-cdef-0123-456789abcdef", false},
      {"90120000-0030-0000-0000-0000000FF1CF", "90120000-0030-0000-0000-0000000ff1cf", false},
      {"20D04FE0-3AEA-1069-A2D8-08002B30309D", "{CLSID_MyComputer}", true},
  };
  for (const row& r : rows) {
    guid g = parse(r.g);
    std::string out = "stale";
    EXPECT_EQ(clsid_name(out, &g), r.known) << r.g;
    EXPECT_EQ(out, r.text) << r.g;
    EXPECT_EQ(clsid_text(&g), r.text);
  }
  std::string out = "stale";
  EXPECT_FALSE(clsid_name(out, nullptr));
  EXPECT_EQ(out, "");
  EXPECT_EQ(clsid_text(nullptr), "");
}

enum family { zero, com, devclass, startmenu, rootfolder, other };
family family_of(const std::string& t) {
  if (t == "00000000-0000-0000-0000-000000000000") return zero;
  if (t.substr(8) == "-0000-0000-c000-000000000046") return com;
  if (t.substr(0, 6) == "4d36e9" && t.substr(8, 15) == "-e325-11ce-bfc1") return devclass;
  if (t.substr(0, 7) == "2559a1f" && t[7] >= '0' && t[7] <= '7' &&
      t.substr(8) == "-21d7-11d4-bdaf-00c04f60b9f0")
    return startmenu;
  if (t.substr(13, 8) == "-1069-a2" && t.substr(24) == "08002b30309d") return rootfolder;
  return other;
}

TEST(ClsidName, TableShapeAndFamilies) {
  size_t count = 0;
  const clsid_table_entry* entries = clsid_table_entries(count);
  EXPECT_EQ(count, 524u);
  std::map<guid, std::string, guid_less_fn> first;
  std::map<family, size_t> families;
  size_t repeats = 0;
  for (size_t i = 0; i < count; ++i) {
    guid g = guid_from_parts(entries[i].id);
    if (!first.emplace(g, entries[i].name).second) {
      ++repeats;
      continue;
    }
    ++families[family_of(guid_to_string(g))];
    // No key may be shadowed by a fallback family.
    std::string t = guid_to_string(g);
    EXPECT_NE(t.substr(8), "-6d54-11d4-bee3-00c04f990354");
    EXPECT_NE(t.substr(21), "00000000ff1ce");
    EXPECT_NE(t.substr(8, 19), "-6000-11d3-8cfe-015");
    EXPECT_NE(t.substr(8, 19), "-6000-11d3-8cfe-005");
  }
  EXPECT_EQ(first.size(), 511u);
  // The name found by search is the first insertion's, for every key.
  for (const auto& [g, name] : first) EXPECT_EQ(clsid_known_name(g), name) << guid_to_string(g);
  EXPECT_EQ(repeats, count - first.size());
  EXPECT_EQ(families[zero], 1u);
  EXPECT_EQ(families[com], 45u);
  EXPECT_EQ(families[devclass], 22u);
  EXPECT_EQ(families[startmenu], 8u);
  EXPECT_EQ(families[rootfolder], 7u);
  EXPECT_EQ(families[other], 428u);

  const char* must[] = {
      "00000000-0000-0000-0000-000000000000", "00020906-0000-0000-C000-000000000046",
      "00020D75-0000-0000-C000-000000000046", "00021401-0000-0000-C000-000000000046",
      "000214F9-0000-0000-C000-000000000046", "00062000-0000-0000-C000-000000000046",
      "0907616E-F5E6-48D8-9D61-A91C3D28106D", "116F8D13-101E-4FA5-84D4-FF8279381935",
      "20D04FE0-3AEA-1069-A2D8-08002B30309D", "21EC2020-3AEA-1069-A2DD-08002B30309D",
      "2227A280-3AEA-1069-A2DE-08002830309D", "2227A280-3AEA-1069-A2DE-08002B30309D",
      "22877A6D-37A1-461A-91B0-DBDA5AAEBC99", "2559A1F0-21D7-11D4-BDAF-00C04F60B9F0",
      "289AF617-1CC3-42A6-926C-E6A863F0E3BA", "35786D3C-B075-49B9-88DD-029876E11C01",
      "374DE290-123F-4565-9164-39C4925E457B", "374DE290-123F-4565-9164-39C4925E467B",
      "384EA5AE-ADE1-4E8A-8A9B-7BEA78FFF1E9", "4D36E965-E325-11CE-BFC1-08002BE10318",
      "4D36E967-E325-11CE-BFC1-08002BE10318", "4D36E96A-E325-11CE-BFC1-08002BE10301",
      "52F15C89-5A17-48E1-BBCD-46A3F89C7CC2", "645FF040-5081-101B-9F08-00AA002F954E",
      "871C5380-42A0-1069-A2EA-08002B30309D", "94D6DDCC-4A68-4175-A374-BD584A510B78",
      "C2B136E2-D50E-405C-8784-363C582BF43E", "C2B136E2-D50E-405C-8487-363C582BF43E",
      "D34A6CA6-62C2-4C34-8A7C-14709C1AD938", "D5CDD505-2E9C-101B-9397-08002B2CF9AE",
      "E7E4BC40-E76A-11CE-A9BB-00AA004AE837", "ED50FC29-B964-48A9-AFB3-15EBB9B97F36",
      "F2DDFC82-8F12-4CDD-B7DC-D4FE1425AA4D", "FDD39AD0-238F-46AF-ADB4-6C85480369C7",
  };
  for (const char* m : must) {
    guid g = parse(m);
    std::string out;
    EXPECT_TRUE(clsid_name(out, &g)) << m;
    EXPECT_EQ(out, "{CLSID_" + first[g] + "}");
  }

  // Repeated keys: the twelve listed ones, and each keeps its first text.
  const char* repeated[] = {
      "00000000-0000-0000-0000-000000000000", "F2DDFC82-8F12-4CDD-B7DC-D4FE1425AA4D",
      "D34A6CA6-62C2-4C34-8A7C-14709C1AD938", "E7E4BC40-E76A-11CE-A9BB-00AA004AE837",
      "00020D75-0000-0000-C000-000000000046", "00021401-0000-0000-C000-000000000046",
      "289AF617-1CC3-42A6-926C-E6A863F0E3BA", "94D6DDCC-4A68-4175-A374-BD584A510B78",
      "20D04FE0-3AEA-1069-A2D8-08002B30309D", "35786D3C-B075-49B9-88DD-029876E11C01",
      "ED50FC29-B964-48A9-AFB3-15EBB9B97F36", "22877A6D-37A1-461A-91B0-DBDA5AAEBC99"};
  std::map<guid, int, guid_less_fn> seen;
  int other_text = 0;
  for (size_t i = 0; i < count; ++i) {
    guid g = guid_from_parts(entries[i].id);
    if (seen[g]++ && first[g] != entries[i].name) ++other_text;
  }
  size_t repeated_keys = 0;
  for (auto& [g, n] : seen)
    if (n > 1) ++repeated_keys;
  EXPECT_EQ(repeated_keys, 12u);
  EXPECT_EQ(seen[parse("00020D75-0000-0000-C000-000000000046")], 3);
  EXPECT_EQ(other_text, 8);
  for (const char* r : repeated) EXPECT_GT(seen[parse(r)], 1) << r;
  guid g = parse("94D6DDCC-4A68-4175-A374-BD584A510B78");
  EXPECT_EQ(clsid_text(&g), "{CLSID_" + first[g] + "}");
}

// The table is built once per run: its failed first build is watched in a
// fresh run of this test alone, with the map build's failure beside it.
TEST(ClsidNameDeathTest, FailedBuildsLeaveNothingAndAreRetried) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const table_build_fault no_memory = [] { throw std::bad_alloc(); };
        guid g = parse("20D04FE0-3AEA-1069-A2D8-08002B30309D");
        clsid_map map;
        map[g] = "stale";
        if (clsid_name_table(map, no_memory) || !map.empty()) std::exit(1);
        if (clsid_table_ready(no_memory)) std::exit(2);
        std::string out = "stale";
        if (!clsid_name(out, &g) || out != "{CLSID_MyComputer}") std::exit(3);
        if (clsid_known_name(g) != "MyComputer") std::exit(4);
        // Built once: a later fault hook is never called.
        if (!clsid_table_ready(no_memory)) std::exit(5);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vk
