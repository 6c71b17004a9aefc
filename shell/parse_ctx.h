// The context every shell-item parser receives, the guard that bounds one
// top-level parse, the bounded string readers, and the small size-and-
// signature tests that every structure passes before any field is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_parse_debug.h"
#include "shell/shell_scratch.h"

namespace vk {

class cmd_params;
class parse_guard;
struct shell_item_record;

// Takes a walk's first records, in order, as one run; the walk then files
// its next items into the same records again.
struct item_run_sink {
  virtual void take(shell_item_record* records, size_t count) = 0;

 protected:
  ~item_run_sink() = default;
};

struct parse_ctx {
  uint8_t debug = 0;
  // Off: add_item_property takes every value through parse_typed_value,
  // not its single-value path (the tests compare the two).
  bool single_value_path = true;
  uint64_t offset = 0;                   // file offset of the structure being parsed
  std::ostream* debug_stream = nullptr;  // not owned
  uint32_t consumed = 0;                 // bytes the last parser read
  // The guard of the top-level parse running with this context, or null;
  // set by its outermost guard_level. A context made for a nested parse
  // takes it over, so that the whole parse keeps one budget.
  parse_guard* guard = nullptr;
  // Where the outermost level adds the bytes its guard let be filed, or
  // null (tests bound them).
  int64_t* filed_tally = nullptr;
  // The scratch the parse's routines reuse: the one the caller hands down
  // (the run's), or else the context's own, kept for the context's life.
  shell_scratch* scratch = nullptr;
  // Where the next walk entered with this context says where it stopped,
  // or null: nowhere. Set for one call by faults_to, whose sink it lands
  // in; the walk takes it (take_stop).
  parse_fault* stop = nullptr;
  // Set for one call: the next walk entered with this context keeps no
  // record of an item that holds nothing its texts show (a list only its
  // path and details are made of), so that tiny items cost no record each.
  // The walk takes it (clears it on entry).
  bool text_records_only = false;
  // Set with it, for one call: where the walk hands its kept records on
  // every so many, so that a list of many items that show holds a run of
  // records, not one per item. The walk takes it too.
  item_run_sink* item_runs = nullptr;

  // Resets the structure state; the guard and the tally stay with the parse.
  void clear() {
    debug = 0;
    offset = 0;
    debug_stream = nullptr;
    consumed = 0;
  }
  // The debug switch and stream in the form the library dump writers take.
  parse_debug debug_view() const { return parse_debug{debug_stream, debug != 0}; }
  // The scratch in use: the one handed down, else the context's own.
  shell_scratch& space() { return scratch ? *scratch : m_own_scratch; }

 private:
  shell_scratch m_own_scratch;
};

// guarded, a failure also said in the sink of the context's scratch, where
// the parse's caller reads it.
template <class F, class OnFailure>
auto guarded(parse_ctx& ctx, F&& f, OnFailure&& on_failure) noexcept -> std::invoke_result_t<F&> {
  return guarded(std::forward<F>(f), [&]() -> decltype(auto) {
    note_out_of_memory(ctx.space());
    return on_failure();
  });
}

// A walk entry takes the slot its stop is said in first thing: the
// caller's own fault when one was passed, else the context's stop (set by
// faults_to for one call), which it takes, so that walks nested in it with
// the same context say nothing of their own and each stop is said once.
inline parse_fault* take_stop(parse_ctx& ctx, parse_fault* caller) noexcept {
  if (caller) return caller;
  parse_fault* const slot = ctx.stop;
  ctx.stop = nullptr;
  return slot;
}

// For its scope, the walk entered next with ctx says where it stopped in
// sink, its offsets counted from base (where its data lies in the sink's).
class faults_to {
 public:
  faults_to(parse_ctx& ctx, fault_sink& sink, uint64_t base) noexcept
      : m_ctx(ctx), m_sink(sink), m_base(base) {
    ctx.stop = &m_fault;
  }
  ~faults_to() {
    m_ctx.stop = nullptr;
    // A walk left by a throw (memory) has its cause said by whoever catches.
    if (!m_fault || std::uncaught_exceptions() != 0) return;
    m_fault.offset += m_base;
    m_sink.add(m_fault);
  }
  faults_to(const faults_to&) = delete;
  faults_to& operator=(const faults_to&) = delete;

 private:
  parse_ctx& m_ctx;
  fault_sink& m_sink;
  uint64_t m_base;
  parse_fault m_fault;
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
// is expanded twice, and whether one is being expanded. The context carries
// it (parse_ctx::guard); read routines without a context take it as a
// parameter. Once tripped it stays
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
  // Special streams being expanded: one met inside another stays plain.
  int expanding() const { return m_expanding; }
  // Where a level refused for depth is said: the sink of the scratch that
  // started the guard (null: nowhere).
  fault_sink* faults() const { return m_faults; }

 private:
  friend class guard_level;
  friend class stream_expansion;
  int64_t m_budget;
  int64_t m_used = 0;
  int64_t m_filed_budget;
  int64_t m_filed = 0;
  std::vector<std::pair<uintptr_t, uintptr_t>> m_claimed;
  std::vector<std::string> m_kept;
  fault_sink* m_faults = nullptr;
  int m_depth = 0;
  int m_expanding = 0;
  bool m_tripped = false;
};

// Marks a special stream as being expanded under the guard for its scope.
class stream_expansion {
 public:
  explicit stream_expansion(parse_guard& guard) : m_guard(guard) { ++m_guard.m_expanding; }
  ~stream_expansion() { --m_guard.m_expanding; }
  stream_expansion(const stream_expansion&) = delete;
  stream_expansion& operator=(const stream_expansion&) = delete;

 private:
  parse_guard& m_guard;
};

// One nested level (a walk, dispatch, scan, storage or stream expansion).
// The outermost level starts the guard for an input of input_length bytes
// and hands it to the context; inner levels join the context's guard. False
// (test with !) when the level may not run: too deep, or the work bound is
// spent. Entering charges one unit.
class guard_level {
 public:
  guard_level(parse_ctx& ctx, int64_t input_length) {
    m_guard = ctx.guard ? ctx.guard : start(ctx, input_length);
    ++m_guard->m_depth;
    m_ok = m_guard->m_depth <= parse_guard::k_max_depth && m_guard->charge(1);
    // A level too deep to enter leaves what it holds unread: said, as a
    // spent budget is by the parse's owner.
    if (!m_ok && m_guard->m_depth > parse_guard::k_max_depth) too_deep();
  }
  ~guard_level() {
    --m_guard->m_depth;
    if (m_own) finish();
  }
  guard_level(const guard_level&) = delete;
  guard_level& operator=(const guard_level&) = delete;
  explicit operator bool() const { return m_ok; }

 private:
  // The outermost level's own guard, made the context's.
  parse_guard* start(parse_ctx& ctx, int64_t input_length);
  // Takes the guard back from the context and adds up what it filed.
  void finish();
  void too_deep() const;
  std::optional<parse_guard> m_own;
  parse_ctx* m_ctx = nullptr;
  parse_guard* m_guard = nullptr;
  bool m_ok = false;
};

// Charges work, filed bytes (the bytes of the input copied or converted
// into a filed value), or an expanded range to the guard; true when there
// is none or it holds.
inline bool guard_charge(parse_guard* guard, int64_t units) {
  return guard ? guard->charge(units) : true;
}
inline bool guard_charge(const parse_ctx& ctx, int64_t units) {
  return guard_charge(ctx.guard, units);
}
bool guard_charge_filed(parse_guard* guard, int64_t bytes);
bool guard_claim_range(parse_guard* guard, const uint8_t* data, int64_t size);
// True when the context's parse has tripped its guard.
inline bool guard_spent(const parse_ctx& ctx) {
  return ctx.guard && ctx.guard->tripped();
}

// ---------------------------------------------------------------------------
// String readers over view[start, end): end is clipped to the view, and an
// empty or negative range reads nothing (never an "unbounded" budget). They
// return the bytes taken (the terminator counted when it lies inside). The
// forms with a guard charge the work to it (null: none) and give nothing
// once it is spent.
// ---------------------------------------------------------------------------
int64_t read_utf16(byte_view view, int64_t start, int64_t end, std::string& out);
int64_t read_utf16(parse_guard* guard, byte_view view, int64_t start, int64_t end,
                   std::string& out);
// 8-bit text up to its NUL, read as Windows-1252 and given as UTF-8 (the
// count is of the bytes read). Every 8-bit text of the input comes through
// here, so that every report is UTF-8.
int64_t read_ansi(byte_view view, int64_t start, int64_t end, std::string& out);
int64_t read_ansi(parse_guard* guard, byte_view view, int64_t start, int64_t end, std::string& out);
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
