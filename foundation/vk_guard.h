// The library's one never-throw mechanism.
//
// No library routine lets an exception reach its caller: a standard-library
// exception (an allocation that fails, mostly) becomes the routine's failure
// result. Each public routine that allocates runs its body through guarded()
// at its boundary; the routines inside bound every allocation by the input
// (checked_mul, size <= available) and do not catch.
//
//   bool parse_thing(std::vector<uint8_t>& out, byte_view in) {
//     return vk::guarded([&] { return parse_thing_body(out, in); },
//                        [&] { out.clear(); });
//   }
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace vk {

// Runs f and returns its result; when f throws, runs on_failure (which must
// not throw) and returns the failure result: false for bool, a
// value-initialised R otherwise, or what on_failure returns when it returns
// something.
template <class F, class OnFailure>
auto guarded(F&& f, OnFailure&& on_failure) noexcept -> std::invoke_result_t<F&> {
  using R = std::invoke_result_t<F&>;
  try {
    return f();
  } catch (...) {
    if constexpr (std::is_void_v<R>) {
      on_failure();
    } else if constexpr (std::is_convertible_v<std::invoke_result_t<OnFailure&>, R> &&
                         !std::is_void_v<std::invoke_result_t<OnFailure&>>) {
      return on_failure();
    } else {
      on_failure();
      return R{};
    }
  }
}

template <class F>
auto guarded(F&& f) noexcept -> std::invoke_result_t<F&> {
  return guarded(std::forward<F>(f), [] {});
}

// Copies a formatted text into out; on failure out is left empty.
inline bool assign_text(std::string& out, const char* text) noexcept {
  return guarded(
      [&] {
        out = text;
        return true;
      },
      [&] { out.clear(); });
}

}  // namespace vk
