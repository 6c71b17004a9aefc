#include "foundation/vk_string.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"

namespace vk {

namespace {

// ASCII-only mapping: the classic locale changes nothing else, and a table-free
// byte test is what keeps lower-casing cheap on every comparison key.
inline char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline char ascii_upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
inline wchar_t wide_lower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}
inline wchar_t wide_upper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
}

constexpr const char* k_blanks = " \t\r\n";

// The shared trim: leading characters of lead_set and trailing ones of
// trail_set removed; false for an empty text or one made only of lead_set.
bool trim_sets(std::string& text, const char* lead_set, const char* trail_set) {
  if (text.empty()) return false;
  const size_t first = text.find_first_not_of(lead_set);
  if (first == std::string::npos) {
    text.clear();
    return false;
  }
  if (first > 0) text.erase(0, first);
  const size_t last = text.find_last_not_of(trail_set);
  if (last != std::string::npos && last + 1 < text.size()) text.erase(last + 1);
  return true;
}

// Removes c from both ends; false (text emptied) when nothing else is left.
bool wtrim_both(std::wstring& text, wchar_t c) {
  const size_t first = text.find_first_not_of(c);
  if (first == std::wstring::npos) {
    text.clear();
    return false;
  }
  const size_t last = text.find_last_not_of(c);
  text.erase(last + 1);
  text.erase(0, first);
  return true;
}

void wtrim_tail(std::wstring& text, wchar_t c) {
  const size_t last = text.find_last_not_of(c);
  text.erase(last == std::wstring::npos ? 0 : last + 1);
}

void lower_in_place(std::string& s) {
  str_to_lower(s);
}
void lower_in_place(std::wstring& s) {
  wstr_to_lower(s);
}

template <class S>
bool replace_first_impl(S& text, S& search, const S& replacement, bool ignore_case) {
  size_t pos;
  if (ignore_case) {
    lower_in_place(search);
    S lowered(text);
    lower_in_place(lowered);
    pos = lowered.find(search);
  } else {
    pos = text.find(search);
  }
  if (pos == S::npos) return false;
  text.replace(pos, search.size(), replacement);
  return true;
}

// out = text with every occurrence of search replaced; false when memory
// runs out (out emptied).
bool build_replaced(std::string& out, const std::string& text, const std::string& search,
                    const std::string& replacement) {
  out.clear();
  return vk::guarded(
      [&] {
        out.reserve(text.size() + 256);
        size_t pos = 0;
        for (;;) {
          const size_t hit = text.find(search, pos);
          if (hit == std::string::npos) break;
          out.append(text, pos, hit - pos);
          if (!replacement.empty()) out.append(replacement);
          pos = hit + search.size();
        }
        if (pos < text.size()) out.append(text, pos, std::string::npos);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

template <class S>
bool seek_back(S& stream, size_t n, bool rewrite) {
  return vk::guarded([&] {
    if (!stream) return false;
    const std::streampos pos = stream.tellp();
    if (pos == std::streampos(-1)) return false;
    const auto cur = static_cast<std::streamoff>(pos);
    const std::streamoff target =
        static_cast<uint64_t>(cur) >= n ? cur - static_cast<std::streamoff>(n) : 0;
    stream.seekp(target);
    if (!stream) return false;
    if constexpr (requires { stream.str(); }) {
      if (rewrite) {
        // Cut the contents at the new position and keep writing from there.
        auto kept = stream.str().substr(0, static_cast<size_t>(target));
        stream.str({});
        stream.write(kept.data(), static_cast<std::streamsize>(kept.size()));
      }
    }
    return static_cast<bool>(stream);
  });
}

// Appends the non-empty pieces between delimiters of p[0..count) to list,
// each through trimmer first when trim is set; returns the count read.
template <class S>
size_t split_pieces(const typename S::value_type* p, size_t count, typename S::value_type delimiter,
                    std::vector<S>& list, size_t& delimiter_count, bool trim, bool (*trimmer)(S&)) {
  delimiter_count = 0;
  if (p == nullptr || count == 0) return 0;
  vk::guarded([&] {
    size_t start = 0;
    for (size_t i = 0; i <= count; ++i) {
      if (i < count && p[i] != delimiter) continue;
      if (i < count) ++delimiter_count;
      if (i > start) {
        S piece(p + start, i - start);
        if (!trim || trimmer(piece)) {
          if (!piece.empty()) list.push_back(std::move(piece));
        }
      }
      start = i + 1;
    }
  });
  return count;
}

template <class S>
bool iequals_impl(S& a, S& b) {
  if (a.size() != b.size()) return false;
  lower_in_place(a);
  lower_in_place(b);
  return a == b;
}

template <class S>
bool iequals_n_impl(S& a, S& b, size_t n) {
  lower_in_place(a);
  lower_in_place(b);
  if (n > a.size() || n > b.size()) return false;
  return a.compare(0, n, b, 0, n) == 0;
}

template <class S>
bool drop_last_impl(S& text, size_t n) {
  if (text.empty() || n == 0) return false;
  text.erase(n >= text.size() ? 0 : text.size() - n);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Case mapping
// ---------------------------------------------------------------------------

std::string& str_to_lower(std::string& text) {
  for (char& c : text) c = ascii_lower(c);
  return text;
}

void str_to_upper(std::string& text) {
  for (char& c : text) c = ascii_upper(c);
}

void buf_to_lower(void* bytes, size_t length) {
  if (bytes == nullptr || length == 0) return;
  char* p = static_cast<char*>(bytes);
  for (size_t i = 0; i < length; ++i) p[i] = ascii_lower(p[i]);
}

void str_list_to_lower(std::vector<std::string>& list) {
  for (auto& s : list) str_to_lower(s);
}

std::wstring& wstr_to_lower(std::wstring& text) {
  for (wchar_t& c : text) c = wide_lower(c);
  return text;
}

void wstr_to_upper(std::wstring& text) {
  for (wchar_t& c : text) c = wide_upper(c);
}

// ---------------------------------------------------------------------------
// Case-insensitive comparison
// ---------------------------------------------------------------------------

bool iequals(std::string& a, std::string& b) {
  return iequals_impl(a, b);
}

bool wiequals(std::wstring& a, std::wstring& b) {
  return iequals_impl(a, b);
}

bool iequals_n(std::string& a, std::string& b, size_t n) {
  return iequals_n_impl(a, b, n);
}

bool wstr_iequals_n(std::wstring& a, std::wstring& b, size_t n) {
  return iequals_n_impl(a, b, n);
}

bool iequals_n_buf(const void* a, const void* b, size_t n) {
  if (n == 0) return true;
  if (a == nullptr || b == nullptr) return false;
  const char* pa = static_cast<const char*>(a);
  const char* pb = static_cast<const char*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (ascii_lower(pa[i]) != ascii_lower(pb[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Trims and tail edits
// ---------------------------------------------------------------------------

bool trim_ws(std::string& text) {
  return trim_sets(text, k_blanks, k_blanks);
}

void trim_crlf(std::string& text) {
  trim_sets(text, "\r\n", "\r\n");
}

bool trim_ws_keep_spaces(std::string& text, bool keep_trailing_blanks) {
  return trim_sets(text, k_blanks, keep_trailing_blanks ? "\t\r\n" : k_blanks);
}

bool strip_quotes(std::string& text) {
  if (text.empty()) return false;
  trim_ws(text);
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) text.erase(0, 1);
  if (!text.empty() && (text.back() == '"' || text.back() == '\'')) text.pop_back();
  return true;
}

bool strip_trailing_nuls(std::string& text) {
  const size_t last = text.find_last_not_of('\0');
  if (last != std::string::npos) text.erase(last + 1);
  return true;
}

bool wtrim_ws(std::wstring& text) {
  if (!wtrim_both(text, L' ')) return false;
  if (!wtrim_both(text, L'\t')) return false;
  wtrim_tail(text, L'\r');
  wtrim_tail(text, L'\n');
  return true;
}

bool drop_last_chars(std::string& text, size_t n) {
  return drop_last_impl(text, n);
}

bool wdrop_last_chars(std::wstring& text, size_t n) {
  return drop_last_impl(text, n);
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

size_t ascii_run_end(const uint8_t* p, size_t i, size_t n) {
  constexpr uint64_t k_high = 0x8080808080808080ull;
  const byte_view v(p, n);
  for (uint64_t w; v.block(i, w); i += 8) {
    if ((w & k_high) == 0) continue;
    if constexpr (std::endian::native == std::endian::little)
      return i + static_cast<size_t>(std::countr_zero(w & k_high)) / 8;
    break;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// ---------------------------------------------------------------------------
// Replace and erase
// ---------------------------------------------------------------------------

bool replace_first(std::string& text, std::string& search, const std::string& replacement,
                   bool ignore_case) {
  return vk::guarded([&] { return replace_first_impl(text, search, replacement, ignore_case); });
}

bool replace_first(std::string& text, const std::string& search, const std::string& replacement,
                   bool ignore_case) {
  return vk::guarded([&] {
    std::string copy(search);
    return replace_first_impl(text, copy, replacement, ignore_case);
  });
}

bool replace_first_w(std::wstring& text, std::wstring& search, const std::wstring& replacement,
                     bool ignore_case) {
  return vk::guarded([&] { return replace_first_impl(text, search, replacement, ignore_case); });
}

bool replace_first_w(std::wstring& text, const std::wstring& search,
                     const std::wstring& replacement, bool ignore_case) {
  return vk::guarded([&] {
    std::wstring copy(search);
    return replace_first_impl(text, copy, replacement, ignore_case);
  });
}

void replace_all(std::string& text, const std::string& search, const std::string& replacement) {
  if (text.empty() || search.empty()) return;
  std::string out;
  if (build_replaced(out, text, search, replacement)) text.swap(out);
}

void replace_all_copy(std::string& out, const std::string& text, const std::string& search,
                      const std::string& replacement) {
  out.clear();
  if (text.empty() || search.empty()) return;
  build_replaced(out, text, search, replacement);
}

bool erase_first(std::string& text, std::string& search, bool ignore_case) {
  return replace_first(text, search, std::string(), ignore_case);
}

bool erase_first(std::string& text, const std::string& search, bool ignore_case) {
  return replace_first(text, search, std::string(), ignore_case);
}

bool erase_from_substring(std::string& text, const std::string& search, bool ignore_case) {
  size_t pos;
  if (ignore_case) {
    if (!vk::guarded([&] {
          std::string lowered(text);
          pos = str_to_lower(lowered).find(search);
          return true;
        }))
      return false;
  } else {
    pos = text.find(search);
  }
  if (pos == std::string::npos) return false;
  text.erase(pos);
  return true;
}

size_t erase_char(std::string& text, char c) {
  return std::erase(text, c);
}

bool remove_all_occurrences(uint8_t** buffer, size_t* length, const char* search,
                            bool ignore_case) {
  if (buffer == nullptr || *buffer == nullptr || length == nullptr || *length == 0 ||
      search == nullptr) {
    return false;
  }
  // An empty search text would match everywhere without consuming anything.
  const size_t n = std::strlen(search);
  if (n == 0) return false;
  const uint8_t* src = *buffer;
  const size_t size = *length;
  uint8_t* dst = new (std::nothrow) uint8_t[size];
  if (dst == nullptr) return false;
  size_t out = 0;
  size_t i = 0;
  bool matched = false;
  while (i < size) {
    if (size - i < n) {
      std::memcpy(dst + out, src + i, size - i);
      out += size - i;
      break;
    }
    const bool hit =
        ignore_case ? iequals_n_buf(src + i, search, n) : std::memcmp(src + i, search, n) == 0;
    if (hit) {
      matched = true;
      i += n;
    } else {
      dst[out++] = src[i++];
    }
  }
  if (!matched) {
    delete[] dst;
    return true;
  }
  uint8_t* fitted = new (std::nothrow) uint8_t[out];
  if (fitted == nullptr) {
    delete[] dst;
    return false;
  }
  if (out > 0) std::memcpy(fitted, dst, out);
  delete[] dst;
  delete[] * buffer;
  *buffer = fitted;
  *length = out;
  return true;
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

void join_strings(std::string& out, const std::vector<std::string>& list,
                  const std::string& separator, bool skip_empty) {
  out.clear();
  vk::guarded(
      [&] {
        bool first = true;
        for (const auto& item : list) {
          if (skip_empty && item.empty()) continue;
          if (!first) out += separator;
          out += item;
          first = false;
        }
      },
      [&] { out.clear(); });
}

bool join_command_line(std::string& out, const std::vector<std::string>& list, char quote) {
  out.clear();
  vk::guarded(
      [&] {
        for (size_t i = 0; i < list.size(); ++i) {
          if (i > 0) out.push_back(' ');
          const std::string& item = list[i];
          if (item.find(' ') != std::string::npos) {
            out.push_back(quote);
            out += item;
            out.push_back(quote);
          } else {
            out += item;
          }
        }
      },
      [&] { out.clear(); });
  return true;
}

bool join_args_quoted(std::string& out, size_t& count, const std::vector<std::string>& list,
                      bool quote_values) {
  out.clear();
  count = list.size();
  if (list.empty()) return false;
  if (!vk::guarded(
          [&] {
            for (size_t i = 0; i < list.size(); ++i) {
              const std::string& item = list[i];
              if (item.empty()) continue;
              if (i > 0) out.push_back(' ');
              const bool quote = item.find(' ') != std::string::npos ||
                                 (quote_values && i > 0 && item.front() != '-');
              if (quote) {
                std::string bare(item);
                erase_char(bare, '"');
                out.push_back('"');
                out += bare;
                out.push_back('"');
              } else {
                out += item;
              }
            }
            trim_ws(out);
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

size_t split_char_buffer(const void* bytes, size_t count, char delimiter,
                         std::vector<std::string>& list, size_t& delimiter_count, bool trim) {
  return split_pieces<std::string>(static_cast<const char*>(bytes), count, delimiter, list,
                                   delimiter_count, trim, &trim_ws);
}

size_t split_wchar_buffer(const wchar_t* chars, size_t count, wchar_t delimiter,
                          std::vector<std::wstring>& list, size_t& delimiter_count, bool trim) {
  return split_pieces<std::wstring>(chars, count, delimiter, list, delimiter_count, trim,
                                    &wtrim_ws);
}

bool split_text_lines(const std::vector<uint8_t>& bytes, std::vector<std::string>& lines) {
  lines.clear();
  if (bytes.empty()) return false;
  vk::guarded([&] {
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const size_t n = bytes.size();
    size_t start = 0;
    bool found_lf = false;
    for (size_t i = 0; i < n; ++i) {
      if (p[i] != '\n') continue;
      found_lf = true;
      size_t s = start;
      while (s < i && p[s] == '\r') ++s;
      std::string line(p + s, i - s);
      trim_ws(line);
      lines.push_back(std::move(line));
      start = i + 1;
    }
    if (!found_lf) {
      std::string line(p, n);
      trim_ws(line);
      lines.push_back(std::move(line));
    } else if (n - start >= 2) {
      std::string line(p + start, n - start);
      trim_ws(line);
      lines.push_back(std::move(line));
    }
  });
  return !lines.empty();
}

bool split_utf16_lines(const std::vector<uint8_t>& bytes, std::vector<std::wstring>& lines) {
  lines.clear();
  if (bytes.size() < 2) return false;
  return vk::guarded(
      [&] {
        const uint8_t* p = bytes.data();
        const size_t n = bytes.size() / 2;
        auto unit = [p](size_t i) -> wchar_t {
          return static_cast<wchar_t>(p[2 * i] | (p[2 * i + 1] << 8));
        };
        size_t start = 0;
        for (size_t i = 0; i < n; ++i) {
          if (unit(i) != L'\n') continue;
          size_t s = start;
          while (s < i && unit(s) == L'\r') ++s;
          std::wstring line;
          line.reserve(i - s);
          for (size_t k = s; k < i; ++k) line.push_back(unit(k));
          wtrim_ws(line);
          lines.push_back(std::move(line));
          start = i + 1;
        }
        return !lines.empty();
      },
      [&] { return !lines.empty(); });
}

// ---------------------------------------------------------------------------
// String streams
// ---------------------------------------------------------------------------

bool stream_drop_tail(std::ostringstream& stream, size_t n, bool rewrite) {
  return seek_back(stream, n, rewrite);
}

bool stream_drop_tail(std::stringstream& stream, size_t n, bool rewrite) {
  return seek_back(stream, n, rewrite);
}

bool stream_seek_back(std::ostringstream& stream, size_t n) {
  return seek_back(stream, n, false);
}

bool stream_seek_back(std::stringstream& stream, size_t n) {
  return seek_back(stream, n, false);
}

bool wstream_drop_tail(std::wostringstream& stream, size_t n, bool rewrite) {
  return seek_back(stream, n, rewrite);
}

bool stream_step_back(std::ostream& stream, size_t n) {
  return seek_back(stream, n, false);
}

}  // namespace vk
