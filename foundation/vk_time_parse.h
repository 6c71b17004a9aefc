// Time values from date and time texts, from raw bytes and other
// encodings; date text readers and writers; labelled field lines; and the
// single-value step of the raw time scanner.
//
// The time window options ("-cmd_start_time", "-cmd_stop_time") read their
// dates here; the rest is library code held to the same rule: hostile text
// or bytes give false, 0 or an invalid time, never a wrong one.
#pragma once

#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "foundation/vk_ntp.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_parse_debug.h"
#include "foundation/vk_time.h"

namespace vk {

// ---- date and time texts ----

// A date read by parse_date_by_order (order letters D, M, Y, "Mon" for a
// month name; separator between fields) and an optional time of day
// (parse_clock_time). False for a missing date, an unreadable part, or a
// field that does not fit its 16 bits. Milliseconds are rounded, so 59.9996 s
// gives 59 s and 1000 ms.
bool parse_date_time_text(const char* date, const char* time_text, const std::string& order,
                          char separator, _windows_systemtime& out);
// The same with a month-day-year date (parse_mdy_date).
bool parse_mdy_date_time_text(const char* date, const char* time_text, _windows_systemtime& out);
// A month-day-year date and a time of day into tm (milliseconds dropped).
// Either may be null, not both.
bool parse_date_time_to_tm(const char* date, const char* time_text, struct tm& out);
// "03/05/2024" or "03/05/2024 10:30"; without a time, midnight.
time& time_from_date_text(time& t, const char* text, bool utc);
// The raw value read as the first kind of filetime, chrome, firefox3, unix,
// ntp, safari and hfs+ whose time falls in [Jan 1 first_year, Jan 1
// last_year] (local time), then the same with each 32-bit half byte-reversed.
bool guess_time_kind_by_years(uint64_t& ticks, uint32_t& kind, uint64_t value, int32_t first_year,
                              int32_t last_year);
bool guess_time_ticks(uint64_t& ticks, uint64_t value, int32_t first_year, int32_t last_year);
// "mm/dd/yyyy : hh:mm:ss.mmm".
bool write_us_date_time(std::string& out, const _windows_systemtime& st);
// "yyyy-mm-ddThh:mm:ssZ" of the seconds shifted by offset_hours.
bool write_iso_utc(int64_t unix_seconds, std::string& out, float offset_hours);

// ---- time values from other encodings ----

// Text of a kind: filetime, chrome and firefox3 as hexadecimal, unix time as
// decimal seconds (0 or less invalid), VHD time as hexadecimal seconds. Other
// kinds have no text form and give an invalid time.
time& time_from_text(time& t, const std::string& text, type_time kind);
// The byte form of a kind at the offset (see the table in the source); false,
// with the time invalid, when the bytes are not there or do not convert.
bool time_set_from_bytes(time& t, const std::vector<uint8_t>& bytes, size_t offset, type_time kind);
bool time_set_from_bytes(time& t, const uint8_t* bytes, size_t size, size_t offset, type_time kind);
time& time_from_bytes(time& t, const std::vector<uint8_t>& bytes, type_time kind);
time& time_from_systemtime(time& t, const _windows_systemtime& st);
time& time_from_tm_utc(time& t, const struct tm& tm_in, bool utc);
time& time_from_filetime_pair(time& t, uint32_t low, uint32_t high);
// A performance-counter reading: base - start * f + stop * f with f =
// 10^7 / frequency (qpc_time) or 10 / frequency (0x2000), else 0. A zero
// frequency or a product out of range leaves the time invalid.
time& time_from_counter(time& t, uint64_t base, uint64_t start, uint64_t stop, uint64_t frequency,
                        uint32_t kind);
// Unix seconds (above 0) and microseconds; only the unix kind.
time& time_from_seconds_micro(time& t, int32_t seconds, int32_t microseconds, type_time kind);
// Ticks plus a fraction of a tick (its whole part added first); the calendar
// sub-second fields take the fraction. Ticks 0 or a bad fraction: invalid.
bool time_set_filetime_fraction(time& t, uint64_t ticks, double fraction);
// A date and time text in the given date order and separator, as UTC.
time& time_from_date_order_text(time& t, const char* text, const std::string& order,
                                char separator);

// A field whose kind is given as a 64-bit mask of its own bit assignment.
struct time_field_desc {
  uint64_t m_kind_mask = 0;
  bool m_enabled = false;
};
bool is_unix_kind_mask(const time_field_desc& desc);
time& time_from_field_value(time& t, uint64_t value, const time_field_desc& desc, bool is_double);
uint64_t field_value_to_filetime(uint64_t value, const time_field_desc& desc, bool is_double);

// The first kind of the mask (lowest bit first) whose time has a year in
// [lowest, highest]; false when none or the mask is 0.
bool guess_time_kind(time& out, uint32_t& kind, uint16_t highest, uint16_t lowest, uint64_t value,
                     uint32_t mask);
bool guess_time_kind_double(time& out, uint32_t& kind, uint16_t highest, uint16_t lowest,
                            double value, uint32_t mask);
// filetime stores the value, unix time its ticks; other kinds nothing.
void store_filetime_of_kind(FILETIME& out, uint64_t value, type_time kind);
void store_unix_as_filetime(uint64_t seconds, FILETIME& out);

// Order of the FILETIME ticks, as signed numbers.
bool operator>=(const time& a, const time& b);
bool operator>(const time& a, const time& b);

void calendar_init(calendar_fields& c);
void calendar_clear(calendar_fields& c);
void systemtime_zero(_windows_systemtime& st);

// ---- date text readers ----

// "2026-12-06T08:26:29.5Z" or a date alone, as UTC ticks; 0 when a part
// does not read.
uint64_t parse_iso8601_time(const std::string& text);
// "Sun, 06 Dec 2026 08:26:29 +0100" as ticks of the written clock time (the
// zone is not applied); 0 for under 20 characters or a part that does not read.
uint64_t parse_email_date(const std::string& text);
bool parse_iso8601_systemtime(const std::string& text, const std::string& order, char separator,
                              _windows_systemtime& out);
// The local offset (seconds) at a local date and time text; 0 when unreadable.
int32_t local_offset_of_text(bool& is_dst, const char* text);
bool parse_date_time_text_w(const std::wstring& date, const std::wstring& time_text,
                            _windows_systemtime& out);

// ---- date text writers ----

// "Fri; 02 Jan 1970 00:00:00 +0000"; the zone is -bias as hours and minutes.
// Seconds of 0 mean now.
bool write_email_date(std::string& out, int64_t unix_seconds, int32_t bias_minutes);
// Two-digit (or four-digit) year, no sub-seconds; "00/00/00 00:00:00" for an
// invalid time.
void write_date_time_yy(std::ostream& os, const time& t);
void write_date_time_sec(std::ostream& os, const time& t);
bool format_date_time_by_template(std::string& date, std::string& time_text, const time& t,
                                  const std::string& layout, bool subseconds, bool two_digit_year,
                                  bool use_locale, bool nanoseconds);
bool filetime_text_by_settings(std::string& out, uint64_t ticks, time_format_settings& settings);
bool filetime_text_by_descriptor(std::string& date, std::string& time_text, uint64_t ticks,
                                 const time_format_descriptor& descriptor);
bool filetime_text_by_templates(std::string& out, uint64_t ticks, const std::string& date_template,
                                const std::string& time_template);
// "0x" and 16 lower-case hexadecimal digits.
std::string& hex_u64_text(std::string& out, uint64_t value);
void write_hex_u64(std::ostream& os, uint64_t value);
void write_date_only(std::ostream& os, const time& t);
// "mm/dd/yyyy : hh:mm:ss [ mmm ms ]".
void write_time_us(std::ostream& os, const time& t, bool date_only);
void write_time_us_w(std::wostream& os, const time& t, bool date_only);
// The ticks less the local offset from UTC at that moment; 0 when invalid.
uint64_t subtract_local_offset(uint64_t ticks);
// reference - NTP(ft); all zero when the FILETIME does not convert.
signed_ntp& filetime_ntp_offset(signed_ntp& out, const signed_ntp& reference, const FILETIME& ft);

// ---- labelled field lines ----
//
// "00000040 : size    : 00001234 [note]" - offset, name padded to the width,
// the value in hexadecimal of 2 x bytes digits (strings as they are). They
// return the byte count used, 0 (nothing written) for a null name.

uint32_t write_offset_field_line_u64(std::ostream& os, const char* name, uint64_t value,
                                     uint64_t offset, uint32_t width, const char* note = nullptr,
                                     uint32_t bytes = 0);
uint32_t write_offset_field_line(std::ostream& os, const char* name, uint32_t value,
                                 uint64_t offset, uint32_t width, const char* note = nullptr,
                                 uint32_t bytes = 0);
uint32_t write_offset_field_line_str(std::ostream& os, const char* name, const std::string& value,
                                     uint64_t offset, uint32_t width, const char* note = nullptr,
                                     uint32_t bytes = 0);
// To the debug stream, only when debug output is on (else 0).
uint32_t debug_field_line(const parse_debug& ctx, const char* name, uint32_t value, uint64_t offset,
                          uint32_t width, const char* note = nullptr, uint32_t bytes = 0);
// A u32 holding a DOS date (low half) and time (high half); the note is its
// date and time.
uint32_t write_dos_time_line(std::ostream& os, const char* name, uint32_t value, uint64_t offset,
                             uint32_t width);
uint32_t debug_dos_time_line(const parse_debug& ctx, const char* name, uint32_t value,
                             uint64_t offset, uint32_t width);

// ---- one step of the raw time scanner ----

// One reading that landed inside a window.
struct time_hit {
  std::vector<uint8_t> m_raw;  // the value's bytes in buffer order
  uint64_t m_ticks = 0;
  uint64_t m_offset = 0;
  uint32_t m_kind = 0;
  bool m_little_endian = true;
  uint32_t m_width = 0;
};
using time_hit_store = std::multimap<uint64_t, time_hit>;

void time_hit_clear(time_hit& hit);
// width bytes from value_bytes, reversed for a big-endian reading.
void time_hit_set(time_hit& hit, const uint8_t* value_bytes, uint64_t ticks, uint64_t offset,
                  uint32_t kind, bool little_endian, uint32_t width);
// Tries the kinds of the mask on one value (64-bit kinds when the high word
// is set, else 32-bit kinds) and stores a hit for each valid time with
// from <= ticks <= to (signed). True when any was added.
bool scan_value_for_times(time_hit_store& hits, uint64_t value, uint64_t to, uint64_t from,
                          uint64_t offset, bool little_endian, bool clear, uint32_t mask);

}  // namespace vk
