// Partitioned disk images for the partition-table and volume-selection
// tests: each volume is made as its own sparse file and put in place with
// dd, as an examiner's tools would lay it out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "disk_images.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_crc.h"
#include "temp_tree.h"

namespace vesk_test {

// Copies a volume file into a disk image at a sector (512 bytes).
inline bool put_volume(const std::string& disk, const std::string& volume, uint64_t sector,
                       uint32_t sector_size = 512) {
  bool ok = false;
  const std::string out =
      run_command(find_tool("dd") + " if=" + shell_quote(volume) + " of=" + shell_quote(disk) +
                      " bs=" + std::to_string(sector_size) + " seek=" + std::to_string(sector) +
                      " conv=notrunc,sparse status=none",
                  ok);
  if (!ok) ADD_FAILURE() << out;
  return ok;
}

inline bool have_tools(std::initializer_list<const char*> tools, std::string& why) {
  for (const char* t : tools) {
    if (find_tool(t).empty()) {
      why = std::string(t) + " is not installed";
      return false;
    }
  }
  return true;
}

// 26 MiB, label-id 0x12345678: primaries 0x83 at 2048 and 0x07 (an NTFS
// volume) at 4096, an extended partition last at 36864 with logicals 0x83,
// 0x0C (a FAT32 volume) and 0x83; the last 1 MiB free.
inline std::string make_sfdisk_image(const temp_tree& tree, std::string& why) {
  if (!have_tools({"sfdisk", "mkntfs", "mkfs.fat", "dd"}, why)) return std::string();
  const std::string disk = tree.path("mbr.img");
  make_sparse_file(disk, 26u << 20);
  bool ok = false;
  const std::string out = run_command(
      "printf 'label: dos\\nlabel-id: 0x12345678\\nunit: sectors\\n\\n"
      "start=2048, size=2048, type=83\\nstart=4096, size=32768, type=7\\n"
      "start=36864, size=14336, type=5\\nstart=38912, size=2048, type=83\\n"
      "start=43008, size=4096, type=c\\nstart=49152, size=2048, type=83\\n' | " +
          find_tool("sfdisk") + " -q " + shell_quote(disk),
      ok);
  if (!ok) {
    ADD_FAILURE() << out;
    return std::string();
  }
  const std::string ntfs =
      make_volume(tree.path("mbr-ntfs.vol"), 16u << 20, "mkntfs", "-F -Q", nullptr);
  const std::string fat = make_volume(tree.path("mbr-fat.vol"), 2u << 20, "mkfs.fat",
                                      "-F 32 -s 1 -i 0badcafe", nullptr);
  if (ntfs.empty() || fat.empty() || !put_volume(disk, ntfs, 4096) || !put_volume(disk, fat, 43008))
    return std::string();
  return disk;
}

// 20 MiB GPT: "esp" (ef00, unformatted) at 2048, "data" (0700, an NTFS
// volume) at 4096, an 8300 partition at 36864.
inline std::string make_sgdisk_image(const temp_tree& tree, std::string& why) {
  if (!have_tools({"sgdisk", "mkntfs", "dd"}, why)) return std::string();
  const std::string disk = tree.path("gpt.img");
  make_sparse_file(disk, 20u << 20);
  bool ok = false;
  const std::string out =
      run_command(find_tool("sgdisk") +
                      " -o -n 1:2048:+1M -t 1:ef00 -c 1:esp -n 2:0:+16M -t 2:0700 -c 2:data"
                      " -n 3:0:+1M -t 3:8300 " +
                      shell_quote(disk),
                  ok);
  if (!ok) {
    ADD_FAILURE() << out;
    return std::string();
  }
  const std::string ntfs =
      make_volume(tree.path("gpt-ntfs.vol"), 16u << 20, "mkntfs", "-F -Q", nullptr);
  if (ntfs.empty() || !put_volume(disk, ntfs, 4096)) return std::string();
  return disk;
}

inline uint32_t crc32_ieee(const std::vector<uint8_t>& v, size_t from, size_t n) {
  return ~vk::crc32_table_hash(v.data() + from, n);
}

// A GPT written for 4096-byte sectors: protective MBR, header at 4096,
// 128 entries of 128 bytes at 8192, one basic-data partition at LBA 256
// holding an NTFS volume with 4096-byte sectors.
inline std::string make_4k_gpt_image(const temp_tree& tree, std::string& why) {
  if (!have_tools({"mkntfs", "dd"}, why)) return std::string();
  constexpr uint64_t ss = 4096, first = 256, sectors = 4096, total = first + sectors + 8;
  const std::string disk = tree.path("gpt4k.img");
  make_sparse_file(disk, total * ss);
  byte_builder b;
  b.pad_to(6 * ss);  // MBR, header, 16 KiB of entries
  std::vector<uint8_t> img = b.take();
  // Protective MBR.
  img[446 + 4] = 0xEE;
  vk::store_le32(&img[446 + 8], 1);
  vk::store_le32(&img[446 + 12], static_cast<uint32_t>(total - 1));
  img[510] = 0x55;
  img[511] = 0xAA;
  // Entry 0 at LBA 2.
  const uint8_t basic_data[16] = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                  0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
  uint8_t* e = &img[2 * ss];
  std::copy(basic_data, basic_data + 16, e);
  for (int i = 0; i < 16; ++i) e[16 + i] = static_cast<uint8_t>(0x40 + i);
  vk::store_le64(e + 32, first);
  vk::store_le64(e + 40, first + sectors - 1);
  e[56] = 'v';
  e[58] = 'o';
  e[60] = 'l';
  // Header at LBA 1.
  uint8_t* h = &img[ss];
  std::copy_n("EFI PART", 8, h);
  vk::store_le32(h + 8, 0x00010000);
  vk::store_le32(h + 12, 92);
  vk::store_le64(h + 24, 1);
  vk::store_le64(h + 32, total - 1);
  vk::store_le64(h + 40, 6);
  vk::store_le64(h + 48, total - 6);
  for (int i = 0; i < 16; ++i) h[56 + i] = static_cast<uint8_t>(0x10 + i);
  vk::store_le64(h + 72, 2);
  vk::store_le32(h + 80, 128);
  vk::store_le32(h + 84, 128);
  vk::store_le32(h + 88, crc32_ieee(img, 2 * ss, 128 * 128));
  vk::store_le32(h + 16, crc32_ieee(img, ss, 92));
  {
    std::fstream f(disk, std::ios::binary | std::ios::in | std::ios::out);
    f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  }
  const std::string ntfs =
      make_volume(tree.path("gpt4k-ntfs.vol"), sectors * ss, "mkntfs", "-F -Q -s 4096", nullptr);
  if (ntfs.empty() || !put_volume(disk, ntfs, first, ss)) return std::string();
  return disk;
}

}  // namespace vesk_test
