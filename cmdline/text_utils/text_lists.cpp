#include "cmdline/text_utils/text_lists.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_counted_string.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

bool parse_number_list_delim(const std::string& text, std::vector<uint64_t>& out, char delimiter) {
  return guarded([&] {
    if (delimiter == ' ') {
      std::vector<int64_t> values;
      parse_number_list(text, values);
      out.assign(values.begin(), values.end());
      return !out.empty();
    }
    std::vector<std::string> pieces;
    split_string(text, delimiter, pieces, true, false, false);
    for (auto& piece : pieces) {
      int64_t v = 0;
      if (parse_long_text(piece, &v)) out.push_back(static_cast<uint64_t>(v));
    }
    return !out.empty();
  });
}

bool parse_byte_words(const std::string& text, byte_array& out) {
  out.clear();
  return guarded(
      [&] {
        std::vector<std::string> words;
        split_quoted_words(text, words);
        for (const auto& w : words) {
          uint32_t v = 0;
          parse_uint(w, v);  // a word that does not read gives 0
          out.push_back(static_cast<uint8_t>(v));
        }
        return !out.empty();
      },
      [&] { out.clear(); });
}

char split_numbers_any_delim(std::vector<uint64_t>& out, const std::string& text, bool trim,
                             bool keep_empty, const std::string& delimiters) {
  out.clear();
  if (text.empty()) return 0;
  return guarded(
      [&]() -> char {
        std::vector<std::string> pieces;
        const char used = split_at_any_delim(pieces, text, trim, keep_empty, delimiters);
        if (pieces.empty()) pieces.push_back(text);
        for (const auto& piece : pieces) {
          uint64_t v = 0;
          if (parse_u64_text(piece, &v)) out.push_back(v);
        }
        return used;
      },
      [&] { out.clear(); });
}

char split_at_any_delim_w(std::vector<std::wstring>& out, const std::wstring& text, bool trim,
                          bool keep_empty, const std::string& delimiters) {
  out.clear();
  return guarded(
      [&]() -> char {
        std::vector<std::string> pieces;
        const char used = split_at_any_delim(pieces, to_utf8(text), trim, keep_empty, delimiters);
        for (const auto& piece : pieces) out.push_back(from_utf8(piece));
        return used;
      },
      [&] { out.clear(); });
}

bool split_string_to_set(const std::string& text, char delimiter, std::set<std::string>& out,
                         bool trim, bool append) {
  if (!append) out.clear();
  if (text.empty()) return false;
  guarded([&] {
    std::vector<std::string> pieces;
    split_string(text, delimiter, pieces, trim, false, false);
    out.insert(pieces.begin(), pieces.end());
  });
  return true;
}

bool interleave_lists(std::vector<std::string>& out, const std::vector<std::string>& names,
                      const std::vector<std::string>& values) {
  out.clear();
  if (names.size() != values.size()) return false;
  return guarded(
      [&] {
        for (size_t i = 0; i < names.size(); ++i) {
          if (names[i].empty()) {
            out.clear();
            break;
          }
          out.push_back(names[i]);
          if (!values[i].empty()) out.push_back(values[i]);
        }
        return !out.empty();
      },
      [&] { out.clear(); });
}

void remove_duplicate_wstrings(std::vector<std::wstring>& list) {
  guarded([&] {
    std::unordered_set<std::wstring> seen;
    std::vector<std::wstring> kept;
    for (const auto& s : list)
      if (seen.insert(s).second) kept.push_back(s);
    if (kept.size() != list.size()) list = std::move(kept);
  });
}

std::string& read_utf16_line(std::string& out, const uint16_t*& pos, size_t& count,
                             bool continuation) {
  out.clear();
  if (!pos || count == 0) return out;
  guarded(
      [&] {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pos);
        auto unit = [&](size_t i) { return load_le16(bytes + 2 * i); };
        std::wstring line;
        size_t consumed = 0;
        for (size_t i = 0; i < count;) {
          const uint16_t u = unit(i);
          if (u != '\r' && u != '\n') {
            line += static_cast<wchar_t>(u);
            ++i;
            continue;
          }
          const bool after_backslash = continuation && i > 0 && unit(i - 1) == '\\';
          if (after_backslash) line.pop_back();
          if (u == '\n') {
            consumed = i + 1;
            break;
          }
          const size_t end_len = (i + 1 < count && unit(i + 1) == '\n') ? 2 : 1;
          if (after_backslash) {
            i += end_len;  // the line goes on after this line end
            continue;
          }
          consumed = i + end_len;
          break;
        }
        out = to_utf8(line);
        if (consumed) {
          pos += consumed;
          count -= consumed;
        }
      },
      [&] { out.clear(); });
  return out;
}

bool utf16_multi_string_to_list(std::vector<std::wstring>& out, const uint8_t* buffer,
                                uint32_t length) {
  out.clear();
  if (!buffer || length == 0) return false;
  size_t units = length / 2;
  if (length == UINT32_MAX) {
    // No length known: up to the first NUL unit within 513, none without one.
    units = 0;
    for (size_t i = 0; i < 513; ++i)
      if (load_le16(buffer + 2 * i) == 0) {
        units = i;
        break;
      }
  }
  return guarded(
      [&] {
        size_t i = 0;
        while (i < units) {
          std::wstring text;
          while (i < units && load_le16(buffer + 2 * i) != 0)
            text += static_cast<wchar_t>(load_le16(buffer + 2 * i++));
          out.push_back(std::move(text));
          ++i;  // the NUL
        }
        return !out.empty();
      },
      [&] { out.clear(); });
}

bool list_to_utf16_multi_string(const std::vector<std::wstring>& list, byte_array& out) {
  out.clear();
  if (list.empty()) return false;
  return guarded(
      [&] {
        for (const auto& text : list) {
          for (wchar_t c : text) {
            const auto u = static_cast<uint16_t>(c);
            out.push_back(static_cast<uint8_t>(u));
            out.push_back(static_cast<uint8_t>(u >> 8));
          }
          out.insert(out.end(), 2, 0);
        }
        out.insert(out.end(), 2, 0);
        return true;
      },
      [&] { out.clear(); });
}

bool split_text_buffer_w(const uint8_t* buffer, uint32_t length, std::vector<std::wstring>& out) {
  out.clear();
  if (!buffer || length < 2) return false;
  const uint32_t probe = length < 4 ? 2 : 4;
  if (std::find(buffer, buffer + probe, 0) == buffer + probe) {
    std::vector<std::string> lines;
    if (!split_lines(buffer, length, lines)) return false;
    return utf8_list_to_wide(lines, out) && !out.empty();
  }
  // UTF-16LE units, length / 2 of them, both to find the line ends and to cut.
  return guarded(
      [&] {
        wchar_t cut;
        bool lf_to_blank = false;
        switch (newline_style_utf16(buffer, length)) {
          case nl_crlf:
          case nl_lf:
            cut = L'\n';
            break;
          case nl_cr:
            cut = L'\r';
            break;
          case nl_lfcr:
            cut = L'\r';
            lf_to_blank = true;
            break;
          default:
            return false;
        }
        std::wstring chars(length / 2, L'\0');
        for (size_t i = 0; i < chars.size(); ++i) {
          wchar_t c = load_le16(buffer + 2 * i);
          if (lf_to_blank && c == L'\n') c = L' ';
          chars[i] = c;
        }
        size_t delimiters = 0;
        split_wchar_buffer(chars.data(), chars.size(), cut, out, delimiters, true);
        return !out.empty();
      },
      [&] { out.clear(); });
}

bool text_line_metrics(uint32_t& lines, uint32_t& width, const std::string& text) {
  lines = 1;
  width = 0;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n') continue;
    width = std::max(width, static_cast<uint32_t>(std::min<size_t>(i - start, UINT32_MAX)));
    if (i < text.size() && lines < UINT32_MAX) ++lines;
    start = i + 1;
  }
  return true;
}

const uint16_t* wide_to_utf16_vector(std::vector<uint16_t>& out, const std::wstring& text) {
  out.clear();
  return wide_to_utf16_crlf(out, text.c_str());
}

bool split_utf16_path(const uint16_t* path, std::wstring& dir, std::wstring& name) {
  if (!path) return false;
  return guarded([&] {
    std::wstring wide;
    utf16_to_wide(path, wide, -1);
    return split_path_w(wide, dir, name);
  });
}

size_t remove_byte_value(byte_array& bytes, uint8_t value) {
  const size_t before = bytes.size();
  bytes.erase(std::remove(bytes.begin(), bytes.end(), value), bytes.end());
  return before - bytes.size();
}

bool init_dir_entry_info_from_path(dir_entry_info& entry, const std::string& path,
                                   const struct stat* st, const std::string& dir_text) {
  return guarded([&] {
    entry = dir_entry_info{};
    return fill_file_info_utf8(entry, path, st, dir_text);
  });
}

void reset_string_triple(string_triple& triple) {
  triple.first.clear();
  triple.second.clear();
  triple.third.clear();
  std::memset(triple.area1, 0, sizeof(triple.area1));
  std::memset(triple.area2, 0, sizeof(triple.area2));
}

namespace {

constexpr uint32_t k_no_callback = 0xFFFFFFFFu;

bool callback_ready(const cmd_params& settings, const std::string& path) {
  return settings.m_file_callback_on && settings.m_file_callback && !path.empty();
}

uint32_t notify_value(cmd_params& s, const std::string& path, const std::string& text,
                      uint64_t value) {
  const dir_entry_info* entry =
      (s.m_dir_entry.inode != 0 || s.m_dir_entry.size != 0) ? &s.m_dir_entry : nullptr;
  return s.m_file_callback(s.m_file_callback_context, path, text, &value, entry, nullptr);
}

uint32_t notify_kind(cmd_params& s, const std::string& path, const std::string& text,
                     uint32_t kind) {
  if (!callback_ready(s, path)) return k_no_callback;
  return s.m_file_callback(s.m_file_callback_context, path, text, nullptr, nullptr, &kind);
}

}  // namespace

uint32_t file_callback_text(cmd_params& settings, const std::string& path, const std::string& text,
                            uint64_t value) {
  if (!callback_ready(settings, path)) return k_no_callback;
  return notify_value(settings, path, text, value);
}

uint32_t file_callback_wtext(cmd_params& settings, const std::string& path,
                             const std::wstring& text, uint64_t value) {
  if (!callback_ready(settings, path)) return k_no_callback;
  std::string utf8;
  if (!guarded([&] {
        utf8 = to_utf8(text);
        return true;
      }))
    return k_no_callback;
  return notify_value(settings, path, utf8, value);
}

uint32_t file_callback_kind1(cmd_params& settings, const std::string& path,
                             const std::string& text) {
  return notify_kind(settings, path, text, 1);
}

uint32_t file_callback_kind2(cmd_params& settings, const std::string& path,
                             const std::string& text) {
  return notify_kind(settings, path, text, 2);
}

}  // namespace vk
