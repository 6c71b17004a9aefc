// What the disk library once lost or passed over in silence: the names of
// an NTFS hard link, each with its own folder; a base record whose
// attribute list names only itself; an image copy cut short by the end of
// its medium; and the damage peers name (a damaged backup GPT header, a
// backup GPT that differs from the primary, a second extended entry in the
// MBR, an extent tree that names its own block, an extended chain whose
// next boot record lies past the end of a cut image). Each on images
// written byte by byte and, where the tool is installed, on an image the
// tool made, with the tool's answer (fls, istat, icat, debugfs, sfdisk,
// sgdisk, dd) as a literal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "cmdline/cmd_params.h"
#include "disk/cluster_runs.h"
#include "disk/fat_ext.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk/partition_table.h"
#include "disk_images.h"
#include "disk_tool_answers.h"
#include "fileio_test_support.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_unicode.h"
#include "mft_writer.h"
#include "ntfs_volume_writer.h"
#include "temp_tree.h"
#include "volume_writer.h"

using namespace vk;
using namespace vesk_test;

namespace {

// The base record of an entry in the store.
const inode_record* base_of(const _inode_collection& c, uint64_t entry) {
  const auto [from, to] = c.m_entries.equal_range(entry);
  for (auto it = from; it != to; ++it)
    if (c.m_store[it->second].m_base_record) return &c.m_store[it->second];
  return nullptr;
}

// Every name of a record outside the DOS namespace as fls -p writes it:
// its own folder's path from the root, '/' between the parts.
std::set<std::string> link_paths(const _inode_collection& c, const inode_record& rec) {
  std::set<std::string> out;
  for (const file_name_link& n : rec.m_names) {
    if (n.m_namespace == file_name_dos) continue;
    std::string folder;
    const uint64_t parent = n.m_parent.entry_number();
    if (parent != 5) {
      const auto it = c.m_directories.find(parent);
      if (it == c.m_directories.end()) {
        folder = "[no folder " + std::to_string(parent) + "]/";
      } else {
        folder = c.m_store[it->second].m_path;
        if (folder.rfind("[root]\\", 0) == 0) folder.erase(0, 7);
        std::replace(folder.begin(), folder.end(), '\\', '/');
      }
    }
    out.insert(folder + n.m_name);
  }
  return out;
}

// fls -r -p's lines that name no system file.
std::set<std::string> fls_lines(const std::string& img) {
  std::set<std::string> out;
  std::istringstream lines(run_ok("fls -r -p " + shell_quote(img)));
  for (std::string line; std::getline(lines, line);)
    if (line.find('$') == std::string::npos) out.insert(line);
  return out;
}

std::vector<run_pair> runs_of(const inode_record& rec) {
  std::vector<run_pair> out;
  for (const data_run& r : rec.m_data_runs) out.emplace_back(r.m_cluster, r.m_count);
  return out;
}

// The extracted table of the written records, walked whole.
bool load_written(_inode_collection& c, temp_tree& tree, const std::vector<uint8_t>& table) {
  write_file(tree.path("table.mft"), table);
  c.m_all_records = 1;
  c.m_options = mft_keep_data_runs;
  return c.open_mft_file(tree.path("table.mft"), false, nullptr, nullptr);
}

std::vector<uint8_t> list_attr(const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> value;
  for (const auto& e : entries) value.insert(value.end(), e.begin(), e.end());
  return resident_attr(0x20, value);
}

// A table of records 0 ($MFT), 5 (the root) and 64 (folder "docs").
std::vector<uint8_t> table_with_folders() {
  std::vector<uint8_t> table;
  const auto si = resident_attr(0x10, std_info_value(1, 2, 3, 4, 0));
  place_record(
      table, 0,
      file_record(0, 1, 1, 0,
                  {si, resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"$MFT"))}));
  place_record(table, 5,
               file_record(5, 5, 3, 0,
                           {si, resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"."))}));
  place_record(
      table, 64,
      file_record(64, 1, 3, 0,
                  {si, resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"docs"))}));
  return table;
}

using part_row = std::tuple<uint64_t, uint64_t, unsigned>;  // start, count, type byte

// The partitions the walk lists in an image file, and what it said.
std::multiset<part_row> walk_image(const std::string& img, std::string& said) {
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  partition_list list;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(scan_partitions(disk, list, false, false));
  said = testing::internal::GetCapturedStderr();
  std::multiset<part_row> out;
  for (const auto& r : list) out.emplace(r.m_start, r.m_count, r.m_type & 0xFF);
  return out;
}

// A 16 MiB image that sfdisk partitions from its script's partition lines.
void sfdisk_image(const std::string& img, const std::string& lines) {
  ASSERT_TRUE(make_sparse_file(img, 16u << 20));
  run_ok("printf " + shell_quote("label: dos\\nunit: sectors\\n\\n" + lines) + " | " +
         find_tool("sfdisk") + " -q " + shell_quote(img));
}

}  // namespace

TEST(NtfsNames, EveryHardLinkKeepsItsOwnFolder) {
  // Written: entry 65 with three names, two of them (and a DOS name) in
  // docs; entry 66 with one name in its base record and one in an
  // extension record its attribute list names. Each name goes with its own
  // folder; the record's name stays the last long one met (the list, and
  // the extensions it names, come before the base record's names).
  std::vector<uint8_t> table = table_with_folders();
  const auto si = resident_attr(0x10, std_info_value(1, 2, 3, 4, 0x20));
  const auto name = [](uint64_t parent, const std::u16string& text, uint8_t space = 1) {
    return resident_attr(0x30,
                         file_name_value(mft_ref_value(parent, parent == 5 ? 5 : 1), text, space));
  };
  place_record(table, 65,
               file_record(65, 1, 1, 0,
                           {si, name(5, u"first.bin"), name(64, u"second name.bin"),
                            name(64, u"SECOND~1.BIN", 2), name(64, u"third.bin")}));
  place_record(table, 66,
               file_record(66, 1, 1, 0,
                           {si,
                            list_attr({attr_list_entry(0x10, mft_ref_value(66, 1)),
                                       attr_list_entry(0x30, mft_ref_value(66, 1)),
                                       attr_list_entry(0x30, mft_ref_value(67, 1))}),
                            name(5, u"base name.txt")}));
  place_record(table, 67,
               file_record(67, 1, 1, mft_ref_value(66, 1), {name(64, u"extension name.txt")}));
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  {
    _inode_collection c;
    ASSERT_TRUE(load_written(c, tree, table));
    const struct {
      uint64_t entry;
      std::set<std::string> paths;
      const char* name;
      size_t names;
    } cases[] = {
        {65, {"docs/second name.bin", "docs/third.bin", "first.bin"}, "third.bin", 4},
        {66, {"base name.txt", "docs/extension name.txt"}, "base name.txt", 2},
    };
    for (const auto& k : cases) {
      SCOPED_TRACE(k.entry);
      const inode_record* rec = base_of(c, k.entry);
      ASSERT_NE(rec, nullptr);
      EXPECT_EQ(link_paths(c, *rec), k.paths);
      EXPECT_EQ(rec->m_name, k.name);
      EXPECT_EQ(rec->m_names.size(), k.names);
      EXPECT_EQ(rec->m_unread, 0u);
    }
    const inode_record* rec = base_of(c, 65);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(rec->m_names.size(), 4u);
    EXPECT_EQ(rec->m_names[2].m_name, "SECOND~1.BIN");
    EXPECT_EQ(rec->m_names[2].m_namespace, file_name_dos);
    EXPECT_EQ(rec->m_names[2].m_parent.entry_number(), 64u);
    EXPECT_GE(inode_entry_byte_size(*rec), 80u + 4 * 8 + 9 + 15 + 12 + 9);
  }

  // Made through ntfs-3g: first.bin, then two more names for it in docs.
  // fls -r -p lists all three names of entry 65; so does the store.
  std::string why;
  if (!have({"mkntfs", "ntfs-3g", "fls"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("n.img"), 16u << 20, "mkntfs", "-F -Q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  {
    ntfs3g_mount mount(img, tree.path("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    std::filesystem::create_directories(tree.path("mnt/docs"));
    write_file(tree.path("mnt/first.bin"), std::string("three names\n"));
    std::filesystem::create_hard_link(tree.path("mnt/first.bin"),
                                      tree.path("mnt/docs/second name.bin"));
    std::filesystem::create_hard_link(tree.path("mnt/first.bin"), tree.path("mnt/docs/third.bin"));
    ASSERT_TRUE(mount.unmount());
  }
  EXPECT_EQ(fls_lines(img),
            (std::set<std::string>{"d/d 64-144-2:\tdocs", "r/r 65-128-2:\tdocs/second name.bin",
                                   "r/r 65-128-2:\tdocs/third.bin", "r/r 65-128-2:\tfirst.bin"}));
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  _inode_collection c;
  ASSERT_TRUE(load_table(c, disk));
  const inode_record* rec = base_of(c, 65);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(link_paths(c, *rec),
            (std::set<std::string>{"docs/second name.bin", "docs/third.bin", "first.bin"}));
}

TEST(NtfsNames, ARecordWhoseListNamesOnlyItselfIsKeptMarked) {
  // Written: entry 70 keeps its data runs and an attribute list naming only
  // itself; its name lies in extension 71, which the list no longer names.
  // Entry 72's list names its extension 73 (kept, named, unmarked); entry
  // 74 holds nothing but its standard information (no file: not kept).
  std::vector<uint8_t> table = table_with_folders();
  const auto si = resident_attr(0x10, std_info_value(1, 2, 3, 4, 0x20));
  const auto data = nonresident_attr(0x80, encode_runs({{40, 2}}), 8192, 5000, 5000);
  const auto name = [](const std::u16string& text) {
    return resident_attr(0x30, file_name_value(mft_ref_value(5, 5), text));
  };
  place_record(table, 70,
               file_record(70, 1, 1, 0,
                           {si,
                            list_attr({attr_list_entry(0x10, mft_ref_value(70, 1)),
                                       attr_list_entry(0x30, mft_ref_value(70, 1)),
                                       attr_list_entry(0x80, mft_ref_value(70, 1))}),
                            data}));
  place_record(table, 71, file_record(71, 1, 1, mft_ref_value(70, 1), {name(u"lost.bin")}));
  place_record(table, 72,
               file_record(72, 1, 1, 0,
                           {si,
                            list_attr({attr_list_entry(0x10, mft_ref_value(72, 1)),
                                       attr_list_entry(0x30, mft_ref_value(73, 1)),
                                       attr_list_entry(0x80, mft_ref_value(72, 1))}),
                            data}));
  place_record(table, 73, file_record(73, 1, 1, mft_ref_value(72, 1), {name(u"found.bin")}));
  place_record(table, 74, file_record(74, 1, 1, 0, {si}));
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  {
    _inode_collection c;
    ASSERT_TRUE(load_written(c, tree, table));
    const struct {
      uint64_t entry;
      const char* name;
      uint32_t unread;
    } cases[] = {{70, "", mft_unread_no_name}, {72, "found.bin", 0}};
    for (const auto& k : cases) {
      SCOPED_TRACE(k.entry);
      const inode_record* rec = base_of(c, k.entry);
      ASSERT_NE(rec, nullptr);
      EXPECT_EQ(rec->m_name, k.name);
      EXPECT_EQ(rec->m_unread, k.unread);
      EXPECT_EQ(runs_of(*rec), (std::vector<run_pair>{{40, 2}}));
      EXPECT_EQ(rec->m_real_size, 5000u);
      // A look-up of the slot reads the same.
      inode_record again;
      ASSERT_TRUE(c.get_inode(again, k.entry));
      EXPECT_EQ(again.m_unread, k.unread);
    }
    EXPECT_EQ(mft_unread_text(mft_unread_no_name),
              "file name not found in the records the attribute list names");
    EXPECT_EQ(c.m_entries.count(74), 0u);
  }

  // Made through ntfs-3g: many.bin with twelve more names (its attribute
  // list goes non-resident, most names into extension records), then the
  // four names left in the base record removed. The list's entries are
  // then pointed at the base record itself. fls still lists the nine names
  // through the folder's index, istat shows the list, icat reads the data.
  std::string why;
  if (!have({"mkntfs", "ntfs-3g", "fls", "istat", "icat", "ifind"}, why)) GTEST_SKIP() << why;
  const std::string img =
      make_volume(tree.path("l.img"), 16u << 20, "mkntfs", "-F -Q -c 4096", &why);
  ASSERT_FALSE(img.empty()) << why;
  const std::string link = "mnt/a_long_link_name_for_the_list_";
  {
    ntfs3g_mount mount(img, tree.path("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    write_file(tree.path("mnt/many.bin"), std::string(10000, 'q'));
    for (int i = 1; i <= 12; ++i)
      std::filesystem::create_hard_link(tree.path("mnt/many.bin"),
                                        tree.path(link + std::to_string(i) + ".bin"));
    ASSERT_TRUE(mount.unmount());
  }
  {
    ntfs3g_mount mount(img, tree.path("mnt"));
    ASSERT_TRUE(mount.mounted()) << mount.why();
    std::filesystem::remove(tree.path("mnt/many.bin"));
    for (int i = 1; i <= 3; ++i)
      std::filesystem::remove(tree.path(link + std::to_string(i) + ".bin"));
    ASSERT_TRUE(mount.unmount());
  }
  const std::string q = shell_quote(img);
  EXPECT_EQ(run_ok("ifind -n /a_long_link_name_for_the_list_4.bin " + q), "64\n");
  std::string stat = run_ok("istat " + q + " 64");
  const size_t list_at = stat.find(
      "Type: $ATTRIBUTE_LIST (32-7)   Name: N/A   Non-Resident   size: "
      "384  init_size: 384\n");
  ASSERT_NE(list_at, std::string::npos) << stat;
  const uint64_t list_cluster = std::stoull(stat.substr(stat.find('\n', list_at) + 1));
  EXPECT_EQ(list_cluster, 2563u);
  std::vector<uint8_t> list = read_file_range(img, list_cluster * 4096, 384);
  for (size_t at = 0; at + 32 <= list.size(); at += 32) list[at + 16] = 64;
  write_at(img, list_cluster * 4096, list);

  stat = run_ok("istat " + q + " 64");
  EXPECT_NE(stat.find("Type: 48-0 \tMFT Entry: 64 \tVCN: 0\n"), std::string::npos) << stat;
  EXPECT_EQ(stat.find("$FILE_NAME Attribute Values"), std::string::npos) << stat;
  EXPECT_NE(stat.find("Type: $DATA (128-2)   Name: N/A   Non-Resident   size: 10000  init_size: "
                      "10000\n2560 2561 2562 \n"),
            std::string::npos)
      << stat;
  const std::set<std::string> listed = fls_lines(img);
  EXPECT_EQ(listed.size(), 9u);
  EXPECT_EQ(listed.count("r/r 64-128-2:\ta_long_link_name_for_the_list_4.bin"), 1u);
  EXPECT_EQ(run_ok("icat " + q + " 64 | md5sum"), "f5254f9fd74cc35bde4829a5533f950a  -\n");

  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  _inode_collection c;
  ASSERT_TRUE(load_table(c, disk));
  const inode_record* rec = base_of(c, 64);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->m_unread, mft_unread_no_name);
  EXPECT_TRUE(rec->m_names.empty());
  EXPECT_EQ(runs_of(*rec), (std::vector<run_pair>{{2560, 3}}));
  EXPECT_EQ(rec->m_real_size, 10000u);
  cluster_runs runs;
  ASSERT_TRUE(cluster_runs_from_record(runs, *rec, 0, 4096));
  guid md5;
  std::vector<uint8_t> sha1, sha256;
  ASSERT_TRUE(digest_cluster_runs(runs, md5, sha1, sha256, digest_md5, disk, rec->m_real_size));
  EXPECT_EQ(md5_text(md5), "f5254f9fd74cc35bde4829a5533f950a");
}

TEST(ImageCopies, ACopyPastTheEndOfTheMediumIsShortNotWhole) {
  // Written: a medium of 60 KiB. Asked for 120 KiB, the copy writes the
  // 60 KiB there are and says it is short; asked for what there is, it is
  // whole and says nothing. The digest of the longer range refuses too, and
  // so do the copies to a second medium when the length does not fit.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::vector<uint8_t> medium = pattern(60 * 1024, 3);
  write_file(tree.path("medium"), medium);
  RAW_DISK_IO disk(tree.path("medium"), false, 0, disk_mode_path);
  cmd_params quiet;
  quiet.m_status_messages = 0;
  const struct {
    uint64_t start, length;
    bool whole;
    uint64_t copied;
    const char* said;
  } cases[] = {
      {0, 120 * 1024, false, 60 * 1024,
       "prob: image copy from offset 0x0 stopped after 0xf000 of 0x1e000 bytes (the end of the "
       "medium)\n"},
      {0, 60 * 1024, true, 60 * 1024, ""},
      {0x1000, 60 * 1024, false, 56 * 1024,
       "prob: image copy from offset 0x1000 stopped after 0xe000 of 0xf000 bytes (the end of the "
       "medium)\n"},
      {0x1000, whole_content, false, 56 * 1024,
       "prob: image copy from offset 0x1000 stopped after 0xe000 of 0xffffffffffffffff bytes (the "
       "end of the medium)\n"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.start) + "+" + std::to_string(k.length));
    uint64_t copied = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(copy_disk_to_image(disk, from_utf8(tree.path("copy")), k.start, k.length, &quiet,
                                 false, &copied),
              k.whole);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), k.said);
    EXPECT_EQ(copied, k.copied);
    EXPECT_EQ(bytes_of(read_file(tree.path("copy"))),
              std::vector<uint8_t>(medium.begin() + static_cast<long>(k.start), medium.end()));
  }
  cluster_runs runs;
  cluster_runs_init(runs, 0, 4096, 0);
  ASSERT_TRUE(cluster_runs_append(runs, 0, 15));
  guid md5;
  std::vector<uint8_t> sha1, sha256;
  EXPECT_FALSE(digest_cluster_runs(runs, md5, sha1, sha256, digest_md5, disk, 120 * 1024));
  EXPECT_TRUE(digest_cluster_runs(runs, md5, sha1, sha256, digest_md5, disk, 60 * 1024));

  // Restoring the medium onto a 32 KiB target, and copying it to a 32 KiB
  // drive: what fits is written; no success.
  write_file(tree.path("small"), std::vector<uint8_t>(32 * 1024, 0xAA));
  {
    RAW_DISK_IO target(tree.path("small"), true, 0, disk_mode_path);
    uni::fileio image;
    ASSERT_TRUE(image.open_utf8(tree.path("medium"), false, false, false));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(copy_image_to_disk(target, image, 0, 0, 60 * 1024, &quiet));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: image restore from offset 0x0 stopped after 0x8000 of 0xf000 bytes (the end "
              "of the medium)\n");
  }
  EXPECT_EQ(bytes_of(read_file(tree.path("small"))),
            std::vector<uint8_t>(medium.begin(), medium.begin() + 32 * 1024));
  set_device_root(tree.root());
  write_file(tree.path("sda"), std::vector<uint8_t>(32 * 1024, 0xAA));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(copy_disk_to_disk(disk, 0, 0x800, 0, 60 * 1024, &quiet));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "prob: disk copy from offset 0x800 stopped after 0x8000 of 0xf000 bytes (the end of "
            "the medium)\n");
  set_device_root("/dev/");
  EXPECT_EQ(bytes_of(read_file(tree.path("sda"))),
            std::vector<uint8_t>(medium.begin() + 0x800, medium.begin() + 0x800 + 32 * 1024));

  // Made by sfdisk: a 14 MiB partition on a 16 MiB image cut to 8 MiB. dd
  // of the partition's sectors reads 14336 of them; so does the copy, and
  // it says the copy is short.
  std::string why;
  if (!have({"sfdisk", "dd"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("cut.img");
  ASSERT_TRUE(make_sparse_file(img, 16u << 20));
  run_ok("printf 'label: dos\\nunit: sectors\\n\\nstart=2048, size=28672, type=83\\n' | " +
         find_tool("sfdisk") + " -q " + shell_quote(img));
  write_at(img, 4u << 20, pattern(4096, 9));
  ASSERT_EQ(::truncate(img.c_str(), 8 << 20), 0);
  const std::string dd =
      run_ok("dd if=" + shell_quote(img) + " of=" + shell_quote(tree.path("dd.out")) +
             " bs=512 skip=2048 count=28672");
  EXPECT_NE(dd.find("14336+0 records in\n14336+0 records out\n"), std::string::npos) << dd;
  RAW_DISK_IO cut(img, false, 0, disk_mode_path);
  partition_list list;
  ASSERT_TRUE(scan_partitions(cut, list, false, false));
  ASSERT_EQ(list.size(), 1u);
  uint64_t copied = 0;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(copy_disk_to_image(cut, from_utf8(tree.path("part")), list.front().m_start * 512,
                                  list.front().m_count * 512, &quiet, false, &copied));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "prob: image copy from offset 0x100000 stopped after 0x700000 of 0xe00000 bytes (the "
            "end of the medium)\n");
  EXPECT_EQ(copied, 14336u * 512);
  EXPECT_EQ(read_file(tree.path("part")), read_file(tree.path("dd.out")));
}

TEST(PeerNotes, ADamagedBackupALoopingTreeAndACutChainAreSaid) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Written: a sound primary GPT with its backup header or backup array
  // damaged, or changed and sealed again so that it differs from the
  // primary; or the disk grown past its backup; or the protective MBR given
  // a second entry, one GPT entry's (hybrid) or one no GPT entry covers,
  // over the protective entry's sectors: the partitions come from the
  // primary, and each is said.
  {
    const image_t good = gpt_image({{40, 59, 0, u"one"}, {60, 79, 0, u"two"}});
    const struct {
      const char* what;
      size_t at;  // byte changed (0: none)
      const char* said;
      bool sealed = false;  // the backup header's CRC-32 fields written again
      uint8_t flip = 0x5A;
      size_t grown_to = 0;
      uint8_t second_type = 0;  // the MBR's second entry: type, start, count
      uint32_t second_start = 0, second_count = 0;
    } cases[] = {
        {"grown by 32 sectors", 0,
         "prob: GPT backup header at LBA 127 does not lie at the end of the disk (its last sector "
         "is LBA 159); partitions read from the primary header\n",
         false, 0, 160 * 512},
        {"hybrid MBR", 0,
         "prob: MBR entry 2 at byte 462: sectors 40 to 59 overlap entry 1's, sectors 1 to 127; "
         "partitions read from the GPT\n",
         false, 0, 0, 0x07, 40, 20},
        {"MBR partition beside the GPT", 0,
         "prob: MBR entry 2 at byte 462: a partition of type 0x0c at sector 100, 20 sectors, "
         "beside the protective entry, that no GPT entry covers; partitions read from the GPT\n"
         "prob: MBR entry 2 at byte 462: sectors 100 to 119 overlap entry 1's, sectors 1 to 127; "
         "partitions read from the GPT\n",
         false, 0, 0, 0x0C, 100, 20},
        {"MBR partition one sector short of a GPT entry's", 0,
         "prob: MBR entry 2 at byte 462: a partition of type 0x07 at sector 40, 19 sectors, "
         "beside the protective entry, that no GPT entry covers; partitions read from the GPT\n"
         "prob: MBR entry 2 at byte 462: sectors 40 to 58 overlap entry 1's, sectors 1 to 127; "
         "partitions read from the GPT\n",
         false, 0, 0, 0x07, 40, 19},
        {"intact", 0, ""},
        {"backup header CRC", 127 * 512 + 60,
         "prob: GPT backup header at LBA 127 damaged (header CRC mismatch); partitions read from "
         "the primary header\n"},
        {"backup array", 126 * 512 + 40,
         "prob: GPT backup header at LBA 127 damaged (entry array CRC mismatch); partitions read "
         "from the primary header\n"},
        {"backup signature", 127 * 512,
         "prob: GPT backup header at LBA 127 damaged (no signature); partitions read from the "
         "primary header\n"},
        {"backup disk GUID", 127 * 512 + 56,
         "prob: GPT backup header at LBA 127: disk GUID 1312114a-1514-1716-1819-1a1b1c1d1e1f "
         "differs from the primary's 13121110-1514-1716-1819-1a1b1c1d1e1f; partitions read from "
         "the primary header\n",
         true},
        {"backup first usable LBA", 127 * 512 + 40,
         "prob: GPT backup header at LBA 127: first usable LBA 120 differs from the primary's 34; "
         "partitions read from the primary header\n",
         true},
        {"backup last usable LBA", 127 * 512 + 48,
         "prob: GPT backup header at LBA 127: last usable LBA 4 differs from the primary's 94; "
         "partitions read from the primary header\n",
         true},
        {"backup alternate LBA", 127 * 512 + 32,
         "prob: GPT backup header at LBA 127: alternate LBA 91 differs from the primary's 1; "
         "partitions read from the primary header\n",
         true},
        {"backup entry count", 127 * 512 + 80,
         "prob: GPT backup header at LBA 127: entry count 3 differs from the primary's 4; "
         "partitions read from the primary header\n",
         true, 0x07},
        {"backup lists one more", 126 * 512 + 2 * 128,
         "prob: GPT backup entry array at LBA 126: 1 of 4 entries differ from the primary's (the "
         "first is entry 3, at byte 0xfd00); the backup lists 3 partitions, the primary 2; "
         "partitions read from the primary header\n",
         true},
        {"backup entry renamed", 126 * 512 + 128 + 56,
         "prob: GPT backup entry array at LBA 126: 1 of 4 entries differ from the primary's (the "
         "first is entry 2, at byte 0xfc80); partitions read from the primary header\n",
         true},
    };
    for (const auto& k : cases) {
      SCOPED_TRACE(k.what);
      image_t img = good;
      if (k.at) img[k.at] ^= k.flip;
      if (k.sealed) seal_gpt_header(img, 127 * 512);
      if (k.grown_to) img.resize(k.grown_to, 0);
      if (k.second_type) mbr_slot(img, 0, 1, k.second_type, k.second_start, k.second_count);
      write_file(tree.path("gpt.img"), img);
      RAW_DISK_IO disk(tree.path("gpt.img"), false, 0, disk_mode_path);
      partition_list list;
      testing::internal::CaptureStderr();
      ASSERT_TRUE(scan_partitions(disk, list, false, false));
      EXPECT_EQ(testing::internal::GetCapturedStderr(), k.said);
      std::set<std::string> names;
      for (const auto& r : list) names.insert(r.m_description);
      EXPECT_EQ(names, (std::set<std::string>{"one", "two"}));
    }
  }

  // Written: inode 11's extent tree of depth 2 whose index block 60 names
  // itself; inode 14's double-indirect block 50 names itself; inode 16's
  // leaf, block 61, holds no node; inode 10's two extents both map block 41. Refused, and said;
  // inode 13's sound tree and inode 12's block map are read without a word.
  {
    image_t img =
        ext_image(256, {{11, 0x81A4, 3 * 1024, true, {0x0001F30A, 0x00020004, 0, 0, 60}},
                        {16, 0x81A4, 3 * 1024, true, {0x0001F30A, 0x00010004, 0, 0, 61}},
                        {10, 0x81A4, 2 * 1024, true, {0x0002F30A, 4, 0, 0, 1, 41, 1, 1, 41}}});
    std::fill(img.begin() + 60 * 1024, img.begin() + 61 * 1024, 0);
    put16(img, 60 * 1024, 0xF30A);
    put16(img, 60 * 1024 + 2, 1);
    put16(img, 60 * 1024 + 4, 84);
    put16(img, 60 * 1024 + 6, 1);
    put32(img, 60 * 1024 + 12, 0);
    put32(img, 60 * 1024 + 16, 60);
    put32(img, 50 * 1024, 50);
    write_file(tree.path("ext.img"), img);
    RAW_DISK_IO disk(tree.path("ext.img"), false, 0, disk_mode_path);
    const ext_superblock sb = ext_superblock_from(img.data() + 1024, 1024);
    const struct {
      uint64_t inode;
      const char* said;
    } cases[] = {
        {11,
         "prob: inode 11: extent index in block 60 names block 60, which the walk already holds; "
         "the file is not read\n"},
        {14,
         "prob: inode 14: block pointer in block 50 names block 50, which the walk already holds; "
         "the file is not read\n"},
        {16,
         "prob: inode 16: block 61 holds no extent tree node of the depth expected; the file is "
         "not read\n"},
        {10, "prob: inode 10: block 41 is mapped twice; the file is not read\n"},
        {13, ""},
        {12, ""},
    };
    for (const auto& k : cases) {
      SCOPED_TRACE(k.inode);
      ext_inode_record rec;
      ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, k.inode));
      cluster_runs runs;
      testing::internal::CaptureStderr();
      EXPECT_EQ(walk_ext_extents(rec, runs, disk, 0, sb), *k.said == 0);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), k.said);
      EXPECT_EQ(runs.m_runs.empty(), *k.said != 0);
    }
  }

  const std::string chain_cut =
      "prob: extended partition chain at sector 32: boot record at sector 112 lies past the end "
      "of the medium; the rest of the chain is not listed\n";
  // Written: an MBR with a primary and an extended partition on a medium
  // of 64 sectors; the chain's second boot record (or its first) lies past
  // the end; or a second extended entry in slot 2; or a primary in slot 3
  // over another primary or the extended area. What was read is listed,
  // each logical once, and the cut, the second entry and the overlap are
  // said.
  {
    const struct {
      const char* what;
      uint32_t extended_at;
      std::multiset<uint64_t> starts;
      std::string said;
      uint32_t second_at = 0;                    // slot 2's extended partition (0: none)
      uint32_t fourth_at = 0, fourth_count = 0;  // slot 3's primary
    } cases[] = {
        {"second record past the end",
         32,
         {8, 32, 34},
         "prob: extended partition chain at sector 32: boot record at sector 112 lies past the "
         "end of the medium; the rest of the chain is not listed\n"},
        {"first record past the end",
         70,
         {8, 70},
         "prob: extended partition chain at sector 70: boot record at sector 70 lies past the end "
         "of the medium; the rest of the chain is not listed\n"},
        {"extended entry repeated",
         32,
         {8, 32, 32, 34},
         "prob: extended partition chain at sector 32: boot record at sector 112 lies past the "
         "end of the medium; the rest of the chain is not listed\n"
         "prob: MBR entry 3 at byte 478: a second extended partition, at sector 32, the same as "
         "entry 2's; its logical partitions are listed once\n",
         32},
        {"second extended area",
         32,
         {8, 32, 34, 40},
         "prob: extended partition chain at sector 32: boot record at sector 112 lies past the "
         "end of the medium; the rest of the chain is not listed\n"
         "prob: MBR entry 3 at byte 478: a second extended partition, at sector 40, entry 2's is "
         "at sector 32; its chain is not read\n",
         40},
        {"a primary over another",
         32,
         {8, 16, 32, 34},
         chain_cut +
             "prob: MBR entry 4 at byte 494: sectors 16 to 25 overlap entry 1's, sectors 8 to 23; "
             "both are listed as the table gives them\n",
         0,
         16,
         10},
        {"a primary in the extended area",
         32,
         {8, 32, 34, 120},
         chain_cut +
             "prob: MBR entry 4 at byte 494: sectors 120 to 139 overlap entry 2's, sectors 32 to "
             "131; both are listed as the table gives them\n",
         0,
         120,
         20},
    };
    for (const auto& k : cases) {
      SCOPED_TRACE(k.what);
      image_t b(64 * 512, 0);
      mbr_slot(b, 0, 0, 0x83, 8, 16);
      mbr_slot(b, 0, 1, 0x05, k.extended_at, 100);
      if (k.extended_at * 512 < b.size()) {
        mbr_slot(b, k.extended_at * 512, 0, 0x07, 2, 10);
        mbr_slot(b, k.extended_at * 512, 1, 0x05, 80, 20);
      }
      if (k.second_at) mbr_slot(b, 0, 2, 0x0F, k.second_at, 20);
      if (k.fourth_at) mbr_slot(b, 0, 3, 0x07, k.fourth_at, k.fourth_count);
      write_file(tree.path("mbr.img"), b);
      for (const bool in_memory : {false, true}) {
        SCOPED_TRACE(in_memory ? "buffer" : "disk");
        partition_list list;
        testing::internal::CaptureStderr();
        if (in_memory) {
          ASSERT_TRUE(scan_partitions_buffer(b.data(), b.size(), list, false, false));
        } else {
          RAW_DISK_IO disk(tree.path("mbr.img"), false, 0, disk_mode_path);
          ASSERT_TRUE(scan_partitions(disk, list, false, false));
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), k.said);
        std::multiset<uint64_t> starts;
        for (const auto& r : list) starts.insert(r.m_start);
        EXPECT_EQ(starts, k.starts);
      }
    }
  }

  // Made by sgdisk, the backup header's CRC then damaged: sfdisk says "The
  // backup GPT table is corrupt", and the walk says it too.
  std::string why;
  if (have({"sgdisk", "sfdisk"}, why)) {
    const std::string img = tree.path("sg.img");
    ASSERT_TRUE(make_sparse_file(img, 12u << 20));
    const std::string q = shell_quote(img);
    run_ok(find_tool("sgdisk") + " -n 1:2048:+1M -n 2:0:+2M " + q + " >/dev/null");
    std::vector<uint8_t> backup = read_file_range(img, 24575 * 512, 512);
    backup[60] ^= 0x5A;
    write_at(img, 24575 * 512, backup);
    EXPECT_NE(run_ok(find_tool("sfdisk") + " -l " + q)
                  .find("The backup GPT table is corrupt, but the primary appears OK, so that will "
                        "be used."),
              std::string::npos);
    std::string said;
    EXPECT_EQ(walk_image(img, said),
              (std::multiset<part_row>{{2048, 2048, 0xEE}, {4096, 4096, 0xEE}}));
    EXPECT_EQ(said,
              "prob: GPT backup header at LBA 24575 damaged (header CRC mismatch); partitions read "
              "from the primary header\n");
  }

  // Made by sgdisk (two partitions, disk GUID given), then the backup
  // changed and sealed again: its array taken from the same disk with a
  // third partition added, or its header's disk GUID and first usable LBA
  // changed; or the disk grown by 4 MiB; or the protective MBR given a
  // second entry, a hybrid one (sgdisk -h 1's) or a FAT32 partition no GPT
  // entry covers, each over the protective entry (sgdisk -v: "MBR
  // partitions 1 and 2 overlap"). sgdisk -v's words and ours; the partitions come from the
  // primary, and the disk as made gives no note.
  if (have({"sgdisk"}, why)) {
    const std::string img = tree.path("sgv.img");
    const std::string q = shell_quote(img);
    constexpr size_t disk_bytes = 12u << 20, header_at = 24575 * 512, array_at = 24543 * 512;
    ASSERT_TRUE(make_sparse_file(img, disk_bytes));
    const std::string sgdisk = find_tool("sgdisk");
    run_ok(sgdisk + " -U 4d0a4509-06dd-4189-be86-cdeccd8928e7 -n 1:2048:+1M -n 2:0:+2M " + q +
           " >/dev/null");
    const image_t made = read_file_range(img, 0, disk_bytes);
    run_ok(sgdisk + " -n 3:0:+1M " + q + " >/dev/null");
    const image_t three = read_file_range(img, 0, disk_bytes);
    const struct {
      const char* what;
      bool third_in_backup;
      bool header_changed;
      std::vector<const char*> theirs;
      const char* said;
      size_t grown_to = 0;
      uint8_t second_type = 0;  // the MBR's second entry: type, start, count
      uint32_t second_start = 0, second_count = 0;
    } cases[] = {
        {"as made", false, false, {"No problems found."}, ""},
        {"backup lists one more",
         true,
         false,
         {"Main and backup partition tables differ",
          "The CRC for the backup partition table is invalid", "Identified 1 problems!"},
         "prob: GPT backup entry array at LBA 24543: 1 of 128 entries differ from the primary's "
         "(the first is entry 3, at byte 0xbfbf00); the backup lists 3 partitions, the primary "
         "2; partitions read from the primary header\n"},
        {"backup header differs",
         false,
         true,
         {"main GPT header's first usable LBA pointer (34) doesn't\nmatch the backup GPT "
          "header's first usable LBA pointer (35)",
          "main header's disk GUID (4D0A4509-06DD-4189-BE86-CDECCD8928E7) doesn't\nmatch the "
          "backup GPT header's disk GUID (4D0A4553-06DD-4189-BE86-CDECCD8928E7)",
          "Identified 2 problems!"},
         "prob: GPT backup header at LBA 24575: first usable LBA 35 differs from the primary's "
         "34; partitions read from the primary header\n"
         "prob: GPT backup header at LBA 24575: disk GUID 4d0a4553-06dd-4189-be86-cdeccd8928e7 "
         "differs from the primary's 4d0a4509-06dd-4189-be86-cdeccd8928e7; partitions read from "
         "the primary header\n"},
        {"grown",
         false,
         false,
         {"The secondary header's self-pointer indicates that it doesn't reside\nat the end of "
          "the disk",
          "Identified 1 problems!"},
         "prob: GPT backup header at LBA 24575 does not lie at the end of the disk (its last "
         "sector is LBA 32767); partitions read from the primary header\n",
         16u << 20},
        {"hybrid MBR",
         false,
         false,
         {"Problem: MBR partitions 1 and 2 overlap!", "Identified 1 problems!"},
         "prob: MBR entry 2 at byte 462: sectors 2048 to 4095 overlap entry 1's, sectors 1 to "
         "24575; partitions read from the GPT\n",
         0,
         0x83,
         2048,
         2048},
        {"MBR partition beside the GPT",
         false,
         false,
         {"Mismatched GPT and MBR partition! MBR partition 2, of type 0x0C,\nhas no "
          "corresponding GPT partition!",
          "Problem: MBR partitions 1 and 2 overlap!"},
         "prob: MBR entry 2 at byte 462: a partition of type 0x0c at sector 12288, 2048 sectors, "
         "beside the protective entry, that no GPT entry covers; partitions read from the GPT\n"
         "prob: MBR entry 2 at byte 462: sectors 12288 to 14335 overlap entry 1's, sectors 1 to "
         "24575; partitions read from the GPT\n",
         0,
         0x0C,
         12288,
         2048},
    };
    for (const auto& k : cases) {
      SCOPED_TRACE(k.what);
      image_t bytes = made;
      if (k.third_in_backup)
        std::copy_n(three.begin() + array_at, 128 * 128, bytes.begin() + array_at);
      if (k.header_changed) {
        bytes[header_at + 56] ^= 0x5A;
        put64(bytes, header_at + 40, 35);
      }
      if (k.third_in_backup || k.header_changed) seal_gpt_header(bytes, header_at);
      if (k.grown_to) bytes.resize(k.grown_to, 0);
      if (k.second_type) mbr_slot(bytes, 0, 1, k.second_type, k.second_start, k.second_count);
      write_file(img, bytes);
      const std::string verified = run_ok(sgdisk + " -v " + q);
      for (const char* words : k.theirs)
        EXPECT_NE(verified.find(words), std::string::npos) << words << "\n" << verified;
      std::string said;
      EXPECT_EQ(walk_image(img, said),
                (std::multiset<part_row>{{2048, 2048, 0xEE}, {4096, 4096, 0xEE}}));
      EXPECT_EQ(said, k.said);
    }
  }

  // Made by sfdisk: primaries at 2048 and 28672 around an extended
  // partition at 4096 with logicals at 6144 and 12288; then the extended
  // entry copied into slot 4. sfdisk: "Ignoring extra extended partition
  // 4", listing both entries and each logical once; the walk lists the
  // same and says so.
  if (have({"sfdisk"}, why)) {
    const std::string img = tree.path("sf4.img");
    sfdisk_image(img,
                 "start=2048, size=2048, type=83\\nstart=4096, size=20480, type=5\\n"
                 "start=28672, size=2048, type=83\\nstart=6144, size=4096, type=83\\n"
                 "start=12288, size=4096, type=7\\n");
    write_at(img, 446 + 3 * 16, read_file_range(img, 446 + 16, 16));
    EXPECT_NE(run_ok(find_tool("sfdisk") + " -d " + shell_quote(img))
                  .find("Ignoring extra extended partition 4"),
              std::string::npos);
    std::string said;
    // sfdisk -d's lines.
    EXPECT_EQ(walk_image(img, said), (std::multiset<part_row>{{2048, 2048, 0x83},
                                                              {4096, 20480, 0x05},
                                                              {28672, 2048, 0x83},
                                                              {4096, 20480, 0x05},
                                                              {6144, 4096, 0x83},
                                                              {12288, 4096, 0x07}}));
    EXPECT_EQ(said,
              "prob: MBR entry 4 at byte 494: a second extended partition, at sector 4096, the "
              "same as entry 2's; its logical partitions are listed once\n");
  }

  // Made by sfdisk: primaries at 2048, 8192 and 12288; then the second's
  // start moved to 4096, over the first. sfdisk --verify: "Partition 1: overlaps
  // partition 2."; sgdisk -v: "partitions 2 and 1 overlap", 4096 to 8191
  // and 2048 to 6143. The walk lists the three and says the overlap.
  if (have({"sfdisk", "sgdisk"}, why)) {
    const std::string img = tree.path("ov.img");
    sfdisk_image(img,
                 "start=2048, size=4096, type=83\\nstart=8192, size=4096, type=7\\n"
                 "start=12288, size=2048, type=c\\n");
    write_at(img, 446 + 16 + 8, {0x00, 0x10, 0x00, 0x00});
    EXPECT_NE(run_ok(find_tool("sfdisk") + " --verify " + shell_quote(img) + " 2>&1")
                  .find("Partition 1: overlaps partition 2."),
              std::string::npos);
    EXPECT_NE(run_ok(find_tool("sgdisk") + " -v " + shell_quote(img))
                  .find("Problem: partitions 2 and 1 overlap:\n  Partition 2: 4096 to 8191\n"
                        "  Partition 1: 2048 to 6143\n"),
              std::string::npos);
    std::string said;
    EXPECT_EQ(
        walk_image(img, said),
        (std::multiset<part_row>{{2048, 4096, 0x83}, {4096, 4096, 0x07}, {12288, 2048, 0x0C}}));
    EXPECT_EQ(said,
              "prob: MBR entry 2 at byte 462: sectors 4096 to 8191 overlap entry 1's, sectors 2048 "
              "to 6143; both are listed as the table gives them\n");
  }

  // Made by mkfs.ext4 -d (no metadata checksums): a file of 500 one-block
  // islands, an extent tree of depth 2 under index block 1956, whose first
  // entry is then pointed at 1956 itself. debugfs: "Found cyclic loop in
  // extent tree"; the walk refuses and says where.
  if (have({"mkfs.ext4", "debugfs"}, why)) {
    std::filesystem::create_directories(tree.path("d"));
    {
      std::fstream f(tree.path("d/isl.bin"), std::ios::binary | std::ios::out);
      for (int k = 0; k < 500; ++k) {
        const auto island = pattern(1024, 100 + k);
        f.seekp(k * 3 * 1024 + 1024);
        f.write(reinterpret_cast<const char*>(island.data()), 1024);
      }
    }
    const std::string e4 =
        make_volume(tree.path("e4.img"), 8u << 20, "mkfs.ext4",
                    "-q -F -b 1024 -O ^metadata_csum -d " + shell_quote(tree.path("d")), &why);
    ASSERT_FALSE(e4.empty()) << why;
    const std::string q = shell_quote(e4);
    const std::string debugfs = find_tool("debugfs");
    EXPECT_NE(run_ok(debugfs + " -R " + shell_quote("ex /isl.bin") + " " + q + " 2>/dev/null")
                  .find(" 0/ 2   1/  1     1 -  1498  1956           1498\n"),
              std::string::npos);
    std::vector<uint8_t> index = read_file_range(e4, 1956 * 1024, 1024);
    put32(index, 16, 1956);
    write_at(e4, 1956 * 1024, index);
    bool ok = false;
    const std::string said = run_command(
        debugfs + " -R " + shell_quote("dump /isl.bin " + tree.path("dumped")) + " " + q, ok);
    EXPECT_NE(said.find("dump: Found cyclic loop in extent tree while reading ext2 file"),
              std::string::npos)
        << said;
    RAW_DISK_IO disk(e4, false, 0, disk_mode_path);
    const image_t sbytes = read_file_range(e4, 1024, 1024);
    const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
    ext_inode_record rec;
    ASSERT_TRUE(ext_read_inode(rec, sb, disk, 0, 12));
    cluster_runs runs;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(walk_ext_extents(rec, runs, disk, 0, sb));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: inode 12: extent index in block 1956 names block 1956, which the walk already "
              "holds; the file is not read\n");
  }

  // Made by sfdisk: logicals at 6144, 12288 and 18432 behind boot records
  // at 4096, 10240 and 16384; the image cut at sector 14336. sfdisk lists
  // the first two and says "Failed to read extended partition table
  // (offset=16384)"; the walk lists them (and the link to 16384) and says
  // where the chain ends.
  if (!have({"sfdisk"}, why)) GTEST_SKIP() << why;
  const std::string img = tree.path("sf.img");
  sfdisk_image(img,
               "start=2048, size=2048, type=83\\nstart=4096, size=28672, type=5\\n"
               "size=4096, type=83\\nsize=4096, type=7\\nsize=4096, type=83\\n");
  ASSERT_EQ(::truncate(img.c_str(), 14336 * 512), 0);
  EXPECT_NE(run_ok(find_tool("sfdisk") + " -l " + shell_quote(img))
                .find("Failed to read extended partition table (offset=16384)"),
            std::string::npos);
  std::string said;
  EXPECT_EQ(walk_image(img, said), (std::multiset<part_row>{{2048, 2048, 0x83},
                                                            {4096, 28672, 0x05},
                                                            {6144, 4096, 0x83},
                                                            {12288, 4096, 0x07},
                                                            {16384, 6144, 0x05}}));
  EXPECT_EQ(said,
            "prob: extended partition chain at sector 4096: boot record at sector 16384 lies past "
            "the end of the medium; the rest of the chain is not listed\n");
}
