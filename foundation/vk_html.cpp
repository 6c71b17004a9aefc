#include "foundation/vk_html.h"

#include <cstring>

#include "foundation/vk_counted_string.h"
#include "foundation/vk_string.h"

namespace vk {

namespace {

constexpr size_t k_max_attribute_name = 256;
constexpr char k_hex[] = "0123456789abcdef";

template <class C>
C lower(C c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<C>(c - 'A' + 'a') : c;
}

// Position of needle in hay[from, len), or len.
size_t find_in(const char* hay, size_t from, size_t len, const char* needle, size_t nlen) {
  if (nlen == 0 || nlen > len) return len;
  for (size_t i = from; i + nlen <= len; ++i)
    if (std::memcmp(hay + i, needle, nlen) == 0) return i;
  return len;
}
size_t find_char(const char* hay, size_t from, size_t len, char c) {
  for (size_t i = from; i < len; ++i)
    if (hay[i] == c) return i;
  return len;
}

bool iequal_at(const uint8_t* text, size_t at, const char* name, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (lower(static_cast<char>(text[at + k])) != lower(name[k])) return false;
  return true;
}

// Shared body of get_html_attribute and find_html_attribute.
bool html_attribute_at(const uint8_t* text, size_t length, const char* name, html_attribute& out) {
  out = html_attribute();
  if (!text || !name) return false;
  size_t n = std::strlen(name);
  if (n > k_max_attribute_name || n == 0 || length <= n) return false;
  for (size_t i = 0; i + n <= length; ++i) {
    if (!iequal_at(text, i, name, n)) continue;
    size_t p = i + n;
    while (p < length && text[p] != '=') ++p;
    if (p >= length) return false;
    ++p;
    while (p < length && text[p] == ' ') ++p;
    if (p >= length) return false;
    out.m_offset = static_cast<uint32_t>(p);
    if (text[p] == '"' || text[p] == '\'') {
      uint8_t quote = text[p++];
      out.m_offset = static_cast<uint32_t>(p);
      for (; p < length; ++p) {
        if (text[p] == quote) {
          out.m_length = static_cast<uint32_t>(out.m_value.size());
          return true;
        }
        if (text[p] != '\r' && text[p] != '\n') out.m_value += static_cast<char>(text[p]);
      }
      return false;
    }
    for (; p < length; ++p) {
      if (text[p] == ' ' || text[p] == '\r') {
        out.m_length = static_cast<uint32_t>(out.m_value.size());
        return true;
      }
      out.m_value += static_cast<char>(text[p]);
    }
    return false;
  }
  return false;
}

template <class C>
bool match_at(const C* text, size_t at, size_t len, const std::basic_string<C>& s,
              bool ignore_case) {
  if (s.size() > len - at) return false;
  for (size_t k = 0; k < s.size(); ++k) {
    C a = text[at + k], b = s[k];
    if (ignore_case ? lower(a) != lower(b) : a != b) return false;
  }
  return true;
}

template <class C>
bool escape_body(const C* text, int32_t length, const std::vector<std::basic_string<C>>& from,
                 const std::vector<std::basic_string<C>>& to, std::basic_string<C>& out,
                 bool ignore_case, bool hex_escape) {
  out.clear();
  if (!text || length <= 0 || from.empty() || from.size() != to.size()) return false;
  size_t len = static_cast<size_t>(length);
  for (size_t i = 0; i < len;) {
    C c = text[i];
    if (c == '\r' || c == '\n') {
      out += c;
      ++i;
      continue;
    }
    unsigned low = static_cast<unsigned>(c) & 0xFF;
    if (hex_escape && (low < 0x20 || low > 0x7E)) {
      out += static_cast<C>('%');
      out += static_cast<C>(k_hex[low >> 4]);
      out += static_cast<C>(k_hex[low & 0xF]);
      ++i;
      continue;
    }
    bool replaced = false;
    for (size_t k = 0; k < from.size(); ++k) {
      // An empty search text would match without advancing: never tried.
      if (from[k].empty() || !match_at(text, i, len, from[k], ignore_case)) continue;
      out += to[k];
      i += from[k].size();
      replaced = true;
      break;
    }
    if (!replaced) {
      out += c;
      ++i;
    }
  }
  return true;
}

}  // namespace

bool get_quoted_attribute(const char* text, int32_t length, const char* name, std::string& value) {
  value.clear();
  if (!text || length <= 0 || !name) return false;
  size_t len = static_cast<size_t>(length);
  size_t at = find_in(text, 0, len, name, std::strlen(name));
  if (at >= len) return false;
  size_t eq = find_char(text, at + std::strlen(name), len, '=');
  if (eq >= len) return false;
  size_t open = find_char(text, eq + 1, len, '"');
  if (open >= len) return false;
  size_t close = find_char(text, open + 1, len, '"');
  if (close >= len) return false;
  value.assign(text + open + 1, close - open - 1);
  return true;
}

bool get_tag_attribute(const char* tag, uint32_t length, int32_t index, std::string& name,
                       std::string& value) {
  name.clear();
  value.clear();
  if (!tag || length < 2 || index <= 0 || tag[0] != '<' || tag[1] == ' ') return false;
  size_t end = find_char(tag, 0, length, '>');
  if (end >= length) return false;
  size_t pos = find_char(tag, 0, end, ' ');  // attributes start after the first blank
  if (pos >= end) return false;
  ++pos;
  for (int32_t i = 1;; ++i) {
    size_t eq = find_char(tag, pos, end, '=');
    if (eq >= end) return false;
    size_t open = find_char(tag, eq + 1, end, '"');
    if (open >= end) return false;
    size_t close = find_char(tag, open + 1, end, '"');
    if (close >= end) return false;
    if (i == index) {
      for (size_t k = pos; k < eq; ++k)
        if (tag[k] != ' ') name += tag[k];
      value.assign(tag + open + 1, close - open - 1);
      return true;
    }
    pos = close + 1;
  }
}

bool get_html_attribute(const uint8_t* text, int32_t length, const char* name, std::string& value) {
  value.clear();
  if (length <= 0) return false;
  html_attribute found;
  bool ok = html_attribute_at(text, static_cast<size_t>(length), name, found);
  value = found.m_value;
  return ok;
}

bool find_html_attribute(const std::string& text, int32_t length, const char* name,
                         html_attribute& out) {
  out = html_attribute();
  if (length <= 0) return false;
  size_t len =
      static_cast<size_t>(length) < text.size() ? static_cast<size_t>(length) : text.size();
  return html_attribute_at(reinterpret_cast<const uint8_t*>(text.data()), len, name, out);
}

bool split_html_tokens(const uint8_t* text, int32_t length, std::vector<std::string>& tokens,
                       bool trim) {
  if (!text || length <= 0) return false;
  size_t len = static_cast<size_t>(length);
  std::string tag, run;
  bool in_tag = false, emitted = false;
  char pi = 0;               // '?' or '%' inside such a block
  bool raw_content = false;  // inside pre or script content
  auto emit = [&](std::string& s, bool trimmed) {
    if (trimmed) {
      trim_ws(s);
      if (s.empty()) return;
    }
    tokens.push_back(s);
    emitted = true;
  };
  for (size_t i = 0; i < len; ++i) {
    char c = static_cast<char>(text[i]);
    char next = i + 1 < len ? static_cast<char>(text[i + 1]) : '\0';
    if (c == '<' && !in_tag) {
      if (raw_content && next != '/') {
        run += c;
        continue;
      }
      if (!raw_content && (next == '?' || next == '%')) {
        emit(run, false);
        pi = next;
      } else {
        emit(run, trim);
      }
      run.clear();
      in_tag = true;
      tag = c;
      continue;
    }
    if (!in_tag) {
      run += c;
      continue;
    }
    tag += c;
    if (c != '>') continue;
    if (pi && !(tag.size() >= 2 && tag[tag.size() - 2] == pi)) continue;
    std::string head = tag.substr(0, 7);
    str_to_lower(head);
    raw_content = !pi && (head.compare(0, 5, "<pre>") == 0 || head == "<script");
    pi = 0;
    in_tag = false;
    emit(tag, trim);
    tag.clear();
  }
  // The text after the last tag is part of the page too.
  if (!in_tag && !run.empty()) emit(run, trim);
  return emitted;
}

bool normalize_html_tags(std::vector<std::string>& tokens) {
  if (tokens.empty()) return false;
  for (std::string& token : tokens) {
    if (token.empty() || token[0] != '<' || token.compare(0, 2, "<?") == 0 ||
        token.compare(0, 2, "<%") == 0)
      continue;
    std::string out;
    out.reserve(token.size() + 8);
    char quote = 0;
    bool bare_value = false;
    for (size_t i = 0; i < token.size(); ++i) {
      char c = token[i];
      if (quote) {
        out += c;
        if (c == quote) quote = 0;
        continue;
      }
      if (bare_value) {
        if (c == ' ' || c == '>') {
          out += '"';
          bare_value = false;
          out += c;
        } else {
          out += c;
        }
        continue;
      }
      if (c == '"' || c == '\'') {
        quote = c;
        out += c;
      } else if (c == ' ') {
        size_t j = i;
        while (j < token.size() && token[j] == ' ') ++j;
        if (j < token.size() && token[j] == '=') {
          i = j - 1;  // blanks before '=' are dropped
        } else {
          out += c;
        }
      } else if (c == '=') {
        out += c;
        char n = i + 1 < token.size() ? token[i + 1] : '\0';
        if (n && n != '"' && n != '\'' && n != ' ' && n != '>') {
          out += '"';
          bare_value = true;
        }
      } else {
        out += lower(c);
      }
    }
    if (bare_value) out += '"';
    token = out;
  }
  return true;
}

bool escape_text(const uint8_t* text, int32_t length, const std::vector<std::string>& from,
                 const std::vector<std::string>& to, std::string& out, bool ignore_case,
                 bool hex_escape) {
  return escape_body(reinterpret_cast<const char*>(text), length, from, to, out, ignore_case,
                     hex_escape);
}

bool escape_text_w(const wchar_t* text, int32_t length, const std::vector<std::wstring>& from,
                   const std::vector<std::wstring>& to, std::wstring& out, bool ignore_case,
                   bool hex_escape) {
  return escape_body(text, length, from, to, out, ignore_case, hex_escape);
}

std::string html_escape(const char* text) {
  static const std::vector<std::string> from = {"<", ">", "&"};
  static const std::vector<std::string> to = {"&lt;", "&gt;", "&amp;"};
  if (!text) return std::string();
  size_t n = std::strlen(text);
  std::string escaped;
  if (n > 0x7FFFFFFF || !escape_text(reinterpret_cast<const uint8_t*>(text),
                                     static_cast<int32_t>(n), from, to, escaped, true, true))
    escaped = text;
  return latin1_to_utf8(escaped.c_str());
}

}  // namespace vk
