#include "foundation/vk_guid.h"

#include <algorithm>
#include <array>
#include <exception>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"

namespace vk {

// ---- byte blocks ----

bool bytes_equal(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool bytes_less(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  return n != 0 && std::memcmp(a.data(), b.data(), n) < 0;
}

bool bytes_are_text(const std::vector<uint8_t>& v) {
  if (v.empty()) return false;
  for (uint8_t c : v)
    if (!(c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 126))) return false;
  return true;
}

uint64_t le_bytes_to_u64(const uint8_t* p, size_t count) {
  if (!p || count == 0) return 0;
  const size_t n = std::min<size_t>(count, 8);
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

namespace {

// The W-byte little-endian value at off, only when the view holds it whole:
// each word scan below steps with this as its loop's test.
template <size_t W>
bool le_word(byte_view v, size_t off, uint64_t& out) {
  static_assert(W == 2 || W == 4 || W == 8);
  std::array<uint8_t, W> bytes;
  if (!v.block(off, bytes)) return false;
  if constexpr (W == 8)
    out = load_le64(bytes.data());
  else if constexpr (W == 4)
    out = load_le32(bytes.data());
  else
    out = load_le16(bytes.data());
  return true;
}

}  // namespace

uint64_t sum_u64_words(const uint8_t* p, size_t count) {
  if (!p || count == 0) return 0;
  const byte_view v(p, count);
  uint64_t sum = 0;
  size_t i = 0;
  for (uint64_t w; le_word<8>(v, i, w); i += 8) sum += w;
  for (; i < count; ++i) sum += p[i];
  return sum;
}

void resize_zeroed(std::vector<uint8_t>& v, size_t n) {
  vk::guarded([&] { v.assign(n, 0); },
              [&] {
                v.clear();
                v.shrink_to_fit();
              });
}
void resize_zeroed_32(std::vector<uint8_t>& v) {
  resize_zeroed(v, 32);
}
void resize_zeroed_20(std::vector<uint8_t>& v) {
  resize_zeroed(v, 20);
}
void resize_zeroed_16(std::vector<uint8_t>& v) {
  resize_zeroed(v, 16);
}

void assign_bytes(std::vector<uint8_t>& v, const uint8_t* p, size_t n) {
  resize_zeroed(v, n);
  if (p && n && v.size() == n) std::memcpy(v.data(), p, n);
}

void clear_byte_array(std::vector<uint8_t>& v) {
  v.clear();
}

bool host_is_little_endian() {
  const uint16_t bom = 0xFEFF;
  uint8_t first = 0;
  std::memcpy(&first, &bom, 1);
  return first == 0xFF;
}

void split_u64(uint64_t value, uint32_t& high, uint32_t& low) {
  high = static_cast<uint32_t>(value >> 32);
  low = static_cast<uint32_t>(value);
}

uint64_t make_u64(uint32_t high, uint32_t low, uint64_t& out) {
  out = (static_cast<uint64_t>(high) << 32) | low;
  return out;
}

// ---- signature searches ----

namespace {

// Plain or skip-table scan shared by the offset searches; calls emit(pos) for
// each match and stops when it returns false. Matches never overlap.
template <class Emit>
void scan_pattern(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                  bool skip_table, Emit emit) {
  const size_t last = len - pat_len;  // callers ensure pat_len <= len
  if (!skip_table) {
    size_t p = 0;
    while (p <= last) {
      // Jump to the next candidate first byte.
      const void* hit = std::memchr(buf + p, pat[0], last - p + 1);
      if (!hit) return;
      p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buf);
      if (std::memcmp(buf + p, pat, pat_len) == 0) {
        if (!emit(p)) return;
        p += pat_len;
      } else {
        ++p;
      }
    }
    return;
  }
  std::array<size_t, 256> shift;
  shift.fill(pat_len);
  for (size_t i = 0; i + 1 < pat_len; ++i) shift[pat[i]] = pat_len - 1 - i;
  size_t p = 0;
  while (p <= last) {
    size_t i = pat_len;
    while (i > 0 && buf[p + i - 1] == pat[i - 1]) --i;
    if (i == 0) {
      if (!emit(p)) return;
      if (pat_len > last - p) return;
      p += pat_len;
      continue;
    }
    const size_t s = shift[buf[p + pat_len - 1]];
    if (s > last - p) return;
    p += s;
  }
}

bool pattern_args_ok(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len) {
  return buf && pat && len && pat_len && pat_len <= len;
}

// Window/alignment rule of the aligned searches: alignment a power of two and
// a window no larger than it. Anything else would divide by zero or stall.
bool alignment_ok(size_t window, size_t align) {
  return align != 0 && (align & (align - 1)) == 0 && window <= align;
}

size_t next_aligned_position(size_t p, size_t window, size_t align) {
  if (window == 0) return (p | (align - 1)) + 1;  // p + 1 rounded up to a multiple of align
  if ((p & (align - 1)) + 1 < window) return p + 1;
  return (p | (align - 1)) + 1;
}

}  // namespace

bool find_pattern_offsets(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                          std::vector<uint64_t>& offsets, uint64_t base, bool skip_table,
                          bool stop_at_first) {
  offsets.clear();
  if (!pattern_args_ok(buf, len, pat, pat_len)) return false;
  vk::guarded([&] {
    scan_pattern(buf, len, pat, pat_len, skip_table, [&](size_t p) {
      offsets.push_back(base + p);
      return !stop_at_first;
    });
  });
  return !offsets.empty();
}

bool find_pattern_offset(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                         uint64_t& out, bool skip_table) {
  out = 0;
  if (!pattern_args_ok(buf, len, pat, pat_len)) return false;
  bool found = false;
  scan_pattern(buf, len, pat, pat_len, skip_table, [&](size_t p) {
    out = p;
    found = true;
    return false;
  });
  return found;
}

bool find_all_bytes(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                    std::vector<uint32_t>& offsets, bool skip_table, bool stop_at_first) {
  offsets.clear();
  if (!pattern_args_ok(buf, len, pat, pat_len)) return false;
  // Offsets are 32-bit: no match is looked for at a position they cannot
  // express, rather than recording a wrapped, wrong offset.
  if (len - pat_len > 0xFFFFFFFFu) len = 0xFFFFFFFFu + pat_len;
  vk::guarded([&] {
    scan_pattern(buf, len, pat, pat_len, skip_table, [&](size_t p) {
      offsets.push_back(static_cast<uint32_t>(p));
      return !stop_at_first;
    });
  });
  return !offsets.empty();
}

bool find_last_pattern(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                       size_t window, uint64_t& out) {
  out = 0;
  if (!pattern_args_ok(buf, len, pat, pat_len) || window == 0) return false;
  // A window wider than the buffer starts the scan at position 0, never before it.
  const size_t lowest = window >= len ? 0 : len - window;
  for (size_t p = len - pat_len + 1; p-- > lowest;) {
    if (std::memcmp(buf + p, pat, pat_len) == 0) {
      out = p;
      return true;
    }
  }
  return false;
}

bool find_pattern_aligned(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                          const uint8_t* pat, size_t pat_len, size_t window, size_t align,
                          bool stop_at_first) {
  if (!pattern_args_ok(buf, len, pat, pat_len) || !alignment_ok(window, align)) return false;
  const size_t end = len - pat_len + 1;  // every position at which the pattern fits
  // Out of memory partway, the offsets found so far stand.
  return vk::guarded(
      [&] {
        for (size_t p = 0; p < end; p = next_aligned_position(p, window, align)) {
          if (buf[p] == pat[0] && std::memcmp(buf + p, pat, pat_len) == 0) {
            offsets.push_back(p);
            if (stop_at_first) return true;
          }
        }
        return !offsets.empty();
      },
      [&] { return !offsets.empty(); });
}

bool find_patterns_aligned(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                           std::vector<uint32_t>& indexes,
                           const std::vector<std::vector<uint8_t>>& patterns, size_t window,
                           size_t align, bool stop_at_first) {
  offsets.clear();
  indexes.clear();
  if (!buf || len == 0 || patterns.empty() || !alignment_ok(window, align)) return false;
  return vk::guarded(
      [&] {
        for (size_t p = 0; p < len; p = next_aligned_position(p, window, align)) {
          const size_t left = len - p;
          for (size_t k = 0; k < patterns.size(); ++k) {
            const auto& pat = patterns[k];
            // An empty pattern would "match" everywhere; it is never reported.
            if (pat.empty() || pat.size() > left) continue;
            if (std::memcmp(buf + p, pat.data(), pat.size()) == 0) {
              offsets.push_back(p);
              indexes.push_back(static_cast<uint32_t>(k));
              if (stop_at_first) return true;
              break;
            }
          }
        }
        return !indexes.empty();
      },
      [&] { return !indexes.empty(); });
}

namespace {

template <size_t W, class T>
bool find_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets, T value,
                  size_t stride, bool stop_at_first) {
  if (!buf || len < W || stride < W) return false;
  const byte_view v(buf, len);
  const size_t step = stride / W * W;
  vk::guarded([&] {
    uint64_t w;
    for (size_t at = 0; le_word<W>(v, at, w); at += step) {
      if (w == value) {
        offsets.push_back(at);
        if (stop_at_first) break;
      }
      if (step > len - at) break;
    }
  });
  return !offsets.empty();
}

}  // namespace

bool find_u64_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint64_t value, size_t stride, bool stop_at_first) {
  return find_strided<8>(buf, len, offsets, value, stride, stop_at_first);
}

bool find_u32_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint32_t value, size_t stride, bool stop_at_first) {
  return find_strided<4>(buf, len, offsets, value, stride, stop_at_first);
}

bool find_u16_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint16_t value, size_t stride) {
  return find_strided<2>(buf, len, offsets, value, stride, false);
}

bool find_u64_any4(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets, uint64_t value,
                   bool stop_at_first) {
  if (!buf || len < 4) return false;
  const byte_view v(buf, len);
  vk::guarded([&] {
    uint64_t w;
    for (size_t p = 0; le_word<8>(v, p, w); p += 4) {
      if (w == value) {
        offsets.push_back(p);
        if (stop_at_first) break;
      }
    }
  });
  return !offsets.empty();
}

bool find_nonzero_blocks(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                         size_t block_size, bool stop_after_first_block, uint64_t base) {
  offsets.clear();
  const size_t bs = block_size < 512 ? 512 : block_size;
  if (!buf || len == 0 || len < bs) return false;
  const size_t blocks = stop_after_first_block ? 1 : len / bs;
  const byte_view v(buf, len);
  vk::guarded([&] {
    for (size_t b = 0; b < blocks; ++b) {
      const byte_view block = v.clamp(b * bs, bs);
      uint64_t w;
      for (size_t off = 0; le_word<8>(block, off, w); off += 8) {
        if (w != 0) {
          offsets.push_back(base + b * bs + off);
          break;
        }
      }
    }
  });
  return true;
}

// ---- printable text runs ----

namespace {

bool is_leading_punct(uint8_t c) {
  return (c >= 32 && c <= 46) || (c >= 58 && c <= 64) || (c >= 92 && c <= 96) ||
         (c >= 124 && c <= 126);
}

bool is_run_char(uint8_t c, bool also_tab_cr_lf) {
  return (c >= 32 && c <= 126) || (also_tab_cr_lf && (c == '\t' || c == '\r' || c == '\n'));
}

// Adds c to the run unless it is a blank (or, with skip_punct, leading
// punctuation) that would start it.
void add_run_char(std::string& run, uint8_t c, bool skip_punct) {
  if (run.empty() && (c == ' ' || (skip_punct && is_leading_punct(c)))) return;
  run.push_back(static_cast<char>(c));
}

// Records a run of at least min_len characters with its start; an empty run
// is never recorded, whatever the minimum. False when memory ran out; the two
// lists then stay as they were, the same length.
bool keep_run(std::vector<std::string>& texts, std::vector<uint64_t>& offsets,
              const std::string& run, size_t min_len, uint64_t start) {
  if (run.empty() || run.size() < min_len) return true;
  return vk::guarded([&] {
    offsets.push_back(start);
    try {
      texts.push_back(run);
    } catch (...) {
      offsets.pop_back();
      throw;
    }
    return true;
  });
}

}  // namespace

bool extract_utf16_strings(const uint8_t* buf, size_t len, size_t min_len,
                           std::vector<std::string>& texts, std::vector<uint64_t>& offsets,
                           bool also_tab_cr_lf, bool skip_leading_punct) {
  texts.clear();
  offsets.clear();
  if (!buf || len < 1) return false;
  return vk::guarded([&] {
    std::string run;
    size_t p = 0;
    while (p + 1 < len) {
      const uint8_t c = buf[p];
      if (buf[p + 1] == 0 && is_run_char(c, also_tab_cr_lf)) {
        add_run_char(run, c, skip_leading_punct);
        p += 2;
        continue;
      }
      if (!keep_run(texts, offsets, run, min_len, p - 2 * run.size())) return false;
      run.clear();
      ++p;  // one byte only, so a run at an odd offset is still found
    }
    return keep_run(texts, offsets, run, min_len, p - 2 * run.size());
  });
}

bool extract_ascii_strings(const uint8_t* buf, size_t len, size_t min_len,
                           std::vector<std::string>& texts, std::vector<uint64_t>& offsets,
                           bool also_tab_cr_lf, bool skip_leading_punct) {
  texts.clear();
  offsets.clear();
  if (!buf || len < 1) return false;
  return vk::guarded([&] {
    std::string run;
    bool substantive = false;  // holds something other than blank, CR and LF
    for (size_t p = 0; p < len; ++p) {
      const uint8_t c = buf[p];
      if (is_run_char(c, also_tab_cr_lf)) {
        const size_t before = run.size();
        add_run_char(run, c, skip_leading_punct);
        if (run.size() != before && c != ' ' && c != '\r' && c != '\n') substantive = true;
        continue;
      }
      if (substantive && !keep_run(texts, offsets, run, min_len, p - run.size())) return false;
      run.clear();
      substantive = false;
    }
    return keep_run(texts, offsets, run, min_len, len - run.size());
  });
}

}  // namespace vk
