#include "cmdline/cmd_params.h"

#include <algorithm>
#include <iomanip>

#include "cmdline/report_file.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_hexdump.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_string.h"

namespace vk {

cmd_params::cmd_params(uint64_t created, bool capture) {
  set_defaults();
  m_created = created;
  if (capture) m_capture = new std::ostringstream();
  reset_run_state();
}

cmd_params::cmd_params(const cmd_params& other) : cmd_params_fields() {
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
  if (m_log_file) {
    // A log nobody finished is put in place as it stands.
    vk::guarded([&] { m_log_file->finish(); });
    delete m_log_file;
    m_log_file = nullptr;
  } else {
    delete m_log;
  }
  m_log = nullptr;
  m_log_on = 0;
}

void cmd_params::set_defaults() {
  cmd_params_fields defaults;
  // Not option settings, so kept: the creation time, the two streams (with
  // logging off nothing is written to the log) and the run state.
  defaults.m_created = m_created;
  defaults.m_capture = m_capture;
  defaults.m_log = m_log;
  defaults.m_log_file = m_log_file;
  defaults.m_log_held = m_log_held;
  std::swap(defaults.m_log_pending, m_log_pending);
  defaults.m_run_counter = m_run_counter;
  std::swap(defaults.m_run_texts, m_run_texts);
  std::swap(defaults.m_run_words, m_run_words);
  std::swap(defaults.m_run_notes, m_run_notes);
  static_cast<cmd_params_fields&>(*this) = std::move(defaults);
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

void cmd_params::copy_settings(const cmd_params& source) {
  // Copied first, so that a failing copy leaves this object as it was.
  cmd_params_fields copy(source);
  // Never taken over: the streams (a copy owns none), logging, the row
  // target, the first two of the last four spare words, the directory entry
  // and the run state beyond its counter, first text and two notes.
  copy.m_capture = nullptr;
  copy.m_log = nullptr;
  copy.m_log_file = nullptr;
  copy.m_log_on = 0;
  copy.m_log_level = 0;
  copy.m_log_held = 0;
  copy.m_log_pending.clear();
  copy.m_row_target = nullptr;
  copy.m_spare_words5[0] = 0;
  copy.m_spare_words5[1] = 0;
  copy.m_run_texts[1].clear();
  copy.m_run_texts[2].clear();
  std::fill(std::begin(copy.m_run_words), std::end(copy.m_run_words), 0);

  // Streams this object owned are released, not leaked.
  delete_log();
  delete m_capture;
  static_cast<cmd_params_fields&>(*this) = std::move(copy);
  reset_dir_entry();
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
  str_to_lower(text);
  if (text.find('|') != std::string::npos) {
    settings.m_replace_char = '|';
    settings.m_replacement_char = ';';
  } else if (text.find(',') != std::string::npos) {
    settings.m_replace_char = ',';
    settings.m_replacement_char = flag ? ';' : ' ';
  } else if (text.find(';') != std::string::npos) {
    settings.m_replace_char = ';';
    settings.m_replacement_char = ',';
  } else if (text == "tab" || text == "\\t" || text.find('\t') != std::string::npos) {
    // A tab inside a value would split its row.
    if (text == "tab" || text == "\\t") settings.m_separator.assign(1, '\t');
    settings.m_replace_char = '\t';
    settings.m_replacement_char = ' ';
  } else {
    settings.m_replace_char = 0;
    settings.m_replacement_char = 0;
  }
}

namespace {
void write_log_line(cmd_params& s, const std::string& text) {
  if (!s.m_log_on || !s.m_log) return;
  vk::guarded([&] {
    if (s.m_log_held) {
      s.m_log_pending.append("->").append(text).push_back('\n');
      return;
    }
    *s.m_log << "->" << text << '\n';
    s.m_log->flush();
  });
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
  vk::guarded([&] {
    std::ostringstream os;
    os << label << ": " << hex_number_text(first, true, 2);
    if (second != 0) os << '/' << hex_number_text(second, true, 2);
    if (count != 0) os << " [" << count << ']';
    diags_log_stream_opt(settings, os);
  });
}

void diags_log_hex(cmd_params& settings, const uint8_t* data, uint32_t length,
                   uint64_t start_offset) {
  if (!settings.m_log_on || !settings.m_log || !data || length == 0) return;
  guarded([&] {
    std::ostringstream os;
    os << std::hex << "[0x" << length << "]\n";
    std::string text = os.str();
    if (hexdump_append(text, data, length, start_offset)) write_log_line(settings, text);
  });
}

}  // namespace vk
