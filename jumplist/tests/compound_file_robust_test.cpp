// Hostile and damaged compound files: every variant must parse or fail with
// work and memory in proportion to the image, and every read of a parsed
// variant must stay inside it (the sanitizer build checks the reads). A few
// hundred seeded mutations check the counted work here; the compound_file
// fuzz target mutates at large and holds the parse to the same work bound.
#include <gtest/gtest.h>

#include <functional>

#include "alloc_hook.h"
#include "byte_builder.h"
#include "cfb_writer.h"
#include "jumplist/cfb_layout.h"
#include "jumplist/compound_file.h"
#include "jumplist/compound_file_chains.h"
#include "jumplist/destlist.h"
#include "jumplist_samples.h"

using namespace vk;
using vesk_test::cfb_layout;
using vesk_test::cfb_pattern;
using vesk_test::cfb_writer;
using vesk_test::put_le32;

namespace {

namespace hdr = vk::cfb::header;

// Rough memory held by a parsed reader.
size_t reader_bytes(const compound_file_reader& r) {
  size_t n = r.m_fat_links.index_limit() * 6 + r.m_minifat_links.index_limit() * 6;
  n += (r.m_dir_sectors.size() + r.m_minifat_sectors.size() + r.m_root_sectors.size()) * 8;
  n += r.m_entries.size() * 256;
  n += (r.m_free_sectors.size() + r.m_free_granules.size()) * 8 + r.m_slack_areas.size() * 16;
  return n;
}

// Parses one variant and exercises every read; true when it parsed.
bool exercise(const std::vector<uint8_t>& img, const char* what, size_t variant) {
  compound_file_reader r;
  bool ok = parse_compound_image(&r, img.data(), img.size());
  size_t held = reader_bytes(r);
  if (ok) {
    std::vector<uint8_t> out, alloc, gaps;
    uint32_t entry_num;
    uint64_t offset;
    size_t read_total = 0;
    std::vector<uint8_t> scratch;
    for (const auto& [key, entry] : r.m_entries) {
      const bool read = read_stream(r, out, entry_num, offset, key, img.data(), img.size());
      if (read) read_total += out.size();
      EXPECT_LE(out.size(), img.size() + r.m_sector_size) << what << " #" << variant;
      // The bytes handed out in place (or copied once) are the bytes read.
      byte_view view;
      uint32_t view_entry = 0;
      uint64_t view_offset = 0;
      const bool viewed = stream_bytes(r, key, img.data(), img.size(), scratch, view, view_entry,
                                       view_offset, r.m_faults);
      EXPECT_EQ(viewed, read) << what << " #" << variant << " " << key;
      if (viewed && read) {
        EXPECT_TRUE(std::equal(out.begin(), out.end(), view.data(), view.data() + view.size()))
            << what << " #" << variant << " " << key;
        EXPECT_EQ(view_offset, offset) << what << " #" << variant << " " << key;
        EXPECT_EQ(view_entry, entry_num);
      }
    }
    // A stream is never longer than its declared size, nor than the image.
    EXPECT_LE(read_total, r.m_entries.size() * (img.size() + r.m_sector_size))
        << what << " #" << variant;
    if (read_stream(r, out, entry_num, offset, "destlist", img.data(), img.size())) {
      uint32_t version;
      std::vector<destlist_entry> entries;
      load_destlist_entries(out.data(), out.size(), version, entries);
      EXPECT_LE(entries.size(), out.size() / destlist_fixed_size_114);
    }
    stream_sector_ranges(r, alloc, gaps, img.data(), img.size());
    EXPECT_LE(alloc.size() + gaps.size(), 2 * img.size()) << what << " #" << variant;
    std::vector<uint64_t> chain;
    size_t walked = 0;
    for (uint64_t s : r.m_free_sectors) {
      follow_fat_chain(r, chain, s);
      walked += chain.size();
      if (walked > 100000) break;
    }
  }
  // The parse's steps: a bounded number per byte of the image (one-byte
  // mini sectors give up to one granule per byte), however hostile.
  EXPECT_LE(r.m_work, 4 * img.size() + 4096) << what << " #" << variant;
  EXPECT_LT(held, 100u << 20) << what << " #" << variant;
  EXPECT_LE(held, 64 * img.size() + 4096) << what << " #" << variant;
  return ok;
}

}  // namespace

TEST(CompoundFileRobust, RandomMutationsAndTruncations) {
  std::mt19937 rng(7);
  size_t variant = 0, parsed = 0;
  for (const auto& base : vesk_test::varied_cfb_images()) {
    for (int i = 0; i < 100; ++i, ++variant) {
      std::vector<uint8_t> img = vesk_test::mutate(base, rng, 1 + i % 16);
      if (i % 5 == 0) img.resize(std::uniform_int_distribution<size_t>(0, img.size())(rng));
      parsed += exercise(img, "written", variant);
    }
  }
  // Most variants still parse, so the reads after the parse are exercised.
  EXPECT_GT(parsed, variant / 2);
}

TEST(CompoundFileRobust, TargetedHeaderFields) {
  std::mt19937 rng(11);
  auto bases = vesk_test::varied_cfb_images();
  size_t variant = 0;
  // Every sector and mini sector shift from 0 to 40.
  for (uint16_t shift = 0; shift <= 40; ++shift) {
    for (uint16_t mini = 0; mini <= 40; ++mini, ++variant) {
      auto img = bases[variant % bases.size()];
      img[hdr::sector_shift] = static_cast<uint8_t>(shift);
      img[hdr::mini_sector_shift] = static_cast<uint8_t>(mini);
      exercise(img, "shifts", variant);
    }
  }
  // FAT sector counts up to 2^32 - 1, with and without a DIFAT.
  for (uint32_t count : {0u, 1u, 108u, 109u, 110u, 4096u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (const auto& base : bases) {
      for (uint32_t difat_count : {0u, 1u, 0xFFFFFFFFu}) {
        auto img = base;
        put_le32(img, hdr::num_fat_sectors, count);
        put_le32(img, hdr::num_difat_sectors, difat_count);
        exercise(img, "fat count", variant++);
      }
    }
  }
  // Mini stream cutoffs and random directory starts.
  for (int i = 0; i < 500; ++i, ++variant) {
    auto img = bases[i % bases.size()];
    put_le32(img, hdr::mini_cutoff, static_cast<uint32_t>(rng()));
    put_le32(img, hdr::first_dir_sector, static_cast<uint32_t>(rng() % 64));
    put_le32(img, hdr::first_minifat_sector, static_cast<uint32_t>(rng() % 64));
    exercise(img, "cutoff", variant);
  }
}

TEST(CompoundFileRobust, SelfReferencingDifatAndLoopingChains) {
  std::mt19937 rng(13);
  cfb_layout layout;
  layout.min_fat_sectors = 112;
  layout.unused_sector0 = true;
  cfb_writer w(layout);
  w.stream(u"DestList", cfb_pattern(4200, 5))
      .stream(u"1", cfb_pattern(90, 6))
      .stream(u"2", cfb_pattern(5000, 7));
  const auto base = w.build();
  const size_t S = 512;
  size_t variant = 0;
  for (int i = 0; i < 400; ++i, ++variant) {
    auto img = base;
    put_le32(img, hdr::num_fat_sectors, 0xFFFFFFFFu);
    put_le32(img, hdr::num_difat_sectors, 1 + rng() % 5);
    uint32_t d = w.difat_sectors[0];
    size_t at = w.sector_offset(d);
    // DIFAT slots naming the DIFAT sector itself, FAT sectors again and again,
    // and the header slots all naming one sector.
    for (size_t j = 0; j < S / 4; ++j) {
      uint32_t pick = rng() % 4;
      uint32_t v = pick == 0   ? d
                   : pick == 1 ? w.fat_sectors[rng() % w.fat_sectors.size()]
                   : pick == 2 ? static_cast<uint32_t>(rng() % 16)
                               : cfb_freesect;
      put_le32(img, at + 4 * j, v);
    }
    if (i % 2) {
      for (size_t k = 0; k < hdr::difat_slots; ++k)
        put_le32(img, hdr::difat + 4 * k, w.fat_sectors[0]);
    }
    // Mark some sectors DIFATSECT, including the FAT sector itself.
    for (int k = 0; k < 4; ++k)
      put_le32(img, w.fat_entry_offset(static_cast<uint32_t>(rng() % 16)), cfb_difatsect);
    exercise(img, "difat", variant);
  }
  for (int i = 0; i < 600; ++i, ++variant) {
    auto img = base;
    // Directory, mini FAT and stream chains that loop back.
    uint32_t from = static_cast<uint32_t>(rng() % (img.size() / S - 1));
    uint32_t to = i % 3 == 0 ? from : static_cast<uint32_t>(rng() % (from + 1));
    put_le32(img, w.fat_entry_offset(from), to);
    put_le32(img, w.fat_entry_offset(w.dir_sectors[0]), w.dir_sectors[0] - (i % 2));
    uint32_t m = static_cast<uint32_t>(rng() % w.minifat.size());
    put_le32(img, w.minifat_entry_offset(m), static_cast<uint32_t>(rng() % (m + 1)));
    // Entries pointing into the same chains, with huge sizes.
    for (uint32_t e = 1; e <= 3; ++e) {
      size_t entry = w.dir_entry_offset(e);
      if (rng() % 2)
        put_le32(img, entry + cfb::dirent::start_sector, static_cast<uint32_t>(rng() % 32));
      if (rng() % 2) put_le32(img, entry + cfb::dirent::stream_size, static_cast<uint32_t>(rng()));
      if (rng() % 4 == 0)
        put_le32(img, entry + cfb::dirent::stream_size + 4, static_cast<uint32_t>(rng()));
    }
    exercise(img, "loops", variant);
  }
}

TEST(CompoundFileRobust, ManyEntriesSharingOneLongChain) {
  // Every directory entry starts in one long chain: the work stays linear.
  cfb_writer w;
  for (int i = 0; i < 200; ++i) {
    std::u16string name = {u's', static_cast<char16_t>(u'a' + i % 26),
                           static_cast<char16_t>(u'a' + i / 26)};
    w.stream(name, i == 0 ? cfb_pattern(400 * 512, 1) : std::vector<uint8_t>());
  }
  auto img = w.build();
  const auto& chain = w.streams()[0].chain;
  for (int i = 1; i < 200; ++i) {
    size_t entry = w.dir_entry_offset(static_cast<uint32_t>(i + 1));
    img[entry + cfb::dirent::object_type] = 2;
    put_le32(img, entry + cfb::dirent::start_sector, chain[static_cast<size_t>(i) % chain.size()]);
    put_le32(img, entry + cfb::dirent::stream_size, 0xFFFFFFFFu);
    put_le32(img, entry + cfb::dirent::stream_size + 4, 0);
  }
  // The mini stream cutoff at its largest: every entry is a mini stream too.
  exercise(img, "shared", 0);
  put_le32(img, hdr::mini_cutoff, 0xFFFFFFFFu);
  img[hdr::mini_sector_shift] = 0;  // one-byte mini sectors
  exercise(img, "shared mini", 1);
}

TEST(CompoundFileRobust, SampleFilesMutated) {
  std::vector<std::vector<uint8_t>> files;
  for (auto& s : vesk_test::automatic_jumplist_samples()) files.push_back(std::move(s.bytes));
  if (files.empty()) GTEST_SKIP() << "sample folder absent";
  std::mt19937 rng(17);
  size_t variant = 0, parsed = 0;
  const size_t per_file = 300 / files.size() + 1;
  for (const auto& base : files) {
    for (size_t i = 0; i < per_file; ++i, ++variant) {
      std::vector<uint8_t> img = vesk_test::mutate(base, rng, 1 + static_cast<int>(i % 24));
      if (i % 4 == 0) img.resize(std::uniform_int_distribution<size_t>(0, img.size())(rng));
      if (i % 7 == 0 && img.size() > 34) {
        img[hdr::sector_shift] = static_cast<uint8_t>(rng() % 41);
        img[hdr::mini_sector_shift] = static_cast<uint8_t>(rng() % 41);
      }
      parsed += exercise(img, "sample", variant);
    }
  }
  EXPECT_GT(parsed, variant / 2);
}

namespace {

// The findings of an image as "name:cut@offset" or "name:meets other@offset".
std::vector<std::string> chain_findings(const std::vector<uint8_t>& img) {
  compound_file_reader r;
  if (!parse_compound_image(&r, img.data(), img.size(), false)) return {"unparsed"};
  std::vector<std::string> out;
  if (const char* cut = cfb_cut_structure(r)) out.push_back(std::string(cut) + ":cut");
  for (const cfb_chain_finding& f : check_compound_chains(r, img.size()))
    out.push_back(f.name + (f.cut ? ":cut" : ":meets " + f.other) + "@" + std::to_string(f.offset));
  return out;
}

}  // namespace

// What a compound file declares and does not hold. Streams "big" (5,000
// bytes, sectors 6 to 15 after the FAT, two directory sectors, the mini FAT
// and two sectors of the mini stream) and "tail" (4,700 bytes, sectors 16
// to 25, the last) are regular; "a" and "b" (300 bytes each) live in the
// mini stream. pyolecf read every variant below: every stream whole from
// the first three; it fails to read tail from the file that ends one byte
// before tail's last, big and tail from the one that ends inside big, b
// when it starts inside a's chain and tail when it starts at a FAT sector;
// tail's bytes differ from its own from byte 0 when it starts at big's
// first sector, big's from byte 2,560 when its chain runs into tail's, a's
// from byte 64 when its mini chain runs into b's; it refuses the file whose
// directory chain runs into big.
TEST(CompoundFileRobust, ChainsThatFailOrMeetAreNamed) {
  cfb_writer w;
  w.stream(u"a", cfb_pattern(300, 1))
      .stream(u"b", cfb_pattern(300, 2))
      .stream(u"big", cfb_pattern(5000, 3))
      .stream(u"tail", cfb_pattern(4700, 4));
  const std::vector<uint8_t> sound = w.build();
  const auto& big = w.info(u"big");
  const auto& tail = w.info(u"tail");
  const size_t tail_end = w.sector_offset(tail.chain.back()) + 4700 - 9 * 512;
  ASSERT_EQ(tail_end, sound.size() - 512 + 92);
  auto with = [&](auto change) {
    std::vector<uint8_t> img = sound;
    change(img);
    return img;
  };
  auto set_start = [&](std::u16string_view name, uint32_t start) {
    return with([&](std::vector<uint8_t>& img) {
      put_le32(img, w.dir_entry_offset(w.info(name).entry_num) + cfb::dirent::start_sector, start);
    });
  };
  struct row {
    const char* label;
    std::vector<uint8_t> img;
    std::vector<std::string> expected;
  } rows[] = {
      {"sound", sound, {}},
      {"appended bytes, no whole sector",
       with([](auto& img) { img.resize(img.size() + 100, 7); }),
       {}},
      {"ends inside its last sector after tail's last byte",
       std::vector<uint8_t>(sound.begin(), sound.begin() + tail_end + 20),
       {}},
      {"ends one byte before tail's last",
       std::vector<uint8_t>(sound.begin(), sound.begin() + tail_end - 1),
       {"tail:cut@4608"}},
      {"ends inside big",
       std::vector<uint8_t>(sound.begin(), sound.begin() + w.sector_offset(big.chain[3]) + 9),
       {"big:cut@1536", "tail:cut@0"}},
      {"tail starts at big's first sector",
       set_start(u"tail", big.chain[0]),
       {"big:meets tail@0", "tail:meets big@0"}},
      {"b starts inside a's chain",
       set_start(u"b", w.info(u"a").chain[2]),
       {"a:meets b@128", "b:meets a@0"}},
      {"big's chain runs into tail's",
       with([&](auto& img) { put_le32(img, w.fat_entry_offset(big.chain[4]), tail.chain[0]); }),
       {"big:meets tail@2560", "tail:meets big@0"}},
      {"a's mini chain runs into b's",
       with([&](auto& img) {
         put_le32(img, w.minifat_entry_offset(w.info(u"a").chain[0]), w.info(u"b").chain[1]);
       }),
       {"a:meets b@64", "b:meets a@64"}},
      {"the directory's chain runs into big's",
       with([&](auto& img) {
         put_le32(img, w.fat_entry_offset(w.dir_sectors.back()), big.chain[1]);
       }),
       {"directory:meets big@1024", "big:meets directory@512"}},
      {"a stream starts at a FAT sector",
       set_start(u"tail", w.fat_sectors[0]),
       {"FAT:meets tail@0", "tail:meets FAT@0"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    EXPECT_EQ(chain_findings(r.img), r.expected);
  }
}

// Every way the parse refuses an image leaves the fault that says why (its
// sectors past the file's end under the structure's name), and every
// allocation that fails in the parse or in a read is counted, and only
// counted, in the sink that was handed in. The offsets are the writer's.
TEST(CompoundFileRobust, EveryStopLeavesItsFault) {
  namespace heap = vesk_test::heap;
  cfb_writer w;
  w.stream(u"a", cfb_pattern(300, 1)).stream(u"Tail of the list stream", cfb_pattern(5000, 2));
  const std::vector<uint8_t> sound = w.build();
  const uint64_t dir = w.sector_offset(w.dir_sectors.front());
  ASSERT_LT(dir + 512, sound.size());
  using change = std::function<void(std::vector<uint8_t>&)>;
  auto shift = [](uint8_t to) {
    return change([to](std::vector<uint8_t>& img) { img[hdr::sector_shift] = to; });
  };
  auto first_dir = [](uint32_t to) {
    return change([to](std::vector<uint8_t>& img) { put_le32(img, hdr::first_dir_sector, to); });
  };
  const std::string no_header = "no compound-file header", unusable = "sector size unusable",
                    outside = "not a sector of the file";
  const struct {
    const char* what;
    change damage;
    const char* structure;  // null: the parse takes the image
    uint64_t offset;
    std::string cause;
  } stops[] = {
      {"sound", [](std::vector<uint8_t>&) {}, nullptr, 0, ""},
      {"no signature", [](std::vector<uint8_t>& img) { img[3] ^= 1; }, "header", 0, no_header},
      {"shorter than a header", [](std::vector<uint8_t>& img) { img.resize(511); }, "header", 0,
       no_header},
      {"sector shift 32", shift(32), "header", hdr::sector_shift, unusable},
      {"sector larger than the file", shift(20), "header", hdr::sector_shift, unusable},
      {"directory past the end", first_dir(1000), "directory", 1001 * 512, k_cfb_past_end},
      {"directory at ENDOFCHAIN", first_dir(cfb::endofchain), "directory",
       (uint64_t{cfb::endofchain} + 1) * 512, outside},
      {"file ends inside the directory's first sector",
       [&](std::vector<uint8_t>& img) { img.resize(dir + 100); }, "directory", dir, outside},
      {"no root entry",
       [&](std::vector<uint8_t>& img) { img[w.dir_entry_offset(0) + cfb::dirent::name] = 'X'; },
       "directory", dir, "no root entry"},
  };
  for (const auto& stop : stops) {
    std::vector<uint8_t> img = sound;
    stop.damage(img);
    compound_file_reader r;
    EXPECT_EQ(parse_compound_image(&r, img.data(), img.size()), stop.structure == nullptr)
        << stop.what;
    EXPECT_FALSE(r.m_faults.out_of_memory()) << stop.what;
    ASSERT_EQ(r.m_faults.size(), stop.structure ? 1u : 0u) << stop.what;
    if (!stop.structure) continue;
    EXPECT_STREQ(r.m_faults[0].structure, stop.structure) << stop.what;
    EXPECT_EQ(r.m_faults[0].offset, stop.offset) << stop.what;
    EXPECT_EQ(r.m_faults[0].cause, stop.cause) << stop.what;
    EXPECT_EQ(cfb_cut_structure(r) != nullptr, stop.cause == k_cfb_past_end) << stop.what;
  }

  // The parse and each read, run on an image whose tail stream the file's
  // end cuts (so that it is copied, not handed out in place).
  std::vector<uint8_t> cut = sound;
  cut.resize(cut.size() - 100);
  std::vector<uint8_t> scratch, bytes;
  byte_view view;
  uint32_t entry = 0;
  uint64_t first = 0;
  std::vector<uint64_t> tail_sectors(w.info(u"Tail of the list stream").chain.begin(),
                                     w.info(u"Tail of the list stream").chain.end());
  using run = std::function<bool(compound_file_reader&, fault_sink&)>;
  const struct {
    const char* what;
    run go;
  } runs[] = {
      {"parse", [&](compound_file_reader& r,
                    fault_sink&) { return parse_compound_image(&r, cut.data(), cut.size()); }},
      {"look-up of a name in capitals and the copy",
       [&](const compound_file_reader& r, fault_sink& sink) {
         return stream_bytes(r, "Tail of the list stream", cut.data(), cut.size(), scratch, view,
                             entry, first, sink);
       }},
      {"copy of an entry",
       [&](const compound_file_reader& r, fault_sink& sink) {
         return entry_stream_bytes(r, find_cfb_entry(r, "tail of the list stream"), cut.data(),
                                   cut.size(), scratch, view, entry, first, sink);
       }},
      {"whole sectors",
       [&](const compound_file_reader& r, fault_sink& sink) {
         return read_fat_sectors(r, bytes, first, cut.data(), cut.size(), tail_sectors, sink);
       }},
  };
  for (const auto& each : runs) {
    const bool is_parse = std::string(each.what) == "parse";
    // A fresh parse and fresh scratch for each run, so that every run
    // allocates as the first did.
    auto attempt = [&](int64_t fail_at, fault_sink& sink, int64_t& allocations) {
      compound_file_reader r;
      std::vector<uint8_t>().swap(scratch);
      std::vector<uint8_t>().swap(bytes);
      if (!is_parse) {
        EXPECT_TRUE(parse_compound_image(&r, cut.data(), cut.size()));
      }
      heap::scope counted;
      if (fail_at >= 0) heap::fail_nth(fail_at);
      const bool done = each.go(r, is_parse ? r.m_faults : sink);
      heap::no_failure();
      allocations = counted.allocations();
      if (is_parse) sink = r.m_faults;
      return done;
    };
    fault_sink sink;
    int64_t allocations = 0;
    ASSERT_TRUE(attempt(-1, sink, allocations)) << each.what;
    EXPECT_FALSE(sink.out_of_memory()) << each.what;
    ASSERT_GT(allocations, 0) << each.what;
    for (int64_t n = 0; n < allocations; ++n) {
      fault_sink failed;
      int64_t ignored = 0;
      EXPECT_FALSE(attempt(n, failed, ignored)) << each.what << " allocation " << n;
      EXPECT_EQ(failed.out_of_memory_count(), 1u) << each.what << " allocation " << n;
      EXPECT_TRUE(failed.empty()) << each.what << " allocation " << n;
    }
  }
}
