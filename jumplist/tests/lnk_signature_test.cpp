// LNK headers found at multiples of the step, with room for a link behind.
#include <gtest/gtest.h>

#include "jumplist/lnk_signature.h"
#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

TEST(LnkSignature, AlignedHeadersWithRoomBehind) {
  const lnk_bytes_t header = lnk_header_bytes(lnk_spec{});
  lnk_bytes_t buf(2048, 0);
  auto put = [&](size_t at) { std::copy(header.begin(), header.end(), buf.begin() + at); };
  put(100);   // not on a 512 boundary
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

  // A header needs 77 bytes from its start to the end of the buffer.
  EXPECT_FALSE(find_lnk_signature(pos, buf.data() + 512, 76, 1));
  EXPECT_EQ(pos, 0u);
  EXPECT_TRUE(find_lnk_signature(pos, buf.data() + 512, 77, 1));
  EXPECT_FALSE(find_all_lnk_signatures(all, buf.data() + 1536, 76, 512));
  EXPECT_TRUE(all.empty());
  EXPECT_FALSE(find_lnk_signature(pos, nullptr, 4096, 512));
}

}  // namespace
}  // namespace vk
