// File content on a volume as a list of cluster runs: building the list
// (from NTFS data runs, cluster lists and FAT chains), looking clusters up in
// it, printing it, reading the data it describes into memory, a file or
// digests, the free and bad cluster maps of an allocation table, and the
// bulk copies between a medium and an image file or a second drive.
//
// Sparse runs have no place on the medium: they are never merged with a
// neighbour, keep their flag through every copy of the list, and read as
// zeros without touching the medium. Every reader fails when a read fails,
// and never hands out bytes it did not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"
#include "foundation/vk_guid.h"

namespace uni {
class fileio;
}

namespace vk {

class cmd_params;

// All 60 count bits set: a run that runs to the end of whatever holds it.
inline constexpr uint64_t cluster_count_open = (uint64_t{1} << 60) - 1;
inline constexpr uint32_t cluster_run_sparse_flag = 1u << 28;
// The run holds compressed units (NTFS LZNT1), not content: every reader
// refuses a list that holds such a run.
inline constexpr uint32_t cluster_run_compressed_flag = 1u << 29;

struct cluster_run {
  uint64_t m_first = 0;       // 0 for a sparse run
  uint32_t m_count_low = 0;   // low 32 bits of the count
  uint32_t m_count_high = 0;  // high 28 bits of the count; top 4 bits are flags

  uint64_t count() const { return m_count_low | (uint64_t{m_count_high & 0x0FFFFFFFu} << 32); }
  uint32_t flags() const { return m_count_high & 0xF0000000u; }
  bool sparse() const { return (m_count_high & cluster_run_sparse_flag) != 0; }
  bool compressed() const { return (m_count_high & cluster_run_compressed_flag) != 0; }
  bool open_ended() const { return count() == cluster_count_open; }
};

// Replaces first cluster and count; the flag bits stay.
void cluster_run_set(cluster_run& run, uint64_t first, uint64_t count);

inline constexpr uint64_t whole_content = ~uint64_t{0};

struct cluster_runs {
  // Byte offset on the medium of cluster 0. A data area that begins less
  // than two clusters into the medium puts it before the first byte: it is
  // then kept modulo 2^64 and only clusters on the medium are read.
  uint64_t m_base_offset = 0;
  uint32_t m_content_size = 0;
  uint32_t m_bytes_per_cluster = 0;
  std::vector<cluster_run> m_runs;
  uint8_t m_over_allocated = 0;
  // Content bytes the file system says were written (NTFS initialized size,
  // exFAT valid data length): past them the content reads as zeros and the
  // clusters are not read, whatever they still hold.
  uint64_t m_valid_bytes = whole_content;
};

// One decoded entry of an NTFS run list.
struct data_run {
  uint64_t m_cluster = 0;
  uint64_t m_delta = 0;
  uint32_t m_count = 0;
  uint64_t m_vcn = 0;
  uint8_t m_negative = 0;  // the flags below
};
inline constexpr uint8_t data_run_negative = 0x01;
inline constexpr uint8_t data_run_sparse = 0x02;      // no clusters on the medium
inline constexpr uint8_t data_run_compressed = 0x04;  // a piece of compressed data

// ---- construction and state ----
void cluster_runs_construct_empty(cluster_runs& list);
void cluster_runs_construct(cluster_runs& list, uint64_t base, uint32_t bytes_per_cluster,
                            uint32_t content_size);
void cluster_runs_reset(cluster_runs& list);
void cluster_runs_init(cluster_runs& list, uint64_t base, uint32_t bytes_per_cluster,
                       uint32_t content_size);
void cluster_runs_clear(cluster_runs& list);
void cluster_runs_destroy(cluster_runs& list);
bool cluster_runs_usable(const cluster_runs& list);
// Whether any run holds compressed units: the content cannot be read as is.
bool cluster_runs_compressed(const cluster_runs& list);
bool cluster_runs_from_data_runs(cluster_runs& list, const std::vector<data_run>& runs,
                                 uint64_t base, uint32_t bytes_per_cluster, uint32_t content_size);
bool cluster_runs_add_data_runs(cluster_runs& list, const std::vector<data_run>& runs);

// ---- queries ----
uint64_t cluster_runs_cluster_offset(const cluster_runs& list, uint64_t cluster);
uint64_t cluster_runs_total_clusters(const cluster_runs& list);
uint64_t cluster_runs_first_offset(const cluster_runs& list);
uint64_t cluster_runs_first_lcn(const cluster_runs& list);
bool cluster_runs_get(const cluster_runs& list, size_t index, uint64_t& offset, uint64_t& first,
                      uint64_t& count);
bool cluster_runs_locate_vcn(const cluster_runs& list, uint64_t vcn, uint64_t& offset,
                             uint64_t& lcn);
bool cluster_runs_contains(const cluster_runs& list, uint64_t cluster);
uint64_t data_runs_total_bytes(const std::vector<data_run>& runs, uint32_t cluster_size);
bool is_zero_block(const uint8_t* p, size_t length);

// ---- the entries of an NTFS run list ----
// 1 + the two field sizes of the header byte; 0 for a null pointer.
uint32_t data_run_size(const uint8_t* entry);
uint64_t data_run_length(const uint8_t* entry);
uint64_t data_run_offset(const uint8_t* entry);

// ---- building ----
bool cluster_runs_append(cluster_runs& list, uint64_t first, uint64_t count);
bool cluster_runs_append_sparse(cluster_runs& list, uint64_t count);
bool cluster_runs_from_clusters(cluster_runs& list, const std::vector<uint64_t>& clusters);
bool cluster_runs_from_clusters32(cluster_runs& list, const std::vector<uint32_t>& clusters);
bool cluster_runs_add_cluster(cluster_runs& list, uint64_t cluster);
bool cluster_runs_remove(cluster_runs& list, const cluster_run& run);
bool cluster_runs_remove_all(cluster_runs& list, const cluster_runs& other);

// ---- extents ----
// The runs from a virtual cluster on: a shortened copy of the list.
bool cluster_runs_tail(const cluster_runs& list, uint64_t start_vcn, cluster_runs& out);
// The same as three parallel vectors (and, when asked, each run's sparse flag).
bool cluster_runs_extents_from(const cluster_runs& list, uint64_t start_vcn,
                               std::vector<uint64_t>& offsets, std::vector<uint64_t>& firsts,
                               std::vector<uint64_t>& counts,
                               std::vector<uint8_t>* sparse = nullptr);
// Every cluster number of the real runs, in order. The runs must lie on a
// medium of medium_bytes (from the list's base offset on); a list that
// reaches past it is refused before anything is listed.
bool cluster_runs_to_clusters(const cluster_runs& list, std::vector<uint64_t>& clusters,
                              uint64_t medium_bytes);
bool record_extents32(const cluster_runs& list, std::vector<uint32_t>& firsts,
                      std::vector<uint32_t>& counts);
bool record_clusters32(const cluster_runs& list, std::vector<uint32_t>& clusters,
                       uint64_t medium_bytes);
bool record_total_clusters(const cluster_runs& list, uint64_t& total);

// ---- printing ----
std::ostream& dump_cluster_runs(const cluster_runs& list, std::ostream& out,
                                const std::string& separator, bool show_offsets, bool hex);

// ---- reading ----

// One piece of content as a walk delivers it: its bytes, and for a piece
// that came from the medium the cluster number of its first byte and how
// many of its bytes were read there (the rest lies past the valid bytes).
struct cluster_piece {
  const uint8_t* bytes;
  size_t length;
  bool sparse;
  uint64_t first_cluster;
  size_t medium_length;
};
using cluster_piece_sink = std::function<bool(const cluster_piece&)>;
// Walks the runs from a virtual cluster on, in pieces of at most 64
// clusters (32 above 4 KiB clusters, never above 8 MiB), and hands each to
// the sink until length bytes (whole_content: all the runs) are delivered.
// Sparse runs, and content past the list's valid bytes, come as zeros,
// unread. A failed or short read delivers its
// piece with the unread part zeroed (its medium_length the bytes read) and
// ends the walk with false; so does
// running out of runs before the length. Sparse runs may be as long as
// asked; the bytes read from the medium never exceed its size: a list that
// asks for more is cut there and the walk is false. A list holding a
// compressed run delivers nothing and is false.
// delivered receives the byte count.
bool cluster_runs_walk(const cluster_runs& list, RAW_DISK_IO& disk, uint64_t start_vcn,
                       uint64_t length, const cluster_piece_sink& sink,
                       uint64_t* delivered = nullptr);

bool read_cluster_runs(const cluster_runs& list, uni::fileio* file, std::vector<uint8_t>& bytes,
                       cluster_runs* zero_clusters, RAW_DISK_IO& disk, uint64_t start_vcn,
                       uint64_t length, bool find_zero, bool scan_only);
bool read_cluster_runs_to_vector(const cluster_runs& list, std::vector<uint8_t>& bytes,
                                 RAW_DISK_IO& disk, uint64_t start_vcn, uint64_t length);
bool read_cluster_runs_zero_map(const cluster_runs& list, std::vector<uint8_t>& bytes,
                                cluster_runs& zero_clusters, RAW_DISK_IO& disk, uint64_t start_vcn,
                                uint64_t length);
bool read_cluster_runs_to_file(const cluster_runs& list, uni::fileio& file, RAW_DISK_IO& disk,
                               uint64_t start_vcn, uint64_t length);
bool read_cluster_runs_to_file_zero_map(const cluster_runs& list, uni::fileio& file,
                                        cluster_runs& zero_clusters, RAW_DISK_IO& disk,
                                        uint64_t start_vcn, uint64_t length);
bool scan_zero_clusters(const cluster_runs& list, cluster_runs& zero_clusters, RAW_DISK_IO& disk,
                        uint64_t start_vcn, uint64_t length);
bool read_runs_whole(const cluster_runs& list, uni::fileio* file, std::vector<uint8_t>& bytes,
                     RAW_DISK_IO& disk, uint64_t start_vcn, uint64_t length);
bool read_first_run_content(const cluster_runs& list, std::vector<uint8_t>& bytes,
                            RAW_DISK_IO& disk);
bool read_cluster_list(RAW_DISK_IO& disk, std::vector<uint8_t>& bytes, uint64_t& length,
                       uint32_t first_index, const std::vector<uint32_t>& clusters,
                       uint32_t cluster_size, uint64_t base);

// Digest flags.
enum : uint32_t {
  digest_md5 = 0x01,
  digest_sha1 = 0x02,
  digest_sha256 = 0x04,
  digest_copy = 0x20,  // also append every piece to the output file
};
bool digest_cluster_runs(const cluster_runs& list, guid& md5, std::vector<uint8_t>& sha1,
                         std::vector<uint8_t>& sha256, uint32_t flags, RAW_DISK_IO& disk,
                         uint64_t length);
bool digest_and_copy_cluster_runs(const cluster_runs& list, guid& md5, std::vector<uint8_t>& sha1,
                                  std::vector<uint8_t>& sha256, uint32_t flags, RAW_DISK_IO& disk,
                                  uint64_t length, uni::fileio* file);

// ---- cluster maps ----
bool cluster_maps_from_table(cluster_runs& free_runs, cluster_runs& bad_runs, const uint8_t* table,
                             size_t table_bytes, uint32_t bits_per_entry, uint64_t base,
                             uint32_t cluster_size, uint32_t content_size, uint64_t entry_limit);

// ---- FAT chains ----
uint64_t fat_cluster0_offset(const boot_sector& bs, uint64_t volume_offset);
bool fat_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first_cluster,
                       uint64_t length, const uint32_t* fat, size_t fat_bytes,
                       uint64_t volume_offset);
bool read_fat_clusters(const boot_sector& bs, std::vector<uint8_t>& bytes,
                       const std::vector<uint32_t>& clusters, RAW_DISK_IO& disk,
                       uint64_t volume_offset);

// ---- bulk copies ----
// True only when every byte of [start, start + length) was copied. A
// length past the end of the medium copies what the medium holds and is no
// success: copied (when given) receives the bytes written, and a copy that
// stops short says on standard error how far it came.
bool copy_disk_to_image(RAW_DISK_IO& disk, const std::wstring& path, uint64_t start,
                        uint64_t length, const cmd_params* settings, bool append,
                        uint64_t* copied = nullptr);
// A chunk that cannot be read is written as zeros and the copy goes on;
// zero_filled (when given) receives the bytes so written. A length past
// the end of either side copies what fits and is no success (said on
// standard error).
bool copy_disk_to_disk(RAW_DISK_IO& source, int32_t target_drive, uint64_t source_offset,
                       uint64_t target_offset, uint64_t length, const cmd_params* settings,
                       uint64_t* zero_filled = nullptr);
bool copy_image_to_disk(RAW_DISK_IO& target, uni::fileio& image, uint64_t image_offset,
                        uint64_t disk_offset, uint64_t length, const cmd_params* settings,
                        uint64_t* zero_filled = nullptr);

}  // namespace vk
