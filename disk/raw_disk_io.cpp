#include "disk/raw_disk_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <memory>
#include <new>

#include "foundation/uni_fileio.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr size_t kMaxDevPath = 32;

std::string& root_setting() {
  static std::string root = "/dev/";
  return root;
}

// Size of an open medium: the block-device size request for a device, a seek
// to the end for anything else. False when neither answers.
bool medium_size(int fd, uint64_t& size) {
  struct stat st;
  if (posix_fstat(fd, st) && S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
      size = bytes;
      return true;
    }
  }
  const int64_t end = posix_lseek(fd, 0, SEEK_END);
  if (end < 0) return false;
  posix_lseek(fd, 0, SEEK_SET);
  size = static_cast<uint64_t>(end);
  return true;
}

std::unique_ptr<uint8_t[]> scratch(uint64_t bytes) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

}  // namespace

const std::string& device_root() {
  return root_setting();
}

void set_device_root(const std::string& root) {
  root_setting() = root;
  if (root_setting().empty() || root_setting().back() != '/') root_setting() += '/';
}

bool find_remap_extent(const std::vector<remap_extent>& table, uint64_t offset, size_t& index,
                       uint64_t& translated) {
  for (size_t i = 0; i < table.size(); ++i) {
    const remap_extent& e = table[i];
    if (offset < e.m_start || offset - e.m_start >= e.m_length) continue;
    index = i;
    if (!e.m_flag) translated = e.m_target + (offset - e.m_start);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------

RAW_DISK_IO::RAW_DISK_IO() {
  reset();
}

RAW_DISK_IO::RAW_DISK_IO(int32_t drive, bool write, bool defer, uint32_t mode, bool, bool) {
  reset();
  if (drive < 0 || drive > 24) return;
  m_access_mode = mode;
  m_drive_number = drive;
  m_write = write;
  if (defer || mode == disk_mode_probe) return;
  // Only mode 3 opens a drive by number; other modes have nothing to open.
  if (mode == disk_mode_drive) open_sd_drive(drive, write);
}

RAW_DISK_IO::RAW_DISK_IO(const std::wstring& path, bool write, uint8_t, uint32_t mode) {
  reset();
  if (!path.empty()) open_path_mode(path, write, mode);
}

RAW_DISK_IO::RAW_DISK_IO(const wchar_t* path, bool write, uint8_t unused, uint32_t mode)
    : RAW_DISK_IO(path ? std::wstring(path) : std::wstring(), write, unused, mode) {}

RAW_DISK_IO::RAW_DISK_IO(const std::string& path, bool write, uint8_t, uint32_t mode) {
  reset();
  if (path.empty()) return;
  const std::wstring wide = from_utf8(path);
  if (!wide.empty()) open_path_mode(wide, write, mode);
}

RAW_DISK_IO::RAW_DISK_IO(const std::vector<std::wstring>& snapshots, bool write) {
  reset();
  if (snapshots.empty()) return;
  m_access_mode = disk_mode_snapshots;
  m_write = write;
}

RAW_DISK_IO::~RAW_DISK_IO() {
  close_descriptor();
}

void RAW_DISK_IO::close_descriptor() {
  if (m_fd != -1) posix_close(m_fd);
  m_fd = -1;
  m_open = 0;
}

void RAW_DISK_IO::reset() {
  close_descriptor();
  m_device_name.clear();
  m_path.clear();
  m_wpath.clear();
  m_drive_number = -1;
  m_handle = 0xFFFFFFFFu;
  m_write = 0;
  m_cylinders = 0;
  m_media_type = 0;
  m_tracks_per_cylinder = 0;
  m_sectors_per_track = 0;
  m_bytes_per_sector = 0;
  m_remap_block_size = 0;
  m_remap_base = 0;
  m_remap_active = 0;
  m_remap_table.clear();
  m_access_mode = disk_mode_none;
  m_size = 0;
  m_cluster_size = 0;
  m_bytes_read = 0;
}

bool RAW_DISK_IO::open_descriptor(const std::string& path, bool write) {
  close_descriptor();
  const int fd =
      write ? uni::open_file_fd(path, O_RDWR, 0606) : uni::open_file_fd(path, O_RDONLY, 0404);
  if (fd == -1) return false;
  uint64_t size = 0;
  if (!medium_size(fd, size)) {
    const int saved = errno;
    posix_close(fd);
    errno = saved;
    return false;
  }
  m_fd = fd;
  m_size = size;
  m_write = write;
  m_bytes_per_sector = kSectorSize;
  return true;
}

bool RAW_DISK_IO::open_sd_drive(int32_t drive, bool write) {
  close_descriptor();
  m_drive_number = drive;
  m_write = write;
  if (drive < 0 || drive >= 20) return false;
  const std::string path = device_root() + "sd" + static_cast<char>('a' + drive);
  if (!open_descriptor(path, write)) {
    std::fprintf(stderr, "prob opening %s, error %d\n", path.c_str(), errno);
    return false;
  }
  m_path = path;
  m_wpath = from_utf8(path);
  if (m_access_mode == disk_mode_none) m_access_mode = disk_mode_drive;
  m_open = 1;
  return true;
}

bool RAW_DISK_IO::open_file(const std::wstring& path, bool write, uint32_t mode) {
  if (mode > disk_mode_drive) return false;
  close_descriptor();
  m_wpath = path;
  m_write = write;
  // A path that does not encode completely must not open some other file.
  if (!wide_to_utf8(path, m_path)) return false;
  if (!open_descriptor(m_path, write)) return false;
  m_access_mode = mode;
  m_open = 1;
  return true;
}

bool RAW_DISK_IO::open_utf8_path(const std::string& path, bool write, uint32_t mode) {
  m_path = path;
  const std::wstring wide = from_utf8(path);
  if (wide.empty()) return false;
  return open_file(wide, write, mode);
}

bool RAW_DISK_IO::open_dev_path(const std::string& path, bool write) {
  if (path.size() > kMaxDevPath || path.find(device_root()) == std::string::npos) return false;
  reset();
  const std::string device = path.substr(0, path.find(':'));
  if (!open_descriptor(device, write)) {
    reset();
    return false;
  }
  struct hd_geometry geometry {};
  if (::ioctl(m_fd, HDIO_GETGEO, &geometry) != 0) {
    reset();
    return false;
  }
  m_cylinders = geometry.cylinders;
  m_media_type = 1;
  m_tracks_per_cylinder = geometry.heads;
  m_sectors_per_track = geometry.sectors;
  m_path = path;
  m_wpath = from_utf8(path);
  m_access_mode = disk_mode_path;
  m_open = 1;
  return true;
}

bool RAW_DISK_IO::open_dev_wpath(const wchar_t* path, bool write) {
  if (!path) return false;
  std::string narrow;
  if (!wide_to_utf8(path, narrow)) return false;
  return open_dev_path(narrow, write);
}

bool RAW_DISK_IO::open_path_mode(const std::wstring& path, bool write, uint32_t mode) {
  reset();
  if (path.empty()) return false;
  if (mode <= disk_mode_drive) {
    m_access_mode = disk_mode_path;
    return open_file(path, write, disk_mode_path);
  }
  if (mode == disk_mode_device_ns) {
    m_access_mode = mode;
    const std::wstring prefix = L"\\\\.\\";
    const std::wstring full = path.compare(0, prefix.size(), prefix) == 0 ? path : prefix + path;
    return open_file(full, write, mode);  // refused: no such namespace here
  }
  return false;
}

bool RAW_DISK_IO::reopen_file(bool write, bool force) {
  if (m_open && !force) return false;
  if (m_access_mode != disk_mode_path) return false;
  const std::wstring kept = m_wpath;
  reset();
  return open_file(kept, write, disk_mode_path);
}

bool RAW_DISK_IO::reopen_drive(int32_t drive, bool write, bool force) {
  if (m_open && !force) return false;
  const uint32_t mode = m_access_mode;
  reset();
  m_access_mode = mode;
  return open_sd_drive(drive, write);
}

bool RAW_DISK_IO::reopen_volume(char letter, bool write, bool defer, bool force) {
  if (m_open && !force) return false;
  const uint32_t mode = m_access_mode;
  const std::wstring kept = m_wpath;
  reset();
  m_access_mode = mode;
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (lower < 'a' || lower > 'z') return false;
  if (defer) return false;
  if (mode != disk_mode_path)
    open_volume(lower, write);
  else
    open_file(kept, write, disk_mode_path);
  return m_open != 0;
}

bool RAW_DISK_IO::open_volume(char letter, bool write) {
  return open_volume_letter(std::string(1, letter), write);
}

bool RAW_DISK_IO::open_volume_letter(const std::string& letter, bool) {
  m_device_name = L"\\\\.\\" + from_utf8(letter) + L":";
  return false;  // volumes by letter do not exist on this platform
}

// ---------------------------------------------------------------------------

bool RAW_DISK_IO::transfer_ok(void* buffer, uint32_t length, uint64_t offset) const {
  return buffer && m_open && m_fd != -1 && length != 0 && offset < m_size;
}

bool RAW_DISK_IO::read_direct(void* buffer, uint32_t& length, uint64_t offset, bool bounded) {
  uint64_t want = length;
  if (bounded) want = std::min<uint64_t>(want, m_size - offset);
  const io_result r = posix_pread_full(m_fd, buffer, static_cast<size_t>(want), offset);
  if (r.failed() || r.count == 0) return false;
  m_bytes_read += r.count;
  length = static_cast<uint32_t>(r.count);
  return true;
}

bool RAW_DISK_IO::read(void* buffer, uint32_t& length, uint64_t offset, bool remap) {
  if (!transfer_ok(buffer, length, offset)) return false;
  if (remap && m_remap_active) {
    uint32_t status = 0;
    return read_remapped(m_remap_table, m_remap_block_size, offset, buffer, length, status);
  }
  switch (m_access_mode) {
    case disk_mode_path:
      return read_direct(buffer, length, offset, true);
    case disk_mode_aligned1:
    case disk_mode_aligned2:
    case disk_mode_drive:
      return read_aligned(buffer, length, offset);
    default:
      return false;
  }
}

bool RAW_DISK_IO::read_at(void* buffer, uint32_t& length, uint64_t offset) {
  return read(buffer, length, offset, false);
}

bool RAW_DISK_IO::read_unbounded(void* buffer, uint32_t& length, uint64_t offset, bool no_bounds) {
  if (!no_bounds) return read(buffer, length, offset, false);
  if (!buffer || !m_open || m_fd == -1 || length == 0) return false;
  if (m_access_mode == disk_mode_path) return read_direct(buffer, length, offset, false);
  if (m_access_mode >= disk_mode_aligned1 && m_access_mode <= disk_mode_drive)
    return read_aligned(buffer, length, offset);
  return false;
}

bool RAW_DISK_IO::read_aligned(void* buffer, uint32_t& length, uint64_t offset) {
  const uint32_t sector = m_bytes_per_sector;
  if (!buffer || !m_open || m_fd == -1 || length == 0 || sector == 0) return false;
  const uint64_t head = offset % sector;
  const uint64_t start = offset - head;
  uint64_t total = (head + length + sector - 1) / sector * sector;
  // Never past the end of the medium: the tail of the last sector may be
  // all the medium has.
  if (m_size) {
    if (start >= m_size) return false;
    total = std::min(total, m_size - start);
  }
  if (head == 0 && total <= length) {
    const io_result r = posix_pread_full(m_fd, buffer, static_cast<size_t>(total), start);
    if (!r.failed()) m_bytes_read += r.count;
    if (r.failed() || r.count == 0) return false;
    length = static_cast<uint32_t>(r.count);
    return true;
  }
  auto block = scratch(total);
  if (!block) return false;
  const io_result r = posix_pread_full(m_fd, block.get(), static_cast<size_t>(total), start);
  if (!r.failed()) m_bytes_read += r.count;
  if (r.failed() || r.count <= head) return false;
  const uint64_t delivered = std::min<uint64_t>(length, r.count - head);
  std::memcpy(buffer, block.get() + head, static_cast<size_t>(delivered));
  length = static_cast<uint32_t>(delivered);
  return true;
}

bool RAW_DISK_IO::write_at(const void* buffer, uint32_t& length, uint64_t offset) {
  if (!m_write || (m_access_mode != disk_mode_path && m_access_mode != disk_mode_drive))
    return false;
  if (!transfer_ok(const_cast<void*>(buffer), length, offset)) return false;
  const uint64_t want = std::min<uint64_t>(length, m_size - offset);
  const io_result r = posix_pwrite_full(m_fd, buffer, static_cast<size_t>(want), offset);
  if (r.failed() || r.count != want) return false;
  length = static_cast<uint32_t>(want);
  return true;
}

void RAW_DISK_IO::set_remap(const std::vector<remap_extent>& table, uint32_t block_size,
                            uint64_t base, bool active) {
  m_remap_table = table;
  m_remap_block_size = block_size;
  m_remap_base = base;
  m_remap_active = active;
}

bool RAW_DISK_IO::read_base_blocks(uint64_t offset, void* buffer, uint32_t& length) {
  if (!m_remap_block_size || length == 0 || length % m_remap_block_size != 0 || !m_open)
    return false;
  if (offset > UINT64_MAX - m_remap_base) return false;
  return read(buffer, length, offset + m_remap_base, false);
}

bool RAW_DISK_IO::read_remapped(const std::vector<remap_extent>& table, uint32_t block_size,
                                uint64_t offset, void* buffer, uint32_t& length, uint32_t& status) {
  if (!block_size || table.empty() || !buffer || length == 0) return false;
  if (offset > UINT64_MAX - length) return false;
  const bool skip_unbacked = (status & remap_skip_unbacked) != 0;
  const uint64_t end = offset + length;
  const uint64_t first = offset / block_size;
  const uint64_t last = (end - 1) / block_size;
  status = 8;
  if (first % 65536 == 0) {
    status |= 16;
    if (end / block_size == first + 16) status |= 32;
  }
  std::vector<uint8_t> block;
  if (!vk::guarded([&] {
        block.resize(block_size);
        return true;
      }))
    return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint64_t delivered = 0;
  for (uint64_t b = first; b <= last; ++b) {
    const uint64_t block_start = b * block_size;
    const uint64_t from = std::max(offset, block_start) - block_start;
    const uint64_t to = std::min(end, block_start + block_size) - block_start;
    size_t index = 0;
    uint64_t translated = 0;
    // A block outside every extent is past the end of the virtual medium.
    if (!find_remap_extent(table, block_start, index, translated)) break;
    if (table[index].m_flag) {
      if (skip_unbacked) continue;
      std::memset(out + delivered, 0, static_cast<size_t>(to - from));
      delivered += to - from;
      status |= remap_zero_filled;
      continue;
    }
    uint32_t got = block_size;
    if (!read_base_blocks(translated, block.data(), got)) break;
    if (got <= from) break;
    const uint64_t take = std::min<uint64_t>(to, got) - from;
    std::memcpy(out + delivered, block.data() + from, static_cast<size_t>(take));
    delivered += take;
    if (from + take < to) break;  // the medium ended inside this block
  }
  if (skip_unbacked) status &= ~uint32_t{remap_zero_filled};
  length = static_cast<uint32_t>(delivered);
  return delivered != 0;
}

uint64_t RAW_DISK_IO::size() const {
  if (!m_open) return 0;
  if (m_size) return m_size;
  if (m_handle != 0xFFFFFFFFu)
    return m_cylinders * m_tracks_per_cylinder * m_sectors_per_track * m_bytes_per_sector;
  return 0;
}

bool RAW_DISK_IO::size_parts(uint32_t& high, uint32_t& low) const {
  const uint64_t s = size();
  high = static_cast<uint32_t>(s >> 32);
  low = static_cast<uint32_t>(s);
  return m_open && s != 0;
}

uint32_t RAW_DISK_IO::bytes_per_sector() const {
  return m_open ? m_bytes_per_sector : 0;
}

bool RAW_DISK_IO::partition_info(uint32_t& number, uint64_t& start, uint64_t& length) const {
  number = 0;
  start = 0;
  length = 0;
  return false;
}

// ---------------------------------------------------------------------------

std::ostream& print_media_type(std::ostream& out, uint32_t code, bool show_unnamed) {
  switch (code) {
    case 2:
      return out << "3.5 floppy 1.44MB; 512 bytes/sector";
    case 11:
      return out << "RemovableMedia";
    case 12:
      return out << "FixedMedia";
    default:
      if (show_unnamed) out << "unknown";
      return out;
  }
}

std::string bus_type_name(uint32_t code) {
  switch (code) {
    case 1:
      return "scsi";
    case 2:
      return "atapi";
    case 3:
      return "ata";
    case 4:
      return "1394";
    case 5:
      return "ssa";
    case 6:
      return "Fibre Chan";
    case 7:
      return "usb";
    case 8:
      return "raid";
    case 9:
      return "iscsi";
    case 10:
      return "sas";
    case 12:
      return "sd";
    case 13:
      return "mmc";
    case 14:
    case 15:
      return "virtual";
    case 16:
      return "storage space";
    case 17:
      return "nvme";
    default:
      return "unk";
  }
}

std::ostream& hex_zero_fill(std::ostream& out) {
  return out << std::right << std::setfill('0') << std::hex;
}

std::ostream& hex_zero_fill_stdout() {
  return hex_zero_fill(std::cout);
}

bool query_device_names(std::vector<std::wstring>& names) {
  names.clear();
  return false;
}

bool is_device_name(const std::wstring&) {
  // The device list is always empty here, so no name can be in it.
  return false;
}

bool is_dos_device_name(const std::wstring&) {
  return false;
}

bool query_volume_lists(std::vector<std::wstring>& a, std::vector<std::wstring>& b,
                        std::vector<std::wstring>& c) {
  a.clear();
  b.clear();
  c.clear();
  return false;
}

}  // namespace vk
