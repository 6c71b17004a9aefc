// The run clock, NTP stamps, time-zone transition rules, unit conversions
// and packed groups of related times.
//
// "-profile" measures the run with NTP stamps: 32-bit seconds since
// 1900-01-01 UTC and a 32-bit fraction in units of 2^-32 s, each word kept
// big-endian as NTP stores it.
#pragma once

#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

#include "foundation/vk_time.h"

namespace vk {

// FILETIME ticks of 1900-01-01 00:00:00 UTC, the NTP epoch.
inline constexpr uint64_t k_ntp_epoch_ticks = 94354848000000000ULL;

// Both words stored big-endian; two zero words mean "not timed".
struct ntp_stamp {
  uint32_t m_seconds = 0;
  uint32_t m_fraction = 0;

  bool is_zero() const { return m_seconds == 0 && m_fraction == 0; }
};

// A stamp with a sign (sign and magnitude), words big-endian.
struct signed_ntp {
  uint32_t m_seconds = 0;
  uint32_t m_fraction = 0;
  uint8_t m_negative = 0;
};

uint16_t swap_bytes16(uint16_t v);
uint32_t swap_bytes32(uint32_t v);
// The first and the second u32 of a pair, byte-reversed.
uint32_t load_be_word0(const uint32_t (&pair)[2]);
uint32_t load_be_word1(const uint32_t (&pair)[2]);
// Host-order seconds and fraction of a stamp.
uint32_t ntp_seconds(const ntp_stamp& s);
uint32_t ntp_fraction(const ntp_stamp& s);
ntp_stamp make_ntp_stamp(uint32_t seconds, uint32_t fraction);

// ---- the run clock ----

// The current time in whole seconds (the fraction is always 0).
ntp_stamp ntp_now();
// The same from time().
ntp_stamp ntp_now_seconds();
void start_clock(ntp_stamp& start);
// |a - b| in seconds.
double elapsed_seconds(const ntp_stamp& a, const ntp_stamp& b);
// The seconds since start, " secs " and a line end; nothing for a zero start.
void print_elapsed_secs(const ntp_stamp& start, std::ostream& os);
bool ntp_less(const ntp_stamp& a, const ntp_stamp& b);

// ---- conversions ----

// False (out zeroed) for ticks with the top bit set or before 1900.
bool filetime_to_ntp_be(uint64_t ticks, ntp_stamp& out);
ntp_stamp filetime_to_ntp(uint64_t ticks);
ntp_stamp ntp_from_filetime(uint64_t ticks);
ntp_stamp ntp_from_filetime(const FILETIME& ft);
// whole_ticks from the seconds, fraction the sub-second part in ticks,
// ticks = whole_ticks + its integer part. False for a zero stamp.
bool ntp_to_filetime_parts(const ntp_stamp& s, uint64_t& ticks, uint64_t& whole_ticks,
                           double& fraction);
uint64_t ntp_to_filetime(const ntp_stamp& s);
// A 64-bit NTP value, seconds in the high word; false for zero seconds.
bool ntp_value_to_filetime(uint64_t value, uint64_t& ticks);
ntp_stamp ntp_to_host(const ntp_stamp& s);
signed_ntp signed_ntp_to_host(const signed_ntp& s);
// From host-order words, sign cleared, words stored big-endian.
signed_ntp signed_ntp_from_u64(uint64_t value);
signed_ntp signed_ntp_from_words(uint32_t seconds, uint32_t fraction);
signed_ntp signed_ntp_add(const signed_ntp& a, const signed_ntp& b);
signed_ntp signed_ntp_sub(const signed_ntp& a, const signed_ntp& b);
// Up to 16 hexadecimal digits: the last 8 the low word, the rest the high.
uint64_t hex_text_to_u64(const std::string& text);
bool systemtime_to_ntp(const _windows_systemtime& st, ntp_stamp& out);
bool systemtime_to_unix_seconds(const _windows_systemtime& st, int64_t& out);

// ---- time zones ----

// A zone's rules: each transition in the day-of-week-in-month form (month,
// week 1-5 in the day field with 5 the last, day of week, time of day), then
// the biases in seconds.
struct time_zone_record {
  _windows_systemtime m_daylight_start;
  _windows_systemtime m_standard_start;
  int64_t m_bias = 0;
  int64_t m_daylight_bias = 0;
  int64_t m_standard_bias = 0;
};

// The two transitions in the year of the ticks (0: now) as ticks. False when
// either rule does not name a month, a week and a weekday.
bool daylight_window(uint64_t& start, uint64_t& end, const _windows_systemtime& daylight,
                     const _windows_systemtime& standard, uint64_t ticks);
uint64_t daylight_start(const time_zone_record& zone, uint64_t ticks);
uint64_t daylight_end(const time_zone_record& zone, uint64_t ticks);
// ticks + bias, plus the daylight bias inside the daylight window of that
// year, else the standard bias; 0 when the window cannot be computed or the
// sum leaves the tick range. remove_time_zone_bias subtracts the same.
uint64_t apply_time_zone_bias(uint64_t ticks, const time_zone_record& zone);
uint64_t remove_time_zone_bias(uint64_t ticks, const time_zone_record& zone);

// ---- units (a product that does not fit gives 0) ----

uint64_t ticks_to_ms(uint64_t ticks);
uint64_t ms_to_ticks(uint64_t ms);
uint64_t secs_to_ticks(uint64_t seconds);
uint64_t ticks_to_minutes(uint64_t ticks);
uint64_t minutes_to_ticks(uint64_t minutes);
// |a - b|; false when either is negative.
bool ticks_difference(int64_t a, int64_t b, uint64_t& out);
bool ticks_difference_ms(int64_t a, int64_t b, uint64_t& out);

// ---- packed time groups ----

// 1 to 8 times as a 9-byte header (count, index of the latest time,
// millisecond flag, the latest time with the delta width in its top 4 bits)
// and one little-endian delta per other time. Returns the byte count, 0 for
// an empty or oversized list or a latest time of 2^60 or more.
uint16_t pack_time_group(const std::vector<uint64_t>& times, std::vector<uint8_t>& out, bool in_ms);
// Returns the bytes read, 0 (out empty) when the group is not all there.
uint32_t unpack_time_group(const uint8_t* bytes, uint32_t size, std::vector<uint64_t>& out);

// ---- writers ----

// "xxxxxxxx.xxxxxxxx", then " : [date time UTC]" when the stamp converts.
void write_ntp_stamp(std::ostream& os, const ntp_stamp& s);
// "Sun, 6 Dec 2026 08:26:29 GMT".
void gmt_date_now(std::string& out);
// yyyy_mm_dd, then _hhmm, _ss and _mmm as asked.
void write_time_underscored(std::ostream& os, uint64_t ticks, bool with_hhmm, bool with_ss,
                            bool with_ms);
void write_fixed_point_secs(std::ostream& os, const uint16_t (&value)[2]);
void write_pair(std::ostream& os, const uint16_t (&value)[2]);

// Two words and a FILETIME; check_stamped_filetime gives it back when the
// time is valid, else all zero.
struct stamped_filetime {
  uint32_t m_word0 = 0;
  uint32_t m_word1 = 0;
  FILETIME m_time;
};
stamped_filetime check_stamped_filetime(const stamped_filetime& in);

// The local offset in seconds in effect at a local time; is_dst from it.
int32_t local_offset_for_tm(bool& is_dst, const struct tm& local);
int32_t current_year();

}  // namespace vk
