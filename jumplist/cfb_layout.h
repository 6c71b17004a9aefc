// The on-disk layout of compound files (OLE structured storage): offsets and
// sizes of the header and directory-entry fields, and the special sector ids.
// The reader and the test writers both name fields through this header, so
// that a field is placed in one spot only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk::cfb {

// Special sector ids.
inline constexpr uint32_t maxregsect = 0xFFFFFFFAu;
inline constexpr uint32_t difatsect = 0xFFFFFFFCu;
inline constexpr uint32_t fatsect = 0xFFFFFFFDu;
inline constexpr uint32_t endofchain = 0xFFFFFFFEu;
inline constexpr uint32_t freesect = 0xFFFFFFFFu;

// The signature, as two little-endian 32-bit words.
inline constexpr uint32_t signature_low = 0xE011CFD0u;
inline constexpr uint32_t signature_high = 0xE11AB1A1u;

// Bytes of one FAT, mini FAT or DIFAT entry.
inline constexpr size_t fat_entry_size = 4;

namespace header {
inline constexpr size_t signature = 0;  // 8 bytes
inline constexpr size_t clsid = 8;      // 16 bytes, all zero
inline constexpr size_t clsid_size = 16;
inline constexpr size_t minor_version = 24;  // u16
inline constexpr size_t major_version = 26;  // u16
inline constexpr size_t byte_order = 28;     // u16
inline constexpr size_t sector_shift = 30;   // u16
inline constexpr size_t mini_sector_shift = 32;
inline constexpr size_t num_dir_sectors = 40;  // u32
inline constexpr size_t num_fat_sectors = 44;
inline constexpr size_t first_dir_sector = 48;
inline constexpr size_t mini_cutoff = 56;
inline constexpr size_t first_minifat_sector = 60;
inline constexpr size_t num_minifat_sectors = 64;
inline constexpr size_t first_difat_sector = 68;
inline constexpr size_t num_difat_sectors = 72;
inline constexpr size_t difat = 76;  // the first 109 FAT sector ids
inline constexpr size_t difat_slots = 109;
inline constexpr size_t size = 512;
}  // namespace header

namespace dirent {
inline constexpr size_t name = 0;  // UTF-16, 32 units with the terminator
inline constexpr size_t name_size = 64;
inline constexpr size_t name_length = 64;  // u16, bytes with the terminator
inline constexpr size_t object_type = 66;  // u8: 0 unused, 1 storage, 2 stream, 5 root
inline constexpr size_t color = 67;        // u8
inline constexpr size_t left_sibling = 68;
inline constexpr size_t right_sibling = 72;
inline constexpr size_t child = 76;
inline constexpr size_t clsid = 80;
inline constexpr size_t state_bits = 96;
inline constexpr size_t creation_time = 100;
inline constexpr size_t modified_time = 108;
inline constexpr size_t start_sector = 116;  // u32
inline constexpr size_t stream_size = 120;   // u64
inline constexpr size_t size = 128;
}  // namespace dirent

}  // namespace vk::cfb
