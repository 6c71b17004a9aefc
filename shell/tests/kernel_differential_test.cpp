// The shell's word-at-a-time and vector kernels against plain loops, over
// every length to 100 at every alignment and each deciding value at each
// position (testing/kernel_inputs.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "kernel_inputs.h"
#include "shell/parse_ctx.h"
#include "shell/shell_kernels.h"

using namespace vk;
using vk::testing::byte_range;
using vk::testing::every_byte;
using vk::testing::for_each_kernel_input;

namespace {

const char* as_chars(const uint8_t* p) {
  return reinterpret_cast<const char*>(p);
}

// The 8-bit text end: the first NUL or the view's end, the bytes before it
// as Windows-1252 one at a time, the NUL counted when there is one.
TEST(ShellKernelDifferential, EightBitTextEndMatchesAPlainLoop) {
  std::string got, want;
  for_each_kernel_input(1, byte_range(0x20, 0x7E), every_byte(), [&](const uint8_t* p, size_t n) {
    for (size_t from : {size_t{0}, size_t{1}, n / 2}) {
      if (from > n) continue;
      size_t end = from;
      while (end < n && p[end] != 0) ++end;
      want.clear();
      for (size_t i = from; i < end; ++i) append_cp1252_as_utf8(want, p + i, 1);
      const int64_t taken =
          read_ansi(byte_view(p, n), static_cast<int64_t>(from), static_cast<int64_t>(n), got);
      ASSERT_EQ(static_cast<int64_t>(end - from + (end < n)), taken) << n << " from " << from;
      ASSERT_EQ(want, got) << n << " from " << from;
    }
  });
}

// Lower-casing: only 'A' to 'Z' change, whatever the bytes around them.
TEST(ShellKernelDifferential, LoweringMatchesAPlainLoop) {
  std::string got;
  for_each_kernel_input(1, byte_range('a', 'z'), every_byte(), [&](const uint8_t* p, size_t n) {
    const std::string text(as_chars(p), n);
    std::string want = text;
    for (char& c : want)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    assign_lowered_for_test(got, text);
    ASSERT_EQ(want, got) << n;
  });
}

// Equal bytes, the short copy without a backslash and a name found in a
// text: a differing or a backslash byte at each position of each length.
TEST(ShellKernelDifferential, ShortCompareAndCopyMatchPlainLoops) {
  const auto background = byte_range('0', '9');
  const std::vector<uint16_t> deciding = {0, '\\', 0x5D, 0xDC, 0x80, 0xFF, '1'};
  for_each_kernel_input(1, background, deciding, [&](const uint8_t* p, size_t n) {
    // b is p with every byte of the background's last value where p holds
    // a deciding one, so that each position decides in turn.
    std::vector<uint8_t> b(p, p + n);
    for (uint8_t& c : b)
      if (c < '0' || c > '9') c = '9';
    const bool equal = std::equal(b.begin(), b.end(), p);
    ASSERT_EQ(equal, same_bytes_for_test(as_chars(p), as_chars(b.data()), n)) << n;
    ASSERT_TRUE(same_bytes_for_test(as_chars(p), as_chars(p), n));

    const bool copies = n <= 16 && std::memchr(p, '\\', n) == nullptr;
    std::vector<char> to(n + 1, '#');
    ASSERT_EQ(copies, copy_short_without_backslash_for_test(as_chars(p), n, to.data())) << n;
    ASSERT_TRUE(copies ? std::equal(p, p + n, to.begin(),
                                    [](uint8_t x, char y) { return x == static_cast<uint8_t>(y); })
                       : n == 0 || to[0] == '#')
        << n << ": copied exactly when accepted";
    ASSERT_EQ('#', to[n]) << "written past the text";

    // A name in a text: each piece of the text is found there, and the
    // piece with its first, middle or last byte made one the text lacks is
    // not.
    if (n > 34) return;
    const std::string_view text(as_chars(p), n);
    for (size_t len : {size_t{2}, size_t{3}, n / 2, n - 1}) {
      for (size_t at = 0; len >= 2 && len < n && at + len <= n; ++at) {
        std::string piece(text.substr(at, len));
        ASSERT_TRUE(holds_for_test(text, piece)) << n << " piece " << at << "+" << len;
        for (size_t end : {size_t{0}, len / 2, len - 1}) {
          std::string other = piece;
          other[end] = '#';
          ASSERT_FALSE(holds_for_test(text, other)) << n << " piece " << at << "+" << len;
        }
      }
    }
  });
}

// The text hash reads the same bytes at any alignment alike and depends on
// every byte of the text.
TEST(ShellKernelDifferential, TextHashDependsOnEveryByteAtAnyAlignment) {
  for (size_t n = 0; n <= vk::testing::k_kernel_max_units; ++n) {
    std::vector<char> base(n + 16);
    for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<char>('a' + i % 26);
    const size_t h = text_hash_for_test(base.data(), n);
    for (size_t align = 1; align < 16; ++align) {
      std::vector<char> moved(align + n);
      std::memcpy(moved.data() + align, base.data(), n);
      ASSERT_EQ(h, text_hash_for_test(moved.data() + align, n)) << n << " at " << align;
    }
    for (size_t at = 0; at < n; ++at) {
      std::vector<char> changed(base.begin(), base.begin() + static_cast<ptrdiff_t>(n));
      changed[at] = static_cast<char>(changed[at] ^ 0x01);
      ASSERT_NE(h, text_hash_for_test(changed.data(), n)) << n << " byte " << at;
    }
  }
}

}  // namespace
