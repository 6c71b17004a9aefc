// Allocation functions of the shell test binary that can count what a piece
// of code asks for: bytes and blocks while counting is on.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace vesk_test {
namespace {
bool g_counting = false;
size_t g_bytes = 0;
size_t g_blocks = 0;
}  // namespace

void count_allocations(bool on) {
  if (on) g_bytes = g_blocks = 0;
  g_counting = on;
}
size_t counted_bytes() { return g_bytes; }
size_t counted_blocks() { return g_blocks; }
}  // namespace vesk_test

void* operator new(std::size_t n) {
  if (vesk_test::g_counting) {
    vesk_test::g_bytes += n;
    ++vesk_test::g_blocks;
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
