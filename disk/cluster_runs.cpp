#include "disk/cluster_runs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "cmdline/cmd_params.h"
#include "cmdline/console.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"

namespace vk {

namespace {

// Larger clusters than this exist on no volume the library reads; refusing
// them keeps every piece size and product small.
constexpr uint32_t kMaxClusterBytes = 64u << 20;
// At most this many bytes are held for one piece of a run.
constexpr uint64_t kMaxPieceBytes = 8u << 20;
constexpr uint32_t kCopyChunk = 32768;
constexpr uint32_t kImageChunk = 0x80000;

void set_count(cluster_run& run, uint64_t count) {
  run.m_count_low = static_cast<uint32_t>(count);
  run.m_count_high =
      (run.m_count_high & 0xF0000000u) | static_cast<uint32_t>((count >> 32) & 0x0FFFFFFFu);
}

// The byte offset of a cluster: false when the product overflows or the
// offset lies before the medium's first byte (a base before it, kept modulo
// 2^64, with a cluster below the data area) or past 2^63.
bool cluster_byte_offset(const cluster_runs& list, uint64_t cluster, uint64_t& offset) {
  uint64_t product = 0;
  if (!checked_mul<uint64_t>(cluster, list.m_bytes_per_cluster, product)) return false;
  const uint64_t base = list.m_base_offset;
  if (base >> 63) {
    const uint64_t before = ~base + 1;
    if (product < before) return false;
    offset = product - before;
  } else if (!checked_add(product, base, offset)) {
    return false;
  }
  return (offset >> 63) == 0;
}

cluster_run make_run(uint64_t first, uint64_t count, uint32_t flags) {
  cluster_run run;
  run.m_first = first;
  run.m_count_high = flags;
  set_count(run, count);
  return run;
}

bool status_on(const cmd_params* settings) {
  return settings && settings->m_status_messages;
}

template <typename T>
bool try_resize(std::vector<T>& v, size_t n) {
  return guarded([&] {
    v.resize(n);
    return true;
  });
}

// Gathers the all-zero clusters of a piece read from the medium.
void note_zero_clusters(const cluster_piece& p, uint32_t cs, cluster_runs& zero) {
  if (p.sparse) return;
  for (size_t i = 0; i + cs <= p.medium_length; i += cs)
    if (is_zero_block(p.bytes + i, cs)) cluster_runs_add_cluster(zero, p.first_cluster + i / cs);
}

}  // namespace

// Walks the runs from a virtual cluster on, piece by piece, and hands each
// piece to the sink until the length is reached. A failed read delivers the
// piece with its unread part zeroed and ends the walk with false; running
// out of runs before the length is reached is false too (unless the length
// was the whole content).
bool cluster_runs_walk(const cluster_runs& list, RAW_DISK_IO& disk, uint64_t start_vcn,
                       uint64_t length, const cluster_piece_sink& sink, uint64_t* delivered_out) {
  if (delivered_out) *delivered_out = 0;
  const uint32_t cs = list.m_bytes_per_cluster;
  // Compressed units are not the content: nothing of them is handed out.
  if (!cluster_runs_usable(list) || cs > kMaxClusterBytes || !disk.is_open() ||
      cluster_runs_compressed(list))
    return false;
  cluster_runs tail;
  if (!cluster_runs_tail(list, start_vcn, tail)) return false;
  const bool whole = length == whole_content;
  if (whole) {
    uint64_t clusters = 0;
    for (const cluster_run& r : tail.m_runs)
      if (!checked_add<uint64_t>(clusters, r.count(), clusters)) clusters = ~uint64_t{0};
    if (!checked_mul<uint64_t>(clusters, cs, length)) length = ~uint64_t{0};
  }
  if (length == 0) return false;
  // Sparse runs occupy nothing on the medium (a sparse file may be far
  // larger than its volume): only the bytes read from the medium are held
  // against its size. More of them than it holds can only come from a
  // damaged or crafted list; the walk delivers what the medium could hold
  // and fails.
  const uint64_t medium = disk.size();
  uint64_t from_medium = 0;
  const uint64_t chunk_clusters = cs <= 4096 ? 64 : 32;
  const uint64_t piece_clusters =
      std::max<uint64_t>(1, std::min(chunk_clusters, kMaxPieceBytes / cs));
  std::vector<uint8_t> buffer;
  if (!try_resize(buffer, static_cast<size_t>(std::min<uint64_t>(piece_clusters * cs, length))))
    return false;
  // Content position of the walk's first byte, for the valid-bytes limit.
  uint64_t start_byte = 0;
  if (!checked_mul<uint64_t>(start_vcn, cs, start_byte)) start_byte = ~uint64_t{0};
  uint64_t done = 0;
  bool ok = true;
  for (const cluster_run& run : tail.m_runs) {
    if (done >= length) break;
    const uint64_t count = run.count();
    for (uint64_t index = 0; index < count && done < length; index += piece_clusters) {
      const uint64_t clusters = std::min(piece_clusters, count - index);
      const size_t want = static_cast<size_t>(std::min(clusters * cs, length - done));
      uint64_t position = 0;
      if (!checked_add(start_byte, done, position)) position = ~uint64_t{0};
      const uint64_t valid_left = list.m_valid_bytes > position ? list.m_valid_bytes - position : 0;
      const size_t read =
          run.sparse() ? 0 : static_cast<size_t>(std::min<uint64_t>(want, valid_left));
      cluster_piece p{buffer.data(), want, run.sparse(), run.m_first + index, read};
      if (read > medium - from_medium) {
        if (delivered_out) *delivered_out = done;
        return false;
      }
      std::memset(buffer.data() + read, 0, want - read);
      if (read) {
        from_medium += read;
        uint64_t offset = 0;
        uint32_t got = static_cast<uint32_t>(read);
        if (!cluster_byte_offset(list, run.m_first + index, offset) ||
            !disk.read_at(buffer.data(), got, offset)) {
          got = 0;
        }
        if (got < read) {
          std::memset(buffer.data() + got, 0, read - got);
          p.medium_length = got;  // the zeros are no bytes of the medium
          ok = false;
        }
      }
      if (!sink(p)) return false;
      done += want;
      if (!ok) break;
    }
    if (!ok) break;
  }
  if (delivered_out) *delivered_out = done;
  return ok && (done == length || whole);
}

// ---------------------------------------------------------------------------

void cluster_run_set(cluster_run& run, uint64_t first, uint64_t count) {
  run.m_first = first;
  set_count(run, count);
}

void cluster_runs_construct_empty(cluster_runs& list) {
  cluster_runs_reset(list);
}

void cluster_runs_construct(cluster_runs& list, uint64_t base, uint32_t bytes_per_cluster,
                            uint32_t content_size) {
  cluster_runs_init(list, base, bytes_per_cluster, content_size);
}

void cluster_runs_reset(cluster_runs& list) {
  list.m_base_offset = 0;
  list.m_content_size = 0;
  list.m_bytes_per_cluster = 0;
  list.m_runs.clear();
  list.m_over_allocated = 0;
  list.m_valid_bytes = whole_content;
}

void cluster_runs_init(cluster_runs& list, uint64_t base, uint32_t bytes_per_cluster,
                       uint32_t content_size) {
  cluster_runs_reset(list);
  list.m_base_offset = base;
  list.m_bytes_per_cluster = bytes_per_cluster;
  list.m_content_size = content_size;
}

void cluster_runs_clear(cluster_runs& list) {
  list.m_runs.clear();
}

void cluster_runs_destroy(cluster_runs& list) {
  cluster_runs_reset(list);
  list.m_runs.shrink_to_fit();
}

bool cluster_runs_usable(const cluster_runs& list) {
  return list.m_bytes_per_cluster != 0 && !list.m_runs.empty();
}

bool cluster_runs_compressed(const cluster_runs& list) {
  return std::any_of(list.m_runs.begin(), list.m_runs.end(),
                     [](const cluster_run& r) { return r.compressed(); });
}

bool cluster_runs_from_data_runs(cluster_runs& list, const std::vector<data_run>& runs,
                                 uint64_t base, uint32_t bytes_per_cluster, uint32_t content_size) {
  list.m_runs.clear();
  if (bytes_per_cluster == 0) return false;
  cluster_runs_init(list, base, bytes_per_cluster, content_size);
  return cluster_runs_add_data_runs(list, runs);
}

bool cluster_runs_add_data_runs(cluster_runs& list, const std::vector<data_run>& runs) {
  if (list.m_bytes_per_cluster == 0) return false;
  // The runs go in content order, whatever order their pieces were met in.
  std::vector<data_run> ordered;
  if (!guarded([&] {
        ordered = runs;
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const data_run& a, const data_run& b) { return a.m_vcn < b.m_vcn; });
        return true;
      }))
    return false;
  bool ok = true;
  for (const data_run& r : ordered) {
    ok = ((r.m_negative & data_run_sparse) ? cluster_runs_append_sparse(list, r.m_count)
                                           : cluster_runs_append(list, r.m_cluster, r.m_count)) &&
         ok;
    if ((r.m_negative & data_run_compressed) && !list.m_runs.empty())
      list.m_runs.back().m_count_high |= cluster_run_compressed_flag;
  }
  return ok;
}

// ---------------------------------------------------------------------------

uint64_t cluster_runs_cluster_offset(const cluster_runs& list, uint64_t cluster) {
  return list.m_base_offset + cluster * list.m_bytes_per_cluster;
}

uint64_t cluster_runs_total_clusters(const cluster_runs& list) {
  if (!cluster_runs_usable(list)) return 0;
  uint64_t total = 0;
  for (const cluster_run& r : list.m_runs) total += r.count();
  return total;
}

uint64_t cluster_runs_first_offset(const cluster_runs& list) {
  if (!cluster_runs_usable(list)) return ~uint64_t{0};
  return cluster_runs_cluster_offset(list, list.m_runs[0].m_first);
}

uint64_t cluster_runs_first_lcn(const cluster_runs& list) {
  if (!cluster_runs_usable(list)) return ~uint64_t{0};
  return list.m_runs[0].m_first;
}

bool cluster_runs_get(const cluster_runs& list, size_t index, uint64_t& offset, uint64_t& first,
                      uint64_t& count) {
  if (!cluster_runs_usable(list) || index >= list.m_runs.size()) return false;
  const cluster_run& r = list.m_runs[index];
  offset = cluster_runs_cluster_offset(list, r.m_first);
  first = r.m_first;
  count = r.count();
  return true;
}

bool cluster_runs_locate_vcn(const cluster_runs& list, uint64_t vcn, uint64_t& offset,
                             uint64_t& lcn) {
  if (!cluster_runs_usable(list)) return false;
  uint64_t start = 0;
  for (const cluster_run& r : list.m_runs) {
    const uint64_t count = r.count();
    if (vcn >= start && vcn - start < count) {
      if (r.sparse()) return false;  // no place on the medium
      lcn = vcn - start + r.m_first;
      offset = cluster_runs_cluster_offset(list, lcn);
      return true;
    }
    start += count;
  }
  return false;
}

bool cluster_runs_contains(const cluster_runs& list, uint64_t cluster) {
  if (list.m_bytes_per_cluster == 0) return false;
  for (const cluster_run& r : list.m_runs)
    if (!r.sparse() && cluster >= r.m_first && cluster - r.m_first < r.count()) return true;
  return false;
}

uint64_t data_runs_total_bytes(const std::vector<data_run>& runs, uint32_t cluster_size) {
  uint64_t total = 0;
  for (const data_run& r : runs) total += uint64_t{r.m_count} * cluster_size;
  return total;
}

bool is_zero_block(const uint8_t* p, size_t length) {
  if (!p) return true;
  if (length % 8 == 0) {
    for (size_t i = 0; i < length; i += 8)
      if (load_le64(p + i) != 0) return false;
    return true;
  }
  for (size_t i = 0; i < length; ++i)
    if (p[i]) return false;
  return true;
}

// ---------------------------------------------------------------------------

uint32_t data_run_size(const uint8_t* entry) {
  if (!entry) return 0;
  return 1u + (entry[0] & 0x0F) + (entry[0] >> 4);
}

uint64_t data_run_length(const uint8_t* entry) {
  if (!entry) return 0;
  const size_t n = std::min<size_t>(entry[0] & 0x0F, 8);
  return le_bytes_to_u64(entry + 1, n);
}

uint64_t data_run_offset(const uint8_t* entry) {
  if (!entry) return 0;
  const size_t n = std::min<size_t>(entry[0] >> 4, 8);
  return le_bytes_to_u64(entry + 1 + (entry[0] & 0x0F), n);
}

// ---------------------------------------------------------------------------

bool cluster_runs_append(cluster_runs& list, uint64_t first, uint64_t count) {
  if (list.m_bytes_per_cluster == 0 || count == 0 || count > cluster_count_open) return false;
  if (count != cluster_count_open && first != 0 && !list.m_runs.empty()) {
    cluster_run& last = list.m_runs.back();
    // Sparse and open-ended runs have no end on the medium to follow.
    if (!last.sparse() && !last.open_ended() && last.m_first + last.count() == first &&
        last.count() + count <= 0xFFFFFFFFu) {
      set_count(last, last.count() + count);
      return true;
    }
  }
  return guarded([&] {
    list.m_runs.push_back(make_run(first, count, 0));
    return true;
  });
}

bool cluster_runs_append_sparse(cluster_runs& list, uint64_t count) {
  if (list.m_bytes_per_cluster == 0 || count == 0 || count > cluster_count_open) return false;
  return guarded([&] {
    list.m_runs.push_back(make_run(0, count, cluster_run_sparse_flag));
    return true;
  });
}

namespace {
template <typename T>
bool runs_from_list(cluster_runs& list, const std::vector<T>& clusters) {
  if (list.m_bytes_per_cluster == 0 || clusters.empty()) return false;
  uint64_t first = clusters[0], count = 1;
  bool ok = true;
  for (size_t i = 1; i < clusters.size(); ++i) {
    if (uint64_t{clusters[i]} == first + count) {
      ++count;
      continue;
    }
    ok = cluster_runs_append(list, first, count) && ok;
    first = clusters[i];
    count = 1;
  }
  return cluster_runs_append(list, first, count) && ok;
}
}  // namespace

bool cluster_runs_from_clusters(cluster_runs& list, const std::vector<uint64_t>& clusters) {
  return runs_from_list(list, clusters);
}

bool cluster_runs_from_clusters32(cluster_runs& list, const std::vector<uint32_t>& clusters) {
  return runs_from_list(list, clusters);
}

bool cluster_runs_add_cluster(cluster_runs& list, uint64_t cluster) {
  return cluster_runs_append(list, cluster, 1);
}

bool cluster_runs_remove(cluster_runs& list, const cluster_run& run) {
  return guarded([&] {
    const uint64_t count = run.count();
    if (count == 0 || run.sparse()) return true;
    const uint64_t lo = run.m_first;
    const uint64_t hi = count > ~uint64_t{0} - lo ? ~uint64_t{0} : lo + count;  // exclusive
    std::vector<cluster_run> kept;
    for (const cluster_run& r : list.m_runs) {
      const uint64_t rc = r.count();
      const uint64_t r_end = rc > ~uint64_t{0} - r.m_first ? ~uint64_t{0} : r.m_first + rc;
      if (r.sparse() || r_end <= lo || r.m_first >= hi) {
        kept.push_back(r);
        continue;
      }
      if (r.m_first < lo) kept.push_back(make_run(r.m_first, lo - r.m_first, r.flags()));
      if (r_end > hi) kept.push_back(make_run(hi, r_end - hi, r.flags()));
    }
    list.m_runs.swap(kept);
    return true;
  });
}

bool cluster_runs_remove_all(cluster_runs& list, const cluster_runs& other) {
  for (const cluster_run& r : other.m_runs) cluster_runs_remove(list, r);
  return true;
}

// ---------------------------------------------------------------------------

bool cluster_runs_tail(const cluster_runs& list, uint64_t start_vcn, cluster_runs& out) {
  return guarded([&] {
    cluster_runs_init(out, list.m_base_offset, list.m_bytes_per_cluster, list.m_content_size);
    if (!cluster_runs_usable(list)) return false;
    if (start_vcn == 0) {
      out.m_runs = list.m_runs;
      return true;
    }
    uint64_t start = 0;
    bool found = false;
    for (const cluster_run& r : list.m_runs) {
      const uint64_t count = r.count();
      if (found) {
        out.m_runs.push_back(r);
      } else if (start_vcn >= start && start_vcn - start < count) {
        const uint64_t skip = start_vcn - start;
        const uint64_t rest = r.open_ended() ? cluster_count_open : count - skip;
        if (r.sparse())
          cluster_runs_append_sparse(out, rest);
        else
          cluster_runs_append(out, r.m_first + skip, rest);
        found = true;
      }
      start += count;
    }
    return found;
  });
}

bool cluster_runs_extents_from(const cluster_runs& list, uint64_t start_vcn,
                               std::vector<uint64_t>& offsets, std::vector<uint64_t>& firsts,
                               std::vector<uint64_t>& counts, std::vector<uint8_t>* sparse) {
  return guarded([&] {
    offsets.clear();
    firsts.clear();
    counts.clear();
    if (sparse) sparse->clear();
    cluster_runs tail;
    if (!cluster_runs_tail(list, start_vcn, tail)) return false;
    for (const cluster_run& r : tail.m_runs) {
      offsets.push_back(cluster_runs_cluster_offset(tail, r.m_first));
      firsts.push_back(r.m_first);
      counts.push_back(r.count());
      if (sparse) sparse->push_back(r.sparse() ? 1 : 0);
    }
    return true;
  });
}

bool cluster_runs_to_clusters(const cluster_runs& list, std::vector<uint64_t>& clusters,
                              uint64_t medium_bytes) {
  return guarded([&] {
    clusters.clear();
    // The counts come from the medium: every listed cluster must lie on it,
    // so a list is refused before anything grows when its runs reach past
    // the medium's end or hold more clusters than the medium has.
    const uint32_t cs = list.m_bytes_per_cluster;
    if (cs == 0) return false;
    const uint64_t base = list.m_base_offset;
    uint64_t on_medium = 0;
    if (base >> 63)
      on_medium = medium_bytes > (uint64_t{1} << 62) ? 0 : (medium_bytes + (~base + 1)) / cs;
    else
      on_medium = medium_bytes > base ? (medium_bytes - base) / cs : 0;
    uint64_t total = 0;
    for (const cluster_run& r : list.m_runs) {
      if (r.sparse() || r.open_ended()) continue;
      const uint64_t count = r.count();
      if (r.m_first > on_medium || count > on_medium - r.m_first) return false;
      total += count;
      if (total > on_medium) return false;
    }
    clusters.reserve(static_cast<size_t>(total));
    for (const cluster_run& r : list.m_runs) {
      if (r.sparse() || r.open_ended()) continue;
      for (uint64_t i = 0; i < r.count(); ++i) clusters.push_back(r.m_first + i);
    }
    return !clusters.empty();
  });
}

bool record_extents32(const cluster_runs& list, std::vector<uint32_t>& firsts,
                      std::vector<uint32_t>& counts) {
  return guarded([&] {
    firsts.clear();
    counts.clear();
    if (list.m_runs.empty()) return false;
    for (const cluster_run& r : list.m_runs) {
      firsts.push_back(static_cast<uint32_t>(r.m_first));
      counts.push_back(static_cast<uint32_t>(r.count()));
    }
    return true;
  });
}

bool record_clusters32(const cluster_runs& list, std::vector<uint32_t>& clusters,
                       uint64_t medium_bytes) {
  return guarded([&] {
    clusters.clear();
    if (list.m_runs.empty()) return false;
    std::vector<uint64_t> all;
    if (!cluster_runs_to_clusters(list, all, medium_bytes)) return false;
    clusters.reserve(all.size());
    for (uint64_t c : all) clusters.push_back(static_cast<uint32_t>(c));
    return true;
  });
}

bool record_total_clusters(const cluster_runs& list, uint64_t& total) {
  total = 0;
  if (list.m_runs.empty()) return false;
  for (const cluster_run& r : list.m_runs) total += r.count();
  return true;
}

// ---------------------------------------------------------------------------

std::ostream& dump_cluster_runs(const cluster_runs& list, std::ostream& out,
                                const std::string& separator, bool show_offsets, bool hex) {
  if (list.m_runs.empty()) return out << "no clusters";
  if (list.m_bytes_per_cluster == 0) return out;
  for (size_t i = 0; i < list.m_runs.size(); ++i) {
    const cluster_run& r = list.m_runs[i];
    if (i) out << separator;
    if (show_offsets)
      out << hex_number_text(cluster_runs_cluster_offset(list, r.m_first), hex, 2) << "-";
    out << hex_number_text(r.m_first, hex, 2) << "/" << hex_number_text(r.count(), hex, 2);
  }
  if (list.m_over_allocated) out << " [total clusters not backed by size of content (guess)]";
  return out;
}

// ---------------------------------------------------------------------------

bool read_cluster_runs(const cluster_runs& list, uni::fileio* file, std::vector<uint8_t>& bytes,
                       cluster_runs* zero_clusters, RAW_DISK_IO& disk, uint64_t start_vcn,
                       uint64_t length, bool find_zero, bool scan_only) {
  return guarded([&] {
    const bool to_vector = !file && !scan_only;
    if (to_vector) bytes.clear();
    if (zero_clusters) {
      cluster_runs_reset(*zero_clusters);
      if (find_zero)
        cluster_runs_init(*zero_clusters, list.m_base_offset, list.m_bytes_per_cluster,
                          list.m_content_size);
    }
    const uint32_t cs = list.m_bytes_per_cluster;
    bool stored = true;
    const bool ok = cluster_runs_walk(list, disk, start_vcn, length, [&](const cluster_piece& p) {
      if (find_zero && zero_clusters) note_zero_clusters(p, cs, *zero_clusters);
      if (scan_only) return true;
      if (file) {
        stored = file->append(p.bytes, static_cast<uint32_t>(p.length));
        return stored;
      }
      // Outside the outer guard's reach: the walk holds its own state.
      stored = guarded([&] {
        bytes.insert(bytes.end(), p.bytes, p.bytes + p.length);
        return true;
      });
      return stored;
    });
    return ok && stored;
  });
}

bool read_cluster_runs_to_vector(const cluster_runs& list, std::vector<uint8_t>& bytes,
                                 RAW_DISK_IO& disk, uint64_t start_vcn, uint64_t length) {
  return read_cluster_runs(list, nullptr, bytes, nullptr, disk, start_vcn, length, false, false);
}

bool read_cluster_runs_zero_map(const cluster_runs& list, std::vector<uint8_t>& bytes,
                                cluster_runs& zero_clusters, RAW_DISK_IO& disk, uint64_t start_vcn,
                                uint64_t length) {
  return read_cluster_runs(list, nullptr, bytes, &zero_clusters, disk, start_vcn, length, true,
                           false);
}

bool read_cluster_runs_to_file(const cluster_runs& list, uni::fileio& file, RAW_DISK_IO& disk,
                               uint64_t start_vcn, uint64_t length) {
  std::vector<uint8_t> unused;
  return read_cluster_runs(list, &file, unused, nullptr, disk, start_vcn, length, false, false);
}

bool read_cluster_runs_to_file_zero_map(const cluster_runs& list, uni::fileio& file,
                                        cluster_runs& zero_clusters, RAW_DISK_IO& disk,
                                        uint64_t start_vcn, uint64_t length) {
  std::vector<uint8_t> unused;
  return read_cluster_runs(list, &file, unused, &zero_clusters, disk, start_vcn, length, true,
                           false);
}

bool scan_zero_clusters(const cluster_runs& list, cluster_runs& zero_clusters, RAW_DISK_IO& disk,
                        uint64_t start_vcn, uint64_t length) {
  std::vector<uint8_t> unused;
  return read_cluster_runs(list, nullptr, unused, &zero_clusters, disk, start_vcn, length, true,
                           true);
}

bool read_runs_whole(const cluster_runs& list, uni::fileio* file, std::vector<uint8_t>& bytes,
                     RAW_DISK_IO& disk, uint64_t start_vcn, uint64_t length) {
  // Runs are read in bounded pieces here too: one buffer per run would take
  // its size from the medium.
  return read_cluster_runs(list, file, bytes, nullptr, disk, start_vcn, length, false, false);
}

bool read_first_run_content(const cluster_runs& list, std::vector<uint8_t>& bytes,
                            RAW_DISK_IO& disk) {
  if (!cluster_runs_usable(list) || list.m_content_size == 0 || !disk.is_open() ||
      cluster_runs_compressed(list))
    return false;
  const cluster_run& r = list.m_runs[0];
  if (r.sparse()) return false;
  if (bytes.size() < list.m_content_size && !try_resize(bytes, list.m_content_size)) return false;
  // Past the valid bytes the content is zeros, not what the clusters hold.
  const uint32_t want =
      static_cast<uint32_t>(std::min<uint64_t>(list.m_content_size, list.m_valid_bytes));
  uint32_t got = want;
  uint64_t at = 0;
  const bool ok = want == 0 ||
                  (cluster_byte_offset(list, r.m_first, at) && disk.read_at(bytes.data(), got, at));
  if (!ok) got = 0;
  std::fill(bytes.begin() + got, bytes.begin() + list.m_content_size, uint8_t{0});
  return ok && got == want;
}

bool read_cluster_list(RAW_DISK_IO& disk, std::vector<uint8_t>& bytes, uint64_t& length,
                       uint32_t first_index, const std::vector<uint32_t>& clusters,
                       uint32_t cluster_size, uint64_t base) {
  if (!disk.is_open() || length == 0 || cluster_size == 0 || cluster_size % 512 != 0 ||
      cluster_size > kMaxClusterBytes)
    return false;
  // Never more clusters than the list holds, nor than the medium does: every
  // one of them is read from it, so room is made only for what it can give.
  uint64_t count = length == whole_content
                       ? clusters.size()
                       : std::min<uint64_t>(ceil_div_u64(length, cluster_size), clusters.size());
  if (length == whole_content) length = count * cluster_size;
  bool ok = true;
  const uint64_t held = disk.size() / cluster_size;
  if (count > held) {
    count = held;
    ok = false;
  }
  if (!try_resize(bytes, static_cast<size_t>(count * cluster_size))) return false;
  std::fill(bytes.begin(), bytes.end(), uint8_t{0});
  uint64_t done = 0;
  for (uint64_t i = first_index; i < count; ++i) {
    uint32_t got = cluster_size;
    uint64_t offset = 0;
    if (!checked_mul<uint64_t>(clusters[i], cluster_size, offset) ||
        !checked_add(offset, base, offset) || !disk.read_at(bytes.data() + done, got, offset))
      got = 0;
    done += got;
    if (got < cluster_size) {
      ok = false;
      break;
    }
  }
  if (done < length) length = done;
  return ok;
}

// ---------------------------------------------------------------------------

bool cluster_maps_from_table(cluster_runs& free_runs, cluster_runs& bad_runs, const uint8_t* table,
                             size_t table_bytes, uint32_t bits_per_entry, uint64_t base,
                             uint32_t cluster_size, uint32_t content_size, uint64_t entry_limit) {
  cluster_runs_init(free_runs, base, cluster_size, content_size);
  cluster_runs_init(bad_runs, base, cluster_size, content_size);
  if (!table || table_bytes == 0 || cluster_size == 0) return false;
  uint64_t entries = 0;
  switch (bits_per_entry) {
    case 1:
      entries = uint64_t{table_bytes} * 8;
      break;
    case 16:
      entries = table_bytes / 2;
      break;
    case 32:
      entries = table_bytes / 4;
      break;
    default:
      return false;
  }
  if (entry_limit) entries = std::min(entries, entry_limit);
  for (uint64_t c = 0; c < entries; ++c) {
    if (bits_per_entry == 1) {
      if (!(table[c / 8] & (1u << (c % 8)))) cluster_runs_add_cluster(free_runs, c);
      continue;
    }
    const uint32_t v = bits_per_entry == 16 ? load_le16(table + 2 * c) : load_le32(table + 4 * c);
    if (v == 0)
      cluster_runs_add_cluster(free_runs, c);
    else if (v == (bits_per_entry == 16 ? 0xFFF7u : 0x0FFFFFF7u))
      cluster_runs_add_cluster(bad_runs, c);
  }
  return !free_runs.m_runs.empty() || !bad_runs.m_runs.empty();
}

// ---------------------------------------------------------------------------

uint64_t fat_cluster0_offset(const boot_sector& bs, uint64_t volume_offset) {
  // A data area closer than two clusters to the medium's start puts cluster
  // 0 before it: the offset is then kept modulo 2^64.
  return volume_offset + static_cast<uint64_t>(fat32_cluster_zero_offset(bs));
}

bool fat_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first_cluster,
                       uint64_t length, const uint32_t* fat, size_t fat_bytes,
                       uint64_t volume_offset) {
  runs.m_runs.clear();
  if (runs.m_bytes_per_cluster == 0) runs.m_bytes_per_cluster = fat_cluster_size(bs);
  if (runs.m_base_offset == 0) runs.m_base_offset = fat_cluster0_offset(bs, volume_offset);
  const uint32_t cs = runs.m_bytes_per_cluster;
  const uint64_t entries = std::min<uint64_t>(fat_bytes / 4, uint64_t{1} << 28);
  // The table's entry count bounds the chain; a table may be shorter than
  // one cluster.
  if (!fat || cs == 0 || first_cluster < 2 || entries < 2 || first_cluster > entries - 2)
    return false;
  const uint64_t wanted = length ? ceil_div_u64(length, cs) : 0;
  std::vector<bool> seen;
  if (!try_resize(seen, static_cast<size_t>(entries))) return false;
  uint64_t taken = 0;
  uint32_t cur = first_cluster;
  while (cur >= 2 && cur < 0x0FFFFFF8u && cur < entries && !seen[cur] &&
         (wanted == 0 || taken < wanted)) {
    seen[cur] = true;
    cluster_runs_add_cluster(runs, cur);
    ++taken;
    // The table holds the medium's little-endian words.
    cur = load_le32(reinterpret_cast<const uint8_t*>(fat + cur)) & 0x0FFFFFFFu;
  }
  runs.m_over_allocated = 0;
  return !runs.m_runs.empty();
}

bool read_fat_clusters(const boot_sector& bs, std::vector<uint8_t>& bytes,
                       const std::vector<uint32_t>& clusters, RAW_DISK_IO& disk,
                       uint64_t volume_offset) {
  const uint32_t cs = fat_cluster_size(bs);
  if (clusters.empty() || !disk.is_open() || cs == 0 || cs > kMaxClusterBytes) return false;
  uint64_t total = 0;
  if (!checked_mul<uint64_t>(clusters.size(), cs, total) || total > disk.size()) return false;
  if (!try_resize(bytes, static_cast<size_t>(total))) return false;
  std::fill(bytes.begin(), bytes.end(), uint8_t{0});
  const uint64_t data = volume_offset + fat32_data_offset(bs);
  for (size_t i = 0; i < clusters.size(); ++i) {
    const uint64_t offset = data + (uint64_t{clusters[i]} - 2) * cs;
    uint32_t got = cs;
    if (clusters[i] < 2 || !disk.read_at(bytes.data() + i * cs, got, offset) || got < cs) {
      std::fprintf(stderr, "prob reading disk at offset 0x%08llx\n",
                   static_cast<unsigned long long>(offset));
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(i * cs), bytes.end(), uint8_t{0});
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------

namespace {

// A copy that ends before the length asked says so, with how far it came.
void report_short_copy(const char* what, uint64_t from, uint64_t copied, uint64_t asked,
                       bool medium_end) {
  std::fprintf(stderr, "prob: %s from offset 0x%llx stopped after 0x%llx of 0x%llx bytes (%s)\n",
               what, static_cast<unsigned long long>(from), static_cast<unsigned long long>(copied),
               static_cast<unsigned long long>(asked),
               medium_end ? "the end of the medium" : "a failed read or write");
}

}  // namespace

bool copy_disk_to_image(RAW_DISK_IO& disk, const std::wstring& path, uint64_t start,
                        uint64_t length, const cmd_params* settings, bool append,
                        uint64_t* copied) {
  if (copied) *copied = 0;
  uint64_t pos = start;
  const bool whole = guarded([&] {
    if (!disk.is_open() || start >= disk.size() || length == 0) return false;
    // The bytes the medium holds are copied; a length beyond them asks for
    // bytes that are not there, and the copy is short, not whole.
    const uint64_t asked = length;
    length = std::min(length, disk.size() - start);
    uni::fileio out;
    if (!(append ? out.open_append(path, false) : out.open(path, true, false, true))) return false;
    std::vector<uint8_t> buffer(kImageChunk);
    const uint64_t end = start + length;
    for (uint64_t chunk = 0; pos < end; ++chunk) {
      if (status_on(settings) && chunk % 17 == 0)
        status_printf("percent done %4.2f", double(pos - start) / double(length) * 100.0);
      uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(kImageChunk, end - pos));
      if (!disk.read_at(buffer.data(), got, pos) || got == 0) break;
      if (!out.append(buffer.data(), got)) break;
      pos += got;
    }
    out.close();
    erase_status_line_if_enabled(settings);
    const bool complete = asked == length && pos == end;
    if (!complete) report_short_copy("image copy", start, pos - start, asked, pos == disk.size());
    return complete;
  });
  if (copied) *copied = pos - start;
  return whole;
}

namespace {

// Writes zeros over [offset, offset + length) of the target in sectors.
bool write_zero_sectors(RAW_DISK_IO& target, uint64_t offset, uint32_t length) {
  static const uint8_t zeros[512] = {};
  for (uint32_t done = 0; done < length;) {
    uint32_t n = std::min<uint32_t>(512, length - done);
    if (!target.write_at(zeros, n, offset + done)) return false;
    done += n;
  }
  return true;
}

}  // namespace

bool copy_disk_to_disk(RAW_DISK_IO& source, int32_t target_drive, uint64_t source_offset,
                       uint64_t target_offset, uint64_t length, const cmd_params* settings,
                       uint64_t* zero_filled) {
  return guarded([&] {
    if (zero_filled) *zero_filled = 0;
    RAW_DISK_IO target(target_drive, true, false, disk_mode_drive);
    if (!target.is_open() || !source.is_open()) return false;
    if (source_offset >= source.size() || target_offset >= target.size()) return false;
    const uint64_t asked = length;
    length = std::min({length, source.size() - source_offset, target.size() - target_offset});
    std::vector<uint8_t> buffer(kCopyChunk);
    bool ok = true;
    uint64_t done = 0;
    for (uint64_t chunk = 0; done < length; ++chunk) {
      if (status_on(settings) && chunk % 17 == 0)
        status_printf("percent done %4.2f", double(done) / double(length) * 100.0);
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, length - done));
      uint32_t got = want;
      if (!source.read_at(buffer.data(), got, source_offset + done) || got < want) {
        if (!write_zero_sectors(target, target_offset + done, want)) {
          std::fprintf(stderr, "prob writing data out to disk, aborting\n");
          ok = false;
          break;
        }
        if (zero_filled) *zero_filled += want;
      } else {
        uint32_t put = want;
        if (!target.write_at(buffer.data(), put, target_offset + done) || put != want) {
          std::fprintf(stderr,
                       "prob writing data out to disk, aborting [num bytes: 0x%08x bytes at offset "
                       "0x%llx]\n",
                       want, static_cast<unsigned long long>(target_offset + done));
          ok = false;
          break;
        }
      }
      done += want;
    }
    target.reset();
    erase_status_line_if_enabled(settings);
    // A length past the end of either medium is a short copy, not a whole one.
    if (ok && asked != length) report_short_copy("disk copy", source_offset, done, asked, true);
    return ok && done == length && asked == length;
  });
}

bool copy_image_to_disk(RAW_DISK_IO& target, uni::fileio& image, uint64_t image_offset,
                        uint64_t disk_offset, uint64_t length, const cmd_params* settings,
                        uint64_t* zero_filled) {
  return guarded([&] {
    if (zero_filled) *zero_filled = 0;
    if (!target.is_open() || !image.usable()) return false;
    const uint64_t image_size = image.stored_size();
    if (image_offset >= image_size || disk_offset >= target.size()) return false;
    const uint64_t asked = length;
    length = std::min({length, image_size - image_offset, target.size() - disk_offset});
    std::vector<uint8_t> buffer(kCopyChunk);
    bool ok = true;
    uint64_t done = 0;
    for (uint64_t chunk = 0; done < length; ++chunk) {
      if (status_on(settings) && chunk % 57 == 0)
        status_printf("percent done %4.1f", double(done) / double(length) * 100.0);
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, length - done));
      uint32_t got = want;
      const bool read_ok = image.read_at(buffer.data(), got, image_offset + done) && got == want;
      uint32_t put = want;
      if (!read_ok || !target.write_at(buffer.data(), put, disk_offset + done) || put != want) {
        if (!write_zero_sectors(target, disk_offset + done, want)) {
          std::fprintf(stderr, "prob writing data out to disk, aborting\n");
          ok = false;
          break;
        }
        if (zero_filled) *zero_filled += want;
      }
      done += want;
    }
    erase_status_line_if_enabled(settings);
    if (ok && asked != length) report_short_copy("image restore", image_offset, done, asked, true);
    return ok && done == length && asked == length;
  });
}

}  // namespace vk
