// Self-contained text conversions offered to the tools of the family:
// Base64 and quoted-printable encoding, Windows service-path normalising,
// duration and release-name texts, one-character UTF-8 encoders, GUID and
// hexadecimal text readers, random strings, and list splitters and joiners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"

namespace vk {

// RFC 4648 Base64 with '=' padding. wrap: a line break every 76 characters
// (CR LF with crlf); crlf also ends the output with CR LF; zero_terminate
// appends a 0 byte. False for a null or empty input.
bool base64_encode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out, bool wrap,
                   bool zero_terminate, bool crlf);
// '=' becomes "=3D"; a soft break "=\r\n" keeps every line within 76
// characters (an "=3D" is never split).
void quoted_printable_encode(std::string& out, const std::string& text);
void quoted_printable_decode(std::string& out, const std::string& text);
// A service or driver path as a lower-case file path: switches cut, the
// system-root forms replaced by system_root, "\??\" and "\\?\" removed.
bool normalize_windows_path(const char* path, std::string& out, const std::string& system_root);
// "1 day 1 hour 1 min 1 sec"; empty for 0 and 0xFFFFFFFF.
void duration_text(std::string& out, uint32_t seconds);
void windows_release_name(std::string& out, uint16_t build);
void utf8_from_utf16_unit(std::string& out, uint16_t unit);
void utf8_from_latin1(std::string& out, uint8_t c);
// "00112233-4455-6677-8899-aabbccddeeff" (any one separator character
// between groups) into its 16 stored bytes; false unless the 36 characters
// hold hexadecimal groups.
bool parse_guid_text(const std::string& text, std::vector<uint8_t>& out);
// Exactly 32 hexadecimal digits; anything else leaves out unchanged.
void parse_guid_hex32(guid& out, const std::string& text);
bool hex_pairs_to_bytes(const std::string& text, std::vector<uint8_t>& out);
// Each two characters one hexadecimal byte; an odd last character alone.
void hex_text_to_bytes(std::vector<uint8_t>& out, const std::string& text);
bool wide_hex_to_bytes(const std::wstring& text, uint8_t* out, int32_t count);
bool ipv4_to_wide(uint32_t address, std::wstring& out);
void lower_copy(std::string& out, const char* text);

void random_printable_string(std::string& out, size_t n);
void random_hex_string(std::string& out, size_t n);
void random_alnum_string(std::string& out, size_t n);
void random_upper_string(std::string& out, size_t n);
void random_digit_string(std::string& out, size_t n);

// The NUL-separated strings of a buffer; length -1: up to the first NUL.
void split_nul_strings(const uint8_t* bytes, std::vector<std::string>& out, int64_t length);
// The same over UTF-16 units (byte length); stop ends the walk at a double
// NUL, else runs of NULs are skipped.
void split_nul_wstrings(const uint8_t* units, std::vector<std::wstring>& out, int64_t length,
                        bool stop);
// Pieces between occurrences of a 2-byte little-endian delimiter, optionally
// trimmed, empty ones dropped; returns the bytes walked.
size_t split_at_u16(const uint8_t* bytes, size_t length, uint16_t delimiter,
                    std::vector<std::string>& out, bool trim);
// Trimmed text gathered before each '>' outside tags; true when any.
bool text_outside_tags(const uint8_t* bytes, size_t length, std::vector<std::string>& out);
bool join_quoted(std::string& out, size_t& count, const std::vector<std::string>& list);
bool join_quoted_w(std::wstring& out, size_t& count, const std::vector<std::wstring>& list);
bool text_in_parentheses(const std::string& text, std::string& out);
// From the first c on, escape goes before every c.
void insert_before_char(std::string& text, char c, char escape);
// From the first c on, escape goes before every character other than c.
void insert_before_other_chars(std::wstring& text, wchar_t c, wchar_t escape);
// At most 768 units (and at most count) up to the first 0, lower-cased.
void wide_from_utf16_lower(std::wstring& out, const uint16_t* units, size_t count);
size_t erase_wchar(std::wstring& text, wchar_t c);
std::wstring& show_line_ends_w(std::wstring& text);

}  // namespace vk
