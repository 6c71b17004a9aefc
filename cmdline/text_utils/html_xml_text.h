// HTML and XML text helpers: entity escaping (narrow and wide), src and
// href values gathered from a page, a tokenizer for UTF-16 markup, a test
// for an XML document, and the removal of one XML element from a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk {

// &, <, >, " and ' as entities (&#39; for the apostrophe); each CR LF pair
// then becomes "<br />". Lone CRs and LFs stay.
std::string html_escape_text(const std::string& text);
// <, > and & as entities, matched ignoring case; characters whose low byte
// lies outside 32..126 (but CR and LF) as "%" and two hexadecimal digits.
std::wstring html_escape_w(const std::wstring& text);

// The "src" / "href" values of every tag of a page, appended to out (not
// emptied); collect_link_attributes takes "href", else "src". True when the
// page has a tag and out holds anything afterwards.
bool collect_src_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out);
bool collect_href_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out);
bool collect_link_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out);

// UTF-16LE markup cut into alternating text runs and tags, appended to out.
// "<?"/"<%" blocks end only at "?>"/"%>"; after "<pre>" and "<script" the
// content is text up to the next "</". Text after the last tag and an
// unfinished tag are dropped. True when out holds anything afterwards.
bool split_markup_w(const uint8_t* bytes, uint32_t length, std::vector<std::wstring>& out);

// True for at least 16 bytes that begin "<?xml ve", or that begin with
// comments (and line feeds) before it.
bool looks_like_xml(const uint8_t* bytes, size_t length);

// Removes every element `tag` from a file (UTF-16LE with its byte-order mark,
// or bytes) and writes the rest to out_path, or back to in_path when out_path
// is null. A file without the element is not written; the result is false
// then, as it is for an unreadable file or an output that can't be written.
bool strip_xml_element_in_file(const char* in_path, const char* out_path, const char* tag);

// The in-memory body of strip_xml_element_in_file: strips `bytes` in place;
// true when an element was removed.
bool strip_xml_element_bytes(std::vector<uint8_t>& bytes, const char* tag);

}  // namespace vk
