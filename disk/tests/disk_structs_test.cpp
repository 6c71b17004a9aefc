#include <gtest/gtest.h>

#include <random>

#include "byte_builder.h"
#include "disk/vk_disk_structs.h"

using namespace vk;

namespace {

struct bpb {
  uint16_t bytes_per_sector = 512;
  uint8_t per_cluster = 8;
  uint16_t reserved = 32;
  uint8_t fats = 2;
  uint16_t root_entries = 512;
  uint16_t fat16_sectors = 64;
  uint32_t total32 = 65536;
  uint32_t fat32_sectors = 128;
  uint8_t record_byte = 0xF6;
  uint8_t index_byte = 0x01;
  uint8_t exfat_sector_shift = 9;
  uint8_t exfat_cluster_shift = 3;
};

boot_sector make(const bpb& b) {
  boot_sector bs;
  auto& r = bs.m_raw;
  store_le16(&r[11], b.bytes_per_sector);
  r[13] = b.per_cluster;
  store_le16(&r[14], b.reserved);
  r[16] = b.fats;
  store_le16(&r[17], b.root_entries);
  store_le16(&r[22], b.fat16_sectors);
  store_le32(&r[32], b.total32);
  if (b.fat16_sectors == 0) store_le32(&r[36], b.fat32_sectors);
  r[64] = b.record_byte;
  r[68] = b.index_byte;
  r[108] = b.exfat_sector_shift;
  r[109] = b.exfat_cluster_shift;
  return bs;
}

}  // namespace

TEST(DiskStructs, NtfsSizesComeFromCheckedBytes) {
  struct row {
    uint16_t sector;
    uint8_t per_cluster, record, index;
    uint32_t cluster, record_size, index_size;
  } rows[] = {
      {512, 8, 0xF6, 0x01, 4096, 1024, 4096},      // negative byte: bytes, whatever the cluster
      {512, 8, 0x02, 0xF4, 4096, 8192, 4096},      // 2 clusters of 8 x 512; index 2^12
      {512, 0x80, 0xF6, 0xF4, 65536, 1024, 4096},  // 0x80 is 128 sectors, not a shift
      {512, 0xF4, 0xF6, 0x01, 2097152, 1024,
       0},                                   // 4096 sectors = 2 MiB; an index block of 2 MiB is not
      {4096, 0xF4, 0xF6, 0x01, 0, 1024, 0},  // 16 MiB clusters are refused
      {512, 0x81, 0xF6, 0x01, 0, 1024, 0},   // between the count and the shift range
      {0, 8, 0x01, 0x01, 0, 0, 0},           // no sector size
      {520, 8, 0xF6, 0x01, 0, 1024, 0},      // not a power of two
      {512, 1, 0x80, 0xF7, 512, 0, 512},     // byte 0x80 at 64 would be 2^128 bytes
      {512, 1, 0xEF, 0xF8, 512, 0, 256},     // 2^17 bytes is too large, 2^8 is the floor
  };
  for (const auto& r : rows) {
    bpb b;
    b.bytes_per_sector = r.sector;
    b.per_cluster = r.per_cluster;
    b.record_byte = r.record;
    b.index_byte = r.index;
    const boot_sector bs = make(b);
    SCOPED_TRACE(testing::Message() << r.sector << " " << int(r.per_cluster) << " " << int(r.record)
                                    << " " << int(r.index));
    EXPECT_EQ(ntfs_cluster_size(bs), r.cluster);
    EXPECT_EQ(ntfs_mft_record_size(bs), r.record_size);
    EXPECT_EQ(ntfs_index_block_size(bs), r.index_size);
  }
  EXPECT_EQ(ntfs_sectors_per_cluster(0xF4), 4096u);
  EXPECT_EQ(ntfs_sectors_per_cluster(0xFF), 2u);
  EXPECT_EQ(ntfs_sectors_per_cluster(0x00), 0u);
}

TEST(DiskStructs, FatAndExfatOffsetsCountAnyFatNumberButOneAsTwo) {
  bpb one;
  one.fats = 1;
  const boot_sector b1 = make(one);
  EXPECT_EQ(fat16_second_fat_offset(b1), 0u);
  EXPECT_EQ(fat32_second_fat_offset(b1), 0u);
  EXPECT_EQ(fat16_data_offset(b1), (32u + 64u) * 512u + 512u * 32u);

  for (uint8_t fats : {2, 3, 0, 255}) {
    bpb b;
    b.fats = fats;
    const boot_sector bs = make(b);
    EXPECT_EQ(fat16_second_fat_offset(bs), (32u + 64u) * 512u) << int(fats);
    EXPECT_EQ(fat16_data_offset(bs), (32u + 2 * 64u) * 512u + 512u * 32u) << int(fats);
  }
  bpb f32;
  f32.fat16_sectors = 0;
  const boot_sector b32 = make(f32);
  EXPECT_EQ(fat32_data_offset(b32), (32u + 2 * 128u) * 512u);
  EXPECT_EQ(fat32_cluster_zero_offset(b32), int64_t{(32 + 256) * 512 - 2 * 4096});
  EXPECT_EQ(fat32_cluster_count(b32), (65536u * 512u - (32u + 256u) * 512u + 8192u) / 4096u);
  bpb no_sector = f32;
  no_sector.bytes_per_sector = 0;
  EXPECT_EQ(fat32_cluster_count(make(no_sector)), 0u) << "a zero divisor gives 0";

  const boot_sector ex = make(bpb{});
  EXPECT_EQ(exfat_sector_size(ex), 512u);
  EXPECT_EQ(exfat_sectors_per_cluster(ex), 8u);
  for (auto [sector_shift, cluster_shift] : {std::pair{8, 0}, std::pair{13, 0}, std::pair{40, 0},
                                             std::pair{9, 17}, std::pair{12, 200}}) {
    bpb b;
    b.exfat_sector_shift = static_cast<uint8_t>(sector_shift);
    b.exfat_cluster_shift = static_cast<uint8_t>(cluster_shift);
    const boot_sector bs = make(b);
    EXPECT_EQ(exfat_sectors_per_cluster(bs), 0u) << sector_shift << "/" << cluster_shift;
    EXPECT_EQ(exfat_heap_offset(bs, 7), 7u);
  }

  EXPECT_EQ(ceil_div_u64(4097, 4096), 2u);
  EXPECT_EQ(ceil_div_u64(4096, 4096), 1u);
  EXPECT_EQ(ceil_div_u64(UINT64_MAX, 2), uint64_t{1} << 63);
  EXPECT_EQ(ceil_div_u64(12345, 0), 0u);
}

TEST(DiskStructs, StringHashesAgreeEightBytesAtATime) {
  EXPECT_EQ(string_hash37(nullptr, 0), 314159u);
  const uint8_t high = 0x80;
  EXPECT_EQ(string_hash37(&high, 1), 11623755u);
  EXPECT_EQ(string_hash37_blocked(&high, 1), 11623755u);

  std::mt19937 rng(27);
  for (size_t len = 0; len <= 17; ++len) {
    for (int round = 0; round < 20; ++round) {
      const auto bytes = vesk_test::random_bytes(len, rng);
      EXPECT_EQ(string_hash37_blocked(bytes.data(), len), string_hash37(bytes.data(), len)) << len;
    }
  }
  EXPECT_FALSE(
      has_ntfs_oem_id(reinterpret_cast<const uint8_t*>("\xEB\x52\x90NTFS    "), 11, false));
  EXPECT_TRUE(has_ntfs_oem_id(reinterpret_cast<const uint8_t*>("\xEB\x52\x90NTFS    "), 11, true));
  EXPECT_FALSE(has_ntfs_oem_id(reinterpret_cast<const uint8_t*>("\xEB\x52\x90NTFS"), 7, true))
      << "force never reads past the length";
}
