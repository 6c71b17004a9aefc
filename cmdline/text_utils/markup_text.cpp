#include "cmdline/text_utils/markup_text.h"

#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "cmdline/text_utils/markup_file_io.h"
#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_html.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

constexpr uint64_t k_largest_page = std::numeric_limits<int32_t>::max();

template <class S>
bool extract_element(S& out, S& text, const S& tag) {
  out.clear();
  if (text.empty() || tag.empty()) return false;
  return guarded([&] {
    S open(1, '<');
    open += tag;
    const size_t start = text.find(open);
    if (start == S::npos) return false;
    S close(2, '<');
    close[1] = '/';
    close += tag;
    close += '>';
    const size_t end = text.find(close, start + tag.size());
    if (end == S::npos) return false;
    const size_t stop = end + close.size();
    out = text.substr(start, stop - start);
    text.erase(start, stop - start);
    return true;
  });
}

wchar_t lower_ascii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring normalize_wide_tag(const std::wstring& token) {
  std::wstring out;
  bool in_double = false, in_single = false, blank_seen = false, after_equals = false;
  bool open_pending = false, close_pending = false, in_added_quote = false;
  auto append = [&](wchar_t c) {
    if (in_double || in_single) {
      out += c;
    } else if (open_pending) {
      out += L'"';
      out += c;
      in_added_quote = true;
      open_pending = false;
    } else if (close_pending) {
      out += L'"';
      out += lower_ascii(c);
      in_added_quote = close_pending = false;
    } else {
      out += lower_ascii(c);
    }
  };
  auto quote = [&](wchar_t c, bool& mine, bool other) {
    if (other) {
      out += c;
    } else if (mine) {
      mine = false;
      append(c);
    } else {
      mine = true;
      out += c;
    }
    after_equals = false;
  };
  for (const wchar_t c : token) {
    switch (c) {
      case L' ':
      case L'\t':
      case L'\n':
      case L'\r': {
        const bool drop = blank_seen || after_equals;
        if (c == L' ') blank_seen = true;
        if (in_added_quote) close_pending = true;
        if (!drop) append(c);
        break;
      }
      case L'>':
        blank_seen = false;
        if (in_added_quote) close_pending = true;
        append(c);
        break;
      case L'=':
        if (in_double || in_single) {
          out += c;
          break;
        }
        after_equals = true;
        if (blank_seen && !out.empty()) out.pop_back();  // the blank before '='
        append(c);
        break;
      case L'"':
        quote(c, in_double, in_single);
        break;
      case L'\'':
        quote(c, in_single, in_double);
        break;
      default:
        if (after_equals) open_pending = true;
        after_equals = blank_seen = false;
        append(c);
    }
  }
  return out;
}

// Value of the number right after a tag prefix, read as atoi reads it
// (leading white space, a sign, digits), saturated instead of overflowing.
int64_t number_after(const std::string& text, size_t at) {
  while (at < text.size() && std::strchr(" \t\n\v\f\r", text[at]) && text[at] != '\0') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    if (value < 1000000) value = value * 10 + (text[at] - '0');
  return negative ? -value : value;
}

bool has_prefix(const std::string& text, size_t at, std::string_view prefix) {
  return text.compare(at, prefix.size(), prefix) == 0;
}

struct list_state {
  bool numbered = false;
  uint32_t item = 0;
};

// The light markup one token stands for.
void markup_of_token(const std::string& token, list_state& list, std::string& out) {
  const size_t at = token.find('<');
  if (at == std::string::npos) {
    out += token;
    return;
  }
  auto any = [&](std::initializer_list<std::string_view> prefixes) {
    for (std::string_view p : prefixes)
      if (has_prefix(token, at, p)) return true;
    return false;
  };
  if (any({"<h", "</h"})) {
    // Only the six heading levels: "<h2000000000>" is no heading.
    const int64_t level = number_after(token, at + (token[at + 1] == '/' ? 3 : 2));
    if (level >= 1 && level <= 6) out.append(static_cast<size_t>(level), '=');
  } else if (any({"<p"})) {  // also catches "<pre"
    out += '\n';
  } else if (any({"<br/>"})) {
    out += "// ";
  } else if (any({"<blockquote"})) {
    out += "[\"";
  } else if (any({"</blockquote"})) {
    out += "\"]";
  } else if (any({"</pre"})) {
    out += "%]";
  } else if (any({"<i>", "<strong>", "</i>", "</strong>"})) {
    out += '*';
  } else if (any({"<b>", "</b>"})) {
    out += '_';
  } else if (any({"<sup", "</sup"})) {
    out += '^';
  } else if (any({"<sub", "</sub"})) {
    out += '~';
  } else if (any({"<code", "</code"})) {
    out += '%';
  } else if (any({"<img "})) {
    const char* tag = token.c_str() + at;
    const auto n = static_cast<int32_t>(token.size() - at);
    std::string value;
    if (get_quoted_attribute(tag, n, "src", value)) out += "[" + value;
    if (get_quoted_attribute(tag, n, "alt", value)) out += ", " + value;
    out += ']';
  } else if (any({"<ul"})) {
    list.numbered = false;
  } else if (any({"<ol"})) {
    list.item = 0;
    list.numbered = true;
  } else if (any({"<li"})) {
    if (list.numbered)
      out += std::to_string(++list.item) + ". ";
    else
      out += '*';
  }
}

}  // namespace

bool extract_xml_element(std::string& out, std::string& text, const std::string& tag) {
  return extract_element(out, text, tag);
}

bool extract_xml_element_w(std::wstring& out, std::wstring& text, const std::wstring& tag) {
  return extract_element(out, text, tag);
}

int normalize_wide_tags(std::vector<std::wstring>& tokens) {
  if (tokens.empty()) return 0;
  guarded([&] {
    for (std::wstring& token : tokens) {
      if (token.empty() || token[0] != L'<' || token.compare(0, 2, L"<?") == 0 ||
          token.compare(0, 2, L"<%") == 0)
        continue;
      token = normalize_wide_tag(token);
    }
  });
  return 1;
}

bool html_to_markup_text(const uint8_t* bytes, size_t length, std::string& out) {
  out.clear();
  if (!bytes || length == 0 || length > k_largest_page) return false;
  return guarded(
      [&] {
        std::vector<std::string> tokens;
        if (!split_html_tokens(bytes, static_cast<int32_t>(length), tokens, false)) return false;
        normalize_html_tags(tokens);
        list_state list;
        for (const std::string& token : tokens) markup_of_token(token, list, out);
        for (const std::string& token : tokens) out += token;
        return true;
      },
      [&] { out.clear(); });
}

int html_to_markup_file(const std::string& in_path, const std::string& out_path) {
  guarded([&] {
    // Read first: the output may name the input.
    std::vector<uint8_t> bytes;
    std::string text;
    if (markup_io::read_whole(in_path, bytes, k_largest_page))
      html_to_markup_text(bytes.data(), bytes.size(), text);
    bool opened = false;
    markup_io::write_whole(out_path, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                           opened);
  });
  return 0;
}

bool strip_script_file(const char* in_path, const char* out_path, bool in_place) {
  if (!in_path) return false;
  return guarded([&] {
    std::vector<uint8_t> bytes;
    if (!markup_io::read_whole(in_path, bytes, std::numeric_limits<uint32_t>::max())) return false;
    auto length = static_cast<uint32_t>(bytes.size());
    const bool stripped = length != 0 && strip_xml_element(bytes.data(), length, "script");
    const size_t kept = stripped ? length : 0;
    const char* target = in_place ? in_path : out_path;
    if (target) {
      bool opened = false;
      const bool written = markup_io::write_whole(target, bytes.data(), kept, opened);
      if (opened) return written;
    }
    if (kept)
      console_write(console_stdout,
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), kept));
    return true;
  });
}

bool remove_text_from_file(const char* path, const char* text, bool ignore_case) {
  if (!path || !text) return false;
  return guarded([&] {
    std::vector<uint8_t> bytes;
    if (!markup_io::read_whole(path, bytes, std::numeric_limits<uint64_t>::max()) || bytes.empty())
      return false;
    // The remover replaces the buffer it is given with one of its own.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes.size()]);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    size_t length = bytes.size();
    uint8_t* raw = buffer.release();
    const bool removed = remove_all_occurrences(&raw, &length, text, ignore_case);
    buffer.reset(raw);
    if (!removed) return false;
    bool opened = false;
    return markup_io::write_whole(path, buffer.get(), length, opened);
  });
}

bool collect_links(const uint8_t* bytes, uint32_t length, link_map& links) {
  return guarded([&] {
    std::vector<std::pair<std::string, uint32_t>> tags;
    if (!collect_angle_tags_pos(bytes, length, tags)) return false;
    html_attribute found;
    for (const auto& tag : tags) {
      const auto n = static_cast<int32_t>(
          std::min<size_t>(tag.first.size(), std::numeric_limits<int32_t>::max()));
      if (find_html_attribute(tag.first, n, "href", found) ||
          find_html_attribute(tag.first, n, "src", found))
        links.emplace(found.m_value, std::make_pair(found.m_offset, found.m_length));
    }
    return !links.empty();
  });
}

}  // namespace vk
