// Entries to the shell's word-at-a-time kernels for the tests that check
// them against plain loops; the parsers call the kernels themselves, inline.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vk {

// out = text with its ASCII letters lower-cased (a property's key text).
void assign_lowered_for_test(std::string& out, const std::string& text);
// Whether the n bytes at a and b are equal.
bool same_bytes_for_test(const char* a, const char* b, size_t n);
// Copies a text of at most 16 bytes holding no backslash to `to`; false,
// nothing copied, for any other text.
bool copy_short_without_backslash_for_test(const char* from, size_t n, char* to);
// Whether name is in text (an item's name that its text shows already).
bool holds_for_test(std::string_view text, std::string_view name);
// The hash the item text walk's sets index by.
size_t text_hash_for_test(const char* p, size_t len);

}  // namespace vk
