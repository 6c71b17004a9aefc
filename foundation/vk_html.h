// Attribute reading, tokenising, tag normalising and substitution escaping
// for HTML and XML-like text. Every search stays inside the length it is
// given; no text needs a terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk {

// Value of name="..." in text[0, length): the name, the next '=', the next
// double quote and the closing one must all lie inside the length.
bool get_quoted_attribute(const char* text, int32_t length, const char* name, std::string& value);

// The index-th (from 1) attribute of the tag at text[0, length): its name
// (blanks dropped) and its double-quoted value, both before the tag's '>'.
bool get_tag_attribute(const char* tag, uint32_t length, int32_t index, std::string& name,
                       std::string& value);

// Value of the attribute name (compared ignoring case, at most 256 characters):
// after the '=' and blanks, a double- or single-quoted value (CR and LF
// dropped) or a bare one up to a blank or CR. False when the length ends first.
bool get_html_attribute(const uint8_t* text, int32_t length, const char* name, std::string& value);

struct html_attribute {
  std::string m_value;
  uint32_t m_offset = 0;  // of the value within the tag
  uint32_t m_length = 0;  // of the value
};
// The same rules over text[0, length) of a string (length clipped to it).
bool find_html_attribute(const std::string& text, int32_t length, const char* name,
                         html_attribute& out);

// Tag tokens and text runs; "<?"/"<%" blocks and the content of pre and
// script elements stay whole. The text after the last tag is a token;
// an unfinished tag at the end is not.
bool split_html_tokens(const uint8_t* text, int32_t length, std::vector<std::string>& tokens,
                       bool trim);

// Tag tokens get lower-case names and double-quoted attribute values;
// "<?" and "<%" tokens stay unchanged. False for an empty list.
bool normalize_html_tags(std::vector<std::string>& tokens);

// One left-to-right substitution pass (see the .cpp); false, out empty, for a
// null or empty text, an empty search list or lists of unequal length.
bool escape_text(const uint8_t* text, int32_t length, const std::vector<std::string>& from,
                 const std::vector<std::string>& to, std::string& out, bool ignore_case,
                 bool hex_escape);
bool escape_text_w(const wchar_t* text, int32_t length, const std::vector<std::wstring>& from,
                   const std::vector<std::wstring>& to, std::wstring& out, bool ignore_case,
                   bool hex_escape);

// <, >, & as entities, bytes outside 32..126 (but CR, LF) as %xx; UTF-8 result.
std::string html_escape(const char* text);

}  // namespace vk
