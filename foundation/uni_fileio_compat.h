// Temporary stand-ins for shared text routines not yet in the tree.
#pragma once

#include <cstdint>
#include <string>

namespace uni::compat {

static inline bool trim_ws(std::string& s) {
  if (s.empty()) return false;
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) {
    s.clear();
    return false;
  }
  size_t e = s.find_last_not_of(ws);
  s = s.substr(b, e - b + 1);
  return true;
}

static inline bool strip_trailing_slashes_wide(std::wstring& p) {
  while (!p.empty() && (p.back() == L'/' || p.back() == L'\\')) p.pop_back();
  return !p.empty();
}

static inline std::wstring from_utf8(const std::string& s) {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra;
    uint32_t cp;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return L"";
    }
    if (i + extra >= s.size() && extra > 0) return L"";
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return L"";
      cp = (cp << 6) | (d & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += 1 + extra;
  }
  return out;
}

static inline std::string to_utf8(const std::wstring& w) {
  std::string out;
  for (wchar_t wc : w) {
    uint32_t v = static_cast<uint32_t>(wc);
    if (v < 0x80) {
      out.push_back(static_cast<char>(v));
    } else if (v < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (v >> 6)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else if (v < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (v >> 12)));
      out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else if (v <= 0x10FFFF) {
      out.push_back(static_cast<char>(0xF0 | (v >> 18)));
      out.push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else {
      break;
    }
  }
  return out;
}

static inline bool utf16le_bytes_to_utf8(const uint8_t* p, size_t len, std::string& out) {
  if (len < 2) return false;
  out.clear();
  size_t n = len / 2;
  std::wstring w;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= n) return false;
      uint32_t l = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (l < 0xDC00 || l > 0xDFFF) return false;
      u = 0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00);
      ++i;
    }
    w.push_back(static_cast<wchar_t>(u));
  }
  out = to_utf8(w);
  return true;
}

}  // namespace uni::compat
