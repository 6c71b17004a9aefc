#include "cmdline/common_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "cmdline/file_filters.h"
#include "cmdline/filter_entry.h"
#include "cmdline/progress.h"
#include "cmdline/report_file.h"
#include "cmdline/run_context.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_args.h"
#include "foundation/vk_console.h"
#include "foundation/vk_env.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_time.h"
#include "foundation/vk_time_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

const char k_imbalanced_alias[] = "imbalanced alias to true pathfiles";

void print_error(const std::string& text) {
  console_write(console_stderr, shown_message(text), true);
}

// The separator of a format option or "-csv_separator"; the text is lower-
// cased by the setter, so it gets a copy.
void use_separator(cmd_params& s, std::string text) {
  set_field_separator(s, text, false);
}

// A separator the row forms keep apart from the values: ',', '|' or ';'
// (blanks around it stay, unless -no_whitespace or quoting drops them), or
// a tab, also written "tab" or "\t". Any other text would split the cells
// that hold it (':' stands in every time) or run them together (none).
bool separator_accepted(const std::string& text) {
  std::string lower = text;
  str_to_lower(lower);
  if (lower == "\t" || lower == "tab" || lower == "\\t") return true;
  const size_t at = text.find_first_not_of(' ');
  if (at == std::string::npos || text.find_last_not_of(' ') != at) return false;
  return text[at] == ',' || text[at] == '|' || text[at] == ';';
}

void clear_formats(cmd_params& s) {
  s.m_xml = s.m_csv = s.m_csvl2t = s.m_bodyfile = s.m_multiline = 0;
}

// Two report forms given together: the one read last in the fixed order
// below is written, and the run says which.
void say_form_conflict(const std::vector<std::string>& args) {
  std::vector<const char*> given;
  for (const char* form : {"-csv", "-csvgen", "-csvl2t", "-bodyfile", "-xml", "-multiline"})
    if (has_option(form, args, 1)) given.push_back(form);
  if (given.size() < 2) return;
  std::string text = "options ";
  for (size_t i = 0; i < given.size(); ++i) {
    if (i > 0) text += i + 1 == given.size() ? " and " : ", ";
    text += given[i];
  }
  text += " name different report forms: writing ";
  text += given.back();
  print_error(text + "\n");
}

void read_format_options(cmd_params& s, std::vector<std::string>& args) {
  say_form_conflict(args);
  if (take_option_flag("-csv", args, false)) {
    clear_formats(s);
    s.m_csv = 1;
    use_separator(s, ",");
    s.m_no_padding = s.m_pair_datetime ? 0 : 1;
  }
  if (take_option_flag("-csvgen", args, false)) {
    clear_formats(s);
    s.m_csvgen = 1;
    use_separator(s, ",");
    s.m_no_padding = 1;
  }
  if (take_option_flag("-csvl2t", args, false)) {
    clear_formats(s);
    s.m_csvl2t = 1;
    s.m_header_pending = 1;
    use_separator(s, ",");
  }
  if (take_option_flag("-bodyfile", args, false)) {
    clear_formats(s);
    s.m_bodyfile = 1;
    s.m_header_pending = 1;
    use_separator(s, "|");
  }
  if (take_option_flag("-xml", args, false)) {
    clear_formats(s);
    s.m_xml = 1;
    s.m_header_pending = 0;
    use_separator(s, "");
  }
  if (take_option_flag("-multiline", args, false)) {
    clear_formats(s);
    s.m_multiline = 1;
    s.m_header_pending = 1;
    s.m_separator.clear();
    s.m_replace_char = 0;
    s.m_replacement_char = 0;
  }
}

// "-alias" (whole paths) or "-aliaspath" (path prefixes): pairs separated
// by '|'. False, after the message, for an odd number of pieces and, for
// "-alias", an empty value.
bool read_alias_pairs(cmd_params& s, const std::string& value, bool prefixes) {
  std::vector<std::string> pieces;
  const bool split = split_string(value, '|', pieces, true, false, false);
  if ((!split && !prefixes) || pieces.size() % 2 != 0) {
    print_error(std::string(k_imbalanced_alias) + ", aborting\n");
    return false;
  }
  for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
    std::string key = expand_env_vars(pieces[i], true);
    std::string path = expand_env_vars(pieces[i + 1], true);
    str_to_lower(key);
    if (prefixes) {
      if (!key.empty() && key.back() == '/') key.pop_back();
      erase_char(path, '"');
      if (!path.empty() && path.back() == '/') path.pop_back();
      s.m_alias_paths.emplace(std::move(key), std::move(path));
    } else {
      s.m_aliases.emplace(std::move(key), std::move(path));
    }
  }
  return true;
}

// Makes sure the run will be able to open its output file without harming
// anything that is there, and without making anything: for an absent path
// its folder must take a new file; anything present (file, link, device) is
// only opened for writing, never created, emptied or removed; one of the
// process's own streams must be open for writing, and a standard stream
// must not have been closed when the run began.
bool probe_output_file(const std::string& given) {
  if (!output_name_accepted(given)) return false;
  if (const int fd = named_stream_descriptor(given); fd != -1) {
    const int flags = standard_stream_was_closed(fd) ? -1 : ::fcntl(fd, F_GETFL);
    if (flags != -1 && (flags & O_ACCMODE) != O_RDONLY) return true;
    errno = EBADF;
    return false;
  }
  // A link to a name not made yet is probed at that name.
  struct stat st;
  const std::string path = posix_stat(given.c_str(), st) ? given : output_destination(given);
  if (path.empty()) return false;
  if (!posix_lstat(path.c_str(), st)) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (!posix_stat(folder.c_str(), st)) return false;
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return false;
    }
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  }
  // Present: it must take writing, and is neither emptied nor changed here.
  // A named pipe is not opened: a writer that comes and goes would end its
  // reader's input; the report's open waits for a reader, as a shell's does.
  errno = 0;
  if (posix_stat(path.c_str(), st) && S_ISFIFO(st.st_mode))
    return ::access(path.c_str(), W_OK) == 0;
  const int fd = posix_open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  if (fd != -1) {
    posix_close(fd);
    return true;
  }
  if (errno == 0) errno = EIO;
  return false;
}

std::string reason(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

// "-num_subdirs": a count of folder levels, decimal, 0 or more.
bool read_depth(const std::string& value, int32_t& out) {
  if (value.empty() || value.size() > 9) return false;
  for (char c : value)
    if (c < '0' || c > '9') return false;
  out = static_cast<int32_t>(std::stol(value));
  return true;
}

// Takes every occurrence of a filter option into `list`; "-filter_path",
// looked up once the list holds entries, goes into all of them.
void read_filter_option(const char* name, std::vector<filter_entry>& list,
                        std::vector<std::string>& args) {
  std::string value;
  while (take_option_value(name, value, args)) {
    std::vector<filter_entry> entries;
    parse_filter_list(entries, value);
    list.insert(list.end(), entries.begin(), entries.end());
    std::string filter_path;
    if (list.empty() || !take_option_value("-filter_path", filter_path, args)) continue;
    str_to_lower(filter_path);
    const std::wstring wide = from_utf8(filter_path);
    for (filter_entry& e : list) {
      e.m_filter_path = wide;
      e.m_filter_path_length = static_cast<uint32_t>(filter_path.size());
    }
  }
}

// "-filter_sig": hexadecimal bytes, then '|' or ',' and an offset.
void read_signature_filters(cmd_params& s, std::vector<std::string>& args) {
  std::string value;
  while (take_option_value("-filter_sig", value, args)) {
    std::vector<std::string> pieces;
    if (value.find('|') != std::string::npos) split_string(value, '|', pieces, true, false, false);
    if (value.find(',') != std::string::npos) split_string(value, ',', pieces, true, false, false);
    if (pieces.empty()) pieces.push_back(value);
    std::vector<uint8_t> bytes = parse_byte_list(pieces[0], ' ', true);
    uint64_t offset = 0;
    if (pieces.size() == 2) parse_u64_text(pieces[1], &offset);
    if (bytes.empty()) continue;
    filter_entry entry;
    init_filter_entry(entry);
    entry.m_signature = std::move(bytes);
    entry.m_signature_offset = offset;
    s.m_filters.push_back(std::move(entry));
  }
}

enum class window_read { bad_form, not_parsed, ok };

// One end of the time window: a date (year, month, day in that order,
// separated by '/' or '-') and optionally a blank and a clock time.
window_read read_window_end(const std::string& value, const char* default_clock, uint64_t& ticks,
                            uint32_t& unix_seconds) {
  ticks = 0;
  unix_seconds = 0;
  const size_t blank = value.find(' ');
  const std::string date = value.substr(0, blank);
  std::string clock = blank == std::string::npos ? std::string() : value.substr(blank + 1);
  if (date.empty()) return window_read::bad_form;
  char separator = 0;
  if (date.find('/') != std::string::npos)
    separator = '/';
  else if (date.find('-') != std::string::npos)
    separator = '-';
  else
    return window_read::bad_form;
  if (clock.empty()) clock = default_clock;

  _windows_systemtime st;
  if (!parse_date_time_text(date.c_str(), clock.c_str(), "YMD", separator, st))
    return window_read::not_parsed;
  // Tick counts exist for these years only.
  if (st.m_year < 1601 || st.m_year > 30827) return window_read::not_parsed;
  uint64_t value_ticks = 0;
  if (!systemtime_to_filetime(value_ticks, st)) return window_read::not_parsed;
  const time t(value_ticks, type_time::filetime);
  if (!t.valid()) return window_read::not_parsed;
  ticks = value_ticks;
  // The 32-bit unix form covers 1970 to 2106: clamp rather than wrap.
  if (t.m_unix_seconds > 0)
    unix_seconds =
        t.m_unix_seconds > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(t.m_unix_seconds);
  return window_read::ok;
}

// A value that cannot be read leaves that end of the window open, said on
// standard error; it never stops the run.
void read_time_window(cmd_params& s, std::vector<std::string>& args) {
  std::string value;
  if (take_option_value("-cmd_start_time", value, args)) {
    s.m_start_set = 0;
    const window_read r = read_window_end(value, "", s.m_start_time, s.m_start_unix);
    if (r == window_read::ok) {
      s.m_start_set = 1;
      s.m_stop_set = 1;
      s.m_stop_time = std::numeric_limits<uint64_t>::max();
      s.m_stop_unix = std::numeric_limits<uint32_t>::max();
    } else {
      s.m_stop_set = 0;
      s.m_stop_time = 0;
      s.m_stop_unix = 0;
      print_error("invalid start time, ignoring\n");
    }
  }
  if (take_option_value("-cmd_stop_time", value, args)) {
    s.m_stop_set = 0;
    const window_read r = read_window_end(value, "23:59:59", s.m_stop_time, s.m_stop_unix);
    if (r == window_read::ok && (!s.m_start_set || s.m_stop_time >= s.m_start_time)) {
      s.m_stop_set = 1;
    } else {
      s.m_stop_time = 0;
      s.m_stop_unix = 0;
      print_error("invalid stop time, ignoring\n");
    }
  }
}

void read_layout_options(cmd_params& s, std::vector<std::string>& args) {
  std::string value;
  if (take_option_value("-dateformat", value, args)) {
    if (value.size() == 8 || value.size() == 10)
      s.m_date_format = str_to_lower(value);
    else
      print_error("invalid " + value + ", using default format\n");
  }
  if (take_option_value("-timeformat", value, args)) {
    const bool length_ok = value.size() == 8 || (value.size() >= 12 && value.size() <= 18);
    if (length_ok && value.find(':') != std::string::npos)
      s.m_time_format = str_to_lower(value);
    else
      print_error("invalid " + value + ", using default format\n");
  }
}

// The product version of the system version file, where there is one.
void read_os_version(cmd_params& s) {
  std::vector<uint8_t> bytes;
  if (!read_file_capped(bytes, "/System/Library/CoreServices/SystemVersion.plist",
                        std::numeric_limits<uint32_t>::max()))
    return;
  const std::string text(bytes.begin(), bytes.end());
  const size_t key = text.find(">ProductVersion<");
  if (key == std::string::npos) return;
  const size_t open = text.find("<string>", key);
  if (open == std::string::npos) return;
  const size_t start = open + 8;
  const size_t end = text.find("</s", start);
  s.m_os_version = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (s.m_os_version.empty()) return;
  std::vector<std::string> parts;
  split_string(s.m_os_version, '.', parts, false, true, false);
  if (!parts.empty()) parse_uint(parts[0], s.m_os_version_major);
  if (parts.size() >= 2) parse_uint(parts[1], s.m_os_version_minor);
  if (parts.size() >= 3) parse_uint(parts[2], s.m_os_version_patch);
}

int parse_options(cmd_params& s, std::vector<std::string>& args) {
  if (args.empty()) return 0;
  if (!settle_option_words(args, {})) return 0;
  if (s.m_command_line.empty()) join_command_line(s.m_command_line, args, '"');
  if (s.m_program_name.empty()) {
    std::string name = args[0];
    if (const size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(dot);
    s.m_program_name = name;
  }

  std::string value;
  uint32_t number = 0;
  if (take_option_flag("-pair_datetime", args, false)) s.m_pair_datetime = 1;
  if (take_option_value("-diags", value, args)) {
    // An empty name is no file at all: refused before anything is read, as
    // an empty -out is.
    if (value.empty()) {
      print_error("can't write diagnostics log:  (No such file or directory), aborting\n");
      return 0;
    }
    errno = 0;
    std::string why;
    if (open_diags_log(s, value, &why)) {
      if (take_option_flag("-l2", args, false))
        s.m_log_level = 2;
      else if (take_option_flag("-l3", args, false))
        s.m_log_level = 3;
    } else {
      // The run goes on; the log it will not have is said.
      print_error("can't write diagnostics log: " + value + " (" +
                  (why.empty() ? reason(errno) : why) + ")\n");
    }
  }
  read_format_options(s, args);
  if (take_option_value("-alias", value, args) && !read_alias_pairs(s, value, false)) return 0;
  if (take_option_value("-aliaspath", value, args) && !read_alias_pairs(s, value, true)) return 0;
  if (take_option_flag("-gzip", args, false)) s.m_compress = s.m_gzip = 1;
  if (take_option_flag("-zlib", args, false)) s.m_compress = s.m_zlib = 1;
  if (take_option_value("-threads", value, args) && parse_int_text(value, &number))
    s.m_threads = static_cast<int32_t>(number);
  if (take_option_value("-zlibex", value, args)) {
    s.m_compress = s.m_zlibex = 1;
    s.m_zlibex_value = value;
  }
  if (take_option_value("-sqlite_log", value, args) || take_option_value("-sqlite", value, args)) {
    print_error("This option is not offered in this build\n");
    return 0;
  }
  if (take_option_value("-signal", value, args)) s.m_signal = value;
  if (take_option_value("-hostname", value, args)) {
    s.m_host_name = value;
    s.m_host_name_given = 1;
  }
  if (take_option_flag("-split_pathfile", args, false)) s.m_split_pathfile = 1;
  if (take_option_value("-username", value, args)) {
    s.m_user_name = value;
    s.m_user_name_given = 1;
  }
  if (take_option_value("-cpuinst", value, args)) {
    parse_uint(value, number);
    s.m_cpu_instance = static_cast<int32_t>(number);
  }
  if (take_option_value("-cpu", value, args)) {
    parse_uint(value, number);
    s.m_cpu = static_cast<int32_t>(number);
  }
  if (take_option_value("-fragment_files", value, args)) {
    parse_uint(value, number);
    s.m_fragment_files = static_cast<int32_t>(number);
    s.m_separate_files = 1;
  }
  if (take_option_flag("-separate_files", args, false)) s.m_separate_files = 1;
  if (take_option_value("-out", value, args) || take_option_value("-outfile", value, args)) {
    s.m_out_file = expand_env_vars(value, true);
    replace_char(s.m_out_file, '\\', '/');
    s.m_out_file_given = 1;
    if (!probe_output_file(s.m_out_file)) {
      print_error("prob opening file " + s.m_out_file + " for output (" + reason(errno) +
                  "), aborting\n");
      return 0;
    }
  }
  if (take_option_value("-outdir", value, args)) {
    s.m_out_dir = expand_env_vars(value, true);
    s.m_out_dir_given = 1;
  }
  if (take_option_value("-enumdir", value, args)) {
    s.m_enum_dir = expand_env_vars(value, true);
    s.m_enum_dir_given = 1;
  }
  if (take_option_value("-num_subdirs", value, args) && !read_depth(value, s.m_num_subdirs)) {
    print_error("invalid -num_subdirs value: " + value +
                " (a number of folder levels, 0 or more), aborting\n");
    return 0;
  }
  if (take_option_flag("-profile", args, false)) s.m_profile = 1;
  if (take_option_flag("-pipe", args, false)) s.m_pipe = 1;
  read_filter_option("-filter_skip", s.m_skip_filters, args);
  read_filter_option("-filter", s.m_filters, args);
  read_signature_filters(s, args);
  read_time_window(s, args);
  if (take_option_flag("-base10", args, false)) s.m_hex_numbers = 0;
  if (take_option_flag("-base16", args, false)) s.m_hex_numbers = 1;
  if (take_option_value("-csv_separator", value, args)) {
    if (!separator_accepted(value)) {
      std::string shown = value;
      print_error("invalid -csv_separator value \"" + show_control_chars(shown) +
                  "\" (one of ',', '|', ';' or tab), aborting\n");
      return 0;
    }
    use_separator(s, value);
  }
  if (take_option_flag("-enable_quoted_csv_fields", args, false)) {
    s.m_quoted_csv = 1;
    if (s.m_separator.find('\t') == std::string::npos) trim_ws(s.m_separator);
    s.m_cell_blank = 0;
    s.m_replace_char = 0;
  }
  if (take_option_flag("-no_whitespace", args, false)) {
    s.m_no_padding = 1;
    s.m_cell_blank = 0;
    erase_char(s.m_separator, ' ');
  }
  read_layout_options(s, args);
  if (take_option_flag("-verbose", args, false) || take_option_flag("-v", args, false))
    s.m_verbose = 1;
  if (take_option_flag("-quiet", args, false)) s.m_status_messages = 0;

  // The layouts are read whether given or not; one they cannot read keeps
  // what was read of it and is no error here.
  build_time_format_settings(s.m_time_settings, s.m_date_format, s.m_time_format,
                             s.m_pair_datetime != 0);
  read_os_version(s);
  return 1;
}

// The common options by the word that names them: whether a value follows,
// and whether each occurrence adds to a list rather than replacing the one
// before. An alias ("-outfile") counts as its option.
constexpr option_word k_common_words[] = {
    {"-pair_datetime", nullptr, false, false},
    {"-diags", nullptr, true, false},
    {"-csv", nullptr, false, false},
    {"-csvgen", nullptr, false, false},
    {"-csvl2t", nullptr, false, false},
    {"-bodyfile", nullptr, false, false},
    {"-xml", nullptr, false, false},
    {"-multiline", nullptr, false, false},
    {"-alias", nullptr, true, false},
    {"-aliaspath", nullptr, true, false},
    {"-gzip", nullptr, false, false},
    {"-zlib", nullptr, false, false},
    {"-threads", nullptr, true, false},
    {"-zlibex", nullptr, true, false},
    {"-sqlite_log", nullptr, true, false},
    {"-sqlite", nullptr, true, false},
    {"-signal", nullptr, true, false},
    {"-hostname", nullptr, true, false},
    {"-split_pathfile", nullptr, false, false},
    {"-username", nullptr, true, false},
    {"-cpuinst", nullptr, true, false},
    {"-cpu", nullptr, true, false},
    {"-fragment_files", nullptr, true, false},
    {"-separate_files", nullptr, false, false},
    {"-out", "-outfile", true, false},
    {"-outdir", nullptr, true, false},
    {"-enumdir", nullptr, true, false},
    {"-num_subdirs", nullptr, true, false},
    {"-profile", nullptr, false, false},
    {"-pipe", nullptr, false, false},
    {"-filter_skip", nullptr, true, true},
    {"-filter", nullptr, true, true},
    {"-filter_path", nullptr, true, true},
    {"-filter_sig", nullptr, true, true},
    {"-cmd_start_time", nullptr, true, false},
    {"-cmd_stop_time", nullptr, true, false},
    {"-base10", nullptr, false, false},
    {"-base16", nullptr, false, false},
    {"-csv_separator", nullptr, true, false},
    {"-enable_quoted_csv_fields", nullptr, false, false},
    {"-no_whitespace", nullptr, false, false},
    {"-dateformat", nullptr, true, false},
    {"-timeformat", nullptr, true, false},
    {"-verbose", nullptr, false, false},
    {"-v", nullptr, false, false},
    {"-quiet", nullptr, false, false},
    {"-l2", nullptr, false, false},
    {"-l3", nullptr, false, false},
};

const option_word* word_of(const std::string& arg, const std::vector<option_word>& own) {
  for (const option_word& w : k_common_words)
    if (same_option_word(arg, w.name) || (w.alias && same_option_word(arg, w.alias))) return &w;
  for (const option_word& w : own)
    if (same_option_word(arg, w.name) || (w.alias && same_option_word(arg, w.alias))) return &w;
  return nullptr;
}

}  // namespace

bool settle_option_words(std::vector<std::string>& args, const std::vector<option_word>& own) {
  return guarded([&] {
    // Each option's occurrences: the index of its word.
    std::vector<std::pair<const option_word*, std::vector<size_t>>> found;
    for (size_t i = 1; i < args.size(); ++i) {
      const option_word* w = word_of(args[i], own);
      if (w == nullptr) continue;
      if (w->takes_value && i + 1 >= args.size()) {
        print_error("option " + args[i] + " needs a value\n");
        return false;
      }
      if (!w->adds) {
        auto at =
            std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first == w; });
        if (at == found.end())
          found.push_back({w, {i}});
        else
          at->second.push_back(i);
      }
      if (w->takes_value) ++i;
    }
    // The last occurrence wins; the earlier ones leave the list.
    std::vector<size_t> drop;
    for (const auto& [w, at] : found) {
      if (at.size() < 2) continue;
      const size_t last = at.back();
      bool differ = false;
      for (size_t k = 0; k + 1 < at.size(); ++k) {
        drop.push_back(at[k]);
        if (w->takes_value) {
          drop.push_back(at[k] + 1);
          differ = differ || args[at[k] + 1] != args[last + 1];
        }
      }
      if (differ)
        print_error("option " + std::string(w->name) + " given more than once: using " +
                    args[last + 1] + "\n");
    }
    std::sort(drop.begin(), drop.end());
    for (size_t k = drop.size(); k-- > 0;)
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(drop[k]));
    return true;
  });
}

int parse_common_options(cmd_params& settings, std::vector<std::string>& args) {
  // Only an allocation failure fails here; the run cannot go on then.
  return guarded([&] { return parse_options(settings, args); });
}

}  // namespace vk
