#include "disk/inode_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cmdline/cmd_params.h"
#include "cmdline/diag_printf.h"
#include "cmdline/progress.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

inline constexpr uint64_t root_entry = 5;
inline constexpr uint64_t bit63 = uint64_t{1} << 63;
inline constexpr size_t first_read_max = 1u << 20;

unsigned long long ull(uint64_t v) {
  return static_cast<unsigned long long>(v);
}

uint64_t first_parent_entry(const inode_record& rec) {
  return rec.m_parents.begin()->entry_number();
}

mft_ref record_ref(const inode_entry& rec) {
  return make_mft_ref(rec.m_entry_low, static_cast<uint16_t>(rec.m_entry_high), rec.m_sequence);
}

bool status_on(const cmd_params* settings) {
  return settings && settings->m_status_messages;
}

}  // namespace

// ---------------------------------------------------------------------------
// Small records
// ---------------------------------------------------------------------------

void clear_scan_progress(scan_progress& p) {
  p.m_disk = nullptr;
  p.m_context = nullptr;
  p.m_record = nullptr;
  p.m_interval = 0;
  p.m_offset = 0;
  p.m_step = 0;
  p.m_text.clear();
}

void scan_progress_init(scan_progress& p) {
  clear_scan_progress(p);
}

void path_part_init(path_part& p, const std::string& name, uint32_t entry_low, uint32_t entry_high,
                    bool full_path, bool reaches_root) {
  p.m_name = name;
  p.m_entry_low = entry_low;
  p.m_entry_high = entry_high;
  p.m_full_path = full_path ? 1 : 0;
  p.m_reaches_root = reaches_root ? 1 : 0;
}

void path_part_copy(path_part& dst, const path_part& src) {
  if (&dst != &src) dst = src;
}

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

_inode_collection::_inode_collection() {
  reset();
}

_inode_collection::~_inode_collection() {
  release_disk();
}

void _inode_collection::release_disk() {
  if (m_volume.m_disk == m_disk) m_volume = ntfs_volume_map();
  if (m_disk && m_owns_disk) delete m_disk;
  m_disk = nullptr;
  m_owns_disk = 0;
}

void _inode_collection::reset() {
  release_disk();
  m_store.clear();
  m_directories.clear();
  m_entries.clear();
  m_refs.clear();
  m_start_offset = 0;
  m_range_length = 0;
  m_base_offset = 0;
  m_record_size = 1024;
  m_all_records = 0;
  m_filter.clear();
  m_stream_name.clear();
  m_settings = nullptr;
  m_progress_interval = 0;
  m_options = 0;
  m_progress = nullptr;
  m_volume = ntfs_volume_map();
}

bool _inode_collection::set_volume(RAW_DISK_IO* disk, uint64_t volume_offset) {
  return ntfs_volume_map_from_boot(m_volume, disk, volume_offset);
}

void _inode_collection::find_volume(RAW_DISK_IO* disk) {
  m_volume = ntfs_volume_map();
  guarded([&] {
    std::vector<uint8_t> raw(m_record_size);
    uint32_t got = m_record_size;
    if (!disk->read(raw.data(), got, m_base_offset, false) || got != m_record_size) return false;
    inode_record mft;
    mft.m_options = mft_keep_data_runs;
    if (!parse_file_record(mft, raw.data(), raw.size(), disk, m_base_offset, m_record_size,
                           false) ||
        mft.m_data_runs.empty() || (mft.m_data_runs[0].m_negative & data_run_sparse))
      return false;
    // Each cluster size puts the volume's first byte elsewhere; the boot
    // sector found there must agree.
    const uint64_t lcn = mft.m_data_runs[0].m_cluster;
    for (uint32_t cs = 512; cs <= (2u << 20); cs *= 2) {
      uint64_t back = 0;
      if (!checked_mul(lcn, uint64_t{cs}, back) || back > m_base_offset) break;
      ntfs_volume_map map;
      if (ntfs_volume_map_from_boot(map, disk, m_base_offset - back) && map.m_cluster_size == cs &&
          map.m_record_size == m_record_size) {
        m_volume = std::move(map);
        return true;
      }
    }
    return false;
  });
}

bool _inode_collection::reset_reserve(uint64_t /*capacity*/) {
  reset();
  return true;
}

bool _inode_collection::open_owned(const std::string& path, bool test_record) {
  return guarded([&] {
    if (path.empty()) return false;
    release_disk();
    auto disk = std::make_unique<RAW_DISK_IO>(path, false, uint8_t{0}, disk_mode_path);
    if (!disk->is_open()) return false;
    const size_t first =
        m_progress_interval < 1024 ? 4096 : std::min<size_t>(m_progress_interval, first_read_max);
    if (disk->size() < first) return false;
    std::vector<uint8_t> head(first);
    uint32_t got = static_cast<uint32_t>(first);
    if (!disk->read_at(head.data(), got, 0) || got != first) return false;
    uint32_t size = 1024;
    if (test_record) {
      size = file_record_size(head.data(), head.size());
      if (size == 0) return false;
    }
    m_range_length = disk->size();
    m_base_offset = 0;
    m_record_size = size;
    m_disk = disk.release();
    m_owns_disk = 1;
    return true;
  });
}

bool _inode_collection::open_mft_file_scan(const std::string& path, bool no_scan,
                                           inode_record_callback callback,
                                           scan_progress_callback progress, void* context) {
  if (!open_owned(path, false)) return false;
  return no_scan || scan(callback, progress, context);
}

bool _inode_collection::open_mft_file(const std::string& path, bool no_load,
                                      inode_record_callback callback, void* context) {
  if (!open_owned(path, true)) return false;
  return no_load || load(callback, context);
}

bool _inode_collection::attach_disk(RAW_DISK_IO* disk, bool no_load, inode_record_callback callback,
                                    void* context, uint64_t range_length, uint64_t base_offset) {
  const bool attached = guarded([&] {
    if (!disk || !disk->is_open()) return false;
    const size_t first =
        m_progress_interval < 1024 ? 4096 : std::min<size_t>(m_progress_interval, first_read_max);
    if (range_length < first) return false;
    std::vector<uint8_t> head(first);
    uint32_t got = static_cast<uint32_t>(first);
    if (!disk->read(head.data(), got, base_offset, true) || got != first) return false;
    const uint32_t size = file_record_size(head.data(), head.size());
    if (size == 0) return false;
    if (disk != m_disk) release_disk();
    m_disk = disk;
    m_owns_disk = 0;
    m_base_offset = base_offset;
    m_range_length = range_length;
    m_record_size = size;
    if (!m_volume.m_disk) find_volume(disk);
    return true;
  });
  if (!attached) return false;
  return no_load || load(callback, context);
}

bool _inode_collection::attach_range(RAW_DISK_IO* disk, bool attach_only, uint64_t start,
                                     uint64_t end, uint32_t interval,
                                     inode_record_callback callback,
                                     scan_progress_callback progress, void* context,
                                     scan_progress* progress_out) {
  reset_reserve(inode_store_reserve_max);
  if (!disk || !disk->is_open() || !context || end < start) return false;
  m_disk = disk;
  m_owns_disk = 0;
  // The walk runs from the start offset up to the range length, both from
  // the range's first byte: [start, end) needs the length to be end.
  m_base_offset = 0;
  m_start_offset = start;
  m_range_length = end;
  m_record_size = 1024;
  m_progress_interval = interval;
  m_progress = progress_out;
  return attach_only || scan(callback, progress, context);
}

// ---------------------------------------------------------------------------
// Record walks
// ---------------------------------------------------------------------------

bool _inode_collection::load(inode_record_callback callback, void* context) {
  return walk(false, callback, nullptr, context);
}

bool _inode_collection::scan(inode_record_callback callback, scan_progress_callback progress,
                             void* context) {
  return walk(true, callback, progress, context);
}

uint64_t _inode_collection::append(const inode_record& rec, bool keyed) {
  const uint64_t index = m_store.size();
  m_store.push_back(rec);
  const uint64_t entry = rec.entry_number();
  if (keyed) m_refs.emplace(record_ref(rec), index);
  if (rec.m_directory) {
    auto [it, added] = m_directories.emplace(entry, index);
    if (!added && (rec.m_in_use || (rec.m_flags & mft_flag_in_use))) it->second = index;
  }
  m_entries.emplace(entry, index);
  return index;
}

bool _inode_collection::accept(uint8_t* raw, uint64_t entry, uint64_t offset, bool scan_mode,
                               inode_record_callback callback, void* context) {
  return guarded(
      [&] {
        const uint64_t index = m_store.size();
        m_store.emplace_back();
        {
          inode_record& rec = m_store[index];
          rec.m_options = m_options;
          rec.m_filter = m_filter;
          rec.m_stream_name = m_stream_name;
          // Set before the callback: a callback that keeps this copy in place
          // of a stored one must know where it lies.
          rec.m_file_offset = offset;
        }
        if (!parse_file_record(m_store[index], raw, m_record_size, m_disk, m_base_offset,
                               m_record_size, false, volume())) {
          m_store.pop_back();
          return true;
        }
        if (callback && context &&
            callback(context, m_store[index], index, entry, offset) == inode_record_handled) {
          if (scan_mode)
            diag_printf(
                m_settings,
                "checking/updating store entry with: inode: 0x%llx, indx 0x%llx, offset 0x%llx",
                ull(entry), ull(index), ull(offset));
          if (m_store.size() == index + 1) m_store.pop_back();
          return true;
        }
        if (scan_mode)
          diag_printf(m_settings, "adding inode: 0x%llx, indx 0x%llx, offset 0x%llx", ull(entry),
                      ull(index), ull(offset));
        inode_record& rec = m_store[index];
        m_refs.emplace(make_mft_ref(static_cast<uint32_t>(entry), 0, rec.m_sequence), index);
        m_entries.emplace(entry, index);
        if (rec.m_directory) {
          auto [it, added] = m_directories.emplace(entry, index);
          if (!added && rec.m_in_use) it->second = index;
        }
        return true;
      },
      [&] {
        std::fprintf(stderr, "exception caught: %llu\n", ull(entry));
        return false;
      });
}

bool _inode_collection::walk(bool scan_mode, inode_record_callback callback,
                             scan_progress_callback progress, void* context) {
  const auto finish = [&] {
    if (!m_directories.empty()) build_paths();
    return !m_directories.empty();
  };
  if (!m_disk || !m_disk->is_open()) return finish();
  m_directories.clear();
  const uint64_t size = m_record_size;
  // A record must hold at least its header and update-sequence array.
  if (size < 512) return false;
  // The range's length is a claim (a boot sector's, a caller's): only the
  // records the medium holds behind the base offset can be read, so room is
  // reserved for no more than those.
  uint64_t range = m_range_length;
  if (scan_mode || !m_disk->remap_active())
    range = std::min(range, m_disk->size() > m_base_offset ? m_disk->size() - m_base_offset : 0);
  const uint64_t wanted = std::min(range / size, inode_store_reserve_max);
  std::vector<uint8_t> buffer;
  const bool ready = guarded([&] {
    m_store.reserve(static_cast<size_t>(wanted));
    buffer.resize(static_cast<size_t>(size * 16));
    return true;
  });
  if (!ready) return false;

  scan_progress local_progress;
  scan_progress& report = m_progress ? *m_progress : local_progress;
  uint64_t counted = 0;
  uint64_t pos = scan_mode ? m_start_offset : 0;
  while (pos < range) {
    uint64_t at = 0;
    if (!checked_add(m_base_offset, pos, at)) break;
    if (!scan_mode && status_on(m_settings)) show_percent_done(60, pos, range, 1);
    uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), range - pos));
    if (!m_disk->read(buffer.data(), got, at, !scan_mode)) break;
    const uint64_t slots = got / size;
    for (uint64_t i = 0; i < slots; ++i) {
      uint8_t* raw = buffer.data() + i * size;
      const bool take = is_mft_file_record(raw, size) && load_le16(raw + 20) <= size &&
                        (m_all_records || (load_le16(raw + 22) & mft_flag_directory));
      if (!take) {
        if (scan_mode && progress && m_progress_interval && (i * size) % m_progress_interval == 0) {
          clear_scan_progress(report);
          report.m_disk = m_disk;
          report.m_context = context;
          report.m_record = raw;
          report.m_interval = m_progress_interval;
          report.m_offset = at + i * size;
          report.m_step = report.m_offset / m_progress_interval;
          progress(report);
        }
        continue;
      }
      const uint64_t entry = load_le32(raw + 44);
      if (!accept(raw, entry, at + i * size, scan_mode, callback, context)) break;
    }
    if (scan_mode && m_store.size() > counted && status_on(m_settings)) {
      status_printf("inode count %lld, offset 0x%0llx\n", static_cast<long long>(counted),
                    ull(pos - m_start_offset));
      counted = m_store.size();
    }
    if (!checked_add(pos, size * 16, pos)) break;
  }
  return finish();
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

bool _inode_collection::is_root(const inode_record& rec) const {
  return rec.entry_number() == root_entry;
}

void _inode_collection::build_paths() {
  guarded([&] {
    for (const auto& [entry, index] : m_directories) {
      if (index >= m_store.size()) continue;
      {
        inode_record& rec = m_store[index];
        if (entry == root_entry && is_root(rec)) {
          rec.m_path = "[root]/";
          rec.m_path_built = 1;
          rec.m_reaches_root = 1;
          rec.m_directory = 1;
          continue;
        }
        if (rec.m_path_built) continue;
      }
      std::vector<path_part> parts;
      const inode_record& self = m_store[index];
      parts.emplace_back();
      path_part_init(parts.back(), self.m_name, self.m_entry_low, self.m_entry_high, false, true);
      bool reached = false;
      // Every directory is climbed through at most once: a cycle of parents
      // ends the walk without reaching the root.
      std::set<uint64_t> visited{entry};
      if (!self.m_parents.empty()) {
        uint64_t parent = first_parent_entry(self);
        for (;;) {
          if (parent == root_entry) {
            parts.emplace_back();
            path_part_init(parts.back(), "[root]", 5, 0, true, true);
            reached = true;
            break;
          }
          const auto it = m_directories.find(parent);
          if (it == m_directories.end() || it->second >= m_store.size()) {
            char text[40];
            std::snprintf(text, sizeof(text), "[unk_inode_0x%08llx]", ull(parent));
            parts.emplace_back();
            path_part_init(parts.back(), text, static_cast<uint32_t>(parent),
                           static_cast<uint32_t>(parent >> 32), true, false);
            break;
          }
          const inode_record& up = m_store[it->second];
          if (up.m_path_built) {
            parts.emplace_back();
            path_part_init(parts.back(), up.m_path, static_cast<uint32_t>(parent),
                           static_cast<uint32_t>(parent >> 32), true, up.m_reaches_root != 0);
            reached = true;
            break;
          }
          if (!visited.insert(parent).second) break;
          parts.emplace_back();
          path_part_init(parts.back(), up.m_name, static_cast<uint32_t>(parent),
                         static_cast<uint32_t>(parent >> 32), false, true);
          if (up.m_parents.empty()) break;
          const uint64_t next = first_parent_entry(up);
          if (next == parent) break;
          parent = next;
        }
      }
      std::string text;
      bool running = reached;
      for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (!part->m_reaches_root) running = false;
        const uint64_t number = part->m_entry_low | (uint64_t{part->m_entry_high} << 32);
        if (part->m_name.empty()) {
          char unk[40];
          std::snprintf(unk, sizeof(unk), "[unk_inode_0x%08llx]", ull(number));
          text += unk;
        } else {
          text += part->m_name;
        }
        if (text.back() != '\\') text += '\\';
        if (part->m_full_path) continue;
        const auto it = m_directories.find(number);
        if (it == m_directories.end() || it->second >= m_store.size()) continue;
        inode_record& dir = m_store[it->second];
        if (dir.m_path_built) continue;
        dir.m_path = text;
        dir.m_path_built = 1;
        dir.m_reaches_root = running ? 1 : 0;
      }
    }
    return true;
  });
}

void build_inode_paths(_inode_collection& collection) {
  collection.build_paths();
}

// ---------------------------------------------------------------------------
// Records from elsewhere
// ---------------------------------------------------------------------------

uint64_t _inode_collection::add_inode(const inode_record& rec, bool& flag, bool accept_free) {
  flag = false;
  return guarded(
      [&]() -> uint64_t {
        if (!accept_free && !(rec.m_flags & mft_flag_in_use)) return ~uint64_t{0};
        if (rec.m_sequence == 0) {
          const auto it = m_entries.find(rec.entry_number());
          if (it != m_entries.end()) {
            flag = true;
            return it->second;
          }
          return append(rec, false);
        }
        const auto found = m_refs.find(record_ref(rec));
        if (found == m_refs.end()) return append(rec, true);
        const uint64_t index = found->second;
        inode_record& stored = m_store[index];
        std::string name = rec.m_name;
        if (name.empty() && !rec.m_wname.empty()) name = to_utf8(rec.m_wname);
        if (name != stored.m_name) {
          if (stored.m_second_name.empty()) {
            stored.m_second_name = name;
          } else if (stored.m_second_name != name) {
            flag = true;
            return index | bit63;
          }
        }
        if (rec.m_parents.empty()) {
          flag = true;
        } else {
          flag = !stored.m_parents.insert(*rec.m_parents.begin()).second;
        }
        return index;
      },
      [] { return ~uint64_t{0}; });
}

uint64_t _inode_collection::store_record(const inode_record& rec, bool& flag) {
  flag = false;
  return guarded(
      [&]() -> uint64_t {
        const auto found = m_refs.find(record_ref(rec));
        if (found != m_refs.end()) {
          flag = true;
          return found->second;
        }
        return append(rec, true);
      },
      [] { return ~uint64_t{0}; });
}

uint64_t _inode_collection::add_usn_record(const usn_entry& e, bool& flag) {
  flag = false;
  if (e.m_major_version == 0) {
    flag = true;
    return m_store.size();
  }
  if (!(e.m_state & usn_entry_filled)) return ~uint64_t{0};
  return guarded(
      [&]() -> uint64_t {
        const auto found = m_refs.find(mft_ref_from_u64(e.m_file_ref));
        if (found == m_refs.end()) {
          inode_record rec;
          inode_from_usn(rec, e);
          return store_record(rec, flag);
        }
        const uint64_t index = found->second;
        inode_record& stored = m_store[index];
        const std::string name = to_utf8(e.m_name);
        if (name != stored.m_name) {
          if (stored.m_second_name.empty()) {
            stored.m_second_name = name;
          } else if (stored.m_second_name != name) {
            flag = true;
            return index | bit63;
          }
        }
        flag = !stored.m_parents.insert(mft_ref_from_u64(e.m_parent_ref)).second;
        return index;
      },
      [] { return ~uint64_t{0}; });
}

bool _inode_collection::find_children(std::set<mft_ref, mft_ref_less>& out, uint32_t a, uint32_t b,
                                      const mft_ref_multimap& map) {
  out.clear();
  return guarded([&] {
    const uint16_t high = static_cast<uint16_t>(b);
    auto it = map.lower_bound(make_mft_ref(a, high, 0));
    mft_ref wanted;
    set_mft_ref(wanted, a, b);
    if (it == map.end() || !mft_ref_equal(it->second, wanted)) return false;
    const auto end = map.lower_bound(make_mft_ref(a, high, 0xFFFF));
    for (; it != end; ++it) out.insert(it->first);
    return !out.empty();
  });
}

// ---------------------------------------------------------------------------
// Look-ups
// ---------------------------------------------------------------------------

namespace {

// Reads and parses one record slot of the collection's range.
bool read_slot(_inode_collection& c, inode_record& out, uint64_t entry) {
  if (!c.m_disk || !c.m_disk->is_open() || c.m_record_size == 0) return false;
  uint64_t offset = 0;
  if (!checked_mul(entry, uint64_t{c.m_record_size}, offset)) return false;
  if (!c.m_disk->remap_active() && !checked_add(offset, c.m_base_offset, offset)) return false;
  std::vector<uint8_t> raw(c.m_record_size);
  uint32_t got = c.m_record_size;
  if (!c.m_disk->read(raw.data(), got, offset, true) || got != c.m_record_size) return false;
  inode_record_reset(out);
  out.m_options = c.m_options;
  out.m_filter = c.m_filter;
  out.m_stream_name = c.m_stream_name;
  return parse_file_record(out, raw.data(), raw.size(), c.m_disk, c.m_base_offset, c.m_record_size,
                           false, c.m_volume.m_disk ? &c.m_volume : nullptr);
}

}  // namespace

bool _inode_collection::get_inode(inode_record& out, uint64_t entry) {
  return guarded([&] {
    const auto it = m_directories.find(entry);
    if (it != m_directories.end() && it->second < m_store.size()) {
      inode_record_assign(out, m_store[it->second]);
      return true;
    }
    return read_slot(*this, out, entry);
  });
}

bool _inode_collection::get_inode_by_ref(inode_record& out, uint32_t entry_low, uint32_t word) {
  return guarded([&] {
    mft_ref ref;
    set_mft_ref(ref, entry_low, word);
    auto it = m_refs.find(ref);
    if (it != m_refs.end() && it->second < m_store.size()) {
      inode_record_assign(out, m_store[it->second]);
      return true;
    }
    if (ref.m_sequence != 0) {
      mft_ref lower = ref;
      --lower.m_sequence;
      it = m_refs.find(lower);
      if (it != m_refs.end() && it->second < m_store.size()) {
        inode_record_assign(out, m_store[it->second]);
        ++out.m_sequence;
        out.m_flags |= mft_flag_in_use;
        out.m_in_use = 1;
        return true;
      }
    }
    if (read_slot(*this, out, ref.entry_number()) && out.m_sequence == ref.m_sequence) return true;
    inode_record_reset(out);
    return false;
  });
}

bool find_inode_entry_by_ref(inode_entry& out, uint32_t entry_low, uint32_t word,
                             const std::map<mft_ref, inode_entry, mft_ref_less>& map) {
  inode_entry_clear(out);
  return guarded([&] {
    mft_ref ref;
    set_mft_ref(ref, entry_low, word);
    const auto it = map.find(ref);
    if (it == map.end()) return false;
    out = it->second;
    return true;
  });
}

uint32_t keep_newer_inode(void* context, inode_record& rec, uint64_t, uint64_t, uint64_t) {
  auto* c = static_cast<_inode_collection*>(context);
  if (!c || !c->m_disk || !c->m_disk->is_open()) return inode_record_handled;
  const auto it = c->m_refs.find(record_ref(rec));
  if (it == c->m_refs.end()) return 1;
  if (it->second < c->m_store.size()) {
    inode_record& stored = c->m_store[it->second];
    const int k = timestamp_set::k_c;
    if (rec.m_si_times.m_times[k] > stored.m_si_times.m_times[k])
      guarded([&] { inode_record_assign(stored, rec); });
  }
  return inode_record_handled;
}

// ---------------------------------------------------------------------------
// Carved MFT
// ---------------------------------------------------------------------------

bool scan_ntfs_volume(std::vector<uint8_t>& out, RAW_DISK_IO* disk, uint64_t volume_offset,
                      cmd_params* settings) {
  out.clear();
  return guarded(
      [&] {
        if (!disk || !disk->is_open()) return false;
        std::vector<uint8_t> head(512);
        uint32_t got = 512;
        if (!disk->read_at(head.data(), got, volume_offset) || got < 512) {
          std::fprintf(stderr, "prob reading disk at offset 0\n");
          return false;
        }
        if (std::memcmp(head.data() + 3, "NTFS", 4) != 0) return false;
        const boot_sector bs = boot_sector_from(head.data(), head.size());
        const uint32_t record_size = ntfs_mft_record_size(bs);
        uint64_t range = 0;
        if (record_size == 0 ||
            !checked_mul(uint64_t{bs.bytes_per_sector()}, bs.ntfs_total_sectors(), range))
          return false;
        // The boot sector's size is a claim: the volume ends where the medium
        // does at the latest, and so does every slot carved from it.
        range = std::min(range, disk->size() - std::min(disk->size(), volume_offset));
        disk->set_cluster_size(ntfs_cluster_size(bs));

        _inode_collection c;
        c.reset_reserve(inode_store_reserve_max);
        c.m_disk = disk;
        c.m_owns_disk = 0;
        c.m_base_offset = volume_offset;
        c.m_start_offset =
            settings && settings->m_scan_start_offset ? settings->m_scan_start_offset : 0;
        c.m_range_length = range;
        c.m_record_size = record_size;
        c.m_all_records = 1;
        c.m_progress_interval = disk->cluster_size();
        c.m_options = mft_keep_index_runs | mft_keep_zone_identifier | mft_keep_data_runs;
        c.m_settings = settings;
        c.set_volume(disk, volume_offset);
        const bool scanned = c.scan(keep_newer_inode, nullptr, &c);
        c.m_disk = nullptr;  // the caller's
        if (!scanned) return false;
        c.m_directories.clear();

        std::map<uint64_t, uint64_t> best;
        const int k = timestamp_set::k_c;
        for (const auto& [entry, index] : c.m_entries) {
          if (index >= c.m_store.size()) continue;
          const auto [it, added] = best.emplace(entry, index);
          if (added) {
            diag_printf(settings, "validating inode: 0x%llx : indx 0x%x", ull(entry),
                        static_cast<unsigned>(index));
            continue;
          }
          const inode_record& now = c.m_store[it->second];
          const inode_record& other = c.m_store[index];
          if (other.m_sequence > now.m_sequence ||
              (other.m_sequence == now.m_sequence &&
               other.m_si_times.m_times[k] > now.m_si_times.m_times[k]))
            it->second = index;
        }
        if (best.empty()) return true;
        // Never more slots than the volume holds records: a carved record
        // may claim any entry number.
        const uint64_t slots = std::min(best.rbegin()->first + 1, range / record_size);
        out.resize(static_cast<size_t>(slots * record_size));
        for (const auto& [entry, index] : best) {
          if (index >= c.m_store.size()) {
            diag_printf(settings, "indx into store outside range: [0x%x : 0x%llx]",
                        static_cast<unsigned>(index), ull(c.m_store.size()));
            continue;
          }
          const uint64_t at = entry * record_size;
          if (entry >= slots) {
            diag_printf(
                settings,
                "inode offset requires a larger buffer than we have [0x%llx : 0x%llx : 0x%llx]",
                ull(entry), ull(at), ull(out.size()));
            continue;
          }
          const uint64_t from = c.m_store[index].m_file_offset;
          diag_printf(settings, "writing inode: 0x%llx : offset 0x%llx", ull(entry), ull(from));
          uint32_t length = record_size;
          if (!disk->read_at(out.data() + at, length, from))
            diag_printf(settings, "prob reading filerecord from inode: 0x%llx, offset 0x%llx",
                        ull(entry), ull(from));
        }
        return true;
      },
      [&] { out.clear(); });
}

bool export_mft(const std::string& path, RAW_DISK_IO* disk, uint64_t volume_offset,
                cmd_params* settings) {
  return guarded([&] {
    std::vector<uint8_t> mft;
    if (path.empty() || !scan_ntfs_volume(mft, disk, volume_offset, settings)) return false;
    uni::fileio file;
    if (!file.open_utf8(path, true, false, true)) return false;
    const bool written = mft.empty() || file.append_bytes(mft);
    file.close();
    return written;
  });
}

}  // namespace vk
