// Text toolkit: line-end classification, Base64 character tests, Windows
// version names, SID text, word joining, tab expansion, tag and JSON
// scanners, percent decoding, and the list splitters, joiners and character
// edits used across the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk {

// ---- line ends and Base64 characters ----

// Line-end style codes.
enum newline_kind : uint32_t {
  nl_crlf = 1,
  nl_cr = 2,
  nl_lf = 3,
  nl_lfcr = 4,
  nl_mixed = 6,
  nl_none = 7,
};

uint32_t newline_style(const uint8_t* bytes, uint32_t length);
// The same over 16-bit little-endian units; length in bytes.
uint32_t newline_style_utf16(const uint8_t* bytes, uint32_t length);
uint8_t base64_char_value(uint8_t c);
bool is_base64_text(const uint8_t* bytes, uint32_t length, bool check_chars);

// ---- Windows versions ----

uint32_t windows_version_name(std::string& text, uint32_t platform_id, uint32_t major,
                              uint32_t minor, bool product_type_known, bool server,
                              bool workstation_forced, uint32_t build);
uint32_t windows_version_name_simple(std::string& text, uint32_t platform_id, uint32_t major,
                                     uint32_t minor, bool product_type_known);
// Lower-cases text in place; the code of the first short name it holds, else 1.
uint32_t windows_version_code(std::string& text);

// ---- other writers ----

bool sid_to_string(std::string& out, const uint8_t* bytes, uint32_t length);
bool sid_to_string_exact(std::string& out, const uint8_t* bytes, uint32_t length);
std::string sid_text(const uint8_t* bytes, uint32_t length);
std::string build_macos_library_path(uint32_t flags);

// Text of one word handle for join_words.
using word_callback = std::function<std::string(const void* handle)>;
// Writes the words of the handles joined by the separator the flags select
// (bits 0-3 count, 21-31 case and separator choices).
void join_words(std::ostringstream& os, uint32_t flags, const word_callback& word,
                const void* const* handles);
bool text_between_markers(const char* text, const char* first, const char* second,
                          const char* third, std::string& out);

// ---- scanners ----

bool collect_angle_tags(const uint8_t* bytes, uint32_t length, std::vector<std::string>& out);
// The same, each tag with the 1-based position of its '<' (0 for a stray '>').
bool collect_angle_tags_pos(const uint8_t* bytes, uint32_t length,
                            std::vector<std::pair<std::string, uint32_t>>& out);
// Each TAB becomes blanks (tab_width 0 means 4): with r the TAB's column
// plus the count e kept per line, mod the width, r != 0 gives width - r + 1
// blanks (e grows by width - r); r == 0 gives width blanks while e is 0 (e
// grows by width), else one (e grows by 1). False, out untouched, without a TAB.
bool expand_tabs(const uint8_t* bytes, uint32_t length, uint32_t tab_width, std::string& out,
                 bool utf16);
// Removes every element of the tag (opening text "<tag", case ignored) from
// the buffer in place; length is updated.
bool strip_xml_element(uint8_t* buffer, uint32_t& length, const char* tag);
// Wide form; length counts bytes.
bool strip_xml_element_w(wchar_t* buffer, uint32_t& length, const wchar_t* tag);
bool split_json_objects(std::vector<std::string>& out, const std::string& text);
bool json_get_values(std::vector<std::string>& out, const std::vector<std::string>& keys,
                     const std::string& text);
bool percent_decode(std::string& out, const std::string& text, char chosen,
                    const std::string& replacement);

// ---- splitting, joining and character edits ----

bool split_string(const std::string& text, char delimiter, std::vector<std::string>& out,
                  bool trim = false, bool keep_empty = false, bool append = false);
void replace_char(std::string& text, char from, char to, bool both_cases = false);
void replace_char(std::wstring& text, wchar_t from, wchar_t to, bool both_cases = false);
// Makes line breaks visible: "[CRLF]", "[LFCR]", "[LF]", and "[CR]" in text
// without any LF.
std::string& show_line_ends(std::string& text);
// True when the text holds a CR or LF, in one pass.
bool has_line_end(std::string_view text);
// replace_char (case-sensitive; a from of 0 replaces nothing) and
// has_line_end in the same pass; the answer is for the text after the
// replacement.
bool replace_char_find_line_ends(std::string& text, char from, char to);
bool replace_char_find_line_ends(char* text, size_t size, char from, char to);
// True when the text holds a control character a one-line text cannot
// keep: any C0 character but the tab, DEL, or a C1 control (U+0080 to
// U+009F, the UTF-8 bytes 0xC2 0x80 to 0xC2 0x9F).
bool has_control_char(std::string_view text);
// The position of the first such character at or after from; npos when none.
size_t find_control_char(std::string_view text, size_t from = 0);
// True when every byte is printable ASCII (0x20 to 0x7E): such a text is
// valid UTF-8 and holds no control character (nor a tab).
bool printable_ascii(std::string_view text);
// True when such a character starts at text[at] (at < text.size()): a C1
// control is 0xC2 and a byte 0x80 to 0x9F in UTF-8, and 0xC2 is never a
// continuation byte, so the pair is always a character.
inline bool control_char_at(std::string_view text, size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x20) return c != '\t';
  if (c == 0x7F) return true;
  return c == 0xC2 && at + 1 < text.size() &&
         (static_cast<unsigned char>(text[at + 1]) & 0xE0) == 0x80;
}
// Writes those characters as marks, so that the text stays on one line and
// nothing in it is lost: "[CRLF]", "[LFCR]", "[LF]", "[CR]" for line ends
// (every CR, paired or lone), "[0xNN]" (the code point in lower-case hex)
// for the others.
// A tab stays as it is.
std::string& mark_control_chars(std::string& text);
// The same, inline for the common text that holds none.
inline std::string& show_control_chars(std::string& text) {
  return has_control_char(text) ? mark_control_chars(text) : text;
}
// The text as it is when it is UTF-8; each byte that is not part of a UTF-8
// sequence written as \xNN (file names may hold any bytes).
std::string utf8_or_escaped(const std::string& text);
void append_utf8_or_escaped(std::string& out, std::string_view text);
// A file name, or another byte string from outside the tool, as reports and
// messages write it: utf8_or_escaped, then its control characters as marks.
std::string shown_name(std::string_view name);
void append_shown_name(std::string& out, std::string_view name);
// Removes the CR and LF characters at the end; returns how many.
int32_t trim_line_end(std::string& text);
std::wstring& join_wide_strings(std::wstring& out, const std::vector<std::wstring>& parts,
                                const std::wstring& separator, bool skip_empty);
bool strip_trailing_slashes_wide(std::wstring& path);

char split_at_any_delim(std::vector<std::string>& out, const std::string& text, bool trim,
                        bool keep_empty, const std::string& delimiters);
bool split_quoted(const std::string& text, char delimiter, std::vector<std::string>& out, bool trim,
                  bool keep_empty);
uint32_t split_words(const char* text, uint32_t max_words, std::vector<std::string>& out,
                     bool join_quoted);
bool split_quoted_words(const std::string& text, std::vector<std::string>& out);
bool first_word(const std::string& text, std::string& out);
bool split_lines(const uint8_t* buffer, uint32_t length, std::vector<std::string>& out);
// Lines of a narrow or UTF-16LE buffer; text after the last line end is left out.
bool split_buffer_lines(std::vector<std::string>& out, const uint8_t* buffer, uint32_t length,
                        bool trim, bool skip_empty);
bool split_wstring_simple(const std::wstring& text, wchar_t delimiter,
                          std::vector<std::wstring>& out);
bool split_multi_string(const std::vector<wchar_t>& chars, std::vector<std::wstring>& out);
bool split_multi_string_bytes(const std::vector<uint8_t>& bytes, std::vector<std::wstring>& out);
void replace_char_buf(uint8_t* buffer, int32_t length, char from, char to, bool ignore_case);
void replace_wchar_buf(wchar_t* buffer, int32_t length, wchar_t from, wchar_t to, bool ignore_case);
bool replace_first_icase(std::string& text, const char* find, const char* replacement);
// Erases from the first c to the end; with ignore_case the text is searched
// lower-cased, so c must be given in lower case.
bool erase_from_char(std::string& text, char c, bool ignore_case);
bool erase_first_wbuf(wchar_t* buffer, const wchar_t* find, bool ignore_case);
bool join_argv(std::string& out, int32_t argc, char** argv);
void write_quoted_pairs(std::ostream& os, const std::vector<std::string>& keys,
                        const std::vector<std::string>& values, char separator);
const wchar_t* find_wide_icase(const wchar_t* text, const wchar_t* find);
int32_t compare_wide(const wchar_t* a, const wchar_t* b, bool ignore_case);
bool wchar_iequal(wchar_t a, wchar_t b);
bool char_iequal(char a, char b);
bool char_iless(char a, char b);

}  // namespace vk
