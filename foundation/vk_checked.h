// Overflow-checked integer arithmetic for values that come from hostile
// input: a wrapped product or sum would be a plausible-looking wrong size,
// offset or time.
#pragma once

#include <limits>
#include <type_traits>

namespace vk {

// a * b into out; false, out untouched, when the product leaves the range of T.
template <typename T>
constexpr bool checked_mul(T a, T b, T& out) {
  static_assert(std::is_integral_v<T>);
  constexpr T max = std::numeric_limits<T>::max();
  constexpr T min = std::numeric_limits<T>::min();
  if (a != 0 && b != 0) {
    bool overflow = false;
    if constexpr (std::is_unsigned_v<T>) {
      overflow = a > max / b;
    } else if (a > 0) {
      overflow = b > 0 ? a > max / b : b < min / a;
    } else {
      overflow = b > 0 ? a < min / b : a < max / b;
    }
    if (overflow) return false;
  }
  out = a * b;
  return true;
}

// a + b into out; false, out untouched, when the sum leaves the range of T.
template <typename T>
constexpr bool checked_add(T a, T b, T& out) {
  static_assert(std::is_integral_v<T>);
  constexpr T max = std::numeric_limits<T>::max();
  constexpr T min = std::numeric_limits<T>::min();
  if constexpr (std::is_unsigned_v<T>) {
    if (a > max - b) return false;
  } else if ((b > 0 && a > max - b) || (b < 0 && a < min - b)) {
    return false;
  }
  out = a + b;
  return true;
}

}  // namespace vk
