// Time values.
//
// vk::time keeps one master value, FILETIME ticks (100-nanosecond units since
// 1601-01-01 00:00:00 UTC), and derives every other form from it once, when
// the ticks are set: unix seconds, the two-word FILETIME, a DOS date and time,
// a local struct tm and a UTC calendar block with sub-second parts. A value
// that cannot be represented is simply invalid; nothing here throws.
//
// Raw timestamps of many encodings (browser epochs, OLE dates, unix counts,
// GUID timestamps, ...) are turned into ticks by the kind constructors, and
// the formatters print dates and times from the calendar block.
#pragma once

#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vk {

struct time_format_descriptor;
struct time_format_settings;

// 100 ns ticks from 1601-01-01 to 1970-01-01.
inline constexpr uint64_t k_unix_epoch_ticks = 116444736000000000ULL;
inline constexpr uint64_t k_ticks_per_second = 10000000ULL;

// The Windows two-word form of a tick count.
struct FILETIME {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
};

// Raw time encodings, one bit each so that a set of kinds can be a mask.
enum class type_time : uint32_t {
  none = 0,
  filetime = 0x1,             // 100 ns ticks since 1601-01-01 UTC
  chrome = 0x2,               // microseconds since 1601-01-01 UTC
  firefox3 = 0x4,             // microseconds since 1970-01-01 UTC
  unix_time = 0x8,            // seconds since 1970-01-01 UTC
  unix_millisec_time = 0x10,  // milliseconds since 1970-01-01 UTC
  dos_time = 0x20,            // DOS date and time words
  ntp = 0x40,                 // NTP 32.32 seconds since 1900
  guid = 0x80,                // version-1 GUID timestamp
  ole = 0x100,                // days since 1899-12-30, with a fraction
  system_time = 0x200,        // SYSTEMTIME record
  system_time_alt = 0x400,    // SYSTEMTIME record (second form)
  vhd_time = 0x800,           // 32-bit seconds since 2000-01-01 UTC
  qpc_time = 0x1000,          // performance-counter reading
  csharp_time = 0x8000,       // 100 ns ticks since 0001-01-01
  snowflake_time = 0x20000,   // milliseconds since 2015-01-01 in bits 22-63
  safari_time = 0x40000,      // seconds (or nanoseconds) since 2001-01-01 UTC
  hfs_plus_time = 0x80000,    // seconds since 1904-01-01 UTC
};

constexpr type_time operator|(type_time a, type_time b) {
  return static_cast<type_time>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr type_time operator&(type_time a, type_time b) {
  return static_cast<type_time>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}
constexpr bool has_kind(type_time mask, type_time kind) {
  return (static_cast<uint32_t>(mask) & static_cast<uint32_t>(kind)) != 0;
}

// The Windows SYSTEMTIME layout: eight 16-bit fields, 16 bytes.
struct _windows_systemtime {
  uint16_t m_year = 0;
  uint16_t m_month = 0;        // 1..12
  uint16_t m_day_of_week = 0;  // 0 = Sunday
  uint16_t m_day = 0;          // 1..31
  uint16_t m_hour = 0;
  uint16_t m_minute = 0;
  uint16_t m_second = 0;
  uint16_t m_milliseconds = 0;

  _windows_systemtime() = default;
  // From FILETIME ticks (filetime kind) or unix seconds (unix_time kind);
  // any other kind is a programming error and leaves the record zeroed.
  _windows_systemtime(int64_t value, type_time kind);
};
static_assert(sizeof(_windows_systemtime) == 16);

// A UTC calendar reading with the sub-second part at several resolutions.
struct calendar_fields : _windows_systemtime {
  uint64_t m_microseconds = 0;  // sub-second ticks / 10
  uint64_t m_nanoseconds = 0;   // sub-second ticks * 100
  uint64_t m_picoseconds = 0;   // sub-second ticks * 100000
};

class time {
 public:
  int64_t m_unix_seconds = 0;  // floor((ticks - 1970 epoch) / 10^7); 0 when unset
  uint64_t m_filetime = 0;     // the master value
  FILETIME m_filetime_pair;
  uint16_t m_dos_date = 0;
  uint16_t m_dos_time = 0;
  struct tm m_tm {};  // local broken-down time of the instant
  calendar_fields m_calendar;
  bool m_valid = false;
  bool m_tm_failed = false;
  std::map<uint32_t, uint64_t> m_tree;  // carried with the value; unused by the time code

  // An empty, invalid value.
  time() = default;
  // A raw value of the given kind (see time_from_u64 / _i64 / _double).
  time(uint64_t value, type_time kind);
  time(int64_t value, type_time kind);
  time(double value, type_time kind);

  bool valid() const { return m_valid; }
};

// ---- the record ----

// Zeroes unix seconds, ticks, the FILETIME pair, m_tm and both flags and
// empties the tree; the DOS words and the calendar block are left alone.
void time_clear(time& t);
// Derives every field from the ticks; returns the validity flag.
bool time_set_filetime(time& t, uint64_t ticks);

// From a DOS date word and DOS time word; out-of-range fields (a day past its
// month's end among them) leave the value cleared and invalid. utc false
// reads the fields as local time.
time& time_from_dos(time& t, const uint16_t (&date_time)[2], bool utc);
time& time_from_dos(time& t, uint16_t dos_date, uint16_t dos_time, bool utc);
time time_from_dos(const uint16_t (&date_time)[2], bool utc);
time time_from_dos(uint16_t dos_date, uint16_t dos_time, bool utc);

// From broken-down time (UTC, or local when utc is false); returns validity.
bool time_from_tm(time& t, const struct tm& tm_in, int32_t milliseconds, bool utc);

time& time_from_unix32(time& t, uint32_t seconds);
time time_from_unix32(uint32_t seconds);

// The current time, to the microsecond.
time& time_now(time& t);
time time_now();

uint16_t time_year(const time& t);
uint16_t time_month(const time& t);
uint16_t time_day(const time& t);
uint16_t time_hour(const time& t);
uint16_t time_minute(const time& t);
uint16_t time_second(const time& t);
uint64_t time_nanoseconds(const time& t);
uint32_t time_milliseconds(const time& t, bool round_up);
uint64_t time_microseconds(const time& t, bool round_up);
bool time_in_year_range(const time& t, const time_format_settings& settings);

// Arithmetic on a valid value (an invalid one is left unchanged). A result
// outside the tick range makes the value invalid.
void time_add_minutes(time& t, int32_t minutes);
void time_add_milliseconds(time& t, int32_t milliseconds);
void time_add_microseconds(time& t, int32_t microseconds);
void time_add_days(time& t, int32_t days);
void time_subtract_days(time& t, int32_t days);

// ---- calendar arithmetic ----

// False, with out zeroed, when the top bit of the ticks is set.
bool calendar_from_filetime(calendar_fields& out, uint64_t ticks);
bool filetime_to_calendar(uint64_t ticks, calendar_fields& out);
// The first 16 bytes of the calendar block; out untouched on failure.
bool filetime_to_systemtime(uint64_t ticks, _windows_systemtime& out);
void systemtime_clear(_windows_systemtime& st);
// The fields taken as UTC. False when they give no representable tick count
// (out then holds 0).
bool systemtime_to_filetime(FILETIME& out, const _windows_systemtime& st);
bool systemtime_to_filetime(uint64_t& out, const _windows_systemtime& st);
// Broken-down UTC time to ticks; normalises the month (and year) in place.
// Day and time fields run on past their ranges. Returns 0 when the result
// does not fit a signed 64-bit tick count.
uint64_t tm_to_filetime(struct tm& tm_io, int64_t milliseconds);
// Seconds since 1970, rounded toward minus infinity; false (out untouched)
// for ticks with the top bit set.
bool filetime_to_unix_seconds(uint64_t ticks, int64_t& out);
// False outside 1980..2037 (out untouched).
bool filetime_to_dos(uint64_t ticks, uint16_t (&out)[2]);
// Unix seconds to broken-down time shifted by offset_hours; false for an
// instant before 1970 or from 3001 on.
bool unix_to_tm(int64_t seconds, struct tm& out, float offset_hours);
bool unix_to_tm_utc(int64_t seconds, struct tm& out);
bool unix_to_tm_local(int64_t seconds, struct tm& out);
// mktime on a copy; true when the result is above 0.
bool tm_to_unix_local(const struct tm& tm_in, int64_t& out);
// Seconds east of UTC, measured once (on first use) and kept for the run.
int32_t local_utc_offset();
// Measures the offset again from the zone setting as it now stands and keeps
// that; for a caller that has changed the setting on purpose.
int32_t settle_local_utc_offset();
bool store_filetime(uint64_t ticks, FILETIME& out);
bool filetime_words_to_calendar(const FILETIME& ft, calendar_fields& out);

inline uint64_t filetime_value(const FILETIME& ft) {
  return static_cast<uint64_t>(ft.dwLowDateTime) | (static_cast<uint64_t>(ft.dwHighDateTime) << 32);
}

// ---- kinds ----

// A raw value of a kind; a kind that has no conversion leaves the value
// invalid, as does any value whose ticks cannot be represented.
time& time_from_u64(time& t, uint64_t value, type_time kind);
time& time_from_i64(time& t, int64_t value, type_time kind);
time& time_from_double(time& t, double value, type_time kind);
time time_from_u64(uint64_t value, type_time kind);
time time_from_i64(int64_t value, type_time kind);
time time_from_double(double value, type_time kind);

// To FILETIME ticks. firefox3_to_filetime is false when the ticks overflow.
bool firefox3_to_filetime(int64_t microseconds, uint64_t& ticks);
bool snowflake_to_filetime(int64_t id, uint64_t& ticks);
bool safari_to_filetime(uint64_t value, uint64_t& ticks);
// The timestamp of a version-1 GUID in its 16-byte stored layout. Outputs
// are zeroed (node emptied) first; false for another version or a time
// before 1601.
bool guid_v1_to_filetime(uint64_t& ticks, uint16_t& clock_sequence, std::vector<uint8_t>& node,
                         const uint8_t* guid);
// Only the ticks of guid_v1_to_filetime (0 where it gives false).
uint64_t guid_v1_ticks(const uint8_t* guid);
// The same on bytes at an offset; a leading '{' at offset 0 is skipped. False
// unless 16 bytes are there.
bool guid_v1_bytes_to_filetime(uint64_t& ticks, uint16_t& clock_sequence,
                               std::vector<uint8_t>& node, const std::vector<uint8_t>& bytes,
                               uint32_t offset);

uint64_t filetime_to_chrome(uint64_t ticks);
// Seconds since 2000-01-01 00:00:00 UTC; 0 for an earlier instant.
uint64_t filetime_to_vhd(uint64_t ticks);

// To unix seconds (rounded toward minus infinity); false, out untouched, when
// the tick count is negative or overflows.
bool chrome_to_unix_seconds(uint64_t microseconds, int64_t& out);
bool firefox3_to_unix_seconds(int64_t microseconds, int64_t& out);
bool safari_to_unix_seconds(uint64_t value, int64_t& out);

bool filetime_words_to_systemtime(const FILETIME& ft, _windows_systemtime& out);
bool systemtime_from_filetime_value(_windows_systemtime& out, FILETIME ft);

// ---- formatting ----
//
// Every formatter fills a date text and a time text and leaves both empty for
// an invalid value. Sub-second digits are truncated, never rounded.

// ISO-like "yyyy-mm-dd" (or "yy-mm-dd") and "hh:mm:ss", with milliseconds or
// nanoseconds; use_locale takes the date in the form of the time locale.
void format_date_time(std::string& date, std::string& time_text, const time& t, bool subseconds,
                      bool two_digit_year, bool use_locale, bool nanoseconds);
// "2024-03-05" and "07:08:09.123".
void format_date_time_ms(std::string& date, std::string& time_text, const time& t, bool use_locale);
// "2024-03-05" and "07:08:09".
void format_date_time_sec(std::string& date, std::string& time_text, const time& t,
                          bool use_locale);
// Date, a blank and time ("yyyy-mm-dd hh:mm:ss.mmm"); only the blank for an
// invalid value.
void write_date_time(std::ostream& os, const time& t);
// "yy-mm-dd hh:mm:ss.mmm", or "0000-00-00 00:00:00" for an invalid value.
void write_date_time_yy_ms(std::ostream& os, const time& t);
void append_date_time(std::string& out, const time& t);
void format_date_time_wide(std::wstring& date, std::wstring& time_text, const time& t,
                           bool use_locale);

// Layouts given as templates: "yyyy-mm-dd", "mm/dd/yy", "mmm dd, yyyy",
// "yyyymmdd", ... and "hh:mm", "hh:mm:ss", "hh:mm:ss.xxx" (3 to 9 x's).
// An empty template leaves its text empty. False for an invalid value.
bool format_with_templates(std::string& date, std::string& time_text, const time& t,
                           const std::string& date_template, const std::string& time_template);
// Either template missing (null) gives format_date_time_ms and true.
bool format_with_template_texts(std::string& date, std::string& time_text, const time& t,
                                const char* date_template, const char* time_template);
// format_with_templates with the time cut at its first '.'.
bool format_without_subseconds(std::string& date, std::string& time_text, const time& t,
                               const std::string& date_template, const std::string& time_template);

// Layouts from the compact descriptor built by build_time_format_settings.
// False for an invalid value, and for the all-zero descriptor (which still
// formats "yyyy-mm-dd" and "hh:mm:ss.xxx").
// Appends "<date> <clock>" of FILETIME ticks by the layout (a zero layout
// is yyyy-mm-dd hh:mm:ss.xxx), worked out from the ticks alone with no time
// value and no library call. False, appending nothing, when the ticks are
// not a valid time of the years 1900 to 3000 or the layout gives no date.
bool append_filetime_text(std::string& out, uint64_t ticks, const time_format_descriptor& d);
// A valid time of the years 1900 to 3000: the ticks append_filetime_text
// writes under a layout that gives a date.
bool filetime_printable(uint64_t ticks);
// The room put_filetime_text needs at its destination.
inline constexpr size_t k_filetime_text_room = 32;
// The same text written at `at`, which has k_filetime_text_room bytes of
// room; returns its end, or `at` when there is no text.
char* put_filetime_text(char* at, uint64_t ticks, const time_format_descriptor& d);
// The date and the clock texts of FILETIME ticks, held in place.
struct filetime_texts {
  char m_date[64];
  char m_clock[64];
  uint8_t m_date_size = 0;
  uint8_t m_clock_size = 0;
  std::string_view date() const { return {m_date, m_date_size}; }
  std::string_view clock() const { return {m_clock, m_clock_size}; }
  // Appends "<date> <clock>", as a report line shows a time.
  void append_to(std::string& out) const { out.append(date()).append(1, ' ').append(clock()); }
};
// The two texts format_time_by_descriptor gives for time(ticks, filetime)
// and the layout, worked out from the ticks; false (both empty) when that
// time is not valid.
bool filetime_date_clock(filetime_texts& out, uint64_t ticks, const time_format_descriptor& d);
bool format_time_by_descriptor(std::string& date, std::string& time_text, const time& t,
                               const time_format_descriptor& descriptor);
bool format_time_by_descriptor(std::string& date, std::string& time_text, const time& t,
                               const time_format_settings& settings);
// Date, a blank and time by the settings' descriptor; an all-zero descriptor
// is first built from "yyyy-mm-dd" and "hh:mm:ss.xxx".
void write_time_by_descriptor(std::ostream& os, const time& t, time_format_settings& settings);
// The instant shifted by utc_offset_minutes, laid out by the settings'
// descriptor without sub-second digits.
bool format_time_by_settings(std::string& date, std::string& time_text, const time& t,
                             const time_format_settings& settings, int32_t utc_offset_minutes);
// write_date_time of FILETIME ticks as one line.
void write_filetime_line(uint64_t ticks, std::ostream& os);
// write_date_time_yy_ms of FILETIME ticks.
void write_filetime_yy_ms(std::ostream& os, uint64_t ticks);
void write_filetime_yy_ms(std::wostream& os, uint64_t ticks);
// "yyyy-mm-dd hh:mm:ss.nnnnnnnnn"; false for ticks 0 or an invalid value.
bool format_filetime_ns(std::string& out, uint64_t ticks);

// The option parser's tests of "-dateformat" and "-timeformat" values.
bool is_date_template(const std::string& text);
bool is_time_template(const std::string& text);

}  // namespace vk
