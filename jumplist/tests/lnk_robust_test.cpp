// Hostile links: every truncation of a full written link, zeroed and random
// bodies parse without a fault, and a parse that succeeds never claims more
// bytes than it was given. Mutations of the written links at large are the
// lnk fuzz target's work, which checks the same claim.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <string>

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

// Where the parts of a written link start: each part's bytes as the writer
// lays them out, one after the other.
struct written_layout {
  size_t link_info = 0, extra = 0;
  std::array<size_t, 5> strings{};
  std::vector<size_t> block_ends;  // after each extra-data block
};
written_layout layout_of(const lnk_spec& s) {
  written_layout out;
  size_t at = lnk_layout::idlist::first_item + s.idlist->size();
  out.link_info = at;
  at += lnk_link_info_bytes(*s.link_info).size();
  for (size_t i = 0; i < s.strings.size(); ++i) {
    out.strings[i] = at;
    at += 2 + 2 * s.strings[i]->size();
  }
  out.extra = at;
  for (const auto& block : s.extra_blocks) out.block_ends.push_back(at += block.size());
  return out;
}

struct expected_fault {
  std::string structure;
  uint64_t offset;
  std::string cause;
};

// The data a parser is handed may end anywhere: inside a structure, or
// right after one that the flags say is followed by more. Either way the
// first structure not read in full is named; data that ends after the last
// text or a whole extra-data block names the terminal block (every one of
// the sample links has it), the structures before it kept; only the whole
// link gives no fault.
TEST(LnkRobust, DataEndingBeforeItsStructuresIsSaid) {
  const lnk_spec spec = full_written_spec();
  const lnk_bytes_t link = write_lnk(spec);
  const written_layout at = layout_of(spec);
  ASSERT_EQ(at.block_ends.back() + 4, link.size());
  const std::set<size_t> quiet{link.size()};

  const auto parse = [&](size_t n, lnk_record& rec) {
    const lnk_bytes_t cut(link.begin(), link.begin() + static_cast<std::ptrdiff_t>(n));
    return bool(parse_lnk(rec, cut.data(), cut.size(), default_params(), vesk_test::test_scratch(),
                          n % 2, 0));
  };
  for (size_t n = lnk_layout::header::size; n <= link.size(); ++n) {
    lnk_record rec;
    if (parse(n, rec)) {
      EXPECT_EQ(rec.m_faults.empty(), quiet.count(n) == 1) << n;
    }
  }

  const struct {
    size_t cut;
    expected_fault first;  // structure empty: none
  } cases[] = {
      // The ID list one byte short of its declared end.
      {at.link_info - 1,
       {"ID list", lnk_layout::idlist::size_field, "declared size runs past the data"}},
      {at.link_info, {"LinkInfo", at.link_info, "lies past the data"}},
      {at.strings[0], {"StringData item", at.strings[0], "lies past the data"}},
      {at.strings[0] + 1, {"StringData item", at.strings[0], "count runs past the data"}},
      {at.strings[1] + 3, {"StringData item", at.strings[1], "declared size runs past the data"}},
      // A long link handed only the bytes before a text.
      {at.strings[4], {"StringData item", at.strings[4], "lies past the data"}},
      {at.extra, {"terminal block", at.extra, "lies past the data"}},
      {at.extra + 2, {"terminal block", at.extra, "runs past the data"}},
      {at.block_ends[0], {"terminal block", at.block_ends[0], "lies past the data"}},
      {link.size(), {}},
  };
  for (const auto& c : cases) {
    lnk_record rec;
    ASSERT_TRUE(parse(c.cut, rec)) << c.cut;
    if (c.cut >= at.extra) {
      // Every text read; the size is the data's, but for a terminal block cut short.
      EXPECT_EQ(rec.m_lnk_size, c.cut == at.extra + 2 ? at.extra : c.cut);
      EXPECT_EQ(rec.m_icon_location, "%SystemRoot%\\a.ico");
    }
    if (c.first.structure.empty()) {
      EXPECT_TRUE(rec.m_faults.empty()) << c.cut;
      continue;
    }
    ASSERT_FALSE(rec.m_faults.empty()) << c.cut;
    EXPECT_EQ(rec.m_faults[0].structure, c.first.structure) << c.cut;
    EXPECT_EQ(rec.m_faults[0].offset, c.first.offset) << c.cut;
    EXPECT_EQ(rec.m_faults[0].cause, c.first.cause) << c.cut;
  }
}

}  // namespace
}  // namespace vk
