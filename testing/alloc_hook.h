// Test-only replacement of the global allocation functions: counts the
// allocations and the live and peak heap bytes of the program, and can make
// the n-th allocation from now fail, so that tests assert memory bounds by
// count and drive allocation failures on purpose.
//
// The replacement itself is in alloc_hook_define.h, included by exactly one
// source file of a test program (a file of its own, so that the compiler
// never sees a new and its delete inlined together).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace vesk_test::heap {

struct counters {
  int64_t allocations = 0;
  int64_t live_bytes = 0;
  int64_t peak_bytes = 0;
  int64_t fail_countdown = -1;  // the allocation that makes it 0 fails; -1 never
};

inline counters& state() {
  static counters c;
  return c;
}

// Makes the n-th allocation from now (0: the next one) fail once.
inline void fail_nth(int64_t n) {
  state().fail_countdown = n + 1;
}
inline void no_failure() {
  state().fail_countdown = -1;
}

// Peak live bytes above the level at the start of a scope, and the
// allocations made within it.
class scope {
 public:
  scope() : m_base(state().live_bytes), m_allocations(state().allocations) {
    state().peak_bytes = m_base;
  }
  int64_t peak_above_start() const { return state().peak_bytes - m_base; }
  int64_t allocations() const { return state().allocations - m_allocations; }

 private:
  int64_t m_base;
  int64_t m_allocations;
};

// Each block carries its size in a header, so that frees are counted too.
inline constexpr size_t k_header = alignof(std::max_align_t);

inline void* allocate(size_t n) noexcept {
  counters& c = state();
  if (c.fail_countdown > 0 && --c.fail_countdown == 0) {
    c.fail_countdown = -1;
    return nullptr;
  }
  auto* raw = static_cast<unsigned char*>(std::malloc(n + k_header));
  if (!raw) return nullptr;
  *reinterpret_cast<size_t*>(raw) = n;
  ++c.allocations;
  c.live_bytes += static_cast<int64_t>(n);
  if (c.live_bytes > c.peak_bytes) c.peak_bytes = c.live_bytes;
  return raw + k_header;
}

inline void release(void* p) noexcept {
  if (!p) return;
  auto* raw = static_cast<unsigned char*>(p) - k_header;
  state().live_bytes -= static_cast<int64_t>(*reinterpret_cast<size_t*>(raw));
  std::free(raw);
}

}  // namespace vesk_test::heap
