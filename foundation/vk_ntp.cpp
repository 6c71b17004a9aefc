#include "foundation/vk_ntp.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <ostream>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"

namespace vk {

namespace {

constexpr double k_two_pow_minus_32 = 2.3283064365386963e-10;

uint64_t magnitude(const signed_ntp& s) {
  return (static_cast<uint64_t>(swap_bytes32(s.m_seconds)) << 32) | swap_bytes32(s.m_fraction);
}

signed_ntp from_magnitude(uint64_t m, bool negative) {
  signed_ntp out;
  out.m_seconds = swap_bytes32(static_cast<uint32_t>(m >> 32));
  out.m_fraction = swap_bytes32(static_cast<uint32_t>(m));
  out.m_negative = (negative && m != 0) ? 1 : 0;
  return out;
}

bool valid_rule(const _windows_systemtime& r) {
  return r.m_month >= 1 && r.m_month <= 12 && r.m_day >= 1 && r.m_day <= 5 &&
         r.m_day_of_week <= 6 && r.m_hour < 24 && r.m_minute < 60 && r.m_second < 60 &&
         r.m_milliseconds < 1000;
}

int days_in_month(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// The n-th given weekday of the rule's month (5 = the last) at the rule's
// time of day, in the given year.
bool transition_ticks(const _windows_systemtime& rule, int year, uint64_t& out) {
  struct tm first {};
  first.tm_year = year - 1900;
  first.tm_mon = rule.m_month - 1;
  first.tm_mday = 1;
  const uint64_t first_ticks = tm_to_filetime(first, 0);
  if (first_ticks == 0 || (first_ticks >> 63)) return false;
  // 1601-01-01 was a Monday.
  const int first_weekday = static_cast<int>((first_ticks / 864000000000ULL + 1) % 7);
  int day = 1 + (rule.m_day_of_week - first_weekday + 7) % 7 + (rule.m_day - 1) * 7;
  while (day > days_in_month(year, rule.m_month)) day -= 7;
  struct tm at {};
  at.tm_year = year - 1900;
  at.tm_mon = rule.m_month - 1;
  at.tm_mday = day;
  at.tm_hour = rule.m_hour;
  at.tm_min = rule.m_minute;
  at.tm_sec = rule.m_second;
  out = tm_to_filetime(at, rule.m_milliseconds);
  return out != 0 && !(out >> 63);
}

bool add_bias(uint64_t ticks, int64_t seconds, int sign, uint64_t& out) {
  int64_t delta = 0;
  int64_t result = 0;
  if (!checked_mul(seconds, static_cast<int64_t>(k_ticks_per_second) * sign, delta) ||
      (ticks >> 63) || !checked_add(static_cast<int64_t>(ticks), delta, result) || result <= 0) {
    return false;
  }
  out = static_cast<uint64_t>(result);
  return true;
}

uint64_t shift_by_zone(uint64_t ticks, const time_zone_record& zone, int sign) {
  uint64_t shifted = 0;
  if (!add_bias(ticks, zone.m_bias, sign, shifted)) return 0;
  uint64_t start = 0, end = 0;
  if (!daylight_window(start, end, zone.m_daylight_start, zone.m_standard_start, shifted)) return 0;
  // A zone south of the equator has its daylight window across the new year.
  const bool inside =
      start <= end ? (shifted >= start && shifted < end) : (shifted >= start || shifted < end);
  uint64_t out = 0;
  if (!add_bias(shifted, inside ? zone.m_daylight_bias : zone.m_standard_bias, sign, out)) return 0;
  return out;
}

uint64_t checked_product(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  return checked_mul(a, b, out) ? out : 0;
}

}  // namespace

uint16_t swap_bytes16(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

uint32_t swap_bytes32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t load_be_word0(const uint32_t (&pair)[2]) {
  return swap_bytes32(pair[0]);
}

uint32_t load_be_word1(const uint32_t (&pair)[2]) {
  return swap_bytes32(pair[1]);
}

uint32_t ntp_seconds(const ntp_stamp& s) {
  return swap_bytes32(s.m_seconds);
}

uint32_t ntp_fraction(const ntp_stamp& s) {
  return swap_bytes32(s.m_fraction);
}

ntp_stamp make_ntp_stamp(uint32_t seconds, uint32_t fraction) {
  ntp_stamp s;
  s.m_seconds = swap_bytes32(seconds);
  s.m_fraction = swap_bytes32(fraction);
  return s;
}

// ---- the run clock ----

ntp_stamp ntp_now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const time t = time_from_i64(static_cast<int64_t>(tv.tv_sec), type_time::unix_time);
  return filetime_to_ntp(t.m_filetime);
}

ntp_stamp ntp_now_seconds() {
  const time t = time_from_i64(static_cast<int64_t>(::time(nullptr)), type_time::unix_time);
  return filetime_to_ntp(t.m_filetime);
}

void start_clock(ntp_stamp& start) {
  start = ntp_now();
}

double elapsed_seconds(const ntp_stamp& a, const ntp_stamp& b) {
  const double x = ntp_seconds(a) + ntp_fraction(a) * k_two_pow_minus_32;
  const double y = ntp_seconds(b) + ntp_fraction(b) * k_two_pow_minus_32;
  return std::fabs(x - y);
}

void print_elapsed_secs(const ntp_stamp& start, std::ostream& os) {
  if (start.is_zero()) return;
  os << elapsed_seconds(start, ntp_now()) << " secs " << '\n';
}

bool ntp_less(const ntp_stamp& a, const ntp_stamp& b) {
  if (ntp_seconds(a) != ntp_seconds(b)) return ntp_seconds(a) < ntp_seconds(b);
  return ntp_fraction(a) < ntp_fraction(b);
}

// ---- conversions ----

bool filetime_to_ntp_be(uint64_t ticks, ntp_stamp& out) {
  out = ntp_stamp{};
  if ((ticks >> 63) || ticks < k_ntp_epoch_ticks) return false;
  const uint64_t t = ticks - k_ntp_epoch_ticks;
  const uint64_t sub = t % k_ticks_per_second;
  const uint64_t fraction = (sub * (1ULL << 28) / k_ticks_per_second) * 16;
  out = make_ntp_stamp(static_cast<uint32_t>(t / k_ticks_per_second),
                       static_cast<uint32_t>(fraction));
  return true;
}

ntp_stamp filetime_to_ntp(uint64_t ticks) {
  ntp_stamp s;
  filetime_to_ntp_be(ticks, s);
  return s;
}

ntp_stamp ntp_from_filetime(uint64_t ticks) {
  return filetime_to_ntp(ticks);
}

ntp_stamp ntp_from_filetime(const FILETIME& ft) {
  return filetime_to_ntp(filetime_value(ft));
}

bool ntp_to_filetime_parts(const ntp_stamp& s, uint64_t& ticks, uint64_t& whole_ticks,
                           double& fraction) {
  ticks = whole_ticks = 0;
  fraction = 0.0;
  if (s.is_zero()) return false;
  whole_ticks = static_cast<uint64_t>(ntp_seconds(s)) * k_ticks_per_second + k_ntp_epoch_ticks;
  fraction = ntp_fraction(s) * 10000000.0 * k_two_pow_minus_32;
  ticks = whole_ticks + static_cast<uint64_t>(fraction);
  return true;
}

uint64_t ntp_to_filetime(const ntp_stamp& s) {
  uint64_t ticks = 0, whole = 0;
  double fraction = 0;
  ntp_to_filetime_parts(s, ticks, whole, fraction);
  return ticks;
}

bool ntp_value_to_filetime(uint64_t value, uint64_t& ticks) {
  ticks = 0;
  if ((value >> 32) == 0) return false;
  ticks = ntp_to_filetime(
      make_ntp_stamp(static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)));
  return ticks != 0;
}

ntp_stamp ntp_to_host(const ntp_stamp& s) {
  ntp_stamp out;
  out.m_seconds = swap_bytes32(s.m_seconds);
  out.m_fraction = swap_bytes32(s.m_fraction);
  return out;
}

signed_ntp signed_ntp_to_host(const signed_ntp& s) {
  signed_ntp out = s;
  out.m_seconds = swap_bytes32(s.m_seconds);
  out.m_fraction = swap_bytes32(s.m_fraction);
  return out;
}

signed_ntp signed_ntp_from_u64(uint64_t value) {
  return from_magnitude(value, false);
}

signed_ntp signed_ntp_from_words(uint32_t seconds, uint32_t fraction) {
  return from_magnitude((static_cast<uint64_t>(seconds) << 32) | fraction, false);
}

signed_ntp signed_ntp_add(const signed_ntp& a, const signed_ntp& b) {
  const uint64_t ma = magnitude(a);
  const uint64_t mb = magnitude(b);
  if ((a.m_negative != 0) == (b.m_negative != 0)) {
    // A sum past the 32.32 range stays at its largest value.
    const uint64_t sum = ma > UINT64_MAX - mb ? UINT64_MAX : ma + mb;
    return from_magnitude(sum, a.m_negative != 0);
  }
  if (ma >= mb) return from_magnitude(ma - mb, a.m_negative != 0);
  return from_magnitude(mb - ma, b.m_negative != 0);
}

signed_ntp signed_ntp_sub(const signed_ntp& a, const signed_ntp& b) {
  signed_ntp negated = b;
  negated.m_negative = b.m_negative ? 0 : 1;
  return signed_ntp_add(a, negated);
}

uint64_t hex_text_to_u64(const std::string& text) {
  const size_t n = text.size();
  const std::string low = n > 8 ? text.substr(n - 8) : text;
  const std::string high = n > 8 ? text.substr(n > 16 ? n - 16 : 0, n > 16 ? 8 : n - 8) : "";
  return (static_cast<uint64_t>(high.empty() ? 0 : strtoul32(high.c_str(), 16)) << 32) |
         strtoul32(low.c_str(), 16);
}

bool systemtime_to_ntp(const _windows_systemtime& st, ntp_stamp& out) {
  uint64_t ticks = 0;
  if (!systemtime_to_filetime(ticks, st)) {
    out = ntp_stamp{};
    return false;
  }
  return filetime_to_ntp_be(ticks, out);
}

bool systemtime_to_unix_seconds(const _windows_systemtime& st, int64_t& out) {
  uint64_t ticks = 0;
  return systemtime_to_filetime(ticks, st) && filetime_to_unix_seconds(ticks, out);
}

// ---- time zones ----

bool daylight_window(uint64_t& start, uint64_t& end, const _windows_systemtime& daylight,
                     const _windows_systemtime& standard, uint64_t ticks) {
  start = end = 0;
  if (!valid_rule(daylight) || !valid_rule(standard)) return false;
  if (ticks == 0) ticks = time_now().m_filetime;
  calendar_fields cal;
  if (!calendar_from_filetime(cal, ticks)) return false;
  uint64_t s = 0, e = 0;
  if (!transition_ticks(daylight, cal.m_year, s) || !transition_ticks(standard, cal.m_year, e)) {
    return false;
  }
  start = s;
  end = e;
  return true;
}

uint64_t daylight_start(const time_zone_record& zone, uint64_t ticks) {
  uint64_t start = 0, end = 0;
  daylight_window(start, end, zone.m_daylight_start, zone.m_standard_start, ticks);
  return start;
}

uint64_t daylight_end(const time_zone_record& zone, uint64_t ticks) {
  uint64_t start = 0, end = 0;
  daylight_window(start, end, zone.m_daylight_start, zone.m_standard_start, ticks);
  return end;
}

uint64_t apply_time_zone_bias(uint64_t ticks, const time_zone_record& zone) {
  return shift_by_zone(ticks, zone, 1);
}

uint64_t remove_time_zone_bias(uint64_t ticks, const time_zone_record& zone) {
  return shift_by_zone(ticks, zone, -1);
}

// ---- units ----

uint64_t ticks_to_ms(uint64_t ticks) {
  return ticks / 10000;
}
uint64_t ms_to_ticks(uint64_t ms) {
  return checked_product(ms, 10000);
}
uint64_t secs_to_ticks(uint64_t seconds) {
  return checked_product(seconds, k_ticks_per_second);
}
uint64_t ticks_to_minutes(uint64_t ticks) {
  return ticks / 600000000;
}
uint64_t minutes_to_ticks(uint64_t minutes) {
  return checked_product(minutes, 600000000);
}

bool ticks_difference(int64_t a, int64_t b, uint64_t& out) {
  out = 0;
  if (a < 0 || b < 0) return false;
  out = a > b ? static_cast<uint64_t>(a - b) : static_cast<uint64_t>(b - a);
  return true;
}

bool ticks_difference_ms(int64_t a, int64_t b, uint64_t& out) {
  if (!ticks_difference(a, b, out)) return false;
  out = static_cast<uint64_t>(static_cast<double>(out) / 10000.0);
  return true;
}

// ---- packed time groups ----

uint16_t pack_time_group(const std::vector<uint64_t>& times, std::vector<uint8_t>& out,
                         bool in_ms) {
  out.clear();
  const size_t count = times.size();
  if (count < 1 || count > 8) return 0;
  size_t latest = 0;
  for (size_t i = 1; i < count; ++i) {
    if (times[i] > times[latest]) latest = i;
  }
  const uint64_t L = times[latest];
  // The top 4 bits of the stored latest time carry the width.
  if (L >> 60) return 0;
  std::vector<uint64_t> deltas;
  uint64_t largest = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i == latest) continue;
    uint64_t d = L - times[i];
    if (in_ms) d /= 10000;
    deltas.push_back(d);
    if (d > largest) largest = d;
  }
  unsigned width = 1;
  if (largest >> 48) {
    width = 8;
  } else if (largest >> 32) {
    width = 6;
  } else if (largest >> 16) {
    width = 4;
  } else if (largest >> 8) {
    width = 2;
  }
  if (!vk::guarded(
          [&] {
            out.resize(9 + deltas.size() * width);
            return true;
          },
          [&] { out.clear(); }))
    return 0;
  out[0] = static_cast<uint8_t>((count - 1) | (latest << 3) | (in_ms ? 0x40 : 0));
  store_le64(out.data() + 1, L);
  out[8] = static_cast<uint8_t>((out[8] & 0x0F) | ((width - 1) << 4));
  uint8_t* p = out.data() + 9;
  for (uint64_t d : deltas) {
    for (unsigned b = 0; b < width; ++b) *p++ = static_cast<uint8_t>(d >> (8 * b));
  }
  return static_cast<uint16_t>(out.size());
}

uint32_t unpack_time_group(const uint8_t* bytes, uint32_t size, std::vector<uint64_t>& out) {
  out.clear();
  if (!bytes || size < 9) return 0;
  const unsigned count = (bytes[0] & 7u) + 1;
  const unsigned latest = (bytes[0] >> 3) & 7u;
  const bool in_ms = bytes[0] >= 64;
  const unsigned width = (bytes[8] >> 4) + 1u;
  const uint64_t need = 9 + static_cast<uint64_t>(count - 1) * width;
  if (latest >= count || need > size) return 0;
  const uint64_t L = load_le64(bytes + 1) & 0x0FFFFFFFFFFFFFFFULL;
  const bool known_width = width == 1 || width == 2 || width == 4 || width == 6 || width == 8;
  const uint8_t* p = bytes + 9;
  if (!vk::guarded(
          [&] {
            for (unsigned i = 0; i < count; ++i) {
              if (i == latest) {
                out.push_back(L);
                continue;
              }
              uint64_t d = 0;
              for (unsigned b = 0; b < width && b < 8; ++b)
                d |= static_cast<uint64_t>(p[b]) << (8 * b);
              p += width;
              if (!known_width) continue;
              if (in_ms && !checked_mul(d, uint64_t{10000}, d)) d = UINT64_MAX;
              out.push_back(d <= L ? L - d : 0);
            }
            return true;
          },
          [&] { out.clear(); }))
    return 0;
  return static_cast<uint32_t>(need);
}

// ---- writers ----

void write_ntp_stamp(std::ostream& os, const ntp_stamp& s) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "%08x.%08x", ntp_seconds(s), ntp_fraction(s));
  os << buf;
  std::string text;
  const uint64_t ticks = ntp_to_filetime(s);
  if (ticks != 0 && format_filetime_ns(text, ticks)) os << " : [" << text << " UTC]";
}

void gmt_date_now(std::string& out) {
  static const char* const days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  out.clear();
  struct tm t {};
  if (!unix_to_tm_utc(static_cast<int64_t>(::time(nullptr)), t)) return;
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s, %d %s %d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday,
                months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  vk::assign_text(out, buf);
}

void write_time_underscored(std::ostream& os, uint64_t ticks, bool with_hhmm, bool with_ss,
                            bool with_ms) {
  calendar_fields c;
  if (!calendar_from_filetime(c, ticks)) return;
  char buf[48];
  int n = std::snprintf(buf, sizeof(buf), "%04u_%02u_%02u", c.m_year, c.m_month, c.m_day);
  if (with_hhmm) n += std::snprintf(buf + n, sizeof(buf) - n, "_%02u%02u", c.m_hour, c.m_minute);
  if (with_ss) n += std::snprintf(buf + n, sizeof(buf) - n, "_%02u", c.m_second);
  if (with_ms) std::snprintf(buf + n, sizeof(buf) - n, "_%03u", c.m_milliseconds);
  os << buf;
}

void write_fixed_point_secs(std::ostream& os, const uint16_t (&value)[2]) {
  os << value[0] + value[1] / 65536.0 << " secs";
}

void write_pair(std::ostream& os, const uint16_t (&value)[2]) {
  os << value[0] << " : " << value[1];
}

stamped_filetime check_stamped_filetime(const stamped_filetime& in) {
  if (!time_from_u64(filetime_value(in.m_time), type_time::filetime).valid()) {
    return stamped_filetime{};
  }
  return in;
}

int32_t local_offset_for_tm(bool& is_dst, const struct tm& local) {
  is_dst = false;
  struct tm copy = local;
  copy.tm_isdst = -1;
  const time_t at = mktime(&copy);
  if (at == static_cast<time_t>(-1)) return 0;
  is_dst = copy.tm_isdst > 0;
  struct tm fields = copy;
  const uint64_t as_utc = tm_to_filetime(fields, 0);
  if (as_utc == 0 || (as_utc >> 63)) return 0;
  int64_t local_seconds = 0;
  if (!filetime_to_unix_seconds(as_utc, local_seconds)) return 0;
  return static_cast<int32_t>(local_seconds - static_cast<int64_t>(at));
}

int32_t current_year() {
  const time_t now = ::time(nullptr);
  struct tm t {};
  if (!localtime_r(&now, &t)) return 0;
  return t.tm_year + 1900;
}

}  // namespace vk
