#include "cmdline/text_encoders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// count hexadecimal digits at text[pos] into value; false on any other.
bool hex_group(const std::string& text, size_t pos, size_t count, uint64_t& value) {
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const int d = hex_value(text[pos + i]);
    if (d < 0) return false;
    value = (value << 4) | static_cast<unsigned>(d);
  }
  return true;
}

void random_from(std::string& out, size_t n, uint8_t low, uint8_t high, bool (*accept)(char)) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(n);
        while (out.size() < n) {
          const char c = static_cast<char>(random_in_range(low, high));
          if (accept(c)) out.push_back(c);
        }
      },
      [&] { out.clear(); });
}

}  // namespace

bool base64_encode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out, bool wrap,
                   bool zero_terminate, bool crlf) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.clear();
  if (!bytes || length == 0) return false;
  return vk::guarded(
      [&] {
        const size_t chars = (length + 2) / 3 * 4;
        out.reserve(chars + (wrap ? chars / 76 * 2 : 0) + 3);
        size_t line = 0;
        auto put = [&](char c) {
          out.push_back(static_cast<uint8_t>(c));
          if (wrap && ++line == 76) {
            line = 0;
            if (crlf) {
              out.push_back('\r');
              out.push_back('\n');
            }
          }
        };
        size_t i = 0;
        for (; i + 3 <= length; i += 3) {
          const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
          put(alphabet[v >> 18]);
          put(alphabet[(v >> 12) & 63]);
          put(alphabet[(v >> 6) & 63]);
          put(alphabet[v & 63]);
        }
        if (length - i == 1) {
          const uint32_t v = bytes[i] << 16;
          put(alphabet[v >> 18]);
          put(alphabet[(v >> 12) & 63]);
          put('=');
          put('=');
        } else if (length - i == 2) {
          const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
          put(alphabet[v >> 18]);
          put(alphabet[(v >> 12) & 63]);
          put(alphabet[(v >> 6) & 63]);
          put('=');
        }
        if (crlf) {
          out.push_back('\r');
          out.push_back('\n');
        }
        if (zero_terminate) out.push_back(0);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

void quoted_printable_encode(std::string& out, const std::string& text) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(text.size() + text.size() / 25 + 8);
        size_t line = 0;
        for (char c : text) {
          const size_t unit = c == '=' ? 3 : 1;
          if (c != '\r' && c != '\n' && line + unit > 75) {
            out += "=\r\n";
            line = 0;
          }
          if (c == '=') {
            out += "=3D";
          } else {
            out.push_back(c);
          }
          line = (c == '\r' || c == '\n') ? 0 : line + unit;
        }
      },
      [&] { out.clear(); });
}

void quoted_printable_decode(std::string& out, const std::string& text) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
          if (text[i] == '=' && i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
          } else if (text[i] == '=' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
                     hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
          } else {
            out.push_back(text[i]);
          }
        }
      },
      [&] { out.clear(); });
}

bool normalize_windows_path(const char* path, std::string& out, const std::string& system_root) {
  out.clear();
  if (!path) return false;
  return vk::guarded(
      [&] {
        std::string s = path;
        erase_from_substring(s, " /", false);
        erase_from_substring(s, " -k", true);
        if (!replace_first(s, std::string("%systemroot%"), system_root, true) &&
            !replace_first(s, std::string("\\systemroot"), system_root, true)) {
          replace_first(s, std::string("systemroot"), system_root, true);
        }
        replace_first(s, std::string("%vss%"), vss_device_path(true, false), true);
        erase_first(s, std::string("\\??\\"), false);
        erase_first(s, std::string("\\\\?\\"), false);
        str_to_lower(s);
        if (s.rfind("system32", 0) == 0) s = system_root + "\\" + s;
        out = s;
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

void duration_text(std::string& out, uint32_t seconds) {
  out.clear();
  if (seconds == 0 || seconds == 0xFFFFFFFFu) return;
  const uint32_t parts[4] = {seconds / 86400, (seconds / 3600) % 24, (seconds / 60) % 60,
                             seconds % 60};
  static const char* const names[4] = {" day", " hour", " min", " sec"};
  vk::guarded(
      [&] {
        for (int i = 0; i < 4; ++i) {
          if (parts[i] == 0) continue;
          out += std::to_string(parts[i]);
          out += names[i];
          if (parts[i] > 1) out += 's';
          out += ' ';
        }
        if (!out.empty()) out.pop_back();
      },
      [&] { out.clear(); });
}

void windows_release_name(std::string& out, uint16_t build) {
  const char* name = "post Win10";
  if (build == 2600) {
    name = "WinXP";
  } else if (build > 2600 && build <= 3790) {
    name = "Win03";
  } else if (build > 3790 && build <= 6002) {
    name = "Vista";
  } else if (build > 6002 && build <= 7601) {
    name = "Win7";
  } else if (build > 7601 && build <= 9600) {
    name = "Win8";
  } else if (build > 9600 && build <= 19045) {
    name = "Win10";
  }
  vk::guarded([&] { out = name; }, [&] { out.clear(); });
}

void utf8_from_utf16_unit(std::string& out, uint16_t unit) {
  out.clear();
  vk::guarded(
      [&] {
        if (unit < 0x80) {
          out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
          out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
          out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
      },
      [&] { out.clear(); });
}

void utf8_from_latin1(std::string& out, uint8_t c) {
  out.clear();
  vk::guarded(
      [&] {
        if (c < 0x80) {
          out.push_back(static_cast<char>(c));
        } else {
          out.push_back(static_cast<char>(0xC0 | (c >> 6)));
          out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
      },
      [&] { out.clear(); });
}

bool parse_guid_text(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() < 36) return false;
  uint64_t data1 = 0, data2 = 0, data3 = 0, clock = 0, node = 0;
  if (!hex_group(text, 0, 8, data1) || !hex_group(text, 9, 4, data2) ||
      !hex_group(text, 14, 4, data3) || !hex_group(text, 19, 4, clock) ||
      !hex_group(text, 24, 12, node)) {
    return false;
  }
  if (!vk::guarded(
          [&] {
            out.resize(16);
            return true;
          },
          [&] { out.clear(); }))
    return false;
  store_le32(out.data(), static_cast<uint32_t>(data1));
  store_le16(out.data() + 4, static_cast<uint16_t>(data2));
  store_le16(out.data() + 6, static_cast<uint16_t>(data3));
  out[8] = static_cast<uint8_t>(clock >> 8);
  out[9] = static_cast<uint8_t>(clock);
  for (int i = 0; i < 6; ++i) out[10 + i] = static_cast<uint8_t>(node >> (40 - 8 * i));
  return true;
}

void parse_guid_hex32(guid& out, const std::string& text) {
  if (text.size() != 32) return;
  uint64_t data1 = 0, data2 = 0, data3 = 0, rest_high = 0, rest_low = 0;
  if (!hex_group(text, 0, 8, data1) || !hex_group(text, 8, 4, data2) ||
      !hex_group(text, 12, 4, data3) || !hex_group(text, 16, 8, rest_high) ||
      !hex_group(text, 24, 8, rest_low)) {
    return;
  }
  store_le32(out.m_bytes, static_cast<uint32_t>(data1));
  store_le16(out.m_bytes + 4, static_cast<uint16_t>(data2));
  store_le16(out.m_bytes + 6, static_cast<uint16_t>(data3));
  for (int i = 0; i < 4; ++i) {
    out.m_bytes[8 + i] = static_cast<uint8_t>(rest_high >> (24 - 8 * i));
    out.m_bytes[12 + i] = static_cast<uint8_t>(rest_low >> (24 - 8 * i));
  }
}

bool hex_pairs_to_bytes(const std::string& text, std::vector<uint8_t>& out) {
  return parse_hex_pairs(text, out);
}

void hex_text_to_bytes(std::vector<uint8_t>& out, const std::string& text) {
  out.clear();
  vk::guarded(
      [&] {
        out.reserve(text.size() / 2 + 1);
        for (size_t i = 0; i < text.size(); i += 2) {
          const std::string pair = text.substr(i, 2);
          out.push_back(static_cast<uint8_t>(strtoul32(pair.c_str(), 16)));
        }
      },
      [&] { out.clear(); });
}

bool wide_hex_to_bytes(const std::wstring& text, uint8_t* out, int32_t count) {
  return vk::guarded([&] {
    std::string narrow;
    if (!wide_to_utf8(text, narrow)) return false;
    return parse_hex_bytes_fixed(narrow.c_str(), out, count);
  });
}

bool ipv4_to_wide(uint32_t address, std::wstring& out) {
  out.clear();
  std::string narrow;
  if (!ipv4_to_string(address, narrow)) return false;
  return utf8_to_wide(narrow, out);
}

void lower_copy(std::string& out, const char* text) {
  out.clear();
  if (!text) return;
  vk::guarded(
      [&] {
        out = text;
        str_to_lower(out);
      },
      [&] { out.clear(); });
}

void random_printable_string(std::string& out, size_t n) {
  random_from(out, n, 33, 126, [](char) { return true; });
}

void random_hex_string(std::string& out, size_t n) {
  random_from(out, n, '0', 'f',
              [](char c) { return hex_value(c) >= 0 && !(c >= 'A' && c <= 'F'); });
}

void random_alnum_string(std::string& out, size_t n) {
  random_from(out, n, '0', 'z', [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

void random_upper_string(std::string& out, size_t n) {
  random_from(out, n, 'A', 'Z', [](char) { return true; });
}

void random_digit_string(std::string& out, size_t n) {
  random_from(out, n, '0', '9', [](char) { return true; });
  if (!out.empty()) out[0] = static_cast<char>(random_in_range('1', '9'));
}

void split_nul_strings(const uint8_t* bytes, std::vector<std::string>& out, int64_t length) {
  out.clear();
  if (!bytes) return;
  vk::guarded(
      [&] {
        if (length < 0)
          length = static_cast<int64_t>(std::strlen(reinterpret_cast<const char*>(bytes)));
        const auto n = static_cast<size_t>(length);
        size_t start = 0;
        for (size_t i = 0; i < n; ++i) {
          if (bytes[i] != 0) continue;
          out.emplace_back(reinterpret_cast<const char*>(bytes) + start, i - start);
          start = i + 1;
        }
        if (start < n) out.emplace_back(reinterpret_cast<const char*>(bytes) + start, n - start);
      },
      [&] { out.clear(); });
}

void split_nul_wstrings(const uint8_t* units, std::vector<std::wstring>& out, int64_t length,
                        bool stop) {
  out.clear();
  if (!units) return;
  vk::guarded(
      [&] {
        size_t count = 0;
        if (length < 0) {
          while (load_le16(units + 2 * count) != 0) ++count;
        } else {
          count = static_cast<size_t>(length) / 2;
        }
        std::wstring current;
        bool last_was_nul = false;
        for (size_t i = 0; i < count; ++i) {
          const uint16_t u = load_le16(units + 2 * i);
          if (u != 0) {
            current.push_back(static_cast<wchar_t>(u));
            last_was_nul = false;
            continue;
          }
          if (last_was_nul && stop) break;
          if (!current.empty()) out.push_back(current);
          current.clear();
          last_was_nul = true;
        }
        if (!current.empty()) out.push_back(current);
      },
      [&] { out.clear(); });
}

size_t split_at_u16(const uint8_t* bytes, size_t length, uint16_t delimiter,
                    std::vector<std::string>& out, bool trim) {
  out.clear();
  if (!bytes || length == 0) return 0;
  return vk::guarded(
      [&] {
        size_t start = 0;
        size_t i = 0;
        auto flush = [&](size_t end) {
          std::string piece(reinterpret_cast<const char*>(bytes) + start, end - start);
          if (trim) trim_ws(piece);
          if (!piece.empty()) out.push_back(std::move(piece));
        };
        while (i < length) {
          if (i + 1 < length && load_le16(bytes + i) == delimiter) {
            flush(i);
            i += 2;
            start = i;
          } else {
            ++i;
          }
        }
        flush(length);
        return i;
      },
      [&] {
        out.clear();
        return 0;
      });
}

bool text_outside_tags(const uint8_t* bytes, size_t length, std::vector<std::string>& out) {
  out.clear();
  if (!bytes) return false;
  vk::guarded(
      [&] {
        std::string gathered;
        bool in_tag = false;
        for (size_t i = 0; i < length; ++i) {
          const char c = static_cast<char>(bytes[i]);
          if (c == '<') {
            in_tag = true;
          } else if (c == '>') {
            in_tag = false;
            trim_ws(gathered);
            if (!gathered.empty()) out.push_back(gathered);
            gathered.clear();
          } else if (!in_tag) {
            gathered.push_back(c);
          }
        }
      },
      [&] { out.clear(); });
  return !out.empty();
}

bool join_quoted(std::string& out, size_t& count, const std::vector<std::string>& list) {
  return join_args_quoted(out, count, list, false);
}

bool join_quoted_w(std::wstring& out, size_t& count, const std::vector<std::wstring>& list) {
  out.clear();
  count = list.size();
  if (list.empty()) return false;
  return vk::guarded(
      [&] {
        std::vector<std::string> narrow;
        wide_to_utf8_list(list, narrow);
        std::string joined;
        if (!join_quoted(joined, count, narrow)) return false;
        return utf8_to_wide(joined, out);
      },
      [&] {
        out.clear();
        return false;
      });
}

bool text_in_parentheses(const std::string& text, std::string& out) {
  out.clear();
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close <= open) return false;
  vk::guarded([&] { out = text.substr(open + 1, close - open - 1); }, [&] { out.clear(); });
  return !out.empty();
}

void insert_before_char(std::string& text, char c, char escape) {
  const size_t first = text.find(c);
  if (first == std::string::npos) return;
  vk::guarded([&] {
    std::string result = text.substr(0, first);
    for (size_t i = first; i < text.size(); ++i) {
      if (text[i] == c) result.push_back(escape);
      result.push_back(text[i]);
    }
    text.swap(result);
  });
}

void insert_before_other_chars(std::wstring& text, wchar_t c, wchar_t escape) {
  const size_t first = text.find(c);
  if (first == std::wstring::npos) return;
  vk::guarded([&] {
    std::wstring result = text.substr(0, first);
    for (size_t i = first; i < text.size(); ++i) {
      if (text[i] != c) result.push_back(escape);
      result.push_back(text[i]);
    }
    text.swap(result);
  });
}

void wide_from_utf16_lower(std::wstring& out, const uint16_t* units, size_t count) {
  out.clear();
  if (!units) return;
  vk::guarded(
      [&] {
        for (size_t i = 0; i < count && i < 768 && units[i] != 0; ++i) {
          out.push_back(static_cast<wchar_t>(units[i]));
        }
        wstr_to_lower(out);
      },
      [&] { out.clear(); });
}

size_t erase_wchar(std::wstring& text, wchar_t c) {
  const size_t before = text.size();
  text.erase(std::remove(text.begin(), text.end(), c), text.end());
  return before - text.size();
}

std::wstring& show_line_ends_w(std::wstring& text) {
  vk::guarded([&] {
    std::string narrow;
    if (!wide_to_utf8(text, narrow)) return;
    show_line_ends(narrow);
    std::wstring wide;
    if (utf8_to_wide(narrow, wide)) text.swap(wide);
  });
  return text;
}

}  // namespace vk
