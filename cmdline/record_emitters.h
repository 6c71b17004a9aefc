// Emitters beside the record writer, for reporting NTFS master-file-table
// entries in every output format: the NTFS time-flag record with its "si:["
// text, more row setters, column titles with explicit settings, the
// MFT-entry table writer, and a log2timeline writer over time groups that
// its caller computed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cmdline/record_writer.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_timestamp_set.h"
#include "foundation/vk_variant.h"

namespace vk {

// ---- NTFS time flags ----

// "m", "a", "c", "b" at positions 0 to 3 of the flags of the
// $STANDARD_INFORMATION, $FILE_NAME and 8.3 $FILE_NAME times; '.' unset.
struct macb_flags {
  std::string m_si;
  std::string m_fn;
  std::string m_fn83;
  uint8_t m_si_set = 0;
  uint8_t m_fn_set = 0;
  uint8_t m_fn83_set = 0;
  std::set<std::string> m_names;        // names added with the name flag
  std::set<std::string> m_other_names;  // names added without it
  std::string m_text1;
  std::string m_text2;

  macb_flags();
};

// The flag strings chosen by "which" (any other value chooses none).
enum macb_which : uint32_t { macb_si = 1, macb_fn = 2, macb_fn83 = 3 };

using macb_time_map = std::map<uint64_t, macb_flags>;

void init_macb_flags(macb_flags& record);
void reset_macb_record(macb_flags& record);
// The three flag strings "....", their set bytes 0.
void reset_macb_flags(macb_flags& record);
void set_macb_m(macb_flags& record, uint32_t which);
void set_macb_a(macb_flags& record, uint32_t which);
void set_macb_c(macb_flags& record, uint32_t which);
void set_macb_b(macb_flags& record, uint32_t which);
void set_macb_m_si(macb_flags& record);
void set_macb_a_si(macb_flags& record);
void set_macb_c_si(macb_flags& record);
void set_macb_b_si(macb_flags& record);
void set_macb_m_fn(macb_flags& record);
void set_macb_a_fn(macb_flags& record);
void set_macb_c_fn(macb_flags& record);
void set_macb_b_fn(macb_flags& record);
void set_macb_m_fn83(macb_flags& record);
void set_macb_a_fn83(macb_flags& record);
void set_macb_c_fn83(macb_flags& record);
void set_macb_b_fn83(macb_flags& record);
// For each non-zero time (modified, accessed, changed, born) its entry,
// created when absent, gets the letter in the chosen string; a name (UTF-8)
// goes to m_names with name_flag, else to m_other_names.
void add_macb_times(macb_time_map& map, uint32_t which, uint64_t modified, uint64_t accessed,
                    uint64_t changed, uint64_t born, const std::wstring* name, bool name_flag);
// "si:[....]", then "fn:[....]" (with fn) and "fn8.3[....]" (with fn83) for
// the strings that hold a flag, joined by "; "; a line end when asked and
// something was written.
void print_macb_flags(const macb_flags& record, std::ostream& os, bool line_end, bool fn83,
                      bool fn);

// ---- more row setters (the index and type checks of the record writer) ----

// A text cell (type 11) under the quote rule, line ends kept as they are.
int32_t set_row_string(table_row& row, int32_t index, const std::string& text, uint32_t flags);
// Type 11: the bytes as the cell's text (quote rule); other types: m_bytes.
int32_t set_row_bytes(table_row& row, int32_t index, const byte_array& bytes, uint16_t type,
                      uint32_t flags);
// The same from a pointer; null or a length of 0 changes nothing.
int32_t set_row_byte_range(table_row& row, int32_t index, const uint8_t* bytes, size_t length,
                           uint16_t type, uint32_t flags);
// m_list the values (a single 0 for none), m_number the first, or the last
// when the combined flags are exactly 0x2000; the next cell, when there is
// one, becomes an empty type-0 cell. Returns the cells used.
int32_t set_row_list(table_row& row, int32_t index, const std::set<uint64_t>& values, uint16_t type,
                     uint32_t flags);
// One-column time types only (13, 16, 18, 20, 22; -1 for any other type or
// a bad index, the cell cleared): the value's date, a blank and time (by the
// descriptor, or "yyyy-mm-dd hh:mm:ss.mmm" without one) as a text cell,
// quoted when the row's or the given flags hold 0x8000. 1 when stored, 0
// (cell cleared) for a value that is no valid time.
int32_t set_row_time_text(table_row& row, int32_t index, uint64_t value, uint16_t type,
                          uint32_t quote_flags, const time_format_descriptor* descriptor);

// Applied to a text cell's text before it is stored.
using cell_text_callback = std::function<void(std::string&)>;
// The cell becomes column index's descriptor holding the text, converted by
// the descriptor's type: one-column times give "text: date time" (the text
// read as a number, as a double with flag 0x40000), type 27 a 16-character
// text its GUID text, types 28 and 29 the text's bytes in hexadecimal, type
// 11 the text through the first callback (flag 0x100) or the second (flag
// 0x20000). Every result is a text cell under the quote rule. -1 for a bad
// index or a column list too short, else 1.
int32_t set_row_from_text_by_column(table_row& row, int32_t index, const std::string& text,
                                    const std::vector<vk_variant_lite>& columns,
                                    const time_format_descriptor* descriptor,
                                    const cell_text_callback* first,
                                    const cell_text_callback* second);

// write_table_header with its settings given as arguments.
void write_column_titles(std::ostream& os, const std::vector<vk_variant_lite>& columns,
                         const std::string& separator, bool cell_blank, bool no_padding);

// ---- MFT entries ----

// With header_pending and the record's settings: registers the MFT-entry
// columns in the settings and writes their titles. Then one row per valid
// time group of the record's times inside its window (and one more naming
// m_short as the 8.3 name when it is set), through the settings' layout.
// Text columns: type m_type (else the group's label), data type
// m_sourcetype, other info m_notes, name m_filename, path m_desc, various
// data types m_extra. Returns the rows written; nothing without settings.
int32_t write_mft_entry_rows(uint8_t& header_pending, std::ostream& os, l2t_record& record);

// write_l2t_lines over the caller's time groups instead of the record's
// times: source, short, desc, filename, notes and extra pass through the
// character replacement, and a group's m_list, when not empty, is the notes
// column, joined by "; ". The record is not changed. Returns 1.
int32_t write_l2t_group_lines(uint8_t& header_pending, std::ostream& os, l2t_record& record,
                              macb_map& groups);

}  // namespace vk
