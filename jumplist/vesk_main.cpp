#include "jumplist/vesk_main.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <sstream>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/vk_bytes.h"
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
// none. Sixteen characters are tested at once, back from the end, until a
// group holds one of them: a file name's extension is met before its name.
size_t last_dot_or_separator(std::string_view path) {
  const byte_view v(reinterpret_cast<const uint8_t*>(path.data()), path.size());
  size_t end = path.size();
#ifdef __SSE2__
  const __m128i dot = _mm_set1_epi8('.'), slash = _mm_set1_epi8('/'), back = _mm_set1_epi8('\\');
  // The lanes of a group that hold one of them.
  const auto hits = [&](__m128i g) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(g, dot), _mm_cmpeq_epi8(g, slash)), _mm_cmpeq_epi8(g, back))));
  };
  __m128i group;
  for (; end >= 16 && v.block(end - 16, group); end -= 16)
    if (const uint32_t h = hits(group); h != 0)
      return end - 16 + static_cast<size_t>(std::bit_width(h)) - 1;
  // The first few characters of a longer path: its first group, the lanes
  // before end.
  if (end != 0 && v.block(0, group)) {
    const uint32_t h = hits(group) & ((uint32_t{1} << end) - 1);
    return h != 0 ? static_cast<size_t>(std::bit_width(h)) - 1 : std::string_view::npos;
  }
#endif
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
      << "  -idltimes                  = incl the IDList times (only [default|-csv])\n\n"
      << " More options\n"
      << "  -out <file>                = write the report to this file (default: standard output)\n"
      << "  -outfile <file>            = the same as -out\n"
      << "  -enumdir <folder>          = read every file in this folder (default: the one file "
         "named)\n"
      << "  -num_subdirs <#>           = with -enumdir, also read this many folder levels below it "
         "(default 0)\n"
      << "  -enable_quoted_csv_fields  = quote values, keeping their commas (default: a comma in a "
         "value becomes a blank, unless -csv_separator names another separator)\n"
      << "  -filter_sig \"<hex>|<off>\"  = read only files with these bytes at this offset "
         "(default: every file)\n"
      << "  -cmd_start_time \"<y/m/d> [<h:m:s>]\" = with -pipe or -enumdir, read only files "
         "modified "
         "since then (default: every file)\n"
      << "  -cmd_stop_time \"<y/m/d> [<h:m:s>]\"  = with -pipe or -enumdir, read only files "
         "modified "
         "up to then (default: every file)\n"
      << "  -alias \"<path>|<shown>\"    = show this source path as another text (default: none)\n"
      << "  -aliaspath \"<part>|<shown>\" = show source paths up to this part as another text "
         "(default: none)\n"
      << "  -base16                    = hexadecimal file sizes (the default)\n"
      << "  -multiline                 = labelled lines, one block per entry (the default)\n"
      << "  -profile                   = say the seconds the run took on standard error (default: "
         "off)\n"
      << "  -diags <file>              = write the command line and the seconds the run took to "
         "this file (default: off)\n"
      << "  -bom                       = begin the report with the UTF-8 byte-order mark (default: "
         "off)\n\n";
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
  out += shown_name(joined) + "\"\n";
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "cmdline/file_filters.h"
#include "cmdline/progress.h"
#include "cmdline/report_file.h"
#include "cmdline/run_context.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_args.h"
#include "foundation/vk_console.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_env.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_unicode.h"
#include "jumplist/appid_candidates.h"
#include "jumplist/file_drivers.h"
#include "jumplist/vesk_options.h"

namespace vk {
namespace {

const std::string k_standard_output = "standard output";

int empty_run_callback(std::string&) {
  return 0;
}

std::string hash_text(uint64_t hash) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%" PRIx64, hash);
  return buf;
}

// The status of a file, to tell when two names reach the same file (a
// device by the device it is).
struct file_identity {
  bool known = false;
  struct stat st {};
  bool same_as(const file_identity& other) const {
    return known && other.known && same_file(st, other.st);
  }
  // A file whose bytes a write would change (a regular file or a disk), or
  // a pipe, whose reader would take what is written for names to read.
  bool holds_data() const {
    return known && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode));
  }
};

file_identity identity_of(const std::string& path) {
  file_identity id;
  id.known = !path.empty() && stat_path(path.c_str(), id.st) == 0;
  return id;
}

// The file on standard input (the list of names of "-pipe").
file_identity standard_input_identity() {
  file_identity id;
  id.known = posix_fstat(STDIN_FILENO, id.st);
  return id;
}

// Two names of one file, made or to be made: the same file when both are
// there, else the same name in the same folder.
bool same_file_named(const std::string& given_a, const std::string& given_b) {
  // A link to a name not made yet names the file it would make (a loop of
  // links names only itself).
  const auto destination = [](const std::string& path) {
    std::string to = output_destination(path);
    return to.empty() ? path : to;
  };
  const std::string a = destination(given_a), b = destination(given_b);
  const file_identity first = identity_of(a), second = identity_of(b);
  if (first.known || second.known) return first.same_as(second);
  const auto folder = [](const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
  };
  const auto name = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
  return name(a) == name(b) && identity_of(folder(a)).same_as(identity_of(folder(b)));
}

// What became of one input file, for the run's status.
enum class file_outcome {
  read,         // reported in full (a list without entries included)
  partial,      // reported, but some structure was damaged, cut or not reported
  refused,      // opened, but refused whole as damaged
  unreadable,   // could not be opened or read
  no_list,      // no jump list or link file
  no_destlist,  // a compound file without a DestList stream
  own_report,   // the file this run writes its report to: no input
  output_file,  // the report's target, refused as an input
  count
};

// The run's status from the outcomes of its files: 0 when every input was
// read in full; 1 when some could not be opened or read; 2 when all were
// opened but some structure was not reported; -1 when nothing could be read
// as a jump list or link file. Files that are no jump list leave it alone:
// a folder walk meets many of them. Besides, what was seen and skipped, to
// say why a list run read nothing.
class run_tally {
 public:
  void count(file_outcome outcome) {
    ++m_outcomes[static_cast<size_t>(outcome)];
    switch (outcome) {
      case file_outcome::read:
        ++m_read;
        break;
      case file_outcome::partial:
        ++m_read;
        m_cut = true;
        break;
      case file_outcome::refused:
        m_cut = true;
        break;
      case file_outcome::unreadable:
      case file_outcome::output_file:
        m_unreadable = true;
        break;
      default:
        break;
    }
  }
  int status() const {
    if (m_read == 0) return -1;
    return m_unreadable ? 1 : m_cut ? 2 : 0;
  }
  uint64_t of(file_outcome outcome) const { return m_outcomes[static_cast<size_t>(outcome)]; }

  uint64_t names = 0;           // lines of standard input
  uint64_t outside_window = 0;  // names the time window left out
  uint64_t not_selected = 0;    // names the filter list left out
  uint64_t no_program = 0;      // files of the AppID listing without an "MZ" start

 private:
  uint64_t m_read = 0;
  bool m_unreadable = false;
  bool m_cut = false;
  uint64_t m_outcomes[static_cast<size_t>(file_outcome::count)] = {};
};

file_outcome outcome_of(const vesk_options& options) {
  using failure = lnk::useropts::failure;
  switch (options.m_failure) {
    case failure::cannot_open:
    case failure::cannot_read:
      return file_outcome::unreadable;
    case failure::not_a_list:
      return file_outcome::no_list;
    case failure::no_destlist:
      return file_outcome::no_destlist;
    case failure::damaged:
      return file_outcome::refused;
    case failure::none:
    case failure::no_entries:
      break;
  }
  return options.m_notes.any() ? file_outcome::partial : file_outcome::read;
}

// The files the run writes: the report ("-out") and the "-diags" log; each
// null when not asked for.
struct run_outputs {
  report_file* report = nullptr;
  report_file* log = nullptr;
};

// A listed file that is one the run writes: the run's own file is passed
// over; a target is refused, which keeps what is written beside it at the end.
bool is_report(const run_outputs& outputs, const std::string& path, run_tally& tally) {
  for (report_file* written : {outputs.report, outputs.log}) {
    if (written == nullptr) continue;
    switch (written->role_of(path)) {
      case report_file::role::other:
        continue;
      case report_file::role::own:
        tally.count(file_outcome::own_report);
        return true;
      case report_file::role::target:
      case report_file::role::target_by_loop: {
        const bool by_loop = written->role_of(path) == report_file::role::target_by_loop;
        // Both may name it: each keeps its target.
        for (report_file* other : {outputs.report, outputs.log})
          if (other != nullptr && other->role_of(path) != report_file::role::other &&
              other->role_of(path) != report_file::role::own)
            other->keep_target();
        if (by_loop)
          error_printf(
              "output file is the input file: %s, skipped (it and the output file %s are one file "
              "through a loop device)\n",
              path.c_str(), written->target().c_str());
        else
          error_printf("output file is the input file: %s, skipped\n", path.c_str());
        tally.count(file_outcome::output_file);
        return true;
      }
    }
  }
  return false;
}

// One input file: its AppID from the name, the status line, the driver; and
// when it gave no record, why. A file of a list is quiet when it is no jump
// list (a tree walk meets many) or a valid list without entries.
void run_one_file(std::ostream& out, const std::string& line, vesk_options& options, bool list_run,
                  const run_outputs& outputs, run_tally& tally) {
  std::string expanded;
  const std::string& path = input_path(line, expanded);
  if (is_report(outputs, path, tally)) return;
  set_source_path(options, path);
  // The settings' texts keep their room from file to file.
  assign_appid_from_path(path, options.m_appid_text, options.m_appid, options.m_file_extension);
  if (list_run && options.m_status_messages) {
    std::string dir, name;
    split_path(path, dir, name);
    std::string shown;
    for (char c : name)
      if (c != '%') shown += c;
    status_printf("analyzing: %s", shown_name(shown.substr(0, 45)).c_str());
  }
  const uint64_t written = options.m_records_written;
  try {
    process_jumplist_file(out, path, options);
  } catch (...) {
    error_printf("exception caught on file %s\n", path.c_str());
    options.m_notes.clear();
    tally.count(file_outcome::refused);
    return;
  }
  const file_outcome outcome = outcome_of(options);
  if (options.m_records_written == written) {
    if (outcome == file_outcome::unreadable && !list_run)
      error_printf("can't read specified file: %s (%s), aborting\n", path.c_str(),
                   options.m_failure_detail.c_str());
    else if (!list_run || outcome == file_outcome::unreadable || outcome == file_outcome::refused)
      error_printf("%s", failure_line(options, path).c_str());
  }
  if (options.m_notes.any()) {
    // What was not read in full comes after the records that were, also
    // where both streams reach one place.
    out.flush();
    options.m_notes.flush(path);
  }
  tally.count(outcome);
}

// A listed name takes part when the filters select it and its modification
// time is inside the "-cmd_start_time" / "-cmd_stop_time" window, with or
// without filters. Names left out are counted by cause.
bool selected(const vesk_options& options, const std::string& line, run_tally& tally) {
  if (line.empty()) return false;
  ++tally.names;
  // Only a list of names one a line holds such a name: no file has it.
  if (line.find('\0') != std::string::npos) {
    error_printf(
        "can't open file: %s (a NUL byte in the name: the names on standard input are one a "
        "line, as the first ends at a line feed)\n",
        shown_name(line).c_str());
    tally.count(file_outcome::unreadable);
    return false;
  }
  // Without filters or a window every name takes part: no conversion, no look.
  if (options.m_filters.empty() && !options.m_start_set && !options.m_stop_set) return true;
  uint8_t open_failed = 0;
  const std::wstring wide = path_to_wide(line);
  if (options.m_start_set || options.m_stop_set) {
    file_stat_info info{};
    if (!file_passes_filters(options, open_failed, wide, {}, &info, false)) {
      ++tally.outside_window;
      return false;
    }
  }
  if (file_passes_filters(options, open_failed, wide, options.m_filters, nullptr, false))
    return true;
  ++tally.not_selected;
  return false;
}

// Arguments that no option took: the single file mode's file name is the
// first of them. True when there are none other.
bool leftovers_are_fine(const std::vector<std::string>& args, bool single_file) {
  bool fine = true;
  bool file_named = false;  // an unknown option is no file name before it
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool named_file = vkportdir::file_exists(input_path(a));
    if (!a.empty() && a[0] == '-' && !named_file) {
      error_printf("unknown option: %s\n", a.c_str());
      fine = false;
    } else if (single_file && !file_named) {
      file_named = true;
    } else if (single_file) {
      error_printf(
          "unexpected argument: %s (to read several files, give their names on standard input "
          "with -pipe, or a folder with -enumdir)\n",
          a.c_str());
      fine = false;
    } else if (!single_file) {
      error_printf("unexpected argument: %s\n", a.c_str());
      fine = false;
    }
  }
  return fine;
}

// Starts the list of input files: standard input, or the "-enumdir" walk
// after a look that the folder is there. False, said, when it is not.
bool start_input(filtered_walk& input, const vesk_options& options) {
  if (options.m_pipe) {
    if (input.use_stdin(false)) return true;
    error_printf("can't read standard input\n");
    return false;
  }
  const std::string& root = options.m_enum_dir;
  errno = 0;
  const int fd = root.empty() ? -1 : posix_open(root.c_str(), O_RDONLY | O_DIRECTORY, 0);
  if (fd == -1) {
    error_printf("can't read folder: %s (%s)\n", root.c_str(),
                 std::strerror(root.empty() ? ENOENT
                               : errno      ? errno
                                            : EIO));
    return false;
  }
  posix_close(fd);
  if (input.start_dir(root, static_cast<uint32_t>(options.m_num_subdirs), options.m_filters))
    return true;
  error_printf("can't read folder: %s (%s)\n", root.c_str(), std::strerror(ENOMEM));
  return false;
}

// The folders of a walk that could not be listed: said, and counted as
// inputs that could not be read.
void say_unreadable_folders(filtered_walk& input, run_tally& tally) {
  auto& folders = input.unreadable_dirs();
  for (const auto& f : folders) {
    error_printf("can't read folder: %s (%s)\n", path_from_wide(f.path).c_str(),
                 std::strerror(f.error));
    tally.count(file_outcome::unreadable);
  }
  folders.clear();
}

std::string counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

// The filter options that made the list, as named on the command line.
const char* filter_options(const vesk_options& options) {
  bool names = false, signatures = false;
  for (const filter_entry& f : options.m_filters)
    (f.m_signature.empty() ? names : signatures) = true;
  return names && signatures ? "-filter and -filter_sig" : signatures ? "-filter_sig" : "-filter";
}

// After a list run that read nothing: what was seen, and what became of it.
void say_nothing_read(const filtered_walk& input, const vesk_options& options,
                      const run_tally& tally) {
  std::string line = "nothing read: ";
  uint64_t outside = tally.outside_window, not_selected = tally.not_selected;
  if (options.m_pipe) {
    line += tally.names == 0 ? std::string("no file names") : counted(tally.names, "name", "names");
    line += " on standard input";
  } else {
    outside += input.skipped().outside_window;
    not_selected += input.skipped().not_selected;
    const uint64_t seen = input.files_seen() - tally.of(file_outcome::own_report);
    line += seen == 0 ? std::string("no files") : counted(seen, "file", "files");
    line += " in " + options.m_enum_dir;
    line += options.m_num_subdirs == 0 ? std::string(" at depth 0")
                                       : " down to depth " + std::to_string(options.m_num_subdirs);
  }
  std::vector<std::string> causes;
  if (outside != 0)
    causes.push_back(counted(outside, "modified outside", "modified outside") +
                     " the -cmd_start_time/-cmd_stop_time window");
  if (not_selected != 0)
    causes.push_back(counted(not_selected, "not selected", "not selected") + " by " +
                     filter_options(options));
  const struct {
    file_outcome outcome;
    const char* one;
    const char* many;
  } kinds[] = {
      {file_outcome::no_list, "no jump list or link file", "no jump list or link file"},
      {file_outcome::no_destlist, "compound file without a DestList stream",
       "compound files without a DestList stream"},
      {file_outcome::unreadable, "could not be read", "could not be read"},
      {file_outcome::refused, "refused as damaged", "refused as damaged"},
      {file_outcome::output_file, "the output file", "the output file"},
  };
  for (const auto& k : kinds)
    if (tally.of(k.outcome) != 0) causes.push_back(counted(tally.of(k.outcome), k.one, k.many));
  if (tally.no_program != 0)
    causes.push_back(counted(tally.no_program, "no program file", "no program files"));
  for (size_t i = 0; i < causes.size(); ++i) line += (i == 0 ? ": " : ", ") + causes[i];
  if (!options.m_pipe && input.dirs_beyond_depth() != 0)
    line += "; " + counted(input.dirs_beyond_depth(), "folder", "folders") + " deeper than depth " +
            std::to_string(options.m_num_subdirs) + " not read (-num_subdirs sets the depth)";
  error_printf("%s\n", line.c_str());
}

// The status of a list run, with the reason when nothing was read.
int list_status(const filtered_walk& input, const vesk_options& options, const run_tally& tally) {
  const int status = tally.status();
  if (status == -1) say_nothing_read(input, options, tally);
  return status;
}

int run_appid_mode(std::ostream& out, vesk_options& options, bool listing,
                   const run_outputs& outputs) {
  std::vector<std::vector<uint8_t>> candidates;
  std::vector<std::string> names;
  if (!listing) {
    if (!appid_candidates(candidates, names, options.m_appid_path, true)) {
      error_printf("no AppID text for path: %s\n", options.m_appid_path.c_str());
      return -1;
    }
    for (size_t i = 0; i < candidates.size(); ++i)
      out << "hash: " << hash_text(appid_crc64(candidates[i])) << " : " << shown_name(names[i])
          << '\n';
    return 0;
  }
  filtered_walk input(&options);
  if (!start_input(input, options)) return -1;
  const bool pad = options.m_no_padding == 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, pad ? "%20s" : "%s", "hash");
  out << buf << options.m_separator << "path/pefile\n";
  run_tally tally;
  std::string line;
  while (input.getline(line, true)) {
    say_unreadable_folders(input, tally);
    if (!selected(options, line, tally) || is_report(outputs, line, tally)) continue;
    errno = 0;
    const int fd = posix_open(line.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd == -1) {
      error_printf("can't open file: %s (%s)\n", line.c_str(), std::strerror(errno ? errno : EIO));
      tally.count(file_outcome::unreadable);
      continue;
    }
    posix_close(fd);
    std::vector<uint8_t> head;
    if (!read_file_capped(head, line, 2) || head.size() < 2 || head[0] != 'M' || head[1] != 'Z') {
      ++tally.no_program;
      continue;
    }
    error_printf("%s\n", line.c_str());
    options.m_appid_path = line;
    if (!appid_candidates(candidates, names, line, true)) {
      error_printf("no AppID text for path: %s\n", line.c_str());
      tally.count(file_outcome::refused);
      continue;
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
      std::snprintf(buf, sizeof buf, pad ? "%20s" : "%s",
                    hash_text(appid_crc64(candidates[i])).c_str());
      out << buf << options.m_separator << shown_name(names[i]) << '\n';
    }
    tally.count(file_outcome::read);
  }
  say_unreadable_folders(input, tally);
  return list_status(input, options, tally);
}

// After a failure to write one of the run's files: the system's reason and
// where that leaves the file's target.
std::string what_became_of(const report_file& written, const std::string& target,
                           const char* kind) {
  std::string text = target + " (" + written.reason() + ')';
  if (written.direct()) return text;
  if (written.target_damaged())
    return text + ": " + target + " is damaged, the whole " + kind + " is in " +
           written.written_path();
  if (!written.written_path().empty())
    return text + ": the whole " + kind + " is in " + written.written_path();
  return text + ": " + target + " was left as it was";
}

// A stream held beside its file, the temporary folder taking no file: said,
// as a file appears there until the run ends.
void say_held_beside(const report_file& written, const char* kind) {
  const std::string note = written.held_beside_note();
  if (!note.empty()) error_printf("%s for %s %s\n", kind, written.target().c_str(), note.c_str());
}

// The end of the report file: put in place of its target, or on a run that
// read nothing (status -1) removed with the target left as it was (standard
// output, held while the inputs were met, gets what was written as ever,
// unless it is an input). The run's status, -1 when the report could not be
// written whole or put in place.
int end_report_file(report_file& report, const std::string& target, int status,
                    bool standard_output) {
  if (status == -1 && (!standard_output || report.target_kept())) {
    report.discard();
    return status;
  }
  if (!report.finish()) {
    error_printf("prob writing results to %s\n", what_became_of(report, target, "report").c_str());
    return -1;
  }
  if (report.target_kept())
    error_printf("report written to %s: %s%s is an input of the run and was left as it was\n",
                 report.written_path().c_str(), standard_output ? "" : "the output file ",
                 target.c_str());
  else if (report.placed_elsewhere())
    error_printf("report written to %s: the folder of %s was moved during the run\n",
                 report.written_path().c_str(), target.c_str());
  return status;
}

// What a name of an output reaches: for one of the process's own streams the
// file behind the descriptor, else the file the name leads to (through a
// loop device, the file it reads too); empty when nothing is there yet.
std::vector<struct stat> output_layers(const std::string& name) {
  const int fd = named_stream_descriptor(name);
  if (fd != -1) return descriptor_layers(fd);
  const std::string to = output_destination(name);
  return file_layers(to.empty() ? name : to);
}

// "-out" and "-diags" reach one file that keeps what is written (a regular
// file, a disk), by whatever names; or, neither made yet, one name in one
// folder. A pipe or a terminal takes both, as it takes the messages.
bool outputs_meet(const std::string& out, const std::string& log) {
  const std::vector<struct stat> a = output_layers(out), b = output_layers(log);
  if (a.empty() || b.empty()) return same_file_named(out, log);
  for (const std::vector<struct stat>* layers : {&a, &b})
    for (const struct stat& st : *layers)
      if ((S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) && layers_meet({st}, layers == &a ? b : a))
        return true;
  return false;
}

// A standard stream holds what is written to it (a regular file, a disk):
// it may be an input.
bool stream_keeps_data(int fd) {
  struct stat st;
  return posix_fstat(fd, st) && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// The header of a run its options refused, on standard output, unless that
// is a file the command line names: a refused run writes no input either.
void write_refused_header(const std::string& header, const std::vector<std::string>& args) {
  if (stream_keeps_data(STDOUT_FILENO)) {
    const std::vector<struct stat> output = descriptor_layers(STDOUT_FILENO);
    for (size_t i = 1; i < args.size(); ++i)
      if (layers_meet(file_layers(input_path(args[i])), output)) return;
  }
  std::cout << header << '\n' << std::flush;
}

// Standard error that is a file the command line names (not one it writes),
// or the list of names on standard input, would take the run's messages as
// it is read: the run is refused before anything is said there (a refused
// option, usage), and said on standard output instead, unless that holds
// the same file.
bool standard_error_is_an_input(const std::vector<std::string>& args) {
  if (!stream_keeps_data(STDERR_FILENO)) return false;
  const std::vector<struct stat> messages = descriptor_layers(STDERR_FILENO);
  std::string said;
  for (size_t i = 1; i < args.size() && said.empty(); ++i) {
    const std::string& before = args[i - 1];
    if (i > 1 &&
        (is_option(before, "-out") || is_option(before, "-outfile") || is_option(before, "-diags")))
      continue;
    if (layers_meet(file_layers(input_path(args[i])), messages))
      said = "standard error is the input file: " + input_path(args[i]);
  }
  if (said.empty() && has_option("-pipe", args, 1)) {
    const file_identity names_file = standard_input_identity();
    if (names_file.known && names_file.holds_data() && layers_meet({names_file.st}, messages))
      said = "standard error is the list of names on standard input";
  }
  if (said.empty()) return false;
  if (!layers_meet(descriptor_layers(STDOUT_FILENO), messages)) {
    std::printf("%s\n", said.c_str());
    std::fflush(stdout);
  }
  return true;
}

// The run once the context and the settings exist; its status.
int run_vesk(cmdline_ctx& ctx, vesk_options& options, std::vector<std::string>& args) {
  join_command_line(options.m_command_line, args, '"');
  if (standard_error_is_an_input(args)) return -1;
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
  for (size_t i = 1; i < args.size();)
    if (is_option(args[i], "-bom")) {
      // The mark is for the header only; left in, it would be taken for a file name.
      header = "\xEF\xBB\xBF";
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  // A layout the report refuses leaves the header's date in its default
  // form too. Of two layouts the last is used, as in the report.
  std::string date_template;
  for (size_t i = args.size(); i-- > 1;)
    if (i + 1 < args.size() && is_option(args[i], "-dateformat")) {
      if (date_layout_accepted(args[i + 1])) date_template = args[i + 1];
      break;
    }
  const std::string exe = self_exe_path();
  header += vesk_run_header(args, time_now(), date_template, get_host_name(),
                            vesk_system_text(exe.empty() ? args[0] : exe), exe_on_network_fs(),
                            exe_on_usb_device());
  if (!parse_jumplist_options(options, args, k_vesk_version)) {
    write_refused_header(header, args);
    return -1;
  }
  // The status line and its codes are for a terminal, and only unasked.
  set_status_line_shown(isatty(STDERR_FILENO) == 1 && options.m_status_messages != 0);
  const bool listing = options.m_pipe || options.m_enum_dir_given;
  if (!leftovers_are_fine(args, !listing && !options.m_appid_mode)) {
    write_refused_header(header, args);
    return -1;
  }
  setup_run_context(ctx, options, empty_run_callback);
  // No file the run writes replaces a file the run reads: the one named
  // file, or the AppID file. A listed input is refused as it comes (see
  // is_report).
  const std::string named = options.m_appid_mode          ? options.m_appid_path
                            : !listing && args.size() > 1 ? input_path(args[1])
                                                          : std::string();
  // A list of names read from a file is an input too.
  file_identity names_file;
  if (options.m_pipe) names_file = standard_input_identity();
  if (!names_file.holds_data()) names_file = {};
  const std::vector<struct stat> named_layers = file_layers(named);
  for (const std::string* written : {&options.m_out_file, &options.m_log_path}) {
    if (written->empty()) continue;
    const file_identity target = identity_of(*written);
    if (identity_of(named).same_as(target) || identity_of(options.m_appid_path).same_as(target) ||
        names_file.same_as(target)) {
      error_printf("output file is the input file: %s\n", written->c_str());
      return -1;
    }
    if (layers_meet(named_layers, output_layers(*written))) {
      error_printf(
          "output file is the input file: %s (it and %s are one file through a loop device)\n",
          written->c_str(), named.c_str());
      return -1;
    }
  }
  // Standard output that is the one input file would be written as it is read.
  const bool plain_output = options.m_out_file.empty() && stream_keeps_data(STDOUT_FILENO);
  if (plain_output && layers_meet(named_layers, descriptor_layers(STDOUT_FILENO))) {
    error_printf("standard output is the input file: %s\n", named.c_str());
    return -1;
  }
  // The report and the log in one file: one of them would be lost.
  if (!options.m_out_file.empty() && options.m_log_file != nullptr &&
      outputs_meet(options.m_out_file, options.m_log_path)) {
    error_printf("-out and -diags name the same file: %s\n", options.m_out_file.c_str());
    return -1;
  }
  // A list's inputs are met one by one: a stream of the run that keeps what
  // is written gets nothing before the last of them.
  if (listing && options.m_log_file != nullptr && !options.m_log_file->hold_stream()) {
    error_printf("can't write diagnostics log: %s (%s)\n", options.m_log_path.c_str(),
                 options.m_log_file->reason().c_str());
    finish_diags_log(options, false);
    options.close_log();
  }
  if (options.m_log_file != nullptr) say_held_beside(*options.m_log_file, "diagnostics log");
  release_diags_log(options);
  report_file report;
  // Standard output is written in large blocks straight to its descriptor.
  uni::descriptor_output standard_output(STDOUT_FILENO);
  std::ostream* out = &standard_output;
  const bool held_output = listing && plain_output;
  const std::string& target = held_output ? k_standard_output : options.m_out_file;
  if (!options.m_out_file.empty() || held_output) {
    if (!(held_output ? report.open_stream(STDOUT_FILENO, target) : report.open(target)) ||
        (listing && !report.hold_stream())) {
      error_printf("prob opening results file: %s for writing (%s)\n", target.c_str(),
                   report.reason().c_str());
      return -1;
    }
    say_held_beside(report, "report");
    out = &report.stream();
  } else if (standard_stream_was_closed(STDOUT_FILENO)) {
    // A report nobody would get: said before anything is read.
    error_printf("prob writing results to standard output (%s)\n", std::strerror(EBADF));
    return -1;
  }
  report_file* const to_file = out == &standard_output ? nullptr : &report;
  const run_outputs outputs{to_file, options.m_log_file};
  *out << header << '\n';
  int status = -1;
  if (options.m_appid_mode) {
    status = run_appid_mode(*out, options, listing, outputs);
  } else if (listing) {
    options.m_list_run = true;
    filtered_walk input(&options);
    run_tally tally;
    if (start_input(input, options)) {
      std::string line;
      while (input.getline(line, true)) {
        say_unreadable_folders(input, tally);
        if (selected(options, line, tally)) run_one_file(*out, line, options, true, outputs, tally);
      }
      say_unreadable_folders(input, tally);
      status = list_status(input, options, tally);
    }
  } else if (args.size() < 2) {
    write_vesk_usage(std::cerr);
    error_printf(
        "no input given: name a file, give names on standard input with -pipe, or a folder "
        "with -enumdir\n");
  } else {
    run_tally tally;
    run_one_file(*out, args[1], options, false, {}, tally);
    status = tally.status();
  }
  out->flush();
  if (to_file != nullptr) return end_report_file(report, target, status, held_output);
  // A report that did not reach its destination (a full disk) is no success.
  if (!out->good()) {
    error_printf("prob writing results to standard output (%s)\n",
                 std::strerror(standard_output.error() != 0 ? standard_output.error() : EIO));
    return -1;
  }
  return status;
}

}  // namespace

int vesk_run(std::vector<std::string> args) {
  if (args.empty()) return -1;
  set_status_line_shown(isatty(STDERR_FILENO) == 1);
  // From here on an interrupted run leaves no unfinished file behind.
  remove_reports_on_signals();
  cmdline_ctx ctx;
  vesk_options options;
  const int status = run_vesk(ctx, options, args);
  if (options.m_log_file == nullptr) return status;
  // The log ends as the report does, with the run's time in it when kept.
  if (status != -1) ctx.log_elapsed(options);
  ctx.m_log_path.clear();
  report_file& log = *options.m_log_file;
  if (status == -1) {
    log.discard();
  } else {
    if (log.finish()) {
      if (log.target_kept())
        error_printf(
            "diagnostics log written to %s: the output file %s is an input of the run and was "
            "left as it was\n",
            log.written_path().c_str(), options.m_log_path.c_str());
      else if (log.placed_elsewhere())
        error_printf("diagnostics log written to %s: the folder of %s was moved during the run\n",
                     log.written_path().c_str(), options.m_log_path.c_str());
    } else {
      error_printf("can't write diagnostics log: %s\n",
                   what_became_of(log, options.m_log_path, "log").c_str());
    }
  }
  options.close_log();
  return status;
}

}  // namespace vk
