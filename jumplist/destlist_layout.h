// The on-disk layout of the DestList stream of automatic jump lists: the
// header, and the entry fields of the version-1 layout and of the later one.
// The reader and the test writer both name fields through this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk::destlist {

namespace header {
inline constexpr size_t version = 0;       // u32
inline constexpr size_t entry_count = 4;   // u32
inline constexpr size_t pinned_count = 8;  // u32
// u64: the highest entry number given out so far; entries of removed
// streams may have had the numbers between.
inline constexpr size_t last_entry_number = 16;
inline constexpr size_t size = 32;
}  // namespace header

// Fields both entry layouts share.
namespace entry {
inline constexpr size_t checksum = 0;  // u64
inline constexpr size_t droids = 8;    // four 16-byte GUIDs
inline constexpr size_t droid_size = 16;
inline constexpr size_t droid_count = 4;
inline constexpr size_t host_name = 72;  // 16 bytes of 8-bit text, NUL padded
inline constexpr size_t host_name_size = 16;
inline constexpr size_t entry_num = 88;           // u64
inline constexpr size_t mru_time = 100;           // u64 FILETIME
inline constexpr size_t pin_status = 108;         // u32
inline constexpr uint32_t unpinned = 0xFFFFFFFF;  // any other pin status is a pin
}  // namespace entry

// Version 1: the path length closes the fixed part.
namespace entry_114 {
inline constexpr size_t path_length = 112;  // u16, in UTF-16 units
inline constexpr size_t fixed_size = 114;   // the path follows
}  // namespace entry_114

// The later layout.
namespace entry_130 {
inline constexpr size_t access_count = 116;  // u32
inline constexpr size_t path_length = 128;   // u16, in UTF-16 units
inline constexpr size_t fixed_size = 130;    // the path follows
inline constexpr size_t storage_size = 4;    // u32 property storage byte count after the path
}  // namespace entry_130

}  // namespace vk::destlist
