// The tool's settings object: the common settings, the jump-list settings
// and per-file state (lnk::useropts), and the AppID options; the tool's
// option parser and the AppID file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "jumplist/file_notes.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_record.h"
#include "jumplist/run_scratch.h"

namespace vk {

// AppID -> application name; the first line naming an AppID wins.
using appid_map = std::map<uint64_t, std::string>;

namespace lnk {

class useropts : public cmd_params, public lnk_dump_settings {
 public:
  useropts();
  useropts(const useropts&) = delete;
  useropts& operator=(const useropts&) = delete;
  ~useropts() override;

  void clear();

  bool m_carve_mode = false;
  uint32_t m_scan_step = 512;
  bool m_deep_scan = false;
  bool m_store_records = false;
  // Heap bytes the carve road may hold in parsed records of one file; past
  // them each record's report is held in the temporary folder until its turn.
  size_t m_carve_record_budget = size_t{4} << 20;
  // The entries of held reports sorted in memory before they are kept as a
  // sorted run (24 bytes each).
  size_t m_carve_run_entries = size_t{1} << 16;
  // Held reports dropped (their link claimed by another record) kept by
  // position in memory, 8 bytes each; past them each is marked in the file.
  size_t m_carve_drops_held = size_t{1} << 16;
  // Bytes of one carved compound file read into its pages: past them, what
  // they hold is let go and read again where it is needed.
  uint64_t m_carve_pages_held = uint64_t{4} << 20;
  // Parse steps (table and directory entries read) the compound files
  // nested in others' streams may take in one carved file, all together:
  // past them the rest are carved with the list holding them. A list 400
  // deep in a 10 MB stream takes about 2.3 million.
  uint64_t m_carve_nested_work = uint64_t{1} << 24;
  std::multimap<int64_t, lnk_record> m_records;  // the current file's records
  std::string m_source_path;
  uint64_t m_source_size = 0;
  uint64_t m_source_change_time = 0;
  uint64_t m_source_modify_time = 0;
  uint64_t m_source_access_time = 0;
  std::string m_source_type;
  std::string m_appid_text;
  uint64_t m_appid = 0;
  std::string m_file_extension;
  bool m_automatic_list = false;
  bool m_custom_list = false;
  appid_map m_appids;
  bool m_idlist_times = false;
  bool m_slack = false;
  bool m_show_offset = false;
  bool m_show_target_mft = false;
  // The run reads a list of files ("-pipe", "-enumdir"), not one named file.
  bool m_list_run = false;
  // Why the current file gave no record (set by the drivers), with what
  // failed; and the records written so far in the run.
  enum class failure : uint8_t {
    none,
    cannot_open,
    cannot_read,
    not_a_list,
    no_destlist,
    no_entries,
    damaged
  };
  failure m_failure = failure::none;
  std::string m_failure_detail;
  // What of the current file was damaged, cut or not reported.
  file_notes m_notes;
  uint64_t m_records_written = 0;
  // Raw-image scan settings ("-ntfs_scan", its three "-include_*" flags,
  // "-offset"), the source name and the two texts a front end hands in.
  bool m_ntfs_scan = false;
  // What an NTFS scan knows of the file a link was found in.
  uint64_t m_source_mft_time = 0;
  uint64_t m_source_inode = 0;
  uint16_t m_source_seq = 0;
  bool m_include_unalloc_clusters = false;
  bool m_include_vss_clusters = false;
  bool m_include_pagefile_clusters = false;
  int64_t m_scan_offset = 0;
  std::string m_source_name;
  std::string m_scan_texts[2];
  // What the run keeps from file to file; the drivers hand it down.
  run_scratch m_scratch;
};

}  // namespace lnk

class vesk_options : public lnk::useropts {
 public:
  vesk_options();
  ~vesk_options() override;

  void clear();

  std::string m_appid_path;
  std::string m_appid_separator = "|";
  bool m_appid_mode = false;
};

// Loads an AppID file (fields split at separator) into out, emptied first.
// False when the file cannot be read; lines tells how many lines it held.
bool load_appid_file(appid_map& out, const std::string& path, char separator, size_t& lines);

// A "-dateformat" layout the report can write as given.
bool date_layout_accepted(const std::string& layout);

// Reads the common options, then the tool's own, removing each one taken.
// False when the run must stop (the reason is then on standard error).
bool parse_jumplist_options(vesk_options& opts, std::vector<std::string>& args,
                            const std::string& version);

}  // namespace vk
