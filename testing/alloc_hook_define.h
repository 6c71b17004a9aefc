// The global allocation functions of a test program, counted by
// alloc_hook.h. Include from exactly one source file of the program.
#pragma once

#include "alloc_hook.h"

void* operator new(std::size_t n) {
  if (void* p = vesk_test::heap::allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = vesk_test::heap::allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return vesk_test::heap::allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return vesk_test::heap::allocate(n);
}
void operator delete(void* p) noexcept {
  vesk_test::heap::release(p);
}
void operator delete[](void* p) noexcept {
  vesk_test::heap::release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  vesk_test::heap::release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  vesk_test::heap::release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  vesk_test::heap::release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  vesk_test::heap::release(p);
}
