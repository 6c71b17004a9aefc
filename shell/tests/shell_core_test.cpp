#include <gtest/gtest.h>

#include <sstream>

#include "byte_builder.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"
#include "shell/shell_item.h"

namespace vk {
namespace {

using vesk_test::byte_builder;

const uint8_t k_my_computer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                   0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

TEST(ShellItemRecord, ClearedRecordAndMerge) {
  shell_item_record r;
  r.long_name = "x";
  r.flags = 5;
  r.clear();
  EXPECT_EQ(r.is_directory, 1);
  EXPECT_EQ(r.not_parsed, 1);
  EXPECT_EQ(r.item_type, 0xFFFF);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_TRUE(r.long_name.empty());

  // The copying and the moving merge give the same record; a primary name
  // that leads the names is one of them there too.
  for (const auto& [moved, leads] : {std::pair{false, false}, std::pair{true, false},
                                     std::pair{false, true}, std::pair{true, true}}) {
    shell_item_record dst, src;
    dst.primary_name = "b";
    dst.long_name = "L";
    dst.created = 7;
    dst.size = 10;
    dst.flags = 0x2;
    src.primary_name = "a";
    src.long_name = "M";
    src.localized_name = "loc";
    src.extra_name = "ex";
    src.names = {"", "n1"};
    src.date_texts = {"", "d"};
    src.created = 9;
    src.modified = 11;
    src.size = 20;
    src.flags = 0x10;
    src.mft_entry = 3;
    src.mft_sequence = 4;
    src.children.resize(1);
    src.primary_leads_names = leads;
    if (moved)
      merge_shell_item(dst, std::move(src));
    else
      merge_shell_item(dst, src);
    EXPECT_EQ(dst.primary_name, "b");
    EXPECT_EQ(dst.long_name, "L");
    EXPECT_EQ(dst.localized_name, "loc");
    EXPECT_EQ(dst.extra_name, "ex");
    const std::vector<std::string> names = leads ? std::vector<std::string>{"a", "n1", "a", "M"}
                                                 : std::vector<std::string>{"n1", "a", "M"};
    EXPECT_EQ(dst.names, names);
    EXPECT_EQ(dst.primary_leads_names, 0);
    EXPECT_EQ(dst.date_texts, (std::vector<std::string>{"", "d"}));
    EXPECT_EQ(dst.created, 7u);
    EXPECT_EQ(dst.modified, 11u);
    EXPECT_EQ(dst.size, 20u);
    EXPECT_EQ(dst.flags, 0x12u);
    EXPECT_EQ(dst.mft_entry, 3u);
    EXPECT_EQ(dst.mft_sequence, 4);
    EXPECT_EQ(dst.children.size(), 1u);
    shell_item_record zero_size;
    if (moved)
      merge_shell_item(dst, std::move(zero_size));
    else
      merge_shell_item(dst, zero_size);
    EXPECT_EQ(dst.size, 20u);
  }

  // Equal property keys keep their insertion order, through the merge too.
  shell_item_record p1, p2;
  property_value v1, v2, v3;
  v1.text = "first";
  v2.text = "second";
  v3.text = "third";
  p1.properties.emplace("k", v1);
  p1.properties.emplace("k", v2);
  p2.properties.emplace("k", v3);
  shell_item_record p3 = p1, p4 = p2;
  merge_shell_item(p1, p2);
  merge_shell_item(p3, std::move(p4));
  for (const shell_item_record* merged : {&p1, &p3}) {
    std::vector<std::string> order;
    for (auto& [k, v] : merged->properties) order.push_back(v.text);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
  }
  property_value_map copy;
  p1.properties.begin()->second.skip_copy = 1;
  copy_property_map(copy, p1.properties);
  EXPECT_EQ(copy.size(), 2u);
}

TEST(ShellItemRecord, Guids) {
  shell_item_record r;
  uint8_t zero[16] = {};
  add_item_guid(r, zero);
  EXPECT_TRUE(r.guids.empty());
  add_item_guid(r, k_my_computer);
  add_item_guid(r, k_my_computer);
  ASSERT_EQ(r.guids.size(), 2u);
  EXPECT_EQ(r.guid_names, (std::vector<std::string>{"{CLSID_MyComputer}", "{CLSID_MyComputer}"}));
  uint8_t unknown[16] = {1, 2, 3};
  add_item_guid(r, unknown);
  EXPECT_EQ(r.guids.size(), 3u);
  EXPECT_EQ(r.guid_names.size(), 2u);
  // Known GUIDs in turn, each named by its own text however the runs go.
  const uint8_t recycle_bin[16] = {0x40, 0xF0, 0x5F, 0x64, 0x81, 0x50, 0x1B, 0x10,
                                   0x9F, 0x08, 0x00, 0xAA, 0x00, 0x2F, 0x95, 0x4E};
  shell_item_record turns;
  for (const uint8_t* g : {recycle_bin, k_my_computer, k_my_computer, recycle_bin,
                           static_cast<const uint8_t*>(unknown), recycle_bin})
    add_item_guid(turns, g);
  EXPECT_EQ(turns.guid_names, (std::vector<std::string>{"{CLSID_RecycleBin}", "{CLSID_MyComputer}",
                                                        "{CLSID_MyComputer}", "{CLSID_RecycleBin}",
                                                        "{CLSID_RecycleBin}"}));

  parse_ctx ctx;
  std::vector<uint8_t> two(32, 0x11);
  struct {
    int64_t available;
    int32_t result;
    size_t guids;
  } cases[] = {{31, 16, 1}, {32, 32, 2}, {15, 0, 0}, {0, 0, 0}, {-1, 0, 0}, {-100, 0, 0}};
  for (auto& c : cases) {
    shell_item_record pair;
    EXPECT_EQ(add_item_guid_pair(ctx, pair, two.data(), c.available), c.result) << c.available;
    EXPECT_EQ(pair.guids.size(), c.guids);
  }
  shell_item_record none;
  EXPECT_EQ(add_item_guid_pair(ctx, none, nullptr, 64), 0);
}

TEST(ParseContext, DebugSwitchAndConsumed) {
  std::ostringstream os;
  struct {
    uint8_t debug;
    std::ostream* stream;
    bool enabled;
  } cases[] = {{0, nullptr, false}, {0, &os, false}, {1, nullptr, false}, {1, &os, true}};
  for (auto& c : cases) {
    parse_ctx ctx;
    ctx.debug = c.debug;
    ctx.debug_stream = c.stream;
    EXPECT_EQ(debug_output_enabled(ctx), c.enabled);
    uint8_t b[3] = {1, 2, 3};
    hexdump_limited(ctx, b, 3, 0);
  }
  EXPECT_EQ(os.str().substr(0, 21), "0000 0000:  01 02 03 ");
  parse_ctx ctx;
  ctx.offset = 99;
  ctx.consumed = 50;
  uint8_t item[3] = {3, 0, 0x31};
  reset_consumed(item, ctx);
  EXPECT_EQ(ctx.consumed, 0u);
  EXPECT_EQ(ctx.offset, 99u);
  skip_item_header(item, ctx);
  EXPECT_EQ(ctx.consumed, 3u);
  EXPECT_EQ(item_type_name(0x31), "unk");
}

TEST(StructureTests, SizesAndSignatures) {
  auto item = [](std::initializer_list<uint8_t> head, size_t size) {
    byte_builder b;
    b.bytes(head);
    b.pad_to(size);
    return b.take();
  };
  struct {
    bool (*test)(const uint8_t*, int64_t);
    std::vector<uint8_t> bytes;
    int64_t available;
    bool pass;
  } cases[] = {
      {is_type_61_67_item, item({10, 0, 0x61, 0x80}, 10), 10, true},
      {is_type_61_67_item, item({10, 0, 0x67, 0x45}, 10), 10, true},
      {is_type_61_67_item, item({10, 0, 0x61, 0x00}, 10), 10, false},
      {is_type_61_67_item, item({9, 0, 0x61, 0x80}, 10), 10, false},
      {is_type_61_67_item, item({10, 0, 0x61, 0x80}, 10), 9, false},
      {is_type_2c_item, item({4, 0, 0x2C}, 42), 42, true},
      {is_type_2c_item, item({4, 0, 0x2C}, 42), 41, false},
      {is_type_2e_item, item({20, 0, 0x2E}, 20), 20, true},
      {is_type_2e_item, item({21, 0, 0x2E}, 20), 20, false},
      {is_type_73_77_item, item({20, 0, 0x77}, 20), 20, true},
      {is_type_61_item, item({47, 0, 0x61}, 47), 47, true},
      {is_type_61_item, item({46, 0, 0x61}, 47), 47, false},
      {is_property_list_header, item({13, 0, 0, 0}, 24), 24, false},
      {is_cfsf_header, item({21, 0, 0x43, 0x46, 0x53, 0x46, 21, 0}, 53), 53, true},
      {is_cfsf_header, item({21, 0, 0x43, 0x46, 0x53, 0x46, 21, 0}, 53), 52, false},
      {is_cfsf_header, item({21, 0, 0x43, 0x46, 0x53, 0x46, 22, 0}, 53), 53, false},
      {is_sized_record_with_offsets, item({14, 0, 0, 0, 14, 0, 0, 0, 0, 0, 0, 0, 14, 0}, 14), 14,
       true},
      {is_sized_record_with_offsets, item({14, 0, 0, 0, 14, 0, 0, 0, 0, 0, 0, 0, 15, 0}, 14), 14,
       false},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].test(cases[i].bytes.data(), cases[i].available), cases[i].pass) << i;
  std::vector<uint8_t> list = item({13, 0, 0, 0}, 24);
  list[20] = 1;
  EXPECT_TRUE(is_property_list_header(list.data(), 24));
  EXPECT_FALSE(is_type_2e_item(nullptr, 100));

  byte_builder block;
  block.u16(19).u16(0).u16(19).u32(0x45177777).pad_to(19);
  parse_ctx ctx;
  shell_item_record rec;
  EXPECT_EQ(parse_45177777_block(block.data().data(), ctx, rec, block.data().data(), 19), 18u);
  EXPECT_EQ(ctx.consumed, 3u);
  EXPECT_EQ(rec.flags, 0x400u);
  EXPECT_EQ(parse_45177777_block(block.data().data(), ctx, rec, block.data().data(), 18), 0u);
}

TEST(StringReader, BudgetIsTheRange) {
  byte_builder b;
  b.utf16(u"abc", true).utf16(u"de");
  byte_view v(b.data());
  std::string s;
  struct {
    int64_t start, end, taken;
    const char* text;
  } cases[] = {{0, 8, 8, "abc"}, {0, 6, 6, "abc"}, {0, 5, 4, "ab"},  {2, 100, 6, "bc"},
               {8, 12, 4, "de"}, {8, 8, 0, ""},    {8, 7, 0, ""},    {-1, 8, 0, ""},
               {0, -1, 0, ""},   {11, 12, 0, ""},  {100, 200, 0, ""}};
  for (auto& c : cases) {
    EXPECT_EQ(read_utf16(v, c.start, c.end, s), c.taken) << c.start << " " << c.end;
    EXPECT_EQ(s, c.text);
  }
  byte_builder a;
  a.bytes({'a', 'b', 0, 'c', 'd'});
  EXPECT_EQ(read_ansi(byte_view(a.data()), 0, 5, s), 3);
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(read_ansi(byte_view(a.data()), 3, 5, s), 2);
  EXPECT_EQ(s, "cd");
  EXPECT_EQ(read_ansi(byte_view(a.data()), 3, 2, s), 0);
}

// The reader's fast paths (whole words of ASCII units, short texts narrowed
// on the stack) give what the general decoder gives, wherever the
// terminator or the first wide unit falls and wherever the range ends.
TEST(StringReader, AgreesWithTheDecoder) {
  const uint16_t breaks[] = {0, 0x7F, 0x80, 0xE9, 0x100, 0x20AC, 0xD83D};
  for (size_t n : {0, 1, 3, 4, 5, 8, 9, 33, 127, 128, 129, 200}) {
    for (uint16_t unit : breaks) {
      for (size_t at : {size_t{0}, n / 2, n}) {
        byte_builder b;
        for (size_t i = 0; i <= n + 4; ++i)
          b.u16(i == at ? unit : static_cast<uint16_t>('a' + i % 26));
        b.u16(0);
        const std::vector<uint8_t>& bytes = b.data();
        for (size_t cut : {bytes.size(), bytes.size() - 1, 2 * at + 1, 2 * at + 2, 2 * n + 3}) {
          std::string got = "stale", want;
          const int64_t taken = read_utf16(byte_view(bytes), 0, static_cast<int64_t>(cut), got);
          const uint32_t want_taken = utf16_to_utf8(bytes.data(), cut, want, true);
          EXPECT_EQ(taken, want_taken) << n << " " << unit << " " << at << " " << cut;
          EXPECT_EQ(got, want) << n << " " << unit << " " << at << " " << cut;
        }
      }
    }
  }
}

std::vector<uint8_t> v5_id11_block(bool one_control_unit) {
  byte_builder b;
  b.u16(0).u16(5).u16(11).u16(0xBEEF).fill(8);
  b.utf16(u"name", true);
  if (one_control_unit) {
    b.u16(1).utf16(u"s1", true).fill(40, 0x41);
  } else {
    b.u16(1).u16(2).utf16(u"s1", true).utf16(u"s2", true).u64(111).u64(222).fill(12);
    b.u16(3).utf16(u"s3", true);
  }
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
}

TEST(BeefReaders, VersionFiveIdentifierElevenAndRecycleLength) {
  std::string name, s1, s2, s3;
  uint64_t a = 1, bt = 1;
  auto one = v5_id11_block(true);
  EXPECT_TRUE(parse_beef_v5_id11(one.data(), one.size(), name, s1, s2, s3, a, bt));
  EXPECT_EQ(name, "name");
  EXPECT_TRUE(s1.empty() && s2.empty() && s3.empty());
  EXPECT_EQ(a + bt, 0u);

  auto full = v5_id11_block(false);
  EXPECT_TRUE(parse_beef_v5_id11(full.data(), full.size(), name, s1, s2, s3, a, bt));
  EXPECT_EQ(s1, "s1");
  EXPECT_EQ(s2, "s2");
  EXPECT_EQ(a, 111u);
  EXPECT_EQ(bt, 222u);
  EXPECT_EQ(s3, "s3");

  // A 15-byte block has no room for a name.
  std::vector<uint8_t> tiny = {15, 0, 5, 0, 11, 0, 0xEF, 0xBE, 0, 0, 0, 0, 0, 0, 0x41};
  EXPECT_FALSE(parse_beef_v5_id11(tiny.data(), tiny.size(), name, s1, s2, s3, a, bt));
  EXPECT_TRUE(name.empty());

  std::vector<uint8_t> recycle(704, 0);
  recycle[0] = 0xC0;
  recycle[1] = 0x02;
  parse_ctx ctx;
  ctx.consumed = 5;
  recycle_block_debug_length(recycle.data(), recycle.size(), ctx);
  EXPECT_EQ(ctx.consumed, 5u);
  ctx.debug = 1;
  recycle_block_debug_length(recycle.data(), recycle.size(), ctx);
  EXPECT_EQ(ctx.consumed, 696u);
  recycle_block_debug_length(recycle.data(), 30, ctx);  // a cut block stays inside its bytes
  EXPECT_EQ(ctx.consumed, 696u);
}

// A synthetic recursive parser: every level makes a fresh context that takes
// the guard over, as the storage parsers do, and still runs under the one guard.
int nest(parse_ctx& ctx, int levels, int64_t input_length) {
  guard_level level(ctx, input_length);
  if (!level) return 0;
  parse_ctx fresh;
  fresh.guard = ctx.guard;
  return levels > 1 ? 1 + nest(fresh, levels - 1, input_length) : 1;
}

TEST(ParseGuard, DepthWorkAndFreshContexts) {
  parse_ctx ctx;
  EXPECT_EQ(nest(ctx, 40, 100), parse_guard::k_max_depth);
  EXPECT_EQ(nest(ctx, 10, 100), 10);
  EXPECT_EQ(ctx.guard, nullptr);

  // An endless walk ends at the work bound.
  {
    guard_level top(ctx, 100);
    ASSERT_TRUE(top);
    int64_t steps = 0;
    while (guard_charge(ctx, 1)) ++steps;
    EXPECT_EQ(steps, ctx.guard->budget() - 1);
    EXPECT_LE(steps, 100 * parse_guard::k_units_per_byte + parse_guard::k_base_units);
    // Tripped: every nested level and string read now refuses.
    EXPECT_EQ(nest(ctx, 3, 100), 0);
    std::vector<uint8_t> text = {'a', 0, 0, 0};
    std::string s;
    EXPECT_EQ(read_utf16(ctx.guard, byte_view(text), 0, 4, s), 0);
    EXPECT_EQ(read_utf16(byte_view(text), 0, 4, s), 4);  // no guard: nothing to bound
    // Another context runs a parse of its own meanwhile.
    parse_ctx other;
    EXPECT_EQ(nest(other, 3, 100), 3);
  }
  EXPECT_TRUE(guard_charge(ctx, 1'000'000));  // no parse running: nothing to bound
  EXPECT_EQ(nest(ctx, 3, 100), 3);            // the next top-level parse starts afresh
}

}  // namespace
}  // namespace vk

namespace vk {
namespace {

// The closed-form DOS conversion agrees with the calendar one for every date
// word (under a few time words) and every time word (under a few dates).
TEST(ShellItemRecord, DosFiletimeMatchesCalendarConversion) {
  auto oracle = [](uint16_t d, uint16_t t) {
    const time v = time_from_dos(d, t, true);
    return v.valid() ? v.m_filetime : uint64_t{0};
  };
  size_t mismatches = 0;
  for (uint32_t d = 0; d <= 0xFFFF; ++d)
    for (uint16_t t : {0x0000, 0x6000, 0xBF7D, 0xBF7E, 0xC000})
      mismatches +=
          dos_filetime(static_cast<uint16_t>(d), t) != oracle(static_cast<uint16_t>(d), t);
  for (uint32_t t = 0; t <= 0xFFFF; ++t)
    for (uint16_t d : {0x0021, 0x5A21, 0x905D, 0xFF9F, 0xFFFF})
      mismatches +=
          dos_filetime(d, static_cast<uint16_t>(t)) != oracle(d, static_cast<uint16_t>(t));
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(dos_filetime(0x5A21, 0x6000), 133802064000000000u);  // 2025-01-01 12:00:00
  EXPECT_EQ(dos_filetime(0, 0x6000), 0u);
}

}  // namespace
}  // namespace vk
