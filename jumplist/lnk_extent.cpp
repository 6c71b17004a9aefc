#include "jumplist/lnk_extent.h"

#include <algorithm>
#include <bit>

#include "jumplist/extra_data.h"
#include "jumplist/jumplist_kernels.h"
#include "jumplist/lnk_layout.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vk {
namespace {

namespace L = lnk_layout;

// More than the parts of any LinkInfo take: its two paths at 32,767 UTF-16
// characters and two 8-bit copies come to about 200 KiB.
constexpr uint32_t k_most_link_info = uint32_t{1} << 20;

// The walk's position and how it ended, when it has.
class extent_walk {
 public:
  extent_walk(byte_view link, uint64_t cap, bool tests)
      : m_link(link), m_cap(cap), m_tests(tests) {}

  // True when count bytes at the position are there to read; otherwise the
  // walk ends open (or capped) needing them.
  bool readable(uint64_t count) {
    const uint64_t want = m_at + count;
    if (want > m_cap) return finish(lnk_extent::end::capped, m_cap);
    if (want <= m_link.size()) return true;
    m_result.at_boundary = m_may_end && m_at == m_link.size();
    return finish(lnk_extent::end::open, want);
  }
  // Steps over a structure of size bytes.
  bool skip(uint64_t size) {
    m_at += size;
    if (m_at > m_cap) return finish(lnk_extent::end::capped, m_cap);
    return true;
  }
  bool finish(lnk_extent::end how, uint64_t size) {
    m_result.how = how;
    m_result.size = size;
    m_result.useful = size;
    return false;
  }
  // A capped walk's structure at start reaching past the cap gives a parser
  // no more than its first useful bytes.
  void useful_of_capped(uint64_t start, uint64_t useful) {
    if (m_result.how == lnk_extent::end::capped) m_result.useful = std::min(m_cap, start + useful);
  }
  uint64_t at() const { return m_at; }
  // From here on the link may end where the bytes do (its terminal block
  // missing); before, every structure its flags announce must be there.
  void may_end() { m_may_end = true; }
  // The bytes held from off after the position on.
  uint64_t held_after(uint64_t off) const {
    return m_at + off < m_link.size() ? m_link.size() - m_at - off : 0;
  }
  // The bytes at off after the position; only held_after(off) of them.
  const uint8_t* bytes(uint64_t off) const { return m_link.data() + m_at + off; }
  uint16_t u16(uint64_t off) const { return m_link.u16_or_zero(m_at + off); }
  uint32_t u32(uint64_t off) const { return m_link.u32_or_zero(m_at + off); }
  const lnk_extent& result() const { return m_result; }
  // The structure at the position fails its own test; the first such is kept.
  void implausible() {
    if (plausible()) m_result.implausible_at = m_at;
  }
  bool plausible() const { return m_result.implausible_at == lnk_extent::k_plausible; }
  // The structures are still to be tested: asked for, and none failed yet.
  bool testing() const { return m_tests && plausible(); }

 private:
  byte_view m_link;
  uint64_t m_cap;
  bool m_tests;
  uint64_t m_at = 0;
  bool m_may_end = false;
  lnk_extent m_result;
};

// The items of an ID list of list bytes at off: item sizes step from one to
// the next and the chain ends in the two-byte terminator within the list.
// A list too short for the terminator holds nothing to test.
bool items_end_in_terminator(const extent_walk& w, uint64_t off, uint64_t list) {
  if (list < L::idlist::terminator_size) return true;
  for (uint64_t at = 0; at + L::idlist::terminator_size <= list;) {
    const uint16_t item = w.u16(off + at);
    if (item == 0) return true;
    if (item < L::idlist::terminator_size) return false;
    at += item;
  }
  return false;
}

// Every part a LinkInfo of header and size bytes names lies after its
// header and inside it (an offset of 0 names no part).
bool offsets_inside(const extent_walk& w, uint32_t header, uint32_t size) {
  namespace I = L::link_info;
  const size_t short_offsets[] = {I::volume_id_offset, I::local_base_path_offset,
                                  I::network_link_offset, I::common_path_suffix_offset};
  const size_t long_offsets[] = {I::local_base_path_offset_unicode,
                                 I::common_path_suffix_offset_unicode};
  auto inside = [&](size_t field) {
    const uint32_t at = w.u32(field);
    return at == 0 || (at >= header && at < size);
  };
  for (size_t field : short_offsets)
    if (!inside(field)) return false;
  if (header >= I::long_header_size)
    for (size_t field : long_offsets)
      if (!inside(field)) return false;
  return true;
}

// The text of count characters of unit bytes at off decodes, as far as the
// bytes hold it: in UTF-16 no surrogate outside a pair and no U+FFFE or
// U+FFFF, which no text holds; in an 8-bit text no control byte but NUL,
// tab and line ends, as binary bytes hold within a few. Characters the
// bytes do not hold yet are left to the walk that has them. Eight bytes are
// tested at once for any unit that may fail; only those that may are looked
// at one by one.
[[gnu::always_inline]] inline bool text_decodes(const extent_walk& w, uint64_t off, uint64_t count,
                                                uint64_t unit) {
  const uint64_t held = std::min(count, w.held_after(off) / unit);
  if (held == 0) return true;
  const uint8_t* const p = w.bytes(off);
  const byte_view text(p, held * unit);
  const uint64_t words = held * unit / 8;
  if (unit == 1) {
    auto control = [](uint8_t c) {
      return c < 0x20 && c != 0 && c != '\t' && c != '\n' && c != '\r';
    };
    uint64_t x;
    for (uint64_t k = 0; text.block(8 * k, x); ++k) {
      // Non-zero when a byte is below 0x20 (which one is left to the bytes).
      if (((x - 0x2020202020202020ull) & ~x & 0x8080808080808080ull) == 0) continue;
      for (uint64_t i = 8 * k; i < 8 * k + 8; ++i)
        if (control(p[i])) return false;
    }
    for (uint64_t i = 8 * words; i < held; ++i)
      if (control(p[i])) return false;
    return true;
  }
  // Units of a high byte below 0xD8 are neither surrogates nor U+FFFE/F; the
  // pairs and the rest are followed unit by unit from the first word that
  // holds one.
  uint64_t i = 0;
#ifdef __SSE2__
  const __m128i below = _mm_set1_epi16(0xD7);
  auto high_units = [&](__m128i v) { return _mm_cmpgt_epi16(_mm_srli_epi16(v, 8), below); };
  // Sixteen units a step while none is high; the step of eight then finds
  // the group that holds one.
  // (The text's blocks are whole units, so a block it holds lies within its
  // words.)
  for (__m128i v[2]; text.block(2 * i, v); i += 16)
    if (_mm_movemask_epi8(_mm_or_si128(high_units(v[0]), high_units(v[1]))) != 0) break;
  for (__m128i v; text.block(2 * i, v); i += 8)
    if (_mm_movemask_epi8(high_units(v)) != 0) break;
#endif
  for (uint64_t x; text.block(2 * i, x); i += 4) {
    if constexpr (std::endian::native != std::endian::little) x = load_le64(p + 2 * i);
    const uint64_t high = (x >> 8) & 0x00FF00FF00FF00FFull;
    if (((high + 0x0028002800280028ull) & 0x0100010001000100ull) != 0) break;
  }
  bool want_low = false;
  for (; i < held; ++i) {
    const uint16_t c = load_le16(p + 2 * i);
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (low != want_low || c >= 0xFFFE) return false;
    want_low = high;
  }
  return !want_low || held < count;
}

bool walk_structures(extent_walk& w) {
  if (!w.readable(L::header::size)) return false;
  const uint32_t flags = w.u32(L::header::flags);
  w.skip(L::header::size);
  if (flags & L::flag::has_idlist) {
    if (!w.readable(2)) return false;
    const uint64_t list = w.u16(0);
    if (!w.readable(2 + list)) return false;
    if (w.testing() && !items_end_in_terminator(w, 2, list)) w.implausible();
    w.skip(2 + list);
  }
  if (flags & L::flag::has_link_info) {
    namespace I = L::link_info;
    if (!w.readable(I::fixed_size)) return false;
    const uint32_t size = w.u32(I::size), header = w.u32(I::header_size);
    const bool header_allowed = header == I::fixed_size || header >= I::long_header_size;
    if (w.testing() && (!header_allowed || header > size || size > k_most_link_info))
      w.implausible();
    // Offsets the bytes do not hold read as 0 (no part): the test never
    // ends the walk, which steps alike tested or not.
    if (w.testing() && !offsets_inside(w, header, size)) w.implausible();
    // As the parser reads it: a LinkInfo smaller than its fixed part, or of
    // a negative header size, takes no room.
    const bool steps = size >= I::fixed_size && static_cast<int32_t>(header) >= 0;
    const uint64_t start = w.at();
    if (steps && !w.skip(size)) {
      w.useful_of_capped(start, k_most_link_info);
      return false;
    }
  }
  const uint64_t unit = (flags & L::flag::is_unicode) ? 2 : 1;
  for (uint32_t flag : {L::flag::has_name, L::flag::has_relative_path, L::flag::has_working_dir,
                        L::flag::has_arguments, L::flag::has_icon_location}) {
    if (!(flags & flag)) continue;
    if (!w.readable(L::string_data::chars)) return false;
    const uint64_t count = w.u16(L::string_data::count);
    if (w.testing() && !text_decodes(w, L::string_data::chars, count, unit)) w.implausible();
    if (!w.skip(L::string_data::chars + unit * count)) return false;
  }
  // Every block steps at least its header, so the loop ends within the bytes.
  namespace B = L::block;
  w.may_end();
  for (;;) {
    if (!w.readable(B::terminal_size)) return false;
    const uint32_t size = w.u32(B::size);
    if (size < B::terminal_size) {
      // A size zeroed before the signature of a kind of one fixed size: the
      // parser reads the block by its kind's size.
      const uint32_t own = fixed_block_size(w.u32(B::signature));
      if (own == 0) return w.finish(lnk_extent::end::terminal, w.at() + B::terminal_size);
      if (!w.skip(own)) return false;
      continue;
    }
    if (size < B::header_size) {
      // No size to step by: the link reaches as far as the BlockSize.
      w.implausible();
      return w.finish(lnk_extent::end::damaged, w.at() + B::terminal_size);
    }
    if (!w.readable(B::header_size)) return false;
    // A block of any signature is stepped over by its size, as the parser does.
    const uint64_t start = w.at();
    if (!w.skip(size)) {
      w.useful_of_capped(start, B::header_size);
      return false;
    }
  }
}

}  // namespace

lnk_extent declared_lnk_extent(byte_view link, uint64_t cap, bool tests) {
  extent_walk w(link, cap, tests);
  walk_structures(w);
  return w.result();
}

bool could_be_link_header(byte_view header) {
  namespace H = L::header;
  // LinkFlags above KeepLocalIDListForUNCTarget (bit 26) are defined by no
  // version of the format.
  constexpr uint32_t k_undefined_flags = 0xF8000000;
  // ShowWindow refuses commands above SW_FORCEMINIMIZE.
  constexpr uint32_t k_last_show_command = 11;
  // The HotKey's high byte holds the HOTKEYF_ modifier bits alone.
  constexpr uint16_t k_hotkey_modifiers = 0x0F00;
  if (header.u32_or_zero(H::flags) & k_undefined_flags) return false;
  if (header.u32_or_zero(H::show_cmd) > k_last_show_command) return false;
  return (header.u16_or_zero(H::hotkey) & ~k_hotkey_modifiers & 0xFF00) == 0;
}

bool text_decodes_for_test(byte_view bytes, uint64_t count, uint64_t unit) {
  return text_decodes(extent_walk(bytes, UINT64_MAX, true), 0, count, unit);
}

}  // namespace vk
