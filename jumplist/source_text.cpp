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

bool no_alias(const lnk::useropts& o) {
  return o.m_aliases.empty() && o.m_alias_paths.empty();
}

}  // namespace

// The source path as the reports show it is the same for every record of a
// file: a plain ASCII path shows as it stands; any other text is made once
// when the path is set and kept in the run's scratch.
void set_source_path(lnk::useropts& o, const std::string& path) {
  o.m_source_path = path;
  shown_source& made = o.m_scratch.source;
  made.made = false;
  if (no_alias(o) && plain_ascii(path)) return;
  made.text.clear();
  append_utf8_or_escaped(made.text, path);
  if (!no_alias(o)) {
    std::string aliased;
    const std::string& shown = apply_path_alias(o, aliased, made.text);
    if (&shown != &made.text) made.text = shown;
  }
  made.path = path;
  made.made = true;
}

const std::string& shown_source_text(const lnk::useropts& o) {
  const shown_source& made = o.m_scratch.source;
  if (made.made && made.path == o.m_source_path) return made.text;
  return o.m_source_path;
}

std::string record_source_text(const lnk::useropts& options) {
  return shown_source_text(options);
}

}  // namespace vk
