// The two drives the drive-scan and volume-report tests put under a device
// root: "sda" (MBR, label-id 0x12345678, a FAT32 and an NTFS partition) and
// "sdb" (GPT with fixed GUIDs, an EFI and an NTFS partition). Every value
// the tools would pick at random is fixed, so the report can be compared
// with golden texts.
#pragma once

#include <fstream>
#include <string>

#include "disk/raw_disk_io.h"
#include "partition_images.h"

namespace vesk_test {

inline constexpr uint64_t k_ntfs_serial = 0x0123456789abcdefull;
inline constexpr char k_sdb_disk_guid[] = "11111111-2222-3333-4444-555555555555";

// Points the library's device root at a folder for the life of the object.
class device_root_scope {
 public:
  explicit device_root_scope(const std::string& root) { vk::set_device_root(root); }
  ~device_root_scope() { vk::set_device_root("/dev/"); }
  device_root_scope(const device_root_scope&) = delete;
  device_root_scope& operator=(const device_root_scope&) = delete;
};

// A 16 MiB NTFS volume with the serial k_ntfs_serial.
inline std::string make_fixed_ntfs(const std::string& path, std::string& why) {
  const std::string vol = make_volume(path, 16u << 20, "mkntfs", "-F -Q", &why);
  if (vol.empty()) return vol;
  std::fstream f(vol, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t serial[8];
  vk::store_le64(serial, k_ntfs_serial);
  f.seekp(72);
  f.write(reinterpret_cast<const char*>(serial), 8);
  return f ? vol : std::string();
}

// 64 MiB: FAT32 (0x0c, serial 0badcafe) at 2048 for 2048 sectors, NTFS
// (0x07) at 4096 for 32768 sectors; the rest free.
inline std::string make_sda(const std::string& disk, const std::string& scratch, std::string& why) {
  if (!have_tools({"sfdisk", "mkntfs", "mkfs.fat", "dd"}, why)) return std::string();
  make_sparse_file(disk, 64u << 20);
  bool ok = false;
  const std::string out = run_command(
      "printf 'label: dos\\nlabel-id: 0x12345678\\nunit: sectors\\n\\n"
      "start=2048, size=2048, type=c\\nstart=4096, size=32768, type=7\\n' | " +
          find_tool("sfdisk") + " -q " + shell_quote(disk),
      ok);
  if (!ok) {
    ADD_FAILURE() << out;
    return std::string();
  }
  const std::string fat =
      make_volume(scratch + "/sda-fat.vol", 1u << 20, "mkfs.fat", "-F 32 -s 1 -i 0badcafe", &why);
  const std::string ntfs = make_fixed_ntfs(scratch + "/sda-ntfs.vol", why);
  if (fat.empty() || ntfs.empty() || !put_volume(disk, fat, 2048) || !put_volume(disk, ntfs, 4096))
    return std::string();
  return disk;
}

// 32 MiB GPT, disk GUID k_sdb_disk_guid: "esp" (EF00, unformatted) at 2048
// for 1 MiB, "data" (0700, NTFS) at 4096 for 16 MiB.
inline std::string make_sdb(const std::string& disk, const std::string& scratch, std::string& why) {
  if (!have_tools({"sgdisk", "mkntfs", "dd"}, why)) return std::string();
  make_sparse_file(disk, 32u << 20);
  bool ok = false;
  const std::string out = run_command(
      find_tool("sgdisk") + " -o -U " + k_sdb_disk_guid +
          " -n 1:2048:+1M -t 1:ef00 -c 1:esp -u 1:aaaaaaaa-0000-0000-0000-000000000001"
          " -n 2:4096:+16M -t 2:0700 -c 2:data -u 2:aaaaaaaa-0000-0000-0000-000000000002 " +
          shell_quote(disk),
      ok);
  if (!ok) {
    ADD_FAILURE() << out;
    return std::string();
  }
  const std::string ntfs = make_fixed_ntfs(scratch + "/sdb-ntfs.vol", why);
  if (ntfs.empty() || !put_volume(disk, ntfs, 4096)) return std::string();
  return disk;
}

// A device root holding sda and sdb, with the volumes made on the way kept
// in a sibling folder.
struct two_drives {
  temp_tree root;
  temp_tree scratch;
  std::string sda, sdb, why;

  two_drives() {
    sda = make_sda(root.path("sda"), scratch.root(), why);
    if (!sda.empty()) sdb = make_sdb(root.path("sdb"), scratch.root(), why);
  }
  bool ok() const { return !sda.empty() && !sdb.empty(); }
};

}  // namespace vesk_test
