// NTFS FILE records of the master file table: the record header test, the
// multi-sector fixups, the attribute walk into an inode_record (times,
// names, parents, sizes, resident streams, run lists), attribute lists that
// pull attributes in from extension records, and the run-list decoder.
//
// Records come from seized media and may be damaged or crafted: every
// attribute must lie whole inside the record before it is read, an
// attribute list merges each extension record once and is never followed
// from an extension record, and a run list never moves its cluster number
// below zero or past 64 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"
#include "foundation/vk_timestamp_set.h"

namespace vk {

// ---- MFT references ----

// Orders by the high entry word, then the low entry word, then the sequence.
struct mft_ref_less {
  bool operator()(const mft_ref& a, const mft_ref& b) const;
};
using mft_ref_set = std::set<mft_ref, mft_ref_less>;

mft_ref make_mft_ref(uint32_t entry_low, uint16_t entry_high, uint16_t sequence);
// word: the high entry word in its low half, the sequence in its high half.
void set_mft_ref(mft_ref& ref, uint32_t entry_low, uint32_t word);
// The 8 bytes of an on-disk reference (entry low, entry high, sequence).
mft_ref mft_ref_from_u64(uint64_t value);
uint16_t mft_ref_high(const mft_ref& ref);
bool mft_ref_equal(const mft_ref& a, const mft_ref& b);

// ---- records ----

// Header flags.
inline constexpr uint32_t mft_flag_in_use = 0x0001;
inline constexpr uint32_t mft_flag_directory = 0x0002;

// One $FILE_NAME of a record: a hard link has one per folder it is in, and
// each name belongs to its own parent.
struct file_name_link {
  mft_ref m_parent;
  std::string m_name;       // UTF-8
  uint8_t m_namespace = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
};
inline constexpr uint8_t file_name_dos = 2;

// The base part of a record.
struct inode_entry {
  uint32_t m_entry_low = 0;
  uint32_t m_entry_high = 0;  // only the low 16 bits are ever set
  uint16_t m_sequence = 0;
  mft_ref_set m_parents;  // from every $FILE_NAME
  std::string m_name;     // from the last $FILE_NAME outside the DOS namespace
  // Every $FILE_NAME of a FILE record, in the order met (the attribute
  // list's extensions where it names them); empty for journal entries.
  std::vector<file_name_link> m_names;
  std::wstring m_wname;
  uint8_t m_directory = 0;
  uint32_t m_flags = 0;       // the header flags
  mft_ref_set m_second_refs;  // not filled by this library
  std::string m_second_name;  // a further name met for the same reference

  inode_entry() = default;
  // Entry numbers, sequence, parents, name and flags; see inode_entry_set.
  inode_entry(uint32_t low, uint32_t high, uint16_t sequence, const mft_ref_set& parents,
              const std::wstring& name, uint32_t flags);
  inode_entry(uint32_t low, uint32_t high, uint16_t sequence, const mft_ref_set& parents,
              const std::string& utf8_name, uint32_t flags);

  uint64_t entry_number() const { return m_entry_low | (uint64_t{m_entry_high & 0xFFFF} << 32); }
};

// Option bits of inode_record::m_options: what the parser keeps.
enum : uint32_t {
  mft_keep_index_runs = 0x01,       // $INDEX_ALLOCATION run list
  mft_look_resident_data = 0x02,    // resident $DATA at all
  mft_look_named_streams = 0x04,    // named resident streams
  mft_keep_resident_data = 0x08,    // the unnamed resident value
  mft_keep_zone_identifier = 0x10,  // the stream "zone.identifier"
  mft_keep_named_stream = 0x20,     // the stream named by m_stream_name
  mft_keep_data_runs = 0x40,        // non-resident unnamed $DATA run list
};

// Bits of inode_record::m_unread: what of a record or its content could not
// be taken as it is, so that nothing is left out in silence.
enum : uint32_t {
  // A non-resident attribute list: its clusters are the volume's, and the
  // volume is unknown (an extracted or remapped table without set_volume).
  mft_unread_list_no_volume = 0x01,
  // A non-resident attribute list that could not be read whole, or whose
  // bytes are no list.
  mft_unread_list_unreadable = 0x02,
  // An extension record named by the attribute list could not be read.
  mft_unread_extension = 0x04,
  // The unnamed $DATA is compressed: its clusters hold compression units,
  // not the file's bytes, and its runs are refused by the readers.
  mft_unread_compressed = 0x08,
  // A record with an attribute list left without any $FILE_NAME: its names
  // lie in extension records the list no longer names.
  mft_unread_no_name = 0x10,
  // A sector of the record (or of an extension record merged into it) does
  // not end in the update sequence number: torn in writing or damaged.
  mft_unread_torn = 0x20,
  // The unnamed $DATA's runs reach past 2^32 clusters, more than any NTFS
  // volume holds: damage, and its runs are not kept (they would set the
  // work of whatever reads the file).
  mft_unread_too_long = 0x40,
  // A run list kept by the record ($DATA or $INDEX_ALLOCATION) holds a run
  // that cannot be decoded: the runs before it are kept, the rest is lost.
  mft_unread_runs_cut = 0x80,
  // The update-sequence count names more sectors than the record has: the
  // words past its end are not put back, and the header is damaged.
  mft_unread_usa_count = 0x100,
  // The update-sequence count names fewer sectors than the record has: the
  // last sectors keep the sequence number where their own words belong.
  mft_unread_usa_short = 0x200,
  // A kept run list ($DATA or $INDEX_ALLOCATION) whose runs end at another
  // virtual cluster than the attribute's last: cut short (the content past
  // its runs is not there to read), or running on (the runs past the last
  // virtual cluster are not kept).
  mft_unread_runs_span = 0x400,
  // A kept run lies, wholly or in part, past the volume's clusters: it and
  // the runs after it are not kept, so that no cluster of another file is
  // read as this one's.
  mft_unread_runs_past_volume = 0x800,
};
inline constexpr uint64_t ntfs_max_file_clusters = uint64_t{1} << 32;
// The reasons of the set bits, joined by "; "; empty for 0.
std::string mft_unread_text(uint32_t bits);

struct inode_record : inode_entry {
  std::string m_path;
  uint8_t m_path_built = 0;
  uint8_t m_reaches_root = 0;
  uint8_t m_in_use = 0;
  uint8_t m_base_record = 1;
  // Base record: the entries merged through its attribute list; extension
  // record parsed alone: its base record.
  mft_ref_set m_related;
  uint64_t m_lsn = 0;
  uint64_t m_usn = 0;
  uint32_t m_file_attributes = 0;
  timestamp_set m_si_times;  // modified, accessed, MFT changed, created
  uint64_t m_allocated_size = 0;
  uint64_t m_real_size = 0;
  // The unnamed $DATA's initialized size: the bytes written; the content
  // past it reads as zeros. whole_content when no $DATA gave one.
  uint64_t m_initialized_size = whole_content;
  uint8_t m_sizes_from_data = 0;  // the sizes are the unnamed $DATA's own
  timestamp_set m_fn_times;
  uint32_t m_options = 0;
  std::vector<data_run> m_index_runs;
  std::vector<data_run> m_data_runs;
  std::vector<uint8_t> m_resident_data;
  std::vector<uint8_t> m_zone_identifier;
  std::vector<uint8_t> m_named_stream;
  uint64_t m_file_offset = 0;
  std::string m_filter;
  std::string m_stream_name;  // compared with lower-cased stream names
  uint32_t m_unread = 0;      // mft_unread_* bits; 0 when the record was read whole

  inode_record() = default;
};

void inode_entry_init(inode_entry& e);
void inode_record_init(inode_record& r);
// Entry numbers, sequence, parents, names, flags and the second name.
void inode_entry_clear(inode_entry& e);
void inode_record_clear_ext(inode_record& r);
void inode_record_reset(inode_record& r);
void inode_record_assign(inode_record& dst, const inode_record& src);
// The UTF-8 name is made from the wide one; the directory flag from flag
// 0x0002; an empty parent set receives one zero reference.
void inode_entry_set(inode_entry& e, uint32_t low, uint32_t high, uint16_t sequence,
                     const mft_ref_set& parents, const std::wstring& name, uint32_t flags);
inode_entry inode_entry_make(uint32_t low, uint32_t high, uint16_t sequence,
                             const mft_ref_set& parents, const std::wstring& name, uint32_t flags);
inode_entry inode_entry_make_utf8(uint32_t low, uint32_t high, uint16_t sequence,
                                  const mft_ref_set& parents, const std::string& name,
                                  uint32_t flags);
// 80 + both names' lengths + 8 per reference held + 8 and its length per
// $FILE_NAME kept.
uint64_t inode_entry_byte_size(const inode_entry& e);
// Empties the container; whether it still holds entries.
template <class C>
bool container_clear_and_test(C& container) {
  container.clear();
  return !container.empty();
}

// The first 72 bytes of a $STANDARD_INFORMATION value.
using si_copy = std::array<uint8_t, 72>;
void si_copy_clear(si_copy& copy);

// ---- the FILE record header ----

inline constexpr size_t mft_usa_offset = 48;
inline constexpr uint16_t mft_usa_count_min = 2;
inline constexpr uint16_t mft_usa_count_max = 9;

// "FILE", update-sequence array at 48, first attribute below 73; length is
// the bytes readable at buffer. Any update-sequence count: a record whose
// count is damaged is still a record, read with its table's record size
// and marked.
bool is_mft_file_record(const uint8_t* buffer, size_t length);
// (count - 1) x 512 for an accepted record with 2 to 9 entries, 0
// otherwise: the size a table's first record gives all of them.
uint16_t file_record_size(const uint8_t* buffer, size_t length);

// Record kinds of apply_fixups.
enum : uint32_t { fixup_none = 0, fixup_file = 1, fixup_indx = 2, fixup_baad = 3 };
// Puts the saved words of the update-sequence array back at the end of each
// stride of a FILE, INDX or BAAD record of at least 1024 bytes. The stride
// must be a power of two of at least 256 and the array lie inside the
// record; a count below 2 changes nothing. A stride whose last word is not
// the update sequence number (a torn or damaged sector) refuses the record:
// false, kind set, the bytes left as they were.
bool apply_fixups(uint32_t& kind, uint8_t* record, size_t length, uint32_t stride);

// ---- attributes ----

inline constexpr uint32_t attr_standard_information = 0x10;
inline constexpr uint32_t attr_attribute_list = 0x20;
inline constexpr uint32_t attr_file_name = 0x30;
inline constexpr uint32_t attr_data = 0x80;
inline constexpr uint32_t attr_index_root = 0x90;
inline constexpr uint32_t attr_index_allocation = 0xA0;
inline constexpr uint32_t attr_end = 0xFFFFFFFF;

// Decodes the run list of a non-resident attribute (attr, attr_length bytes)
// and appends its runs. Length fields of 1 to 8 bytes, offset fields of 0
// (a sparse run) to 8; a zero count, a cluster number that would go below
// zero or past 64 bits, a run whose fields pass the attribute's end, or a
// count above 32 bits ends the list with false. why (when given) receives
// the mft_unread bit of a list not decoded whole: mft_unread_too_long for
// a count above 32 bits, mft_unread_runs_cut for the others.
bool decode_data_runs(const uint8_t* attr, size_t attr_length, std::vector<data_run>& runs,
                      uint32_t* why = nullptr);
// Appends decoded runs to a cluster run list, sparse runs kept sparse.
bool cluster_runs_from_file_runs(cluster_runs& list, const std::vector<data_run>& runs,
                                 uint64_t base, uint32_t bytes_per_cluster);

// The unnamed $DATA's runs of a record, carrying its initialized size: the
// readers give zeros past it, as the file system does.
bool cluster_runs_from_record(cluster_runs& list, const inode_record& rec, uint64_t base,
                              uint32_t bytes_per_cluster);

bool is_valid_attr_list_entry(const uint8_t* entry, size_t available);

// Where the volume of a master file table lies, for what a record names
// outside itself: extension records, placed through the table's own runs
// (a table grows in pieces and need not be contiguous), and attribute lists
// held in clusters of the volume.
struct ntfs_volume_map {
  RAW_DISK_IO* m_disk = nullptr;  // the medium that holds the volume
  uint64_t m_offset = 0;          // the volume's first byte on it
  uint32_t m_cluster_size = 0;
  uint32_t m_record_size = 0;
  std::vector<data_run> m_mft_runs;  // $MFT's unnamed $DATA, in content order
  uint64_t m_clusters = 0;           // the volume's clusters; 0 when unknown
};
// The volume whose boot sector lies at offset: its geometry and the runs of
// its table's record 0; false (and an empty map) when either is unsound.
bool ntfs_volume_map_from_boot(ntfs_volume_map& map, RAW_DISK_IO* disk, uint64_t offset);
// The record-size bytes of an entry of the table, read through its runs.
bool read_mft_entry(const ntfs_volume_map& map, uint64_t entry, std::vector<uint8_t>& buffer);

// Parses one FILE record (fixups applied in place) into rec. Each kept run
// list must end at its attribute's last virtual cluster and, with a volume
// map, lie inside the volume's clusters; what does not is marked and cut. In attribute-
// list mode the header is not taken, an already merged record is not merged
// again, and $ATTRIBUTE_LIST is ignored. Without a volume map, extension
// records are read at base_offset + entry x record_size (a contiguous
// table) and a non-resident attribute list is not read (see m_unread). Run
// lists come out in content order (by starting VCN); the runs of compressed
// data carry data_run_compressed. A record is accepted when it names a
// parent or a related record, or when part of it could not be read (a
// record with an attribute list but no name among the records it merged is
// kept, marked mft_unread_no_name, with its data runs).
bool parse_file_record(inode_record& rec, uint8_t* raw, size_t length, RAW_DISK_IO* disk,
                       uint64_t base_offset, uint32_t record_size, bool attr_list_mode,
                       const ntfs_volume_map* volume = nullptr);
// Merges the records named by the entries of an attribute list.
bool read_attribute_list_records(inode_record& rec, const uint8_t* entries, size_t count,
                                 uint32_t entry_low, uint32_t entry_high, RAW_DISK_IO* disk,
                                 uint64_t base_offset, uint32_t record_size,
                                 const ntfs_volume_map* volume = nullptr);
// A non-resident list is read in the volume's clusters: without a volume it
// is refused (false, and mft_unread_list_no_volume on the record), never
// read from some other place of the medium.
bool read_attribute_list_nonresident(inode_record& rec, const uint8_t* attr, uint32_t attr_length,
                                     uint32_t entry_low, uint32_t entry_high, RAW_DISK_IO* disk,
                                     uint64_t base_offset, uint32_t record_size,
                                     const ntfs_volume_map* volume = nullptr);
// The largest attribute list read from the medium.
inline constexpr size_t attr_list_max_bytes = 1u << 20;

// Steps over the index entries of an $INDEX_ROOT value; writes the two
// section lines unless quiet. Answers the number of entries stepped over.
size_t dump_index_root(std::ostream& out, const uint8_t* value, size_t length, bool quiet);

// The name, parent and resident $DATA of a FILE record (fixups applied in
// place), and its $STANDARD_INFORMATION's first 72 bytes.
bool read_resident_file_summary(std::string& name, mft_ref& parent, const uint8_t*& data,
                                uint32_t& data_length, si_copy& si, uint8_t* raw, size_t length,
                                bool data_required);

// count blanks (none for 0); the stream's fill and flags are kept.
std::ostream& write_indent(std::ostream& out, size_t count);

}  // namespace vk
