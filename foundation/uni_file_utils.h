// Whole-file routines over the file object: first bytes of a named file,
// zero-filling, status queries, directory-entry fillers, the working
// directory and absolute paths, byte-order marks, and two small text helpers
// the file routines share (trailing-slash removal, splitting text that
// arrives in pieces).
//
// None of them throws; failure is a false, 0 or empty result.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_file_record.h"

namespace vk {

// ---- small text helpers -------------------------------------------------

// Removes every trailing '/' and '\'; true when something is left.
bool strip_trailing_slashes(std::string& path);

// Adds one line of `size` bytes as the line splitters give it: CRs at its
// start skipped, one CR at its end dropped, trimmed when asked, and left out
// when it is empty and empty lines are skipped. False when memory runs out.
bool add_split_line(std::vector<std::string>& out, const char* text, size_t size, bool trim,
                    bool skip_empty);

// Cuts text that arrives in pieces at each LF: CRs at a line start are
// skipped and one CR right before the LF is dropped; with `trim` each line is
// trimmed of blanks, TABs, CR and LF, with `skip_empty` empty lines are left
// out. `consumed` is the index just past the last LF; the bytes after it are
// an incomplete line the caller keeps for the next piece. A length of 0 is
// false with nothing changed; otherwise true when a line was produced.
bool split_buffer_lines_consumed(uint32_t& consumed, std::vector<std::string>& out,
                                 const uint8_t* buffer, uint32_t length, bool trim,
                                 bool skip_empty);

// ---- whole-file reads ---------------------------------------------------

// The first min(size, max) bytes of a file (all of it when max is all ones).
// False for an empty path, a max of 0, a file that cannot be opened or is
// empty, or a read that yields nothing.
bool read_file_capped(std::vector<uint8_t>& out, const std::string& path, uint32_t max);
bool read_file_capped_text(std::string& out, const std::string& path, uint32_t max);

// ---- zero-filling -------------------------------------------------------

// Overwrites an existing file with zeros in 512-byte blocks (it grows to the
// next multiple of 512).
bool zero_fill_file(const std::wstring& path);
bool zero_fill_file_utf8(const std::string& path);
// The same, with `marker` and a 4-byte little-endian counter written at the
// start of every 4096-byte boundary block.
bool zero_fill_file_marked(const std::wstring& path, const std::vector<uint8_t>& marker);
// Overwrites an existing file with zeros over its present size.
bool zero_fill_utf8(const std::string& path);

// ---- status queries -----------------------------------------------------

// stat() of a path (symbolic links followed); the record is zeroed first.
int stat_path(const char* path, struct stat& st);
bool stat_path_wide(const std::wstring& path, struct stat& st);
// UTF-8 path with trailing slashes removed.
bool stat_path_utf8(const std::string& path, struct stat& st);
bool stat_path_copy(std::wstring path, struct stat& st);
int fstat_fd(int fd, struct stat& st);

bool is_directory_utf8(const std::string& path);
bool is_directory_wide(const std::wstring& path);
uint64_t file_size_wide(const std::wstring& path);
uint64_t file_size_utf8(const std::string& path);

// Fills a file description from stat() of a path.
bool get_file_stat_info(file_stat_info& info, const std::wstring& path);

// ---- directory-entry fillers --------------------------------------------

bool stat_file_info(dir_entry_info& entry, const std::wstring& path, const std::string& path_text);
bool fill_file_info(dir_entry_info& entry, const std::wstring& path, const struct stat* st,
                    const std::string& path_text);
bool fill_file_info_utf8(dir_entry_info& entry, const std::string& path, const struct stat* st,
                         const std::string& path_text);
bool stat_file_info_utf8(dir_entry_info& entry, const std::string& path,
                         const std::string& path_text);
// Stores the name and the two lists when the first list is not empty and both
// have the same size, and flags the entry as holding lists. The result is
// false either way.
bool set_entry_lists(dir_entry_info& entry, const std::string& name,
                     const std::vector<std::string>& first, const std::vector<std::string>& second);

// ---- side stream and paths ----------------------------------------------

// The "Zone.Identifier" side stream name of a path, when one exists.
bool zone_identifier_of(const std::string& path, std::vector<std::string>& out);

// The working directory; "" when it cannot be had.
std::string current_dir();
std::wstring current_dir_wide();

// An absolute form of `path` (see the implementation for the rules); "" when
// the working directory is needed and cannot be had.
std::string make_absolute_path(const std::string& path, char separator);
std::wstring make_absolute_path_wide(const std::wstring& path, wchar_t separator);

// ---- byte-order marks ---------------------------------------------------

bool bom_test_utf8(const uint8_t* buf, size_t len);
bool bom_test_utf16le(const uint8_t* buf, size_t len);
bool bom_test_utf16be(const uint8_t* buf, size_t len);
bool bom_test_utf32be(const uint8_t* buf, size_t len);
// The four bytes 00 00 FF FE, a mark without an encoding of its own.
bool bom_test_0000fffe(const uint8_t* buf, size_t len);
bool bom_test_utf7(const uint8_t* buf, size_t len);
bool bom_test_utf_ebcdic(const uint8_t* buf, size_t len);
bool bom_test_bocu1(const uint8_t* buf, size_t len);
bool bom_test_scsu(const uint8_t* buf, size_t len);

void bom_append_utf8(std::vector<char>& out);
void bom_append_utf16le(std::vector<char>& out);
void bom_append_utf16be(std::vector<char>& out);
void bom_append_utf32be(std::vector<char>& out);
void bom_append_0000fffe(std::vector<char>& out);
void bom_append_utf7(std::vector<char>& out);
void bom_append_utf_ebcdic(std::vector<char>& out);
void bom_append_bocu1(std::vector<char>& out);
void bom_append_scsu(std::vector<char>& out);

}  // namespace vk
