// The record writer: rows of typed cells as width-padded columns, separated
// values or labelled lines; log2timeline lines; body-file lines.
//
// A report registers its columns once in cmd_params::m_columns, fills a
// table_row (or an l2t_record, or a bodyfile_record) per record and hands it
// here. Every line is built whole and written to the stream in one piece;
// the header line is written once per run.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_timestamp_set.h"
#include "foundation/vk_variant.h"

namespace vk {

// ---- table rows ----

struct table_row {
  uint32_t m_valid = 0;  // 1 when set up with 1 to 255 cells
  int32_t m_count = 0;
  std::vector<vk_variant_lite> m_cells;  // cell i belongs to column i
  uint32_t m_default_flags = 0;          // added to the flags of every stored cell

  table_row() = default;
  table_row(int32_t count, bool clear, uint32_t default_flags = 0);
};

inline constexpr int32_t k_max_row_cells = 255;

void init_table_row(table_row& row, int32_t count, bool clear, uint32_t default_flags);
// 1 to 255 cleared cells (with clear: empty text cells); any other count, or
// no memory, leaves the row invalid and empty.
void resize_table_row(table_row& row, int32_t count, bool clear);
void reset_table_row(table_row& row);

// The setters ignore (and return 1 for) a negative index or one past the
// row, an invalid row and a type above 31. A stored cell is cleared, then
// given its value, the type and the row's default flags with the flags.
//
// Returns the cells used: the two-column date-and-time types (12, 15, 17, 19,
// 21) also clear the next cell and return 2 when there is one.
int32_t set_row_number(table_row& row, int32_t index, uint64_t value, uint16_t type,
                       uint32_t flags);
// With flag 0x8000 the text is stored as a CSV field: between double quotes,
// each inner quote doubled. With the flag word exactly 0x10000 line ends are
// shown as "[CRLF]", "[LFCR]", "[LF]", "[CR]". The text setters return 0
// when memory ran out, the cell left empty.
int32_t set_row_text(table_row& row, int32_t index, const std::string& text, uint16_t type,
                     uint32_t flags);
int32_t set_row_wtext(table_row& row, int32_t index, const std::wstring& text, uint16_t type,
                      uint32_t flags);
// The cell that a setter stores into, cleared and given the type and the
// row's default flags with flags; null when the setter must ignore the call.
vk_variant_lite* prepare_row_cell(table_row& row, int32_t index, uint16_t type, uint32_t flags);
// The one quoting rule of stored texts: with the cell's flag 0x8000 a CSV
// field (between double quotes, each inner quote doubled), else the text;
// empty, and false, when memory runs out.
bool store_cell_text(vk_variant_lite& cell, const std::string& text);
// Numbers and times read from the stream's text (parse_u64_text); texts as
// set_row_text. 0 for another type, the cell left cleared.
int32_t set_row_from_stream(table_row& row, int32_t index, const std::ostringstream& stream,
                            uint16_t type, uint32_t flags);
// Types 21 and 22 take a safari time with a fraction and store its FILETIME
// ticks as type 12 or 13; other types the whole part (0 for NaN, negative
// or too large a value).
int32_t set_row_double(table_row& row, int32_t index, double value, uint16_t type, uint32_t flags);

// Whether a bare text cell of the separated forms (-csv, -csvl2t) that
// begins with a double quote is written quoted instead, its quotes doubled:
// a CSV reader takes a quote that opens a cell for the start of a quoted
// value and would join or cut the row. A cell after a separator that ends
// in a blank opens with that blank, and its quote reads as it stands, as
// does a quote further in. Quoted fields (-enable_quoted_csv_fields) are
// quoted anyway.
inline bool opening_quote_quoted(const cmd_params& settings, bool first_column) {
  if (settings.m_quoted_csv || settings.m_multiline ||
      !(settings.m_csv || settings.m_csvl2t || settings.m_csvgen))
    return false;
  return first_column || settings.m_separator.empty() || settings.m_separator.back() != ' ';
}

// The column titles, separated, and a line end; clears m_header_pending.
// Memory that runs out throws std::bad_alloc, the titles unwritten and no
// longer pending: the caller's guard says the loss with what it writes.
void write_table_header(std::ostream& os, cmd_params& settings);
// One row in the layout of the settings (table, separated values, or
// labelled lines with m_multiline), the header first when still pending.
// False when memory ran out and the row (or its titles) was not written
// in full, so that a caller that says losses can say it.
bool output_table_row(std::ostream& os, table_row& row, cmd_params& settings);
void output_table_row_list(std::ostream& os, std::vector<table_row>& rows, cmd_params& settings);
// Switches the settings to the labelled layout, then writes the row.
void output_table_row_labelled(std::ostream& os, table_row& row, cmd_params& settings);

// ---- log2timeline ----

struct l2t_record {
  timestamp_set m_times;
  std::string m_timezone;
  std::string m_source;
  std::string m_sourcetype;
  std::string m_type;
  std::string m_user;
  std::string m_host;
  std::string m_short;
  std::string m_desc;
  uint32_t m_version = 2;
  std::string m_filename;
  std::string m_inode;
  std::string m_notes;
  std::string m_format;
  std::string m_extra;
  std::string m_date_format;
  std::string m_time_format;
  time_format_settings m_time_settings;
  std::string m_delimiter;
  char m_replace_char = ',';
  char m_replacement_char = ' ';
  uint8_t m_lower_macb = 0;
  uint8_t m_padded = 0;
  uint8_t m_no_padding = 0;
  uint8_t m_hex_numbers = 0;
  uint8_t m_spare_flags[2] = {};
  uint8_t m_show_header_info = 0;
  uint8_t m_show_extracted_path = 0;
  uint8_t m_pair_datetime = 0;
  uint8_t m_spare_flag = 0;
  uint8_t m_show_md5 = 0;
  uint8_t m_show_sha1 = 0;
  uint8_t m_show_hash3 = 0;
  std::string m_hash_md5;
  std::string m_hash_sha1;
  std::string m_hash3;
  uint32_t m_extended = 0;
  uint32_t m_ref_count = 0;
  std::string m_extension;
  uint64_t m_size_data = 0;
  uint32_t m_inode_seqnum = 0;
  uint64_t m_parent_inode = 0;
  uint32_t m_parent_seqnum = 0;
  std::string m_clusters;
  byte_array m_header_info;
  uint32_t m_header_dump_mode = 0;
  std::string m_extracted_path;
  uint64_t m_window_start = 0;  // 0: no window
  uint64_t m_window_stop = 0;
  void* m_row_target = nullptr;
  cmd_params* m_settings = nullptr;

  l2t_record();
};

void init_l2t_record(l2t_record& record);
void init_l2t_defaults(l2t_record& record);
// Output choices copied from the settings; nothing for null.
void fill_l2t_from_options(l2t_record& record, cmd_params* settings);
// "0x" and at least 8 hexadecimal digits with m_hex_numbers, else decimal.
void set_l2t_inode(l2t_record& record, uint64_t inode);
void set_l2t_extended(l2t_record& record, uint32_t ref_count, uint64_t parent_inode,
                      uint32_t parent_seqnum, uint32_t inode_seqnum, uint64_t size_data,
                      const char* extension, const char* clusters);
// The column titles joined by the delimiter, without a line end. Memory
// that runs out throws std::bad_alloc, nothing written: the caller's guard
// says the loss.
void write_l2t_header(std::ostream& os, const std::string& delimiter, bool extended, bool pair);
// The columns of one log2timeline line for one time group (its date and
// time texts given), without the line end.
void append_l2t_line(std::string& line, const l2t_record& record, macb_entry& group,
                     const std::string& date, const std::string& clock);
// One line per MACB group of the record's times (ascending), within the
// record's window; the header first when header_pending is set.
int32_t write_l2t_lines(uint8_t& header_pending, std::ostream& os, l2t_record& record);

// ---- body file ----

struct bodyfile_record {
  std::string m_md5;
  std::string m_name;
  uint64_t m_inode = 0;
  std::string m_mode;
  uint64_t m_uid = 0;
  uint64_t m_gid = 0;
  uint64_t m_size = 0;
  timestamp_set m_times;  // unix seconds, 0 for a missing time
  std::string m_timezone;
  uint32_t m_spare = 0;
  cmd_params* m_settings = nullptr;

  bodyfile_record();
};

void init_bodyfile_record(bodyfile_record& record);
void reset_bodyfile_record(bodyfile_record& record);
void write_bodyfile_header(std::ostream& os);
// "md5|name|inode|mode|uid|gid|size|atime|mtime|ctime|crtime"; the header
// first when header_pending is set. Returns 1.
int32_t write_bodyfile_line(uint8_t& header_pending, std::ostream& os, bodyfile_record& record);

}  // namespace vk
