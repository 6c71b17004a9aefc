#include "jumplist/vesk_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ios>
#include <limits>

#include "cmdline/common_options.h"
#include "foundation/vk_args.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"

namespace vk {

namespace lnk {

useropts::useropts() : cmd_params(time_now().m_filetime, true) {
  clear();
}

useropts::~useropts() = default;

void useropts::clear() {
  set_defaults();
  lnk_dump_dir.clear();
  lnk_dump_count = 0;
  m_carve_mode = false;
  m_scan_step = 512;
  m_deep_scan = false;
  m_store_records = false;
  m_records.clear();
  m_source_path.clear();
  m_source_size = m_source_change_time = m_source_modify_time = m_source_access_time = 0;
  m_source_type.clear();
  m_appid_text.clear();
  m_appid = 0;
  m_file_extension.clear();
  m_automatic_list = m_custom_list = false;
  m_appids.clear();
  m_idlist_times = m_slack = m_show_offset = m_show_target_mft = m_list_run = false;
  m_ntfs_scan = m_include_unalloc_clusters = m_include_vss_clusters = false;
  m_include_pagefile_clusters = false;
  m_scan_offset = 0;
  m_failure = failure::none;
  m_failure_detail.clear();
  m_notes.clear();
  m_records_written = 0;
  m_source_name.clear();
  m_scan_texts[0].clear();
  m_scan_texts[1].clear();
}

}  // namespace lnk

vesk_options::vesk_options() {
  clear();
}

vesk_options::~vesk_options() = default;

void vesk_options::clear() {
  useropts::clear();
  m_appid_path.clear();
  m_appid_separator.assign(1, '|');
  m_appid_mode = false;
}

namespace {

bool hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool load_appids_body(appid_map& out, const std::string& path, char separator, size_t& count) {
  out.clear();
  count = 0;
  std::vector<uint8_t> bytes;
  if (!vkportdir::read_file_bytes(bytes, path, std::numeric_limits<uint32_t>::max())) return false;
  std::vector<std::string> lines;
  if (!split_text_lines(bytes, lines)) return true;
  count = lines.size();
  std::vector<std::string> fields;
  for (const auto& line : lines) {
    if (line.size() <= 1 || line.compare(0, 2, "//") == 0) continue;
    split_string(line, separator, fields, true, false, false);
    // A first field that is not a hexadecimal number names nothing.
    if (fields.size() < 2 || fields[0].size() > 16 || !hex_digit(fields[0][0])) continue;
    out.emplace(parse_i64_base(fields[0], std::ios_base::hex), fields[1]);
  }
  return true;
}

// The program's own folder: up to the last '/' (else '\'), or ".".
std::string program_folder() {
  const std::string exe = self_exe_path();
  size_t cut = exe.rfind('/');
  if (cut == std::string::npos) cut = exe.rfind('\\');
  return cut == std::string::npos ? std::string(".") : exe.substr(0, cut);
}

// A date layout the writer can keep: its fields, and between them one
// separator the writer knows ('/', '-' or ' ', with ',' after a month name)
// or none at all. "dd.mm.yyyy" would lose its dots.
bool date_layout_kept(std::string layout) {
  str_to_lower(layout);
  time_format_settings settings;
  if (!build_time_format_settings(settings, layout, "")) return false;
  const char separator = static_cast<char>(settings.m_descriptor.m_separator);
  for (char c : layout)
    if (c != 'd' && c != 'm' && c != 'y' && c != ',' && (separator == 0 || c != separator))
      return false;
  return true;
}

// Options of the family's settings that this tool does nothing with: each
// is said once and then taken out unread, so that none changes the run.
struct inert_option {
  const char* name;
  bool takes_value;
};
constexpr inert_option k_inert_options[] = {{"-xml", false},
                                            {"-csvgen", false},
                                            {"-gzip", false},
                                            {"-zlib", false},
                                            {"-zlibex", true},
                                            {"-threads", true},
                                            {"-signal", true},
                                            {"-split_pathfile", false},
                                            {"-cpuinst", true},
                                            {"-cpu", true},
                                            {"-fragment_files", true},
                                            {"-separate_files", false},
                                            {"-outdir", true},
                                            {"-filter_skip", true},
                                            {"-filter_path", true},
                                            {"-verbose", false},
                                            {"-v", false},
                                            {"-l2", false},
                                            {"-l3", false}};

void drop_inert_options(std::vector<std::string>& args) {
  for (const inert_option& option : k_inert_options) {
    bool said = false;
    for (size_t i = 1; i < args.size();) {
      if (!same_option_word(args[i], option.name)) {
        ++i;
        continue;
      }
      if (!said) std::fprintf(stderr, "option %s has no effect in vesk\n", option.name);
      said = true;
      const size_t end = std::min(args.size(), i + (option.takes_value ? 2 : 1));
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(end));
    }
  }
}

bool parse_body(vesk_options& opts, std::vector<std::string>& args, const std::string& version) {
  drop_inert_options(args);
  // "-appid" names a path, except in the listing of the programs of a list.
  const std::vector<option_word> own = {{"-appid", nullptr, !has_option("-pipe", args, 1), false},
                                        {"-appid_ref", nullptr, true, false},
                                        {"-appid_separator", nullptr, true, false},
                                        {"-translate_appid", nullptr, false, false},
                                        {"-idltimes", nullptr, false, false},
                                        {"-slack", nullptr, false, false},
                                        {"-show_offset", nullptr, false, false}};
  if (!settle_option_words(args, own)) return false;
  // A date layout the writer would garble is refused as the common parser
  // refuses a time layout: with a message, keeping the default.
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (!same_option_word(args[i], "-dateformat") || date_layout_accepted(args[i + 1])) continue;
    std::fprintf(stderr, "invalid %s, using default format\n", shown_name(args[i + 1]).c_str());
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i + 2));
    break;
  }
  if (!parse_common_options(opts, args)) return false;
  if (!opts.m_xml && !opts.m_csv && !opts.m_csvl2t && !opts.m_csvgen && !opts.m_bodyfile) {
    opts.m_multiline = 1;
    opts.m_header_pending = 0;
    opts.m_separator.clear();
    opts.m_replace_char = 0;
    opts.m_replacement_char = 0;
  }
  opts.m_version = version;

  std::string value;
  if (take_option_value("-appid_separator", value, args)) opts.m_appid_separator = value;
  if (has_option("-appid", args, 1)) {
    if (opts.m_pipe) {
      take_option_flag("-appid", args, false);
      opts.m_appid_mode = true;
      opts.m_csv = 1;
      if (opts.m_separator.empty()) {
        opts.m_separator.assign(1, '|');
        opts.m_replace_char = '|';
        opts.m_replacement_char = ';';
      }
    } else if (take_option_value("-appid", value, args)) {
      opts.m_appid_path = value;
      opts.m_appid_mode = true;
    }
  }
  if (take_option_value("-appid_ref", value, args)) {
    opts.m_appid_path = value;
    const char sep = opts.m_appid_separator.empty() ? '|' : opts.m_appid_separator[0];
    size_t lines = 0;
    if (!load_appid_file(opts.m_appids, value, sep, lines)) {
      std::fprintf(stderr, "Probs reading AppID file %s, aborting \n", shown_name(value).c_str());
      return false;
    }
    if (lines == 0) {
      std::fprintf(stderr, "Probs parsing AppID file %s, aborting \n", shown_name(value).c_str());
      return false;
    }
  } else if (take_option_flag("-translate_appid", args, false)) {
    opts.m_appid_path = program_folder() + "/appids.txt";
    size_t lines = 0;
    errno = 0;
    // The run goes on without names; which file was missed is said.
    if (!load_appid_file(opts.m_appids, opts.m_appid_path, '|', lines)) {
      const char* const reason = std::strerror(errno ? errno : EIO);
      std::fprintf(stderr, "can't read AppID file: %s (%s), AppIDs are shown without names\n",
                   shown_name(opts.m_appid_path).c_str(), reason);
    } else if (opts.m_appids.empty())
      std::fprintf(stderr, "no AppID names in file: %s, AppIDs are shown without names\n",
                   shown_name(opts.m_appid_path).c_str());
  }
  if (take_option_flag("-idltimes", args, false)) opts.m_idlist_times = true;
  if (take_option_flag("-slack", args, false)) opts.m_slack = true;
  if (take_option_flag("-show_offset", args, false)) opts.m_show_offset = true;
  opts.m_show_target_mft = true;
  return true;
}

}  // namespace

bool date_layout_accepted(const std::string& layout) {
  return (layout.size() == 8 || layout.size() == 10) && date_layout_kept(layout);
}

bool load_appid_file(appid_map& out, const std::string& path, char separator, size_t& lines) {
  return guarded([&] { return load_appids_body(out, path, separator, lines); },
                 [&] {
                   out.clear();
                   lines = 0;
                 });
}

bool parse_jumplist_options(vesk_options& opts, std::vector<std::string>& args,
                            const std::string& version) {
  return guarded([&] { return parse_body(opts, args, version); });
}

}  // namespace vk
