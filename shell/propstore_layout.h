// The on-disk layout of serialized property storages ("1SPS"), their values,
// the typed value data behind a VARTYPE, the property list of the
// three-string structures, and the two stream structures (autolists and
// search conditions). The parsers and testing/propstore_writer.h both name
// fields through this header, so that a field is placed in one spot only.
// All fields are little-endian; offsets count from the structure's start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk::propstore {

// A storage: its size (read as the low 16 bits except where the whole u32
// is named), the version, the FMTID, then the values back to back.
namespace storage {
inline constexpr size_t size = 0;     // u32
inline constexpr size_t version = 4;  // u32
inline constexpr size_t fmtid = 8;    // 16 bytes
inline constexpr size_t values = 24;
inline constexpr size_t header_size = 24;
inline constexpr uint32_t version_value = 0x53505331;  // "1SPS" in file order
// Least sizes of the storage tests: the header, the string-named form (a
// value header and a name's first bytes), and the embedded form.
inline constexpr int64_t min_string_named = 35;
inline constexpr int64_t min_embedded = 38;
// Beyond 36 bytes the first value's VARTYPE is tested too.
inline constexpr int64_t short_integer_named = 36;
inline constexpr int64_t min_integer_named = 28;
// Room left for another storage: a walk goes on only with this much.
inline constexpr int64_t room_for_next = 38;
}  // namespace storage

// An integer-named value: its size (header included), the property id, a
// reserved byte, the VARTYPE, 2 unread bytes, then the data.
namespace int_value {
inline constexpr size_t size = 0;      // u32
inline constexpr size_t pid = 4;       // u32, only the low 16 bits are kept
inline constexpr size_t reserved = 8;  // u8
inline constexpr size_t vartype = 9;   // u16
inline constexpr size_t padding = 11;  // u16
inline constexpr size_t data = 13;
inline constexpr int64_t header_size = 13;
inline constexpr int64_t min_further =
    14;  // a further value is looked for only with this much left
}  // namespace int_value

// A string-named value: its size, the name's size in bytes, a reserved zero
// byte and the UTF-16 name; zero bytes may follow the name, then the VARTYPE,
// 2 unread bytes and the data.
namespace named_value {
inline constexpr size_t size = 0;       // u32
inline constexpr size_t name_size = 4;  // u32
inline constexpr size_t reserved = 8;   // u8
inline constexpr size_t name = 9;
inline constexpr int64_t min_size = 11;
// From the VARTYPE behind the name.
inline constexpr size_t tail_vartype = 0;  // u16
inline constexpr size_t tail_data = 4;
inline constexpr int64_t min_tail = 8;  // VARTYPE, padding and a 4-byte field
}  // namespace named_value

// The property list of the three-string structures: the marker 13, a GUID,
// a non-zero word, then entries of FMTID, id, VARTYPE and data.
namespace property_list {
inline constexpr size_t marker = 0;  // u32
inline constexpr uint32_t marker_value = 13;
inline constexpr size_t guid = 4;      // 16 bytes
inline constexpr size_t nonzero = 20;  // u32
inline constexpr size_t entries = 24;
inline constexpr size_t header_size = 24;
namespace entry {
inline constexpr size_t fmtid = 0;     // 16 bytes
inline constexpr size_t pid = 16;      // u32
inline constexpr size_t vartype = 20;  // u16
inline constexpr size_t data = 24;
inline constexpr int64_t min_size = 25;
}  // namespace entry
}  // namespace property_list

// The data behind a VARTYPE.
namespace typed {
inline constexpr uint16_t vector_flag_byte = 0x10;  // the whole high byte
inline constexpr uint16_t array_flag_byte = 0x20;   // the whole high byte
// An array's header: its element type (u32), its number of dimensions
// (u32, 1 to 31), then per dimension its element count (u32) and first
// index (i32); its elements follow, padded to 4 as a whole.
namespace array {
inline constexpr size_t element_type = 0;
inline constexpr size_t dimensions = 4;
inline constexpr size_t first_dimension = 8;
inline constexpr size_t dimension_size = 8;
inline constexpr uint32_t max_dimensions = 31;
}  // namespace array
inline constexpr size_t count_size = 4;  // u32 vector count, text lengths, blob size
inline constexpr size_t guid_size = 16;
}  // namespace typed

// An autolist stream: its total size, the GUID, 20 unread bytes, then the
// entries; each entry is 16 unread bytes, the u16 size of the ID list that
// follows, and the list. The header test also reads the u32 at 56, which
// spans the first entry's size and the first bytes of its list.
namespace autolist {
inline constexpr size_t total_size = 0;  // u32
inline constexpr size_t guid = 4;        // 16 bytes
inline constexpr size_t entries = 40;
inline constexpr size_t first_list_word = 56;  // u32
inline constexpr int64_t header_size = 58;
inline constexpr int64_t min_header = 60;
namespace entry {
inline constexpr size_t list_size = 16;  // u16
inline constexpr size_t list = 18;
inline constexpr int64_t header_size = 18;
}  // namespace entry
}  // namespace autolist

// A search-condition tree (GUID at 4, its kind at 20) and the records inside
// it, each starting with a record GUID.
namespace condition {
namespace tree {
inline constexpr size_t guid = 4;   // 16 bytes
inline constexpr size_t kind = 20;  // u32
inline constexpr int64_t min_size = 32;
inline constexpr int64_t min_value_kind = 88;
}  // namespace tree
namespace record {
inline constexpr size_t guid = 0;      // 16 bytes
inline constexpr size_t kind = 16;     // u32: 1 a value record, else a property leaf
inline constexpr size_t fmtid = 20;    // 16 bytes
inline constexpr size_t pid = 36;      // u32
inline constexpr size_t unread = 40;   // u32
inline constexpr size_t vartype = 44;  // u16
inline constexpr size_t data = 46;
inline constexpr size_t value = 72;  // u64, value records only
inline constexpr uint32_t value_kind = 1;
inline constexpr int64_t min_size = 46;
inline constexpr int64_t min_value_kind = 84;
}  // namespace record
// A leaf of an autolist: a name counted at 32 (4, "item"), a GUID at 82 and
// the value's character count at 118, its text from 120.
namespace leaf {
inline constexpr size_t name_count = 32;  // u16
inline constexpr size_t name = 34;
inline constexpr size_t guid = 82;
inline constexpr size_t value_count = 118;  // u16
inline constexpr size_t value = 120;
inline constexpr int64_t min_size = 122;
}  // namespace leaf
}  // namespace condition

}  // namespace vk::propstore
