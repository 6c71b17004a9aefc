// vk::time: derivation from ticks, validity, calendar arithmetic both ways,
// DOS and struct tm constructors. The suite runs with TZ=UTC.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "foundation/vk_time.h"
#include "time_reference.h"

using vesk_test::ticks_of;

namespace {

void expect_utc(const vk::time& t, int y, int mo, int d, int h, int mi, int s) {
  EXPECT_EQ(vk::time_year(t), y);
  EXPECT_EQ(vk::time_month(t), mo);
  EXPECT_EQ(vk::time_day(t), d);
  EXPECT_EQ(vk::time_hour(t), h);
  EXPECT_EQ(vk::time_minute(t), mi);
  EXPECT_EQ(vk::time_second(t), s);
}

vk::time from_ticks(uint64_t ticks) {
  return vk::time(ticks, vk::type_time::filetime);
}

}  // namespace

TEST(TimeValidity, FirstSecondOf1970IsInvalid) {
  EXPECT_FALSE(from_ticks(116444736000000000ULL).valid());
  const vk::time almost = from_ticks(116444736009999999ULL);
  EXPECT_FALSE(almost.valid());
  EXPECT_EQ(almost.m_unix_seconds, 0);

  const vk::time one = from_ticks(116444736010000000ULL);
  ASSERT_TRUE(one.valid());
  expect_utc(one, 1970, 1, 1, 0, 0, 1);
  EXPECT_EQ(one.m_unix_seconds, 1);
}

TEST(TimeValidity, YearBounds) {
  const vk::time y1900 = from_ticks(ticks_of(1900, 1, 1));
  EXPECT_TRUE(y1900.valid());
  EXPECT_TRUE(y1900.m_tm_failed);  // the local broken-down time starts in 1970
  expect_utc(y1900, 1900, 1, 1, 0, 0, 0);

  EXPECT_FALSE(from_ticks(ticks_of(1899, 12, 31, 23, 59, 59)).valid());

  const vk::time y3000 = from_ticks(ticks_of(3000, 12, 31, 23, 59, 59));
  EXPECT_TRUE(y3000.valid());
  EXPECT_FALSE(y3000.m_tm_failed);
  EXPECT_EQ(y3000.m_tm.tm_year, 1100);
  EXPECT_EQ(y3000.m_tm.tm_mon, 11);
  EXPECT_EQ(y3000.m_tm.tm_mday, 31);

  const vk::time y3001 = from_ticks(ticks_of(3001, 1, 1));
  EXPECT_FALSE(y3001.valid());
  EXPECT_TRUE(y3001.m_tm_failed);
}

TEST(TimeValidity, ZeroAndTopBitTicks) {
  EXPECT_FALSE(from_ticks(0).valid());
  const vk::time top = from_ticks(0x8000000000000000ULL);
  EXPECT_FALSE(top.valid());
  EXPECT_EQ(top.m_calendar.m_year, 0);
  vk::calendar_fields cal;
  cal.m_year = 99;
  EXPECT_FALSE(vk::calendar_from_filetime(cal, 0xFFFFFFFFFFFFFFFFULL));
  EXPECT_EQ(cal.m_year, 0);
}

TEST(TimeValue, DerivedFieldsAgree) {
  // 2024-03-05 07:08:09.1234567 UTC, a Tuesday.
  const vk::time t = from_ticks(133540960891234567ULL);
  ASSERT_TRUE(t.valid());
  expect_utc(t, 2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(t.m_calendar.m_day_of_week, 2);
  EXPECT_EQ(t.m_calendar.m_milliseconds, 123);
  EXPECT_EQ(t.m_calendar.m_microseconds, 123456u);
  EXPECT_EQ(t.m_calendar.m_nanoseconds, 123456700u);
  EXPECT_EQ(t.m_calendar.m_picoseconds, 123456700000u);
  EXPECT_EQ(t.m_unix_seconds, 1709622489);
  EXPECT_EQ(vk::filetime_value(t.m_filetime_pair), 133540960891234567ULL);
  EXPECT_EQ(t.m_tm.tm_year, 124);
  EXPECT_EQ(t.m_tm.tm_mon, 2);
  EXPECT_EQ(t.m_tm.tm_mday, 5);
  EXPECT_EQ(t.m_tm.tm_hour, 7);
  EXPECT_EQ(t.m_tm.tm_wday, 2);
  EXPECT_EQ(t.m_tm.tm_yday, 64);
  // DOS: year 44, month 3, day 5; 07:08, 9 s rounds up to 10 s = field 5.
  EXPECT_EQ(t.m_dos_date, (44 << 9) | (3 << 5) | 5);
  EXPECT_EQ(t.m_dos_time, (7 << 11) | (8 << 5) | 5);
}

TEST(TimeValue, UnixSecondsBefore1970AreNegative) {
  const vk::time t = from_ticks(116444736000000000ULL - 5000000);  // 1969-12-31 23:59:59.5
  EXPECT_TRUE(t.valid());
  EXPECT_EQ(t.m_unix_seconds, -1);
  EXPECT_TRUE(t.m_tm_failed);
  int64_t s = 0;
  ASSERT_TRUE(vk::filetime_to_unix_seconds(ticks_of(1900, 1, 1), s));
  EXPECT_EQ(s, -2208988800);
  s = 42;
  EXPECT_FALSE(vk::filetime_to_unix_seconds(0x8000000000000000ULL, s));
  EXPECT_EQ(s, 42);
}

TEST(TimeCalendar, LeapYearsBothDirections) {
  struct probe {
    int year;
    bool leap;
  };
  for (const probe p : {probe{1900, false}, probe{2000, true}, probe{2100, false},
                        probe{2400, true}, probe{1604, true}, probe{2023, false}}) {
    SCOPED_TRACE(p.year);
    // The day after February 28 is the 29th only in a leap year.
    vk::calendar_fields cal;
    ASSERT_TRUE(vk::calendar_from_filetime(cal, ticks_of(p.year, 2, 28) + 864000000000ULL));
    EXPECT_EQ(cal.m_month, p.leap ? 2 : 3);
    EXPECT_EQ(cal.m_day, p.leap ? 29 : 1);
    // And the reverse direction agrees.
    vk::_windows_systemtime st;
    st.m_year = static_cast<uint16_t>(p.year);
    st.m_month = 3;
    st.m_day = 1;
    uint64_t ticks = 0;
    ASSERT_TRUE(vk::systemtime_to_filetime(ticks, st));
    EXPECT_EQ(ticks, ticks_of(p.year, 3, 1));
  }
  const vk::time t = from_ticks(ticks_of(2000, 3, 1));
  EXPECT_EQ(t.m_dos_date, (20 << 9) | (3 << 5) | 1);
}

TEST(TimeCalendar, FarFutureConvertsExactly) {
  // The largest usable tick count is 30828-09-14 02:48:05.4775807.
  vk::calendar_fields cal;
  ASSERT_TRUE(vk::calendar_from_filetime(cal, 0x7FFFFFFFFFFFFFFFULL));
  EXPECT_EQ(cal.m_year, 30828);
  EXPECT_EQ(cal.m_month, 9);
  EXPECT_EQ(cal.m_day, 14);
  EXPECT_EQ(cal.m_hour, 2);
  EXPECT_EQ(cal.m_minute, 48);
  EXPECT_EQ(cal.m_second, 5);
  EXPECT_EQ(cal.m_milliseconds, 477);
  // Past the end of 3112, where a single one-year correction would fail.
  ASSERT_TRUE(vk::calendar_from_filetime(cal, ticks_of(3112, 12, 31, 12)));
  EXPECT_EQ(cal.m_year, 3112);
  EXPECT_EQ(cal.m_month, 12);
  EXPECT_EQ(cal.m_day, 31);
}

TEST(TimeCalendar, TmToFiletimeNormalisesMonth) {
  struct tm fields {};
  fields.tm_year = 123;
  fields.tm_mon = 13;  // February of the next year
  fields.tm_mday = 1;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), ticks_of(2024, 2, 1));
  EXPECT_EQ(fields.tm_mon, 1);
  EXPECT_EQ(fields.tm_year, 124);

  fields = tm{};
  fields.tm_year = 124;
  fields.tm_mon = -1;  // December of the year before
  fields.tm_mday = 31;
  EXPECT_EQ(vk::tm_to_filetime(fields, 250), ticks_of(2023, 12, 31) + 2500000);
  EXPECT_EQ(fields.tm_mon, 11);

  fields = tm{};
  fields.tm_year = 101;
  fields.tm_mon = 1;
  fields.tm_mday = 30;  // runs on into March
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), ticks_of(2001, 3, 2));

  fields = tm{};
  fields.tm_year = 2000000000;  // no tick count this far out
  fields.tm_mday = 1;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), 0u);
}

TEST(TimeCalendar, TmToFiletimeOnExtremeFields) {
  struct tm fields {};
  fields.tm_year = 100;
  fields.tm_mday = 1;
  EXPECT_EQ(vk::tm_to_filetime(fields, -1), ticks_of(2000, 1, 1) - 10000);
  EXPECT_EQ(vk::tm_to_filetime(fields, INT64_MAX), 0u);
  EXPECT_EQ(vk::tm_to_filetime(fields, INT64_MIN), 0u);

  // Out-of-range day and time fields run on; beyond the tick range there is
  // no tick count.
  fields.tm_hour = 1000000;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), ticks_of(2000, 1, 1) + 36000000000000000ULL);
  fields.tm_hour = INT_MAX;
  fields.tm_min = INT_MAX;
  fields.tm_sec = INT_MAX;
  fields.tm_mday = INT_MIN;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), 0u);

  // Years and months at the ends of int carry out of the int range: no ticks.
  fields = tm{};
  fields.tm_year = INT_MAX;
  fields.tm_mon = INT_MAX;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), 0u);
  fields = tm{};
  fields.tm_year = INT_MIN;
  fields.tm_mon = INT_MIN;
  EXPECT_EQ(vk::tm_to_filetime(fields, 0), 0u);
}

TEST(TimeCalendar, RandomInstantsAgreeWithReference) {
  std::mt19937_64 rng(20240305);
  const uint64_t lo = ticks_of(1601, 1, 1);
  const uint64_t hi = ticks_of(3001, 1, 1) - 1;
  std::uniform_int_distribution<uint64_t> pick(lo, hi);
  const int64_t day0 = vesk_test::days_from_civil(1601, 1, 1);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t ticks = pick(rng);
    vk::calendar_fields cal;
    ASSERT_TRUE(vk::calendar_from_filetime(cal, ticks));
    const uint64_t secs = ticks / 10000000;
    const int64_t days = static_cast<int64_t>(secs / 86400);
    const vesk_test::civil ref = vesk_test::civil_from_days(days + day0);
    const uint64_t sod = secs % 86400;
    ASSERT_EQ(cal.m_year, ref.year) << ticks;
    ASSERT_EQ(cal.m_month, ref.month) << ticks;
    ASSERT_EQ(cal.m_day, ref.day) << ticks;
    ASSERT_EQ(cal.m_hour, sod / 3600) << ticks;
    ASSERT_EQ(cal.m_minute, sod % 3600 / 60) << ticks;
    ASSERT_EQ(cal.m_second, sod % 60) << ticks;
    ASSERT_EQ(cal.m_day_of_week, (days + 1) % 7) << ticks;  // 1601-01-01 was a Monday
    ASSERT_EQ(cal.m_microseconds, ticks % 10000000 / 10) << ticks;

    // And back: the calendar with its milliseconds gives the ticks to the millisecond.
    uint64_t back = 0;
    ASSERT_EQ(vk::systemtime_to_filetime(back, cal), ticks >= 10000) << ticks;
    ASSERT_EQ(back, ticks - ticks % 10000) << ticks;
    // With the sub-millisecond part of the calendar block, to the tick.
    ASSERT_EQ(back + cal.m_nanoseconds / 100 % 10000, ticks) << ticks;
  }
}

// Every field in range and the day inside its month (29 February only in a
// leap year), or no time at all. Ticks from Python's datetime.
TEST(TimeDos, ConstructorRangesAndMonthEnds) {
  const struct {
    uint16_t date, clock;
    uint64_t ticks;  // 0: no time
  } cases[] = {
      {0x545C, 0x6DBD, 132905295580000000},  // 2022-02-28 13:45:58
      {0x545F, 0x6DBD, 0},                   // 2022-02-31
      {0x549F, 0x6DBD, 0},                   // 2022-04-31
      {0x54DF, 0x6DBD, 0},                   // 2022-06-31
      {0x585D, 0x6DBD, 133536879580000000},  // 2024-02-29
      {0x565D, 0x6DBD, 0},                   // 2023-02-29
      {0x285D, 0x6DBD, 125963055580000000},  // 2000-02-29: a leap year by 400
      {0xF05D, 0x6DBD, 0},                   // 2100-02-29: no leap year by 100
      {0x2A5E, 0x0000, 0},                   // 2001-02-30
      {0x559F, 0x6DBD, 133169679580000000},  // 2022-12-31
      {0xFF9F, 0x6DBD, 159992559580000000},  // 2107-12-31, the last DOS day
      {0x0000, 0x0000, 0},                   // day 0
      {0x2BA1, 0x0000, 0},                   // month 13
      {0x2A5E, 0x07E0, 0},                   // minute 63
      {0x2A21, 0xC000, 0},                   // hour 24
      {0x2A21, 0x001E, 0},                   // 60 seconds
  };
  for (const auto& c : cases) {
    const vk::time t = vk::time_from_dos(c.date, c.clock, true);
    EXPECT_EQ(t.valid(), c.ticks != 0) << std::hex << c.date;
    EXPECT_EQ(t.m_filetime, c.ticks) << std::hex << c.date;
  }

  // 2022-07-14 13:45:58 stored with the array form, both as UTC and as local
  // time (the same under TZ=UTC).
  const uint16_t pair[2] = {static_cast<uint16_t>((42 << 9) | (7 << 5) | 14),
                            static_cast<uint16_t>((13 << 11) | (45 << 5) | 29)};
  vk::time utc;
  vk::time_from_dos(utc, pair, true);
  ASSERT_TRUE(utc.valid());
  EXPECT_EQ(utc.m_filetime, ticks_of(2022, 7, 14, 13, 45, 58));
  EXPECT_EQ(utc.m_dos_date, pair[0]);
  EXPECT_EQ(utc.m_dos_time, pair[1]);
  const vk::time local = vk::time_from_dos(pair, false);
  ASSERT_TRUE(local.valid());
  EXPECT_EQ(local.m_filetime, utc.m_filetime);
}

TEST(TimeDos, WordsFromTicks) {
  uint16_t dos[2] = {1, 2};
  ASSERT_TRUE(vk::filetime_to_dos(ticks_of(2010, 6, 7, 8, 9, 59), dos));
  EXPECT_EQ(dos[1] & 31, 30);  // 59 s goes up to the next even second
  EXPECT_EQ(dos[0], (30 << 9) | (6 << 5) | 7);

  dos[0] = 1;
  dos[1] = 2;
  EXPECT_FALSE(vk::filetime_to_dos(ticks_of(1979, 12, 31, 23, 59, 59), dos));
  EXPECT_FALSE(vk::filetime_to_dos(ticks_of(2038, 1, 1), dos));
  EXPECT_EQ(dos[0], 1);
  EXPECT_EQ(dos[1], 2);
  // Outside 1980..2037 a value keeps the DOS words it held.
  EXPECT_EQ(from_ticks(ticks_of(2038, 1, 1)).m_dos_date, 0);
  vk::time t = from_ticks(ticks_of(2010, 6, 7, 8, 9, 58));
  const uint16_t date = t.m_dos_date;
  const uint16_t time_word = t.m_dos_time;
  ASSERT_TRUE(vk::time_set_filetime(t, ticks_of(1979, 5, 5)));
  EXPECT_EQ(t.m_dos_date, date);
  EXPECT_EQ(t.m_dos_time, time_word);
}

TEST(TimeTm, UtcAndLocalConstruction) {
  struct tm fields {};
  fields.tm_year = 99;
  fields.tm_mon = 11;
  fields.tm_mday = 31;
  fields.tm_hour = 23;
  fields.tm_min = 59;
  fields.tm_sec = 58;
  vk::time t;
  ASSERT_TRUE(vk::time_from_tm(t, fields, 999, true));
  EXPECT_EQ(t.m_filetime, ticks_of(1999, 12, 31, 23, 59, 58, 9990000));
  vk::time local;
  ASSERT_TRUE(vk::time_from_tm(local, fields, 999, false));
  EXPECT_EQ(local.m_filetime, t.m_filetime);

  // Before 1970 the local path has no unix seconds to work from.
  fields.tm_year = 60;
  vk::time early;
  EXPECT_FALSE(vk::time_from_tm(early, fields, 0, false));
  EXPECT_FALSE(early.valid());
  // A UTC time that lands on an invalid instant reports false.
  fields = tm{};
  fields.tm_year = 70;
  fields.tm_mday = 1;
  EXPECT_FALSE(vk::time_from_tm(early, fields, 500, true));
  EXPECT_FALSE(early.valid());
}

TEST(TimeTm, ValidityIsTheDerivationResult) {
  // After 3000 the local path still finds unix seconds, but the derived
  // value is invalid, and so is the result.
  struct tm fields {};
  fields.tm_year = 1101;
  fields.tm_mon = 5;
  fields.tm_mday = 1;
  vk::time late;
  EXPECT_FALSE(vk::time_from_tm(late, fields, 0, false));
  EXPECT_FALSE(late.valid());

  // A failed call leaves a value that held a time invalid, on both paths.
  vk::time reused = from_ticks(ticks_of(2020, 1, 1));
  ASSERT_TRUE(reused.valid());
  EXPECT_FALSE(vk::time_from_tm(reused, fields, 0, false));
  EXPECT_FALSE(reused.valid());
  reused = from_ticks(ticks_of(2020, 1, 1));
  fields = tm{};
  fields.tm_year = INT_MAX;
  EXPECT_FALSE(vk::time_from_tm(reused, fields, 0, true));
  EXPECT_FALSE(reused.valid());
}

TEST(TimeTm, UnixToTmBoundsAndOffset) {
  struct tm out {};
  out.tm_year = 77;
  EXPECT_FALSE(vk::unix_to_tm(-1, out, 0.0f));
  EXPECT_EQ(out.tm_year, 77);  // untouched
  // Tested after the shift: 00:30 UTC one hour west is before 1970.
  EXPECT_FALSE(vk::unix_to_tm(1800, out, -1.0f));
  ASSERT_TRUE(vk::unix_to_tm(1800, out, 5.5f));
  EXPECT_EQ(out.tm_hour, 6);
  EXPECT_EQ(out.tm_min, 0);
  EXPECT_EQ(out.tm_wday, 4);  // 1970-01-01 was a Thursday

  ASSERT_TRUE(vk::unix_to_tm_utc(951782400, out));  // 2000-02-29
  EXPECT_EQ(out.tm_year, 100);
  EXPECT_EQ(out.tm_mon, 1);
  EXPECT_EQ(out.tm_mday, 29);
  EXPECT_EQ(out.tm_yday, 59);

  const int64_t y3001 = (vesk_test::days_from_civil(3001, 1, 1)) * 86400;
  EXPECT_TRUE(vk::unix_to_tm_utc(y3001 - 1, out));
  EXPECT_EQ(out.tm_year, 1100);
  out.tm_hour = 5;
  EXPECT_FALSE(vk::unix_to_tm_utc(y3001, out));
  EXPECT_EQ(out.tm_hour, 0);  // zeroed
  EXPECT_FALSE(vk::unix_to_tm(INT64_MAX, out, 1.0f));
  EXPECT_FALSE(vk::unix_to_tm(INT64_MIN, out, -1.0f));
  EXPECT_FALSE(vk::unix_to_tm(1800, out, std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(vk::unix_to_tm(1800, out, 1e9f));
  EXPECT_EQ(vk::local_utc_offset(), 0);

  // Every day to the end of year 3000 against the C library's calendar.
  int wrong = 0;
  for (int64_t day = 0; day * 86400 < y3001 && wrong < 5; ++day) {
    const time_t at = static_cast<time_t>(day * 86400 + 45296);  // 12:34:56
    struct tm want {};
    ASSERT_TRUE(gmtime_r(&at, &want));
    ASSERT_TRUE(vk::unix_to_tm_utc(at, out));
    if (out.tm_year != want.tm_year || out.tm_mon != want.tm_mon || out.tm_mday != want.tm_mday ||
        out.tm_yday != want.tm_yday || out.tm_wday != want.tm_wday || out.tm_hour != 12 ||
        out.tm_min != 34 || out.tm_sec != 56) {
      ADD_FAILURE() << "day " << day;
      ++wrong;
    }
  }
}

TEST(TimeReaders, SubSecondsTruncateUnlessRounded) {
  const vk::time t = from_ticks(ticks_of(2020, 1, 1, 0, 0, 1, 9999000));  // x.9999
  EXPECT_EQ(vk::time_milliseconds(t, false), 999u);
  const vk::time r = from_ticks(ticks_of(2020, 1, 1, 0, 0, 1, 9995000));  // x.9995
  EXPECT_EQ(vk::time_milliseconds(r, true), 1000u);
  EXPECT_EQ(vk::time_milliseconds(r, false), 999u);
  const vk::time u = from_ticks(ticks_of(2020, 1, 1, 0, 0, 1, 1234565));
  EXPECT_EQ(vk::time_microseconds(u, false), 123456u);
  EXPECT_EQ(vk::time_microseconds(u, true), 123457u);
  EXPECT_EQ(vk::time_nanoseconds(u), 123456500u);
}

TEST(TimeArithmetic, AddsOnValidValuesOnly) {
  vk::time t = from_ticks(ticks_of(2000, 2, 28, 12));
  vk::time_add_days(t, 1);
  EXPECT_EQ(t.m_filetime, ticks_of(2000, 2, 29, 12));
  vk::time_add_minutes(t, -12 * 60);
  EXPECT_EQ(t.m_filetime, ticks_of(2000, 2, 29));
  vk::time_add_milliseconds(t, 1500);
  vk::time_add_microseconds(t, 7);
  EXPECT_EQ(t.m_filetime, ticks_of(2000, 2, 29, 0, 0, 1, 5000070));
  vk::time_subtract_days(t, 366);
  EXPECT_EQ(vk::time_year(t), 1999);
  EXPECT_EQ(vk::time_month(t), 2);
  EXPECT_EQ(vk::time_day(t), 28);

  vk::time invalid = from_ticks(ticks_of(1800, 1, 1));
  const uint64_t before = invalid.m_filetime;
  vk::time_add_days(invalid, 100000);
  EXPECT_EQ(invalid.m_filetime, before);
  EXPECT_FALSE(invalid.valid());

  // A result outside the tick range gives an invalid value, not a wrapped one.
  vk::time edge = from_ticks(ticks_of(1950, 1, 1));
  vk::time_subtract_days(edge, INT32_MAX);
  EXPECT_FALSE(edge.valid());
  vk::time late = from_ticks(ticks_of(2999, 1, 1));
  vk::time_add_days(late, INT32_MAX);
  EXPECT_FALSE(late.valid());
  // The most negative count, negated, is a step past the tick range.
  vk::time far = from_ticks(ticks_of(2000, 1, 1));
  vk::time_subtract_days(far, INT32_MIN);
  EXPECT_FALSE(far.valid());
  EXPECT_EQ(far.m_filetime, ticks_of(2000, 1, 1));
  far = from_ticks(ticks_of(2000, 1, 1));
  vk::time_add_minutes(far, INT32_MIN);
  EXPECT_FALSE(far.valid());
}

TEST(TimeRecord, ClearAndCopy) {
  vk::time t = from_ticks(ticks_of(2015, 5, 5));
  t.m_tree[1] = 2;
  vk::time copy = t;
  EXPECT_EQ(copy.m_tree.size(), 1u);
  EXPECT_EQ(copy.m_filetime, t.m_filetime);
  vk::time_clear(t);
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.m_filetime, 0u);
  EXPECT_EQ(t.m_unix_seconds, 0);
  EXPECT_TRUE(t.m_tree.empty());
  EXPECT_EQ(t.m_dos_date, copy.m_dos_date);  // left for the constructors

  const vk::time now = vk::time_now();
  EXPECT_TRUE(now.valid());
  EXPECT_GE(vk::time_year(now), 2024);
  const vk::time u32 = vk::time_from_unix32(0xFFFFFFFFu);
  ASSERT_TRUE(u32.valid());
  EXPECT_EQ(vk::time_year(u32), 2106);
  EXPECT_FALSE(vk::time_from_unix32(0).valid());
}

TEST(TimeRecord, FiletimeWordForms) {
  vk::FILETIME ft;
  vk::store_filetime(0x01D9000012345678ULL, ft);
  EXPECT_EQ(ft.dwLowDateTime, 0x12345678u);
  EXPECT_EQ(ft.dwHighDateTime, 0x01D90000u);
  vk::calendar_fields cal;
  ASSERT_TRUE(vk::filetime_words_to_calendar(ft, cal));
  EXPECT_EQ(cal.m_year, 2022);

  vk::_windows_systemtime st;
  st.m_year = 2024;
  st.m_month = 3;
  st.m_day = 5;
  st.m_hour = 7;
  st.m_minute = 8;
  st.m_second = 9;
  st.m_milliseconds = 123;
  ASSERT_TRUE(vk::systemtime_to_filetime(ft, st));
  EXPECT_EQ(vk::filetime_value(ft), 133540960891230000ULL);
  vk::_windows_systemtime back;
  ASSERT_TRUE(vk::systemtime_from_filetime_value(back, ft));
  EXPECT_EQ(back.m_day_of_week, 2);
  EXPECT_EQ(back.m_milliseconds, 123);
  vk::systemtime_clear(back);
  EXPECT_EQ(back.m_year, 0);

  st.m_year = 1500;  // before 1601: no ticks
  EXPECT_FALSE(vk::systemtime_to_filetime(ft, st));
  EXPECT_EQ(vk::filetime_value(ft), 0u);
}

// Zones given as POSIX TZ rules, so that no zone database is needed.
class TimeLocalZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_had_tz = tz != nullptr;
    if (tz) m_saved = tz;
  }
  void TearDown() override {
    if (m_had_tz) {
      setenv("TZ", m_saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    vk::settle_local_utc_offset();
  }
  static void use_zone(const char* rule) {
    setenv("TZ", rule, 1);
    tzset();
    vk::settle_local_utc_offset();
  }

 private:
  bool m_had_tz = false;
  std::string m_saved;
};

TEST_F(TimeLocalZone, OffsetFollowsTheZoneSetting) {
  use_zone("UTC0");
  EXPECT_EQ(vk::local_utc_offset(), 0);
  use_zone("IST-5:30");
  EXPECT_EQ(vk::local_utc_offset(), 19800);
  const vk::time t = from_ticks(ticks_of(2024, 3, 5, 20, 0, 0));
  EXPECT_EQ(t.m_tm.tm_mday, 6);  // 01:30 local on the next day
  EXPECT_EQ(t.m_tm.tm_hour, 1);
  EXPECT_EQ(t.m_tm.tm_min, 30);
  EXPECT_EQ(vk::time_hour(t), 20);  // the calendar block stays UTC
}

TEST_F(TimeLocalZone, YearAbove3000IsValidOnlyWestOfUtc) {
  use_zone("XYZ+1");
  const vk::time west = from_ticks(ticks_of(3001, 1, 1));
  EXPECT_TRUE(west.valid());
  EXPECT_EQ(west.m_tm.tm_year, 1100);
  use_zone("XYZ-1");
  EXPECT_FALSE(from_ticks(ticks_of(3001, 1, 1)).valid());
}
