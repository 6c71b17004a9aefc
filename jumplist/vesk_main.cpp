#include "jumplist/vesk_main.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <sstream>

#include "foundation/vk_env.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "jumplist/record_report.h"

namespace vk {
namespace {

// The value of each hexadecimal digit, -1 for any other character.
constexpr auto kHexValues = [] {
  std::array<int8_t, 256> t{};
  for (size_t c = 0; c < t.size(); ++c)
    t[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
           : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                  : int8_t{-1};
  return t;
}();

// The position of the last '.', '/' or '\' of path, npos when there is
// none. Eight characters are tested at once, back from the end, until a
// group holds one of them: a file name's extension is met before its name.
size_t last_dot_or_separator(std::string_view path) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  constexpr uint64_t highs = 0x8080808080808080ull;
  size_t end = path.size();
  for (; end >= 8; end -= 8) {
    uint64_t group;
    std::memcpy(&group, path.data() + end - 8, sizeof group);
    // A byte of a, b or c is zero where the group holds one of them.
    const uint64_t a = group ^ (ones * '/');
    const uint64_t b = group ^ (ones * '\\');
    const uint64_t c = group ^ (ones * '.');
    if ((((a - ones) & ~a) | ((b - ones) & ~b) | ((c - ones) & ~c)) & highs) break;
  }
  for (; end > 0; --end) {
    const char ch = path[end - 1];
    if (ch == '.' || ch == '/' || ch == '\\') return end - 1;
  }
  return std::string_view::npos;
}

bool is_option(const std::string& arg, const char* name) {
  size_t i = 0;
  for (; name[i] != '\0'; ++i)
    if (i >= arg.size() ||
        std::tolower(static_cast<unsigned char>(arg[i])) != static_cast<unsigned char>(name[i]))
      return false;
  return i == arg.size();
}

}  // namespace

void write_vesk_usage(std::ostream& out) {
  out << std::string(77, '-') << "\n\n"
      << k_vesk_banner << "\n\n"
      << "Usage\n\n"
      << "  vesk <filename> [-csv]\n"
      << "  find /home -name *ions-ms -type f | vesk -pipe [-csv]\n"
      << "  ls /home/lnk_dir/*ions-ms | vesk -pipe [-csv] > ./results\n"
      << "  vesk -enumdir <location vesk files> -num_subdirs <#> [-csv]\n\n"
      << " Basic options\n"
      << "  -csv                       = output in comma separated value format\n"
      << "  -csvl2t                    = log2timeline output\n"
      << "  -bodyfile                  = sleuthkit output\n\n"
      << " Additional options\n"
      << "  -username <name>           = output will contain this username\n"
      << "  -hostname <name>           = output will contain this hostname\n"
      << "  -base10                    = use base10 for file size instead of std::hex\n"
      << "  -pipe                      = pipe files into app for processing\n"
      << "  -dateformat mm/dd/yyyy     = \"yyyy-mm-dd\" is the default\n"
      << "  -timeformat hh:mm:ss       = \"hh:mm:ss.xxx\" is the default\n"
      << "  -pair_datetime             = combine date/time into 1 field for csv\n"
      << "  -no_whitespace             = remove whitespace between csv delimiter\n"
      << "  -quiet                     = don't display status during run\n"
      << "  -csv_separator \"|\"         = use a pipe char for separator\n"
      << "  -show_offset               = include file offset of the entry\n"
      << "  -filter <*partial*|*.ext>  = filters stdin data from -pipe option\n"
      << "  -translate_appid           = uses default AppID translation\n\n"
      << " Experimental options\n"
      << "  -slack                     = parse slack [automaticDestinations only]\n"
      << "  -appid <pathfile>          = compute AppID for given path/file\n"
      << "  -appid_ref <file> -appid_separator \"|\" = ref for AppID translation\n"
      << "  -idltimes                  = incl the IDList times (only [default|-csv])\n\n";
}

std::string vesk_run_header(const std::vector<std::string>& args, const time& start,
                            const std::string& date_template, const std::string& host,
                            const std::string& system_text, bool on_network_fs,
                            bool on_usb_device) {
  std::string date, clock;
  format_with_templates(date, clock, start, date_template.empty() ? "mm/dd/yyyy" : date_template,
                        "hh:mm:ss");
  std::string out = k_vesk_banner;
  out += "\nrun time: " + date + " " + clock + " [UTC]; host: " + host + "; os: " + system_text;
  if (on_network_fs || on_usb_device) {
    out += "; ";
    if (on_network_fs) out += "<~>";
    if (on_usb_device) out += ":=";
  }
  out += "\n\"command: ";
  for (size_t i = 1; i < args.size(); ++i)
    if (is_option(args[i], "-pipe")) {
      out += "<filelist> ... | ";
      break;
    }
  std::string joined;
  join_command_line(joined, args, '\'');
  out += utf8_or_escaped(joined) + "\"\n";
  return out;
}

std::string vesk_system_text(const std::string& exe_path) {
  host_info info;
  init_host_info(info);
  if (!get_system_info(info, exe_path)) return {};
  std::ostringstream out;
  write_system_info(info, out, ";", " ", false, false);
  return out.str();
}

void assign_appid_from_path(std::string_view path, std::string& text, uint64_t& value,
                            std::string& extension) {
  text.clear();
  extension.clear();
  value = 0;
  // The name's last dot, when the last of the dots and separators is one.
  const size_t dot = last_dot_or_separator(path);
  if (dot == std::string_view::npos || path[dot] != '.') return;
  extension.assign(path.substr(dot + 1));
  // An AppID is a 64-bit CRC in hexadecimal: the last 16 of the digits that
  // run up to the dot. Windows names a jump list by it without leading
  // zeros, so a shorter run is one only as the whole name of a jump list
  // ("faef7def55a1d4b.automaticDestinations-ms"); in "desc_pipe.lnk" the
  // 'e' is no AppID. A separator is no digit, so the run stays in the name.
  constexpr size_t k_appid_digits = 16;
  size_t first = dot;
  uint64_t digits = 0;
  for (unsigned shift = 0; first > 0 && dot - first < k_appid_digits; shift += 4, --first) {
    const int digit = kHexValues[static_cast<unsigned char>(path[first - 1])];
    if (digit < 0) break;
    digits |= static_cast<uint64_t>(digit) << shift;
  }
  if (dot - first < k_appid_digits) {
    const bool whole_name = first == 0 || path[first - 1] == '/' || path[first - 1] == '\\';
    auto is = [&](std::string_view kind) {
      return extension.size() == kind.size() &&
             std::equal(kind.begin(), kind.end(), extension.begin(), [](char k, char c) {
               return k == std::tolower(static_cast<unsigned char>(c));
             });
    };
    if (first == dot || !whole_name ||
        !(is("automaticdestinations-ms") || is("customdestinations-ms")))
      return;
  }
  text.assign(path.substr(first, dot - first));
  value = digits;
}

source_appid appid_from_path(const std::string& path) {
  source_appid id;
  assign_appid_from_path(path, id.text, id.value, id.extension);
  return id;
}

const std::string& input_path(const std::string& name, std::string& expanded) {
  // A name without '%' has nothing to expand: no look at the file system.
  if (name.find('%') == std::string::npos || vkportdir::file_exists(name)) return name;
  expanded = expand_env_vars(name, true);
  return expanded;
}

std::string input_path(const std::string& name) {
  std::string expanded;
  return input_path(name, expanded);
}

}  // namespace vk

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "cmdline/file_filters.h"
#include "cmdline/run_context.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_console.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_env.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_unicode.h"
#include "jumplist/appid_candidates.h"
#include "jumplist/file_drivers.h"
#include "jumplist/vesk_options.h"

namespace vk {
namespace {

int empty_run_callback(std::string&) {
  return 0;
}

std::string hash_text(uint64_t hash) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%" PRIx64, hash);
  return buf;
}

// Device and inode of a file, to tell when two names reach the same file.
struct file_identity {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
  bool same_as(const file_identity& other) const {
    return known && other.known && device == other.device && inode == other.inode;
  }
};

file_identity identity_of(const std::string& path) {
  file_identity id;
  struct stat st;
  if (!path.empty() && stat_path(path.c_str(), st) == 0) {
    id.known = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

// One input file: its AppID from the name, the status line, the driver; and
// when it gave no record, why (for a file of a list, only when it could not
// be opened or read: a tree walk meets many files that are no jump lists).
bool run_one_file(std::ostream& out, const std::string& line, vesk_options& options,
                  bool status_line, const file_identity& report) {
  std::string expanded;
  const std::string& path = input_path(line, expanded);
  if (report.known && identity_of(path).same_as(report)) {
    error_printf("output file is the input file: %s, skipped\n", path.c_str());
    return false;
  }
  options.m_source_path = path;
  // The settings' texts keep their room from file to file.
  assign_appid_from_path(path, options.m_appid_text, options.m_appid, options.m_file_extension);
  if (status_line && options.m_status_messages) {
    std::string dir, name;
    split_path(path, dir, name);
    std::string shown;
    for (char c : name)
      if (c != '%') shown += c;
    status_printf("analyzing: %s", shown.substr(0, 45).c_str());
  }
  const uint64_t written = options.m_records_written;
  bool done = false;
  try {
    done = process_jumplist_file(out, path, options);
  } catch (...) {
    error_printf("exception caught on file %s\n", path.c_str());
    return false;
  }
  if (options.m_records_written == written && (!status_line || failure_is_access(options)))
    error_printf("%s", failure_line(options, path).c_str());
  // What was not read in full comes after the records that were.
  options.m_notes.flush(path);
  return done;
}

// Arguments that no option took: the single file mode's file name is the
// first of them. True when there are none other.
bool leftovers_are_fine(const std::vector<std::string>& args, bool single_file) {
  bool fine = true;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool named_file = vkportdir::file_exists(input_path(a));
    if (!a.empty() && a[0] == '-' && !named_file) {
      error_printf("unknown option: %s\n", a.c_str());
      fine = false;
    } else if (i > 1 || !single_file) {
      error_printf("unexpected argument: %s\n", a.c_str());
      fine = false;
    }
  }
  return fine;
}

int run_appid_mode(std::ostream& out, vesk_options& options, bool listing) {
  std::vector<std::vector<uint8_t>> candidates;
  std::vector<std::string> names;
  if (!listing) {
    if (!appid_candidates(candidates, names, options.m_appid_path, true)) {
      error_printf("no AppID text for path: %s\n", options.m_appid_path.c_str());
      return -1;
    }
    for (size_t i = 0; i < candidates.size(); ++i)
      out << "hash: " << hash_text(appid_crc64(candidates[i])) << " : " << names[i] << '\n';
    return 0;
  }
  filtered_walk input(&options);
  const bool started =
      options.m_pipe
          ? input.use_stdin(false)
          : input.start_dir(options.m_enum_dir, static_cast<uint32_t>(options.m_num_subdirs),
                            options.m_filters);
  if (!started) return -1;
  const bool pad = options.m_no_padding == 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, pad ? "%20s" : "%s", "hash");
  out << buf << options.m_separator << "path/pefile\n";
  int status = -1;
  std::string line;
  while (input.getline(line, true)) {
    uint8_t open_failed = 0;
    file_stat_info info{};
    if (line.empty() ||
        !path_passes_filters(options, open_failed, line, options.m_filters, &info, false))
      continue;
    std::vector<uint8_t> head;
    if (!read_file_capped(head, line, 2) || head.size() < 2 || head[0] != 'M' || head[1] != 'Z')
      continue;
    error_printf("%s\n", line.c_str());
    options.m_appid_path = line;
    if (!appid_candidates(candidates, names, line, true)) {
      error_printf("no AppID text for path: %s\n", line.c_str());
      continue;
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
      std::snprintf(buf, sizeof buf, pad ? "%20s" : "%s",
                    hash_text(appid_crc64(candidates[i])).c_str());
      out << buf << options.m_separator << names[i] << '\n';
    }
    status = 0;
  }
  return status;
}

}  // namespace

int vesk_run(std::vector<std::string> args) {
  if (args.empty()) return -1;
  cmdline_ctx ctx;
  vesk_options options;
  join_command_line(options.m_command_line, args, '"');
  for (const char* help : {"-h", "-help", "/?", "--help"})
    for (const auto& a : args)
      if (is_option(a, help)) {
        write_vesk_usage(std::cerr);
        return 0;
      }
  if (args.size() == 1) {
    write_vesk_usage(std::cerr);
    return 0;
  }
  std::string header;
  for (size_t i = 1; i < args.size(); ++i)
    if (is_option(args[i], "-bom")) {
      // The mark is for the header only; left in, it would be taken for a file name.
      header = "\xEF\xBB\xBF";
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  std::string date_template;
  for (size_t i = 1; i + 1 < args.size(); ++i)
    if (is_option(args[i], "-dateformat")) {
      date_template = args[i + 1];
      break;
    }
  const std::string exe = self_exe_path();
  header += vesk_run_header(args, time_now(), date_template, get_host_name(),
                            vesk_system_text(exe.empty() ? args[0] : exe), exe_on_network_fs(),
                            exe_on_usb_device());
  if (!parse_jumplist_options(options, args, k_vesk_version)) {
    std::cout << header << '\n' << std::flush;
    return -1;
  }
  const bool listing = options.m_pipe || options.m_enum_dir_given;
  if (!leftovers_are_fine(args, !listing && !options.m_appid_mode)) {
    std::cout << header << '\n' << std::flush;
    return -1;
  }
  setup_run_context(ctx, options, empty_run_callback);
  // Truncating the report must never destroy the evidence it reports on.
  if (!options.m_out_file.empty() && !listing) {
    const std::string input = options.m_appid_mode ? options.m_appid_path
                              : args.size() > 1    ? input_path(args[1])
                                                   : std::string();
    if (identity_of(input).same_as(identity_of(options.m_out_file))) {
      error_printf("output file is the input file: %s\n", options.m_out_file.c_str());
      return -1;
    }
  }
  uni::fileio file;
  // Standard output is written in large blocks straight to its descriptor.
  uni::descriptor_output standard_output(STDOUT_FILENO);
  std::ostream* out = &standard_output;
  if (!options.m_out_file.empty()) {
    if (!file.open_utf8(options.m_out_file, true, false, true) ||
        (out = file.output_stream()) == nullptr) {
      error_printf("prob opening results file: %s for writing\n", options.m_out_file.c_str());
      return -1;
    }
  }
  *out << header << '\n';
  const file_identity report =
      options.m_out_file.empty() ? file_identity{} : identity_of(options.m_out_file);
  int status = -1;
  if (options.m_appid_mode) {
    status = run_appid_mode(*out, options, listing);
  } else if (listing) {
    options.m_list_run = true;
    filtered_walk input(&options);
    const bool started =
        options.m_pipe
            ? input.use_stdin(false)
            : input.start_dir(options.m_enum_dir, static_cast<uint32_t>(options.m_num_subdirs),
                              options.m_filters);
    std::string line;
    while (started && input.getline(line, true)) {
      uint8_t open_failed = 0;
      file_stat_info info{};
      if (line.empty() ||
          !path_passes_filters(options, open_failed, line, options.m_filters, &info, false))
        continue;
      if (run_one_file(*out, line, options, true, report)) status = 0;
    }
  } else if (args.size() < 2) {
    write_vesk_usage(std::cerr);
  } else {
    const std::string path = input_path(args[1]);
    if (!vkportdir::file_exists(path))
      error_printf("can't read specified file: %s, aborting\n", path.c_str());
    else if (run_one_file(*out, args[1], options, false, file_identity{}))
      status = 0;
  }
  out->flush();
  // A report that did not reach its destination (a full disk) is no success.
  if (!out->good()) {
    error_printf("prob writing results to %s\n",
                 options.m_out_file.empty() ? "standard output" : options.m_out_file.c_str());
    return -1;
  }
  return status;
}

}  // namespace vk
