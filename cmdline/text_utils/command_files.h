// Command files ("<!cmd>" blocks with "<!arg=name>value</!arg>" elements),
// JSON objects read into keyed records, URL query strings, zone-information
// maps, and option look-ups over wide argument arrays and lists.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace vk {

// One command: the raw body of its block, then name and value of each
// argument element, then the words of the rest of the body.
using command_list = std::vector<std::vector<std::string>>;

struct json_record {
  std::vector<std::string> m_names;
  std::vector<std::string> m_values;        // one per name
  std::map<std::string, uint32_t> m_index;  // lower-cased name -> its position
};

// Reads the commands of a file (line feeds become blanks unless
// keep_line_breaks; CRs and TABs go). A block whose "<!arg=" lacks its
// "</!arg>" loses the last text gathered; a block without words is an empty
// command. False when no command was found, and when blocks nested without
// their ends would hold more text than four times the file's.
bool read_command_file(command_list& commands, const std::string& path, bool keep_line_breaks);
// The same over a text already read.
bool parse_command_text(command_list& commands, std::string text, bool keep_line_breaks);

// One record per top-level object of text, holding the value of each key.
bool split_json_records(std::vector<json_record>& records, const std::vector<std::string>& keys,
                        const std::string& text);

// The name=value pairs of a URL's query, each name and value percent-decoded
// after the split; both lists are emptied first and stay of equal length. False without "?" or a
// query.
bool split_url_query(std::vector<std::string>& names, std::vector<std::string>& values,
                     const std::string& url);

// zone_info={"name":"value";...}; with zone_names a "ZoneId..." value gets its
// zone's name (" [internet]" for 3). Nothing for an empty map.
void write_zone_info(std::ostream& os, const std::map<std::string, std::string>& entries,
                     bool zone_names);

// main()-style wide arguments (argv[0] never matched, names compared
// ignoring case): the first match is taken, with the N values after it, and
// removed; nothing is removed when the values are not all there.
bool take_wide_flag(const wchar_t* name, int& argc, wchar_t** argv);
bool take_wide_value(const wchar_t* name, std::wstring& value, int& argc, wchar_t** argv);
bool take_wide_values2(const wchar_t* name, std::wstring& v1, std::wstring& v2, int& argc,
                       wchar_t** argv);
bool take_wide_values3(const wchar_t* name, std::wstring& v1, std::wstring& v2, std::wstring& v3,
                       int& argc, wchar_t** argv);
bool take_wide_values4(const wchar_t* name, std::wstring& v1, std::wstring& v2, std::wstring& v3,
                       std::wstring& v4, int& argc, wchar_t** argv);

// Takes out the first entry that begins with the (UTF-8) prefix, ignoring case.
bool take_prefixed_arg_w(const char* prefix, std::wstring& out, std::vector<std::wstring>& list);
// The option "-" + the letters a-z among the code's bytes, most significant
// first (0x766572626F736500 is "-verbose"); removed unless keep.
bool take_packed_option_w(uint64_t code, std::vector<std::wstring>& list, bool keep);
// No virtual-disk option is known: always false.
bool vmdk_option_given(const std::vector<std::wstring>& list);

// The text read as a number into a float; values beyond the float range
// become infinities. False only for a null text.
bool wtext_to_float(const wchar_t* text, float& out);
bool wstring_to_int(const std::wstring& text, int32_t& out);

}  // namespace vk
