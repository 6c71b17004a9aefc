// Partition walks and FAT, exFAT and ext structures on images written byte
// by byte and on images the system tools made, checked against mmls,
// sgdisk, mtools and debugfs: every slot of an MBR, gaps in disk order,
// whole GPT attributes, FAT12 and small FAT16 volumes, code-page short
// names, long-name runs, exFAT contiguity, ext block maps with holes, deep
// indirection, loops and large inodes. Also the volume fuzz targets' seeds
// and saved inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "alloc_hook.h"
#include "disk/fat_ext.h"
#include "disk/partition_table.h"
#include "disk/volume_boot.h"
#include "disk_images.h"
#include "fuzz/volume_harness.h"
#include "fuzz/volume_seeds.h"
#include "temp_tree.h"
#include "volume_writer.h"

using namespace vk;

namespace {

using vesk_test::image_t;
using run_pair = std::pair<uint64_t, uint64_t>;  // (first cluster or 0 when sparse, count)
using span = std::pair<uint64_t, uint64_t>;      // (start, count)

std::string write_image(const vesk_test::temp_tree& tree, const std::string& name,
                        const image_t& bytes) {
  const std::string path = tree.path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<run_pair> pairs_of(const cluster_runs& runs) {
  std::vector<run_pair> out;
  for (const auto& r : runs.m_runs) out.emplace_back(r.sparse() ? 0 : r.m_first, r.count());
  return out;
}

std::vector<span> spans_of(const partition_list& list, bool gaps) {
  std::vector<span> out;
  for (const auto& r : list)
    if ((r.m_description == "unalloc") == gaps) out.emplace_back(r.m_start, r.m_count);
  return out;
}

std::string run_ok(const std::string& command) {
  bool ok = false;
  std::string out = vesk_test::run_command("sh -c " + vesk_test::shell_quote(command), ok);
  EXPECT_TRUE(ok) << command << ": " << out;
  return out;
}

bool have(std::initializer_list<const char*> tools, std::string& why) {
  for (const char* t : tools)
    if (vesk_test::find_tool(t).empty()) {
      why = std::string(t) + " is not installed";
      return false;
    }
  return true;
}

// The partitions mmls lists (slot column a number), as (start, length).
std::set<span> mmls_partitions(const std::string& image) {
  std::set<span> out;
  std::istringstream lines(
      run_ok(vesk_test::find_tool("mmls") + " " + vesk_test::shell_quote(image)));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string index, slot;
    uint64_t start = 0, end = 0, length = 0;
    if (!(cells >> index >> slot >> start >> end >> length)) continue;
    if (!std::isdigit(static_cast<unsigned char>(slot[0]))) continue;
    if (line.find("Extended") != std::string::npos) continue;
    out.emplace(start, length);
  }
  return out;
}

TEST(VolumeFuzzInputs, SeedsPassTheirGateAndSavedInputsReplayClean) {
  using target_fn = int (*)(const uint8_t*, size_t);
  const std::map<std::string, target_fn> targets = {
      {"partition_walk", vesk_fuzz::run_partition_walk},
      {"boot_sector", vesk_fuzz::run_boot_sector},
      {"fat", vesk_fuzz::run_fat},
      {"exfat", vesk_fuzz::run_exfat},
      {"ext", vesk_fuzz::run_ext}};
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto seeds = vesk_fuzz::volume_seeds();
  for (const auto& name : vesk_fuzz::volume_target_names()) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(seeds.count(name) && targets.count(name));
    for (const image_t& seed : seeds.at(name)) {
      EXPECT_LE(seed.size(), vesk_fuzz::k_max_volume_input);
      EXPECT_EQ(targets.at(name)(seed.data(), seed.size()), 0);
      RAW_DISK_IO disk(write_image(tree, "seed", seed), false, 0, disk_mode_path);
      const boot_sector bs = boot_sector_from(seed.data(), seed.size());
      partition_list list;
      partition_entry r;
      std::vector<std::string> names;
      std::vector<std::vector<uint8_t>> entries;
      std::vector<uint64_t> offsets;
      std::vector<exfat_file_entry> files;
      ext_inode_record rec;
      const ext_superblock sb = ext_superblock_from(seed.data() + 1024, 1024);
      bool gate = false;
      if (name == "partition_walk") gate = scan_partitions(disk, list, false, true);
      if (name == "boot_sector") gate = parse_volume_boot_record(r, seed.data(), seed.size());
      if (name == "fat")
        gate = read_fat_dir_entries_lfn(names, entries, offsets, bs, seed.data() + 1024, 512, 0,
                                        ~uint64_t{0}, false, 0) >= 3;
      if (name == "exfat")
        gate = read_exfat_dir_entries(files, seed.data() + 1024, 512, 0, true) == 3;
      if (name == "ext") gate = ext_read_inode(rec, sb, disk, 0, 12);
      EXPECT_TRUE(gate);
    }
  }
  // Saved inputs that once broke a target.
  const std::filesystem::path corpus =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
      "regressions";
  size_t replayed = 0;
  for (const auto& [name, run] : targets) {
    std::error_code ec;
    for (const auto& input : std::filesystem::directory_iterator(corpus / name, ec)) {
      SCOPED_TRACE(input.path().string());
      std::ifstream in(input.path(), std::ios::binary);
      const image_t bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 1u);

  // A folder whose runs declare a hole larger than the medium once read as
  // 2 GB of zeros, unsaid: its replay holds memory to a few times the input
  // and says the hole.
  std::ifstream in(corpus / "ext" / "folder-hole-past-the-medium", std::ios::binary);
  const image_t hole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(hole.size(), 30000u);
  testing::internal::CaptureStderr();
  int64_t peak = 0;
  {
    const vesk_test::heap::scope heap;
    EXPECT_EQ(targets.at("ext")(hole.data(), hole.size()), 0);
    peak = heap.peak_above_start();
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_LT(peak, static_cast<int64_t>(8 * hole.size()));
  EXPECT_NE(said.find("lies in a hole larger than the medium; the folder is not read"),
            std::string::npos)
      << said;
}

TEST(PartitionWalks, EverySlotDiskOrderGapsAndWholeAttributes) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // A primary listed after the extended entry is kept; gaps skip the
  // logicals inside the extended partition.
  const image_t mbr = vesk_test::mbr_image();
  RAW_DISK_IO mbr_disk(write_image(tree, "mbr.img", mbr), false, 0, disk_mode_path);
  const std::vector<span> parts = {{8, 16}, {32, 64}, {34, 10}, {50, 8}, {100, 20}};
  const std::vector<span> gaps = {{1, 7}, {24, 8}, {96, 4}, {120, 8}};
  partition_list list;
  ASSERT_TRUE(scan_partitions(mbr_disk, list, false, false));
  EXPECT_EQ(spans_of(list, false), parts);
  ASSERT_TRUE(scan_partitions_buffer(mbr.data(), mbr.size(), list, false, false));
  EXPECT_EQ(spans_of(list, false), parts);
  ASSERT_TRUE(scan_partitions(mbr_disk, list, false, true));
  EXPECT_EQ(spans_of(list, true), gaps);
  ASSERT_TRUE(scan_partitions_buffer(mbr.data(), mbr.size(), list, false, true));
  EXPECT_EQ(spans_of(list, true), gaps);

  // A GPT listing its partitions out of disk order; attributes with bit 63.
  const image_t gpt = vesk_test::gpt_image({{80, 99, 0x8000000000000001ull, u"second"},
                                            {40, 59, 0, u"first"},
                                            {100, 119, 0x0001000000000000ull, u"third"}});
  RAW_DISK_IO gpt_disk(write_image(tree, "gpt.img", gpt), false, 0, disk_mode_path);
  ASSERT_TRUE(scan_partitions(gpt_disk, list, false, true));
  EXPECT_EQ(spans_of(list, true), (std::vector<span>{{3, 37}, {60, 20}, {120, 8}}));
  std::map<std::string, uint64_t> flags;
  for (const auto& r : list) flags[r.m_description] = r.m_flags;
  EXPECT_EQ(flags["second"], 0x8000000000000001ull);
  EXPECT_EQ(flags["third"], 0x0001000000000000ull);
}

TEST(PartitionWalks, ToolMadeTablesMatchMmlsAndSgdisk) {
  std::string why;
  if (!have({"sfdisk", "sgdisk", "mmls"}, why)) GTEST_SKIP() << why;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  struct disk_case {
    const char* name;
    std::string make;    // command line; the image path is appended
    uint64_t gpt_flags;  // partition 1's attributes on a GPT disk
  } cases[] = {
      // Extended partition in slot 2 with primaries before and after it.
      {"slot2.img",
       "printf 'label: dos\\nunit: sectors\\n\\n@1 : start=2048, size=2048, type=83\\n"
       "@2 : start=4096, size=8192, type=5\\n@3 : start=16384, size=2048, type=83\\n"
       "@5 : start=6144, size=1024, type=7\\n@6 : start=9216, size=1024, type=83\\n' | sfdisk -q",
       0},
      // Extended partition in slot 4 behind three primaries.
      {"slot4.img",
       "printf 'label: dos\\nunit: sectors\\n\\nstart=2048, size=1024, type=83\\n"
       "start=3072, size=1024, type=7\\nstart=4096, size=1024, type=c\\n"
       "start=8192, size=8192, type=f\\nstart=10240, size=1024, type=83\\n' | sfdisk -q",
       0},
      // A GPT whose table order differs from disk order, with bit 63 set.
      {"gpt.img", "sgdisk -n 1:8192:+1M -n 2:2048:+1M -n 3:12288:+1M -A 1:set:63 -A 1:set:0",
       0x8000000000000001ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string img = tree.path(c.name);
    vesk_test::make_sparse_file(img, 12u << 20);
    // "@" in a script stands for the image (sfdisk names partitions after it).
    std::string make = c.make;
    for (size_t at = make.find('@'); at != std::string::npos; at = make.find('@', at + img.size()))
      make.replace(at, 1, img);
    run_ok(make + " " + vesk_test::shell_quote(img) + " >/dev/null");
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    partition_list list;
    ASSERT_TRUE(scan_partitions(disk, list, false, true));
    std::set<span> ours;
    for (const auto& r : list) {
      const bool structure = r.m_description == "unalloc" || r.m_type == 0x05 || r.m_type == 0x0F ||
                             r.m_type_name == "mbr" || r.m_type_name == "protective_mbr" ||
                             r.m_type_name == "gpt header" ||
                             r.m_type_name == "gpt partition entries";
      if (!structure) ours.insert({r.m_start, r.m_count});
    }
    const std::set<span> theirs = mmls_partitions(img);
    EXPECT_EQ(ours, theirs);
    // No gap covers a partition mmls lists.
    for (const span& g : spans_of(list, true))
      for (const span& p : theirs)
        EXPECT_FALSE(g.first < p.first + p.second && p.first < g.first + g.second)
            << g.first << "+" << g.second << " over " << p.first;
    if (c.gpt_flags) {
      const std::string info = run_ok("sgdisk -i 1 " + vesk_test::shell_quote(img));
      const uint64_t listed =
          std::stoull(vesk_test::labelled_value(info, "Attribute flags"), nullptr, 16);
      EXPECT_EQ(listed, c.gpt_flags);
      bool seen = false;
      for (const auto& r : list)
        if (r.m_gpt && r.m_start == 8192) {
          EXPECT_EQ(r.m_flags, listed);
          seen = true;
        }
      EXPECT_TRUE(seen);
    }
  }
}

TEST(FatVolumes, Fat12ChainsCodePageNamesAndBoundedLongNames) {
  // Recognition by cluster count, the sector count from the 16-bit field.
  struct kind {
    unsigned bits;
    uint32_t sectors;
    const char* name;
    uint16_t type;
  } kinds[] = {{12, 96, "fat12", 0x01}, {16, 70000, "fat16", 0x04}, {32, 96, "fat32", 0x0C}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.name);
    const image_t img = vesk_test::fat_image(k.bits, k.sectors);
    partition_entry r;
    ASSERT_TRUE(identify_volume(r, img.data(), img.size()));
    EXPECT_EQ(r.m_type_name, k.name);
    EXPECT_EQ(r.m_type, k.type);
    EXPECT_EQ(r.m_count, k.sectors);
    EXPECT_TRUE(is_fat_boot_sector(img.data(), img.size()));
    EXPECT_FALSE(is_mbr_sector(img.data(), img.size()));
    const boot_sector bs = boot_sector_from(img.data(), img.size());
    EXPECT_EQ(fat_entry_bits(bs), k.bits);

    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> entries;
    std::vector<uint64_t> offsets;
    read_fat_dir_entries_lfn(names, entries, offsets, bs, img.data() + 1024, 512, 0, ~uint64_t{0},
                             false, 1024);
    EXPECT_EQ(names,
              (std::vector<std::string>{"VOLUME", "Long file name.txt", "CAF?.TXT", "_ONE.TXT"}));
    ASSERT_EQ(entries.size(), 4u);
    const uint8_t* table = img.data() + 512;
    fat_file_entry file;
    const uint8_t* e = entries[1].data() + entries[1].size() - 32;
    const bool made = k.bits == 12   ? fat12_entry_to_file(file, e, names[1], table, 512)
                      : k.bits == 16 ? fat_entry_to_file(file, e, names[1], table, 512)
                                     : fat32_entry_to_file(file, e, names[1], table, 512);
    ASSERT_TRUE(made);
    EXPECT_EQ(pairs_of(file.m_runs), (std::vector<run_pair>{{3, 1}, {5, 1}, {4, 1}}));
    if (k.bits == 32) continue;
    cluster_runs runs;
    ASSERT_TRUE(fat16_chain_to_runs(bs, runs, 3, 1400, table, 512, 0));
    EXPECT_EQ(pairs_of(runs), (std::vector<run_pair>{{3, 1}, {5, 1}, {4, 1}}));
  }

  // Long-name runs far longer than a name can be: one bounded name, built
  // from the entries next to the short one.
  image_t dir;
  const image_t short_entry = vesk_test::fat_short_entry("LONG    TXT", 0x20, 3, 10);
  const image_t run = vesk_test::fat_lfn_run(std::string(260, 'a'), short_entry);
  for (int i = 0; i < 400; ++i) dir.insert(dir.end(), run.begin(), run.end() - 32);
  dir.insert(dir.end(), run.begin(), run.end());
  const boot_sector bs = boot_sector_from(vesk_test::fat_image(16).data(), 512);
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  read_fat_dir_entries_lfn(names, entries, offsets, bs, dir.data(), dir.size(), 0, ~uint64_t{0},
                           false, 0);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], std::string(260, 'a'));
  std::string name;
  for (size_t at = 0; at + 32 <= dir.size(); at += 32) lfn_name_part(name, dir.data() + at, true);
  EXPECT_LE(name.size(), 3u * 255 + 13);
}

TEST(FatVolumes, Fat12ChainsMatchMtools) {
  std::string why;
  if (!have({"mkfs.fat", "mcopy", "mdel", "mshowfat"}, why)) GTEST_SKIP() << why;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string img =
      vesk_test::make_volume(tree.path("f12.img"), 1u << 20, "mkfs.fat", "-F 12 -s 1", &why);
  ASSERT_FALSE(img.empty());
  const std::string q = vesk_test::shell_quote(img);
  tree.file("a.bin", std::string(3000, 'a'));
  tree.file("b.bin", std::string(700, 'b'));
  tree.file("big.bin", std::string(9000, 'c'));
  // a.bin deleted leaves a hole that big.bin fills before going on: a
  // fragmented chain with odd and even cluster numbers.
  run_ok("mcopy -i " + q + " " + vesk_test::shell_quote(tree.path("a.bin")) + " " +
         vesk_test::shell_quote(tree.path("b.bin")) + " ::/");
  run_ok("mdel -i " + q + " ::/a.bin");
  run_ok("mcopy -i " + q + " " + vesk_test::shell_quote(tree.path("big.bin")) + " ::/");
  const image_t head = vesk_test::read_file_range(img, 0, 512);
  const boot_sector bs = boot_sector_from(head.data(), head.size());
  ASSERT_EQ(fat_entry_bits(bs), 12u);
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  std::vector<uint8_t> table;
  ASSERT_TRUE(read_fat16_table(bs, table, disk, 0, 0));
  const image_t root =
      vesk_test::read_file_range(img, fat16_root_dir_offset(bs), size_t{bs.root_entries()} * 32);
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  read_fat_dir_entries_lfn(names, entries, offsets, bs, root.data(), root.size(), 0, ~uint64_t{0},
                           false, 0);
  for (const char* file : {"b.bin", "big.bin"}) {
    SCOPED_TRACE(file);
    const auto at = std::find(names.begin(), names.end(), file);
    ASSERT_NE(at, names.end());
    const auto& raw = entries[static_cast<size_t>(at - names.begin())];
    fat_file_entry entry;
    ASSERT_TRUE(
        fat12_entry_to_file(entry, raw.data() + raw.size() - 32, file, table.data(), table.size()));
    std::string listed;
    for (const auto& r : pairs_of(entry.m_runs))
      listed += "<" + std::to_string(r.first) +
                (r.second > 1 ? "-" + std::to_string(r.first + r.second - 1) : "") + "> ";
    const std::string shown = run_ok("mshowfat -i " + q + " ::/" + file);
    EXPECT_NE(shown.find(listed.substr(0, listed.size() - 1)), std::string::npos)
        << shown << " vs " << listed;
  }
}

TEST(ExfatVolumes, NoFatChainFlagDecidesContiguity) {
  image_t img = vesk_test::exfat_image();
  // A stale table entry under the contiguous file, as a deleted chain leaves it.
  vesk_test::put32(img, 512 + 4 * 3, 9);
  const boot_sector bs = boot_sector_from(img.data(), img.size());
  const uint8_t* table = img.data() + 512;
  std::vector<exfat_file_entry> files;
  ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, true), 3u);
  const struct {
    const char* name;
    bool deleted;
    std::vector<run_pair> runs;
  } want[] = {{"contig.bin", false, {{3, 3}}},
              {"chained.bin", false, {{6, 1}, {8, 1}, {7, 1}}},
              {"old.txt", true, {{9, 1}}}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(files[i].m_name, want[i].name);
    EXPECT_EQ(files[i].m_deleted, want[i].deleted);
    cluster_runs runs;
    ASSERT_TRUE(exfat_entry_to_runs(bs, runs, files[i], table, 512, 0));
    EXPECT_EQ(pairs_of(runs), want[i].runs);
    EXPECT_EQ(cluster_runs_first_offset(runs), exfat_cluster_offset(bs, want[i].runs[0].first));
  }
  // Without live entries asked for, the deleted set is left out.
  EXPECT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
}

TEST(ExtVolumes, BlockMapsHolesDeepIndirectionLoopsAndLargeInodes) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Inode 16: a double-indirect block naming itself; 17: a single-indirect
  // block naming itself as data (allowed) and a file of one hole.
  const std::vector<vesk_test::ext_inode_spec> extra = {
      {16, 0x81A4, 100000ull * 1024, false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60}},
      {1, 0x81A4, 5ull << 30, false, {}},
  };
  for (uint16_t inode_size : {128, 256, 512}) {
    SCOPED_TRACE(inode_size);
    image_t img = vesk_test::ext_image(inode_size, extra);
    for (size_t k = 0; k < 1024; k += 4) vesk_test::put32(img, 60 * 1024 + k, 60);
    RAW_DISK_IO disk(write_image(tree, "ext.img", img), false, 0, disk_mode_path);
    const ext_superblock sb = ext_superblock_from(img.data() + 1024, 1024);
    const struct {
      uint64_t inode;
      std::vector<run_pair> runs;
    } files[] = {
        {12, {{0, 1}, {21, 11}, {33, 4}, {0, 4}}},
        {13, {{41, 2}, {0, 3}, {45, 1}}},
        {14, {{0, 268}, {52, 1}}},
        {15, {{0, 65804}, {58, 1}}},
        {1, {{0, 5ull << 20}}},
    };
    for (const auto& f : files) {
      SCOPED_TRACE(f.inode);
      ext_inode_record rec;
      ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, f.inode));
      EXPECT_EQ(rec.m_inode.size(), inode_size);
      cluster_runs runs;
      ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
      EXPECT_EQ(pairs_of(runs), f.runs);
    }
    // The loop ends the walk after one read of the block.
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 16));
    cluster_runs runs;
    walk_ext_extents(rec, runs, disk, 0, sb);
    EXPECT_LE(runs.m_runs.size(), 2u);
    // Content of the block-mapped file: zeros for the holes, each block's
    // own number for the rest.
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 12));
    ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
    std::vector<uint8_t> content;
    ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, 20 * 1024));
    ASSERT_EQ(content.size(), 20u * 1024);
    const uint32_t blocks[20] = {0,  21, 22, 23, 24, 25, 26, 27, 28, 29,
                                 30, 31, 33, 34, 35, 36, 0,  0,  0,  0};
    for (size_t b = 0; b < 20; ++b) EXPECT_EQ(load_le32(&content[b * 1024 + 1020]), blocks[b]) << b;
  }
}

TEST(ExtVolumes, SparseFilesAndLargeInodesMatchDebugfs) {
  std::string why;
  if (!have({"mkfs.ext4", "mkfs.ext2", "debugfs"}, why)) GTEST_SKIP() << why;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.dir("d");
  const auto put = [&](const char* name, std::initializer_list<std::pair<uint64_t, char>> pieces,
                       uint64_t size) {
    std::fstream f(tree.path(std::string("d/") + name), std::ios::binary | std::ios::out);
    for (const auto& [at, c] : pieces) {
      f.seekp(static_cast<std::streamoff>(at));
      const std::string block(4096, c);
      f.write(block.data(), 4096);
    }
    f.close();
    std::filesystem::resize_file(tree.path(std::string("d/") + name), size);
  };
  put("lead.bin", {{65536, 'x'}}, 65536 + 4096);            // starts with a hole
  put("tail.bin", {{0, 'y'}, {8192, 'z'}}, 200 * 1024);     // ends in a hole
  put("deep.bin", {{70u << 20, 'd'}}, (70u << 20) + 4096);  // triple-indirect (1 KiB blocks)
  struct volume {
    const char* tool;
    const char* args;
  } volumes[] = {{"mkfs.ext4", "-q -I 512 -d"}, {"mkfs.ext2", "-q -b 1024 -I 512 -d"}};
  for (const auto& v : volumes) {
    SCOPED_TRACE(v.tool);
    const std::string img = vesk_test::make_volume(
        tree.path("v.img"), 16u << 20, v.tool,
        std::string(v.args) + " " + vesk_test::shell_quote(tree.path("d")), nullptr);
    ASSERT_FALSE(img.empty());
    const std::string q = vesk_test::shell_quote(img);
    const image_t head = vesk_test::read_file_range(img, 1024, 1024);
    const ext_superblock sb = ext_superblock_from(head.data(), head.size());
    ASSERT_EQ(sb.inode_size(), 512u);
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    for (const char* file : {"lead.bin", "tail.bin", "deep.bin"}) {
      SCOPED_TRACE(file);
      const std::string path = std::string("/") + file;
      const std::string imap =
          run_ok("debugfs -R " + vesk_test::shell_quote("imap " + path) + " " + q);
      const uint64_t number = std::stoull(imap.substr(imap.find("Inode ") + 6));
      const uint64_t at =
          std::stoull(imap.substr(imap.find("located at block ") + 17)) * ext_block_size(sb) +
          std::stoull(imap.substr(imap.find("offset ") + 7), nullptr, 16);
      uint64_t found = 0;
      ASSERT_TRUE(ext_inode_offset(sb, disk, 0, number, found));
      EXPECT_EQ(found, at);
      ext_inode_record rec;
      ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, number));
      cluster_runs runs;
      ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
      const uint64_t size = load_le32(&rec.m_inode[4]) | uint64_t{load_le32(&rec.m_inode[108])}
                                                             << 32;
      EXPECT_EQ(cluster_runs_total_clusters(runs) * ext_block_size(sb),
                (size + ext_block_size(sb) - 1) / ext_block_size(sb) * ext_block_size(sb));
      if (std::string(file) == "deep.bin") {
        // Only its last block holds data; the walk reads it from there.
        std::vector<uint8_t> last;
        ASSERT_TRUE(
            read_cluster_runs_to_vector(runs, last, disk, (70u << 20) / ext_block_size(sb), 4096));
        EXPECT_EQ(last, std::vector<uint8_t>(4096, 'd'));
        continue;
      }
      const std::string copy = tree.path("cat");
      run_ok("debugfs -R " + vesk_test::shell_quote("cat " + path) + " " + q + " > " +
             vesk_test::shell_quote(copy) + " 2>/dev/null");
      std::vector<uint8_t> content;
      ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, size));
      const image_t theirs = vesk_test::read_file_range(copy, 0, static_cast<size_t>(size + 1));
      EXPECT_TRUE(content == theirs);
    }
  }
}

}  // namespace
