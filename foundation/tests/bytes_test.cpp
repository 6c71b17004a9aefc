#include <gtest/gtest.h>

#include <limits>

#include "byte_builder.h"
#include "foundation/vk_bytes.h"

namespace {

TEST(ByteView, ReadsLittleEndianAndRefusesPastTheEnd) {
  auto b = vesk_test::byte_builder().u16(0x1234).u32(0xA1B2C3D4).u64(0x0102030405060708ULL).take();
  vk::byte_view v(b);
  EXPECT_EQ(*v.u16(0), 0x1234);
  EXPECT_EQ(*v.u32(2), 0xA1B2C3D4u);
  EXPECT_EQ(*v.u64(6), 0x0102030405060708ULL);
  EXPECT_EQ(*v.i32(2), static_cast<int32_t>(0xA1B2C3D4u));
  EXPECT_FALSE(v.u64(7).has_value());
  EXPECT_FALSE(v.u8(14).has_value());
  EXPECT_TRUE(v.u8(13).has_value());
  EXPECT_FALSE(v.guid_bytes(0).has_value());
}

TEST(ByteView, OffsetArithmeticCannotWrap) {
  std::vector<uint8_t> b(8, 0xAA);
  vk::byte_view v(b);
  const size_t huge = std::numeric_limits<size_t>::max();
  EXPECT_FALSE(v.has(huge, 2));
  EXPECT_FALSE(v.has(2, huge));
  EXPECT_FALSE(v.u32(huge - 1).has_value());
  EXPECT_EQ(v.u32_or_zero(huge - 1), 0u);
  EXPECT_EQ(v.u8_or_zero(huge), 0u);
  EXPECT_TRUE(v.has(8, 0));
  EXPECT_FALSE(v.has(9, 0));
  EXPECT_EQ(v.remaining(100), 0u);
  EXPECT_TRUE(v.tail(8).empty());
  EXPECT_EQ(v.clamp(6, 100).size(), 2u);
  EXPECT_FALSE(v.sub(4, 5).has_value());
  EXPECT_EQ(v.sub(4, 4)->size(), 4u);
}

TEST(ByteView, NullDataIsEmpty) {
  vk::byte_view v(nullptr, 100);
  EXPECT_EQ(v.size(), 0u);
  EXPECT_FALSE(v.u8(0).has_value());
}

TEST(ByteCursor, AdvancesOnlyOnSuccess) {
  auto b = vesk_test::byte_builder().u32(7).u16(9).take();
  vk::byte_cursor c{vk::byte_view(b)};
  uint32_t a = 0;
  uint16_t s = 0;
  uint64_t q = 0;
  EXPECT_TRUE(c.u32(a));
  EXPECT_EQ(a, 7u);
  EXPECT_FALSE(c.u64(q));
  EXPECT_EQ(c.pos(), 4u);
  EXPECT_TRUE(c.u16(s));
  EXPECT_EQ(s, 9u);
  EXPECT_EQ(c.remaining(), 0u);
  EXPECT_FALSE(c.skip(1));
}

// Counted reads take the whole field and give its text up to the first zero
// character; terminated reads need their terminator inside the budget (and
// the bytes left), consume it, and leave the position alone without it.
TEST(ByteCursor, TextReadsCountedAndTerminated) {
  auto b = vesk_test::byte_builder()
               .utf16(u"ab")
               .u16(0)
               .utf16(u"c")  // a 4-unit field: "ab", a zero unit, "c"
               .ascii("HOST", true)
               .ascii("xy")  // a 7-byte field: "HOST", a zero, "xy"
               .utf16(u"name", true)
               .ascii("tail", true)
               .take();
  vk::byte_cursor c{vk::byte_view(b)};
  std::string out = "old";
  ASSERT_TRUE(c.text16(out, 4));
  EXPECT_EQ(out, "ab");
  EXPECT_EQ(c.pos(), 8u);
  ASSERT_TRUE(c.text8(out, 7));
  EXPECT_EQ(out, "HOST");
  EXPECT_EQ(c.pos(), 15u);
  const size_t at = c.pos();
  EXPECT_FALSE(c.text16_z(out, 4));  // terminator is the fifth unit: past the budget
  EXPECT_EQ(out, "");
  EXPECT_EQ(c.pos(), at);
  ASSERT_TRUE(c.text16_z(out, 5));
  EXPECT_EQ(out, "name");
  EXPECT_EQ(c.pos(), at + 10);
  ASSERT_TRUE(c.text8_z(out, SIZE_MAX));
  EXPECT_EQ(out, "tail");
  EXPECT_EQ(c.remaining(), 0u);

  // Past the end: nothing read, the position kept, no budget below zero.
  for (size_t n : {size_t{1}, size_t{1000}, SIZE_MAX}) {
    EXPECT_FALSE(c.text16(out, n));
    EXPECT_FALSE(c.text8(out, n));
    EXPECT_FALSE(c.text16_z(out, n));
    EXPECT_FALSE(c.text8_z(out, n));
  }
  EXPECT_TRUE(c.text8(out, 0));
  EXPECT_EQ(c.pos(), b.size());
  vk::byte_cursor beyond{vk::byte_view(b), b.size() + 10};
  EXPECT_EQ(beyond.remaining(), 0u);
  EXPECT_FALSE(beyond.text8_z(out, 3));
  vk::byte_view part;
  EXPECT_FALSE(beyond.sub(1, part));
}

TEST(ByteView, RandomOffsetsNeverReadOutside) {
  std::mt19937 rng(1);
  for (int n = 0; n < 64; ++n) {
    auto buf = vesk_test::random_bytes(n, rng);
    vk::byte_view v(buf);
    for (size_t off = 0; off < 80; ++off) {
      EXPECT_EQ(v.u32(off).has_value(), off + 4 <= buf.size());
      EXPECT_EQ(v.u64(off).has_value(), off + 8 <= buf.size());
      // The zero-default reads agree with the checked ones and give 0 past the end.
      EXPECT_EQ(v.u8_or_zero(off), v.u8(off).value_or(0));
      EXPECT_EQ(v.u16_or_zero(off), v.u16(off).value_or(0));
      EXPECT_EQ(v.u32_or_zero(off), v.u32(off).value_or(0));
      EXPECT_EQ(v.u64_or_zero(off), v.u64(off).value_or(0));
      EXPECT_EQ(v.i16_or_zero(off), v.i16(off).value_or(0));
      EXPECT_EQ(v.i32_or_zero(off), v.i32(off).value_or(0));
    }
  }
}

}  // namespace
