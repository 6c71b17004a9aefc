#include "disk/drive_stats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <tuple>

#include "cmdline/cmd_params.h"
#include "drive_images.h"
#include "foundation/vk_unicode.h"

using namespace vk;

namespace {

using walk_row = std::tuple<uint64_t, uint64_t, uint16_t, std::string, std::string, uint32_t>;

std::vector<walk_row> rows_of(const partition_list& list) {
  std::vector<walk_row> out;
  for (const auto& p : list)
    out.emplace_back(p.m_start, p.m_count, p.m_type, p.m_description, p.m_type_name,
                     p.m_sector_size);
  return out;
}

std::vector<walk_row> fill_rows(const std::string& path) {
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  drive_stats d;
  EXPECT_TRUE(fill_drive_stats(d, disk, -1, "disk"));
  return rows_of(d.m_partitions);
}

std::string guid_text(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != 16) return "<" + std::to_string(bytes.size()) + " bytes>";
  guid g;
  g.set(bytes.data());
  return guid_to_string(g);
}

std::string sgdisk_disk_guid(const std::string& img) {
  bool ok = false;
  const std::string out = vesk_test::run_command(
      vesk_test::find_tool("sgdisk") + " -p " + vesk_test::shell_quote(img), ok);
  std::string v = vesk_test::labelled_value(out, "Disk identifier (GUID)");
  for (auto& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return v;
}

}  // namespace

TEST(DriveStats, ScansFindTheDrivesUnderTheDeviceRoot) {
  vesk_test::two_drives drives;
  if (!drives.ok()) GTEST_SKIP() << drives.why;
  vesk_test::device_root_scope scope(drives.root.root());

  drive_stats_array found;
  ASSERT_TRUE(scan_linux_drives(found));
  ASSERT_EQ(found.size(), 2u);
  const std::string paths[] = {drives.sda, drives.sdb};
  const uint64_t sizes[] = {64u << 20, 32u << 20};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_EQ(found[i].m_name, "disk");
    EXPECT_EQ(found[i].m_device_path, paths[i]);
    EXPECT_EQ(found[i].m_size, sizes[i]);
    EXPECT_EQ(rows_of(found[i].m_partitions), fill_rows(paths[i]));
  }
  EXPECT_EQ(found[0].m_gpt, 0);
  EXPECT_EQ(found[0].m_disk_signature, 0x12345678u);
  EXPECT_EQ(found[1].m_gpt, 1);
  EXPECT_TRUE(found[1].m_disk_guid.empty());
  EXPECT_TRUE(scan_linux_drives_entry(found, true, true));
  EXPECT_EQ(found.size(), 2u);

  drive_stats_array windows;
  ASSERT_TRUE(scan_drives_windows(windows, true, true));
  ASSERT_EQ(windows.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(windows[i].m_drive_number, i);
    EXPECT_EQ(rows_of(windows[i].m_partitions), fill_rows(paths[i]));
  }
  EXPECT_EQ(guid_text(windows[1].m_disk_guid), sgdisk_disk_guid(drives.sdb));
  EXPECT_EQ(guid_text(windows[1].m_disk_guid), vesk_test::k_sdb_disk_guid);
  EXPECT_EQ(windows[1].m_gpt_entries.size(), 2u);

  // One drive by number, each partition's first sector kept as its copy.
  drive_stats_array one;
  ASSERT_TRUE(scan_drives(one, 1, false));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].m_drive_number, 1);
  for (const auto& p : one[0].m_partitions)
    EXPECT_EQ(p.m_sector_copy, vesk_test::read_file_range(drives.sdb, p.m_start * 512, 512))
        << p.m_description;
  EXPECT_TRUE(scan_drives(one, 7, false));  // no such drive: nothing added, the array holds one
  EXPECT_EQ(one.size(), 1u);

  // The first sectors of the GPT disk, parsed from a buffer.
  const auto head = vesk_test::read_file_range(drives.sdb, 0, 2048);
  struct case_row {
    size_t length;
    bool two_sectors;
    bool ok;
    uint8_t gpt;
    std::string guid;
  };
  const case_row cases[] = {
      {1024, false, true, 0, "<0 bytes>"},
      {2048, false, true, 1, vesk_test::k_sdb_disk_guid},
      {1024, true, true, 1, vesk_test::k_sdb_disk_guid},
      {512, true, true, 1, "<0 bytes>"},
      {511, false, false, 0, "<0 bytes>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + (c.two_sectors ? " two" : " one"));
    auto exact = std::make_unique<uint8_t[]>(c.length);
    std::copy(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(c.length), exact.get());
    drive_stats d;
    EXPECT_EQ(parse_mbr_sector(d, exact.get(), c.length, c.two_sectors), c.ok);
    EXPECT_EQ(d.m_gpt, c.gpt);
    EXPECT_EQ(guid_text(d.m_disk_guid), c.guid);
    if (!c.ok) continue;
    EXPECT_EQ(d.m_sector0, std::vector<uint8_t>(head.begin(), head.begin() + 512));
    EXPECT_EQ(d.m_mbr_present, 1);
    EXPECT_EQ(d.m_disk_signature, load_le32(&head[440]));
  }
  drive_stats none;
  EXPECT_FALSE(parse_mbr_sector(none, nullptr, 4096, true));

  std::ostringstream msg;
  uint64_t offset = 0;
  uint8_t found_flag = 1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(open_disk_and_select_ntfs(msg, 5, offset, found_flag, false));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(msg.str(), "problems accessing physical disk #5, aborting \n");
  EXPECT_EQ(found_flag, 0);
  msg.str("");
  offset = 4096 * 512;
  EXPECT_TRUE(open_disk_and_select_ntfs(msg, 0, offset, found_flag, false)) << msg.str();
}

TEST(DriveStats, FourKibSectorTableKeepsTheWalksSectorSize) {
  vesk_test::temp_tree root;
  std::string why;
  const std::string img = vesk_test::make_4k_gpt_image(root, why);
  if (img.empty()) GTEST_SKIP() << why;
  ASSERT_EQ(std::rename(img.c_str(), root.path("sda").c_str()), 0);
  vesk_test::device_root_scope scope(root.root());
  drive_stats_array drives;
  ASSERT_TRUE(scan_drives_windows(drives, false, true));
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].m_bytes_per_sector, 4096u);
  EXPECT_EQ(drives[0].m_partitions.front().m_sector_size, 4096u);
  ASSERT_TRUE(scan_drives(drives, 0, false));
  EXPECT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[1].m_bytes_per_sector, 4096u);
}

TEST(DriveStats, DevDisksAndProbesFollowTheDeviceRoot) {
  drive_stats_array drives;
  // The default root holds none of these drives here.
  EXPECT_FALSE(scan_dev_disks(drives));
  EXPECT_FALSE(scan_linux_drives(drives));
  EXPECT_FALSE(scan_drives_windows(drives, true, true));
  EXPECT_FALSE(scan_optical_drives(drives));
  EXPECT_TRUE(drives.empty());

  vesk_test::temp_tree root;
  std::vector<uint8_t> mbr(1 << 20);
  mbr[446 + 4] = 0x07;
  store_le32(&mbr[446 + 8], 2048);
  store_le32(&mbr[446 + 12], 4);
  store_le16(&mbr[510], 0xAA55);
  std::ofstream(root.path("disk0"), std::ios::binary)
      .write(reinterpret_cast<const char*>(mbr.data()), static_cast<std::streamsize>(mbr.size()));
  vesk_test::device_root_scope scope(root.root());
  ASSERT_TRUE(scan_dev_disks(drives));
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].m_device_path, root.path("disk0"));
  EXPECT_EQ(drives[0].m_name, "disk");
  EXPECT_EQ(drives[0].m_drive_number, 0xFFFF);
  // An optical scan adds nothing to what the array holds.
  EXPECT_TRUE(scan_optical_drives(drives));
  EXPECT_EQ(drives.size(), 1u);
}

TEST(DriveStats, DumpsWriteTheLabelledLines) {
  drive_stats d;
  d.m_name = "disk";
  d.m_size = 64u << 20;
  d.m_disk_signature = 0x12345678;
  d.m_bytes_per_sector = 512;
  d.m_mbr_present = 1;
  d.m_partitions.emplace_back(2048, 2048, 0x0C);
  d.m_partitions.emplace_back(4096, 32768, 0x07);
  std::ostringstream lines;
  for (const auto& p : d.m_partitions) print_partition_line(p, lines, 512, false);
  std::ostringstream out;
  dump_drive_stats(d, out);
  EXPECT_EQ(out.str(),
            "drive type:           disk\n"
            "drive size:           0x0000000004000000, [67108864]\n"
            "drive signature:      1234-5678\n"
            "Available partitions: 2\n" +
                lines.str() + "MBR present:          true\n");

  drive_stats other;
  other.m_name = "disk";
  other.m_drive_number = 3;
  other.m_disk_signature = 0x00010002;
  other.m_media_type = 12;
  std::ostringstream out2;
  dump_drive_stats_b(other, out2, cmd_params());
  EXPECT_EQ(out2.str(),
            "drive type:           disk\n"
            "drive num:            3\n"
            "drive size:           0x0000000000000000, [0]\n"
            "drive signature:      01-02\n"
            "media type:           FixedMedia\n"
            "MBR present:          false\n");
  other.m_media_type = 99;
  std::ostringstream out3;
  dump_drive_stats(other, out3);
  EXPECT_NE(out3.str().find("media type:           unknown\n"), std::string::npos);

  std::ostringstream geometry;
  dump_geometry_record({1, 2, 3, 4, 5, 6, 7}, geometry);
  EXPECT_EQ(geometry.str(),
            "0x00000001, 0x00000002, 0x00000003, 0x00000004, 0x0000000600000005, 0x00000007\n");
}

TEST(DriveStats, SectorParseSurvivesHostileBuffers) {
  std::mt19937 rng(31);
  std::vector<uint8_t> base(4096);
  base[446 + 4] = 0xEE;
  store_le16(&base[510], 0xAA55);
  std::copy_n("EFI PART", 8, &base[1024]);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> v = base;
    for (int k = 0; k < 16; ++k) v[rng() % v.size()] = static_cast<uint8_t>(rng());
    const size_t length = rng() % (v.size() + 1);
    auto exact = std::make_unique<uint8_t[]>(length ? length : 1);
    std::copy_n(v.begin(), length, exact.get());
    drive_stats d;
    const bool ok = parse_mbr_sector(d, exact.get(), length, rng() & 1);
    EXPECT_EQ(ok, length >= 512);
    EXPECT_TRUE(d.m_disk_guid.empty() || d.m_disk_guid.size() == 16);
  }
}

TEST(DriveStats, ScansSurviveHostileDrives) {
  // A small MBR disk with an extended chain and a GPT probe, mutated: the
  // scans, the dump and the report must stay within the medium.
  std::vector<uint8_t> base(64 * 1024);
  const uint8_t types[4] = {0x07, 0x05, 0xEE, 0x0C};
  for (size_t i = 0; i < 4; ++i) {
    base[446 + 16 * i + 4] = types[i];
    store_le32(&base[446 + 16 * i + 8], static_cast<uint32_t>(8 + 16 * i));
    store_le32(&base[446 + 16 * i + 12], 16);
  }
  store_le16(&base[510], 0xAA55);
  std::copy_n("EFI PART", 8, &base[512]);
  store_le64(&base[512 + 24], 1);
  std::copy_n("NTFS    ", 8, &base[8 * 512 + 3]);
  std::mt19937 rng(5);
  vesk_test::temp_tree root;
  vesk_test::device_root_scope scope(root.root());
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> v = base;
    for (int k = 0; k < 24; ++k) {
      const size_t at = rng() % 2 ? rng() % 1024 : rng() % v.size();
      v[at] = static_cast<uint8_t>(rng());
    }
    v.resize(512 + rng() % (v.size() - 512));
    std::ofstream(root.path("sda"), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
    drive_stats_array drives;
    scan_drives(drives, 0, rng() & 1);
    scan_drives_windows(drives, rng() & 1, rng() & 1);
    scan_linux_drives(drives);
    for (const auto& d : drives) {
      for (const auto& p : d.m_partitions) EXPECT_LE(p.m_sector_copy.size(), 65535u);
      std::ostringstream out;
      dump_drive_stats(d, out);
      EXPECT_FALSE(out.str().empty());
    }
  }
}
