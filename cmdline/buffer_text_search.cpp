#include "cmdline/buffer_text_search.h"

#include <cstring>
#include <string_view>

#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_string.h"

namespace vk {

namespace {

using extractor = bool (*)(const uint8_t*, size_t, size_t, std::vector<std::string>&,
                           std::vector<uint64_t>&, bool, bool);

bool collect_at(extractor extract, const uint8_t* bytes, size_t length, size_t min_length,
                std::vector<std::string>& list, std::vector<uint64_t>& offsets, uint64_t base,
                bool append, bool whitespace) {
  if (!append) {
    list.clear();
    offsets.clear();
  }
  if (!bytes || length < 1) return false;
  return vk::guarded([&] {
    std::vector<std::string> texts;
    std::vector<uint64_t> at;
    extract(bytes, length, min_length < 1 ? 1 : min_length, texts, at, whitespace, false);
    for (size_t i = 0; i < texts.size() && i < at.size(); ++i) {
      list.push_back(std::move(texts[i]));
      offsets.push_back(base + at[i]);
    }
    return !texts.empty();
  });
}

bool find_in_runs(extractor extract, size_t unit, const std::string& needle, const uint8_t* bytes,
                  size_t length, std::vector<uint32_t>& offsets, uint32_t base, bool append) {
  if (!append) offsets.clear();
  if (needle.empty() || !bytes || length < 1) return false;
  return vk::guarded([&] {
    std::string key = needle;
    str_to_lower(key);
    std::vector<std::string> runs;
    std::vector<uint64_t> at;
    extract(bytes, length, key.size(), runs, at, false, false);
    bool found = false;
    for (size_t r = 0; r < runs.size() && r < at.size(); ++r) {
      str_to_lower(runs[r]);
      for (size_t i = runs[r].find(key); i != std::string::npos; i = runs[r].find(key, i + 1)) {
        offsets.push_back(static_cast<uint32_t>(base + at[r] + unit * i));
        found = true;
      }
    }
    return found;
  });
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of needle in text, ignoring case when asked.
size_t find_text(std::string_view text, std::string_view needle, bool ignore_case) {
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  if (!ignore_case) return text.find(needle);
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && lower(text[i + k]) == lower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

bool collect_utf16_strings_at(const uint8_t* bytes, size_t length, size_t min_length,
                              std::vector<std::string>& list, std::vector<uint64_t>& offsets,
                              uint64_t base, bool append, bool whitespace) {
  return collect_at(extract_utf16_strings, bytes, length, min_length, list, offsets, base, append,
                    whitespace);
}

bool collect_ascii_strings_at(const uint8_t* bytes, size_t length, size_t min_length,
                              std::vector<std::string>& list, std::vector<uint64_t>& offsets,
                              uint64_t base, bool append, bool whitespace) {
  return collect_at(extract_ascii_strings, bytes, length, min_length, list, offsets, base, append,
                    whitespace);
}

bool find_text_in_utf16(const std::string& needle, const uint8_t* bytes, size_t length,
                        std::vector<uint32_t>& offsets, uint32_t base, bool append) {
  return find_in_runs(extract_utf16_strings, 2, needle, bytes, length, offsets, base, append);
}

bool find_text_in_ascii(const std::string& needle, const uint8_t* bytes, size_t length,
                        std::vector<uint32_t>& offsets, uint32_t base, bool append) {
  return find_in_runs(extract_ascii_strings, 1, needle, bytes, length, offsets, base, append);
}

bool text_between_tags(const char* text, size_t length, const std::string& tag, std::string& out) {
  out.clear();
  if (!text || length == 0) return false;
  return vk::guarded([&] {
    const std::string_view t(text, length);
    const size_t open = t.find("<" + tag);
    if (open == std::string_view::npos) return false;
    const size_t gt = t.find('>', open + 1 + tag.size());
    if (gt == std::string_view::npos) return false;
    const size_t close = t.find("</" + tag + ">", gt + 1);
    if (close == std::string_view::npos) return false;
    out.assign(t.substr(gt + 1, close - gt - 1));
    return true;
  });
}

bool lines_with_prefix(const uint8_t* buffer, size_t length, const std::string& prefix,
                       std::vector<std::string>& out, bool all) {
  out.clear();
  if (!buffer || length == 0) return false;
  return vk::guarded([&] {
    const std::string_view b(reinterpret_cast<const char*>(buffer), length);
    const std::string_view end = b.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    size_t start = 0;
    while (start < b.size()) {
      size_t stop = b.find(end, start);
      if (stop == std::string_view::npos) stop = b.size();
      const std::string_view line = b.substr(start, stop - start);
      if (prefix.empty() || find_text(line.substr(0, prefix.size()), prefix, true) == 0) {
        out.emplace_back(line);
        if (!all) break;
      }
      start = stop + end.size();
    }
    return !out.empty();
  });
}

bool value_after_key(std::string& out, const std::string& text, const std::string& key,
                     const std::string& terminators, bool ignore_case) {
  out.clear();
  const size_t at = find_text(text, key, ignore_case);
  if (at == std::string::npos) return false;
  return vk::guarded([&] {
    const size_t start = at + key.size();
    const size_t stop = text.find_first_of(terminators, start);
    out = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    return true;
  });
}

const char* find_ignore_case(const char* text, const char* needle) {
  if (!text || !needle) return nullptr;
  if (!*needle) return text;
  const size_t at = find_text(text, needle, true);
  return at == std::string_view::npos ? nullptr : text + at;
}

bool erase_first_in_buffer(char* buffer, const char* text, bool ignore_case) {
  if (!buffer || !text || !*text) return false;
  const size_t length = std::strlen(buffer);
  const size_t n = std::strlen(text);
  const size_t at =
      find_text(std::string_view(buffer, length), std::string_view(text, n), ignore_case);
  if (at == std::string_view::npos) return false;
  // The tail and its terminator move down over the occurrence.
  std::memmove(buffer + at, buffer + at + n, length - at - n + 1);
  return true;
}

}  // namespace vk
