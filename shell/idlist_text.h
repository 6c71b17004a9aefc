// The report texts of a parsed ID list (path, distinct details and the
// times of the last item), of property values (keys and value texts), and
// of a search-condition leaf.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "shell/parse_ctx.h"
#include "shell/shell_item.h"

namespace vk {

// Item texts joined by "\" (every run of backslashes squeezed to one, but a
// network item's name starting "\\\\" keeps both in place of the separator; no
// trailing one), every distinct detail once in first-seen order, and the
// last item's FILETIME ticks (0: none). Sets each item's long_name to its
// text. True when path is not empty. Nested lists deeper than the parse
// guard's depth give false. The texts are built in the scratch's buffer.
bool idlist_text(std::string& path, std::string& detail_line, std::vector<std::string>& details,
                 uint64_t& modified, uint64_t& accessed, uint64_t& created,
                 const cmd_params& settings, shell_scratch& scratch, shell_item_list& items);

// idlist_text over a list whose records come a run at a time, from a walk
// that files its next items into the same records again: the same texts
// from a few records' memory. The outputs stay as they are until the first
// run or finish.
class idlist_text_builder final : public item_run_sink {
 public:
  idlist_text_builder(std::string& path, std::string& detail_line,
                      std::vector<std::string>& details, uint64_t& modified, uint64_t& accessed,
                      uint64_t& created, const cmd_params& settings, shell_scratch& scratch);
  ~idlist_text_builder();
  idlist_text_builder(const idlist_text_builder&) = delete;
  idlist_text_builder& operator=(const idlist_text_builder&) = delete;

  // The next records of the list, in order; each one's text becomes its
  // long name.
  void take(shell_item_record* records, size_t count) override;
  // Writes the outputs; what idlist_text returns.
  bool finish();

 private:
  void leave();
  void clear_outputs();

  std::string& m_path;
  std::string& m_detail_line;
  std::vector<std::string>& m_details;
  uint64_t& m_modified;
  uint64_t& m_accessed;
  uint64_t& m_created;
  const cmd_params& m_settings;
  shell_scratch& m_scratch;
  text_workspace* m_ws = nullptr;
  size_t m_mark = 0;  // the workspace buffer's size on entry
  bool m_depth_ok = false, m_begun = false, m_failed = false;
};

// Appends, in file-position order, the shown values of the record (strings
// and times; hidden ones dropped): "fmtid/name" (or "fmtid/0x<pid>") to keys
// and the value text to values. With split_names, primary- and
// parsing-name candidates go to their own lists instead. The values are put
// in order in the scratch.
void collect_property_texts(const shell_item_record& record,
                            std::vector<std::string>& parsing_names,
                            std::vector<std::string>& primary_names, std::vector<std::string>& keys,
                            std::vector<std::string>& values, const cmd_params& settings,
                            shell_scratch& scratch, bool split_names);
// As collect_property_texts on one record holding the values of count
// records merged (equal keys in record order), without merging them.
void collect_merged_property_texts(const shell_item_record* records, size_t count,
                                   std::vector<std::string>& parsing_names,
                                   std::vector<std::string>& primary_names,
                                   std::vector<std::string>& keys, std::vector<std::string>& values,
                                   const cmd_params& settings, shell_scratch& scratch,
                                   bool split_names);
// Clears the four lists, then collects every record in order.
void collect_list_property_texts(std::vector<std::string>& parsing_names,
                                 std::vector<std::string>& primary_names,
                                 std::vector<std::string>& keys, std::vector<std::string>& values,
                                 const cmd_params& settings, shell_scratch& scratch,
                                 bool split_names, const shell_item_list& items);

// The value text of a property as the report shows it.
std::string property_value_text(const property_value& value, const cmd_params& settings);
// The same text appended to out.
void append_property_value_text(std::string& out, const property_value& value,
                                const cmd_params& settings);

// Whether a value of this kind goes into a report's key and value lists.
inline bool shown_property_vartype(uint32_t vt) {
  return vt == 31 || vt == 8 || vt == 30 || vt == 64 || vt == 7;
}
// Room for n more texts in a list, growing geometrically over repeated calls.
inline void reserve_more(std::vector<std::string>& v, size_t n) {
  if (v.capacity() - v.size() < n) v.reserve(std::max(v.size() + n, 2 * v.capacity()));
}

// A search-condition leaf: at least 122 bytes, the name "ite.." counted 4
// at +32, and the value's unit count at +118 fitting the bytes from +120.
bool is_condition_leaf_record(const uint8_t* p, int64_t available);
// Appends "name [value] : <GUID text>" of the leaf at p to record.names.
// False for a null p, no leaf, an empty name or an empty value. ctx unused.
bool condition_leaf_text(parse_ctx& ctx, shell_item_record& record, const uint8_t* p,
                         uint32_t available);
// Bytes a leaf takes: 120 + 2 x its value's unit count (0 when no leaf).
int64_t condition_leaf_length(const uint8_t* p, int64_t available);

// Files each shown value under "key_value text" in out (an entry met again
// gets the later offset in its offset_list); new primary / parsing
// candidates append that text to their list. Writes pair_key_text and
// pair_value_text into the record's values.
void collect_property_text_map(shell_item_record& record, std::vector<std::string>& primary_texts,
                               std::vector<std::string>& parsing_texts,
                               std::map<std::string, property_value>& out,
                               const cmd_params& settings);
// Clears the lists and out, then maps every record in order.
void collect_list_property_text_maps(std::vector<std::string>& primary_texts,
                                     std::vector<std::string>& parsing_texts,
                                     std::map<std::string, property_value>& out,
                                     const cmd_params& settings, shell_item_list& items);

}  // namespace vk
