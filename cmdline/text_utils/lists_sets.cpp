#include "cmdline/text_utils/lists_sets.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {

void dedupe_keep_first(std::vector<std::string>& list) {
  guarded([&] {
    std::map<std::string, size_t> first;
    for (size_t i = 0; i < list.size(); ++i) first.emplace(list[i], i);
    if (first.size() == list.size()) return;
    std::vector<std::string> kept;
    kept.reserve(first.size());
    for (size_t i = 0; i < list.size(); ++i)
      if (first[list[i]] == i) kept.push_back(list[i]);
    list = std::move(kept);
  });
}

std::string& join_set(std::string& out, const std::set<std::string>& set,
                      const std::string& separator, bool skip_empty) {
  guarded(
      [&] {
        out.clear();
        bool any = false;
        for (const auto& text : set) {
          if (skip_empty && text.empty()) continue;
          if (any) out += separator;
          out += text;
          any = true;
        }
      },
      [&] { out.clear(); });
  return out;
}

int set_difference_texts(const std::vector<std::string>& a, const std::vector<std::string>& b,
                         std::vector<std::string>& out, bool fold) {
  guarded([&] {
    std::set<std::string> left;
    for (std::string t : a) left.insert(fold ? str_to_lower(t) : t);
    for (std::string t : b) left.erase(fold ? str_to_lower(t) : t);
    out.insert(out.end(), left.begin(), left.end());
  });
  return 1;
}

bool union_u64_sets(std::vector<uint64_t>& out, const std::set<uint64_t>& a,
                    const std::set<uint64_t>& b) {
  return guarded(
      [&] {
        out.clear();
        if (a.empty() != b.empty()) {
          const auto& other = a.empty() ? b : a;
          out.assign(other.begin(), other.end());
          return false;
        }
        std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
        return !out.empty();
      },
      [&] { out.clear(); });
}

uint32_t intersect_u64_sets(std::vector<uint64_t>& out, const std::set<uint64_t>& a,
                            const std::set<uint64_t>& b) {
  return guarded(
      [&]() -> uint32_t {
        out.clear();
        if (a.empty() || b.empty()) return 0;
        for (uint64_t v : a)
          if (b.count(v)) out.push_back(v);
        return static_cast<uint32_t>(out.size());
      },
      [&] { out.clear(); });
}

bool horspool_search(uint64_t& offset, const uint8_t* data, uint64_t size, const uint8_t* pattern,
                     uint32_t pattern_length) {
  offset = 0;
  if (!data || !pattern || pattern_length == 0 || size == 0 || pattern_length > size) return false;
  std::array<uint64_t, 256> skip;
  skip.fill(pattern_length);
  for (uint32_t i = 0; i + 1 < pattern_length; ++i) skip[pattern[i]] = pattern_length - 1 - i;
  const uint32_t last = pattern_length - 1;
  uint64_t start = 0;
  while (size - start >= pattern_length) {
    uint32_t k = last;
    while (data[start + k] == pattern[k]) {
      if (k == 0) {
        offset = start;
        return true;
      }
      --k;
    }
    start += skip[data[start + last]];
  }
  return false;
}

bool find_bytes_in_range(uint64_t& offset, const uint8_t* begin, const uint8_t* end,
                         const std::string& pattern, uint64_t base) {
  offset = 0;
  if (!begin || !end || end < begin || pattern.empty()) return false;
  const auto* pat = reinterpret_cast<const uint8_t*>(pattern.data());
  const uint8_t* hit = std::search(begin, end, pat, pat + pattern.size());
  if (hit == end) return false;
  offset = base + static_cast<uint64_t>(hit - begin);
  return true;
}

void write_json_pairs(std::ostream& os, const std::map<std::string, std::string>& pairs,
                      char separator) {
  guarded([&] {
    bool first = true;
    for (const auto& [key, value] : pairs) {
      if (!first) os << separator << ' ';
      first = false;
      os << '"' << key << "\":\"" << value << '"';
    }
  });
}

namespace {

// The width of title i: its length, or the width given for it when the
// width list has one per title and that one is larger.
uint32_t title_width(size_t length, size_t i, const std::vector<uint32_t>& widths, size_t count) {
  uint32_t w = static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
  if (widths.size() == count && widths[i] > w) w = widths[i];
  return w;
}

template <class Key>
void enter_title(std::map<Key, uint32_t>& title_map, Key key, uint32_t width) {
  auto [it, added] = title_map.emplace(std::move(key), width);
  if (!added) it->second = std::max(it->second, width);
}

}  // namespace

bool write_title_line(std::ostream& os, std::vector<uint32_t>& ends,
                      std::map<std::string, uint32_t>& title_map, std::vector<uint32_t>& widths,
                      const std::vector<std::string>& titles, const std::string& separator,
                      bool line_end) {
  ends.clear();
  title_map.clear();
  if (titles.empty()) return false;
  return guarded([&] {
    std::ostringstream line;
    line.fill(' ');
    line.setf(std::ios_base::left, std::ios_base::adjustfield);
    ends.push_back(0);
    uint64_t offset = 0;
    std::vector<uint32_t> used;
    for (size_t i = 0; i < titles.size(); ++i) {
      const uint32_t w = title_width(titles[i].size(), i, widths, titles.size());
      offset += separator.size() + w;
      ends.push_back(static_cast<uint32_t>(offset));
      used.push_back(w);
      line << titles[i];
      if (w > titles[i].size()) line << std::string(w - titles[i].size(), ' ');
      line << separator;
      std::string key = titles[i];
      trim_ws(key);
      enter_title(title_map, str_to_lower(key), w);
    }
    stream_drop_tail(line, separator.size(), false);
    line << "   ";
    widths = std::move(used);
    if (line_end) line << '\n';
    os << line.str();
    return true;
  });
}

bool write_title_line_w(std::ostream& os, std::vector<uint32_t>& ends,
                        std::map<std::wstring, uint32_t>& title_map, std::vector<uint32_t>& widths,
                        const std::vector<std::wstring>& titles, const std::wstring& separator) {
  ends.clear();
  title_map.clear();
  if (titles.empty()) return false;
  return guarded([&] {
    const std::string sep = to_utf8(separator);
    std::string line;
    ends.push_back(0);
    uint64_t offset = 0;
    std::vector<uint32_t> used;
    for (size_t i = 0; i < titles.size(); ++i) {
      const uint32_t w = title_width(titles[i].size(), i, widths, titles.size());
      offset += sep.size() + w;
      ends.push_back(static_cast<uint32_t>(offset));
      used.push_back(w);
      line += to_utf8(titles[i]);
      if (w > titles[i].size()) line.append(w - titles[i].size(), ' ');
      line += sep;
      std::wstring key = titles[i];
      wtrim_ws(key);
      enter_title(title_map, wstr_to_lower(key), w);
    }
    line.erase(line.size() - sep.size());
    widths = std::move(used);
    os << line << '\n';
    return true;
  });
}

namespace {

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool write_whole_file(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data, static_cast<std::streamsize>(size));
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace

bool expand_tabs_file(const std::string& in_path, const std::string& out_path, uint32_t tab_width,
                      bool utf16) {
  if (in_path.empty()) return false;
  return guarded([&] {
    std::ifstream in(in_path, std::ios::binary);
    if (!in) return false;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    // The converter counts in 32 bits: a larger file is refused, not cut.
    if (in.bad() || bytes.size() > UINT32_MAX) return false;
    if (tab_width == 0) tab_width = 4;
    const auto length = static_cast<uint32_t>(bytes.size());
    std::string text;
    if (!expand_tabs(bytes.data(), length, tab_width, text, utf16)) {
      // No TAB: the output is a copy of the input.
      if (out_path.empty() || same_file(in_path, out_path)) return true;
      return write_whole_file(out_path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    if (out_path.empty()) return false;
    return write_whole_file(out_path, text.data(), text.size());
  });
}

}  // namespace vk
