#include "foundation/vk_unicode.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vk {

namespace {

// Length-unknown UTF-16 text stops after this many units.
constexpr size_t k_unterminated_unit_limit = 500;

bool is_high_surrogate(uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

uint32_t join_surrogates(uint32_t high, uint32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Appends the UTF-8 form of v; false (nothing appended) above 0x10FFFF.
bool append_utf8(std::string& out, uint32_t v) {
  if (v < 0x80) {
    out.push_back(static_cast<char>(v));
  } else if (v < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | (v >> 6)), static_cast<char>(0x80 | (v & 0x3F))};
    out.append(b, 2);
  } else if (v < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | (v >> 12)),
                       static_cast<char>(0x80 | ((v >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (v & 0x3F))};
    out.append(b, 3);
  } else if (v <= 0x10FFFF) {
    const char b[4] = {
        static_cast<char>(0xF0 | (v >> 18)), static_cast<char>(0x80 | ((v >> 12) & 0x3F)),
        static_cast<char>(0x80 | ((v >> 6) & 0x3F)), static_cast<char>(0x80 | (v & 0x3F))};
    out.append(b, 4);
  } else {
    return false;
  }
  return true;
}

// Strict UTF-8 structure walk: emit(code point) for each sequence. False at
// the first stray or cut sequence (what was emitted before stays).
template <class Emit>
bool walk_utf8(const std::string& in, Emit&& emit) {
  const auto* p = reinterpret_cast<const uint8_t*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    uint32_t cp;
    size_t more;
    if (b < 0x80) {
      cp = b;
      more = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      more = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      more = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      more = 3;
    } else {
      return false;
    }
    if (more > n - i - 1) return false;
    for (size_t k = 1; k <= more; ++k) {
      const uint8_t c = p[i + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    emit(cp);
    i += more + 1;
  }
  return true;
}

// Strict UTF-16 walk over n units read by unit(i): pairs joined, a lone low
// surrogate passed through, a high surrogate without a low partner -> false.
template <class Unit, class Emit>
bool walk_utf16(size_t n, Unit&& unit, Emit&& emit) {
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = unit(i);
    if (is_high_surrogate(u)) {
      if (i + 1 >= n) return false;
      const uint32_t low = unit(i + 1);
      if (!is_low_surrogate(low)) return false;
      emit(join_surrogates(u, low));
      ++i;
    } else {
      emit(u);
    }
  }
  return true;
}

// Unit readers: little-endian bytes at any alignment, or a unit vector.
auto le_units(const uint8_t* p) {
  return [p](size_t i) -> uint32_t { return load_le16(p + 2 * i); };
}
auto vector_units(const std::vector<uint16_t>& v) {
  return [&v](size_t i) -> uint32_t { return v[i]; };
}

// U+FFFD, the replacement character, for a unit that is half of no pair.
constexpr uint32_t k_replacement = 0xFFFD;

// Decoding of UTF-16 text inside parsed structures: the units are taken
// under the limit up to the first zero unit; pairs are joined and a
// surrogate that is half of no pair becomes U+FFFD, so that the text always
// has a well-formed UTF-8 form. Returns the number of units taken.
template <class Emit>
size_t decode_struct_utf16(const uint8_t* p, size_t limit, Emit&& emit) {
  const auto unit = le_units(p);
  size_t n = 0;
  while (n < limit && unit(n) != 0) ++n;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = unit(i);
    if (is_high_surrogate(u) && i + 1 < n && is_low_surrogate(unit(i + 1))) {
      emit(join_surrogates(u, unit(i + 1)));
      ++i;
    } else {
      emit(is_high_surrogate(u) || is_low_surrogate(u) ? k_replacement : u);
    }
  }
  return n;
}

// Four ASCII units of w (each below 0x80) packed into the low four bytes.
inline uint32_t pack_ascii4(uint64_t w) {
  w = (w | (w >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<uint32_t>(w | (w >> 16));
}

// Eight units at off as two host words holding the little-endian values;
// false, when the view does not hold them all.
inline bool load_units8(byte_view v, size_t off, uint64_t& a, uint64_t& b) {
  if (!v.block(off, a) || !v.block(off + 8, b)) return false;
  if constexpr (std::endian::native != std::endian::little) {
    a = load_le64(v.data() + off);
    b = load_le64(v.data() + off + 8);
  }
  return true;
}

constexpr uint64_t k_high_bits = 0xFF80FF80FF80FF80ull;  // any unit at or above 0x80
constexpr uint64_t k_seven_f = 0x007F007F007F007Full;
constexpr uint64_t k_bit7 = 0x0080008000800080ull;
constexpr uint64_t k_unit_ones = 0x0001000100010001ull;

// Where the first of W units from q (a block of the caller's) is zero or not ASCII; W when none is.
// Per four-unit word, a unit that is zero or at or above 0x80 sets a high
// bit of its own after the subtraction; the lowest one set is exact, as no
// unit below it borrows.
template <size_t W>
inline size_t first_stop(const uint8_t* q) {
  static_assert(W % 4 == 0);
#ifdef __SSE2__
  if constexpr (std::endian::native == std::endian::little && W % 8 == 0 && W <= 16) {
    // A unit from 1 to 0x7F is one less than 0x7F at most: its saturated
    // difference from 0x7E is zero.
    const __m128i one = _mm_set1_epi16(1), top = _mm_set1_epi16(0x7E), zero = _mm_setzero_si128();
    uint32_t ascii = 0;
    for (size_t j = 0; j < W / 8; ++j) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * j));
      const __m128i ok = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, one), top), zero);
      ascii |= static_cast<uint32_t>(_mm_movemask_epi8(ok)) << (16 * j);
    }
    constexpr uint32_t all = W >= 16 ? ~uint32_t{0} : (uint32_t{1} << (2 * W)) - 1;
    if (ascii == all) return W;
    return static_cast<size_t>(std::countr_one(ascii)) / 2;
  }
#endif
  uint64_t stops[W / 4];
  uint64_t any = 0;
  for (size_t j = 0; j < W / 4; ++j) {
    uint64_t w;
    if constexpr (std::endian::native == std::endian::little)
      std::memcpy(&w, q + 8 * j, 8);
    else
      w = load_le64(q + 8 * j);
    stops[j] = ((w - k_unit_ones) | w) & k_high_bits;
    any |= stops[j];
  }
  if (any == 0) return W;
  for (size_t j = 0;; ++j)
    if (stops[j]) return 4 * j + static_cast<size_t>(std::countr_zero(stops[j])) / 16;
}

// The low bytes of W units from q (a block of the caller's), which are the units when they are
// ASCII.
template <size_t W>
inline void narrow_units(const uint8_t* q, char* to) {
#ifdef __SSE2__
  if constexpr (std::endian::native == std::endian::little && W % 8 == 0) {
    // Saturation keeps an ASCII unit as it is; the others are not taken.
    for (size_t j = 0; j < W / 8; ++j) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * j));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 8 * j), _mm_packus_epi16(v, v));
    }
    return;
  }
#endif
  uint16_t units[W];
  std::memcpy(units, q, sizeof(units));
  char bytes[W];
  for (size_t j = 0; j < W; ++j) {
    if constexpr (std::endian::native == std::endian::little)
      bytes[j] = static_cast<char>(units[j]);
    else
      bytes[j] = static_cast<char>(units[j] >> 8);
  }
  std::memcpy(to, bytes, W);
}

// The common case of decode_struct_utf16 for a text of at least W whole
// units: ASCII units only, W at a time into a small buffer appended when
// full; the last units are read as the W that end at the limit (those before
// them again). False, out to be cleared, for a text with any other unit.
template <size_t W>
[[gnu::always_inline]] inline bool ascii_run_to_utf8(const uint8_t* p, size_t limit,
                                                     std::string& out, size_t& taken) {
  constexpr size_t k_room = 256;
  char buf[k_room];
  // Each block of W units is loaded from the text once, whole.
  const byte_view v(p, 2 * limit);
  alignas(16) uint8_t q[2 * W];
  // The first block, whole by the caller's limit, ends most texts.
  if (!v.block(0, q)) return false;
  const size_t first = first_stop<W>(q);
  if (first < W && (q[2 * first] | q[2 * first + 1]) != 0) return false;
  narrow_units<W>(q, buf);
  if (first < W) {
    out.append(buf, first);
    taken = first;
    return true;
  }
  size_t i = W, k = W;
  for (;;) {
    size_t seen = 0;
    size_t at = i;
    if (i + W > limit) {
      if (i == limit) break;
      // The last block is the W units that end at the limit; the seen ones
      // (before i) are ASCII, not zero and in the buffer, which keeps its
      // last W bytes, and are written again over themselves.
      seen = i - (limit - W);
      at = limit - W;
    }
    if (!v.block(2 * at, q)) return false;
    const size_t stop = first_stop<W>(q);
    if (stop < W && (q[2 * stop] | q[2 * stop + 1]) != 0) return false;
    narrow_units<W>(q, buf + k - seen);
    i += stop - seen;
    k += stop - seen;
    if (stop < W || seen != 0) break;
    if (k > k_room - W) {
      out.append(buf, k - W);
      std::memmove(buf, buf + k - W, W);
      k = W;
    }
  }
  out.append(buf, k);
  taken = i;
  return true;
}

// A text of 1 to 16 whole units that is ASCII up to its zero unit or the
// limit (most names and values), in one step: the units are copied into a
// zeroed block of sixteen, so that the first unit that is zero or not ASCII
// is found at or before the limit. False, nothing appended, for any other.
[[gnu::always_inline]] inline bool short_ascii_utf16_to_utf8(const uint8_t* p, size_t limit,
                                                             std::string& out, size_t& taken) {
#ifdef __SSE2__
  if constexpr (std::endian::native == std::endian::little) {
    alignas(16) uint8_t units[32] = {};
    const size_t b = 2 * limit;
    // Two copies of fixed size that overlap cover any length, with no call.
    if (b >= 16) {
      std::memcpy(units, p, 16);
      std::memcpy(units + b - 16, p + b - 16, 16);
    } else if (b >= 8) {
      std::memcpy(units, p, 8);
      std::memcpy(units + b - 8, p + b - 8, 8);
    } else if (b >= 4) {
      std::memcpy(units, p, 4);
      std::memcpy(units + b - 4, p + b - 4, 4);
    } else {
      std::memcpy(units, p, 2);
    }
    const size_t stop = first_stop<16>(units);
    if (stop < limit && (units[2 * stop] | units[2 * stop + 1]) != 0) return false;
    alignas(16) char text[16];
    narrow_units<16>(units, text);
    out.append(text, stop);
    taken = stop;
    return true;
  }
#endif
  (void)p, (void)limit, (void)out, (void)taken;
  return false;
}

// ascii_run_to_utf8 for any text: a short one or one of unknown length (a
// buffer that need only hold its terminator, at most 500 units) unit by unit.
[[gnu::always_inline]] inline bool ascii_struct_utf16_to_utf8(const uint8_t* p, size_t limit,
                                                              bool whole_units, std::string& out,
                                                              size_t& taken) {
  if (whole_units && limit >= 16) return ascii_run_to_utf8<16>(p, limit, out, taken);
  if (whole_units && limit >= 8) return ascii_run_to_utf8<8>(p, limit, out, taken);
  char buf[k_unterminated_unit_limit];
  size_t i = 0;
  for (; i < limit && i < sizeof(buf); ++i) {
    const uint32_t u = load_le16(p + 2 * i);
    if (u == 0) break;
    if (u >= 0x80) return false;
    buf[i] = static_cast<char>(u);
  }
  if (i == sizeof(buf)) return false;
  out.append(buf, i);
  taken = i;
  return true;
}

// decode_struct_utf16 into UTF-8 in one pass, into a small buffer appended
// when full. Eight units at a time while they are ASCII (the terminator found
// inside such a block ends the text there); any other unit is encoded on its
// own. A text of unknown length (a buffer that need only hold its
// terminator) is read unit by unit. Returns the number of units taken.
size_t struct_utf16_to_utf8(const uint8_t* p, size_t limit, bool whole_units, std::string& out) {
  constexpr size_t k_room = 256;
  // A text of unknown length is read unit by unit only.
  const byte_view v(p, whole_units ? 2 * limit : 0);
  char buf[k_room];
  size_t i = 0;
  size_t k = 0;
  while (i < limit) {
    if (k > k_room - 32) {
      out.append(buf, k);
      k = 0;
    }
    uint64_t a, b;
    if (whole_units && load_units8(v, 2 * i, a, b)) {
      if (((a | b) & k_high_bits) == 0) {
        // Every unit is below 0x80: adding 0x7F sets bit 7 of each one not zero.
        const uint64_t za = ~(a + k_seven_f) & k_bit7, zb = ~(b + k_seven_f) & k_bit7;
        const uint64_t packed = pack_ascii4(a) | (uint64_t{pack_ascii4(b)} << 32);
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(buf + k, &packed, 8);
        } else {
          for (int j = 0; j < 8; ++j) buf[k + j] = static_cast<char>(packed >> (8 * j));
        }
        if ((za | zb) == 0) {
          k += 8;
          i += 8;
          continue;
        }
        const size_t n = za ? std::countr_zero(za) / 16 : 4 + std::countr_zero(zb) / 16;
        k += n;
        i += n;
        break;
      }
    }
    // Up to eight units one by one.
    const size_t stop = i + 8 < limit ? i + 8 : limit;
    bool ended = false;
    while (i < stop) {
      uint32_t u = load_le16(p + 2 * i);
      if (u < 0x80) {
        if (u == 0) {
          ended = true;
          break;
        }
        buf[k++] = static_cast<char>(u);
        ++i;
      } else if (u < 0x800) {
        buf[k++] = static_cast<char>(0xC0 | (u >> 6));
        buf[k++] = static_cast<char>(0x80 | (u & 0x3F));
        ++i;
      } else {
        // A pair's low half may lie past this block of eight, never past
        // the limit: a zero unit there is not a low half.
        const uint32_t next =
            is_high_surrogate(u) && i + 1 < limit ? load_le16(p + 2 * (i + 1)) : 0;
        if (is_low_surrogate(next)) {
          u = join_surrogates(u, next);
          buf[k++] = static_cast<char>(0xF0 | (u >> 18));
          buf[k++] = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
          buf[k++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
          buf[k++] = static_cast<char>(0x80 | (u & 0x3F));
          i += 2;
          continue;
        }
        if (is_high_surrogate(u) || is_low_surrogate(u)) u = k_replacement;
        buf[k++] = static_cast<char>(0xE0 | (u >> 12));
        buf[k++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        buf[k++] = static_cast<char>(0x80 | (u & 0x3F));
        ++i;
      }
    }
    if (ended) break;
  }
  out.append(buf, k);
  return i;
}

// Strict UTF-8 decoding into a wide text or a code-point vector.
template <class Out>
bool decode_utf8(const std::string& in, Out& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    return walk_utf8(
        in, [&out](uint32_t cp) { out.push_back(static_cast<typename Out::value_type>(cp)); });
  });
}

// UTF-8 encoding of code points or wide characters (read unsigned, so a
// negative wchar_t is above the range and stops it).
template <class Seq>
bool encode_utf8(const Seq& in, std::string& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (const auto v : in) {
      if (!append_utf8(out, static_cast<uint32_t>(v))) return false;
    }
    return true;
  });
}

// Strict UTF-16 decoding of n units read by unit(i), into UTF-8 or into
// code points.
template <class Unit>
bool utf16_units_to_utf8(size_t n, Unit&& unit, std::string& out) {
  out.clear();
  return guarded([&] {
    out.reserve(n + 256);
    return walk_utf16(n, unit, [&out](uint32_t cp) { append_utf8(out, cp); });
  });
}

template <class Unit>
bool utf16_units_to_code_points(size_t n, Unit&& unit, std::vector<uint32_t>& out) {
  out.clear();
  return guarded([&] {
    out.reserve(n);
    return walk_utf16(n, unit, [&out](uint32_t cp) { out.push_back(cp); });
  });
}

size_t unit_limit(int32_t byte_length) {
  if (byte_length == -1) return k_unterminated_unit_limit;
  if (byte_length < 2) return 0;
  return static_cast<size_t>(byte_length) / 2;
}

int32_t clamp_length(size_t bytes_remaining) {
  return bytes_remaining > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(bytes_remaining);
}

// Inlined into each form, the bounded one above all, which every parser's
// names come through.
[[gnu::always_inline]] inline uint32_t utf16_to_utf8_impl(const void* text, std::string& out,
                                                          int32_t byte_length,
                                                          bool count_terminator,
                                                          bool sized = false) {
  // The sized form knows its length: it reads whole units and makes no test
  // for a text of unknown length.
  out.clear();
  if (text == nullptr || (sized ? byte_length < 2 : byte_length == 0)) return 0;
  const auto* p = static_cast<const uint8_t*>(text);
  size_t n = 0;
  try {
    const size_t limit = sized ? static_cast<size_t>(byte_length) / 2 : unit_limit(byte_length);
    const bool whole_units = sized || byte_length != -1;
    const bool short_text = sized ? limit <= 16 : whole_units && limit >= 1 && limit <= 16;
    if (!(short_text && short_ascii_utf16_to_utf8(p, limit, out, n)) &&
        !ascii_struct_utf16_to_utf8(p, limit, whole_units, out, n)) {
      out.clear();
      n = struct_utf16_to_utf8(p, limit, whole_units, out);
    }
  } catch (...) {
    out.clear();
    return 0;
  }
  const auto consumed = static_cast<uint32_t>(2 * n);
  if (count_terminator && consumed != 0 &&
      static_cast<int64_t>(consumed) + 2 <= static_cast<int64_t>(byte_length)) {
    return consumed + 2;
  }
  return consumed;
}

uint32_t utf16_to_wide_impl(const void* text, std::wstring& out, int32_t byte_length) {
  out.clear();
  if (text == nullptr || byte_length == 0) return 0;
  const auto* p = static_cast<const uint8_t*>(text);
  return vk::guarded(
      [&] {
        const size_t n = decode_struct_utf16(p, unit_limit(byte_length), [&out](uint32_t cp) {
          out.push_back(static_cast<wchar_t>(cp));
        });
        return static_cast<uint32_t>(2 * n);
      },
      [&] {
        out.clear();
        return 0;
      });
}

}  // namespace

// ---------------------------------------------------------------------------
// UTF-16 text inside parsed structures
// ---------------------------------------------------------------------------

uint32_t utf16_to_utf8(const void* text, size_t bytes_remaining, std::string& out,
                       bool count_terminator) {
  // Every parser's names come through here.
  return utf16_to_utf8_impl(text, out, clamp_length(bytes_remaining), count_terminator, true);
}

std::string utf16_to_utf8(const void* text, size_t bytes_remaining) {
  std::string out;
  utf16_to_utf8_impl(text, out, clamp_length(bytes_remaining), true);
  return out;
}

uint32_t utf16_to_wide(const void* text, size_t bytes_remaining, std::wstring& out) {
  return utf16_to_wide_impl(text, out, clamp_length(bytes_remaining));
}

uint32_t utf16_to_wide(const uint16_t* text, std::wstring& out, int32_t byte_length) {
  return utf16_to_wide_impl(text, out, byte_length);
}

uint32_t utf16_to_utf8(const uint16_t* text, std::string& out, int32_t byte_length,
                       bool count_terminator) {
  return utf16_to_utf8_impl(text, out, byte_length, count_terminator);
}

std::string& utf16_to_utf8(const uint16_t* text, std::string& out) {
  out.clear();
  utf16_to_utf8_impl(text, out, -1, true);
  return out;
}

std::string utf16_to_utf8(const uint16_t* text) {
  std::string out;
  utf16_to_utf8_impl(text, out, -1, true);
  return out;
}

std::string guid_to_string(const guid& g) {
  std::string out;
  guid_to_string(out, &g);
  return out;
}

bool guid_to_string(std::string& out, const guid* g) {
  out.clear();
  if (g == nullptr) return false;
  return guarded([&] {
    append_guid_text(out, *g);
    return true;
  });
}

namespace {
// Each byte's two hex digits from one table entry.
constexpr auto k_pairs = [] {
  std::array<char, 512> t{};
  const char digits[] = "0123456789abcdef";
  for (size_t b = 0; b < 256; ++b) {
    t[2 * b] = digits[b >> 4];
    t[2 * b + 1] = digits[b & 15];
  }
  return t;
}();
}  // namespace

void write_guid_text(char (&text)[36], const guid& g) {
  // "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x" by table: reports
  // print several GUIDs per record.
  static constexpr uint8_t k_order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr uint8_t k_at[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
  text[8] = text[13] = text[18] = text[23] = '-';
  for (size_t i = 0; i < 16; ++i)
    std::memcpy(text + k_at[i], &k_pairs[2 * size_t{g.m_bytes[k_order[i]]}], 2);
}

bool write_droid_mac_text(char (&text)[17], const guid& g) {
  if ((g.m_bytes[7] >> 4) != 1) return false;
  for (size_t i = 0; i < 6; ++i) {
    std::memcpy(text + 3 * i, &k_pairs[2 * size_t{g.m_bytes[10 + i]}], 2);
    if (i < 5) text[3 * i + 2] = ':';
  }
  return true;
}

void append_guid_text(std::string& out, const guid& g) {
  char text[36];
  write_guid_text(text, g);
  out.append(text, sizeof(text));
}

// ---------------------------------------------------------------------------
// Core decoders and encoders
// ---------------------------------------------------------------------------

bool utf8_decode_to_wide(const std::string& in, std::wstring& out) {
  return decode_utf8(in, out);
}

bool utf8_to_wide(const std::string& in, std::wstring& out) {
  if (in.empty()) {
    out.clear();
    return false;
  }
  return utf8_decode_to_wide(in, out);
}

std::wstring from_utf8(const std::string& in) {
  std::wstring out;
  if (!utf8_decode_to_wide(in, out)) return std::wstring();
  return out;
}

bool code_points_to_utf8(const std::vector<uint32_t>& in, std::string& out) {
  return encode_utf8(in, out);
}

bool wide_encode_to_utf8(const std::wstring& in, std::string& out) {
  // Encoded straight from the characters: the same result as going through a
  // code-point vector, without the copy.
  return encode_utf8(in, out);
}

bool wide_to_utf8(const std::wstring& in, std::string& out) {
  if (in.empty()) {
    out.clear();
    return false;
  }
  return wide_encode_to_utf8(in, out);
}

std::string to_utf8(const std::wstring& in) {
  std::string out;
  wide_encode_to_utf8(in, out);
  return out;
}

bool utf16le_bytes_to_utf8(const void* units, int64_t length_bytes, std::string& out) {
  if (length_bytes == 0 || length_bytes == 1) return false;
  if (length_bytes < 0) {
    out.clear();
    return true;
  }
  if (units == nullptr) return false;
  return utf16_units_to_utf8(static_cast<size_t>(length_bytes) / 2,
                             le_units(static_cast<const uint8_t*>(units)), out);
}

bool utf16_vector_to_utf8(const std::vector<uint16_t>& in, std::string& out) {
  if (in.empty()) {
    out.clear();
    return false;
  }
  return utf16_units_to_utf8(in.size(), vector_units(in), out);
}

bool utf8_to_code_points(const std::string& in, std::vector<uint32_t>& out) {
  return decode_utf8(in, out);
}

bool code_points_to_utf16(const std::vector<uint32_t>& in, std::vector<uint16_t>& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (uint32_t v : in) {
      if (v < 0xD800 || (v >= 0xE000 && v <= 0xFFFF)) {
        out.push_back(static_cast<uint16_t>(v));
      } else if (v >= 0x10000 && v <= 0x10FFFF) {
        out.push_back(static_cast<uint16_t>(0xD800 + ((v - 0x10000) >> 10)));
        out.push_back(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        return false;
      }
    }
    return true;
  });
}

bool utf8_to_utf16_vector(const std::string& in, std::vector<uint16_t>& out) {
  out.clear();
  std::vector<uint32_t> cps;
  if (!utf8_to_code_points(in, cps)) return false;
  return code_points_to_utf16(cps, out);
}

// ---------------------------------------------------------------------------
// Derived forms
// ---------------------------------------------------------------------------

bool utf8_bytes_to_wide(const std::vector<uint8_t>& in, std::wstring& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] { return utf8_decode_to_wide(std::string(in.begin(), in.end()), out); });
}

std::wstring utf8_bytes_to_wide_text(const std::vector<uint8_t>& in) {
  std::wstring out;
  if (!utf8_bytes_to_wide(in, out)) return std::wstring();
  return out;
}

bool utf8_bytes_to_utf16_vector(const std::vector<uint8_t>& in, std::vector<uint16_t>& out) {
  out.clear();
  std::wstring wide;
  if (!utf8_bytes_to_wide(in, wide)) return false;
  return guarded([&] {
    std::vector<uint32_t> cps(wide.begin(), wide.end());
    return code_points_to_utf16(cps, out);
  });
}

bool utf16_vector_to_wide(const std::vector<uint16_t>& in, std::wstring& out) {
  out.clear();
  std::string utf8;
  if (!utf16_vector_to_utf8(in, utf8)) return false;
  return utf8_decode_to_wide(utf8, out) && !out.empty();
}

bool utf16_vector_to_utf8_bytes(const std::vector<uint16_t>& in, std::vector<uint8_t>& out) {
  out.clear();
  std::string utf8;
  if (!utf16_vector_to_utf8(in, utf8)) return false;
  return guarded([&] {
    out.assign(utf8.begin(), utf8.end());
    return true;
  });
}

std::string utf16_vector_to_utf8_string(const std::vector<uint16_t>& in) {
  std::string out;
  if (!utf16_vector_to_utf8(in, out)) return std::string();
  return out;
}

bool utf16_to_code_points(const std::vector<uint16_t>& in, std::vector<uint32_t>& out) {
  return utf16_units_to_code_points(in.size(), vector_units(in), out);
}

bool utf16le_bytes_to_code_points(const std::vector<uint8_t>& in, std::vector<uint32_t>& out) {
  out.clear();
  if (in.empty() || in.size() % 2 != 0) return false;
  return utf16_units_to_code_points(in.size() / 2, le_units(in.data()), out);
}

bool bytes_to_utf16_units(const void* buf, size_t length, std::vector<uint16_t>& out) {
  out.clear();
  if (buf == nullptr || length == 0) return false;
  const auto* p = static_cast<const uint8_t*>(buf);
  return guarded([&] {
    out.resize(length / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = load_le16(p + 2 * i);
    return true;
  });
}

bool byte_vector_to_utf16_units(const std::vector<uint8_t>& in, std::vector<uint16_t>& out) {
  out.clear();
  if (in.empty()) return false;
  return bytes_to_utf16_units(in.data(), in.size(), out);
}

bool utf16le_string_to_utf8(const std::string& in, std::string& out) {
  out.clear();
  if (in.size() < 2) return false;
  return utf16le_bytes_to_utf8(in.data(), static_cast<int64_t>(in.size()), out);
}

bool wide_to_utf8_bytes(const std::wstring& in, std::vector<uint8_t>& out) {
  out.clear();
  std::string utf8;
  if (!wide_to_utf8(in, utf8)) return false;
  return guarded([&] {
    out.assign(utf8.begin(), utf8.end());
    return true;
  });
}

bool wide_to_utf16_units_truncating(const std::wstring& in, std::vector<uint16_t>& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (wchar_t c : in) out.push_back(static_cast<uint16_t>(static_cast<uint32_t>(c) & 0xFFFF));
    return true;
  });
}

bool code_points_to_wide(const std::vector<uint32_t>& in, std::wstring& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (uint32_t v : in) out.push_back(static_cast<wchar_t>(v));
    return true;
  });
}

bool utf8_list_to_wide(const std::vector<std::string>& in, std::vector<std::wstring>& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (const auto& s : in) out.push_back(from_utf8(s));
    return true;
  });
}

bool wide_to_utf8_list(const std::vector<std::wstring>& in, std::vector<std::string>& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size());
    for (const auto& s : in) out.push_back(to_utf8(s));
    return true;
  });
}

std::string char_vector_to_string(const std::vector<char>& in) {
  return vk::guarded([&] { return std::string(in.begin(), in.end()); });
}

bool string_to_char_vector(const std::string& in, std::vector<char>& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.assign(in.begin(), in.end());
    return true;
  });
}

bool latin1_string_to_utf8(const std::string& in, std::string& out) {
  out.clear();
  if (in.empty()) return false;
  return guarded([&] {
    out.reserve(in.size() * 2);
    for (char c : in) {
      const auto b = static_cast<uint8_t>(c);
      if (b < 0x80) {
        out.push_back(c);
      } else {
        out.push_back(static_cast<char>(0xC0 + (b >> 6)));
        out.push_back(static_cast<char>(0x80 + (b & 0x3F)));
      }
    }
    return true;
  });
}

size_t utf8_char_count(const std::string& in) {
  size_t count = 0;
  if (!walk_utf8(in, [&count](uint32_t) { ++count; })) return 0;
  return count;
}

}  // namespace vk
