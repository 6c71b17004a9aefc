#include "cmdline/file_filters.h"

#include <limits>

#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

bool wcontains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}
bool wstarts_with(const std::wstring& text, const std::wstring& part) {
  return text.size() >= part.size() && text.compare(0, part.size(), part) == 0;
}
bool wends_with(const std::wstring& text, const std::wstring& part) {
  return text.size() >= part.size() &&
         text.compare(text.size() - part.size(), part.size(), part) == 0;
}

// Removes the '*' characters of a pattern, noting a leading and a trailing
// one; any other '*' is simply dropped.
void take_stars(std::wstring& text, uint8_t& lead, uint8_t& trail) {
  for (size_t at = text.find(L'*'); at != std::wstring::npos; at = text.find(L'*', at)) {
    if (at == 0)
      lead = 1;
    else if (at == text.size() - 1)
      trail = 1;
    text.erase(at, 1);
  }
}

// Matches `text` against a pattern whose stars were taken out.
bool star_match(const std::wstring& text, const std::wstring& pattern, bool lead, bool trail) {
  if (lead && trail) return wcontains(text, pattern);
  if (lead) return wends_with(text, pattern);
  if (trail) return wstarts_with(text, pattern);
  return text == pattern;
}

// The ":stream" rules: a name without a stream part passes the entries
// without one (or with "*"), a name with one only the entries whose stream
// pattern matches it.
bool stream_part_passes(const filter_entry& e, bool has_stream, const std::wstring& stream) {
  if (!has_stream) return !e.m_has_colon_part || e.m_colon_match_all;
  if (!e.m_has_colon_part) return false;
  return e.m_colon_match_all ||
         star_match(stream, e.m_colon_part, e.m_colon_lead_star, e.m_colon_trail_star);
}

// A fixed-size read of the file's bytes at the entry's offset.
enum class sig_result { match, differ, open_failed };

sig_result test_signature(const std::wstring& path, const filter_entry& e) {
  uni::fileio file(path, false);
  if (!file.is_open()) return sig_result::open_failed;
  sig_result result = sig_result::differ;
  const uint64_t size = file.fileio_size();
  const uint64_t len = e.m_signature.size();
  if (e.m_signature_offset <= size && len <= size - e.m_signature_offset) {
    std::vector<uint8_t> got;
    if (file.read_bytes_at(got, len, e.m_signature_offset) && got == e.m_signature)
      result = sig_result::match;
  }
  file.close();
  return result;
}

// Whether the record's times lie inside the settings' window.
bool inside_time_window(const cmd_params& s, const std::wstring& path, file_stat_info& info) {
  if (info.mtime == 0) {
    if (!get_file_stat_info(info, path) || info.mtime == 0) return false;
  }
  const uint64_t m = static_cast<uint64_t>(info.mtime);
  const uint64_t t2 = static_cast<uint64_t>(info.time2);
  uint64_t start, stop;
  bool open_end;
  if (info.time_kind == file_times_filetime) {
    start = s.m_start_time;
    stop = s.m_stop_time;
    open_end = s.m_stop_time == std::numeric_limits<uint64_t>::max();
  } else if (info.time_kind == file_times_unix) {
    start = s.m_start_unix;
    stop = s.m_stop_unix;
    open_end = s.m_stop_unix == std::numeric_limits<uint32_t>::max();
  } else {
    return false;
  }
  if (s.m_start_set && m < start && t2 < start) return false;
  if (s.m_stop_set && !open_end && (m > stop || t2 > stop)) return false;
  return true;
}

// The anchored search of a pattern that begins with '/' in the directory
// part: a match ends at the end of the directory or before a '/'.
bool anchored_match(std::wstring& dir, bool& dir_ready, const std::wstring& pattern) {
  if (!dir_ready) {
    wstr_to_lower(dir);
    dir_ready = true;
  }
  auto search = [&] {
    for (size_t at = dir.find(pattern); at != std::wstring::npos; at = dir.find(pattern, at + 1)) {
      const size_t end = at + pattern.size();
      if (end == dir.size() || dir[end] == L'/') return true;
    }
    return false;
  };
  if (search()) return true;
  const wchar_t first = pattern[0];
  const wchar_t other = first == L'/' ? L'\\' : L'/';
  if (dir.find(other) == std::wstring::npos) return false;
  for (auto& c : dir)
    if (c == other) c = first;
  return search();
}

}  // namespace

bool split_wstring(const std::wstring& text, wchar_t separator, std::vector<std::wstring>& out,
                   bool trim, bool keep_empty) {
  out.clear();
  if (text.empty()) return false;
  vk::guarded([&] {
    auto add = [&](std::wstring piece) {
      if (trim) wtrim_ws(piece);
      if (!piece.empty() || keep_empty) out.push_back(std::move(piece));
    };
    size_t from = 0;
    for (size_t at = text.find(separator); at != std::wstring::npos;
         at = text.find(separator, from)) {
      if (at > 0) add(text.substr(from, at - from));
      from = at + 1;
    }
    std::wstring rest = text.substr(from);
    if (trim) wtrim_ws(rest);
    if (!rest.empty())
      out.push_back(std::move(rest));
    else if (keep_empty && from == text.size())
      out.emplace_back();
  });
  return true;
}

bool parse_filter_list(std::vector<filter_entry>& out, const std::string& text) {
  return vk::guarded([&] {
    out.clear();
    std::string lower = text;
    str_to_lower(lower);
    const std::wstring wide = from_utf8(lower);

    std::vector<std::wstring> pieces;
    if (wide.find(L'|') != std::wstring::npos) split_wstring(wide, L'|', pieces, true, false);
    if (wide.find(L',') != std::wstring::npos) split_wstring(wide, L',', pieces, true, false);
    if (pieces.empty()) pieces.push_back(wide);

    out.resize(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
      const std::wstring& piece = pieces[i];
      filter_entry& e = out[i];
      e.clear();
      if (piece == L"*") {
        out.resize(1);
        out[0].clear();
        out[0].m_match_all = 1;
        out[0].m_piece = L"*";
        out[0].m_name = L"*";
        return true;
      }
      e.m_piece = piece;
      e.m_name = piece;
      const size_t colon = piece.find(L':');
      if (colon != std::wstring::npos) {
        e.m_has_colon_part = 1;
        e.m_colon_part = piece.substr(colon + 1);
        e.m_name = piece.substr(0, colon);
        if (e.m_colon_part == L"*")
          e.m_colon_match_all = 1;
        else
          take_stars(e.m_colon_part, e.m_colon_lead_star, e.m_colon_trail_star);
        if (e.m_name == L"*") {
          e.m_match_all = 1;
          continue;
        }
      }
      take_stars(e.m_name, e.m_name_lead_star, e.m_name_trail_star);
      if (!e.m_name.empty() && e.m_name[0] == L'/') e.m_anchored = 1;
    }
    return !out.empty();
  });
}

bool file_passes_filters(const cmd_params& settings, uint8_t& open_failed, const std::wstring& path,
                         const std::vector<filter_entry>& filters, file_stat_info* info,
                         bool colon_part) {
  open_failed = 0;
  if (path.empty()) return false;
  return vk::guarded([&] {
    if (info && (settings.m_start_set || settings.m_stop_set) &&
        !inside_time_window(settings, path, *info))
      return false;
    if (filters.empty()) return true;
    if (filters.size() == 1 && filters[0].m_match_all) return true;

    std::wstring dir, name;
    if (!split_path_w(path, dir, name)) return false;
    wstr_to_lower(name);
    std::wstring name_colon;
    bool name_has_colon = false;
    if (colon_part) {
      const size_t colon = name.find(L':');
      if (colon != std::wstring::npos) {
        name_has_colon = true;
        name_colon = name.substr(colon + 1);
        name.resize(colon);
      }
    }

    bool dir_ready = false;
    for (const filter_entry& e : filters) {
      if (e.m_anchored && anchored_match(dir, dir_ready, e.m_name)) return true;

      if (colon_part && !stream_part_passes(e, name_has_colon, name_colon)) continue;

      if (e.m_match_all) return true;
      const bool lead = e.m_name_lead_star, trail = e.m_name_trail_star;
      if (lead || trail) {
        if (star_match(name, e.m_name, lead, trail)) return true;
        continue;
      }
      if (!e.m_name.empty() && e.m_name == name) return true;
      if (!e.m_signature.empty()) {
        const sig_result r = test_signature(path, e);
        if (r == sig_result::match) return true;
        if (r == sig_result::open_failed) open_failed = 1;
      }
    }
    return false;
  });
}

bool path_passes_filters(const cmd_params& settings, uint8_t& open_failed, const std::string& path,
                         const std::vector<filter_entry>& filters, file_stat_info* info,
                         bool colon_part) {
  if (path.empty()) return false;
  // An empty list selects every name, whatever the time window.
  if (filters.empty()) return true;
  return file_passes_filters(settings, open_failed, vkportdir::path_to_wide(path), filters, info,
                             colon_part);
}

bool path_passes_filters_default(uint8_t& open_failed, const std::wstring& path,
                                 const std::vector<filter_entry>& filters, bool colon_part) {
  if (path.empty()) return false;
  if (filters.empty()) return true;
  return vk::guarded([&] {
    static const cmd_params defaults(time_now().m_filetime, true);
    return file_passes_filters(defaults, open_failed, path, filters, nullptr, colon_part);
  });
}

bool parse_filter_list_w(std::vector<filter_entry>& out, const std::string& text,
                         const std::string& filter_path) {
  if (!parse_filter_list(out, text)) return false;
  if (filter_path.empty()) return true;
  vk::guarded([&] {
    std::string lower = filter_path;
    str_to_lower(lower);
    const std::wstring wide = from_utf8(lower);
    for (filter_entry& e : out) {
      e.m_filter_path = wide;
      e.m_filter_path_length = static_cast<uint32_t>(wide.size());
    }
  });
  return true;
}

bool file_passes_filters_w(const cmd_params& settings, uint8_t& open_failed,
                           const std::wstring& directory, const std::wstring& name,
                           const std::vector<filter_entry>& filters, file_stat_info* info,
                           bool colon_part) {
  open_failed = 0;
  if (name.empty()) return false;
  if (directory.empty())
    return file_passes_filters(settings, open_failed, name, filters, info, colon_part);
  return vk::guarded([&] {
    if (info && (settings.m_start_set || settings.m_stop_set) &&
        !inside_time_window(settings, directory + L"/" + name, *info))
      return false;
    if (filters.empty()) return true;
    if (filters.size() == 1 && filters[0].m_match_all) return true;

    std::wstring dir = directory, file = name, stream;
    wstr_to_lower(dir);
    wstr_to_lower(file);
    bool has_stream = false;
    if (colon_part) {
      const size_t colon = file.find(L':');
      if (colon != std::wstring::npos) {
        has_stream = true;
        stream = file.substr(colon + 1);
        file.resize(colon);
      }
    }

    for (const filter_entry& e : filters) {
      if (e.m_filter_path_length != 0 && !wcontains(dir, e.m_filter_path)) continue;
      if (colon_part && !stream_part_passes(e, has_stream, stream)) continue;
      if (e.m_match_all) return true;
      const bool lead = e.m_name_lead_star, trail = e.m_name_trail_star;
      if (lead || trail) {
        if (star_match(file, e.m_name, lead, trail)) return true;
        continue;
      }
      if (!e.m_name.empty() && e.m_name == file) return true;
    }
    return false;
  });
}

bool filtered_walk::start_walk(const std::wstring& root, uint32_t depth_limit,
                               const std::vector<filter_entry>& filters) {
  file_test test;
  *m_skipped = skip_counts{};
  const bool made = vk::guarded([&] {
    const cmd_params* options = m_options;
    test = [options, filters, skipped = m_skipped](const std::wstring& path, bool& open_failed) {
      uint8_t failed = 0;
      bool pass = true;
      if (options) {
        // The window and the list are tested apart, to count which one
        // kept a file out.
        if (options->m_start_set || options->m_stop_set) {
          static const std::vector<filter_entry> no_filters;
          file_stat_info info;
          clear_file_stat_info(info);
          if (!file_passes_filters(*options, failed, path, no_filters, &info, false)) {
            ++skipped->outside_window;
            return false;
          }
        }
        pass = file_passes_filters(*options, failed, path, filters, nullptr, false);
      } else {
        pass = path_passes_filters_default(failed, path, filters, false);
      }
      open_failed = failed != 0;
      if (!pass) ++skipped->not_selected;
      return pass;
    };
    return true;
  });
  if (!made) {
    reset();
    return false;
  }
  return start_walk(root, depth_limit, std::move(test));
}

bool filtered_walk::start_dir(const std::string& root, uint32_t depth_limit,
                              const std::vector<filter_entry>& filters) {
  if (root.empty()) return false;
  return start_walk(path_to_wide(root), depth_limit, filters);
}

}  // namespace vk
