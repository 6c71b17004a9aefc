// LNK headers found at multiples of the step, with room for a link behind.
#include "jumplist/lnk_signature.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

TEST(LnkSignature, AlignedHeadersWithRoomBehind) {
  const lnk_bytes_t header = lnk_header_bytes(lnk_spec{});
  lnk_bytes_t buf(2048, 0);
  auto put = [&](size_t at) { std::copy(header.begin(), header.end(), buf.begin() + at); };
  put(100);  // not on a 512 boundary
  put(512);
  put(1536);
  uint32_t pos = 7;
  std::vector<uint32_t> all;
  EXPECT_TRUE(find_lnk_signature(pos, buf.data(), buf.size(), 512));
  EXPECT_EQ(pos, 512u);
  EXPECT_TRUE(find_all_lnk_signatures(all, buf.data(), buf.size(), 512));
  EXPECT_EQ(all, (std::vector<uint32_t>{512, 1536}));
  EXPECT_TRUE(find_all_lnk_signatures(all, buf.data(), buf.size(), 4));
  EXPECT_EQ(all, (std::vector<uint32_t>{100, 512, 1536}));
  EXPECT_TRUE(find_all_lnk_signatures(all, buf.data(), buf.size(), 0));  // a zero step: every byte
  EXPECT_EQ(all.size(), 3u);

  // A header needs its 76 bytes from its start to the end of the buffer.
  EXPECT_FALSE(find_lnk_signature(pos, buf.data() + 512, 75, 1));
  EXPECT_EQ(pos, 0u);
  EXPECT_TRUE(find_lnk_signature(pos, buf.data() + 512, 76, 1));
  EXPECT_FALSE(find_all_lnk_signatures(all, buf.data() + 1536, 75, 512));
  EXPECT_TRUE(all.empty());
  EXPECT_TRUE(find_all_lnk_signatures(all, buf.data() + 1536, 76, 512));
  EXPECT_FALSE(find_lnk_signature(pos, nullptr, 4096, 512));
}

// Every step finds what a byte-by-byte header test finds, among decoys that
// share the first byte, the first word or all but the last byte.
TEST(LnkSignature, AgreesWithAPlainScan) {
  const lnk_bytes_t header = lnk_header_bytes(lnk_spec{});
  lnk_bytes_t buf(20000, 0x4C);
  uint32_t x = 12345;
  for (size_t at = 0; at + 80 < buf.size(); at += 37 + x % 300) {
    x = x * 1103515245u + 12345u;
    std::copy(header.begin(), header.end() - static_cast<long>((x >> 8) % 3 == 0 ? 1 : 0),
              buf.begin() + static_cast<long>(at));
    if ((x >> 12) % 4 == 0) buf[at + 1] = 1;  // HeaderSize 0x14C
  }
  std::copy(header.begin(), header.end(), buf.end() - 77);  // exactly room behind
  for (uint32_t step : {0u, 1u, 2u, 3u, 512u}) {
    std::vector<uint32_t> want, got;
    const size_t stride = step ? step : 1;
    for (size_t p = 0; p + 76 < buf.size(); p += stride)
      if (std::equal(header.begin(), header.begin() + 20, buf.begin() + static_cast<long>(p)))
        want.push_back(static_cast<uint32_t>(p));
    EXPECT_EQ(find_all_lnk_signatures(got, buf.data(), buf.size(), step), !want.empty());
    EXPECT_EQ(got, want) << "step " << step;
    ASSERT_FALSE(want.empty());
    uint32_t first = 0;
    EXPECT_TRUE(find_lnk_signature(first, buf.data(), buf.size(), step));
    EXPECT_EQ(first, want.front());
  }
}

}  // namespace
}  // namespace vk
