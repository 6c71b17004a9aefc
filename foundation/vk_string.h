// In-place text edits: ASCII case mapping, trims, case-insensitive compares,
// substring replace and erase, splitting and joining, and taking back the
// tail of a string stream.
//
// Case mapping is ASCII only: 'A'-'Z' and 'a'-'z' change, every other byte or
// character (UTF-8 continuation bytes, non-ASCII letters) stays as it is.
// The case-insensitive compares lower-case their arguments in place; callers
// that must keep their text pass copies. Trims use the blank set " \t\r\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace vk {

// ---------------------------------------------------------------------------
// Case mapping
// ---------------------------------------------------------------------------
std::string& str_to_lower(std::string& text);
void str_to_upper(std::string& text);
// Nothing for a null pointer or a length of 0.
void buf_to_lower(void* bytes, size_t length);
void str_list_to_lower(std::vector<std::string>& list);
std::wstring& wstr_to_lower(std::wstring& text);
void wstr_to_upper(std::wstring& text);

// ---------------------------------------------------------------------------
// Case-insensitive comparison (arguments lower-cased in place)
// ---------------------------------------------------------------------------
// False, with neither text touched, when the lengths differ; otherwise both
// are lower-cased and compared.
bool iequals(std::string& a, std::string& b);
bool wiequals(std::wstring& a, std::wstring& b);
// Both lower-cased first (always); false when n exceeds either length;
// otherwise whether the first n characters are equal.
bool iequals_n(std::string& a, std::string& b, size_t n);
bool wstr_iequals_n(std::wstring& a, std::wstring& b, size_t n);
// Compares the first n bytes of two buffers ignoring case; the buffers are
// not changed. False when a pointer is null and n is not 0.
bool iequals_n_buf(const void* a, const void* b, size_t n);

// ---------------------------------------------------------------------------
// Trims and tail edits
// ---------------------------------------------------------------------------
// Removes leading and trailing " \t\r\n"; false for an empty text and for one
// of blanks only (which becomes "").
bool trim_ws(std::string& text);
// The same with "\r\n" only.
void trim_crlf(std::string& text);
// As trim_ws; with keep_trailing_blanks the trailing set is "\t\r\n".
bool trim_ws_keep_spaces(std::string& text, bool keep_trailing_blanks);
// trim_ws, then one leading quote (double before single) and one trailing
// quote removed; false for an empty text.
bool strip_quotes(std::string& text);
// Removes the trailing run of NULs unless the text is nothing but NULs.
bool strip_trailing_nuls(std::string& text);
// Blanks at both ends, then TABs at both ends, then trailing CRs, then
// trailing LFs, one pass each; false (text emptied) when nothing is left
// after the blank or the TAB pass.
bool wtrim_ws(std::wstring& text);
// Erases the last n characters (all when n >= length); false when the text is
// empty or n is 0.
bool drop_last_chars(std::string& text, size_t n);
bool wdrop_last_chars(std::wstring& text, size_t n);
bool is_hex_digit(char c);
// The end of the run of ASCII bytes (below 0x80) of p[0, n) that starts at
// from: n when every byte from there on is ASCII. Eight bytes at a time.
size_t ascii_run_end(const uint8_t* p, size_t from, size_t n);

// ---------------------------------------------------------------------------
// Replace and erase
// ---------------------------------------------------------------------------
// Replaces the first occurrence of search. With ignore_case the search runs on
// a lower-cased copy of the text, search is lower-cased in place, and the text
// around the occurrence keeps its case. True when replaced.
bool replace_first(std::string& text, std::string& search, const std::string& replacement,
                   bool ignore_case);
bool replace_first(std::string& text, const std::string& search, const std::string& replacement,
                   bool ignore_case);
bool replace_first_w(std::wstring& text, std::wstring& search, const std::wstring& replacement,
                     bool ignore_case);
bool replace_first_w(std::wstring& text, const std::wstring& search,
                     const std::wstring& replacement, bool ignore_case);
// Every occurrence, left to right, non-overlapping; nothing for an empty text
// or search text.
void replace_all(std::string& text, const std::string& search, const std::string& replacement);
// out = text with every occurrence replaced; "" when text or search is empty.
void replace_all_copy(std::string& out, const std::string& text, const std::string& search,
                      const std::string& replacement);
// replace_first with an empty replacement.
bool erase_first(std::string& text, std::string& search, bool ignore_case);
bool erase_first(std::string& text, const std::string& search, bool ignore_case);
// Erases from the first occurrence to the end. With ignore_case only the text
// is lower-cased (a copy) for the search: search must already be lower case.
bool erase_from_substring(std::string& text, const std::string& search, bool ignore_case);
// Removes every occurrence of c; returns how many were removed.
size_t erase_char(std::string& text, char c);
// Removes every occurrence of the search bytes from a buffer allocated with
// new uint8_t[]. When anything was removed *buffer is deleted and replaced by
// a new one of the new *length. False for a null buffer, a length of 0, a
// null or empty search text, or when memory runs out (nothing changed then).
bool remove_all_occurrences(uint8_t** buffer, size_t* length, const char* search, bool ignore_case);

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------
// Items joined with separator; with skip_empty empty items are left out and
// no separator is left dangling.
void join_strings(std::string& out, const std::vector<std::string>& list,
                  const std::string& separator, bool skip_empty);
// Items joined with one blank; an item holding a blank is wrapped in quote.
bool join_command_line(std::string& out, const std::vector<std::string>& list, char quote);
// Items joined with blanks, empty ones skipped; an item is wrapped in double
// quotes (its own double quotes removed) when it holds a blank, or when
// quote_values is set and it is a value (not first, not starting with '-').
// count receives the list size; false for an empty list.
bool join_args_quoted(std::string& out, size_t& count, const std::vector<std::string>& list,
                      bool quote_values);
// Appends the non-empty pieces between delimiters to list (not cleared);
// with trim each piece goes through trim_ws first. delimiter_count receives
// the number of delimiters; returns the bytes read (0 for null or 0 bytes).
size_t split_char_buffer(const void* bytes, size_t count, char delimiter,
                         std::vector<std::string>& list, size_t& delimiter_count, bool trim);
size_t split_wchar_buffer(const wchar_t* chars, size_t count, wchar_t delimiter,
                          std::vector<std::wstring>& list, size_t& delimiter_count, bool trim);
// Lines at LF, leading CRs skipped, each trimmed, empty ones kept. Text after
// the last LF is a line only when it is at least two bytes; a buffer without
// LF is one line. True when the list holds anything.
bool split_text_lines(const std::vector<uint8_t>& bytes, std::vector<std::string>& lines);
// The same over UTF-16LE units, each unit widened to one character; lines go
// through wtrim_ws; text after the last LF is dropped. False for fewer than
// 2 bytes.
bool split_utf16_lines(const std::vector<uint8_t>& bytes, std::vector<std::wstring>& lines);

// ---------------------------------------------------------------------------
// String streams
// ---------------------------------------------------------------------------
// Moves the put position back by n characters (to the start when fewer were
// written); with rewrite the contents are cut there too. False when the
// stream is bad or failed or its position cannot be told.
bool stream_drop_tail(std::ostringstream& stream, size_t n, bool rewrite);
bool stream_drop_tail(std::stringstream& stream, size_t n, bool rewrite);
bool stream_seek_back(std::ostringstream& stream, size_t n);
bool stream_seek_back(std::stringstream& stream, size_t n);
bool wstream_drop_tail(std::wostringstream& stream, size_t n, bool rewrite);
// The put position of any output stream moved back as by stream_seek_back.
bool stream_step_back(std::ostream& stream, size_t n);

}  // namespace vk
