// The integrity marks each format carries: NTFS update sequences and run
// lists, ext4 metadata checksums, exFAT SetChecksums and SecondaryCounts,
// and the sizes a file system can hold. On images from the project's
// writers each mark is broken in turn and must be said while the sound
// image gives no word; where the tool is installed, on images the tool
// made, with its answer (istat, debugfs, e2fsck, fsck.exfat, fls, icat) as
// the expected value.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk/fat_ext.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
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

// A tool's output, whatever its status (a tool that finds damage fails).
std::string run_ok_or_not(const std::string& command) {
  bool ok = false;
  return run_command(command, ok);
}

std::string debugfs_stat(const std::string& img, const std::string& name) {
  return run_ok(find_tool("debugfs") + " -R " + shell_quote("stat " + name) + " " +
                shell_quote(img));
}

uint64_t inode_number(const std::string& stat) {
  return std::stoull(stat.substr(stat.find("Inode: ") + 7));
}

// Reads and walks an ext inode of the image at path (a folder's bytes to
// folder, when given); what was said.
std::string ext_walk_said(const std::string& path, uint64_t inode, bool& read,
                          std::vector<uint8_t>* folder = nullptr) {
  const image_t sbytes = read_file_range(path, 1024, 1024);
  testing::internal::CaptureStderr();
  const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  ext_inode_record rec;
  cluster_runs runs;
  read =
      ext_read_inode(rec, sb, disk, 0, inode) && walk_ext_extents(rec, runs, disk, 0, sb, folder);
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
    EXPECT_EQ(
        mft_unread_text(c.m_store[c.m_entries.find(7)->second].m_unread),
        torn ? "incorrect update sequence value: a sector of the record is torn or damaged" : "");
  }
  // Written: an INDX record of 4096 bytes (sequence 0x0102, count 9), whole
  // and with its fourth sector torn.
  for (const bool torn : {false, true}) {
    std::vector<uint8_t> r(4096, 0xAB);
    put_text(r, 0, "INDX");
    put16(r, 4, 40);
    put16(r, 6, 9);
    put16(r, 40, 0x0102);
    for (size_t i = 1; i < 9; ++i) {
      put16(r, 40 + 2 * i, static_cast<uint16_t>(0x1000 + i));
      put16(r, i * 512 - 2, i == 4 && torn ? 0x0101 : 0x0102);
    }
    uint32_t kind = 0;
    EXPECT_EQ(apply_fixups(kind, r.data(), r.size(), 512), !torn);
    EXPECT_EQ(kind, uint32_t{fixup_indx});
    EXPECT_EQ(load_le16(&r[3 * 512 - 2]), torn ? 0x0102 : 0x1003);
  }
  // Written: a FILE record of 1024 or 4096 bytes with 3 or 9 update-
  // sequence entries, its count then changed to any other: listed whatever
  // the count, marked when it names more sectors than the record has or
  // fewer, and read as far as its own bytes go.
  const char* const past = "update sequence count past the record: more entries than sectors";
  const char* const short_of =
      "update sequence count short of the record: fewer entries than sectors";
  const struct {
    size_t size;
    uint16_t count;
    uint16_t changed_to;
    const char* mark;
  } counts[] = {
      {1024, 3, 3, ""},       {4096, 9, 9, ""},       {1024, 9, 9, past},
      {1024, 3, 10, past},    {1024, 3, 600, past},   {1024, 3, 0xFFFF, past},
      {4096, 9, 10, past},    {4096, 9, 2100, past},  {1024, 3, 0, short_of},
      {1024, 3, 1, short_of}, {1024, 3, 2, short_of}, {4096, 9, 2, short_of},
      {4096, 9, 8, short_of},
  };
  for (const auto& k : counts) {
    SCOPED_TRACE(k.changed_to);
    std::vector<uint8_t> raw = file_record(
        40, 1, 1, 0, {resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"seq"))}, k.size,
        k.count);
    put16(raw, 6, k.changed_to);
    EXPECT_TRUE(is_mft_file_record(raw.data(), raw.size()));
    write_file(tree.path("r.img"), raw);
    RAW_DISK_IO disk(tree.path("r.img"), false, 0, disk_mode_path);
    inode_record rec;
    ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0,
                                  static_cast<uint32_t>(k.size), false));
    EXPECT_EQ(mft_unread_text(rec.m_unread), k.mark);
    EXPECT_EQ(rec.m_name, "seq");
  }
}

TEST(IntegrityMarks, NtfsRunListsThatCannotBeDecodedAreMarked) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Written: a file whose $DATA (or folder whose $INDEX_ALLOCATION) runs
  // hold a second header of 0x09 (a 9-byte length), or a second run of
  // 2^32 clusters. The runs before a damaged header are kept; content runs
  // past 2^32 clusters are not.
  // Their runs (4 clusters at 32, 2 more at 40 when a second run is
  // written) may also end short of the attribute's last virtual cluster,
  // or run on past it, or (on a volume of 40 clusters) past the volume:
  // marked, and the list cut before the first run that passes either end.
  // A second piece of the content (in extension record 41, named by the
  // record's attribute list, from the virtual cluster after the first
  // piece's last) is kept only while the first piece reaches it.
  const std::vector<uint8_t> cut = {0x11, 0x04, 0x20, 0x09, 1, 2};
  const std::vector<uint8_t> huge = {0x11, 0x04, 0x20, 0x05, 0, 0, 0, 0, 1};
  const std::vector<uint8_t> two = {0x11, 0x04, 0x20, 0x11, 0x02, 0x08};
  const char* const span =
      "runs end at another virtual cluster than the attribute's last: the run list is cut";
  const char* const past_volume = "run past the volume's clusters: the run list is cut there";
  constexpr uint64_t as_written = ~uint64_t{0} - 1;
  const struct {
    uint32_t type;
    std::vector<uint8_t> runs;
    size_t kept;
    std::string mark;
    uint64_t last_vcn = as_written;
    uint64_t volume_clusters = 0;  // 0: no volume
    std::vector<uint8_t> piece = {};
  } cases[] = {
      {0x80, {0x11, 0x04, 0x20}, 1, ""},
      {0x80, cut, 1, "run list cut at a run that cannot be decoded"},
      {0xA0, cut, 1, "run list cut at a run that cannot be decoded"},
      {0x80, huge, 0, "content runs past 2^32 clusters, beyond any NTFS volume"},
      {0xA0, huge, 1, "run list cut at a run that cannot be decoded"},
      {0x80, two, 2, "", as_written, 42},
      {0xA0, two, 2, "", as_written, 42},
      {0x80, {}, 0, ""},
      {0x80, {0x11, 0x04, 0x20}, 1, span, 7},
      {0xA0, {0x11, 0x04, 0x20}, 1, span, 7},
      {0x80, two, 1, span, 4},
      {0xA0, two, 1, span, 4},
      {0x80, {}, 0, span, 3},
      {0x80, two, 1, past_volume, as_written, 41},
      {0xA0, two, 1, past_volume, as_written, 41},
      {0x80, two, 0, past_volume, as_written, 20},
      {0x80, two, 1, std::string(span) + "; " + past_volume, 4, 41},
      {0x80, {0x11, 0x04, 0x20}, 2, "", as_written, 42, {0x11, 0x02, 0x28}},
      {0x80, {0x11, 0x04, 0x20}, 1, span, 7, 0, {0x11, 0x02, 0x28}},
      {0x80,
       {0x11, 0x04, 0x20},
       0,
       std::string(span) + "; " + past_volume,
       as_written,
       30,
       {0x11, 0x02, 0x10}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.mark);
    std::vector<uint8_t> attr =
        nonresident_attr(k.type, k.runs, 0, 0, 0, 0, k.type == 0xA0 ? u"$I30" : u"");
    if (k.last_vcn != as_written) put64(attr, 24, k.last_vcn);
    std::vector<std::vector<uint8_t>> attributes = {
        resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"runs")), attr};
    if (!k.piece.empty())
      attributes.insert(attributes.begin(),
                        resident_attr(0x20, attr_list_entry(0x80, mft_ref_value(41, 1))));
    std::vector<uint8_t> raw = file_record(40, 1, 1, 0, attributes);
    image_t medium = raw;
    if (!k.piece.empty()) {
      medium.resize(41 * 1024, 0);
      const image_t piece =
          file_record(41, 1, 1, mft_ref_value(40, 1),
                      {nonresident_attr(0x80, k.piece, 0, 0, 0, load_le64(&attr[24]) + 1)});
      medium.insert(medium.end(), piece.begin(), piece.end());
    }
    write_file(tree.path("r.img"), medium);
    RAW_DISK_IO disk(tree.path("r.img"), false, 0, disk_mode_path);
    ntfs_volume_map volume;
    volume.m_disk = &disk;
    volume.m_cluster_size = 512;
    volume.m_record_size = 1024;
    volume.m_clusters = k.volume_clusters;
    // The table from the medium's first byte: entry 41 at 41 x 1024.
    data_run table;
    table.m_count = 84;
    volume.m_mft_runs = {table};
    inode_record rec;
    rec.m_options = mft_keep_data_runs | mft_keep_index_runs;
    ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0, 1024, false,
                                  k.volume_clusters ? &volume : nullptr));
    EXPECT_EQ(mft_unread_text(rec.m_unread), k.mark);
    EXPECT_EQ((k.type == 0x80 ? rec.m_data_runs : rec.m_index_runs).size(), k.kept);
    if (k.piece.empty()) continue;
    // The extension record read on its own: its piece, whole, no mark.
    image_t alone(medium.begin() + 41 * 1024, medium.end());
    inode_record ext;
    ext.m_options = mft_keep_data_runs;
    ASSERT_TRUE(parse_file_record(ext, alone.data(), alone.size(), &disk, 0, 1024, false,
                                  k.volume_clusters ? &volume : nullptr));
    EXPECT_EQ(mft_unread_text(ext.m_unread), "");
    EXPECT_EQ(ext.m_data_runs.size(), 1u);
  }

  // Made by mkntfs (4 KiB clusters, 1 KiB records, 4095 clusters), then, in
  // turn: $Extend's record (11) torn, or its update-sequence count set to
  // another; $LogFile's (2) one run (512 clusters at 2048) followed by a
  // header of 0x09 or by a hole of 61,440 clusters, grown to 3840 clusters
  // (past the volume), cut to 256, or replaced by a hole of 2^32 clusters;
  // the root folder's (5) index run (one cluster, 517) followed by a header
  // of 0x09, or ended before it by a header of 0x00; p.bin's (64, copied in
  // by ntfscp, its 5 clusters then written as runs of 2 and 3) second
  // header made 0x00 or 0x34. istat says each in its words (or reads it
  // without one), and ntfscat refuses p.bin's content; the walk lists that
  // record, marks it and no other, and none on the sound table.
  std::string why;
  if (!have({"mkntfs", "istat", "ntfscp"}, why)) GTEST_SKIP() << why;
  const std::string clean =
      make_volume(tree.path("m.img"), 16u << 20, "mkntfs", "-F -Q -q -c 4096", &why);
  ASSERT_FALSE(clean.empty()) << why;
  write_file(tree.path("p.bin"), pattern(20000, 3));
  run_ok(find_tool("ntfscp") + " " + shell_quote(clean) + " " + shell_quote(tree.path("p.bin")) +
         " p.bin");
  const uint64_t table = load_le64(&read_file_range(clean, 0, 512)[48]) * 4096;
  // The first run header of a record's attribute, from the table's start.
  const auto runs_of = [&](uint64_t entry, uint32_t type) -> uint64_t {
    std::vector<uint8_t> r = read_file_range(clean, table + entry * 1024, 1024);
    uint32_t kind = 0;
    EXPECT_TRUE(apply_fixups(kind, r.data(), r.size(), 512));
    size_t at = load_le16(&r[20]);
    while (at + 64 < r.size() && load_le32(&r[at]) != type) at += load_le32(&r[at + 4]);
    EXPECT_LT(at + 64, r.size());
    return at + 64 < r.size() ? entry * 1024 + at + load_le16(&r[at + 32]) : 0;
  };
  const uint64_t runs = runs_of(2, 0x80);
  const uint64_t root_runs = runs_of(5, 0xA0);
  ASSERT_EQ(read_file_range(clean, table + runs, 6), (image_t{0x22, 0x00, 0x02, 0x00, 0x08, 0}));
  ASSERT_EQ(read_file_range(clean, table + root_runs, 5), (image_t{0x21, 0x01, 0x05, 0x02, 0}));
  const uint64_t p_runs = runs_of(64, 0x80);
  image_t p = read_file_range(clean, table + p_runs, 8);
  ASSERT_EQ(p[0], 0x21);
  ASSERT_EQ(p[1], 5);
  ASSERT_EQ(p[4], 0);
  write_at(clean, table + p_runs, {0x21, 0x02, p[2], p[3], 0x11, 0x03, 0x02, 0x00});
  const std::string past = "update sequence count past the record: more entries than sectors";
  const std::string short_of =
      "update sequence count short of the record: fewer entries than sectors";
  const std::string cut_here = "run list cut at a run that cannot be decoded";
  const struct {
    uint64_t at;  // from the table's start
    std::vector<uint8_t> bytes;
    uint32_t entry;
    const char* istat_says;  // "": no error
    std::string mark;
    const char* ntfscat_says = nullptr;
  } damage[] = {
      {0, {}, 11, "", ""},
      {11 * 1024 + 510,
       {0x55, 0xAA},
       11,
       "Incorrect update sequence value in MFT entry",
       "incorrect update sequence value: a sector of the record is torn or damaged"},
      {11 * 1024 + 6, {9}, 11, "More Update Sequence Entries than MFT size", past},
      {11 * 1024 + 6, {10}, 11, "More Update Sequence Entries than MFT size", past},
      {11 * 1024 + 6, {0x58, 0x02}, 11, "More Update Sequence Entries than MFT size", past},
      {11 * 1024 + 6, {0}, 11, "Invalid update count value out of bounds", short_of},
      {11 * 1024 + 6, {2}, 11, "", short_of},
      {runs + 5, {0x09}, 2, "Run length is too large to process", cut_here},
      {runs + 5, {0x02, 0x00, 0xF0}, 2, "Run length is larger than file system", span},
      {runs + 2,
       {0x0F},
       2,
       "Run offset and length is larger than file system",
       std::string(span) + "; " + past_volume},
      {runs + 2, {0x01}, 2, "", span},
      {runs,
       {0x05, 0, 0, 0, 0, 1, 0},
       2,
       "Run length is larger than file system",
       "content runs past 2^32 clusters, beyond any NTFS volume"},
      {root_runs + 4, {0x09}, 5, "Run length is too large to process", cut_here},
      {root_runs, {0x00}, 5, "", span},
      {p_runs + 4, {0x00}, 64, "", span, "ERROR: Couldn't read file: Input/output error"},
      {p_runs + 4,
       {0x34},
       64,
       "Run length is larger than file system",
       cut_here,
       "ERROR: Couldn't read file: Input/output error"},
  };
  for (const auto& k : damage) {
    SCOPED_TRACE(k.mark);
    const std::string img = tree.path("dmg.img");
    std::filesystem::copy_file(clean, img, std::filesystem::copy_options::overwrite_existing);
    write_at(img, table + k.at, k.bytes);
    const std::string says =
        run_ok_or_not("istat " + shell_quote(img) + " " + std::to_string(k.entry) + " 2>&1");
    EXPECT_TRUE(said(says, *k.istat_says ? k.istat_says : "MFT Entry Header Values:")) << says;
    EXPECT_EQ(said(says, "Error") || said(says, "error"), *k.istat_says != 0) << says;
    if (k.ntfscat_says && !find_tool("ntfscat").empty()) {
      const std::string cat =
          run_ok_or_not("(" + find_tool("ntfscat") + " -i 64 " + shell_quote(img) + " >/dev/null)");
      EXPECT_TRUE(said(cat, k.ntfscat_says)) << cat;
    }
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    _inode_collection c;
    ASSERT_TRUE(load_table(c, disk, mft_keep_data_runs | mft_keep_index_runs));
    EXPECT_EQ(c.m_entries.count(k.entry), 1u);
    for (const auto& [number, index] : c.m_entries)
      EXPECT_EQ(mft_unread_text(c.m_store[index].m_unread), number == k.entry ? k.mark : "")
          << number;
    // p.bin's content is the bytes ntfscp copied, or, its runs cut, not
    // read in full: no byte past its runs is given as its own.
    const inode_record& p_rec = c.m_store[c.m_entries.find(64)->second];
    cluster_runs list;
    ASSERT_TRUE(cluster_runs_from_record(list, p_rec, 0, 4096));
    std::vector<uint8_t> content;
    const bool whole = read_cluster_runs_to_vector(list, content, disk, 0, p_rec.m_real_size);
    EXPECT_EQ(whole, k.entry != 64);
    if (whole) {
      EXPECT_EQ(content, pattern(20000, 3));
    }
    if (k.at != 0) continue;
    // The sound table's root folder: its index run as istat lists it.
    EXPECT_TRUE(said(run_ok("istat " + shell_quote(img) + " 5"),
                     "Name: $I30   Non-Resident   size: 4096  init_size: 4096\n517 \n"));
    const inode_record& root = c.m_store[c.m_entries.find(5)->second];
    ASSERT_EQ(root.m_index_runs.size(), 1u);
    EXPECT_EQ(root.m_index_runs[0].m_cluster, 517u);
    EXPECT_EQ(root.m_index_runs[0].m_count, 1u);
  }
}

TEST(IntegrityMarks, Ext4MetadataChecksumsAreCheckedAndLinksRead) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  // Written: a metadata_csum volume, sound, then one byte changed in turn
  // in the superblock, the group descriptor, inode 13, its extent block 40
  // and the root folder's block 20; or the image cut before block 20.
  const struct {
    size_t at;
    uint64_t inode;  // the inode read and walked
    const char* said;
    size_t cut = 0;  // the image cut there
  } cases[] = {
      {0, 13, ""},
      {0, 2, ""},
      {1024 + 48, 13, "prob: ext superblock checksum 0x"},
      {2048 + 12, 13, "prob: inode 13: group descriptor 0 checksum 0x"},
      {5 * 1024 + 12 * 256 + 16, 13, "prob: inode 13: checksum 0x"},
      {40 * 1024 + 100, 13, "prob: inode 13: extent block 40 checksum 0x"},
      {20 * 1024 + 100, 2, "prob: inode 2: folder block 20 checksum 0x"},
      {0, 2, "prob: inode 2: folder block 20 cannot be read; the folder is not read\n", 20 * 1024},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.at);
    image_t img = ext_csum_image();
    if (k.at) img[k.at] ^= 0x40;
    if (k.cut) img.resize(k.cut);
    write_file(tree.path("e.img"), img);
    bool read = false;
    std::vector<uint8_t> folder;
    const std::string err = ext_walk_said(tree.path("e.img"), k.inode, read, &folder);
    EXPECT_EQ(read, *k.said == 0);
    EXPECT_EQ(err.rfind(k.said, 0), 0u) << err;
    EXPECT_EQ(err.empty(), *k.said == 0);
    // The root folder's one block comes with its walk; none when refused.
    EXPECT_EQ(folder, k.inode == 2 && read ? image_t(&img[20 * 1024], &img[21 * 1024]) : image_t());
  }

  // Made by mkfs.ext4 -d (metadata_csum) and indexed by e2fsck -D: a file
  // of 200 one-block islands (a tree of depth 1), a folder of 400 names
  // (an htree), a fast link (12 bytes in the inode) and a slow one (300
  // bytes in a block). Sound, every inode reads without a word and the
  // links give what debugfs ("Fast link dest:") and icat give; damaged,
  // the tools and the walk refuse the same structures.
  std::string why;
  if (!have({"mkfs.ext4", "debugfs", "e2fsck", "icat"}, why)) GTEST_SKIP() << why;
  std::filesystem::create_directories(tree.path("d/many"));
  std::string slow;
  for (int i = 0; i < 150; ++i) slow += "d/";
  std::filesystem::create_symlink("short/target", tree.path("d/fast"));
  std::filesystem::create_symlink(slow, tree.path("d/slow"));
  for (int i = 0; i < 400; ++i)
    write_file(tree.path("d/many/a-longish-file-name-" + std::to_string(i)), bytes_of("x"));
  {
    std::fstream f(tree.path("d/isl.bin"), std::ios::binary | std::ios::out);
    for (int k = 0; k < 200; ++k) {
      f.seekp(k * 3 * 1024 + 1024);
      f.write(reinterpret_cast<const char*>(pattern(1024, k).data()), 1024);
    }
  }
  const std::string e4 = make_volume(tree.path("e4.img"), 8u << 20, "mkfs.ext4",
                                     "-q -F -b 1024 -d " + shell_quote(tree.path("d")), &why);
  ASSERT_FALSE(e4.empty()) << why;
  run_ok_or_not(find_tool("e2fsck") + " -fyD " + shell_quote(e4));
  const std::string many_stat = debugfs_stat(e4, "/many");
  ASSERT_TRUE(said(many_stat, "Flags: 0x81000")) << many_stat;  // extents, htree
  const uint64_t isl = inode_number(debugfs_stat(e4, "/isl.bin"));
  const uint64_t many = inode_number(many_stat);
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
  // The htree folder's bytes come with its walk, each block read once
  // (with the one extent block its inode names), and they are what icat
  // reads.
  const uint64_t before = disk.bytes_read();
  std::vector<uint8_t> folder;
  ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb, &folder));
  ASSERT_EQ(load_le16(rec.m_inode.data() + 40 + 2), 1u);
  EXPECT_EQ(disk.bytes_read() - before, folder.size() + 1024);
  EXPECT_EQ(folder, bytes_of(run_ok("icat " + shell_quote(e4) + " " + std::to_string(many))));
  const std::string fast_stat = debugfs_stat(e4, "/fast");
  EXPECT_TRUE(said(fast_stat, "Fast link dest: \"short/target\""));
  const uint64_t slow_inode = inode_number(debugfs_stat(e4, "/slow"));
  EXPECT_EQ(run_ok("icat " + shell_quote(e4) + " " + std::to_string(slow_inode)), slow);
  for (const auto& [number, expected] :
       {std::pair<uint64_t, std::string>{inode_number(fast_stat), "short/target"},
        {slow_inode, slow}}) {
    ext_inode_record link;
    ASSERT_TRUE(ext_read_inode(link, sb, disk, 0, number));
    std::string target;
    EXPECT_TRUE(read_ext_symlink(link, disk, 0, sb, target));
    EXPECT_EQ(target, expected);
  }
  const struct {
    uint64_t at;
    const char* tool;
    const char* tool_says;
    uint64_t inode;
    const char* said;
  } damage[] = {
      {inode_at + 16, "debugfs -R 'stat /isl.bin'", "Inode checksum does not match inode", isl,
       "checksum 0x"},
      {leaf_block * 1024 + 100, "debugfs -R 'dump /isl.bin /dev/null'",
       "Extent block checksum does not match extent block", isl, "extent block "},
      {runs.m_runs.back().m_first * 1024 + 40, "debugfs -R 'ls /many'",
       "Directory block checksum does not match directory block", many, "folder block "},
      {2048 + 12, "e2fsck -fn", "One or more block group descriptor checksums are invalid", isl,
       "group descriptor 0 checksum 0x"},
  };
  for (const auto& k : damage) {
    SCOPED_TRACE(k.tool_says);
    const std::string copy = tree.path("dmg.img");
    std::filesystem::copy_file(e4, copy, std::filesystem::copy_options::overwrite_existing);
    write_at(copy, k.at, {static_cast<uint8_t>(read_file_range(copy, k.at, 1)[0] ^ 0x40)});
    const std::string tool = k.tool;
    const size_t blank = tool.find(' ');
    EXPECT_TRUE(said(run_ok_or_not(find_tool(tool.substr(0, blank)) + tool.substr(blank) + " " +
                                   shell_quote(copy)),
                     k.tool_says));
    bool read = false;
    const std::string err = ext_walk_said(copy, k.inode, read);
    EXPECT_FALSE(read);
    EXPECT_EQ(err.rfind("prob: inode " + std::to_string(k.inode) + ": " + k.said, 0), 0u) << err;
  }
}

TEST(IntegrityMarks, ExfatSetChecksumsAreCheckedBeforeTheSetIsUsed) {
  // Written: "contig.bin" renamed in place to "jontig.bin", its
  // SecondaryCount raised from 2 to 3 or 19 (over chained.bin's file entry)
  // or made 0, or its stream entry made a name entry: listed (without the
  // name it no longer reaches), marked, said, its content refused;
  // "chained.bin" and the sound image are read.
  const std::string at_set = "prob: exFAT entry set at offset 0x420: ";
  const std::string unread = "; the file's content is not read\n";
  const auto raised = [&](int count) {
    return at_set + "SecondaryCount " + std::to_string(count) +
           ", but the set ends after 2 secondary entries" + unread;
  };
  const struct {
    size_t at;
    uint8_t value;
    const char* name;
    std::string said;
  } written[] = {
      {0, 0, "contig.bin", ""},
      {1024 + 32 + 64 + 2, 'j', "jontig.bin", at_set + "SetChecksum 0x"},
      {1024 + 32 + 1, 3, "contig.bin", raised(3)},
      {1024 + 32 + 1, 19, "contig.bin", raised(19)},
      {1024 + 32 + 1, 0, "",
       at_set + "SecondaryCount 0, but a file's set holds its stream extension entry" + unread},
      {1024 + 32 + 32, 0xC1, "",
       at_set + "its first secondary entry is of type 0xc1, not a stream extension entry" + unread},
  };
  for (const auto& k : written) {
    SCOPED_TRACE(k.at);
    image_t img = exfat_image();
    if (k.at) img[k.at] = k.value;
    std::vector<exfat_file_entry> files;
    testing::internal::CaptureStderr();
    ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind(k.said, 0), 0u) << err;
    EXPECT_EQ(err.empty(), k.at == 0);
    EXPECT_EQ(files[0].m_name, k.name);
    EXPECT_EQ(files[0].m_checksum_bad, k.at != 0);
    EXPECT_EQ(files[1].m_name, "chained.bin");
    EXPECT_FALSE(files[1].m_checksum_bad);
    cluster_runs runs;
    EXPECT_EQ(exfat_entry_to_runs(boot_sector_from(img.data(), img.size()), runs, files[0],
                                  img.data() + 512, 512, 0),
              k.at == 0);
  }
  // Made by mkfs.exfat with empty "a1.txt", "a2.txt" and "a3.txt" sets
  // written into its root after the label, bitmap and up-case entries:
  // fsck.exfat finds it clean. With a1's set renamed in place, or its
  // SecondaryCount made 3, 19 or 255, it says "files corrupted 1"; fls
  // lists three names for 3, and a2 and a3 alone for 19 and 255. With the
  // count made 0 or 1, fsck.exfat also says "unknown entry type", and fls
  // lists a2 and a3 alone. The read lists a1's
  // set (its entries up to the count, or to the next file's, whichever come
  // first: no name without its name entry), marked and said. a1 replaced by
  // a sound set of 19 secondaries (a name of 255 characters in 17 entries,
  // and a vendor extension entry): clean to fsck.exfat, though fls does not
  // list it; read whole with no word.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::string why;
  if (!have({"mkfs.exfat", "fsck.exfat", "fls"}, why)) GTEST_SKIP() << why;
  const std::string clean = make_volume(tree.path("x.img"), 4u << 20, "mkfs.exfat", "", &why);
  ASSERT_FALSE(clean.empty()) << why;
  const image_t head = read_file_range(clean, 0, 512);
  const uint64_t root = exfat_root_dir_offset(boot_sector_from(head.data(), head.size()), 0);
  image_t sets;
  for (const char16_t* name : {u"a1.txt", u"a2.txt", u"a3.txt"}) {
    const image_t set = exfat_file_set(name, 0x01, 0, 0, true);
    sets.insert(sets.end(), set.begin(), set.end());
  }
  write_at(clean, root + 96, sets);
  const std::u16string long_name(255, u'n');
  image_t nineteen = exfat_file_set(long_name, 0x01, 0, 0, true);
  nineteen.resize(nineteen.size() + 32, 0);
  nineteen[nineteen.size() - 32] = 0xE0;  // a vendor extension entry
  nineteen[1] = 19;
  put16(nineteen, 2, exfat_set_checksum(nineteen.data(), 20));
  nineteen.insert(nineteen.end(), sets.begin() + 96, sets.end());
  const std::string a1 = std::string(": SecondaryCount ");
  const std::string a1_cut = ", but the set ends after 2 secondary entries";
  const struct {
    uint64_t at;
    image_t bytes;
    const char* fls_lists;  // in the order of the folder
    std::string listed;
    const char* fsck_says;
    std::string said;
  } made[] = {
      {0,
       {},
       "a1.txt a2.txt a3.txt ",
       "a1.txt a2.txt a3.txt ",
       "clean. directories 1, files 3",
       ""},
      {96 + 64 + 2,
       {'j'},
       "j1.txt a2.txt a3.txt ",
       "j1.txt a2.txt a3.txt ",
       "files corrupted 1",
       ": SetChecksum 0x"},
      {96 + 1,
       {3},
       "a1.txt a2.txt a3.txt ",
       "a1.txt a2.txt a3.txt ",
       "files corrupted 1",
       a1 + "3" + a1_cut},
      {96 + 1,
       {19},
       "a2.txt a3.txt ",
       "a1.txt a2.txt a3.txt ",
       "files corrupted 1",
       a1 + "19" + a1_cut},
      {96 + 1,
       {255},
       "a2.txt a3.txt ",
       "a1.txt a2.txt a3.txt ",
       "files corrupted 1",
       a1 + "255" + a1_cut},
      {96 + 1,
       {1},
       "a2.txt a3.txt ",
       " a2.txt a3.txt ",
       "unknown entry type 0xc1",
       ": SetChecksum 0x"},
      {96 + 1,
       {0},
       "a2.txt a3.txt ",
       " a2.txt a3.txt ",
       "unknown entry type 0xc0",
       ": SecondaryCount 0, but a file's set holds its stream extension entry"},
      {96, nineteen, "a2.txt a3.txt ", std::string(255, 'n') + " a2.txt a3.txt ",
       "clean. directories 1, files 3", ""},
  };
  for (const auto& k : made) {
    SCOPED_TRACE(k.listed);
    const std::string img = tree.path("dmg.img");
    std::filesystem::copy_file(clean, img, std::filesystem::copy_options::overwrite_existing);
    if (k.at) write_at(img, root + k.at, k.bytes);
    const std::string fsck = run_ok_or_not(find_tool("fsck.exfat") + " -n " + shell_quote(img));
    EXPECT_TRUE(said(fsck, k.fsck_says)) << fsck;
    std::string fls_names;
    std::istringstream fls(run_ok(find_tool("fls") + " " + shell_quote(img)));
    for (std::string line; std::getline(fls, line);)
      if (line.find(".txt") != std::string::npos)
        fls_names += line.substr(line.find('\t') + 1) + " ";
    EXPECT_EQ(fls_names, k.fls_lists);
    const image_t dir = read_file_range(img, root, 1024);
    std::vector<exfat_file_entry> files;
    testing::internal::CaptureStderr();
    ASSERT_EQ(read_exfat_dir_entries(files, dir.data(), dir.size(), root, false), 3u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.empty(), k.said.empty()) << err;
    EXPECT_TRUE(said(err, k.said)) << err;
    std::string names;
    for (const exfat_file_entry& f : files) names += f.m_name + " ";
    EXPECT_EQ(names, k.listed);
    EXPECT_EQ(files[0].m_checksum_bad, !k.said.empty());
    EXPECT_FALSE(files[1].m_checksum_bad || files[2].m_checksum_bad);
  }
}

TEST(IntegrityMarks, ADeclaredSizeBeyondTheFileSystemIsRefused) {
  // Written: inode 13 (extents, 1 KiB blocks) with one bit of i_size_high
  // set: 2^56 + 6144 bytes, beyond 2^32 blocks of 1 KiB; inode 12 (block
  // map) with bit 4: 2^36 + 20480, beyond its 16,843,020 blocks. On the
  // metadata_csum volume the inode is sealed again, so the size is said.
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const char* const extents_said =
      "prob: inode 13: size 72057594037934080 is beyond the largest file the volume holds "
      "(4398046511104); the file is not read\n";
  const struct {
    bool csum;
    uint64_t inode;
    uint32_t high;
    const char* said;
  } cases[] = {
      {false, 13, 1u << 24, extents_said},
      {true, 13, 1u << 24, extents_said},
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
  // Written: exFAT's "contig.bin" (1300 bytes) declaring 2^40 bytes, beyond
  // the 60 clusters of 512 bytes the volume holds, or 2000 bytes written;
  // its set sealed again.
  const struct {
    size_t field;  // in the stream extension entry
    uint64_t value;
    const char* said;
  } lengths[] = {
      {24, uint64_t{1} << 40,
       "prob: exFAT entry set at offset 0x420: data length 1099511627776 is beyond the "
       "volume's cluster heap (30720); the file's content is not read\n"},
      {8, 2000,
       "prob: exFAT entry set at offset 0x420: valid data length 2000 is beyond its data "
       "length (1300); the file's content is not read\n"},
  };
  for (const auto& l : lengths) {
    image_t img = exfat_image();
    put64(img, 1024 + 64 + l.field, l.value);
    put16(img, 1024 + 32 + 2, exfat_set_checksum(&img[1024 + 32], 3));
    std::vector<exfat_file_entry> files;
    ASSERT_EQ(read_exfat_dir_entries(files, img.data() + 1024, 512, 1024, false), 2u);
    cluster_runs runs;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(exfat_entry_to_runs(boot_sector_from(img.data(), img.size()), runs, files[0],
                                     img.data() + 512, 512, 0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), l.said);
  }
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
