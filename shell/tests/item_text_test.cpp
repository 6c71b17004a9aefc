#include "shell/item_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "default_params.h"
#include "foundation/vk_unicode.h"
#include "shell/file_attributes.h"
#include "shell/guid_names.h"
#include "shell/idlist_text.h"
#include "shell/property_keys.h"
#include "shell/property_listing.h"

namespace vk {
namespace {

using strings = std::vector<std::string>;

const uint64_t k_jan1_noon = 133802064000000000ULL;  // 2025-01-01 12:00:00 UTC

guid make_guid(uint32_t d1) {
  return guid_from_parts({d1, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}});
}

property_value value(const std::string& text, uint32_t vartype, const std::string& name = "",
                     uint32_t flags = 0) {
  property_value v;
  v.text = text;
  v.vartype = vartype;
  v.name = name;
  v.table_flags = flags;
  v.key_known = 1;
  return v;
}

void add(shell_item_record& r, const std::string& key, const property_value& v) {
  r.properties.emplace(key, v);
}

struct item_out {
  bool ok;
  std::string text, line;
  strings details;
};
item_out text_of(shell_item_record& r, const cmd_params& s, bool keep_plain = false) {
  item_out o;
  o.ok = shell_item_text(r, o.text, o.line, o.details, s, vesk_test::test_shell_scratch(), true,
                         keep_plain);
  return o;
}

struct list_out {
  bool ok;
  std::string path, line;
  strings details;
  uint64_t modified, accessed, created;
};
list_out text_of(shell_item_list& items, const cmd_params& s, bool in_runs_too = true) {
  // Made a record at a time too, as a walk that hands its records on in
  // runs does: the same texts.
  shell_item_list copy = in_runs_too ? items : shell_item_list();
  list_out r{};
  if (in_runs_too) {
    idlist_text_builder text(r.path, r.line, r.details, r.modified, r.accessed, r.created, s,
                             vesk_test::test_shell_scratch());
    for (shell_item_record& item : copy) text.take(&item, 1);
    r.ok = text.finish();
  }
  list_out o;
  o.ok = idlist_text(o.path, o.line, o.details, o.modified, o.accessed, o.created, s,
                     vesk_test::test_shell_scratch(), items);
  if (in_runs_too) {
    EXPECT_EQ(std::tie(r.ok, r.path, r.line, r.details, r.modified, r.accessed, r.created),
              std::tie(o.ok, o.path, o.line, o.details, o.modified, o.accessed, o.created));
  }
  return o;
}

shell_item_record named(const std::string& long_name, strings names = {}) {
  shell_item_record r;
  r.long_name = long_name;
  r.names = std::move(names);
  return r;
}

TEST(IdlistText, SeparatorsEmptyItemsAndDistinctDetails) {
  cmd_params s;
  const struct {
    strings texts;
    std::string path;
    uint8_t last_type = 0;  // the last item's type byte
  } joins[] = {
      {{"a", "b", "c"}, "a\\b\\c"},
      {{"C:\\", "x"}, "C:\\x"},
      {{"\\\\x", "y\\\\\\z\\"}, "\\x\\y\\z"},
      // A network name keeps its two backslashes in place of the separator.
      {{"a\\", "\\\\\\server\\share"}, "a\\\\server\\share", 0xC3},
  };
  for (const auto& j : joins) {
    shell_item_list items;
    for (const auto& t : j.texts) items.push_back(named(t));
    items.back().item_type = j.last_type;
    list_out o = text_of(items, s);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.path, j.path);
  }

  shell_item_list empty_items(2);
  empty_items[0].date_texts = {"first date"};
  empty_items[1].modified = 5;
  empty_items[1].created = 6;
  list_out o = text_of(empty_items, s);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.path, "");
  EXPECT_EQ(o.details, strings{"first date"});
  EXPECT_EQ(o.modified, 5u);
  EXPECT_EQ(o.created, 6u);

  shell_item_list none;
  EXPECT_FALSE(text_of(none, s).ok);

  shell_item_list twice{named("a", {"n1", "n2"}), named("b", {"n2", "n3", "n1"})};
  o = text_of(twice, s);
  EXPECT_EQ(o.details, (strings{"n1", "n2", "n3"}));
  EXPECT_EQ(o.line, "[1] n1; [2] n2; [3] n3");
}

// Items that show only names take a shorter road through the list walk;
// their texts, the path and the details must be those of the full item walk.
TEST(IdlistText, NameItemsMatchTheItemWalk) {
  cmd_params s;
  std::mt19937 rng(7);
  const std::string alphabet = "ab\\c";
  auto text = [&](size_t max) {
    std::string t(rng() % (max + 1), ' ');
    for (char& c : t) c = alphabet[rng() % alphabet.size()];
    return t;
  };
  size_t most = 0;
  for (int round = 0; round < 400; ++round) {
    // Now and then a long list, for ten details and more.
    shell_item_list items(1 + rng() % (round % 8 == 0 ? 16 : 5));
    for (shell_item_record& r : items) {
      const unsigned kind = rng() % 6;
      r.long_name = kind == 5 ? "" : text(kind == 0 ? 3 : kind == 1 ? 9 : 24);
      if (r.long_name.empty() && rng() % 2) r.guid_names = {text(6)};
      for (unsigned n = rng() % 3; n > 0; --n)
        r.names.push_back(rng() % 2 ? r.long_name.substr(0, rng() % 4) : text(4));
      if (rng() % 4 == 0) r.localized_name = text(5);
      if (rng() % 4 == 0) r.extra_name = r.long_name;
      if (rng() % 8 == 0) r.date_texts = {text(3)};
    }
    // The oracle: each item through the full walk, the path joined and
    // squeezed, the details kept once in first-seen order.
    std::string joined;
    strings texts, details;
    for (shell_item_record r : items) {
      item_out io = text_of(r, s);
      texts.push_back(io.text);
      if (!io.text.empty()) joined += io.text + "\\";
      for (const std::string& d : io.details)
        if (std::find(details.begin(), details.end(), d) == details.end()) details.push_back(d);
    }
    std::string path;
    for (char c : joined)
      if (c != '\\' || path.empty() || path.back() != '\\') path += c;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    const list_out o = text_of(items, s);
    EXPECT_EQ(o.path, path) << round;
    EXPECT_EQ(o.details, details) << round;
    std::string line;
    for (size_t i = 0; i < details.size(); ++i)
      line += (i ? "; [" : "[") + std::to_string(i + 1) + "] " + details[i];
    EXPECT_EQ(o.line, line) << round;
    for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].long_name, texts[i]) << round;
    most = std::max(most, details.size());
  }
  EXPECT_GE(most, 10u);
}

TEST(IdlistText, NestingStopsAtGuardDepth) {
  cmd_params s;
  shell_item_record leaf = named("L2000");
  for (int i = 1999; i >= 0; --i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'L');
    shell_item_record parent = named(name);
    parent.children.push_back(std::move(leaf));
    leaf = std::move(parent);
  }
  shell_item_list items{std::move(leaf)};
  list_out o = text_of(items, s);
  EXPECT_EQ(o.path, "L0");
  // Each level adds the embedded path below it, up to the depth bound.
  EXPECT_EQ(o.details.front(), "Embedded Path : L1");
  EXPECT_GE(o.details.size(), 30u);
  EXPECT_LE(o.details.size(), 32u);

  // Within the depth an embedded list names its holder and becomes a detail.
  shell_item_record holder;
  holder.embedded_lists.push_back({named("dir"), named("file.txt")});
  holder.embedded_lists.back().back().modified = k_jan1_noon;
  item_out io = text_of(holder, s);
  EXPECT_EQ(io.text, "file.txt");
  EXPECT_EQ(io.details,
            (strings{"Embedded Path : dir\\file.txt", "Modified : 2025-01-01 12:00:00.000 [UTC]"}));
}

TEST(ShellItemText, NameChoice) {
  cmd_params s;
  const guid g = make_guid(0xabcdef01);
  shell_item_record guid_only;
  guid_only.guids.push_back(g);
  EXPECT_EQ(text_of(guid_only, s).text, "CLSID_{" + guid_to_string(g) + "}");

  property_value custom = value("v", 31, "P");
  custom.string_named = 1;
  shell_item_record with_long = named("L");
  add(with_long, "k", custom);
  EXPECT_EQ(text_of(with_long, s).text, "L");
  shell_item_record only_custom;
  add(only_custom, "k", custom);
  item_out o = text_of(only_custom, s);
  EXPECT_EQ(o.text, "CUSTOM_PROP_P");
  EXPECT_EQ(o.details, strings{"P : v"});

  // Primary candidates: the longest key text wins, on a tie the first key.
  const struct {
    std::string k1, t1, k2, t2, expect;
  } primaries[] = {{"abc", "short", "abcdef", "long", "long"},
                   {"abd", "second", "abc", "first", "first"}};
  for (const auto& p : primaries) {
    shell_item_record r;
    property_value v1 = value(p.t1, 31, "", propflag_primary_name);
    property_value v2 = value(p.t2, 31, "", propflag_primary_name);
    v1.table_bit0 = v2.table_bit0 = 1;
    add(r, p.k1, v1);
    add(r, p.k2, v2);
    EXPECT_EQ(text_of(r, s).text, p.expect);
    EXPECT_EQ(r.long_name, p.expect);
    EXPECT_EQ(r.properties.size(), 1u);
  }

  // A parsing-name candidate becomes the name and takes overlapping values along.
  shell_item_record parsing;
  property_value pn = value("C:\\Dir\\File", 31, "ParsingName", propflag_parsing_name);
  pn.table_bit1 = 1;
  add(parsing, "c:\\dir\\file", pn);
  add(parsing, "file", value("File", 31, "Name", 1));
  add(parsing, "other", value("Other", 31, "Note", 1));
  o = text_of(parsing, s);
  EXPECT_EQ(o.text, "C:\\Dir\\File");
  EXPECT_EQ(o.details, strings{"Note : Other"});
  // Values marked skip_copy leave the record before the details are taken.
  shell_item_record marked = named("m");
  property_value skipped = value("s", 31, "S", 1);
  skipped.skip_copy = 1;
  add(marked, "k1", skipped);
  add(marked, "k2", value("t", 31, "T", 1));
  o = text_of(marked, s);
  EXPECT_EQ(marked.properties.size(), 1u);
  EXPECT_EQ(o.details, strings{"T : t"});
}

TEST(ShellItemText, ValueDetails) {
  cmd_params s;
  shell_item_record ids;
  add(ids, "\\\\srv\\share", value("\\\\srv\\share", 31));
  add(ids, "abc", value("abc", 31));
  add(ids, "provider", value("Provider\\Microsoft.X", 30));
  add(ids, "num", value("", 19));
  EXPECT_EQ(text_of(ids, s).details,
            (strings{"ID : \\\\srv\\share", "ID : Provider\\Microsoft.X"}));
  EXPECT_EQ(text_of(ids, s, true).details,
            (strings{"ID : \\\\srv\\share", "abc", "ID : Provider\\Microsoft.X"}));

  shell_item_record dates = named("x");
  property_value d = value("", 7, "", 0x10);
  d.number = std::bit_cast<uint64_t>(45658.5);  // 2025-01-01 12:00
  add(dates, "d", d);
  item_out o = text_of(dates, s);
  ASSERT_EQ(o.details.size(), 1u);
  EXPECT_EQ(o.details[0], " : 2025-01-01 12:00:00.000 [local]");

  // Record times from flagged FILETIMEs: the first flagged slot decides.
  shell_item_record times = named("x");
  property_value ft = value("", 64, "Written", propflag_fills_modified);
  ft.number = k_jan1_noon;
  add(times, "a", ft);
  o = text_of(times, s);
  EXPECT_EQ(times.modified, k_jan1_noon);
  EXPECT_EQ(times.modified_date(), "2025-01-01");
  EXPECT_EQ(o.details, strings{"Written : 2025-01-01 12:00:00.000 [UTC]"});
  shell_item_record set_already = named("x");
  set_already.modified = 1;
  ft.table_flags = propflag_fills_modified | propflag_fills_accessed;
  add(set_already, "a", ft);
  text_of(set_already, s);
  EXPECT_EQ(set_already.modified, 1u);
  EXPECT_EQ(set_already.accessed, 0u);

  const struct {
    uint32_t vt;
    std::string name;
    uint32_t flags;
    uint64_t number;
    uint8_t hex;
    std::string detail;  // "" = none
  } numbers[] = {
      {21, "Size", 0, 1024, 1, "Size : 0x0000000000000400"},
      {21, "Size", 0, 1024, 0, "Size : 1024"},
      {21, "Other", 0, 1024, 0, ""},
      {21, "", propflag_unsigned64, 7, 0, "7"},
      {19, "Any", propflag_sfgao, 0x3, 1, "Flags : can_copy; can_move"},
      {22, "Attributes", 0, 0x20, 1, "Attributes : 0x00000020"},
      {23, "LastTime", 0, 9, 0, "LastTime : 9"},
      {19, "Code", propflag_value_code, 2, 0, "Code : " + value_code_label(2)},
      {19, "Code", propflag_value_code, 5, 0, ""},
      {20, "Size", propflag_unsigned64, 5, 0, ""},
  };
  for (const auto& n : numbers) {
    cmd_params hs;
    hs.m_hex_numbers = n.hex;
    shell_item_record r = named("x");
    property_value v = value("", n.vt, n.name, n.flags);
    v.number = n.number;
    add(r, "k", v);
    strings expect;
    if (!n.detail.empty()) expect.push_back(n.detail);
    EXPECT_EQ(text_of(r, hs).details, expect) << n.name << " " << n.vt;
  }

  // Names, GUID names and the extra names: each once, unless the text holds it.
  shell_item_record lists;
  lists.guid_names = {"{CLSID_A}", "{CLSID_B}", "A}"};
  lists.names = {"n"};
  lists.localized_name = "loc";
  lists.extra_name = "CLSID";
  lists.date_texts = {"dt", "dt"};
  add(lists, "n", value("n", 31, "Title", 1));
  o = text_of(lists, s);
  EXPECT_EQ(o.text, "{CLSID_A}");
  EXPECT_EQ(o.details, (strings{"Title : n", "{CLSID_B}", "loc", "dt", "dt"}));
  EXPECT_EQ(o.line, "[1] Title : n; [2] {CLSID_B}; [3] loc; [4] dt; [5] dt");
}

TEST(PropertyTexts, CollectedKeysAndValues) {
  cmd_params s;
  const guid f = make_guid(0x0badf00d);
  const std::string ft = guid_to_string(f);
  shell_item_record r;
  auto put = [&](const std::string& key, uint32_t vt, uint64_t offset, uint32_t pid,
                 const std::string& text) -> property_value& {
    property_value v = value(text, vt);
    v.key.fmtid = f;
    v.key.pid = pid;
    v.offset = offset;
    return r.properties.emplace(key, v)->second;
  };
  put("e", 31, 5, 10, "five");
  put("a", 8, 1, 0x1234, "one");
  put("b", 30, 3, 10, "three");
  put("c", 19, 2, 10, "dword dropped");
  put("d", 31, 4, 10, "hidden").table_bit3 = 1;
  put("z", 31, 0, 10, "no fmtid").key.fmtid = guid();
  property_value& bad_time = put("f", 64, 6, 11, "");
  bad_time.is_filetime = 1;
  bad_time.number = 0x1234;
  property_value& good_time = put("g", 64, 7, 11, "");
  good_time.is_filetime = 1;
  good_time.number = k_jan1_noon;
  property_value& date = put("h", 7, 8, 11, "");
  date.is_number = 1;
  date.number = 0x7ff8000000000001ULL;  // NaN: no date
  put("p", 31, 9, 10, "primary").table_bit0 = 1;
  put("q", 31, 10, 10, "parsing").table_bit1 = 1;

  strings parsing, primary, keys, values;
  collect_property_texts(r, parsing, primary, keys, values, s, vesk_test::test_shell_scratch(),
                         false);
  EXPECT_EQ(keys, (strings{ft + "/0x1234", ft + "/0x0a", ft + "/0x0a", ft + "/0x0b", ft + "/0x0b",
                           ft + "/0x0b", ft + "/0x0a", ft + "/0x0a"}));
  EXPECT_EQ(values, (strings{"one", "three", "five", "0x1234", "2025-01-01 12:00:00.000 [UTC]",
                             "0x7ff8000000000001", "primary", "parsing"}));
  EXPECT_TRUE(parsing.empty() && primary.empty());

  // Equal positions keep the key order.
  shell_item_record same;
  for (const char* k : {"m", "c", "x"}) {
    property_value v = value(k, 31);
    v.key.fmtid = f;
    v.offset = 3;
    same.properties.emplace(k, v);
  }
  strings same_keys, same_values;
  collect_property_texts(same, parsing, primary, same_keys, same_values, s,
                         vesk_test::test_shell_scratch(), false);
  EXPECT_EQ(same_values, (strings{"c", "m", "x"}));

  // Values held by several records come as from the records merged into
  // one: equal positions by key, then by record.
  shell_item_record parts[2], merged;
  const std::pair<const char*, uint64_t> filed[2][3] = {{{"m", 3}, {"c", 3}, {"z", 9}},
                                                        {{"c", 3}, {"a", 3}, {"z", 2}}};
  for (int part = 0; part < 2; ++part)
    for (const auto& [k, offset] : filed[part]) {
      property_value v = value((std::string(k) + std::to_string(part)).c_str(), 31);
      v.key.fmtid = f;
      v.offset = offset;
      parts[part].properties.emplace(k, v);
      merged.properties.emplace(k, v);
    }
  strings merged_keys, merged_values, split_keys, split_values;
  collect_property_texts(merged, parsing, primary, merged_keys, merged_values, s,
                         vesk_test::test_shell_scratch(), false);
  collect_merged_property_texts(parts, 2, parsing, primary, split_keys, split_values, s,
                                vesk_test::test_shell_scratch(), false);
  EXPECT_EQ(split_values, (strings{"z1", "a1", "c0", "c1", "m0", "z0"}));
  EXPECT_EQ(split_values, merged_values);
  EXPECT_EQ(split_keys, merged_keys);

  strings p2, q2, k2, v2;
  shell_item_list list{r, r};
  collect_list_property_texts(p2, q2, k2, v2, s, vesk_test::test_shell_scratch(), true, list);
  EXPECT_EQ(q2, (strings{"primary", "primary"}));
  EXPECT_EQ(p2, (strings{"parsing", "parsing"}));
  EXPECT_EQ(k2.size(), 12u);
  EXPECT_EQ(k2.size(), v2.size());

  // The map twin: equal key and value texts share one entry.
  std::map<std::string, property_value> map;
  strings prim, pars;
  shell_item_list one{r};
  collect_list_property_text_maps(prim, pars, map, s, one);
  collect_property_text_map(one[0], prim, pars, map, s);
  const std::string five = clsid_text(&f) + "/0x0a_five";
  ASSERT_EQ(map.count(five), 1u);
  EXPECT_EQ(map[five].offset_list, std::vector<uint64_t>{5});
  EXPECT_EQ(map.count("CLSID_unk/0x0a_no fmtid"), 1u);
  EXPECT_EQ(prim, strings{clsid_text(&f) + "/0x0a_primary"});

  std::ostringstream os;
  write_property_texts(os, one[0].properties, ", ", true);
  EXPECT_NE(os.str().find("five[" + clsid_text(&f) + "/0x0a : five], "), std::string::npos);
}

std::vector<uint8_t> condition_leaf(std::u16string_view value_text, uint32_t guid_d1) {
  vesk_test::byte_builder b;
  b.fill(32).u16(4).utf16(u"item").pad_to(82);
  if (guid_d1) {
    guid g = make_guid(guid_d1);
    b.bytes(std::vector<uint8_t>(g.m_bytes, g.m_bytes + 16));
  }
  b.pad_to(118).u16(static_cast<uint16_t>(value_text.size())).utf16(value_text);
  b.pad_to(122);
  return b.take();
}

TEST(PropertyTexts, ConditionLeaf) {
  parse_ctx ctx;
  shell_item_record r;
  auto leaf = condition_leaf(u"word", 0x12345678);
  EXPECT_TRUE(condition_leaf_text(ctx, r, leaf.data(), static_cast<uint32_t>(leaf.size())));
  guid g = make_guid(0x12345678);
  EXPECT_EQ(r.names, strings{"item [word] : " + clsid_text(&g)});
  EXPECT_EQ(condition_leaf_length(leaf.data(), static_cast<int64_t>(leaf.size())), 128);

  auto no_guid = condition_leaf(u"w", 0);
  EXPECT_TRUE(condition_leaf_text(ctx, r, no_guid.data(), 122));
  EXPECT_EQ(r.names.back(), "item [w] : ");

  auto empty_value = condition_leaf(u"", 1);
  EXPECT_FALSE(condition_leaf_text(ctx, r, empty_value.data(), 122));
  EXPECT_FALSE(condition_leaf_text(ctx, r, leaf.data(), 127));  // value runs past the end
  EXPECT_FALSE(condition_leaf_text(ctx, r, nullptr, 200));
  leaf[36] = 'x';
  EXPECT_FALSE(is_condition_leaf_record(leaf.data(), static_cast<int64_t>(leaf.size())));
  EXPECT_EQ(r.names.size(), 2u);
}

TEST(AttributeTexts, SfgaoAndFileAttributes) {
  const std::pair<uint32_t, std::string> sfgao[] = {
      {0x3, "can_copy; can_move"},
      {0xE0000000, "folder; system_file; has_subdirs"},
      {0x10004, "can_link; link"},
      {0x8, ""},
      {0, ""}};
  for (const auto& [mask, text] : sfgao) EXPECT_EQ(sfgao_text(mask), text) << mask;

  const struct {
    uint32_t mask;
    std::string sep, text;
  } attrs[] = {
      {0x21, "; ", "FILE_ATTRIBUTE_READONLY; FILE_ATTRIBUTE_ARCHIVE"},
      {0x80, "; ", "FILE_ATTRIBUTE_NORMAL"},
      {0x48, "; ", "Reserved1; Reserved2"},
      // Bits no name covers: their value after the names.
      {0x20000, "; ", "0x00020000"},
      {0x100020, "; ", "FILE_ATTRIBUTE_ARCHIVE; 0x00100000"},
      {0, "; ", ""},
      {0x10010, " | ", "FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_VIRTUAL"},
  };
  for (const auto& a : attrs) EXPECT_EQ(file_attributes_text(a.mask, a.sep), a.text) << a.mask;
  // The in-place writer agrees and stays within its room, every name at once
  // included.
  for (const auto& a : attrs)
    for (const uint32_t mask : {a.mask, ~0u}) {
      std::vector<char> room(file_attributes_text_room(a.sep.size()));
      char* end = put_file_attributes_text(room.data(), mask, a.sep);
      EXPECT_EQ(std::string(room.data(), end), file_attributes_text(mask, a.sep)) << mask;
    }
}

std::string pad(std::string s, size_t width) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

TEST(PropertyListing, LinesAndOrder) {
  const std::string p = k_listing_number_prefix;
  const guid fmtid = guid_from_parts(
      {0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}});
  property_value v(&fmtid, 14);
  v.offset = 0x1A2;
  v.key_known = 1;
  v.is_filetime = 1;
  v.vartype = 64;
  v.number = k_jan1_noon;
  auto line = [](const property_value& pv) {
    std::ostringstream os;
    print_property_value(pv, os, " : ", false, true);
    return os.str();
  };
  EXPECT_EQ(line(v), p + "0001a2 : b725f130-47ef-101a-a5f1-02608c9eebac : " + p +
                         "0e : " + pad("-", 15) + " : 2025-01-01 12:00:00.000");
  v.table_bit3 = 1;  // hidden, but a time is still shown
  EXPECT_TRUE(line(v).ends_with(" : 2025-01-01 12:00:00.000"));
  // The key's date mark does not make a text or a number a time.
  property_value date_key_text(&fmtid, 14);
  date_key_text.key_known = date_key_text.is_filetime = 1;
  date_key_text.vartype = 31;
  date_key_text.text = "not a date";
  EXPECT_TRUE(line(date_key_text).ends_with(" : not a date")) << line(date_key_text);
  date_key_text.vartype = 21;
  date_key_text.is_number = 1;
  date_key_text.number = 0x2a;
  EXPECT_TRUE(line(date_key_text).ends_with(" : " + p + "0000002a")) << line(date_key_text);

  property_value t(&fmtid, 0x123);
  t.key_known = 1;
  t.text = "txt";
  t.name2 = "ab_cd_ef";
  t.table_bit0 = t.table_bit1 = 1;
  std::string l = line(t);
  EXPECT_NE(l.find(" : " + p + "123 : " + pad("cd_ef", 15) + " : "), std::string::npos) << l;
  EXPECT_TRUE(l.ends_with(" : txt [" + std::string(k_listing_primary_note) + "; " +
                          k_listing_parsing_note + " ]"))
      << l;
  t.table_bit1 = 0;
  EXPECT_TRUE(line(t).ends_with("txt [" + std::string(k_listing_primary_note) + "]"));
  t.is_number = 1;
  t.number = 0x2a;
  EXPECT_TRUE(line(t).ends_with(" : " + p + "0000002a"));

  property_value unknown;
  unknown.text = "raw";
  EXPECT_EQ(line(unknown), p + "000000 : " + pad(k_no_key_word, 36) + " " +
                               k_listing_no_key_second + " : " + p + "00 : " + pad("-", 15) +
                               " : raw");

  // The listing: file-position order, equal positions in collection order.
  property_value_map map;
  const std::pair<const char*, uint64_t> entries[] = {{"a", 9}, {"b", 3}, {"c", 9}, {"d", 1}};
  for (const auto& [key, offset] : entries) {
    property_value e;
    e.text = key;
    e.offset = offset;
    map.emplace(key, e);
  }
  std::ostringstream os;
  parse_ctx ctx;
  ctx.debug_stream = &os;
  print_property_values(ctx, map, true);
  EXPECT_EQ(os.str(), "");  // debug output off
  ctx.debug = 1;
  print_property_values(ctx, map, true);
  std::string out = os.str();
  EXPECT_LT(out.find(" : d\n"), out.find(" : b\n"));
  EXPECT_LT(out.find(" : b\n"), out.find(" : a\n"));
  EXPECT_LT(out.find(" : a\n"), out.find(" : c\n"));
}

TEST(ItemUtilities, NamesPruningAndOverlaps) {
  shell_item_record r;
  property_value parse = value("parsed", 31);
  parse.table_bit1 = 1;
  add(r, "a", value("first", 31));
  add(r, "b", parse);
  add(r, "c", value("third", 31));
  std::string name;
  strings names;
  item_names(r, name, names);
  EXPECT_EQ(name, "parsed");
  EXPECT_EQ(names, (strings{"first", "third"}));
  r.guid_names = {"g"};
  r.primary_name = "P";
  item_names(r, name, names);
  EXPECT_EQ(name, "P");
  EXPECT_EQ(names, strings{"g"});

  property_value_map values;
  property_value known = value("k", 31);
  property_value unknown = value("u", 31);
  unknown.key_known = 0;
  values.emplace("drop", known);
  values.emplace("same", known);
  values.emplace("same", unknown);
  values.emplace("twin", unknown);
  values.emplace("twin", known);
  strings prune{"DROP"};
  EXPECT_TRUE(prune_property_names(values, prune));
  EXPECT_EQ(prune, strings{"drop"});
  EXPECT_EQ(values.count("drop"), 0u);
  property_value_map kept;
  copy_property_map(kept, values);
  ASSERT_EQ(kept.size(), 2u);
  for (const auto& e : kept) EXPECT_EQ(e.second.key_known, 1u) << e.first;
  property_value_map none;
  EXPECT_FALSE(prune_property_names(none, prune));

  property_value_map overlap;
  for (const char* k : {"notepad", "note", "notepad.exe", "c:\\notepad", "other", "pad"})
    overlap.emplace(k, known);
  strings n{"NotePad"};
  EXPECT_TRUE(remove_overlapping_names(overlap, n));
  EXPECT_EQ(n, strings{"notepad"});
  ASSERT_EQ(overlap.size(), 1u);
  EXPECT_EQ(overlap.begin()->first, "other");
  strings empty;
  EXPECT_FALSE(remove_overlapping_names(overlap, empty));
}

// Once the working buffers have grown, a walk allocates its outputs only:
// the path, the detail list with its long texts and the numbered line, and
// nothing at all into outputs kept from the walk before whose long texts
// went back as a cleared record's do; the property texts their two lists
// and each key.
TEST(IdlistText, RepeatedWalksAllocateOnlyTheirOutputs) {
  cmd_params s;
  shell_item_record users = named("Users", {"a detail longer than sixteen", "n2"});
  property_value written = value("", 64, "Written", 0);
  written.number = k_jan1_noon;
  add(users, "w", written);
  const shell_item_list model{named("C:\\"), users, named("file.txt", {"n2"})};
  list_out kept;
  for (int round = 0; round < 3; ++round) {
    shell_item_list items = model, again = model;
    vesk_test::heap::scope counted;
    const list_out o = text_of(items, s, false);
    const int64_t fresh = counted.allocations();
    for (std::string& d : kept.details) vesk_test::test_shell_scratch().rooms.give(d);
    idlist_text(kept.path, kept.line, kept.details, kept.modified, kept.accessed, kept.created, s,
                vesk_test::test_shell_scratch(), again);
    const int64_t reused = counted.allocations() - fresh;
    if (round < 2) continue;  // the first rounds grow the buffers and the rooms' list
    EXPECT_EQ(o.path, "C:\\Users\\file.txt");
    EXPECT_EQ(o.details.size(), 3u);
    EXPECT_EQ(kept.details, o.details);
    EXPECT_LE(fresh, 5);
    EXPECT_EQ(reused, 0);
  }

  const guid f = make_guid(7);
  shell_item_record r;
  for (uint32_t pid = 2; pid < 6; ++pid) {
    property_value v = value("text", 31);
    v.key.fmtid = f;
    v.key.pid = pid;
    r.properties.emplace(std::to_string(pid), v);
  }
  for (int round = 0; round < 2; ++round) {
    strings parsing, primary, keys, values;
    vesk_test::heap::scope counted;
    collect_property_texts(r, parsing, primary, keys, values, s, vesk_test::test_shell_scratch(),
                           false);
    const int64_t allocations = counted.allocations();
    ASSERT_EQ(keys.size(), 4u);
    if (round == 1) {
      EXPECT_LE(allocations, 6);
    }
  }
}

// Sizes at which the repeated-restart erase and the pairwise separator
// replacement would take minutes.
TEST(ItemUtilities, LargeInputsStayLinear) {
  property_value_map values;
  property_value v = value("x", 31);
  for (int i = 0; i < 20000; ++i) values.emplace("name" + std::to_string(i), v);
  values.emplace("unrelated", v);
  strings n{"name"};
  remove_overlapping_names(values, n);
  EXPECT_EQ(values.size(), 1u);

  cmd_params s;
  shell_item_list items{named(std::string(100000, '\\') + "x" + std::string(100000, '\\'))};
  list_out o = text_of(items, s);
  EXPECT_EQ(o.path, "\\x");
  // Many details, each met twice: each kept once, in order; the buffers
  // grown for them go back to the heap afterwards.
  shell_item_record many = named("x");
  for (int i = 0; i < 20000; ++i)
    for (int twice = 0; twice < 2; ++twice)
      many.names.push_back(std::to_string(i) + std::string(400, 'n'));
  shell_item_list many_items{std::move(many)};
  const int64_t live_before = vesk_test::heap::state().live_bytes;
  {
    list_out m = text_of(many_items, s);
    ASSERT_EQ(m.details.size(), 20000u);
    EXPECT_EQ(m.details.back(), "19999" + std::string(400, 'n'));
  }
  EXPECT_LT(vesk_test::heap::state().live_bytes - live_before, 4 << 20);
}

}  // namespace
}  // namespace vk
