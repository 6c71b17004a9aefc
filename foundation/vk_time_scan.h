// Time scanning of raw buffers: every byte position read as 32-bit and
// 64-bit values in both byte orders, SYSTEMTIME and GUID records, OLE dates
// and snowflake ids; each reading whose time lands inside a window becomes a
// time_hit, and the hits are printed in offset order, one line each.
//
// The window is two FILETIME tick values compared as signed numbers; a time
// is a hit when it is valid and from <= ticks <= to.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "foundation/vk_time.h"
#include "foundation/vk_time_parse.h"

namespace vk {

// The single-record tests; each adds its hits to the store and is true when
// it added one. The pointer must hold 16 bytes (8 for the double and
// snowflake tests).
//
// SYSTEMTIME as UTC, then the same 16 bytes in reverse order: kind 0x200.
bool scan_systemtime_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                        uint64_t offset, bool clear);
// A version-1 GUID's timestamp: kind 0x80, its first 8 bytes kept.
bool scan_guid_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                  uint64_t offset);
// The 8 bytes as an IEEE double OLE date: kind 0x100.
bool scan_ole_double_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                        uint64_t offset);
// The little-endian u64 as a snowflake id: kind 0x20000.
bool scan_snowflake_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                       uint64_t offset);

// "<offset, 6+ hex digits>, LE|BE, <kind name, 10 columns>, <date> <time>
// UTC|LOC, " then each raw byte as two hexadecimal digits and a blank, and a
// line end.
void print_time_hit(const time_hit& hit, std::ostream& os);
// The name printed for a kind bit; empty for any other value.
const char* time_kind_name(uint32_t kind);

// Scans the buffer with the kinds of the mask and prints the hits; returns
// the number of single tests that added a hit (0 for a null buffer or a
// length below 1).
int32_t scan_buffer_for_times(std::ostream& os, const uint8_t* buffer, int32_t length, uint64_t to,
                              uint64_t from, uint64_t base, uint32_t mask);
// The plain scan, then the value of a variable-length integer at the start
// of the buffer, read most significant group first ("Variable int BE") and
// least significant first ("Variable int LE"), scanned as 8 bytes; each
// heading and its lines appear only over hits. The sum of all counts.
int32_t scan_buffer_with_varints(std::ostream& os, const uint8_t* buffer, int32_t length,
                                 uint64_t to, uint64_t from, uint64_t base, uint32_t mask);
int32_t scan_vector_for_times(std::ostream& os, const std::vector<uint8_t>& bytes, uint64_t to,
                              uint64_t from, uint64_t base, uint32_t mask);
int32_t scan_vector_with_varints(std::ostream& os, const std::vector<uint8_t>& bytes, uint64_t to,
                                 uint64_t from, uint64_t base, uint32_t mask);

// What the callback form scans with; m_total gathers the counts.
struct time_scan_context {
  std::ostream* m_stream = nullptr;
  uint64_t m_to = 0;
  uint64_t m_from = 0;
  uint32_t m_mask = 0;
  int64_t m_total = 0;
};
// Callback of a chunked reader: scan_buffer_for_times with the context's
// settings; 0, or -1 for a missing buffer, length, context or stream.
int32_t scan_buffer_callback(uint32_t unused, void* context, const uint8_t* buffer, uint32_t length,
                             uint32_t unused2, uint64_t base);

// Every position whose u32 reads as non-zero unix seconds (find_unix_times32)
// or whose u64 reads as valid unix seconds, then as a valid FILETIME
// (find_times64); one entry per kind that gave a time. Both outputs are
// emptied first; false for a null buffer or a length below 8, or when nothing
// was found.
bool find_unix_times32(const uint8_t* buffer, uint32_t length, std::vector<time>& times,
                       std::vector<uint32_t>& offsets);
bool find_times64(const uint8_t* buffer, uint32_t length, std::vector<time>& times,
                  std::vector<uint32_t>& offsets);

}  // namespace vk
