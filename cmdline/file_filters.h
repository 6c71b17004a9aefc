// The file-selection filters ("-filter", "-filter_skip", "-filter_sig") and
// the test that decides, with the time window of the settings, whether a
// file takes part in the run. Whether a match keeps or drops the file is the
// caller's choice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "cmdline/filter_entry.h"
#include "foundation/vk_file_record.h"
#include "foundation/vk_portable_dir.h"

namespace vk {

// Empties `out`, then splits `text` at `separator`. Pieces are trimmed with
// wtrim_ws when asked; empty pieces are kept only with `keep_empty` (a
// separator at the very start gives none). False only for an empty text.
bool split_wstring(const std::wstring& text, wchar_t separator, std::vector<std::wstring>& out,
                   bool trim, bool keep_empty);

// Replaces `out` with the entries of a pattern text: pieces separated by ','
// (or, when there is none, by '|'), each lower-cased, with '*' as a leading
// or trailing wildcard, an optional ":stream" part and a leading '/' that
// anchors the pattern in the directory. A "*" piece selects everything.
// True when the list holds at least one entry.
bool parse_filter_list(std::vector<filter_entry>& out, const std::string& text);

// True when the file is inside the time window of `settings` (tested only
// when `info` is given) and `filters` is empty or one of its entries
// matches. `open_failed` is 0 on return unless a signature entry could not
// open the file. With `colon_part`, a ":stream" suffix of the name is
// matched against the entries' colon parts.
bool file_passes_filters(const cmd_params& settings, uint8_t& open_failed, const std::wstring& path,
                         const std::vector<filter_entry>& filters, file_stat_info* info,
                         bool colon_part);

// The same for a UTF-8 path; false for an empty one, and true for an empty
// filter list without a look at the time window.
bool path_passes_filters(const cmd_params& settings, uint8_t& open_failed, const std::string& path,
                         const std::vector<filter_entry>& filters, file_stat_info* info,
                         bool colon_part);

// The test with default settings (no time window): false for an empty path
// (`open_failed` untouched), true for an empty filter list.
bool path_passes_filters_default(uint8_t& open_failed, const std::wstring& path,
                                 const std::vector<filter_entry>& filters, bool colon_part);

// parse_filter_list, and when `filter_path` is not empty its lower-cased
// form written into every entry made (the length counted in characters).
bool parse_filter_list_w(std::vector<filter_entry>& out, const std::string& text,
                         const std::string& filter_path);

// The selection test over a directory and a name held apart. An entry with
// a filter path counts only when that path occurs in the lower-cased
// directory; there are no anchored patterns and no signature comparison.
// An empty directory hands the name to file_passes_filters as the path.
bool file_passes_filters_w(const cmd_params& settings, uint8_t& open_failed,
                           const std::wstring& directory, const std::wstring& name,
                           const std::vector<filter_entry>& filters, file_stat_info* info,
                           bool colon_part);

// The directory walk of the input files with the file filters and the time
// window of the settings (default settings without one).
class filtered_walk : public vkportdir::stdin_stream_ex {
 public:
  explicit filtered_walk(const cmd_params* options = nullptr) : m_options(options) {}

  using stdin_stream_ex::start_walk;
  // Starts a walk that hands out the files selected by `filters`.
  bool start_walk(const std::wstring& root, uint32_t depth_limit,
                  const std::vector<filter_entry>& filters);
  bool start_dir(const std::string& root, uint32_t depth_limit,
                 const std::vector<filter_entry>& filters);

  const cmd_params* options() const { return m_options; }

  // Files of the walk that the test did not hand out, by cause.
  struct skip_counts {
    uint64_t outside_window = 0;  // the "-cmd_start_time" / "-cmd_stop_time" window
    uint64_t not_selected = 0;    // the filter list
  };
  const skip_counts& skipped() const { return *m_skipped; }

 private:
  const cmd_params* m_options = nullptr;
  std::shared_ptr<skip_counts> m_skipped = std::make_shared<skip_counts>();
};

}  // namespace vk
