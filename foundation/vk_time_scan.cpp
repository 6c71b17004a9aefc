#include "foundation/vk_time_scan.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_varint.h"

namespace vk {

namespace {

inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint64_t load_be64(const uint8_t* p) {
  return (static_cast<uint64_t>(load_be32(p)) << 32) | load_be32(p + 4);
}

bool in_window(const time& t, uint64_t to, uint64_t from) {
  if (!t.valid()) return false;
  const auto ticks = static_cast<int64_t>(t.m_filetime);
  return ticks >= static_cast<int64_t>(from) && ticks <= static_cast<int64_t>(to);
}

// Adds one hit of width bytes from p when the time is in the window.
bool add_hit(time_hit_store& hits, const time& t, const uint8_t* p, uint64_t to, uint64_t from,
             uint64_t offset, uint32_t kind, uint32_t width) {
  if (!in_window(t, to, from)) return false;
  time_hit hit;
  time_hit_set(hit, p, t.m_filetime, offset, kind, true, width);
  hits.emplace(offset, std::move(hit));
  return true;
}

// One record kind read from 8 or 16 bytes at p.
bool scan_record_at(time_hit_store& hits, const uint8_t* p, size_t size, uint64_t to, uint64_t from,
                    uint64_t offset, type_time kind, uint32_t width) {
  if (!p) return false;
  time t;
  if (!time_set_from_bytes(t, p, size, 0, kind)) return false;
  return add_hit(hits, t, p, to, from, offset, static_cast<uint32_t>(kind), width);
}

// The hits of one scan, printed in offset order.
int32_t scan_into(time_hit_store& hits, const uint8_t* buffer, size_t length, uint64_t to,
                  uint64_t from, uint64_t base, uint32_t mask) {
  int32_t count = 0;
  auto counted = [&count](bool added) {
    if (added) ++count;
  };
  if (mask & 0xC0028) {
    const uint32_t mask32 = mask & 0xC0028;
    for (size_t i = 0; i + 3 < length; ++i)
      counted(scan_value_for_times(hits, load_le32(buffer + i), to, from, base + i, true, false,
                                   mask32));
    for (size_t i = 0; i + 3 < length; ++i)
      counted(scan_value_for_times(hits, load_be32(buffer + i), to, from, base + i, false, false,
                                   mask32));
  }
  if ((mask & 0x1) || (mask & 0xC8146)) {
    // A 64-bit value whose high word is 0 would be read as a 32-bit one at
    // the wrong offset (big-endian) or a second time (little-endian); its
    // 32-bit kinds belong to the pass above, at the value's own offset.
    const uint32_t mask64 = mask & 0xC8047;
    auto wide_value = [&](uint64_t value, size_t i, bool little_endian) {
      if (value >> 32)
        counted(
            scan_value_for_times(hits, value, to, from, base + i, little_endian, false, mask64));
    };
    for (size_t i = 0; i + 7 < length; ++i) {
      wide_value(load_le64(buffer + i), i, true);
      counted(scan_ole_double_at(hits, buffer + i, to, from, base + i));
    }
    for (size_t i = 0; i + 7 < length; ++i) wide_value(load_be64(buffer + i), i, false);
  }
  if (mask & 0x80)
    for (size_t i = 0; i + 15 < length; ++i)
      counted(scan_guid_at(hits, buffer + i, to, from, base + i));
  if (mask & 0x600)
    for (size_t i = 0; i + 15 < length; ++i)
      counted(scan_systemtime_at(hits, buffer + i, to, from, base + i, false));
  if (mask & 0x20000)
    for (size_t i = 0; i + 7 < length; ++i)
      counted(scan_snowflake_at(hits, buffer + i, to, from, base + i));
  return count;
}

int32_t scan_varint_value(std::ostream& os, uint64_t value, uint64_t to, uint64_t from,
                          uint64_t base, uint32_t mask, const char* heading) {
  return guarded([&] {
    uint8_t bytes[8];
    store_le64(bytes, value);
    std::ostringstream lines;
    const int32_t n = scan_buffer_for_times(lines, bytes, 8, to, from, base, mask);
    if (n) os << heading << '\n' << lines.str();
    return n;
  });
}

int32_t clip_length(size_t size) {
  return size > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
}

}  // namespace

bool scan_systemtime_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                        uint64_t offset, bool clear) {
  if (clear) hits.clear();
  if (!p) return false;
  return guarded([&] {
    bool added = scan_record_at(hits, p, 16, to, from, offset, type_time::system_time, 8);
    uint8_t reversed[16];
    std::reverse_copy(p, p + 16, reversed);
    if (scan_record_at(hits, reversed, 16, to, from, offset, type_time::system_time, 8))
      added = true;
    return added;
  });
}

bool scan_guid_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                  uint64_t offset) {
  return guarded([&] { return scan_record_at(hits, p, 16, to, from, offset, type_time::guid, 8); });
}

bool scan_ole_double_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                        uint64_t offset) {
  return guarded([&] { return scan_record_at(hits, p, 8, to, from, offset, type_time::ole, 8); });
}

bool scan_snowflake_at(time_hit_store& hits, const uint8_t* p, uint64_t to, uint64_t from,
                       uint64_t offset) {
  return guarded(
      [&] { return scan_record_at(hits, p, 8, to, from, offset, type_time::snowflake_time, 8); });
}

const char* time_kind_name(uint32_t kind) {
  switch (kind) {
    case 0x1:
      return "filetime";
    case 0x2:
      return "chrome";
    case 0x4:
      return "firefox3";
    case 0x8:
      return "unix time";
    case 0x10:
      return "unix millisec time";
    case 0x20:
      return "dos time";
    case 0x40:
      return "ntp";
    case 0x80:
      return "guid";
    case 0x100:
      return "ole";
    case 0x200:
    case 0x400:
      return "system time";
    case 0x800:
      return "VHD time";
    case 0x1000:
      return "QPC time";
    case 0x8000:
      return "c# time";
    case 0x20000:
      return "snowflake time";
    case 0x40000:
      return "safari time";
    case 0x80000:
      return "hfs+ time";
    default:
      return "";
  }
}

void print_time_hit(const time_hit& hit, std::ostream& os) {
  guarded([&] {
    time t;
    time_set_filetime(t, hit.m_ticks);
    std::string date, clock;
    format_with_template_texts(date, clock, t, "yyyy-mm-dd", "hh:mm:ss.xxxxxxxxx");
    char head[64];
    std::snprintf(head, sizeof head, "%06llx, %s, %-10s, ",
                  static_cast<unsigned long long>(hit.m_offset), hit.m_little_endian ? "LE" : "BE",
                  time_kind_name(hit.m_kind));
    std::string line(head);
    line += date;
    line += ' ';
    line += clock;
    line += hit.m_kind == 0x20 ? " LOC, " : " UTC, ";
    static const char k_digits[] = "0123456789abcdef";
    for (uint8_t b : hit.m_raw) {
      line += k_digits[b >> 4];
      line += k_digits[b & 0xF];
      line += ' ';
    }
    line += '\n';
    os << line;
  });
}

int32_t scan_buffer_for_times(std::ostream& os, const uint8_t* buffer, int32_t length, uint64_t to,
                              uint64_t from, uint64_t base, uint32_t mask) {
  if (!buffer || length <= 0) return 0;
  return guarded([&] {
    time_hit_store hits;
    const int32_t count =
        scan_into(hits, buffer, static_cast<size_t>(length), to, from, base, mask);
    if (count)
      for (const auto& entry : hits) print_time_hit(entry.second, os);
    return count;
  });
}

int32_t scan_buffer_with_varints(std::ostream& os, const uint8_t* buffer, int32_t length,
                                 uint64_t to, uint64_t from, uint64_t base, uint32_t mask) {
  if (!buffer || length <= 0) return 0;
  int32_t count = scan_buffer_for_times(os, buffer, length, to, from, base, mask);
  uint64_t value = 0;
  if (read_varint(value, buffer, static_cast<size_t>(length)))
    count += scan_varint_value(os, value, to, from, base, mask, "Variable int BE");
  if (read_varint_iter(value, buffer, static_cast<size_t>(length)))
    count += scan_varint_value(os, value, to, from, base, mask, "Variable int LE");
  return count;
}

int32_t scan_vector_for_times(std::ostream& os, const std::vector<uint8_t>& bytes, uint64_t to,
                              uint64_t from, uint64_t base, uint32_t mask) {
  if (bytes.empty()) return 0;
  return scan_buffer_for_times(os, bytes.data(), clip_length(bytes.size()), to, from, base, mask);
}

int32_t scan_vector_with_varints(std::ostream& os, const std::vector<uint8_t>& bytes, uint64_t to,
                                 uint64_t from, uint64_t base, uint32_t mask) {
  if (bytes.empty()) return 0;
  return scan_buffer_with_varints(os, bytes.data(), clip_length(bytes.size()), to, from, base,
                                  mask);
}

int32_t scan_buffer_callback(uint32_t, void* context, const uint8_t* buffer, uint32_t length,
                             uint32_t, uint64_t base) {
  auto* ctx = static_cast<time_scan_context*>(context);
  if (!buffer || length == 0 || !ctx || !ctx->m_stream) return -1;
  ctx->m_total += scan_buffer_for_times(*ctx->m_stream, buffer, clip_length(length), ctx->m_to,
                                        ctx->m_from, base, ctx->m_mask);
  return 0;
}

namespace {

template <class Test>
bool find_times(const uint8_t* buffer, uint32_t length, size_t width, std::vector<time>& times,
                std::vector<uint32_t>& offsets, Test test) {
  times.clear();
  offsets.clear();
  if (!buffer || length < 8) return false;
  return guarded(
      [&] {
        // Every position where a whole value fits, the last one included.
        for (uint32_t i = 0; i + width <= length; ++i) test(buffer + i, i);
        return !times.empty();
      },
      [&] {
        times.clear();
        offsets.clear();
      });
}

}  // namespace

bool find_unix_times32(const uint8_t* buffer, uint32_t length, std::vector<time>& times,
                       std::vector<uint32_t>& offsets) {
  return find_times(buffer, length, 4, times, offsets, [&](const uint8_t* p, uint32_t i) {
    const time t = time_from_unix32(load_le32(p));
    if (!t.valid()) return;
    times.push_back(t);
    offsets.push_back(i);
  });
}

bool find_times64(const uint8_t* buffer, uint32_t length, std::vector<time>& times,
                  std::vector<uint32_t>& offsets) {
  return find_times(buffer, length, 8, times, offsets, [&](const uint8_t* p, uint32_t i) {
    const auto value = static_cast<int64_t>(load_le64(p));
    for (type_time kind : {type_time::unix_time, type_time::filetime}) {
      const time t = time_from_i64(value, kind);
      if (!t.valid()) continue;
      times.push_back(t);
      offsets.push_back(i);
    }
  });
}

}  // namespace vk
