// The integrity marks each format carries: NTFS update sequences, ext4
// metadata checksums, exFAT SetChecksums, and the sizes a file system can
// hold. On images from the project's writers each mark is broken in turn
// and must be said while the sound image gives no word; where the tool is
// installed, on images the tool made, with its answer (istat, debugfs,
// e2fsck, fsck.exfat, icat, sfdisk) as the expected value.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk/fat_ext.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk/partition_table.h"
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

uint32_t torn_records(const _inode_collection& c) {
  uint32_t n = 0;
  for (const inode_record& r : c.m_store) n += (r.m_unread & mft_unread_torn) != 0;
  return n;
}

bool said(const std::string& err, const std::string& text) {
  return err.find(text) != std::string::npos;
}

// Reads and walks an ext inode of the image at path; what was said.
std::string ext_walk_said(const std::string& path, uint64_t inode, bool& read) {
  const image_t sbytes = read_file_range(path, 1024, 1024);
  testing::internal::CaptureStderr();
  const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  ext_inode_record rec;
  cluster_runs runs;
  read = ext_read_inode(rec, sb, disk, 0, inode) && walk_ext_extents(rec, runs, disk, 0, sb);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(IntegrityMarks, NtfsUpdateSequencesAreCompared) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Written: the split file's record (7) with its second sector's last
  // word changed; the sound volume has no torn record.
  for (const bool torn : {false, true}) {
    small_ntfs_volume vol = make_small_ntfs_volume();
    if (torn) vol.bytes[small_ntfs_volume::entry_offset(small_ntfs_volume::report) + 1022] ^= 1;
    write_file(tree.path("n.img"), vol.bytes);
    RAW_DISK_IO disk(tree.path("n.img"), false, 0, disk_mode_path);
    _inode_collection c;
    ASSERT_TRUE(load_table(c, disk));
    EXPECT_EQ(torn_records(c), torn ? 1u : 0u);
    const auto it = c.m_entries.find(small_ntfs_volume::report);
    ASSERT_NE(it, c.m_entries.end());
    EXPECT_EQ(
        mft_unread_text(c.m_store[it->second].m_unread),
        torn ? "incorrect update sequence value: a sector of the record is torn or damaged" : "");
  }
  // Written: an INDX record of 4096 bytes (sequence 0x0102, count 9) whole
  // and with its fourth sector torn.
  std::vector<uint8_t> indx(4096, 0xAB);
  put_text(indx, 0, "INDX");
  put16(indx, 4, 40);
  put16(indx, 6, 9);
  put16(indx, 40, 0x0102);
  for (size_t i = 1; i < 9; ++i) {
    put16(indx, 40 + 2 * i, static_cast<uint16_t>(0x1000 + i));
    put16(indx, i * 512 - 2, 0x0102);
  }
  for (const bool torn : {false, true}) {
    std::vector<uint8_t> r = indx;
    if (torn) put16(r, 4 * 512 - 2, 0x0101);
    uint32_t kind = 0;
    EXPECT_EQ(apply_fixups(kind, r.data(), r.size(), 512), !torn);
    EXPECT_EQ(kind, uint32_t{fixup_indx});
    EXPECT_EQ(load_le16(&r[3 * 512 - 2]), torn ? 0x0102 : 0x1003);
  }
  // Made by mkntfs, $Extend's record (11) then torn: istat refuses it with
  // "Incorrect update sequence value in MFT entry"; the table marks it.
  std::string why;
  if (!have({"mkntfs", "istat"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("m.img"), 16u << 20, "mkntfs", "-F -Q -q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  const image_t boot = read_file_range(img, 0, 512);
  const uint64_t record11 = load_le64(&boot[48]) * 4096 + 11 * 1024;
  write_at(img, record11 + 510, {0x55, 0xAA});
  bool ok = false;
  const std::string istat = run_command("istat " + shell_quote(img) + " 11", ok);
  EXPECT_TRUE(said(istat, "Incorrect update sequence value in MFT entry")) << istat;
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  _inode_collection c;
  ASSERT_TRUE(load_table(c, disk));
  EXPECT_EQ(torn_records(c), 1u);
  const auto it = c.m_entries.find(11);
  ASSERT_NE(it, c.m_entries.end());
  EXPECT_TRUE(c.m_store[it->second].m_unread & mft_unread_torn);
}

TEST(IntegrityMarks, Ext4MetadataChecksumsAreCheckedWhereTheVolumeKeepsThem) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Written: a metadata_csum volume, sound, then one byte changed in turn
  // in the superblock, the group descriptor, inode 13, its extent block 40
  // and the root folder's block 20.
  const image_t good = ext_csum_image();
  const struct {
    const char* what;
    size_t at;
    uint64_t inode;  // the inode read and walked
    const char* said;
  } cases[] = {
      {"sound", 0, 13, ""},
      {"sound folder", 0, 2, ""},
      {"superblock", 1024 + 48, 13, "prob: ext superblock checksum 0x"},
      {"descriptor", 2048 + 12, 13, "prob: inode 13: group descriptor 0 checksum 0x"},
      {"inode", 5 * 1024 + 12 * 256 + 16, 13, "prob: inode 13: checksum 0x"},
      {"extent block", 40 * 1024 + 100, 13, "prob: inode 13: extent block 40 checksum 0x"},
      {"folder block", 20 * 1024 + 100, 2, "prob: inode 2: folder block 20 checksum 0x"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    image_t img = good;
    if (k.at) img[k.at] ^= 0x40;
    write_file(tree.path("e.img"), img);
    bool read = false;
    const std::string err = ext_walk_said(tree.path("e.img"), k.inode, read);
    EXPECT_EQ(read, *k.said == 0);
    if (*k.said == 0)
      EXPECT_EQ(err, "");
    else
      EXPECT_EQ(err.rfind(k.said, 0), 0u) << err;
  }

  // Made by mkfs.ext4 -d (metadata_csum) and indexed by e2fsck -D: a file
  // of 200 one-block islands (a tree of depth 1), a folder of 400 names
  // (an htree). Sound, every inode reads without a word; damaged, the tools
  // and the walk refuse the same structures.
  std::string why;
  if (!have({"mkfs.ext4", "debugfs", "e2fsck"}, why)) GTEST_SKIP() << why;
  std::filesystem::create_directories(tree.path("d/many"));
  for (int i = 0; i < 400; ++i)
    write_file(tree.path("d/many/a-longish-file-name-" + std::to_string(i)), bytes_of("x"));
  {
    std::fstream f(tree.path("d/isl.bin"), std::ios::binary | std::ios::out);
    for (int k = 0; k < 200; ++k) {
      const auto island = pattern(1024, k);
      f.seekp(k * 3 * 1024 + 1024);
      f.write(reinterpret_cast<const char*>(island.data()), 1024);
    }
  }
  const std::string e4 = make_volume(tree.path("e4.img"), 8u << 20, "mkfs.ext4",
                                     "-q -F -b 1024 -d " + shell_quote(tree.path("d")), &why);
  ASSERT_FALSE(e4.empty()) << why;
  const std::string q = shell_quote(e4);
  bool indexed = false;  // e2fsck -D ends with status 1: the folders were changed
  run_command(find_tool("e2fsck") + " -fyD " + q, indexed);
  const auto inode_of = [&](const std::string& name, std::string& stat) {
    stat = run_ok(find_tool("debugfs") + " -R " + shell_quote("stat " + name) + " " + q);
    return std::stoull(stat.substr(stat.find("Inode: ") + 7));
  };
  std::string stat;
  const uint64_t isl = inode_of("/isl.bin", stat);
  const uint64_t many = inode_of("/many", stat);
  ASSERT_TRUE(said(stat, "Flags: 0x81000")) << stat;  // extents, htree
  const std::string tree_text = run_ok(find_tool("debugfs") + " -R 'ex /isl.bin' " + q);
  ASSERT_TRUE(said(tree_text, " 0/ 1   1/  3 ")) << tree_text;
  for (uint64_t n = 2; n <= 16; ++n) {
    bool read = false;
    EXPECT_EQ(ext_walk_said(e4, n, read), "") << n;
  }
  const image_t sbytes = read_file_range(e4, 1024, 1024);
  const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
  RAW_DISK_IO disk(e4, false, 0, disk_mode_path);
  uint64_t inode_at = 0;
  ASSERT_TRUE(ext_inode_offset(sb, disk, 0, isl, inode_at));
  ext_inode_record rec;
  ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, isl));
  const uint64_t leaf_block = load_le32(rec.m_inode.data() + 40 + 16);
  ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, many));
  cluster_runs runs;
  ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
  const uint64_t folder_block = runs.m_runs.back().m_first;
  const struct {
    const char* what;
    uint64_t at;
    const char* tool;
    const char* args;
    const char* tool_says;
    uint64_t inode;
    const char* said;
  } damage[] = {
      {"inode", inode_at + 16, "debugfs", " -R 'stat /isl.bin' ",
       "Inode checksum does not match inode", isl, "checksum 0x"},
      {"extent block", leaf_block * 1024 + 100, "debugfs", " -R 'dump /isl.bin /dev/null' ",
       "Extent block checksum does not match extent block", isl, "extent block "},
      {"folder block", folder_block * 1024 + 40, "debugfs", " -R 'ls /many' ",
       "Directory block checksum does not match directory block", many, "folder block "},
      {"descriptor", 2048 + 12, "e2fsck", " -fn ",
       "One or more block group descriptor checksums are invalid", isl,
       "group descriptor 0 checksum 0x"},
  };
  for (const auto& k : damage) {
    SCOPED_TRACE(k.what);
    const std::string copy = tree.path("dmg.img");
    std::filesystem::copy_file(e4, copy, std::filesystem::copy_options::overwrite_existing);
    std::vector<uint8_t> b = read_file_range(copy, k.at, 1);
    b[0] ^= 0x40;
    write_at(copy, k.at, b);
    bool ok = false;
    const std::string tool = run_command(find_tool(k.tool) + k.args + shell_quote(copy), ok);
    EXPECT_TRUE(said(tool, k.tool_says)) << tool;
    bool read = false;
    const std::string err = ext_walk_said(copy, k.inode, read);
    EXPECT_FALSE(read);
    EXPECT_EQ(err.rfind("prob: inode " + std::to_string(k.inode) + ": " + k.said, 0), 0u) << err;
  }
}

TEST(IntegrityMarks, ExfatSetChecksumsAreCheckedBeforeTheSetIsUsed) {
  // Written: "contig.bin" renamed in place to "jontig.bin": listed, marked,
  // said, its content refused; "chained.bin" and the sound image are read.
  for (const bool renamed : {false, true}) {
    image_t img = exfat_image();
    if (renamed) img[1024 + 32 + 64 + 2] = 'j';
    std::vector<exfat_file_entry> files;
    testing::internal::CaptureStderr();
    ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind(renamed ? "prob: exFAT entry set at offset 0x420: SetChecksum 0x" : "", 0),
              0u);
    EXPECT_EQ(err.empty(), !renamed);
    EXPECT_EQ(files[0].m_name, renamed ? "jontig.bin" : "contig.bin");
    EXPECT_EQ(files[0].m_checksum_bad, renamed);
    EXPECT_FALSE(files[1].m_checksum_bad);
    const boot_sector bs = boot_sector_from(img.data(), img.size());
    cluster_runs runs;
    EXPECT_EQ(exfat_entry_to_runs(bs, runs, files[0], img.data() + 512, 512, 0), !renamed);
  }
  // Made by mkfs.exfat with an empty "hello.txt" set written into its root:
  // fsck.exfat finds it clean; renamed in place it says "files corrupted 1".
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::string why;
  if (!have({"mkfs.exfat", "fsck.exfat"}, why)) GTEST_SKIP() << why;
  const std::string img = make_volume(tree.path("x.img"), 4u << 20, "mkfs.exfat", "", &why);
  ASSERT_FALSE(img.empty()) << why;
  const image_t head = read_file_range(img, 0, 512);
  const boot_sector bs = boot_sector_from(head.data(), head.size());
  const uint64_t root = exfat_root_dir_offset(bs, 0);
  // The label, bitmap and up-case entries come first.
  write_at(img, root + 96, exfat_file_set(u"hello.txt", 0x01, 0, 0, true));
  for (const bool renamed : {false, true}) {
    if (renamed) write_at(img, root + 96 + 64 + 2, {'j'});
    bool ok = false;
    const std::string fsck = run_command(find_tool("fsck.exfat") + " -n " + shell_quote(img), ok);
    EXPECT_EQ(said(fsck, "files corrupted 1"), renamed) << fsck;
    const image_t dir = read_file_range(img, root, 512);
    std::vector<exfat_file_entry> files;
    testing::internal::CaptureStderr();
    ASSERT_EQ(read_exfat_dir_entries(files, dir.data(), dir.size(), root, false), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), !renamed);
    EXPECT_EQ(files[0].m_checksum_bad, renamed);
  }
}

TEST(IntegrityMarks, ADeclaredSizeBeyondTheFileSystemIsRefused) {
  // Written: inode 13 (extents, 1 KiB blocks) with one bit of i_size_high
  // set: 2^56 + 6144 bytes, beyond 2^32 blocks of 1 KiB; inode 12 (block
  // map) with bit 4: 2^36 + 20480, beyond its 16,843,020 blocks. On the
  // metadata_csum volume the inode is sealed again, so the size is said.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const struct {
    bool csum;
    uint64_t inode;
    uint32_t high;
    const char* said;
  } cases[] = {
      {false, 13, 1u << 24,
       "prob: inode 13: size 72057594037934080 is beyond the largest file the volume holds "
       "(4398046511104); the file is not read\n"},
      {true, 13, 1u << 24,
       "prob: inode 13: size 72057594037934080 is beyond the largest file the volume holds "
       "(4398046511104); the file is not read\n"},
      {false, 12, 16,
       "prob: inode 12: size 68719497216 is beyond the largest file the volume holds "
       "(17247252480); the file is not read\n"},
      {false, 13, 0, ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.inode);
    image_t img = k.csum ? ext_csum_image() : ext_image();
    put32(img, 5 * 1024 + (k.inode - 1) * 256 + 108, k.high);
    if (k.csum) seal_ext_image(img, 256, {{13, 40}}, {{2, 20}});
    write_file(tree.path("e.img"), img);
    bool read = false;
    EXPECT_EQ(ext_walk_said(tree.path("e.img"), k.inode, read), k.said);
    EXPECT_EQ(read, *k.said == 0);
  }
  // Written: exFAT's "contig.bin" declaring 2^40 bytes (its set sealed
  // again), beyond the 60 clusters of 512 bytes the volume holds.
  image_t img = exfat_image();
  put64(img, 1024 + 64 + 24, uint64_t{1} << 40);
  put16(img, 1024 + 32 + 2, exfat_set_checksum(&img[1024 + 32], 3));
  std::vector<exfat_file_entry> files;
  ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
  cluster_runs runs;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(exfat_entry_to_runs(boot_sector_from(img.data(), img.size()), runs, files[0],
                                   img.data() + 512, 512, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "prob: exFAT entry set at offset 0x420: data length 1099511627776 is beyond the "
            "volume's cluster heap (30720); the file's content is not read\n");
  // Written: an NTFS record whose hole of 2^32 - 1 clusters is followed by
  // two more clusters, past the 2^32 clusters of the largest volume.
  std::vector<uint8_t> raw = file_record(
      40, 1, 1, 0,
      {resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"huge")),
       nonresident_attr(0x80, encode_runs({{k_sparse_run, 0xFFFFFFFF}, {85, 2}}), 0, 0, 0)});
  write_file(tree.path("r.img"), raw);
  RAW_DISK_IO disk(tree.path("r.img"), false, 0, disk_mode_path);
  inode_record rec;
  rec.m_options = mft_keep_data_runs;
  ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0, 1024, false));
  EXPECT_EQ(mft_unread_text(rec.m_unread),
            "content runs past 2^32 clusters, beyond any NTFS volume");
  EXPECT_TRUE(rec.m_data_runs.empty());
}

TEST(IntegrityMarks, ExtSymbolicLinksAreReadAndType0x85IsNamed) {
  // sfdisk --list-types: " 85  Linux extended".
  EXPECT_EQ(mbr_type_name(0x85), "Linux extended");
  // Made by mkfs.ext4 -d: a fast link (12 bytes in the inode) and a slow
  // one (300 bytes in a block). debugfs gives the first ("Fast link
  // dest:"), icat the second.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::string why;
  if (!have({"mkfs.ext4", "debugfs", "icat"}, why)) GTEST_SKIP() << why;
  std::filesystem::create_directories(tree.path("d"));
  std::string slow;
  for (int i = 0; i < 150; ++i) slow += "d/";
  std::filesystem::create_symlink("short/target", tree.path("d/fast"));
  std::filesystem::create_symlink(slow, tree.path("d/slow"));
  const std::string e4 = make_volume(tree.path("l.img"), 4u << 20, "mkfs.ext4",
                                     "-q -F -b 1024 -d " + shell_quote(tree.path("d")), &why);
  ASSERT_FALSE(e4.empty()) << why;
  const std::string q = shell_quote(e4);
  EXPECT_TRUE(said(run_ok(find_tool("debugfs") + " -R 'stat /fast' " + q),
                   "Fast link dest: \"short/target\""));
  const image_t sbytes = read_file_range(e4, 1024, 1024);
  const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
  RAW_DISK_IO disk(e4, false, 0, disk_mode_path);
  for (const char* name : {"/fast", "/slow"}) {
    SCOPED_TRACE(name);
    const std::string stat = run_ok(find_tool("debugfs") + " -R 'stat " + name + "' " + q);
    const uint64_t number = std::stoull(stat.substr(stat.find("Inode: ") + 7));
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, number));
    std::string target;
    ASSERT_TRUE(read_ext_symlink(rec, disk, 0, sb, target));
    EXPECT_EQ(target, std::string(name) == "/fast" ? "short/target" : slow);
    if (std::string(name) == "/slow") {
      EXPECT_EQ(run_ok("icat " + q + " " + std::to_string(number)), slow);
    }
  }
}
