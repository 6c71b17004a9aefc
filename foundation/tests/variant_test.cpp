#include <gtest/gtest.h>

#include <random>

#include "byte_builder.h"
#include "foundation/vk_variant.h"

using namespace vk;
using vesk_test::byte_builder;

TEST(VariantCell, ClearedAndConstructedValues) {
  vk_variant_lite c;
  EXPECT_EQ(c.m_type, 0);
  EXPECT_EQ(c.m_max_len, 20);
  EXPECT_EQ(c.m_flags, 0u);
  EXPECT_EQ(c.m_width, 0u);
  EXPECT_TRUE(c.m_text.empty() && c.m_bytes.empty() && c.m_list.empty());
  EXPECT_EQ(c.m_number, 0u);

  EXPECT_EQ(vk_variant_lite(uint8_t{7}).m_type, 1);
  EXPECT_EQ(vk_variant_lite(uint16_t{7}).m_type, 2);
  vk_variant_lite u32(uint32_t{0xDEADBEEF});
  EXPECT_EQ(u32.m_type, 4);
  EXPECT_EQ(u32.m_number, 0xDEADBEEFu);
  vk_variant_lite t64(uint64_t{1} << 40, 12);
  EXPECT_EQ(t64.m_type, 12);
  EXPECT_EQ(t64.m_number, uint64_t{1} << 40);
  vk_variant_lite txt(std::string("abc"));
  EXPECT_EQ(txt.m_type, 11);
  EXPECT_EQ(txt.m_text, "abc");
  EXPECT_EQ(txt.m_max_len, 20);

  txt.m_flags = 0x8000;
  txt.m_list = {1, 2};
  txt.clear();
  EXPECT_EQ(txt.m_type, 0);
  EXPECT_EQ(txt.m_flags, 0u);
  EXPECT_TRUE(txt.m_text.empty() && txt.m_list.empty());
}

TEST(VariantCell, ColumnDescriptors) {
  vk_variant_lite c(uint32_t{5});
  init_column(c, "Name", 30);
  EXPECT_EQ(c.m_flags, 0x80u);
  EXPECT_EQ(c.m_type, 0);
  EXPECT_EQ(c.m_width, 30u);
  EXPECT_EQ(c.m_text, "Name");
  EXPECT_EQ(c.m_number, 0u);

  init_typed_column(c, "Path", 64, 11, 0x8000);
  EXPECT_EQ(c.m_flags, 0x8080u);
  EXPECT_EQ(c.m_type, 11);

  vk_variant_lite d("Time", 20, 12, 0x8000000);
  EXPECT_EQ(d.m_flags, 0x8000080u);
  EXPECT_EQ(vk_variant_lite("T", 3).m_flags, 0x80u);
}

TEST(VariantBytes, TextCellLayoutAndRoundTrip) {
  vk_variant_lite c(std::string("hello"));
  c.m_flags = 0x8000;
  c.m_max_len = 5;
  byte_array b;
  ASSERT_TRUE(c.pack_bytes(b));
  auto want = byte_builder().u16(11).u32(0x8000).u32(5).ascii("hello").take();
  EXPECT_EQ(b, want);

  vk_variant_lite r;
  EXPECT_EQ(r.unpack_bytes(b, 0), b.size());
  EXPECT_EQ(r.m_type, 11);
  EXPECT_EQ(r.m_flags, 0x8000u);
  EXPECT_EQ(r.m_text, "hello");
  EXPECT_EQ(r.m_max_len, 20);  // not part of the byte form
}

// Every record is at least 8 bytes, the reader's minimum: the empty and
// 8-bit cells carry padding. A descriptor carries a 4-byte width; a list
// cell carries its count before its values.
TEST(VariantBytes, RecordLayouts) {
  byte_array b;
  ASSERT_TRUE(vk_variant_lite().pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(0).u32(0).u16(0).take());
  b.clear();
  ASSERT_TRUE(vk_variant_lite(uint8_t{0xAB}).pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(1).u32(0).u8(0xAB).u8(0).take());
  b.clear();
  ASSERT_TRUE(vk_variant_lite(uint16_t{0x1234}).pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(2).u32(0).u16(0x1234).take());
  b.clear();
  ASSERT_TRUE(vk_variant_lite(uint64_t{0x1122334455667788}, 25).pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(25).u32(0).u32(0x55667788).take());
  b.clear();
  ASSERT_TRUE(vk_variant_lite("Title", 0x10203, 12, 0).pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(12).u32(0x80).u32(0x10203).take());
  b.clear();
  vk_variant_lite list(uint64_t{9}, 24);
  list.m_flags = 0x4000;
  list.m_list = {1, 2};
  ASSERT_TRUE(list.pack_bytes(b));
  EXPECT_EQ(b, byte_builder().u16(24).u32(0x4000).u64(9).u32(2).u64(1).u64(2).take());

  // Each of them reads back alone, as the last record of an array.
  for (const auto& cell : {vk_variant_lite(), vk_variant_lite(uint8_t{0xAB})}) {
    byte_array one;
    ASSERT_TRUE(cell.pack_bytes(one));
    vk_variant_lite r(std::string("stale"));
    EXPECT_EQ(r.unpack_bytes(one, 0), 8u);
    EXPECT_EQ(r.m_type, cell.m_type);
    EXPECT_EQ(r.m_number, cell.m_number);
    EXPECT_TRUE(r.m_text.empty());
  }
}

TEST(VariantBytes, EveryTypeWithAByteFormRoundTrips) {
  std::vector<vk_variant_lite> cells;
  const uint16_t numeric[] = {0, 1, 2, 3, 4, 8, 12, 13, 15, 16, 17, 18, 21, 22, 23, 24, 25, 26};
  for (uint16_t t : numeric) {
    uint64_t v = 0x1122334455667788ull;
    if (t == 0) v = 0;
    if (t == 1) v = 0x88;
    if (t == 2) v = 0x7788;
    if (t == 3 || t == 4 || (t >= 15 && t <= 16) || t >= 25) v = 0x55667788;
    cells.emplace_back(v, t);
  }
  for (uint16_t t : {11, 30, 31}) {
    vk_variant_lite c(std::string("text\0with nul", 13));
    c.m_type = t;
    cells.push_back(c);
  }
  vk_variant_lite g(uint64_t{0}, 27);
  for (int i = 0; i < 16; ++i) g.m_bytes.push_back(static_cast<uint8_t>(i * 7));
  cells.push_back(g);
  for (uint16_t t : {28, 29}) {
    vk_variant_lite c(uint64_t{0}, t);
    c.m_bytes = {1, 2, 3};
    cells.push_back(c);
  }
  vk_variant_lite list(uint64_t{9}, 13);
  list.m_flags = 0x4000;
  list.m_list = {10, 20, 30};
  cells.push_back(list);
  vk_variant_lite desc("Title", 42, 12, 0x8000);
  cells.push_back(desc);

  byte_array b;
  ASSERT_TRUE(pack_variant_list(b, cells, false));
  std::vector<vk_variant_lite> back;
  ASSERT_TRUE(unpack_variant_list(back, b, false));
  ASSERT_EQ(back.size(), cells.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back[i].m_type, cells[i].m_type);
    EXPECT_EQ(back[i].m_flags, cells[i].m_flags);
    if (cells[i].m_flags & 0x80) {
      EXPECT_EQ(back[i].m_width, 42u);
      EXPECT_TRUE(back[i].m_text.empty());  // the title has no byte form
      continue;
    }
    EXPECT_EQ(back[i].m_number, cells[i].m_number);
    EXPECT_EQ(back[i].m_text, cells[i].m_text);
    EXPECT_EQ(back[i].m_bytes, cells[i].m_bytes);
    EXPECT_EQ(back[i].m_list, cells[i].m_list);
  }
}

TEST(VariantBytes, ShortCellsAtTheEndAreNotLost) {
  std::vector<vk_variant_lite> cells = {vk_variant_lite(uint8_t{1}), vk_variant_lite(uint8_t{2}),
                                        vk_variant_lite()};
  byte_array b;
  pack_variant_list(b, cells, false);
  std::vector<vk_variant_lite> back;
  ASSERT_TRUE(unpack_variant_list(back, b, false));
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].m_number, 2u);
  EXPECT_EQ(back[2].m_type, 0);
}

TEST(VariantBytes, TypesWithoutByteFormAreRefused) {
  byte_array b;
  for (uint16_t t : {5, 6, 7, 9, 10, 14, 19, 20, 32, 0xFFFF}) {
    EXPECT_FALSE(vk_variant_lite(uint64_t{1}, t).pack_bytes(b)) << t;
  }
  EXPECT_TRUE(b.empty());
  vk_variant_lite short_guid(uint64_t{0}, 27);
  short_guid.m_bytes = {1, 2, 3};
  EXPECT_FALSE(short_guid.pack_bytes(b));

  auto rec = byte_builder().u16(14).u32(0).u64(5).take();
  vk_variant_lite r;
  EXPECT_EQ(r.unpack_bytes(rec, 0), 0u);
}

TEST(VariantBytes, MalformedInputIsNotReadPastTheEnd) {
  std::vector<vk_variant_lite> out;
  EXPECT_FALSE(unpack_variant_list(out, byte_array(7, 0), false));
  EXPECT_FALSE(unpack_variant_list(out, byte_array(7, 0xFF), false));
  EXPECT_FALSE(unpack_variant_list(out, byte_array(), false));

  // Length fields larger than the array.
  auto text = byte_builder().u16(11).u32(0).u32(0xFFFFFFF0).ascii("ab").take();
  vk_variant_lite r;
  EXPECT_EQ(r.unpack_bytes(text, 0), 0u);
  EXPECT_TRUE(r.m_text.empty());
  auto bytes = byte_builder().u16(28).u32(0).u32(100).fill(10).take();
  EXPECT_EQ(r.unpack_bytes(bytes, 0), 0u);
  auto guid = byte_builder().u16(27).u32(0).fill(15).take();
  EXPECT_EQ(r.unpack_bytes(guid, 0), 0u);
  auto u64 = byte_builder().u16(8).u32(0).fill(7).take();
  EXPECT_EQ(r.unpack_bytes(u64, 0), 0u);
  auto list = byte_builder().u16(12).u32(0x4000).u64(1).u32(0x20000000).u64(2).take();
  EXPECT_EQ(r.unpack_bytes(list, 0), 0u);
  auto desc = byte_builder().u16(0).u32(0x80).u8(1).take();
  EXPECT_EQ(r.unpack_bytes(desc, 0), 0u);
  EXPECT_EQ(r.unpack_bytes(text, 1000), 0u);

  // A good record followed by a truncated one keeps the good one.
  byte_array b;
  vk_variant_lite(uint32_t{3}).pack_bytes(b);
  vk_variant_lite(std::string("abcdef")).pack_bytes(b);
  b.resize(b.size() - 2);
  ASSERT_TRUE(unpack_variant_list(out, b, false));
  EXPECT_EQ(out.size(), 1u);
}

TEST(VariantBytes, AppendFlagsAndRandomInputSurvive) {
  byte_array b = {0xAA};
  pack_variant_list(b, {vk_variant_lite(uint16_t{5})}, true);
  EXPECT_EQ(b.size(), 1u + 8u);
  std::vector<vk_variant_lite> out(2);
  byte_array one;
  vk_variant_lite(uint16_t{5}).pack_bytes(one);
  unpack_variant_list(out, one, true);
  EXPECT_EQ(out.size(), 3u);

  std::mt19937 rng(7);
  byte_array seed;
  pack_variant_list(seed,
                    {vk_variant_lite(std::string("some text")), vk_variant_lite(uint64_t{1}, 12),
                     vk_variant_lite("col", 9)},
                    false);
  for (int i = 0; i < 500; ++i) {
    auto m = vesk_test::mutate(seed, rng, 4);
    m.resize(std::uniform_int_distribution<size_t>(0, m.size())(rng));
    std::vector<vk_variant_lite> cells;
    unpack_variant_list(cells, m, false);
    size_t total = 0;
    for (const auto& c : cells) total += c.m_text.size() + c.m_bytes.size() + 8 * c.m_list.size();
    EXPECT_LE(total, m.size());
  }
}
