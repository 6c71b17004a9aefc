// The base-85 code of the GUIDs in a Darwin descriptor (installer product
// and component codes), and an Ascii85 text codec.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vk {

// The 85 characters in order of their digit values.
inline constexpr std::string_view darwin_alphabet =
    "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";

// The first 20 characters of text, five per word, least significant digit
// first. A character outside the alphabet, or fewer than 20 characters, fails;
// words completed before the fault stay written.
bool darwin_guid_decode(std::string_view text, std::array<uint32_t, 4>& words);
std::string darwin_guid_encode(const std::array<uint32_t, 4>& words);
// The GUID text of four words (word g is the little-endian u32 at byte 4g).
std::string darwin_words_text(const std::array<uint32_t, 4>& words);

// Ascii85: four bytes big-endian to five characters '!' + digit, an all-zero
// group as 'z', a short last group as one character more than its bytes,
// lines broken at 72 characters, "<~" in front when asked.
std::string ascii85_encode(const uint8_t* data, size_t size, bool open_marker);
void ascii85_encode(std::ostream& out, const uint8_t* data, size_t size, bool open_marker);
// Accepts an optional leading "<~", skips white space, NUL, backspace and
// DEL, ends at "~>". False (out keeping what was decoded) on a character
// outside the code, a 'z' inside a group, a group above 32 bits or a lone
// last character.
bool ascii85_decode(std::string_view text, std::vector<uint8_t>& out);
bool ascii85_decode(std::string_view text, std::ostream& out);

}  // namespace vk
