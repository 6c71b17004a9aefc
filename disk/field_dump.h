// One line per field of an on-disk structure: where it lies, its name, its
// value in hexadecimal and a comment, for a human reader.
//
//   0x0001b8 : m_size     : 0x0000001a [26]
//
// An offset of all ones (no position) prints as eight blanks. Numbers of 16,
// 32 and 64 bits always carry a bracket (the comment, or the value in
// decimal); 8-bit numbers and texts only when there is a comment. Each
// dumper restores the stream's formatting and answers the field's width in
// bytes, so that a caller can step the offset field by field.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "disk/vk_disk_structs.h"
#include "foundation/vk_guid.h"

namespace vk {

inline constexpr uint64_t no_field_offset = ~uint64_t{0};

size_t dump_u8_field(std::ostream& out, const std::string& name, uint8_t value,
                     const std::string& comment, uint64_t offset, size_t name_width);
size_t dump_u16_field(std::ostream& out, const std::string& name, uint16_t value,
                      const std::string& comment, uint64_t offset, size_t name_width);
size_t dump_u32_field(std::ostream& out, const std::string& name, uint32_t value,
                      const std::string& comment, uint64_t offset, size_t name_width);
size_t dump_u64_field(std::ostream& out, const std::string& name, uint64_t value,
                      const std::string& comment, uint64_t offset, size_t name_width);
void dump_text_field(std::ostream& out, const std::string& name, const std::string& value,
                     const std::string& comment, uint64_t offset, size_t name_width);

// The NTFS part of a boot sector that lies at sector_offset on the medium.
void dump_ntfs_boot_sector(const boot_sector& bs, std::ostream& out, uint64_t sector_offset,
                           size_t name_width);

// GUID text, or with hex the 16 bytes as 32 hexadecimal digits.
std::string guid_text_or_hex(const uint8_t* bytes16, bool hex);
// "1234-5678" for 0x12345678.
std::string disk_signature_text(uint32_t signature);
// "{ " + GUID text + " }".
std::ostream& write_guid_braced(std::ostream& out, const guid& g);

}  // namespace vk
