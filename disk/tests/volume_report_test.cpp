#include "disk/volume_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "cmdline/cmd_params.h"
#include "disk/drive_stats.h"
#include "drive_images.h"
#include "foundation/vk_unicode.h"

using namespace vk;

namespace {

struct report_form {
  bool csv;
  bool sectors;
  bool hex;
};

std::string report(const drive_stats_array& drives, report_form form) {
  cmd_params s;
  s.m_hex_numbers = form.hex;
  if (form.csv) {
    s.m_csv = 1;
    s.m_separator = ",";
  }
  std::ostringstream out;
  for (const auto& d : drives) report_volumes(d, out, s, form.sectors);
  return out.str();
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> csv_cells(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) out.push_back(cell);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

std::string capture_stderr_of(const std::function<void()>& f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(VolumeReport, DrivesReportAsGoldenTexts) {
  vesk_test::two_drives drives;
  if (!drives.ok()) GTEST_SKIP() << drives.why;
  drive_stats_array found;
  {
    vesk_test::device_root_scope scope(drives.root.root());
    ASSERT_TRUE(scan_linux_drives(found));
  }
  struct golden {
    report_form form;
    const char* text;
  };
  // CSV in sectors (decimal) and in bytes (hexadecimal), aligned in bytes
  // (decimal) and in sectors (hexadecimal).
  const golden goldens[] = {
      {{true, true, false},
       "drive,drive_type,media_type,disk_or_partition_type_guid,disk_sig,type,start_sector,end_"
       "sector,num_sectors,vol_guid,vol sig,format,mnt pt,vol_label,description\n"
       "<root>/sda,disk,0,,1234-5678,MBR,0,0,1,,,0,,,mbr\n"
       "<root>/sda,disk,0,,1234-5678,MBR,1,2047,2047,,,0,,,unalloc\n"
       "<root>/sda,disk,0,,1234-5678,MBR,2048,4095,2048,,0bad-cafe,12,,,fat32; sector_size: 512; "
       "cluster_size: 512\n"
       "<root>/sda,disk,0,,1234-5678,MBR,4096,36863,32768,,89ab-cdef,7,,,ntfs; sector_size: 512; "
       "cluster_size: 4096\n"
       "<root>/sda,disk,0,,1234-5678,MBR,36864,131071,94208,,,0,,,unalloc\n"
       "<root>/sdb,disk,0,,0000-0000,GPT,0,0,1,,,238,,,protective_mbr\n"
       "<root>/sdb,disk,0,,0000-0000,GPT,1,1,1,,,238,,,gpt header\n"
       "<root>/sdb,disk,0,,0000-0000,GPT,2,33,32,,,238,,,gpt partition entries\n"
       "<root>/sdb,disk,0,,0000-0000,GPT,34,2047,2014,,,0,,,unalloc\n"
       "<root>/"
       "sdb,disk,0,c12a7328-f81f-11d2-ba4b-00a0c93ec93b,0000-0000,GPT,2048,4095,2048,aaaaaaaa-0000-"
       "0000-0000-000000000001,,238,,,EFI system partition\n"
       "<root>/"
       "sdb,disk,0,ebd0a0a2-b9e5-4433-87c0-68b6b72699c7,0000-0000,GPT,4096,36863,32768,aaaaaaaa-"
       "0000-0000-0000-000000000002,89ab-cdef,7,,,Microsoft basic data; ntfs; sector_size: 512; "
       "cluster_size: 4096\n"
       "<root>/sdb,disk,0,,0000-0000,GPT,36864,65535,28672,,,0,,,unalloc\n"},
      {{true, false, true},
       "drive,drive_type,media_type,disk_or_partition_type_guid,disk_sig,type,start_offset,end_"
       "offset,num_bytes,vol_guid,vol sig,format,mnt pt,vol_label,description\n"
       "<root>/sda,disk,0x00000000,,1234-5678,MBR,0x00,0x01ff,0x0200,,,0x00,,,mbr\n"
       "<root>/sda,disk,0x00000000,,1234-5678,MBR,0x0200,0x0fffff,0x0ffe00,,,0x00,,,unalloc\n"
       "<root>/"
       "sda,disk,0x00000000,,1234-5678,MBR,0x100000,0x1fffff,0x100000,,0bad-cafe,0x0c,,,fat32; "
       "sector_size: 0x0200; cluster_size: 0x0200\n"
       "<root>/"
       "sda,disk,0x00000000,,1234-5678,MBR,0x200000,0x011fffff,0x01000000,,89ab-cdef,0x07,,,ntfs; "
       "sector_size: 0x0200; cluster_size: 0x1000\n"
       "<root>/"
       "sda,disk,0x00000000,,1234-5678,MBR,0x01200000,0x03ffffff,0x02e00000,,,0x00,,,unalloc\n"
       "<root>/sdb,disk,0x00000000,,0000-0000,GPT,0x00,0x01ff,0x0200,,,0xee,,,protective_mbr\n"
       "<root>/sdb,disk,0x00000000,,0000-0000,GPT,0x0200,0x03ff,0x0200,,,0xee,,,gpt header\n"
       "<root>/sdb,disk,0x00000000,,0000-0000,GPT,0x0400,0x43ff,0x4000,,,0xee,,,gpt partition "
       "entries\n"
       "<root>/sdb,disk,0x00000000,,0000-0000,GPT,0x4400,0x0fffff,0x0fbc00,,,0x00,,,unalloc\n"
       "<root>/"
       "sdb,disk,0x00000000,c12a7328-f81f-11d2-ba4b-00a0c93ec93b,0000-0000,GPT,0x100000,0x1fffff,"
       "0x100000,aaaaaaaa-0000-0000-0000-000000000001,,0xee,,,EFI system partition\n"
       "<root>/"
       "sdb,disk,0x00000000,ebd0a0a2-b9e5-4433-87c0-68b6b72699c7,0000-0000,GPT,0x200000,0x011fffff,"
       "0x01000000,aaaaaaaa-0000-0000-0000-000000000002,89ab-cdef,0x07,,,Microsoft basic data; "
       "ntfs; sector_size: 0x0200; cluster_size: 0x1000\n"
       "<root>/"
       "sdb,disk,0x00000000,,0000-0000,GPT,0x01200000,0x01ffffff,0xe00000,,,0x00,,,unalloc\n"},
      {{false, false, false},
       "drive       | drive_type | media_type | disk_or_partition_type_guid          | disk_sig  | "
       "type | start_offset   | end_offset         | num_bytes      | vol_guid                     "
       "        | vol sig   | format | mnt pt | vol_label | description\n"
       "<root>/sda | disk       |          0 |                                      | 1234-5678 | "
       "MBR  | 0              | 511                | 512            |                              "
       "        |           | 0      |        |           | mbr\n"
       "<root>/sda | disk       |          0 |                                      | 1234-5678 | "
       "MBR  | 512            | 1048575            | 1048064        |                              "
       "        |           | 0      |        |           | unalloc\n"
       "<root>/sda | disk       |          0 |                                      | 1234-5678 | "
       "MBR  | 1048576        | 2097151            | 1048576        |                              "
       "        | 0bad-cafe | 12     |        |           | fat32; sector_size: 512; cluster_size: "
       "512\n"
       "<root>/sda | disk       |          0 |                                      | 1234-5678 | "
       "MBR  | 2097152        | 18874367           | 16777216       |                              "
       "        | 89ab-cdef | 7      |        |           | ntfs; sector_size: 512; cluster_size: "
       "4096\n"
       "<root>/sda | disk       |          0 |                                      | 1234-5678 | "
       "MBR  | 18874368       | 67108863           | 48234496       |                              "
       "        |           | 0      |        |           | unalloc\n"
       "<root>/sdb | disk       |          0 |                                      | 0000-0000 | "
       "GPT  | 0              | 511                | 512            |                              "
       "        |           | 238    |        |           | protective_mbr\n"
       "<root>/sdb | disk       |          0 |                                      | 0000-0000 | "
       "GPT  | 512            | 1023               | 512            |                              "
       "        |           | 238    |        |           | gpt header\n"
       "<root>/sdb | disk       |          0 |                                      | 0000-0000 | "
       "GPT  | 1024           | 17407              | 16384          |                              "
       "        |           | 238    |        |           | gpt partition entries\n"
       "<root>/sdb | disk       |          0 |                                      | 0000-0000 | "
       "GPT  | 17408          | 1048575            | 1031168        |                              "
       "        |           | 0      |        |           | unalloc\n"
       "<root>/sdb | disk       |          0 | c12a7328-f81f-11d2-ba4b-00a0c93ec93b | 0000-0000 | "
       "GPT  | 1048576        | 2097151            | 1048576        | "
       "aaaaaaaa-0000-0000-0000-000000000001 |           | 238    |        |           | EFI "
       "system partition\n"
       "<root>/sdb | disk       |          0 | ebd0a0a2-b9e5-4433-87c0-68b6b72699c7 | 0000-0000 | "
       "GPT  | 2097152        | 18874367           | 16777216       | "
       "aaaaaaaa-0000-0000-0000-000000000002 | 89ab-cdef | 7      |        |           | Microsoft "
       "basic data; ntfs; sector_size: 512; cluster_size: 4096\n"
       "<root>/sdb | disk       |          0 |                                      | 0000-0000 | "
       "GPT  | 18874368       | 33554431           | 14680064       |                              "
       "        |           | 0      |        |           | unalloc\n"},
      {{false, true, true},
       "drive       | drive_type | media_type | disk_or_partition_type_guid          | disk_sig  | "
       "type | start_sector | end_sector   | num_sectors  | vol_guid                             | "
       "vol sig   | format | mnt pt | vol_label | description\n"
       "<root>/sda | disk       | 0x00000000 |                                      | 1234-5678 | "
       "MBR  | 0x00         | 0x00         | 0x01         |                                      | "
       "          | 0x00   |        |           | mbr\n"
       "<root>/sda | disk       | 0x00000000 |                                      | 1234-5678 | "
       "MBR  | 0x01         | 0x07ff       | 0x07ff       |                                      | "
       "          | 0x00   |        |           | unalloc\n"
       "<root>/sda | disk       | 0x00000000 |                                      | 1234-5678 | "
       "MBR  | 0x0800       | 0x0fff       | 0x0800       |                                      | "
       "0bad-cafe | 0x0c   |        |           | fat32; sector_size: 0x0200; cluster_size: "
       "0x0200\n"
       "<root>/sda | disk       | 0x00000000 |                                      | 1234-5678 | "
       "MBR  | 0x1000       | 0x8fff       | 0x8000       |                                      | "
       "89ab-cdef | 0x07   |        |           | ntfs; sector_size: 0x0200; cluster_size: 0x1000\n"
       "<root>/sda | disk       | 0x00000000 |                                      | 1234-5678 | "
       "MBR  | 0x9000       | 0x01ffff     | 0x017000     |                                      | "
       "          | 0x00   |        |           | unalloc\n"
       "<root>/sdb | disk       | 0x00000000 |                                      | 0000-0000 | "
       "GPT  | 0x00         | 0x00         | 0x01         |                                      | "
       "          | 0xee   |        |           | protective_mbr\n"
       "<root>/sdb | disk       | 0x00000000 |                                      | 0000-0000 | "
       "GPT  | 0x01         | 0x01         | 0x01         |                                      | "
       "          | 0xee   |        |           | gpt header\n"
       "<root>/sdb | disk       | 0x00000000 |                                      | 0000-0000 | "
       "GPT  | 0x02         | 0x21         | 0x20         |                                      | "
       "          | 0xee   |        |           | gpt partition entries\n"
       "<root>/sdb | disk       | 0x00000000 |                                      | 0000-0000 | "
       "GPT  | 0x22         | 0x07ff       | 0x07de       |                                      | "
       "          | 0x00   |        |           | unalloc\n"
       "<root>/sdb | disk       | 0x00000000 | c12a7328-f81f-11d2-ba4b-00a0c93ec93b | 0000-0000 | "
       "GPT  | 0x0800       | 0x0fff       | 0x0800       | aaaaaaaa-0000-0000-0000-000000000001 | "
       "          | 0xee   |        |           | EFI system partition\n"
       "<root>/sdb | disk       | 0x00000000 | ebd0a0a2-b9e5-4433-87c0-68b6b72699c7 | 0000-0000 | "
       "GPT  | 0x1000       | 0x8fff       | 0x8000       | aaaaaaaa-0000-0000-0000-000000000002 | "
       "89ab-cdef | 0x07   |        |           | Microsoft basic data; ntfs; sector_size: 0x0200; "
       "cluster_size: 0x1000\n"
       "<root>/sdb | disk       | 0x00000000 |                                      | 0000-0000 | "
       "GPT  | 0x9000       | 0xffff       | 0x7000       |                                      | "
       "          | 0x00   |        |           | unalloc\n"},
  };
  for (const auto& g : goldens) {
    const std::string text = replace_all(report(found, g.form), drives.root.root(), "<root>");
    EXPECT_EQ(text, g.text) << g.form.csv << g.form.sectors << g.form.hex;
  }
  // A bare volume is its drive's only, identified partition.
  RAW_DISK_IO bare(drives.scratch.path("sda-ntfs.vol"), false, 0, disk_mode_path);
  drive_stats vbr;
  ASSERT_TRUE(fill_drive_stats(vbr, bare, -1, "disk"));
  const auto rows = lines_of(report({vbr}, {true, false, false}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(csv_cells(rows[1])[5], "VBR");
  EXPECT_EQ(csv_cells(rows[1])[14], "ntfs; sector_size: 512; cluster_size: 4096");
}

TEST(VolumeReport, EdgeRowsFollowTheDriveRecord) {
  cmd_params s;
  s.m_hex_numbers = 0;
  s.m_csv = 1;
  s.m_separator = ",";
  auto rows_of = [&](const drive_stats& d, bool sectors) {
    std::ostringstream out;
    s.m_header_pending = 1;
    s.m_columns.clear();
    report_volumes(d, out, s, sectors);
    std::vector<std::vector<std::string>> rows;
    for (const auto& line : lines_of(out.str())) rows.push_back(csv_cells(line));
    return rows;
  };

  // No partitions and no size: nothing can be stated about the range.
  drive_stats empty;
  empty.m_name = "disk";
  empty.m_drive_number = 2;
  for (bool sectors : {false, true}) {
    const auto rows = rows_of(empty, sectors);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "disk", "0", "", "", "-", "-", "-", "-", "",
                                                 "-", "-", "-", "-", "-- in work --"}));
  }
  // A sized drive without partitions: its whole range.
  empty.m_size = 1u << 20;
  EXPECT_EQ(rows_of(empty, true)[1][7], "2047");
  EXPECT_EQ(rows_of(empty, false)[1][7], "1048575");

  // One partition: "VBR" when identified, "MBR" when not; the 2048-sector
  // partition at 2048 in bytes and in sectors.
  drive_stats one;
  one.m_name = "disk";
  one.m_bytes_per_sector = 512;
  one.m_partitions.emplace_back(2048, 2048, 0x07);
  one.m_partitions[0].m_identified = 1;
  auto bytes = rows_of(one, false)[1];
  EXPECT_EQ(std::vector<std::string>(bytes.begin() + 5, bytes.begin() + 9),
            (std::vector<std::string>{"VBR", "1048576", "2097151", "1048576"}));
  auto sectors = rows_of(one, true)[1];
  EXPECT_EQ(std::vector<std::string>(sectors.begin() + 5, sectors.begin() + 9),
            (std::vector<std::string>{"VBR", "2048", "4095", "2048"}));
  EXPECT_EQ(rows_of(one, true)[0][6], "start_sector");
  one.m_partitions[0].m_identified = 0;
  EXPECT_EQ(rows_of(one, false)[1][5], "MBR");

  // Sizes only for a volume, never for the boot records.
  s.m_hex_numbers = 1;
  for (const char* desc : {"protective_mbr", "mbr", "data"}) {
    one.m_partitions[0].m_description = desc;
    one.m_partitions[0].m_sectors_per_cluster = 8;
    one.m_media_type = 12;
    const std::string cell = rows_of(one, false)[1][14];
    EXPECT_EQ(cell, std::string(desc) + "; fixed" +
                        (desc == std::string("data") ? "; sector_size: 0x0200; cluster_size: 0x1000"
                                                     : ""));
  }

  // Without the drive columns the first row reaches the second partition.
  drive_stats two = one;
  two.m_no_drive = 1;
  two.m_partitions.clear();
  two.m_partitions.emplace_back(0, 1, 0);
  two.m_partitions.emplace_back(2048, 2048, 0x07);
  s.m_hex_numbers = 0;
  auto rows = rows_of(two, true);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "disk_or_partition_type_guid");
  EXPECT_EQ(std::vector<std::string>(rows[1].begin() + 3, rows[1].begin() + 6),
            (std::vector<std::string>{"0", "2047", "2048"}));
  rows = rows_of(two, false);
  EXPECT_EQ(std::vector<std::string>(rows[1].begin() + 3, rows[1].begin() + 6),
            (std::vector<std::string>{"0", "1048575", "1048576"}));

  // Ranges past 64 bits and empty partitions print "-", never a wrapped value.
  drive_stats hostile;
  hostile.m_bytes_per_sector = 4096;
  hostile.m_partitions.emplace_back(~uint64_t{0} - 1, 5, 0x07);
  hostile.m_partitions.emplace_back(0, 0, 0x07);
  hostile.m_partitions[0].m_sectors_per_cluster = -1;
  hostile.m_partitions[0].m_sector_size = 0xFFFFFFFFu;
  rows = rows_of(hostile, false);
  EXPECT_EQ(std::vector<std::string>(rows[1].begin() + 6, rows[1].begin() + 9),
            (std::vector<std::string>{"-", "-", "20480"}));
  EXPECT_EQ(std::vector<std::string>(rows[2].begin() + 6, rows[2].begin() + 9),
            (std::vector<std::string>{"0", "-", "0"}));
  rows = rows_of(hostile, true);
  EXPECT_EQ(rows[1][7], "-");
  EXPECT_NE(rows[1][14].find("cluster_size: 18446744065119617025"), std::string::npos);
}

TEST(VolumeReport, BootSectorReadersKnowTheirOwnVolumes) {
  vesk_test::temp_tree tree;
  std::string why;
  struct volume {
    const char* name;
    uint64_t size;
    const char* tool;
    const char* args;
  };
  const volume volumes[] = {
      {"ntfs", 16u << 20, "mkntfs", "-F -Q"},
      {"fat16", 16u << 20, "mkfs.fat", "-F 16"},
      {"fat32", 40u << 20, "mkfs.fat", "-F 32"},
      {"exfat", 16u << 20, "mkfs.exfat", ""},
  };
  using reader = bool (*)(boot_sector&, RAW_DISK_IO*, uint64_t);
  const reader readers[] = {read_ntfs_boot_sector, read_fat16_boot_sector, read_fat32_boot_sector,
                            read_exfat_boot_sector};
  for (size_t v = 0; v < std::size(volumes); ++v) {
    const std::string img = vesk_test::make_volume(tree.path(volumes[v].name), volumes[v].size,
                                                   volumes[v].tool, volumes[v].args, &why);
    if (img.empty()) GTEST_SKIP() << why;
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    for (size_t r = 0; r < std::size(readers); ++r) {
      boot_sector bs;
      EXPECT_EQ(readers[r](bs, &disk, 0), r == v) << volumes[v].name << " reader " << r;
    }
    EXPECT_FALSE(is_bitlocker_volume(disk, 0));
    boot_sector bs;
    bs.m_raw.fill(0xCC);
    const std::string message =
        capture_stderr_of([&] { EXPECT_FALSE(readers[v](bs, &disk, volumes[v].size - 256)); });
    EXPECT_EQ(message, "prob reading disk at offset 0x" +
                           hex_number_text(volumes[v].size - 256, true, 8).substr(2) + "\n");
    EXPECT_EQ(bs.m_raw, boot_sector().m_raw);
    EXPECT_FALSE(readers[v](bs, nullptr, 0));
  }

  // BitLocker is known by its signature alone.
  std::mt19937 rng(7);
  std::vector<uint8_t> sector(1024);
  for (auto& b : sector) b = static_cast<uint8_t>(rng());
  std::copy_n("-FVE-FS-", 8, &sector[512 + 3]);
  std::ofstream(tree.path("fve"), std::ios::binary)
      .write(reinterpret_cast<const char*>(sector.data()),
             static_cast<std::streamsize>(sector.size()));
  RAW_DISK_IO fve(tree.path("fve"), false, 0, disk_mode_path);
  EXPECT_TRUE(is_bitlocker_volume(fve, 512));
  EXPECT_FALSE(is_bitlocker_volume(fve, 0));
  EXPECT_FALSE(is_bitlocker_volume(fve, 1020));
  RAW_DISK_IO closed;
  EXPECT_FALSE(is_bitlocker_volume(closed, 0));
}

TEST(VolumeReport, NtfsListsHoldOnlyNtfsVolumes) {
  vesk_test::two_drives drives;
  if (!drives.ok()) GTEST_SKIP() << drives.why;
  // The partitions mmls reports as NTFS-typed, in bytes.
  std::vector<uint64_t> mmls_ntfs;
  if (!vesk_test::find_tool("mmls").empty()) {
    bool ok = false;
    const std::string out = vesk_test::run_command(
        vesk_test::find_tool("mmls") + " " + vesk_test::shell_quote(drives.sda), ok);
    for (const auto& line : lines_of(out)) {
      if (line.find("NTFS") == std::string::npos) continue;
      std::istringstream in(line);
      std::string index, slot;
      uint64_t start = 0;
      in >> index >> slot >> start;
      mmls_ntfs.push_back(start * 512);
    }
    EXPECT_EQ(mmls_ntfs, std::vector<uint64_t>{4096 * 512});
  }
  std::vector<uint64_t> offsets;
  EXPECT_TRUE(list_image_ntfs_volumes(drives.sda, offsets));
  EXPECT_EQ(offsets, std::vector<uint64_t>{4096 * 512});
  offsets.clear();
  EXPECT_TRUE(list_image_ntfs_volumes_w(from_utf8(drives.sdb), offsets));
  EXPECT_EQ(offsets, std::vector<uint64_t>{4096 * 512});
  // A bare volume lies at 0.
  offsets.clear();
  EXPECT_TRUE(list_image_ntfs_volumes(drives.scratch.path("sda-ntfs.vol"), offsets));
  EXPECT_EQ(offsets, std::vector<uint64_t>{0});
  {
    vesk_test::device_root_scope scope(drives.root.root());
    offsets.clear();
    EXPECT_TRUE(list_drive_ntfs_volumes(1, offsets));
    EXPECT_EQ(offsets, std::vector<uint64_t>{4096 * 512});
    std::set<uint64_t> set;
    EXPECT_TRUE(list_drive_ntfs_offsets(set, 0));
    EXPECT_EQ(set, std::set<uint64_t>{4096 * 512});
  }

  // An exFAT volume in a partition of type 7 is not NTFS.
  std::string why;
  const std::string exfat =
      vesk_test::make_volume(drives.scratch.path("ex.vol"), 4u << 20, "mkfs.exfat", "", &why);
  if (exfat.empty()) GTEST_SKIP() << why;
  const std::string disk = drives.scratch.path("exdisk");
  vesk_test::make_sparse_file(disk, 8u << 20);
  bool ok = false;
  vesk_test::run_command("printf 'label: dos\\nstart=2048, size=8192, type=7\\n' | " +
                             vesk_test::find_tool("sfdisk") + " -q " + vesk_test::shell_quote(disk),
                         ok);
  ASSERT_TRUE(ok && vesk_test::put_volume(disk, exfat, 2048));
  offsets.clear();
  EXPECT_FALSE(list_image_ntfs_volumes(disk, offsets));
  EXPECT_TRUE(offsets.empty());

  std::ostringstream msg;
  uint64_t offset = 0;
  uint8_t found = 1;
  const std::string missing = drives.scratch.path("missing.img");
  EXPECT_FALSE(open_image_and_select_ntfs(msg, from_utf8(missing), offset, found, false));
  EXPECT_EQ(msg.str(), "invalid image: " + missing + "\n");
  EXPECT_EQ(found, 0);
  msg.str("");
  offset = 4096 * 512;
  EXPECT_TRUE(open_image_and_select_ntfs(msg, from_utf8(drives.sda), offset, found, false));
  EXPECT_EQ(found, 1);
}

TEST(VolumeReport, BootSectorDumpsAndEntryTexts) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string ntfs =
      vesk_test::make_volume(tree.path("n"), 16u << 20, "mkntfs", "-F -Q", &why);
  const std::string fat =
      vesk_test::make_volume(tree.path("f"), 40u << 20, "mkfs.fat", "-F 32", &why);
  if (ntfs.empty() || fat.empty()) GTEST_SKIP() << why;
  for (const auto& [img, is_ntfs] : {std::pair{ntfs, true}, std::pair{fat, false}}) {
    const auto head = vesk_test::read_file_range(img, 0, 512);
    const boot_sector bs = boot_sector_from(head.data(), head.size());
    std::ostringstream out;
    out << std::hex;
    dump_boot_sector(bs, out);
    const std::string text = out.str();
    EXPECT_NE(text.find("bytes/sector:               0x0200 [512]\n"), std::string::npos);
    EXPECT_EQ(
        text.find("boot loader routine:        " + hex_number_text(head[0], true, 2).substr(2)),
        0u);
    EXPECT_NE(text.find("signature:                  \"" +
                        std::string(head.begin() + 3, head.begin() + 11) + "\"\n"),
              std::string::npos);
    for (const char* ntfs_line :
         {"total sectors:              0x", "mft start lcn:              0x",
          "volume serial number:       0x", "checksum:                   0x"})
      EXPECT_EQ(text.find(ntfs_line) != std::string::npos, is_ntfs) << ntfs_line;
    if (is_ntfs) {
      EXPECT_NE(text.find("total sectors:              0x" +
                          hex_number_text(bs.ntfs_total_sectors(), true, 16).substr(2) + " [" +
                          std::to_string(bs.ntfs_total_sectors()) + "]\n"),
                std::string::npos);
    }
    EXPECT_EQ(out.flags() & std::ios_base::basefield, std::ios_base::hex);
  }
  std::ostringstream bpb;
  EXPECT_FALSE(dump_bpb_vector(bpb, std::vector<uint8_t>(35)));
  EXPECT_TRUE(bpb.str().empty());
  EXPECT_TRUE(dump_bpb_vector(bpb, std::vector<uint8_t>(36)));
  EXPECT_TRUE(dump_bpb_36(bpb, {}));

  std::string date, clock;
  EXPECT_EQ(dos_date_time_text(date, clock, 0x5865, 0x3905), "2024-03-05 07:08:10");
  EXPECT_EQ(date + "|" + clock, "2024-03-05|07:08:10");
  EXPECT_EQ(dos_date_time_text(date, clock, 0, 0x3905), "");
  EXPECT_EQ(date + clock, "");

  struct split_row {
    const char* path;
    uint8_t attributes;
    bool raw;
    const char* dir;
    const char* name;
  };
  const split_row rows[] = {
      {"a/b/", 0x10, false, "a/b", "."},
      {"a/b/c.txt", 0x20, false, "a/b", "c.txt"},
      {"a/b", 0x10, true, "a", "b"},
      {"", 0x10, false, "", ""},
  };
  for (const auto& r : rows) {
    fat_file_entry e;
    e.m_name = r.path;
    e.m_attributes = r.attributes;
    std::string dir = "x", name = "y";
    EXPECT_EQ(split_entry_path(e, dir, name, r.raw), *r.path != 0);
    EXPECT_EQ(dir + "|" + name, std::string(r.dir) + "|" + r.name) << r.path;
  }
}

TEST(VolumeReport, VolumeLinesAndSnapshotSets) {
  disk_volume_entry a;
  a.m_volume_number = 1;
  a.m_byte_offset = 0x100000;
  a.m_byte_count = 0x200000;
  a.m_disk_signature = 0x12345678;
  a.m_type = 0x07;
  disk_volume_entry skipped;  // no bytes
  disk_volume_entry b = a;
  b.m_volume_number = 0x1b;
  b.m_byte_offset = 0x300000;
  b.m_disk_signature = 0;
  b.m_type = 0x0C;
  b.m_volume_guid.m_bytes[0] = 0xAB;
  a.m_disk_guid.m_bytes[15] = 0x01;
  std::ostringstream hex_out, dec_out, guid_out, none;
  hex_out << std::hex;
  EXPECT_TRUE(dump_disk_volumes(hex_out, {a, skipped, b}, false));
  EXPECT_EQ(
      hex_out.str(),
      "vol1;byte_offset:0x100000;num_bytes:0x200000;disk_sig:1234-5678;vol_type:ntfs or exfat;"
      "vol1b;byte_offset:0x300000;num_bytes:0x200000;vol_type:fat32");
  EXPECT_TRUE(dump_disk_volumes(dec_out, {a}, false));
  EXPECT_EQ(dec_out.str(),
            "vol1;byte_offset:1048576;num_bytes:2097152;disk_sig:1234-5678;vol_type:ntfs or exfat");
  EXPECT_TRUE(dump_disk_volumes(guid_out, {skipped, a, b}, true));
  EXPECT_EQ(
      guid_out.str(),
      "disk_guid:00000000-0000-0000-0000-000000000001;"
      "vol1;byte_offset:1048576;num_bytes:2097152;vol_guid:00000000-0000-0000-0000-000000000000;"
      "vol_type:ntfs or exfat;"
      "vol1b;byte_offset:3145728;num_bytes:2097152;vol_guid:000000ab-0000-0000-0000-000000000000;"
      "vol_type:fat32");
  EXPECT_FALSE(dump_disk_volumes(none, {}, false));
  EXPECT_FALSE(dump_disk_volumes(none, {skipped}, true));
  EXPECT_TRUE(none.str().empty());

  std::ostringstream msg;
  std::vector<uint64_t> offsets = {1};
  uint8_t found = 1;
  EXPECT_FALSE(open_snapshot_set(msg, {}, offsets, found, false));
  EXPECT_TRUE(msg.str().empty());
  EXPECT_TRUE(offsets.empty());
  EXPECT_FALSE(open_snapshot_set(msg, {L"/snap/1"}, offsets, found, false));
  EXPECT_EQ(msg.str(), "invalid disk collection of snaps \n");
  EXPECT_EQ(found, 0);
}
