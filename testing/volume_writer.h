// Small volume and disk images written byte by byte: FAT12/16/32 with long
// names, exFAT with a contiguous and a chained file, ext with block-mapped
// and extent-mapped files, MBR disks with an extended chain and GPT disks
// whose table is not in disk order. The fuzz seeds and the disk tests share
// them; every image fits in 64 KiB unless its spec asks for more.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/fat_ext.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_crc.h"

namespace vesk_test {

using image_t = std::vector<uint8_t>;

inline void put16(image_t& b, size_t at, uint16_t v) {
  vk::store_le16(&b[at], v);
}
inline void put32(image_t& b, size_t at, uint32_t v) {
  vk::store_le32(&b[at], v);
}
inline void put64(image_t& b, size_t at, uint64_t v) {
  vk::store_le64(&b[at], v);
}
inline void put_text(image_t& b, size_t at, const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) b[at + i] = static_cast<uint8_t>(s[i]);
}

// ---- FAT ----

// One table entry of 12, 16 or 32 bits.
inline void set_fat_entry(image_t& b, size_t fat_at, unsigned bits, uint32_t index,
                          uint32_t value) {
  if (bits == 32) return put32(b, fat_at + 4 * size_t{index}, value);
  if (bits == 16) return put16(b, fat_at + 2 * size_t{index}, static_cast<uint16_t>(value));
  const size_t at = fat_at + index + index / 2;
  uint16_t pair = static_cast<uint16_t>(b[at] | b[at + 1] << 8);
  pair = index & 1 ? static_cast<uint16_t>((pair & 0x000F) | (value << 4))
                   : static_cast<uint16_t>((pair & 0xF000) | (value & 0x0FFF));
  put16(b, at, pair);
}

// A 32-byte short entry: 11-byte name, attributes, first cluster, size; the
// dates are 2024-03-05 10:20:30.
inline image_t fat_short_entry(const std::string& name11, uint8_t attributes, uint32_t first,
                               uint32_t size) {
  image_t e(32, 0);
  put_text(e, 0, name11);
  e[11] = attributes;
  const uint16_t date = (44 << 9) | (3 << 5) | 5, time = (10 << 11) | (20 << 5) | 15;
  put16(e, 14, time);
  put16(e, 16, date);
  put16(e, 18, date);
  put16(e, 20, static_cast<uint16_t>(first >> 16));
  put16(e, 22, time);
  put16(e, 24, date);
  put16(e, 26, static_cast<uint16_t>(first));
  put32(e, 28, size);
  return e;
}

// The long-name entries of name (ASCII) for the short entry, last piece
// first, as they lie on disk, followed by the short entry.
inline image_t fat_lfn_run(const std::string& name, const image_t& short_entry) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_entry[i]);
  std::vector<uint16_t> units(name.begin(), name.end());
  const size_t pieces = (units.size() + 12) / 13;
  if (units.size() % 13) units.push_back(0);
  units.resize(pieces * 13, 0xFFFF);
  static constexpr size_t kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  image_t out;
  for (size_t p = pieces; p-- > 0;) {
    image_t e(32, 0);
    e[0] = static_cast<uint8_t>((p + 1) | (p + 1 == pieces ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    for (size_t k = 0; k < 13; ++k) put16(e, kAt[k], units[p * 13 + k]);
    out.insert(out.end(), e.begin(), e.end());
  }
  out.insert(out.end(), short_entry.begin(), short_entry.end());
  return out;
}

struct fat_layout {
  size_t fat_at = 512;    // one table of one sector after the boot sector
  size_t root_at = 1024;  // FAT12/16 root folder (one sector, 16 entries)
  size_t data_at = 1536;  // cluster 2
  uint32_t cluster = 512;
};

// A FAT volume of sectors 512-byte sectors (1 sector per cluster, one
// table, 16 root entries); bits 32 puts the root folder in cluster 2. The
// root holds "Long file name.txt" (clusters 3, 5, 4), a short name with a
// code-page byte (cluster 6), a deleted file and a volume label.
inline image_t fat_image(unsigned bits, uint32_t sectors = 96, bool text = true) {
  const fat_layout l;
  // The image holds the first 16 sectors at most: enough for every entry.
  image_t b(std::min<size_t>(size_t{sectors} * 512, 8192), 0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  put_text(b, 3, "mkfs.fat");
  put16(b, 11, 512);
  b[13] = 1;
  put16(b, 14, 1);
  b[16] = 1;
  b[21] = 0xF8;
  if (bits == 32) {
    put32(b, 32, sectors);
    put32(b, 36, 1);
    put32(b, 44, 2);
    put32(b, 67, 0x0BADCAFE);
    if (text) put_text(b, 82, "FAT32   ");
  } else {
    put16(b, 17, 16);
    if (sectors < 65536)
      put16(b, 19, static_cast<uint16_t>(sectors));
    else
      put32(b, 32, sectors);
    put16(b, 22, 1);
    put32(b, 39, 0x1234ABCD);
    if (text) put_text(b, 54, bits == 12 ? "FAT12   " : "FAT16   ");
  }
  b[510] = 0x55;
  b[511] = 0xAA;
  const size_t fat = l.fat_at;
  const uint32_t end = bits == 32 ? 0x0FFFFFFF : bits == 16 ? 0xFFFF : 0xFFF;
  set_fat_entry(b, fat, bits, 0, end - 7);
  set_fat_entry(b, fat, bits, 1, end);
  set_fat_entry(b, fat, bits, 2, end);
  set_fat_entry(b, fat, bits, 3, 5);
  set_fat_entry(b, fat, bits, 5, 4);
  set_fat_entry(b, fat, bits, 4, end);
  set_fat_entry(b, fat, bits, 6, end);
  image_t dir;
  const auto add = [&dir](const image_t& e) { dir.insert(dir.end(), e.begin(), e.end()); };
  add(fat_short_entry("VOLUME     ", 0x08, 0, 0));
  add(fat_lfn_run("Long file name.txt", fat_short_entry("LONGFI~1TXT", 0x20, 3, 1400)));
  add(fat_short_entry("CAF\x82    TXT", 0x20, 6, 10));
  image_t gone = fat_short_entry("GONE    TXT", 0x20, 7, 10);
  gone[0] = 0xE5;
  add(gone);
  // FAT32: cluster 2 lies where a FAT12/16 root folder would.
  for (size_t i = 0; i < dir.size() && l.root_at + i < b.size(); ++i) b[l.root_at + i] = dir[i];
  return b;
}

// ---- exFAT ----

// One file's entry set: file entry (created, modified and accessed
// 2025-01-01 00:00, as the tools need valid times to list it), stream
// entry (flags, first cluster, size as valid and data length, the
// up-cased ASCII name's hash) and name entries, its SetChecksum taken
// while in use; a deleted set then has the in-use bits cleared, as a file
// system does.
inline image_t exfat_file_set(const std::u16string& name, uint8_t flags, uint32_t first,
                              uint64_t size, bool live) {
  const size_t names = (name.size() + 14) / 15;
  image_t b(32 * (2 + names), 0);
  b[0] = 0x85;
  b[1] = static_cast<uint8_t>(1 + names);
  put16(b, 4, 0x20);
  for (size_t at : {8, 12, 16}) put32(b, at, 0x5A210000);
  b[32] = 0xC0;
  b[33] = flags;
  b[35] = static_cast<uint8_t>(name.size());
  uint16_t hash = 0;
  for (char16_t c : name) {
    const uint16_t u = c >= u'a' && c <= u'z' ? static_cast<uint16_t>(c - 32) : c;
    for (uint8_t x : {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)})
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + x);
  }
  put16(b, 36, hash);
  put64(b, 40, size);
  put32(b, 52, first);
  put64(b, 56, size);
  for (size_t n = 0; n < names; ++n) {
    b[64 + 32 * n] = 0xC1;
    for (size_t u = 0; u < 15 && n * 15 + u < name.size(); ++u)
      put16(b, 64 + 32 * n + 2 + 2 * u, name[n * 15 + u]);
  }
  put16(b, 2, vk::exfat_set_checksum(b.data(), 2 + names));
  if (!live)
    for (size_t k = 0; k < b.size(); k += 32) b[k] &= 0x7F;
  return b;
}

// 512-byte sectors and clusters; table at sector 1, heap at sector 2, 60
// clusters; the root folder in cluster 2 holds "contig.bin" (clusters 3-5,
// "no FAT chain", table entries 0) and "chained.bin" (6, 8, 7), and a
// deleted "old.txt" (cluster 9).
inline image_t exfat_image() {
  image_t b(2 * 512 + 12 * 512, 0);
  put_text(b, 3, "EXFAT   ");
  put64(b, 72, 62);
  put32(b, 80, 1);
  put32(b, 84, 1);
  put32(b, 88, 2);
  put32(b, 92, 60);
  put32(b, 96, 2);
  put32(b, 100, 0xE0F1A2B3);
  b[108] = 9;
  b[109] = 0;
  b[510] = 0x55;
  b[511] = 0xAA;
  const size_t fat = 512;
  put32(b, fat, 0xFFFFFFF8);
  put32(b, fat + 4, 0xFFFFFFFF);
  put32(b, fat + 4 * 2, 0xFFFFFFFF);
  put32(b, fat + 4 * 6, 8);
  put32(b, fat + 4 * 8, 7);
  put32(b, fat + 4 * 7, 0xFFFFFFFF);
  size_t at = 1024;  // cluster 2
  b[at] = 0x83;      // volume label
  at += 32;
  for (const image_t& set : {exfat_file_set(u"contig.bin", 0x03, 3, 1300, true),
                             exfat_file_set(u"chained.bin", 0x01, 6, 1500, true),
                             exfat_file_set(u"old.txt", 0x03, 9, 100, false)}) {
    std::copy(set.begin(), set.end(), b.begin() + static_cast<long>(at));
    at += set.size();
  }
  return b;
}

// ---- ext ----

struct ext_inode_spec {
  uint32_t number;
  uint16_t mode;  // 0x81A4 file, 0x41ED folder
  uint64_t size;
  bool extents;
  std::vector<uint32_t> block;  // i_block as 15 words (or the extent root)
};

inline constexpr uint32_t k_ext_inode_table = 5;  // block of the inode table

// An ext volume of 1 KiB blocks and 64 blocks: superblock in block 1, group
// descriptors in 2, 16 inodes of inode_size bytes from block 5. Its inodes:
//  12: block map starting with a hole: blocks 1-11 at 21-31, 12-15 through
//      the single-indirect block 32 (33-36), size 20 blocks (a hole at the end);
//  13: extent tree of depth 1: leaf block 40 maps 0-1 to 41-42 and 5 to 45;
//  14: a double-indirect block 50 -> 51 -> 52 for block 268 only;
//  15: a triple-indirect block 55 -> 56 -> 57 -> 58 for block 65804 only.
// extra adds more inodes (or replaces these).
inline image_t ext_image(uint16_t inode_size = 256, const std::vector<ext_inode_spec>& extra = {}) {
  constexpr size_t bs = 1024;
  image_t b(64 * bs, 0);
  const size_t sb = 1024;
  put32(b, sb + 0, 16);     // inodes
  put32(b, sb + 4, 64);     // blocks
  put32(b, sb + 20, 1);     // first data block
  put32(b, sb + 24, 0);     // 1 KiB blocks
  put32(b, sb + 32, 8192);  // blocks per group
  put32(b, sb + 40, 16);    // inodes per group
  put32(b, sb + 44, 1700000000);
  put16(b, sb + 56, 0xEF53);
  put32(b, sb + 76, 1);  // dynamic revision
  put32(b, sb + 84, 11);
  put16(b, sb + 88, inode_size);
  put32(b, sb + 96, 0x0040);  // extents
  put_text(b, sb + 120, "seedvol");
  const size_t gd = 2 * bs;
  put32(b, gd + 0, 3);
  put32(b, gd + 4, 4);
  put32(b, gd + 8, k_ext_inode_table);
  std::vector<ext_inode_spec> inodes = {
      {2, 0x41ED, 1024, true, {0x0001F30A, 0x00000004, 0, 0, 1, 20}},
      {12, 0x81A4, 20 * bs, false, {0, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32}},
      {13, 0x81A4, 6 * bs, true, {0x0001F30A, 0x00010004, 0, 0, 40}},
      {14, 0x81A4, 269 * bs, false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50}},
      {15, 0x81A4, 65805ull * bs, false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 55}},
  };
  inodes.insert(inodes.end(), extra.begin(), extra.end());
  for (const auto& in : inodes) {
    const size_t at = k_ext_inode_table * bs + size_t{in.number - 1} * inode_size;
    if (at + inode_size > b.size()) continue;
    std::fill(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + inode_size), 0);
    put16(b, at + 0, in.mode);
    put32(b, at + 4, static_cast<uint32_t>(in.size));
    put32(b, at + 12, 1700000000);
    put16(b, at + 26, 1);
    put32(b, at + 32, in.extents ? 0x80000 : 0);
    put32(b, at + 108, static_cast<uint32_t>(in.size >> 32));
    for (size_t i = 0; i < in.block.size() && i < 15; ++i) put32(b, at + 40 + 4 * i, in.block[i]);
  }
  // Single-indirect block 32 of inode 12.
  for (uint32_t i = 0; i < 4; ++i) put32(b, 32 * bs + 4 * i, 33 + i);
  // Leaf block 40 of inode 13.
  put16(b, 40 * bs, 0xF30A);
  put16(b, 40 * bs + 2, 2);
  put16(b, 40 * bs + 4, 84);
  put32(b, 40 * bs + 12, 0);
  put16(b, 40 * bs + 16, 2);
  put32(b, 40 * bs + 20, 41);
  put32(b, 40 * bs + 24, 5);
  put16(b, 40 * bs + 28, 1);
  put32(b, 40 * bs + 32, 45);
  put32(b, 50 * bs, 51);
  put32(b, 51 * bs, 52);
  put32(b, 55 * bs, 56);
  put32(b, 56 * bs, 57);
  put32(b, 57 * bs, 58);
  // Data blocks hold their own number, so that a read shows which was read.
  for (uint32_t blk = 20; blk < 64; ++blk)
    if (blk != 32 && blk != 40 && (blk < 50 || blk > 57 || blk == 52))
      for (size_t k = 0; k < bs; k += 4) put32(b, blk * bs + k, blk);
  return b;
}

// Seals the metadata checksums of an ext_image made a metadata_csum volume:
// the extent and folder blocks named (inode, block), every inode in use of
// the table, group 0's descriptor and the superblock, in that order (each
// checksum covers what the later ones do not).
inline void seal_ext_image(image_t& b, uint16_t inode_size,
                           const std::vector<std::pair<uint32_t, uint32_t>>& extent_blocks,
                           const std::vector<std::pair<uint32_t, uint32_t>>& folder_blocks) {
  constexpr size_t bs = 1024;
  vk::ext_superblock sb;  // not ext_superblock_from: its checksum is not sealed yet
  std::copy_n(&b[1024], 1024, sb.m_raw.begin());
  const auto inode_at = [&](uint32_t n) {
    return &b[k_ext_inode_table * bs + size_t{n - 1} * inode_size];
  };
  for (const auto& [inode, block] : extent_blocks) {
    const size_t tail = 12 + 12 * size_t{vk::load_le16(&b[block * bs + 4])};
    put32(b, block * bs + tail,
          vk::crc32c_update_register(vk::ext_inode_seed(sb, inode, inode_at(inode)), &b[block * bs],
                                     tail));
  }
  for (const auto& [inode, block] : folder_blocks)
    put32(b, block * bs + bs - 4,
          vk::crc32c_update_register(vk::ext_inode_seed(sb, inode, inode_at(inode)), &b[block * bs],
                                     bs - 12));
  for (uint32_t n = 1; n <= 16; ++n) {
    uint8_t* in = inode_at(n);
    if (std::all_of(in, in + inode_size, [](uint8_t v) { return v == 0; })) continue;
    bool wide = false;
    const uint32_t c = vk::ext_inode_checksum(sb, n, in, inode_size, wide);
    vk::store_le16(in + 124, static_cast<uint16_t>(c));
    if (wide) vk::store_le16(in + 130, static_cast<uint16_t>(c >> 16));
  }
  put16(b, 2 * bs + 30, vk::ext_descriptor_checksum(sb, 0, &b[2 * bs], 32));
  put32(b, 1024 + 1020, vk::ext_superblock_checksum(sb));
}

// ext_image as a metadata_csum volume: a UUID, 32 extra bytes in every
// inode (the checksum's high half), the root folder's block 20 a leaf of
// "." and ".." that ends in its checksum entry, and every checksum sealed.
inline image_t ext_csum_image(uint16_t inode_size = 256,
                              const std::vector<ext_inode_spec>& extra = {}) {
  constexpr size_t bs = 1024;
  image_t b = ext_image(inode_size, extra);
  put32(b, 1024 + 100, vk::load_le32(&b[1024 + 100]) | vk::ext_ro_compat_metadata_csum);
  for (int i = 0; i < 16; ++i) b[1024 + 104 + i] = static_cast<uint8_t>(0xA0 + i);
  if (inode_size > 128)
    for (uint32_t n = 1; n <= 16; ++n) {
      const size_t at = k_ext_inode_table * bs + size_t{n - 1} * inode_size;
      if (vk::load_le16(&b[at]) != 0) put16(b, at + 128, 32);
    }
  const size_t dir = 20 * bs;
  std::fill(b.begin() + dir, b.begin() + dir + bs, 0);
  put32(b, dir, 2);
  put16(b, dir + 4, 12);
  b[dir + 6] = 1;
  b[dir + 7] = 2;
  b[dir + 8] = '.';
  put32(b, dir + 12, 2);
  put16(b, dir + 16, bs - 24 - 12);
  b[dir + 18] = 2;
  b[dir + 19] = 2;
  b[dir + 20] = '.';
  b[dir + 21] = '.';
  put16(b, dir + bs - 8, 12);
  b[dir + bs - 5] = 0xDE;
  seal_ext_image(b, inode_size, {{13, 40}}, {{2, 20}});
  return b;
}

// An ext volume with meta_bg: 1 KiB blocks, ext_meta_bg_groups groups of
// 8 blocks and 2 inodes of 128 bytes; descriptors of 64 bytes (wide, a
// 64bit volume) or 32. The first descriptor block lies after the
// superblock (s_first_meta_bg 1), every later one in the first block of
// its meta group (no superblock backup there: groups 16 and 32 are even).
// Group g's inode table is block 8g + 5; its inodes 2g + 1 and 2g + 2 have
// the sizes 1000 + g and 2000 + g.
inline constexpr uint32_t ext_meta_bg_groups = 40;
inline image_t ext_meta_bg_image(bool wide) {
  constexpr size_t bs = 1024;
  constexpr uint32_t groups = ext_meta_bg_groups;
  image_t b((1 + 8 * size_t{groups}) * bs, 0);
  const size_t sb = 1024;
  put32(b, sb + 0, 2 * groups);
  put32(b, sb + 4, 1 + 8 * groups);
  put32(b, sb + 20, 1);
  put32(b, sb + 32, 8);
  put32(b, sb + 40, 2);
  put32(b, sb + 44, 1700000000);
  put16(b, sb + 56, 0xEF53);
  put32(b, sb + 76, 1);
  put32(b, sb + 84, 11);
  put16(b, sb + 88, 128);
  put32(b, sb + 96, 0x0010 | 0x0040 | (wide ? 0x0080 : 0));
  put32(b, sb + 100, 0x0001);
  put16(b, sb + 254, wide ? 64 : 0);
  put32(b, sb + 260, 1);
  const size_t desc = wide ? 64 : 32;
  const size_t per_block = bs / desc;
  for (uint32_t g = 0; g < groups; ++g) {
    const size_t index = g / per_block;
    const size_t block = index == 0 ? 2 : 1 + 8 * index * per_block;
    const uint32_t table = 8 * g + 5;
    put32(b, block * bs + (g % per_block) * desc + 8, table);
    for (uint32_t k = 0; k < 2; ++k) {
      const size_t at = size_t{table} * bs + 128 * k;
      put16(b, at + 0, 0x81A4);
      put32(b, at + 4, 1000 * (k + 1) + g);
      put32(b, at + 12, 1700000000);
      put16(b, at + 26, 1);
    }
  }
  return b;
}

// Writes inode number of an ext_image as an inline-data file of content:
// up to 60 bytes in its block area, the rest as the value of its in-inode
// "system.data" attribute (32 extra inode bytes, then the attribute magic,
// one entry, the end mark and the value). value_bytes (when not ~0) cuts
// the attribute's declared length; no_attribute leaves the area empty.
inline void put_ext_inline_inode(image_t& b, uint16_t inode_size, uint32_t number,
                                 const std::vector<uint8_t>& content,
                                 size_t value_bytes = ~size_t{0}, bool no_attribute = false) {
  const size_t at = k_ext_inode_table * 1024 + size_t{number - 1} * inode_size;
  std::fill(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + inode_size), 0);
  put16(b, at + 0, 0x81A4);
  put32(b, at + 4, static_cast<uint32_t>(content.size()));
  put32(b, at + 12, 1700000000);
  put16(b, at + 26, 1);
  put32(b, at + 32, 0x10000000);
  for (size_t i = 0; i < content.size() && i < 60; ++i) b[at + 40 + i] = content[i];
  if (inode_size <= 128) return;
  put16(b, at + 128, 32);
  if (no_attribute) return;
  const size_t first = at + 128 + 32 + 4;
  put32(b, first - 4, 0xEA020000);
  const size_t value_at = 24;  // entry (16 + "data"), end mark
  const size_t value = content.size() > 60 ? content.size() - 60 : 0;
  b[first] = 4;
  b[first + 1] = 7;
  put16(b, first + 2, static_cast<uint16_t>(value_at));
  put32(b, first + 8, static_cast<uint32_t>(std::min(value, value_bytes)));
  put_text(b, first + 16, "data");
  for (size_t i = 0; i < value && first + value_at + i < at + inode_size; ++i)
    b[first + value_at + i] = content[60 + i];
}

// ---- partition tables ----

inline void mbr_slot(image_t& b, size_t sector_at, int slot, uint8_t type, uint32_t lba,
                     uint32_t count) {
  const size_t at = sector_at + 446 + 16 * size_t(slot);
  b[at + 4] = type;
  put32(b, at + 8, lba);
  put32(b, at + 12, count);
  b[sector_at + 510] = 0x55;
  b[sector_at + 511] = 0xAA;
}

// 128 sectors: slot 0 FAT32 (0x0C) at 8 for 16, slot 1 extended (0x05) at
// 32 for 64 holding logicals 0x07 at 34 (10) and 0x83 at 50 (8), slot 2 a
// primary 0x83 at 100 for 20 behind the extended entry.
inline image_t mbr_image() {
  image_t b(128 * 512, 0);
  put32(b, 440, 0x12345678);
  mbr_slot(b, 0, 0, 0x0C, 8, 16);
  mbr_slot(b, 0, 1, 0x05, 32, 64);
  mbr_slot(b, 0, 2, 0x83, 100, 20);
  mbr_slot(b, 32 * 512, 0, 0x07, 2, 10);
  mbr_slot(b, 32 * 512, 1, 0x05, 16, 16);
  mbr_slot(b, 48 * 512, 0, 0x83, 2, 8);
  const image_t fat = fat_image(32, 16);
  std::copy(fat.begin(), fat.begin() + 512, b.begin() + 8 * 512);
  return b;
}

struct gpt_part {
  uint64_t first, last;
  uint64_t attributes;
  std::u16string name;
};

// The CRC-32 fields of the GPT header at byte at: its entry array's
// (array at the header's entry LBA in sectors of sector bytes), then the
// header's own over its declared size.
inline void seal_gpt_header(image_t& b, size_t at, uint32_t sector = 512) {
  const size_t array = static_cast<size_t>(vk::load_le64(&b[at + 72])) * sector;
  const size_t bytes = size_t{vk::load_le32(&b[at + 80])} * vk::load_le32(&b[at + 84]);
  if (array + bytes <= b.size()) put32(b, at + 88, ~vk::crc32_table_hash(b.data() + array, bytes));
  put32(b, at + 16, 0);
  put32(b, at + 16, ~vk::crc32_table_hash(b.data() + at, vk::load_le32(&b[at + 12])));
}

// 128 sectors of 512 bytes: protective MBR, header at LBA 1, an array of
// count 128-byte entries at LBA 2, the partitions in the order given; the
// backup header at LBA 127 with its copy of the array right before it.
inline image_t gpt_image(const std::vector<gpt_part>& parts, uint32_t count = 4) {
  image_t b(128 * 512, 0);
  mbr_slot(b, 0, 0, 0xEE, 1, 127);
  const size_t h = 512;
  put_text(b, h, "EFI PART");
  put32(b, h + 8, 0x00010000);
  put32(b, h + 12, 92);
  put64(b, h + 24, 1);
  put64(b, h + 32, 127);
  put64(b, h + 40, 34);
  put64(b, h + 48, 94);
  for (int i = 0; i < 16; ++i) b[h + 56 + i] = static_cast<uint8_t>(0x10 + i);
  put64(b, h + 72, 2);
  put32(b, h + 80, count);
  put32(b, h + 84, 128);
  const uint8_t basic_data[16] = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                  0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
  for (size_t i = 0; i < parts.size() && i < count; ++i) {
    const size_t e = 1024 + 128 * i;
    std::copy(basic_data, basic_data + 16, b.begin() + static_cast<long>(e));
    for (int k = 0; k < 16; ++k) b[e + 16 + k] = static_cast<uint8_t>(0x40 + 16 * i + k);
    put64(b, e + 32, parts[i].first);
    put64(b, e + 40, parts[i].last);
    put64(b, e + 48, parts[i].attributes);
    for (size_t k = 0; k < parts[i].name.size() && k < 36; ++k)
      put16(b, e + 56 + 2 * k, parts[i].name[k]);
  }
  const size_t array_bytes = size_t{count} * 128;
  const size_t backup_array = 127 - (array_bytes + 511) / 512;
  if (backup_array > 2 + (array_bytes + 511) / 512) {
    std::copy_n(b.begin() + 1024, array_bytes, b.begin() + static_cast<long>(backup_array * 512));
    const size_t bh = 127 * 512;
    std::copy_n(b.begin() + h, 92, b.begin() + static_cast<long>(bh));
    put64(b, bh + 24, 127);
    put64(b, bh + 32, 1);
    put64(b, bh + 72, backup_array);
    seal_gpt_header(b, bh);
  }
  seal_gpt_header(b, h);
  return b;
}

}  // namespace vesk_test
