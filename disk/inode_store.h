// The inode store: the FILE records of a master file table (an extracted
// $MFT file, a byte range of a medium, or a whole volume searched slot by
// slot), indexed by entry number and by MFT reference, with the full path
// of every directory; and the rebuilt MFT image of a carved volume.
//
// The store is addressed by index: nothing keeps a pointer into it across
// an append. No reservation exceeds the records the medium holds behind the
// range's start (a range's length is a claim), path walks stop at the first
// directory met twice, and a carved MFT is never larger than its volume nor
// its volume than the medium.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk/mft_record.h"
#include "disk/raw_disk_io.h"
#include "disk/usn_secure.h"

namespace vk {

class cmd_params;

// Handed to the progress callback of a scan.
struct scan_progress {
  RAW_DISK_IO* m_disk = nullptr;
  void* m_context = nullptr;
  const uint8_t* m_record = nullptr;
  uint32_t m_interval = 0;
  uint64_t m_offset = 0;  // absolute
  uint64_t m_step = 0;    // offset / interval
  std::string m_text;
};
void clear_scan_progress(scan_progress& p);
void scan_progress_init(scan_progress& p);

// One step of a path under construction.
struct path_part {
  std::string m_name;
  uint32_t m_entry_low = 0;
  uint32_t m_entry_high = 0;
  uint8_t m_full_path = 0;  // the name is already a complete path
  uint8_t m_reaches_root = 0;
};
void path_part_init(path_part& p, const std::string& name, uint32_t entry_low, uint32_t entry_high,
                    bool full_path, bool reaches_root);
void path_part_copy(path_part& dst, const path_part& src);

// Record callback: (context, record, store index, entry number, absolute
// offset). inode_record_handled keeps the record out of the store.
using inode_record_callback = uint32_t (*)(void* context, inode_record& rec, uint64_t index,
                                           uint64_t entry, uint64_t offset);
using scan_progress_callback = void (*)(scan_progress& progress);
inline constexpr uint32_t inode_record_handled = 0xFFFFFFFFu;
// The most records a walk reserves room for.
inline constexpr uint64_t inode_store_reserve_max = 0x500000;

using mft_ref_map = std::map<mft_ref, uint64_t, mft_ref_less>;
using mft_ref_multimap = std::multimap<mft_ref, mft_ref, mft_ref_less>;

class _inode_collection {
 public:
  _inode_collection();
  virtual ~_inode_collection();
  _inode_collection(const _inode_collection&) = delete;
  _inode_collection& operator=(const _inode_collection&) = delete;

  void reset();
  // reset; room is reserved by the walk, once the range is known.
  bool reset_reserve(uint64_t capacity);

  bool open_mft_file_scan(const std::string& path, bool no_scan, inode_record_callback callback,
                          scan_progress_callback progress, void* context);
  bool open_mft_file(const std::string& path, bool no_load, inode_record_callback callback,
                     void* context);
  bool attach_disk(RAW_DISK_IO* disk, bool no_load, inode_record_callback callback, void* context,
                   uint64_t range_length, uint64_t base_offset);
  // Scans [start, end) of a caller's disk with 1024-byte records.
  bool attach_range(RAW_DISK_IO* disk, bool attach_only, uint64_t start, uint64_t end,
                    uint32_t interval, inode_record_callback callback,
                    scan_progress_callback progress, void* context, scan_progress* progress_out);

  // Names the volume the table belongs to (its medium and first byte), so
  // that extension records and attribute lists held outside the records
  // are read where they lie; false (and no volume) when none is there.
  // attach_disk finds the volume of a table on its own medium. Without a
  // volume a non-resident attribute list is not read: its record is kept,
  // marked in m_unread.
  bool set_volume(RAW_DISK_IO* disk, uint64_t volume_offset);
  // The named or found volume; null when unknown.
  const ntfs_volume_map* volume() const { return m_volume.m_disk ? &m_volume : nullptr; }

  bool load(inode_record_callback callback, void* context);
  bool scan(inode_record_callback callback, scan_progress_callback progress, void* context);
  void build_paths();

  uint64_t add_inode(const inode_record& rec, bool& flag, bool accept_free);
  uint64_t store_record(const inode_record& rec, bool& flag);
  uint64_t add_usn_record(const usn_entry& e, bool& flag);

  bool get_inode(inode_record& out, uint64_t entry);
  bool get_inode_by_ref(inode_record& out, uint32_t entry_low, uint32_t word);

  static bool find_children(std::set<mft_ref, mft_ref_less>& out, uint32_t a, uint32_t b,
                            const mft_ref_multimap& map);

  std::vector<inode_record> m_store;
  std::map<uint64_t, uint64_t> m_directories;  // directories only
  std::multimap<uint64_t, uint64_t> m_entries;
  mft_ref_map m_refs;
  uint64_t m_start_offset = 0;
  uint64_t m_range_length = 0;
  uint64_t m_base_offset = 0;
  uint32_t m_record_size = 1024;
  uint8_t m_all_records = 0;
  std::string m_filter;
  std::string m_stream_name;
  cmd_params* m_settings = nullptr;
  RAW_DISK_IO* m_disk = nullptr;
  uint8_t m_owns_disk = 0;
  uint32_t m_progress_interval = 0;
  uint32_t m_options = 0;
  scan_progress* m_progress = nullptr;  // filled for the progress callback when set
  ntfs_volume_map m_volume;             // no medium when the volume is unknown

 private:
  void release_disk();
  bool open_owned(const std::string& path, bool test_record);
  bool walk(bool scan_mode, inode_record_callback callback, scan_progress_callback progress,
            void* context);
  // False when the record threw (the rest of its buffer is passed over).
  bool accept(uint8_t* raw, uint64_t entry, uint64_t offset, bool scan_mode,
              inode_record_callback callback, void* context);
  uint64_t append(const inode_record& rec, bool keyed);
  bool is_root(const inode_record& rec) const;
  // The volume of a table at the base offset of disk: the boot sector that
  // puts the table's first run there.
  void find_volume(RAW_DISK_IO* disk);
};

void build_inode_paths(_inode_collection& collection);
bool find_inode_entry_by_ref(inode_entry& out, uint32_t entry_low, uint32_t word,
                             const std::map<mft_ref, inode_entry, mft_ref_less>& map);
// Keeps only the newest copy (by $STANDARD_INFORMATION MFT-change time) of
// each reference; context is the collection.
uint32_t keep_newer_inode(void* context, inode_record& rec, uint64_t index, uint64_t entry,
                          uint64_t offset);

// Carves the FILE records of the NTFS volume at volume_offset and writes the
// best copy of each entry at entry number x record size.
bool scan_ntfs_volume(std::vector<uint8_t>& out, RAW_DISK_IO* disk, uint64_t volume_offset,
                      cmd_params* settings);
// scan_ntfs_volume into a file (created or emptied); true once every byte
// is written.
bool export_mft(const std::string& path, RAW_DISK_IO* disk, uint64_t volume_offset,
                cmd_params* settings);

}  // namespace vk
