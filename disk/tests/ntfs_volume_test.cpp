// Records that reach beyond themselves, on a volume built in code and on
// volumes made by mkntfs and filled by ntfscp (sleuthkit's icat as the
// oracle): extension records placed through the table's own runs, attribute
// lists in the volume's clusters wherever the volume lies, data in content
// order, sizes from the data attribute, and sparse content larger than the
// medium.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/cluster_runs.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk_images.h"
#include "fileio_test_support.h"
#include "mft_writer.h"
#include "ntfs_volume_writer.h"
#include "temp_tree.h"

using namespace vk;
using namespace vesk_test;

namespace {

const inode_record* stored(const _inode_collection& c, uint64_t entry) {
  const auto it = c.m_entries.find(entry);
  return it == c.m_entries.end() ? nullptr : &c.m_store[it->second];
}

std::vector<std::pair<uint64_t, uint32_t>> runs_of(const inode_record& rec) {
  std::vector<std::pair<uint64_t, uint32_t>> out;
  for (const data_run& r : rec.m_data_runs) out.emplace_back(r.m_cluster, r.m_count);
  return out;
}

std::vector<uint64_t> parents_of(const inode_record& rec) {
  std::vector<uint64_t> out;
  for (const mft_ref& r : rec.m_parents) out.push_back(r.entry_number());
  return out;
}

// The unnamed data of a record, read through its runs on the volume.
bool content_of(const inode_record& rec, RAW_DISK_IO& disk, uint64_t volume_offset,
                uint32_t cluster, std::vector<uint8_t>& out) {
  cluster_runs list;
  if (!cluster_runs_from_file_runs(list, rec.m_data_runs, volume_offset, cluster)) return false;
  return read_cluster_runs_to_vector(list, out, disk, 0, rec.m_real_size);
}

}  // namespace

TEST(NtfsVolume, RecordsBeyondThemselvesAreReadWhereTheyLie) {
  using v = small_ntfs_volume;
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const small_ntfs_volume vol = make_small_ntfs_volume();
  write_file(tree.path("table.mft"), vol.mft);
  const uint64_t mft_bytes_first = v::first_piece_entries * v::record;

  // The volume at the start of its image and 1 MiB into a disk image; its
  // table walked on the image, or extracted beside it.
  for (const uint64_t offset : {uint64_t{0}, uint64_t{1} << 20}) {
    std::vector<uint8_t> image(offset, 0);
    image.insert(image.end(), vol.bytes.begin(), vol.bytes.end());
    const std::string path = tree.path("disk" + std::to_string(offset) + ".img");
    write_file(path, image);
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    ASSERT_TRUE(disk.is_open());
    for (const bool extracted : {false, true}) {
      SCOPED_TRACE(std::to_string(offset) + (extracted ? " extracted" : " on the image"));
      _inode_collection c;
      c.m_all_records = 1;
      c.m_options = mft_keep_data_runs;
      if (extracted) {
        ASSERT_TRUE(c.open_mft_file(tree.path("table.mft"), true, nullptr, nullptr));
        ASSERT_TRUE(c.set_volume(&disk, offset));
        ASSERT_TRUE(c.load(nullptr, nullptr));
      } else {
        // Only the table's first piece is contiguous: the walk covers it,
        // and the extensions in the second piece are found through the runs.
        ASSERT_TRUE(c.attach_disk(&disk, false, nullptr, nullptr, mft_bytes_first,
                                  offset + v::mft_lcn * v::cluster));
      }
      ASSERT_NE(c.volume(), nullptr);
      EXPECT_EQ(c.volume()->m_offset, offset);

      // Data split over the base record and an extension the list names
      // first: content order, the data attribute's size, the right bytes.
      const inode_record* report = stored(c, v::report);
      ASSERT_NE(report, nullptr);
      EXPECT_EQ(runs_of(*report), (std::vector<std::pair<uint64_t, uint32_t>>{{40, 2}, {50, 2}}));
      EXPECT_EQ(report->m_real_size, v::report_size);
      EXPECT_EQ(report->m_allocated_size, 4u * v::cluster);
      std::vector<uint8_t> content;
      ASSERT_TRUE(content_of(*report, disk, offset, v::cluster, content));
      EXPECT_EQ(content, vol.report_content());

      // The list held in cluster 60: a hard link's parent and the data come
      // from the extension it names.
      const inode_record* big = stored(c, v::big);
      ASSERT_NE(big, nullptr);
      EXPECT_EQ(parents_of(*big), (std::vector<uint64_t>{5, v::docs}));
      EXPECT_EQ(runs_of(*big), (std::vector<std::pair<uint64_t, uint32_t>>{{45, 2}}));
      EXPECT_EQ(big->m_real_size, v::big_size);

      // Sparse content ten times the volume's size reads to its size.
      const inode_record* sparse = stored(c, v::sparse);
      ASSERT_NE(sparse, nullptr);
      ASSERT_GT(sparse->m_real_size, 10 * vol.bytes.size());
      ASSERT_TRUE(content_of(*sparse, disk, offset, v::cluster, content));
      ASSERT_EQ(content.size(), v::sparse_size);
      EXPECT_TRUE(std::all_of(content.begin(), content.end() - v::cluster,
                              [](uint8_t b) { return b == 0; }));
      EXPECT_TRUE(std::all_of(content.end() - v::cluster, content.end(),
                              [](uint8_t b) { return b == 85; }));

      // A record read on its own (a look-up) merges the same way.
      inode_record again;
      ASSERT_TRUE(c.get_inode(again, v::report));
      EXPECT_EQ(runs_of(again), runs_of(*report));
    }
    // The carved table of the volume holds the second piece's records at
    // their entries.
    std::vector<uint8_t> carved;
    ASSERT_TRUE(scan_ntfs_volume(carved, &disk, offset, nullptr));
    ASSERT_GE(carved.size(), (v::big_ext + 1) * v::record);
    EXPECT_TRUE(
        std::equal(carved.begin(), carved.begin() + (v::big_ext + 1) * v::record, vol.mft.begin()));
  }
}

TEST(NtfsVolume, SizesComeFromTheDataAttribute) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("m"), std::vector<uint8_t>(4096, 0));
  RAW_DISK_IO disk(tree.path("m"), false, 0, disk_mode_path);
  ASSERT_TRUE(disk.is_open());
  struct size_case {
    const char* what;
    uint64_t name_size;
    std::vector<uint8_t> data;  // empty: no data attribute
    uint64_t real;
    uint64_t allocated;
  };
  const std::vector<uint8_t> grown =
      nonresident_attr(0x80, {0x11, 0x04, 0x20}, 16384, 15000, 15000);
  const std::vector<uint8_t> shrunk = nonresident_attr(0x80, {0x11, 0x01, 0x20}, 4096, 3000, 3000);
  const std::vector<uint8_t> later_piece = nonresident_attr(0x80, {0x11, 0x01, 0x20}, 0, 0, 0, 4);
  for (const auto& c : std::vector<size_case>{
           {"grown", 10000, grown, 15000, 16384},
           {"shrunk", 20000, shrunk, 3000, 4096},
           {"emptied resident", 20000, resident_attr(0x80, {}), 0, 0},
           {"resident", 0, resident_attr(0x80, {1, 2, 3, 4, 5}), 5, 5},
           {"no data", 4096, {}, 4096, 4096},
           {"only a later piece", 700, later_piece, 700, 700},
           {"named stream only", 900, resident_attr(0x80, {1, 2}, u"ads"), 900, 900}}) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<uint8_t>> attrs = {resident_attr(
        0x30, file_name_value(mft_ref_value(5, 5), u"f", 1, 7, c.name_size, c.name_size))};
    if (!c.data.empty()) attrs.push_back(c.data);
    for (const uint32_t options : {0u, 0x7Fu}) {
      std::vector<uint8_t> raw = file_record(40, 1, 1, 0, attrs);
      inode_record rec;
      rec.m_options = options;
      ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), &disk, 0, 1024, false));
      EXPECT_EQ(rec.m_real_size, c.real);
      EXPECT_EQ(rec.m_allocated_size, c.allocated);
    }
  }
}

TEST(NtfsVolume, MkntfsFilesReadLikeIcat) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (const char* tool : {"ntfscp", "icat"}) {
    if (find_tool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  std::string why;
  const std::string img =
      make_volume(tree.path("v.img"), 16u << 20, "mkntfs", "-F -Q -c 512", &why);
  if (img.empty()) GTEST_SKIP() << why;
  // Enough files that the table grows past the size mkntfs gave it (its
  // $FILE_NAME keeps the old one), of sizes that leave resident, one-run
  // and many-cluster content.
  const int files = 70;
  for (int i = 0; i < files; ++i) {
    std::vector<uint8_t> body(static_cast<size_t>(i * 977 % 20000));
    for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<uint8_t>(k * 31 + i);
    write_file(tree.path("src"), body);
    bool ok = false;
    const std::string out =
        run_command(find_tool("ntfscp") + " " + shell_quote(img) + " " +
                        shell_quote(tree.path("src")) + " /f" + std::to_string(i),
                    ok);
    ASSERT_TRUE(ok) << out;
  }
  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  ASSERT_TRUE(disk.is_open());
  std::vector<uint8_t> carved;
  ASSERT_TRUE(scan_ntfs_volume(carved, &disk, 0, nullptr));
  write_file(tree.path("carved.mft"), carved);
  _inode_collection c;
  c.m_all_records = 1;
  c.m_options = mft_keep_data_runs;
  ASSERT_TRUE(c.open_mft_file(tree.path("carved.mft"), true, nullptr, nullptr));
  ASSERT_TRUE(c.set_volume(&disk, 0));
  ASSERT_TRUE(c.load(nullptr, nullptr));
  size_t compared = 0;
  for (const inode_record& rec : c.m_store) {
    const uint64_t entry = rec.entry_number();
    const bool copied = rec.m_name.size() > 1 && rec.m_name[0] == 'f' && !rec.m_directory;
    if (!rec.m_in_use || !rec.m_base_record || !(entry == 0 || copied)) continue;
    SCOPED_TRACE(rec.m_name);
    bool ok = false;
    run_command(find_tool("icat") + " -f ntfs " + shell_quote(img) + " " + std::to_string(entry) +
                    " > " + shell_quote(tree.path("icat.out")),
                ok);
    ASSERT_TRUE(ok);
    const std::string icat_out = read_file(tree.path("icat.out"));
    const std::vector<uint8_t> theirs(icat_out.begin(), icat_out.end());
    EXPECT_EQ(rec.m_real_size, theirs.size());
    std::vector<uint8_t> ours;
    if (rec.m_data_runs.empty()) continue;  // resident content
    ASSERT_TRUE(content_of(rec, disk, 0, 512, ours));
    EXPECT_EQ(ours, theirs);
    ++compared;
  }
  EXPECT_GE(compared, 30u);
  EXPECT_GT(stored(c, 0)->m_real_size, 27u * 1024);  // the table grew
}
