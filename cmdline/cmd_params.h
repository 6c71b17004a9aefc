// The settings object shared by every tool of the family: output choices,
// input choices, identity texts, the record writer's column list, the file
// event callback and the optional "-diags" log.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/filter_entry.h"
#include "foundation/vk_file_record.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_variant.h"

namespace vk {

class report_file;

// File-event callback: (context, path, text, value or null, directory entry
// or null, kind or null) -> result.
using file_callback_fn = uint32_t (*)(void* context, const std::string& path,
                                      const std::string& text, const uint64_t* value,
                                      const dir_entry_info* entry, const uint32_t* kind);

// The data of cmd_params, each field with its default. Its construction and
// member-wise copy, reachable from cmd_params only, are what set_defaults and
// copy_settings start from.
class cmd_params_fields {
 public:
  uint64_t m_created = 0;
  std::string m_command_line;
  std::string m_program_name;
  std::string m_version;
  std::string m_out_file;
  std::string m_out_dir;
  std::string m_user_name;
  std::string m_host_name;
  std::string m_spare_text;
  uint32_t m_spare_words[4] = {};
  std::string m_spare_texts[2];
  std::map<std::string, std::string> m_alias_paths;  // alias (lower case) -> path; "*" alone
  std::map<std::string, std::string> m_aliases;
  std::vector<std::string> m_spare_lists[2];
  std::string m_date_format = "yyyy-mm-dd";
  std::string m_time_format = "hh:mm:ss.xxx";
  time_format_settings m_time_settings = {};
  char m_replace_char = '|';      // replaced inside cell values; 0 = none
  char m_replacement_char = ';';  // written in its place
  uint32_t m_spare_words2[2] = {};
  std::string m_separator = " | ";  // between cells
  uint8_t m_no_padding = 0;
  uint8_t m_cell_blank = 1;
  uint8_t m_hex_numbers = 1;
  uint8_t m_user_name_given = 0;
  uint8_t m_host_name_given = 0;
  uint8_t m_split_pathfile = 0;
  uint8_t m_quoted_csv = 0;
  uint8_t m_spare_flag0 = 0;
  uint8_t m_spare_flag1 = 1;
  uint32_t m_spare_count = 16;
  std::vector<std::string> m_spare_list;
  uint32_t m_spare_words3[2] = {};
  uint8_t m_compress = 0;
  uint8_t m_gzip = 0;
  uint8_t m_zlib = 0;
  uint8_t m_zlibex = 0;
  std::string m_zlibex_value;
  int32_t m_threads = 0;
  uint8_t m_row_redirect = 0;
  std::string m_spare_text2;
  void* m_row_target = nullptr;  // set by the tool; never copied
  uint8_t m_out_dir_given = 0;
  uint8_t m_out_file_given = 0;
  int32_t m_cpu_instance = -1;
  int32_t m_cpu = 0;
  uint8_t m_separate_files = 0;
  int32_t m_fragment_files = 0;
  uint8_t m_spare_flag2 = 0;
  uint32_t m_spare_words4[2] = {};
  std::string m_spare_text3;
  uint8_t m_spare_flag3 = 0;
  uint32_t m_spare_words5[4] = {};  // the first two are not copied
  uint8_t m_file_callback_on = 0;
  file_callback_fn m_file_callback = nullptr;
  void* m_file_callback_context = nullptr;
  dir_entry_info m_dir_entry;
  uint8_t m_xml = 0;
  uint8_t m_csv = 0;
  uint8_t m_csvl2t = 0;
  uint8_t m_csvgen = 0;
  uint8_t m_bodyfile = 0;
  uint8_t m_multiline = 0;
  uint8_t m_spare_flags[4] = {};
  uint8_t m_verbose = 1;
  uint8_t m_status_messages = 1;
  uint8_t m_row_line_break = 1;
  uint8_t m_pair_datetime = 0;
  uint8_t m_header_pending = 1;
  // Run state.
  uint32_t m_run_counter = 0;
  std::string m_run_texts[3];
  uint32_t m_run_words[4] = {};
  std::vector<vk_variant_lite> m_columns;
  // Names the column list: whoever registers a list gives it a new nonzero
  // stamp, whoever changes a list in any other way sets 0. A row writer that
  // worked out where its cells go trusts that work while the stamp stays.
  uint32_t m_columns_stamp = 0;
  uint8_t m_log_on = 0;
  int32_t m_log_level = 0;
  std::ostringstream* m_capture = nullptr;  // owned by cmd_params
  // The log's stream: owned by cmd_params, or by m_log_file when it has one.
  std::ostream* m_log = nullptr;
  report_file* m_log_file = nullptr;  // owned by cmd_params: the file "-diags" writes
  std::string m_log_path;
  // The lines of a log written straight to a pipe or a device, held until
  // the run has found that it is none of its inputs (release_diags_log).
  uint8_t m_log_held = 0;
  std::string m_log_pending;
  std::string m_run_notes[2];
  uint8_t m_profile = 0;
  uint32_t m_spare_words6[2] = {};
  std::string m_signal;
  std::vector<filter_entry> m_filters;
  std::vector<filter_entry> m_skip_filters;
  uint8_t m_pipe = 0;
  std::string m_enum_dir;
  int32_t m_num_subdirs = 0;
  uint8_t m_enum_dir_given = 0;
  std::string m_os_version;
  uint32_t m_os_version_major = 0;
  uint32_t m_os_version_minor = 0;
  uint32_t m_os_version_patch = 0;
  uint32_t m_os_version_extra = 0;
  uint8_t m_start_set = 0;
  uint64_t m_start_time = 0;  // FILETIME ticks
  uint32_t m_start_unix = 0;
  uint8_t m_stop_set = 0;
  uint64_t m_stop_time = 0;  // all bits set: open end
  uint32_t m_stop_unix = 0;
  uint64_t m_scan_start_offset = 0;  // where an NTFS volume carve begins; 0 = its start

 private:
  friend class cmd_params;
  cmd_params_fields() = default;
  cmd_params_fields(const cmd_params_fields&) = default;
  cmd_params_fields& operator=(const cmd_params_fields&) = default;
  cmd_params_fields& operator=(cmd_params_fields&&) = default;
  ~cmd_params_fields() = default;
};

class cmd_params : public cmd_params_fields {
 public:
  // created: FILETIME ticks of creation; capture: keep an output capture.
  explicit cmd_params(uint64_t created = 0, bool capture = false);
  // A copy takes every setting but owns no "-diags" log (logging off).
  cmd_params(const cmd_params& other);
  cmd_params& operator=(const cmd_params& other);
  virtual ~cmd_params();

  void set_defaults();
  void reset_run_state();
  void reset_capture();
  void reset_dir_entry();
  // Every option setting of source; no log, no row target.
  void copy_settings(const cmd_params& source);
  // copy_settings, then an empty output capture when the source has one.
  // The source's log stays the source's: the copy never opens its path.
  void assign(const cmd_params& source);

  // Closes and deletes the "-diags" stream when there is one; logging off.
  // A log written through a report_file is put in place of its target
  // unless finish_diags_log ended it first.
  bool close_log();
  void flush_log();
  void clear_log_state();
  // The output capture, or the process-wide null stream when there is none.
  std::ostream& capture_stream();

 private:
  void delete_log();
};

// Stores the separator and picks the character replaced inside values
// (flag: ',' is replaced by ';' instead of a blank). Lower-cases text.
void set_field_separator(cmd_params& settings, std::string& text, bool flag);

// "-diags" log writers: "->", the text, a line end, a flush; nothing when
// logging is off or there is no stream.
void diags_log(cmd_params& settings, const std::string& text);
void diags_log_level(cmd_params& settings, int32_t level, const std::string& text);
void diags_log_stream(cmd_params& settings, const std::ostringstream& text);
void diags_log_stream_level(cmd_params& settings, int32_t level, const std::ostringstream& text);
void diags_log_nonempty(cmd_params* settings, const std::string& text);
void diags_log_stream_opt(cmd_params* settings, const std::ostringstream& text);
// "label: 0x.." ["/0x.."] [" [count]"].
void diags_log_values(cmd_params* settings, const char* label, uint64_t first, uint64_t second,
                      uint32_t count);
// Hex dump of the bytes (offsets from start_offset) as one log entry.
void diags_log_hex(cmd_params& settings, const uint8_t* data, uint32_t length,
                   uint64_t start_offset);

}  // namespace vk
