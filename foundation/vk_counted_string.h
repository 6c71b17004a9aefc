// Counted UTF-16 strings in the layout of the Windows UNICODE_STRING, a
// length-prefixed byte-string format, and small conversions between byte
// texts, wide texts and UTF-16 code-unit buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk {

// A counted UTF-16 string (lengths in bytes) that either wraps a caller's
// buffer or owns one.  Not copyable: an owned buffer has exactly one owner.
struct _UNICODE_STRING_EX {
  uint16_t Length = 0;         // bytes of text, terminator not counted
  uint16_t MaximumLength = 0;  // buffer size in bytes
  uint16_t* Buffer = nullptr;
  uint32_t m_owner_word = 0;  // free for the owner; cleared with an unowned buffer
  bool owns_buffer = false;

  // Wraps an empty buffer of max_length bytes.
  _UNICODE_STRING_EX(uint16_t* buffer, uint16_t max_length);
  // Wraps a buffer that already holds length bytes of text.
  _UNICODE_STRING_EX(uint16_t* buffer, uint16_t length, uint16_t max_length);
  // Owns a new buffer of capacity code units (none for 0; all members 0 when
  // the allocation fails).
  explicit _UNICODE_STRING_EX(uint32_t capacity);
  virtual ~_UNICODE_STRING_EX();

  _UNICODE_STRING_EX(const _UNICODE_STRING_EX&) = delete;
  _UNICODE_STRING_EX& operator=(const _UNICODE_STRING_EX&) = delete;

  // Length 0; an owned buffer is zero-filled, an unowned one is forgotten.
  void clear();
  // Appends the text (one unit per byte / per character cut to 16 bits) and
  // a terminating 0 unit.  An owned buffer grows as needed up to 0xFFFF bytes;
  // false, with the object unchanged, when the text does not fit.
  bool append(const char* text);
  bool append(const wchar_t* text);

 private:
  template <typename Ch>
  bool append_units(const Ch* text);
};

// Units before the first 0 unit; 0 for null or when none lies in the first 513.
uint32_t utf16_len_capped(const uint16_t* units);
// Size less a trailing 0 unit.
size_t utf16_vector_length(const std::vector<uint16_t>& units);
// Each byte as one unit, LF written as CR LF, then a 0 unit; null for a null
// or empty text.
const uint16_t* ascii_to_utf16_crlf(std::vector<uint16_t>& out, const char* text);
// The same from wide text (characters cut to 16 bits), without a 0 unit.
const uint16_t* wide_to_utf16_crlf(std::vector<uint16_t>& out, const wchar_t* text);
// One wide character per byte; a null or empty text leaves out unchanged.
void widen_ascii(const char* text, std::wstring& out);
void widen_bytes(const std::string& text, std::wstring& out);
// Copies the bytes and a terminating 0 into buffer when they fit in capacity
// characters and returns buffer; otherwise null (buffer[0] set to 0).
wchar_t* widen_to_buffer(const std::string& text, wchar_t* buffer, size_t capacity);
// The low 8 bits of each character.
void narrow_wstring(const std::wstring& text, std::string& out);
// Every byte 0x80-0xFF as its two-byte UTF-8 form.
std::string latin1_to_utf8(const char* text);
std::string to_utf8_copy(const wchar_t* text);
void to_utf8_assign(const wchar_t* text, std::string& out);
bool widen_arg_array(int count, const char* const* args, std::vector<std::wstring>& out);
void widen_string_list(const std::vector<std::string>& in, std::vector<std::wstring>& out);
std::vector<std::wstring> widen_string_list(const std::vector<std::string>& in);
void widen_string_list_fill(std::vector<std::wstring>& out, const std::vector<std::string>& in);
void wide_list_to_utf8(std::vector<std::string>& out, const std::vector<std::wstring>& in);
void narrow_string_list(const std::vector<std::wstring>& in, std::vector<std::string>& out);

// Bytes up to a NUL or the length: 32..126 (and CR, LF with keep_crlf) kept,
// others replaced by the replacement byte or dropped when it is 0.
bool printable_text(std::string& out, const uint8_t* data, size_t length, bool keep_crlf,
                    char replacement);
// Copies leading bytes in 32..126; returns how many.
size_t printable_prefix(const uint8_t* data, std::string& out, size_t length);
// With LF-only line ends: the text with CR before each LF, true.
bool lf_to_crlf(const uint8_t* data, size_t length, std::string& out);
// count blanks.
void fill_blanks(std::string& text, size_t count);
// NetBIOS first-level decoding of 32 letters 'A'-'P': 15 name bytes and the
// type suffix.
bool netbios_name_decode(const char* letters, std::string& name, uint8_t& suffix);

// Length-prefixed strings: 0..127 in one byte, up to 32767 in two bytes
// (big-endian, top bit of the first set), then the bytes.
size_t read_counted_string(std::string& out, const uint8_t* data, size_t length);
bool write_counted_string(std::vector<uint8_t>& out, const std::string& text, bool append);
bool write_counted_string_list(std::vector<uint8_t>& out, const std::vector<std::string>& list,
                               bool append);

}  // namespace vk
