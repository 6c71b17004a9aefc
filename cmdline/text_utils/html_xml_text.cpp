#include "cmdline/text_utils/html_xml_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "cmdline/text_utils/markup_file_io.h"
#include "foundation/uni_file_utils.h"
#include "foundation/vk_bytes.h"
#include "foundation/vk_counted_string.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_html.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

// Every search text is one character long, so a text may be escaped in
// pieces of any size: the escaper takes at most a signed 32-bit length.
constexpr size_t k_escape_piece = size_t{1} << 30;

template <class C, class Escape>
bool escape_pieces(const std::basic_string<C>& text, std::basic_string<C>& out, Escape escape) {
  out.clear();
  std::basic_string<C> piece;
  for (size_t at = 0; at < text.size(); at += k_escape_piece) {
    const size_t n = std::min(k_escape_piece, text.size() - at);
    if (!escape(text.data() + at, static_cast<int32_t>(n), piece)) return false;
    out += piece;
  }
  return true;
}

using attribute_names = std::vector<const char*>;

// For each tag, the value of the first of the names it holds. A text with
// no tag is false whatever the list held before.
bool collect_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out,
                        const attribute_names& names) {
  bool tagged = false;
  guarded([&] {
    std::vector<std::string> tags;
    if (!collect_angle_tags(text, length, tags)) return;
    tagged = true;
    std::string value;
    for (const std::string& tag : tags) {
      const auto n =
          static_cast<int32_t>(std::min<size_t>(tag.size(), std::numeric_limits<int32_t>::max()));
      for (const char* name : names) {
        if (!get_html_attribute(reinterpret_cast<const uint8_t*>(tag.data()), n, name, value))
          continue;
        out.push_back(value);
        break;
      }
    }
  });
  return tagged && !out.empty();
}

bool starts_with_icase(const std::wstring& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != static_cast<wchar_t>(prefix[i])) return false;
  }
  return true;
}

void split_markup_body(const uint8_t* bytes, uint32_t length, std::vector<std::wstring>& out) {
  const uint32_t count = length / 2;
  auto unit = [&](uint32_t i) { return static_cast<wchar_t>(load_le16(bytes + 2 * size_t{i})); };
  std::wstring run, tag;
  bool in_tag = false, raw = false;
  for (uint32_t i = 0; i < count; ++i) {
    const wchar_t c = unit(i);
    if (c == L'<') {
      const wchar_t next = i + 1 < count ? unit(i + 1) : L'\0';
      if (!raw) {
        out.push_back(run);
        run.clear();
        in_tag = true;
        raw = next == L'?' || next == L'%';  // such a block ends only at "?>" or "%>"
      } else if (next == L'/') {
        out.push_back(run);
        run.clear();
        in_tag = true;
        raw = false;
      }
    }
    (in_tag ? tag : run).push_back(c);
    if (c != L'>') continue;
    if (tag.empty()) {
      in_tag = false;
    } else if (raw) {
      const wchar_t before = i > 0 ? unit(i - 1) : L'\0';
      if (before != L'?' && before != L'%') continue;
      raw = false;
      out.push_back(tag);
      tag.clear();
      in_tag = false;
    } else {
      raw = starts_with_icase(tag, "<pre>") || starts_with_icase(tag, "<script");
      out.push_back(tag);
      tag.clear();
      in_tag = false;
    }
  }
}

bool matches_at(const uint8_t* bytes, size_t length, size_t at, const char* text) {
  const size_t n = std::strlen(text);
  return at <= length && length - at >= n && std::memcmp(bytes + at, text, n) == 0;
}

}  // namespace

std::string html_escape_text(const std::string& text) {
  static const std::vector<std::string> from = {"&", "<", ">", "\"", "'"};
  static const std::vector<std::string> to = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
  if (text.empty()) return std::string();
  return guarded([&] {
    std::string escaped;
    if (!escape_pieces(text, escaped, [&](const char* p, int32_t n, std::string& piece) {
          return escape_text(reinterpret_cast<const uint8_t*>(p), n, from, to, piece, false, false);
        }))
      escaped = text;
    std::string out;
    replace_all_copy(out, escaped, "\r\n", "<br />");
    return out;
  });
}

std::wstring html_escape_w(const std::wstring& text) {
  static const std::vector<std::wstring> from = {L"<", L">", L"&"};
  static const std::vector<std::wstring> to = {L"&lt;", L"&gt;", L"&amp;"};
  return guarded([&] {
    std::wstring out;
    if (!escape_pieces(text, out, [&](const wchar_t* p, int32_t n, std::wstring& piece) {
          return escape_text_w(p, n, from, to, piece, true, true);
        }))
      out = text;
    return out;
  });
}

bool collect_src_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out) {
  return collect_attributes(text, length, out, {"src"});
}

bool collect_href_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out) {
  return collect_attributes(text, length, out, {"href"});
}

bool collect_link_attributes(const uint8_t* text, uint32_t length, std::vector<std::string>& out) {
  return collect_attributes(text, length, out, {"href", "src"});
}

bool split_markup_w(const uint8_t* bytes, uint32_t length, std::vector<std::wstring>& out) {
  if (bytes) guarded([&] { split_markup_body(bytes, length, out); });
  return !out.empty();
}

bool looks_like_xml(const uint8_t* bytes, size_t length) {
  if (!bytes || length < 16) return false;
  if (matches_at(bytes, length, 0, "<?xml ve")) return true;
  if (!matches_at(bytes, length, 0, "<!--")) return false;
  bool comment = true;
  for (size_t at = 0; at < length;) {
    if (comment) {
      if (matches_at(bytes, length, at, "-->")) {
        at += 3;
        comment = false;
      } else {
        ++at;
      }
      continue;
    }
    if (bytes[at] != '\n') {
      if (matches_at(bytes, length, at, "<!--")) {
        at += 4;
        comment = true;
      } else if (matches_at(bytes, length, at, "<?xml ve")) {
        return true;
      }
    }
    ++at;
  }
  return false;
}

bool strip_xml_element_bytes(std::vector<uint8_t>& bytes, const char* tag) {
  if (!tag || bytes.empty()) return false;
  return guarded([&] {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
      // UTF-16LE: one wide character per unit behind the byte-order mark.
      const size_t units = (bytes.size() - 2) / 2;
      if (units > std::numeric_limits<uint32_t>::max() / sizeof(wchar_t)) return false;
      std::vector<wchar_t> wide(units);
      for (size_t i = 0; i < units; ++i)
        wide[i] = static_cast<wchar_t>(load_le16(bytes.data() + 2 + 2 * i));
      std::wstring wide_tag;
      widen_ascii(tag, wide_tag);
      auto length = static_cast<uint32_t>(units * sizeof(wchar_t));
      if (!strip_xml_element_w(wide.data(), length, wide_tag.c_str())) return false;
      const size_t kept = length / sizeof(wchar_t);
      if (kept == units) return false;
      // An odd last byte is no unit of the text; it stays at the end.
      const bool odd = (bytes.size() - 2) % 2 != 0;
      const uint8_t last = bytes.back();
      bytes.resize(2 + 2 * kept);
      for (size_t i = 0; i < kept; ++i)
        store_le16(bytes.data() + 2 + 2 * i, static_cast<uint16_t>(wide[i]));
      if (odd) bytes.push_back(last);
      return true;
    }
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) return false;
    auto length = static_cast<uint32_t>(bytes.size());
    if (!strip_xml_element(bytes.data(), length, tag)) return false;
    if (length == bytes.size()) return false;
    bytes.resize(length);
    return true;
  });
}

bool strip_xml_element_in_file(const char* in_path, const char* out_path, const char* tag) {
  if (!in_path || !tag) return false;
  return guarded([&] {
    std::vector<uint8_t> bytes;
    if (!read_file_capped(bytes, in_path, std::numeric_limits<uint32_t>::max())) return false;
    if (!strip_xml_element_bytes(bytes, tag)) return false;
    bool opened = false;
    return markup_io::write_whole(out_path ? out_path : in_path, bytes.data(), bytes.size(),
                                  opened);
  });
}

}  // namespace vk
