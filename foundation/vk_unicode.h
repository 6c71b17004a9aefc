// Text encoding conversions between UTF-8 (std::string), wide text
// (std::wstring, one 32-bit code point per element), code-point vectors and
// UTF-16 code units; the UTF-16 decoder used by every parser of Windows
// structures; and the canonical text of a GUID.
//
// No routine here throws: failures are a false result or an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"

namespace vk {

// ---------------------------------------------------------------------------
// UTF-16 text inside parsed structures.
//
// For file data use the bounded forms: they take the start of the text and
// the number of bytes left in the buffer, never read past them, stop at a
// zero unit, and return the bytes consumed (twice the units taken, plus 2
// when count_terminator is set and a zero unit was found inside the bytes),
// so the caller can step over the string. The pointer may be unaligned.
// Surrogate pairs are joined; a surrogate that is half of no pair becomes
// U+FFFD, so the UTF-8 form is always well formed.
//
//   std::string name;
//   pos += vk::utf16_to_utf8(buf + pos, size - pos, name);
// ---------------------------------------------------------------------------
uint32_t utf16_to_utf8(const void* text, size_t bytes_remaining, std::string& out,
                       bool count_terminator = true);
std::string utf16_to_utf8(const void* text, size_t bytes_remaining);
uint32_t utf16_to_wide(const void* text, size_t bytes_remaining, std::wstring& out);

// The forms with a signed 32-bit byte length. A length of -1 means "no
// length known": the text runs to the first zero unit, at most 500 units.
// Only for text whose terminator the caller has made sure of (a buffer of its
// own); file data goes through the bounded forms above.
uint32_t utf16_to_wide(const uint16_t* text, std::wstring& out, int32_t byte_length);
uint32_t utf16_to_utf8(const uint16_t* text, std::string& out, int32_t byte_length,
                       bool count_terminator);
// Zero-terminated text (length -1, terminator counted); returns out.
std::string& utf16_to_utf8(const uint16_t* text, std::string& out);
std::string utf16_to_utf8(const uint16_t* text);

// Lower-case text without braces, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x".
std::string guid_to_string(const guid& g);
// Clears out; false for a null pointer.
bool guid_to_string(std::string& out, const guid* g);
// The same text appended to out.
void append_guid_text(std::string& out, const guid& g);
// The same 36 characters written into text.
void write_guid_text(char (&text)[36], const guid& g);
// A droid's MAC address, its six node bytes as "%02x:" pairs, written into
// text; false, nothing written, unless the droid is of version 1 (time and
// node): another version's node bytes are random, not an address.
bool write_droid_mac_text(char (&text)[17], const guid& g);

// ---------------------------------------------------------------------------
// Core decoders and encoders. Each clears its output first unless noted.
// ---------------------------------------------------------------------------

// Strict UTF-8 decoding (lead/continuation structure only; overlong forms,
// surrogates and values above 0x10FFFF pass). False on an empty input or a
// bad or cut sequence; out keeps what was decoded before the fault.
bool utf8_decode_to_wide(const std::string& in, std::wstring& out);
bool utf8_to_wide(const std::string& in, std::wstring& out);
// "" for an empty input or on any decoding failure.
std::wstring from_utf8(const std::string& in);

// UTF-8 encoding; a value above 0x10FFFF (a negative wchar_t included) stops
// it with false, leaving the bytes made so far. Surrogates encode as three
// bytes. False for an empty input.
bool code_points_to_utf8(const std::vector<uint32_t>& in, std::string& out);
bool wide_encode_to_utf8(const std::wstring& in, std::string& out);
bool wide_to_utf8(const std::wstring& in, std::string& out);
// The encoded text; what was made before a stop is returned.
std::string to_utf8(const std::wstring& in);

// Little-endian UTF-16 units, length in bytes (an odd last byte is ignored).
// A high surrogate needs a low partner (else false); a lone low surrogate is
// encoded as is; a zero unit becomes a zero byte. A length below 2 gives
// false with out untouched; a null pointer gives false.
bool utf16le_bytes_to_utf8(const void* units, int64_t length_bytes, std::string& out);
bool utf16_vector_to_utf8(const std::vector<uint16_t>& in, std::string& out);

bool utf8_to_code_points(const std::string& in, std::vector<uint32_t>& out);
// False for an empty input, a surrogate value or a value above 0x10FFFF.
bool code_points_to_utf16(const std::vector<uint32_t>& in, std::vector<uint16_t>& out);
bool utf8_to_utf16_vector(const std::string& in, std::vector<uint16_t>& out);

// ---------------------------------------------------------------------------
// Derived forms.
// ---------------------------------------------------------------------------
bool utf8_bytes_to_wide(const std::vector<uint8_t>& in, std::wstring& out);
std::wstring utf8_bytes_to_wide_text(const std::vector<uint8_t>& in);
bool utf8_bytes_to_utf16_vector(const std::vector<uint8_t>& in, std::vector<uint16_t>& out);
// True when the result is not empty.
bool utf16_vector_to_wide(const std::vector<uint16_t>& in, std::wstring& out);
bool utf16_vector_to_utf8_bytes(const std::vector<uint16_t>& in, std::vector<uint8_t>& out);
std::string utf16_vector_to_utf8_string(const std::vector<uint16_t>& in);
bool utf16_to_code_points(const std::vector<uint16_t>& in, std::vector<uint32_t>& out);
// False for an empty or odd-length vector.
bool utf16le_bytes_to_code_points(const std::vector<uint8_t>& in, std::vector<uint32_t>& out);
// length / 2 little-endian units; false for a null buffer or a length of 0.
bool bytes_to_utf16_units(const void* buf, size_t length, std::vector<uint16_t>& out);
bool byte_vector_to_utf16_units(const std::vector<uint8_t>& in, std::vector<uint16_t>& out);
// in holds UTF-16LE bytes; false when it holds fewer than 2.
bool utf16le_string_to_utf8(const std::string& in, std::string& out);
bool wide_to_utf8_bytes(const std::wstring& in, std::vector<uint8_t>& out);
// Each character cut to its low 16 bits (no surrogate pairs); false when empty.
bool wide_to_utf16_units_truncating(const std::wstring& in, std::vector<uint16_t>& out);
// Element by element; false when empty.
bool code_points_to_wide(const std::vector<uint32_t>& in, std::wstring& out);
// One conversion per element; false for an empty list.
bool utf8_list_to_wide(const std::vector<std::string>& in, std::vector<std::wstring>& out);
bool wide_to_utf8_list(const std::vector<std::wstring>& in, std::vector<std::string>& out);
std::string char_vector_to_string(const std::vector<char>& in);
bool string_to_char_vector(const std::string& in, std::vector<char>& out);
// Bytes 0x80-0xFF become two-byte sequences; false for an empty input.
bool latin1_string_to_utf8(const std::string& in, std::string& out);
// Code points of a UTF-8 text; 0 for an empty or malformed text.
size_t utf8_char_count(const std::string& in);

}  // namespace vk
