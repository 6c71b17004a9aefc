// Hostile links: every truncation of a full written link, zeroed and random
// bodies parse without a fault, and a parse that succeeds never claims more
// bytes than it was given. Mutations of the written links at large are the
// lnk fuzz target's work, which checks the same claim.
#include <gtest/gtest.h>

#include <random>

#include "default_params.h"
#include "jumplist/lnk_parser.h"
#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

// Parses an exactly sized copy; false when a true result overstates its size.
bool parse_checked(const std::vector<uint8_t>& bytes, bool carved) {
  std::vector<uint8_t> copy(bytes);
  lnk_record rec;
  if (!parse_lnk(rec, copy.data(), copy.size(), default_params(), vesk_test::test_scratch(), carved,
                 0))
    return true;
  return rec.m_lnk_size <= copy.size();
}

TEST(LnkRobust, TruncatedZeroedAndMutatedLinks) {
  const lnk_bytes_t link = full_written_link();
  lnk_record whole;
  ASSERT_TRUE(parse_lnk(whole, link.data(), link.size(), default_params(),
                        vesk_test::test_scratch(), false, 0));
  ASSERT_EQ(whole.m_lnk_size, link.size());
  ASSERT_FALSE(whole.m_darwin_feature.empty());
  ASSERT_FALSE(whole.m_property_values.empty());

  for (size_t n = 0; n <= link.size(); ++n) {
    const lnk_bytes_t cut(link.begin(), link.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_TRUE(parse_checked(cut, n % 2)) << n;
  }
  // LinkInfo paths in UTF-16 as well, cut anywhere and with their offsets
  // and sizes mutated.
  lnk_spec wide;
  lnk_link_info paths;
  paths.header_size = 36;
  paths.local_base_path = "C:\\?\\";
  paths.suffix = "?.txt";
  paths.local_base_path_unicode = u"C:\\\u00e9\\";
  paths.suffix_unicode = u"\u6d4b.txt";
  wide.link_info = paths;
  const lnk_bytes_t wide_link = write_lnk(wide);
  std::mt19937 wide_rng(36);
  for (size_t n = 0; n <= wide_link.size(); ++n) {
    const lnk_bytes_t cut(wide_link.begin(), wide_link.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_TRUE(parse_checked(cut, false)) << n;
    EXPECT_TRUE(parse_checked(mutate(wide_link, wide_rng, 1 + n % 4), false)) << n;
  }

  std::mt19937 rng(18);
  const lnk_bytes_t header(link.begin(), link.begin() + 76);
  for (size_t n : {82, 100, 1000, 4000}) {
    lnk_bytes_t zeroed = header;
    zeroed.resize(n, 0);
    EXPECT_TRUE(parse_checked(zeroed, false));
    for (uint32_t flags : {0xFFu, 0xFFFFFFFFu, 0x81u}) {
      lnk_bytes_t noisy = cat({header, random_bytes(n - 76, rng)});
      noisy[20] = static_cast<uint8_t>(flags);
      EXPECT_TRUE(parse_checked(noisy, true));
    }
  }
}

}  // namespace
}  // namespace vk
