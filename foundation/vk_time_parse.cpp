#include "foundation/vk_time_parse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <ostream>
#include <sstream>
#include <type_traits>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr int64_t k_max_i64 = std::numeric_limits<int64_t>::max();
constexpr int64_t k_unix_epoch_secs = 11644473600LL;
constexpr int64_t k_seconds_to_2001 = 12622780800LL;
constexpr int64_t k_seconds_to_1904 = 9561628800LL;
// Byte-form kind of a {u32, u32, FILETIME} record.
constexpr uint32_t k_stamped_filetime_kind = 0x4000;

// (seconds + epoch) * 10^7 + extra, false when it leaves the signed range.
bool epoch_seconds_to_ticks(int64_t seconds, int64_t epoch, int64_t extra, uint64_t& ticks) {
  int64_t v = 0;
  if (!checked_add(seconds, epoch, v) ||
      !checked_mul(v, static_cast<int64_t>(k_ticks_per_second), v) || !checked_add(v, extra, v) ||
      v <= 0) {
    return false;
  }
  ticks = static_cast<uint64_t>(v);
  return true;
}

// A double that converts to a signed 64-bit integer without leaving its range.
bool double_fits_i64(double v) {
  return std::isfinite(v) && v > -9.2e18 && v < 9.2e18;
}

bool fits_u16(uint32_t v) {
  return v <= 0xFFFF;
}

// The date fields and an optional time text into out; false when the time
// does not read or a field does not fit its 16 bits.
bool fill_systemtime(uint32_t year, uint32_t month, uint32_t day, const char* time_text,
                     _windows_systemtime& out) {
  uint32_t hours = 0, minutes = 0;
  double seconds = 0.0;
  if (time_text && *time_text && !parse_clock_time(time_text, &hours, &minutes, &seconds)) {
    return false;
  }
  if (!fits_u16(year) || !fits_u16(hours) || !fits_u16(minutes) || !(seconds < 65536.0)) {
    return false;
  }
  const double whole = std::trunc(seconds);
  out.m_year = static_cast<uint16_t>(year);
  out.m_month = static_cast<uint16_t>(month);
  out.m_day = static_cast<uint16_t>(day);
  out.m_hour = static_cast<uint16_t>(hours);
  out.m_minute = static_cast<uint16_t>(minutes);
  out.m_second = static_cast<uint16_t>(whole);
  // To the nearest millisecond: 59.9996 s is 59 s and 1000 ms.
  out.m_milliseconds = static_cast<uint16_t>((seconds - whole) * 1000.0 + 0.5);
  return true;
}

}  // namespace

// ---- date and time texts ----

bool parse_date_time_text(const char* date, const char* time_text, const std::string& order,
                          char separator, _windows_systemtime& out) {
  out = _windows_systemtime{};
  if (!date || !*date) return false;
  return vk::guarded(
      [&] {
        std::string order_copy = order;
        uint32_t day = 0, month = 0, year = 0;
        if (!parse_date_by_order(date, order_copy, separator, &day, &month, &year)) return false;
        if (!fill_systemtime(year, month, day, time_text, out)) {
          out = _windows_systemtime{};
          return false;
        }
        return true;
      },
      [&] {
        out = _windows_systemtime{};
        return false;
      });
}

bool parse_mdy_date_time_text(const char* date, const char* time_text, _windows_systemtime& out) {
  out = _windows_systemtime{};
  if (!date || !*date) return false;
  uint32_t day = 0, month = 0, year = 0;
  if (!parse_mdy_date(date, &day, &month, &year)) return false;
  if (!fill_systemtime(year, month, day, time_text, out)) {
    out = _windows_systemtime{};
    return false;
  }
  return true;
}

bool parse_date_time_to_tm(const char* date, const char* time_text, struct tm& out) {
  out = tm{};
  if (!date && !time_text) return false;
  uint32_t day = 0, month = 0, year = 0, ms = 0;
  if (date && !parse_mdy_date(date, &day, &month, &year)) return false;
  if (time_text && !parse_clock_time_ms(time_text, &ms)) return false;
  out.tm_year = static_cast<int>(year) - 1900;
  out.tm_mon = static_cast<int>(month) - 1;
  out.tm_mday = static_cast<int>(day);
  const uint32_t s = ms / 1000;
  out.tm_hour = static_cast<int>(s / 3600);
  out.tm_min = static_cast<int>(s / 60 - s / 3600 * 60);
  out.tm_sec = static_cast<int>(s % 60);
  return true;
}

time& time_from_date_text(time& t, const char* text, bool utc) {
  t = time();
  if (!text) return t;
  vk::guarded(
      [&] {
        const std::string s = text;
        const size_t blank = s.find(' ');
        const std::string date = s.substr(0, blank);
        const std::string clock = blank == std::string::npos ? "00:00:00" : s.substr(blank + 1);
        struct tm fields {};
        if (parse_date_time_to_tm(date.c_str(), clock.c_str(), fields)) {
          time_from_tm(t, fields, 0, utc);
        }
      },
      [&] { t = time(); });
  return t;
}

bool guess_time_kind_by_years(uint64_t& ticks, uint32_t& kind, uint64_t value, int32_t first_year,
                              int32_t last_year) {
  ticks = 0;
  kind = 0;
  if ((value >> 32) == 0 && (value & 0xFFFFFFFFu) <= 0xFFFFFF) return false;
  return vk::guarded(
      [&] {
        time low, high;
        time_from_date_text(low, ("01/01/" + std::to_string(first_year)).c_str(), false);
        time_from_date_text(high, ("01/01/" + std::to_string(last_year)).c_str(), false);
        if (!low.valid() || !high.valid()) return false;
        const uint32_t mask = 0xC004F;
        const uint64_t swapped =
            (static_cast<uint64_t>(swap_bytes32(static_cast<uint32_t>(value >> 32))) << 32) |
            swap_bytes32(static_cast<uint32_t>(value));
        for (uint64_t candidate : {value, swapped}) {
          time_hit_store hits;
          if (scan_value_for_times(hits, candidate, high.m_filetime, low.m_filetime, 0, true, true,
                                   mask) &&
              hits.begin()->second.m_ticks != 0) {
            ticks = hits.begin()->second.m_ticks;
            kind = hits.begin()->second.m_kind;
            return true;
          }
        }
        return false;
      },
      [&] {
        ticks = 0;
        kind = 0;
        return false;
      });
}

bool guess_time_ticks(uint64_t& ticks, uint64_t value, int32_t first_year, int32_t last_year) {
  uint32_t kind = 0;
  return guess_time_kind_by_years(ticks, kind, value, first_year, last_year);
}

bool write_us_date_time(std::string& out, const _windows_systemtime& st) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%02d/%02d/%04d : %02d:%02d:%02d.%03d", st.m_month, st.m_day,
                st.m_year, st.m_hour, st.m_minute, st.m_second, st.m_milliseconds);
  vk::assign_text(out, buf);
  return true;
}

bool write_iso_utc(int64_t unix_seconds, std::string& out, float offset_hours) {
  out.clear();
  if (unix_seconds < 0) return false;
  struct tm t {};
  if (!unix_to_tm(unix_seconds, t, offset_hours)) return false;
  char buf[48];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return vk::assign_text(out, buf);
}

// ---- time values from other encodings ----

time& time_from_text(time& t, const std::string& text, type_time kind) {
  t = time();
  const uint64_t hex = hex_text_to_u64(text);
  switch (kind) {
    case type_time::filetime:
    case type_time::chrome:
    case type_time::firefox3:
    case type_time::vhd_time:
      return time_from_u64(t, hex, kind);
    case type_time::unix_time: {
      const int64_t n = std::strtoll(text.c_str(), nullptr, 10);
      if (n <= 0) return t;
      return time_from_i64(t, n, kind);
    }
    default:
      return t;
  }
}

bool time_set_from_bytes(time& t, const uint8_t* bytes, size_t size, size_t offset,
                         type_time kind) {
  t = time();
  const byte_view view(bytes, size);
  const size_t left = view.remaining(offset);
  if (!view.has(offset, 4)) return false;
  const uint8_t* p = view.data() + offset;
  switch (kind) {
    case type_time::system_time:
    case type_time::system_time_alt: {
      if (left < 16) return false;
      struct tm fields {};
      fields.tm_year = static_cast<int>(load_le16(p)) - 1900;
      fields.tm_mon = static_cast<int>(load_le16(p + 2)) - 1;
      fields.tm_mday = load_le16(p + 6);
      fields.tm_hour = load_le16(p + 8);
      fields.tm_min = load_le16(p + 10);
      fields.tm_sec = load_le16(p + 12);
      return time_from_tm(t, fields, load_le16(p + 14), kind == type_time::system_time);
    }
    default:
      break;
  }
  if (left < 8) {
    const uint32_t v = load_le32(p);
    switch (kind) {
      case type_time::unix_time:
      case type_time::unix_millisec_time:
      case type_time::vhd_time:
        time_from_u64(t, v, kind);
        return t.valid();
      default:
        return false;
    }
  }
  if (static_cast<uint32_t>(kind) == k_stamped_filetime_kind) {
    if (left < 16) return false;
    stamped_filetime record;
    record.m_word0 = load_le32(p);
    record.m_word1 = load_le32(p + 4);
    record.m_time.dwLowDateTime = load_le32(p + 8);
    record.m_time.dwHighDateTime = load_le32(p + 12);
    const uint64_t ticks = filetime_value(check_stamped_filetime(record).m_time);
    return ticks != 0 && time_set_filetime(t, ticks);
  }
  const uint64_t v = load_le64(p);
  switch (kind) {
    case type_time::unix_time:
    case type_time::unix_millisec_time:
      if (static_cast<int64_t>(v) <= 0) return false;
      time_from_u64(t, v, kind);
      return t.valid();
    case type_time::filetime:
    case type_time::chrome:
    case type_time::firefox3:
    case type_time::csharp_time:
    case type_time::snowflake_time:
      time_from_u64(t, v, kind);
      return t.valid();
    case type_time::ole: {
      double days = 0;
      std::memcpy(&days, p, sizeof(days));
      time_from_double(t, days, type_time::ole);
      return t.valid();
    }
    case type_time::guid: {
      if (left < 16) return false;
      uint64_t ticks = 0;
      uint16_t clock_sequence = 0;
      std::vector<uint8_t> node;
      if (!guid_v1_to_filetime(ticks, clock_sequence, node, p)) return false;
      return time_set_filetime(t, ticks);
    }
    default:
      return false;
  }
}

bool time_set_from_bytes(time& t, const std::vector<uint8_t>& bytes, size_t offset,
                         type_time kind) {
  return time_set_from_bytes(t, bytes.data(), bytes.size(), offset, kind);
}

time& time_from_bytes(time& t, const std::vector<uint8_t>& bytes, type_time kind) {
  time_set_from_bytes(t, bytes, 0, kind);
  return t;
}

time& time_from_systemtime(time& t, const _windows_systemtime& st) {
  t = time();
  struct tm fields {};
  fields.tm_year = static_cast<int>(st.m_year) - 1900;
  fields.tm_mon = static_cast<int>(st.m_month) - 1;
  fields.tm_mday = st.m_day;
  fields.tm_hour = st.m_hour;
  fields.tm_min = st.m_minute;
  fields.tm_sec = st.m_second;
  time_from_tm(t, fields, st.m_milliseconds, true);
  return t;
}

time& time_from_tm_utc(time& t, const struct tm& tm_in, bool utc) {
  t = time();
  time_from_tm(t, tm_in, 0, utc);
  return t;
}

time& time_from_filetime_pair(time& t, uint32_t low, uint32_t high) {
  return time_from_u64(t, (static_cast<uint64_t>(high) << 32) | low, type_time::filetime);
}

time& time_from_counter(time& t, uint64_t base, uint64_t start, uint64_t stop, uint64_t frequency,
                        uint32_t kind) {
  t = time();
  if (frequency == 0 || base > static_cast<uint64_t>(k_max_i64)) return t;
  double factor = 0.0;
  if (kind == static_cast<uint32_t>(type_time::qpc_time)) {
    factor = 1e7 / static_cast<double>(frequency);
  } else if (kind == 0x2000) {
    factor = 10.0 / static_cast<double>(frequency);
  }
  const double a = std::trunc(static_cast<double>(start) * factor);
  const double b = std::trunc(static_cast<double>(stop) * factor);
  if (!double_fits_i64(a) || !double_fits_i64(b)) return t;
  int64_t ticks = 0;
  if (!checked_add(static_cast<int64_t>(base), -static_cast<int64_t>(a), ticks) ||
      !checked_add(ticks, static_cast<int64_t>(b), ticks) || ticks <= 0) {
    return t;
  }
  time_set_filetime(t, static_cast<uint64_t>(ticks));
  return t;
}

time& time_from_seconds_micro(time& t, int32_t seconds, int32_t microseconds, type_time kind) {
  t = time();
  if (kind != type_time::unix_time || seconds <= 0) return t;
  time_from_i64(t, seconds, type_time::unix_time);
  time_add_microseconds(t, microseconds);
  return t;
}

bool time_set_filetime_fraction(time& t, uint64_t ticks, double fraction) {
  t = time();
  if (ticks == 0 || !(fraction >= 0.0 && fraction < 4.6e18)) return false;
  const double whole = std::trunc(fraction);
  uint64_t total = 0;
  if (!checked_add(ticks, static_cast<uint64_t>(whole), total)) return false;
  if (!time_set_filetime(t, total)) return false;
  const double part = fraction - whole;
  t.m_calendar.m_nanoseconds += static_cast<uint64_t>(part * 100.0);
  t.m_calendar.m_picoseconds += static_cast<uint64_t>(part * 100000.0);
  return true;
}

time& time_from_date_order_text(time& t, const char* text, const std::string& order,
                                char separator) {
  t = time();
  if (!text) return t;
  vk::guarded(
      [&] {
        const std::string s = text;
        std::string date;
        std::string clock = "00:00:00";
        if (separator != ' ') {
          size_t cut = s.find(' ');
          if (cut == std::string::npos) cut = s.find('T');
          date = s.substr(0, cut);
          if (cut != std::string::npos) clock = s.substr(cut + 1);
        } else {
          const size_t last = s.rfind(' ');
          if (last == std::string::npos) {
            date = s;
          } else {
            std::string tail = s.substr(last + 1);
            trim_ws(tail);
            if (!tail.empty() && tail[0] >= '0' && tail[0] <= '9') {
              clock = tail;
              date = s.substr(0, last);
            } else {
              const size_t prev = last == 0 ? std::string::npos : s.rfind(' ', last - 1);
              const size_t from = prev == std::string::npos ? 0 : prev + 1;
              clock = s.substr(from, last - from);
              date = prev == std::string::npos ? std::string() : s.substr(0, prev);
            }
          }
        }
        std::string use_order = order;
        char use_separator = separator;
        if (order.find("Mon") != std::string::npos) {
          std::string name_order = order;
          uint32_t d = 0, m = 0, y = 0;
          if (!parse_date_by_order(date.c_str(), name_order, separator, &d, &m, &y)) return;
          date = std::to_string(y) + "/" + std::to_string(m) + "/" + std::to_string(d);
          use_order = "YMD";
          use_separator = '/';
        }
        _windows_systemtime st;
        if (parse_date_time_text(date.c_str(), clock.c_str(), use_order, use_separator, st)) {
          time_from_systemtime(t, st);
        }
      },
      [&] { t = time(); });
  return t;
}

bool is_unix_kind_mask(const time_field_desc& desc) {
  return (desc.m_kind_mask & 0x8) != 0 || (desc.m_kind_mask & 0x2000) != 0;
}

time& time_from_field_value(time& t, uint64_t value, const time_field_desc& desc, bool is_double) {
  t = time();
  if (!desc.m_enabled) return t;
  uint64_t ticks = 0;
  const uint64_t mask = desc.m_kind_mask & 0xFFFFFFFFu;
  if (is_unix_kind_mask(desc)) {
    ticks = value;
  } else if (mask & 0x100) {
    // Its 8 bytes are too few for the SYSTEMTIME form: the time stays cleared.
    return t;
  } else if (mask & 0x200) {
    if (is_double) {
      double d = 0;
      std::memcpy(&d, &value, sizeof(d));
      const double whole = std::trunc(d);
      if (!double_fits_i64(whole) ||
          !epoch_seconds_to_ticks(static_cast<int64_t>(whole), k_seconds_to_2001,
                                  static_cast<int64_t>((d - whole) * 1e7), ticks)) {
        return t;
      }
    } else if (value > static_cast<uint64_t>(k_max_i64) ||
               !epoch_seconds_to_ticks(static_cast<int64_t>(value), k_seconds_to_2001, 0, ticks)) {
      return t;
    }
  } else if (mask & 0x400) {
    if (value > static_cast<uint64_t>(k_max_i64) ||
        !epoch_seconds_to_ticks(static_cast<int64_t>(value), k_seconds_to_1904, 0, ticks)) {
      return t;
    }
  } else if (mask & 0x10) {
    if (static_cast<int64_t>(value) <= 0 ||
        !epoch_seconds_to_ticks(static_cast<int64_t>(value), k_unix_epoch_secs, 0, ticks)) {
      return t;
    }
  } else if (mask & 0x800) {
    if (!checked_mul(value, uint64_t{10}, ticks)) return t;
  } else if (mask & 0x1000) {
    if (value > static_cast<uint64_t>(k_max_i64) ||
        !firefox3_to_filetime(static_cast<int64_t>(value), ticks)) {
      return t;
    }
  } else {
    return t;
  }
  time_set_filetime(t, ticks);
  return t;
}

uint64_t field_value_to_filetime(uint64_t value, const time_field_desc& desc, bool is_double) {
  time t;
  time_from_field_value(t, value, desc, is_double);
  return t.valid() ? t.m_filetime : 0;
}

namespace {

template <class Value>
bool guess_kind(time& out, uint32_t& kind, uint16_t highest, uint16_t lowest, Value value,
                uint32_t mask) {
  out = time();
  kind = 0;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const uint32_t k = 1u << bit;
    if (!(mask & k)) continue;
    time candidate;
    if constexpr (std::is_same_v<Value, double>) {
      time_from_double(candidate, value, static_cast<type_time>(k));
    } else {
      time_from_u64(candidate, value, static_cast<type_time>(k));
    }
    if (candidate.valid() && time_year(candidate) >= lowest && time_year(candidate) <= highest) {
      out = candidate;
      kind = k;
      return true;
    }
  }
  return false;
}

}  // namespace

bool guess_time_kind(time& out, uint32_t& kind, uint16_t highest, uint16_t lowest, uint64_t value,
                     uint32_t mask) {
  return guess_kind(out, kind, highest, lowest, value, mask);
}

bool guess_time_kind_double(time& out, uint32_t& kind, uint16_t highest, uint16_t lowest,
                            double value, uint32_t mask) {
  return guess_kind(out, kind, highest, lowest, value, mask);
}

void store_filetime_of_kind(FILETIME& out, uint64_t value, type_time kind) {
  if (kind == type_time::filetime) {
    store_filetime(value, out);
  } else if (kind == type_time::unix_time) {
    store_unix_as_filetime(value, out);
  }
}

void store_unix_as_filetime(uint64_t seconds, FILETIME& out) {
  store_filetime(seconds * k_ticks_per_second + k_unix_epoch_ticks, out);
}

bool operator>=(const time& a, const time& b) {
  return static_cast<int64_t>(a.m_filetime) >= static_cast<int64_t>(b.m_filetime);
}

bool operator>(const time& a, const time& b) {
  return static_cast<int64_t>(a.m_filetime) > static_cast<int64_t>(b.m_filetime);
}

void calendar_init(calendar_fields& c) {
  c = calendar_fields{};
}

void calendar_clear(calendar_fields& c) {
  c = calendar_fields{};
}

void systemtime_zero(_windows_systemtime& st) {
  st = _windows_systemtime{};
}

// ---- date text readers ----

uint64_t parse_iso8601_time(const std::string& text) {
  return vk::guarded([&]() -> uint64_t {
    const size_t cut = text.find('T');
    const std::string date = text.substr(0, cut);
    std::string clock = cut == std::string::npos ? std::string() : text.substr(cut + 1);
    if (!clock.empty() && clock.back() == 'Z') clock.pop_back();
    if (date.empty()) return 0;
    std::string order = "YMD";
    uint32_t day = 0, month = 0, year = 0, hours = 0, minutes = 0;
    double seconds = 0.0;
    if (!parse_date_by_order(date.c_str(), order, '-', &day, &month, &year)) return 0;
    if (!clock.empty() && !parse_clock_time(clock.c_str(), &hours, &minutes, &seconds)) return 0;
    if (year > 100000 || hours > 1000000 || minutes > 1000000 || seconds > 1e9) return 0;
    struct tm fields {};
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = static_cast<int>(hours);
    fields.tm_min = static_cast<int>(minutes);
    const double whole = std::trunc(seconds);
    fields.tm_sec = static_cast<int>(whole);
    const uint64_t ticks = tm_to_filetime(fields, 0);
    if (ticks == 0 || (ticks >> 63)) return 0;
    const auto nanoseconds = static_cast<uint64_t>((seconds - whole) * 1e9 + 0.5);
    return ticks + nanoseconds / 100;
  });
}

uint64_t parse_email_date(const std::string& text) {
  if (text.size() < 20) return 0;
  return vk::guarded([&]() -> uint64_t {
    const size_t comma = text.find(',');
    std::string s = comma == std::string::npos ? text : text.substr(comma + 1);
    trim_ws(s);
    const size_t zone = s.rfind(' ');
    if (zone == std::string::npos) return 0;
    s.erase(zone);
    trim_ws(s);
    const size_t split = s.rfind(' ');
    if (split == std::string::npos) return 0;
    std::string date = s.substr(0, split);
    const std::string clock = s.substr(split + 1);
    for (char& c : date) {
      if (c == ' ') c = '-';
    }
    std::string order = "DMonY";
    uint32_t day = 0, month = 0, year = 0, hours = 0, minutes = 0, seconds = 0;
    if (!parse_date_by_order(date.c_str(), order, '-', &day, &month, &year) ||
        !parse_clock_time_whole(clock.c_str(), &hours, &minutes, &seconds)) {
      return 0;
    }
    if (year > 100000 || hours > 1000000 || minutes > 1000000 || seconds > 1000000) return 0;
    struct tm fields {};
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = static_cast<int>(hours);
    fields.tm_min = static_cast<int>(minutes);
    fields.tm_sec = static_cast<int>(seconds);
    const uint64_t ticks = tm_to_filetime(fields, 0);
    return (ticks >> 63) ? 0 : ticks;
  });
}

bool parse_iso8601_systemtime(const std::string& text, const std::string& order, char separator,
                              _windows_systemtime& out) {
  out = _windows_systemtime{};
  return vk::guarded([&] {
    const size_t cut = text.find('T');
    if (cut == std::string::npos) return false;
    std::string clock = text.substr(cut + 1);
    if (!clock.empty() && clock.back() == 'Z') clock.pop_back();
    return parse_date_time_text(text.substr(0, cut).c_str(), clock.c_str(), order, separator, out);
  });
}

int32_t local_offset_of_text(bool& is_dst, const char* text) {
  is_dst = false;
  if (!text) return 0;
  return vk::guarded([&] {
    const std::string s = text;
    const size_t blank = s.find(' ');
    const std::string date = s.substr(0, blank);
    const std::string clock = blank == std::string::npos ? "00:00:00" : s.substr(blank + 1);
    struct tm fields {};
    if (!parse_date_time_to_tm(date.c_str(), clock.c_str(), fields)) return 0;
    return local_offset_for_tm(is_dst, fields);
  });
}

bool parse_date_time_text_w(const std::wstring& date, const std::wstring& time_text,
                            _windows_systemtime& out) {
  out = _windows_systemtime{};
  return vk::guarded([&] {
    std::string d, t;
    wide_to_utf8(date, d);
    wide_to_utf8(time_text, t);
    return parse_mdy_date_time_text(d.empty() ? nullptr : d.c_str(),
                                    t.empty() ? nullptr : t.c_str(), out);
  });
}

// ---- date text writers ----

bool write_email_date(std::string& out, int64_t unix_seconds, int32_t bias_minutes) {
  static const char* const days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  out.clear();
  if (unix_seconds == 0) unix_seconds = static_cast<int64_t>(::time(nullptr));
  struct tm t {};
  if (!unix_to_tm_utc(unix_seconds, t)) return false;
  // The zone is the bias negated; its minutes carry no sign of their own.
  const int64_t bias = bias_minutes;
  const char sign = bias > 0 ? '-' : '+';
  const int64_t magnitude = bias < 0 ? -bias : bias;
  char buf[80];
  std::snprintf(buf, sizeof(buf), "%s; %02d %s %d %02d:%02d:%02d %c%02lld%02lld", days[t.tm_wday],
                t.tm_mday, month_abbrev(t.tm_mon + 1), t.tm_year + 1900, t.tm_hour, t.tm_min,
                t.tm_sec, sign, static_cast<long long>(magnitude / 60),
                static_cast<long long>(magnitude % 60));
  return vk::assign_text(out, buf);
}

namespace {
// The two short date-and-time forms differ only in the year's width.
void write_short_date_time(std::ostream& os, const time& t, bool two_digit_year) {
  if (!t.valid()) {
    os << "00/00/00 00:00:00";
    return;
  }
  std::string date, clock;
  format_date_time(date, clock, t, false, two_digit_year, false, false);
  os << date << ' ' << clock;
}
}  // namespace

void write_date_time_yy(std::ostream& os, const time& t) {
  write_short_date_time(os, t, true);
}

void write_date_time_sec(std::ostream& os, const time& t) {
  write_short_date_time(os, t, false);
}

bool format_date_time_by_template(std::string& date, std::string& time_text, const time& t,
                                  const std::string& layout, bool subseconds, bool two_digit_year,
                                  bool use_locale, bool nanoseconds) {
  date.clear();
  time_text.clear();
  if (!t.valid()) return false;
  return vk::guarded(
      [&] {
        if (layout.empty()) {
          format_date_time(date, time_text, t, subseconds, two_digit_year, use_locale, nanoseconds);
          return true;
        }
        std::string date_template, time_template;
        const size_t blank = layout.find(' ');
        if (blank != std::string::npos) {
          date_template = layout.substr(0, blank);
          time_template = layout.substr(blank + 1);
        } else if (layout.find_first_of("/-") != std::string::npos) {
          date_template = layout;
        } else if (layout.find(':') != std::string::npos) {
          time_template = layout;
        }
        return format_with_templates(date, time_text, t, date_template, time_template);
      },
      [&] {
        date.clear();
        time_text.clear();
        return false;
      });
}

bool filetime_text_by_settings(std::string& out, uint64_t ticks, time_format_settings& settings) {
  out.clear();
  const time t = time_from_u64(ticks, type_time::filetime);
  if (!t.valid()) return false;
  vk::guarded(
      [&] {
        std::ostringstream os;
        write_time_by_descriptor(os, t, settings);
        out = os.str();
      },
      [&] { out.clear(); });
  return !out.empty();
}

bool filetime_text_by_descriptor(std::string& date, std::string& time_text, uint64_t ticks,
                                 const time_format_descriptor& descriptor) {
  return format_time_by_descriptor(date, time_text, time_from_u64(ticks, type_time::filetime),
                                   descriptor);
}

bool filetime_text_by_templates(std::string& out, uint64_t ticks, const std::string& date_template,
                                const std::string& time_template) {
  out.clear();
  std::string date, clock;
  if (!format_with_templates(date, clock, time_from_u64(ticks, type_time::filetime), date_template,
                             time_template)) {
    return false;
  }
  if (!vk::guarded(
          [&] {
            out = date + ' ' + clock;
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

std::string& hex_u64_text(std::string& out, uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "0x%08x%08x", static_cast<unsigned>(value >> 32),
                static_cast<unsigned>(value));
  vk::assign_text(out, buf);
  return out;
}

void write_hex_u64(std::ostream& os, uint64_t value) {
  std::string text;
  os << hex_u64_text(text, value);
}

void write_date_only(std::ostream& os, const time& t) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "%04u-%02u-%02u", t.m_calendar.m_year, t.m_calendar.m_month,
                t.m_calendar.m_day);
  os << buf;
}

namespace {

std::string us_time_text(const time& t, bool date_only) {
  char buf[64];
  const calendar_fields& c = t.m_calendar;
  int n = std::snprintf(buf, sizeof(buf), "%02u/%02u/%04u", c.m_month, c.m_day, c.m_year);
  if (!date_only) {
    std::snprintf(buf + n, sizeof(buf) - n, " : %02u:%02u:%02u [ %03u ms ]", c.m_hour, c.m_minute,
                  c.m_second, time_milliseconds(t, false));
  }
  return buf;
}

}  // namespace

void write_time_us(std::ostream& os, const time& t, bool date_only) {
  os << us_time_text(t, date_only);
}

void write_time_us_w(std::wostream& os, const time& t, bool date_only) {
  const std::string text = us_time_text(t, date_only);
  os << std::wstring(text.begin(), text.end());
}

uint64_t subtract_local_offset(uint64_t ticks) {
  const time t = time_from_u64(ticks, type_time::filetime);
  if (!t.valid() || t.m_tm_failed) return 0;
  int64_t utc_hour = t.m_calendar.m_hour;
  int64_t local_hour = t.m_tm.tm_hour;
  if (t.m_calendar.m_day != t.m_tm.tm_mday) {
    const bool utc_not_before = t.m_calendar.m_year >= t.m_tm.tm_year + 1900 &&
                                t.m_tm.tm_mon + 1 <= t.m_calendar.m_month &&
                                t.m_tm.tm_mday <= t.m_calendar.m_day;
    if (utc_not_before) {
      utc_hour += 24;
    } else {
      local_hour += 24;
    }
  }
  int64_t result = 0;
  if (!checked_add(static_cast<int64_t>(ticks),
                   static_cast<int64_t>((utc_hour - local_hour) * 36000000000LL), result) ||
      result <= 0) {
    return 0;
  }
  return static_cast<uint64_t>(result);
}

signed_ntp& filetime_ntp_offset(signed_ntp& out, const signed_ntp& reference, const FILETIME& ft) {
  ntp_stamp stamp;
  if (!filetime_to_ntp_be(filetime_value(ft), stamp)) {
    out = signed_ntp{};
    return out;
  }
  signed_ntp value;
  value.m_seconds = stamp.m_seconds;
  value.m_fraction = stamp.m_fraction;
  out = signed_ntp_sub(reference, value);
  return out;
}

// ---- labelled field lines ----

namespace {

uint32_t field_line(std::ostream& os, const char* name, const std::string& value, uint64_t offset,
                    uint32_t width, const char* note) {
  vk::guarded([&] {
    char head[24];
    std::snprintf(head, sizeof(head), "%08llx : ", static_cast<unsigned long long>(offset));
    std::string line = head;
    line += name;
    const size_t name_len = std::strlen(name);
    if (width > name_len) line.append(width - name_len, ' ');
    line += ": ";
    line += value;
    if (note) {
      line += " [";
      line += note;
      line += ']';
    }
    line += '\n';
    os.write(line.data(), static_cast<std::streamsize>(line.size()));
  });
  return 0;
}

std::string hex_digits(uint64_t value, uint32_t bytes) {
  char buf[40];
  const int digits = static_cast<int>(bytes > 16 ? 32 : bytes * 2);
  std::snprintf(buf, sizeof(buf), "%0*llx", digits, static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace

uint32_t write_offset_field_line_u64(std::ostream& os, const char* name, uint64_t value,
                                     uint64_t offset, uint32_t width, const char* note,
                                     uint32_t bytes) {
  if (!name) return 0;
  if (bytes == 0) bytes = 8;
  field_line(os, name, hex_digits(value, bytes), offset, width, note);
  return bytes;
}

uint32_t write_offset_field_line(std::ostream& os, const char* name, uint32_t value,
                                 uint64_t offset, uint32_t width, const char* note,
                                 uint32_t bytes) {
  if (!name) return 0;
  if (bytes == 0) bytes = 4;
  field_line(os, name, hex_digits(value, bytes), offset, width, note);
  return bytes;
}

uint32_t write_offset_field_line_str(std::ostream& os, const char* name, const std::string& value,
                                     uint64_t offset, uint32_t width, const char* note,
                                     uint32_t bytes) {
  if (!name) return 0;
  field_line(os, name, value, offset, width, note);
  return bytes == 0 ? 4 : bytes;
}

uint32_t debug_field_line(const parse_debug& ctx, const char* name, uint32_t value, uint64_t offset,
                          uint32_t width, const char* note, uint32_t bytes) {
  if (!debug_output_enabled(ctx)) return 0;
  return write_offset_field_line(*ctx.m_debug_stream, name, value, offset, width, note, bytes);
}

uint32_t write_dos_time_line(std::ostream& os, const char* name, uint32_t value, uint64_t offset,
                             uint32_t width) {
  if (!name) return 0;
  const time t =
      time_from_dos(static_cast<uint16_t>(value), static_cast<uint16_t>(value >> 16), true);
  return vk::guarded([&] {
    std::ostringstream note;
    write_date_time(note, t);
    return write_offset_field_line(os, name, value, offset, width, note.str().c_str(), 4);
  });
}

uint32_t debug_dos_time_line(const parse_debug& ctx, const char* name, uint32_t value,
                             uint64_t offset, uint32_t width) {
  if (!debug_output_enabled(ctx)) return 0;
  return write_dos_time_line(*ctx.m_debug_stream, name, value, offset, width);
}

// ---- one step of the raw time scanner ----

void time_hit_clear(time_hit& hit) {
  hit.m_raw.clear();
  hit.m_ticks = 0;
  hit.m_offset = 0;
  hit.m_kind = 0;
  hit.m_little_endian = true;
  hit.m_width = 0;
}

void time_hit_set(time_hit& hit, const uint8_t* value_bytes, uint64_t ticks, uint64_t offset,
                  uint32_t kind, bool little_endian, uint32_t width) {
  time_hit_clear(hit);
  if (!value_bytes || width > 16) return;
  if (!vk::guarded(
          [&] {
            hit.m_raw.assign(value_bytes, value_bytes + width);
            if (!little_endian) std::reverse(hit.m_raw.begin(), hit.m_raw.end());
            return true;
          },
          [&] { time_hit_clear(hit); }))
    return;
  hit.m_ticks = ticks;
  hit.m_offset = offset;
  hit.m_kind = kind;
  hit.m_little_endian = little_endian;
  hit.m_width = width;
}

bool scan_value_for_times(time_hit_store& hits, uint64_t value, uint64_t to, uint64_t from,
                          uint64_t offset, bool little_endian, bool clear, uint32_t mask) {
  if (clear) hits.clear();
  const bool wide = (value >> 32) != 0;
  const uint32_t width = wide ? 8 : 4;
  uint8_t bytes[8];
  store_le64(bytes, value);
  bool added = false;
  auto try_time = [&](const time& t, uint32_t kind) {
    if (!t.valid()) return;
    const auto ticks = static_cast<int64_t>(t.m_filetime);
    if (ticks < static_cast<int64_t>(from) || ticks > static_cast<int64_t>(to)) return;
    vk::guarded([&] {
      time_hit hit;
      time_hit_set(hit, bytes, t.m_filetime, offset, kind, little_endian, width);
      hits.emplace(offset, std::move(hit));
      added = true;
    });
  };
  auto plain = [&](uint32_t kind) {
    if (mask & kind) try_time(time_from_u64(value, static_cast<type_time>(kind)), kind);
  };
  if (wide) {
    plain(0x1);
    plain(0x2);
    plain(0x4);
    if (mask & 0x40) {
      uint64_t ticks = 0;
      if (ntp_value_to_filetime(value, ticks))
        try_time(time_from_u64(ticks, type_time::filetime), 0x40);
    }
    if (mask & 0x100) {
      // An OLE date is stored as a double: the value's bits are its days.
      double days = 0;
      std::memcpy(&days, &value, sizeof(days));
      try_time(time_from_double(days, type_time::ole), 0x100);
    }
    plain(0x8000);
    plain(0x40000);
    plain(0x20000);
    plain(0x8);
    plain(0x10);
  } else {
    plain(0x8);
    plain(0x10);
    if (mask & 0x20) {
      try_time(
          time_from_dos(static_cast<uint16_t>(value >> 16), static_cast<uint16_t>(value), true),
          0x20);
    }
    plain(0x80000);
    plain(0x40000);
  }
  return added;
}

}  // namespace vk
