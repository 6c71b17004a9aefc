// Short routines on narrow texts, wide texts, 16-bit unit vectors, byte
// vectors and report cells: searching and erasing, identifier and printable
// tests, escaping, trailing-NUL trims, two-decimal numbers, byte blocks and
// byte cells. Positions are character indexes; "none" is npos.
//
// The trailing-slash trim and the path-stem split these sit beside are
// foundation routines: strip_trailing_slashes (uni_file_utils.h) and
// split_wpath_stem_ext (vk_dir_node.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_variant.h"

namespace vk {

// ---- search and erase ----

// Position of the first occurrence (a match at the text's end counts as
// none). With fold both arguments are lower-cased in place first.
size_t find_fold(std::string& text, std::string& needle, bool fold);
size_t wfind_fold(std::wstring& text, std::wstring& needle, bool fold);
// Searches from start; true with pos just after the match. On failure pos
// holds the search result (npos, or the text's end).
bool find_after(size_t& pos, const std::string& text, size_t start, const std::string& needle);
bool wfind_after(size_t& pos, const std::wstring& text, size_t start, const wchar_t* needle);
// As find_after with pos at the match itself.
bool find_at(size_t& pos, const std::string& text, size_t start, const char* needle);
bool wfind_at(size_t& pos, const std::wstring& text, size_t start, const wchar_t* needle);
// Erases from the first occurrence to the end. With fold the search runs on
// lower-cased copies of the text and the needle.
bool werase_from(std::wstring& text, const std::wstring& needle, bool fold);
// Erases the first occurrence. With fold the search runs on a lower-cased
// copy and the needle is lower-cased in place.
bool werase_first(std::wstring& text, std::wstring& needle, bool fold);
// The first blank-delimited word into word (left as it was for a text of
// blanks only), then word's first occurrence erased from the text. False for
// an empty text.
bool pop_first_word(std::string& text, std::string& word);

// ---- text shaping ----

// The text without every c; the text itself when that would be empty.
std::string remove_char_copy(const std::string& text, char c);
// Keeps '-', '.', digits, letters and '_'; each run of other bytes between
// two kept characters becomes one '_'.
std::string& to_identifier(std::string& out, const std::string& text);
// Every byte that is no ASCII letter becomes '_'; returns the length.
size_t non_alpha_to_underscore(std::string& text);
// Not empty, and only TAB, LF, CR and 32..126.
bool is_printable_text(const std::string& text);
// A backslash before every character found in set.
void wescape_chars(std::wstring& text, const std::wstring& set);
// The same on 16-bit units; returns the backslashes added.
size_t escape_units(std::vector<uint16_t>& units, const std::wstring& set);
bool wtrim_trailing_nuls(std::wstring& text);
bool trim_trailing_zero_units(std::vector<uint16_t>& units);
// Fixed notation with two decimals.
std::string format_fixed2(double value);

// ---- byte vectors and cells ----

byte_array& assign_bytes_from_text(byte_array& bytes, const std::string& text);
// The vector becomes the 32, 20 or 16 bytes at block (zeros for null).
void copy_block32(byte_array& bytes, const uint8_t* block);
void copy_block20(byte_array& bytes, const uint8_t* block);
void copy_block16(byte_array& bytes, const uint8_t* block);
// The cell cleared (type 0, maximum length 20), then count bytes copied into
// it and its type set.
vk_variant_lite& make_bytes_cell(vk_variant_lite& cell, const uint8_t* bytes, size_t count,
                                 uint16_t type);

}  // namespace vk
