#include "shell/parse_ctx.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "cmdline/cmd_params.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"
#include "shell/propstore_layout.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vk {

bool debug_output_enabled(const parse_ctx& ctx) {
  return debug_output_enabled(ctx.debug_view());
}

void hexdump_limited(parse_ctx& ctx, const uint8_t* data, uint32_t size, uint64_t file_offset) {
  hexdump_limited(ctx.debug_view(), data, size, file_offset);
}

std::string item_type_name(uint8_t) {
  return "unk";
}

void skip_item_header(const uint8_t* item, parse_ctx& ctx) {
  reset_consumed(item, ctx);
  ctx.consumed = 3;
}

parse_ctx& mark_consumed_18(const uint8_t*, parse_ctx& ctx) {
  ctx.consumed = 18;
  return ctx;
}

int64_t variable_header_length(const uint8_t* data, int64_t available) {
  byte_view v(data, available > 0 ? static_cast<size_t>(available) : 0);
  auto flag = v.u8(3);
  if (flag && (*flag & 0x80)) return 4;
  auto n = v.u16(4);
  return n ? *n + 6 : 0;
}

// ---- guard ----

namespace {
// len * per_byte + base, saturated.
int64_t scaled_budget(int64_t input_length, int64_t per_byte, int64_t base) {
  const int64_t len = std::max<int64_t>(input_length, 0);
  const int64_t cap = (std::numeric_limits<int64_t>::max() - base) / per_byte;
  return std::min(len, cap) * per_byte + base;
}
}  // namespace

parse_guard::parse_guard(int64_t input_length)
    : m_budget(scaled_budget(input_length, k_units_per_byte, k_base_units)),
      m_filed_budget(scaled_budget(input_length, k_filed_bytes_per_byte, k_base_filed_bytes)) {}

bool parse_guard::charge_filed(int64_t bytes) {
  if (m_tripped) return false;
  if (bytes < 0) bytes = 0;
  if (bytes > m_filed_budget - m_filed) {
    m_tripped = true;
    return false;
  }
  m_filed += bytes;
  return true;
}

bool parse_guard::claim_range(const uint8_t* begin, const uint8_t* end) {
  if (m_tripped) return false;
  const auto b = reinterpret_cast<uintptr_t>(begin), e = reinterpret_cast<uintptr_t>(end);
  for (const auto& [cb, ce] : m_claimed)
    if (b < ce && cb < e) return false;
  m_claimed.emplace_back(b, e);
  return true;
}

parse_guard* guard_level::start(parse_ctx& ctx, int64_t input_length) {
  m_own.emplace(input_length);
  m_own->m_faults = ctx.space().faults;
  m_ctx = &ctx;
  ctx.guard = &*m_own;
  return ctx.guard;
}

void guard_level::finish() {
  m_ctx->guard = nullptr;
  if (m_ctx->filed_tally) *m_ctx->filed_tally += m_own->filed();
}

[[gnu::cold]] void guard_level::too_deep() const {
  if (m_guard->m_faults) m_guard->m_faults->add(parse_fault{"shell link", 0, k_fault_depth_limit});
}

bool guard_charge_filed(parse_guard* guard, int64_t bytes) {
  return guard ? guard->charge_filed(bytes) : true;
}

bool guard_claim_range(parse_guard* guard, const uint8_t* data, int64_t size) {
  if (!guard) return true;
  return guard->claim_range(data, data + std::max<int64_t>(size, 0));
}

// ---- strings ----

namespace {
// [start, end) clipped to the view; false when empty.
bool clip(byte_view view, int64_t start, int64_t& end) {
  int64_t size = static_cast<int64_t>(std::min<size_t>(view.size(), INT64_MAX));
  if (end > size) end = size;
  return start >= 0 && start < end;
}
}  // namespace

int64_t read_utf16(byte_view view, int64_t start, int64_t end, std::string& out) {
  return read_utf16(nullptr, view, start, end, out);
}

int64_t read_utf16(parse_guard* guard, byte_view view, int64_t start, int64_t end,
                   std::string& out) {
  if (!clip(view, start, end)) {
    out.clear();
    return 0;
  }
  const uint8_t* p = view.data() + start;
  const size_t bytes = static_cast<size_t>(end - start);
  const uint32_t taken = utf16_to_utf8(p, bytes, out, true);  // out cleared first
  // The work is charged as the units up to and with the terminator, whether
  // or not the bytes hold it; refused, the text is not given.
  const bool terminated = taken >= 2 && (p[taken - 2] | p[taken - 1]) == 0;
  if (!guard_charge(guard, static_cast<int64_t>(taken) + (terminated ? 0 : 2))) {
    out.clear();
    return 0;
  }
  return taken;
}

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves undefined keep their
// own value, as C1 controls.
constexpr uint16_t k_cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

void append_cp1252_as_utf8(std::string& out, const uint8_t* p, size_t n) {
  size_t i = ascii_run_end(p, 0, n);
  if (i == n) {
    out.append(reinterpret_cast<const char*>(p), n);
    return;
  }
  out.reserve(out.size() + n);
  out.append(reinterpret_cast<const char*>(p), i);
  while (i < n) {
    const uint8_t b = p[i++];
    const uint16_t c = b < 0xA0 ? k_cp1252_high[b - 0x80] : b;
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
    // The ASCII run behind it goes in at once.
    const size_t run = ascii_run_end(p, i, n);
    out.append(reinterpret_cast<const char*>(p + i), run - i);
    i = run;
  }
}

namespace {
// read_ansi for a text with a byte above 0x7F at n, before its NUL: apart, so
// that the common text's read keeps few registers.
[[gnu::noinline]] int64_t read_ansi_past_high_byte(parse_guard* guard, const uint8_t* p, size_t n,
                                                   size_t bytes, std::string& out) {
  const void* nul = std::memchr(p + n, 0, bytes - n);
  n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : bytes;
  if (!guard_charge(guard, static_cast<int64_t>(n + 1))) return 0;
  append_cp1252_as_utf8(out, p, n);
  return static_cast<int64_t>(n < bytes ? n + 1 : n);
}
}  // namespace

int64_t read_ansi(byte_view view, int64_t start, int64_t end, std::string& out) {
  return read_ansi(nullptr, view, start, end, out);
}

int64_t read_ansi(parse_guard* guard, byte_view view, int64_t start, int64_t end,
                  std::string& out) {
  out.clear();
  if (!clip(view, start, end)) return 0;
  const uint8_t* p = view.data() + start;
  const size_t bytes = static_cast<size_t>(end - start);
  const byte_view text(p, bytes);
  // Mostly ASCII up to the NUL: found in one pass eight bytes at a time,
  // the last few bytes one by one. n stops at the first NUL or high byte.
  size_t n = 0;
  bool stopped = false;
#ifdef __SSE2__
  // Most texts are short names with room behind them: sixteen bytes at once.
  if (__m128i v; text.block(0, v)) {
    const auto stops = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) | _mm_movemask_epi8(v));
    if (stops != 0) {
      n = static_cast<size_t>(std::countr_zero(stops));
      stopped = true;
    } else {
      n = 16;
    }
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t k_ones = 0x0101010101010101ull, k_high = 0x8080808080808080ull;
    for (uint64_t w; !stopped && text.block(n, w); n += 8) {
      const uint64_t stop = ((w - k_ones) & ~w & k_high) | (w & k_high);
      if (stop == 0) continue;
      // The lowest flagged byte is the first NUL or high byte.
      n += static_cast<size_t>(std::countr_zero(stop)) / 8;
      stopped = true;
      break;
    }
  }
  if (!stopped)
    while (n < bytes && p[n] != 0 && p[n] < 0x80) ++n;
  // All ASCII up to a NUL or the end; else the NUL lies past a high byte.
  if (n != bytes && p[n] != 0) return read_ansi_past_high_byte(guard, p, n, bytes, out);
  if (!guard_charge(guard, static_cast<int64_t>(n + 1))) return 0;
  out.append(reinterpret_cast<const char*>(p), n);
  return static_cast<int64_t>(n < bytes ? n + 1 : n);
}

// ---- tests ----

namespace {
byte_view view_of(const uint8_t* p, int64_t available) {
  return byte_view(p, p && available > 0 ? static_cast<size_t>(available) : 0);
}
// The type byte at 2 (and the byte behind it) of an item already sized.
uint8_t byte_at(const uint8_t* p, size_t at) {
  return view_of(p, at + 1).u8_or_zero(at);
}
}  // namespace

bool is_type_2e_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 20) && byte_at(p, 2) == 0x2E;
}

bool is_type_73_77_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 20) && (byte_at(p, 2) == 0x73 || byte_at(p, 2) == 0x77);
}

bool is_type_2c_item(const uint8_t* p, int64_t available) {
  if (!p || available < 42) return false;
  const byte_view v = view_of(p, available);
  return v.u16_or_zero(0) <= available && v.u8_or_zero(2) == 0x2C;
}

bool is_type_61_67_item(const uint8_t* p, int64_t available) {
  if (!sized_structure(p, available, 10)) return false;
  const uint8_t type = byte_at(p, 2), sub = byte_at(p, 3);
  return (type == 0x61 && sub == 0x80) || (type == 0x67 && sub == 0x45);
}

bool is_type_61_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 47) && byte_at(p, 2) == 0x61;
}

bool is_property_list_header(const uint8_t* p, int64_t available) {
  namespace pl = propstore::property_list;
  if (!p || available < static_cast<int64_t>(pl::header_size)) return false;
  const byte_view v = view_of(p, available);
  return v.u32_or_zero(pl::marker) == pl::marker_value && v.u32_or_zero(pl::nonzero) != 0;
}

bool is_sized_record_with_offsets(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 14, 16384);
  if (!size) return false;
  const byte_view v = view_of(p, available);
  const uint16_t a = v.u16_or_zero(4), b = v.u16_or_zero(12);
  return a != 0 && a <= available && a <= *size && b != 0 && b <= available && b <= a;
}

bool is_cfsf_header(const uint8_t* p, int64_t available) {
  if (!p || available < 53) return false;
  const byte_view v = view_of(p, available);
  const uint16_t size = v.u16_or_zero(0);
  if (size > 16384 || size + 32 > available) return false;
  if (v.u32_or_zero(2) != 0x46534643) return false;  // "CFSF"
  const uint16_t inner = v.u16_or_zero(6);
  return inner <= 16384 && inner <= size;
}

bool is_45177777_block(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 19);
  if (!size) return false;
  const byte_view v = view_of(p, available);
  return v.u16_or_zero(4) <= *size && v.u32_or_zero(6) == 0x45177777;
}

}  // namespace vk
