#include "disk/mft_record.h"

#include <algorithm>
#include <cstring>
#include <iomanip>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

// ---------------------------------------------------------------------------
// References
// ---------------------------------------------------------------------------

bool mft_ref_less::operator()(const mft_ref& a, const mft_ref& b) const {
  const uint16_t ha = mft_ref_high(a), hb = mft_ref_high(b);
  if (ha != hb) return ha < hb;
  if (a.m_entry_low != b.m_entry_low) return a.m_entry_low < b.m_entry_low;
  return a.m_sequence < b.m_sequence;
}

mft_ref make_mft_ref(uint32_t entry_low, uint16_t entry_high, uint16_t sequence) {
  mft_ref r;
  set_mft_ref_parts(r, entry_low, entry_high, sequence);
  return r;
}

void set_mft_ref(mft_ref& ref, uint32_t entry_low, uint32_t word) {
  set_mft_ref_parts(ref, entry_low, static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16));
}

mft_ref mft_ref_from_u64(uint64_t value) {
  return make_mft_ref(static_cast<uint32_t>(value), static_cast<uint16_t>(value >> 32),
                      static_cast<uint16_t>(value >> 48));
}

uint16_t mft_ref_high(const mft_ref& ref) {
  return static_cast<uint16_t>(ref.m_entry_high[0] | (ref.m_entry_high[1] << 8));
}

bool mft_ref_equal(const mft_ref& a, const mft_ref& b) {
  return a.m_entry_low == b.m_entry_low && a.m_entry_high == b.m_entry_high &&
         a.m_sequence == b.m_sequence;
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

inode_entry::inode_entry(uint32_t low, uint32_t high, uint16_t sequence, const mft_ref_set& parents,
                         const std::wstring& name, uint32_t flags) {
  inode_entry_set(*this, low, high, sequence, parents, name, flags);
}

inode_entry::inode_entry(uint32_t low, uint32_t high, uint16_t sequence, const mft_ref_set& parents,
                         const std::string& utf8_name, uint32_t flags) {
  inode_entry_set(*this, low, high, sequence, parents, from_utf8(utf8_name), flags);
}

void inode_entry_init(inode_entry& e) {
  inode_entry_clear(e);
}

void inode_record_init(inode_record& r) {
  inode_record_reset(r);
}

void inode_entry_clear(inode_entry& e) {
  e.m_entry_low = 0;
  e.m_entry_high = 0;
  e.m_sequence = 0;
  e.m_parents.clear();
  e.m_name.clear();
  e.m_names.clear();
  e.m_wname.clear();
  e.m_directory = 0;
  e.m_flags = 0;
  e.m_second_refs.clear();
  e.m_second_name.clear();
}

void inode_record_clear_ext(inode_record& r) {
  r.m_path.clear();
  r.m_path_built = 0;
  r.m_reaches_root = 0;
  r.m_in_use = 0;
  r.m_base_record = 1;
  r.m_related.clear();
  r.m_lsn = 0;
  r.m_usn = 0;
  r.m_file_attributes = 0;
  r.m_si_times.timestamp_set_clear();
  r.m_allocated_size = 0;
  r.m_real_size = 0;
  r.m_initialized_size = whole_content;
  r.m_sizes_from_data = 0;
  r.m_fn_times.timestamp_set_clear();
  r.m_options = 0;
  r.m_index_runs.clear();
  r.m_data_runs.clear();
  r.m_resident_data.clear();
  r.m_zone_identifier.clear();
  r.m_named_stream.clear();
  r.m_file_offset = 0;
  r.m_filter.clear();
  r.m_stream_name.clear();
  r.m_unread = 0;
}

void inode_record_reset(inode_record& r) {
  inode_entry_clear(r);
  inode_record_clear_ext(r);
}

void inode_record_assign(inode_record& dst, const inode_record& src) {
  if (&dst != &src) dst = src;
}

void inode_entry_set(inode_entry& e, uint32_t low, uint32_t high, uint16_t sequence,
                     const mft_ref_set& parents, const std::wstring& name, uint32_t flags) {
  e.m_entry_low = low;
  e.m_entry_high = high & 0xFFFF;
  e.m_sequence = sequence;
  e.m_parents = parents;
  if (e.m_parents.empty()) e.m_parents.insert(mft_ref());
  e.m_wname = name;
  e.m_name = to_utf8(name);
  e.m_flags = flags;
  e.m_directory = (flags & mft_flag_directory) ? 1 : 0;
}

inode_entry inode_entry_make(uint32_t low, uint32_t high, uint16_t sequence,
                             const mft_ref_set& parents, const std::wstring& name, uint32_t flags) {
  return inode_entry(low, high, sequence, parents, name, flags);
}

inode_entry inode_entry_make_utf8(uint32_t low, uint32_t high, uint16_t sequence,
                                  const mft_ref_set& parents, const std::string& name,
                                  uint32_t flags) {
  return inode_entry(low, high, sequence, parents, name, flags);
}

uint64_t inode_entry_byte_size(const inode_entry& e) {
  uint64_t names = 0;
  for (const file_name_link& n : e.m_names) names += 8 + n.m_name.size();
  return 80 + e.m_name.size() + e.m_wname.size() + names +
         8 * (uint64_t{e.m_parents.size()} + e.m_second_refs.size());
}

std::string mft_unread_text(uint32_t bits) {
  static const std::pair<uint32_t, const char*> kReasons[] = {
      {mft_unread_list_no_volume, "attribute list in the volume's clusters, volume unknown"},
      {mft_unread_list_unreadable, "attribute list not read whole"},
      {mft_unread_extension, "extension record not read"},
      {mft_unread_compressed, "content compressed"},
      {mft_unread_no_name, "file name not found in the records the attribute list names"},
      {mft_unread_torn,
       "incorrect update sequence value: a sector of the record is torn or damaged"},
      {mft_unread_too_long, "content runs past 2^32 clusters, beyond any NTFS volume"},
      {mft_unread_runs_cut, "run list cut at a run that cannot be decoded"},
      {mft_unread_usa_count, "update sequence count past the record: more entries than sectors"},
      {mft_unread_usa_short,
       "update sequence count short of the record: fewer entries than sectors"},
      {mft_unread_runs_span,
       "runs end at another virtual cluster than the attribute's last: the run list is cut"},
      {mft_unread_runs_past_volume, "run past the volume's clusters: the run list is cut there"},
  };
  std::string text;
  for (const auto& [bit, reason] : kReasons) {
    if (!(bits & bit)) continue;
    if (!text.empty()) text += "; ";
    text += reason;
  }
  return text;
}

void si_copy_clear(si_copy& copy) {
  copy.fill(0);
}

// ---------------------------------------------------------------------------
// Header and fixups
// ---------------------------------------------------------------------------

bool is_mft_file_record(const uint8_t* buffer, size_t length) {
  const byte_view v(buffer, length);
  static const uint8_t sig[4] = {'F', 'I', 'L', 'E'};
  if (!v.starts_with(0, sig, 4) || !v.has(0, 24)) return false;
  return load_le16(buffer + 4) == mft_usa_offset && load_le16(buffer + 20) < 73;
}

uint16_t file_record_size(const uint8_t* buffer, size_t length) {
  if (!is_mft_file_record(buffer, length)) return 0;
  const uint16_t count = load_le16(buffer + 6);
  if (count < mft_usa_count_min || count > mft_usa_count_max) return 0;
  return static_cast<uint16_t>((count - 1) * 512);
}

bool apply_fixups(uint32_t& kind, uint8_t* record, size_t length, uint32_t stride) {
  kind = fixup_none;
  if (!record || length < 1024) return false;
  static const uint8_t indx[4] = {'I', 'N', 'D', 'X'};
  static const uint8_t baad[4] = {'B', 'A', 'A', 'D'};
  const byte_view v(record, length);
  const uint16_t usa = load_le16(record + 4);
  const uint16_t count = load_le16(record + 6);
  uint32_t k = fixup_none;
  if (is_mft_file_record(record, length))
    k = fixup_file;
  else if (v.starts_with(0, indx, 4))
    k = fixup_indx;
  else if (v.starts_with(0, baad, 4) && count <= 10)
    k = fixup_baad;
  if (k == fixup_none) return false;
  kind = k;
  // A stride of 0 would divide by zero and 1 would write in front of the
  // record; sectors are powers of two of 256 bytes or more.
  if (stride < 256 || (stride & (stride - 1)) != 0) return false;
  if (!v.has(usa, size_t{2} * count)) return false;
  if (count < 2) return true;
  if (uint64_t{count - 1u} * stride > length) return false;
  std::vector<uint16_t> saved(count);
  for (size_t i = 0; i < count; ++i) saved[i] = load_le16(record + usa + 2 * i);
  // Each sector ends in the update sequence number while the record is
  // whole: another word there is a sector torn in writing or damaged since,
  // and the record is refused as it stands.
  for (size_t i = 1; i < count && i < length / stride + 1; ++i)
    if (load_le16(record + i * stride - 2) != saved[0]) return false;
  for (size_t i = 1; i < count && i < length / stride + 1; ++i)
    store_le16(record + i * stride - 2, saved[i]);
  return true;
}

// ---------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------

namespace {

// One attribute whose header, name and value (or run list) were checked to
// lie inside it.
struct attr_view {
  const uint8_t* p = nullptr;
  uint32_t length = 0;
  uint32_t type = 0;
  bool nonresident = false;
  uint8_t name_length = 0;  // UTF-16 units
  uint16_t name_offset = 0;
  uint32_t value_length = 0;  // resident only
  uint16_t value_offset = 0;
  const uint8_t* value() const { return p + value_offset; }
  bool has_value() const { return !nonresident && value_offset != 0 && value_length != 0; }
  bool named() const { return name_length != 0 && name_offset != 0; }
};

inline constexpr uint32_t resident_header = 24;
inline constexpr uint32_t nonresident_header = 64;

// Checks the attribute at p (left bytes to the end of the record); false
// ends the walk, a true result with ok clear passes the attribute over.
bool read_attr(const uint8_t* p, size_t left, attr_view& a, bool& ok) {
  ok = false;
  if (left < 8) return false;
  a.p = p;
  a.type = load_le32(p);
  if (a.type == attr_end) return false;
  a.length = load_le32(p + 4);
  if (a.length < resident_header || a.length % 8 != 0 || a.length > left) return false;
  a.nonresident = p[8] != 0;
  if (a.nonresident && a.length < nonresident_header) return false;
  a.name_length = p[9];
  a.name_offset = load_le16(p + 10);
  const byte_view v(p, a.length);
  if (a.name_length && !v.has(a.name_offset, size_t{2} * a.name_length)) return true;
  if (a.nonresident) {
    a.value_length = 0;
    a.value_offset = 0;
    if (load_le16(p + 32) > a.length) return true;
  } else {
    a.value_length = load_le32(p + 16);
    a.value_offset = load_le16(p + 20);
    if (!v.has(a.value_offset, a.value_length)) return true;
  }
  ok = true;
  return true;
}

std::string attr_name_lower(const attr_view& a) {
  std::string name;
  utf16_to_utf8(a.p + a.name_offset, size_t{2} * a.name_length, name, false);
  return str_to_lower(name);
}

void take_si(inode_record& rec, const attr_view& a) {
  if (!a.has_value() || a.value_length < 48) return;
  const uint8_t* v = a.value();
  rec.m_si_times.m_times[timestamp_set::k_b] = load_le64(v);
  rec.m_si_times.m_times[timestamp_set::k_m] = load_le64(v + 8);
  rec.m_si_times.m_times[timestamp_set::k_c] = load_le64(v + 16);
  rec.m_si_times.m_times[timestamp_set::k_a] = load_le64(v + 24);
  rec.m_file_attributes = load_le32(v + 32);
  if (a.value_length >= 72) rec.m_usn = load_le64(v + 64);
}

void take_file_name(inode_record& rec, const attr_view& a) {
  if (!a.has_value() || a.value_length < 66) return;
  const uint8_t* v = a.value();
  const uint8_t units = v[64];
  if (a.value_length < 66u + 2u * units) return;
  const mft_ref parent = mft_ref_from_u64(load_le64(v));
  rec.m_parents.insert(parent);
  // Every name keeps its own parent: the record's one name and its set of
  // parents alone would pair a hard link's name with another's folder.
  file_name_link link;
  link.m_parent = parent;
  link.m_namespace = v[65];
  utf16_to_utf8(v + 66, size_t{2} * units, link.m_name, false);
  rec.m_names.push_back(std::move(link));
  if (v[65] == file_name_dos) return;  // the DOS short name repeats the long one
  rec.m_name = rec.m_names.back().m_name;
  rec.m_fn_times.m_times[timestamp_set::k_b] = load_le64(v + 8);
  rec.m_fn_times.m_times[timestamp_set::k_m] = load_le64(v + 16);
  rec.m_fn_times.m_times[timestamp_set::k_c] = load_le64(v + 24);
  rec.m_fn_times.m_times[timestamp_set::k_a] = load_le64(v + 32);
  // The name's copy of the sizes is refreshed only now and then: the
  // unnamed $DATA's own sizes, when the record has one, win.
  if (rec.m_sizes_from_data) return;
  if (rec.m_allocated_size == 0) rec.m_allocated_size = load_le64(v + 40);
  if (rec.m_real_size == 0) rec.m_real_size = load_le64(v + 48);
}

// The sizes of the unnamed $DATA: a resident value's length, or the header
// of the non-resident piece that starts the content (later pieces, in
// extension records, carry no sizes).
void take_data_sizes(inode_record& rec, const attr_view& a) {
  if (a.named() || rec.m_sizes_from_data) return;
  if (a.nonresident) {
    if (load_le64(a.p + 16) != 0) return;
    rec.m_allocated_size = load_le64(a.p + 40);
    rec.m_real_size = load_le64(a.p + 48);
    rec.m_initialized_size = load_le64(a.p + 56);
  } else {
    rec.m_allocated_size = a.value_length;
    rec.m_real_size = a.value_length;
    rec.m_initialized_size = a.value_length;
  }
  rec.m_sizes_from_data = 1;
}

// Attribute header flag of compressed data (the compression unit, at 34 of
// a non-resident header, gives its unit size).
constexpr uint16_t kAttrCompressed = 0x0001;

// Decodes the runs of a kept list and holds them to what the attribute and
// the volume declare: runs that end short of the attribute's last virtual
// cluster, run on past it, or reach past the volume's clusters are marked,
// and the list is cut before the first run that passes either end. A list
// that cannot be decoded is marked with why (index lists: cut, whatever the
// reason).
void take_runs(inode_record& rec, const attr_view& a, std::vector<data_run>& runs, bool index,
               const ntfs_volume_map* volume) {
  const size_t before = runs.size();
  uint32_t why = 0;
  if (!decode_data_runs(a.p, a.length, runs, &why)) {
    rec.m_unread |= index ? uint32_t{mft_unread_runs_cut} : why;
    return;
  }
  // The clusters from the first virtual cluster to the last; an attribute
  // with none declares its last as one before its first.
  const uint64_t declared = load_le64(a.p + 24) - load_le64(a.p + 16) + 1;
  const uint64_t clusters = volume ? volume->m_clusters : 0;
  uint64_t covered = 0;
  for (size_t i = before; i < runs.size(); ++i) {
    const data_run& r = runs[i];
    uint32_t bad = 0;
    if (r.m_count > declared - covered) bad |= mft_unread_runs_span;
    if (clusters && !(r.m_negative & data_run_sparse) &&
        (r.m_cluster >= clusters || r.m_count > clusters - r.m_cluster))
      bad |= mft_unread_runs_past_volume;
    if (bad) {
      rec.m_unread |= bad;
      runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i), runs.end());
      return;
    }
    covered += r.m_count;
  }
  if (covered != declared) rec.m_unread |= mft_unread_runs_span;
}

void take_data(inode_record& rec, const attr_view& a, const ntfs_volume_map* volume) {
  take_data_sizes(rec, a);
  // Compressed clusters are no content: the record says so, and its runs
  // are marked for the readers to refuse. Resident values are never
  // compressed.
  const bool compressed =
      a.nonresident && !a.named() && (load_le16(a.p + 12) & kAttrCompressed) != 0;
  if (compressed) rec.m_unread |= mft_unread_compressed;
  const uint32_t o = rec.m_options;
  const bool look = (a.nonresident && (o & mft_keep_data_runs)) ||
                    ((o & mft_look_resident_data) && a.has_value());
  if (!look) return;
  if (a.named()) {
    if (!(o & mft_look_named_streams) || a.nonresident) return;
    const std::string name = attr_name_lower(a);
    if ((o & mft_keep_zone_identifier) && name == "zone.identifier")
      rec.m_zone_identifier.assign(a.value(), a.value() + a.value_length);
    else if ((o & mft_keep_named_stream) && name == rec.m_stream_name)
      rec.m_named_stream.assign(a.value(), a.value() + a.value_length);
    return;
  }
  if (!(o & (mft_keep_resident_data | mft_keep_data_runs))) return;
  const bool copy_only = rec.m_name.empty() && !rec.m_filter.empty();
  if (!copy_only && (o & mft_keep_data_runs) && a.nonresident) {
    const size_t before = rec.m_data_runs.size();
    take_runs(rec, a, rec.m_data_runs, false, volume);
    if (compressed)
      for (size_t i = before; i < rec.m_data_runs.size(); ++i)
        rec.m_data_runs[i].m_negative |= data_run_compressed;
  }
  if ((o & mft_keep_resident_data) && !a.nonresident && a.value_length != 0)
    rec.m_resident_data.assign(a.value(), a.value() + a.value_length);
}

uint64_t read_le_bytes(const uint8_t* p, unsigned n) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= uint64_t{p[i]} << (8 * i);
  return v;
}

}  // namespace

bool decode_data_runs(const uint8_t* attr, size_t attr_length, std::vector<data_run>& runs,
                      uint32_t* why) {
  uint32_t reason = mft_unread_runs_cut;
  const bool whole = guarded([&] {
    if (!attr || attr_length < nonresident_header) return false;
    const size_t list_at = load_le16(attr + 32);
    if (list_at > attr_length) return false;
    uint64_t lcn = 0;
    uint64_t vcn = load_le64(attr + 16);
    size_t pos = list_at;
    while (pos < attr_length && attr[pos] != 0) {
      const unsigned l = attr[pos] & 0x0F;
      const unsigned o = attr[pos] >> 4;
      if (l < 1 || l > 8 || o > 8 || 1u + l + o > attr_length - pos) return false;
      const uint64_t count = read_le_bytes(attr + pos + 1, l);
      if (count == 0) return false;
      // More clusters than any volume holds: not damage of the list's
      // coding, and named for what it is.
      if (count > 0xFFFFFFFFu) {
        reason = mft_unread_too_long;
        return false;
      }
      data_run run;
      run.m_count = static_cast<uint32_t>(count);
      run.m_vcn = vcn;
      if (o == 0) {
        run.m_negative = data_run_sparse;
      } else {
        const uint64_t raw = read_le_bytes(attr + pos + 1 + l, o);
        const uint64_t mask = o == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * o)) - 1;
        if ((raw >> (8 * o - 1)) & 1) {
          const uint64_t magnitude = (~raw + 1) & mask;
          if (magnitude > lcn) return false;
          lcn -= magnitude;
          run.m_delta = magnitude;
          run.m_negative = data_run_negative;
        } else {
          if (!checked_add(lcn, raw, lcn)) return false;
          run.m_delta = raw;
        }
        run.m_cluster = lcn;
      }
      runs.push_back(run);
      if (!checked_add(vcn, count, vcn)) return false;
      pos += 1 + l + o;
    }
    return true;
  });
  if (!whole && why) *why |= reason;
  return whole;
}

bool cluster_runs_from_file_runs(cluster_runs& list, const std::vector<data_run>& runs,
                                 uint64_t base, uint32_t bytes_per_cluster) {
  return guarded(
      [&] { return cluster_runs_from_data_runs(list, runs, base, bytes_per_cluster, 0); });
}

bool cluster_runs_from_record(cluster_runs& list, const inode_record& rec, uint64_t base,
                              uint32_t bytes_per_cluster) {
  if (!cluster_runs_from_file_runs(list, rec.m_data_runs, base, bytes_per_cluster)) return false;
  list.m_valid_bytes = rec.m_initialized_size;
  return true;
}

bool is_valid_attr_list_entry(const uint8_t* entry, size_t available) {
  if (!entry || available < 32) return false;
  const uint32_t type = load_le32(entry);
  const uint16_t length = load_le16(entry + 4);
  return type % 16 == 0 && type <= 256 && length >= 32 && available >= length &&
         uint32_t{entry[6]} + entry[7] <= length;
}

namespace {

bool by_vcn(const data_run& a, const data_run& b) {
  return a.m_vcn < b.m_vcn;
}

bool parse_file_record_body(inode_record& rec, uint8_t* raw, size_t length, RAW_DISK_IO* disk,
                            uint64_t base_offset, uint32_t record_size, bool attr_list_mode,
                            const ntfs_volume_map* volume) {
  if (!raw || !disk || !disk->is_open() || record_size == 0 || length < record_size ||
      !is_mft_file_record(raw, length))
    return false;
  // The record's own bytes only, never those of its neighbour in a buffer.
  const size_t size = record_size;
  const size_t count = load_le16(raw + 6);
  const uint16_t usn = load_le16(raw + mft_usa_offset);
  // The table's record size, not the count, says how many sectors the
  // record has: a count that names more is marked and no word past the
  // record's end is put back; one that names fewer is marked and leaves the
  // last sectors as they lie. The entries of the sectors put back lie
  // inside the record either way.
  const size_t sectors = size / 512;
  if (count > sectors + 1) rec.m_unread |= mft_unread_usa_count;
  if (count < sectors + 1) rec.m_unread |= mft_unread_usa_short;
  for (size_t i = 1; i < count && i <= sectors; ++i) {
    // A sector that does not end in the update sequence number is torn or
    // damaged: the record is read as far as it goes, and marked.
    if (load_le16(raw + i * 512 - 2) != usn) rec.m_unread |= mft_unread_torn;
    store_le16(raw + i * 512 - 2, load_le16(raw + mft_usa_offset + 2 * i));
  }
  const uint32_t entry_low = load_le32(raw + 44);
  const uint64_t base_ref = load_le64(raw + 32);
  if (!attr_list_mode) {
    rec.m_entry_low = entry_low;
    rec.m_entry_high = 0;
    rec.m_sequence = load_le16(raw + 16);
    rec.m_lsn = load_le64(raw + 8);
    rec.m_flags = load_le16(raw + 22);
    rec.m_directory = (rec.m_flags & mft_flag_directory) ? 1 : 0;
    rec.m_in_use = (rec.m_flags & mft_flag_in_use) ? 1 : 0;
    if (base_ref != 0) {
      rec.m_base_record = 0;
      rec.m_related.insert(mft_ref_from_u64(base_ref));
    } else {
      rec.m_base_record = 1;
    }
  } else {
    // Each record is merged once, whatever its base reference says.
    if (!rec.m_related.insert(make_mft_ref(entry_low, 0, 0)).second) return true;
  }
  bool has_list = false;
  size_t pos = load_le16(raw + 20);
  while (pos < size) {
    attr_view a;
    bool ok = false;
    if (!read_attr(raw + pos, size - pos, a, ok)) break;
    if (ok) {
      switch (a.type) {
        case attr_standard_information:
          take_si(rec, a);
          break;
        case attr_attribute_list:
          // Extension records carry no list of their own; following one
          // from there could only loop.
          if (attr_list_mode) break;
          has_list = true;
          if (a.has_value())
            read_attribute_list_records(rec, a.value(), a.value_length, entry_low, 0, disk,
                                        base_offset, record_size, volume);
          else if (a.nonresident)
            read_attribute_list_nonresident(rec, a.p, a.length, entry_low, 0, disk, base_offset,
                                            record_size, volume);
          break;
        case attr_file_name:
          take_file_name(rec, a);
          break;
        case attr_data:
          take_data(rec, a, volume);
          break;
        case attr_index_allocation:
          // An index's runs are no content: any run that cannot be
          // decoded, however long, cuts the list.
          if ((rec.m_options & mft_keep_index_runs) && a.nonresident)
            take_runs(rec, a, rec.m_index_runs, true, volume);
          break;
        default:
          break;
      }
    }
    pos += a.length;
  }
  // Extension records are merged where the attribute list names them, which
  // may be before the base record's own pieces: the content's order is the
  // pieces' starting virtual clusters.
  if (!attr_list_mode) {
    std::stable_sort(rec.m_data_runs.begin(), rec.m_data_runs.end(), by_vcn);
    std::stable_sort(rec.m_index_runs.begin(), rec.m_index_runs.end(), by_vcn);
    const auto too_long = [](const data_run& r) {
      return r.m_vcn >= ntfs_max_file_clusters || r.m_count > ntfs_max_file_clusters - r.m_vcn;
    };
    if ((rec.m_unread & mft_unread_too_long) ||
        std::any_of(rec.m_data_runs.begin(), rec.m_data_runs.end(), too_long)) {
      rec.m_unread |= mft_unread_too_long;
      rec.m_data_runs.clear();
    }
    // Pieces held in several records follow one another: past a gap (a
    // piece cut or not read) or an overlap no run is kept, as the content
    // is their runs end to end and a later piece would be read at another
    // place than its own.
    // An extension record read on its own holds a piece from its first
    // virtual cluster on.
    uint64_t next_vcn =
        rec.m_base_record || rec.m_data_runs.empty() ? 0 : rec.m_data_runs.front().m_vcn;
    for (size_t i = 0; i < rec.m_data_runs.size(); ++i) {
      if (rec.m_data_runs[i].m_vcn != next_vcn) {
        rec.m_data_runs.resize(i);
        rec.m_unread |= mft_unread_runs_span;
        break;
      }
      next_vcn += rec.m_data_runs[i].m_count;
    }
    // A list that names no record holding the file's names (it names only
    // the base record, or its extensions were lost) leaves a file that its
    // folder's index still lists: it is kept, marked, with its data.
    // A list not read whole is its own reason.
    constexpr uint32_t list_not_read =
        mft_unread_list_no_volume | mft_unread_list_unreadable | mft_unread_extension;
    if (has_list && rec.m_parents.empty() && !(rec.m_unread & list_not_read))
      rec.m_unread |= mft_unread_no_name;
  }
  // A record part of which could not be read is kept, marked, rather than
  // dropped for the names it may lack.
  return !rec.m_parents.empty() || !rec.m_related.empty() ||
         (rec.m_unread & (mft_unread_list_no_volume | mft_unread_list_unreadable |
                          mft_unread_extension | mft_unread_no_name | mft_unread_torn |
                          mft_unread_usa_count | mft_unread_usa_short)) != 0;
}

}  // namespace

bool parse_file_record(inode_record& rec, uint8_t* raw, size_t length, RAW_DISK_IO* disk,
                       uint64_t base_offset, uint32_t record_size, bool attr_list_mode,
                       const ntfs_volume_map* volume) {
  return guarded([&] {
    return parse_file_record_body(rec, raw, length, disk, base_offset, record_size, attr_list_mode,
                                  volume);
  });
}

bool read_attribute_list_records(inode_record& rec, const uint8_t* entries, size_t count,
                                 uint32_t entry_low, uint32_t entry_high, RAW_DISK_IO* disk,
                                 uint64_t base_offset, uint32_t record_size,
                                 const ntfs_volume_map* volume) {
  return guarded([&] {
    if (!entries || count < 32 || count < load_le16(entries + 4) || !disk || !disk->is_open() ||
        record_size == 0)
      return false;
    const uint64_t own = entry_low | (uint64_t{entry_high & 0xFFFF} << 32);
    std::set<uint64_t> requested;
    std::vector<uint8_t> buffer(record_size);
    size_t pos = 0;
    while (pos < count) {
      const size_t left = count - pos;
      if (left < 4 || load_le32(entries + pos) == attr_end) break;
      if (!is_valid_attr_list_entry(entries + pos, left)) break;
      const uint8_t* e = entries + pos;
      const uint64_t number = load_le32(e + 16) | (uint64_t{load_le16(e + 20)} << 32);
      if (number != 0 && number != own && requested.insert(number).second) {
        bool read = false;
        if (volume && volume->m_record_size == record_size) {
          // The MFT need not be contiguous: its own runs place the entry.
          read = read_mft_entry(*volume, number, buffer);
        } else {
          uint64_t offset = 0;
          bool placed = checked_mul(number, uint64_t{record_size}, offset);
          if (placed && !disk->remap_active()) placed = checked_add(offset, base_offset, offset);
          uint32_t got = record_size;
          read = placed && disk->read(buffer.data(), got, offset, true) && got == record_size;
        }
        if (!read || !parse_file_record(rec, buffer.data(), buffer.size(), disk, base_offset,
                                        record_size, true, volume))
          rec.m_unread |= mft_unread_extension;
      }
      pos += load_le16(e + 4);
    }
    return true;
  });
}

bool read_attribute_list_nonresident(inode_record& rec, const uint8_t* attr, uint32_t attr_length,
                                     uint32_t entry_low, uint32_t entry_high, RAW_DISK_IO* disk,
                                     uint64_t base_offset, uint32_t record_size,
                                     const ntfs_volume_map* volume) {
  return guarded([&] {
    if (!attr || attr_length < resident_header) return false;
    attr_view a;
    bool ok = false;
    if (!read_attr(attr, attr_length, a, ok) || !ok) return false;
    if (!a.nonresident) {
      if (a.value_length == 0) return true;
      if (!is_valid_attr_list_entry(a.value(), a.value_length)) return false;
      return read_attribute_list_records(rec, a.value(), a.value_length, entry_low, entry_high,
                                         disk, base_offset, record_size, volume);
    }
    if (!disk || !disk->is_open()) return false;
    const uint64_t initialized = load_le64(attr + 56);
    if (initialized == 0) return true;
    // The list's clusters are the volume's, read on its medium from its
    // first byte on. Without the volume they have no place: any other
    // would merge records the list does not name, or drop those it does.
    if (!volume || !volume->m_disk || !volume->m_disk->is_open() || !volume->m_cluster_size) {
      rec.m_unread |= mft_unread_list_no_volume;
      return false;
    }
    std::vector<data_run> runs;
    decode_data_runs(attr, attr_length, runs);
    RAW_DISK_IO* medium = volume->m_disk;
    const uint64_t origin = volume->m_offset;
    const uint32_t cluster = volume->m_cluster_size;
    // Never more than the list's real size, and never a hostile amount.
    const uint64_t wanted = std::min<uint64_t>(load_le64(attr + 48), attr_list_max_bytes);
    std::vector<uint8_t> list;
    std::vector<uint8_t> piece(cluster);
    for (const data_run& r : runs) {
      for (uint32_t c = 0; c < r.m_count && list.size() < wanted; ++c) {
        if (r.m_negative & data_run_sparse) {
          list.insert(list.end(), cluster, 0);
          continue;
        }
        uint64_t lcn = 0, offset = 0;
        uint32_t got = cluster;
        if (!checked_add(r.m_cluster, uint64_t{c}, lcn) ||
            !checked_mul(lcn, uint64_t{cluster}, offset) || !checked_add(offset, origin, offset) ||
            !medium->read(piece.data(), got, offset, false) || got != cluster)
          break;
        list.insert(list.end(), piece.begin(), piece.end());
      }
      if (list.size() >= wanted) break;
    }
    if (list.size() < wanted || load_le64(attr + 48) > attr_list_max_bytes)
      rec.m_unread |= mft_unread_list_unreadable;
    if (list.size() > wanted) list.resize(wanted);
    if (!is_valid_attr_list_entry(list.data(), list.size())) {
      rec.m_unread |= mft_unread_list_unreadable;
      return false;
    }
    return read_attribute_list_records(rec, list.data(), list.size(), entry_low, entry_high, disk,
                                       base_offset, record_size, volume);
  });
}

size_t dump_index_root(std::ostream& out, const uint8_t* value, size_t length, bool quiet) {
  if (!value) return 0;
  if (!quiet) {
    if (length < 48) return 0;
    out << "---- (root) data ----\n";
    out << "---- (dir entry) data ----\n";
  } else if (length <= 64) {
    return 0;
  }
  const uint32_t total = load_le32(value + 20);
  const size_t limit = std::min<size_t>(total >= 16 ? total - 16 : 0, length - 32);
  size_t pos = 0;
  size_t entries = 0;
  while (limit - pos >= 16) {
    const uint16_t entry_length = load_le16(value + 32 + pos + 8);
    // A length below an entry header would never move, or move backwards.
    if (entry_length < 16 || entry_length > limit - pos) break;
    ++entries;
    pos += entry_length;
  }
  return entries;
}

bool read_resident_file_summary(std::string& name, mft_ref& parent, const uint8_t*& data,
                                uint32_t& data_length, si_copy& si, uint8_t* raw, size_t length,
                                bool data_required) {
  name.clear();
  parent = mft_ref();
  data = nullptr;
  data_length = 0;
  si_copy_clear(si);
  return guarded([&] {
    uint32_t kind = 0;
    if (!apply_fixups(kind, raw, length, 512) || kind != fixup_file) return false;
    const size_t size = std::min<size_t>(length, file_record_size(raw, length));
    bool have_name = false, have_data = false, on_data = false;
    size_t pos = load_le16(raw + 20);
    while (pos < size) {
      attr_view a;
      bool ok = false;
      if (!read_attr(raw + pos, size - pos, a, ok)) break;
      pos += a.length;
      if (!ok || a.nonresident) continue;
      if (a.type == attr_file_name && !have_name && a.value_length >= 66) {
        const uint8_t* v = a.value();
        if (v[65] == 2) continue;
        const mft_ref r = mft_ref_from_u64(load_le64(v));
        set_mft_ref_parts(parent, r.m_entry_low, mft_ref_high(r), 0);
        if (a.value_length >= 66u + 2u * v[64]) {
          utf16_to_utf8(v + 66, size_t{2} * v[64], name, false);
          have_name = true;
        }
      } else if (a.type == attr_standard_information && !have_data) {
        std::memcpy(si.data(), a.value(), std::min<size_t>(a.value_length, si.size()));
      } else if (a.type == attr_data) {
        on_data = true;
        if (a.value_length != 0) {
          data = a.value();
          data_length = a.value_length;
          have_data = true;
        }
        break;
      }
    }
    if (on_data && !have_data && data_required) return false;
    if (have_data && have_name) return true;
    return data_required ? false : have_name;
  });
}

std::ostream& write_indent(std::ostream& out, size_t count) {
  if (count == 0) return out;
  const char fill = out.fill();
  const std::ios::fmtflags flags = out.flags();
  out << std::setfill(' ') << std::setw(static_cast<int>(count)) << ' ';
  out.fill(fill);
  out.flags(flags);
  return out;
}

}  // namespace vk

namespace vk {

bool read_mft_entry(const ntfs_volume_map& map, uint64_t entry, std::vector<uint8_t>& buffer) {
  return guarded([&] {
    const uint32_t cs = map.m_cluster_size;
    const uint32_t size = map.m_record_size;
    if (!map.m_disk || !map.m_disk->is_open() || cs == 0 || size == 0) return false;
    buffer.assign(size, 0);
    uint64_t pos = 0;  // a byte of the MFT's content
    if (!checked_mul(entry, uint64_t{size}, pos)) return false;
    size_t done = 0;
    while (done < size) {
      const uint64_t vcn = pos / cs;
      const data_run* holder = nullptr;
      for (const data_run& r : map.m_mft_runs)
        if (vcn >= r.m_vcn && vcn - r.m_vcn < r.m_count) {
          holder = &r;
          break;
        }
      if (!holder || (holder->m_negative & data_run_sparse)) return false;
      uint64_t run_end = 0, offset = 0;
      if (!checked_mul(holder->m_vcn + holder->m_count, uint64_t{cs}, run_end) ||
          !checked_mul(holder->m_cluster + (vcn - holder->m_vcn), uint64_t{cs}, offset) ||
          !checked_add(offset, map.m_offset + pos % cs, offset))
        return false;
      uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(size - done, run_end - pos));
      const uint32_t asked = want;
      if (!map.m_disk->read(buffer.data() + done, want, offset, false) || want != asked)
        return false;
      done += want;
      pos += want;
    }
    return true;
  });
}

bool ntfs_volume_map_from_boot(ntfs_volume_map& map, RAW_DISK_IO* disk, uint64_t offset) {
  map = ntfs_volume_map();
  return guarded([&] {
    if (!disk || !disk->is_open()) return false;
    std::vector<uint8_t> head(512);
    uint32_t got = 512;
    if (!disk->read(head.data(), got, offset, false) || got != 512 ||
        std::memcmp(head.data() + 3, "NTFS", 4) != 0)
      return false;
    const boot_sector bs = boot_sector_from(head.data(), head.size());
    const uint32_t cs = ntfs_cluster_size(bs);
    const uint32_t size = ntfs_mft_record_size(bs);
    uint64_t mft_at = 0;
    if (cs == 0 || size < 512 || size > 65536 ||
        !checked_mul(bs.ntfs_mft_lcn(), uint64_t{cs}, mft_at) ||
        !checked_add(mft_at, offset, mft_at))
      return false;
    std::vector<uint8_t> raw(size);
    got = size;
    if (!disk->read(raw.data(), got, mft_at, false) || got != size) return false;
    inode_record mft;
    mft.m_options = mft_keep_data_runs;
    if (!parse_file_record(mft, raw.data(), raw.size(), disk, mft_at, size, false) ||
        mft.m_data_runs.empty())
      return false;
    // The runs must start where the boot sector puts the table.
    const data_run& first = mft.m_data_runs.front();
    if (first.m_vcn != 0 || (first.m_negative & data_run_sparse) ||
        first.m_cluster != bs.ntfs_mft_lcn())
      return false;
    map.m_disk = disk;
    map.m_offset = offset;
    map.m_cluster_size = cs;
    map.m_record_size = size;
    map.m_mft_runs = std::move(mft.m_data_runs);
    map.m_clusters = bs.ntfs_total_sectors() / ntfs_sectors_per_cluster(bs.sectors_per_cluster());
    return true;
  });
}

}  // namespace vk
