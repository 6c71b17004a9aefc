#include "foundation/vk_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <cwctype>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

std::string ascii_lower(std::string s) {
  return str_to_lower(s);
}

// ---- small helpers of this file ----

bool is_b64_char(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

int hex_val(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Shared walk of newline_style over units of either width.
template <typename Get>
uint32_t newline_walk(size_t count, Get unit) {
  uint32_t style = nl_none;
  auto note = [&](uint32_t kind) -> bool {
    if (style == nl_none) {
      style = kind;
      return true;
    }
    return style == kind;
  };
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = unit(i);
    uint32_t kind;
    if (c == '\r') {
      if (i + 1 < count && unit(i + 1) == '\n') {
        kind = nl_crlf;
        ++i;
      } else {
        kind = nl_cr;
      }
    } else if (c == '\n') {
      if (i + 1 < count && unit(i + 1) == '\r') {
        kind = nl_lfcr;
        ++i;
      } else {
        kind = nl_lf;
      }
    } else {
      continue;
    }
    if (!note(kind)) return nl_mixed;
  }
  return style;
}

}  // namespace

// ---------------------------------------------------------------------------
// Line ends and Base64 characters

uint32_t newline_style(const uint8_t* bytes, uint32_t length) {
  if (!bytes) return nl_none;
  return newline_walk(length, [bytes](size_t i) { return static_cast<uint32_t>(bytes[i]); });
}

uint32_t newline_style_utf16(const uint8_t* bytes, uint32_t length) {
  if (!bytes) return nl_none;
  return newline_walk(length / 2, [bytes](size_t i) {
    return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  });
}

uint8_t base64_char_value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0' + 52);
  if (c == '+') return 62;
  return 63;
}

bool is_base64_text(const uint8_t* bytes, uint32_t length, bool check_chars) {
  if (!bytes || length < 4) return false;
  uint32_t r = length % 3;
  if (r == 2 && bytes[length - 1] != '=') return false;
  if (r == 1 && bytes[length - 1] != '=' && bytes[length - 2] != '=') return false;
  if (check_chars) {
    for (uint32_t i = 0; i < length - r; ++i)
      if (!is_b64_char(bytes[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Windows versions

uint32_t windows_version_name(std::string& text, uint32_t platform_id, uint32_t major,
                              uint32_t minor, bool product_type_known, bool server,
                              bool workstation_forced, uint32_t build) {
  text = "<unk>";
  if (platform_id != 2) {
    text = "Win9x";
    return 2;
  }
  const bool workstation = workstation_forced || !server;
  const bool add_server = product_type_known && !workstation;
  // Index into the three code columns: not given, workstation, other.
  const int col = !product_type_known ? 0 : (workstation ? 1 : 2);
  auto pick = [col](uint32_t a, uint32_t b, uint32_t c) { return col == 0 ? a : col == 1 ? b : c; };
  if (major == 4) {
    text = "NT4";
    return 0x10;
  }
  if (major == 5) {
    switch (minor) {
      case 0:
        text = "Win2k";
        return 0x11;
      case 1:
        text = "WinXP";
        return pick(0x100, 0x101, 0x102);
      case 2:
        text = "Win03";
        if (add_server) text += " or WinXP64";
        return pick(0x104, 0x105, 0x106);
      default:
        return 1;
    }
  }
  if (major == 6) {
    switch (minor) {
      case 0: {
        text = "Vista";
        if (add_server) text += " or Win2008";
        if (build == 0) return pick(0x1000, 0x1001, 0x1002);
        if (build == 6001) return pick(0x1004, 0x1007, 0x1008);
        return pick(0x1003, 0x1005, 0x1006);
      }
      case 1: {
        text = "Win7";
        if (add_server) text += " or Win2008/R2";
        if (build == 0) return pick(0x1010, 0x1011, 0x1012);
        if (build == 7601) return pick(0x1014, 0x1017, 0x1018);
        return pick(0x1013, 0x1015, 0x1016);
      }
      case 2:
        text = "Win8";
        if (add_server) text += " or Win2012/R1";
        return pick(0x1020, 0x1021, 0x1022);
      case 3:
        text = "Win8.1";
        if (add_server) text += " or Win2012/R2";
        return pick(0x1028, 0x1029, 0x102A);
      default:
        return 1;
    }
  }
  if (major == 10) {
    if (minor != 0) {
      text = "Post Win10";
      return 22000;
    }
    text = "Win10";
    if (add_server) text += " or Win2016";
    return pick(0x1030, 0x1031, 0x1032);
  }
  return 1;
}

uint32_t windows_version_name_simple(std::string& text, uint32_t platform_id, uint32_t major,
                                     uint32_t minor, bool product_type_known) {
  return windows_version_name(text, platform_id, major, minor, product_type_known, false, true, 0);
}

uint32_t windows_version_code(std::string& text) {
  str_to_lower(text);
  static const std::pair<const char*, uint32_t> names[] = {
      {"win10", 0x1030}, {"win8.1", 0x1028}, {"win8", 0x1020}, {"win7", 0x1010}, {"vista", 0x1000},
      {"win03", 0x104},  {"winxp", 0x100},   {"win2k", 0x11},  {"nt4", 0x10}};
  for (const auto& [name, code] : names)
    if (text.find(name) != std::string::npos) return code;
  return 1;
}

// ---------------------------------------------------------------------------
// Other writers

namespace {
bool sid_common(std::string& out, const uint8_t* bytes, uint32_t length, bool exact) {
  out.clear();
  if (!bytes || length < 12) return false;
  const uint64_t need = 8 + 4ull * bytes[1];
  if (exact ? length != need : length < need) return false;
  return vk::guarded(
      [&] {
        std::string s = "S-";
        s += std::to_string(bytes[0]);
        s += '-';
        s += std::to_string(bytes[7]);
        for (uint32_t i = 0; i < bytes[1]; ++i) {
          s += '-';
          s += std::to_string(load_le32(bytes + 8 + 4 * i));
        }
        out = std::move(s);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}
}  // namespace

bool sid_to_string(std::string& out, const uint8_t* bytes, uint32_t length) {
  return sid_common(out, bytes, length, false);
}

bool sid_to_string_exact(std::string& out, const uint8_t* bytes, uint32_t length) {
  return sid_common(out, bytes, length, true);
}

std::string sid_text(const uint8_t* bytes, uint32_t length) {
  std::string s;
  sid_to_string(s, bytes, length);
  return s;
}

std::string build_macos_library_path(uint32_t flags) {
  static const std::pair<uint32_t, const char*> parts[] = {
      {1, "Library"},    {2, "Preferences"}, {4, "SyncedPreferences"},
      {32, "Calendars"}, {8, "Safari"},      {16, "SystemConfiguration"}};
  std::string out;
  for (const auto& [bit, name] : parts)
    if (flags & bit) {
      out += name;
      out += '/';
    }
  return out;
}

void join_words(std::ostringstream& os, uint32_t flags, const word_callback& word,
                const void* const* handles) {
  if (!(flags & (1u << 22))) os.str("");
  if (!handles || !word) return;
  size_t count = flags & 0xF;
  if (count != 0) {
    for (size_t i = 0; i < count; ++i)
      if (!handles[i]) return;
  } else {
    while (count <= 10 && handles[count]) ++count;
    if (count == 0 || count > 10) return;
  }
  char sep = 0;
  if (flags & (1u << 28))
    sep = '_';
  else if (flags & (1u << 31))
    sep = ' ';
  else if (flags & (1u << 24))
    sep = '.';
  else if (flags & (1u << 25))
    sep = '/';
  else if (flags & (1u << 26))
    sep = '\\';
  else if (flags & (1u << 21))
    sep = '|';
  vk::guarded([&] {
    for (size_t i = 0; i < count; ++i) {
      std::string w = word(handles[i]);
      auto cap = [&w] {
        if (!w.empty()) w[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
      };
      if (flags & (1u << 29)) {
        cap();
      } else if ((flags & (1u << 30)) && i == 0) {
        cap();
      } else if (flags & (1u << 27)) {
        for (char& c : w)
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      } else if (flags & (1u << 23)) {
        for (char& c : w)
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      os << w;
      if (sep && i + 1 < count) os << sep;
    }
  });
}

bool text_between_markers(const char* text, const char* first, const char* second,
                          const char* third, std::string& out) {
  out.clear();
  if (!text || !second || !third) return false;
  std::string_view t(text);
  size_t pos = 0;
  if (first) {
    size_t f = t.find(first);
    if (f == std::string_view::npos) return false;
    pos = f + std::strlen(first);
  }
  size_t s = t.find(second, pos);
  if (s == std::string_view::npos) return false;
  size_t start = s + 1;
  size_t e = t.find(third, start);
  if (e == std::string_view::npos) return false;
  out.assign(t.substr(start, e - start));
  return true;
}

// ---------------------------------------------------------------------------
// Scanners

bool collect_angle_tags(const uint8_t* bytes, uint32_t length, std::vector<std::string>& out) {
  std::vector<std::pair<std::string, uint32_t>> tags;
  collect_angle_tags_pos(bytes, length, tags);
  vk::guarded([&] {
    for (auto& t : tags) out.push_back(std::move(t.first));
  });
  return !out.empty();
}

bool collect_angle_tags_pos(const uint8_t* bytes, uint32_t length,
                            std::vector<std::pair<std::string, uint32_t>>& out) {
  if (!bytes) return !out.empty();
  vk::guarded([&] {
    bool in_run = false;
    uint32_t start = 0;
    for (uint32_t i = 0; i < length; ++i) {
      if (!in_run) {
        if (bytes[i] == '<') {
          in_run = true;
          start = i;
        } else if (bytes[i] == '>') {
          out.emplace_back(std::string(), 0);
        }
      } else if (bytes[i] == '>') {
        out.emplace_back(std::string(reinterpret_cast<const char*>(bytes + start), i - start + 1),
                         start + 1);
        in_run = false;
      }
    }
  });
  return !out.empty();
}

namespace {
// Tab expansion over units of 1 or 2 bytes; the output keeps the unit width.
bool expand_tabs_units(const uint8_t* bytes, uint32_t length, uint32_t width, std::string& out,
                       size_t unit) {
  const size_t count = length / unit;
  auto at = [&](size_t i) -> uint32_t {
    return unit == 1 ? bytes[i] : static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  bool any_tab = false, has_crlf = false, has_lf = false;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = at(i);
    if (c == '\t') any_tab = true;
    if (c == '\n') has_lf = true;
    if (c == '\r' && i + 1 < count && at(i + 1) == '\n') has_crlf = true;
  }
  if (!any_tab) return false;
  if (width == 0) width = 4;
  std::string res;
  auto put_unit = [&](size_t i) {
    res.append(reinterpret_cast<const char*>(bytes + i * unit), unit);
  };
  uint64_t column = 0;  // units written since the line start
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = at(i);
    bool line_end = false;
    size_t end_len = 0;
    if (has_crlf) {
      if (c == '\r' && i + 1 < count && at(i + 1) == '\n') line_end = true, end_len = 2;
    } else if (has_lf) {
      if (c == '\n') line_end = true, end_len = 1;
    } else if (c == '\r') {
      line_end = true, end_len = 1;
    }
    if (line_end) {
      for (size_t k = 0; k < end_len; ++k) put_unit(i + k);
      i += end_len - 1;
      column = 0;
      continue;
    }
    if (c != '\t') {
      put_unit(i);
      ++column;
      continue;
    }
    // Blanks up to the next multiple of the width.
    const uint64_t blanks = width - column % width;
    column += blanks;
    for (uint64_t k = 0; k < blanks; ++k) {
      res += ' ';
      if (unit == 2) res += '\0';
    }
  }
  // An odd trailing byte of a UTF-16 buffer stays as it was.
  if (unit == 2 && (length & 1)) res += static_cast<char>(bytes[length - 1]);
  out = std::move(res);
  return true;
}
}  // namespace

bool expand_tabs(const uint8_t* bytes, uint32_t length, uint32_t tab_width, std::string& out,
                 bool utf16) {
  if (!bytes || length == 0) return false;
  return vk::guarded([&] {
    if (utf16) {
      for (uint32_t i = 0; i + 1 < length; i += 2)
        if (bytes[i] == 0x09 && bytes[i + 1] == 0)
          return expand_tabs_units(bytes, length, tab_width, out, 2);
    }
    return expand_tabs_units(bytes, length, tab_width, out, 1);
  });
}

namespace {
template <typename Ch, typename Lower>
bool strip_element_units(Ch* buf, size_t count, const std::basic_string<Ch>& tag, Lower lower,
                         size_t& kept) {
  std::basic_string<Ch> open, close;
  open.push_back(static_cast<Ch>('<'));
  open += tag;
  close.push_back(static_cast<Ch>('<'));
  close.push_back(static_cast<Ch>('/'));
  close += tag;
  close.push_back(static_cast<Ch>('>'));
  for (auto& c : open) c = lower(c);
  for (auto& c : close) c = lower(c);
  auto match_at = [&](size_t i, const std::basic_string<Ch>& s) {
    if (count - i < s.size()) return false;
    for (size_t k = 0; k < s.size(); ++k)
      if (lower(buf[i + k]) != s[k]) return false;
    return true;
  };
  std::basic_string<Ch> res;
  res.reserve(count);
  bool inside = false;
  int64_t nesting = 0;
  size_t i = 0;
  while (i < count && count - i >= close.size()) {
    if (!inside) {
      if (match_at(i, open)) {
        inside = true;
        nesting = 0;
        i += open.size();
        // The character after the tag name, unless it starts "/>".
        if (i < count && buf[i] != static_cast<Ch>('/')) ++i;
        continue;
      }
      res.push_back(buf[i]);
      ++i;
      continue;
    }
    if (match_at(i, close)) {
      inside = false;
      i += close.size();
      continue;
    }
    if (buf[i] == static_cast<Ch>('/') && i + 1 < count && buf[i + 1] == static_cast<Ch>('>')) {
      if (nesting == 0) {
        inside = false;
      } else {
        --nesting;
      }
      i += 2;
      continue;
    }
    if (buf[i] == static_cast<Ch>('<')) ++nesting;
    ++i;
  }
  for (; i < count; ++i) res.push_back(buf[i]);
  std::copy(res.begin(), res.end(), buf);
  kept = res.size();
  return true;
}
}  // namespace

bool strip_xml_element(uint8_t* buffer, uint32_t& length, const char* tag) {
  if (!buffer || length == 0 || !tag) return false;
  return vk::guarded([&] {
    size_t kept = 0;
    std::basic_string<uint8_t> t(reinterpret_cast<const uint8_t*>(tag), std::strlen(tag));
    strip_element_units<uint8_t>(
        buffer, length, t, [](uint8_t c) { return static_cast<uint8_t>(std::tolower(c)); }, kept);
    length = static_cast<uint32_t>(kept);
    return true;
  });
}

bool strip_xml_element_w(wchar_t* buffer, uint32_t& length, const wchar_t* tag) {
  if (!buffer || length == 0 || !tag) return false;
  return vk::guarded([&] {
    size_t kept = 0;
    const size_t count = length / sizeof(wchar_t);
    strip_element_units<wchar_t>(
        buffer, count, std::wstring(tag),
        [](wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); },
        kept);
    // Bytes of a partial trailing character are dropped with the rest.
    length = static_cast<uint32_t>(kept * sizeof(wchar_t));
    return true;
  });
}

bool split_json_objects(std::vector<std::string>& out, const std::string& text) {
  out.clear();
  return vk::guarded(
      [&] {
        size_t bracket = text.find('[');
        size_t brace = text.find('{');
        if (bracket == std::string::npos || (brace != std::string::npos && brace < bracket)) {
          out.push_back(text);
          return true;
        }
        size_t pos = bracket;
        while ((pos = text.find('{', pos)) != std::string::npos) {
          int64_t depth = 0;
          size_t end = std::string::npos;
          for (size_t i = pos; i < text.size(); ++i) {
            if (text[i] == '{') {
              ++depth;
            } else if (text[i] == '}' && --depth == 0) {
              end = i;
              break;
            }
          }
          if (end == std::string::npos) break;
          out.push_back(text.substr(pos, end - pos + 1));
          pos = end + 1;
        }
        return !out.empty();
      },
      [&] { return !out.empty(); });
}

bool json_get_values(std::vector<std::string>& out, const std::vector<std::string>& keys,
                     const std::string& text) {
  out.clear();
  if (text.empty() || keys.empty()) return false;
  return vk::guarded([&] {
    const std::string lower = ascii_lower(text);
    out.resize(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
      std::string quoted(1, '"');
      quoted += ascii_lower(keys[k]);
      quoted += '"';
      // A key without a ':' after it leaves its value empty: no later
      // occurrence of the key has one either.
      const size_t key = lower.find(quoted);
      if (key == std::string::npos) continue;
      const size_t colon = lower.find(':', key + quoted.size());
      if (colon == std::string::npos) continue;
      const size_t start = colon + 1;
      size_t end;
      size_t comma_quote = text.find(",\"", start);
      if (comma_quote != std::string::npos) {
        end = comma_quote;
        if (end > start && text[end - 1] == '}') --end;
      } else {
        size_t comma = text.find(',', start);
        end = comma != std::string::npos ? comma : text.find('}', start);
        if (end == std::string::npos) end = text.size();
      }
      // A quoted value may hold the separators itself.
      size_t q = text.find('"', start);
      if (q != std::string::npos && q < end) {
        size_t close = text.find('"', q + 1);
        if (close != std::string::npos && close >= end) end = close + 1;
      }
      std::string value = text.substr(start, end - start);
      strip_quotes(value);
      out[k] = std::move(value);
    }
    return true;
  });
}

bool percent_decode(std::string& out, const std::string& text, char chosen,
                    const std::string& replacement) {
  out.clear();
  if (text.empty() || text.find('%') == std::string::npos) return false;
  return vk::guarded(
      [&] {
        std::string res;
        res.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
          if (text[i] != '%') {
            res += text[i];
            continue;
          }
          if (text.size() - i < 3) {
            res.append(text, i, std::string::npos);
            break;
          }
          int hi = hex_val(text[i + 1]), lo = hex_val(text[i + 2]);
          if (hi < 0 || lo < 0) {
            res += '%';
            continue;
          }
          int v = hi * 16 + lo;
          if (v >= 32 && v <= 127) {
            if (static_cast<char>(v) == chosen)
              res += replacement;
            else
              res += static_cast<char>(v);
          } else {
            res.append(text, i, 3);
          }
          i += 2;
        }
        out = std::move(res);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

// ---------------------------------------------------------------------------
// Splitting, joining and character edits

bool split_string(const std::string& text, char delimiter, std::vector<std::string>& out, bool trim,
                  bool keep_empty, bool append) {
  if (!append) out.clear();
  if (text.empty()) return false;
  vk::guarded([&] {
    size_t start = 0;
    while (true) {
      size_t pos = text.find(delimiter, start);
      std::string piece =
          text.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
      if (trim) trim_ws(piece);
      if (!piece.empty() || keep_empty) out.push_back(std::move(piece));
      if (pos == std::string::npos) break;
      start = pos + 1;
    }
  });
  return true;
}

void replace_char(std::string& text, char from, char to, bool both_cases) {
  if (from == to) return;
  if (!both_cases) {
    // The library scan skips the long stretches without the character.
    char* const end = text.data() + text.size();
    for (char* p = text.data();
         (p = static_cast<char*>(std::memchr(p, from, static_cast<size_t>(end - p)))) != nullptr;)
      *p++ = to;
    return;
  }
  char a = from, b = from;
  if (both_cases) {
    a = static_cast<char>(std::tolower(static_cast<unsigned char>(from)));
    b = static_cast<char>(std::toupper(static_cast<unsigned char>(from)));
  }
  for (char& c : text)
    if (c == a || c == b) c = to;
}

void replace_char(std::wstring& text, wchar_t from, wchar_t to, bool both_cases) {
  wchar_t a = from, b = from;
  if (both_cases && from >= 0 && from < 256) {
    a = static_cast<wchar_t>(std::tolower(static_cast<int>(from)));
    b = static_cast<wchar_t>(std::toupper(static_cast<int>(from)));
  }
  for (wchar_t& c : text)
    if (c == a || c == b) c = to;
}

bool has_line_end(std::string_view text) {
  // Two library scans outrun one byte loop on the long texts of a report.
  return !text.empty() && (std::memchr(text.data(), '\n', text.size()) != nullptr ||
                           std::memchr(text.data(), '\r', text.size()) != nullptr);
}

bool replace_char_find_line_ends(std::string& text, char from, char to) {
  return replace_char_find_line_ends(text.data(), text.size(), from, to);
}

bool replace_char_find_line_ends(char* text, size_t size, char from, char to) {
  if (size == 0) return false;
  if (from != 0 && from != to) {
    char* const end = text + size;
    for (auto* p = static_cast<char*>(std::memchr(text, from, size)); p != nullptr;
         p = static_cast<char*>(std::memchr(p + 1, from, static_cast<size_t>(end - p - 1))))
      *p = to;
  }
  return has_line_end(std::string_view(text, size));
}

std::string& show_line_ends(std::string& text) {
  if (!has_line_end(text)) return text;
  vk::guarded([&] {
    std::string res;
    res.reserve(text.size() + 50);
    size_t s = 0;
    if (text.find('\n') == std::string::npos) {
      size_t cr;
      while ((cr = text.find('\r', s)) != std::string::npos) {
        res.append(text, s, cr - s);
        res += "[CR]";
        s = cr + 1;
      }
    } else {
      size_t lf;
      while ((lf = text.find('\n', s)) != std::string::npos) {
        if (lf > s && text[lf - 1] == '\r') {
          res.append(text, s, lf - 1 - s);
          res += "[CRLF]";
          s = lf + 1;
        } else if (lf + 1 < text.size() && text[lf + 1] == '\r') {
          res.append(text, s, lf - s);
          res += "[LFCR]";
          s = lf + 2;
        } else {
          res.append(text, s, lf - s);
          res += "[LF]";
          s = lf + 1;
        }
      }
    }
    res.append(text, s, std::string::npos);
    text = std::move(res);
  });
  return text;
}

size_t find_control_char(std::string_view text, size_t from) {
  // Sixteen bytes at a time where the machine has SSE2 (every x86-64), else
  // eight: a group with no byte below 0x20, none equal to 0x7F and no 0xC2
  // (the usual text) is passed over whole; any other group is looked at byte
  // by byte, as a tab is no mark and most 0xC2 lead no C1 control.
  const byte_view v(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const size_t n = text.size();
  size_t i = from;
  const auto bytewise = [&](size_t to) {
    for (size_t j = i; j < to; ++j)
      if (control_char_at(text, j)) return j;
    return std::string_view::npos;
  };
#ifdef __SSE2__
  const __m128i below = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i c1_lead = _mm_set1_epi8(static_cast<char>(0xC2));
  // The lanes of a group of 16 bytes that are below 0x20, 0x7F or 0xC2.
  const auto marked = [&](__m128i group) {
    return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(group, below), group),
                        _mm_or_si128(_mm_cmpeq_epi8(group, del), _mm_cmpeq_epi8(group, c1_lead)));
  };
  // Long texts 64 bytes a step, one test for the four groups.
  for (__m128i g[4]; v.block(i, g); i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(marked(g[0]), marked(g[1])),
                                     _mm_or_si128(marked(g[2]), marked(g[3])));
    if (_mm_movemask_epi8(any) != 0)
      if (const size_t at = bytewise(i + 64); at != std::string_view::npos) return at;
  }
  __m128i group;
  for (; v.block(i, group); i += 16)
    if (_mm_movemask_epi8(marked(group)) != 0)
      if (const size_t at = bytewise(i + 16); at != std::string_view::npos) return at;
  // The last bytes of a text of 16 or more in one group that ends at its end.
  if (i < n && n >= 16 && v.block(n - 16, group))
    return _mm_movemask_epi8(marked(group)) != 0 ? bytewise(n) : std::string_view::npos;
#endif
  constexpr uint64_t ones = 0x0101010101010101ull;
  constexpr uint64_t highs = 0x8080808080808080ull;
  const auto word_marked = [&](uint64_t w) {
    const uint64_t d = w ^ (ones * 0x7F);
    const uint64_t c = w ^ (ones * 0xC2);
    return ((((w - ones * 0x20) & ~w) | ((d - ones) & ~d) | ((c - ones) & ~c)) & highs) != 0;
  };
  uint64_t word;
  for (; v.block(i, word); i += 8)
    if (word_marked(word))
      if (const size_t at = bytewise(i + 8); at != std::string_view::npos) return at;
  // Likewise the last bytes of a text of 8 or more.
  if (i < n && n >= 8 && v.block(n - 8, word))
    return word_marked(word) ? bytewise(n) : std::string_view::npos;
  return bytewise(n);
}

bool printable_ascii(std::string_view text) {
  const byte_view v(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const size_t n = text.size();
  size_t i = 0;
#ifdef __SSE2__
  // One more than a byte, as a signed number, is below 0x21 for a byte
  // below 0x20 or from 0x7F on. A text of 16 or more ends with the group
  // that ends at its end.
  const __m128i one = _mm_set1_epi8(1), limit = _mm_set1_epi8(0x21);
  __m128i any = _mm_setzero_si128(), group;
  for (; v.block(i, group); i += 16)
    any = _mm_or_si128(any, _mm_cmplt_epi8(_mm_add_epi8(group, one), limit));
  if (i < n && v.block(n - 16, group)) {
    any = _mm_or_si128(any, _mm_cmplt_epi8(_mm_add_epi8(group, one), limit));
    i = n;
  }
  if (_mm_movemask_epi8(any) != 0) return false;
#endif
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool has_control_char(std::string_view text) {
  return find_control_char(text) != std::string_view::npos;
}

std::string& mark_control_chars(std::string& text) {
  vk::guarded([&] {
    static const char hex[] = "0123456789abcdef";
    std::string res;
    res.reserve(text.size() + 16);
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
      // The run of plain bytes up to the next mark goes over whole.
      const size_t mark = std::min(find_control_char(text, i), n);
      res.append(text, i, mark - i);
      if ((i = mark) == n) break;
      auto c = static_cast<unsigned char>(text[i]);
      if (c == '\r' || c == '\n') {
        // A CR and LF side by side are one line end, the first met leading.
        const char other = c == '\r' ? '\n' : '\r';
        const bool pair = i + 1 < n && text[i + 1] == other;
        if (pair) ++i;
        res += c == '\r' ? (pair ? "[CRLF]" : "[CR]") : (pair ? "[LFCR]" : "[LF]");
      } else {
        // A C1 control's code point is its second byte.
        if (c == 0xC2) c = static_cast<unsigned char>(text[++i]);
        const char shown[6] = {'[', '0', 'x', hex[c >> 4], hex[c & 0xF], ']'};
        res.append(shown, sizeof(shown));
      }
    }
    text = std::move(res);
  });
  return text;
}

void append_utf8_or_escaped(std::string& out, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0, run = 0;  // run: the first byte not yet copied
  while (i < n) {
    i = ascii_run_end(p, i, n);
    if (i == n) break;
    const unsigned char b = p[i];
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF)
      len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    bool whole = len != 0 && i + len <= n;
    for (size_t k = 1; whole && k < len; ++k) {
      const unsigned char c = p[i + k];
      whole = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    }
    if (whole) {
      i += len;
      continue;
    }
    static const char digits[] = "0123456789ABCDEF";
    const char escaped[4] = {'\\', 'x', digits[b >> 4], digits[b & 0xF]};
    out.append(text.data() + run, i - run);
    out.append(escaped, 4);
    run = ++i;
  }
  out.append(text.data() + run, n - run);
}

std::string utf8_or_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  append_utf8_or_escaped(out, text);
  return out;
}

void append_shown_name(std::string& out, std::string_view name) {
  if (ascii_run_end(reinterpret_cast<const uint8_t*>(name.data()), 0, name.size()) == name.size() &&
      !has_control_char(name)) {
    out.append(name);
    return;
  }
  std::string shown;
  append_utf8_or_escaped(shown, name);
  out += mark_control_chars(shown);
}

std::string shown_name(std::string_view name) {
  std::string out;
  append_shown_name(out, name);
  return out;
}

int32_t trim_line_end(std::string& text) {
  size_t n = 0;
  while (n < text.size() &&
         (text[text.size() - 1 - n] == '\r' || text[text.size() - 1 - n] == '\n'))
    ++n;
  text.resize(text.size() - n);
  return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
}

std::wstring& join_wide_strings(std::wstring& out, const std::vector<std::wstring>& parts,
                                const std::wstring& separator, bool skip_empty) {
  out.clear();
  vk::guarded([&] {
    for (size_t i = 0; i < parts.size(); ++i) {
      if (skip_empty && parts[i].empty()) continue;
      out += parts[i];
      if (i + 1 < parts.size() && !separator.empty()) out += separator;
    }
    if (skip_empty && !out.empty() && !separator.empty() && out.back() == separator.front())
      out.pop_back();
  });
  return out;
}

bool strip_trailing_slashes_wide(std::wstring& path) {
  while (!path.empty() && (path.back() == L'/' || path.back() == L'\\')) path.pop_back();
  return !path.empty();
}

char split_at_any_delim(std::vector<std::string>& out, const std::string& text, bool trim,
                        bool keep_empty, const std::string& delimiters) {
  out.clear();
  if (text.empty()) return 0;
  return vk::guarded([&]() -> char {
    for (char d : delimiters) {
      if (text.find(d) == std::string::npos) continue;
      if (d == '\0') break;
      split_string(text, d, out, trim, keep_empty, false);
      return d;
    }
    out.push_back(text);
    return 0;
  });
}

bool split_quoted(const std::string& text, char delimiter, std::vector<std::string>& out, bool trim,
                  bool keep_empty) {
  std::vector<std::string> pieces;
  bool ok = split_string(text, delimiter, pieces, false, keep_empty, false);
  out.clear();
  if (!ok) return false;
  return vk::guarded(
      [&] {
        if (text.find('"') == std::string::npos) {
          out = std::move(pieces);
          return true;
        }
        auto add = [&](std::string s) {
          if (trim) trim_ws(s);
          if (!s.empty() || keep_empty) out.push_back(std::move(s));
        };
        bool open = false;
        std::string group;
        for (auto& p : pieces) {
          const auto quotes = std::count(p.begin(), p.end(), '"');
          if (open) {
            group += delimiter;
            group += p;
            if (quotes > 0) {
              open = false;
              add(std::move(group));
              group.clear();
            }
          } else if (quotes == 1) {
            open = true;
            group = p;
          } else if (quotes > 1) {
            add(std::move(p));
          } else {
            out.push_back(std::move(p));
          }
        }
        return true;
      },
      [&] { return true; });
}

uint32_t split_words(const char* text, uint32_t max_words, std::vector<std::string>& out,
                     bool join_quoted) {
  if (!text) return 0;
  return vk::guarded([&] {
    std::istringstream is(text);
    std::vector<std::string> words;
    std::string w;
    while ((max_words == 0 || words.size() < max_words) && (is >> w)) words.push_back(w);
    if (!join_quoted || words.size() < 2) {
      out.insert(out.end(), words.begin(), words.end());
      return static_cast<uint32_t>(words.size());
    }
    bool open = false;
    std::string run;
    for (const auto& word : words) {
      if (!open) {
        if (!word.empty() && word.front() == '"') {
          if (word.size() >= 2 && word.back() == '"') {
            out.push_back(word.substr(1, word.size() - 2));
          } else {
            open = true;
            run = word.substr(1);
          }
        } else {
          out.push_back(word);
        }
      } else {
        run += ' ';
        if (word.back() == '"') {
          run += word.substr(0, word.size() - 1);
          out.push_back(run);
          open = false;
        } else {
          run += word;
        }
      }
    }
    return static_cast<uint32_t>(words.size());
  });
}

bool split_quoted_words(const std::string& text, std::vector<std::string>& out) {
  if (text.empty()) return false;
  return split_words(text.c_str(), 0, out, true) > 0;
}

bool first_word(const std::string& text, std::string& out) {
  out.clear();
  if (text.empty()) return false;
  vk::guarded([&] {
    std::istringstream is(text);
    std::string w;
    if (is >> w) out = w;
  });
  return true;
}

bool split_lines(const uint8_t* buffer, uint32_t length, std::vector<std::string>& out) {
  out.clear();
  if (!buffer || length == 0) return false;
  return vk::guarded(
      [&] {
        uint32_t style = newline_style(buffer, std::min<uint32_t>(length, 1024));
        std::string text(reinterpret_cast<const char*>(buffer), length);
        char cut;
        switch (style) {
          case nl_crlf:
          case nl_lf:
            cut = '\n';
            break;
          case nl_cr:
            cut = '\r';
            break;
          case nl_lfcr:
            std::replace(text.begin(), text.end(), '\n', ' ');
            cut = '\r';
            break;
          default:
            return false;
        }
        size_t delimiters = 0;
        split_char_buffer(text.data(), text.size(), cut, out, delimiters, true);
        return !out.empty();
      },
      [&] { return !out.empty(); });
}

bool split_buffer_lines(std::vector<std::string>& out, const uint8_t* buffer, uint32_t length,
                        bool trim, bool skip_empty) {
  out.clear();
  if (!buffer || length < 2) return false;
  vk::guarded([&] {
    bool narrow = buffer[0] != 0 && buffer[1] != 0;
    if (narrow && length >= 4) narrow = buffer[2] != 0 && buffer[3] != 0;
    if (narrow) {
      size_t start = 0;
      for (size_t i = 0; i < length; ++i) {
        const bool nul = buffer[i] == 0;
        if (buffer[i] != '\n' && !nul) continue;
        size_t end = i;
        if (!nul && end > start + 1 && buffer[end - 1] == '\r') --end;
        std::string line(reinterpret_cast<const char*>(buffer + start), end - start);
        if (trim) trim_ws(line);
        if (!line.empty() || !skip_empty) out.push_back(std::move(line));
        if (nul) break;
        start = i + 1;
      }
    } else {
      const size_t units = length / 2;
      size_t start = 0;
      for (size_t i = 0; i < units; ++i) {
        if (buffer[2 * i] != '\n' || buffer[2 * i + 1] != 0) continue;
        size_t end = i;
        if (end > start + 1 && buffer[2 * (end - 1)] == '\r' && buffer[2 * (end - 1) + 1] == 0)
          --end;
        std::wstring wline;
        for (size_t k = start; k < end; ++k)
          wline += static_cast<wchar_t>(buffer[2 * k] | (buffer[2 * k + 1] << 8));
        if (trim) wtrim_ws(wline);
        std::string line = to_utf8(wline);
        if (!line.empty() || !skip_empty) out.push_back(std::move(line));
        start = i + 1;
      }
    }
  });
  return !out.empty();
}

bool split_wstring_simple(const std::wstring& text, wchar_t delimiter,
                          std::vector<std::wstring>& out) {
  out.clear();
  if (text.empty()) return false;
  vk::guarded([&] {
    size_t start = 0;
    while (start <= text.size()) {
      size_t pos = text.find(delimiter, start);
      if (pos == std::wstring::npos) pos = text.size();
      if (pos > start) out.push_back(text.substr(start, pos - start));
      start = pos + 1;
    }
  });
  return true;
}

bool split_multi_string(const std::vector<wchar_t>& chars, std::vector<std::wstring>& out) {
  std::wstring text;
  if (!vk::guarded(
          [&] {
            text.assign(chars.begin(), chars.end());
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return split_wstring_simple(text, L'\0', out);
}

bool split_multi_string_bytes(const std::vector<uint8_t>& bytes, std::vector<std::wstring>& out) {
  if (bytes.empty()) {
    out.clear();
    return false;
  }
  std::wstring text;
  if (!vk::guarded(
          [&] {
            for (size_t i = 0; i + 1 < bytes.size(); i += 2)
              text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return split_wstring_simple(text, L'\0', out);
}

void replace_char_buf(uint8_t* buffer, int32_t length, char from, char to, bool ignore_case) {
  if (!buffer) return;
  for (int32_t i = 0; i < length; ++i) {
    bool eq = ignore_case
                  ? std::tolower(buffer[i]) == std::tolower(static_cast<unsigned char>(from))
                  : buffer[i] == static_cast<uint8_t>(from);
    if (eq) buffer[i] = static_cast<uint8_t>(to);
  }
}

void replace_wchar_buf(wchar_t* buffer, int32_t length, wchar_t from, wchar_t to,
                       bool ignore_case) {
  if (!buffer) return;
  for (int32_t i = 0; i < length; ++i) {
    bool eq = ignore_case ? std::towlower(static_cast<wint_t>(buffer[i])) ==
                                std::towlower(static_cast<wint_t>(from))
                          : buffer[i] == from;
    if (eq) buffer[i] = to;
  }
}

bool replace_first_icase(std::string& text, const char* find, const char* replacement) {
  if (!find || !*find) return false;
  return vk::guarded([&] {
    std::string search = find;
    return replace_first(text, search, replacement ? replacement : "", true);
  });
}

bool erase_from_char(std::string& text, char c, bool ignore_case) {
  return vk::guarded([&] { return erase_from_substring(text, std::string(1, c), ignore_case); });
}

bool erase_first_wbuf(wchar_t* buffer, const wchar_t* find, bool ignore_case) {
  if (!buffer || !find || !*find) return false;
  return vk::guarded([&] {
    const size_t room = std::wcslen(buffer);
    std::string text = to_utf8(buffer);
    std::string needle = to_utf8(find);
    if (!erase_first(text, needle, ignore_case)) return false;
    // Written back one byte per character. Non-ASCII text takes more UTF-8
    // bytes than it had characters, so the write stops at the buffer's end.
    const size_t n = std::min(text.size(), room);
    for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<wchar_t>(static_cast<uint8_t>(text[i]));
    buffer[n] = L'\0';
    return true;
  });
}

bool join_argv(std::string& out, int32_t argc, char** argv) {
  if (argc <= 0 || !argv) return false;
  return vk::guarded([&] {
    std::vector<std::string> args;
    for (int32_t i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return join_command_line(out, args, '"');
  });
}

void write_quoted_pairs(std::ostream& os, const std::vector<std::string>& keys,
                        const std::vector<std::string>& values, char separator) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i) os << separator << ' ';
    os << '"' << keys[i] << "\":\"";
    if (i < values.size()) os << values[i];
    os << '"';
  }
}

const wchar_t* find_wide_icase(const wchar_t* text, const wchar_t* find) {
  if (!text || !find) return nullptr;
  return vk::guarded([&] {
    std::wstring t(text), f(find);
    for (auto& c : t) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    for (auto& c : f) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    size_t p = t.find(f);
    return p == std::wstring::npos ? nullptr : text + p;
  });
}

int32_t compare_wide(const wchar_t* a, const wchar_t* b, bool ignore_case) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  if (!ignore_case) return std::wcscmp(a, b);
  for (;; ++a, ++b) {
    wint_t ca = std::towlower(static_cast<wint_t>(*a));
    wint_t cb = std::towlower(static_cast<wint_t>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool wchar_iequal(wchar_t a, wchar_t b) {
  return std::towupper(static_cast<wint_t>(a)) == std::towupper(static_cast<wint_t>(b));
}
bool char_iequal(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}
bool char_iless(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) < std::toupper(static_cast<unsigned char>(b));
}

}  // namespace vk
