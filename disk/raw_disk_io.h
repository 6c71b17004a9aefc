// The one object through which the disk library reads a medium: a physical
// drive (by number or by device path), a disk image or any other file, at
// 64-bit byte offsets.
//
// The open flag always means a usable descriptor. Every read reports the
// bytes it actually delivered through its length argument and never hands
// out bytes it did not read; a write succeeds only when every byte was taken.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace vk {

// Access modes.
enum : uint32_t {
  disk_mode_path = 0,      // file or device by path: unaligned reads, writable
  disk_mode_aligned1 = 1,  // sector-aligned device reads (stored as 0 by path opens)
  disk_mode_aligned2 = 2,
  disk_mode_drive = 3,      // drive by number: reads widened to whole sectors
  disk_mode_snapshots = 4,  // snapshot collection: never opened
  disk_mode_probe = 5,      // drive probe: stays closed
  disk_mode_device_ns = 6,  // Windows device namespace path: refused here
  disk_mode_none = 8,       // after a reset
};

// The folder every device path is built in ("sd" + letter, "disk"N, ...);
// "/dev/" unless a caller (a test) points it elsewhere. Kept with its
// trailing '/'.
const std::string& device_root();
void set_device_root(const std::string& root);

// One extent of a remapped medium. A flagged extent has no backing data.
struct remap_extent {
  uint64_t m_target = 0;
  uint64_t m_start = 0;
  uint8_t m_flag = 0;
  uint32_t m_length = 0;
};

// First extent holding offset: its index and, unless it is flagged, the
// offset it maps to.
bool find_remap_extent(const std::vector<remap_extent>& table, uint64_t offset, size_t& index,
                       uint64_t& translated);

// Bits of the status word of a remapped read.
enum : uint32_t {
  remap_skip_unbacked = 1,  // in: leave flagged blocks out instead of zero-filling them
  remap_zero_filled = 2,    // out: some bytes were zero-filled
};

class RAW_DISK_IO {
 public:
  RAW_DISK_IO();
  // Physical drive by number (0 to 24). Mode 3 opens it; a deferred object,
  // a probe (mode 5) and every other mode stay closed.
  RAW_DISK_IO(int32_t drive, bool write, bool defer, uint32_t mode, bool unused1 = false,
              bool unused2 = false);
  RAW_DISK_IO(const std::wstring& path, bool write, uint8_t unused, uint32_t mode);
  RAW_DISK_IO(const wchar_t* path, bool write, uint8_t unused, uint32_t mode);
  RAW_DISK_IO(const std::string& path, bool write, uint8_t unused, uint32_t mode);
  // A snapshot collection: nothing is opened.
  RAW_DISK_IO(const std::vector<std::wstring>& snapshots, bool write);
  virtual ~RAW_DISK_IO();

  RAW_DISK_IO(const RAW_DISK_IO&) = delete;
  RAW_DISK_IO& operator=(const RAW_DISK_IO&) = delete;

  // Closes an open descriptor, then returns every field to the closed state.
  void reset();

  bool open_sd_drive(int32_t drive, bool write);
  bool open_file(const std::wstring& path, bool write, uint32_t mode);
  bool open_utf8_path(const std::string& path, bool write, uint32_t mode);
  bool open_dev_path(const std::string& path, bool write);
  bool open_dev_wpath(const wchar_t* path, bool write);
  // The result is whether the medium is open.
  bool open_path_mode(const std::wstring& path, bool write, uint32_t mode);
  bool reopen_file(bool write, bool force);
  bool reopen_drive(int32_t drive, bool write, bool force);
  bool reopen_volume(char letter, bool write, bool defer, bool force);
  bool open_volume(char letter, bool write);
  bool open_volume_letter(const std::string& letter, bool write);

  // Reads at most length bytes; length becomes the count delivered. False
  // for a closed object, a zero length, an offset at or past the end, a
  // failed transfer or nothing delivered.
  bool read(void* buffer, uint32_t& length, uint64_t offset, bool remap);
  bool read_at(void* buffer, uint32_t& length, uint64_t offset);
  bool read_unbounded(void* buffer, uint32_t& length, uint64_t offset, bool no_bounds);
  bool read_aligned(void* buffer, uint32_t& length, uint64_t offset);
  // Writes every byte (cut at the end of the medium) or fails.
  bool write_at(const void* buffer, uint32_t& length, uint64_t offset);

  bool read_remapped(const std::vector<remap_extent>& table, uint32_t block_size, uint64_t offset,
                     void* buffer, uint32_t& length, uint32_t& status);
  bool read_base_blocks(uint64_t offset, void* buffer, uint32_t& length);
  // Installs the extent table of a virtual medium.
  void set_remap(const std::vector<remap_extent>& table, uint32_t block_size, uint64_t base,
                 bool active);

  uint64_t size() const;
  bool size_parts(uint32_t& high, uint32_t& low) const;
  uint32_t bytes_per_sector() const;
  bool partition_info(uint32_t& number, uint64_t& start, uint64_t& length) const;

  bool is_open() const { return m_open != 0; }
  int fd() const { return m_fd; }
  uint32_t access_mode() const { return m_access_mode; }
  int32_t drive_number() const { return m_drive_number; }
  bool writable() const { return m_write != 0; }
  const std::string& path() const { return m_path; }
  const std::wstring& wide_path() const { return m_wpath; }
  uint32_t media_type() const { return m_media_type; }
  uint64_t cylinders() const { return m_cylinders; }
  uint32_t tracks_per_cylinder() const { return m_tracks_per_cylinder; }
  uint32_t sectors_per_track() const { return m_sectors_per_track; }
  uint32_t cluster_size() const { return m_cluster_size; }
  // Whether reads asked for remapping go through the extent table.
  bool remap_active() const { return m_remap_active != 0; }
  void set_cluster_size(uint32_t bytes) { m_cluster_size = bytes; }
  // Bytes delivered by the medium since it was opened: what a walk cost.
  uint64_t bytes_read() const { return m_bytes_read; }

 private:
  void close_descriptor();
  bool open_descriptor(const std::string& path, bool write);
  bool transfer_ok(void* buffer, uint32_t length, uint64_t offset) const;
  bool read_direct(void* buffer, uint32_t& length, uint64_t offset, bool bounded);

  std::wstring m_device_name;
  int32_t m_drive_number = -1;
  uint8_t m_write = 0;
  uint32_t m_handle = 0xFFFFFFFFu;  // no handle-based devices on this platform
  int m_fd = -1;
  uint64_t m_cylinders = 0;
  uint32_t m_media_type = 0;
  uint32_t m_tracks_per_cylinder = 0;
  uint32_t m_sectors_per_track = 0;
  uint32_t m_bytes_per_sector = 0;
  uint32_t m_remap_block_size = 0;
  std::vector<remap_extent> m_remap_table;
  uint64_t m_remap_base = 0;
  uint8_t m_remap_active = 0;
  std::string m_path;
  std::wstring m_wpath;
  uint32_t m_access_mode = disk_mode_none;
  uint8_t m_open = 0;
  uint64_t m_size = 0;
  uint32_t m_cluster_size = 0;  // 0 = none
  uint64_t m_bytes_read = 0;
};

// "3.5 floppy 1.44MB; 512 bytes/sector", "RemovableMedia", "FixedMedia";
// any other code "unknown" when show_unnamed is set, else nothing.
std::ostream& print_media_type(std::ostream& out, uint32_t code, bool show_unnamed);
std::string bus_type_name(uint32_t code);
// Right-aligned, '0'-filled hexadecimal.
std::ostream& hex_zero_fill(std::ostream& out);
std::ostream& hex_zero_fill_stdout();

// Device and volume name services, which this platform does not offer.
bool query_device_names(std::vector<std::wstring>& names);
bool is_device_name(const std::wstring& name);
bool is_dos_device_name(const std::wstring& name);
bool query_volume_lists(std::vector<std::wstring>& a, std::vector<std::wstring>& b,
                        std::vector<std::wstring>& c);

}  // namespace vk
