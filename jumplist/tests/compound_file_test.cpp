#include "jumplist/compound_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <tuple>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "cfb_writer.h"
#include "foundation/vk_bytes.h"

using namespace vk;
using vesk_test::cfb_layout;
using vesk_test::cfb_pattern;
using vesk_test::cfb_writer;
using vesk_test::put_le32;
namespace hdr = vk::cfb::header;

namespace {

struct parsed {
  compound_file_reader reader;
  std::vector<uint8_t> image;
  bool ok = false;
  explicit parsed(std::vector<uint8_t> img) : image(std::move(img)) {
    ok = parse_compound_image(&reader, image.data(), image.size());
  }
  bool read(std::string_view name, std::vector<uint8_t>& out, uint64_t& offset,
            uint32_t* entry = nullptr) {
    uint32_t e = 0;
    bool r = read_stream(reader, out, e, offset, name, image.data(), image.size());
    if (entry) *entry = e;
    return r;
  }
};

// Root, a 5,000-byte DestList in regular sectors and two mini streams.
cfb_writer basic_writer() {
  cfb_writer w;
  w.stream(u"DestList", cfb_pattern(5000, 1))
      .stream(u"1", cfb_pattern(100, 2))
      .stream(u"a", cfb_pattern(300, 3));
  return w;
}

}  // namespace

TEST(CompoundFileRead, RegularAndMiniStreamsGiveExactBytesAndOffsets) {
  cfb_writer w = basic_writer();
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> out;
  uint64_t offset = 0;
  uint32_t entry = 0;
  ASSERT_TRUE(p.read("destlist", out, offset, &entry));
  EXPECT_EQ(out, w.info(u"DestList").data);
  EXPECT_EQ(offset, w.info(u"DestList").first_offset);
  EXPECT_EQ(entry, w.info(u"DestList").entry_num);
  for (auto name : {u"1", u"a"}) {
    const auto& info = w.info(name);
    ASSERT_TRUE(info.mini);
    std::string narrow(info.name.begin(), info.name.end());
    ASSERT_TRUE(p.read(narrow, out, offset, &entry)) << narrow;
    EXPECT_EQ(out, info.data) << narrow;
    EXPECT_EQ(offset, info.first_offset) << narrow;
    EXPECT_EQ(entry, info.entry_num);
  }
  // Streams whose sectors follow one another are handed out in place.
  std::vector<uint8_t> scratch;
  for (auto name : {u"DestList", u"1", u"a"}) {
    const auto& info = w.info(name);
    std::string narrow(info.name.begin(), info.name.end());
    byte_view view;
    ASSERT_TRUE(stream_bytes(p.reader, narrow, p.image.data(), p.image.size(), scratch, view, entry,
                             offset, p.reader.m_faults));
    EXPECT_EQ(view.data(), p.image.data() + info.first_offset) << narrow;
    EXPECT_EQ(std::vector<uint8_t>(view.data(), view.data() + view.size()), info.data);
  }
  EXPECT_TRUE(scratch.empty());
  // Names are matched without regard to case; unknown names fail.
  EXPECT_TRUE(p.read("DESTLIST", out, offset));
  EXPECT_TRUE(p.read("A", out, offset));
  EXPECT_FALSE(p.read("b", out, offset));
  EXPECT_EQ(directory_entry_count(p.reader), 4u);  // one 512-byte directory sector
  EXPECT_TRUE(is_mini_stream(p.reader, "1"));
  EXPECT_FALSE(is_mini_stream(p.reader, "destlist"));
  EXPECT_FALSE(is_mini_stream(p.reader, "Root Entry"));
}

TEST(CompoundFileRead, StreamSizeAtTheCutoffGoesThroughTheFat) {
  cfb_writer w;
  w.stream(u"small", cfb_pattern(4095, 5)).stream(u"big", cfb_pattern(4096, 6));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  std::vector<uint64_t> regular, mini;
  uint32_t in_sector;
  uint64_t first;
  ASSERT_TRUE(locate_stream(p.reader, regular, mini, in_sector, first, "small"));
  EXPECT_TRUE(regular.empty());
  EXPECT_EQ(mini.size(), 64u);
  ASSERT_TRUE(locate_stream(p.reader, regular, mini, in_sector, first, "big"));
  EXPECT_EQ(regular.size(), 8u);
  EXPECT_TRUE(mini.empty());
  std::vector<uint8_t> out;
  ASSERT_TRUE(p.read("small", out, first));
  EXPECT_EQ(out, w.info(u"small").data);
  ASSERT_TRUE(p.read("big", out, first));
  EXPECT_EQ(out, w.info(u"big").data);
}

TEST(CompoundFileRead, HeaderChecks) {
  std::vector<uint8_t> img = basic_writer().build();
  compound_file_reader r;
  EXPECT_FALSE(parse_compound_image(nullptr, img.data(), img.size()));
  EXPECT_FALSE(parse_compound_image(&r, img.data(), 511));
  EXPECT_TRUE(is_compound_file(img.data(), 512));
  EXPECT_FALSE(is_compound_file(img.data(), 511));

  // A class id that is not zero is taken as it stands.
  auto clsid = img;
  clsid[hdr::clsid + 12] = 1;
  EXPECT_TRUE(is_cfb_header(clsid.data()));
  EXPECT_TRUE(parse_compound_image(&r, clsid.data(), clsid.size()));

  // Directory sector beyond the image.
  auto dir = img;
  put_le32(dir, hdr::first_dir_sector, 1000);
  EXPECT_FALSE(parse_compound_image(&r, dir.data(), dir.size()));
  // 512 bytes only: the first directory sector cannot lie inside.
  EXPECT_FALSE(parse_compound_image(&r, img.data(), 512));

  // Shifts of 32 or more, and sectors larger than the image, are refused.
  for (uint16_t shift : {32, 40, 0xFFFF, 20}) {
    auto bad = img;
    bad[hdr::sector_shift] = static_cast<uint8_t>(shift);
    bad[hdr::sector_shift + 1] = static_cast<uint8_t>(shift >> 8);
    EXPECT_FALSE(parse_compound_image(&r, bad.data(), bad.size())) << shift;
  }
  auto bad_mini = img;
  bad_mini[hdr::mini_sector_shift] = 33;
  EXPECT_FALSE(parse_compound_image(&r, bad_mini.data(), bad_mini.size()));

  // No root entry.
  cfb_writer w = basic_writer();
  auto noroot = w.build();
  noroot[w.dir_entry_offset(0) + cfb::dirent::name] = 'X';
  EXPECT_FALSE(parse_compound_image(&r, noroot.data(), noroot.size()));
  EXPECT_TRUE(r.m_slack_areas.empty());
  EXPECT_TRUE(r.m_free_granules.empty());
}

TEST(CompoundFileRead, DirectoryOffsetAndMaxImageSizeIn64Bits) {
  std::vector<uint8_t> img = basic_writer().build();
  EXPECT_EQ(cfb_directory_offset(img.data()),
            (uint64_t{load_le32(img.data() + hdr::first_dir_sector)} + 1) * 512);
  put_le32(img, hdr::first_dir_sector, 0xFFFFFFF0u);
  EXPECT_EQ(cfb_directory_offset(img.data()), 0xFFFFFFF1ull * 512);
  put_le32(img, hdr::num_fat_sectors, 0xFFFFFFFFu);
  EXPECT_EQ(cfb_max_image_size(img.data()), 0xFFFFFFFFull * 512 * 128 + 512);
  img[hdr::sector_shift] = 31;  // 2 GiB sectors: saturates instead of wrapping
  EXPECT_EQ(cfb_max_image_size(img.data()), UINT64_MAX);
  img[hdr::sector_shift] = 32;
  EXPECT_EQ(cfb_max_image_size(img.data()), 0u);
  img[hdr::signature] = 0;
  EXPECT_EQ(cfb_directory_offset(img.data()), 0u);
}

TEST(CompoundFileRead, EqualNamesKeepDirectoryOrder) {
  cfb_writer w;
  w.stream(u"Data", cfb_pattern(5000, 1)).stream(u"DATA", cfb_pattern(6000, 2));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.reader.m_entries.count("data"), 2u);
  std::vector<uint8_t> out;
  uint64_t offset;
  ASSERT_TRUE(p.read("data", out, offset));
  EXPECT_EQ(out, w.info(u"Data").data);
  // Both count as used space: no slack at all.
  EXPECT_TRUE(p.reader.m_slack_areas.empty());
}

TEST(CompoundFileRead, StreamNamedLikeTheRootIsUsedSpace) {
  // A second entry under the root's lower-cased name is a stream like any
  // other: its sectors are used space, and look-ups find the real root.
  cfb_writer w;
  w.stream(u"1", cfb_pattern(100, 1)).stream(u"ROOT ENTRY", cfb_pattern(5000, 2));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.reader.m_entries.count("root entry"), 2u);
  EXPECT_EQ(find_cfb_entry(p.reader, "root entry")->m_entry_num, 0u);
  std::vector<uint8_t> out;
  uint64_t offset;
  ASSERT_TRUE(p.read("1", out, offset));
  EXPECT_EQ(out, w.info(u"1").data);
  // Only the unused mini sectors of the root's one sector are slack.
  uint64_t used_end = w.mini_offset(w.info(u"1").chain.back()) + 64;
  EXPECT_EQ(
      p.reader.m_slack_areas,
      (std::vector<cfb_area>{{used_end, w.sector_offset(w.root_sectors[0]) + 512 - used_end}}));
  std::vector<uint8_t> alloc, gaps;
  ASSERT_TRUE(stream_sector_ranges(p.reader, alloc, gaps, p.image.data(), p.image.size()));
  EXPECT_EQ(alloc.size(), (1u + 10u) * 512);  // the root's sector and the stream's ten
}

TEST(CompoundFileRead, EmptyAndUnallocatedEntriesHaveNoSectors) {
  cfb_writer w;
  w.stream(u"empty", {}).stream(u"gone", cfb_pattern(5000, 9));
  auto img = w.build();
  img[w.dir_entry_offset(w.info(u"gone").entry_num) + cfb::dirent::object_type] = 0;
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> out;
  uint64_t offset;
  EXPECT_FALSE(p.read("empty", out, offset));
  EXPECT_FALSE(p.read("gone", out, offset));
  // The unallocated stream's sectors are now slack.
  ASSERT_FALSE(p.reader.m_slack_areas.empty());
  EXPECT_EQ(p.reader.m_slack_areas.back().first, w.sector_offset(w.info(u"gone").chain.front()));
}

TEST(CompoundFileRead, StreamCutByImageEndKeepsPlacesAndZeros) {
  cfb_writer w;
  w.stream(u"s", cfb_pattern(10 * 512, 4));
  auto img = w.build();
  img.resize(img.size() - 100);  // the last sector of the stream is cut
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint64_t> sectors(w.info(u"s").chain.begin(), w.info(u"s").chain.end());
  std::vector<uint8_t> out;
  uint64_t first;
  ASSERT_TRUE(read_fat_sectors(p.reader, out, first, p.image.data(), p.image.size(), sectors,
                               p.reader.m_faults));
  ASSERT_EQ(out.size(), 10u * 512);
  auto expect = w.info(u"s").data;
  std::fill(expect.end() - 100, expect.end(), 0);
  EXPECT_EQ(out, expect);
  // A sector entirely past the end keeps its place too.
  sectors.insert(sectors.begin() + 1, 100000);
  ASSERT_TRUE(read_fat_sectors(p.reader, out, first, p.image.data(), p.image.size(), sectors,
                               p.reader.m_faults));
  ASSERT_EQ(out.size(), 11u * 512);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 512, expect.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 512, out.begin() + 1024, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(out.begin() + 1024, out.end(), expect.begin() + 512));
}

TEST(CompoundFileRead, StreamCutToDeclaredSize) {
  cfb_writer w;
  w.stream(u"s", cfb_pattern(5000, 4));
  auto img = w.build();
  // Sector slack after the stream holds bytes that are not part of it.
  size_t last = w.sector_offset(w.info(u"s").chain.back());
  std::fill(img.begin() + last + 5000 % 512, img.begin() + last + 512, 0x4C);
  parsed p(img);
  std::vector<uint8_t> out;
  uint64_t offset;
  ASSERT_TRUE(p.read("s", out, offset));
  EXPECT_EQ(out.size(), 5000u);
}

TEST(CompoundFileChains, LoopingFatChainStopsAtTheRepeat) {
  cfb_writer w;
  w.orphan_sector(8);
  auto img = w.build();
  // Sectors 5 and 6 are reached by nothing; make them a loop 5 -> 6 -> 5.
  ASSERT_NE(std::find(w.orphan_sectors.begin(), w.orphan_sectors.end(), 5u),
            w.orphan_sectors.end());
  ASSERT_NE(std::find(w.orphan_sectors.begin(), w.orphan_sectors.end(), 6u),
            w.orphan_sectors.end());
  put_le32(img, w.fat_entry_offset(5), 6);
  put_le32(img, w.fat_entry_offset(6), 5);
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint64_t> chain;
  ASSERT_TRUE(follow_fat_chain(p.reader, chain, 5));
  EXPECT_EQ(chain, (std::vector<uint64_t>{5, 6}));
  // The scratch marks are clear again: the same walk gives the same result.
  ASSERT_TRUE(follow_fat_chain(p.reader, chain, 6));
  EXPECT_EQ(chain, (std::vector<uint64_t>{6, 5}));
  // A start without a link (a special id) gives nothing.
  EXPECT_FALSE(follow_fat_chain(p.reader, chain, cfb_endofchain));
  // A zero step can never cover the bound: the walk stops at the repeat.
  ASSERT_TRUE(follow_fat_chain_bounded(chain, p.reader.m_fat_links, 5, 1000, 0));
  EXPECT_EQ(chain, (std::vector<uint64_t>{5, 6}));
  // A step of one sector per link repeats the loop until the bound is passed.
  ASSERT_TRUE(follow_fat_chain_bounded(chain, p.reader.m_fat_links, 5, 3, 1));
  EXPECT_EQ(chain, (std::vector<uint64_t>{5, 6, 5, 6}));
}

TEST(CompoundFileChains, LinksSetAgainAreCountedOnce) {
  // Runs of links set in any order, over links set before or not, in a
  // table sized at once or grown as they come: each sector counts once,
  // and a run tells whether it names a FAT or DIFAT sector.
  struct run {
    uint32_t first, count;
    uint32_t table_at = UINT32_MAX;  // where the run holds FATSECT
  };
  const std::vector<std::vector<run>> cases = {
      {{0, 16}, {16, 16}},
      {{8, 16}, {0, 16}},
      {{0, 16}, {4, 8}, {20, 8, 3}},
      {{24, 8}, {0, 32, 31}, {10, 30}},
  };
  std::vector<uint8_t> bytes(4 * 40);
  for (const bool sized : {true, false}) {
    for (size_t k = 0; k < cases.size(); ++k) {
      fat_link_map links;
      if (sized) {
        ASSERT_TRUE(links.reserve_index(64));
      }
      std::vector<uint8_t> set(64, 0);
      for (const run& r : cases[k]) {
        for (uint32_t i = 0; i < r.count; ++i)
          put_le32(bytes, 4 * i, i == r.table_at ? cfb::fatsect : r.first + i + 1);
        bool table = false;
        ASSERT_TRUE(links.set_run(r.first, byte_view(bytes.data(), bytes.size()), r.count, &table));
        EXPECT_EQ(table, r.table_at != UINT32_MAX) << k;
        std::fill_n(set.begin() + r.first, r.count, uint8_t{1});
        EXPECT_EQ(links.size(), static_cast<size_t>(std::count(set.begin(), set.end(), 1)))
            << k << " sized " << sized;
      }
      // A link set alone among them counts as a run's do.
      ASSERT_TRUE(links.set(50, 7));
      ASSERT_TRUE(links.set(2, 7));
      EXPECT_EQ(links.size(), static_cast<size_t>(std::count(set.begin(), set.end(), 1)) + 1) << k;
    }
  }
}

TEST(CompoundFileChains, SelfLinkedMiniChainIsBounded) {
  cfb_writer w;
  w.stream(u"m", cfb_pattern(100, 1));
  auto img = w.build();
  uint32_t m = w.info(u"m").chain[0];
  put_le32(img, w.minifat_entry_offset(m), m);  // links to itself
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint64_t> regular, mini;
  uint32_t in_sector;
  uint64_t first;
  ASSERT_TRUE(locate_stream(p.reader, regular, mini, in_sector, first, "m"));
  EXPECT_EQ(mini, (std::vector<uint64_t>{m, m}));  // 2 x 64 bytes cover the 100
  // A huge declared size is still bounded by what the mini stream holds.
  std::vector<uint64_t> out;
  follow_fat_chain_bounded(out, p.reader.m_minifat_links, m, 0xFFFFFFFFu, 64, 8);
  EXPECT_EQ(out.size(), 8u);
  follow_fat_chain_bounded(out, p.reader.m_minifat_links, m, 100, 64);
  EXPECT_EQ(out.size(), 2u);
}

TEST(CompoundFileChains, MiniStreamBeyondRootSectorsIsMissing) {
  cfb_writer w;
  w.stream(u"m", cfb_pattern(100, 1)).stream(u"n", cfb_pattern(100, 2));
  auto img = w.build();
  uint32_t e = w.info(u"m").entry_num;
  put_le32(img, w.dir_entry_offset(e) + cfb::dirent::start_sector,
           200);  // no such mini sector in the root's sectors
  put_le32(img, w.minifat_entry_offset(0), cfb_endofchain);
  // Give mini sector 200 a link so the chain has something to start from.
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> out;
  uint64_t offset;
  EXPECT_FALSE(p.read("m", out, offset));
  ASSERT_TRUE(p.read("n", out, offset));  // the other streams are still read
  EXPECT_EQ(out, w.info(u"n").data);
}

TEST(CompoundFileChains, MoreThan109FatSectorsWithDifatSectors) {
  cfb_layout layout;
  layout.min_fat_sectors = 240;  // 109 in the header, the rest in two DIFAT sectors
  layout.unused_sector0 = true;  // the header names the first DIFAT sector (a 0 is not taken)
  cfb_writer w(layout);
  w.stream(u"DestList", cfb_pattern(200 * 512, 3)).stream(u"1", cfb_pattern(700, 4));
  auto img = w.build();
  ASSERT_EQ(w.difat_sectors.size(), 2u);
  {
    parsed p(img);
    ASSERT_TRUE(p.ok);
    std::vector<uint8_t> out;
    uint64_t offset;
    ASSERT_TRUE(p.read("destlist", out, offset));
    EXPECT_EQ(out, w.info(u"DestList").data);
    ASSERT_TRUE(p.read("1", out, offset));
    EXPECT_EQ(out, w.info(u"1").data);
  }
  // Every FAT sector now comes from the first DIFAT sector, whose second slot
  // is the link to the next DIFAT sector: read as a FAT sector, it would move
  // every later FAT entry and break the stream's chain.
  put_le32(img, hdr::difat, cfb_endofchain);
  size_t d0 = w.sector_offset(w.difat_sectors[0]);
  std::fill(img.begin() + d0, img.begin() + d0 + w.S, 0xFF);
  put_le32(img, d0 + 0 * cfb::fat_entry_size, w.fat_sectors[0]);
  put_le32(img, d0 + 1 * cfb::fat_entry_size, w.difat_sectors[1]);
  put_le32(img, d0 + 2 * cfb::fat_entry_size, w.fat_sectors[1]);
  put_le32(img, d0 + 3 * cfb::fat_entry_size, w.fat_sectors[2]);
  put_le32(img, d0 + 4 * cfb::fat_entry_size, w.fat_sectors[3]);
  put_le32(img, d0 + 5 * cfb::fat_entry_size, cfb_endofchain);
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> out;
  uint64_t offset;
  ASSERT_TRUE(p.read("destlist", out, offset));
  EXPECT_EQ(out, w.info(u"DestList").data);
  auto link = p.reader.m_fat_links.find(w.difat_sectors[1]);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->m_value, cfb_difatsect);
  EXPECT_TRUE(link->m_is_difat);
}

TEST(CompoundFileChains, FirstDifatSectorZeroIsNotTaken) {
  cfb_layout layout;
  layout.min_fat_sectors = 120;
  cfb_writer w(layout);
  w.stream(u"s", cfb_pattern(6000, 3));
  auto img = w.build();
  ASSERT_EQ(w.difat_sectors[0], 0u);
  ASSERT_EQ(load_le32(img.data() + hdr::first_difat_sector), 0u);  // the header names sector 0
  parsed p(img);
  ASSERT_TRUE(p.ok);  // still found: the FAT marks it DIFATSECT
  std::vector<uint8_t> out;
  uint64_t offset;
  ASSERT_TRUE(p.read("s", out, offset));
  EXPECT_EQ(out, w.info(u"s").data);
}

TEST(CompoundFileChains, RepeatedDifatSlotsStayBoundedByTheImage) {
  cfb_layout layout;
  layout.min_fat_sectors = 120;
  cfb_writer w(layout);
  w.stream(u"s", cfb_pattern(6000, 3));
  auto img = w.build();
  // Every header slot and every DIFAT slot names FAT sector 0; the DIFAT
  // sector links to itself.
  put_le32(img, hdr::num_fat_sectors, 0xFFFFFFFFu);
  for (size_t k = 0; k < hdr::difat_slots; ++k) put_le32(img, hdr::difat + 4 * k, w.fat_sectors[0]);
  size_t d0 = w.sector_offset(w.difat_sectors[0]);
  for (size_t j = 0; j < 128; ++j)
    put_le32(img, d0 + 4 * j, j % 2 ? w.difat_sectors[0] : w.fat_sectors[0]);
  parsed p(img);
  EXPECT_TRUE(p.ok);
  EXPECT_LE(p.reader.m_fat_links.size(), img.size() / 512);
}

TEST(CompoundFileSpace, FreeSectorBetweenUsedOnesIsOneSlackArea) {
  cfb_writer w;
  w.stream(u"a", cfb_pattern(5000, 1)).free_sector().stream(u"b", cfb_pattern(5000, 2));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(w.free_sectors.size(), 1u);
  uint64_t n = w.free_sectors[0];
  EXPECT_EQ(p.reader.m_free_sectors, (std::vector<uint64_t>{n}));
  ASSERT_EQ(p.reader.m_slack_areas.size(), 1u);
  EXPECT_EQ(p.reader.m_slack_areas[0], (cfb_area{(n + 1) * 512, 512}));
}

TEST(CompoundFileSpace, UnusedMiniSectorsAreSlackInsideTheRoot) {
  cfb_writer w;
  w.stream(u"1", cfb_pattern(100, 1));
  w.mini_gap(1);
  w.stream(u"2", cfb_pattern(64, 2));
  w.mini_gap(3);
  w.stream(u"3", cfb_pattern(10, 3));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  std::vector<cfb_area> expect = {{w.mini_offset(w.free_mini[0]), 64},
                                  {w.mini_offset(w.free_mini[1]), 3 * 64}};
  // Mini sectors after the last stream up to the end of the root's sector.
  uint64_t used_end = w.mini_offset(w.info(u"3").chain.back()) + 64;
  uint64_t root_end = w.sector_offset(w.root_sectors.back()) + 512;
  if (used_end < root_end) expect.push_back({used_end, root_end - used_end});
  EXPECT_EQ(p.reader.m_slack_areas, expect);
  EXPECT_TRUE(p.reader.m_free_sectors.empty());
  EXPECT_EQ(p.reader.m_free_granules.size(), 4u + (root_end - used_end) / 64);
}

TEST(CompoundFileSpace, OrphanSectorIsSlackButNotFreeAndSectorZeroNeverSlack) {
  cfb_layout layout;
  layout.unused_sector0 = true;
  cfb_writer w(layout);
  w.stream(u"a", cfb_pattern(5000, 1)).orphan_sector().stream(u"b", cfb_pattern(5000, 2));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(w.orphan_sectors.size(), 2u);
  EXPECT_EQ(w.orphan_sectors[0], 0u);
  EXPECT_TRUE(p.reader.m_free_sectors.empty());
  uint64_t n = w.orphan_sectors[1];
  EXPECT_EQ(p.reader.m_slack_areas, (std::vector<cfb_area>{{(n + 1) * 512, 512}}));
  for (const auto& [offset, length] : p.reader.m_slack_areas) EXPECT_GE(offset, 1024u);
}

TEST(CompoundFileSpace, PartialLastSectorIsFreeButHasNoGranules) {
  cfb_writer w;
  w.stream(u"a", cfb_pattern(5000, 1)).free_sector();
  auto img = w.build();
  img.resize(img.size() - 200);
  parsed p(img);
  ASSERT_TRUE(p.ok);
  uint64_t n = w.free_sectors[0];
  EXPECT_EQ(p.reader.m_free_sectors, (std::vector<uint64_t>{n}));
  EXPECT_TRUE(p.reader.m_slack_areas.empty());
  EXPECT_EQ(p.reader.m_sector_count, n);
}

TEST(CompoundFileSpace, StreamSectorRangesGivesSectorsAndGaps) {
  cfb_writer w;
  w.stream(u"a", cfb_pattern(5000, 1)).free_sector(3).stream(u"b", cfb_pattern(5000, 2));
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> alloc, gaps;
  ASSERT_TRUE(stream_sector_ranges(p.reader, alloc, gaps, p.image.data(), p.image.size()));
  // The root entry has no sectors here (no mini streams): a and b only.
  EXPECT_EQ(alloc.size(), 2u * 10 * 512);
  ASSERT_EQ(gaps.size(), 3u * 512);
  size_t gap_at = w.sector_offset(w.free_sectors[0]);
  EXPECT_TRUE(std::equal(gaps.begin(), gaps.end(), p.image.begin() + gap_at));
}

TEST(CompoundFileSpace, StreamsSharingSectorsCountOnce) {
  cfb_writer w;
  w.stream(u"a", cfb_pattern(5000, 1)).stream(u"b", cfb_pattern(5000, 2));
  auto img = w.build();
  // b starts in the middle of a's chain.
  put_le32(img, w.dir_entry_offset(w.info(u"b").entry_num) + cfb::dirent::start_sector,
           w.info(u"a").chain[4]);
  parsed p(img);
  ASSERT_TRUE(p.ok);
  std::vector<uint8_t> alloc, gaps;
  ASSERT_TRUE(stream_sector_ranges(p.reader, alloc, gaps, p.image.data(), p.image.size()));
  EXPECT_EQ(alloc.size(), 10u * 512);
  // b's own sectors are reached by nothing now.
  EXPECT_EQ(p.reader.m_slack_areas.size(), 1u);
}

TEST(CompoundFileMisc, SectorIdNames) {
  std::ostringstream s;
  sector_id_name(s, cfb_endofchain, "");
  sector_id_name(s, 0xFFFFFFFBu, " ");
  sector_id_name(s, 12, " n=");
  sector_id_name(s, cfb_freesect, " ");
  sector_id_name(s, cfb_maxregsect, " ");
  EXPECT_EQ(s.str(), "ENDOFCHAIN 4294967291 n=12 FREESECT MAXREGSECT");
}

TEST(CompoundFileMisc, EntryQueriesAndDump) {
  cfb_writer w = basic_writer();
  parsed p(w.build());
  ASSERT_TRUE(p.ok);
  std::vector<uint64_t> sectors;
  uint64_t size = 0;
  ASSERT_TRUE(find_entry_sectors(p.reader, sectors, size, "DestList"));
  EXPECT_EQ(size, 5000u);
  EXPECT_EQ(sectors.size(), 10u);
  EXPECT_FALSE(find_entry_sectors(p.reader, sectors, size, "nothing"));

  std::vector<uint64_t> mini(w.info(u"a").chain.begin(), w.info(u"a").chain.end());
  uint32_t in_sector;
  uint64_t first;
  ASSERT_TRUE(mini_to_regular_sectors(p.reader, sectors, in_sector, first, mini));
  EXPECT_EQ(first, w.info(u"a").first_offset);
  EXPECT_EQ(sectors.size(), 1u);

  std::vector<uint8_t> out;
  std::vector<uint64_t> regular;
  uint8_t mini_flag = 0;
  ASSERT_TRUE(read_stream_sectors(p.reader, out, regular, mini, mini_flag, first, "a",
                                  p.image.data(), p.image.size()));
  EXPECT_EQ(mini_flag, 1);
  EXPECT_EQ(out, w.info(u"a").data);  // cut to the declared 300 bytes
  EXPECT_EQ(mini.size(), 5u);

  // By position in the directory: entry 0 is the root, whatever the names.
  ASSERT_TRUE(entry_sectors_by_index(p.reader, sectors, size, w.info(u"DestList").entry_num));
  EXPECT_EQ(size, 5000u);
  EXPECT_EQ(sectors, std::vector<uint64_t>(w.info(u"DestList").chain.begin(),
                                           w.info(u"DestList").chain.end()));
  ASSERT_TRUE(entry_sectors_by_index(p.reader, sectors, size, w.info(u"a").entry_num));
  EXPECT_EQ(size, 300u);
  EXPECT_EQ(sectors, mini);
  ASSERT_TRUE(entry_sectors_by_index(p.reader, sectors, size, 0));
  EXPECT_EQ(sectors, std::vector<uint64_t>(w.root_sectors.begin(), w.root_sectors.end()));
  // Positions past the directory (one sector of four entries) have none.
  size = 7;
  EXPECT_FALSE(entry_sectors_by_index(p.reader, sectors, size, 4));
  EXPECT_FALSE(entry_sectors_by_index(p.reader, sectors, size, 0xFFFFFFFFu));
  EXPECT_TRUE(sectors.empty());
  EXPECT_EQ(size, 7u);

  std::ostringstream dump;
  dump_directory(p.reader, dump);
  EXPECT_NE(dump.str().find("destlist : \n"), std::string::npos);

  // A reset reader is empty and its guards are set.
  reset_compound_file_reader(p.reader);
  EXPECT_EQ(directory_entry_count(p.reader), 0u);
  EXPECT_EQ(p.reader.m_guard_head[0], 0xAA);
  EXPECT_EQ(p.reader.m_guard_tail[15], 0xBB);
}

namespace {

// Reads through a callback over the bytes, counting what is asked for.
struct counted_source {
  const std::vector<uint8_t>& bytes;
  uint64_t asked = 0;
  cfb_read_at reader() {
    return [this](uint64_t offset, uint8_t* into, size_t count) -> size_t {
      asked += count;
      if (offset >= bytes.size()) return 0;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes.size() - offset));
      std::memcpy(into, bytes.data() + offset, n);
      return n;
    };
  }
};

// The bytes of a stream read through its pieces.
std::vector<uint8_t> bytes_of_pieces(const std::vector<uint8_t>& image,
                                     const std::vector<cfb_run_piece>& pieces) {
  std::vector<uint8_t> out;
  for (const cfb_run_piece& p : pieces) {
    EXPECT_EQ(p.m_run_offset, out.size());
    if (p.m_file_offset == cfb_zero_piece)
      out.insert(out.end(), p.m_length, 0);
    else
      out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(p.m_file_offset),
                 image.begin() + static_cast<std::ptrdiff_t>(p.m_file_offset + p.m_length));
  }
  return out;
}

}  // namespace

TEST(CompoundFileEmbedded, ReachEndsWithTheLastSectorUsedAndTheParseStaysTheSame) {
  struct layout_case {
    const char* name;
    cfb_layout layout;
    size_t padding = 70000;
    size_t difat = 0;  // DIFAT sectors the layout takes
    // Bytes at the end past the reach: the last DIFAT sector, when the FAT
    // sectors before it cover every sector already.
    size_t left_out = 0;
    // Its streams run past the FAT sectors the walk can place (its DIFAT
    // starts at sector 0, which only the FAT's marks name).
    bool unplaced = false;
  };
  cfb_layout large_sectors, difat, difat_last, streams_first, long_difat;
  large_sectors.sector_shift = 12;
  difat.min_fat_sectors = 240;
  difat.unused_sector0 = true;
  difat_last = difat;
  difat_last.later_difat_last = true;
  streams_first.streams_first = true;
  long_difat.later_difat_last = true;
  long_difat.unused_sector0 = true;
  // A DIFAT starting at sector 0, which the header cannot name: the parse
  // finds it by the FAT's marks alone, the walk not at all.
  cfb_layout difat0 = difat, long_difat0 = long_difat;
  difat0.unused_sector0 = long_difat0.unused_sector0 = false;
  // Streams of 24 MiB take 385 FAT sectors: a DIFAT chain of three.
  for (const layout_case& c :
       {layout_case{"plain", {}}, layout_case{"4 KiB", large_sectors},
        layout_case{"DIFAT", difat, 70000, 2}, layout_case{"DIFAT last", difat_last, 70000, 2, 512},
        layout_case{"streams first", streams_first},
        layout_case{"24 MiB", long_difat, size_t{24} << 20, 3},
        layout_case{"DIFAT at 0", difat0, 70000, 2},
        layout_case{"24 MiB, DIFAT at 0", long_difat0, size_t{24} << 20, 3, 0, true}}) {
    cfb_writer w(c.layout);
    // Forty mini streams: directory and mini FAT chains of several sectors.
    for (char16_t i = 0; i < 40; ++i)
      w.stream({u'm', char16_t(u'a' + i / 26), char16_t(u'a' + i % 26)}, cfb_pattern(300, 1));
    w.stream(u"DestList", cfb_pattern(9000, 1)).stream(u"1", cfb_pattern(700, 2));
    w.stream(u"2", cfb_pattern(300, 3)).stream(u"Padding", cfb_pattern(c.padding, 4));
    const std::vector<uint8_t> list = w.build();
    EXPECT_EQ(w.difat_sectors.size(), c.difat) << c.name;
    // Followed by 1 MiB that its FAT could address but nothing uses.
    std::vector<uint8_t> data = list;
    data.resize(list.size() + (1 << 20), 0xAB);
    counted_source source{data};
    const cfb_reach r = embedded_cfb_reach(data.data(), data.size(), source.reader());
    if (c.unplaced) {
      // Its parse may place them: it reads the image as far as the bound
      // at once, not cut where the walk stopped.
      EXPECT_EQ(r.links_past, data.size()) << c.name;
      EXPECT_LT(source.asked, list.size() / 4) << c.name;
      continue;
    }
    // Every sector the parse reads.
    EXPECT_EQ(r.reach, list.size() - c.left_out) << c.name;
    EXPECT_LT(source.asked, list.size() / 4) << c.name;
    // The parse of the image as far as the reach: the same streams.
    std::vector<uint8_t> reached(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(r.reach));
    parsed whole(data), cut(reached);
    ASSERT_TRUE(whole.ok && cut.ok) << c.name;
    EXPECT_FALSE(cfb_image_cut(cut.reader)) << c.name;
    for (const char* name : {"destlist", "1", "2", "padding"}) {
      std::vector<uint8_t> a, b;
      uint64_t at_a = 0, at_b = 0;
      ASSERT_TRUE(whole.read(name, a, at_a) && cut.read(name, b, at_b)) << c.name << name;
      EXPECT_EQ(a, b) << c.name << name;
      EXPECT_EQ(at_a, at_b) << c.name << name;
    }
    // A parse of that image held in part (its header alone), its table
    // sectors read through the table reader as it comes to them: each chain
    // (the DIFAT's sector by sector, the FAT's, the directory's, the mini
    // FAT's) is followed whole in the one parse, which reads those sectors
    // and no other (of a FAT padded past the image, those the image needs),
    // and finds what the image whole gives.
    std::vector<uint8_t> held(reached.size(), 0);
    std::copy_n(reached.begin(), 512, held.begin());
    std::vector<uint64_t> fetched;
    const compound_file_reader::table_reader fetch = [&](uint64_t at, uint8_t* into, size_t count) {
      fetched.push_back(at / w.S - 1);
      ASSERT_LE(at + count, reached.size());
      std::copy_n(reached.begin() + static_cast<std::ptrdiff_t>(at), count, into);
    };
    compound_file_reader part;
    part.m_read_table = &fetch;
    ASSERT_TRUE(parse_compound_image(&part, held.data(), held.size(), false)) << c.name;
    std::sort(fetched.begin(), fetched.end());
    fetched.erase(std::unique(fetched.begin(), fetched.end()), fetched.end());
    std::vector<uint64_t> tables;
    for (const auto* l : {&w.difat_sectors, &w.fat_sectors, &w.dir_sectors, &w.minifat_sectors})
      tables.insert(tables.end(), l->begin(), l->end());
    std::sort(tables.begin(), tables.end());
    if (c.layout.min_fat_sectors)
      EXPECT_TRUE(std::includes(tables.begin(), tables.end(), fetched.begin(), fetched.end()));
    else
      EXPECT_EQ(fetched, tables) << c.name;
    EXPECT_EQ(part.m_fat_links.size(), cut.reader.m_fat_links.size()) << c.name;
    EXPECT_EQ(part.m_minifat_links.size(), cut.reader.m_minifat_links.size()) << c.name;
    ASSERT_EQ(part.m_entries.size(), cut.reader.m_entries.size()) << c.name;
    for (const auto& [key, entry] : cut.reader.m_entries) {
      const cfb_dir_entry* found = find_cfb_entry(part, key);
      ASSERT_NE(found, nullptr) << c.name << key;
      EXPECT_EQ(cfb_entry_sectors(part, *found), cfb_entry_sectors(cut.reader, entry))
          << c.name << key;
    }
  }

  // A false header declaring 2,047 FAT sectors whose first FAT and
  // directory sectors lie in the data: two sectors read, no root entry.
  std::vector<uint8_t> data = basic_writer().build();
  data.resize(8 << 20, 0);
  put_le32(data, hdr::num_fat_sectors, 2047);
  put_le32(data, hdr::first_dir_sector, 100);
  counted_source source{data};
  const cfb_reach r = embedded_cfb_reach(data.data(), data.size(), source.reader());
  EXPECT_EQ(r.reach, 0u);
  EXPECT_LE(r.sectors_read, 2u);
  EXPECT_LE(source.asked, 2u * 512);
  // A false header of no stream whose DIFAT chain of 15 sectors names
  // 1,999 FAT sectors: its DIFAT read, none of its FAT sectors.
  for (const bool marked : {false, true}) {
    std::vector<uint8_t> far = vesk_test::far_difat_cfb(15, 8 << 20, marked);
    far.resize(8 << 20, 0x5A);
    counted_source far_source{far};
    const cfb_reach reached = embedded_cfb_reach(far.data(), far.size(), far_source.reader());
    EXPECT_FALSE(reached.streams) << marked;
    EXPECT_LE(reached.sectors_read, 20u) << marked;
  }
  // A stream whose chain starts past every sector its one FAT sector
  // covers: no FAT sector holds that link, in the walk or the parse, so
  // the image is not taken to its bound for it.
  {
    cfb_writer w;
    w.stream(u"big", cfb_pattern(5000, 1));
    std::vector<uint8_t> past = w.build();
    put_le32(past, w.dir_entry_offset(w.info(u"big").entry_num) + cfb::dirent::start_sector, 1000);
    past.resize(1 << 20, 0x5A);
    counted_source past_source{past};
    const cfb_reach reached = embedded_cfb_reach(past.data(), past.size(), past_source.reader());
    EXPECT_TRUE(reached.streams);
    EXPECT_LT(reached.links_past, past.size());
  }
  // A directory start or shifts the parse could not use: nothing read.
  for (const auto& [field, value] : {std::pair<size_t, uint32_t>{hdr::first_dir_sector, 0x7FFFFFFF},
                                     {hdr::num_fat_sectors, 0}}) {
    std::vector<uint8_t> bad = basic_writer().build();
    put_le32(bad, field, value);
    counted_source none{bad};
    EXPECT_EQ(embedded_cfb_reach(bad.data(), bad.size(), none.reader()).reach, 0u) << field;
    EXPECT_EQ(none.asked, 0u) << field;
  }
  std::vector<uint8_t> shifted = basic_writer().build();
  shifted[hdr::sector_shift] = 6;  // 64-byte sectors hold no directory entry
  counted_source none{shifted};
  EXPECT_EQ(embedded_cfb_reach(shifted.data(), shifted.size(), none.reader()).reach, 0u);
  EXPECT_EQ(none.asked, 0u);
  // Large sectors (a false header's shift) in an image of three of them:
  // the walk holds no more than the FAT sectors the image can hold.
  for (const uint16_t shift : {12, 16, 20}) {
    const uint64_t S = uint64_t{1} << shift;
    std::vector<uint8_t> large = basic_writer().build();
    large[hdr::sector_shift] = static_cast<uint8_t>(shift);
    put_le32(large, hdr::num_fat_sectors, 1);
    put_le32(large, hdr::difat, 0);
    put_le32(large, hdr::first_dir_sector, 1);
    const cfb_read_at zeros = [](uint64_t, uint8_t* into, size_t count) {
      std::memset(into, 0, count);
      return count;
    };
    const vesk_test::heap::scope heap;
    embedded_cfb_reach(large.data(), 3 * S + 4096, zeros);
    EXPECT_LE(heap.peak_above_start(), static_cast<int64_t>(3 * S)) << shift;
  }
}

namespace {

// The chain walks one sector at a time, kept as the reference for the walks
// that take runs of consecutive links at once.
struct sector_walk {
  std::vector<uint8_t> allocated, gaps;
  bool cut = false;
};
sector_walk walk_sector_by_sector(const compound_file_reader& r,
                                  const std::vector<uint8_t>& image) {
  sector_walk out;
  const fat_link_map& links = r.m_fat_links;
  const uint64_t S = r.m_sector_size;
  std::vector<uint8_t> seen(links.index_limit(), 0);
  for (const auto& [key, entry] : r.m_entries) {
    const uint64_t size = entry.stream_size();
    if (size == 0 || entry.object_type() == 0 || entry.m_mini) continue;
    uint64_t n = entry.start_sector();
    if (n < cfb::maxregsect && n >= links.index_limit()) out.cut = true;
    while (links.contains(n) && !seen[n]) {
      seen[n] = 1;
      if ((n + 2) * S <= image.size())
        out.allocated.insert(out.allocated.end(), image.begin() + (n + 1) * S,
                             image.begin() + (n + 2) * S);
      const uint32_t next = links.value(n);
      if (next >= cfb::maxregsect) break;
      if (next >= links.index_limit()) out.cut = true;
      n = next;
    }
  }
  uint64_t prev = UINT64_MAX;
  for (uint64_t k = 0; k < seen.size(); ++k) {
    if (!seen[k]) continue;
    if (prev != UINT64_MAX && k - prev >= 2 && (k + 1) * S <= image.size())
      out.gaps.insert(out.gaps.end(), image.begin() + (prev + 2) * S, image.begin() + (k + 1) * S);
    prev = k;
  }
  out.cut |= cfb_cut_structure(r) != nullptr;
  return out;
}

}  // namespace

TEST(CompoundFileChains, RunsOfConsecutiveLinksGiveWhatTheSectorWalkGives) {
  // Streams "a" and "b" of ten consecutive sectors each, changed so that
  // their runs of consecutive links break in every way a walk must stop.
  struct run_case {
    const char* name;
    cfb_layout layout;
    std::function<void(const cfb_writer&, std::vector<uint8_t>&)> change;
    size_t cut_bytes = 0;  // taken off the image's end
    // Met inside other data, a chain leads past the sectors its FAT covers.
    bool leads_past = false;
  };
  auto link = [](const cfb_writer& w, std::vector<uint8_t>& img, uint32_t from, uint32_t to) {
    put_le32(img, w.fat_entry_offset(from), to);
  };
  auto start = [](const cfb_writer& w, std::vector<uint8_t>& img, const char16_t* name,
                  uint32_t sector) {
    put_le32(img, w.dir_entry_offset(w.info(name).entry_num) + cfb::dirent::start_sector, sector);
  };
  cfb_layout difat;
  difat.min_fat_sectors = 240;  // FATSECT and DIFSECT values among the runs' links
  const std::vector<run_case> cases = {
      {"untouched", {}, [](const cfb_writer&, std::vector<uint8_t>&) {}},
      {"loop back in the middle",
       {},
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         link(w, img, w.info(u"a").chain[6], w.info(u"a").chain[2]);
       }},
      // a is walked from its sixth sector first; b then runs into it.
      {"run meets a sector walked before",
       {},
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         start(w, img, u"a", w.info(u"a").chain[5]);
         start(w, img, u"b", w.info(u"a").chain[0]);
       }},
      {"runs of one",
       {},
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         const auto& c = w.info(u"a").chain;
         for (size_t i = 0; i + 2 < c.size(); i += 2) link(w, img, c[i], c[i + 2]);
         link(w, img, c[8], c[1]);
         for (size_t i = 1; i + 2 < c.size(); i += 2) link(w, img, c[i], c[i + 2]);
         link(w, img, c[9], cfb::endofchain);
       }},
      {"run cut inside the image's last sector",
       {},
       [](const cfb_writer&, std::vector<uint8_t>&) {},
       100},
      {"run past the index limit", {}, [](const cfb_writer&, std::vector<uint8_t>&) {}, 3 * 512},
      {"run through a missing link",
       {},
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         link(w, img, w.info(u"b").chain[3], cfb::freesect);
       }},
      {"run leading past the FAT",
       {},
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         link(w, img, w.info(u"b").chain.back(), static_cast<uint32_t>(w.S / 4 + 5));
       },
       0,
       true},
      {"FAT and DIFAT sectors among the links", difat,
       [&](const cfb_writer& w, std::vector<uint8_t>& img) {
         link(w, img, w.info(u"b").chain[4], w.fat_sectors[0]);
       }},
  };
  for (const run_case& c : cases) {
    cfb_writer w(c.layout);
    w.stream(u"a", cfb_pattern(5000, 1)).free_sector(2).stream(u"b", cfb_pattern(5000, 2));
    w.stream(u"m", cfb_pattern(100, 3));
    std::vector<uint8_t> img = w.build();
    c.change(w, img);
    img.resize(img.size() - c.cut_bytes);
    parsed p(img);
    ASSERT_TRUE(p.ok) << c.name;
    // Every link as the file's FAT sectors hold it, a whole sector's taken
    // at once or not.
    const fat_link_map& links = p.reader.m_fat_links;
    ASSERT_EQ(links.index_limit(), (img.size() - 1) / w.S) << c.name;
    for (uint32_t n = 0; n < links.index_limit(); ++n)
      ASSERT_EQ(links.value(n),
                byte_view(img.data(), img.size()).u32_or_zero(w.fat_entry_offset(n)))
          << c.name << n;
    // The free sectors: those whose link the file gives as FREESECT.
    std::vector<uint64_t> free;
    for (uint32_t n = 0; n < links.index_limit(); ++n)
      if (links.value(n) == cfb::freesect && (n + 1) * w.S < img.size()) free.push_back(n);
    EXPECT_EQ(p.reader.m_free_sectors, free) << c.name;
    // The FAT and DIFAT sectors are used space, never slack.
    for (const auto* table : {&w.fat_sectors, &w.difat_sectors})
      for (uint32_t s : *table)
        for (const cfb_area& area : p.reader.m_slack_areas)
          EXPECT_TRUE(area.first + area.second <= w.sector_offset(s) ||
                      area.first >= w.sector_offset(s) + w.S)
              << c.name << s;
    const sector_walk ref = walk_sector_by_sector(p.reader, img);
    std::vector<uint8_t> alloc, gaps;
    ASSERT_TRUE(stream_sector_ranges(p.reader, alloc, gaps, img.data(), img.size())) << c.name;
    EXPECT_EQ(alloc, ref.allocated) << c.name;
    EXPECT_EQ(gaps, ref.gaps) << c.name;
    std::vector<cfb_run_piece> alloc_pieces, gap_pieces;
    ASSERT_TRUE(stream_sector_ranges(p.reader, nullptr, nullptr, img.data(), img.size(),
                                     alloc_pieces, gap_pieces));
    EXPECT_EQ(bytes_of_pieces(img, alloc_pieces), ref.allocated) << c.name;
    EXPECT_EQ(bytes_of_pieces(img, gap_pieces), ref.gaps) << c.name;
    EXPECT_EQ(cfb_image_cut(p.reader), ref.cut) << c.name;
    // Met inside other data, the image reaches as far as the parse of it
    // needs, and a chain seen to lead past that is a cut parse.
    std::vector<uint8_t> data = img;
    data.resize(img.size() + (64 << 10), 0xAB);
    counted_source source{data};
    const cfb_reach r = embedded_cfb_reach(data.data(), data.size(), source.reader());
    ASSERT_GT(r.reach, 0u) << c.name;
    std::vector<uint8_t> reached(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(r.reach));
    parsed cut(reached);
    ASSERT_TRUE(cut.ok) << c.name;
    EXPECT_EQ(cfb_image_cut(cut.reader), walk_sector_by_sector(cut.reader, reached).cut) << c.name;
    EXPECT_EQ(r.reach <= r.links_past, c.leads_past) << c.name;
    if (r.reach <= r.links_past) {
      EXPECT_TRUE(cfb_image_cut(cut.reader)) << c.name;
    }
    EXPECT_EQ(walk_sector_by_sector(cut.reader, reached).allocated,
              walk_sector_by_sector(parsed(data).reader, data).allocated)
        << c.name;
  }
}

TEST(CompoundFileEmbedded, StreamPiecesGiveTheStreamsBytes) {
  // Regular and mini streams, one regular chain put out of order, and the
  // image cut inside the last stream: read through their pieces, every
  // stream gives the bytes and first offset that entry_stream_bytes gives.
  cfb_writer w;
  w.stream(u"DestList", cfb_pattern(5000, 1)).stream(u"1", cfb_pattern(700, 2));
  w.mini_gap(3).stream(u"2", cfb_pattern(300, 3)).stream(u"3", cfb_pattern(6000, 4));
  std::vector<uint8_t> image = w.build();
  const auto& chain = w.info(u"DestList").chain;
  ASSERT_GE(chain.size(), 4u);
  const size_t fat = w.sector_offset(w.fat_sectors[0]);
  put_le32(image, fat + 4 * chain[0], chain[2]);
  put_le32(image, fat + 4 * chain[2], chain[1]);
  put_le32(image, fat + 4 * chain[1], chain[3]);
  image.resize(image.size() - 700);
  parsed p(image);
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(cfb_image_cut(p.reader));
  std::vector<uint8_t> scratch;
  std::vector<cfb_run_piece> pieces;
  for (const char* name : {"destlist", "1", "2", "3"}) {
    const cfb_dir_entry* entry = find_cfb_entry(p.reader, name);
    ASSERT_TRUE(entry) << name;
    byte_view view;
    uint32_t number = 0;
    uint64_t first = 0, length = 0, pieces_first = 0;
    ASSERT_TRUE(entry_stream_bytes(p.reader, entry, p.image.data(), p.image.size(), scratch, view,
                                   number, first, p.reader.m_faults))
        << name;
    ASSERT_TRUE(entry_stream_pieces(p.reader, *entry, p.image.size(), pieces, length, pieces_first))
        << name;
    EXPECT_EQ(length, view.size()) << name;
    EXPECT_EQ(pieces_first, first) << name;
    EXPECT_EQ(bytes_of_pieces(p.image, pieces),
              std::vector<uint8_t>(view.data(), view.data() + view.size()))
        << name;
  }
}
