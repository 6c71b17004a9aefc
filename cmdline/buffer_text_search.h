// Printable strings collected from raw buffers with their offsets, text
// searches in buffers and texts, and small extractors (between tags, lines
// with a prefix, the value after a key). An empty search text is refused
// wherever it would match everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk {

// Runs of printable ASCII stored as UTF-16LE (with whitespace also TAB, CR,
// LF; a blank opening a run is skipped) of at least min_length characters
// (at least 1), each with base + its byte offset. The lists are emptied
// first unless append. False for a null buffer or length 0; otherwise true
// when this call found any.
bool collect_utf16_strings_at(const uint8_t* bytes, size_t length, size_t min_length,
                              std::vector<std::string>& list, std::vector<uint64_t>& offsets,
                              uint64_t base, bool append, bool whitespace);
// The same over single bytes.
bool collect_ascii_strings_at(const uint8_t* bytes, size_t length, size_t min_length,
                              std::vector<std::string>& list, std::vector<uint64_t>& offsets,
                              uint64_t base, bool append, bool whitespace);
// Every occurrence of the needle (ignoring case) inside the printable runs,
// as base + byte offset (32-bit offsets). True when any; false for an empty
// needle.
bool find_text_in_utf16(const std::string& needle, const uint8_t* bytes, size_t length,
                        std::vector<uint32_t>& offsets, uint32_t base, bool append);
bool find_text_in_ascii(const std::string& needle, const uint8_t* bytes, size_t length,
                        std::vector<uint32_t>& offsets, uint32_t base, bool append);

// The text between "<tag ...>" and "</tag>".
bool text_between_tags(const char* text, size_t length, const std::string& tag, std::string& out);
// Lines (CR LF ends them when the buffer holds one, else LF) that begin with
// the prefix, ignoring case; without all only the first. True when any.
bool lines_with_prefix(const uint8_t* buffer, size_t length, const std::string& prefix,
                       std::vector<std::string>& out, bool all);
// The text after the first occurrence of key up to the first terminator
// character or the end; empty (false) when the key is absent or empty.
bool value_after_key(std::string& out, const std::string& text, const std::string& key,
                     const std::string& terminators, bool ignore_case);
// The first case-insensitive occurrence of needle in text, or null.
const char* find_ignore_case(const char* text, const char* needle);
// Removes the first occurrence of text from a NUL-terminated buffer; false
// when absent, or for an empty or null text.
bool erase_first_in_buffer(char* buffer, const char* text, bool ignore_case);

}  // namespace vk
