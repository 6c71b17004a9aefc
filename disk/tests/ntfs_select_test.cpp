#include "disk/ntfs_select.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "foundation/vk_posix.h"
#include "partition_images.h"
#include "posix_seam.h"

using namespace vk;

namespace {

uint64_t g_reads = 0;
ssize_t counting_pread(int fd, void* b, size_t n, off_t o) {
  ++g_reads;
  return system_posix_calls().pread(fd, b, n, o);
}

struct outcome {
  bool ok;
  uint8_t found;
  uint64_t offset;
  std::string text;
};

outcome select_in(const std::string& image, uint64_t offset, bool partial = false) {
  std::ostringstream out;
  uint8_t found = 9;
  const bool ok = select_ntfs_volume_in_image_utf8(out, image, offset, found, partial);
  return {ok, found, offset, out.str()};
}

outcome select_in_memory(const std::vector<uint8_t>& image, uint64_t offset, bool partial = false) {
  std::ostringstream out;
  uint8_t found = 9;
  const bool ok =
      select_ntfs_volume_in_buffer(out, image.data(), image.size(), offset, found, partial);
  return {ok, found, offset, out.str()};
}

std::vector<uint8_t> whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// One 0x07 partition at 2048 holding the given volume, nothing after it.
std::string single_partition_image(const vesk_test::temp_tree& tree, const std::string& name,
                                   const std::string& tool, const std::string& args,
                                   std::string& why) {
  if (!vesk_test::have_tools({"sfdisk", tool.c_str(), "dd"}, why)) return std::string();
  const std::string disk = tree.path(name);
  vesk_test::make_sparse_file(disk, (2048 + 32768) * 512);
  bool ok = false;
  const std::string out = vesk_test::run_command(
      "printf 'label: dos\\nunit: sectors\\n\\nstart=2048, size=32768, type=7\\n' | " +
          vesk_test::find_tool("sfdisk") + " -q " + vesk_test::shell_quote(disk),
      ok);
  EXPECT_TRUE(ok) << out;
  const std::string vol = vesk_test::make_volume(disk + ".vol", 16u << 20, tool, args, nullptr);
  if (vol.empty() || !vesk_test::put_volume(disk, vol, 2048)) return std::string();
  return disk;
}

const char* const kSfdiskListing =
    "\n"
    "volume offset [ 0x100000 ] : linux\n"
    "volume offset [ 0x200000 ] : ntfs or exfat\n"
    "volume offset [ 0x1200000 ] : exten\n"
    "volume offset [ 0x1300000 ] : linux\n"
    "volume offset [ 0x1500000 ] : fat32\n"
    "volume offset [ 0x1700000 ] : exten\n"
    "volume offset [ 0x1800000 ] : linux\n"
    "\n"
    "use option [-offset 0x200000]\n";

}  // namespace

TEST(NtfsSelect, BareVolumesAndBounds) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string bare =
      vesk_test::make_volume(tree.path("bare.img"), 16u << 20, "mkntfs", "-F -Q", &why);
  if (bare.empty()) GTEST_SKIP() << why;
  const outcome o = select_in(bare, 0);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.found, 1);
  EXPECT_EQ(o.text, "");

  {
    RAW_DISK_IO disk(bare, false, 0, 0);
    posix_calls c = system_posix_calls();
    c.pread = counting_pread;
    g_reads = 0;
    scoped_posix_calls calls(c);
    std::ostringstream out;
    uint8_t found = 9;
    uint64_t offset = (16u << 20) + 1;
    EXPECT_FALSE(select_ntfs_volume(out, found, offset, disk, false));
    EXPECT_EQ(out.str(), "volume offset 0x1000001 is not within image bounds\n");
    EXPECT_EQ(g_reads, 0u) << "refused before any read";
    EXPECT_EQ(found, 0);
  }

  const auto bytes = whole_file(bare);
  const outcome m = select_in_memory(bytes, 0);
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.found, 1);
  EXPECT_EQ(m.text, "");
  const std::vector<uint8_t> eleven(bytes.begin(), bytes.begin() + 11);
  const outcome e = select_in_memory(eleven, 0);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.found, 0);
  EXPECT_EQ(e.text, "couldn't find any partitions on disk \n");

  EXPECT_EQ(select_in(tree.path("missing.img"), 0).text,
            "invalid image: " + tree.path("missing.img") + "\n");
  std::ostringstream snaps;
  uint64_t offset = 0;
  uint8_t found = 9;
  EXPECT_FALSE(select_ntfs_volume_in_snapshots_utf8(snaps, {}, offset, found, false));
  EXPECT_EQ(snaps.str(), "");
  EXPECT_FALSE(select_ntfs_volume_in_snapshots_utf8(snaps, {"/snap/one"}, offset, found, false));
  EXPECT_EQ(snaps.str(), "invalid disk collection of snaps \n");
}

TEST(NtfsSelect, PartitionedImagesListTheirVolumesAndProposeTheNtfsOne) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string img = vesk_test::make_sfdisk_image(tree, why);
  if (img.empty()) GTEST_SKIP() << why;

  outcome o = select_in(img, 0);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.found, 1);
  EXPECT_EQ(o.offset, 0x200000u);
  EXPECT_EQ(o.text, kSfdiskListing);
  o = select_in(img, o.offset);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.text, "");

  o = select_in(img, 0x1500000);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.text, "volume offset selected 0x1500000 is not a NTFS partition, but [fat32]\n" +
                        std::string(kSfdiskListing));

  const auto bytes = whole_file(img);
  o = select_in_memory(bytes, 0);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.offset, 0x200000u);
  EXPECT_EQ(o.text, kSfdiskListing);
  EXPECT_TRUE(select_in_memory(bytes, 0x200000).ok);
  o = select_in_memory(bytes, 0x1500000);
  EXPECT_EQ(o.text, "volume offset selected 0x1500000 is not a NTFS partition, but a fat32\n" +
                        std::string(kSfdiskListing));

  std::map<uint64_t, std::string> volumes;
  std::ostringstream out;
  uint8_t found = 0;
  RAW_DISK_IO disk(img, false, 0, 0);
  EXPECT_TRUE(collect_volumes(out, found, volumes, disk));
  EXPECT_EQ(volumes.size(), 7u);
  EXPECT_EQ(volumes[0x200000], "ntfs or exfat");
}

TEST(NtfsSelect, CutAndNonNtfsPartitions) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string cut = single_partition_image(tree, "cut.img", "mkntfs", "-F -Q", why);
  if (cut.empty()) GTEST_SKIP() << why;
  ASSERT_EQ(::truncate(cut.c_str(), 8u << 20), 0);
  outcome o = select_in(cut, 0x100000);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.found, 1);
  EXPECT_EQ(o.text,
            "volume offset 0x100000 is a NTFS partition, however image size does not encapsulate "
            "entire volume\n");
  o = select_in(cut, 0x100000, true);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.text, "");
  EXPECT_TRUE(select_in_memory(whole_file(cut), 0x100000, true).ok);
  EXPECT_FALSE(select_in_memory(whole_file(cut), 0x100000, false).ok);

  const std::string exfat = single_partition_image(tree, "exfat.img", "mkfs.exfat", "", why);
  if (exfat.empty()) GTEST_SKIP() << why;
  o = select_in(exfat, 0);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.found, 0);
  EXPECT_EQ(o.text,
            "\nvolume offset [ 0x100000 ] : ntfs or exfat\n\nprob detecting ntfs partition\n");
}
