// Change-journal (USN, $UsnJrnl:$J) records of versions 2, 3 and 4: the
// plausibility tests, the copy into a usn_entry, the names of the reason,
// source and file-attribute bits, and the inode_record made from an entry;
// and the field dump of $Secure's security-descriptor index data.
//
// A record is only read inside its own length, and its length inside the
// bytes the caller has; the name of a record lies inside the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "disk/mft_record.h"

namespace vk {

inline constexpr uint32_t usn_record_max = 4096;
inline constexpr uint32_t usn_reason_file_deleted = 0x200;
inline constexpr uint32_t usn_reason_file_closed = 0x80000000;

// Bit 0 of usn_entry::m_state: filled from a record.
inline constexpr uint8_t usn_entry_filled = 0x01;

struct usn_entry {
  uint8_t m_state = 0;
  uint16_t m_major_version = 0;  // the record's own field
  uint64_t m_file_ref = 0;
  uint64_t m_parent_ref = 0;
  uint64_t m_usn = 0;
  uint64_t m_timestamp = 0;  // FILETIME ticks
  uint32_t m_reason = 0;
  uint32_t m_source = 0;
  uint32_t m_security_id = 0;
  uint32_t m_attributes = 0;
  std::wstring m_name;
  uint32_t m_position_low = 0;  // where the record was found
  uint32_t m_position_high = 0;
};
void usn_entry_clear(usn_entry& e);

// Version 2, 3 or 4, minor 0, length at most 4096 and above the fixed part.
// length: the bytes readable at record.
bool is_valid_usn_header(const uint8_t* record, size_t length);
bool is_valid_usn_record_v2(const uint8_t* record, uint64_t available, uint64_t entry_count);
bool is_valid_usn_record_v3(const uint8_t* record, uint64_t available, uint64_t entry_count);
bool is_valid_usn_record_v4(const uint8_t* record, uint64_t available, uint64_t entry_count);

// The record must pass its test (entry count 0xFFFFFFFF); a name of more
// than 200 units keeps its first 10.
bool usn_entry_from_v2(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position);
bool usn_entry_from_v3(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position);
bool usn_entry_from_v4(usn_entry& e, const uint8_t* record, uint64_t available, uint64_t position);

// Names joined with "; "; "file_closed" only alone or when asked; "unk"
// when nothing is named.
std::string usn_reason_text(uint32_t reason, bool closed_beside_others);
// Names joined with ", "; "-" when nothing is named.
std::string usn_source_text(uint32_t source);
// Lower-case names joined with "; "; "unk" when nothing is named.
std::string file_attribute_text(uint32_t attributes);
// Capitals joined with ", "; "none set" for 0, "unk" when nothing is named.
std::string file_attribute_caps_text(uint32_t attributes);

void inode_from_usn(inode_record& out, const usn_entry& e);

// $Secure's $SII entry data with its $SDS header.
struct secure_index_data {
  uint32_t m_id_key = 0;
  uint32_t m_hash = 0;
  uint32_t m_id_data = 0;
  uint64_t m_sds_offset = 0;
  uint32_t m_sds_size = 0;
};
void dump_secure_index_data(std::ostream& out, const secure_index_data& data, uint64_t base,
                            size_t name_width);

// Sets up the stream for a USN record dump; writes no field.
std::ostream& dump_usn_record_prologue(std::ostream& out, const uint8_t* record, size_t length,
                                       bool force);

// The 8.3 name of a 32-byte FAT entry as stored; a volume label without ".".
std::string fat_name_text_raw(const uint8_t* entry);

const std::string& unk_text();
const std::string& empty_text();

}  // namespace vk
