#include "jumplist/source_text.h"

#include <cstdint>
#include <cstring>

#include "cmdline/path_alias.h"
#include "foundation/vk_string.h"

namespace vk {

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

namespace {

bool plain_ascii(std::string_view text) {
  return ascii_run_end(reinterpret_cast<const uint8_t*>(text.data()), 0, text.size()) ==
         text.size();
}

// The shown text of the last source path, kept in the run's workspace.
struct source_text_cache {
  std::string path, text;
  bool made = false;
};

}  // namespace

// The source path as the reports show it is the same for every record of a
// file: a plain ASCII path shows as it stands; any other text is made once
// and kept while the path stays (and no alias applies).
const std::string& shown_source_text(const lnk::useropts& o) {
  const bool plain = o.m_aliases.empty() && o.m_alias_paths.empty();
  // A plain ASCII path is its own text.
  if (plain && plain_ascii(o.m_source_path)) return o.m_source_path;
  source_text_cache& cache = o.work().part<source_text_cache>();
  if (plain && cache.made && cache.path == o.m_source_path) return cache.text;
  cache.made = false;
  cache.text.clear();
  append_utf8_or_escaped(cache.text, o.m_source_path);
  if (!plain) {
    std::string aliased;
    const std::string& shown = apply_path_alias(o, aliased, cache.text);
    if (&shown != &cache.text) cache.text = shown;
  }
  cache.path = o.m_source_path;
  cache.made = plain;
  return cache.text;
}

std::string record_source_text(const lnk::useropts& options) {
  return shown_source_text(options);
}

}  // namespace vk
