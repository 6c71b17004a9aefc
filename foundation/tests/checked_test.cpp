#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "foundation/vk_checked.h"

namespace {

TEST(CheckedArithmetic, ProductsAtTheEdgesOfTheRange) {
  int64_t s = 7;
  EXPECT_TRUE(vk::checked_mul<int64_t>(INT64_MAX / 10, 10, s));
  EXPECT_FALSE(vk::checked_mul<int64_t>(INT64_MAX / 10 + 1, 10, s));
  EXPECT_TRUE(vk::checked_mul<int64_t>(INT64_MIN, 1, s));
  EXPECT_EQ(s, INT64_MIN);
  s = 7;
  EXPECT_FALSE(vk::checked_mul<int64_t>(INT64_MIN, -1, s));
  EXPECT_FALSE(vk::checked_mul<int64_t>(-1, INT64_MIN, s));
  EXPECT_EQ(s, 7);  // untouched on failure
  EXPECT_TRUE(vk::checked_mul<int64_t>(-(INT64_MAX / 2), 2, s));
  EXPECT_FALSE(vk::checked_mul<int64_t>(INT64_MIN / 2 - 1, 2, s));
  EXPECT_TRUE(vk::checked_mul<int64_t>(0, INT64_MIN, s));
  EXPECT_EQ(s, 0);

  uint64_t u = 1;
  EXPECT_TRUE(vk::checked_mul<uint64_t>(UINT64_MAX, 1, u));
  EXPECT_FALSE(vk::checked_mul<uint64_t>(UINT64_MAX / 2 + 1, 2, u));
  EXPECT_TRUE(vk::checked_mul<uint64_t>(uint64_t{1} << 32, (uint64_t{1} << 32) - 1, u));
  EXPECT_FALSE(vk::checked_mul<uint64_t>(uint64_t{1} << 32, uint64_t{1} << 32, u));
}

TEST(CheckedArithmetic, SumsAtTheEdgesOfTheRange) {
  int64_t s = 3;
  EXPECT_FALSE(vk::checked_add<int64_t>(INT64_MAX, 1, s));
  EXPECT_FALSE(vk::checked_add<int64_t>(INT64_MIN, -1, s));
  EXPECT_EQ(s, 3);
  EXPECT_TRUE(vk::checked_add<int64_t>(INT64_MAX, INT64_MIN, s));
  EXPECT_EQ(s, -1);
  uint64_t u = 0;
  EXPECT_FALSE(vk::checked_add<uint64_t>(UINT64_MAX, 1, u));
  EXPECT_TRUE(vk::checked_add<uint64_t>(UINT64_MAX - 1, 1, u));
  EXPECT_EQ(u, UINT64_MAX);
}

}  // namespace
