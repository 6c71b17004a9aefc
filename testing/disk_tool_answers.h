// What the tests that compare the disk library with the real tools share:
// the runs as (first cluster, count) pairs, a command that must succeed,
// whether the tools are there, the bytes written into the images, an
// ntfs-3g mount and the walk of an NTFS image's table.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk_images.h"
#include "foundation/vk_guid.h"

namespace vesk_test {

using run_pair = std::pair<uint64_t, uint64_t>;

// A sparse run's first cluster shows as 0.
inline std::vector<run_pair> pairs_of(const vk::cluster_runs& runs) {
  std::vector<run_pair> out;
  for (const auto& r : runs.m_runs) out.emplace_back(r.sparse() ? 0 : r.m_first, r.count());
  return out;
}

inline std::string run_ok(const std::string& command) {
  bool ok = false;
  std::string out = run_command("sh -c " + shell_quote(command), ok);
  EXPECT_TRUE(ok) << command << ": " << out;
  return out;
}

// False, with why, when one of the tools is not installed.
inline bool have(std::initializer_list<const char*> tools, std::string& why) {
  for (const char* t : tools)
    if (find_tool(t).empty()) {
      why = std::string(t) + " is not installed";
      return false;
    }
  return true;
}

inline std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Bytes that differ from cluster to cluster, so that a read from the wrong
// place shows.
inline std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 17) ^ (i >> 7));
  return v;
}

// An NTFS image mounted through ntfs-3g (FUSE) for the life of the object.
class ntfs3g_mount {
 public:
  ntfs3g_mount(const std::string& image, const std::string& dir) : m_dir(dir) {
    std::filesystem::create_directories(dir);
    const std::string tool = find_tool("ntfs-3g");
    if (tool.empty()) {
      m_why = "ntfs-3g is not installed";
      return;
    }
    bool ok = false;
    const std::string out =
        run_command(tool + " -o compression " + shell_quote(image) + " " + shell_quote(dir), ok);
    if (ok)
      m_mounted = true;
    else
      m_why = "no FUSE mount here: " + out;
  }
  ~ntfs3g_mount() { unmount(); }
  bool unmount() {
    if (!m_mounted) return true;
    bool ok = false;
    run_command("umount " + shell_quote(m_dir) + " || fusermount -u " + shell_quote(m_dir), ok);
    m_mounted = !ok;
    return ok;
  }
  bool mounted() const { return m_mounted; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_dir;
  bool m_mounted = false;
  std::string m_why;
};

// The table of the NTFS volume at the start of an image, walked in place,
// each record keeping what the options ask.
inline bool load_table(vk::_inode_collection& c, vk::RAW_DISK_IO& disk,
                       uint32_t options = vk::mft_keep_data_runs) {
  vk::ntfs_volume_map map;
  if (!vk::ntfs_volume_map_from_boot(map, &disk, 0)) return false;
  const vk::data_run& first = map.m_mft_runs.front();
  c.m_all_records = 1;
  c.m_options = options;
  return c.attach_disk(&disk, false, nullptr, nullptr, uint64_t{first.m_count} * map.m_cluster_size,
                       first.m_cluster * map.m_cluster_size);
}

// Writes BYTES over an image file at OFFSET (the image made by a real tool,
// then damaged where a test needs it).
inline void write_at(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A digest as md5sum and icat | md5sum print it.
inline std::string md5_text(const vk::guid& g) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : g.m_bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace vesk_test
