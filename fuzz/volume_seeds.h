// Seeds of the volume fuzz targets, written by the test-side volume writer:
// partitioned disks, boot sectors, and small FAT, exFAT and ext volumes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "volume_writer.h"

namespace vesk_fuzz {

// Target name -> its seeds.
using volume_seed_map = std::map<std::string, std::vector<std::vector<uint8_t>>>;

inline const std::vector<std::string>& volume_target_names() {
  static const std::vector<std::string> names = {"partition_walk", "boot_sector", "fat", "exfat",
                                                 "ext"};
  return names;
}

inline volume_seed_map volume_seeds() {
  using namespace vesk_test;
  volume_seed_map seeds;
  const image_t mbr = mbr_image();
  const image_t gpt = gpt_image({{80, 99, 0x8000000000000001ull, u"second"},
                                 {40, 59, 0, u"first"},
                                 {100, 119, 0x0001000000000000ull, u"third"}});
  seeds["partition_walk"] = {mbr, gpt, fat_image(32, 64), exfat_image()};
  for (const image_t& v :
       {fat_image(12), fat_image(16, 70000), fat_image(32, 16), exfat_image(), ext_image()}) {
    seeds["boot_sector"].emplace_back(v.begin(), v.begin() + std::min<size_t>(v.size(), 4096));
    seeds["fat"].push_back(v);
  }
  seeds["fat"].resize(3);
  seeds["exfat"] = {exfat_image()};
  // Inline data: a short file and one whose rest is in its attribute.
  image_t inline_files = ext_image();
  put_ext_inline_inode(inline_files, 256, 3, std::vector<uint8_t>(20, 'a'));
  put_ext_inline_inode(inline_files, 256, 4, std::vector<uint8_t>(100, 'b'));
  // A metadata_csum volume: every checksum sealed, so that mutations meet
  // the checks behind them.
  seeds["ext"] = {ext_image(), ext_image(128), ext_image(512), inline_files, ext_csum_image()};
  // A cut GPT disk: one partition past the end.
  seeds["partition_walk"].push_back(gpt_image({{40, 59, 0, u"in"}, {300, 400, 0, u"past"}}));
  // A sound primary GPT whose backup header is damaged.
  image_t backup_damaged = gpt;
  backup_damaged[127 * 512 + 60] ^= 0x5A;
  seeds["partition_walk"].push_back(backup_damaged);
  // An extended chain whose second boot record lies past the end.
  image_t cut_chain(64 * 512, 0);
  mbr_slot(cut_chain, 0, 0, 0x83, 8, 16);
  mbr_slot(cut_chain, 0, 1, 0x05, 32, 100);
  mbr_slot(cut_chain, 32 * 512, 0, 0x07, 2, 10);
  mbr_slot(cut_chain, 32 * 512, 1, 0x05, 80, 20);
  seeds["partition_walk"].push_back(cut_chain);
  // Inode 11: an extent tree of depth 2 whose index block 60 names itself.
  image_t looped =
      ext_image(256, {{11, 0x81A4, 3 * 1024, true, {0x0001F30A, 0x00020004, 0, 0, 60}}});
  std::fill(looped.begin() + 60 * 1024, looped.begin() + 61 * 1024, 0);
  put16(looped, 60 * 1024, 0xF30A);
  put16(looped, 60 * 1024 + 2, 1);
  put16(looped, 60 * 1024 + 4, 84);
  put16(looped, 60 * 1024 + 6, 1);
  put32(looped, 60 * 1024 + 16, 60);
  seeds["ext"].push_back(looped);
  return seeds;
}

}  // namespace vesk_fuzz
