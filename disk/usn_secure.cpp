#include "disk/usn_secure.h"

#include <iomanip>
#include <iterator>

#include "disk/field_dump.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

void usn_entry_clear(usn_entry& e) {
  e = usn_entry();
}

bool is_valid_usn_header(const uint8_t* record, size_t length) {
  if (!record || length < 8) return false;
  const uint32_t size = load_le32(record);
  const uint16_t major = load_le16(record + 4);
  if (size > usn_record_max || load_le16(record + 6) != 0) return false;
  switch (major) {
    case 2:
      return size > 61;
    case 3:
      return size > 77;
    case 4:
      return size > 63;
    default:
      return false;
  }
}

namespace {

bool entry_plausible(uint64_t ref, uint64_t entry_count, bool sequence_required) {
  const uint64_t entry = ref & 0xFFFFFFFFFFFFull;
  const uint64_t sequence = ref >> 48;
  if (entry >= entry_count || sequence > 0xF000) return false;
  return !sequence_required || sequence != 0;
}

// Header, version and the record inside the bytes available.
bool usn_frame_ok(const uint8_t* record, uint64_t available, uint16_t version) {
  if (!record || available < 8) return false;
  const size_t readable =
      available < usn_record_max ? static_cast<size_t>(available) : usn_record_max;
  return is_valid_usn_header(record, readable) && load_le16(record + 4) == version &&
         load_le32(record) <= available;
}

// The fields shared by versions 2 and 3 at their own offsets.
bool usn_body_ok(const uint8_t* r, uint64_t entry_count, size_t file_at, size_t parent_at,
                 size_t usn_at, size_t time_at, size_t attr_at, size_t name_length_at,
                 uint16_t name_at) {
  if (load_le64(r + time_at) == 0) return false;
  const uint64_t parent = load_le64(r + parent_at);
  if ((parent & 0xFFFFFFFFFFFFull) >= entry_count || (parent >> 48) > 0xF000) return false;
  if (!entry_plausible(load_le64(r + file_at), entry_count, true)) return false;
  if (load_le16(r + name_length_at + 2) != name_at) return false;
  if (load_le64(r + usn_at) == 0 || load_le32(r + attr_at) > 0x500000) return false;
  // Summed in 32 bits: a 16-bit sum wraps past the record's end.
  return uint32_t{load_le16(r + name_length_at)} + name_at <= load_le32(r);
}

void take_name(usn_entry& e, const uint8_t* record, size_t name_at, size_t units) {
  if (units > 200) units = 10;
  if (units) utf16_to_wide(record + name_at, 2 * units, e.m_name);
}

void take_position(usn_entry& e, const uint8_t* record, uint64_t position) {
  e.m_state = usn_entry_filled;
  e.m_major_version = load_le16(record + 4);
  e.m_position_low = static_cast<uint32_t>(position);
  e.m_position_high = static_cast<uint32_t>(position >> 32);
}

}  // namespace

bool is_valid_usn_record_v2(const uint8_t* record, uint64_t available, uint64_t entry_count) {
  return usn_frame_ok(record, available, 2) &&
         usn_body_ok(record, entry_count, 8, 16, 24, 32, 52, 56, 60);
}

bool is_valid_usn_record_v3(const uint8_t* record, uint64_t available, uint64_t entry_count) {
  return usn_frame_ok(record, available, 3) &&
         usn_body_ok(record, entry_count, 8, 24, 40, 48, 68, 72, 76);
}

bool is_valid_usn_record_v4(const uint8_t* record, uint64_t available, uint64_t entry_count) {
  if (!usn_frame_ok(record, available, 4)) return false;
  if (!entry_plausible(load_le64(record + 8), entry_count, true)) return false;
  if ((load_le64(record + 24) >> 48) > 0xF000) return false;
  return load_le64(record + 40) != 0;
}

namespace {

// Versions 2 and 3 differ only in the width of the two references: the
// fields from the USN on keep one layout behind it.
bool take_usn_fields(usn_entry& e, const uint8_t* record, uint64_t position, size_t parent_at,
                     size_t usn_at) {
  return guarded(
      [&] {
        take_position(e, record, position);
        e.m_file_ref = load_le64(record + 8);
        e.m_parent_ref = load_le64(record + parent_at);
        e.m_usn = load_le64(record + usn_at);
        e.m_timestamp = load_le64(record + usn_at + 8);
        e.m_reason = load_le32(record + usn_at + 16);
        e.m_source = load_le32(record + usn_at + 20);
        e.m_security_id = load_le32(record + usn_at + 24);
        e.m_attributes = load_le32(record + usn_at + 28);
        take_name(e, record, usn_at + 36, load_le16(record + usn_at + 32) / 2);
        return true;
      },
      [&] { usn_entry_clear(e); });
}

}  // namespace

bool usn_entry_from_v2(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position) {
  usn_entry_clear(e);
  if (!is_valid_usn_record_v2(record, available, 0xFFFFFFFFu)) return false;
  // Version 2 references are 8 bytes wide.
  return take_usn_fields(e, record, position, 16, 24);
}

bool usn_entry_from_v3(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position) {
  usn_entry_clear(e);
  if (!is_valid_usn_record_v3(record, available, 0xFFFFFFFFu)) return false;
  // Version 3 references are 16 bytes wide.
  return take_usn_fields(e, record, position, 24, 40);
}

bool usn_entry_from_v4(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position) {
  usn_entry_clear(e);
  if (!is_valid_usn_record_v4(record, available, 0xFFFFFFFFu)) return false;
  take_position(e, record, position);
  e.m_file_ref = load_le64(record + 8);
  e.m_parent_ref = load_le64(record + 24);
  e.m_usn = load_le64(record + 40);
  e.m_reason = load_le32(record + 48);
  e.m_source = load_le32(record + 52);
  return true;
}

namespace {

struct bit_name {
  uint32_t bit;
  const char* name;
};

std::string join_bits(uint32_t value, const bit_name* table, size_t count, const char* separator) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (!(value & table[i].bit)) continue;
    if (!out.empty()) out += separator;
    out += table[i].name;
  }
  return out;
}

}  // namespace

std::string usn_reason_text(uint32_t reason, bool closed_beside_others) {
  static const bit_name names[] = {
      {0x1, "data_overwritten"},
      {0x2, "data_appended"},
      {0x4, "data_truncated"},
      {0x10, "ads_data_overwritten"},
      {0x20, "ads_data_appended"},
      {0x40, "ads_data_truncated"},
      {0x100, "file_created"},
      {0x200, "file_deleted"},
      {0x400, "extended_attrib_changed"},
      {0x800, "access_changed"},
      {0x1000, "file_old_name"},
      {0x2000, "file_new_name"},
      {0x4000, "context_indexed_changed"},
      {0x8000, "basic_info_changed"},
      {0x10000, "hardlink_changed"},
      {0x20000, "compression_changed"},
      {0x40000, "encryption_changed"},
      {0x80000, "objid_changed"},
      {0x100000, "reparse_changed"},
      {0x200000, "ads_added_or_deleted"},
  };
  return guarded([&] {
    std::string out = join_bits(reason, names, std::size(names), "; ");
    if ((reason & usn_reason_file_closed) && (out.empty() || closed_beside_others))
      out += out.empty() ? "file_closed" : "; file_closed";
    return out.empty() ? std::string("unk") : out;
  });
}

std::string usn_source_text(uint32_t source) {
  static const bit_name names[] = {
      {0x1, "os_file_change"}, {0x2, "priv_data_stream_added"}, {0x4, "update_replicated_file"}};
  return guarded([&] {
    std::string out = join_bits(source, names, std::size(names), ", ");
    return out.empty() ? std::string("-") : out;
  });
}

std::string file_attribute_text(uint32_t attributes) {
  static const bit_name names[] = {
      {0x1, "readonly"},       {0x2, "hidden"},       {0x4, "system"},       {0x10, "dir"},
      {0x20, "archive"},       {0x40, "device"},      {0x80, "normal"},      {0x100, "temp"},
      {0x200, "sparse"},       {0x400, "symlink"},    {0x800, "compressed"}, {0x1000, "offline"},
      {0x2000, "not_indexed"}, {0x4000, "encrypted"}, {0x10000, "virtual"},
  };
  return guarded([&] {
    std::string out = join_bits(attributes, names, std::size(names), "; ");
    return out.empty() ? std::string("unk") : out;
  });
}

std::string file_attribute_caps_text(uint32_t attributes) {
  static const bit_name names[] = {
      {0x1, "READ_ONLY"},
      {0x2, "HIDDEN"},
      {0x4, "SYSTEM"},
      {0x10, "DIRECTORY"},
      {0x20, "ARCHIVE"},
      {0x40, "DEVICE"},
      {0x80, "NORMAL"},
      {0x100, "TEMPORARY"},
      {0x200, "SPARSE_FILE"},
      {0x400, "REPARSE_PT"},
      {0x800, "COMPRESSED"},
      {0x1000, "OFFLINE"},
      {0x2000, "CONTENT_NOT_INDEXED"},
      {0x4000, "ENCRYPTED"},
      {0x10000, "VIRTUAL"},
      {0x10000000, "DIRECTORY"},  // the directory bit of $FILE_NAME attributes
  };
  return guarded([&] {
    if (attributes == 0) return std::string("none set");
    std::string out = join_bits(attributes, names, std::size(names), ", ");
    return out.empty() ? std::string("unk") : out;
  });
}

void inode_from_usn(inode_record& out, const usn_entry& e) {
  guarded(
      [&] {
        inode_record_reset(out);
        out.m_entry_low = static_cast<uint32_t>(e.m_file_ref);
        out.m_entry_high = static_cast<uint32_t>((e.m_file_ref >> 32) & 0xFFFF);
        out.m_sequence = static_cast<uint16_t>(e.m_file_ref >> 48);
        out.m_parents.insert(mft_ref_from_u64(e.m_parent_ref));
        out.m_usn = e.m_usn;
        out.m_si_times.m_times[timestamp_set::k_m] = e.m_timestamp;
        if (!e.m_name.empty()) {
          out.m_wname = e.m_name;
          out.m_name = to_utf8(e.m_name);
        }
        out.m_in_use = 1;
        if (e.m_attributes & 0x10) {
          out.m_directory = 1;
          out.m_flags |= mft_flag_directory;
        }
        if (e.m_attributes & 0x4) out.m_flags |= 0x0004;
        if (!(e.m_reason & usn_reason_file_deleted)) out.m_flags |= mft_flag_in_use;
      },
      [&] { inode_record_reset(out); });
}

void dump_secure_index_data(std::ostream& out, const secure_index_data& data, uint64_t base,
                            size_t name_width) {
  guarded([&] {
    uint64_t at = base;
    at += dump_u32_field(out, "id_key", data.m_id_key, "", at, name_width);
    at += dump_u32_field(out, "hash", data.m_hash, "", at, name_width);
    at += dump_u32_field(out, "id_data", data.m_id_data, "", at, name_width);
    at += dump_u64_field(out, "sds_offset", data.m_sds_offset, "", at, name_width);
    dump_u32_field(out, "sds_size", data.m_sds_size, "", at, name_width);
  });
}

std::ostream& dump_usn_record_prologue(std::ostream& out, const uint8_t* record, size_t length,
                                       bool force) {
  if (!force && length < 8) return out << std::dec;
  if (is_valid_usn_header(record, length)) out << std::setfill('0') << std::hex << std::right;
  return out << std::dec;
}

std::string fat_name_text_raw(const uint8_t* entry) {
  return guarded([&] {
    std::string out;
    if (!entry) return out;
    // Only the padding at the end of a field is dropped; inner blanks stay.
    auto part = [&](size_t from, size_t count) {
      while (count > 0 && entry[from + count - 1] == ' ') --count;
      return std::string(reinterpret_cast<const char*>(entry + from), count);
    };
    const bool label = (entry[11] & 0x08) != 0 && entry[11] != 0x0F;
    if (label) return part(0, 11);
    size_t from = 0;
    if (entry[0] == 0xE5 && !label) {
      out += '_';
      from = 1;
    }
    std::string base = part(from, 8 - from);
    if (!label && (entry[12] & 0x08)) str_to_lower(base);
    out += base;
    std::string ext = part(8, 3);
    if (!label && (entry[12] & 0x10)) str_to_lower(ext);
    if (!ext.empty()) out += label ? ext : "." + ext;
    return out;
  });
}

const std::string& unk_text() {
  static const std::string text = "unk";
  return text;
}

const std::string& empty_text() {
  static const std::string text;
  return text;
}

}  // namespace vk
