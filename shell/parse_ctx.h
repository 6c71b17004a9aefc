// The context every shell-item parser receives, the guard that bounds one
// top-level parse, the bounded string readers, and the small size-and-
// signature tests that every structure passes before any field is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_parse_debug.h"

namespace vk {

struct parse_ctx {
  uint8_t debug = 0;
  uint64_t offset = 0;                   // file offset of the structure being parsed
  std::ostream* debug_stream = nullptr;  // not owned
  uint32_t consumed = 0;                 // bytes the last parser read

  void clear() {
    debug = 0;
    offset = 0;
    debug_stream = nullptr;
    consumed = 0;
  }
  // The debug switch and stream in the form the library dump writers take.
  parse_debug debug_view() const { return parse_debug{debug_stream, debug != 0}; }
};

bool debug_output_enabled(const parse_ctx& ctx);
// Hex dump of the bytes to the debug stream, when debug output is enabled.
void hexdump_limited(parse_ctx& ctx, const uint8_t* data, uint32_t size, uint64_t file_offset);

std::string item_type_name(uint8_t type);
// Inline: every item parser starts with it.
inline void reset_consumed(const uint8_t*, parse_ctx& ctx) {
  ctx.consumed = 0;
}
void skip_item_header(const uint8_t* item, parse_ctx& ctx);
parse_ctx& mark_consumed_18(const uint8_t* item, parse_ctx& ctx);
// 4 when bit 7 of the byte at 3 is set, else the u16 at 4 plus 6; needs 6 bytes.
int64_t variable_header_length(const uint8_t* data, int64_t available);

// ---------------------------------------------------------------------------
// The parse guard.
//
// Shell-item parsers call each other recursively (walks, dispatches, scans,
// storages, stream values), and hostile bytes can make that deep or
// exponentially wide. One guard bounds a whole top-level parse: at most
// k_max_depth nested levels, at most k_units_per_byte work units per byte of
// the top-level input, and at most k_filed_bytes_per_byte bytes filed into
// property values per byte of it. Values may claim windows that overlap
// (each further value of a storage may run to the storage's end), so what
// they copy is charged as it is filed, not only their number. The guard also
// remembers the byte ranges of the special streams expanded, so that no byte
// is expanded twice. It lives beside the thread, not in parse_ctx, so that a
// parser which makes a fresh context still sees it. Once tripped it stays
// tripped until the top-level parse ends; nested parsers then return false
// or 0 and what was decoded stays.
// ---------------------------------------------------------------------------
class parse_guard {
 public:
  static constexpr int k_max_depth = 32;
  static constexpr int64_t k_units_per_byte = 64;
  static constexpr int64_t k_base_units = 1024;
  static constexpr int64_t k_filed_bytes_per_byte = 2;
  static constexpr int64_t k_base_filed_bytes = 1024;
  // The work units of one filed record, beside the bytes it copies: as much
  // as one byte of input allows, so that records never outnumber the bytes.
  static constexpr int64_t k_units_per_filed_record = k_units_per_byte;

  explicit parse_guard(int64_t input_length);
  bool charge(int64_t units) {
    if (m_tripped) return false;
    if (units < 0) units = 0;
    if (units > m_budget - m_used) {
      m_used = m_budget;
      m_tripped = true;
      return false;
    }
    m_used += units;
    return true;
  }
  // Charges bytes about to be filed; trips the guard when they do not fit.
  bool charge_filed(int64_t bytes);
  // Records [begin, end) as expanded; false when it overlaps a range
  // recorded before (or the guard is tripped).
  bool claim_range(const uint8_t* begin, const uint8_t* end);
  size_t claimed_ranges() const { return m_claimed.size(); }
  // Keeps a buffer parsed during the parse (a copy that ranges were claimed
  // in) until the parse ends, so that its bytes' addresses are not reused.
  void keep(std::string&& buffer) { m_kept.push_back(std::move(buffer)); }
  bool tripped() const { return m_tripped; }
  int64_t budget() const { return m_budget; }
  int64_t used() const { return m_used; }
  int64_t filed_budget() const { return m_filed_budget; }
  int64_t filed() const { return m_filed; }
  int depth() const { return m_depth; }

 private:
  friend class guard_level;
  int64_t m_budget;
  int64_t m_used = 0;
  int64_t m_filed_budget;
  int64_t m_filed = 0;
  std::vector<std::pair<uintptr_t, uintptr_t>> m_claimed;
  std::vector<std::string> m_kept;
  int m_depth = 0;
  bool m_tripped = false;
};

// The guard of the parse running on this thread, or null. Read inline: every
// item and text charges it.
extern constinit thread_local parse_guard* t_active_parse_guard;
inline parse_guard* active_parse_guard() {
  return t_active_parse_guard;
}

// One nested level (a walk, dispatch, scan, storage or stream expansion).
// The outermost level starts the guard for an input of input_length bytes;
// inner levels join it. False (test with !) when the level may not run:
// too deep, or the work bound is spent. Entering charges one unit.
class guard_level {
 public:
  explicit guard_level(int64_t input_length) {
    m_guard = t_active_parse_guard ? t_active_parse_guard : start(input_length);
    ++m_guard->m_depth;
    m_ok = m_guard->m_depth <= parse_guard::k_max_depth && m_guard->charge(1);
  }
  ~guard_level() {
    --m_guard->m_depth;
    if (m_own) t_active_parse_guard = nullptr;
  }
  guard_level(const guard_level&) = delete;
  guard_level& operator=(const guard_level&) = delete;
  explicit operator bool() const { return m_ok; }

 private:
  // The outermost level's own guard, made the thread's.
  parse_guard* start(int64_t input_length);
  std::optional<parse_guard> m_own;
  parse_guard* m_guard = nullptr;
  bool m_ok = false;
};

// Charges work, filed bytes (the bytes of the input copied or converted
// into a filed value), or an expanded range to the active guard; true when
// there is none or it holds.
inline bool guard_charge(int64_t units) {
  return t_active_parse_guard ? t_active_parse_guard->charge(units) : true;
}
bool guard_charge_filed(int64_t bytes);
bool guard_claim_range(const uint8_t* data, int64_t size);
// The bytes filed under every guard of this thread so far.
int64_t filed_bytes_total();

// ---------------------------------------------------------------------------
// String readers over view[start, end): end is clipped to the view, and an
// empty or negative range reads nothing (never an "unbounded" budget). They
// return the bytes taken (the terminator counted when it lies inside).
// ---------------------------------------------------------------------------
int64_t read_utf16(byte_view view, int64_t start, int64_t end, std::string& out);
// 8-bit text up to its NUL, read as Windows-1252 and given as UTF-8 (the
// count is of the bytes read). Every 8-bit text of the input comes through
// here, so that every report is UTF-8.
int64_t read_ansi(byte_view view, int64_t start, int64_t end, std::string& out);
// The n bytes as Windows-1252 text, appended as UTF-8.
void append_cp1252_as_utf8(std::string& out, const uint8_t* p, size_t n);

// ---------------------------------------------------------------------------
// Small structure tests: (first byte, bytes available) -> passes.
// ---------------------------------------------------------------------------
bool is_type_2e_item(const uint8_t* p, int64_t available);
bool is_type_73_77_item(const uint8_t* p, int64_t available);
bool is_type_2c_item(const uint8_t* p, int64_t available);
bool is_type_61_67_item(const uint8_t* p, int64_t available);
bool is_type_61_item(const uint8_t* p, int64_t available);
bool is_property_list_header(const uint8_t* p, int64_t available);
bool is_sized_record_with_offsets(const uint8_t* p, int64_t available);
bool is_cfsf_header(const uint8_t* p, int64_t available);
bool is_45177777_block(const uint8_t* p, int64_t available);

// The u16 size at 0 when available >= min_size, min_size <= size <=
// available and size <= max_size; otherwise nothing. Inline: every item and
// block test starts with it.
inline std::optional<uint16_t> sized_structure(const uint8_t* p, int64_t available,
                                               int64_t min_size, int64_t max_size = 0xFFFF) {
  if (!p || available < min_size || available < 2) return std::nullopt;
  const uint16_t size = byte_view(p, static_cast<size_t>(available)).u16_or_zero(0);
  if (size < min_size || size > available || size > max_size) return std::nullopt;
  return size;
}

}  // namespace vk
