// Numbers, byte lists, clock times and dates read from text.
//
// Option values typed on the command line (counts, offsets, signature bytes,
// times of day, dates) reach the tool as text. Each reader has its own fixed
// rules for prefixes and bases; they differ on purpose and are documented one
// by one. None throws; each reports by its result and fills its outputs.
#pragma once

#include <cstdint>
#include <ios>
#include <string>
#include <vector>

namespace vk {

// ---- integers ----

// Trimmed and lower-cased; an 'x' anywhere reads the text after the first
// one as hexadecimal, else an 'o' anywhere the text after it as octal, else a
// text starting with a sign or digit as decimal (saturating at the signed
// 32-bit range). So "1fx" and "none" give 0 with true. False for a null,
// empty or blank text and for any other first character.
bool parse_int_text(const char* text, uint32_t* out);
bool parse_int_text(const std::string& text, uint32_t* out);
bool parse_int_wtext(const std::wstring& text, uint32_t* out);
// Leading blanks skipped; inner or trailing blanks, more than 30 characters
// or nothing but blanks fail. Hexadecimal when more than two characters
// remain and the second (then the first) is 'x'; octal after a leading 'o';
// otherwise decimal. Reading stops at the first non-digit: "12ab" gives 12,
// "x5" (decimal, no digit) 0 with true.
bool parse_u64_text(const char* text, uint64_t* out);
bool parse_u64_text(const std::string& text, uint64_t* out);
// As parse_int_text on the caller's text (trimmed and lower-cased in place),
// every branch saturating at 0x7FFFFFFF and -0x80000000.
bool parse_long_text(std::string& text, int64_t* out);
bool parse_long_cstr(const char* text, int64_t* out);
// Each character cut to its low 8 bits first.
bool parse_long_wtext(const std::wstring& text, int64_t* out);
// The UTF-8 form through parse_uint.
bool parse_uint_wtext(const std::wstring& text, uint32_t* out);
// Words (blank-separated, double-quoted runs kept whole) read by
// parse_long_text; unreadable words are skipped. True when any was read.
bool parse_number_list(const std::string& text, std::vector<int64_t>& out);
// A stream read in the given base field; 0 when nothing can be read.
uint64_t read_u64_with_base(const std::string& text, const std::ios_base::fmtflags* base);
// False for a null or empty text; a text without a number gives 0.0.
bool parse_double_text(const char* text, double* out);

// ---- byte lists ----

// Pieces between delimiters, trimmed, empty ones dropped; each becomes the
// low 8 bits of its value (hexadecimal, or by parse_int_text; a piece that
// does not read gives 0).
std::vector<uint8_t> parse_byte_list(const std::string& text, char delimiter, bool hex);
// Hexadecimal bytes separated by blanks, ',', ':' or '-' (the first present
// in that order); without a separator one byte of exactly two digits (four
// characters with an 'x').
bool parse_hex_byte_text(const std::string& text, std::vector<uint8_t>& out);
// Packed digit pairs ("0a1b2c"); an odd last digit is a byte of its own.
bool parse_hex_pairs(const std::string& text, std::vector<uint8_t>& out);
// Address-like texts "192.168.0.1", "00:1a:2b", "10-20": decimal pieces
// unless a piece holds a hexadecimal letter or the first is 'x'-prefixed.
bool parse_separated_bytes(const char* text, std::vector<uint8_t>& out);
// parse_separated_bytes giving exactly count bytes, copied to out.
bool parse_hex_bytes_fixed(const char* text, uint8_t* out, int32_t count);

// ---- times of day ----

// "9:05", "21:30:15.25", "10:30 pm": hours, minutes and seconds with their
// fraction. With "pm" the hours gain 12 except 12 itself; with "am" 12
// becomes 0. A field over 31 characters, an empty minutes field, or a
// negative, non-finite or above-u32 value fails.
bool parse_clock_time(const char* text, uint32_t* hours, uint32_t* minutes, double* seconds);
bool parse_clock_time_whole(const char* text, uint32_t* hours, uint32_t* minutes,
                            uint32_t* seconds);
// The same texts as milliseconds of the day; each field 1 to 31 characters.
bool parse_clock_time_ms(const char* text, uint32_t* milliseconds);

bool int_to_text(int32_t value, std::string& out);
bool u64_to_text(uint64_t value, std::string& out);

// ---- dates ----

// Three fields separated by the separator (empty pieces after the first are
// skipped) in the order of the order string: letters D, M, Y, with "Mon"
// (exact case) for a field holding a three-letter month name. The order
// string is left upper-cased with "Mon" turned into "M". Years up to 99 are
// widened (0-30 to 2000-2030, else 1900s). True when month <= 12 and day <= 31.
bool parse_date_by_order(const char* text, std::string& order, char separator, uint32_t* day,
                         uint32_t* month, uint32_t* year);
// "12/31/99", "12-31-1999" (month-day-year) or "31-Dec-2020" (day-month-year).
bool parse_mdy_date(const char* text, uint32_t* day, uint32_t* month, uint32_t* year);

}  // namespace vk
