#include "cmdline/text_utils/small_strings.h"

#include <charconv>
#include <cstring>

#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

template <class S>
size_t find_not_at_end(const S& text, const S& needle, size_t start) {
  const size_t p = text.find(needle, start);
  return p == text.size() ? S::npos : p;
}

}  // namespace

size_t find_fold(std::string& text, std::string& needle, bool fold) {
  if (fold) {
    str_to_lower(text);
    str_to_lower(needle);
  }
  return find_not_at_end(text, needle, 0);
}

size_t wfind_fold(std::wstring& text, std::wstring& needle, bool fold) {
  if (fold) {
    wstr_to_lower(text);
    wstr_to_lower(needle);
  }
  return find_not_at_end(text, needle, 0);
}

namespace {

template <class S>
bool find_from(size_t& pos, const S& text, size_t start, const typename S::value_type* needle,
               size_t needle_len, bool after) {
  if (!needle) {
    pos = S::npos;
    return false;
  }
  pos = text.find(needle, start, needle_len);
  if (pos == S::npos || pos == text.size()) return false;
  if (after) pos += needle_len;
  return true;
}

}  // namespace

bool find_after(size_t& pos, const std::string& text, size_t start, const std::string& needle) {
  return find_from(pos, text, start, needle.data(), needle.size(), true);
}

bool wfind_after(size_t& pos, const std::wstring& text, size_t start, const wchar_t* needle) {
  return find_from(pos, text, start, needle, needle ? std::wcslen(needle) : 0, true);
}

bool find_at(size_t& pos, const std::string& text, size_t start, const char* needle) {
  return find_from(pos, text, start, needle, needle ? std::strlen(needle) : 0, false);
}

bool wfind_at(size_t& pos, const std::wstring& text, size_t start, const wchar_t* needle) {
  return find_from(pos, text, start, needle, needle ? std::wcslen(needle) : 0, false);
}

bool werase_from(std::wstring& text, const std::wstring& needle, bool fold) {
  return guarded([&] {
    size_t p;
    if (fold) {
      // Both sides folded: an upper-case needle must match too.
      std::wstring lower = text;
      std::wstring lower_needle = needle;
      p = find_not_at_end(wstr_to_lower(lower), wstr_to_lower(lower_needle), 0);
    } else {
      p = find_not_at_end(text, needle, 0);
    }
    if (p == std::wstring::npos) return false;
    text.erase(p);
    return true;
  });
}

bool werase_first(std::wstring& text, std::wstring& needle, bool fold) {
  return guarded([&] {
    size_t p;
    if (fold) {
      std::wstring lower = text;
      p = find_not_at_end(wstr_to_lower(lower), wstr_to_lower(needle), 0);
    } else {
      p = find_not_at_end(text, needle, 0);
    }
    if (p == std::wstring::npos) return false;
    text.erase(p, needle.size());
    return true;
  });
}

bool pop_first_word(std::string& text, std::string& word) {
  if (text.empty()) return false;
  return guarded([&] {
    std::string first;
    first_word(text, first);
    if (!first.empty()) word = first;
    const size_t p = text.find(word);
    if (p != std::string::npos) text.erase(p, word.size());
    return true;
  });
}

std::string remove_char_copy(const std::string& text, char c) {
  return guarded([&] {
    std::string out;
    out.reserve(text.size());
    for (char x : text)
      if (x != c) out += x;
    return out.empty() ? text : out;
  });
}

namespace {

bool identifier_char(char c) {
  return c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

}  // namespace

std::string& to_identifier(std::string& out, const std::string& text) {
  guarded(
      [&] {
        out.clear();
        bool gap = false;
        for (char c : text) {
          if (!identifier_char(c)) {
            gap = !out.empty();
            continue;
          }
          if (gap) out += '_';
          gap = false;
          out += c;
        }
      },
      [&] { out.clear(); });
  return out;
}

size_t non_alpha_to_underscore(std::string& text) {
  for (char& c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) c = '_';
  return text.size();
}

bool is_printable_text(const std::string& text) {
  if (text.empty()) return false;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c != '\t' && c != '\n' && c != '\r' && (c < 32 || c > 126)) return false;
  }
  return true;
}

void wescape_chars(std::wstring& text, const std::wstring& set) {
  guarded([&] {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
      if (set.find(c) != std::wstring::npos) out += L'\\';
      out += c;
    }
    text = std::move(out);
  });
}

size_t escape_units(std::vector<uint16_t>& units, const std::wstring& set) {
  return guarded([&] {
    std::vector<uint16_t> out;
    out.reserve(units.size());
    size_t added = 0;
    for (uint16_t u : units) {
      if (set.find(static_cast<wchar_t>(u)) != std::wstring::npos) {
        out.push_back('\\');
        ++added;
      }
      out.push_back(u);
    }
    units = std::move(out);
    return added;
  });
}

bool wtrim_trailing_nuls(std::wstring& text) {
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return true;
}

bool trim_trailing_zero_units(std::vector<uint16_t>& units) {
  while (!units.empty() && units.back() == 0) units.pop_back();
  return true;
}

std::string format_fixed2(double value) {
  return guarded([&] {
    char buf[400];  // the largest double has 309 integer digits
    auto r = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
  });
}

byte_array& assign_bytes_from_text(byte_array& bytes, const std::string& text) {
  guarded([&] { bytes.assign(text.begin(), text.end()); }, [&] { bytes.clear(); });
  return bytes;
}

void copy_block32(byte_array& bytes, const uint8_t* block) {
  assign_bytes(bytes, block, 32);
}

void copy_block20(byte_array& bytes, const uint8_t* block) {
  assign_bytes(bytes, block, 20);
}

void copy_block16(byte_array& bytes, const uint8_t* block) {
  assign_bytes(bytes, block, 16);
}

vk_variant_lite& make_bytes_cell(vk_variant_lite& cell, const uint8_t* bytes, size_t count,
                                 uint16_t type) {
  cell.clear();
  if (bytes) guarded([&] { cell.m_bytes.assign(bytes, bytes + count); });
  cell.m_type = type;
  return cell;
}

}  // namespace vk
