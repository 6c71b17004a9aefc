// The time record, its derivation from FILETIME ticks, calendar arithmetic,
// DOS and struct tm constructors, the local-offset functions, and the
// constructors from raw values of every kind.
#include "foundation/vk_time.h"

#include <sys/time.h>

#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"

namespace vk {

namespace {

constexpr int64_t k_seconds_per_day = 86400;
constexpr int64_t k_days_per_400_years = 146097;

// Cumulative day counts before each month, minus one (index 0 = January).
constexpr int16_t k_month_starts_common[13] = {-1,  30,  58,  89,  119, 150, 180,
                                               211, 242, 272, 303, 333, 364};
constexpr int16_t k_month_starts_leap[13] = {-1,  30,  59,  90,  120, 151, 181,
                                             212, 243, 273, 304, 334, 365};

constexpr bool is_leap(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
constexpr int64_t year_days(int64_t year) {
  return is_leap(year) ? 366 : 365;
}
// Leap days from year 1 through year n.
constexpr int64_t leaps_through(int64_t n) {
  return n / 4 - n / 100 + n / 400;
}

// Days from 1970-01-01 to 3001-01-01: the local broken-down time stops there.
constexpr int64_t days_1970_to_3001() {
  int64_t days = 0;
  for (int64_t y = 1970; y < 3001; ++y) days += year_days(y);
  return days;
}
constexpr int64_t k_days_1970_to_3001 = days_1970_to_3001();

// DOS words from a calendar reading; false outside 1980..2037.
bool dos_from_systemtime(const _windows_systemtime& st, uint16_t (&out)[2]) {
  const int years = static_cast<int>(st.m_year) - 1980;
  if (years < 0 || years > 57) return false;
  out[0] = static_cast<uint16_t>((years << 9) | ((st.m_month & 15) << 5) | (st.m_day & 31));
  // An odd second goes up to the next even one: 59 s stores 30.
  const unsigned halves = (st.m_second / 2u + st.m_second % 2u) & 31u;
  out[1] = static_cast<uint16_t>((st.m_hour << 11) | ((st.m_minute & 63) << 5) | halves);
  return true;
}

// Adds count * unit ticks to a valid value; a result outside 1..2^63-1
// invalidates it and leaves the ticks as they were.
void add_ticks(time& t, int64_t count, int64_t unit) {
  if (!t.m_valid) return;
  int64_t delta = 0;
  int64_t result = 0;
  if (!checked_mul(count, unit, delta) ||
      !checked_add(static_cast<int64_t>(t.m_filetime), delta, result) || result <= 0) {
    t.m_valid = false;
    return;
  }
  time_set_filetime(t, static_cast<uint64_t>(result));
}

// Rounds toward minus infinity, so that instants before 1970 get negative
// seconds and only the first second of 1970 gives 0.
constexpr int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr int64_t k_unix_epoch_seconds = 11644473600LL;

// (seconds + epoch_seconds) * 10^7 + extra ticks, false when it overflows.
bool seconds_to_ticks(int64_t seconds, int64_t epoch_seconds, int64_t extra, int64_t& ticks) {
  int64_t v = 0;
  return checked_add(seconds, epoch_seconds, v) &&
         checked_mul(v, static_cast<int64_t>(k_ticks_per_second), v) &&
         checked_add(v, extra, ticks);
}

// Every constructor starts from an empty, invalid value.
void reset_time(time& t) {
  t.m_calendar = calendar_fields{};
  t.m_filetime_pair = FILETIME{};
  t.m_dos_date = 0;
  t.m_dos_time = 0;
  time_clear(t);
}

}  // namespace

// ---- the record ----

void time_clear(time& t) {
  t.m_unix_seconds = 0;
  t.m_filetime = 0;
  t.m_filetime_pair = FILETIME{};
  t.m_tm = tm{};
  t.m_valid = false;
  t.m_tm_failed = false;
  t.m_tree.clear();
}

bool time_set_filetime(time& t, uint64_t ticks) {
  t.m_valid = false;
  if (ticks == 0) return false;
  t.m_filetime = ticks;
  // Every tick value within the first second of 1970 gives 0 seconds: invalid.
  if (!filetime_to_unix_seconds(ticks, t.m_unix_seconds) || t.m_unix_seconds == 0) return false;
  filetime_to_calendar(ticks, t.m_calendar);
  store_filetime(ticks, t.m_filetime_pair);
  uint16_t dos[2];
  if (dos_from_systemtime(t.m_calendar, dos)) {
    t.m_dos_date = dos[0];
    t.m_dos_time = dos[1];
  }
  t.m_tm_failed = false;
  struct tm scratch {};
  if (!unix_to_tm_local(t.m_unix_seconds, scratch)) {
    t.m_tm_failed = true;
    if (t.m_calendar.m_year > 3000) return false;
  } else {
    t.m_tm = scratch;
  }
  if (t.m_calendar.m_year > 1899) t.m_valid = true;
  return t.m_valid;
}

time& time_from_dos(time& t, uint16_t dos_date, uint16_t dos_time, bool utc) {
  reset_time(t);
  struct tm fields {};
  fields.tm_mday = dos_date & 31;
  fields.tm_mon = ((dos_date >> 5) & 15) - 1;
  fields.tm_year = (dos_date >> 9) + 80;
  fields.tm_sec = (dos_time & 31) * 2;
  fields.tm_min = (dos_time >> 5) & 63;
  fields.tm_hour = dos_time >> 11;
  if (fields.tm_mday == 0 || fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_sec > 59 ||
      fields.tm_min > 59 || fields.tm_hour > 23) {
    return t;
  }
  // A day past its month's end (February 30, April 31) names no day: it is
  // refused rather than run on into the next month.
  const int16_t* starts =
      is_leap(fields.tm_year + 1900) ? k_month_starts_leap : k_month_starts_common;
  if (fields.tm_mday > starts[fields.tm_mon + 1] - starts[fields.tm_mon]) return t;
  time_from_tm(t, fields, 0, utc);
  return t;
}

time& time_from_dos(time& t, const uint16_t (&date_time)[2], bool utc) {
  return time_from_dos(t, date_time[0], date_time[1], utc);
}

time time_from_dos(const uint16_t (&date_time)[2], bool utc) {
  time t;
  time_from_dos(t, date_time[0], date_time[1], utc);
  return t;
}

time time_from_dos(uint16_t dos_date, uint16_t dos_time, bool utc) {
  time t;
  time_from_dos(t, dos_date, dos_time, utc);
  return t;
}

bool time_from_tm(time& t, const struct tm& tm_in, int32_t milliseconds, bool utc) {
  // A failure leaves the value invalid, also when it held a time before.
  t.m_valid = false;
  t.m_tm = tm_in;
  if (utc) {
    const uint64_t ticks = tm_to_filetime(t.m_tm, milliseconds);
    if (ticks == 0) return false;
    store_filetime(ticks, t.m_filetime_pair);
    if (!time_set_filetime(t, ticks)) return false;
    t.m_valid = true;
    return true;
  }
  if (!tm_to_unix_local(t.m_tm, t.m_unix_seconds) || t.m_unix_seconds <= 0) return false;
  t.m_unix_seconds += local_utc_offset();
  int64_t ticks = 0;
  if (!seconds_to_ticks(t.m_unix_seconds, k_unix_epoch_seconds,
                        static_cast<int64_t>(milliseconds) * 10000, ticks)) {
    return false;
  }
  store_filetime(static_cast<uint64_t>(ticks), t.m_filetime_pair);
  return time_set_filetime(t, static_cast<uint64_t>(ticks));
}

time& time_from_unix32(time& t, uint32_t seconds) {
  reset_time(t);
  t.m_unix_seconds = seconds;
  if (seconds != 0) {
    const uint64_t ticks = seconds * k_ticks_per_second + k_unix_epoch_ticks;
    store_filetime(ticks, t.m_filetime_pair);
    time_set_filetime(t, ticks);
  }
  return t;
}

time time_from_unix32(uint32_t seconds) {
  time t;
  time_from_unix32(t, seconds);
  return t;
}

time& time_now(time& t) {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const uint64_t ticks = static_cast<uint64_t>(tv.tv_sec) * k_ticks_per_second +
                         static_cast<uint64_t>(tv.tv_usec) * 10 + k_unix_epoch_ticks;
  return time_from_u64(t, ticks, type_time::filetime);
}

time time_now() {
  time t;
  time_now(t);
  return t;
}

uint16_t time_year(const time& t) {
  return t.m_calendar.m_year;
}
uint16_t time_month(const time& t) {
  return t.m_calendar.m_month;
}
uint16_t time_day(const time& t) {
  return t.m_calendar.m_day;
}
uint16_t time_hour(const time& t) {
  return t.m_calendar.m_hour;
}
uint16_t time_minute(const time& t) {
  return t.m_calendar.m_minute;
}
uint16_t time_second(const time& t) {
  return t.m_calendar.m_second;
}
uint64_t time_nanoseconds(const time& t) {
  return t.m_calendar.m_nanoseconds;
}

uint32_t time_milliseconds(const time& t, bool round_up) {
  uint32_t ms = t.m_calendar.m_milliseconds;
  if (round_up && t.m_calendar.m_microseconds - static_cast<uint64_t>(ms) * 1000 >= 500) ++ms;
  return ms;
}

uint64_t time_microseconds(const time& t, bool round_up) {
  uint64_t us = t.m_calendar.m_microseconds;
  if (round_up && t.m_calendar.m_nanoseconds - us * 1000 >= 500) ++us;
  return us;
}

void time_add_minutes(time& t, int32_t minutes) {
  add_ticks(t, minutes, 600000000);
}
void time_add_milliseconds(time& t, int32_t milliseconds) {
  add_ticks(t, milliseconds, 10000);
}
void time_add_microseconds(time& t, int32_t microseconds) {
  add_ticks(t, microseconds, 10);
}
void time_add_days(time& t, int32_t days) {
  add_ticks(t, days, 864000000000LL);
}
void time_subtract_days(time& t, int32_t days) {
  add_ticks(t, -static_cast<int64_t>(days), 864000000000LL);
}

// ---- calendar arithmetic ----

bool calendar_from_filetime(calendar_fields& out, uint64_t ticks) {
  out = calendar_fields{};
  if (ticks >> 63) return false;
  const int64_t s = static_cast<int64_t>(ticks / k_ticks_per_second);
  // Estimate the year count with 365-day years; it can only run high, by
  // one year near the present and by more after about 3100, so step back
  // until the remainder is within the year.
  int64_t y = s / 31536000;
  int64_t r = s + 33523200 - y * 31536000 - leaps_through(y + 1600) * k_seconds_per_day;
  while (r < 0) {
    --y;
    r += year_days(1601 + y) * k_seconds_per_day;
  }
  const int64_t year = 1601 + y;
  const int16_t* starts = is_leap(year) ? k_month_starts_leap : k_month_starts_common;
  const int64_t d = r / k_seconds_per_day;
  const int64_t secs = r - d * k_seconds_per_day;
  int month = 1;
  while (month < 12 && starts[month] < d) ++month;
  out.m_year = static_cast<uint16_t>(year);
  out.m_month = static_cast<uint16_t>(month);
  out.m_day = static_cast<uint16_t>(d - starts[month - 1]);
  out.m_day_of_week = static_cast<uint16_t>((s / k_seconds_per_day + 1) % 7);
  out.m_hour = static_cast<uint16_t>(secs / 3600);
  out.m_minute = static_cast<uint16_t>((secs % 3600) / 60);
  out.m_second = static_cast<uint16_t>(secs % 60);
  const uint64_t f = ticks % k_ticks_per_second;
  out.m_milliseconds = static_cast<uint16_t>(f / 10000);
  out.m_microseconds = f / 10;
  out.m_nanoseconds = f * 100;
  out.m_picoseconds = f * 100000;
  return true;
}

bool filetime_to_calendar(uint64_t ticks, calendar_fields& out) {
  return calendar_from_filetime(out, ticks);
}

bool filetime_to_systemtime(uint64_t ticks, _windows_systemtime& out) {
  calendar_fields cal;
  if (!calendar_from_filetime(cal, ticks)) return false;
  out = cal;
  return true;
}

void systemtime_clear(_windows_systemtime& st) {
  st = _windows_systemtime{};
}

bool systemtime_to_filetime(uint64_t& out, const _windows_systemtime& st) {
  struct tm fields {};
  fields.tm_year = static_cast<int>(st.m_year) - 1900;
  fields.tm_mon = static_cast<int>(st.m_month) - 1;
  fields.tm_mday = st.m_day;
  fields.tm_hour = st.m_hour;
  fields.tm_min = st.m_minute;
  fields.tm_sec = st.m_second;
  out = tm_to_filetime(fields, st.m_milliseconds);
  // Before 1601 there is no tick count.
  if (out >> 63) out = 0;
  return out != 0;
}

bool systemtime_to_filetime(FILETIME& out, const _windows_systemtime& st) {
  uint64_t ticks = 0;
  const bool ok = systemtime_to_filetime(ticks, st);
  store_filetime(ticks, out);
  return ok;
}

uint64_t tm_to_filetime(struct tm& tm_io, int64_t milliseconds) {
  int64_t month = tm_io.tm_mon;
  int64_t year = tm_io.tm_year;
  if (month < 0 || month > 11) {
    year += month / 12;
    month %= 12;
    if (month < 0) {
      month += 12;
      --year;
    }
  }
  if (year < std::numeric_limits<int>::min() || year > std::numeric_limits<int>::max()) return 0;
  tm_io.tm_mon = static_cast<int>(month);
  tm_io.tm_year = static_cast<int>(year);

  const int64_t y = year + 1900;
  int64_t c = k_month_starts_common[month];
  if (is_leap(y) && month >= 2) ++c;
  const int64_t days =
      (y - 1601) * 365 + (y - 1) / 4 + (y - 1) / 400 - (y - 1) / 100 - 388 + c + tm_io.tm_mday;
  // The year is an int, so the seconds stay far inside 64 bits; the ticks
  // and the milliseconds need the checks.
  const int64_t seconds = ((days * 24 + tm_io.tm_hour) * 60 + tm_io.tm_min) * 60 + tm_io.tm_sec;
  int64_t ticks = 0;
  int64_t sub_ticks = 0;
  if (!checked_mul(seconds, static_cast<int64_t>(k_ticks_per_second), ticks) ||
      !checked_mul(milliseconds, int64_t{10000}, sub_ticks) ||
      !checked_add(ticks, sub_ticks, ticks)) {
    return 0;
  }
  // An instant before 1601 keeps its two's-complement form: the top bit marks
  // it as unusable for every consumer.
  return static_cast<uint64_t>(ticks);
}

bool filetime_to_unix_seconds(uint64_t ticks, int64_t& out) {
  if (ticks >> 63) return false;
  out = floor_div(static_cast<int64_t>(ticks) - static_cast<int64_t>(k_unix_epoch_ticks),
                  static_cast<int64_t>(k_ticks_per_second));
  return true;
}

bool filetime_to_dos(uint64_t ticks, uint16_t (&out)[2]) {
  _windows_systemtime st;
  if (!filetime_to_systemtime(ticks, st)) return false;
  return dos_from_systemtime(st, out);
}

bool unix_to_tm(int64_t seconds, struct tm& out, float offset_hours) {
  const float shift = offset_hours * 3600.0f;
  if (!(shift > -2147483648.0f && shift < 2147483648.0f)) return false;
  if (!checked_add(seconds, static_cast<int64_t>(static_cast<int32_t>(shift)), seconds)) {
    return false;
  }
  // Tested after the shift, so that a zone west of UTC cannot make it negative.
  if (seconds < 0) return false;
  const int64_t days = seconds / k_seconds_per_day;
  const int64_t sod = seconds % k_seconds_per_day;
  if (days >= k_days_1970_to_3001) {
    out = tm{};
    return false;
  }
  out.tm_sec = static_cast<int>(sod % 60);
  out.tm_hour = static_cast<int>(sod / 3600);
  out.tm_min = static_cast<int>((sod % 3600) / 60);
  out.tm_wday = static_cast<int>((days + 4) % 7);
  // The civil date in closed form: years counted from March 1 so that the
  // leap day ends a year, in 400-year eras of equal length.
  const int64_t z = days + 719468;  // days since 0000-03-01
  const int64_t era = z / k_days_per_400_years;
  const int64_t doe = z - era * k_days_per_400_years;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);  // from March 1
  const int64_t mp = (5 * doy + 2) / 153;                       // March = 0
  const int64_t year = era * 400 + yoe + (mp >= 10 ? 1 : 0);
  const int month = static_cast<int>(mp < 10 ? mp + 2 : mp - 10);  // January = 0
  const int mday = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int16_t* starts = is_leap(year) ? k_month_starts_leap : k_month_starts_common;
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_yday = starts[month] + mday;
  out.tm_mday = mday;
  out.tm_mon = month;
  out.tm_isdst = 0;
  return true;
}

bool unix_to_tm_utc(int64_t seconds, struct tm& out) {
  return unix_to_tm(seconds, out, 0.0f);
}

bool unix_to_tm_local(int64_t seconds, struct tm& out) {
  const float hours = static_cast<float>(local_utc_offset()) / 3600.0f;
  if (!unix_to_tm(seconds, out, hours)) return false;
  return out.tm_year <= 1100;
}

bool tm_to_unix_local(const struct tm& tm_in, int64_t& out) {
  struct tm copy = tm_in;
  const time_t result = mktime(&copy);
  out = static_cast<int64_t>(result);
  return result > 0;
}

namespace {

// The offset of the zone setting as it stands, at the present moment.
int32_t measure_local_utc_offset() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  struct tm utc {};
  int32_t offset = 0;
  if (localtime_r(&now, &local) && gmtime_r(&now, &utc)) {
    offset = static_cast<int32_t>(mktime(&local) - mktime(&utc));
  }
  return offset;
}

struct zone_cache {
  bool settled = false;
  int32_t offset = 0;
};

zone_cache& settled_zone() {
  // A cache of constant data: the zone setting's offset, settled once a thread.
  thread_local zone_cache cache;
  return cache;
}

}  // namespace

int32_t local_utc_offset() {
  // Every time value derives its local form, so the offset is settled on
  // first use and kept: like any long-running report, a run does not follow
  // a change of the zone setting made while it runs.
  zone_cache& cache = settled_zone();
  if (!cache.settled) {
    cache.offset = measure_local_utc_offset();
    cache.settled = true;
  }
  return cache.offset;
}

int32_t settle_local_utc_offset() {
  zone_cache& cache = settled_zone();
  cache.offset = measure_local_utc_offset();
  cache.settled = true;
  return cache.offset;
}

bool store_filetime(uint64_t ticks, FILETIME& out) {
  out.dwLowDateTime = static_cast<uint32_t>(ticks);
  out.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  return true;
}

bool filetime_words_to_calendar(const FILETIME& ft, calendar_fields& out) {
  return filetime_to_calendar(filetime_value(ft), out);
}

// ---- kinds ----

namespace {

constexpr int64_t k_ticks_0001_to_1601 = 504911232000000000LL;
constexpr int64_t k_ticks_to_2015 = 130645440000000000LL;      // snowflake epoch
constexpr uint64_t k_ticks_to_2000 = 125911584000000000ULL;    // VHD epoch
constexpr int64_t k_seconds_to_2001 = 12622780800LL;           // safari epoch
constexpr int64_t k_seconds_to_1904 = 9561628800LL;            // hfs+ epoch
constexpr int64_t k_seconds_to_1899_12_30 = 9435312000LL;      // OLE epoch
constexpr uint64_t k_gregorian_to_1601 = 5748192000000000ULL;  // 1582-10-15 to 1601
constexpr int64_t k_max_i64 = std::numeric_limits<int64_t>::max();

// The unix kinds: the seconds are kept, and a count of 0 or below leaves the
// value invalid (its ticks field still shows where it would have pointed).
void set_from_unix(time& t, int64_t seconds, int64_t sub_ticks) {
  t.m_unix_seconds = seconds;
  int64_t ticks = 0;
  if (seconds <= 0) {
    t.m_unix_seconds = 0;
    t.m_filetime = static_cast<uint64_t>(seconds) * k_ticks_per_second + k_unix_epoch_ticks +
                   static_cast<uint64_t>(sub_ticks);
    return;
  }
  if (!seconds_to_ticks(seconds, k_unix_epoch_seconds, sub_ticks, ticks)) {
    t.m_unix_seconds = 0;
    return;
  }
  store_filetime(static_cast<uint64_t>(ticks), t.m_filetime_pair);
  time_set_filetime(t, static_cast<uint64_t>(ticks));
}

// Seconds with a fraction since an epoch; NaN, infinities and counts beyond
// the 64-bit range give no ticks.
bool fractional_seconds_to_ticks(double v, int64_t epoch_seconds, int64_t& ticks) {
  if (!(v > -9.2e18 && v < 9.2e18)) return false;
  const int64_t s = static_cast<int64_t>(v);
  const auto fraction = static_cast<int64_t>((v - static_cast<double>(s)) * 1e7);
  return seconds_to_ticks(s, epoch_seconds, fraction, ticks);
}

void set_ticks(time& t, int64_t ticks) {
  time_set_filetime(t, static_cast<uint64_t>(ticks));
}

}  // namespace

time::time(uint64_t value, type_time kind) {
  time_from_u64(*this, value, kind);
}
time::time(int64_t value, type_time kind) {
  time_from_i64(*this, value, kind);
}
time::time(double value, type_time kind) {
  time_from_double(*this, value, kind);
}

time& time_from_u64(time& t, uint64_t v, type_time kind) {
  reset_time(t);
  uint64_t ticks = 0;
  int64_t sticks = 0;
  switch (kind) {
    case type_time::filetime:
      ticks = v;
      break;
    case type_time::chrome:
      if (!checked_mul(v, uint64_t{10}, ticks)) return t;
      break;
    case type_time::firefox3:
      if (v > static_cast<uint64_t>(k_max_i64) ||
          !firefox3_to_filetime(static_cast<int64_t>(v), ticks)) {
        return t;
      }
      break;
    case type_time::unix_time:
      // A count beyond the signed range reads as negative: invalid.
      set_from_unix(t, static_cast<int64_t>(v), 0);
      return t;
    case type_time::unix_millisec_time:
      set_from_unix(t, static_cast<int64_t>(v / 1000), static_cast<int64_t>(v % 1000) * 10000);
      return t;
    case type_time::vhd_time:
      ticks = (v & 0xFFFFFFFFu) * k_ticks_per_second + k_ticks_to_2000;
      break;
    case type_time::csharp_time:
      // Before 1601 the difference wraps into the top bit and stays invalid.
      ticks = v - static_cast<uint64_t>(k_ticks_0001_to_1601);
      break;
    case type_time::safari_time:
      safari_to_filetime(v, ticks);
      break;
    case type_time::hfs_plus_time:
      if (v > static_cast<uint64_t>(k_max_i64) ||
          !seconds_to_ticks(static_cast<int64_t>(v), k_seconds_to_1904, 0, sticks)) {
        return t;
      }
      ticks = static_cast<uint64_t>(sticks);
      break;
    case type_time::snowflake_time:
      snowflake_to_filetime(static_cast<int64_t>(v), ticks);
      break;
    default:
      return t;
  }
  time_set_filetime(t, ticks);
  return t;
}

time& time_from_i64(time& t, int64_t v, type_time kind) {
  reset_time(t);
  int64_t ticks = 0;
  uint64_t uticks = 0;
  switch (kind) {
    case type_time::filetime:
      set_ticks(t, v);
      return t;
    case type_time::chrome:
      if (!checked_mul(v, int64_t{10}, ticks)) return t;
      break;
    case type_time::firefox3:
      if (!firefox3_to_filetime(v, uticks)) return t;
      time_set_filetime(t, uticks);
      return t;
    case type_time::unix_time:
      set_from_unix(t, v, 0);
      return t;
    case type_time::unix_millisec_time:
      set_from_unix(t, v / 1000, (v % 1000) * 10000);
      return t;
    case type_time::vhd_time:
      time_set_filetime(
          t, (static_cast<uint64_t>(v) & 0xFFFFFFFFu) * k_ticks_per_second + k_ticks_to_2000);
      return t;
    case type_time::hfs_plus_time:
      if (!seconds_to_ticks(v, k_seconds_to_1904, 0, ticks)) return t;
      break;
    case type_time::snowflake_time:
      snowflake_to_filetime(v, uticks);
      time_set_filetime(t, uticks);
      return t;
    case type_time::safari_time:
      if ((v >> 32) <= 0) {  // fits 32 bits, or negative: whole seconds
        if (!seconds_to_ticks(v, k_seconds_to_2001, 0, ticks)) return t;
      } else {
        safari_to_filetime(static_cast<uint64_t>(v), uticks);
        time_set_filetime(t, uticks);
        return t;
      }
      break;
    case type_time::ole: {
      int64_t seconds = 0;
      if (!checked_mul(v, int64_t{86400}, seconds) ||
          !seconds_to_ticks(seconds, k_seconds_to_1899_12_30, 0, ticks)) {
        return t;
      }
      break;
    }
    default:
      return t;
  }
  set_ticks(t, ticks);
  return t;
}

time& time_from_double(time& t, double v, type_time kind) {
  reset_time(t);
  int64_t ticks = 0;
  switch (kind) {
    case type_time::ole: {
      const double x = (v * 86400.0 + static_cast<double>(k_seconds_to_1899_12_30)) * 1e7;
      // NaN, infinities, negative and oversized values have no tick count.
      if (!(x >= 0.0 && x < 9223372036854775808.0)) return t;
      time_set_filetime(t, static_cast<uint64_t>(x));
      return t;
    }
    case type_time::safari_time:
      if (!fractional_seconds_to_ticks(v, k_seconds_to_2001, ticks)) return t;
      break;
    case type_time::unix_time:
      if (!fractional_seconds_to_ticks(v, k_unix_epoch_seconds, ticks)) {
        return t;
      }
      break;
    case type_time::unix_millisec_time:
      // Milliseconds, as the integer forms read them.
      if (!fractional_seconds_to_ticks(v / 1000.0, k_unix_epoch_seconds, ticks)) {
        return t;
      }
      break;
    default:
      return t;
  }
  set_ticks(t, ticks);
  return t;
}

time time_from_u64(uint64_t value, type_time kind) {
  return time(value, kind);
}
time time_from_i64(int64_t value, type_time kind) {
  return time(value, kind);
}
time time_from_double(double value, type_time kind) {
  return time(value, kind);
}

bool firefox3_to_filetime(int64_t microseconds, uint64_t& ticks) {
  int64_t v = 0;
  if (!seconds_to_ticks(microseconds / 1000000, k_unix_epoch_seconds, (microseconds % 1000000) * 10,
                        v)) {
    ticks = 0;
    return false;
  }
  ticks = static_cast<uint64_t>(v);
  return true;
}

bool snowflake_to_filetime(int64_t id, uint64_t& ticks) {
  ticks = static_cast<uint64_t>((id >> 22) * 10000 + k_ticks_to_2015);
  return true;
}

bool safari_to_filetime(uint64_t value, uint64_t& ticks) {
  if (value > 0xFFFFFFFFu) {
    // Nanoseconds since 2001: whole seconds, then the sub-second ticks.
    ticks = (value / 1000000000u + static_cast<uint64_t>(k_seconds_to_2001)) * k_ticks_per_second +
            (value % 1000000000u) / 100u;
  } else {
    ticks = (value + static_cast<uint64_t>(k_seconds_to_2001)) * k_ticks_per_second;
  }
  return true;
}

bool guid_v1_to_filetime(uint64_t& ticks, uint16_t& clock_sequence, std::vector<uint8_t>& node,
                         const uint8_t* guid) {
  ticks = 0;
  clock_sequence = 0;
  node.clear();
  if (guid == nullptr) return false;
  if ((guid[7] >> 4) != 1) return false;
  const uint64_t stamp = load_le64(guid) & 0x0FFFFFFFFFFFFFFFULL;
  if (stamp < k_gregorian_to_1601) return false;
  if (!vk::guarded([&] {
        node.assign(guid + 10, guid + 16);
        return true;
      }))
    return false;
  ticks = stamp - k_gregorian_to_1601;
  clock_sequence = static_cast<uint16_t>(((guid[8] << 8) | guid[9]) & 0x3FFF);
  return true;
}

uint64_t guid_v1_ticks(const uint8_t* guid) {
  if (guid == nullptr || (guid[7] >> 4) != 1) return 0;
  const uint64_t stamp = load_le64(guid) & 0x0FFFFFFFFFFFFFFFULL;
  return stamp < k_gregorian_to_1601 ? 0 : stamp - k_gregorian_to_1601;
}

bool guid_v1_bytes_to_filetime(uint64_t& ticks, uint16_t& clock_sequence,
                               std::vector<uint8_t>& node, const std::vector<uint8_t>& bytes,
                               uint32_t offset) {
  ticks = 0;
  clock_sequence = 0;
  node.clear();
  if (bytes.size() < 8) return false;
  uint64_t start = offset;
  if (bytes.size() > 8 && offset == 0 && bytes[0] == '{') start = 1;
  if (start > bytes.size() || bytes.size() - start < 16) return false;
  return guid_v1_to_filetime(ticks, clock_sequence, node, bytes.data() + start);
}

uint64_t filetime_to_chrome(uint64_t ticks) {
  return ticks / 10;
}

uint64_t filetime_to_vhd(uint64_t ticks) {
  if (ticks < k_ticks_to_2000) return 0;
  return (ticks - k_ticks_to_2000) / k_ticks_per_second;
}

namespace {
bool ticks_to_unix_seconds(int64_t ticks, int64_t& out) {
  if (ticks < 0) return false;
  out = floor_div(ticks - static_cast<int64_t>(k_unix_epoch_ticks),
                  static_cast<int64_t>(k_ticks_per_second));
  return true;
}
}  // namespace

bool chrome_to_unix_seconds(uint64_t microseconds, int64_t& out) {
  uint64_t ticks = 0;
  if (!checked_mul(microseconds, uint64_t{10}, ticks) || ticks > static_cast<uint64_t>(k_max_i64)) {
    return false;
  }
  return ticks_to_unix_seconds(static_cast<int64_t>(ticks), out);
}

bool firefox3_to_unix_seconds(int64_t microseconds, int64_t& out) {
  uint64_t ticks = 0;
  if (!firefox3_to_filetime(microseconds, ticks)) return false;
  return ticks_to_unix_seconds(static_cast<int64_t>(ticks), out);
}

bool safari_to_unix_seconds(uint64_t value, int64_t& out) {
  uint64_t ticks = 0;
  safari_to_filetime(value, ticks);
  return ticks_to_unix_seconds(static_cast<int64_t>(ticks), out);
}

bool filetime_words_to_systemtime(const FILETIME& ft, _windows_systemtime& out) {
  return filetime_to_systemtime(filetime_value(ft), out);
}

bool systemtime_from_filetime_value(_windows_systemtime& out, FILETIME ft) {
  systemtime_clear(out);
  return filetime_to_systemtime(filetime_value(ft), out);
}

_windows_systemtime::_windows_systemtime(int64_t value, type_time kind) {
  if (kind == type_time::filetime) {
    filetime_to_systemtime(static_cast<uint64_t>(value), *this);
  } else if (kind == type_time::unix_time) {
    struct tm fields {};
    if (unix_to_tm_utc(value, fields)) {
      m_year = static_cast<uint16_t>(fields.tm_year + 1900);
      m_month = static_cast<uint16_t>(fields.tm_mon + 1);
      m_day_of_week = static_cast<uint16_t>(fields.tm_wday);
      m_day = static_cast<uint16_t>(fields.tm_mday);
      m_hour = static_cast<uint16_t>(fields.tm_hour);
      m_minute = static_cast<uint16_t>(fields.tm_min);
      m_second = static_cast<uint16_t>(fields.tm_sec);
    }
  } else {
    assert(!"systemtime from an unsupported time kind");
  }
}

}  // namespace vk
