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

TEST(ByteView, RandomOffsetsNeverReadOutside) {
  std::mt19937 rng(1);
  for (int n = 0; n < 64; ++n) {
    auto buf = vesk_test::random_bytes(n, rng);
    vk::byte_view v(buf);
    for (size_t off = 0; off < 80; ++off) {
      EXPECT_EQ(v.u32(off).has_value(), off + 4 <= buf.size());
      EXPECT_EQ(v.u64(off).has_value(), off + 8 <= buf.size());
    }
  }
}

}  // namespace
