#include "cmdline/cmd_params.h"

#include <algorithm>
#include <iomanip>

#include "foundation/vk_misc.h"

namespace vk {

cmd_params::cmd_params(uint64_t created, bool capture)
    : m_created(created),
      m_file_callback_on(0),
      m_file_callback(nullptr),
      m_file_callback_context(nullptr),
      m_capture(nullptr),
      m_log(nullptr) {
  set_defaults();
  m_created = created;
  if (capture) m_capture = new std::ostringstream();
  reset_run_state();
}

cmd_params::cmd_params(const cmd_params& other) : m_capture(nullptr), m_log(nullptr) {
  m_file_callback_on = 0;
  m_file_callback = nullptr;
  m_file_callback_context = nullptr;
  assign(other);
}

cmd_params& cmd_params::operator=(const cmd_params& other) {
  if (this != &other) assign(other);
  return *this;
}

cmd_params::~cmd_params() {
  delete_log();
  delete m_capture;
}

void cmd_params::delete_log() {
  if (m_log) {
    try {
      m_log->close();
    } catch (...) {
    }
    delete m_log;
    m_log = nullptr;
  }
  m_log_on = 0;
}

void cmd_params::set_defaults() {
  m_command_line.clear();
  m_program_name.clear();
  m_version.clear();
  m_out_file.clear();
  m_out_dir.clear();
  m_user_name.clear();
  m_host_name.clear();
  m_spare_text.clear();
  std::fill(std::begin(m_spare_words), std::end(m_spare_words), 0);
  for (auto& s : m_spare_texts) s.clear();
  m_alias_paths.clear();
  m_aliases.clear();
  for (auto& l : m_spare_lists) l.clear();
  m_date_format = "yyyy-mm-dd";
  m_time_format = "hh:mm:ss.xxx";
  m_time_settings = time_format_settings{};
  m_replace_char = '|';
  m_replacement_char = ';';
  std::fill(std::begin(m_spare_words2), std::end(m_spare_words2), 0);
  m_separator = " | ";
  m_no_padding = 0;
  m_cell_blank = 1;
  m_hex_numbers = 1;
  m_user_name_given = 0;
  m_host_name_given = 0;
  m_split_pathfile = 0;
  m_quoted_csv = 0;
  m_spare_flag0 = 0;
  m_spare_flag1 = 1;
  m_spare_count = 16;
  m_spare_list.clear();
  std::fill(std::begin(m_spare_words3), std::end(m_spare_words3), 0);
  m_compress = 0;
  m_gzip = 0;
  m_zlib = 0;
  m_zlibex = 0;
  m_zlibex_value.clear();
  m_threads = 0;
  m_row_redirect = 0;
  m_spare_text2.clear();
  m_row_target = nullptr;
  m_out_dir_given = 0;
  m_out_file_given = 0;
  m_cpu_instance = -1;
  m_cpu = 0;
  m_separate_files = 0;
  m_fragment_files = 0;
  m_spare_flag2 = 0;
  std::fill(std::begin(m_spare_words4), std::end(m_spare_words4), 0);
  m_spare_text3.clear();
  m_spare_flag3 = 0;
  std::fill(std::begin(m_spare_words5), std::end(m_spare_words5), 0);
  m_file_callback_on = 0;
  m_file_callback = nullptr;
  m_file_callback_context = nullptr;
  reset_dir_entry();
  m_xml = 0;
  m_csv = 0;
  m_csvl2t = 0;
  m_csvgen = 0;
  m_bodyfile = 0;
  m_multiline = 0;
  std::fill(std::begin(m_spare_flags), std::end(m_spare_flags), 0);
  m_verbose = 1;
  m_status_messages = 1;
  m_row_line_break = 1;
  m_pair_datetime = 0;
  m_header_pending = 1;
  m_columns.clear();
  // The stream itself stays; with logging off nothing is written to it.
  m_log_on = 0;
  m_log_level = 0;
  m_log_path.clear();
  m_profile = 0;
  std::fill(std::begin(m_spare_words6), std::end(m_spare_words6), 0);
  m_signal.clear();
  m_filters.clear();
  m_skip_filters.clear();
  m_pipe = 0;
  m_enum_dir.clear();
  m_num_subdirs = 0;
  m_enum_dir_given = 0;
  m_os_version.clear();
  m_os_version_major = 0;
  m_os_version_minor = 0;
  m_os_version_patch = 0;
  m_os_version_extra = 0;
  m_start_set = 0;
  m_start_time = 0;
  m_start_unix = 0;
  m_stop_set = 0;
  m_stop_time = 0;
  m_stop_unix = 0;
}

void cmd_params::reset_run_state() {
  m_run_counter = 0;
  for (auto& s : m_run_texts) s.clear();
  std::fill(std::begin(m_run_words), std::end(m_run_words), 0);
  reset_capture();
  for (auto& s : m_run_notes) s.clear();
  reset_dir_entry();
}

void cmd_params::reset_capture() {
  if (!m_capture) return;
  m_capture->clear();
  m_capture->str("");
}

void cmd_params::reset_dir_entry() {
  clear_file_stat_info(m_dir_entry);
  m_dir_entry.attribute_bits = 0;
  m_dir_entry.list_word = 0;
  m_dir_entry.first_list.clear();
  m_dir_entry.second_list.clear();
}

void cmd_params::copy_settings(const cmd_params& s) {
  // Streams this object owned are released, not leaked; a copy owns none.
  delete_log();
  delete m_capture;
  m_capture = nullptr;
  set_defaults();
  reset_run_state();

  m_created = s.m_created;
  m_command_line = s.m_command_line;
  m_program_name = s.m_program_name;
  m_version = s.m_version;
  m_out_file = s.m_out_file;
  m_out_dir = s.m_out_dir;
  m_user_name = s.m_user_name;
  m_host_name = s.m_host_name;
  m_spare_text = s.m_spare_text;
  std::copy(std::begin(s.m_spare_words), std::end(s.m_spare_words), m_spare_words);
  std::copy(std::begin(s.m_spare_texts), std::end(s.m_spare_texts), m_spare_texts);
  m_alias_paths = s.m_alias_paths;
  m_aliases = s.m_aliases;
  std::copy(std::begin(s.m_spare_lists), std::end(s.m_spare_lists), m_spare_lists);
  m_date_format = s.m_date_format;
  m_time_format = s.m_time_format;
  m_time_settings = s.m_time_settings;
  m_replace_char = s.m_replace_char;
  m_replacement_char = s.m_replacement_char;
  std::copy(std::begin(s.m_spare_words2), std::end(s.m_spare_words2), m_spare_words2);
  m_separator = s.m_separator;
  m_no_padding = s.m_no_padding;
  m_cell_blank = s.m_cell_blank;
  m_hex_numbers = s.m_hex_numbers;
  m_user_name_given = s.m_user_name_given;
  m_host_name_given = s.m_host_name_given;
  m_split_pathfile = s.m_split_pathfile;
  m_quoted_csv = s.m_quoted_csv;
  m_spare_flag0 = s.m_spare_flag0;
  m_spare_flag1 = s.m_spare_flag1;
  m_spare_count = s.m_spare_count;
  m_spare_list = s.m_spare_list;
  std::copy(std::begin(s.m_spare_words3), std::end(s.m_spare_words3), m_spare_words3);
  m_compress = s.m_compress;
  m_gzip = s.m_gzip;
  m_zlib = s.m_zlib;
  m_zlibex = s.m_zlibex;
  m_zlibex_value = s.m_zlibex_value;
  m_threads = s.m_threads;
  m_row_redirect = s.m_row_redirect;
  m_spare_text2 = s.m_spare_text2;
  m_row_target = nullptr;
  m_out_dir_given = s.m_out_dir_given;
  m_out_file_given = s.m_out_file_given;
  m_cpu_instance = s.m_cpu_instance;
  m_cpu = s.m_cpu;
  m_separate_files = s.m_separate_files;
  m_fragment_files = s.m_fragment_files;
  m_spare_flag2 = s.m_spare_flag2;
  std::copy(std::begin(s.m_spare_words4), std::end(s.m_spare_words4), m_spare_words4);
  m_spare_text3 = s.m_spare_text3;
  m_spare_flag3 = s.m_spare_flag3;
  m_spare_words5[2] = s.m_spare_words5[2];
  m_spare_words5[3] = s.m_spare_words5[3];
  m_file_callback_on = s.m_file_callback_on;
  m_file_callback = s.m_file_callback;
  m_file_callback_context = s.m_file_callback_context;
  m_xml = s.m_xml;
  m_csv = s.m_csv;
  m_csvl2t = s.m_csvl2t;
  m_csvgen = s.m_csvgen;
  m_bodyfile = s.m_bodyfile;
  m_multiline = s.m_multiline;
  std::copy(std::begin(s.m_spare_flags), std::end(s.m_spare_flags), m_spare_flags);
  m_verbose = s.m_verbose;
  m_status_messages = s.m_status_messages;
  m_row_line_break = s.m_row_line_break;
  m_pair_datetime = s.m_pair_datetime;
  m_header_pending = s.m_header_pending;
  m_run_counter = s.m_run_counter;
  m_run_texts[0] = s.m_run_texts[0];
  m_columns = s.m_columns;
  std::copy(std::begin(s.m_run_notes), std::end(s.m_run_notes), m_run_notes);
  m_profile = s.m_profile;
  std::copy(std::begin(s.m_spare_words6), std::end(s.m_spare_words6), m_spare_words6);
  m_signal = s.m_signal;
  m_filters = s.m_filters;
  m_skip_filters = s.m_skip_filters;
  m_pipe = s.m_pipe;
  m_enum_dir = s.m_enum_dir;
  m_num_subdirs = s.m_num_subdirs;
  m_enum_dir_given = s.m_enum_dir_given;
  m_os_version = s.m_os_version;
  m_os_version_major = s.m_os_version_major;
  m_os_version_minor = s.m_os_version_minor;
  m_os_version_patch = s.m_os_version_patch;
  m_os_version_extra = s.m_os_version_extra;
  m_start_set = s.m_start_set;
  m_start_time = s.m_start_time;
  m_start_unix = s.m_start_unix;
  m_stop_set = s.m_stop_set;
  m_stop_time = s.m_stop_time;
  m_stop_unix = s.m_stop_unix;
}

void cmd_params::assign(const cmd_params& source) {
  if (this == &source) return;
  copy_settings(source);
  // The source's log stays the source's: reopening its path here would
  // truncate the file it is still writing.
  if (source.m_capture) m_capture = new std::ostringstream();
}

bool cmd_params::close_log() {
  delete_log();
  return true;
}

void cmd_params::flush_log() {
  if (m_log_on && m_log) m_log->flush();
}

void cmd_params::clear_log_state() {
  if (m_log_on && m_log) m_log->clear();
}

std::ostream& cmd_params::capture_stream() {
  if (m_capture) return *m_capture;
  return null_stream;
}

// ---------------------------------------------------------------------------

void set_field_separator(cmd_params& settings, std::string& text, bool flag) {
  settings.m_separator = text;
  if (settings.m_quoted_csv) {
    settings.m_replace_char = 0;
    settings.m_replacement_char = 0;
    return;
  }
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (text.find('|') != std::string::npos) {
    settings.m_replace_char = '|';
    settings.m_replacement_char = ';';
  } else if (text.find(',') != std::string::npos) {
    settings.m_replace_char = ',';
    settings.m_replacement_char = flag ? ';' : ' ';
  } else if (text == "tab" || text == "\\t") {
    settings.m_separator.assign(1, '\t');
    settings.m_replace_char = 0;
    settings.m_replacement_char = 0;
  } else {
    settings.m_replace_char = 0;
    settings.m_replacement_char = 0;
  }
}

namespace {
void write_log_line(cmd_params& s, const std::string& text) {
  if (!s.m_log_on || !s.m_log) return;
  try {
    *s.m_log << "->" << text << '\n';
    s.m_log->flush();
  } catch (...) {
  }
}
}  // namespace

void diags_log(cmd_params& settings, const std::string& text) {
  write_log_line(settings, text);
}

void diags_log_level(cmd_params& settings, int32_t level, const std::string& text) {
  if (level <= settings.m_log_level) write_log_line(settings, text);
}

void diags_log_stream(cmd_params& settings, const std::ostringstream& text) {
  if (settings.m_log_on && settings.m_log) write_log_line(settings, text.str());
}

void diags_log_stream_level(cmd_params& settings, int32_t level, const std::ostringstream& text) {
  if (level <= settings.m_log_level) diags_log_stream(settings, text);
}

void diags_log_nonempty(cmd_params* settings, const std::string& text) {
  if (settings && !text.empty()) write_log_line(*settings, text);
}

void diags_log_stream_opt(cmd_params* settings, const std::ostringstream& text) {
  if (settings) diags_log_stream(*settings, text);
}

void diags_log_values(cmd_params* settings, const char* label, uint64_t first, uint64_t second,
                      uint32_t count) {
  if (!label || !settings || !settings->m_log_on || !settings->m_log) return;
  try {
    std::ostringstream os;
    os << label << ": " << hex_number_text(first, true, 2);
    if (second != 0) os << '/' << hex_number_text(second, true, 2);
    if (count != 0) os << " [" << count << ']';
    diags_log_stream_opt(settings, os);
  } catch (...) {
  }
}

void diags_log_hex(cmd_params& settings, const uint8_t* data, uint32_t length,
                   uint64_t start_offset) {
  if (!settings.m_log_on || !settings.m_log || !data || length == 0) return;
  try {
    std::ostringstream os;
    os << std::hex << std::setfill('0') << std::right;
    os << "[0x" << length << "]\n";
    os << "0x" << std::setw(8) << start_offset << " : ";
    std::string column;
    for (uint32_t i = 0; i < length; ++i) {
      os << std::setw(2) << static_cast<unsigned>(data[i]) << ' ';
      column += (data[i] >= 0x20 && data[i] <= 0x7E) ? static_cast<char>(data[i]) : '.';
      if ((i + 1) % 16 == 0) {
        os << "  " << column << '\n';
        column.clear();
        // No dangling offset after the last byte.
        if (i + 1 < length) os << "0x" << std::setw(8) << (start_offset + i + 1) << " : ";
      }
    }
    if (length % 16 != 0) {
      for (uint32_t k = length % 16; k < 16; ++k) os << "   ";
      os << "  " << column << '\n';
    }
    std::string text = os.str();
    text.pop_back();  // the log line supplies the line end
    write_log_line(settings, text);
  } catch (...) {
  }
}

}  // namespace vk
