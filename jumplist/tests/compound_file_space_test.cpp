// The free sectors, free granules, slack areas and stream sector ranges of
// the reader, checked against the plain definition: a set of used granule offsets filled
// structure by structure and chain by chain, then read back in ascending
// order. The reader marks used space in bitmaps and walks shared chains once;
// the results must be the same values in the same order, on written, damaged
// and real files alike.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "foundation/vk_bytes.h"
#include "jumplist/compound_file.h"
#include "jumplist_samples.h"

using namespace vk;
using vesk_test::cfb_layout;
using vesk_test::cfb_pattern;
using vesk_test::cfb_writer;
using vesk_test::put_le32;
namespace hdr = vk::cfb::header;

namespace {

struct free_space {
  std::vector<uint64_t> sectors;
  std::vector<uint64_t> granules;
  std::vector<cfb_area> slack;
};

free_space plain_free_space(const compound_file_reader& r, size_t size) {
  const uint64_t S = r.m_sector_size, M = r.m_mini_sector_size;
  const uint64_t per_sector = S / M;
  std::set<uint64_t> used;
  auto mark = [&](uint64_t n) {
    for (uint64_t j = 0; j < per_sector; ++j) used.insert((n + 1) * S + j * M);
  };
  const cfb_dir_entry* root = find_cfb_entry(r, "root entry");
  std::vector<uint64_t> root_sectors;
  follow_fat_chain(r, root_sectors, root->start_sector());
  if (root->stream_size() == 0 || root->object_type() == 0) root_sectors.clear();
  auto mark_mini = [&](uint64_t m) {
    uint64_t p = m * M, q = p / S;
    if (q < root_sectors.size()) used.insert((root_sectors[q] + 1) * S + p % S);
  };

  const uint8_t* h = r.m_cfb_header.data();
  mark(0);
  uint32_t first_difat = load_le32(h + hdr::first_difat_sector);
  if (load_le32(h + hdr::num_fat_sectors) > hdr::difat_slots &&
      load_le32(h + hdr::num_difat_sectors) != 0 && first_difat != cfb_endofchain &&
      first_difat != 0)
    mark(first_difat);
  r.m_fat_links.for_each([&](const fat_link& link) {
    if (link.m_value == cfb_difatsect || link.m_value == cfb_fatsect) mark(link.m_sector);
  });
  for (uint64_t s : r.m_minifat_sectors) mark(s);
  for (uint64_t s : r.m_dir_sectors) mark(s);
  for (const auto& [key, entry] : r.m_entries) {
    if (&entry == root || entry.stream_size() == 0 || entry.object_type() == 0) continue;
    std::vector<uint64_t> chain;
    if (entry.m_mini) {
      // Every mini sector the chain reaches, however long the stream says
      // it is: the repeats of a loop add nothing.
      follow_fat_chain_bounded(chain, r.m_minifat_links, entry.start_sector(),
                               static_cast<uint32_t>(entry.stream_size()), M,
                               r.m_minifat_links.size() + 1);
      for (uint64_t m : chain) mark_mini(m);
    } else {
      follow_fat_chain(r, chain, entry.start_sector());
      for (uint64_t n : chain) mark(n);
    }
  }

  free_space out;
  for (uint64_t k = 0; k < r.m_sector_count; ++k)
    for (uint64_t j = 0; j < per_sector; ++j)
      if (!used.count((k + 1) * S + j * M)) out.granules.push_back((k + 1) * S + j * M);
  r.m_fat_links.for_each([&](const fat_link& link) {
    if (!link.m_allocated && (uint64_t{link.m_sector} + 1) * S < size)
      out.sectors.push_back(link.m_sector);
  });
  std::map<uint64_t, cfb_area> slack;
  for (size_t i = 0; i < out.granules.size();) {
    size_t j = i + 1;
    while (j < out.granules.size() && out.granules[j] == out.granules[j - 1] + M) ++j;
    slack[out.granules[i]] = {out.granules[i], (j - i) * M};
    i = j;
  }
  for (const auto& [offset, area] : slack) out.slack.push_back(area);
  return out;
}

// Stream and gap bytes as the plain definition gives them: each taking
// entry's list up to the first sector seen before, gaps between the seen
// sectors in ascending order.
void plain_sector_ranges(const compound_file_reader& r, const std::vector<uint8_t>& img,
                         std::vector<uint8_t>& allocated, std::vector<uint8_t>& gaps) {
  const uint64_t S = r.m_sector_size;
  std::set<uint64_t> seen;
  for (const auto& [key, entry] : r.m_entries) {
    uint64_t size = entry.stream_size();
    if (entry.m_name != "Root Entry" && (size == 0 || size < r.m_mini_cutoff)) continue;
    for (uint64_t n : cfb_entry_sectors(r, entry)) {
      if (!seen.insert(n).second) break;
      if ((n + 1) * S + S <= img.size())
        allocated.insert(allocated.end(), img.begin() + (n + 1) * S, img.begin() + (n + 2) * S);
    }
  }
  if (seen.empty()) return;
  uint64_t prev = *seen.begin();
  for (uint64_t k : seen) {
    if (k - prev >= 2) {
      uint64_t start = (prev + 2) * S, length = (k - prev - 1) * S;
      if (start + length <= img.size())
        gaps.insert(gaps.end(), img.begin() + start, img.begin() + start + length);
    }
    prev = k;
  }
}

// Parses the image; when it parses, compares the reader's results with the
// plain definition. True when it parsed.
bool same_as_definition(const std::vector<uint8_t>& img, const std::string& what) {
  compound_file_reader r;
  if (!parse_compound_image(&r, img.data(), img.size())) return false;
  free_space want = plain_free_space(r, img.size());
  EXPECT_EQ(r.m_free_sectors, want.sectors) << what;
  EXPECT_EQ(r.m_free_granules, want.granules) << what;
  EXPECT_EQ(r.m_slack_areas, want.slack) << what;
  std::vector<uint8_t> allocated, gaps, want_allocated, want_gaps;
  bool ok = stream_sector_ranges(r, allocated, gaps, img.data(), img.size());
  plain_sector_ranges(r, img, want_allocated, want_gaps);
  EXPECT_EQ(ok, !want_allocated.empty()) << what;
  EXPECT_TRUE(allocated == want_allocated) << what;
  EXPECT_TRUE(gaps == want_gaps) << what;
  return true;
}

}  // namespace

TEST(CompoundFileFreeSpace, WrittenImagesMatchTheDefinition) {
  size_t n = 0;
  for (const auto& img : vesk_test::varied_cfb_images()) {
    ASSERT_TRUE(same_as_definition(img, "written #" + std::to_string(n++)));
    // Cut at every sector boundary and in the middle of one.
    for (size_t cut = 512; cut < img.size(); cut += 700)
      same_as_definition(std::vector<uint8_t>(img.begin(), img.begin() + cut),
                         "cut " + std::to_string(cut));
  }
}

TEST(CompoundFileFreeSpace, DamagedImagesMatchTheDefinition) {
  std::mt19937 rng(23);
  const auto bases = vesk_test::varied_cfb_images();
  size_t parsed = 0, variants = 0;
  for (int i = 0; i < 1500; ++i, ++variants) {
    auto img = bases[i % bases.size()];
    if (i % 3 == 0) {
      img = vesk_test::mutate(img, rng, 1 + i % 8);
    } else {
      // Chains that loop, join or run off into free and special sectors.
      const size_t sectors = img.size() / 512 - 1;
      for (int k = 0; k < 1 + i % 6; ++k) {
        size_t at = 512 + (rng() % sectors) * 512 + 4 * (rng() % 128);
        uint32_t pick = rng() % 5;
        uint32_t v = pick < 3    ? static_cast<uint32_t>(rng() % (sectors * 8))
                     : pick == 3 ? cfb_freesect
                                 : cfb_endofchain;
        put_le32(img, at, v);
      }
    }
    parsed += same_as_definition(img, "damaged #" + std::to_string(i));
  }
  EXPECT_GT(parsed, variants / 2);
}

TEST(CompoundFileFreeSpace, SampleFilesMatchTheDefinition) {
  const auto samples = vesk_test::automatic_jumplist_samples();
  if (samples.empty()) GTEST_SKIP() << "sample folder absent";
  size_t files = 0;
  for (const auto& s : samples) {
    EXPECT_TRUE(same_as_definition(s.bytes, s.relpath));
    ++files;
  }
  EXPECT_GT(files, 0u);
}
