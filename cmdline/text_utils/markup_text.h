// Markup text utilities: one XML element cut out of a text, wide tag tokens
// normalised, an HTML page turned into plain text with light markup, script
// elements or a fixed text removed from a file, and the link targets of a
// page collected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vk {

// Link target -> (offset of the value inside its tag, length of the value).
using link_map = std::map<std::string, std::pair<uint32_t, uint32_t>>;

// Moves the first "<tag" ... "</tag>" element of text into out (the opening
// needs no '>' after the name, so "<body" matches "b"). False, text
// unchanged, when either end is missing.
bool extract_xml_element(std::string& out, std::string& text, const std::string& tag);
bool extract_xml_element_w(std::wstring& out, std::wstring& text, const std::wstring& tag);

// Rewrites each tag token (not "<?" or "<%") in place: names lower-cased,
// blanks around '=' dropped, bare values put in double quotes with their
// first character's case kept. 1 when the vector is not empty, else 0.
int normalize_wide_tags(std::vector<std::wstring>& tokens);

// Writes the light-markup text of an HTML file ("==Title==", "// ",
// "1. item", ...) followed by its normalised tags and texts. The input is
// read before the output is created, so both may name one file; an
// unreadable input leaves an empty output. Always 0.
int html_to_markup_file(const std::string& in_path, const std::string& out_path);

// Removes the script elements of a file and writes the rest to out_path,
// back to the input with in_place, or to standard output when out_path is
// null or can't be opened. False when the input can't be read or the output
// file not fully written.
bool strip_script_file(const char* in_path, const char* out_path, bool in_place);

// Removes every occurrence of text from a file (ignoring case when asked) and
// rewrites it. False for no path or text, an unreadable or empty file, or an
// incomplete write.
bool remove_text_from_file(const char* path, const char* text, bool ignore_case);

// Adds the "href" (else "src") value of each tag to links; a value already
// there keeps its first entry. True when links is not empty.
bool collect_links(const uint8_t* bytes, uint32_t length, link_map& links);

// The in-memory body of html_to_markup_file: the text it writes for the
// given bytes; false (out empty) when they hold no token.
bool html_to_markup_text(const uint8_t* bytes, size_t length, std::string& out);

}  // namespace vk
