// What the peer tools read on the same images, where the library once gave
// other bytes or fewer partitions: ext block maps whose first block number
// reads as an extent magic, damaged extent trees, meta_bg descriptors, NTFS
// initialized size, exFAT valid data length, extended chains with empty
// slots and unnamed types, a damaged primary GPT header, FAT names with
// blanks. Each on images written byte by byte (the tools' answers as
// literals) and, where the tool is installed, on an image the tool made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "disk/cluster_runs.h"
#include "disk/fat_ext.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk/partition_table.h"
#include "disk/usn_secure.h"
#include "disk_images.h"
#include "disk_tool_answers.h"
#include "fileio_test_support.h"
#include "mft_writer.h"
#include "ntfs_volume_writer.h"
#include "temp_tree.h"
#include "volume_writer.h"

using namespace vk;
using namespace vesk_test;

namespace {

std::string md5_of(const cluster_runs& runs, RAW_DISK_IO& disk, uint64_t length) {
  guid md5;
  std::vector<uint8_t> sha1, sha256;
  if (!digest_cluster_runs(runs, md5, sha1, sha256, digest_md5, disk, length)) return "failed";
  return md5_text(md5);
}

// The content of an ext inode through its runs; empty when refused.
std::vector<uint8_t> ext_content(const ext_superblock& sb, RAW_DISK_IO& disk, uint64_t inode) {
  ext_inode_record rec;
  cluster_runs runs;
  std::vector<uint8_t> content;
  if (!ext_read_inode(rec, sb, disk, 0, inode) || !walk_ext_extents(rec, runs, disk, 0, sb))
    return content;
  const uint8_t* in = rec.m_inode.data();
  const uint64_t size = load_le32(in + 4) | (uint64_t{load_le32(in + 108)} << 32);
  if (!read_cluster_runs_to_vector(runs, content, disk, 0, size)) content.clear();
  return content;
}

ext_superblock superblock_of(const std::string& img) {
  const image_t sbytes = read_file_range(img, 1024, 1024);
  return ext_superblock_from(sbytes.data(), sbytes.size());
}

uint64_t debugfs_inode(const std::string& img, const std::string& name) {
  const std::string stat = run_ok(find_tool("debugfs") + " -R " + shell_quote("stat " + name) +
                                  " " + shell_quote(img) + " 2>/dev/null");
  const size_t at = stat.find("Inode: ");
  return at == std::string::npos ? 0 : std::stoull(stat.substr(at + 7));
}

// (start, count, type) of the partitions a walk lists, links left out.
using part = std::tuple<uint64_t, uint64_t, uint16_t>;
std::set<part> partitions_of(const partition_list& list, bool links) {
  std::set<part> out;
  for (const auto& r : list)
    if (links || (r.m_type != 0x05 && r.m_type != 0x0F))
      out.emplace(r.m_start, r.m_count, static_cast<uint16_t>(r.m_type & 0xFF));
  return out;
}

}  // namespace

TEST(ExtVolumes, TheExtentsFlagChoosesTheWalkAndDamagedTreesAreRefused) {
  // Written: inode 9 maps blocks 62218-62219 (0xF30A, 0xF30B) and 10 block
  // 127754 (0x1F30A) by block map; inode 11 is a tree of depth 1 whose
  // leaves (40, 48) map 0-1 to 41-42, 5 to 45 and 6 to 46.
  const std::vector<ext_inode_spec> extra = {
      {9, 0x81A4, 2000, false, {62218, 62219}},
      {10, 0x81A4, 1024, false, {127754}},
      {11, 0x81A4, 7 * 1024, true, {0x0002F30A, 0x00010004, 0, 0, 40, 0, 5, 48, 0}},
  };
  image_t img = ext_image(256, extra);
  const image_t leaf = [] {
    image_t l(24, 0);
    put16(l, 0, 0xF30A);
    put16(l, 2, 1);
    put16(l, 4, 84);
    put32(l, 12, 6);
    put16(l, 16, 1);
    put32(l, 20, 46);
    return l;
  }();
  std::fill(img.begin() + 48 * 1024, img.begin() + 49 * 1024, 0);
  std::copy(leaf.begin(), leaf.end(), img.begin() + 48 * 1024);
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string path = tree.path("ext.img");
  write_file(path, img);
  ASSERT_EQ(::truncate(path.c_str(), 128u << 20), 0);
  for (const uint64_t block : {62218u, 62219u, 127754u})
    write_at(path, block * 1024, pattern(1024, static_cast<unsigned>(block % 1000)));
  const ext_superblock sb = ext_superblock_from(img.data() + 1024, 1024);
  const auto damage = [&](uint64_t block) {
    write_at(path, block * 1024, {0, 0});
    return [&path, block] { write_at(path, block * 1024, {0x0A, 0xF3}); };
  };
  {
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    const struct {
      uint64_t inode;
      std::vector<run_pair> runs;
      std::vector<uint64_t> blocks;
    } files[] = {{9, {{62218, 2}}, {62218, 62219}},
                 {10, {{127754, 1}}, {127754}},
                 {11, {{41, 2}, {0, 3}, {45, 2}}, {}}};
    for (const auto& f : files) {
      SCOPED_TRACE(f.inode);
      ext_inode_record rec;
      ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, f.inode));
      cluster_runs runs;
      ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
      EXPECT_EQ(pairs_of(runs), f.runs);
      std::vector<uint8_t> want;
      for (uint64_t b : f.blocks) {
        const auto p = pattern(1024, static_cast<unsigned>(b % 1000));
        want.insert(want.end(), p.begin(), p.end());
      }
      if (!want.empty()) {
        want.resize(load_le32(rec.m_inode.data() + 4));
        EXPECT_EQ(ext_content(sb, disk, f.inode), want);
      }
    }
  }
  // A leaf without its magic, either one, or a child past the medium:
  // refused, no zeros made up for it.
  for (const uint64_t block : {40u, 48u}) {
    SCOPED_TRACE(block);
    const auto restore = damage(block);
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 11));
    cluster_runs runs;
    EXPECT_FALSE(walk_ext_extents(rec, runs, disk, 0, sb));
    EXPECT_TRUE(runs.m_runs.empty());
    restore();
  }

  // Made by mkfs.ext3 and debugfs: two block-mapped files whose first
  // block was set to 62218 and 127754 (sif); debugfs dumps the reference.
  std::string why;
  if (!have({"mkfs.ext3", "mkfs.ext4", "debugfs"}, why)) GTEST_SKIP() << why;
  const std::string e3 =
      make_volume(tree.path("e3.img"), 130u << 20, "mkfs.ext3", "-q -F -b 1024", &why);
  ASSERT_FALSE(e3.empty()) << why;
  write_file(tree.path("f.bin"), pattern(3000, 1));
  std::ofstream(tree.path("cmds")) << "write " << tree.path("f.bin") << " a\n"
                                   << "write " << tree.path("f.bin") << " b\n"
                                   << "sif a block[0] 62218\nsif b block[0] 127754\n";
  run_ok(find_tool("debugfs") + " -w -f " + shell_quote(tree.path("cmds")) + " " + shell_quote(e3) +
         " >/dev/null 2>&1");
  write_at(e3, 62218 * 1024, pattern(1024, 5));
  write_at(e3, 127754 * 1024, pattern(1024, 6));
  {
    RAW_DISK_IO disk(e3, false, 0, disk_mode_path);
    const ext_superblock sb3 = superblock_of(e3);
    for (const char* name : {"a", "b"}) {
      SCOPED_TRACE(name);
      run_ok(find_tool("debugfs") + " -R " +
             shell_quote("dump " + std::string(name) + " " + tree.path("dumped")) + " " +
             shell_quote(e3) + " 2>/dev/null");
      const std::vector<uint8_t> dumped = bytes_of(read_file(tree.path("dumped")));
      ASSERT_EQ(dumped.size(), 3000u);
      EXPECT_EQ(ext_content(sb3, disk, debugfs_inode(e3, name)), dumped);
    }
  }
  // Made by mkfs.ext4 -d: a file of 120 one-block islands, a tree of two
  // leaves. Read whole it matches debugfs; its first leaf's magic cleared,
  // debugfs (and icat) refuse it, and so does the walk.
  std::filesystem::create_directories(tree.path("d"));
  {
    std::fstream f(tree.path("d/isl.bin"), std::ios::binary | std::ios::out);
    for (int k = 0; k < 120; ++k) {
      const auto island = pattern(1024, 100 + k);
      f.seekp(k * 3 * 1024 + 1024);
      f.write(reinterpret_cast<const char*>(island.data()), 1024);
    }
  }
  const std::string e4 = make_volume(tree.path("e4.img"), 8u << 20, "mkfs.ext4",
                                     "-q -F -b 1024 -d " + shell_quote(tree.path("d")), &why);
  ASSERT_FALSE(e4.empty()) << why;
  const std::string q = shell_quote(e4);
  const std::string listing =
      run_ok(find_tool("debugfs") + " -R " + shell_quote("ex /isl.bin") + " " + q + " 2>/dev/null");
  uint64_t first_leaf = 0;
  size_t leaves = 0;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string level, levels, index, entries, dash;
    uint64_t from = 0, to = 0, physical = 0;
    if (cells >> level >> levels >> index >> entries >> from >> dash >> to >> physical &&
        level == "0/") {
      if (leaves++ == 0) first_leaf = physical;
    }
  }
  ASSERT_EQ(leaves, 2u) << listing;
  const ext_superblock sb4 = superblock_of(e4);
  const uint64_t inode = debugfs_inode(e4, "/isl.bin");
  const auto dump = [&] {
    bool ok = false;
    const std::string out =
        run_command(find_tool("debugfs") + " -R " +
                        shell_quote("dump /isl.bin " + tree.path("dumped")) + " " + q,
                    ok);
    return std::make_pair(bytes_of(read_file(tree.path("dumped"))), out);
  };
  {
    RAW_DISK_IO disk(e4, false, 0, disk_mode_path);
    const auto [dumped, message] = dump();
    ASSERT_EQ(dumped.size(), 120u * 3 * 1024 - 1024);
    EXPECT_EQ(ext_content(sb4, disk, inode), dumped);
  }
  write_at(e4, first_leaf * 1024, {0, 0});
  {
    RAW_DISK_IO disk(e4, false, 0, disk_mode_path);
    const auto [dumped, message] = dump();
    EXPECT_TRUE(dumped.empty());
    EXPECT_NE(message.find("Corrupt extent header"), std::string::npos) << message;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ext_content(sb4, disk, inode).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: inode " + std::to_string(inode) + ": block " + std::to_string(first_leaf) +
                  " holds no extent tree node of the depth expected; the file is not read\n");
    if (!find_tool("icat").empty()) {
      bool ok = true;
      run_command(find_tool("icat") + " " + q + " " + std::to_string(inode) + " >/dev/null", ok);
      EXPECT_FALSE(ok);
    }
  }
}

TEST(ExtVolumes, MetaBgDescriptorsLieInTheirMetaGroup) {
  // Written: 40 groups of 8 blocks; descriptors of groups from 32 (16 with
  // 64-byte descriptors) on lie in the first block of their meta group.
  // Each inode's size names its group.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "64bit" : "32-byte descriptors");
    const image_t img = ext_meta_bg_image(wide);
    const std::string path = tree.path("meta.img");
    write_file(path, img);
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    const ext_superblock sb = ext_superblock_from(img.data() + 1024, 1024);
    EXPECT_EQ(ext_descriptor_block(sb, 0), 2u);
    EXPECT_EQ(ext_descriptor_block(sb, 1), wide ? 129u : 257u);
    for (uint64_t group = 0; group < ext_meta_bg_groups; ++group) {
      for (uint64_t k = 1; k <= 2; ++k) {
        ext_inode_record rec;
        ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 2 * group + k)) << group;
        EXPECT_EQ(load_le32(rec.m_inode.data() + 4), 1000 * k + group);
      }
    }
  }

  // Made by mkfs.ext4 (64bit, meta_bg, flex_bg, 1 KiB blocks, 32 inodes a
  // group): 660 files; every file debugfs lists is read, those of inodes
  // 513-650 among them.
  std::string why;
  if (!have({"mkfs.ext4", "debugfs"}, why)) GTEST_SKIP() << why;
  std::filesystem::create_directories(tree.path("m"));
  for (int i = 1; i <= 660; ++i)
    write_file(tree.path("m/f" + std::to_string(i)), "file " + std::to_string(i) + "\n");
  const std::string img =
      make_volume(tree.path("mb.img"), 32u << 20, "mkfs.ext4",
                  "-q -F -b 1024 -O 64bit,meta_bg,flex_bg,^resize_inode -g 1024 -N 1024 -d " +
                      shell_quote(tree.path("m")),
                  &why);
  ASSERT_FALSE(img.empty()) << why;
  const ext_superblock sb = superblock_of(img);
  ASSERT_TRUE(sb.incompat_features() & ext_incompat_meta_bg);
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  std::istringstream lines(run_ok(find_tool("debugfs") + " -R " + shell_quote("ls -l /") + " " +
                                  shell_quote(img) + " 2>/dev/null"));
  size_t files = 0, in_range = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    uint64_t inode = 0;
    std::string name;
    if (!(cells >> inode)) continue;
    for (std::string cell; cells >> cell;) name = cell;
    if (name.size() < 2 || name[0] != 'f' || !std::isdigit(static_cast<unsigned char>(name[1])))
      continue;
    ++files;
    if (inode >= 513 && inode <= 650) ++in_range;
    EXPECT_EQ(ext_content(sb, disk, inode), bytes_of("file " + name.substr(1) + "\n")) << inode;
  }
  EXPECT_EQ(files, 660u);
  EXPECT_GT(in_range, 100u);
}

TEST(NtfsContent, InitializedSizeEndsTheBytesRead) {
  // Written: clusters of 512 bytes holding their own number; a file of 2000
  // bytes in clusters 10-13 of which 700 (2000, 0) were written: the bytes
  // written, then zeros, as icat gives them.
  std::vector<uint8_t> medium(64 * 512);
  for (size_t c = 0; c < 64; ++c)
    std::fill(medium.begin() + c * 512, medium.begin() + (c + 1) * 512, static_cast<uint8_t>(c));
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("medium"), medium);
  RAW_DISK_IO disk(tree.path("medium"), false, 0, disk_mode_path);
  const auto name = resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"f"));
  const struct {
    std::vector<uint8_t> data;
    uint64_t initialized;
    std::string md5;
  } cases[] = {
      {nonresident_attr(0x80, encode_runs({{10, 4}}), 2048, 2000, 700), 700,
       "52c772a4a29b063ed89633ba3327e852"},
      {nonresident_attr(0x80, encode_runs({{10, 4}}), 2048, 2000, 2000), 2000,
       "358d31f2346f8d1ef34a4a646033589b"},
      {nonresident_attr(0x80, encode_runs({{10, 4}}), 2048, 2000, 0), 0,
       "cf40a1de3f93b4a025409b5efa5aa210"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.initialized);
    std::vector<uint8_t> raw = file_record(
        40, 1, 1, 0, {resident_attr(0x10, std_info_value(1, 2, 3, 4, 0)), name, c.data});
    inode_record rec;
    rec.m_options = mft_keep_data_runs;
    ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0, 1024, false));
    EXPECT_EQ(rec.m_initialized_size, c.initialized);
    cluster_runs list;
    ASSERT_TRUE(cluster_runs_from_record(list, rec, 0, 512));
    std::vector<uint8_t> want(2000, 0);
    for (size_t i = 0; i < c.initialized; ++i) want[i] = static_cast<uint8_t>(10 + i / 512);
    std::vector<uint8_t> content;
    ASSERT_TRUE(read_cluster_runs_to_vector(list, content, disk, 0, rec.m_real_size));
    EXPECT_EQ(content, want);
    EXPECT_EQ(md5_of(list, disk, rec.m_real_size), c.md5);
    // From the second cluster on, and the first run read alone.
    ASSERT_TRUE(read_cluster_runs_to_vector(list, content, disk, 1, 1488));
    EXPECT_EQ(content, std::vector<uint8_t>(want.begin() + 512, want.end()));
    list.m_content_size = 1024;
    ASSERT_TRUE(read_first_run_content(list, content, disk));
    EXPECT_EQ(std::vector<uint8_t>(content.begin(), content.begin() + 1024),
              std::vector<uint8_t>(want.begin(), want.begin() + 1024));
  }

  // Made by mkntfs and ntfscp: a 20,000-byte file whose initialized size
  // is then set to 6,000 in its record; icat and ntfscat give 6,000 bytes
  // and zeros (MD5 0a06...), and so does the library.
  std::string why;
  if (!have({"mkntfs", "ntfscp", "icat"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("n.img"), 16u << 20, "mkntfs", "-F -Q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  write_file(tree.path("p.bin"), pattern(20000, 7));
  const std::string q = shell_quote(img);
  run_ok(find_tool("ntfscp") + " " + q + " " + shell_quote(tree.path("p.bin")) + " p.bin");
  const auto load = [&](_inode_collection& c, RAW_DISK_IO& ntfs) -> const inode_record* {
    ntfs_volume_map map;
    if (!ntfs_volume_map_from_boot(map, &ntfs, 0)) return nullptr;
    const data_run& first = map.m_mft_runs.front();
    c.m_all_records = 1;
    c.m_options = mft_keep_data_runs;
    if (!c.attach_disk(&ntfs, false, nullptr, nullptr, uint64_t{first.m_count} * map.m_cluster_size,
                       first.m_cluster * map.m_cluster_size))
      return nullptr;
    for (const inode_record& r : c.m_store)
      if (r.m_name == "p.bin" && r.m_base_record) return &r;
    return nullptr;
  };
  uint64_t entry = 0;
  {
    RAW_DISK_IO ntfs(img, false, 0, disk_mode_path);
    _inode_collection c;
    const inode_record* rec = load(c, ntfs);
    ASSERT_NE(rec, nullptr);
    entry = rec->entry_number();
    // The initialized size field of its $DATA, inside the record.
    image_t record = read_file_range(img, rec->m_file_offset, 1024);
    size_t at = load_le16(&record[20]);
    while (at + 8 < record.size() && load_le32(&record[at]) != 0x80)
      at += load_le32(&record[at + 4]);
    ASSERT_LT(at + 64, record.size());
    ASSERT_EQ(load_le64(&record[at + 56]), 20000u);
    image_t six(8, 0);
    put64(six, 0, 6000);
    write_at(img, rec->m_file_offset + at + 56, six);
  }
  std::vector<uint8_t> want = pattern(20000, 7);
  std::fill(want.begin() + 6000, want.end(), 0);
  run_ok("icat " + q + " " + std::to_string(entry) + " > " + shell_quote(tree.path("icat.out")));
  EXPECT_EQ(bytes_of(read_file(tree.path("icat.out"))), want);
  if (!find_tool("ntfscat").empty()) {
    run_ok(find_tool("ntfscat") + " " + q + " p.bin > " + shell_quote(tree.path("ntfscat.out")));
    EXPECT_EQ(bytes_of(read_file(tree.path("ntfscat.out"))), want);
  }
  RAW_DISK_IO ntfs(img, false, 0, disk_mode_path);
  _inode_collection c;
  const inode_record* rec = load(c, ntfs);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->m_initialized_size, 6000u);
  cluster_runs list;
  ASSERT_TRUE(cluster_runs_from_record(list, *rec, 0, 4096));
  std::vector<uint8_t> content;
  ASSERT_TRUE(read_cluster_runs_to_vector(list, content, ntfs, 0, rec->m_real_size));
  EXPECT_EQ(content, want);
  EXPECT_EQ(md5_of(list, ntfs, rec->m_real_size), "0a0664095036af6b0b62e6a45dcdcf3b");
}

TEST(ExfatVolumes, ValidDataLengthEndsTheBytesRead) {
  // Written: "contig.bin" (clusters 3-5, 1300 bytes) with valid data
  // lengths of 600, 0 and 1300, and "chained.bin" (6, 8, 7) with 1000 of
  // 1500; the clusters hold a pattern. Bytes past the valid length are
  // zeros, never the clusters' bytes.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const struct {
    size_t set;  // file set 0 (contig) or 1 (chained)
    uint64_t valid;
    std::string md5;
  } cases[] = {{0, 600, "0deb3217cd46f8594d4edba3c14707a6"},
               {0, 0, "1b09d4b3b183d0e78c9627ba6b0f925e"},
               {0, 1300, "7e604b40ed2502a265e9254519d8b775"},
               {1, 1000, "02198648fa24cc939fbef1de3e288a88"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.set) + " " + std::to_string(c.valid));
    image_t img = exfat_image();
    const auto fill = pattern(7 * 512, 3);
    std::copy(fill.begin(), fill.end(), img.begin() + 3 * 512);
    // Set 0's stream entry follows the label and its file entry; set 1's
    // follows set 0 (three entries) and its own file entry.
    const size_t stream = 1024 + 64 + c.set * 96;
    put64(img, stream + 8, c.valid);
    put16(img, stream - 30, exfat_set_checksum(&img[stream - 32], 3));
    const boot_sector bs = boot_sector_from(img.data(), img.size());
    std::vector<exfat_file_entry> files;
    ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
    const exfat_file_entry& f = files[c.set];
    ASSERT_EQ(f.m_valid_length, c.valid);
    write_file(tree.path("x.img"), img);
    RAW_DISK_IO disk(tree.path("x.img"), false, 0, disk_mode_path);
    cluster_runs runs;
    ASSERT_TRUE(exfat_entry_to_runs(bs, runs, f, img.data() + 512, 512, 0));
    std::vector<uint8_t> content;
    ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, f.m_data_length));
    ASSERT_EQ(content.size(), f.m_data_length);
    const std::vector<uint64_t> clusters =
        c.set == 0 ? std::vector<uint64_t>{3, 4, 5} : std::vector<uint64_t>{6, 8, 7};
    for (size_t i = 0; i < content.size(); ++i) {
      const uint8_t stored = img[clusters[i / 512] * 512 + i % 512];
      ASSERT_EQ(content[i], i < c.valid ? stored : 0) << i;
    }
    EXPECT_EQ(md5_of(runs, disk, f.m_data_length), c.md5);
  }
}

TEST(PartitionWalks, EmptySlotsUnnamedTypesAndLongChainsAreAllListed) {
  // Written: primaries 0xA5 and 0xDA around an extended partition whose
  // first boot record has lost its logical (slot 1 empty, the link kept in
  // slot 2), then logicals 0x17 and 0x07. mmls and sfdisk list these five
  // partitions; the walks list them too, and the links.
  image_t b(128 * 512, 0);
  mbr_slot(b, 0, 0, 0xA5, 8, 8);
  mbr_slot(b, 0, 1, 0x05, 32, 64);
  mbr_slot(b, 0, 2, 0xDA, 100, 10);
  mbr_slot(b, 32 * 512, 1, 0x05, 16, 16);
  mbr_slot(b, 48 * 512, 0, 0x17, 2, 8);
  mbr_slot(b, 48 * 512, 1, 0x05, 32, 8);
  mbr_slot(b, 64 * 512, 0, 0x07, 2, 6);
  const std::set<part> listed = {
      {8, 8, 0xA5}, {32, 64, 0x05}, {100, 10, 0xDA}, {50, 8, 0x17}, {66, 6, 0x07}};
  // The link of the first boot record is the extended partition's own.
  std::set<part> with_links = listed;
  with_links.insert({64, 8, 0x05});
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("mbr.img"), b);
  {
    RAW_DISK_IO disk(tree.path("mbr.img"), false, 0, disk_mode_path);
    partition_list list;
    ASSERT_TRUE(scan_partitions(disk, list, false, false));
    EXPECT_EQ(partitions_of(list, true), with_links);
    ASSERT_TRUE(scan_partitions_buffer(b.data(), b.size(), list, false, false));
    EXPECT_EQ(partitions_of(list, true), with_links);
    EXPECT_EQ(mbr_type_name(0x17), "hidden ntfs");
    EXPECT_EQ(mbr_type_name(0xDA), "unk");
  }

  // Written: a chain of 5,000 boot records with one logical each. The walk
  // stops at 256 logicals and says so.
  image_t chain(10002 * 512, 0);
  mbr_slot(chain, 0, 0, 0x05, 1, 10001);
  for (uint32_t k = 0; k < 5000; ++k) {
    mbr_slot(chain, (1 + 2 * size_t{k}) * 512, 0, 0x83, 1, 1);
    if (k + 1 < 5000) mbr_slot(chain, (1 + 2 * size_t{k}) * 512, 1, 0x05, 2 * (k + 1), 2);
  }
  write_file(tree.path("chain.img"), chain);
  for (const bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory ? "buffer" : "disk");
    partition_list list;
    testing::internal::CaptureStderr();
    if (in_memory) {
      ASSERT_TRUE(scan_partitions_buffer(chain.data(), chain.size(), list, false, false));
    } else {
      RAW_DISK_IO disk(tree.path("chain.img"), false, 0, disk_mode_path);
      ASSERT_TRUE(scan_partitions(disk, list, false, false));
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count_if(list.begin(), list.end(),
                            [](const partition_entry& r) { return (r.m_type & 0xFF) == 0x83; }),
              256);
    EXPECT_NE(said.find("cut after 256 logical partitions"), std::string::npos) << said;
  }

  // Made by sfdisk: primaries 0xA5, 0xDA and 0x83, logicals 0x17, 0x07 and
  // 0xA5; then the first boot record's logical cleared as DOS deletes it.
  std::string why;
  if (!have({"sfdisk"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("sf.img");
  ASSERT_TRUE(make_sparse_file(img, 16u << 20));
  run_ok(
      "printf 'label: dos\\nunit: sectors\\n\\nstart=2048, size=2048, type=a5\\n"
      "start=4096, size=20480, type=5\\nstart=26624, size=2048, type=da\\n"
      "size=1024, type=83\\nsize=1024, type=17\\nsize=1024, type=7\\nsize=1024, type=a5\\n' | " +
      find_tool("sfdisk") + " -q " + shell_quote(img));
  write_at(img, 4096 * 512 + 446, image_t(16, 0));
  // sfdisk -d as it lists them (mmls lists the same).
  const std::set<part> tool_listed = {{2048, 2048, 0xA5},  {4096, 20480, 0x05},
                                      {26624, 2048, 0xDA}, {24576, 1024, 0x83},
                                      {10240, 1024, 0x07}, {14336, 1024, 0xA5}};
  std::set<part> dumped;
  std::istringstream lines(run_ok(find_tool("sfdisk") + " -d " + shell_quote(img)));
  for (std::string line; std::getline(lines, line);) {
    uint64_t start = 0, size = 0;
    unsigned type = 0;
    const size_t s = line.find("start="), z = line.find("size="), t = line.find("type=");
    if (s == std::string::npos || z == std::string::npos || t == std::string::npos) continue;
    start = std::stoull(line.substr(s + 6));
    size = std::stoull(line.substr(z + 5));
    type = static_cast<unsigned>(std::stoul(line.substr(t + 5), nullptr, 16));
    dumped.emplace(start, size, static_cast<uint16_t>(type));
  }
  EXPECT_EQ(dumped, tool_listed);
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  partition_list list;
  ASSERT_TRUE(scan_partitions(disk, list, false, false));
  std::set<part> ours = partitions_of(list, false);
  ours.insert({4096, 20480, 0x05});
  EXPECT_EQ(ours, tool_listed);
}

TEST(PartitionWalks, ADamagedPrimaryGptGivesWayToTheBackup) {
  // Written: two partitions; the primary header without its signature,
  // with a changed byte (CRC mismatch), or with a changed entry (array CRC
  // mismatch): the backup at LBA 127 gives the same partitions, and the
  // walk says so. Both headers damaged: nothing, and why.
  const image_t good = gpt_image({{40, 59, 0, u"one"}, {60, 79, 0, u"two"}});
  const std::set<part> both = {{40, 20, 0xEE}, {60, 20, 0xEE}};
  const struct {
    const char* what;
    size_t at;  // byte changed in the primary (0: none)
    bool backup_too;
    bool found;
    const char* said;
  } cases[] = {
      {"intact", 0, false, true, ""},
      {"no signature", 512, false, true,
       "prob: GPT primary header damaged (no signature); partitions read from the backup header "
       "at LBA 127\n"},
      {"header CRC", 512 + 60, false, true, "(header CRC mismatch); partitions read from"},
      {"entry CRC", 1024 + 56, false, true, "(entry array CRC mismatch); partitions read from"},
      {"both", 512 + 60, true, false,
       "prob: GPT primary header damaged (header CRC mismatch) and backup header at LBA 127 "
       "damaged (header CRC mismatch); no partitions read\n"},
  };
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    image_t img = good;
    if (c.at) img[c.at] ^= 0x5A;
    if (c.backup_too) img[127 * 512 + 60] ^= 0x5A;
    write_file(tree.path("gpt.img"), img);
    RAW_DISK_IO disk(tree.path("gpt.img"), false, 0, disk_mode_path);
    partition_list list;
    testing::internal::CaptureStderr();
    EXPECT_EQ(scan_partitions(disk, list, false, false), c.found);
    const std::string said = testing::internal::GetCapturedStderr();
    if (c.found) {
      std::set<part> got = partitions_of(list, true);
      EXPECT_EQ(got, both);
      std::set<std::string> names;
      for (const auto& r : list) names.insert(r.m_description);
      EXPECT_EQ(names, (std::set<std::string>{"one", "two"}));
    }
    if (*c.said == 0) {
      EXPECT_EQ(said, "");
    } else {
      EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
  }

  // Made by sgdisk: three partitions; the primary header's disk GUID byte
  // changed. sgdisk reads the backup and lists them; so does the walk.
  std::string why;
  if (!have({"sgdisk"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("sg.img");
  ASSERT_TRUE(make_sparse_file(img, 12u << 20));
  const std::string q = shell_quote(img);
  run_ok(find_tool("sgdisk") + " -n 1:2048:+1M -n 2:0:+2M -n 3:0:+1M " + q + " >/dev/null");
  image_t header = read_file_range(img, 512, 512);
  header[56] ^= 0xFF;
  write_at(img, 512, header);
  std::set<std::pair<uint64_t, uint64_t>> theirs;
  std::istringstream lines(run_ok(find_tool("sgdisk") + " -p " + q));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    uint64_t number = 0, start = 0, end = 0;
    if (cells >> number >> start >> end) theirs.emplace(start, end - start + 1);
  }
  EXPECT_EQ(theirs,
            (std::set<std::pair<uint64_t, uint64_t>>{{2048, 2048}, {4096, 4096}, {8192, 2048}}));
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  partition_list list;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(scan_partitions(disk, list, false, false));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("backup header at LBA 24575"), std::string::npos) << said;
  std::set<std::pair<uint64_t, uint64_t>> ours;
  for (const auto& r : list) ours.emplace(r.m_start, r.m_count);
  EXPECT_EQ(ours, theirs);
}

TEST(FatVolumes, NamesAndLabelsKeepTheirInnerBlanks) {
  // Written: the label "ROOT LABEL", short names "A B     TXT" (also with
  // both lower-case flags) and "AB      TXT". mdir shows "ROOT LABEL",
  // "A B.TXT" and "AB.TXT".
  image_t label = fat_short_entry("ROOT LABEL ", 0x08, 0, 0);
  image_t spaced = fat_short_entry("A B     TXT", 0x20, 3, 10);
  image_t lower = spaced;
  lower[12] = 0x18;
  image_t plain = fat_short_entry("AB      TXT", 0x20, 3, 10);
  image_t deleted = spaced;
  deleted[0] = 0xE5;
  const struct {
    const image_t* entry;
    const char* name;
  } cases[] = {{&label, "ROOT LABEL"},
               {&spaced, "A B.TXT"},
               {&lower, "a b.txt"},
               {&plain, "AB.TXT"},
               {&deleted, "_ B.TXT"}};
  for (const auto& c : cases) {
    EXPECT_EQ(fat_short_name_text(c.entry->data()), c.name);
    EXPECT_EQ(fat_name_text_raw(c.entry->data()), c.name);
  }
  image_t img = fat_image(16);
  std::copy(label.begin(), label.end(), img.begin() + 1024);
  std::copy(spaced.begin(), spaced.end(), img.begin() + 1024 + 4 * 32);
  const boot_sector bs = boot_sector_from(img.data(), img.size());
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  read_fat_dir_entries_lfn(names, entries, offsets, bs, img.data() + 1024, 512, 0, ~uint64_t{0},
                           false, 1024);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ROOT LABEL"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "A B.TXT"), 1);

  // Made by mkfs.fat -n "ROOT LABEL" and mcopy, "AB.TXT" renamed in place
  // to "A B     TXT": mdir's label and name columns.
  std::string why;
  if (!have({"mkfs.fat", "mcopy", "mdir"}, why)) GTEST_SKIP() << why;
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string fat =
      make_volume(tree.path("f.img"), 2u << 20, "mkfs.fat", "-n 'ROOT LABEL'", &why);
  ASSERT_FALSE(fat.empty()) << why;
  write_file(tree.path("ab.txt"), std::string("hello\n"));
  const std::string q = shell_quote(fat);
  run_ok("mcopy -i " + q + " " + shell_quote(tree.path("ab.txt")) + " ::/AB.TXT");
  const image_t head = read_file_range(fat, 0, 512);
  const boot_sector fbs = boot_sector_from(head.data(), head.size());
  const uint64_t root = fat16_root_dir_offset(fbs);
  image_t dir = read_file_range(fat, root, size_t{fbs.root_entries()} * 32);
  for (size_t at = 0; at + 32 <= dir.size(); at += 32)
    if (std::memcmp(&dir[at], "AB      TXT", 11) == 0) put_text(dir, at, "A B     TXT");
  write_at(fat, root, dir);
  const std::string listing = run_ok("mdir -i " + q + " ::/");
  std::string tool_label, tool_name;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const size_t is = line.find("Volume in drive : is ");
    if (is != std::string::npos) tool_label = line.substr(is + 21);
    if (line.size() > 12 && line.compare(9, 3, "TXT") == 0) {
      tool_name = line.substr(0, 8);
      tool_name.erase(tool_name.find_last_not_of(' ') + 1);
      tool_name += ".TXT";
    }
  }
  tool_label.erase(tool_label.find_last_not_of(' ') + 1);
  EXPECT_EQ(tool_label, "ROOT LABEL");
  EXPECT_EQ(tool_name, "A B.TXT");
  read_fat_dir_entries_lfn(names, entries, offsets, fbs, dir.data(), dir.size(), 0, ~uint64_t{0},
                           false, root);
  EXPECT_EQ(std::count(names.begin(), names.end(), tool_label), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), tool_name), 1);
}
