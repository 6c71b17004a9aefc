#include "disk/volume_boot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>

#include "byte_builder.h"
#include "disk/field_dump.h"
#include "disk/partition_table.h"
#include "disk_images.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::string fsstat_value(const std::string& image, const std::string& label) {
  bool ok = false;
  const std::string out = vesk_test::run_command(
      vesk_test::find_tool("fsstat") + " " + vesk_test::shell_quote(image), ok);
  EXPECT_TRUE(ok) << out;
  return vesk_test::labelled_value(out, label);
}

// Copies bytes into a heap block of exactly their size, so that any read
// past the end is caught by the address sanitizer.
std::unique_ptr<uint8_t[]> exact_copy(const std::vector<uint8_t>& v) {
  auto p = std::make_unique<uint8_t[]>(v.empty() ? 1 : v.size());
  std::copy(v.begin(), v.end(), p.get());
  return p;
}

std::vector<uint8_t> sector_with_oem(const char* oem, size_t size = 512) {
  vesk_test::byte_builder b;
  b.bytes({0xEB, 0x52, 0x90}).ascii(std::string(oem, 8)).pad_to(size);
  b.put_u16(510, 0xAA55);
  return b.take();
}

}  // namespace

TEST(VolumeBoot, NtfsVolumesOfEveryClusterSizeMatchSleuthkit) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bool have_fsstat = !vesk_test::find_tool("fsstat").empty();
  if (!have_fsstat)
    GTEST_LOG_(INFO) << "fsstat is not installed: sizes checked against mkntfs only";
  for (uint32_t cluster : {512u, 4096u, 65536u}) {
    std::string why;
    const std::string img =
        vesk_test::make_volume(tree.path("n" + std::to_string(cluster)), 16 << 20, "mkntfs",
                               "-F -Q -c " + std::to_string(cluster), &why);
    if (img.empty()) GTEST_SKIP() << why;
    const auto head = vesk_test::read_file_range(img, 0, 2048);
    ASSERT_EQ(head.size(), 2048u);
    const boot_sector bs = boot_sector_from(head.data(), head.size());
    SCOPED_TRACE(cluster);
    EXPECT_EQ(ntfs_cluster_size(bs), cluster);
    if (have_fsstat) {
      EXPECT_EQ(std::to_string(ntfs_cluster_size(bs)), fsstat_value(img, "Cluster Size"));
      EXPECT_EQ(std::to_string(ntfs_mft_record_size(bs)) + " bytes",
                fsstat_value(img, "Size of MFT Entries"));
      EXPECT_EQ(std::to_string(ntfs_index_block_size(bs)) + " bytes",
                fsstat_value(img, "Size of Index Records"));
    }
    EXPECT_TRUE(is_ntfs_vbr_valid(bs));

    partition_entry r;
    ASSERT_TRUE(identify_volume(r, head.data(), head.size()));
    EXPECT_EQ(r.m_type_name, "ntfs");
    EXPECT_EQ(r.m_type, 0x07);
    EXPECT_EQ(r.m_sectors_per_cluster, static_cast<int32_t>(cluster / 512));
    EXPECT_EQ(r.m_count, bs.ntfs_total_sectors());
    EXPECT_EQ(r.m_serial, static_cast<uint32_t>(bs.ntfs_serial()));

    if (cluster != 4096) continue;
    std::ostringstream bpb;
    bpb << 255 << " ";
    EXPECT_FALSE(dump_bpb(bpb, head.data(), 35));
    EXPECT_EQ(bpb.str(), "255 ");
    ASSERT_TRUE(dump_bpb(bpb, head.data(), head.size()));
    bpb << 255;
    const std::string text = bpb.str();
    EXPECT_NE(text.find("\nreserved sectors:           0x0000 [zero for ntfs]\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nnum fat copies (fat):       0x00   [zero for ntfs]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nmedia descriptor:           0xf8   [hard disk]\n"), std::string::npos);
    EXPECT_NE(text.find("\nkeyword:                    \"NTFS    \"\n"), std::string::npos);
    EXPECT_NE(text.find("\nbytes/sector:               0x0200 [512]\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\n255") << "the stream's decimal form is restored";

    std::ostringstream boot;
    dump_ntfs_boot_sector(bs, boot, 0x100000, 30);
    std::ostringstream want;
    want << "0x100028 : total_sectors                  : 0x" << std::hex << std::setw(16)
         << std::setfill('0') << bs.ntfs_total_sectors() << " [0x" << std::hex
         << bs.ntfs_total_sectors() * 512 << " bytes]\n";
    EXPECT_NE(boot.str().find(want.str()), std::string::npos) << boot.str();
    EXPECT_NE(boot.str().find("num_clusters_one_mft_record    : 0xf6 [0x400 bytes]\n"),
              std::string::npos);
  }
}

TEST(VolumeBoot, OtherToolMadeVolumesAreNamedCountedAndNotTakenForTables) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  struct row {
    const char* tool;
    const char* args;
    uint64_t size;
    bool recognised;
    const char* name;
    bool identified;
  } rows[] = {
      {"mkfs.fat", "-F 16", 16 << 20, true, "fat16", true},
      {"mkfs.fat", "-F 32 -i 12345678", 34 << 20, true, "fat32", true},
      {"mkfs.exfat", "", 16 << 20, true, "exfat", true},
      {"mkfs.ext4", "-q -F -L lbl -M /mnt/x", 2 << 20, true, "ext", false},
      {"mkfs.fat", "-F 12", 1 << 20, true, "fat12", true},
  };
  int made = 0;
  for (const auto& r : rows) {
    std::string why;
    const std::string img =
        vesk_test::make_volume(tree.path(std::to_string(made++)), r.size, r.tool, r.args, &why);
    if (img.empty()) {
      GTEST_LOG_(INFO) << "skipped: " << why;
      continue;
    }
    SCOPED_TRACE(std::string(r.tool) + " " + r.args);
    const auto head = vesk_test::read_file_range(img, 0, 2048);
    auto exact = exact_copy(head);
    partition_entry p;
    ASSERT_EQ(identify_volume(p, exact.get(), head.size()), r.recognised);
    if (!r.recognised) continue;
    EXPECT_EQ(p.m_type_name, r.name);
    EXPECT_EQ(p.m_identified, r.identified ? 1 : 0);
    if (p.m_type_name.compare(0, 3, "fat") == 0) {
      // Small volumes count their sectors in the 16-bit field; mkfs.fat's
      // boot code and signature do not make the volume a partition table.
      EXPECT_EQ(p.m_count, r.size / 512);
      EXPECT_FALSE(is_mbr_sector(head.data(), head.size()));
      RAW_DISK_IO disk(img, false, 0, disk_mode_path);
      partition_list list;
      ASSERT_TRUE(scan_partitions(disk, list, true, true));
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0].m_type_name, r.name);
      ASSERT_TRUE(scan_partitions_buffer(head.data(), head.size(), list, true, true));
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0].m_type_name, r.name);
    }
    if (std::string(r.name) == "fat32") {
      EXPECT_EQ(p.m_serial, 0x12345678u);
      EXPECT_EQ(p.m_type, 0x0C);
    }
    if (std::string(r.name) == "ext") {
      EXPECT_EQ(p.m_type, 0x83);
      EXPECT_EQ(p.m_volume_name, "lbl");
      EXPECT_EQ(p.m_volume_letter, "/mnt/x");
    }
    if (std::string(r.name) == "exfat") {
      EXPECT_EQ(p.m_sector_size, 512u);
      EXPECT_EQ(p.m_count, r.size / 512);
      EXPECT_TRUE(is_exfat_vbr_valid(boot_sector_from(head.data(), head.size())));
    }
  }
}

TEST(VolumeBoot, HandBuiltBootRecordsFillOnlyWhatTheyCarry) {
  // NTFS: count and serial from the boot record, unless the table gave a count.
  auto ntfs = sector_with_oem("NTFS    ");
  store_le16(&ntfs[11], 512);
  ntfs[13] = 8;
  store_le64(&ntfs[40], 99999);
  store_le64(&ntfs[72], 0x1122334455667788ull);
  partition_entry fresh;
  ASSERT_TRUE(identify_volume(fresh, ntfs.data(), ntfs.size()));
  EXPECT_EQ(fresh.m_count, 99999u);
  EXPECT_EQ(fresh.m_serial, 0x55667788u);
  partition_entry counted(2048, 500, 0x07);
  ASSERT_TRUE(identify_volume(counted, ntfs.data(), ntfs.size()));
  EXPECT_EQ(counted.m_count, 500u);

  auto bitlocker = ntfs;
  std::memcpy(&bitlocker[3], "-FVE-FS-", 8);
  partition_entry bl;
  ASSERT_TRUE(identify_volume(bl, bitlocker.data(), bitlocker.size()));
  EXPECT_EQ(bl.m_type_name, "bitlocker container");

  // exFAT: sizes from the shifts; out-of-range shifts are refused.
  auto exfat = sector_with_oem("EXFAT   ");
  exfat[108] = 9;
  exfat[109] = 3;
  store_le32(&exfat[100], 0xCAFEF00D);
  partition_entry ex;
  ASSERT_TRUE(identify_volume(ex, exfat.data(), exfat.size()));
  EXPECT_EQ(ex.m_sector_size, 512u);
  EXPECT_EQ(ex.m_sectors_per_cluster, 8);
  EXPECT_EQ(ex.m_serial, 0xCAFEF00Du);
  exfat[108] = 40;
  partition_entry bad_ex;
  EXPECT_FALSE(identify_volume(bad_ex, exfat.data(), exfat.size()));
  EXPECT_EQ(bad_ex.m_identified, 0);

  // Blank OEM id: HFS+ and HFSX by their signature at 1024; 2048 bytes needed.
  for (auto [sig, ok, name] : {std::tuple{"H+", true, "hfs+"}, std::tuple{"HX", true, "hfsx"},
                               std::tuple{"HZ", false, ""}}) {
    std::vector<uint8_t> v(2048, 0);
    std::memcpy(&v[1024], sig, 2);
    partition_entry h;
    EXPECT_EQ(identify_volume(h, v.data(), v.size()), ok) << sig;
    EXPECT_EQ(h.m_type, ok ? 0xAF : 0) << sig;
    EXPECT_EQ(h.m_type_name, name);
    EXPECT_EQ(h.m_identified, 0);
    EXPECT_FALSE(identify_volume(h, v.data(), 2047));
  }

  // A FAT boot sector whose formatter left the OEM id blank is still FAT,
  // whether or not the bytes reach where ext and HFS keep their marks.
  for (size_t size : {size_t{512}, size_t{2048}}) {
    auto fat = sector_with_oem("\0\0\0\0\0\0\0\0", size);
    store_le16(&fat[11], 512);
    fat[13] = 4;
    store_le16(&fat[14], 4);      // reserved sectors
    fat[16] = 2;                  // FATs
    store_le16(&fat[17], 512);    // root entries
    store_le16(&fat[19], 32768);  // sectors
    store_le16(&fat[22], 32);     // sectors per FAT
    std::memcpy(&fat[54], "FAT16   ", 8);
    ASSERT_TRUE(is_fat_boot_sector(fat.data(), size));
    partition_entry f;
    ASSERT_TRUE(identify_volume(f, fat.data(), size)) << size;
    EXPECT_EQ(f.m_type_name, "fat16");
    EXPECT_EQ(f.m_count, 32768u);
  }

  // ext behind an OEM id the library does not know: counted in sectors, the
  // start kept; an impossible block size is refused.
  auto ext = sector_with_oem("mkfs.fat", 2048);
  store_le16(&ext[ext_magic_at], ext_magic);
  store_le32(&ext[1024 + 4], 1000);  // blocks
  store_le32(&ext[1024 + 24], 2);    // 4096-byte blocks
  store_le32(&ext[1024 + 104], 0xDEADBEEF);
  partition_entry e(63, 0, 0x83);
  ASSERT_TRUE(identify_volume(e, ext.data(), ext.size()));
  EXPECT_EQ(e.m_type_name, "ext2/3");
  EXPECT_EQ(e.m_identified, 1);
  EXPECT_EQ(e.m_start, 63u);
  EXPECT_EQ(e.m_count, 8000u);
  EXPECT_EQ(e.m_sectors_per_cluster, 8);
  EXPECT_EQ(e.m_serial, 0xDEADBEEFu);
  store_le32(&ext[1024 + 24], 40);
  partition_entry e2;
  EXPECT_FALSE(identify_volume(e2, ext.data(), ext.size()));

  EXPECT_TRUE(is_mbr_sector(sector_with_oem("\0\0\0\0\0\0\0\0").data(), 512));
  EXPECT_FALSE(is_mbr_sector(ntfs.data(), 512));
  EXPECT_FALSE(is_mbr_sector(sector_with_oem("\0\0\0\0\0\0\0\0").data(), 511));
}

TEST(VolumeBoot, FieldLinesAndIdentifierTexts) {
  std::ostringstream out;
  EXPECT_EQ(dump_u32_field(out, "m_size", 26, "", 0x1b8, 10), 4u);
  EXPECT_EQ(dump_u8_field(out, "flag", 5, "", no_field_offset, 4), 1u);
  EXPECT_EQ(dump_u16_field(out, "w", 0xBEEF, "note", 0x1234567, 1), 2u);
  EXPECT_EQ(dump_u64_field(out, "q", 1, "", 0, 0), 8u);
  dump_text_field(out, "t", "abc", "", 3, 2);
  dump_text_field(out, "t", "abc", "why", 3, 2);
  out << 26;
  EXPECT_EQ(out.str(),
            "0x0001b8 : m_size     : 0x0000001a [26]\n"
            "         : flag : 0x05\n"
            "0x1234567 : w : 0xbeef [note]\n"
            "0x000000 : q : 0x0000000000000001 [1]\n"
            "0x000003 : t  : abc\n"
            "0x000003 : t  : abc [why]\n"
            "26");

  EXPECT_EQ(disk_signature_text(0x12345678), "1234-5678");
  EXPECT_EQ(disk_signature_text(0x0000abcd), "0000-abcd");
  uint8_t bytes[16];
  for (uint8_t i = 0; i < 16; ++i) bytes[i] = i;
  EXPECT_EQ(guid_text_or_hex(bytes, true), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(guid_text_or_hex(bytes, false), "03020100-0504-0706-0809-0a0b0c0d0e0f");
  guid g;
  g.set(bytes);
  std::ostringstream braced;
  write_guid_braced(braced, g);
  EXPECT_EQ(braced.str(), "{ 03020100-0504-0706-0809-0a0b0c0d0e0f }");
}

TEST(VolumeBoot, HostileSectorsNeverReadOutsideTheirBytes) {
  std::mt19937 rng(2027);
  const char* oems[] = {"NTFS    ", "EXFAT   ", "-FVE-FS-",
                        "MSDOS5.0", "mkfs.fat", "\0\0\0\0\0\0\0\0"};
  size_t recognised = 0;
  for (int i = 0; i < 10000; ++i) {
    const size_t size = (i % 2) ? 2048 : 512;
    auto v = vesk_test::random_bytes(size, rng);
    // Steer most sectors into a recogniser with hostile fields behind it.
    const int pick = i % 8;
    if (pick < 6) std::memcpy(&v[3], oems[pick], 8);
    if (i % 3 == 0) std::memcpy(&v[82], "FAT32", 5);
    if (i % 5 == 0) std::memcpy(&v[54], "FAT16", 5);
    if (size == 2048 && i % 4 == 1) store_le16(&v[ext_magic_at], ext_magic);
    if (size == 2048 && i % 7 == 0) v[1024] = 'H';
    auto exact = exact_copy(v);
    partition_entry r;
    if (identify_volume(r, exact.get(), size)) ++recognised;
    const boot_sector bs = boot_sector_from(exact.get(), size);
    std::ostringstream sink;
    dump_bpb(sink, exact.get(), size);
    dump_ntfs_boot_sector(bs, sink, rng(), 28);
    (void)(ntfs_cluster_size(bs) + ntfs_mft_record_size(bs) + ntfs_index_block_size(bs) +
           fat32_cluster_count(bs) + fat16_highest_cluster(bs) + exfat_fat_offset(bs, rng()) +
           exfat_heap_offset(bs, 0) + exfat_fat_bytes(bs) + fat32_second_fat_offset(bs) +
           fat16_data_offset(bs));
    (void)(is_ntfs_vbr_valid(bs) || is_exfat_vbr_valid(bs));
  }
  EXPECT_GT(recognised, 1000u);

  // The named hostile bytes.
  auto ntfs = sector_with_oem("NTFS    ");
  store_le16(&ntfs[11], 512);
  ntfs[13] = 8;
  ntfs[64] = 0x80;
  EXPECT_EQ(ntfs_mft_record_size(boot_sector_from(ntfs.data(), 512)), 0u);
  store_le16(&ntfs[11], 0);
  partition_entry r;
  EXPECT_FALSE(identify_volume(r, ntfs.data(), ntfs.size())) << "no sector size";
  EXPECT_EQ(fat32_cluster_count(boot_sector_from(ntfs.data(), 512)), 0u);
  std::ostringstream sink;
  dump_ntfs_boot_sector(boot_sector_from(ntfs.data(), 512), sink, 0, 28);
  EXPECT_NE(sink.str().find("clusters_per_index_allocated : 0x00 [0x0 sectors, 0x0 bytes]"),
            std::string::npos)
      << sink.str();
}
