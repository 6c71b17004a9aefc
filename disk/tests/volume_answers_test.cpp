// Answers on real images that must never be quietly wrong: tables shorter
// than a cluster, ext4 inline data, compressed NTFS content, GPT disks cut
// short, GPT attributes beside FAT32 flags, and attribute lists whose volume
// is unknown. Each on images written byte by byte and, where the tool is
// installed, on an image the tool made (mkfs.fat and mtools, debugfs,
// ntfs-3g with sleuthkit, sgdisk), the tool's own answer as the reference.
#include <gtest/gtest.h>
#include <sys/xattr.h>

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
#include "disk/volume_boot.h"
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

// Sets FILE_ATTRIBUTE_COMPRESSED on a folder of an ntfs-3g mount.
bool set_compressed(const std::string& path) {
  uint8_t value[4] = {};
  if (::getxattr(path.c_str(), "system.ntfs_attrib_be", value, 4) != 4) return false;
  value[2] |= 0x08;
  return ::setxattr(path.c_str(), "system.ntfs_attrib_be", value, 4, 0) == 0;
}

const inode_record* named(const _inode_collection& c, const std::string& name) {
  for (const inode_record& r : c.m_store)
    if (r.m_name == name && r.m_base_record) return &r;
  return nullptr;
}

}  // namespace

TEST(VolumeAnswers, TablesShorterThanAClusterStillBoundTheirChains) {
  // Written: one 512-byte table under clusters of 2 KiB. The FAT12/16 file
  // lies in clusters 3, 5, 4; the exFAT chained file in 6, 8, 7.
  for (const unsigned bits : {12u, 16u, 32u}) {
    SCOPED_TRACE(bits);
    image_t img = fat_image(bits, bits == 16 ? 70000 : 96);
    img[13] = 4;
    const boot_sector bs = boot_sector_from(img.data(), img.size());
    ASSERT_EQ(fat_cluster_size(bs), 2048u);
    cluster_runs runs;
    if (bits == 32) {
      std::vector<uint32_t> words(128);
      std::memcpy(words.data(), img.data() + 512, 512);
      ASSERT_TRUE(fat_chain_to_runs(bs, runs, 3, 0, words.data(), 512, 0));
    } else {
      ASSERT_TRUE(fat16_chain_to_runs(bs, runs, 3, 0, img.data() + 512, 512, 0));
    }
    EXPECT_EQ(pairs_of(runs), (std::vector<run_pair>{{3, 1}, {5, 1}, {4, 1}}));
    // Cluster 2 lies 1.5 KiB in (FAT32: 1 KiB), less than two clusters.
    EXPECT_EQ(cluster_runs_first_offset(runs), (bits == 32 ? 1024u : 1536u) + 2048u);
  }
  image_t ex = exfat_image();
  ex[109] = 2;
  const boot_sector xb = boot_sector_from(ex.data(), ex.size());
  ASSERT_EQ(exfat_cluster_size(xb), 2048u);
  std::vector<uint32_t> clusters;
  ASSERT_TRUE(exfat_chain_clusters(xb, clusters, 6, 0, ex.data() + 512, 512, false));
  EXPECT_EQ(clusters, (std::vector<uint32_t>{6, 8, 7}));
  cluster_runs exruns;
  ASSERT_TRUE(exfat_chain_to_runs(xb, exruns, 6, 3000, ex.data() + 512, 512, 0, false));
  EXPECT_EQ(pairs_of(exruns), (std::vector<run_pair>{{6, 1}, {8, 1}}));
  EXPECT_EQ(cluster_runs_first_offset(exruns), 1024u + 4 * 2048u);

  // Made by mkfs.fat without alignment: a 4 KiB table under 16 KiB clusters
  // on 4 KiB sectors, and a 1 KiB table under 4 KiB clusters; the content
  // is what mtools copies out.
  std::string why;
  if (!have({"mkfs.fat", "mcopy"}, why)) GTEST_SKIP() << why;
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const struct {
    const char* args;
    uint64_t size;
    uint32_t cluster, table;
  } volumes[] = {{"-a -S 4096", 1u << 20, 16384, 4096}, {"-a -s 8", 2u << 20, 4096, 1024}};
  for (const auto& v : volumes) {
    SCOPED_TRACE(v.args);
    const std::string img = make_volume(tree.path("fat.img"), v.size, "mkfs.fat", v.args, &why);
    ASSERT_FALSE(img.empty()) << why;
    write_file(tree.path("a.bin"), pattern(40000, 1));
    write_file(tree.path("b.txt"), std::string(5000, 'b'));
    const std::string q = shell_quote(img);
    run_ok("mcopy -i " + q + " " + shell_quote(tree.path("a.bin")) + " " +
           shell_quote(tree.path("b.txt")) + " ::/");
    const image_t head = read_file_range(img, 0, 512);
    const boot_sector bs = boot_sector_from(head.data(), head.size());
    ASSERT_EQ(fat_cluster_size(bs), v.cluster);
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    std::vector<uint8_t> table;
    ASSERT_TRUE(read_fat16_table(bs, table, disk, 0, 0));
    ASSERT_EQ(table.size(), v.table);
    const image_t root =
        read_file_range(img, fat16_root_dir_offset(bs), size_t{bs.root_entries()} * 32);
    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> entries;
    std::vector<uint64_t> offsets;
    read_fat_dir_entries_lfn(names, entries, offsets, bs, root.data(), root.size(), 0, ~uint64_t{0},
                             false, 0);
    for (const char* file : {"a.bin", "b.txt"}) {
      SCOPED_TRACE(file);
      const auto at = std::find(names.begin(), names.end(), file);
      ASSERT_NE(at, names.end());
      const auto& raw = entries[static_cast<size_t>(at - names.begin())];
      const uint8_t* e = raw.data() + raw.size() - 32;
      cluster_runs runs;
      ASSERT_TRUE(fat16_chain_to_runs(bs, runs, load_le16(e + 26), load_le32(e + 28), table.data(),
                                      table.size(), 0));
      std::vector<uint8_t> content;
      ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, load_le32(e + 28)));
      run_ok("mcopy -n -i " + q + " ::/" + std::string(file) + " " + shell_quote(tree.path("out")));
      EXPECT_EQ(content, bytes_of(read_file(tree.path("out"))));
    }
  }
}

TEST(VolumeAnswers, GptAttributesStayBesideTheFat32Flags) {
  // Written: a FAT32 volume with extended flags 0x0081 in a partition whose
  // entry sets attribute bits 62 and 0.
  image_t gpt = gpt_image({{40, 120, 0x4000000000000001ull, u"fat"}});
  image_t fat = fat_image(32, 81);
  put16(fat, 40, 0x0081);
  std::copy(fat.begin(), fat.begin() + 512, gpt.begin() + 40 * 512);
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("gpt.img"), gpt);
  const auto check = [](const std::string& path, uint64_t start, uint64_t attributes,
                        uint16_t fat_flags) {
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    partition_list list;
    ASSERT_TRUE(scan_partitions(disk, list, false, false));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].m_start, start);
    EXPECT_EQ(list[0].m_type_name, "fat32");
    EXPECT_EQ(list[0].m_flags, attributes);
    EXPECT_EQ(list[0].m_fat32_flags, fat_flags);
    // The volume read alone carries its flags and no attributes.
    partition_entry alone;
    const image_t head = read_file_range(path, start * 512, 512);
    ASSERT_TRUE(identify_volume(alone, head.data(), head.size()));
    EXPECT_EQ(alone.m_flags, 0u);
    EXPECT_EQ(alone.m_fat32_flags, fat_flags);
  };
  check(tree.path("gpt.img"), 40, 0x4000000000000001ull, 0x0081);

  // Made by sgdisk and mkfs.fat; the attributes as sgdisk lists them.
  std::string why;
  if (!have({"sgdisk", "mkfs.fat"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("tool.img");
  ASSERT_TRUE(make_sparse_file(img, 64u << 20));
  const std::string q = shell_quote(img);
  run_ok(find_tool("sgdisk") + " -n 1:2048:+40M -t 1:0700 -A 1:set:62 -A 1:set:0 " + q);
  run_ok(find_tool("mkfs.fat") + " -F 32 -s 1 --offset 2048 " + q + " 40960");
  const uint64_t listed = std::stoull(
      labelled_value(run_ok(find_tool("sgdisk") + " -i 1 " + q), "Attribute flags"), nullptr, 16);
  EXPECT_EQ(listed, 0x4000000000000001ull);
  check(img, 2048, listed, 0);
}

TEST(VolumeAnswers, GptPartitionsPastTheEndOfACutDiskAreListedAndMarked) {
  // Written: 128 sectors; one partition inside, one reaching past the end,
  // one wholly past it, one inside again, in that table order.
  const image_t gpt = gpt_image({{40, 59, 0, u"in"},
                                 {100, 199, 0, u"across"},
                                 {300, 400, 0, u"beyond"},
                                 {60, 79, 0, u"in2"}});
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("gpt.img"), gpt);
  {
    RAW_DISK_IO disk(tree.path("gpt.img"), false, 0, disk_mode_path);
    for (const bool layout : {false, true}) {
      SCOPED_TRACE(layout);
      partition_list list;
      ASSERT_TRUE(scan_partitions(disk, list, false, layout));
      std::vector<std::tuple<std::string, uint64_t, uint64_t, int>> got;
      for (const auto& r : list)
        if (r.m_gpt && r.m_type_guid != guid() && r.m_description != "unalloc")
          got.emplace_back(r.m_description, r.m_start, r.m_count, r.m_past_end);
      std::sort(got.begin(), got.end(),
                [](const auto& a, const auto& b) { return std::get<1>(a) < std::get<1>(b); });
      EXPECT_EQ(got, (std::vector<std::tuple<std::string, uint64_t, uint64_t, int>>{
                         {"in", 40, 20, 0},
                         {"in2", 60, 20, 0},
                         {"across", 100, 100, 1},
                         {"beyond", 300, 101, 1}}));
    }
  }

  // Made by sgdisk: nine partitions of 40 MiB on 400 MiB, the image cut at
  // 200 MiB; every partition sgdisk lists is listed, those past the cut
  // marked.
  std::string why;
  if (!have({"sgdisk"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("cut.img");
  ASSERT_TRUE(make_sparse_file(img, 400u << 20));
  std::string args;
  for (int i = 1; i <= 9; ++i)
    args += " -n " + std::to_string(i) + ":0:+40M -c " + std::to_string(i) + ":part" +
            std::to_string(i);
  run_ok(find_tool("sgdisk") + args + " " + shell_quote(img));
  ASSERT_EQ(::truncate(img.c_str(), 200 << 20), 0);
  std::map<std::string, std::pair<uint64_t, uint64_t>> listed;  // name -> (start, end)
  std::istringstream lines(run_ok(find_tool("sgdisk") + " -p " + shell_quote(img)));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    uint64_t number = 0, start = 0, end = 0;
    std::string size, unit, code, name;
    if (cells >> number >> start >> end >> size >> unit >> code >> name)
      listed[name] = {start, end};
  }
  ASSERT_EQ(listed.size(), 9u);
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  partition_list list;
  ASSERT_TRUE(scan_partitions(disk, list, false, false));
  ASSERT_EQ(list.size(), 9u);
  const uint64_t sectors = (200u << 20) / 512;
  for (const auto& r : list) {
    SCOPED_TRACE(r.m_description);
    ASSERT_EQ(listed.count(r.m_description), 1u);
    const auto [start, end] = listed[r.m_description];
    EXPECT_EQ(r.m_start, start);
    EXPECT_EQ(r.m_start + r.m_count - 1, end);
    EXPECT_EQ(r.m_past_end, end >= sectors ? 1 : 0);
  }
}

TEST(VolumeAnswers, Ext4InlineDataIsReadAsContentOrRefused) {
  // Written: inline inodes of 256 and 128 bytes; content given, or refused
  // when the attribute cannot give every byte. None is walked as blocks.
  const std::vector<uint8_t> text = bytes_of("short inline text\n");
  const std::vector<uint8_t> longer = pattern(100, 2);
  const std::vector<uint8_t> forty = pattern(40, 3);
  const struct {
    uint16_t inode_size;
    const std::vector<uint8_t>* content;
    size_t value_bytes;
    bool no_attribute;
    bool readable;
  } cases[] = {{256, &text, ~size_t{0}, false, true},   {256, &longer, ~size_t{0}, false, true},
               {256, &longer, 20, false, false},        {256, &longer, ~size_t{0}, true, false},
               {256, &forty, ~size_t{0}, true, true},   {128, &forty, ~size_t{0}, false, true},
               {128, &longer, ~size_t{0}, false, false}};
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.inode_size) + " " + std::to_string(c.content->size()) + " " +
                 std::to_string(c.value_bytes) + (c.no_attribute ? " no attribute" : ""));
    image_t img = ext_image(c.inode_size);
    put_ext_inline_inode(img, c.inode_size, 4, *c.content, c.value_bytes, c.no_attribute);
    write_file(tree.path("ext.img"), img);
    RAW_DISK_IO disk(tree.path("ext.img"), false, 0, disk_mode_path);
    const ext_superblock sb = ext_superblock_from(img.data() + 1024, 1024);
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 4));
    EXPECT_TRUE(ext_has_inline_data(rec));
    std::vector<uint8_t> content = {1};
    EXPECT_EQ(read_ext_inline_data(rec, content), c.readable);
    EXPECT_EQ(content, c.readable ? *c.content : std::vector<uint8_t>());
    cluster_runs runs;
    EXPECT_FALSE(walk_ext_extents(rec, runs, disk, 0, sb));
    EXPECT_TRUE(runs.m_runs.empty());
    // A block-mapped inode is not inline.
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 12));
    EXPECT_FALSE(read_ext_inline_data(rec, content));
    EXPECT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
  }

  // Made by mkfs.ext4 and debugfs: a short inline file, one of 360 bytes
  // (60 in the inode's block area, 300 in its attribute), one whose size
  // claims more than the attribute holds, and a file in blocks. debugfs
  // dumps the reference content.
  std::string why;
  if (!have({"mkfs.ext4", "debugfs"}, why)) GTEST_SKIP() << why;
  const std::string img = make_volume(tree.path("inline.img"), 8u << 20, "mkfs.ext4",
                                      "-q -F -O inline_data -I 1024", &why);
  ASSERT_FALSE(img.empty()) << why;
  write_file(tree.path("s.txt"), text);
  write_file(tree.path("head60"), pattern(60, 4));
  write_file(tree.path("tail"), pattern(300, 5));
  write_file(tree.path("blocks"), pattern(3000, 6));
  std::ofstream(tree.path("cmds"))
      << "write " << tree.path("s.txt") << " s.txt\n"
      << "write " << tree.path("head60") << " big.txt\n"
      << "ea_set -f " << tree.path("tail") << " big.txt system.data\n"
      << "sif big.txt size 360\n"
      << "write " << tree.path("head60") << " short.txt\n"
      << "ea_set -f " << tree.path("tail") << " short.txt system.data\n"
      << "sif short.txt size 500\n"
      << "write " << tree.path("blocks") << " blocks.bin\n";
  run_ok(find_tool("debugfs") + " -w -f " + shell_quote(tree.path("cmds")) + " " +
         shell_quote(img));
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  const image_t sbytes = read_file_range(img, 1024, 1024);
  const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
  for (const std::string name : {"s.txt", "big.txt", "short.txt", "blocks.bin"}) {
    SCOPED_TRACE(name);
    const std::string q = shell_quote(img);
    const std::string stat =
        run_ok(find_tool("debugfs") + " -R " + shell_quote("stat " + name) + " " + q);
    const uint64_t inode = std::stoull(stat.substr(stat.find("Inode: ") + 7));
    run_ok(find_tool("debugfs") + " -R " + shell_quote("dump " + name + " " + tree.path("dumped")) +
           " " + q);
    const std::vector<uint8_t> dumped = bytes_of(read_file(tree.path("dumped")));
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, inode));
    const bool inline_file = stat.find("Flags: 0x10000000") != std::string::npos;
    EXPECT_EQ(ext_has_inline_data(rec), inline_file);
    std::vector<uint8_t> content;
    if (!inline_file) {
      cluster_runs runs;
      ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
      ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, dumped.size()));
      EXPECT_EQ(content, dumped);
      continue;
    }
    // debugfs dumps what the inode holds, the whole block area even for a
    // shorter file: the file is its size's worth of that, and a size beyond
    // it is refused.
    const uint64_t size = std::stoull(stat.substr(stat.find("Size: ") + 6));
    const bool whole = size <= dumped.size();
    EXPECT_EQ(read_ext_inline_data(rec, content), whole);
    if (whole) {
      EXPECT_EQ(content, std::vector<uint8_t>(dumped.begin(), dumped.begin() + size));
    }
  }
}

TEST(VolumeAnswers, CompressedNtfsContentIsRefusedNeverHandedOut) {
  // Written: 64 clusters of 512 bytes, each holding its own number; a
  // compressed file (one unit: 2 clusters stored, 14 sparse) and a plain
  // file flagged compressed only in its $STANDARD_INFORMATION, as a file
  // moved into a compressed folder is.
  std::vector<uint8_t> medium(64 * 512);
  for (size_t c = 0; c < 64; ++c)
    std::fill(medium.begin() + c * 512, medium.begin() + (c + 1) * 512, static_cast<uint8_t>(c));
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("medium"), medium);
  RAW_DISK_IO disk(tree.path("medium"), false, 0, disk_mode_path);
  const auto name = resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"f"));
  const struct {
    const char* what;
    uint32_t si_attributes;
    std::vector<uint8_t> data;
    bool compressed;
  } cases[] = {
      {"compressed", 0x800,
       nonresident_attr(0x80, encode_runs({{10, 2}, {k_sparse_run, 14}}), 8192, 5000, 5000, 0, u"",
                        0x0001, 4),
       true},
      {"plain in a compressed folder", 0x800,
       nonresident_attr(0x80, encode_runs({{20, 2}}), 1024, 1000, 1000), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> raw = file_record(
        40, 1, 1, 0,
        {resident_attr(0x10, std_info_value(1, 2, 3, 4, c.si_attributes)), name, c.data});
    inode_record rec;
    rec.m_options = mft_keep_data_runs;
    ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0, 1024, false));
    EXPECT_EQ(rec.m_unread, c.compressed ? mft_unread_compressed : 0u);
    EXPECT_EQ(mft_unread_text(rec.m_unread), c.compressed ? "content compressed" : "");
    cluster_runs list;
    ASSERT_TRUE(cluster_runs_from_file_runs(list, rec.m_data_runs, 0, 512));
    EXPECT_EQ(cluster_runs_compressed(list), c.compressed);
    std::vector<uint8_t> content;
    EXPECT_EQ(read_cluster_runs_to_vector(list, content, disk, 0, rec.m_real_size), !c.compressed);
    guid md5;
    std::vector<uint8_t> sha1, sha256;
    EXPECT_EQ(digest_cluster_runs(list, md5, sha1, sha256, digest_md5, disk, rec.m_real_size),
              !c.compressed);
    std::vector<uint8_t> first;
    list.m_content_size = 512;
    EXPECT_EQ(read_first_run_content(list, first, disk), !c.compressed);
    if (c.compressed) {
      EXPECT_TRUE(content.empty());
      EXPECT_EQ(md5, guid());
    } else {
      ASSERT_EQ(content.size(), 1000u);
      EXPECT_EQ(content[0], 20);
      EXPECT_EQ(content[999], 21);
    }
  }

  // Made through ntfs-3g: a compressed folder holding a file written there
  // (compressed) and one moved in (not compressed). sleuthkit tells which
  // is compressed; icat gives the plain one's content.
  std::string why;
  if (!have({"mkntfs", "ntfs-3g", "istat", "icat", "ifind"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("c.img"), 16u << 20, "mkntfs", "-F -Q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  {
    ntfs3g_mount mount(img, tree.path("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    const std::string dir = tree.path("mnt/packed");
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(set_compressed(dir));
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "compressible line " + std::to_string(i % 7) + "\n";
    write_file(dir + "/packed.txt", text);
    write_file(tree.path("mnt/plain.txt"), text);
    std::filesystem::rename(tree.path("mnt/plain.txt"), dir + "/plain.txt");
    ASSERT_TRUE(mount.unmount());
  }
  RAW_DISK_IO ntfs(img, false, 0, disk_mode_path);
  _inode_collection c;
  ASSERT_TRUE(load_table(c, ntfs));
  for (const char* file : {"packed.txt", "plain.txt"}) {
    SCOPED_TRACE(file);
    const std::string q = shell_quote(img);
    const std::string entry =
        std::to_string(std::stoull(run_ok("ifind -n /packed/" + std::string(file) + " " + q)));
    const std::string stat = run_ok("istat " + q + " " + entry);
    const bool compressed = stat.find("Non-Resident, Compressed") != std::string::npos;
    EXPECT_EQ(compressed, std::string(file) == "packed.txt");
    const inode_record* rec = named(c, file);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->entry_number(), std::stoull(entry));
    EXPECT_EQ((rec->m_unread & mft_unread_compressed) != 0, compressed);
    cluster_runs list;
    ASSERT_TRUE(cluster_runs_from_file_runs(list, rec->m_data_runs, 0, 4096));
    std::vector<uint8_t> content;
    EXPECT_EQ(read_cluster_runs_to_vector(list, content, ntfs, 0, rec->m_real_size), !compressed);
    run_ok("icat " + q + " " + entry + " > " + shell_quote(tree.path("icat.out")));
    if (!compressed) {
      EXPECT_EQ(content, bytes_of(read_file(tree.path("icat.out"))));
    }
  }
}

TEST(VolumeAnswers, AttributeListsWithoutTheirVolumeAreMarkedNotGuessed) {
  // Written: the small volume's "big.bin" keeps its list in cluster 60 (a
  // hard link in docs and its data are named there); "report.txt" keeps a
  // resident list. Its table extracted, or on a medium remapped so that the
  // table lies contiguous from 0, with and without the volume named.
  using v = small_ntfs_volume;
  const small_ntfs_volume vol = make_small_ntfs_volume();
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("table.mft"), vol.mft);
  write_file(tree.path("volume.img"), vol.bytes);
  for (const bool remapped : {false, true}) {
    for (const bool named_volume : {false, true}) {
      SCOPED_TRACE(std::string(remapped ? "remapped" : "extracted") +
                   (named_volume ? ", volume named" : ""));
      RAW_DISK_IO disk(tree.path("volume.img"), false, 0, disk_mode_path);
      _inode_collection c;
      c.m_all_records = 1;
      c.m_options = mft_keep_data_runs;
      if (named_volume) {
        ASSERT_TRUE(c.set_volume(&disk, 0));
      }
      if (remapped) {
        const uint64_t first = v::first_piece_entries * v::record;
        disk.set_remap({{v::mft_lcn * v::cluster, 0, 0, static_cast<uint32_t>(first)},
                        {v::second_piece_lcn * v::cluster, first, 0,
                         static_cast<uint32_t>((v::entries - v::first_piece_entries) * v::record)}},
                       512, 0, true);
        ASSERT_TRUE(c.attach_disk(&disk, false, nullptr, nullptr, v::entries * v::record, 0));
      } else {
        ASSERT_TRUE(c.open_mft_file(tree.path("table.mft"), true, nullptr, nullptr));
        ASSERT_TRUE(c.load(nullptr, nullptr));
      }
      EXPECT_EQ(c.volume() != nullptr, named_volume);
      const inode_record* big = named(c, "big.bin");
      ASSERT_NE(big, nullptr);
      std::vector<uint64_t> parents;
      for (const mft_ref& r : big->m_parents) parents.push_back(r.entry_number());
      if (named_volume) {
        EXPECT_EQ(big->m_unread, 0u);
        EXPECT_EQ(parents, (std::vector<uint64_t>{5, v::docs}));
        EXPECT_EQ(big->m_data_runs.size(), 1u);
      } else {
        EXPECT_EQ(big->m_unread, mft_unread_list_no_volume);
        EXPECT_EQ(mft_unread_text(big->m_unread),
                  "attribute list in the volume's clusters, volume unknown");
        EXPECT_EQ(parents, (std::vector<uint64_t>{5}));
        EXPECT_TRUE(big->m_data_runs.empty());
      }
      const inode_record* report = named(c, "report.txt");
      ASSERT_NE(report, nullptr);
      EXPECT_EQ(report->m_unread, 0u);
      EXPECT_EQ(report->m_data_runs.size(), 2u);
    }
  }

  // Made through ntfs-3g: a file with 150 hard links over three folders,
  // whose attribute list is non-resident. Its table carved and read without
  // the volume: marked, kept; with it: every parent sleuthkit lists.
  std::string why;
  if (!have({"mkntfs", "ntfs-3g", "istat", "ifind"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("l.img"), 16u << 20, "mkntfs", "-F -Q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  {
    ntfs3g_mount mount(img, tree.path("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    write_file(tree.path("mnt/target.txt"), std::string("linked\n"));
    for (int d = 1; d <= 3; ++d)
      std::filesystem::create_directories(tree.path("mnt/d" + std::to_string(d)));
    for (int i = 0; i < 150; ++i)
      std::filesystem::create_hard_link(
          tree.path("mnt/target.txt"),
          tree.path("mnt/d" + std::to_string(i % 3 + 1) + "/a_rather_long_link_name_" +
                    std::to_string(i) + ".txt"));
    ASSERT_TRUE(mount.unmount());
  }
  const std::string q = shell_quote(img);
  const uint64_t entry = std::stoull(run_ok("ifind -n /target.txt " + q));
  const std::string stat = run_ok("istat " + q + " " + std::to_string(entry));
  ASSERT_NE(stat.find("$ATTRIBUTE_LIST (32-"), std::string::npos);
  ASSERT_NE(stat.find("Non-Resident", stat.find("$ATTRIBUTE_LIST")), std::string::npos);
  std::set<uint64_t> listed;
  for (size_t at = stat.find("Parent MFT Entry: "); at != std::string::npos;
       at = stat.find("Parent MFT Entry: ", at + 1))
    listed.insert(std::stoull(stat.substr(at + 18)));
  ASSERT_EQ(listed.size(), 4u);
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  std::vector<uint8_t> carved;
  ASSERT_TRUE(scan_ntfs_volume(carved, &disk, 0, nullptr));
  write_file(tree.path("carved.mft"), carved);
  for (const bool named_volume : {false, true}) {
    SCOPED_TRACE(named_volume ? "volume named" : "no volume");
    _inode_collection c;
    c.m_all_records = 1;
    ASSERT_TRUE(c.open_mft_file(tree.path("carved.mft"), true, nullptr, nullptr));
    if (named_volume) {
      ASSERT_TRUE(c.set_volume(&disk, 0));
    }
    ASSERT_TRUE(c.load(nullptr, nullptr));
    const auto it = c.m_entries.find(entry);
    ASSERT_NE(it, c.m_entries.end());
    const inode_record& rec = c.m_store[it->second];
    std::set<uint64_t> parents;
    for (const mft_ref& r : rec.m_parents) parents.insert(r.entry_number());
    EXPECT_EQ(rec.m_unread, named_volume ? 0u : mft_unread_list_no_volume);
    if (named_volume) {
      EXPECT_EQ(parents, listed);
    } else {
      EXPECT_LT(parents.size(), listed.size());
    }
  }
}
