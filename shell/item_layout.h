// The layout of shell items and of the 0xBEEF extension blocks they carry:
// type bytes, field offsets and sizes. The item parsers and the test writer
// (testing/idlist_writer.h) both name fields through this header, so that a
// field is placed in one spot only. Offsets are from the first byte of the
// item or block; all integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/vk_bytes.h"

namespace vk::item_layout {

// A field read from a view, or 0 when it does not lie wholly inside: a
// field that does not fit is absent, and absent fields read as zero.
inline uint8_t le8(byte_view v, size_t off) {
  return v.u8_or_zero(off);
}
inline uint16_t le16(byte_view v, size_t off) {
  return v.u16_or_zero(off);
}
inline uint32_t le32(byte_view v, size_t off) {
  return v.u32_or_zero(off);
}
inline uint64_t le64(byte_view v, size_t off) {
  return v.u64_or_zero(off);
}
inline byte_view view_of(const uint8_t* p, int64_t n) {
  return byte_view(p, n > 0 ? static_cast<size_t>(n) : 0);
}

// Every item: its u16 size (header included) and its class-type byte.
namespace item {
inline constexpr size_t size = 0;
inline constexpr size_t type = 2;
inline constexpr size_t header_size = 3;
inline constexpr size_t guid = 4;             // the CLSID of root-folder, 0x1E and delegate items
inline constexpr size_t guid_item_size = 20;  // size, type, sort byte, GUID
inline constexpr size_t guid_size = 16;
}  // namespace item

// Class-type bytes.
namespace type {
inline constexpr uint8_t embedded = 0x00;
inline constexpr uint8_t control_panel_category = 0x01;
inline constexpr uint8_t small_02 = 0x02;
inline constexpr uint8_t nested_list = 0x1E;
inline constexpr uint8_t root_folder = 0x1F;
inline constexpr uint8_t network_type = 0x20;
inline constexpr uint8_t guid_volume = 0x2F;  // the volume form that may carry a GUID
inline constexpr uint8_t type_2e = 0x2E;
inline constexpr uint8_t file_entry_unicode_first = 0x34;  // 0x34..0x36: UTF-16 names
inline constexpr uint8_t file_entry_unicode_last = 0x36;
inline constexpr uint8_t uri = 0x61;
inline constexpr uint8_t uri_alternate = 0x67;
inline constexpr uint8_t control_panel = 0x71;
inline constexpr uint8_t delegate_excluded = 0x74;
inline constexpr uint8_t type_4d = 0x4D;
}  // namespace type

// The 20-byte root-folder, 0x1E and 0x2E items: GUID at 4, blocks from 20.
namespace root_folder {
inline constexpr size_t blocks = 20;
inline constexpr uint16_t short_size = 20;
}  // namespace root_folder

namespace volume {
inline constexpr size_t text = 3;         // 8-bit volume text ("C:\")
inline constexpr size_t drive_colon = 5;  // '\' here: a two-character drive text at 3
inline constexpr size_t drive_text_size = 2;
inline constexpr size_t guid = 25;  // type 0x2F: a GUID (item of exactly 41 bytes) or blocks
inline constexpr uint16_t guid_form_size = 41;
}  // namespace volume

namespace file_entry {
inline constexpr size_t file_size = 4;    // u32
inline constexpr size_t dos_date = 8;     // u16 modification date, 0 = absent
inline constexpr size_t dos_time = 10;    // u16
inline constexpr size_t attributes = 12;  // u16; bit 0x10 of the low byte: directory
inline constexpr uint8_t directory_bit = 0x10;
inline constexpr size_t name = 14;  // 8-bit, or UTF-16 for types 0x34..0x36
// The second form (attributes and the byte at 14 zero): a counted UTF-16
// text at 92 (its unit count at 84) and 48 bytes of UTF-16 text at 36.
inline constexpr size_t second_count = 84;
inline constexpr size_t second_text = 92;
inline constexpr size_t second_name = 36;
inline constexpr size_t second_name_size = 48;
inline constexpr int64_t second_min_size = 96;
// The last u16 of the item: offset of the first extension block, 0 = none.
}  // namespace file_entry

namespace control_panel_category {
inline constexpr uint32_t signature = 0x39DE2184;
inline constexpr size_t signature_at = 4;
inline constexpr size_t category = 8;  // u32 category id
inline constexpr size_t blocks = 12;   // u16-sized run of structures
inline constexpr uint32_t categories = 12;
}  // namespace control_panel_category

// Types 0x01 and 0x02: a UTF-16 name at 6 (when the u16 there is non-zero),
// a second UTF-16 text at 50 and a structure run after it.
namespace small_item {
inline constexpr size_t name = 6;
inline constexpr size_t second_text = 50;
inline constexpr int64_t min_size = 50;
inline constexpr size_t created = 22;  // type 0x02: FILETIMEs
inline constexpr size_t modified = 30;
inline constexpr size_t accessed = 38;
inline constexpr size_t names_at = 5;  // type 0x20 and network items: 8-bit texts
}  // namespace small_item

namespace type_52 {
inline constexpr size_t name = 4;
inline constexpr size_t count = 46;  // u32 UTF-16 units of the name
inline constexpr size_t after_count = 50;
}  // namespace type_52

namespace control_panel {
inline constexpr size_t header = 4;  // u16; zero in the GUID form
inline constexpr size_t guid = 14;
inline constexpr int64_t guid_form_min_size = 30;
inline constexpr size_t blocks = 30;
}  // namespace control_panel

namespace uri {
inline constexpr size_t short_text = 8;    // short form: UTF-16 at 8
inline constexpr size_t filetime = 14;     // long form
inline constexpr size_t first_count = 42;  // u32 byte counts, each before its text
inline constexpr size_t first_text = 46;
}  // namespace uri

namespace delegate {
inline constexpr size_t data_size = 4;
inline constexpr size_t blocks = 20;
inline constexpr int64_t second_guid_min = 36;
}  // namespace delegate

namespace type_64 {
inline constexpr size_t name = 4;
}
namespace type_2c {
inline constexpr size_t name = 40;
}

// The 94-byte structure: a name at 36, counts at 84 and 88, texts from 92.
namespace s94 {
inline constexpr size_t extra_name = 36;
inline constexpr size_t zero_word = 76;
inline constexpr size_t count1 = 84;
inline constexpr size_t count2 = 88;
inline constexpr size_t text = 92;
inline constexpr int64_t min_size = 94;
inline constexpr int64_t fixed_size = 100;  // size = 100 + 2 x (count1 + count2)
}  // namespace s94

// ---- 0xBEEF extension blocks ----
namespace beef {
inline constexpr size_t size = 0;
inline constexpr size_t version = 2;
inline constexpr size_t id = 4;
inline constexpr size_t signature_at = 6;
inline constexpr uint16_t signature = 0xBEEF;
inline constexpr size_t header_size = 8;
inline constexpr int64_t min_parse = 18;  // fewer bytes left: stepped over unparsed
inline constexpr int64_t min_walk = 9;    // a run ends with fewer bytes than this
inline constexpr size_t guid1 = 8;
inline constexpr size_t guid2 = 24;
inline constexpr int64_t two_guid_size = 40;
inline constexpr int64_t one_guid_size = 24;
inline constexpr size_t dos_time = 8;         // kind (0,4): creation DOS date and time
inline constexpr size_t nested_list_at = 12;  // kind (0,14)
inline constexpr size_t storage_at = 16;      // kind (0,16): a serialized property storage
inline constexpr size_t guess_created = 12;   // kinds (0,37), (1,37), (1,38)
inline constexpr size_t guess_modified = 20;
inline constexpr size_t guess_accessed = 28;
inline constexpr size_t name_at = 8;  // kinds (5,6), (13,6), (39,6)

// Recycle-bin block (0,8): its deletion time, the former path in a 520-byte
// field and the recycle path in a 160-byte field; 704 bytes in all.
namespace recycle {
inline constexpr size_t deleted = 16;
inline constexpr size_t path = 24;
inline constexpr int64_t path_size = 520;
inline constexpr size_t recycle_path = 544;
inline constexpr int64_t recycle_path_size = 160;
inline constexpr int64_t block_size = 704;
}  // namespace recycle

// String chain (0,20): GUID at 8, a length at 24 and one at 60, strings from 64.
namespace chain {
inline constexpr size_t inner = 24;
inline constexpr size_t length = 60;
inline constexpr size_t strings = 64;
inline constexpr int64_t min_size = 66;
inline constexpr int64_t gap = 8;
}  // namespace chain

// File-entry extension (versions 3, 7, 8 and 9).
namespace file_ext {
inline constexpr size_t created = 8;     // DOS date, time
inline constexpr size_t accessed = 12;   // DOS date, time
inline constexpr size_t long_name = 16;  // u16 offset
inline constexpr size_t second = 18;     // u16 offset: localized name (v3), a string (v8, v9)
inline constexpr size_t mft_low = 20;    // u32
inline constexpr size_t mft_high = 24;   // u16
inline constexpr size_t mft_sequence = 26;
inline constexpr size_t localized = 36;  // u16 offset (v7, v8, v9)
inline constexpr int64_t localized_min = 38;
inline constexpr int64_t mft_min = 28;
inline constexpr size_t v9_names = 46;  // a version-9 block's fixed part ends, its names begin
// Where a version's fixed fields end and its long name begins (the offset
// at 16 repeats it); the localized name follows the long name's end.
inline constexpr int64_t names_at(uint16_t block_version) {
  return block_version == 3 ? 20 : block_version == 7 ? 38 : block_version == 8 ? 42 : 46;
}
}  // namespace file_ext

// The kinds, each with its pair of sizes. A kind's "consumed" is what the
// block parser records in the context as read (header and fixed fields as
// the system counted them, which for several kinds runs 8 bytes past the
// fields); "taken" is the parser's result, the block's fixed part. The two
// differ by design: (0,0) is the 48/40 pair, (0,3) and (0,5) 32/24, (0,4)
// 18/20, (0,19) and (0,25) 50/42, (0,37) 36/28, (1,37) and (1,38) 36/36.
// consumed < 0 leaves the context's count unchanged; taken < 0 means the
// size is decided by the body (the block's size, or all that is available).
enum class action : uint8_t {
  two_guids,
  one_guid,
  dos_created,
  recycle,
  nested_list,
  storage,
  string_chain,
  empty_name,
  guessed_times2,
  guessed_times3,
  name,
  v5_id11,
};
struct kind {
  uint16_t version;
  uint16_t id;
  action act;
  int16_t consumed;
  int16_t taken;
};
inline constexpr kind kinds[] = {
    {0, 0, action::two_guids, 48, 40},
    {0, 3, action::one_guid, 32, 24},
    {0, 4, action::dos_created, 18, 20},
    {0, 5, action::one_guid, 32, 24},
    {0, 8, action::recycle, -1, 704},
    {0, 14, action::nested_list, 20, 12},
    {0, 16, action::storage, 24, 16},
    {0, 19, action::two_guids, 50, 42},
    {0, 25, action::two_guids, 50, 42},
    {0, 20, action::string_chain, -1, -1},
    {0, 29, action::empty_name, 18, -1},
    {0, 26, action::empty_name, 18, -1},
    {0, 1, action::empty_name, 18, -1},
    {0, 37, action::guessed_times2, 36, 28},
    {1, 37, action::guessed_times3, 36, 36},
    {1, 38, action::guessed_times3, 36, 36},
    {5, 6, action::name, 16, -1},
    {13, 6, action::name, 16, -1},
    {39, 6, action::name, 16, -1},
    {5, 11, action::v5_id11, 24, -1},
};
// What a file-entry extension records as consumed, by version.
inline constexpr int16_t file_ext_consumed(uint16_t block_version) {
  return block_version == 3 ? 30 : block_version == 7 ? 46 : block_version == 8 ? 50 : 54;
}
inline constexpr bool is_file_ext_version(uint16_t block_version) {
  return block_version == 3 || block_version == 7 || block_version == 8 || block_version == 9;
}
}  // namespace beef

// ---- structures found inside items by the embedded-structure scanner ----
namespace embedded {
inline constexpr int64_t max_structure = 16384;

namespace x0a291cf0 {
inline constexpr int64_t min_size = 10;
inline constexpr size_t bound = 4;  // u16, not above size
inline constexpr size_t signature_at = 6;
inline constexpr uint32_t signature = 0x0A291CF0;
inline constexpr int64_t step = 10;  // the scan looks on inside the structure
}  // namespace x0a291cf0

namespace cfsf {
inline constexpr int64_t min_size = 25;
inline constexpr size_t inner = 4;  // the structure spans inner + 4
inline constexpr int64_t inner_extra = 4;
inline constexpr size_t signature_at = 6;
inline constexpr uint32_t signature = 0x46534643;  // "CFSF"
inline constexpr size_t bound = 10;
inline constexpr size_t flags = 12;  // bit 0x10: directory
inline constexpr size_t file_size = 14;
inline constexpr size_t dos_date = 18;
inline constexpr size_t dos_time = 20;
inline constexpr size_t name = 24;  // 8-bit, NUL-terminated
// The last u16: offset of the first 0xBEEF block, 0 or not below size = none.
}  // namespace cfsf

// Three-string structures: where each field of a form lies.
struct three_string_form {
  int64_t min_size;
  int64_t inner_at;  // u16 inner length; -1: the size at 0 serves
  int64_t signature_at;
  uint32_t signature;
  int64_t list_length_at;
  int64_t counts_at;  // three u32 character counts
  int64_t strings_at;
};
inline constexpr three_string_form form_07192006{76, 4, 6, 0x07192006, 58, 62, 74};
inline constexpr three_string_form form_10312005{56, 4, 6, 0x10312005, 34, 38, 54};
inline constexpr three_string_form form_08312006{36, -1, 2, 0x08312006, 18, 22, 34};
// The outer 0x08312006 form: 4 bytes more in front of the inner one.
namespace outer_08312006 {
inline constexpr int64_t min_size = 40;
inline constexpr size_t inner = 4;
inline constexpr size_t signature_at = 6;
inline constexpr size_t list_length = 22;
inline constexpr size_t counts = 26;
}  // namespace outer_08312006
inline constexpr int64_t three_string_fixed = 26;  // 2 x (c1 + c2 + c3) + 26 <= available

namespace f5a6b710 {
inline constexpr int64_t min_size = 13;
inline constexpr size_t k = 4;
inline constexpr size_t signature_at = 6;
inline constexpr uint32_t signature = 0xF5A6B710;
inline constexpr size_t item = 10;   // a shell item; its u16 size n is here
inline constexpr int64_t guid1 = 6;  // from k
inline constexpr int64_t guid2 = 22;
}  // namespace f5a6b710

namespace augm {
inline constexpr int64_t min_size = 16;
inline constexpr size_t signature_at = 4;
inline constexpr uint32_t signature = 0x4D677541;  // "AugM"
inline constexpr size_t first = 8;                 // u32 d: the first item starts at d + 16
inline constexpr size_t count = 12;
inline constexpr int64_t first_base = 16;
inline constexpr int64_t gap = 6;  // between an item's end and the next item
}  // namespace augm

namespace sized_record {
inline constexpr size_t a = 4;
inline constexpr size_t b = 12;
inline constexpr size_t guids = 14;
}  // namespace sized_record

namespace untyped {
inline constexpr size_t zero = 4;
inline constexpr size_t word = 6;  // 0xBEEF, a text from here (>= 32), or a time record
inline constexpr size_t second_unit = 8;
inline constexpr size_t filetime = 22;
inline constexpr size_t name = 38;
inline constexpr int64_t time_min_size = 39;
inline constexpr uint16_t text_min_word = 32;
}  // namespace untyped

namespace c001b000 {
inline constexpr int64_t min_size = 25;
inline constexpr size_t signature_at = 4;
inline constexpr uint32_t signature = 0xC001B000;
inline constexpr size_t length = 8;  // u16, the scan's step
inline constexpr size_t first_length = 20;
inline constexpr size_t first_text = 24;
inline constexpr size_t entry_length = 16;  // in each entry
inline constexpr size_t entry_text = 20;
inline constexpr int64_t max_entry = 16383;
}  // namespace c001b000

namespace type_2e {
inline constexpr size_t sort = 3;    // a high nibble set: GUID form
inline constexpr size_t header = 4;  // u16 h - 6 in the other form
inline constexpr size_t run = 20;
}  // namespace type_2e
}  // namespace embedded

}  // namespace vk::item_layout
